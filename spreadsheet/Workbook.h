// An open workbook package: its sheets, shared strings and styles, the cell
// operations the automation server offers, and saving. Parts are read when
// first needed and written back only when changed.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "rtl/Variant.h"
#include "spreadsheet/Package.h"
#include "spreadsheet/References.h"
#include "spreadsheet/Sheet.h"
#include "spreadsheet/WorkbookGuard.h"
#include "spreadsheet/Xml.h"

namespace spreadsheet {

// A failure the server reports to its caller with this description.
class EWorkbookError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

class TCalculation;

class TWorkbookFile {
 public:
  static constexpr std::u16string_view SCannotOpen = u"Cannot open workbook \"%s\": %s";
  static constexpr const char* SLegacyFormat =
      "it is a legacy .xls workbook; only .xlsx and .xlsm workbooks are supported";
  static constexpr const char* SBinaryFormat =
      "it is a binary (.xlsb) workbook; only .xlsx and .xlsm workbooks are supported";
  static constexpr const char* SNotWorkbook = "it is not an .xlsx or .xlsm workbook package";
  static constexpr const char* SCannotShiftOff =
      "To prevent possible loss of data, Korva cannot shift nonblank cells off of the worksheet.";
  static constexpr const char* SLastSheet = "A workbook must contain at least one visible worksheet.";
  static constexpr std::u16string_view SObjectError = u"Application-defined or object-defined error";
  static constexpr std::u16string_view SSheetDeleted = u"The sheet was deleted";
  static constexpr std::u16string_view SNoStyles = u"The workbook has no cell formats to derive a style from";
  static constexpr std::u16string_view STooManyStyles = u"Too many different cell formats.";
  static constexpr std::u16string_view SNoCells = u"A chart sheet has no cells";
  static constexpr std::u16string_view STypeMismatch = u"Type mismatch";
  static constexpr std::u16string_view STextTooLong = u"A cell holds at most 32767 characters";
  static constexpr std::u16string_view SBadFormula = u"The formula contains an error: %s";
  static constexpr const char* SPartOfArray = "You can't change part of an array.";
  static constexpr const char* SInvalidSheetName =
      "You typed an invalid name for a sheet or chart. Make sure that: The name that you type does not exceed 31 "
      "characters. The name does not contain any of the following characters: : \\ / ? * [ or ]. You did not leave "
      "the name blank. The name does not begin or end with an apostrophe.";
  static constexpr const char* SSheetNameTaken = "That name is already taken. Try a different one.";
  static constexpr const char* SPartOfPivotTable = "Cannot change this part of a PivotTable report.";
  static constexpr std::u16string_view SCannotSave = u"Cannot save workbook \"%s\": %s";
  static constexpr const char* SWrongPassword =
      "The password you supplied is not correct. The sheet is protected with a password and cannot be "
      "unprotected without it.";
  static constexpr const char* SProtectedCell =
      "The cell or chart you're trying to change is on a protected sheet. To make a change, unprotect the sheet. "
      "You might be requested to enter a password.";
  static constexpr const char* SProtectedInsert = "Insert method of Range class failed";

  // Opens the package; raises EWorkbookError "Cannot open workbook ...".
  explicit TWorkbookFile(const std::string& path);

  const std::string& Path() const { return FPath; }
  std::string Name() const;

  // Sheets in tab order (worksheets and chart sheets).
  const std::vector<std::shared_ptr<TSheet>>& Sheets() const { return FSheets; }
  std::vector<std::shared_ptr<TSheet>> Worksheets() const;
  int IndexOf(const TSheet& sheet) const;  // 0-based tab position, -1 when gone
  std::shared_ptr<TSheet> ActiveSheet() const;
  void Select(const TSheet& sheet);

  // Cell values as automation variants.
  rtl::Variant GetValue(TSheet& sheet, uint32_t row, uint32_t column);
  void SetValue(TSheet& sheet, uint32_t row, uint32_t column, const rtl::Variant& value);
  bool GetLocked(TSheet& sheet, uint32_t row, uint32_t column);
  void SetLocked(TSheet& sheet, uint32_t row, uint32_t column, bool locked);

  // Structure.
  void InsertRows(TSheet& sheet, uint32_t at, uint32_t count = 1);
  void InsertColumns(TSheet& sheet, uint32_t at, uint32_t count = 1);
  void AutofitColumn(TSheet& sheet, uint32_t column);
  bool ProtectContents(TSheet& sheet);
  // Refuse what the sheet's protection forbids: writing a locked cell,
  // inserting rows (columns) unless the protection allows it.
  void RefuseProtectedWrite(TSheet& sheet, uint32_t row, uint32_t column);
  void RefuseProtectedInsert(TSheet& sheet, bool rows);
  void Protect(TSheet& sheet);
  void Unprotect(TSheet& sheet);
  // A new worksheet before `before`, named with the next free SheetN; it
  // becomes the active sheet.
  std::shared_ptr<TSheet> AddSheetBefore(const TSheet& before);
  // A new empty worksheet after the last sheet; it becomes the active one.
  std::shared_ptr<TSheet> AddSheetNamed(const std::string& name);
  // A copy of a worksheet, with everything it owns, before tab position
  // `before` (0-based; the count of sheets appends), named as the
  // application names copies ("Orders (2)"); it becomes the active sheet.
  std::shared_ptr<TSheet> CopySheet(TSheet& source, int before);
  // Renames a sheet and every reference to it; the application's rules and
  // texts for names.
  void RenameSheet(TSheet& sheet, const std::string& name);
  void DeleteSheet(TSheet& sheet);

  // Number formats, column widths (in characters of the default font's
  // digit width) and row heights (in points), as the application gives them.
  std::string NumberFormat(TSheet& sheet, uint32_t row, uint32_t column);
  void SetNumberFormat(TSheet& sheet, uint32_t row, uint32_t column, const std::string& code);
  double ColumnWidth(TSheet& sheet, uint32_t column);
  void SetColumnWidth(TSheet& sheet, uint32_t column, double characters);
  double RowHeight(TSheet& sheet, uint32_t row);
  void SetRowHeight(TSheet& sheet, uint32_t row, double points);

  // The cells named by an A1 reference ("B3", "B3:C4") or a defined name
  // that points into this sheet; false when the text names no such range.
  bool ResolveRangeName(TSheet& sheet, const std::string& name, TRangeRef& range);

  void EnsureLoaded(TSheet& sheet);
  // Formula results are computed afresh when next read.
  void Calculate() { ForgetResults(); }
  bool Changed() const;
  void Save();
  // The server closed the workbook: other jobs may open it now.
  void Unlock() { FGuard.reset(); }

  // Number format of a style (cellXfs index), for tests and the reader.
  bool IsDateStyle(uint32_t style);
  // Whether the style formats as Text ("@"): what is typed there stays text.
  bool IsTextStyle(uint32_t style);
  std::string NumberFormatOf(uint32_t style);

 private:
  friend class TCalculation;
  TCalculation& Calculation();
  // A formula cell's computed result; false when it cannot be computed.
  bool FormulaResult(TSheet& sheet, uint32_t row, uint32_t column, rtl::Variant& out);
  // Every computed result is stale after a structural change; a written
  // cell makes stale only the results that read it.
  void ForgetResults();
  void CellChanged(const TSheet& sheet, uint32_t row, uint32_t column);
  // Every formula cell's cached value made its computed result before saving
  // a workbook whose cells changed; values that cannot be computed go.
  void StoreFormulaResults();
  // Cells whose values changed since the last save (for formulas the engine
  // cannot compute: their cached values stand unless what they read changed).
  void NoteChangedCells(const TSheet& sheet, uint32_t row1, uint32_t column1, uint32_t row2, uint32_t column2);
  struct TCalculationDeleter {
    void operator()(TCalculation* calculation) const;
  };
  std::unique_ptr<TCalculation, TCalculationDeleter> FCalc;

  struct TPart {
    std::string Name;
    std::unique_ptr<pugi::xml_document> Doc;
    bool Modified = false;
  };
  TPart& Part(const std::string& name);  // parsed on first use
  bool HasPart(const std::string& name) const { return FPackage->Has(name); }
  void MarkCellsChanged(TSheet& sheet, bool formulasChanged);
  const std::string& SharedString(uint32_t index);
  void LoadStyles();
  // quotePrefix: -1 keeps the style's, 0 removes it, 1 sets it.
  uint32_t StyleWith(uint32_t style, const std::string& numFmtCode, int lockedState, int quotePrefix = -1);
  bool HasQuotePrefix(uint32_t style);
  std::vector<TRelationship> SheetRelationships(const TSheet& sheet);
  void DropCalcChain();
  void LoadAll();
  // Turns the children of shared formula group `si` into formulas of their
  // own, so that cells of the group can change or move independently.
  void ExpandSharedFormula(TSheet& sheet, const std::string& si);
  void ExpandSharedFormulas(TSheet& sheet, const TReferenceChange* onlyIfChangedBy);
  // Rewrites references in cells, conditional formats, validations, names
  // and charts everywhere in the workbook.
  void ApplyChangeEverywhere(const TReferenceChange& change);
  void RefuseShiftOff(TSheet& sheet, const TReferenceChange& change);
  void MoveCells(TSheet& sheet, const TReferenceChange& change);
  void AdjustSheetParts(TSheet& sheet, const TReferenceChange& change);
  void RemovePartTree(const std::string& partName);
  // A free worksheet part name beside the existing ones.
  std::string NewWorksheetPart();
  // A part's content as it stands (as changed, when it was).
  std::string PartContent(const std::string& name);
  // Copies a part and, through its relationships, what it owns (images and
  // pivot caches stay shared); returns the copy's name. `copies` maps parts
  // already copied to their copies.
  std::string CopyPartTree(const std::string& name, std::map<std::string, std::string>& copies);
  // Adds a worksheet at tab position `index` with the part's content (an
  // empty sheet when none), its relationship, content type and sheet entry.
  std::shared_ptr<TSheet> AddWorksheet(int index, const std::string& name, std::string content,
                                       const std::string& partName = {});
  // Refuses a sheet name the application refuses (`except`: the sheet being
  // renamed, which may keep its name in other letter case).
  void CheckSheetName(const std::string& name, const TSheet* except);
  // Maximum digit width in pixels of the default font.
  double DigitWidth();
  // The <col> element of one column alone, split out of a wider one or made.
  pugi::xml_node ColumnDefinition(TSheet& sheet, uint32_t column);
  // The numFmtId of a format code: a built-in one, one the workbook has, or
  // a new record.
  uint32_t FormatId(const std::string& code);
  pugi::xml_document& RelationshipsOf(const std::string& partName);

  // Table header cells: a table's header row holds its columns' names, and
  // the application keeps the two equal. Found per sheet when first needed
  // and forgotten whenever rows, columns or sheets change.
  struct TTableHeader {
    std::string Part;  // the table part
    uint32_t Row = 0, First = 0, Last = 0;
  };
  const TTableHeader* TableHeaderAt(TSheet& sheet, uint32_t row, uint32_t column);
  // Renames the column of a header cell after a value written there and
  // returns the name, which the cell then shows as text.
  std::string NameTableColumn(TSheet& sheet, const TTableHeader& header, uint32_t column, const rtl::Variant& value);
  std::map<const TSheet*, std::vector<TTableHeader>> FTableHeaders;

  std::string FPath;
  std::unique_ptr<TWorkbookGuard> FGuard;  // from opening until closed; outlives the package
  std::unique_ptr<TPackage> FPackage;
  std::string FWorkbookPart;
  std::map<std::string, TPart> FParts;
  std::vector<std::shared_ptr<TSheet>> FSheets;
  std::vector<std::shared_ptr<TSheet>> FDeletedSheets;  // kept for stale automation objects
  int FActiveTab = 0;
  std::shared_ptr<TSheet> FOriginalActive;  // active when opened or last saved
  bool FActiveChanged = false;
  bool FSheetListChanged = false;
  void RebuildSheetTitles();
  std::vector<std::string> NamedRangeTitles();
  // The sheets' names and kinds (worksheet or not) when the workbook was opened.
  std::vector<std::pair<std::string, bool>> FOpenedSheetNames;
  // Shared-string cells per sheet when loaded or last saved, for the counts
  // of the shared strings part.
  std::map<const TSheet*, int64_t> FSharedAtLoad;
  std::string SharedStringsPart();
  void NoteSharedCells(TSheet& sheet);
  void UpdateSharedStringCounts();
  void SharedStringCountsSaved();
  bool FCellsChanged = false;
  bool FFormulasChanged = false;

  bool FSharedLoaded = false;
  std::vector<std::string> FSharedStrings;

  bool FStylesLoaded = false;
  std::string FStylesPart;
  std::vector<pugi::xml_node> FCellXfs;
  std::map<uint32_t, std::string> FNumFmts;
  static constexpr int8_t kDateStyle = 1, kTextStyle = 2;
  std::vector<int8_t> FStyleKinds;  // -1 unknown, else kDateStyle and kTextStyle flags
  int8_t StyleKind(uint32_t style);
  std::map<std::string, uint32_t> FDerivedStyles;
};

// The typed-input rule for a written string: how the application takes
// text typed into a cell.
struct TTypedInput {
  // tiEmpty: nothing typed, which clears the cell's value; tiError: an error
  // literal ("#N/A", in Text).
  enum TKind { tiText, tiNumber, tiPercent, tiBoolean, tiFormula, tiDate, tiError, tiEmpty } Kind = tiText;
  double Number = 0;  // also a date's serial number
  bool HasTime = false;
  bool Boolean = false;
  bool QuotePrefix = false;  // text typed after an apostrophe
  std::string Text;          // text, or the formula without "="
  // The number format the typing asks for on a General cell: a currency
  // format for "$12", scientific ("0.00E+00") for "1e3"; empty for none.
  std::string Format;
};
TTypedInput ReadTypedInput(std::u16string_view input);
// The same reading without the shortcuts for plain numbers and words, which
// must agree with it.
TTypedInput ReadTypedInputInFull(const rtl::UnicodeString& input);

// The text a value written into a table's header row makes of it, as the
// application takes it for the column's name ("" for an empty value).
std::string HeaderText(const rtl::Variant& value);

// The error value a cell's error text names ("#N/A").
rtl::Variant ErrorVariant(const std::string& text);

// The width a <col> stores for a number of characters of the default
// font's digit width (the padding included), and back.
double StoredColumnWidth(double characters, double digitWidth);
double ColumnCharacters(double stored, double digitWidth);

// Whether a number format code shows a date or time.
bool IsDateFormatCode(std::string_view code);

}  // namespace spreadsheet
