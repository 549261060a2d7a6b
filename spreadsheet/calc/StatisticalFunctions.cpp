// Statistical functions: order statistics, spread, ranks, the *A variants
// that count text and Booleans, and SUBTOTAL.
#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "spreadsheet/calc/Functions.h"

namespace spreadsheet::calc {

namespace {

[[noreturn]] void Raise(TErrorValue e) { throw TCalcError{e}; }

TValue Num(double n) { return TValue::FromNumber(n); }

double Mean(const std::vector<double>& numbers) {
  double sum = 0;
  for (double n : numbers) sum += n;
  return sum / static_cast<double>(numbers.size());
}

// The variance about the mean (two passes, for accuracy), of a sample or of
// the whole population.
double Variance(const std::vector<double>& numbers, bool sample) {
  size_t needed = sample ? 2 : 1;
  if (numbers.size() < needed) Raise(TErrorValue::Div0);
  double mean = Mean(numbers), squares = 0;
  for (double n : numbers) squares += (n - mean) * (n - mean);
  return squares / static_cast<double>(numbers.size() - (sample ? 1 : 0));
}

TValue VarS(TCallContext& call) { return Num(Variance(NumbersOf(call), true)); }
TValue VarP(TCallContext& call) { return Num(Variance(NumbersOf(call), false)); }
TValue StdevS(TCallContext& call) { return Num(std::sqrt(Variance(NumbersOf(call), true))); }
TValue StdevP(TCallContext& call) { return Num(std::sqrt(Variance(NumbersOf(call), false))); }

// The values of AVERAGEA, MAXA and MINA: in references text counts as 0 and
// Booleans as 0 or 1 (blanks are skipped); written as arguments, text must
// read as a number.
std::vector<double> ValuesA(TCallContext& call) {
  std::vector<double> values;
  for (size_t i = 0; i < call.Count(); ++i)
    call.ForEach(i, [&](const TValue& v, bool direct) {
      if (v.IsError()) Raise(v.Err);
      if (v.IsNumber() || v.IsBoolean())
        values.push_back(v.Number);
      else if (v.IsText())
        values.push_back(direct ? ToNumber(v) : 0);
      else if (direct)
        values.push_back(0);
    });
  return values;
}

TValue AverageA(TCallContext& call) {
  std::vector<double> values = ValuesA(call);
  if (values.empty()) Raise(TErrorValue::Div0);
  return Num(Mean(values));
}
TValue MaxA(TCallContext& call) {
  std::vector<double> values = ValuesA(call);
  return Num(values.empty() ? 0 : *std::max_element(values.begin(), values.end()));
}
TValue MinA(TCallContext& call) {
  std::vector<double> values = ValuesA(call);
  return Num(values.empty() ? 0 : *std::min_element(values.begin(), values.end()));
}

// The numbers of one argument that is a set of data (LARGE, SMALL, RANK):
// only numbers count, errors are raised.
std::vector<double> DataNumbers(TCallContext& call, size_t i) {
  std::vector<double> numbers;
  call.ForEach(i, [&](const TValue& v, bool direct) {
    if (v.IsError()) Raise(v.Err);
    if (v.IsNumber())
      numbers.push_back(v.Number);
    else if (direct && !v.IsBlank())
      numbers.push_back(ToNumber(v));
  });
  return numbers;
}

// The k-th largest or smallest; a fractional k is cut to a whole one.
TValue KthValue(TCallContext& call, bool largest) {
  std::vector<double> numbers = DataNumbers(call, 0);
  double k = std::trunc(call.Number(1));
  if (k < 1 || k > static_cast<double>(numbers.size())) Raise(TErrorValue::Num);
  size_t index = static_cast<size_t>(k) - 1;
  auto nth = numbers.begin() + static_cast<std::ptrdiff_t>(index);
  if (largest)
    std::nth_element(numbers.begin(), nth, numbers.end(), std::greater<double>());
  else
    std::nth_element(numbers.begin(), nth, numbers.end());
  return Num(*nth);
}
TValue Large(TCallContext& call) { return KthValue(call, true); }
TValue Small(TCallContext& call) { return KthValue(call, false); }

double MedianOf(std::vector<double> numbers) {
  if (numbers.empty()) Raise(TErrorValue::Num);
  size_t half = numbers.size() / 2;
  std::nth_element(numbers.begin(), numbers.begin() + static_cast<std::ptrdiff_t>(half), numbers.end());
  double upper = numbers[half];
  if (numbers.size() % 2) return upper;
  double lower = *std::max_element(numbers.begin(), numbers.begin() + static_cast<std::ptrdiff_t>(half));
  return lower + (upper - lower) / 2;
}
TValue Median(TCallContext& call) { return Num(MedianOf(NumbersOf(call))); }

// The most frequent number; of equally frequent ones the first met. A set
// without repeats has none.
TValue Mode(TCallContext& call) {
  std::vector<double> numbers = NumbersOf(call);
  std::unordered_map<double, size_t> counts;
  for (double n : numbers) ++counts[n];
  size_t best = 1;
  double mode = 0;
  for (double n : numbers)
    if (counts[n] > best) {
      best = counts[n];
      mode = n;
    }
  if (best < 2) Raise(TErrorValue::NA);
  return Num(mode);
}

TValue Rank(TCallContext& call) {
  double number = call.Number(0);
  TValue ref = call.Arg(1);
  if (ref.IsError()) Raise(ref.Err);
  if (ref.Kind != TValue::vkReference && ref.Kind != TValue::vkArray) Raise(TErrorValue::Value);
  std::vector<double> numbers = DataNumbers(call, 1);
  bool ascending = call.Number(2, 0) != 0;
  double before = 0;
  bool present = false;
  for (double n : numbers) {
    if (n == number) present = true;
    if (ascending ? n < number : n > number) ++before;
  }
  if (!present) Raise(TErrorValue::NA);
  return Num(before + 1);
}

// --- SUBTOTAL -----------------------------------------------------------------------------

bool CallsSubtotal(const TFormula* formula) {
  if (!formula) return false;
  for (const TFormulaNode& node : formula->Nodes)
    if (node.Kind == TNodeKind::Call && (node.Text == "SUBTOTAL" || node.Text == "AGGREGATE")) return true;
  return false;
}

// SUBTOTAL(function, references...): 1-11 as AVERAGE, COUNT, COUNTA, MAX,
// MIN, PRODUCT, STDEV, STDEVP, SUM, VAR, VARP; 101-111 the same without
// hidden rows. Cells that hold subtotals themselves are left out, so that
// totals over subtotals do not count twice.
TValue Subtotal(TCallContext& call) {
  double which = std::trunc(call.Number(0));
  if (which < 1 || (which > 11 && which < 101) || which > 111 || call.Count() < 2) Raise(TErrorValue::Value);
  bool visibleOnly = which > 100;
  int function = static_cast<int>(visibleOnly ? which - 100 : which);
  TCalcBook& book = call.Evaluator().Book();
  std::vector<double> numbers;
  double filled = 0;
  TErrorValue error = TErrorValue::None;
  auto take = [&](const TValue& v) {
    if (v.IsError() && error == TErrorValue::None) error = v.Err;
    if (v.IsNumber()) numbers.push_back(v.Number);
    if (!v.IsBlank()) ++filled;
  };
  for (size_t i = 1; i < call.Count(); ++i) {
    TValue v = call.Arg(i);
    if (v.Kind != TValue::vkReference) {
      if (v.Kind == TValue::vkArray)
        for (const TValue& cell : v.Values->Cells) take(cell);
      else
        take(v);
      continue;
    }
    for (size_t k = 0; k < v.AreaCount(); ++k) {
      const TArea& area = v.AreaAt(k);
      uint32_t checkedRow = 0;
      bool hidden = false;
      book.ForEachCell(area, [&](uint32_t row, uint32_t column, const TValue& cell) {
        if (visibleOnly && row != checkedRow) {
          checkedRow = row;
          hidden = book.RowHidden(area.Sheet, row);
        }
        if (visibleOnly && hidden) return;
        if (CallsSubtotal(book.CellFormula(area.Sheet, row, column))) return;
        take(cell);
      });
    }
  }
  // Counting never fails on errors; every other function gives the first.
  if (function == 2) return Num(static_cast<double>(numbers.size()));
  if (function == 3) return Num(filled);
  if (error != TErrorValue::None) Raise(error);
  switch (function) {
    case 1:
      if (numbers.empty()) Raise(TErrorValue::Div0);
      return Num(Mean(numbers));
    case 4: return Num(numbers.empty() ? 0 : *std::max_element(numbers.begin(), numbers.end()));
    case 5: return Num(numbers.empty() ? 0 : *std::min_element(numbers.begin(), numbers.end()));
    case 6: {
      double product = 1;
      for (double n : numbers) product *= n;
      return Num(numbers.empty() ? 0 : product);
    }
    case 7: return Num(std::sqrt(Variance(numbers, true)));
    case 8: return Num(std::sqrt(Variance(numbers, false)));
    case 9: {
      double sum = 0;
      for (double n : numbers) sum += n;
      return Num(sum);
    }
    case 10: return Num(Variance(numbers, true));
    default: return Num(Variance(numbers, false));
  }
}

constexpr TFunctionInfo kStatistical[] = {
    {"AVERAGEA", 1, 255, &AverageA}, {"LARGE", 2, 2, &Large},     {"MAXA", 1, 255, &MaxA},
    {"MEDIAN", 1, 255, &Median},     {"MINA", 1, 255, &MinA},     {"MODE", 1, 255, &Mode},
    {"MODE.SNGL", 1, 255, &Mode},    {"RANK", 2, 3, &Rank},       {"RANK.EQ", 2, 3, &Rank},
    {"SMALL", 2, 2, &Small},         {"STDEV", 1, 255, &StdevS},  {"STDEV.P", 1, 255, &StdevP},
    {"STDEV.S", 1, 255, &StdevS},    {"STDEVP", 1, 255, &StdevP}, {"SUBTOTAL", 2, 255, &Subtotal},
    {"VAR", 1, 255, &VarS},          {"VAR.P", 1, 255, &VarP},    {"VAR.S", 1, 255, &VarS},
    {"VARP", 1, 255, &VarP},
};

}  // namespace

std::span<const TFunctionInfo> StatisticalFunctions() { return kStatistical; }

}  // namespace spreadsheet::calc
