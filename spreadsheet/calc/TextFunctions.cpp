// Text functions. Lengths and positions count UTF-16 code units, as the
// application does (an emoji is two characters long).
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

#include "rtl/SysUtils.h"
#include "spreadsheet/calc/Functions.h"
#include "spreadsheet/calc/NumberFormat.h"

namespace spreadsheet::calc {

namespace {

using rtl::UnicodeString;

// The longest text a cell holds; longer results are #VALUE!.
constexpr size_t kMaxTextLength = 32767;

[[noreturn]] void Raise(TErrorValue e) { throw TCalcError{e}; }

bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// A text result. A cut through a surrogate pair leaves half a character,
// which no workbook can store: it becomes U+FFFD, keeping the length.
TValue Result(UnicodeString text) {
  if (text.size() > kMaxTextLength) Raise(TErrorValue::Value);
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]))
      ++i;
    else if (IsHighSurrogate(text[i]) || IsLowSurrogate(text[i]))
      text[i] = 0xFFFD;
  }
  return TValue::FromText(rtl::UnicodeToUtf8(text));
}

TValue Result8(std::string text) {
  if (text.size() > kMaxTextLength && rtl::Utf8ToUnicode(text).size() > kMaxTextLength) Raise(TErrorValue::Value);
  return TValue::FromText(std::move(text));
}

UnicodeString Wide(TCallContext& call, size_t i) { return rtl::Utf8ToUnicode(call.Text(i)); }

// An argument given (even empty, which counts as 0) or its default.
double Optional(TCallContext& call, size_t i, double whenOmitted) {
  return i < call.Count() ? call.Number(i) : whenOmitted;
}

// A count or position: truncated; negative ones raise #VALUE!.
size_t Count(double n) {
  n = std::trunc(n);
  if (n < 0) Raise(TErrorValue::Value);
  return n > 1e9 ? static_cast<size_t>(1e9) : static_cast<size_t>(n);
}

// A 1-based position: below 1 raises #VALUE!.
size_t Position(double n) {
  size_t p = Count(n);
  if (p < 1) Raise(TErrorValue::Value);
  return p;
}

// --- Characters ------------------------------------------------------------------------

// Windows-1252, the character set CHAR and CODE use for 128..159.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

TValue Char(TCallContext& call) {
  double n = std::trunc(call.Number(0));
  if (n < 1 || n > 255) Raise(TErrorValue::Value);
  int code = static_cast<int>(n);
  return Result(UnicodeString(1, code >= 128 && code < 160 ? kCp1252High[code - 128] : static_cast<char16_t>(code)));
}

TValue Code(TCallContext& call) {
  UnicodeString text = Wide(call, 0);
  if (text.empty()) Raise(TErrorValue::Value);
  char16_t c = text[0];
  if (c < 128 || (c >= 160 && c < 256)) return TValue::FromNumber(c);
  for (int i = 0; i < 32; ++i)
    if (kCp1252High[i] == c) return TValue::FromNumber(128 + i);
  return TValue::FromNumber('?');  // not in the character set
}

TValue Unichar(TCallContext& call) {
  double n = std::trunc(call.Number(0));
  if (n < 1 || n > 0x10FFFF) Raise(TErrorValue::Value);
  if (n >= 0xD800 && n <= 0xDFFF) Raise(TErrorValue::NA);
  UnicodeString text;
  rtl::AppendCodePoint(text, static_cast<char32_t>(n));
  return Result(text);
}

TValue Unicode(TCallContext& call) {
  UnicodeString text = Wide(call, 0);
  if (text.empty()) Raise(TErrorValue::Value);
  size_t at = 0;
  return TValue::FromNumber(rtl::NextCodePoint(text, at));
}

TValue Clean(TCallContext& call) {
  UnicodeString text = Wide(call, 0);
  std::erase_if(text, [](char16_t c) { return c < 32; });
  return Result(text);
}

TValue Trim(TCallContext& call) {
  std::string text = call.Text(0), out;
  for (char c : text) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return TValue::FromText(out);
}

TValue Lower(TCallContext& call) { return Result(rtl::AnsiLowerCase(Wide(call, 0))); }
TValue Upper(TCallContext& call) { return Result(rtl::AnsiUpperCase(Wide(call, 0))); }

// Letters: those with a case partner, the Latin ones without (ß), and the
// scripts that have no case, punctuation and symbol blocks excepted.
bool IsLetter(char32_t c) {
  if (rtl::UnicodeToLower(c) != c || rtl::UnicodeToUpper(c) != c) return true;
  if (c == 0xDF || c == 0x138 || c == 0x149 || c == 0xAA || c == 0xBA) return true;
  return c >= 0x590 && !(c >= 0x2000 && c <= 0x2BFF) && !(c >= 0x3000 && c <= 0x303F) &&
         !(c >= 0xD800 && c <= 0xF8FF) && !(c >= 0xFE00 && c <= 0xFE6F) && !(c >= 0xFF00 && c <= 0xFF20) && c < 0x1F000;
}

// Upper case for a letter after anything but a letter, lower case for the
// rest: "don't" becomes "Don'T", as the application has it.
TValue Proper(TCallContext& call) {
  UnicodeString text = Wide(call, 0), out;
  bool afterLetter = false;
  for (size_t i = 0; i < text.size();) {
    char32_t c = rtl::NextCodePoint(text, i);
    bool letter = IsLetter(c);
    rtl::AppendCodePoint(out, letter ? (afterLetter ? rtl::UnicodeToLower(c) : rtl::UnicodeToUpper(c)) : c);
    afterLetter = letter;
  }
  return Result(out);
}

// --- Lengths and pieces -------------------------------------------------------------------

TValue Len(TCallContext& call) { return TValue::FromNumber(static_cast<double>(Wide(call, 0).size())); }

TValue Left(TCallContext& call) {
  UnicodeString text = Wide(call, 0);
  return Result(text.substr(0, Count(Optional(call, 1, 1))));
}

TValue Right(TCallContext& call) {
  UnicodeString text = Wide(call, 0);
  size_t n = std::min(Count(Optional(call, 1, 1)), text.size());
  return Result(text.substr(text.size() - n));
}

TValue Mid(TCallContext& call) {
  UnicodeString text = Wide(call, 0);
  size_t start = Position(call.Number(1)), n = Count(call.Number(2));
  if (start > text.size()) return TValue::FromText("");
  return Result(text.substr(start - 1, n));
}

TValue Replace(TCallContext& call) {
  UnicodeString text = Wide(call, 0);
  size_t start = Position(call.Number(1)), n = Count(call.Number(2));
  UnicodeString with = Wide(call, 3);
  start = std::min(start - 1, text.size());
  return Result(text.replace(start, std::min(n, text.size() - start), with));
}

TValue Rept(TCallContext& call) {
  UnicodeString text = Wide(call, 0);
  size_t n = Count(call.Number(1));
  if (text.empty()) return TValue::FromText("");
  if (n > kMaxTextLength / text.size()) Raise(TErrorValue::Value);
  UnicodeString out;
  out.reserve(text.size() * n);
  for (size_t i = 0; i < n; ++i) out += text;
  return Result(out);
}

TValue Substitute(TCallContext& call) {
  UnicodeString text = Wide(call, 0), old = Wide(call, 1), with = Wide(call, 2);
  size_t instance = call.Count() > 3 ? Position(call.Number(3)) : 0;
  if (old.empty()) return Result(text);
  UnicodeString out;
  size_t at = 0, found = 0;
  for (size_t p; (p = text.find(old, at)) != UnicodeString::npos; at = p + old.size()) {
    ++found;
    out.append(text, at, p - at);
    out += instance == 0 || found == instance ? with : old;
    if (out.size() > kMaxTextLength) Raise(TErrorValue::Value);
  }
  out.append(text, at);
  return Result(out);
}

TValue Exact(TCallContext& call) { return TValue::FromBoolean(call.Text(0) == call.Text(1)); }

// --- Searching ------------------------------------------------------------------------

TValue Find(TCallContext& call) {
  UnicodeString what = Wide(call, 0), text = Wide(call, 1);
  size_t start = Position(Optional(call, 2, 1));
  if (start > text.size() + 1) Raise(TErrorValue::Value);
  size_t p = text.find(what, start - 1);
  if (p == UnicodeString::npos) Raise(TErrorValue::Value);
  return TValue::FromNumber(static_cast<double>(p + 1));
}

// One element of a SEARCH pattern: a character or ?.
struct TPatternChar {
  char32_t Char;
  bool AnyOne;
};
using TSegment = std::vector<TPatternChar>;

bool SegmentAt(const TSegment& segment, const std::u32string& text, size_t at) {
  if (at + segment.size() > text.size()) return false;
  for (size_t k = 0; k < segment.size(); ++k)
    if (!segment[k].AnyOne && rtl::UnicodeToLower(segment[k].Char) != rtl::UnicodeToLower(text[at + k])) return false;
  return true;
}

// Letter case ignored; ? and * are wildcards, ~ takes the next one literally.
// The pattern is split at each *: the first piece must match where the
// result starts, and the others only somewhere after it in order, so the
// latest start the later pieces allow is found once, from the end, and no
// backtracking is needed.
TValue Search(TCallContext& call) {
  UnicodeString what = Wide(call, 0), wide = Wide(call, 1);
  size_t start = Position(Optional(call, 2, 1));
  if (start > wide.size() + 1) Raise(TErrorValue::Value);
  // Code points for matching, with the UTF-16 position of each.
  std::u32string text;
  std::vector<size_t> offsets;
  for (size_t i = 0; i < wide.size();) {
    offsets.push_back(i);
    text += rtl::NextCodePoint(wide, i);
  }
  offsets.push_back(wide.size());
  std::vector<TSegment> segments(1);
  for (size_t i = 0; i < what.size();) {
    char32_t c = rtl::NextCodePoint(what, i);
    if (c == '~' && i < what.size() && (what[i] == '*' || what[i] == '?' || what[i] == '~'))
      segments.back().push_back({rtl::NextCodePoint(what, i), false});
    else if (c == '*')
      segments.emplace_back();
    else
      segments.back().push_back({c, c == '?'});
  }
  size_t latest = text.size();  // the latest end of the first piece that leaves room for the others
  for (size_t k = segments.size() - 1; k >= 1; --k) {
    const TSegment& segment = segments[k];
    if (segment.size() > latest) Raise(TErrorValue::Value);
    size_t at = latest - segment.size();
    while (!SegmentAt(segment, text, at)) {
      if (at == 0) Raise(TErrorValue::Value);
      --at;
    }
    latest = at;
  }
  size_t first = std::lower_bound(offsets.begin(), offsets.end(), start - 1) - offsets.begin();
  for (size_t i = first; i + segments[0].size() <= latest; ++i)
    if (SegmentAt(segments[0], text, i)) return TValue::FromNumber(static_cast<double>(offsets[i] + 1));
  Raise(TErrorValue::Value);
}

// --- Joining --------------------------------------------------------------------------

TValue Concatenate(TCallContext& call) {
  std::string out;
  for (size_t i = 0; i < call.Count(); ++i) out += call.Text(i);
  return Result8(std::move(out));
}

// Every value of the arguments from `first` to `last`, ranges and arrays
// included.
std::vector<std::string> Texts(TCallContext& call, size_t first, size_t last) {
  std::vector<std::string> texts;
  for (size_t i = first; i <= last && i < call.Count(); ++i)
    call.ForEach(i, [&](const TValue& v, bool) {
      if (v.IsError()) Raise(v.Err);
      texts.push_back(ToText(v));
    });
  return texts;
}

TValue Concat(TCallContext& call) {
  std::string out;
  for (const std::string& text : Texts(call, 0, call.Count())) out += text;
  return Result8(std::move(out));
}

// The delimiter may be a range or array: its values are used in turn. Blank
// cells of ranges are empty texts, joined unless empty ones are ignored.
TValue TextJoin(TCallContext& call) {
  std::vector<std::string> delimiters = Texts(call, 0, 0);
  bool ignoreEmpty = call.Boolean(1);
  bool anyDelimiter = false;
  for (const std::string& d : delimiters) anyDelimiter |= !d.empty();
  std::string out;
  size_t joined = 0;
  auto add = [&](const std::string& text) {
    if (ignoreEmpty && text.empty()) return;
    if (joined > 0 && !delimiters.empty()) out += delimiters[(joined - 1) % delimiters.size()];
    out += text;
    ++joined;
    if (out.size() > 4 * kMaxTextLength) Raise(TErrorValue::Value);
  };
  auto addBlanks = [&](uint64_t n) {
    if (ignoreEmpty || n == 0) return;
    if (!anyDelimiter) {
      joined += n;
      return;
    }
    if (n > delimiters.size() * (kMaxTextLength + 1)) Raise(TErrorValue::Value);
    for (uint64_t k = 0; k < n; ++k) add({});
  };
  auto addValue = [&](const TValue& v) {
    if (v.IsError()) Raise(v.Err);
    add(ToText(v));
  };
  for (size_t i = 2; i < call.Count(); ++i) {
    TValue v = call.Arg(i);
    if (v.Kind == TValue::vkArray) {
      for (const TValue& cell : v.Values->Cells) addValue(cell);
    } else if (v.Kind == TValue::vkReference) {
      for (size_t a = 0; a < v.AreaCount(); ++a) {
        const TArea& area = v.AreaAt(a);
        uint64_t next = 0, cells = static_cast<uint64_t>(area.Rows()) * area.Columns();
        call.Evaluator().Book().ForEachCell(area, [&](uint32_t row, uint32_t column, const TValue& cell) {
          uint64_t at = static_cast<uint64_t>(row - area.Row1) * area.Columns() + (column - area.Column1);
          addBlanks(at - next);
          addValue(cell);
          next = at + 1;
        });
        addBlanks(cells - next);
      }
    } else {
      addValue(v);
    }
  }
  return Result8(std::move(out));
}

// --- Text as numbers --------------------------------------------------------------------

// Time of day as typed: "13:30", "1:30:15 PM", "1:30 am"; false if not.
bool TextToTime(std::string_view text, double& days) {
  int h = 0, m = 0, consumed = 0;
  double s = 0;
  std::string t(text);
  while (!t.empty() && t.front() == ' ') t.erase(t.begin());
  while (!t.empty() && t.back() == ' ') t.pop_back();
  std::string suffix;
  if (t.size() > 2) {
    std::string tail = t.substr(t.size() - 2);
    for (char& c : tail) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (tail == "AM" || tail == "PM") {
      suffix = tail;
      t.resize(t.size() - 2);
      while (!t.empty() && t.back() == ' ') t.pop_back();
    }
  }
  if (std::sscanf(t.c_str(), "%d:%d%n", &h, &m, &consumed) != 2) return false;
  if (static_cast<size_t>(consumed) < t.size()) {
    int more = 0;
    if (t[static_cast<size_t>(consumed)] != ':' || std::sscanf(t.c_str() + consumed + 1, "%lf%n", &s, &more) != 1 ||
        static_cast<size_t>(consumed + 1 + more) != t.size() || s < 0 || s >= 60)
      return false;
  }
  if (h < 0 || m < 0 || m > 59) return false;
  if (!suffix.empty()) {
    if (h < 1 || h > 12) return false;
    h = h % 12 + (suffix == "PM" ? 12 : 0);
  }
  days = (h * 3600.0 + m * 60.0 + s) / 86400;
  return true;
}

// A date as the en-US locale types it: "1/31/2026", "1/31/26" (two-digit
// years 00-29 are 20xx); false if not one or not a real day.
bool TextToUsDate(const std::string& text, double& n) {
  int m = 0, d = 0, y = 0, yearStart = 0, yearEnd = 0, consumed = 0;
  if (std::sscanf(text.c_str(), " %2d/%2d/%n%4d%n %n", &m, &d, &yearStart, &y, &yearEnd, &consumed) != 3 ||
      static_cast<size_t>(consumed) != text.size())
    return false;
  if (yearEnd - yearStart <= 2) y += y < 30 ? 2000 : 1900;
  static constexpr int kMonthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (y < 1900 || y > 9999 || m < 1 || m > 12 || d < 1 || d > kMonthDays[m - 1] || (m == 2 && d == 29 && !leap))
    return false;
  char iso[48];
  std::snprintf(iso, sizeof iso, "%04d-%02d-%02d", y, m, d);
  return TextToNumber(iso, n);
}

// Text read as a number the way typed input is: plain numbers, dates,
// times, thousands separators, a currency sign, parentheses for negatives.
bool TypedNumber(const std::string& text, double& n) {
  if (TextToNumber(text, n) || TextToTime(text, n) || TextToUsDate(text, n)) return true;
  // A date and a time: "2026-01-31 13:30".
  size_t space = text.find(' ', text.find_first_not_of(' '));
  double date, time;
  if (space != std::string::npos &&
      (TextToNumber(text.substr(0, space), date) || TextToUsDate(text.substr(0, space), date)) &&
      date == std::floor(date) && TextToTime(text.substr(space + 1), time)) {
    n = date + time;
    return true;
  }
  // The currency sign only leads the number ("($1,234)", "-$5"): "30.56$0"
  // is no number.
  std::string plain;
  bool digitsSeen = false;
  for (char c : text) {
    if (c == '$' && digitsSeen) return false;
    digitsSeen |= c != ' ' && c != '(' && c != '-' && c != '+' && c != '$';
    if (c != '$' && c != ',') plain += c;
  }
  bool negative = false;
  size_t a = plain.find_first_not_of(' '), b = plain.find_last_not_of(' ');
  if (a != std::string::npos && b > a + 1 && plain[a] == '(' && plain[b] == ')') {
    negative = true;
    plain = plain.substr(a + 1, b - a - 1);
  }
  if (plain == text || !TextToNumber(plain, n) || (negative && n < 0)) return false;
  if (negative) n = -n;
  return true;
}

TValue Value(TCallContext& call) {
  TValue v = call.Scalar(0);
  if (v.IsNumber() || v.IsBlank()) return TValue::FromNumber(v.Number);
  double n;
  if (!v.IsText() || !TypedNumber(v.String, n)) Raise(TErrorValue::Value);
  return TValue::FromNumber(n);
}

// NUMBERVALUE(text, decimal separator, group separator): spaces anywhere
// are ignored, group separators only before the decimal separator, and each
// trailing % divides by 100.
TValue NumberValue(TCallContext& call) {
  UnicodeString text = Wide(call, 0);
  UnicodeString decimal = call.Count() > 1 ? Wide(call, 1) : u".";
  UnicodeString group = call.Count() > 2 ? Wide(call, 2) : u",";
  if (decimal.empty() || group.empty()) Raise(TErrorValue::Value);
  char16_t point = decimal[0], separator = group[0];
  std::string plain;
  int percents = 0;
  bool seenPoint = false;
  for (char16_t c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    if (percents > 0 && c != '%') Raise(TErrorValue::Value);
    if (c == '%') {
      ++percents;
    } else if (c == point && !seenPoint) {
      seenPoint = true;
      plain += '.';
    } else if (c == separator && !seenPoint) {
      continue;
    } else if (c < 128 && c != '.' && c != ',') {
      plain += static_cast<char>(c);
    } else {
      Raise(TErrorValue::Value);
    }
  }
  if (plain.empty()) return TValue::FromNumber(0);
  // Only digits, a sign and an exponent: no currency or accounting forms,
  // which typed input (and so TextToNumber) would take.
  if (plain.find_first_of("$()") != std::string::npos) Raise(TErrorValue::Value);
  double n;
  if (!TextToNumber(plain, n) || plain.find('%') != std::string::npos) Raise(TErrorValue::Value);
  return TValue::FromNumber(n / std::pow(100.0, percents));
}

// --- Numbers as text --------------------------------------------------------------------

TValue Text(TCallContext& call) {
  TValue value = call.Scalar(0);
  std::string code = call.Text(1), out;
  double number = 0;
  TFormatResult result;
  if (value.IsBoolean()) return TValue::FromText(ToText(value));
  if (value.IsText() && !TypedNumber(value.String, number))
    result = FormatText(value.String, code, out);
  else
    result = FormatNumber(value.IsText() ? number : ToNumber(value), code, call.Evaluator().Book().Date1904(), out);
  if (result == TFormatResult::Invalid) Raise(TErrorValue::Value);
  if (result == TFormatResult::Unsupported) throw TNotComputable{"the number format " + code};
  return Result8(std::move(out));
}

// A number rounded to `decimals` places (negative: to tens, hundreds...),
// with thousands separators unless `grouping` is false.
std::string Fixed(double value, int decimals, bool grouping) {
  std::string integer, fraction;
  DecimalDigits(value, decimals, integer, fraction);
  if (integer.empty()) integer.push_back('0');
  std::string out;
  bool zero = integer == "0" && fraction.find_first_not_of('0') == std::string::npos;
  if (value < 0 && !zero) out += '-';
  for (size_t i = 0; i < integer.size(); ++i) {
    if (grouping && i > 0 && (integer.size() - i) % 3 == 0) out += ',';
    out += integer[i];
  }
  if (!fraction.empty()) {
    out += '.';
    out += fraction;
  }
  return out;
}

int Decimals(TCallContext& call, size_t i, double whenOmitted) {
  double d = std::trunc(Optional(call, i, whenOmitted));
  if (d > 127) Raise(TErrorValue::Value);
  return static_cast<int>(std::max(d, -400.0));
}

TValue FixedFunction(TCallContext& call) {
  double value = call.Number(0);
  int decimals = Decimals(call, 1, 2);
  bool grouping = !(call.Count() > 2 && call.Boolean(2));
  return TValue::FromText(Fixed(value, decimals, grouping));
}

// The currency format of the en-US locale: $1,234.57 and ($1,234.57).
TValue Dollar(TCallContext& call) {
  double value = call.Number(0);
  int decimals = Decimals(call, 1, 2);
  std::string text = Fixed(std::fabs(value), decimals, true);
  bool negative = value < 0 && text.find_first_of("123456789") != std::string::npos;
  return TValue::FromText(negative ? "($" + text + ")" : "$" + text);
}

constexpr TFunctionInfo kText[] = {
    {"CHAR", 1, 1, &Char},
    {"CLEAN", 1, 1, &Clean},
    {"CODE", 1, 1, &Code},
    {"CONCAT", 1, 255, &Concat},
    {"CONCATENATE", 1, 255, &Concatenate},
    {"DOLLAR", 1, 2, &Dollar},
    {"EXACT", 2, 2, &Exact},
    {"FIND", 2, 3, &Find},
    {"FIXED", 1, 3, &FixedFunction},
    {"LEFT", 1, 2, &Left},
    {"LEN", 1, 1, &Len},
    {"LOWER", 1, 1, &Lower},
    {"MID", 3, 3, &Mid},
    {"NUMBERVALUE", 1, 3, &NumberValue},
    {"PROPER", 1, 1, &Proper},
    {"REPLACE", 4, 4, &Replace},
    {"REPT", 2, 2, &Rept},
    {"RIGHT", 1, 2, &Right},
    {"SEARCH", 2, 3, &Search},
    {"SUBSTITUTE", 3, 4, &Substitute},
    {"TEXT", 2, 2, &Text},
    {"TEXTJOIN", 3, 255, &TextJoin},
    {"TRIM", 1, 1, &Trim},
    {"UNICHAR", 1, 1, &Unichar},
    {"UNICODE", 1, 1, &Unicode},
    {"UPPER", 1, 1, &Upper},
    {"VALUE", 1, 1, &Value},
};

}  // namespace

std::span<const TFunctionInfo> TextFunctions() { return kText; }

}  // namespace spreadsheet::calc
