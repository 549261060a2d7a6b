#include "spreadsheet/calc/NumberFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "spreadsheet/calc/CivilDates.h"
#include "spreadsheet/calc/Value.h"

namespace spreadsheet::calc {

namespace {

// One element of a format section.
enum class TTokenKind {
  Literal,   // Text: shown as it is
  Digit,     // Char: '0' (digit or 0), '#' (digit or nothing), '?' (digit or space)
  Point,     // the decimal point (the first one; in dates, before fractions of a second)
  Comma,     // thousands separator between digits, scaling by 1000 after them
  Percent,   // times 100, shown as %
  Exponent,  // Text: "E+", "E-", "e+" or "e-"
  Slash,     // a fraction bar between digits
  At,        // the text value
  General,   // the number as General shows it
  Year,      // Count: letters in the run (y, yy, yyyy)
  Month,     // Count: m, mm, mmm, mmmm, mmmmm; may turn out to be minutes
  Day,       // Count: d, dd, ddd, dddd
  Hour,      // Count
  Minute,    // Count (resolved from Month)
  Second,    // Count
  AmPm,      // Text: "AM/PM" or "A/P" as written
  Elapsed,   // Char: 'h', 'm' or 's'; Count: width ([h], [mm], [ss])
};

struct TToken {
  TToken(TTokenKind kind, std::string text = {}, char c = 0, int count = 0)
      : Kind(kind), Text(std::move(text)), Char(c), Count(count) {}
  TTokenKind Kind;
  std::string Text;
  char Char;
  int Count;
};

enum class TCondition { None, Less, LessEqual, Greater, GreaterEqual, Equal, NotEqual };

struct TSection {
  std::vector<TToken> Tokens;
  TCondition Condition = TCondition::None;
  double Operand = 0;
  bool Unsupported = false;
  bool IsDate() const {
    for (const TToken& t : Tokens)
      if (t.Kind >= TTokenKind::Year) return true;
    return false;
  }
  bool HasAt() const {
    for (const TToken& t : Tokens)
      if (t.Kind == TTokenKind::At) return true;
    return false;
  }
  bool Matches(double v) const {
    switch (Condition) {
      case TCondition::None: return true;
      case TCondition::Less: return v < Operand;
      case TCondition::LessEqual: return v <= Operand;
      case TCondition::Greater: return v > Operand;
      case TCondition::GreaterEqual: return v >= Operand;
      case TCondition::Equal: return v == Operand;
      case TCondition::NotEqual: return v != Operand;
    }
    return true;
  }
};

size_t CharLength(unsigned char c) { return c < 0x80 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

bool StartsWithNoCase(std::string_view text, size_t at, std::string_view prefix) {
  if (text.size() - at < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (Lower(text[at + i]) != Lower(prefix[i])) return false;
  return true;
}

const char* const kColors[] = {"black", "blue", "cyan", "green", "magenta", "red", "white", "yellow"};

// The bracketed part of a section: a colour, a condition, elapsed time or a
// currency and locale. False when the code is malformed.
bool ReadBracket(std::string_view inner, TSection& section) {
  std::string lower;
  for (char c : inner) lower += Lower(c);
  for (const char* color : kColors)
    if (lower == color) return true;
  if (lower.rfind("color", 0) == 0 && lower.size() > 5 && lower.find_first_not_of("0123456789", 5) == std::string::npos)
    return true;
  if (!lower.empty() && (lower[0] == '<' || lower[0] == '>' || lower[0] == '=')) {
    size_t i = 1;
    if (lower[0] == '<' && i < lower.size() && lower[i] == '=') {
      section.Condition = TCondition::LessEqual, ++i;
    } else if (lower[0] == '<' && i < lower.size() && lower[i] == '>') {
      section.Condition = TCondition::NotEqual, ++i;
    } else if (lower[0] == '>' && i < lower.size() && lower[i] == '=') {
      section.Condition = TCondition::GreaterEqual, ++i;
    } else {
      section.Condition = lower[0] == '<'   ? TCondition::Less
                          : lower[0] == '>' ? TCondition::Greater
                                            : TCondition::Equal;
    }
    std::string number = lower.substr(i);
    char* end = nullptr;
    section.Operand = std::strtod(number.c_str(), &end);
    return !number.empty() && *end == 0;
  }
  if (!lower.empty() && (lower[0] == 'h' || lower[0] == 'm' || lower[0] == 's') &&
      lower.find_first_not_of(lower[0]) == std::string::npos) {
    section.Tokens.push_back({TTokenKind::Elapsed, {}, lower[0], static_cast<int>(lower.size())});
    return true;
  }
  if (!lower.empty() && lower[0] == '$') {
    // [$€-407]: the symbol is shown, the locale is ours.
    size_t dash = inner.find('-');
    std::string symbol(inner.substr(1, dash == std::string_view::npos ? std::string_view::npos : dash - 1));
    if (!symbol.empty()) section.Tokens.push_back({TTokenKind::Literal, symbol});
    return true;
  }
  section.Unsupported = true;  // [DBNum1], calendars and the like
  return true;
}

// The token of a character that stands for itself alone.
TTokenKind SingleToken(char c) {
  switch (c) {
    case '.': return TTokenKind::Point;
    case ',': return TTokenKind::Comma;
    case '%': return TTokenKind::Percent;
    case '/': return TTokenKind::Slash;
    case '@': return TTokenKind::At;
    default: return TTokenKind::Digit;  // 0 # ?
  }
}

// Splits the code into sections and their tokens; false when malformed.
bool ParseCode(std::string_view code, std::vector<TSection>& sections) {
  sections.emplace_back();
  for (size_t i = 0; i < code.size();) {
    TSection& s = sections.back();
    char c = code[i];
    auto literal = [&](std::string text) {
      if (!s.Tokens.empty() && s.Tokens.back().Kind == TTokenKind::Literal)
        s.Tokens.back().Text += text;
      else
        s.Tokens.push_back({TTokenKind::Literal, std::move(text)});
    };
    auto run = [&](TTokenKind kind) {
      size_t j = i;
      while (j < code.size() && Lower(code[j]) == Lower(c)) ++j;
      s.Tokens.push_back({kind, {}, 0, static_cast<int>(j - i)});
      i = j;
    };
    switch (c) {
      case ';':
        if (sections.size() == 4) return false;
        sections.emplace_back();
        ++i;
        continue;
      case '"': {
        size_t close = code.find('"', i + 1);
        if (close == std::string_view::npos) return false;
        literal(std::string(code.substr(i + 1, close - i - 1)));
        i = close + 1;
        continue;
      }
      case '\\': {
        if (i + 1 >= code.size()) return false;
        size_t n = std::min(CharLength(static_cast<unsigned char>(code[i + 1])), code.size() - i - 1);
        literal(std::string(code.substr(i + 1, n)));
        i += 1 + n;
        continue;
      }
      case '_':
      case '*': {
        // Padding to a character's width shows as a space; fill repeats
        // only in a cell, so text formatting shows nothing for it.
        if (i + 1 >= code.size()) return false;
        if (c == '_') literal(" ");
        i += 1 + std::min(CharLength(static_cast<unsigned char>(code[i + 1])), code.size() - i - 1);
        continue;
      }
      case '[': {
        size_t close = code.find(']', i);
        if (close == std::string_view::npos) return false;
        if (!ReadBracket(code.substr(i + 1, close - i - 1), s)) return false;
        i = close + 1;
        continue;
      }
      case '0':
      case '#':
      case '?':
      case '.':
      case ',':
      case '%':
      case '/':
      case '@':
        s.Tokens.push_back({SingleToken(c), {}, c});
        ++i;
        continue;
      case 'E':
      case 'e':
        if (i + 1 < code.size() && (code[i + 1] == '+' || code[i + 1] == '-')) {
          s.Tokens.push_back({TTokenKind::Exponent, std::string(code.substr(i, 2))});
          i += 2;
        } else {
          literal(std::string(1, c));
          ++i;
        }
        continue;
      case 'y':
      case 'Y': run(TTokenKind::Year); continue;
      case 'd':
      case 'D': run(TTokenKind::Day); continue;
      case 'm':
      case 'M': run(TTokenKind::Month); continue;
      case 'h':
      case 'H': run(TTokenKind::Hour); continue;
      case 's':
      case 'S': run(TTokenKind::Second); continue;
      default: break;
    }
    if (StartsWithNoCase(code, i, "AM/PM")) {
      s.Tokens.push_back({TTokenKind::AmPm, std::string(code.substr(i, 5))});
      i += 5;
    } else if (StartsWithNoCase(code, i, "A/P")) {
      s.Tokens.push_back({TTokenKind::AmPm, std::string(code.substr(i, 3))});
      i += 3;
    } else if (StartsWithNoCase(code, i, "General")) {
      s.Tokens.push_back({TTokenKind::General});
      i += 7;
    } else {
      size_t n = std::min(CharLength(static_cast<unsigned char>(c)), code.size() - i);
      literal(std::string(code.substr(i, n)));
      i += n;
    }
  }
  return true;
}

// --- Digits ---------------------------------------------------------------------------

// |value| as 15 significant digits and the position of the decimal point
// relative to them: value = 0.DIGITS x 10^point.
void SignificantDigits(double value, std::string& digits, int& point) {
  value = std::fabs(value);
  if (value == 0) {
    digits = "0";
    point = 1;
    return;
  }
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.14e", value);
  std::string text = buffer;
  size_t e = text.find('e');
  digits = text.substr(0, 1) + text.substr(2, e - 2);
  point = std::atoi(text.c_str() + e + 1) + 1;
}

// Rounds 0.DIGITS x 10^point half away from zero to `decimals` places.
void RoundDigits(const std::string& digits, int point, int decimals, std::string& integer, std::string& fraction) {
  // Every digit from 10^(point-1) down to 10^-decimals.
  int keep = point + decimals;
  std::string kept;
  if (keep > 0) {
    kept = digits.substr(0, std::min<size_t>(keep, digits.size()));
    kept.append(static_cast<size_t>(keep) - kept.size(), '0');
  }
  bool up = keep >= 0 && static_cast<size_t>(keep) < digits.size() && digits[static_cast<size_t>(keep)] >= '5';
  if (up) {
    int i = static_cast<int>(kept.size()) - 1;
    while (i >= 0 && kept[static_cast<size_t>(i)] == '9') kept[static_cast<size_t>(i--)] = '0';
    if (i >= 0)
      ++kept[static_cast<size_t>(i)];
    else
      kept.insert(kept.begin(), '1'), ++point;
  }
  int integerDigits = point;  // digits left of the point, when positive
  if (keep < 0) {
    integer.clear();
    fraction.assign(static_cast<size_t>(std::max(decimals, 0)), '0');
    return;
  }
  if (integerDigits >= 0) {
    integer = kept.substr(0, std::min<size_t>(static_cast<size_t>(integerDigits), kept.size()));
    fraction = kept.size() > static_cast<size_t>(integerDigits) ? kept.substr(static_cast<size_t>(integerDigits)) : "";
  } else {
    integer.clear();
    fraction = std::string(static_cast<size_t>(-integerDigits), '0') + kept;
  }
  if (decimals < 0) integer.append(static_cast<size_t>(-decimals), '0');
  fraction.resize(static_cast<size_t>(std::max(decimals, 0)), '0');
  size_t lead = integer.find_first_not_of('0');
  integer = lead == std::string::npos ? "" : integer.substr(lead);
}

// --- Numbers --------------------------------------------------------------------------

std::string GroupDigits(const std::string& digits) {
  std::string out;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  return out;
}

// The integer part of a number: digits placed right to left into the
// placeholders, the leftmost taking whatever digits remain.
std::string IntegerPart(const std::vector<TToken>& tokens, const std::string& digits, bool grouping, bool point) {
  int leftmost = -1;
  for (size_t i = 0; i < tokens.size(); ++i)
    if (tokens[i].Kind == TTokenKind::Digit) {
      leftmost = static_cast<int>(i);
      break;
    }
  std::vector<std::string> pieces;  // right to left
  size_t position = 0;              // of the next digit, from the units
  auto digit = [&](char placeholder, bool rest) {
    std::string piece;
    do {
      bool real = position < digits.size();
      char shown = real                 ? digits[digits.size() - 1 - position]
                   : placeholder == '0' ? '0'
                   : placeholder == '?' ? ' '
                                        : 0;
      if (!shown) break;
      if (grouping && position > 0 && position % 3 == 0 && shown != ' ') piece.insert(piece.begin(), ',');
      piece.insert(piece.begin(), shown);
      ++position;
    } while (rest && position < digits.size());
    pieces.push_back(piece);
  };
  for (int i = static_cast<int>(tokens.size()) - 1; i >= 0; --i) {
    const TToken& t = tokens[static_cast<size_t>(i)];
    if (t.Kind == TTokenKind::Digit)
      digit(t.Char, i == leftmost);
    else if (t.Kind == TTokenKind::Literal)
      pieces.push_back(t.Text);
    else if (t.Kind == TTokenKind::Percent)
      pieces.push_back("%");
  }
  std::string out;
  for (auto it = pieces.rbegin(); it != pieces.rend(); ++it) out += *it;
  // ".00" still shows the whole part; a code without digits shows none.
  if (leftmost < 0 && point) out = (grouping ? GroupDigits(digits) : digits) + out;
  return out;
}

std::string FractionPart(const std::vector<TToken>& tokens, const std::string& digits) {
  size_t significant = digits.find_last_not_of('0');
  significant = significant == std::string::npos ? 0 : significant + 1;
  std::string out;
  size_t k = 0;
  for (const TToken& t : tokens) {
    if (t.Kind == TTokenKind::Digit) {
      if (k < significant || t.Char == '0')
        out += digits[k];
      else if (t.Char == '?')
        out += ' ';
      ++k;
    } else if (t.Kind == TTokenKind::Literal) {
      out += t.Text;
    } else if (t.Kind == TTokenKind::Percent) {
      out += '%';
    }
  }
  return out;
}

// Digits right-aligned in placeholders: '0' pads with 0, '?' with a space.
std::string Aligned(const std::vector<char>& placeholders, const std::string& digits, bool left) {
  std::string out = digits;
  for (size_t k = digits.size(); k < placeholders.size(); ++k) {
    char p = left ? placeholders[k] : placeholders[placeholders.size() - 1 - k];
    std::string pad = p == '0' ? "0" : p == '?' ? " " : "";
    out = left ? out + pad : pad + out;
  }
  return out;
}

// Fractions: "# ?/?" (a whole part and a fraction), "?/?" (improper),
// "# ??/16" (a fixed denominator). The fraction is the nearest one whose
// denominator fits its placeholders.
TFormatResult FormatFraction(double value, const std::vector<TToken>& tokens, size_t slash, std::string& out) {
  size_t numeratorStart = slash;
  while (numeratorStart > 0 && tokens[numeratorStart - 1].Kind == TTokenKind::Digit) --numeratorStart;
  if (numeratorStart == slash) return TFormatResult::Unsupported;
  std::vector<char> numeratorPlaces, denominatorPlaces;
  for (size_t i = numeratorStart; i < slash; ++i) numeratorPlaces.push_back(tokens[i].Char);
  size_t after = slash + 1;
  while (after < tokens.size() && tokens[after].Kind == TTokenKind::Digit)
    denominatorPlaces.push_back(tokens[after++].Char);
  // A fixed denominator is written as digits: "/8", "/16", "/100" (whose
  // zeros read as placeholders).
  int64_t fixed = 0;
  std::string tail;
  if (denominatorPlaces.empty()) {
    std::string digits;
    while (after < tokens.size()) {
      const TToken& t = tokens[after];
      if (t.Kind == TTokenKind::Digit && t.Char == '0' && !digits.empty()) {
        digits += '0';
      } else if (t.Kind == TTokenKind::Literal && t.Text[0] >= '0' && t.Text[0] <= '9') {
        size_t n = t.Text.find_first_not_of("0123456789");
        digits += t.Text.substr(0, n);
        if (n != std::string::npos) {
          tail = t.Text.substr(n);
          ++after;
          break;
        }
      } else {
        break;
      }
      ++after;
    }
    if (digits.empty() || digits.size() > 9 || digits[0] == '0') return TFormatResult::Unsupported;
    fixed = std::stoll(digits);
  }
  std::vector<TToken> wholeTokens(tokens.begin(), tokens.begin() + static_cast<std::ptrdiff_t>(numeratorStart));
  bool whole = false, grouping = false;
  for (const TToken& t : wholeTokens) whole |= t.Kind == TTokenKind::Digit;
  for (const TToken& t : wholeTokens) {
    if (t.Kind == TTokenKind::Comma) grouping = true;
    if (t.Kind != TTokenKind::Digit && t.Kind != TTokenKind::Literal && t.Kind != TTokenKind::Comma)
      return TFormatResult::Unsupported;
  }
  std::erase_if(wholeTokens, [](const TToken& t) { return t.Kind == TTokenKind::Comma; });
  // Literals between the whole part and the numerator (the space) belong
  // to the fraction: they go when the fraction is not shown.
  size_t lastWholeDigit = 0;
  for (size_t i = 0; i < wholeTokens.size(); ++i)
    if (wholeTokens[i].Kind == TTokenKind::Digit) lastWholeDigit = i;
  std::vector<TToken> gap;
  if (whole) {
    gap.assign(wholeTokens.begin() + static_cast<std::ptrdiff_t>(lastWholeDigit) + 1, wholeTokens.end());
    wholeTokens.erase(wholeTokens.begin() + static_cast<std::ptrdiff_t>(lastWholeDigit) + 1, wholeTokens.end());
  }
  value = std::fabs(value);
  if (value >= 1e15) return TFormatResult::Unsupported;
  double integer = whole ? std::floor(value) : 0;
  double fraction = value - integer;
  int64_t numerator = 0, denominator = 1;
  if (fixed) {
    denominator = fixed;
    numerator = std::llround(fraction * static_cast<double>(fixed));
  } else {
    int64_t limit = 1;
    for (size_t k = 0; k < std::min<size_t>(denominatorPlaces.size(), 5); ++k) limit *= 10;
    double best = 2;
    for (int64_t d = 1; d < limit; ++d) {
      int64_t n = std::llround(fraction * static_cast<double>(d));
      double error = std::fabs(fraction - static_cast<double>(n) / static_cast<double>(d));
      if (error < best - 1e-15) best = error, numerator = n, denominator = d;
    }
  }
  if (whole && numerator == denominator) integer += 1, numerator = 0;
  std::string wholeDigits = integer == 0 ? std::string() : std::to_string(static_cast<int64_t>(integer));
  out.clear();
  if (whole) {
    // A whole number shows without its fraction; zero shows as 0.
    if (numerator == 0 && wholeDigits.empty()) wholeDigits = "0";
    out = IntegerPart(wholeTokens, wholeDigits, grouping, false);
    if (numerator == 0) {
      // Spaces stand for the fraction's placeholders and bar.
      size_t width = 0;
      for (const TToken& t : gap) width += t.Text.size();
      width += numeratorPlaces.size() + 1 + denominatorPlaces.size();
      out.append(width, ' ');
      out += tail;
      for (size_t i = after; i < tokens.size(); ++i)
        if (tokens[i].Kind == TTokenKind::Literal) out += tokens[i].Text;
      return TFormatResult::Done;
    }
    if (wholeDigits.empty() && !out.empty() && out.find_first_not_of(' ') == std::string::npos) out.clear();
    for (const TToken& t : gap) out += t.Text;
  }
  out += Aligned(numeratorPlaces, std::to_string(numerator), false);
  out += '/';
  out += fixed ? std::to_string(fixed) + tail : Aligned(denominatorPlaces, std::to_string(denominator), true);
  for (size_t i = after; i < tokens.size(); ++i)
    if (tokens[i].Kind == TTokenKind::Literal) out += tokens[i].Text;
  return TFormatResult::Done;
}

TFormatResult FormatDigits(double value, const TSection& section, std::string& out) {
  const std::vector<TToken>& tokens = section.Tokens;
  size_t exponent = tokens.size(), point = tokens.size();
  bool anyDigit = false;
  for (size_t i = 0; i < tokens.size(); ++i) {
    if (tokens[i].Kind == TTokenKind::Exponent && exponent == tokens.size()) exponent = i;
    if (tokens[i].Kind == TTokenKind::Digit && exponent == tokens.size()) anyDigit = true;
    if (tokens[i].Kind == TTokenKind::Slash && anyDigit) return FormatFraction(value, tokens, i, out);
  }
  for (size_t i = 0; i < exponent; ++i)
    if (tokens[i].Kind == TTokenKind::Point) {
      point = i;
      break;
    }
  // Commas: between digit placeholders they group thousands; after the
  // last placeholder of a part each divides by 1000.
  std::vector<TToken> integerTokens, fractionTokens, exponentTokens;
  bool grouping = false;
  int scale = 0, percent = 0;
  auto nextIsDigit = [&](size_t i, size_t end) {
    while (i < end && tokens[i].Kind == TTokenKind::Comma) ++i;
    return i < end && tokens[i].Kind == TTokenKind::Digit;
  };
  bool seenDigit = false;
  for (size_t i = 0; i < exponent; ++i) {
    const TToken& t = tokens[i];
    std::vector<TToken>& part = i < point ? integerTokens : fractionTokens;
    if (i == point) continue;
    if (t.Kind == TTokenKind::Comma) {
      size_t end = i < point ? point : exponent;
      if (seenDigit && nextIsDigit(i + 1, end)) {
        if (i < point) grouping = true;
      } else if (seenDigit) {
        ++scale;
      } else {
        part.push_back({TTokenKind::Literal, ","});
      }
      continue;
    }
    if (t.Kind == TTokenKind::Digit) seenDigit = true;
    if (t.Kind == TTokenKind::Percent) ++percent;
    if (t.Kind == TTokenKind::Slash) {
      part.push_back({TTokenKind::Literal, "/"});
      continue;
    }
    if (t.Kind == TTokenKind::General || t.Kind == TTokenKind::At) {
      part.push_back({TTokenKind::Literal, NumberToText(std::fabs(value))});
      continue;
    }
    part.push_back(t);
  }
  for (size_t i = exponent; i < tokens.size(); ++i) exponentTokens.push_back(tokens[i]);
  value = std::fabs(value) * std::pow(100.0, percent) / std::pow(1000.0, scale);
  if (!std::isfinite(value)) return TFormatResult::Invalid;
  int decimals = 0, placeholders = 0;
  for (const TToken& t : fractionTokens) decimals += t.Kind == TTokenKind::Digit;
  for (const TToken& t : integerTokens) placeholders += t.Kind == TTokenKind::Digit;

  std::string digits, integer, fraction;
  int pointAt;
  SignificantDigits(value, digits, pointAt);
  int power = 0;
  if (exponent < tokens.size()) {
    int width = std::max(placeholders, 1);
    if (value != 0) {
      int magnitude = pointAt - 1;  // value = d.ddd x 10^magnitude
      // The exponent is a multiple of the number of integer placeholders:
      // "##0.0E+0" is engineering notation, "000E+0" shows 1 as 001E+0.
      auto choose = [&](int m) { return static_cast<int>(std::floor(static_cast<double>(m) / width)) * width; };
      power = choose(magnitude);
      RoundDigits(digits, pointAt - power, decimals, integer, fraction);
      if (static_cast<int>(integer.size()) > width) {
        power = choose(magnitude + 1);
        RoundDigits(digits, pointAt - power, decimals, integer, fraction);
      }
    } else {
      RoundDigits(digits, pointAt, decimals, integer, fraction);
      integer = "0";  // a mantissa shows a digit even under #
    }
  } else {
    RoundDigits(digits, pointAt, decimals, integer, fraction);
  }
  out = IntegerPart(integerTokens, integer, grouping, point < tokens.size());
  if (point < tokens.size()) out += '.';
  out += FractionPart(fractionTokens, fraction);
  if (exponent < tokens.size()) {
    const std::string& e = tokens[exponent].Text;
    out += e[0];
    if (power < 0)
      out += '-';
    else if (e[1] == '+')
      out += '+';
    int width = 0;
    for (const TToken& t : exponentTokens) width += t.Kind == TTokenKind::Digit && t.Char == '0';
    std::string number = std::to_string(std::abs(power));
    if (static_cast<int>(number.size()) < width) number.insert(0, static_cast<size_t>(width) - number.size(), '0');
    bool placed = false;
    for (size_t i = 1; i < exponentTokens.size(); ++i) {
      const TToken& t = exponentTokens[i];
      if (t.Kind == TTokenKind::Digit) {
        if (!placed) out += number;
        placed = true;
      } else if (t.Kind == TTokenKind::Literal) {
        out += t.Text;
      }
    }
    if (!placed) out += number;
  }
  return TFormatResult::Done;
}

// --- Dates and times ------------------------------------------------------------------

const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};


// Day count from 1970-01-01 of 1899-12-31, the 1900 system's day 0.
constexpr int64_t kDay0Of1900 = -25568;
// The last serial the application shows as a date (9999-12-31).
constexpr double kLastSerial = 2958465;

std::string Padded(int64_t n, int width) {
  std::string text = std::to_string(n);
  if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), '0');
  return text;
}

TFormatResult FormatDate(double value, const TSection& section, bool date1904, std::string& out) {
  std::vector<TToken> tokens = section.Tokens;
  if (value < 0 || value + (date1904 ? 1462 : 0) >= kLastSerial + 1) return TFormatResult::Invalid;
  // A run of m is minutes after hours or before seconds.
  auto neighbour = [&](size_t i, int step) -> const TToken* {
    for (int j = static_cast<int>(i) + step; j >= 0 && j < static_cast<int>(tokens.size()); j += step) {
      TTokenKind k = tokens[static_cast<size_t>(j)].Kind;
      if (k >= TTokenKind::Year && k != TTokenKind::AmPm) return &tokens[static_cast<size_t>(j)];
    }
    return nullptr;
  };
  bool twelveHour = false;
  int fractionDigits = 0;
  for (size_t i = 0; i < tokens.size(); ++i) {
    TToken& t = tokens[i];
    if (t.Kind == TTokenKind::AmPm) twelveHour = true;
    if (t.Kind == TTokenKind::Month && t.Count <= 2) {
      const TToken* before = neighbour(i, -1);
      const TToken* after = neighbour(i, 1);
      if ((before &&
           (before->Kind == TTokenKind::Hour || (before->Kind == TTokenKind::Elapsed && before->Char == 'h'))) ||
          (after && (after->Kind == TTokenKind::Second || (after->Kind == TTokenKind::Elapsed && after->Char == 's'))))
        t.Kind = TTokenKind::Minute;
    }
    if (t.Kind == TTokenKind::Point && i > 0 &&
        (tokens[i - 1].Kind == TTokenKind::Second ||
         (tokens[i - 1].Kind == TTokenKind::Elapsed && tokens[i - 1].Char == 's'))) {
      int n = 0;
      while (i + 1 + n < tokens.size() && tokens[i + 1 + n].Kind == TTokenKind::Digit && tokens[i + 1 + n].Char == '0')
        ++n;
      fractionDigits = std::max(fractionDigits, std::min(n, 3));
    }
  }
  // Rounded to what is shown, so 10:29:59.6 shows as 10:30.
  int64_t unit = 1;
  for (int i = 0; i < fractionDigits; ++i) unit *= 10;
  int64_t ticks = std::llround(value * 86400.0 * static_cast<double>(unit));
  int64_t perDay = 86400 * unit;
  int64_t days = ticks / perDay, dayTicks = ticks % perDay;
  int64_t seconds = dayTicks / unit, fraction = dayTicks % unit;
  int hour = static_cast<int>(seconds / 3600), minute = static_cast<int>(seconds / 60 % 60),
      second = static_cast<int>(seconds % 60);
  int year, month, day, weekday;
  int64_t serialDay = days + (date1904 ? 1462 : 0);
  if (serialDay == 0) {
    year = 1900, month = 1, day = 0;
  } else if (serialDay == 60 && !date1904) {
    year = 1900, month = 2, day = 29;  // the day the 1900 system counts although it never was
  } else {
    int64_t civilYear = 0;
    CivilFromDays(kDay0Of1900 + serialDay - (serialDay > 60 ? 1 : 0), civilYear, month, day);
    year = static_cast<int>(civilYear);
  }
  weekday = static_cast<int>((serialDay + 6) % 7);  // serial 1 was a Sunday
  out.clear();
  for (size_t i = 0; i < tokens.size(); ++i) {
    const TToken& t = tokens[i];
    switch (t.Kind) {
      case TTokenKind::Literal: out += t.Text; break;
      case TTokenKind::Year: out += t.Count <= 2 ? Padded(year % 100, 2) : Padded(year, 4); break;
      case TTokenKind::Month:
        if (t.Count <= 2)
          out += Padded(month, t.Count);
        else if (t.Count == 3)
          out += std::string(kMonths[month - 1], 3);
        else if (t.Count == 4)
          out += kMonths[month - 1];
        else
          out += kMonths[month - 1][0];
        break;
      case TTokenKind::Day:
        if (t.Count <= 2)
          out += Padded(day, t.Count);
        else if (t.Count == 3)
          out += std::string(kDays[weekday], 3);
        else
          out += kDays[weekday];
        break;
      case TTokenKind::Hour: {
        int h = twelveHour ? (hour % 12 == 0 ? 12 : hour % 12) : hour;
        out += Padded(h, std::min(t.Count, 2));
        break;
      }
      case TTokenKind::Minute: out += Padded(minute, std::min(t.Count, 2)); break;
      case TTokenKind::Second: out += Padded(second, std::min(t.Count, 2)); break;
      case TTokenKind::Elapsed: {
        int64_t total = ticks / unit;
        int64_t n = t.Char == 'h' ? total / 3600 : t.Char == 'm' ? total / 60 : total;
        out += Padded(n, t.Count);
        break;
      }
      case TTokenKind::AmPm: {
        bool pm = hour >= 12;
        if (t.Text.size() == 5)
          out += pm ? t.Text.substr(3, 2) : t.Text.substr(0, 2);
        else
          out += pm ? t.Text.substr(2, 1) : t.Text.substr(0, 1);
        break;
      }
      case TTokenKind::Point: {
        size_t n = 0;
        while (i + 1 + n < tokens.size() && tokens[i + 1 + n].Kind == TTokenKind::Digit &&
               tokens[i + 1 + n].Char == '0')
          ++n;
        bool afterSeconds = i > 0 && (tokens[i - 1].Kind == TTokenKind::Second ||
                                      (tokens[i - 1].Kind == TTokenKind::Elapsed && tokens[i - 1].Char == 's'));
        out += '.';
        if (afterSeconds && n > 0) {
          std::string digits = Padded(fraction, fractionDigits);
          out += digits.substr(0, std::min<size_t>(n, digits.size()));
          i += n;
        }
        break;
      }
      case TTokenKind::Digit: out += t.Char; break;
      case TTokenKind::Comma: out += ','; break;
      case TTokenKind::Percent: out += '%'; break;
      case TTokenKind::Slash: out += '/'; break;
      case TTokenKind::Exponent: out += t.Text; break;
      case TTokenKind::At:
      case TTokenKind::General: out += NumberToText(value); break;
    }
  }
  return TFormatResult::Done;
}

}  // namespace

void DecimalDigits(double value, int decimals, std::string& integer, std::string& fraction) {
  std::string digits;
  int point;
  SignificantDigits(value, digits, point);
  RoundDigits(digits, point, decimals, integer, fraction);
}

TFormatResult FormatNumber(double value, std::string_view code, bool date1904, std::string& out) {
  out.clear();
  std::vector<TSection> sections;
  if (!std::isfinite(value) || !ParseCode(code, sections)) return TFormatResult::Invalid;
  // Number sections: the fourth is for text only.
  size_t count = std::min<size_t>(sections.size(), 3);
  if (count > 1 && sections.size() < 4 && sections[count - 1].HasAt() && !sections[count - 1].IsDate()) --count;
  const TSection* chosen = nullptr;
  bool sign = false;
  bool conditional = false;
  for (size_t i = 0; i < count; ++i) conditional |= sections[i].Condition != TCondition::None;
  if (conditional) {
    // [>100]...;[<0]...;other: the first whose condition holds, else the
    // first without one. The minus is left to the section written for
    // negative numbers: one whose condition admits only numbers below zero,
    // or a second section without a condition.
    for (size_t i = 0; i < count && !chosen; ++i)
      if (sections[i].Condition != TCondition::None && sections[i].Matches(value)) chosen = &sections[i];
    for (size_t i = 0; i < count && !chosen; ++i)
      if (sections[i].Condition == TCondition::None) chosen = &sections[i];
    if (!chosen) {
      out.assign(1, '#');  // nothing fits: the application fills the cell with #
      return TFormatResult::Done;
    }
    bool negativeSection = chosen->Condition == TCondition::None ? chosen == &sections[1]
                                                                 : (chosen->Condition == TCondition::Less ||
                                                                    chosen->Condition == TCondition::LessEqual) &&
                                                                       chosen->Operand <= 0;
    sign = value < 0 && !negativeSection;
  } else if (count == 1 || value > 0 || (value == 0 && count == 2)) {
    chosen = &sections[0];
    sign = value < 0;
  } else if (value < 0) {
    chosen = &sections[1];
  } else {
    chosen = &sections[2];
  }
  if (chosen->Unsupported) return TFormatResult::Unsupported;
  if (chosen->IsDate()) return FormatDate(value, *chosen, date1904, out);
  if (chosen->Tokens.empty()) return TFormatResult::Done;  // an empty section shows nothing
  std::string text;
  TFormatResult result = FormatDigits(value, *chosen, text);
  if (result != TFormatResult::Done) return result;
  out = sign ? "-" + text : text;
  return TFormatResult::Done;
}

TFormatResult FormatText(std::string_view text, std::string_view code, std::string& out) {
  std::vector<TSection> sections;
  if (!ParseCode(code, sections)) return TFormatResult::Invalid;
  const TSection* section = nullptr;
  if (sections.size() == 4)
    section = &sections[3];
  else if (sections.back().HasAt())
    section = &sections.back();
  if (!section) {
    out = text;
    return TFormatResult::Done;
  }
  out.clear();
  for (const TToken& t : section->Tokens) {
    if (t.Kind == TTokenKind::At)
      out += text;
    else if (t.Kind == TTokenKind::Literal)
      out += t.Text;
  }
  return TFormatResult::Done;
}

}  // namespace spreadsheet::calc
