#include "spreadsheet/calc/Evaluator.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "rtl/SysUtils.h"
#include "spreadsheet/calc/CivilDates.h"

namespace spreadsheet::calc {

namespace {

// Names that refer to names: deeper than this is a loop.
constexpr int kMaxNameDepth = 32;

[[noreturn]] void Raise(TErrorValue e) { throw TCalcError{e}; }


double Checked(double n) {
  if (!std::isfinite(n)) Raise(TErrorValue::Num);
  return n;
}

std::shared_ptr<TArrayValue> NewArray(uint32_t rows, uint32_t columns) {
  auto array = std::make_shared<TArrayValue>();
  array->Rows = rows;
  array->Columns = columns;
  array->Cells.resize(static_cast<size_t>(rows) * columns);
  return array;
}

}  // namespace

// --- Coercions ---------------------------------------------------------------------

std::string NumberToText(double value) {
  if (value == 0) return "0";
  char buffer[40];
  int exponent = static_cast<int>(std::floor(std::log10(std::fabs(value))));
  if (exponent >= 15 || exponent < -9) {
    std::snprintf(buffer, sizeof buffer, "%.14E", value);
    std::string text = buffer;
    size_t e = text.find('E');
    std::string mantissa = text.substr(0, e), power = text.substr(e + 1);
    while (mantissa.back() == '0') mantissa.pop_back();
    if (mantissa.back() == '.') mantissa.pop_back();
    int p = std::stoi(power);
    std::snprintf(buffer, sizeof buffer, "E%c%02d", p < 0 ? '-' : '+', std::abs(p));
    return mantissa + buffer;
  }
  int decimals = std::max(0, 14 - exponent);
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  std::string text = buffer;
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  if (text == "-0") text = "0";
  return text;
}

bool TextToNumber(std::string_view text, double& number) {
  size_t a = 0, b = text.size();
  while (a < b && text[a] == ' ') ++a;
  while (b > a && text[b - 1] == ' ') --b;
  text = text.substr(a, b - a);
  if (text.empty()) return false;
  bool percent = text.back() == '%';
  if (percent) text.remove_suffix(1);
  // Accounting negatives "(5)", currency "$1,234.50", "-$5" and "$-5".
  bool negative = false, hasSign = false;
  if (text.size() >= 2 && text.front() == '(' && text.back() == ')') {
    text = text.substr(1, text.size() - 2);
    negative = hasSign = true;
  }
  auto sign = [&] {
    if (!hasSign && !text.empty() && (text[0] == '-' || text[0] == '+')) {
      negative = text[0] == '-';
      hasSign = true;
      text.remove_prefix(1);
    }
  };
  sign();
  bool currency = !text.empty() && text[0] == '$';
  if (currency) {
    text.remove_prefix(1);
    sign();
  }
  if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.')) return false;
  // Thousands separators stand between groups of three digits.
  std::string plain;
  if (text.find(',') != std::string_view::npos) {
    size_t digits = 0, i = 0;
    for (; i < text.size() && text[i] != '.' && text[i] != 'e' && text[i] != 'E'; ++i) {
      if (text[i] == ',') {
        if (digits == 0 || (plain.size() > digits && digits != 3) || (plain.size() == digits && digits > 3))
          return false;
        digits = 0;
        continue;
      }
      plain += text[i];
      ++digits;
    }
    if (digits != 3) return false;
    plain.append(text.substr(i));
    text = plain;
  }
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc()) return false;
  if (end != text.data() + text.size()) {
    // "2026-01-31" as a date serial.
    int y, m, d;
    std::string s(text);
    char tail;
    if (!hasSign && !currency && plain.empty() && std::sscanf(s.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) == 3 &&
        m >= 1 && m <= 12 && d >= 1 && d <= 31) {
      // Days from 1899-12-30, the 1900 system's serials past February 1900;
      // a day the month does not have ("2025-02-30") is no date.
      int64_t days = DaysFromCivil(y, m, d);
      int64_t y2 = 0;
      int m2 = 0, d2 = 0;
      CivilFromDays(days, y2, m2, d2);
      if (m2 != m || d2 != d) return false;
      number = static_cast<double>(days - DaysFromCivil(1899, 12, 30));
      return true;
    }
    return false;
  }
  if (negative) number = -number;
  if (percent) number /= 100;
  return std::isfinite(number);
}

double ToNumber(const TValue& v) {
  switch (v.Kind) {
    case TValue::vkBlank: return 0;
    case TValue::vkNumber:
    case TValue::vkBoolean: return v.Number;
    case TValue::vkText: {
      double n;
      if (!TextToNumber(v.String, n)) Raise(TErrorValue::Value);
      return n;
    }
    case TValue::vkError: Raise(v.Err);
    default: Raise(TErrorValue::Value);
  }
}

std::string ToText(const TValue& v) {
  switch (v.Kind) {
    case TValue::vkBlank: return "";
    case TValue::vkNumber: return NumberToText(v.Number);
    case TValue::vkBoolean: return v.Number != 0 ? "TRUE" : "FALSE";
    case TValue::vkText: return v.String;
    case TValue::vkError: Raise(v.Err);
    default: Raise(TErrorValue::Value);
  }
}

bool ToBoolean(const TValue& v) {
  switch (v.Kind) {
    case TValue::vkBlank: return false;
    case TValue::vkNumber:
    case TValue::vkBoolean: return v.Number != 0;
    case TValue::vkText:
      if (SameText(v.String, "TRUE")) return true;
      if (SameText(v.String, "FALSE")) return false;
      Raise(TErrorValue::Value);
    case TValue::vkError: Raise(v.Err);
    default: Raise(TErrorValue::Value);
  }
}

int CompareValues(const TValue& a, const TValue& b) {
  auto rank = [](const TValue& v, const TValue& other) {
    TValue::TKind kind = v.Kind == TValue::vkBlank ? (other.Kind == TValue::vkBlank ? TValue::vkNumber : other.Kind)
                                                   : v.Kind;
    return kind == TValue::vkNumber ? 0 : kind == TValue::vkText ? 1 : 2;
  };
  int ra = rank(a, b), rb = rank(b, a);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra == 1) {
    const std::string& x = a.String;
    const std::string& y = b.String;
    if (!IsAscii(x) || !IsAscii(y)) {
      std::u32string fx = FoldedText(x), fy = FoldedText(y);
      return fx == fy ? 0 : (fx < fy ? -1 : 1);
    }
    size_t n = std::min(x.size(), y.size());
    for (size_t i = 0; i < n; ++i) {
      char cx = AsciiUpper(x[i]), cy = AsciiUpper(y[i]);
      if (cx != cy) return static_cast<unsigned char>(cx) < static_cast<unsigned char>(cy) ? -1 : 1;
    }
    return x.size() == y.size() ? 0 : (x.size() < y.size() ? -1 : 1);
  }
  double x = a.Number, y = b.Number;  // a blank holds 0
  return x == y ? 0 : (x < y ? -1 : 1);
}

std::u32string FoldedText(std::string_view utf8) {
  rtl::UnicodeString wide = rtl::Utf8ToUnicode(utf8);
  std::u32string folded;
  folded.reserve(wide.size());
  for (size_t i = 0; i < wide.size();) folded.push_back(rtl::UnicodeToUpper(rtl::NextCodePoint(wide, i)));
  return folded;
}

// --- Call context ---------------------------------------------------------------------

bool TCallContext::Missing(size_t i) const {
  return i >= FArgs.size() || FFormula.Nodes[FArgs[i]].Kind == TNodeKind::Missing;
}

TValue TCallContext::Arg(size_t i) const {
  if (i >= FArgs.size()) return {};
  return FEvaluator.Eval(FFormula, FArgs[i]);
}

TValue TCallContext::Scalar(size_t i) const {
  TValue v = FEvaluator.ToScalar(Arg(i));
  if (v.IsError()) Raise(v.Err);
  return v;
}

double TCallContext::Number(size_t i) const { return ToNumber(Scalar(i)); }

double TCallContext::Number(size_t i, double whenMissing) const { return Missing(i) ? whenMissing : Number(i); }

std::string TCallContext::Text(size_t i) const { return ToText(Scalar(i)); }

bool TCallContext::Boolean(size_t i) const { return ToBoolean(Scalar(i)); }

void TCallContext::ForEach(size_t i, const std::function<void(const TValue&, bool)>& visit) const {
  if (Missing(i)) return;
  TValue v = Arg(i);
  if (v.Kind == TValue::vkReference) {
    // Straight to the workbook: the cells of a large area are the hot path.
    for (size_t a = 0; a < v.AreaCount(); ++a)
      FEvaluator.Book().ForEachCell(v.AreaAt(a), [&](uint32_t, uint32_t, const TValue& cell) { visit(cell, false); });
  } else if (v.Kind == TValue::vkArray) {
    for (const TValue& cell : v.Values->Cells) visit(cell, false);
  } else {
    visit(v, true);
  }
}

// --- Evaluator ------------------------------------------------------------------------

TValue TEvaluator::Evaluate(const TFormula& formula) {
  try {
    TValue v = Eval(formula, formula.Root);
    // An array formula's cell shows the first element of its result, not
    // the intersection with its own row or column.
    if (FArrayMode && v.Kind == TValue::vkReference && !v.Areas)
      v = FBook.CellValue(v.Area.Sheet, v.Area.Row1, v.Area.Column1);
    v = ToScalar(v);
    if (v.Kind == TValue::vkBlank) return TValue::FromNumber(0);  // =A1 of a blank shows 0
    return v;
  } catch (const TCalcError& e) {
    return TValue::FromError(e.Error);
  }
}

TValue TEvaluator::EvaluateArray(const TFormula& formula) {
  try {
    TValue v = Eval(formula, formula.Root);
    if (v.Kind == TValue::vkReference) v = v.Areas || v.Area.IsCell() ? ToScalar(v) : ReferenceToArray(*this, v);
    if (v.Kind == TValue::vkBlank) return TValue::FromNumber(0);
    return v;
  } catch (const TCalcError& e) {
    return TValue::FromError(e.Error);
  }
}

TValue TEvaluator::ToScalar(const TValue& v) {
  if (v.Kind == TValue::vkArray) return v.Values->Cells.empty() ? TValue() : v.Values->Cells[0];
  if (v.Kind != TValue::vkReference) return v;
  if (v.Areas) return TValue::FromError(TErrorValue::Value);
  const TArea& a = v.Area;
  if (a.IsCell()) return FBook.CellValue(a.Sheet, a.Row1, a.Column1);
  // Implicit intersection with the formula's row or column.
  if (a.Sheet == FSheet || a.Sheet >= 0) {
    if (a.Column1 == a.Column2 && FRow >= a.Row1 && FRow <= a.Row2) return FBook.CellValue(a.Sheet, FRow, a.Column1);
    if (a.Row1 == a.Row2 && FColumn >= a.Column1 && FColumn <= a.Column2)
      return FBook.CellValue(a.Sheet, a.Row1, FColumn);
  }
  return TValue::FromError(TErrorValue::Value);
}

void TEvaluator::ForEachValue(const TValue& v, const std::function<void(const TValue&)>& visit) {
  if (v.Kind == TValue::vkArray) {
    for (const TValue& cell : v.Values->Cells) visit(cell);
    return;
  }
  if (v.Kind != TValue::vkReference) {
    visit(v);
    return;
  }
  for (size_t i = 0; i < v.AreaCount(); ++i)
    FBook.ForEachCell(v.AreaAt(i), [&](uint32_t, uint32_t, const TValue& cell) { visit(cell); });
}

TValue TEvaluator::Eval(const TFormula& formula, uint32_t index) {
  const TFormulaNode& node = formula.Nodes[index];
  switch (node.Kind) {
    case TNodeKind::Number: return TValue::FromNumber(node.Number);
    case TNodeKind::Text: return TValue::FromText(node.Text);
    case TNodeKind::Boolean: return TValue::FromBoolean(node.Number != 0);
    case TNodeKind::Error: return TValue::FromError(node.Error);
    case TNodeKind::Missing: return {};
    case TNodeKind::Reference: return Reference(node);
    case TNodeKind::Name: return Name(node);
    case TNodeKind::Structured: return Structured(node);
    case TNodeKind::Array: return ArrayConstant(formula, node);
    case TNodeKind::Operator: return Operator(formula, node);
    case TNodeKind::Call: return Call(formula, node);
    case TNodeKind::External: throw TNotComputable{"a reference into another workbook"};
  }
  return {};
}

TValue TEvaluator::Reference(const TFormulaNode& node) {
  int32_t sheet = FSheet;
  if (!node.Sheet.empty()) {
    if (node.Sheet.find(':') != std::string::npos) throw TNotComputable{"a reference across sheets"};
    sheet = FBook.FindSheet(node.Sheet);
    if (sheet < 0) return TValue::FromError(TErrorValue::Ref);
  }
  TArea area;
  area.Sheet = sheet;
  area.Row1 = std::min(node.First.Row, node.Last.Row);
  area.Row2 = std::max(node.First.Row, node.Last.Row);
  area.Column1 = std::min(node.First.Column, node.Last.Column);
  area.Column2 = std::max(node.First.Column, node.Last.Column);
  FBook.NoteReference(area);
  return TValue::FromArea(area);
}

TValue TEvaluator::Name(const TFormulaNode& node) {
  std::string text;
  int32_t host = FSheet;
  if (!node.Sheet.empty()) {
    host = FBook.FindSheet(node.Sheet);
    if (host < 0) return TValue::FromError(TErrorValue::Ref);
  }
  if (!FBook.DefinedName(node.Text, host, text)) return TValue::FromError(TErrorValue::Name);
  if (FNameDepth >= kMaxNameDepth) return TValue::FromError(TErrorValue::Name);
  TFormula formula;
  std::string error;
  if (!ParseFormula(text, formula, error)) return TValue::FromError(TErrorValue::Name);
  ++FNameDepth;
  struct TLeave {
    int& Depth;
    ~TLeave() { --Depth; }
  } leave{FNameDepth};
  return Eval(formula, formula.Root);
}

TValue TEvaluator::Structured(const TFormulaNode& node) {
  TTableInfo table;
  if (!FBook.FindTable(node.Text, FSheet, FRow, FColumn, table)) return TValue::FromError(TErrorValue::Ref);
  const TStructuredRef& s = node.Structured;
  auto columnIndex = [&](const std::string& name) -> uint32_t {
    for (size_t i = 0; i < table.ColumnNames.size(); ++i)
      if (SameText(table.ColumnNames[i], name)) return static_cast<uint32_t>(i);
    Raise(TErrorValue::Ref);
  };
  TArea area;
  area.Sheet = table.Sheet;
  area.Column1 = table.Column1;
  area.Column2 = table.Column2;
  if (!s.FirstColumn.empty()) {
    uint32_t first = columnIndex(s.FirstColumn);
    uint32_t last = s.LastColumn.empty() ? first : columnIndex(s.LastColumn);
    area.Column1 = table.Column1 + std::min(first, last);
    area.Column2 = table.Column1 + std::max(first, last);
  }
  uint32_t dataFirst = table.Row1 + table.HeaderRows, dataLast = table.Row2 - table.TotalsRows;
  if (s.ThisRow) {
    if (FRow < dataFirst || FRow > dataLast || FSheet != table.Sheet) return TValue::FromError(TErrorValue::Value);
    area.Row1 = area.Row2 = FRow;
  } else if (s.All) {
    area.Row1 = table.Row1;
    area.Row2 = table.Row2;
  } else {
    bool headers = s.Headers, totals = s.Totals, data = s.Data || (!s.Headers && !s.Totals);
    if ((headers && table.HeaderRows == 0) || (totals && table.TotalsRows == 0))
      return TValue::FromError(TErrorValue::Ref);
    area.Row1 = headers ? table.Row1 : data ? dataFirst : table.Row2;
    area.Row2 = totals ? table.Row2 : data ? dataLast : table.Row1;
    if (area.Row2 < area.Row1) return TValue::FromError(TErrorValue::Ref);
  }
  FBook.NoteReference(area);
  return TValue::FromArea(area);
}

TValue TEvaluator::ArrayConstant(const TFormula& formula, const TFormulaNode& node) {
  auto array = NewArray(node.Rows, node.Columns);
  for (size_t i = 0; i < node.Args.size(); ++i) array->Cells[i] = Eval(formula, node.Args[i]);
  TValue v;
  v.Kind = TValue::vkArray;
  v.Values = std::move(array);
  return v;
}

namespace {

TValue ApplyBinary(TOperator op, const TValue& a, const TValue& b) {
  if (a.IsError()) return a;
  if (b.IsError()) return b;
  try {
    switch (op) {
      case TOperator::Concat: return TValue::FromText(ToText(a) + ToText(b));
      case TOperator::Equal: return TValue::FromBoolean(CompareValues(a, b) == 0);
      case TOperator::NotEqual: return TValue::FromBoolean(CompareValues(a, b) != 0);
      case TOperator::Less: return TValue::FromBoolean(CompareValues(a, b) < 0);
      case TOperator::LessEqual: return TValue::FromBoolean(CompareValues(a, b) <= 0);
      case TOperator::Greater: return TValue::FromBoolean(CompareValues(a, b) > 0);
      case TOperator::GreaterEqual: return TValue::FromBoolean(CompareValues(a, b) >= 0);
      default: break;
    }
    double x = ToNumber(a), y = ToNumber(b);
    switch (op) {
      case TOperator::Add: return TValue::FromNumber(Checked(x + y));
      case TOperator::Subtract: return TValue::FromNumber(Checked(x - y));
      case TOperator::Multiply: return TValue::FromNumber(Checked(x * y));
      case TOperator::Divide:
        if (y == 0) return TValue::FromError(TErrorValue::Div0);
        return TValue::FromNumber(Checked(x / y));
      case TOperator::Power:
        if (x == 0 && y == 0) return TValue::FromError(TErrorValue::Num);
        if (x == 0 && y < 0) return TValue::FromError(TErrorValue::Div0);
        return TValue::FromNumber(Checked(std::pow(x, y)));
      default: return TValue::FromError(TErrorValue::Value);
    }
  } catch (const TCalcError& e) {
    return TValue::FromError(e.Error);
  }
}

TValue ApplyUnary(TOperator op, const TValue& a) {
  if (a.IsError()) return a;
  try {
    double x = ToNumber(a);
    if (op == TOperator::Negate) return TValue::FromNumber(-x);
    if (op == TOperator::Percent) return TValue::FromNumber(x / 100);
    return a.Kind == TValue::vkBlank ? TValue::FromNumber(0) : a;
  } catch (const TCalcError& e) {
    return TValue::FromError(e.Error);
  }
}

bool IsReferenceOperator(TOperator op) {
  return op == TOperator::Range || op == TOperator::Intersection || op == TOperator::Union;
}

}  // namespace

TValue TEvaluator::Operator(const TFormula& formula, const TFormulaNode& node) {
  if (IsReferenceOperator(node.Op)) {
    TValue a = Eval(formula, node.Args[0]), b = Eval(formula, node.Args[1]);
    if (a.IsError()) return a;
    if (b.IsError()) return b;
    if (a.Kind != TValue::vkReference || b.Kind != TValue::vkReference) return TValue::FromError(TErrorValue::Value);
    if (node.Op == TOperator::Union) {
      auto areas = std::make_shared<std::vector<TArea>>();
      for (size_t i = 0; i < a.AreaCount(); ++i) areas->push_back(a.AreaAt(i));
      for (size_t i = 0; i < b.AreaCount(); ++i) areas->push_back(b.AreaAt(i));
      TValue v = TValue::FromArea(areas->front());
      v.Areas = std::move(areas);
      return v;
    }
    if (a.Areas || b.Areas || a.Area.Sheet != b.Area.Sheet) return TValue::FromError(TErrorValue::Value);
    TArea r;
    r.Sheet = a.Area.Sheet;
    if (node.Op == TOperator::Range) {
      r.Row1 = std::min(a.Area.Row1, b.Area.Row1);
      r.Column1 = std::min(a.Area.Column1, b.Area.Column1);
      r.Row2 = std::max(a.Area.Row2, b.Area.Row2);
      r.Column2 = std::max(a.Area.Column2, b.Area.Column2);
      return TValue::FromArea(r);
    }
    r.Row1 = std::max(a.Area.Row1, b.Area.Row1);
    r.Column1 = std::max(a.Area.Column1, b.Area.Column1);
    r.Row2 = std::min(a.Area.Row2, b.Area.Row2);
    r.Column2 = std::min(a.Area.Column2, b.Area.Column2);
    if (r.Row1 > r.Row2 || r.Column1 > r.Column2) return TValue::FromError(TErrorValue::Null);
    return TValue::FromArea(r);
  }
  // Operands are values: references read by implicit intersection, or in
  // an array formula as arrays.
  auto operand = [&](uint32_t index) {
    TValue v = Eval(formula, index);
    if (FArrayMode && v.Kind == TValue::vkReference && !v.Areas && !v.Area.IsCell()) return ReferenceToArray(*this, v);
    return v;
  };
  if (node.Args.size() == 1) {
    TValue a = operand(node.Args[0]);
    if (a.Kind != TValue::vkArray) return ApplyUnary(node.Op, ToScalar(a));
    auto result = NewArray(a.Values->Rows, a.Values->Columns);
    for (size_t i = 0; i < result->Cells.size(); ++i) result->Cells[i] = ApplyUnary(node.Op, a.Values->Cells[i]);
    TValue v;
    v.Kind = TValue::vkArray;
    v.Values = std::move(result);
    return v;
  }
  TValue a = operand(node.Args[0]);
  TValue b = operand(node.Args[1]);
  bool arrays = a.Kind == TValue::vkArray || b.Kind == TValue::vkArray;
  if (!arrays) return ApplyBinary(node.Op, ToScalar(a), ToScalar(b));
  // Element by element; a scalar applies to every element, elements beyond
  // the smaller array are #N/A.
  auto dims = [](const TValue& v, uint32_t& rows, uint32_t& columns) {
    if (v.Kind == TValue::vkArray) {
      rows = v.Values->Rows;
      columns = v.Values->Columns;
    } else {
      rows = columns = 1;
    }
  };
  uint32_t ar, ac, br, bc;
  dims(a, ar, ac);
  dims(b, br, bc);
  uint32_t rows = std::max(ar, br), columns = std::max(ac, bc);
  TValue sa = a.Kind == TValue::vkArray ? TValue() : ToScalar(a);
  TValue sb = b.Kind == TValue::vkArray ? TValue() : ToScalar(b);
  auto element = [](const TValue& v, const TValue& scalar, uint32_t vr, uint32_t vc, uint32_t r, uint32_t c) {
    if (v.Kind != TValue::vkArray) return scalar;
    if (vr == 1 && vc == 1) return v.Values->At(0, 0);
    uint32_t rr = vr == 1 ? 0 : r, cc = vc == 1 ? 0 : c;
    if (rr >= vr || cc >= vc) return TValue::FromError(TErrorValue::NA);
    return v.Values->At(rr, cc);
  };
  auto result = NewArray(rows, columns);
  for (uint32_t r = 0; r < rows; ++r)
    for (uint32_t c = 0; c < columns; ++c)
      result->Cells[static_cast<size_t>(r) * columns + c] = ApplyBinary(node.Op, element(a, sa, ar, ac, r, c),
                                                                        element(b, sb, br, bc, r, c));
  TValue v;
  v.Kind = TValue::vkArray;
  v.Values = std::move(result);
  return v;
}

TValue TEvaluator::Call(const TFormula& formula, const TFormulaNode& node) {
  const TFunctionInfo* info = FindFunction(node.Text);
  if (!info) throw TNotComputable{"the function " + node.Text};
  if (node.Args.size() < info->MinArgs || (info->MaxArgs != 255 && node.Args.size() > info->MaxArgs))
    throw TNotComputable{"the arguments of " + node.Text};
  if (info->Volatile) FBook.NoteVolatile();
  TCallContext call(*this, formula, node.Args);
  bool arrayMode = FArrayMode;
  struct TRestore {
    bool& Mode;
    bool Saved;
    ~TRestore() { Mode = Saved; }
  } restore{FArrayMode, arrayMode};
  if (info->ArrayArguments) FArrayMode = true;
  try {
    TValue v = info->Function(call);
    if (v.Kind == TValue::vkNumber && !std::isfinite(v.Number)) return TValue::FromError(TErrorValue::Num);
    return v;
  } catch (const TCalcError& e) {
    return TValue::FromError(e.Error);
  }
}

// A reference as an array of its values (cells beyond the used range read
// as blanks without being visited).
TValue ReferenceToArray(TEvaluator& evaluator, const TValue& v) {
  if (v.Kind != TValue::vkReference) return v;
  if (v.Areas) Raise(TErrorValue::Value);
  const TArea& a = v.Area;
  uint64_t cells = static_cast<uint64_t>(a.Rows()) * a.Columns();
  if (cells > (1u << 20)) throw TNotComputable{"an array of more than a column of cells"};
  auto array = NewArray(a.Rows(), a.Columns());
  evaluator.Book().ForEachCell(a, [&](uint32_t row, uint32_t column, const TValue& cell) {
    array->Cells[static_cast<size_t>(row - a.Row1) * a.Columns() + (column - a.Column1)] = cell;
  });
  TValue result;
  result.Kind = TValue::vkArray;
  result.Values = std::move(array);
  return result;
}

}  // namespace spreadsheet::calc
