// The workbook and worksheet wrappers: one open workbook in a private
// instance of the spreadsheet server, and one wrapper per worksheet. Every
// read or write goes to the server; nothing is cached but the list of sheet
// wrappers.
#pragma once

#include <memory>
#include <vector>

#include "rtl/Objects.h"
#include "spreadsheet/SpreadsheetServer.h"

namespace workbook {

using rtl::UnicodeString;
using rtl::Variant;

// One worksheet. Rows, columns and sheet numbers count from 1, as the
// server counts them. Scripts hold sheets as objects; the document owns
// them, so a sheet deleted or closed is gone for scripts too.
class TqovSheet : public rtl::TObject {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }

  // Keeps a counted reference to the worksheet object until destroyed.
  explicit TqovSheet(std::shared_ptr<spreadsheet::ISheet> ws) : FWS(std::move(ws)) {}

  const std::shared_ptr<spreadsheet::ISheet>& WS() const { return FWS; }
  UnicodeString Name() const;

  Variant Cell(int row, int column) const;
  void SetCell(int row, int column, const Variant& value);
  // `name` is any single reference the server's Range accepts (B3, a defined name).
  Variant CellByName(const UnicodeString& name) const;
  void SetCellByName(const UnicodeString& name, const Variant& value);
  bool CellLocked(int row, int column) const;
  void SetCellLocked(int row, int column, bool locked);

  bool SheetProtected() const;
  // True protects without a password; False unprotects without one.
  void SetSheetProtected(bool value);

  void InsertRow(int index);
  void InsertColumn(int index);
  void AutoFitColumn(int index);

  // The application's rules for names; references to the sheet follow.
  void SetName(const UnicodeString& name);
  UnicodeString NumberFormat(int row, int column) const;
  void SetNumberFormat(int row, int column, const UnicodeString& code);
  double ColumnWidth(int column) const;
  void SetColumnWidth(int column, double width);
  double RowHeight(int row) const;
  void SetRowHeight(int row, double height);

 private:
  std::shared_ptr<spreadsheet::ISheet> FWS;
};

// One workbook file opened in the server. Closing is explicit: the owner
// calls Close, which saves, closes and quits and reports what failed; the
// destructor only drops references.
class TqovDocument : public rtl::TObject {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }

  static constexpr std::u16string_view SCannotCreateExcel = u"Cannot create Excel OLE object:\r\n%s";
  static constexpr std::u16string_view SExcelProgId = u"Excel.Application";
  static constexpr std::u16string_view SProgIdFailure = u"%s, ProgID: \"%s\"";
  static constexpr std::u16string_view SNoServer = u"Invalid class string";

  // Starts a private instance of `server` and opens the workbook. When
  // opening fails after the instance started, it is told to quit before the
  // error propagates. Without a server, creating fails as when none is
  // installed.
  TqovDocument(spreadsheet::ISpreadsheetServer* server, const UnicodeString& fileName);
  ~TqovDocument() override;
  TqovDocument(const TqovDocument&) = delete;
  TqovDocument& operator=(const TqovDocument&) = delete;

  // Frees the wrappers, switches alerts off, closes the workbook saving it,
  // then quits the server. Quit runs even when saving failed; the first
  // failure is raised afterwards. Calling Close again does nothing.
  void Close();

  // The wrapper at list position index-1; "List index out of bounds (%d)"
  // with index-1 when there is none.
  TqovSheet* Sheet(int index) const;
  // First wrapper whose sheet name equals `name` exactly (case-sensitive),
  // asked afresh from the server; nullptr when none does.
  TqovSheet* SheetByName(const UnicodeString& name) const;
  int SheetCount() const { return static_cast<int>(FSheets.size()); }

  bool Visible() const;
  void SetVisible(bool value);

  // A new worksheet at position index; the previously active sheet is
  // re-selected whatever happens.
  void InsertSheet(int index);
  // Removes the sheet at position index without a prompt; DisplayAlerts is
  // restored whatever happens.
  void DeleteSheet(int index);
  // A copy of the sheet at position index, with everything it owns, placed
  // before position `before` (SheetCount + 1 appends); the active sheet
  // stays as it was.
  TqovSheet* CopySheet(int index, int before);
  // A new empty worksheet with that name after the last one.
  TqovSheet* AddSheet(const UnicodeString& name);

  spreadsheet::IApplication* MSExcel() const { return FMSExcel.get(); }
  spreadsheet::IWorkbook* WBK() const { return FWBK.get(); }
  // The workbook's file name as handed to the server (absolute).
  const UnicodeString& FileName() const { return FFileName; }

  // Every document opened and not yet destroyed, oldest first: the job
  // finds there the workbooks a script opened and never freed.
  static std::vector<TqovDocument*> Living();

 private:
  // The instance and the workbook while open; "Automation object is not
  // assigned" after Close.
  spreadsheet::IApplication& App() const;
  spreadsheet::IWorkbook& Book() const;

  UnicodeString FFileName;
  std::unique_ptr<spreadsheet::IApplication> FMSExcel;
  std::shared_ptr<spreadsheet::IWorkbook> FWBK;
  std::vector<std::unique_ptr<TqovSheet>> FSheets;
};

}  // namespace workbook
