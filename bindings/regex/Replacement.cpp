// Replacing matches: the replacement template language, Replace and
// ReplaceAll, with ReplaceAll's single pass for large subjects.
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <algorithm>
#include <climits>

#include "bindings/PerlRegEx.h"
#include "bindings/regex/Utf8Steps.h"

namespace bindings {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
bool IsNameChar(char c) { return IsNameStart(c) || IsDigit(c); }

// Characters after which \I starts a new word.
bool EndsWord(char32_t c) {
  static constexpr std::u32string_view kBreaks = U"(*+,-.<?[{\u00B7";
  return c <= 38 || kBreaks.find(c) != std::u32string_view::npos;
}

// The case conversions \U, \L, \F and \I of a group's text.
std::string ConvertCase(std::string_view text, char kind) {
  if (kind == 'U') return rtl::UnicodeToUtf8(rtl::AnsiUpperCase(rtl::Utf8ToUnicode(text)));
  UnicodeString lower = rtl::AnsiLowerCase(rtl::Utf8ToUnicode(text));
  if (kind == 'L' || lower.empty()) return rtl::UnicodeToUtf8(lower);
  UnicodeString out;
  out.reserve(lower.size());
  bool wordStart = true;
  size_t pos = 0;
  while (pos < lower.size()) {
    char32_t c = rtl::NextCodePoint(lower, pos);
    if (wordStart && c != U'\'') {
      rtl::AppendCodePoint(out, rtl::UnicodeToUpper(c));
      wordStart = false;
    } else {
      rtl::AppendCodePoint(out, c);
    }
    // An apostrophe never starts a word: a word start waits past it.
    if (kind == 'I' && EndsWord(c)) wordStart = true;
  }
  return rtl::UnicodeToUtf8(out);
}

// True when a cut before `pos` would split a character.
bool CutsCharacter(std::string_view text, size_t pos) {
  return pos < text.size() && regex::IsContinuationByte(text[pos]);
}

std::string_view Slice(std::string_view text, size_t from, size_t to) {
  from = std::min(from, text.size());
  to = std::min(to, text.size());
  return text.substr(from, to > from ? to - from : 0);
}

}  // namespace

// The texts a template reads, from the object's own subject.
struct TPerlRegEx::TSubjectSource {
  const TPerlRegEx& regEx;
  std::string_view Group(int index) const { return regEx.GroupBytes(index); }
  std::string Before() const {
    return std::string(Slice(regEx.FSubject, 0, static_cast<size_t>(regEx.FOffsets[0] - 1)));
  }
  std::string After() const {
    return std::string(Slice(regEx.FSubject, static_cast<size_t>(regEx.FOffsets[1] - 1), regEx.FSubject.size()));
  }
  std::string Whole() const { return regEx.FSubject; }
};

// Expands the template into `out`. Inserted text is never scanned again.
template <class TSource>
void TPerlRegEx::ExpandTemplate(std::string_view text, const TSource& source, std::string& out) {
  const size_t n = text.size();
  auto appendGroup = [&](int number) {
    if (number <= FOffsetCount - 1) out += source.Group(number);
  };
  // A group number of one digit, or two when that group exists.
  auto readNumber = [&](size_t pos, int& number) -> size_t {
    RequireMatch();
    number = text[pos] - '0';
    if (pos + 1 < n && IsDigit(text[pos + 1])) {
      int twoDigits = number * 10 + (text[pos + 1] - '0');
      if (twoDigits <= CaptureCount()) {
        number = twoDigits;
        return 2;
      }
    }
    return 1;
  };
  auto readName = [&](size_t pos) {
    size_t end = pos;
    while (end < n && IsNameChar(text[end])) ++end;
    return end;
  };
  // The shared forms of $ and \; returns the bytes used, 0 when not one.
  auto commonForm = [&](size_t i) -> size_t {
    char next = text[i + 1];
    int number;
    switch (next) {
      case '$': out += '$'; return 2;
      case '&':
        RequireMatch();
        appendGroup(0);
        return 2;
      case '+':
        RequireMatch();
        appendGroup(FOffsetCount - 1);
        return 2;
      case '`':
        RequireMatch();
        out += source.Before();
        return 2;
      case '\'':
        RequireMatch();
        out += source.After();
        return 2;
      default:
        if (!IsDigit(next)) return 0;
        size_t used = readNumber(i + 1, number);
        appendGroup(number);
        return 1 + used;
    }
  };
  auto dollarForm = [&](size_t i) -> size_t {
    if (size_t used = commonForm(i)) return used;
    char next = text[i + 1];
    if (next == '_') {
      out += source.Whole();
      return 2;
    }
    if (next != '{' || i + 2 >= n) return 0;
    size_t pos = i + 2;
    if (IsDigit(text[pos])) {
      size_t end = pos;
      while (end < n && IsDigit(text[end])) ++end;
      if (end >= n || text[end] != '}') return 0;
      RequireMatch();
      // Any number of digits; one too large for an int is simply no group.
      int number = end - pos > 9 ? INT_MAX : std::stoi(std::string(text.substr(pos, end - pos)));
      appendGroup(number);
      return end + 1 - i;
    }
    if (!IsNameStart(text[pos])) return 0;
    size_t end = readName(pos);
    if (end >= n || text[end] != '}') return 0;
    RequireMatch();
    int number = GroupOfName(text.substr(pos, end - pos), true);
    if (number < 0) return 0;
    appendGroup(number);
    return end + 1 - i;
  };
  auto backslashForm = [&](size_t i) -> size_t {
    if (size_t used = commonForm(i)) return used;
    char next = text[i + 1];
    if (next == '\\') {
      out += '\\';
      return 2;
    }
    if (next == 'g') {
      if (i + 3 >= n || text[i + 2] != '<' || !IsNameStart(text[i + 3])) return 0;
      size_t end = readName(i + 3);
      if (end >= n || text[end] != '>') return 0;
      RequireMatch();
      // A name the pattern lacks removes the whole reference.
      int number = GroupOfName(text.substr(i + 3, end - (i + 3)), true);
      if (number >= 0) appendGroup(number);
      return end + 1 - i;
    }
    char kind = static_cast<char>(next & ~0x20);
    if (kind != 'U' && kind != 'L' && kind != 'F' && kind != 'I') return 0;
    if (i + 2 >= n || !IsDigit(text[i + 2])) return 0;
    int number;
    size_t used = readNumber(i + 2, number);
    if (number <= FOffsetCount - 1) out += ConvertCase(source.Group(number), kind);
    return 2 + used;
  };

  size_t i = 0;
  while (i < n) {
    size_t special = text.find_first_of("$\\", i);
    if (special == std::string_view::npos) special = n;
    out.append(text, i, special - i);
    i = special;
    if (i >= n) break;
    // A $ or \ that ends the template is taken literally.
    size_t used = i + 1 < n ? (text[i] == '$' ? dollarForm(i) : backslashForm(i)) : 0;
    if (used == 0) {
      out += text[i];
      ++i;
    } else {
      i += used;
    }
  }
}

UnicodeString TPerlRegEx::ComputeReplacement() {
  std::string out;
  ExpandTemplate(FReplacement, TSubjectSource{*this}, out);
  return rtl::Utf8ToUnicode(out);
}

UnicodeString TPerlRegEx::Replace() {
  RequireMatch();
  std::string replacement;
  ExpandTemplate(FReplacement, TSubjectSource{*this}, replacement);
  UnicodeString result;
  if (FOnReplace) {
    result = rtl::Utf8ToUnicode(replacement);
    {
      rtl::TObjectUse use(*this);
      FOnReplace(this, result);
    }
    replacement = rtl::UnicodeToUtf8(result);
    // The handler may have ended the match (by a new subject, say).
    RequireMatch();
  }
  size_t from = std::min(static_cast<size_t>(FOffsets[0] - 1), FSubject.size());
  size_t to = std::clamp(static_cast<size_t>(FOffsets[1] - 1), from, FSubject.size());
  // Whole characters replaced by whole characters keep valid text valid
  // (\C can match part of a character: then the whole text is checked).
  bool wholeCharacters = FSubjectValid && !CutsCharacter(FSubject, from) && !CutsCharacter(FSubject, to);
  FSubject.replace(from, to - from, replacement);
  FSubjectValid = wholeCharacters ? rtl::IsValidUtf8(replacement) : rtl::IsValidUtf8(FSubject);
  long long difference = static_cast<long long>(replacement.size()) - static_cast<long long>(to - from);
  FStart = static_cast<int>(std::clamp<long long>(FStart + difference, 1, INT_MAX));
  FStop = static_cast<int>(std::clamp<long long>(FStop + difference, 0, static_cast<long long>(FSubject.size())));
  DropStoredGroups();
  DropMatch();
  return FOnReplace ? result : rtl::Utf8ToUnicode(replacement);
}

// --- ReplaceAll in one pass -----------------------------------------------------------------
//
// Replace after Replace would move the rest of the subject once per match.
// Without event handlers nothing can observe the subject between matches,
// so the result is built in one pass instead: `out` holds the finished part
// (replacements included) and `buffer` the original subject, whose part not
// yet reached is unchanged. Before each search the last characters of the
// finished part are copied in front of the search position, so that the
// matcher sees the same text as it would in the edited subject for anything
// it can look back at (look-behind, \b, line starts).

struct TPerlRegEx::TWindowSource {
  const TPerlRegEx& regEx;
  const std::string& buffer;  // padding, then the original subject
  size_t padding;
  const std::string& out;
  size_t consumed;  // original bytes already represented in `out`
  long long delta;  // subject position minus original position past `consumed`

  size_t BufferIndex(int position) const {
    long long index = static_cast<long long>(padding) + position - 1 - delta;
    return static_cast<size_t>(std::clamp<long long>(index, 0, static_cast<long long>(buffer.size())));
  }
  std::string_view Group(int index) const {
    if (index > regEx.FOffsetCount - 1 || regEx.FOffsets[2 * index] <= 0) return {};
    size_t from = BufferIndex(regEx.FOffsets[2 * index]);
    size_t to = BufferIndex(regEx.FOffsets[2 * index + 1]);
    return Slice(buffer, from, to);
  }
  std::string Before() const {
    return out + std::string(Slice(buffer, padding + consumed, BufferIndex(regEx.FOffsets[0])));
  }
  std::string After() const { return std::string(Slice(buffer, BufferIndex(regEx.FOffsets[1]), buffer.size())); }
  std::string Whole() const { return out + std::string(Slice(buffer, padding + consumed, buffer.size())); }
};

bool TPerlRegEx::ReplaceAll() {
  if (!Match()) return false;
  if (FOnMatch || FOnReplace) {
    do {
      Replace();
    } while (MatchAgain());
  } else {
    ReplaceAllWithoutHandlers();
  }
  return true;
}

void TPerlRegEx::ReplaceAllWithoutHandlers() {
  uint32_t lookBehind = 0;
  pcre2_pattern_info(FPattern, PCRE2_INFO_MAXLOOKBEHIND, &lookBehind);
  // Characters of context kept before each search: the longest look-behind
  // with room for nested ones, plus what \b and line starts inspect.
  const size_t contextChars = std::max<size_t>(64, 4 * static_cast<size_t>(lookBehind) + 16);
  const size_t padding = 4 * contextChars;

  std::string buffer(padding, '\0');
  buffer += FSubject;
  std::string out;
  out.reserve(FSubject.size());
  size_t consumed = 0;
  std::string context;
  auto delta = [&] { return static_cast<long long>(out.size()) - static_cast<long long>(consumed); };
  // Puts the subject back together from the two parts; also after a failure
  // (the matcher's limits), so the subject shows the replacements made.
  bool valid = FSubjectValid;
  auto finish = [&] {
    out.append(buffer, padding + std::min(consumed, buffer.size() - padding));
    FSubject = std::move(out);
    FSubjectValid = valid || rtl::IsValidUtf8(FSubject);
  };

  try {
    for (;;) {
      TWindowSource source{*this, buffer, padding, out, consumed, delta()};
      std::string replacement;
      ExpandTemplate(FReplacement, source, replacement);
      size_t matchFrom = source.BufferIndex(FOffsets[0]) - padding;
      size_t matchTo = std::max(source.BufferIndex(FOffsets[1]) - padding, matchFrom);
      if (matchFrom < consumed) matchFrom = consumed;  // cannot happen; keeps the copy in range
      out.append(buffer, padding + consumed, matchFrom - consumed);
      out += replacement;
      valid = valid && rtl::IsValidUtf8(replacement) && !CutsCharacter(buffer, padding + matchFrom) &&
              !CutsCharacter(buffer, padding + matchTo);
      consumed = std::max(matchTo, consumed);
      long long difference = static_cast<long long>(replacement.size()) - static_cast<long long>(matchTo - matchFrom);
      long long total = static_cast<long long>(buffer.size() - padding) + delta();
      FStart = static_cast<int>(std::clamp<long long>(FStart + difference, 1, INT_MAX));
      FStop = static_cast<int>(std::clamp<long long>(FStop + difference, 0, total));
      DropMatch();

      // MatchAgain on the edited subject.
      if (FStop < FStart - 1) break;
      long long searchAt = FStart - 1;  // subject position
      long long searchOriginal = searchAt - delta();
      if (searchOriginal < static_cast<long long>(consumed)) break;  // cannot happen: searches move forward
      // The last characters before the search position: the finished part
      // followed by original bytes between the match and the search.
      std::string_view gap = Slice(buffer, padding + consumed, padding + static_cast<size_t>(searchOriginal));
      context.assign(out.size() > padding ? std::string_view(out).substr(out.size() - padding) : std::string_view(out));
      context += gap;
      size_t keep = 0, chars = 0;
      while (keep < context.size() && chars < contextChars) {
        ++keep;
        if (!regex::IsContinuationByte(context[context.size() - keep])) ++chars;
      }
      keep = std::min(keep, padding + static_cast<size_t>(searchOriginal));
      // The window starts on a whole character.
      while (keep > 0 && regex::IsContinuationByte(context[context.size() - keep])) --keep;
      size_t windowStart = padding + static_cast<size_t>(searchOriginal) - keep;
      std::copy(context.end() - static_cast<long>(keep), context.end(),
                buffer.begin() + static_cast<long>(windowStart));
      size_t stopOriginal = padding + static_cast<size_t>(FStop - delta());
      size_t windowEnd = std::max(stopOriginal, padding + static_cast<size_t>(searchOriginal));
      size_t offset = regex::CharBoundaryFrom(buffer.data() + windowStart, windowEnd - windowStart, keep);
      Execute(buffer.data() + windowStart, windowEnd - windowStart, offset, static_cast<size_t>(searchAt) - keep,
              valid);
      if (FOffsetCount <= 0) break;
      size_t base = static_cast<size_t>(searchAt) - keep;
      AdvancePastMatch(buffer.data() + windowStart, base, buffer.size() - windowStart);
    }
  } catch (...) {
    // Cleans up: the subject is rebuilt, then the failure goes on.
    finish();
    throw;
  }
  finish();
}

}  // namespace bindings
