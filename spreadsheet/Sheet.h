// One sheet of a workbook: compact cell storage (rows of column, style and
// value, no XML node per cell) and the rest of the worksheet XML, which is
// kept as a document and written back around the streamed cell data.
#pragma once

#include <pugixml.hpp>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "spreadsheet/Package.h"

namespace spreadsheet {

enum class TCellKind : uint8_t {
  Blank,       // style only
  Number,      // V.Number
  Shared,      // V.Index into the workbook's shared strings
  Inline,      // V.Index into the sheet's text pool: plain text
  InlineRich,  // V.Index into the text pool: the inner XML of <is>
  Boolean,     // V.Number 0 or 1
  Error,       // V.Index into the text pool: "#N/A", ...
  Text,        // V.Index into the text pool: a formula's text result (t="str")
  IsoDate,     // V.Index into the text pool: t="d" text
};

// Formula and attributes the cell store does not model, kept per cell that
// has them.
struct TCellExtra {
  std::string Formula;       // without "="; empty for a shared-formula child
  std::string FormulaAttrs;  // raw attributes of <f> (' t="shared" si="0"')
  std::string CellAttrs;     // raw attributes of <c> besides r, s, t
};

// Whether a formula cell's value is its formula's computed result.
enum TCalcState : uint8_t { csStale, csComputed, csNotComputable, csComputing };

// A cell in sixteen bytes: a million-row sheet holds tens of millions.
struct TCell {
  // How many styles and extras a sheet's cells can name (twice the
  // application's limit of cell formats; 16 million cells with formulas or
  // attributes the store does not model).
  static constexpr uint32_t kMaxStyle = (1u << 17) - 1;
  static constexpr uint32_t kMaxExtra = (1u << 24) - 1;

  uint32_t Column : 15 = 0;  // 1 to 16,384
  uint32_t Style : 17 = 0;
  TCellKind Kind = TCellKind::Blank;
  uint32_t Extra : 24 = 0;  // 1-based index into TSheet::Extras; 0 for none
  union {
    double Number;
    uint32_t Index;
  } V{0};
};
static_assert(sizeof(TCell) == 16);

// The calculation's state of a formula cell, valid in the calculation's
// round `Round` only (a new round makes every result stale at once). One per
// extra, in a block of their own, so that reading computed results touches
// little besides the cells.
struct TCalcMark {
  TCalcState State = csStale;
  uint16_t Round = 0;
};

// A row's raw attributes besides r and spans (' ht="20" customHeight="1"'),
// held apart: most rows have none, and a million rows each carrying an empty
// string would cost 24 MB.
class TRowAttrs {
 public:
  TRowAttrs() = default;
  TRowAttrs(const TRowAttrs& other) { *this = other; }
  TRowAttrs& operator=(const TRowAttrs& other) {
    if (this != &other) FText = other.FText ? std::make_unique<std::string>(*other.FText) : nullptr;
    return *this;
  }
  TRowAttrs(TRowAttrs&&) noexcept = default;
  TRowAttrs& operator=(TRowAttrs&&) noexcept = default;
  TRowAttrs& operator=(std::string text) {
    FText = text.empty() ? nullptr : std::make_unique<std::string>(std::move(text));
    return *this;
  }
  const std::string& Text() const {
    static const std::string none;
    return FText ? *FText : none;
  }
  bool empty() const { return !FText || FText->empty(); }
  // The text to change in place.
  std::string& Edit() {
    if (!FText) FText = std::make_unique<std::string>();
    return *FText;
  }

 private:
  std::unique_ptr<std::string> FText;
};

struct TRow {
  uint32_t Number = 0;
  TRowAttrs Attrs;
  std::vector<TCell> Cells;  // sorted by column
};

// The texts of a sheet's cells in one block with their bounds: a sheet of
// many short texts costs little more than its characters.
class TTextPool {
 public:
  std::string_view operator[](uint32_t index) const {
    size_t end = index + 1 < FStart.size() ? FStart[index + 1] : FText.size();
    return std::string_view(FText).substr(FStart[index], end - FStart[index]);
  }
  uint32_t Add(std::string_view text);
  size_t size() const { return FStart.size(); }
  bool empty() const { return FStart.empty(); }
  void clear() {
    FText = {};
    FStart = {};
    FRecent = {};
  }

 private:
  static constexpr size_t kShortText = 64, kRecentTexts = 4096;
  std::string FText;
  std::vector<uint32_t> FStart;   // where each text begins (4 GB of text at most)
  std::vector<uint32_t> FRecent;  // by hash: 1 + the index of a short text added lately, 0 for none
};

class TSheet {
 public:
  std::string Name;
  std::string RelId;
  std::string PartName;
  uint32_t SheetId = 0;
  bool IsWorksheet = true;  // false for chart and dialog sheets
  bool Deleted = false;

  bool Loaded = false;
  bool Modified = false;
  std::unique_ptr<pugi::xml_document> Doc;  // the part without its rows
  // The rows, sorted by number; reading them settles a pending insertion.
  std::vector<TRow>& Rows() {
    SettleRows();
    return FRows;
  }
  TTextPool Pool;
  std::vector<TCellExtra> Extras;

  // Reads the worksheet part into the store; raises EPackageError.
  void Load(const std::string& content);
  void Load(const std::function<bool(std::string& out)>& source);
  // Writes the part: the document with the rows streamed in.
  TPartWriter Writer();

  TRow* FindRow(uint32_t row);
  TCell* FindCell(uint32_t row, uint32_t column);
  // The cell, created when absent with the style the row or column gives.
  TCell& CellForWrite(uint32_t row, uint32_t column);
  TRow& RowForWrite(uint32_t row);
  // The default style of a column from <cols>, 0 when none.
  uint32_t ColumnStyle(uint32_t column) const;
  // Whether <sheetProtection> protects the cells.
  bool ContentsProtected() const { return Layout().Protected; }
  // Every new cell asks for its column's style and every write whether the
  // sheet is protected: both are read from the part once, and whoever changes
  // <cols> or <sheetProtection> says so here.
  void ForgetLayout() { FLayout.Known = false; }
  // The style of a cell, or the one it would have when written: its row's
  // when the row is formatted, else its column's.
  uint32_t StyleAt(uint32_t row, uint32_t column);
  uint32_t NewCellStyle(const TRow* row, uint32_t column) const;

  std::vector<TCalcMark> CalcMarks;  // one per extra
  TCalcMark& MarkOf(const TCell& cell) { return CalcMarks[cell.Extra - 1]; }
  const TCalcMark& MarkOf(const TCell& cell) const { return CalcMarks[cell.Extra - 1]; }

  TCellExtra* ExtraOf(const TCell& cell) { return cell.Extra ? &Extras[cell.Extra - 1] : nullptr; }
  TCellExtra& EnsureExtra(TCell& cell);
  bool HasFormula(const TCell& cell) const {
    return cell.Extra && (!Extras[cell.Extra - 1].Formula.empty() || !Extras[cell.Extra - 1].FormulaAttrs.empty());
  }
  uint32_t AddText(std::string text);
  // Whether the cell lies in an array formula spanning more than one cell.
  bool InMultiCellArray(uint32_t row, uint32_t column);
  bool HasArrayFormulas = false;
  // A computed result replaced a cell's value since the last save.
  bool ResultsChanged = false;

  pugi::xml_node Root() const { return Doc->document_element(); }

  // Moves the rows from `at` on down by `count` and puts `count` rows like
  // `model` (none when nil) at `at`. The rows are kept in two parts around a
  // gap at the last insertion, and those after it share one shift: inserting
  // and writing again and again at one place, as a script filling a table
  // does, costs nothing for the rows below.
  void InsertRowsAt(uint32_t at, uint32_t count, const TRow* model);
  // Closes the gap: every row in one sorted vector with its own number.
  void SettleRows();
  // Whether a row that holds data numbered from `at` on lies beyond `limit`.
  bool DataBeyond(uint32_t limit, uint32_t at) const;
  // The number of the last row (0: none).
  uint32_t LastRowNumber() const {
    if (!FTail.empty()) return FTail.front().Number + FTailShift;
    return FRows.empty() ? 0 : FRows.back().Number;
  }

 private:
  void LoadRows(const std::function<bool(std::string& out)>& source);
  // Moves the gap so that the rows before it are those numbered below `row`.
  void MoveGapTo(uint32_t row);

  struct TColumnRun {
    uint32_t First, Last, Style;
  };
  struct TLayout {
    bool Known = false;
    bool Protected = false;
    std::vector<TColumnRun> Columns;  // in document order: the first run that holds a column wins
  };
  const TLayout& Layout() const { return FLayout.Known ? FLayout : ReadLayout(); }
  const TLayout& ReadLayout() const;
  mutable TLayout FLayout;

  std::vector<TRow> FRows;  // before the gap, ascending; numbers as they are
  std::vector<TRow> FTail;  // after the gap, descending (nearest the gap last); numbers less FTailShift
  uint32_t FTailShift = 0;  // unsigned arithmetic: stored + shift is the number
};

// Attribute helpers for raw attribute text (' a="1" b="2"').
std::string GetRawAttr(const std::string& attrs, std::string_view name);
void SetRawAttr(std::string& attrs, std::string_view name, const std::string& value);  // empty value removes

// The shortest text that reads back as the same double.
std::string NumberText(double value);

// The schema order of a worksheet's children, for inserting new ones.
const std::vector<std::string_view>& WorksheetChildOrder();

}  // namespace spreadsheet
