#include "rtl/Formatting.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace rtl {

namespace {

// A float as decimal digits: value = 0.D1D2D3... x 10^Exponent. Digits hold
// no trailing zeros; zero has no digits.
struct TDecimal {
  bool Negative = false;
  std::string Digits;
  int Exponent = 0;
  bool Special = false;  // infinite or not a number
  std::string SpecialText;
};

// 18 significant digits: what an 80-bit extended value carries.
constexpr int MaxDigits = 18;

TDecimal ToDecimal(long double value) {
  TDecimal d;
  if (std::isnan(value)) {
    d.Special = true;
    d.SpecialText = "NAN";
    return d;
  }
  if (std::isinf(value)) {
    d.Special = true;
    d.Negative = value < 0;
    d.SpecialText = value < 0 ? "-INF" : "INF";
    return d;
  }
  if (value == 0) return d;
  char buffer[64];  // to_chars: the C form whatever the process locale
  auto [last, status] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific,
                                      MaxDigits - 1);
  const char* p = buffer;
  if (*p == '-') {
    d.Negative = true;
    ++p;
  }
  for (; p < last && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') d.Digits.push_back(*p);
  int exponent = 0;
  if (p < last) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), last, exponent);
  d.Exponent = exponent + 1;
  while (!d.Digits.empty() && d.Digits.back() == '0') d.Digits.pop_back();
  return d;
}

// The fewest digits that read back as the value in the narrowest of single,
// double and extended precision that holds it exactly: the digits a value of
// that type has, without the noise of its binary expansion.
TDecimal ShortestDecimal(long double value) {
  if (std::isnan(value) || std::isinf(value) || value == 0) return ToDecimal(value);
  char buffer[64];
  std::to_chars_result r;
  const long double magnitude = std::fabs(value);
  if (magnitude <= FLT_MAX && static_cast<long double>(static_cast<float>(value)) == value)
    r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<float>(value), std::chars_format::scientific);
  else if (magnitude <= DBL_MAX && static_cast<long double>(static_cast<double>(value)) == value)
    r = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value), std::chars_format::scientific);
  else
    r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific);
  TDecimal d;
  const char* p = buffer;
  if (*p == '-') {
    d.Negative = true;
    ++p;
  }
  for (; p < r.ptr && *p != 'e'; ++p)
    if (*p >= '0' && *p <= '9') d.Digits.push_back(*p);
  int exponent = 0;
  if (p < r.ptr) std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), r.ptr, exponent);
  d.Exponent = exponent + 1;
  while (!d.Digits.empty() && d.Digits.back() == '0') d.Digits.pop_back();
  return d;
}

// Keeps `keep` significant digits, rounding halves away from zero.
void RoundToDigits(TDecimal& d, int keep) {
  if (d.Special || static_cast<int>(d.Digits.size()) <= keep) return;
  if (keep < 0) {
    d.Digits.clear();
    return;
  }
  bool up = d.Digits[static_cast<size_t>(keep)] >= '5';
  d.Digits.resize(static_cast<size_t>(keep));
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.Digits[static_cast<size_t>(i)] == '9') d.Digits[static_cast<size_t>(i--)] = '0';
    if (i >= 0) {
      ++d.Digits[static_cast<size_t>(i)];
    } else {
      d.Digits.insert(d.Digits.begin(), '1');
      d.Digits.pop_back();
      ++d.Exponent;
      if (d.Digits.empty()) d.Digits = "1";
    }
  }
  while (!d.Digits.empty() && d.Digits.back() == '0') d.Digits.pop_back();
}

// Rounds to `decimals` places after the decimal point, keeping at most
// `maxDigits` significant digits.
void RoundToDecimals(TDecimal& d, int decimals, int maxDigits = MaxDigits) {
  int keep = d.Exponent + decimals;
  if (keep < 0) {
    d.Digits.clear();
  } else if (keep == 0) {
    // Only the rounding digit decides: 0.5 at zero decimals becomes 1.
    if (!d.Digits.empty() && d.Digits[0] >= '5') {
      d.Digits = "1";
      ++d.Exponent;
    } else {
      d.Digits.clear();
    }
  } else {
    RoundToDigits(d, std::min(keep, maxDigits));
  }
  if (d.Digits.empty()) d.Exponent = 0;
}

char DigitAt(const TDecimal& d, int index) {
  return index >= 0 && index < static_cast<int>(d.Digits.size()) ? d.Digits[static_cast<size_t>(index)] : '0';
}

UnicodeString Ascii(const std::string& s) { return UnicodeString(s.begin(), s.end()); }

UnicodeString GroupThousands(const std::string& integer, char16_t separator) {
  UnicodeString out;
  for (size_t i = 0; i < integer.size(); ++i) {
    if (i > 0 && (integer.size() - i) % 3 == 0 && separator) out.push_back(separator);
    out.push_back(static_cast<char16_t>(integer[i]));
  }
  return out;
}

// Fixed notation of an already rounded decimal, without sign.
UnicodeString FixedText(const TDecimal& d, int decimals, bool thousands, const TFormatSettings& fs) {
  std::string integer;
  for (int i = 0; i < d.Exponent; ++i) integer.push_back(DigitAt(d, i));
  if (integer.empty()) integer = "0";
  UnicodeString out = thousands ? GroupThousands(integer, fs.ThousandSeparator) : Ascii(integer);
  if (decimals > 0) {
    out.push_back(fs.DecimalSeparator);
    for (int i = 0; i < decimals; ++i) out.push_back(static_cast<char16_t>(DigitAt(d, d.Exponent + i)));
  }
  return out;
}

UnicodeString ExponentText(int exponent, bool alwaysSign, int minDigits) {
  UnicodeString out;
  if (exponent < 0)
    out.push_back(u'-');
  else if (alwaysSign)
    out.push_back(u'+');
  std::string digits = std::to_string(std::abs(exponent));
  while (static_cast<int>(digits.size()) < minDigits) digits.insert(digits.begin(), '0');
  return out + Ascii(digits);
}

UnicodeString SpecialText(const TDecimal& d) { return Ascii(d.SpecialText); }

UnicodeString Signed(const TDecimal& d, UnicodeString text) {
  if (d.Negative && !d.Digits.empty()) text.insert(text.begin(), u'-');
  return text;
}

UnicodeString ScientificText(long double value, int precision, const TFormatSettings& fs) {
  precision = std::clamp(precision, 1, MaxDigits);
  TDecimal d = ToDecimal(value);
  if (d.Special) return SpecialText(d);
  RoundToDigits(d, precision);
  UnicodeString out(1, static_cast<char16_t>(DigitAt(d, 0)));
  if (precision > 1) {
    out.push_back(fs.DecimalSeparator);
    for (int i = 1; i < precision; ++i) out.push_back(static_cast<char16_t>(DigitAt(d, i)));
  }
  out.push_back(u'E');
  out += ExponentText(d.Digits.empty() ? 0 : d.Exponent - 1, true, 3);
  return Signed(d, out);
}

UnicodeString MoneyText(long double value, int decimals, const TFormatSettings& fs) {
  TDecimal d = ToDecimal(value);
  if (d.Special) return SpecialText(d);
  RoundToDecimals(d, decimals);
  UnicodeString number = FixedText(d, decimals, true, fs);
  UnicodeString out;
  switch (fs.CurrencyFormat) {
    case 1: out = number + fs.CurrencyString; break;
    case 2: out = fs.CurrencyString + u" " + number; break;
    case 3: out = number + u" " + fs.CurrencyString; break;
    default: out = fs.CurrencyString + number; break;
  }
  return Signed(d, out);
}

}  // namespace

UnicodeString FloatToStrFixed(long double value, int decimals, bool thousands, const TFormatSettings& settings) {
  decimals = std::clamp(decimals, 0, MaxDigits);
  TDecimal d = ToDecimal(value);
  if (d.Special) return SpecialText(d);
  RoundToDecimals(d, decimals);
  return Signed(d, FixedText(d, decimals, thousands, settings));
}

UnicodeString FloatToStrExact(long double value, int decimals, const TFormatSettings& settings) {
  decimals = std::clamp(decimals, 0, MaxDigits);
  TDecimal d = ShortestDecimal(value);
  if (d.Special) return SpecialText(d);
  RoundToDecimals(d, decimals, static_cast<int>(d.Digits.size()));
  return Signed(d, FixedText(d, decimals, false, settings));
}

UnicodeString FloatToStrGeneral(long double value, int precision, const TFormatSettings& settings) {
  precision = std::clamp(precision, 1, MaxDigits);
  TDecimal d = ToDecimal(value);
  if (d.Special) return SpecialText(d);
  RoundToDigits(d, precision);
  if (d.Digits.empty()) return u"0";
  UnicodeString out;
  int count = static_cast<int>(d.Digits.size());
  if (d.Exponent > precision || d.Exponent < -3) {
    out.push_back(static_cast<char16_t>(d.Digits[0]));
    if (count > 1) {
      out.push_back(settings.DecimalSeparator);
      out += Ascii(d.Digits.substr(1));
    }
    out.push_back(u'E');
    out += ExponentText(d.Exponent - 1, false, 0);
  } else {
    int decimals = std::max(0, count - d.Exponent);
    out = FixedText(d, decimals, false, settings);
  }
  return Signed(d, out);
}

// --- Format ---------------------------------------------------------------------------

namespace {

class TFormatter {
 public:
  TFormatter(std::u16string_view format, const std::vector<TFormatArg>& args, const TFormatSettings& fs)
      : FFormat(format), FArgs(args), FSettings(fs) {}

  UnicodeString Run() {
    UnicodeString out;
    size_t i = 0;
    const size_t n = FFormat.size();
    while (i < n) {
      char16_t c = FFormat[i++];
      if (c != u'%') {
        out.push_back(c);
        continue;
      }
      if (i < n && FFormat[i] == u'%') {
        out.push_back(u'%');
        ++i;
        continue;
      }
      out += Directive(i);
    }
    return out;
  }

 private:
  [[noreturn]] void Invalid() const {
    throw EFormatError(FormatText(EFormatError::SInvalidFormat, {UnicodeString(FFormat)}));
  }
  [[noreturn]] void Missing() const {
    throw EFormatError(FormatText(EFormatError::SArgumentMissing, {UnicodeString(FFormat)}));
  }

  const TFormatArg& NextArg() {
    if (FNext >= FArgs.size()) Missing();
    return FArgs[FNext++];
  }

  // A number or "*" (taken from the next argument); -1 when neither is there.
  int ReadNumber(size_t& i) {
    if (i < FFormat.size() && FFormat[i] == u'*') {
      ++i;
      const TFormatArg& arg = NextArg();
      if (arg.Kind != TFormatArg::Integer) Invalid();
      int32_t value = static_cast<int32_t>(arg.IntValue);
      if (value > 1000000) Invalid();  // no field is that wide
      return value;
    }
    if (i >= FFormat.size() || FFormat[i] < u'0' || FFormat[i] > u'9') return -1;
    int64_t value = 0;
    while (i < FFormat.size() && FFormat[i] >= u'0' && FFormat[i] <= u'9') {
      value = value * 10 + (FFormat[i++] - u'0');
      if (value > 1000000) Invalid();  // no field is that wide
    }
    return static_cast<int>(value);
  }

  UnicodeString Directive(size_t& i) {
    int width = ReadNumber(i);
    if (i < FFormat.size() && FFormat[i] == u':') {
      ++i;
      if (width < 0) Invalid();
      FNext = static_cast<size_t>(width);
      width = -1;
    }
    bool left = false;
    if (i < FFormat.size() && FFormat[i] == u'-') {
      left = true;
      ++i;
    }
    if (width < 0) width = ReadNumber(i);
    int precision = -1;
    if (i < FFormat.size() && FFormat[i] == u'.') {
      ++i;
      precision = ReadNumber(i);
      if (precision < 0) precision = 0;
    }
    if (i >= FFormat.size()) Invalid();
    char16_t type = FFormat[i++];
    if (type >= u'a' && type <= u'z') type = static_cast<char16_t>(type - 32);
    const TFormatArg& arg = NextArg();
    UnicodeString text = Convert(type, arg, precision);
    if (width > static_cast<int>(text.size())) {
      UnicodeString pad(static_cast<size_t>(width) - text.size(), u' ');
      text = left ? text + pad : pad + text;
    }
    return text;
  }

  static bool IsInteger(const TFormatArg& a) { return a.Kind == TFormatArg::Integer || a.Kind == TFormatArg::Int64; }

  long double FloatOf(const TFormatArg& a) const {
    if (a.Kind == TFormatArg::Extended) return a.FloatValue;
    if (a.Kind == TFormatArg::Currency) return static_cast<long double>(a.IntValue) / 10000.0L;
    Invalid();
  }

  UnicodeString Convert(char16_t type, const TFormatArg& arg, int precision) {
    switch (type) {
      case u'D': {
        if (!IsInteger(arg)) Invalid();
        int64_t v = arg.Kind == TFormatArg::Integer ? static_cast<int32_t>(arg.IntValue) : arg.IntValue;
        uint64_t magnitude = v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
        return (v < 0 ? u"-" : u"") + MinDigits(Ascii(std::to_string(magnitude)), precision);
      }
      case u'U': {
        if (!IsInteger(arg)) Invalid();
        uint64_t v = arg.Kind == TFormatArg::Integer ? static_cast<uint32_t>(arg.IntValue)
                                                     : static_cast<uint64_t>(arg.IntValue);
        return MinDigits(Ascii(std::to_string(v)), precision);
      }
      case u'X': {
        if (!IsInteger(arg)) Invalid();
        uint64_t v = arg.Kind == TFormatArg::Integer ? static_cast<uint32_t>(arg.IntValue)
                                                     : static_cast<uint64_t>(arg.IntValue);
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%llX", static_cast<unsigned long long>(v));
        return MinDigits(Ascii(buffer), precision);
      }
      case u'E': return ScientificText(FloatOf(arg), precision < 0 ? 15 : precision, FSettings);
      case u'F': return FloatToStrFixed(FloatOf(arg), precision < 0 ? 2 : precision, false, FSettings);
      case u'G': return FloatToStrGeneral(FloatOf(arg), precision < 0 ? 15 : precision, FSettings);
      case u'N': return FloatToStrFixed(FloatOf(arg), precision < 0 ? 2 : precision, true, FSettings);
      case u'M':
        return MoneyText(FloatOf(arg), precision < 0 ? FSettings.CurrencyDecimals : std::min(precision, MaxDigits),
                         FSettings);
      case u'S': {
        UnicodeString text;
        if (arg.Kind == TFormatArg::String)
          text = arg.Text;
        else if (arg.Kind == TFormatArg::Char || arg.Kind == TFormatArg::WideChar)
          text = UnicodeString(1, static_cast<char16_t>(arg.IntValue));
        else
          Invalid();
        if (precision >= 0 && static_cast<size_t>(precision) < text.size()) text.resize(static_cast<size_t>(precision));
        return text;
      }
      case u'P': {
        if (arg.Kind != TFormatArg::Pointer && arg.Kind != TFormatArg::Object) Invalid();
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, arg.PointerValue > 0xFFFFFFFFu ? "%016llX" : "%08llX",
                      static_cast<unsigned long long>(arg.PointerValue));
        return Ascii(buffer);
      }
      default: Invalid();
    }
  }

  static UnicodeString MinDigits(UnicodeString digits, int precision) {
    if (precision > static_cast<int>(digits.size()))
      digits.insert(0, static_cast<size_t>(precision) - digits.size(), u'0');
    return digits;
  }

  std::u16string_view FFormat;
  const std::vector<TFormatArg>& FArgs;
  const TFormatSettings& FSettings;
  size_t FNext = 0;
};

}  // namespace

UnicodeString Format(std::u16string_view format, const std::vector<TFormatArg>& args, const TFormatSettings& settings) {
  return TFormatter(format, args, settings).Run();
}

// --- FormatFloat ------------------------------------------------------------------------

namespace {

// What one picture section asks for.
struct TPicture {
  std::u16string_view Text;
  int IntegerPlaces = 0;     // 0 and # before the decimal point
  int MinIntegerDigits = 0;  // placeholders from the first 0 to the point
  int DecimalPlaces = 0;     // 0 and # after the point
  int MinDecimals = 0;       // up to the last 0 after the point
  bool Thousands = false;
  bool Scientific = false;
  bool ExponentSign = false;  // E+ rather than E-
  int ExponentDigits = 0;
};

std::vector<std::u16string_view> SplitSections(std::u16string_view picture) {
  std::vector<std::u16string_view> sections;
  char16_t quote = 0;
  size_t start = 0;
  for (size_t i = 0; i < picture.size(); ++i) {
    char16_t c = picture[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (c == u'"' || c == u'\'') {
      quote = c;
    } else if (c == u';' && sections.size() < 2) {
      sections.push_back(picture.substr(start, i - start));
      start = i + 1;
    }
  }
  sections.push_back(picture.substr(start));
  return sections;
}

TPicture Analyse(std::u16string_view text) {
  TPicture p;
  p.Text = text;
  bool afterPoint = false;
  int firstZero = -1;  // integer placeholder index of the first 0
  char16_t quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    switch (c) {
      case u'"':
      case u'\'': quote = c; break;
      case u'0':
      case u'#':
        if (afterPoint) {
          ++p.DecimalPlaces;
          if (c == u'0') p.MinDecimals = p.DecimalPlaces;
        } else {
          if (c == u'0' && firstZero < 0) firstZero = p.IntegerPlaces;
          ++p.IntegerPlaces;
        }
        break;
      case u'.': afterPoint = true; break;
      case u',': p.Thousands = true; break;  // anywhere in the section, after the point too
      case u'E':
      case u'e':
        if (i + 1 < text.size() && (text[i + 1] == u'+' || text[i + 1] == u'-')) {
          p.Scientific = true;
          p.ExponentSign = text[i + 1] == u'+';
          size_t j = i + 2;
          while (j < text.size() && text[j] == u'0' && p.ExponentDigits < 4) ++p.ExponentDigits, ++j;
          // Nothing after the exponent is a digit placeholder.
          i = text.size();
        }
        break;
      default: break;
    }
  }
  if (firstZero >= 0) p.MinIntegerDigits = p.IntegerPlaces - firstZero;
  return p;
}

UnicodeString Render(const TPicture& p, const TDecimal& d, int exponent, const TFormatSettings& fs) {
  // Integer digits to place, padded to the minimum.
  std::string integer;
  int integerDigits = p.Scientific ? std::max(p.IntegerPlaces, 1) : d.Exponent;
  for (int i = 0; i < integerDigits; ++i) integer.push_back(DigitAt(d, i));
  size_t firstNonZero = integer.find_first_not_of('0');
  integer = firstNonZero == std::string::npos ? "" : integer.substr(firstNonZero);
  while (static_cast<int>(integer.size()) < p.MinIntegerDigits) integer.insert(integer.begin(), '0');
  // Decimal digits, trailing zeros dropped down to the minimum.
  std::string decimals;
  for (int i = 0; i < p.DecimalPlaces; ++i) decimals.push_back(DigitAt(d, integerDigits + i));
  while (static_cast<int>(decimals.size()) > p.MinDecimals && decimals.back() == '0') decimals.pop_back();

  UnicodeString out;
  int integerPlaceholder = 0;
  size_t integerNext = 0;
  size_t decimalNext = 0;
  bool afterPoint = false;
  auto emitInteger = [&](size_t count) {
    for (size_t k = 0; k < count && integerNext < integer.size(); ++k, ++integerNext) {
      out.push_back(static_cast<char16_t>(integer[integerNext]));
      size_t left = integer.size() - integerNext - 1;
      if (p.Thousands && left > 0 && left % 3 == 0) out.push_back(fs.ThousandSeparator);
    }
  };
  char16_t quote = 0;
  const std::u16string_view text = p.Text;
  for (size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (quote) {
      if (c == quote)
        quote = 0;
      else
        out.push_back(c);
      continue;
    }
    switch (c) {
      case u'"':
      case u'\'': quote = c; break;
      case u'0':
      case u'#':
        if (!afterPoint) {
          // Digits sit right-aligned under the placeholders; the first one
          // takes every digit that has no place of its own.
          int target = static_cast<int>(integer.size()) - p.IntegerPlaces + integerPlaceholder + 1;
          if (target > static_cast<int>(integerNext)) emitInteger(static_cast<size_t>(target) - integerNext);
          ++integerPlaceholder;
        } else if (decimalNext < decimals.size()) {
          out.push_back(static_cast<char16_t>(decimals[decimalNext++]));
        }
        break;
      case u'.':
        if (!afterPoint) {
          emitInteger(integer.size());
          afterPoint = true;
          if (!decimals.empty()) {
            out.push_back(fs.DecimalSeparator);
          }
        }
        break;
      case u',': break;
      case u'E':
      case u'e':
        if (p.Scientific && i + 1 < text.size() && (text[i + 1] == u'+' || text[i + 1] == u'-')) {
          emitInteger(integer.size());
          out.push_back(c);
          out += ExponentText(exponent, p.ExponentSign, p.ExponentDigits);
          i += 1;
          while (i + 1 < text.size() && text[i + 1] == u'0') ++i;
          afterPoint = true;
          break;
        }
        out.push_back(c);
        break;
      default: out.push_back(c); break;
    }
  }
  if (!afterPoint) emitInteger(integer.size());
  return out;
}

}  // namespace

UnicodeString FormatFloat(std::u16string_view picture, long double value, const TFormatSettings& settings) {
  if (picture.empty()) return FloatToStrGeneral(value, 15, settings);
  if (std::isnan(value) || std::isinf(value)) return FloatToStrGeneral(value, 15, settings);
  std::vector<std::u16string_view> sections = SplitSections(picture);
  size_t section = 0;
  if (value < 0 && sections.size() > 1 && !sections[1].empty()) section = 1;

  auto prepare = [&](const TPicture& p, TDecimal& d, int& exponent) {
    d = ToDecimal(value);
    exponent = 0;
    if (p.Scientific) {
      int integerDigits = std::max(p.IntegerPlaces, 1);
      RoundToDigits(d, std::min(integerDigits + p.DecimalPlaces, MaxDigits));
      if (!d.Digits.empty()) {
        exponent = d.Exponent - integerDigits;
        d.Exponent = integerDigits;
      }
    } else {
      RoundToDecimals(d, p.DecimalPlaces);
    }
  };

  TPicture p = Analyse(sections[section]);
  TDecimal d;
  int exponent;
  prepare(p, d, exponent);
  // A value that shows as zero takes the zero section when there is one.
  if (d.Digits.empty() && sections.size() > 2 && !sections[2].empty()) {
    p = Analyse(sections[2]);
    prepare(p, d, exponent);
    return Render(p, d, exponent, settings);
  }
  UnicodeString out = Render(p, d, exponent, settings);
  if (section == 0 && value < 0 && !d.Digits.empty()) out.insert(out.begin(), u'-');
  return out;
}

// --- Reading numbers ----------------------------------------------------------------

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t' || c == 0xA0 || c == 0x202F; }

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

}  // namespace

bool TryTextToDouble(std::u16string_view text, double& value, char16_t decimalSeparator, char16_t thousandSeparator) {
  text = TrimBlanks(text);
  std::string ascii;
  size_t i = 0;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
    if (text[i] == u'-') ascii.push_back('-');
    ++i;
  }
  bool spaceGroups = IsBlank(thousandSeparator);
  int integerDigits = 0;
  int groupDigits = -1;  // digits since the last thousands separator; -1 before the first
  for (; i < text.size(); ++i) {
    char16_t c = text[i];
    if (IsDigit(c)) {
      ascii.push_back(static_cast<char>(c));
      ++integerDigits;
      if (groupDigits >= 0) ++groupDigits;
    } else if ((c == thousandSeparator || (spaceGroups && IsBlank(c))) && c != decimalSeparator && integerDigits > 0) {
      if (groupDigits >= 0 && groupDigits != 3) return false;
      groupDigits = 0;
    } else {
      break;
    }
  }
  if (groupDigits >= 0 && groupDigits != 3) return false;
  int fractionDigits = 0;
  if (i < text.size() && text[i] == decimalSeparator) {
    ascii.push_back('.');
    for (++i; i < text.size() && IsDigit(text[i]); ++i, ++fractionDigits) ascii.push_back(static_cast<char>(text[i]));
  }
  if (integerDigits + fractionDigits == 0) return false;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ascii.push_back('e');
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ascii.push_back(static_cast<char>(text[i++]));
    if (i == text.size() || !IsDigit(text[i])) return false;
    for (; i < text.size() && IsDigit(text[i]); ++i) ascii.push_back(static_cast<char>(text[i]));
  }
  if (i != text.size()) return false;
  double result = 0;
  auto [end, error] = std::from_chars(ascii.data(), ascii.data() + ascii.size(), result);
  if (error == std::errc::result_out_of_range) {
    // Underflow reads as zero; overflow is not a number anyone typed.
    bool tiny = false;
    for (size_t k = 0; k < ascii.size(); ++k)
      if (ascii[k] == 'e') tiny = k + 1 < ascii.size() && ascii[k + 1] == '-';
    if (!tiny) return false;
    result = 0;
  } else if (error != std::errc() || end != ascii.data() + ascii.size()) {
    return false;
  }
  value = result;
  return true;
}


UnicodeString CurrencyToStr(int64_t scaled) {
  UnicodeString out;
  uint64_t magnitude = scaled < 0 ? 0 - static_cast<uint64_t>(scaled) : static_cast<uint64_t>(scaled);
  if (scaled < 0) out.push_back(u'-');
  out += IntToStr(static_cast<int64_t>(magnitude / 10000));
  unsigned fraction = static_cast<unsigned>(magnitude % 10000);
  if (fraction) {
    out.push_back(FormatSettings().DecimalSeparator);
    char digits[5];
    std::snprintf(digits, sizeof digits, "%04u", fraction);
    int n = 4;
    while (digits[n - 1] == '0') --n;
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char16_t>(digits[i]));
  }
  return out;
}


bool TryTextToFloat(std::u16string_view text, long double& value, char16_t decimalSeparator) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == u' ') ++b;
  while (e > b && text[e - 1] == u' ') --e;
  std::string ascii;
  size_t i = b;
  auto digit = [&](size_t k) { return k < e && text[k] >= u'0' && text[k] <= u'9'; };
  if (i < e && (text[i] == u'+' || text[i] == u'-')) ascii.push_back(static_cast<char>(text[i++]));
  bool any = false;
  while (digit(i)) ascii.push_back(static_cast<char>(text[i++])), any = true;
  if (i < e && text[i] == decimalSeparator) {
    ascii.push_back('.');
    ++i;
    while (digit(i)) ascii.push_back(static_cast<char>(text[i++])), any = true;
  }
  if (!any) return false;
  if (i < e && (text[i] == u'e' || text[i] == u'E')) {
    ascii.push_back('e');
    ++i;
    if (i < e && (text[i] == u'+' || text[i] == u'-')) ascii.push_back(static_cast<char>(text[i++]));
    if (!digit(i)) return false;
    while (digit(i)) ascii.push_back(static_cast<char>(text[i++]));
  }
  if (i != e) return false;
  // from_chars reads the C form whatever the process locale; it takes no "+".
  const char* first = ascii.data();
  if (*first == '+') ++first;
  long double result = 0;
  auto [end, error] = std::from_chars(first, ascii.data() + ascii.size(), result);
  if (error == std::errc::result_out_of_range) {
    bool tiny = false;
    for (size_t k = 0; k < ascii.size(); ++k)
      if (ascii[k] == 'e') tiny = k + 1 < ascii.size() && ascii[k + 1] == '-';
    // As a C conversion does: overflow gives an infinite value, underflow zero.
    result = tiny ? 0.0L : (ascii[0] == '-' ? -HUGE_VALL : HUGE_VALL);
  } else if (error != std::errc() || end != ascii.data() + ascii.size()) {
    return false;
  }
  value = result;
  return true;
}

}  // namespace rtl
