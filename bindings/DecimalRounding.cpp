#include "bindings/DecimalRounding.h"

#include <cmath>

namespace bindings {

namespace {

struct TModeText {
  std::u16string_view Name;
  std::u16string_view Description;
};

constexpr TModeText ModeTexts[DecimalRoundingModeCount] = {
    {u"None", u"No rounding."},
    {u"HalfEven", u"Round to nearest or to even whole number (a.k.a Bankers) "},
    {u"HalfPos", u"Round to nearest or toward positive"},
    {u"HalfNeg", u"Round to nearest or toward negative"},
    {u"HalfDown", u"Round to nearest or toward zero"},
    {u"HalfUp", u"Round to nearest or away from zero"},
    {u"RndNeg", u"Round toward negative. (a.k.a. Floor) "},
    {u"RndPos", u"Round toward positive. (a.k.a. Ceil ) "},
    {u"RndDown", u"Round toward zero. (a.k.a. Trunc) "},
    {u"RndUp", u"Round away from zero."},
};

// 2^63: the first magnitude a 64-bit integer cannot hold.
constexpr long double Int64Limit = 9223372036854775808.0L;

}  // namespace

std::u16string_view RoundingModeName(TDecimalRoundingMode mode) {
  auto i = static_cast<size_t>(mode);
  return i < DecimalRoundingModeCount ? ModeTexts[i].Name : std::u16string_view();
}

std::u16string_view RoundingModeDescription(TDecimalRoundingMode mode) {
  auto i = static_cast<size_t>(mode);
  return i < DecimalRoundingModeCount ? ModeTexts[i].Description : std::u16string_view();
}

long double DecimalRound(long double value, int digits, TDecimalRoundingMode mode, long double tolerance) {
  if (!std::isfinite(value) || mode == TDecimalRoundingMode::None) return value;
  long double p = 1;
  // The magnitude in 64 bits: the lowest int has no 32-bit negation. The loop
  // ends once p is infinite, at about 4,932 steps.
  for (int64_t i = digits < 0 ? -static_cast<int64_t>(digits) : digits; i > 0 && std::isfinite(p); --i) p *= 10;
  if (!std::isfinite(p)) return value;
  long double e = std::fabs(value * tolerance);
  long double y;
  if (digits >= 0) {
    y = value * p;
    e = e * p;
  } else {
    y = value / p;
    e = e / p;
  }
  long double quantity;
  switch (mode) {
    case TDecimalRoundingMode::HalfEven: quantity = y - e; break;
    case TDecimalRoundingMode::HalfPos: quantity = y + e; break;
    case TDecimalRoundingMode::HalfNeg: quantity = y - e; break;
    case TDecimalRoundingMode::HalfDown: quantity = std::fabs(y) - e; break;
    case TDecimalRoundingMode::HalfUp: quantity = std::fabs(y) + e; break;
    case TDecimalRoundingMode::RndNeg: quantity = y + e - 0.5L; break;
    case TDecimalRoundingMode::RndPos: quantity = y - e + 0.5L; break;
    case TDecimalRoundingMode::RndDown: quantity = std::fabs(y) + e - 0.5L; break;
    case TDecimalRoundingMode::RndUp: quantity = std::fabs(y) - e + 0.5L; break;
    default: quantity = y; break;
  }
  // Beyond 64 bits the integer step has no defined result: keep the value.
  if (!std::isfinite(quantity) || std::fabs(y) + e + 1 >= Int64Limit) return value;
  // Ties to even, the default rounding direction.
  auto n = static_cast<int64_t>(std::nearbyintl(quantity));
  if (mode == TDecimalRoundingMode::HalfEven && n % 2 != 0) n = static_cast<int64_t>(std::nearbyintl(y + e));
  long double result = digits >= 0 ? static_cast<long double>(n) / p : static_cast<long double>(n) * p;
  switch (mode) {
    case TDecimalRoundingMode::HalfDown:
    case TDecimalRoundingMode::HalfUp:
    case TDecimalRoundingMode::RndDown:
    case TDecimalRoundingMode::RndUp:
      if (value < 0) result = -result;
      break;
    default: break;
  }
  return result;
}

double RoundToEx(double Value, int Znamenke) {
  return static_cast<double>(DecimalRound(Value, Znamenke, TDecimalRoundingMode::HalfUp, 1e-10L));
}

}  // namespace bindings
