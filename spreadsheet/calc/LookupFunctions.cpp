// Lookup and reference functions: searches over rows and columns of
// references and arrays, and functions that build references (INDEX,
// OFFSET, INDIRECT) or name them (ADDRESS).
#include <algorithm>
#include <cctype>
#include <cmath>

#include "spreadsheet/calc/Functions.h"

namespace spreadsheet::calc {

namespace {

constexpr uint32_t kMaxRow = 1048576;
constexpr uint32_t kMaxColumn = 16384;

[[noreturn]] void Raise(TErrorValue e) { throw TCalcError{e}; }

TValue Num(double n) { return TValue::FromNumber(n); }

TValue ArrayOf(std::shared_ptr<TArrayValue> array) {
  TValue v;
  v.Kind = TValue::vkArray;
  v.Values = std::move(array);
  return v;
}

// A rectangle of values: the cells of one area, or an array. Searches walk
// only the cells an area holds (TCalcBook::ForEachCell) and probe single
// cells, so a whole column costs what its filled rows cost; the sheet's
// extent is not asked for, as what depends on it is recomputed on every
// write.
struct TGrid {
  TCalcBook* Book = nullptr;
  TArea Area;
  std::shared_ptr<const TArrayValue> Array;
  uint32_t Rows = 1, Columns = 1;

  TValue At(uint32_t row, uint32_t column) const {
    if (Array) return Array->At(row, column);
    return Book->CellValue(Area.Sheet, Area.Row1 + row, Area.Column1 + column);
  }
  bool IsReference() const { return !Array; }
};

TGrid GridOf(TEvaluator& evaluator, const TValue& v) {
  TGrid grid;
  if (v.IsError()) Raise(v.Err);
  if (v.Kind == TValue::vkReference) {
    if (v.Areas) Raise(TErrorValue::Value);
    grid.Book = &evaluator.Book();
    grid.Area = v.Area;
    grid.Rows = v.Area.Rows();
    grid.Columns = v.Area.Columns();
    return grid;
  }
  auto array = std::make_shared<TArrayValue>();
  if (v.Kind == TValue::vkArray) {
    grid.Array = v.Values;
  } else {
    array->Rows = array->Columns = 1;
    array->Cells.push_back(v);
    grid.Array = array;
  }
  grid.Rows = grid.Array->Rows;
  grid.Columns = grid.Array->Columns;
  return grid;
}

// One row or column of a grid, searched along its length.
struct TLine {
  const TGrid* Grid = nullptr;
  bool Vertical = true;
  uint32_t Fixed = 0;  // the column of a vertical line, the row of a horizontal one
  uint32_t Size() const { return Vertical ? Grid->Rows : Grid->Columns; }
  TValue At(uint32_t i) const { return Vertical ? Grid->At(i, Fixed) : Grid->At(Fixed, i); }
};

// A one-dimensional lookup array: a single row or column, else #N/A.
TLine VectorOf(const TGrid& grid) {
  if (grid.Rows > 1 && grid.Columns > 1) Raise(TErrorValue::NA);
  return TLine{&grid, grid.Columns == 1 && grid.Rows > 1, 0};
}

// The value searched for: a blank reads as 0 (XLOOKUP, XMATCH) or finds
// nothing (VLOOKUP, HLOOKUP, LOOKUP, MATCH: #N/A, as the application and
// LibreOffice give for an empty lookup cell).
TValue LookupValue(TCallContext& call, size_t i, bool blankFindsNothing = false) {
  TValue v = call.Scalar(i);
  if (v.IsBlank() && blankFindsNothing) Raise(TErrorValue::NA);
  return v.IsBlank() ? Num(0) : v;
}

// How the value searched for compares with an item: items of another type
// do not compare at all.
enum class TOrder { Mismatch, Before, Equal, After };  // the value is before / after the item

TOrder Order(const TValue& value, const TValue& item) {
  if (item.Kind != value.Kind || value.Kind > TValue::vkBoolean || value.IsBlank()) return TOrder::Mismatch;
  int c = CompareValues(value, item);
  return c < 0 ? TOrder::Before : c > 0 ? TOrder::After : TOrder::Equal;
}

bool HasWildcards(const TValue& value) {
  return value.IsText() && value.String.find_first_of("*?~") != std::string::npos;
}

bool ExactMatch(const TValue& value, const TValue& item, bool wildcards) {
  if (wildcards) return item.IsText() && WildcardMatch(item.String, value.String);
  return Order(value, item) == TOrder::Equal;
}

// Ends a walk over cells early.
struct TStop {};

// Calls `visit(position, item)` for the items of positions [from, to) that
// are not blank, in order, until it returns true. Blank cells of a reference
// are not read at all.
template <class F>
void ForEachFilled(const TLine& line, int64_t from, int64_t to, F&& visit) {
  to = std::min<int64_t>(to, line.Size());
  if (from >= to) return;
  const TGrid& grid = *line.Grid;
  if (!grid.IsReference()) {
    for (int64_t i = from; i < to; ++i) {
      TValue item = line.At(static_cast<uint32_t>(i));
      if (!item.IsBlank() && visit(i, item)) return;
    }
    return;
  }
  TArea area = grid.Area;
  uint32_t first = static_cast<uint32_t>(from), last = static_cast<uint32_t>(to - 1);
  if (line.Vertical) {
    area.Column1 = area.Column2 = grid.Area.Column1 + line.Fixed;
    area.Row1 = grid.Area.Row1 + first;
    area.Row2 = grid.Area.Row1 + last;
  } else {
    area.Row1 = area.Row2 = grid.Area.Row1 + line.Fixed;
    area.Column1 = grid.Area.Column1 + first;
    area.Column2 = grid.Area.Column1 + last;
  }
  try {
    grid.Book->ForEachCell(area, [&](uint32_t row, uint32_t column, const TValue& item) {
      int64_t i = line.Vertical ? row - grid.Area.Row1 : column - grid.Area.Column1;
      if (visit(i, item)) throw TStop{};
    });
  } catch (const TStop&) {
  }
}

// The application's search of sorted data, also what it gives on data that
// is not sorted: a binary search that steps over items of another type to
// the next item of the value's type. Gives the last position whose item is
// not after the value (ascending; with `descending` not before it), or -1.
int64_t SortedSearch(const TLine& line, const TValue& value, bool descending) {
  auto orderOf = [&](const TValue& item) {
    TOrder o = Order(value, item);
    if (descending && o == TOrder::Before) return TOrder::After;
    if (descending && o == TOrder::After) return TOrder::Before;
    return o;
  };
  auto order = [&](int64_t i) { return orderOf(line.At(static_cast<uint32_t>(i))); };
  // `low` and `high` are positions known to be too low and too high.
  int64_t low = -1, high = line.Size();
  while (high - low >= 2) {
    int64_t mid = low + (high - low) / 2;
    TOrder o = order(mid);
    if (o == TOrder::Mismatch) {
      // The first item of the value's type after `mid`.
      int64_t next = -1;
      ForEachFilled(line, mid + 1, high, [&](int64_t i, const TValue& item) {
        o = orderOf(item);
        if (o == TOrder::Mismatch) return false;
        next = i;
        return true;
      });
      if (next < 0 || (o == TOrder::Before && next == high - 1)) {
        high = mid;
        continue;
      }
      if (o != TOrder::Equal) {
        (o == TOrder::Before ? high : low) = next;
        continue;
      }
      mid = next;
    }
    if (o == TOrder::Equal) {
      int64_t last = mid + 1;
      while (last < high && order(last) == TOrder::Equal) ++last;
      return last - 1;
    }
    (o == TOrder::Before ? high : low) = mid;
  }
  return low;
}

// The first position (from the end with `reverse`) whose item equals the
// value; -1 when none does.
int64_t ExactSearch(const TLine& line, const TValue& value, bool wildcards, bool reverse = false) {
  int64_t found = -1;
  ForEachFilled(line, 0, line.Size(), [&](int64_t i, const TValue& item) {
    if (!ExactMatch(value, item, wildcards)) return false;
    found = i;
    return !reverse;
  });
  return found;
}

// --- VLOOKUP, HLOOKUP, LOOKUP, MATCH -----------------------------------------------------

TValue TableLookup(TCallContext& call, bool vertical) {
  TValue value = LookupValue(call, 0, true);
  TGrid table = GridOf(call.Evaluator(), call.Arg(1));
  double index = std::trunc(call.Number(2));
  // An empty argument, as in VLOOKUP(x,t,2,), is FALSE, not left out.
  bool sorted = call.Count() < 4 || call.Boolean(3);
  if (index < 1) Raise(TErrorValue::Value);
  if (index > (vertical ? table.Columns : table.Rows)) Raise(TErrorValue::Ref);
  TLine keys{&table, vertical, 0};
  int64_t found = sorted ? SortedSearch(keys, value, false) : ExactSearch(keys, value, HasWildcards(value));
  if (found < 0) Raise(TErrorValue::NA);
  uint32_t at = static_cast<uint32_t>(found), other = static_cast<uint32_t>(index) - 1;
  return vertical ? table.At(at, other) : table.At(other, at);
}

TValue VLookup(TCallContext& call) { return TableLookup(call, true); }
TValue HLookup(TCallContext& call) { return TableLookup(call, false); }

TValue Lookup(TCallContext& call) {
  TValue value = LookupValue(call, 0, true);
  TGrid source = GridOf(call.Evaluator(), call.Arg(1));
  if (call.Count() < 3) {
    // The array form: search the first row of a wide array, else the first
    // column, and give the last row's or column's item.
    bool vertical = source.Rows >= source.Columns;
    TLine keys{&source, vertical, 0};
    int64_t found = SortedSearch(keys, value, false);
    if (found < 0) Raise(TErrorValue::NA);
    uint32_t at = static_cast<uint32_t>(found);
    return vertical ? source.At(at, source.Columns - 1) : source.At(source.Rows - 1, at);
  }
  TLine keys = VectorOf(source);
  int64_t found = SortedSearch(keys, value, false);
  if (found < 0) Raise(TErrorValue::NA);
  TValue results = call.Arg(2);
  TGrid grid = GridOf(call.Evaluator(), results);
  bool vertical = grid.Rows > 1 || (grid.Columns == 1 && keys.Vertical);
  if (grid.Rows > 1 && grid.Columns > 1) Raise(TErrorValue::NA);
  uint32_t at = static_cast<uint32_t>(found);
  if (at < (vertical ? grid.Rows : grid.Columns)) return vertical ? grid.At(at, 0) : grid.At(0, at);
  // A result range shorter than the searched one continues on the sheet.
  if (!grid.IsReference()) Raise(TErrorValue::NA);
  uint64_t row = grid.Area.Row1 + (vertical ? at : 0), column = grid.Area.Column1 + (vertical ? 0 : at);
  if (row > kMaxRow || column > kMaxColumn) Raise(TErrorValue::Ref);
  return call.Evaluator().Book().CellValue(grid.Area.Sheet, static_cast<uint32_t>(row), static_cast<uint32_t>(column));
}

TValue Match(TCallContext& call) {
  TValue value = LookupValue(call, 0, true);
  TGrid source = GridOf(call.Evaluator(), call.Arg(1));
  double type = call.Count() < 3 ? 1 : call.Number(2);
  TLine line = VectorOf(source);
  int64_t found = type == 0  ? ExactSearch(line, value, HasWildcards(value))
                  : type > 0 ? SortedSearch(line, value, false)
                             : SortedSearch(line, value, true);
  if (found < 0) Raise(TErrorValue::NA);
  return Num(static_cast<double>(found + 1));
}

// --- XLOOKUP, XMATCH -------------------------------------------------------------------

// The position XLOOKUP and XMATCH find: match mode 0 exact, -1 exact or next
// smaller, 1 exact or next larger, 2 wildcards; search mode 1 first to last,
// -1 last to first, 2 binary over ascending, -2 binary over descending data.
int64_t ModernSearch(const TLine& line, const TValue& value, double matchMode, double searchMode) {
  if (matchMode != 0 && matchMode != -1 && matchMode != 1 && matchMode != 2) Raise(TErrorValue::Value);
  if (searchMode != 1 && searchMode != -1 && searchMode != 2 && searchMode != -2) Raise(TErrorValue::Value);
  if (std::fabs(searchMode) == 2) {
    if (matchMode == 2) Raise(TErrorValue::Value);
    bool descending = searchMode < 0;
    int64_t found = SortedSearch(line, value, descending);
    auto order = [&](int64_t i) { return Order(value, line.At(static_cast<uint32_t>(i))); };
    if (found >= 0 && order(found) == TOrder::Equal) return found;
    // Ascending: `found` holds the next smaller item and the one after it
    // the next larger; descending the other way round.
    bool wantSmaller = matchMode == -1;
    if (matchMode == 0) return -1;
    if (wantSmaller != descending) return found;
    int64_t next = found + 1;
    if (next < line.Size() && order(next) == (descending ? TOrder::After : TOrder::Before)) return next;
    return -1;
  }
  bool reverse = searchMode < 0;
  if (matchMode == 0 || matchMode == 2) return ExactSearch(line, value, matchMode == 2 && value.IsText(), reverse);
  int64_t best = -1, exact = -1;
  TValue bestItem;
  ForEachFilled(line, 0, line.Size(), [&](int64_t i, const TValue& item) {
    TOrder o = Order(value, item);
    if (o == TOrder::Equal) {
      exact = i;
      return !reverse;
    }
    if (matchMode < 0 ? o != TOrder::After : o != TOrder::Before) return false;
    // Of equal candidates the first met in the search's direction.
    int c = best < 0 ? 1 : CompareValues(item, bestItem) * (matchMode < 0 ? 1 : -1);
    if (c > 0 || (c == 0 && reverse)) {
      best = i;
      bestItem = item;
    }
    return false;
  });
  if (exact >= 0) return exact;
  return best;
}

TValue XMatch(TCallContext& call) {
  TValue value = LookupValue(call, 0);
  TGrid source = GridOf(call.Evaluator(), call.Arg(1));
  TLine line = VectorOf(source);
  int64_t found = ModernSearch(line, value, std::trunc(call.Number(2, 0)), std::trunc(call.Number(3, 1)));
  if (found < 0) Raise(TErrorValue::NA);
  return Num(static_cast<double>(found + 1));
}

TValue XLookup(TCallContext& call) {
  TValue value = LookupValue(call, 0);
  TGrid keys = GridOf(call.Evaluator(), call.Arg(1));
  if (keys.Rows > 1 && keys.Columns > 1) Raise(TErrorValue::Value);
  TLine line = VectorOf(keys);
  TValue results = call.Arg(2);
  TGrid grid = GridOf(call.Evaluator(), results);
  // One key reads either way: the results decide.
  if (keys.Rows == 1 && keys.Columns == 1) line.Vertical = grid.Rows == 1;
  // The results run along the searched line: the same number of rows for a
  // column searched, of columns for a row.
  if (line.Vertical ? grid.Rows != keys.Rows : grid.Columns != keys.Columns) Raise(TErrorValue::Value);
  int64_t found = ModernSearch(line, value, std::trunc(call.Number(4, 0)), std::trunc(call.Number(5, 1)));
  if (found < 0) {
    if (!call.Missing(3)) return call.Arg(3);
    Raise(TErrorValue::NA);
  }
  uint32_t at = static_cast<uint32_t>(found);
  if (grid.IsReference()) {
    TArea area = grid.Area;
    if (line.Vertical)
      area.Row1 = area.Row2 = area.Row1 + at;
    else
      area.Column1 = area.Column2 = area.Column1 + at;
    return TValue::FromArea(area);
  }
  auto array = std::make_shared<TArrayValue>();
  array->Rows = line.Vertical ? 1 : grid.Rows;
  array->Columns = line.Vertical ? grid.Columns : 1;
  for (uint32_t r = 0; r < array->Rows; ++r)
    for (uint32_t c = 0; c < array->Columns; ++c)
      array->Cells.push_back(line.Vertical ? grid.At(at, c) : grid.At(r, at));
  if (array->Cells.size() == 1) return array->Cells[0];
  return ArrayOf(std::move(array));
}

// --- INDEX, OFFSET, INDIRECT, ADDRESS ----------------------------------------------------

TValue Index(TCallContext& call) {
  TValue source = call.Arg(0);
  if (source.IsError()) Raise(source.Err);
  bool columnGiven = !call.Missing(2);
  double row = std::trunc(call.Number(1, 0)), column = std::trunc(call.Number(2, 0));
  double areaNumber = std::trunc(call.Number(3, 1));
  if (row < 0 || column < 0) Raise(TErrorValue::Value);
  uint32_t rows, columns;
  TArea area;
  if (source.Kind == TValue::vkReference) {
    if (areaNumber < 1 || areaNumber > static_cast<double>(source.AreaCount())) Raise(TErrorValue::Ref);
    area = source.AreaAt(static_cast<size_t>(areaNumber) - 1);
    rows = area.Rows();
    columns = area.Columns();
  } else {
    if (areaNumber != 1) Raise(TErrorValue::Ref);
    if (source.Kind != TValue::vkArray) {
      auto one = std::make_shared<TArrayValue>();
      one->Rows = one->Columns = 1;
      one->Cells.push_back(source);
      source = ArrayOf(std::move(one));
    }
    rows = source.Values->Rows;
    columns = source.Values->Columns;
  }
  // One index into a single row is the position along it.
  if (!columnGiven && rows == 1 && columns > 1) {
    column = row;
    row = 0;
  }
  if (row > rows || column > columns) Raise(TErrorValue::Ref);
  uint32_t r1 = row == 0 ? 0 : static_cast<uint32_t>(row) - 1, r2 = row == 0 ? rows - 1 : r1;
  uint32_t c1 = column == 0 ? 0 : static_cast<uint32_t>(column) - 1, c2 = column == 0 ? columns - 1 : c1;
  if (source.Kind == TValue::vkReference) {
    TArea result = area;
    result.Row1 = area.Row1 + r1;
    result.Row2 = area.Row1 + r2;
    result.Column1 = area.Column1 + c1;
    result.Column2 = area.Column1 + c2;
    return TValue::FromArea(result);
  }
  if (r1 == r2 && c1 == c2) return source.Values->At(r1, c1);
  auto part = std::make_shared<TArrayValue>();
  part->Rows = r2 - r1 + 1;
  part->Columns = c2 - c1 + 1;
  for (uint32_t r = r1; r <= r2; ++r)
    for (uint32_t c = c1; c <= c2; ++c) part->Cells.push_back(source.Values->At(r, c));
  return ArrayOf(std::move(part));
}

// A span of `size` cells from `start` moved by `by`; false when it leaves
// the sheet.
bool Span(double start, double by, double size, double limit, uint32_t& first, uint32_t& last) {
  double a = start + by, b = a + size - 1;
  if (a < 1 || b > limit) return false;
  first = static_cast<uint32_t>(a);
  last = static_cast<uint32_t>(b);
  return true;
}

TValue Offset(TCallContext& call) {
  TValue base = call.Arg(0);
  if (base.IsError()) Raise(base.Err);
  if (base.Kind != TValue::vkReference || base.Areas) Raise(TErrorValue::Value);
  double rows = std::trunc(call.Number(1)), columns = std::trunc(call.Number(2));
  double height = std::trunc(call.Number(3, base.Area.Rows())), width = std::trunc(call.Number(4, base.Area.Columns()));
  if (height < 1 || width < 1) Raise(TErrorValue::Ref);
  TArea area = base.Area;
  if (!Span(base.Area.Row1, rows, height, kMaxRow, area.Row1, area.Row2) ||
      !Span(base.Area.Column1, columns, width, kMaxColumn, area.Column1, area.Column2))
    Raise(TErrorValue::Ref);
  return TValue::FromArea(area);
}

// One end of an R1C1 reference: "R2C3", "R[-1]C", "R", "C[2]". `row` and
// `column` say which parts it has.
bool R1C1Part(std::string_view text, size_t& i, bool& row, bool& column, double& r, double& c, uint32_t hostRow,
              uint32_t hostColumn) {
  auto number = [&](double host, double& out) {
    if (i < text.size() && text[i] == '[') {
      size_t close = text.find(']', i);
      if (close == std::string_view::npos) return false;
      std::string_view inner = text.substr(i + 1, close - i - 1);
      bool negative = !inner.empty() && (inner[0] == '-' || inner[0] == '+');
      if (negative && inner[0] == '+') negative = false;
      if (!inner.empty() && (inner[0] == '-' || inner[0] == '+')) inner.remove_prefix(1);
      if (inner.empty() || inner.size() > 7 || inner.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
      double n = std::stod(std::string(inner));
      out = host + (negative ? -n : n);
      i = close + 1;
      return true;
    }
    size_t start = i;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 8) ++i;
    out = start == i ? host : std::stod(std::string(text.substr(start, i - start)));
    return start == i || out >= 1;
  };
  row = column = false;
  if (i < text.size() && AsciiUpper(text[i]) == 'R') {
    ++i;
    row = true;
    if (!number(hostRow, r)) return false;
  }
  if (i < text.size() && AsciiUpper(text[i]) == 'C') {
    ++i;
    column = true;
    if (!number(hostColumn, c)) return false;
  }
  return row || column;
}

TValue R1C1Reference(TCallContext& call, std::string_view text) {
  TEvaluator& evaluator = call.Evaluator();
  int32_t sheet = evaluator.Sheet();
  size_t bang = text.rfind('!');
  if (bang != std::string_view::npos) {
    std::string name(text.substr(0, bang));
    if (name.size() >= 2 && name.front() == '\'' && name.back() == '\'') {
      std::string unquoted;
      for (size_t k = 1; k + 1 < name.size(); ++k) {
        unquoted += name[k];
        if (name[k] == '\'' && k + 2 < name.size() && name[k + 1] == '\'') ++k;
      }
      name = unquoted;
    }
    sheet = evaluator.Book().FindSheet(name);
    if (sheet < 0) Raise(TErrorValue::Ref);
    text.remove_prefix(bang + 1);
  }
  size_t i = 0;
  bool row1, column1, row2 = false, column2 = false;
  double r1 = 0, c1 = 0, r2 = 0, c2 = 0;
  if (!R1C1Part(text, i, row1, column1, r1, c1, evaluator.Row(), evaluator.Column())) Raise(TErrorValue::Ref);
  bool range = i < text.size() && text[i] == ':';
  if (range) {
    ++i;
    if (!R1C1Part(text, i, row2, column2, r2, c2, evaluator.Row(), evaluator.Column())) Raise(TErrorValue::Ref);
    if (row1 != row2 || column1 != column2) Raise(TErrorValue::Ref);
  } else {
    r2 = r1;
    c2 = c1;
  }
  if (i != text.size()) Raise(TErrorValue::Ref);
  // "R2" is a whole row, "C3" a whole column.
  if (!column1) c1 = 1, c2 = kMaxColumn;
  if (!row1) r1 = 1, r2 = kMaxRow;
  for (double v : {r1, r2})
    if (v < 1 || v > kMaxRow) Raise(TErrorValue::Ref);
  for (double v : {c1, c2})
    if (v < 1 || v > kMaxColumn) Raise(TErrorValue::Ref);
  TArea area;
  area.Sheet = sheet;
  area.Row1 = static_cast<uint32_t>(std::min(r1, r2));
  area.Row2 = static_cast<uint32_t>(std::max(r1, r2));
  area.Column1 = static_cast<uint32_t>(std::min(c1, c2));
  area.Column2 = static_cast<uint32_t>(std::max(c1, c2));
  return TValue::FromArea(area);
}

TValue Indirect(TCallContext& call) {
  std::string text = call.Text(0);
  bool a1 = call.Count() < 2 || call.Boolean(1);
  size_t a = text.find_first_not_of(' '), b = text.find_last_not_of(' ');
  if (a == std::string::npos) Raise(TErrorValue::Ref);
  text = text.substr(a, b - a + 1);
  if (!a1) {
    try {
      return R1C1Reference(call, text);
    } catch (const TCalcError&) {
      // Defined names read the same in both styles.
      TFormula name;
      std::string error;
      if (!ParseFormula(text, name, error) || name.RootNode().Kind != TNodeKind::Name) throw;
    }
  }
  // Text naming a reference: cells, ranges, names and table parts, but
  // nothing computed and nothing in another workbook.
  TFormula formula;
  std::string error;
  if (!ParseFormula(text, formula, error)) Raise(TErrorValue::Ref);
  for (const TFormulaNode& node : formula.Nodes) {
    bool reference =
        node.Kind == TNodeKind::Reference || node.Kind == TNodeKind::Name || node.Kind == TNodeKind::Structured ||
        (node.Kind == TNodeKind::Operator &&
         (node.Op == TOperator::Range || node.Op == TOperator::Intersection || node.Op == TOperator::Union));
    if (!reference) Raise(TErrorValue::Ref);
  }
  TValue v = call.Evaluator().Eval(formula, formula.Root);
  if (v.IsError() && v.Err != TErrorValue::Name && v.Err != TErrorValue::Ref) Raise(v.Err);
  if (v.Kind != TValue::vkReference) Raise(TErrorValue::Ref);
  return v;
}

std::string ColumnName(uint32_t column) {
  std::string name;
  for (; column > 0; column = (column - 1) / 26) name.insert(name.begin(), static_cast<char>('A' + (column - 1) % 26));
  return name;
}

// Sheet names are quoted when they hold anything but letters, digits, "_"
// and ".", or begin with a digit.
std::string SheetPrefix(const std::string& sheet) {
  if (sheet.empty()) return "!";
  bool quote = sheet[0] >= '0' && sheet[0] <= '9';
  for (unsigned char ch : sheet)
    if (!(std::isalnum(ch) || ch == '_' || ch == '.' || ch >= 0x80)) quote = true;
  if (!quote) return sheet + "!";
  std::string quoted = "'";
  for (char ch : sheet) {
    quoted += ch;
    if (ch == '\'') quoted += '\'';
  }
  return quoted + "'!";
}

TValue Address(TCallContext& call) {
  double row = std::trunc(call.Number(0)), column = std::trunc(call.Number(1));
  double kind = std::trunc(call.Number(2, 1));
  bool a1 = call.Missing(3) || call.Boolean(3);
  if (row < 1 || row > kMaxRow || column < 1 || column > kMaxColumn) Raise(TErrorValue::Value);
  if (kind < 1 || kind > 4) Raise(TErrorValue::Value);
  bool rowAbsolute = kind == 1 || kind == 2, columnAbsolute = kind == 1 || kind == 3;
  uint32_t r = static_cast<uint32_t>(row), c = static_cast<uint32_t>(column);
  std::string text;
  if (a1) {
    text = (columnAbsolute ? "$" : "") + ColumnName(c) + (rowAbsolute ? "$" : "") + std::to_string(r);
  } else {
    text = "R" + (rowAbsolute ? std::to_string(r) : "[" + std::to_string(r) + "]") + "C" +
           (columnAbsolute ? std::to_string(c) : "[" + std::to_string(c) + "]");
  }
  if (!call.Missing(4)) text = SheetPrefix(call.Text(4)) + text;
  return TValue::FromText(std::move(text));
}

constexpr TFunctionInfo kLookup[] = {
    {"ADDRESS", 2, 5, &Address},         {"HLOOKUP", 3, 4, &HLookup}, {"INDEX", 1, 4, &Index},
    {"INDIRECT", 1, 2, &Indirect, true}, {"LOOKUP", 2, 3, &Lookup},   {"MATCH", 2, 3, &Match},
    {"OFFSET", 3, 5, &Offset, true},     {"VLOOKUP", 3, 4, &VLookup}, {"XLOOKUP", 3, 6, &XLookup},
    {"XMATCH", 2, 4, &XMatch},
};

}  // namespace

std::span<const TFunctionInfo> LookupFunctions() { return kLookup; }

}  // namespace spreadsheet::calc
