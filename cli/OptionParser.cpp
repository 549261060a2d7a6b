#include "cli/OptionParser.h"

#include <string>

namespace cli {

using rtl::AsciiLowerCase;

// --- Process arguments -----------------------------------------------------------

namespace {

TStringList& StoredArguments() {
  static TStringList arguments;
  return arguments;
}

}  // namespace

void SetProcessArguments(int argc, char** argv) {
  TStringList& args = StoredArguments();
  args.Clear();
  for (int i = 1; i < argc; ++i) args.Add(rtl::Utf8ToUnicode(argv[i]));
}

TStringList ProcessArguments() { return StoredArguments(); }

// --- TOption ------------------------------------------------------------------------

TOption::TOption(char16_t AShort, UnicodeString ALong, bool AShortCaseSensitive, bool ALongCaseSensitive)
    : FShort(AShort), FLong(std::move(ALong)), FShortSens(AShortCaseSensitive), FLongSens(ALongCaseSensitive) {}

UnicodeString TOption::ShortPattern() const { return FParser->ShortOptionStart() + FShort; }

UnicodeString TOption::LongPattern() const { return FParser->LongOptionStart() + FLong; }

bool TOption::MatchesShort(const UnicodeString& arg, bool prefix) const {
  if (FShort == 0) return false;
  const UnicodeString& start = FParser->ShortOptionStart();
  size_t length = start.size() + 1;
  if (prefix ? arg.size() < length : arg.size() != length) return false;
  if (arg.compare(0, start.size(), start) != 0) return false;
  char16_t c = arg[start.size()];
  // Only the form character is lowered; the start character is compared as is.
  if (FShortSens) return c == FShort;
  return AsciiLowerCase(UnicodeString(1, c)) == AsciiLowerCase(UnicodeString(1, FShort));
}

bool TOption::MatchesLong(const UnicodeString& arg, bool prefix) const {
  if (FLong.empty()) return false;
  UnicodeString pattern = LongPattern();
  if (prefix ? arg.size() < pattern.size() : arg.size() != pattern.size()) return false;
  UnicodeString head = arg.substr(0, pattern.size());
  if (FLongSens) return head == pattern;
  return AsciiLowerCase(head) == AsciiLowerCase(pattern);
}

int TOption::GetOptionWidth() const {
  int width = FShort != 0 ? 4 : 0;
  if (!FLong.empty())
    width += static_cast<int>(FParser->LongOptionStart().size() + FLong.size());
  else
    width -= 2;
  return width;
}

void TOption::WriteExplanation(int AOptWidth, std::ostream& out) const {
  UnicodeString head = u"  ";
  if (FShort != 0) {
    head += ShortPattern();
    if (!FLong.empty()) head += u", ";
  }
  if (!FLong.empty()) head += LongPattern();
  head += u' ';
  out << rtl::UnicodeToUtf8(head);
  int written = static_cast<int>(head.size());

  UnicodeString wrapped = WrapText(FExplanation, 77 - AOptWidth);
  bool first = true;
  size_t start = 0;
  while (start <= wrapped.size()) {
    size_t end = wrapped.find(u"\r\n", start);
    if (end == UnicodeString::npos) end = wrapped.size();
    UnicodeString line = rtl::TrimRight(std::u16string_view(wrapped).substr(start, end - start));
    start = end + 2;
    if (line.empty()) continue;
    int blanks = first ? AOptWidth + 4 - written : AOptWidth + 4;
    first = false;
    if (blanks > 0) out << std::string(static_cast<size_t>(blanks), ' ');
    out << rtl::UnicodeToUtf8(line);
    // A line whose last character falls in column 80 gets no line end: the
    // console wraps there by itself.
    if (static_cast<int>(line.size()) + AOptWidth + 1 != 77) out << "\r\n";
  }
}

// --- TBoolOption -------------------------------------------------------------------

bool TBoolOption::TryConsume(TStringList& args) {
  if (args.Count() == 0) return false;
  const UnicodeString& arg = args[0];
  if (MatchesShort(arg, false) || MatchesLong(arg, false)) {
    args.Delete(0);
    FWasSpecified = true;
    return true;
  }
  return false;
}

// --- TValueOption ------------------------------------------------------------------

bool TValueOption::TryConsume(TStringList& args) {
  if (args.Count() == 0) return false;
  const UnicodeString arg = args[0];
  bool result = false;

  if (MatchesShort(arg, true)) {
    UnicodeString value = arg.substr(ShortPattern().size());
    if (!value.empty()) {
      result = AcceptValue(value);
      if (result) args.Delete(0);
    } else if (args.Count() > 1) {
      if (AcceptValue(args[1])) {
        result = true;
        args.Delete(0);
        args.Delete(0);
      } else {
        result = AcceptValue(UnicodeString());
        if (result) args.Delete(0);
      }
    } else {
      result = AcceptValue(UnicodeString());
      if (result) args.Delete(0);
    }
  }

  if (!result && MatchesLong(arg, true)) {
    size_t length = LongPattern().size();
    if (arg.size() == length) {
      UnicodeString value = args.Count() > 1 ? args[1] : UnicodeString();
      result = AcceptValue(value);
      if (result) {
        args.Delete(0);
        if (args.Count() > 0) args.Delete(0);
      }
    } else if (arg[length] == u'=') {
      result = AcceptValue(arg.substr(length + 1));
      if (result) args.Delete(0);
    }
  }

  if (result) FWasSpecified = true;
  return result;
}

// --- Value options -----------------------------------------------------------------

void TStringOption::WriteValue(const TOptionValue& value) {
  if (const auto* text = std::get_if<UnicodeString>(&value))
    FValue = *text;
  else
    FValue = std::get<bool>(value) ? u"True" : u"False";
}

void TStringOptionList::WriteValue(const TOptionValue& value) {
  if (const auto* text = std::get_if<UnicodeString>(&value)) FValues.SetText(*text);
}

// --- TOptionParser ------------------------------------------------------------------

TOptionParser::TOptionParser() : TOptionParser(nullptr) {}

TOptionParser::TOptionParser(const TStringList* AParams) {
  if (AParams)
    FParams.Assign(*AParams);
  else
    FParams = ProcessArguments();
}

TOptionParser::~TOptionParser() {
  // The last registered option is freed first.
  while (!FOptions.empty()) FOptions.pop_back();
}

TOption* TOptionParser::AddOption(std::unique_ptr<TOption> AOption) {
  AOption->FParser = this;
  FOptions.push_back(std::move(AOption));
  return FOptions.back().get();
}

TOption* TOptionParser::Options(int index) const {
  if (index < 0 || index >= OptionsCount()) throw rtl::EListError::IndexError(index);
  return FOptions[static_cast<size_t>(index)].get();
}

void TOptionParser::ParseOptions() {
  TStringList work;
  work.Assign(FParams);
  FLeftList.Clear();
  while (work.Count() > 0) {
    bool claimed = false;
    for (auto& option : FOptions)
      if (option->TryConsume(work)) {
        claimed = true;
        break;
      }
    if (!claimed) {
      FLeftList.Add(work[0]);
      work.Delete(0);
    }
  }
}

void TOptionParser::WriteExplanations(std::ostream& out) const {
  int width = 0;
  for (const auto& option : FOptions) width = std::max(width, option->GetOptionWidth());
  for (const auto& option : FOptions) option->WriteExplanation(width, out);
}

// --- Wrapping ------------------------------------------------------------------------

UnicodeString WrapText(std::u16string_view text, int maxCol) {
  auto isBreak = [](char16_t c) { return c == u' ' || c == u'-' || c == u'\t'; };
  auto isQuote = [](char16_t c) { return c == u'"' || c == u'\''; };
  const size_t length = text.size();
  UnicodeString result;
  // Positions are 0-based; `breakPos` is the last break character of the
  // current line, or npos when none was seen.
  size_t pos = 0, lineStart = 0;
  size_t breakPos = std::u16string_view::npos;
  int col = 0;
  char16_t quote = 0;
  bool existingBreak = false;
  while (pos < length) {
    char16_t c = text[pos];
    if (c == u'\r') {
      if (quote == 0) {
        existingBreak = text.substr(pos, 2) == u"\r\n";
        if (existingBreak) {
          ++pos;
          breakPos = pos;
        }
      }
    } else if (isBreak(c)) {
      if (quote == 0) breakPos = pos;
    } else if (isQuote(c)) {
      if (c == quote)
        quote = 0;
      else if (quote == 0)
        quote = c;
    }
    ++pos;
    ++col;
    bool brokeInLine = breakPos != std::u16string_view::npos && breakPos > lineStart;
    if (quote == 0 && (existingBreak || (col >= maxCol && brokeInLine))) {
      result.append(text.substr(lineStart, breakPos - lineStart + 1));
      col = static_cast<int>(pos - breakPos - 1);
      size_t scan = pos;
      if (!isQuote(c))
        while (scan < length) {
          if (isBreak(text[scan]))
            ++scan;
          else if (text.substr(scan, 2) == u"\r\n")
            scan += 2;
          else
            break;
        }
      if (!existingBreak && scan < length) result += u"\r\n";
      lineStart = breakPos + 1;
      existingBreak = false;
    }
  }
  if (lineStart < length) result.append(text.substr(lineStart));
  return result;
}

}  // namespace cli
