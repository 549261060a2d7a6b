// The function library, one table per group of functions, and the helpers
// their implementations share.
#pragma once

#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "spreadsheet/calc/Evaluator.h"

namespace spreadsheet::calc {

// The groups; FindFunction looks through all of them.
std::span<const TFunctionInfo> MathFunctions();
std::span<const TFunctionInfo> LogicalFunctions();
std::span<const TFunctionInfo> InformationFunctions();
std::span<const TFunctionInfo> AggregateFunctions();
std::span<const TFunctionInfo> DateFunctions();
std::span<const TFunctionInfo> FinancialFunctions();
std::span<const TFunctionInfo> LookupFunctions();
std::span<const TFunctionInfo> StatisticalFunctions();
std::span<const TFunctionInfo> TextFunctions();

// The numbers of the arguments, as SUM takes them: numbers, Booleans and
// numeric text written as arguments count; in references and arrays only
// numbers. Errors anywhere are raised.
std::vector<double> NumbersOf(TCallContext& call);
// The same numbers one by one, without collecting them (a template: the
// cells of a long column reach `take` without a further indirect call).
template <class F>
void ForEachNumber(TCallContext& call, F&& take) {
  for (size_t i = 0; i < call.Count(); ++i)
    call.ForEach(i, [&](const TValue& v, bool direct) {
      if (v.IsError()) throw TCalcError{v.Err};
      if (v.IsNumber())
        take(v.Number);
      else if (direct && !v.IsBlank())
        take(ToNumber(v));
    });
}

// A comparison criterion as the *IF functions take it: "<>", ">=10",
// "=b*", "apple", 5. Text matches without regard to letter case, with the
// wildcards * and ? (and ~ before them for themselves).
class TCriterion {
 public:
  explicit TCriterion(const TValue& criterion);
  bool Matches(const TValue& value) const;

 private:
  enum TOp { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual } FOp = Equal;
  TValue FOperand;
  bool FWildcards = false;
};

// Whether text matches a pattern with * and ? (letter case ignored).
bool WildcardMatch(std::string_view text, std::string_view pattern);

}  // namespace spreadsheet::calc
