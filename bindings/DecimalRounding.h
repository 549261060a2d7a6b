// Decimal rounding in 80-bit extended precision with ten rounding modes and a
// relative error tolerance, so that values meant to lie on a half but stored
// slightly below it round as their decimal reading suggests.
#pragma once

#include <cstdint>
#include <string_view>

namespace bindings {

enum class TDecimalRoundingMode : uint8_t {
  None = 0,
  HalfEven = 1,
  HalfPos = 2,
  HalfNeg = 3,
  HalfDown = 4,
  HalfUp = 5,
  RndNeg = 6,
  RndPos = 7,
  RndDown = 8,
  RndUp = 9,
};
constexpr int DecimalRoundingModeCount = 10;

std::u16string_view RoundingModeName(TDecimalRoundingMode mode);
std::u16string_view RoundingModeDescription(TDecimalRoundingMode mode);

// Value rounded to `digits` decimal places (negative: tens, hundreds...).
// A value that is not finite, or whose scaled value does not fit a 64-bit
// integer, is returned unchanged.
long double DecimalRound(long double value, int digits, TDecimalRoundingMode mode, long double tolerance);

// The script's RoundToEx: halves away from zero, tolerance 1e-10.
double RoundToEx(double Value, int Znamenke);

}  // namespace bindings
