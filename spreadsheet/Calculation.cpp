// Formula results: the workbook as the calculation engine reads it, and the
// computed values of formula cells, kept until a change makes them stale.
#include <algorithm>
#include <unordered_map>

#include "spreadsheet/Workbook.h"
#include "spreadsheet/calc/Evaluator.h"
#include "spreadsheet/calc/Functions.h"

namespace spreadsheet {

using calc::TValue;

namespace {

// Formulas that read formulas that read formulas... deeper than this are
// computed from the bottom up instead of by recursion.
constexpr int kMaxDepth = 300;
// A chain of that many postponed cells is treated as circular.
constexpr size_t kMaxPending = 1u << 20;

struct TCellKey {
  int32_t Sheet;
  uint32_t Row, Column;
  bool operator==(const TCellKey&) const = default;
};

// Puts a computed result into the cell as its cached value; true when that
// changed what the file says.
bool StoreResult(TSheet& sheet, TCell& cell, const TValue& v) {
  switch (v.Kind) {
    case TValue::vkBlank:
    case TValue::vkNumber: {
      double n = v.IsBlank() ? 0 : v.Number;
      if (cell.Kind == TCellKind::Number && cell.V.Number == n) return false;
      cell.Kind = TCellKind::Number;
      cell.V.Number = n;
      return true;
    }
    case TValue::vkBoolean: {
      if (cell.Kind == TCellKind::Boolean && cell.V.Number == v.Number) return false;
      cell.Kind = TCellKind::Boolean;
      cell.V.Number = v.Number;
      return true;
    }
    case TValue::vkText:
      if (cell.Kind == TCellKind::Text && sheet.Pool[cell.V.Index] == v.String) return false;
      cell.Kind = TCellKind::Text;
      cell.V.Index = sheet.AddText(v.String);
      return true;
    case TValue::vkError: {
      std::string text(calc::ErrorText(v.Err));
      if (cell.Kind == TCellKind::Error && sheet.Pool[cell.V.Index] == text) return false;
      cell.Kind = TCellKind::Error;
      cell.V.Index = sheet.AddText(std::move(text));
      return true;
    }
    default: return false;
  }
}

// Raised when recursion is too deep: the cell is computed first, then the
// formula that needed it again.
struct TPostpone {
  TCellKey Cell;
};

// The numbers of one long column apart from the rows: a total over it that
// is read again after a write walks one compact block instead of every
// row's cells. An entry is known while its cell holds a plain number or a
// computed numeric result; a write to the cell or the result going stale
// makes it unknown, and the next walk, taking the general path, knows it
// again. A cell added to the column drops the whole block.
struct TColumnNumbers {
  std::vector<uint32_t> Rows;
  std::vector<double> Numbers;
  std::vector<uint8_t> Known;
  bool Useful = false;   // enough of the column is numbers to be worth it
  uint32_t Walkers = 0;  // walks in progress (a formula in it may read it)
  size_t Find(uint32_t row) const {
    return static_cast<size_t>(std::lower_bound(Rows.begin(), Rows.end(), row) - Rows.begin());
  }
};
// Columns shorter than this are walked in the rows themselves.
constexpr uint32_t kColumnNumbersRows = 4096;

// Which computed formulas read which areas: a write finds the results it
// makes stale without looking at the others. Areas one column wide are kept
// per column sorted by first row (short ones for a binary search, long ones
// apart); wider areas in one list.
class TDependencies {
 public:
  // A formula computed with what it read; returns its record number.
  void Add(const TCellKey& formula, const std::vector<calc::TArea>& reads, bool dependsOnAll) {
    uint32_t id = static_cast<uint32_t>(FRecords.size());
    FRecords.push_back({formula, true});
    if (dependsOnAll) FEverything.push_back(id);
    for (const calc::TArea& a : reads) {
      if (a.Column1 != a.Column2) {
        FWide.push_back({a, id});
        continue;
      }
      TColumn& column = FColumns[ColumnKey(a.Sheet, a.Column1)];
      if (a.Row2 - a.Row1 < kShort) {
        // New spans wait in a small unsorted list, merged into the sorted
        // one in batches: recomputing one formula must not sort them all.
        column.Recent.push_back({a.Row1, a.Row2, id});
        if (column.Recent.size() >= kBatch) Merge(column);
      } else {
        column.Long.push_back({a.Row1, a.Row2, id});
      }
    }
  }

  // The formulas whose results depend on the cell; their records end.
  template <class F>
  void TakeReaders(int32_t sheet, uint32_t row, uint32_t column, F&& take) {
    auto found = FColumns.find(ColumnKey(sheet, column));
    if (found != FColumns.end()) {
      TColumn& c = found->second;
      for (const TSpan& r : c.Recent)
        if (r.Row1 <= row && r.Row2 >= row) End(r.Id, take);
      auto from = std::lower_bound(c.Short.begin(), c.Short.end(), row >= kShort ? row - kShort : 0,
                                   [](const TSpan& s, uint32_t r) { return s.Row1 < r; });
      for (auto it = from; it != c.Short.end() && it->Row1 <= row; ++it)
        if (it->Row2 >= row) End(it->Id, take);
      for (const TSpan& s : c.Long)
        if (s.Row1 <= row && s.Row2 >= row) End(s.Id, take);
    }
    for (const TWideArea& w : FWide)
      if (w.Area.Sheet == sheet && w.Area.Row1 <= row && w.Area.Row2 >= row && w.Area.Column1 <= column &&
          w.Area.Column2 >= column)
        End(w.Id, take);
    for (uint32_t id : FEverything) End(id, take);
  }

  void Clear() {
    if (FRecords.empty()) return;
    FRecords = {};
    FColumns = {};
    FWide = {};
    FEverything = {};
  }

 private:
  static constexpr uint32_t kShort = 64;
  static constexpr size_t kBatch = 256;
  struct TRecord {
    TCellKey Formula;
    bool Live;
  };
  struct TSpan {
    uint32_t Row1, Row2, Id;
  };
  struct TColumn {
    std::vector<TSpan> Short, Long, Recent;
  };
  static void Merge(TColumn& c) {
    auto byRow = [](const TSpan& a, const TSpan& b) { return a.Row1 < b.Row1; };
    std::sort(c.Recent.begin(), c.Recent.end(), byRow);
    size_t middle = c.Short.size();
    c.Short.insert(c.Short.end(), c.Recent.begin(), c.Recent.end());
    std::inplace_merge(c.Short.begin(), c.Short.begin() + static_cast<std::ptrdiff_t>(middle), c.Short.end(), byRow);
    c.Recent.clear();
  }
  struct TWideArea {
    calc::TArea Area;
    uint32_t Id;
  };
  static uint64_t ColumnKey(int32_t sheet, uint32_t column) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(sheet)) << 32) | column;
  }
  template <class F>
  void End(uint32_t id, F&& take) {
    if (!FRecords[id].Live) return;
    FRecords[id].Live = false;
    take(FRecords[id].Formula);
  }

  std::vector<TRecord> FRecords;
  std::unordered_map<uint64_t, TColumn> FColumns;
  std::vector<TWideArea> FWide;
  std::vector<uint32_t> FEverything;  // volatile formulas and those that read the used range
};

}  // namespace

class TCalculation final : public calc::TCalcBook {
 public:
  explicit TCalculation(TWorkbookFile& file) : F(file) {}

  // The formula result of a cell; false when the engine cannot compute it
  // (the stored value stands). Results are kept in the cells themselves.
  bool Result(TSheet& sheet, uint32_t row, uint32_t column, TValue& out) {
    int32_t index = IndexOf(sheet);
    if (index < 0) return false;
    TCellKey key{index, row, column};
    // A cell of an array formula's range holds what its first cell computes.
    const TCell* asked = sheet.FindCell(row, column);
    if (asked && !sheet.HasFormula(*asked) && sheet.HasArrayFormulas)
      if (const TArrayBlock* block = BlockAt(index, sheet, row, column)) key = {index, block->Row, block->Column};
    std::vector<TCellKey> pending{key};
    while (!pending.empty()) {
      if (pending.size() > kMaxPending) {
        // Deeper than anything but a loop: the cell reads as 0.
        const TCellKey& deepest = pending.back();
        TSheet* deepestSheet = SheetAt(deepest.Sheet);
        if (FormulaMarkAt(deepest) && deepestSheet) {
          Store(*deepestSheet, deepest.Row, deepest.Column, TValue::FromNumber(0));
          if (TCalcMark* mark = FormulaMarkAt(deepest)) SetState(*mark, csComputed);
        }
        pending.pop_back();
        continue;
      }
      try {
        Compute(pending.back());
        pending.pop_back();
      } catch (const TPostpone& p) {
        pending.push_back(p.Cell);
      }
    }
    TCell* cell = sheet.FindCell(row, column);
    if (!cell || !cell->Extra || StateOf(sheet.MarkOf(*cell)) != csComputed) return false;
    out = StoredValue(sheet, *cell, row);
    return true;
  }

  // A cell's value changed: the results that read it, and in turn those
  // that read them, are stale; the others stay.
  void CellChanged(const TSheet& sheet, uint32_t row, uint32_t column) {
    int32_t index = IndexOf(sheet);
    FLastColumns.erase(index);
    if (index < 0) return;
    std::vector<TCellKey> stale{TCellKey{index, row, column}};
    while (!stale.empty()) {
      TCellKey cell = stale.back();
      stale.pop_back();
      ForgetNumber(cell.Sheet, cell.Row, cell.Column);
      FDependencies.TakeReaders(cell.Sheet, cell.Row, cell.Column, [&](const TCellKey& formula) {
        if (TCalcMark* mark = FormulaMarkAt(formula)) SetState(*mark, csStale);
        stale.push_back(formula);
        // The other cells of an array formula hold its result too.
        TSheet* sheet = SheetAt(formula.Sheet);
        if (sheet && sheet->HasArrayFormulas)
          if (const TArrayBlock* block = BlockAt(formula.Sheet, *sheet, formula.Row, formula.Column))
            for (uint32_t r = block->Range.First.Row; r <= block->Range.Last.Row; ++r)
              for (uint32_t c = block->Range.First.Column; c <= block->Range.Last.Column; ++c)
                if (r != formula.Row || c != formula.Column) stale.push_back({formula.Sheet, r, c});
      });
    }
  }

  void Forget() {
    FDependencies.Clear();
    if (++FRound == 0) {
      // The round wrapped: states of earlier rounds must not come back.
      for (const auto& sheet : F.FSheets)
        for (TCalcMark& mark : sheet->CalcMarks) mark.State = csStale;
    }
    if (!FSharedMasters.empty()) FSharedMasters.clear();
    if (!FArrayBlocks.empty()) FArrayBlocks.clear();
    if (!FLastColumns.empty()) FLastColumns.clear();
    if (!FColumnNumbers.empty()) FColumnNumbers.clear();
    FNames.reset();
  }

  // Cells written since the last save, per sheet as one bounding box: what
  // a formula the engine cannot compute reads may have changed when its
  // references meet a box.
  struct TBox {
    uint32_t Row1 = UINT32_MAX, Column1 = UINT32_MAX, Row2 = 0, Column2 = 0;
  };
  void NoteChanged(const TSheet& sheet, uint32_t row1, uint32_t column1, uint32_t row2, uint32_t column2) {
    TBox& box = FChanged[&sheet];
    box.Row1 = std::min(box.Row1, row1);
    box.Column1 = std::min(box.Column1, column1);
    box.Row2 = std::max(box.Row2, row2);
    box.Column2 = std::max(box.Column2, column2);
  }
  void ForgetChanges() { FChanged.clear(); }

  // Whether a formula reads anything that changed since the last save.
  bool ReadsChanged(int32_t sheetIndex, const std::string& text) {
    if (FChanged.empty()) return false;
    const calc::TFormula* formula = Parsed(text);
    if (!formula) return true;
    for (const calc::TFormulaNode& node : formula->Nodes) {
      if (node.Kind == calc::TNodeKind::Name || node.Kind == calc::TNodeKind::Structured) return true;
      if (node.Kind != calc::TNodeKind::Reference) continue;
      int32_t target = node.Sheet.empty() ? sheetIndex : FindSheet(node.Sheet);
      if (target < 0 || static_cast<size_t>(target) >= F.FSheets.size()) continue;
      auto box = FChanged.find(F.FSheets[static_cast<size_t>(target)].get());
      if (box == FChanged.end()) continue;
      uint32_t r1 = std::min(node.First.Row, node.Last.Row), r2 = std::max(node.First.Row, node.Last.Row);
      uint32_t c1 = std::min(node.First.Column, node.Last.Column), c2 = std::max(node.First.Column, node.Last.Column);
      if (r1 <= box->second.Row2 && r2 >= box->second.Row1 && c1 <= box->second.Column2 && c2 >= box->second.Column1)
        return true;
    }
    return false;
  }

  // The formula of a cell as computed (a shared formula's child's own).
  bool FormulaText(TSheet& sheet, uint32_t row, uint32_t column, std::string& text) {
    bool array = false;
    return FormulaOf(IndexOf(sheet), sheet, row, column, text, array);
  }
  int32_t SheetIndex(const TSheet& sheet) const { return IndexOf(sheet); }

  // --- TCalcBook ---

  int32_t FindSheet(std::string_view name) override {
    for (size_t i = 0; i < F.FSheets.size(); ++i)
      if (SameSheetName(F.FSheets[i]->Name, name)) return static_cast<int32_t>(i);
    return -1;
  }

  TValue CellValue(int32_t sheetIndex, uint32_t row, uint32_t column) override {
    NoteReference(calc::TArea{sheetIndex, row, column, row, column});
    TSheet* sheet = SheetAt(sheetIndex);
    if (!sheet) return TValue::FromError(calc::TErrorValue::Ref);
    const TCell* cell = sheet->FindCell(row, column);
    if (!cell) return {};
    return ValueOf(sheetIndex, *sheet, *cell, row);
  }

  void ForEachCell(const calc::TArea& area,
                   const std::function<void(uint32_t, uint32_t, const TValue&)>& visit) override {
    NoteReference(area);
    TSheet* sheet = SheetAt(area.Sheet);
    if (!sheet) return;
    // (Not where array formulas are: computing one fills cells of its range
    // that no write announces.)
    if (area.Column1 == area.Column2 && area.Row2 - area.Row1 >= kColumnNumbersRows && !sheet->HasArrayFormulas) {
      TColumnNumbers& numbers = ColumnNumbersOf(area.Sheet, *sheet, area.Column1);
      if (numbers.Useful) {
        ForEachInColumn(area, *sheet, numbers, visit);
        return;
      }
    }
    std::vector<TRow>& rows = sheet->Rows();
    const bool arrays = sheet->HasArrayFormulas;
    auto r = std::lower_bound(rows.begin(), rows.end(), area.Row1,
                              [](const TRow& row, uint32_t number) { return row.Number < number; });
    // Computing a formula may add nothing to the rows, but it may settle
    // them; positions are taken again by number.
    for (; r != rows.end() && r->Number <= area.Row2; ++r) {
      uint32_t number = r->Number;
      auto c = std::lower_bound(r->Cells.begin(), r->Cells.end(), area.Column1,
                                [](const TCell& cell, uint32_t column) { return cell.Column < column; });
      size_t first = static_cast<size_t>(c - r->Cells.begin());
      TValue v;
      for (size_t i = first; i < r->Cells.size() && r->Cells[i].Column <= area.Column2; ++i) {
        const TCell& cell = r->Cells[i];
        uint32_t column = cell.Column;
        // Plain numbers and computed results, the bulk of most sheets,
        // without the general path (which a cell of an array formula's range
        // takes: its number may be the stale result of another cell).
        if (IsCurrentNumber(*sheet, cell, arrays)) {
          v.Kind = TValue::vkNumber;
          v.Number = cell.V.Number;
        } else {
          TCell copy = cell;  // computing a formula may move the cells
          v = ValueOf(area.Sheet, *sheet, copy, number);
        }
        if (!v.IsBlank()) visit(number, column, v);
      }
    }
  }

  // Plain numbers and computed results, the bulk of most sheets, read
  // without the general path (which a cell of an array formula's range
  // takes: its number may be the stale result of another cell).
  bool IsCurrentNumber(const TSheet& sheet, const TCell& cell, bool arrays) const {
    return cell.Kind == TCellKind::Number && ((cell.Extra && StateOf(sheet.MarkOf(cell)) == csComputed) ||
                                              (!arrays && (!cell.Extra || !sheet.HasFormula(cell))));
  }

  TColumnNumbers& ColumnNumbersOf(int32_t sheetIndex, TSheet& sheet, uint32_t column) {
    auto [found, added] = FColumnNumbers.try_emplace(ColumnNumbersKey(sheetIndex, column));
    TColumnNumbers& numbers = found->second;
    if (!added) return numbers;
    const bool arrays = sheet.HasArrayFormulas;
    size_t others = 0;
    for (const TRow& row : sheet.Rows()) {
      auto c = std::lower_bound(row.Cells.begin(), row.Cells.end(), column,
                                [](const TCell& cell, uint32_t number) { return cell.Column < number; });
      if (c == row.Cells.end() || c->Column != column || (c->Kind == TCellKind::Blank && !c->Extra)) continue;
      bool known = IsCurrentNumber(sheet, *c, arrays);
      if (!known && !sheet.HasFormula(*c)) ++others;
      numbers.Rows.push_back(row.Number);
      numbers.Numbers.push_back(known ? c->V.Number : 0);
      numbers.Known.push_back(known ? 1 : 0);
    }
    numbers.Useful = others * 8 <= numbers.Rows.size();
    if (!numbers.Useful) numbers = TColumnNumbers{};
    return numbers;
  }

  void ForEachInColumn(const calc::TArea& area, TSheet& sheet, TColumnNumbers& numbers,
                       const std::function<void(uint32_t, uint32_t, const TValue&)>& visit) {
    const uint32_t column = area.Column1;
    const bool arrays = sheet.HasArrayFormulas;
    struct TWalk {
      uint32_t& Walkers;
      explicit TWalk(uint32_t& walkers) : Walkers(walkers) { ++Walkers; }
      ~TWalk() { --Walkers; }
    } walk(numbers.Walkers);
    size_t walked = 0, unknown = 0;
    TValue v;
    for (size_t i = numbers.Find(area.Row1); i < numbers.Rows.size() && numbers.Rows[i] <= area.Row2; ++i) {
      ++walked;
      const uint32_t row = numbers.Rows[i];
      if (numbers.Known[i]) {
        v.Kind = TValue::vkNumber;
        v.Number = numbers.Numbers[i];
        visit(row, column, v);
        continue;
      }
      const TCell* cell = sheet.FindCell(row, column);
      if (!cell) continue;
      TCell copy = *cell;  // computing a formula may move the cells
      v = ValueOf(area.Sheet, sheet, copy, row);
      if (const TCell* now = sheet.FindCell(row, column); now && IsCurrentNumber(sheet, *now, arrays)) {
        numbers.Numbers[i] = now->V.Number;
        numbers.Known[i] = 1;
      } else {
        ++unknown;
      }
      if (!v.IsBlank()) visit(row, column, v);
    }
    // Mostly results other than numbers (text, say): the rows serve better.
    if (unknown * 8 > walked && numbers.Walkers == 1) {
      numbers.Rows = {};
      numbers.Numbers = {};
      numbers.Known = {};
      numbers.Useful = false;
    }
  }

  // A cell's value is about to change, or its result went stale.
  void ForgetNumber(int32_t sheetIndex, uint32_t row, uint32_t column) {
    if (FColumnNumbers.empty()) return;
    auto found = FColumnNumbers.find(ColumnNumbersKey(sheetIndex, column));
    if (found == FColumnNumbers.end() || !found->second.Useful) return;
    TColumnNumbers& numbers = found->second;
    size_t i = numbers.Find(row);
    if (i < numbers.Rows.size() && numbers.Rows[i] == row)
      numbers.Known[i] = 0;
    else
      FColumnNumbers.erase(found);  // a new cell in the column
  }
  static uint64_t ColumnNumbersKey(int32_t sheet, uint32_t column) {
    return (static_cast<uint64_t>(static_cast<uint32_t>(sheet)) << 32) | column;
  }

  // Functions clamp the areas they were given to the used extent; a write
  // beyond it lies in such an area, which the formula's references record,
  // so the extent itself is no dependency.
  uint32_t LastRow(int32_t sheetIndex) override {
    TSheet* sheet = SheetAt(sheetIndex);
    return sheet ? sheet->LastRowNumber() : 0;
  }

  uint32_t LastColumn(int32_t sheetIndex) override {
    auto found = FLastColumns.find(sheetIndex);
    if (found != FLastColumns.end()) return found->second;
    uint32_t last = 0;
    if (TSheet* sheet = SheetAt(sheetIndex))
      for (const TRow& row : sheet->Rows())
        if (!row.Cells.empty()) last = std::max(last, row.Cells.back().Column);
    FLastColumns[sheetIndex] = last;
    return last;
  }

  bool DefinedName(std::string_view name, int32_t hostSheet, std::string& formula) override {
    if (!FNames) {
      FNames = std::make_unique<std::vector<TName>>();
      pugi::xml_node root = F.Part(F.FWorkbookPart).Doc->document_element();
      for (pugi::xml_node n : Children(Child(root, "definedNames"), "definedName")) {
        pugi::xml_attribute local = n.attribute("localSheetId");
        FNames->push_back({n.attribute("name").value(), local ? local.as_int() : -1, n.child_value()});
      }
    }
    const TName* global = nullptr;
    for (const TName& n : *FNames) {
      if (!SameSheetName(n.Name, name)) continue;
      if (n.Sheet == hostSheet) {
        formula = n.Formula;
        return true;
      }
      if (n.Sheet < 0) global = &n;
    }
    if (!global) return false;
    formula = global->Formula;
    return true;
  }

  bool FindTable(std::string_view name, int32_t sheetIndex, uint32_t row, uint32_t column,
                 calc::TTableInfo& info) override {
    for (size_t s = 0; s < F.FSheets.size(); ++s) {
      TSheet& sheet = *F.FSheets[s];
      if (sheet.Deleted || !sheet.IsWorksheet) continue;
      if (name.empty() && static_cast<int32_t>(s) != sheetIndex) continue;
      F.EnsureLoaded(sheet);
      for (const TRelationship& rel : F.SheetRelationships(sheet)) {
        std::string target = ResolveTarget(sheet.PartName, rel.Target);
        if (rel.External || !HasType(rel, "/table") || !F.HasPart(target)) continue;
        pugi::xml_node table = F.Part(target).Doc->document_element();
        TRangeRef range;
        if (!ParseRangeRef(table.attribute("ref").value(), range)) continue;
        bool named = !name.empty() && (SameSheetName(table.attribute("displayName").value(), name) ||
                                       SameSheetName(table.attribute("name").value(), name));
        bool holds = name.empty() && row >= range.First.Row && row <= range.Last.Row && column >= range.First.Column &&
                     column <= range.Last.Column;
        if (!named && !holds) continue;
        info.Sheet = static_cast<int32_t>(s);
        info.Row1 = range.First.Row;
        info.Column1 = range.First.Column;
        info.Row2 = range.Last.Row;
        info.Column2 = range.Last.Column;
        info.HeaderRows = table.attribute("headerRowCount").as_uint(1) ? 1 : 0;
        info.TotalsRows = table.attribute("totalsRowCount").as_uint(0) ? 1 : 0;
        info.ColumnNames.clear();
        for (pugi::xml_node c : Children(Child(table, "tableColumns"), "tableColumn"))
          info.ColumnNames.push_back(c.attribute("name").value());
        return true;
      }
    }
    return false;
  }

  bool RowHidden(int32_t sheetIndex, uint32_t row) override {
    TSheet* sheet = SheetAt(sheetIndex);
    if (!sheet) return false;
    const TRow* r = sheet->FindRow(row);
    return r && GetRawAttr(r->Attrs.Text(), "hidden") == "1";
  }

  const calc::TFormula* CellFormula(int32_t sheetIndex, uint32_t row, uint32_t column) override {
    TSheet* sheet = SheetAt(sheetIndex);
    std::string text;
    bool array = false;
    if (!sheet || !FormulaOf(sheetIndex, *sheet, row, column, text, array)) return nullptr;
    return Parsed(text);
  }

  void NoteReference(const calc::TArea& area) override {
    if (!FCaptures.empty()) FCaptures.back().Reads.push_back(area);
  }
  void NoteVolatile() override {
    if (!FCaptures.empty()) FCaptures.back().Everything = true;
  }

  bool Date1904() override {
    if (FDate1904 < 0) {
      pugi::xml_node root = F.Part(F.FWorkbookPart).Doc->document_element();
      pugi::xml_attribute a = Child(root, "workbookPr").attribute("date1904");
      FDate1904 = a && (std::string_view(a.value()) == "1" || std::string_view(a.value()) == "true") ? 1 : 0;
    }
    return FDate1904 == 1;
  }

 private:
  struct TName {
    std::string Name;
    int32_t Sheet;
    std::string Formula;
  };
  struct TMaster {
    uint32_t Row, Column;
    std::string Formula;
  };

  int32_t IndexOf(const TSheet& sheet) const {
    for (size_t i = 0; i < F.FSheets.size(); ++i)
      if (F.FSheets[i].get() == &sheet) return static_cast<int32_t>(i);
    return -1;
  }

  TSheet* SheetAt(int32_t index) {
    if (index < 0 || static_cast<size_t>(index) >= F.FSheets.size()) return nullptr;
    TSheet& sheet = *F.FSheets[static_cast<size_t>(index)];
    if (sheet.Deleted || !sheet.IsWorksheet) return nullptr;
    F.EnsureLoaded(sheet);
    return &sheet;
  }

  // The stored value of a cell, or its formula's result.
  TValue ValueOf(int32_t sheetIndex, TSheet& sheet, const TCell& cell, uint32_t row) {
    if (cell.Extra && sheet.HasFormula(cell)) {
      TCalcState state = StateOf(sheet.MarkOf(cell));
      if (state == csComputing) return TValue::FromNumber(0);  // circular, as without iteration
      if (state == csStale) {
        TCellKey key{sheetIndex, row, cell.Column};
        if (FDepth >= kMaxDepth) throw TPostpone{key};
        Compute(key);
        const TCell* now = sheet.FindCell(row, cell.Column);
        return now ? StoredValue(sheet, *now, row) : TValue();
      }
    }
    if (sheet.HasArrayFormulas)
      if (const TArrayBlock* block = BlockAt(sheetIndex, sheet, row, cell.Column)) {
        TCellKey master{sheetIndex, block->Row, block->Column};
        TCalcMark* first = FormulaMarkAt(master);
        TCalcState state = first ? StateOf(*first) : csComputed;
        if (state == csComputing) return TValue::FromNumber(0);
        if (state == csStale) {
          if (FDepth >= kMaxDepth) throw TPostpone{master};
          Compute(master);
          const TCell* now = sheet.FindCell(row, cell.Column);
          return now ? StoredValue(sheet, *now, row) : TValue();
        }
      }
    return StoredValue(sheet, cell, row);
  }

  // An array formula over several cells: its range and its first cell,
  // which holds the formula.
  struct TArrayBlock {
    TRangeRef Range;
    uint32_t Row, Column;
  };
  const std::vector<TArrayBlock>& Blocks(int32_t sheetIndex, TSheet& sheet) {
    auto found = FArrayBlocks.find(sheetIndex);
    if (found != FArrayBlocks.end()) return found->second;
    std::vector<TArrayBlock> blocks;
    for (const TRow& r : sheet.Rows())
      for (const TCell& c : r.Cells) {
        const TCellExtra* e = c.Extra ? &sheet.Extras[c.Extra - 1] : nullptr;
        TRangeRef range;
        if (!e || GetRawAttr(e->FormulaAttrs, "t") != "array" ||
            !ParseRangeRef(GetRawAttr(e->FormulaAttrs, "ref"), range))
          continue;
        if (range.First.Row != range.Last.Row || range.First.Column != range.Last.Column)
          blocks.push_back({range, r.Number, c.Column});
      }
    return FArrayBlocks.emplace(sheetIndex, std::move(blocks)).first->second;
  }
  const TArrayBlock* BlockAt(int32_t sheetIndex, TSheet& sheet, uint32_t row, uint32_t column) {
    for (const TArrayBlock& b : Blocks(sheetIndex, sheet))
      if (row >= b.Range.First.Row && row <= b.Range.Last.Row && column >= b.Range.First.Column &&
          column <= b.Range.Last.Column)
        return &b;
    return nullptr;
  }

  // The calculation mark of the cell at a key when it has a formula's
  // extras (nil otherwise).
  TCalcMark* FormulaMarkAt(const TCellKey& key) {
    if (key.Sheet < 0 || static_cast<size_t>(key.Sheet) >= F.FSheets.size()) return nullptr;
    TSheet& sheet = *F.FSheets[static_cast<size_t>(key.Sheet)];
    if (!sheet.Loaded) return nullptr;
    TCell* cell = sheet.FindCell(key.Row, key.Column);
    return cell && cell->Extra ? &sheet.MarkOf(*cell) : nullptr;
  }
  TCalcState StateOf(const TCalcMark& mark) const { return mark.Round == FRound ? mark.State : csStale; }
  void SetState(TCalcMark& mark, TCalcState state) const {
    mark.State = state;
    mark.Round = FRound;
  }

  TValue StoredValue(TSheet& sheet, const TCell& cell, uint32_t row) {
    switch (cell.Kind) {
      case TCellKind::Blank: return {};
      case TCellKind::Number: return TValue::FromNumber(cell.V.Number);
      case TCellKind::Boolean: return TValue::FromBoolean(cell.V.Number != 0);
      case TCellKind::Shared: return TValue::FromText(F.SharedString(cell.V.Index));
      case TCellKind::Inline:
      case TCellKind::Text: return TValue::FromText(std::string(sheet.Pool[cell.V.Index]));
      case TCellKind::Error: {
        calc::TErrorValue e = calc::ErrorFromText(sheet.Pool[cell.V.Index]);
        return TValue::FromError(e == calc::TErrorValue::None ? calc::TErrorValue::Value : e);
      }
      case TCellKind::InlineRich:
      case TCellKind::IsoDate: {
        rtl::Variant v = F.GetValue(sheet, row, cell.Column);
        if (v.VType() == rtl::varDate) return TValue::FromNumber(v.VDate());
        return TValue::FromText(rtl::UnicodeToUtf8(v.AsUnicodeString()));
      }
    }
    return {};
  }

  // The formula text of a cell: its own, or its shared formula's master's
  // moved to the cell.
  bool FormulaOf(int32_t sheetIndex, TSheet& sheet, uint32_t row, uint32_t column, std::string& text, bool& array) {
    TCell* cell = sheet.FindCell(row, column);
    if (!cell) return false;
    TCellExtra* extra = sheet.ExtraOf(*cell);
    if (!extra) return false;
    std::string type = GetRawAttr(extra->FormulaAttrs, "t");
    array = type == "array";
    if (!extra->Formula.empty()) {
      text = extra->Formula;
      return true;
    }
    if (type != "shared") return false;
    std::string si = GetRawAttr(extra->FormulaAttrs, "si");
    auto& masters = FSharedMasters[sheetIndex];
    if (masters.empty()) {
      for (const TRow& r : sheet.Rows())
        for (const TCell& c : r.Cells)
          if (const TCellExtra* e = c.Extra ? &sheet.Extras[c.Extra - 1] : nullptr;
              e && !e->Formula.empty() && GetRawAttr(e->FormulaAttrs, "t") == "shared")
            masters.emplace(GetRawAttr(e->FormulaAttrs, "si"), TMaster{r.Number, c.Column, e->Formula});
      if (masters.empty()) masters.emplace("", TMaster{});
    }
    auto m = masters.find(si);
    if (m == masters.end() || m->second.Formula.empty()) return false;
    text = TranslateFormula(m->second.Formula, static_cast<int32_t>(row) - static_cast<int32_t>(m->second.Row),
                            static_cast<int32_t>(column) - static_cast<int32_t>(m->second.Column));
    return true;
  }

  const calc::TFormula* Parsed(const std::string& text) {
    auto found = FParsed.find(text);
    if (found != FParsed.end()) return found->second.get();
    auto formula = std::make_unique<calc::TFormula>();
    std::string error;
    if (!calc::ParseFormula(text, *formula, error)) formula.reset();
    return FParsed.emplace(text, std::move(formula)).first->second.get();
  }

  void Compute(const TCellKey& key) {
    TSheet* sheet = SheetAt(key.Sheet);
    TCell* cell = sheet ? sheet->FindCell(key.Row, key.Column) : nullptr;
    if (!cell || !cell->Extra || StateOf(sheet->MarkOf(*cell)) == csComputed ||
        StateOf(sheet->MarkOf(*cell)) == csNotComputable)
      return;
    std::string text;
    bool array = false;
    if (!FormulaOf(key.Sheet, *sheet, key.Row, key.Column, text, array)) {
      SetState(sheet->MarkOf(*cell), csNotComputable);
      return;
    }
    const calc::TFormula* formula = Parsed(text);
    // Marks the cell as being computed (a formula that reaches it again is
    // circular) and collects what it reads.
    struct TMark {
      TCalculation& C;
      TCellKey Key;
      TMark(TCalculation& c, TCellKey key) : C(c), Key(key) {
        SetState(csComputing);
        C.FCaptures.emplace_back();
        ++C.FDepth;
      }
      ~TMark() {
        // Left by an exception (postponed): computed again later.
        if (TCalcMark* mark = C.FormulaMarkAt(Key); mark && C.StateOf(*mark) == csComputing) C.SetState(*mark, csStale);
        C.FCaptures.pop_back();
        --C.FDepth;
      }
      void SetState(TCalcState state) {
        if (TCalcMark* mark = C.FormulaMarkAt(Key)) C.SetState(*mark, state);
      }
    };
    TValue result;
    bool computable = formula != nullptr;
    TCapture capture;
    const TArrayBlock* block = nullptr;
    if (computable) {
      TMark mark(*this, key);
      try {
        calc::TEvaluator evaluator(*this, key.Sheet, key.Row, key.Column);
        evaluator.SetArrayMode(array);
        block = array && sheet->HasArrayFormulas ? BlockAt(key.Sheet, *sheet, key.Row, key.Column) : nullptr;
        result = block ? evaluator.EvaluateArray(*formula) : evaluator.Evaluate(*formula);
      } catch (const calc::TNotComputable&) {
        computable = false;
      }
      capture = std::move(FCaptures.back());
      mark.SetState(computable ? csComputed : csNotComputable);
    } else if (TCalcMark* formulaMark = FormulaMarkAt(key)) {
      SetState(*formulaMark, csNotComputable);
    }
    FDependencies.Add(key, capture.Reads, capture.Everything || !computable);
    if (!computable) return;
    if (!block) {
      Store(*sheet, key.Row, key.Column, result);
      return;
    }
    // Every cell of the range takes its element: a single row or column
    // repeats across the range, cells beyond the result read #N/A.
    for (uint32_t r = block->Range.First.Row; r <= block->Range.Last.Row; ++r)
      for (uint32_t c = block->Range.First.Column; c <= block->Range.Last.Column; ++c) {
        TValue element = result;
        if (result.Kind == TValue::vkArray) {
          const calc::TArrayValue& a = *result.Values;
          uint32_t i = a.Rows == 1 ? 0 : r - block->Range.First.Row;
          uint32_t j = a.Columns == 1 ? 0 : c - block->Range.First.Column;
          element = i < a.Rows && j < a.Columns ? a.At(i, j) : TValue::FromError(calc::TErrorValue::NA);
          if (element.IsBlank()) element = TValue::FromNumber(0);
        }
        Store(*sheet, r, c, element);
      }
  }

  // A computed result into a cell (which may have moved in memory while
  // others were computed).
  void Store(TSheet& sheet, uint32_t row, uint32_t column, const TValue& result) {
    TCell* target = sheet.FindCell(row, column);
    if (target && StoreResult(sheet, *target, result)) {
      sheet.ResultsChanged = true;
      NoteChanged(sheet, row, column, row, column);
    }
  }

  TWorkbookFile& F;
  std::unordered_map<std::string, std::unique_ptr<calc::TFormula>> FParsed;
  std::unordered_map<int32_t, std::unordered_map<std::string, TMaster>> FSharedMasters;
  std::unordered_map<int32_t, uint32_t> FLastColumns;
  std::unordered_map<int32_t, std::vector<TArrayBlock>> FArrayBlocks;
  std::unordered_map<uint64_t, TColumnNumbers> FColumnNumbers;  // node-based: entries stay put
  std::unique_ptr<std::vector<TName>> FNames;
  std::unordered_map<const TSheet*, TBox> FChanged;
  // What each formula being computed reads, innermost last.
  struct TCapture {
    std::vector<calc::TArea> Reads;
    bool Everything = false;
  };
  std::vector<TCapture> FCaptures;
  TDependencies FDependencies;
  int FDate1904 = -1;
  int FDepth = 0;
  // Cell states of other rounds read as stale; cells start in round 0.
  uint16_t FRound = 1;
};

void TWorkbookFile::TCalculationDeleter::operator()(TCalculation* calculation) const { delete calculation; }

TCalculation& TWorkbookFile::Calculation() {
  if (!FCalc) FCalc.reset(new TCalculation(*this));
  return *FCalc;
}

void TWorkbookFile::ForgetResults() {
  if (FCalc) FCalc->Forget();
}

void TWorkbookFile::CellChanged(const TSheet& sheet, uint32_t row, uint32_t column) {
  if (FCalc) FCalc->CellChanged(sheet, row, column);
}

bool TWorkbookFile::FormulaResult(TSheet& sheet, uint32_t row, uint32_t column, rtl::Variant& out) {
  TValue v;
  if (!Calculation().Result(sheet, row, column, v)) return false;
  switch (v.Kind) {
    case TValue::vkBlank: out = rtl::Variant(0.0); break;
    case TValue::vkNumber: {
      const TCell* cell = sheet.FindCell(row, column);
      if (cell && IsDateStyle(cell->Style) && v.Number >= -657434.0 && v.Number < 2958466.0)
        out = rtl::Variant::FromDate(v.Number);
      else
        out = rtl::Variant(v.Number);
      break;
    }
    case TValue::vkText: out = rtl::Variant::FromOleStr(rtl::Utf8ToUnicode(v.String)); break;
    case TValue::vkBoolean: out = rtl::Variant(v.Number != 0); break;
    case TValue::vkError: out = ErrorVariant(std::string(calc::ErrorText(v.Err))); break;
    default: return false;
  }
  return true;
}

void TWorkbookFile::StoreFormulaResults() {
  TCalculation& calculation = Calculation();
  struct TUncomputed {
    TSheet* Sheet;
    uint32_t Row, Column;
    bool Dropped = false;
  };
  std::vector<TUncomputed> uncomputed;
  for (const auto& sheetPointer : FSheets) {
    TSheet& sheet = *sheetPointer;
    if (sheet.Deleted || !sheet.IsWorksheet) continue;
    EnsureLoaded(sheet);
    std::vector<std::pair<uint32_t, uint32_t>> formulas;
    for (const TRow& row : sheet.Rows())
      for (const TCell& cell : row.Cells)
        if (cell.Extra && sheet.HasFormula(cell)) formulas.emplace_back(row.Number, cell.Column);
    for (auto [row, column] : formulas) {
      TValue result;
      if (!calculation.Result(sheet, row, column, result)) uncomputed.push_back({&sheet, row, column});
    }
  }
  // Results are stored in the cells as they are computed.
  for (const auto& sheet : FSheets)
    if (sheet->ResultsChanged) {
      sheet->Modified = true;
      sheet->ResultsChanged = false;
    }
  // A formula the engine cannot compute keeps its cached value unless what
  // it reads changed: then no value is better than a wrong one. Dropping
  // one value may make others stale in turn.
  for (bool dropped = true; dropped;) {
    dropped = false;
    for (TUncomputed& u : uncomputed) {
      std::string text;
      if (u.Dropped) continue;
      TCell* cell = u.Sheet->FindCell(u.Row, u.Column);
      if (!cell || cell->Kind == TCellKind::Blank) continue;
      if (calculation.FormulaText(*u.Sheet, u.Row, u.Column, text) &&
          !calculation.ReadsChanged(calculation.SheetIndex(*u.Sheet), text))
        continue;
      cell->Kind = TCellKind::Blank;
      u.Dropped = dropped = true;
      u.Sheet->Modified = true;
      calculation.NoteChanged(*u.Sheet, u.Row, u.Column, u.Row, u.Column);
    }
  }
  calculation.ForgetChanges();
}

void TWorkbookFile::NoteChangedCells(const TSheet& sheet, uint32_t row1, uint32_t column1, uint32_t row2,
                                     uint32_t column2) {
  Calculation().NoteChanged(sheet, row1, column1, row2, column2);
}

}  // namespace spreadsheet
