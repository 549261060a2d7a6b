// A1-style cell references and the rewriting of references inside formula
// text when rows or columns are inserted, a sheet is deleted, or a shared
// formula is copied to another cell. Text is UTF-8, as in the package XML.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace spreadsheet {

constexpr uint32_t kMaxRow = 1048576;
constexpr uint32_t kMaxColumn = 16384;

// Column letters for a 1-based column number (1 -> A, 27 -> AA).
std::string ColumnName(uint32_t column);
// "B3" for row 3, column 2.
std::string CellName(uint32_t row, uint32_t column);

struct TCellRef {
  uint32_t Row = 0;
  uint32_t Column = 0;
};

// Parses "B3" or "$B$3" (no sheet); false for anything else or out-of-range.
bool ParseCellRef(std::string_view text, TCellRef& ref);

struct TRangeRef {
  TCellRef First;
  TCellRef Last;
};
// Parses "A1", "A1:C5", "A:C" (whole columns) and "2:4" (whole rows),
// normalising so First <= Last.
bool ParseRangeRef(std::string_view text, TRangeRef& range);
std::string RangeName(const TRangeRef& range);

// What moves: rows or columns from `At` on shift by `Count` on sheet `Sheet`,
// or sheet `Sheet` is deleted, and with it the tables named in `Tables`.
struct TReferenceChange {
  enum TKind { InsertRows, InsertColumns, DeleteSheet, RenameSheet } Kind = InsertRows;
  std::string Sheet;
  uint32_t At = 0;
  uint32_t Count = 1;
  std::vector<std::string> Tables;
  std::string NewName = {};  // RenameSheet: the sheet's new name
};

// A sheet name as a reference's prefix: "Data!", "'Q1 Sales'!", "'It''s'!"
// (quoted when it holds what a name may not, starts with a digit, or reads
// as a cell reference).
std::string SheetPrefix(std::string_view name);

// Sheet names compare without regard to letter case, as the application does.
bool SameSheetName(std::string_view a, std::string_view b);

// Rewrites the references of a formula (without its leading "="). `hostSheet`
// is the sheet unqualified references belong to ("" when they belong to
// none, as in defined names and charts). References cut off the sheet become
// #REF!; references to a deleted sheet become #REF!. Strings, structured
// references and references into other workbooks are left alone. Returns
// the text unchanged when nothing applies. Structured references to the
// tables of a deleted sheet ("Sales[Amount]") become #REF! as well.
std::string ApplyReferenceChange(std::string_view formula, const TReferenceChange& change, std::string_view hostSheet);

// The formula of a shared-formula master, as it reads in a cell `rows` rows
// and `columns` columns away: relative parts move, absolute ones stay.
std::string TranslateFormula(std::string_view formula, int32_t rows, int32_t columns);

// The formula as the file stores it: functions the application gained after
// the format's first edition carry the prefix "_xlfn." (or "_xlfn._xlws."),
// which the application adds when such a formula is typed; without it they
// read as unknown names (#NAME?). Text, quoted sheet names, structured
// references and names already prefixed stay as written.
std::string QualifyNewerFunctions(std::string_view formula);

// A space-separated list of ranges (sqref) after the change; ranges that
// are cut off entirely are dropped.
std::string ApplyChangeToRangeList(std::string_view list, const TReferenceChange& change);

// One range ("A1:C5" or "B2") after the change; nullopt when it is cut off.
std::optional<std::string> ApplyChangeToRange(std::string_view range, const TReferenceChange& change);

// Structured references naming a table ("Sales[Amount]", "Sales[#All]")
// with the table's new name; text, quoted sheet names and other names stay.
std::string RenameTableReferences(std::string_view formula, std::string_view from, std::string_view to);

// A table column renamed: structured references that name it follow
// ("Sales[Customer]", "Sales[[#This Row],[Customer]]", "Sales[[Customer]:[Amount]]",
// "[@Customer]"). References without a table name ("[@Customer]") mean the
// table the formula belongs to: they are rewritten only when `inTable`.
// Names compare without regard to letter case, as the application does.
struct TColumnRename {
  std::vector<std::string> Table;  // the table's names (display name, name)
  std::string OldName;
  std::string NewName;
};
std::string RenameTableColumn(std::string_view formula, const TColumnRename& rename, bool inTable);

}  // namespace spreadsheet
