// Number and text formatting under the user's regional settings: the Format
// directive language, FormatFloat pictures, general float text, and reading
// floating-point numbers.
#pragma once

#include <cstdint>
#include <vector>

#include "rtl/Locale.h"
#include "rtl/SysUtils.h"

namespace rtl {

// One element of an "array of const": a tagged value.
struct TFormatArg {
  enum TKind : uint8_t { Integer, Int64, Boolean, Char, WideChar, Extended, Currency, String, Pointer, Object };
  TKind Kind = Integer;
  int64_t IntValue = 0;        // Integer, Int64, Boolean, Char, WideChar, Currency (scaled by 10,000)
  long double FloatValue = 0;  // Extended
  UnicodeString Text;          // String
  uintptr_t PointerValue = 0;  // Pointer, Object

  static TFormatArg FromInteger(int32_t v) { return {Integer, v, 0, {}, 0}; }
  static TFormatArg FromInt64(int64_t v) { return {Int64, v, 0, {}, 0}; }
  static TFormatArg FromBoolean(bool v) { return {Boolean, v, 0, {}, 0}; }
  static TFormatArg FromChar(char16_t v) { return {WideChar, v, 0, {}, 0}; }
  static TFormatArg FromExtended(long double v) { return {Extended, 0, v, {}, 0}; }
  static TFormatArg FromCurrency(int64_t scaled) { return {Currency, scaled, 0, {}, 0}; }
  static TFormatArg FromString(UnicodeString v) { return {String, 0, 0, std::move(v), 0}; }
  static TFormatArg FromPointer(uintptr_t v) { return {Pointer, 0, 0, {}, v}; }
};

class EFormatError : public Exception {
 public:
  using Exception::Exception;
  static constexpr std::u16string_view SInvalidFormat = u"Format '%s' invalid or incompatible with argument";
  static constexpr std::u16string_view SArgumentMissing = u"No argument for format '%s'";
};

// Replaces each directive % [index :] [-] [width] [. precision] type by the
// next argument (or the one at index) formatted by type d u x e f g n m s p.
// Raises EFormatError with the format text for a directive that does not fit
// its argument, or when no argument is left.
UnicodeString Format(std::u16string_view format, const std::vector<TFormatArg>& args,
                     const TFormatSettings& settings = FormatSettings());

// Formats by a picture of up to three sections (positive;negative;zero) with
// 0 # . , E+ E- e+ e- and quoted text. An empty picture gives general format.
UnicodeString FormatFloat(std::u16string_view picture, long double value,
                          const TFormatSettings& settings = FormatSettings());

// The shortest of fixed and scientific notation with `precision` significant
// digits, trailing zeros removed: 1.5, 1E20, 1.5E-7.
UnicodeString FloatToStrGeneral(long double value, int precision = 15,
                                const TFormatSettings& settings = FormatSettings());

// Fixed notation with `decimals` decimals, halves rounded away from zero on
// the 18-digit decimal reading; `thousands` groups the integer digits.
UnicodeString FloatToStrFixed(long double value, int decimals, bool thousands,
                              const TFormatSettings& settings = FormatSettings());

// Fixed notation with `decimals` decimals of the digits the value has: the
// shortest that read back as the value in the narrowest of single, double and
// extended precision holding it exactly, rounded halves away from zero.
UnicodeString FloatToStrExact(long double value, int decimals, const TFormatSettings& settings = FormatSettings());

// Reads an optionally signed decimal number with optional exponent, with the
// given decimal separator and no thousands separators; blanks around it are
// allowed. False for anything else (including an empty text).
bool TryTextToFloat(std::u16string_view text, long double& value, char16_t decimalSeparator);

// Reads a number as a user types it: blanks around, sign, thousands
// separators in groups of three, decimals, exponent. False for anything else.
bool TryTextToDouble(std::u16string_view text, double& value, char16_t decimalSeparator, char16_t thousandSeparator);

// A scaled currency value (x 10,000) with up to four decimals, trailing
// zeros cut.
UnicodeString CurrencyToStr(int64_t scaled);

}  // namespace rtl
