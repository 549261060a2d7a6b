#include "spreadsheet/calc/Functions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <unordered_map>

namespace spreadsheet::calc {

namespace {

[[noreturn]] void Raise(TErrorValue e) { throw TCalcError{e}; }


TValue Num(double n) { return TValue::FromNumber(n); }

// x rounded to 15 significant digits, so that 1.005*100 is 100.5, as the
// application sees it, before rounding to whole units.
double Significant15(double x) {
  if (x == 0 || !std::isfinite(x)) return x;
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.14e", x);
  return std::strtod(buffer, nullptr);
}

double RoundTo(double x, double digits, int mode /* 0 nearest, 1 up, -1 down */) {
  digits = std::trunc(digits);
  if (digits > 15) digits = 15;
  if (digits < -15) digits = -15;
  double scale = std::pow(10.0, std::fabs(digits));
  double y = Significant15(digits >= 0 ? x * scale : x / scale);
  double r = mode == 0 ? std::round(y) : mode > 0 ? (y < 0 ? -std::ceil(-y) : std::ceil(y)) : std::trunc(y);
  return digits >= 0 ? r / scale : r * scale;
}

// --- Math ----------------------------------------------------------------------------

template <double (*F)(double)>
TValue Unary(TCallContext& call) {
  return Num(F(call.Number(0)));
}

double Abs(double x) { return std::fabs(x); }
double IntOf(double x) { return std::floor(x); }
double Sign(double x) { return x > 0 ? 1 : x < 0 ? -1 : 0; }
double Degrees(double x) { return x * 180 / M_PI; }
double Radians(double x) { return x * M_PI / 180; }
double Exp(double x) { return std::exp(x); }
double Sin(double x) { return std::sin(x); }
double Cos(double x) { return std::cos(x); }
double Tan(double x) { return std::tan(x); }
double Atan(double x) { return std::atan(x); }
double Sinh(double x) { return std::sinh(x); }
double Cosh(double x) { return std::cosh(x); }
double Tanh(double x) { return std::tanh(x); }
double Asinh(double x) { return std::asinh(x); }

// The application refuses angles of 2^27 and more: their sine has no
// significant digit left.
template <double (*F)(double)>
TValue Trigonometric(TCallContext& call) {
  double x = call.Number(0);
  if (std::fabs(x) >= 134217728.0) Raise(TErrorValue::Num);
  return Num(F(x));
}

TValue Sqrt(TCallContext& call) {
  double x = call.Number(0);
  if (x < 0) Raise(TErrorValue::Num);
  return Num(std::sqrt(x));
}
TValue Ln(TCallContext& call) {
  double x = call.Number(0);
  if (x <= 0) Raise(TErrorValue::Num);
  return Num(std::log(x));
}
TValue Log10(TCallContext& call) {
  double x = call.Number(0);
  if (x <= 0) Raise(TErrorValue::Num);
  return Num(std::log10(x));
}
TValue Log(TCallContext& call) {
  double x = call.Number(0), base = call.Number(1, 10);
  if (x <= 0 || base <= 0) Raise(TErrorValue::Num);
  if (base == 1) Raise(TErrorValue::Div0);
  return Num(std::log(x) / std::log(base));
}
TValue Asin(TCallContext& call) {
  double x = call.Number(0);
  if (x < -1 || x > 1) Raise(TErrorValue::Num);
  return Num(std::asin(x));
}
TValue Acos(TCallContext& call) {
  double x = call.Number(0);
  if (x < -1 || x > 1) Raise(TErrorValue::Num);
  return Num(std::acos(x));
}
TValue Acosh(TCallContext& call) {
  double x = call.Number(0);
  if (x < 1) Raise(TErrorValue::Num);
  return Num(std::acosh(x));
}
TValue Atanh(TCallContext& call) {
  double x = call.Number(0);
  if (x <= -1 || x >= 1) Raise(TErrorValue::Num);
  return Num(std::atanh(x));
}
TValue Atan2(TCallContext& call) {
  double x = call.Number(0), y = call.Number(1);
  if (x == 0 && y == 0) Raise(TErrorValue::Div0);
  return Num(std::atan2(y, x));
}
TValue Pi(TCallContext&) { return Num(M_PI); }
TValue Trunc(TCallContext& call) { return Num(RoundTo(call.Number(0), call.Number(1, 0), -1)); }
TValue Round(TCallContext& call) { return Num(RoundTo(call.Number(0), call.Number(1), 0)); }
TValue RoundUp(TCallContext& call) { return Num(RoundTo(call.Number(0), call.Number(1), 1)); }
TValue RoundDown(TCallContext& call) { return Num(RoundTo(call.Number(0), call.Number(1), -1)); }
TValue Mod(TCallContext& call) {
  double n = call.Number(0), d = call.Number(1);
  if (d == 0) Raise(TErrorValue::Div0);
  return Num(n - d * std::floor(n / d));
}
TValue Quotient(TCallContext& call) {
  double n = call.Number(0), d = call.Number(1);
  if (d == 0) Raise(TErrorValue::Div0);
  return Num(std::trunc(n / d));
}
TValue Power(TCallContext& call) {
  double x = call.Number(0), y = call.Number(1);
  if (x == 0 && y == 0) Raise(TErrorValue::Num);
  if (x == 0 && y < 0) Raise(TErrorValue::Div0);
  return Num(std::pow(x, y));
}
TValue Product(TCallContext& call) {
  std::vector<double> numbers = NumbersOf(call);
  double p = 1;
  for (double n : numbers) p *= n;
  return Num(numbers.empty() ? 0 : p);
}
TValue SumSq(TCallContext& call) {
  double s = 0;
  for (double n : NumbersOf(call)) s += n * n;
  return Num(s);
}
TValue Even(TCallContext& call) {
  double x = call.Number(0);
  double r = std::ceil(std::fabs(x) / 2) * 2;
  return Num(x < 0 ? -r : r);
}
TValue Odd(TCallContext& call) {
  double x = call.Number(0);
  double a = std::fabs(x);
  double r = std::ceil(a);
  if (std::fmod(r, 2) == 0) r += 1;
  if (a == 0) r = 1;
  return Num(x < 0 ? -r : r);
}
TValue Fact(TCallContext& call) {
  double x = std::trunc(call.Number(0));
  if (x < 0) Raise(TErrorValue::Num);
  double f = 1;
  for (double i = 2; i <= x; ++i) f *= i;
  return Num(f);
}
// Multiples: CEILING and FLOOR (signs must agree), MROUND.
TValue Ceiling(TCallContext& call) {
  double x = call.Number(0), m = call.Number(1, x < 0 ? -1 : 1);
  if (m == 0) return Num(0);
  if (x > 0 && m < 0) Raise(TErrorValue::Num);
  double q = Significant15(x / m);
  return Num(std::ceil(q) * m);
}
TValue Floor(TCallContext& call) {
  double x = call.Number(0), m = call.Number(1, x < 0 ? -1 : 1);
  if (m == 0) {
    if (x == 0) return Num(0);
    Raise(TErrorValue::Div0);
  }
  if (x > 0 && m < 0) Raise(TErrorValue::Num);
  double q = Significant15(x / m);
  return Num(std::floor(q) * m);
}
TValue CeilingMath(TCallContext& call) {
  double x = call.Number(0), m = std::fabs(call.Number(1, 1)), mode = call.Number(2, 0);
  if (m == 0) return Num(0);
  double q = Significant15(x / m);
  double r = x < 0 && mode != 0 ? std::floor(q) : std::ceil(q);
  return Num(r * m);
}
TValue FloorMath(TCallContext& call) {
  double x = call.Number(0), m = std::fabs(call.Number(1, 1)), mode = call.Number(2, 0);
  if (m == 0) return Num(0);
  double q = Significant15(x / m);
  double r = x < 0 && mode != 0 ? std::ceil(q) : std::floor(q);
  return Num(r * m);
}
TValue MRound(TCallContext& call) {
  double x = call.Number(0), m = call.Number(1);
  if (m == 0) return Num(0);
  if ((x > 0 && m < 0) || (x < 0 && m > 0)) Raise(TErrorValue::Num);
  return Num(RoundTo(x / m, 0, 0) * m);
}

constexpr TFunctionInfo kMath[] = {
    {"ABS", 1, 1, &Unary<Abs>},
    {"ACOS", 1, 1, &Acos},
    {"ACOSH", 1, 1, &Acosh},
    {"ASIN", 1, 1, &Asin},
    {"ASINH", 1, 1, &Unary<Asinh>},
    {"ATAN", 1, 1, &Unary<Atan>},
    {"ATAN2", 2, 2, &Atan2},
    {"ATANH", 1, 1, &Atanh},
    {"CEILING", 2, 2, &Ceiling},
    {"CEILING.MATH", 1, 3, &CeilingMath},
    {"COS", 1, 1, &Trigonometric<Cos>},
    {"COSH", 1, 1, &Unary<Cosh>},
    {"DEGREES", 1, 1, &Unary<Degrees>},
    {"EVEN", 1, 1, &Even},
    {"EXP", 1, 1, &Unary<Exp>},
    {"FACT", 1, 1, &Fact},
    {"FLOOR", 2, 2, &Floor},
    {"FLOOR.MATH", 1, 3, &FloorMath},
    {"INT", 1, 1, &Unary<IntOf>},
    {"LN", 1, 1, &Ln},
    {"LOG", 1, 2, &Log},
    {"LOG10", 1, 1, &Log10},
    {"MOD", 2, 2, &Mod},
    {"MROUND", 2, 2, &MRound},
    {"ODD", 1, 1, &Odd},
    {"PI", 0, 0, &Pi},
    {"POWER", 2, 2, &Power},
    {"PRODUCT", 1, 255, &Product},
    {"QUOTIENT", 2, 2, &Quotient},
    {"RADIANS", 1, 1, &Unary<Radians>},
    {"ROUND", 2, 2, &Round},
    {"ROUNDDOWN", 2, 2, &RoundDown},
    {"ROUNDUP", 2, 2, &RoundUp},
    {"SIGN", 1, 1, &Unary<Sign>},
    {"SIN", 1, 1, &Trigonometric<Sin>},
    {"SINH", 1, 1, &Unary<Sinh>},
    {"SQRT", 1, 1, &Sqrt},
    {"SUMSQ", 1, 255, &SumSq},
    {"TAN", 1, 1, &Trigonometric<Tan>},
    {"TANH", 1, 1, &Unary<Tanh>},
    {"TRUNC", 1, 2, &Trunc},
};

// --- Logical -------------------------------------------------------------------------

// The Booleans of AND, OR and XOR: in references only numbers and Booleans
// count; text written as an argument must read as TRUE or FALSE.
std::vector<bool> BooleansOf(TCallContext& call) {
  std::vector<bool> values;
  for (size_t i = 0; i < call.Count(); ++i)
    call.ForEach(i, [&](const TValue& v, bool direct) {
      if (v.IsError()) Raise(v.Err);
      if (v.IsNumber() || v.IsBoolean())
        values.push_back(v.Number != 0);
      else if (direct && v.IsText())
        values.push_back(ToBoolean(v));
      else if (direct && v.IsBlank())
        values.push_back(false);
    });
  if (values.empty()) Raise(TErrorValue::Value);
  return values;
}

TValue And(TCallContext& call) {
  auto b = BooleansOf(call);
  return TValue::FromBoolean(std::all_of(b.begin(), b.end(), [](bool x) { return x; }));
}
TValue Or(TCallContext& call) {
  auto b = BooleansOf(call);
  return TValue::FromBoolean(std::any_of(b.begin(), b.end(), [](bool x) { return x; }));
}
TValue Xor(TCallContext& call) {
  auto b = BooleansOf(call);
  return TValue::FromBoolean(std::count(b.begin(), b.end(), true) % 2 == 1);
}
TValue Not(TCallContext& call) { return TValue::FromBoolean(!call.Boolean(0)); }
TValue True(TCallContext&) { return TValue::FromBoolean(true); }
TValue False(TCallContext&) { return TValue::FromBoolean(false); }

// The value of an argument as a result: an omitted one is 0.
TValue Result(TCallContext& call, size_t i) {
  if (call.Missing(i)) return Num(0);
  return call.Arg(i);
}

// In an array formula a condition over several cells chooses element by
// element: SUM(IF(A1:A3>1,A1:A3,0)).
TValue ArrayIf(TCallContext& call, const TValue& condition) {
  TEvaluator& evaluator = call.Evaluator();
  TValue yes = ReferenceToArray(evaluator, Result(call, 1));
  TValue no = call.Count() < 3 ? TValue::FromBoolean(false) : ReferenceToArray(evaluator, Result(call, 2));
  const TArrayValue& test = *condition.Values;
  auto element = [](const TValue& v, uint32_t r, uint32_t c) {
    if (v.Kind != TValue::vkArray) return v;
    const TArrayValue& a = *v.Values;
    uint32_t rr = a.Rows == 1 ? 0 : r, cc = a.Columns == 1 ? 0 : c;
    if (rr >= a.Rows || cc >= a.Columns) return TValue::FromError(TErrorValue::NA);
    return a.At(rr, cc);
  };
  auto out = std::make_shared<TArrayValue>();
  out->Rows = test.Rows;
  out->Columns = test.Columns;
  out->Cells.reserve(test.Cells.size());
  for (uint32_t r = 0; r < test.Rows; ++r)
    for (uint32_t c = 0; c < test.Columns; ++c) {
      const TValue& t = test.At(r, c);
      if (t.IsError()) {
        out->Cells.push_back(t);
        continue;
      }
      try {
        out->Cells.push_back(ToBoolean(t) ? element(yes, r, c) : element(no, r, c));
      } catch (const TCalcError& e) {
        out->Cells.push_back(TValue::FromError(e.Error));
      }
    }
  TValue result;
  result.Kind = TValue::vkArray;
  result.Values = std::move(out);
  return result;
}

TValue If(TCallContext& call) {
  if (call.Evaluator().ArrayMode()) {
    TValue condition = call.Arg(0);
    if (condition.Kind == TValue::vkReference && !condition.Areas && !condition.Area.IsCell())
      condition = ReferenceToArray(call.Evaluator(), condition);
    if (condition.Kind == TValue::vkArray) return ArrayIf(call, condition);
  }
  if (call.Boolean(0)) return Result(call, 1);
  if (call.Count() < 3) return TValue::FromBoolean(false);
  return Result(call, 2);
}
// The tested value as the result: a reference to one cell stays one, as
// IF passes it on, so that SUM(IFERROR(A1,0)) skips text in A1.
TValue Tested(const TValue& arg, const TValue& value) {
  return arg.Kind == TValue::vkReference && !arg.Areas && arg.Area.IsCell() ? arg : value;
}
TValue IfError(TCallContext& call) {
  TValue arg = call.Arg(0), v = call.Evaluator().ToScalar(arg);
  if (v.IsError()) return Result(call, 1);
  return Tested(arg, v);
}
TValue IfNa(TCallContext& call) {
  TValue arg = call.Arg(0), v = call.Evaluator().ToScalar(arg);
  if (v.IsError() && v.Err == TErrorValue::NA) return Result(call, 1);
  return Tested(arg, v);
}
TValue Ifs(TCallContext& call) {
  if (call.Count() % 2) Raise(TErrorValue::Value);
  for (size_t i = 0; i + 1 < call.Count(); i += 2)
    if (call.Boolean(i)) return Result(call, i + 1);
  Raise(TErrorValue::NA);
}
TValue Switch(TCallContext& call) {
  TValue subject = call.Scalar(0);
  size_t i = 1;
  for (; i + 1 < call.Count(); i += 2) {
    TValue candidate = call.Scalar(i);
    // A blank matches 0, "" or FALSE, as it compares equal to them.
    bool comparable = candidate.Kind == subject.Kind || subject.IsBlank() || candidate.IsBlank();
    if (comparable && CompareValues(subject, candidate) == 0) return Result(call, i + 1);
  }
  if (i < call.Count()) return Result(call, i);
  Raise(TErrorValue::NA);
}
TValue Choose(TCallContext& call) {
  double index = std::trunc(call.Number(0));
  if (index < 1 || index >= static_cast<double>(call.Count())) Raise(TErrorValue::Value);
  return Result(call, static_cast<size_t>(index));
}

constexpr TFunctionInfo kLogical[] = {
    {"AND", 1, 255, &And},       {"CHOOSE", 2, 255, &Choose}, {"FALSE", 0, 0, &False}, {"IF", 1, 3, &If},
    {"IFERROR", 2, 2, &IfError}, {"IFNA", 2, 2, &IfNa},       {"IFS", 2, 254, &Ifs},   {"NOT", 1, 1, &Not},
    {"OR", 1, 255, &Or},         {"SWITCH", 3, 254, &Switch}, {"TRUE", 0, 0, &True},   {"XOR", 1, 255, &Xor},
};

// --- Information ---------------------------------------------------------------------

TValue Kind(TCallContext& call) { return call.Evaluator().ToScalar(call.Arg(0)); }

TValue IsBlank(TCallContext& call) { return TValue::FromBoolean(Kind(call).IsBlank()); }
TValue IsNumber(TCallContext& call) { return TValue::FromBoolean(Kind(call).IsNumber()); }
TValue IsText(TCallContext& call) { return TValue::FromBoolean(Kind(call).IsText()); }
TValue IsNonText(TCallContext& call) { return TValue::FromBoolean(!Kind(call).IsText()); }
TValue IsLogical(TCallContext& call) { return TValue::FromBoolean(Kind(call).IsBoolean()); }
TValue IsError(TCallContext& call) { return TValue::FromBoolean(Kind(call).IsError()); }
TValue IsErr(TCallContext& call) {
  TValue v = Kind(call);
  return TValue::FromBoolean(v.IsError() && v.Err != TErrorValue::NA);
}
TValue IsNa(TCallContext& call) {
  TValue v = Kind(call);
  return TValue::FromBoolean(v.IsError() && v.Err == TErrorValue::NA);
}
TValue IsEven(TCallContext& call) {
  TValue v = call.Scalar(0);
  if (v.IsBoolean()) Raise(TErrorValue::Value);
  return TValue::FromBoolean(std::fmod(std::trunc(ToNumber(v)), 2) == 0);
}
TValue IsOdd(TCallContext& call) {
  TValue v = call.Scalar(0);
  if (v.IsBoolean()) Raise(TErrorValue::Value);
  return TValue::FromBoolean(std::fmod(std::trunc(ToNumber(v)), 2) != 0);
}
TValue Na(TCallContext&) { Raise(TErrorValue::NA); }
TValue N(TCallContext& call) {
  TValue v = call.Scalar(0);
  if (v.IsNumber() || v.IsBoolean()) return Num(v.Number);
  return Num(0);
}
TValue T(TCallContext& call) {
  TValue v = call.Scalar(0);
  return TValue::FromText(v.IsText() ? v.String : "");
}
TValue Type(TCallContext& call) {
  TValue v = call.Arg(0);
  if (v.Kind == TValue::vkArray) return Num(64);
  if (v.Kind == TValue::vkReference && !v.Area.IsCell()) return Num(16);
  v = call.Evaluator().ToScalar(v);
  switch (v.Kind) {
    case TValue::vkText: return Num(2);
    case TValue::vkBoolean: return Num(4);
    case TValue::vkError: return Num(16);
    default: return Num(1);
  }
}
TValue Row(TCallContext& call) {
  if (call.Missing(0)) return Num(call.Evaluator().Row());
  TValue v = call.Arg(0);
  if (v.Kind != TValue::vkReference) Raise(TErrorValue::Value);
  return Num(v.Area.Row1);
}
TValue Column(TCallContext& call) {
  if (call.Missing(0)) return Num(call.Evaluator().Column());
  TValue v = call.Arg(0);
  if (v.Kind != TValue::vkReference) Raise(TErrorValue::Value);
  return Num(v.Area.Column1);
}
TValue Rows(TCallContext& call) {
  TValue v = call.Arg(0);
  if (v.Kind == TValue::vkReference && !v.Areas) return Num(v.Area.Rows());
  if (v.Kind == TValue::vkArray) return Num(v.Values->Rows);
  if (v.IsError()) Raise(v.Err);
  if (v.IsScalar()) return Num(1);
  Raise(TErrorValue::Value);
}
TValue Columns(TCallContext& call) {
  TValue v = call.Arg(0);
  if (v.Kind == TValue::vkReference && !v.Areas) return Num(v.Area.Columns());
  if (v.Kind == TValue::vkArray) return Num(v.Values->Columns);
  if (v.IsError()) Raise(v.Err);
  if (v.IsScalar()) return Num(1);
  Raise(TErrorValue::Value);
}

constexpr TFunctionInfo kInformation[] = {
    {"COLUMN", 0, 1, &Column},
    {"COLUMNS", 1, 1, &Columns},
    {"ISBLANK", 1, 1, &IsBlank},
    {"ISERR", 1, 1, &IsErr},
    {"ISERROR", 1, 1, &IsError},
    {"ISEVEN", 1, 1, &IsEven},
    {"ISLOGICAL", 1, 1, &IsLogical},
    {"ISNA", 1, 1, &IsNa},
    {"ISNONTEXT", 1, 1, &IsNonText},
    {"ISNUMBER", 1, 1, &IsNumber},
    {"ISODD", 1, 1, &IsOdd},
    {"ISTEXT", 1, 1, &IsText},
    {"N", 1, 1, &N},
    {"NA", 0, 0, &Na},
    {"ROW", 0, 1, &Row},
    {"ROWS", 1, 1, &Rows},
    {"T", 1, 1, &T},
    {"TYPE", 1, 1, &Type},
};

// --- Aggregates ----------------------------------------------------------------------

TValue Sum(TCallContext& call) {
  double s = 0;
  ForEachNumber(call, [&](double n) { s += n; });
  return Num(s);
}
TValue Average(TCallContext& call) {
  std::vector<double> numbers = NumbersOf(call);
  if (numbers.empty()) Raise(TErrorValue::Div0);
  double s = 0;
  for (double n : numbers) s += n;
  return Num(s / static_cast<double>(numbers.size()));
}
TValue Min(TCallContext& call) {
  std::vector<double> numbers = NumbersOf(call);
  return Num(numbers.empty() ? 0 : *std::min_element(numbers.begin(), numbers.end()));
}
TValue Max(TCallContext& call) {
  std::vector<double> numbers = NumbersOf(call);
  return Num(numbers.empty() ? 0 : *std::max_element(numbers.begin(), numbers.end()));
}
TValue Count(TCallContext& call) {
  double count = 0;
  for (size_t i = 0; i < call.Count(); ++i)
    call.ForEach(i, [&](const TValue& v, bool direct) {
      double n;
      if (v.IsNumber() || (direct && v.IsBoolean()) || (direct && v.IsText() && TextToNumber(v.String, n))) ++count;
    });
  return Num(count);
}
TValue CountA(TCallContext& call) {
  double count = 0;
  for (size_t i = 0; i < call.Count(); ++i)
    call.ForEach(i, [&](const TValue& v, bool direct) {
      if (!v.IsBlank() || direct) ++count;
    });
  return Num(count);
}

// The cells of an area clamped to what the sheet uses: beyond, all is blank.
TArea UsedPart(TCalcBook& book, const TArea& area) {
  TArea used = area;
  used.Row2 = std::min(area.Row2, std::max(book.LastRow(area.Sheet), area.Row1));
  used.Column2 = std::min(area.Column2, std::max(book.LastColumn(area.Sheet), area.Column1));
  return used;
}

TArea AreaArgument(const TValue& v) {
  if (v.IsError()) Raise(v.Err);
  if (v.Kind != TValue::vkReference || v.Areas) Raise(TErrorValue::Value);
  return v.Area;
}

TValue CountBlank(TCallContext& call) {
  TArea area = AreaArgument(call.Arg(0));
  double filled = 0;
  call.Evaluator().Book().ForEachCell(area, [&](uint32_t, uint32_t, const TValue& v) {
    if (!(v.IsText() && v.String.empty())) ++filled;
  });
  return Num(static_cast<double>(area.Rows()) * area.Columns() - filled);
}

// The *IF(S) functions: pairs of a criteria area and a criterion, and the
// cells that meet every one. `target` is the area whose cells are taken (the
// first criteria area when none is given).
template <class F>
void ForEachMatch(TCallContext& call, const TArea& target, const std::vector<std::pair<TArea, TCriterion>>& criteria,
                  F&& take) {
  TCalcBook& book = call.Evaluator().Book();
  for (const auto& [area, criterion] : criteria)
    if (area.Rows() != target.Rows() || area.Columns() != target.Columns()) Raise(TErrorValue::Value);
  // Only the used rows and columns can hold anything to take.
  TArea scan = UsedPart(book, target);
  for (const auto& [area, criterion] : criteria) {
    TArea used = UsedPart(book, area);
    scan.Row2 = std::max(scan.Row2, std::min(target.Row2, target.Row1 + (used.Row2 - area.Row1)));
    scan.Column2 = std::max(scan.Column2, std::min(target.Column2, target.Column1 + (used.Column2 - area.Column1)));
  }
  for (uint32_t r = 0; r <= scan.Row2 - target.Row1; ++r)
    for (uint32_t c = 0; c <= scan.Column2 - target.Column1; ++c) {
      bool all = true;
      for (const auto& [area, criterion] : criteria)
        if (!criterion.Matches(book.CellValue(area.Sheet, area.Row1 + r, area.Column1 + c))) {
          all = false;
          break;
        }
      if (all) take(book.CellValue(target.Sheet, target.Row1 + r, target.Column1 + c));
    }
}

// The area of the same size as `shape` starting at `start`'s first cell.
TArea SameShape(const TArea& start, const TArea& shape) {
  TArea a = start;
  a.Row2 = std::min<uint32_t>(1048576, a.Row1 + shape.Rows() - 1);
  a.Column2 = std::min<uint32_t>(16384, a.Column1 + shape.Columns() - 1);
  return a;
}

struct TIfResult {
  double Sum = 0, Count = 0, Min = INFINITY, Max = -INFINITY;
  void Take(const TValue& v) {
    if (v.IsError()) Raise(v.Err);
    if (!v.IsNumber()) return;
    Sum += v.Number;
    ++Count;
    Min = std::min(Min, v.Number);
    Max = std::max(Max, v.Number);
  }
};

TIfResult SingleIf(TCallContext& call) {
  TArea area = AreaArgument(call.Arg(0));
  TCriterion criterion(call.Scalar(1));
  TArea target = call.Missing(2) ? area : SameShape(AreaArgument(call.Arg(2)), area);
  // A taken area that would run past the sheet's end ends there; the
  // criteria cells beyond have nothing to take.
  area.Row2 = area.Row1 + target.Rows() - 1;
  area.Column2 = area.Column1 + target.Columns() - 1;
  TIfResult result;
  ForEachMatch(call, target, {{area, criterion}}, [&](const TValue& v) { result.Take(v); });
  return result;
}

TIfResult MultipleIfs(TCallContext& call, size_t first) {
  std::vector<std::pair<TArea, TCriterion>> criteria;
  for (size_t i = first; i + 1 < call.Count(); i += 2)
    criteria.emplace_back(AreaArgument(call.Arg(i)), TCriterion(call.Scalar(i + 1)));
  if ((call.Count() - first) % 2 || criteria.empty()) Raise(TErrorValue::Value);
  TArea target = first == 0 ? criteria.front().first : AreaArgument(call.Arg(0));
  TIfResult result;
  ForEachMatch(call, target, criteria, [&](const TValue& v) { result.Take(v); });
  return result;
}

TValue SumIf(TCallContext& call) { return Num(SingleIf(call).Sum); }
TValue AverageIf(TCallContext& call) {
  TIfResult r = SingleIf(call);
  if (r.Count == 0) Raise(TErrorValue::Div0);
  return Num(r.Sum / r.Count);
}
TValue SumIfs(TCallContext& call) { return Num(MultipleIfs(call, 1).Sum); }
TValue AverageIfs(TCallContext& call) {
  TIfResult r = MultipleIfs(call, 1);
  if (r.Count == 0) Raise(TErrorValue::Div0);
  return Num(r.Sum / r.Count);
}
TValue MaxIfs(TCallContext& call) {
  TIfResult r = MultipleIfs(call, 1);
  return Num(r.Count ? r.Max : 0);
}
TValue MinIfs(TCallContext& call) {
  TIfResult r = MultipleIfs(call, 1);
  return Num(r.Count ? r.Min : 0);
}

// COUNTIF(S) count cells, blanks included, so the cells beyond the used
// part are counted without being read.
double CountMatches(TCallContext& call, const std::vector<std::pair<TArea, TCriterion>>& criteria) {
  TCalcBook& book = call.Evaluator().Book();
  const TArea& target = criteria.front().first;
  for (const auto& [area, criterion] : criteria)
    if (area.Rows() != target.Rows() || area.Columns() != target.Columns()) Raise(TErrorValue::Value);
  uint32_t lastRow = 0, lastColumn = 0;
  for (const auto& [area, criterion] : criteria) {
    TArea used = UsedPart(book, area);
    lastRow = std::max(lastRow, used.Row2 - area.Row1);
    lastColumn = std::max(lastColumn, used.Column2 - area.Column1);
  }
  double count = 0;
  for (uint32_t r = 0; r <= lastRow; ++r)
    for (uint32_t c = 0; c <= lastColumn; ++c) {
      bool all = true;
      for (const auto& [area, criterion] : criteria)
        if (!criterion.Matches(book.CellValue(area.Sheet, area.Row1 + r, area.Column1 + c))) {
          all = false;
          break;
        }
      if (all) ++count;
    }
  double scanned = static_cast<double>(lastRow + 1) * (lastColumn + 1);
  double total = static_cast<double>(target.Rows()) * target.Columns();
  if (total > scanned) {
    bool blanksMatch = true;
    for (const auto& [area, criterion] : criteria) blanksMatch = blanksMatch && criterion.Matches(TValue());
    if (blanksMatch) count += total - scanned;
  }
  return count;
}

TValue CountIf(TCallContext& call) {
  return Num(CountMatches(call, {{AreaArgument(call.Arg(0)), TCriterion(call.Scalar(1))}}));
}
TValue CountIfs(TCallContext& call) {
  if (call.Count() % 2) Raise(TErrorValue::Value);
  std::vector<std::pair<TArea, TCriterion>> criteria;
  for (size_t i = 0; i + 1 < call.Count(); i += 2)
    criteria.emplace_back(AreaArgument(call.Arg(i)), TCriterion(call.Scalar(i + 1)));
  return Num(CountMatches(call, criteria));
}

// SUMPRODUCT: arrays of one size multiplied element by element; text and
// blanks count as 0.
TValue SumProduct(TCallContext& call) {
  std::vector<TValue> arrays;
  for (size_t i = 0; i < call.Count(); ++i) {
    TValue v = ReferenceToArray(call.Evaluator(), call.Arg(i));
    if (v.IsError()) Raise(v.Err);
    if (v.Kind != TValue::vkArray) {
      TValue single;
      single.Kind = TValue::vkArray;
      auto array = std::make_shared<TArrayValue>();
      array->Rows = array->Columns = 1;
      array->Cells.push_back(v);
      single.Values = std::move(array);
      v = std::move(single);
    }
    if (!arrays.empty() && (v.Values->Rows != arrays[0].Values->Rows || v.Values->Columns != arrays[0].Values->Columns))
      Raise(TErrorValue::Value);
    arrays.push_back(std::move(v));
  }
  double sum = 0;
  size_t cells = arrays[0].Values->Cells.size();
  for (size_t k = 0; k < cells; ++k) {
    double product = 1;
    for (const TValue& a : arrays) {
      const TValue& e = a.Values->Cells[k];
      if (e.IsError()) Raise(e.Err);
      product *= e.IsNumber() ? e.Number : 0;
    }
    sum += product;
  }
  return Num(sum);
}

constexpr TFunctionInfo kAggregate[] = {
    {"AVERAGE", 1, 255, &Average},
    {"AVERAGEIF", 2, 3, &AverageIf},
    {"AVERAGEIFS", 3, 255, &AverageIfs},
    {"COUNT", 1, 255, &Count},
    {"COUNTA", 1, 255, &CountA},
    {"COUNTBLANK", 1, 1, &CountBlank},
    {"COUNTIF", 2, 2, &CountIf},
    {"COUNTIFS", 2, 254, &CountIfs},
    {"MAX", 1, 255, &Max},
    {"MAXIFS", 3, 255, &MaxIfs},
    {"MIN", 1, 255, &Min},
    {"MINIFS", 3, 255, &MinIfs},
    {"SUM", 1, 255, &Sum},
    {"SUMIF", 2, 3, &SumIf},
    {"SUMIFS", 3, 255, &SumIfs},
    {"SUMPRODUCT", 1, 255, &SumProduct, false, true},
};

}  // namespace

std::span<const TFunctionInfo> MathFunctions() { return kMath; }
std::span<const TFunctionInfo> LogicalFunctions() { return kLogical; }
std::span<const TFunctionInfo> InformationFunctions() { return kInformation; }
std::span<const TFunctionInfo> AggregateFunctions() { return kAggregate; }

namespace {

const std::unordered_map<std::string_view, const TFunctionInfo*>& Registry() {
  static const auto registry = [] {
    std::unordered_map<std::string_view, const TFunctionInfo*> map;
    for (auto group :
         {MathFunctions(), LogicalFunctions(), InformationFunctions(), AggregateFunctions(), DateFunctions(),
          FinancialFunctions(), LookupFunctions(), StatisticalFunctions(), TextFunctions()})
      for (const TFunctionInfo& f : group) map.emplace(f.Name, &f);
    return map;
  }();
  return registry;
}

}  // namespace

const TFunctionInfo* FindFunction(std::string_view name) {
  auto it = Registry().find(name);
  return it == Registry().end() ? nullptr : it->second;
}

std::vector<const TFunctionInfo*> AllFunctions() {
  std::vector<const TFunctionInfo*> all;
  for (const auto& [name, info] : Registry()) all.push_back(info);
  std::sort(all.begin(), all.end(), [](auto* a, auto* b) { return a->Name < b->Name; });
  return all;
}

std::vector<double> NumbersOf(TCallContext& call) {
  std::vector<double> numbers;
  ForEachNumber(call, [&](double n) { numbers.push_back(n); });
  return numbers;
}

// --- Criteria -------------------------------------------------------------------------

namespace {

// Iterative matching with backtracking to the last star, over bytes (ASCII
// letter case folded) or folded code points.
template <class S, class F>
bool MatchPattern(const S& text, const S& pattern, F fold) {
  size_t t = 0, p = 0, star = S::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && pattern[p] == '~' && p + 1 < pattern.size() &&
        (pattern[p + 1] == '*' || pattern[p + 1] == '?' || pattern[p + 1] == '~')) {
      if (fold(text[t]) == fold(pattern[p + 1])) {
        ++t;
        p += 2;
        continue;
      }
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
      continue;
    } else if (p < pattern.size() && (pattern[p] == '?' || fold(pattern[p]) == fold(text[t]))) {
      ++t;
      ++p;
      continue;
    }
    if (star == S::npos) return false;
    p = star + 1;
    t = ++mark;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

}  // namespace

bool WildcardMatch(std::string_view text, std::string_view pattern) {
  if (IsAscii(text) && IsAscii(pattern)) return MatchPattern(text, pattern, [](char c) { return AsciiUpper(c); });
  // "?" stands for one character, not one byte.
  return MatchPattern(FoldedText(text), FoldedText(pattern), [](char32_t c) { return c; });
}

TCriterion::TCriterion(const TValue& criterion) {
  if (criterion.IsError()) {
    FOperand = criterion;
    return;
  }
  if (!criterion.IsText()) {
    FOperand = criterion.IsBlank() ? TValue::FromNumber(0) : criterion;
    return;
  }
  std::string_view text = criterion.String;
  struct {
    std::string_view Token;
    TOp Op;
  } const ops[] = {{"<=", LessEqual}, {">=", GreaterEqual}, {"<>", NotEqual},
                   {"<", Less},       {">", Greater},       {"=", Equal}};
  for (const auto& o : ops)
    if (text.substr(0, o.Token.size()) == o.Token) {
      FOp = o.Op;
      text.remove_prefix(o.Token.size());
      break;
    }
  double n;
  if (TextToNumber(text, n)) {
    FOperand = TValue::FromNumber(n);
  } else if (text == "TRUE" || text == "FALSE" || text == "true" || text == "false") {
    FOperand = TValue::FromBoolean(text[0] == 'T' || text[0] == 't');
  } else {
    FOperand = TValue::FromText(std::string(text));
    FWildcards = (FOp == Equal || FOp == NotEqual) && text.find_first_of("*?~") != std::string_view::npos;
  }
}

bool TCriterion::Matches(const TValue& value) const {
  if (FOperand.IsError()) return value.IsError() && value.Err == FOperand.Err;
  if (FOperand.IsText() && FOperand.String.empty()) {
    bool empty = value.IsBlank() || (value.IsText() && value.String.empty());
    return FOp == NotEqual ? !empty : FOp == Equal ? empty : false;
  }
  auto compare = [&](int c) {
    switch (FOp) {
      case Equal: return c == 0;
      case NotEqual: return c != 0;
      case Less: return c < 0;
      case LessEqual: return c <= 0;
      case Greater: return c > 0;
      case GreaterEqual: return c >= 0;
    }
    return false;
  };
  if (FOperand.IsNumber()) {
    double n;
    if (value.IsNumber()) return compare(value.Number < FOperand.Number ? -1 : value.Number > FOperand.Number ? 1 : 0);
    if (value.IsText() && FOp == Equal && TextToNumber(value.String, n)) return n == FOperand.Number;
    return FOp == NotEqual;
  }
  if (FOperand.IsBoolean()) {
    if (value.IsBoolean()) return compare(value.Number < FOperand.Number ? -1 : value.Number > FOperand.Number ? 1 : 0);
    return FOp == NotEqual;
  }
  // Text.
  if (!value.IsText()) return FOp == NotEqual;
  if (FWildcards) {
    bool match = WildcardMatch(value.String, FOperand.String);
    return FOp == Equal ? match : !match;
  }
  return compare(CompareValues(value, FOperand));
}

}  // namespace spreadsheet::calc
