// The spreadsheet server's public face: the members through which the
// workbook wrappers open a workbook, reach its sheets and cells, change its
// structure and save it. The server behaves as the spreadsheet application
// does: rows, columns and sheet numbers count from 1, and every refusal is
// an rtl::EOleException carrying the application's own text (for example
// "Application-defined or object-defined error"), so that the wrappers can
// pass it on untranslated.
//
// Objects are shared: a sheet or workbook handed out stays valid as an
// object after it is deleted or closed, and then refuses every member with
// "The object has been deleted or its workbook closed".
#pragma once

#include <memory>

#include "rtl/Variant.h"

namespace spreadsheet {

using rtl::UnicodeString;
using rtl::Variant;

// A worksheet or chart sheet. Members that work on cells refuse a chart
// sheet with "This member is available on worksheets only".
class ISheet {
 public:
  virtual ~ISheet() = default;

  virtual UnicodeString Name() const = 0;

  // One cell's value: empty, number, text, Boolean, date, or the text of an
  // error value. A write takes the value as the application takes typed
  // input (formulas, numbers, dates from text).
  virtual Variant Value(int row, int column) const = 0;
  virtual void SetValue(int row, int column, const Variant& value) = 0;
  // The cells of a reference the application's Range accepts: an A1 cell or
  // range ("B3", "A1:C5") or a defined name that refers to this sheet. More
  // than one cell read as a two-dimensional array; a scalar written fills
  // every cell, an array fills them element by element.
  virtual Variant RangeValue(const UnicodeString& reference) const = 0;
  virtual void SetRangeValue(const UnicodeString& reference, const Variant& value) = 0;

  virtual bool Locked(int row, int column) const = 0;
  virtual void SetLocked(int row, int column, bool locked) = 0;

  virtual bool ProtectContents() const = 0;
  // Without a password; Unprotect refuses a sheet protected with one.
  virtual void Protect() = 0;
  virtual void Unprotect() = 0;

  // Entire rows and columns shift down and right; references follow.
  virtual void InsertRow(int row) = 0;
  virtual void InsertColumn(int column) = 0;
  virtual void AutofitColumn(int column) = 0;

  // Recalculates the sheet's formulas (volatile ones included) as the
  // application does on demand; results are otherwise kept until a change.
  virtual void Calculate() = 0;

  // Makes the sheet the active one.
  virtual void Select() = 0;
  // Removes the sheet without a prompt; the last worksheet stays.
  virtual void Delete() = 0;

  // Renames the sheet; formulas, names, charts and links that name it follow.
  virtual void SetName(const UnicodeString& name) = 0;
  // A cell's number format code ("#,##0.00"); setting it changes nothing
  // else of the cell's style.
  virtual UnicodeString NumberFormat(int row, int column) const = 0;
  virtual void SetNumberFormat(int row, int column, const UnicodeString& code) = 0;
  // In characters of the default font's digit width, and in points.
  virtual double ColumnWidth(int column) const = 0;
  virtual void SetColumnWidth(int column, double width) = 0;
  virtual double RowHeight(int row) const = 0;
  virtual void SetRowHeight(int row, double height) = 0;
};

// One open workbook.
class IWorkbook {
 public:
  virtual ~IWorkbook() = default;

  // Worksheets only, in tab order: a workbook with chart sheets has more
  // sheets than worksheets.
  virtual int WorksheetCount() const = 0;
  // The worksheet at `index`; "Subscript out of range" when there is none.
  virtual std::shared_ptr<ISheet> Worksheet(int index) const = 0;
  // Every sheet, chart sheets included, in tab order.
  virtual int SheetCount() const = 0;
  virtual std::shared_ptr<ISheet> Sheet(int index) const = 0;
  virtual std::shared_ptr<ISheet> ActiveSheet() const = 0;
  // A new worksheet before the active sheet, named with the next free
  // "SheetN"; it becomes the active sheet.
  virtual std::shared_ptr<ISheet> AddSheet() = 0;
  // A new empty worksheet with that name after the last sheet.
  virtual std::shared_ptr<ISheet> AddNamedSheet(const UnicodeString& name) = 0;
  // A copy of worksheet `index` with everything it owns, before worksheet
  // `before` (WorksheetCount() + 1: after the last worksheet), named as the
  // application names copies ("Orders (2)").
  virtual std::shared_ptr<ISheet> CopySheet(int index, int before) = 0;

  virtual UnicodeString Name() const = 0;
  virtual UnicodeString FullName() const = 0;

  // Recalculates every formula of the workbook.
  virtual void Calculate() = 0;

  // Writes the workbook back to its file when anything changed.
  virtual void Save() = 0;
  // Closes the workbook, saving it first when asked and anything changed.
  // It is closed even when saving fails; the failure is still raised.
  virtual void Close(bool saveChanges) = 0;
};

// One private instance of the server, hidden, with no workbook open.
class IApplication {
 public:
  virtual ~IApplication() = default;

  // Opens the workbook at an absolute path; a workbook already open in this
  // instance is handed out again.
  virtual std::shared_ptr<IWorkbook> Open(const UnicodeString& fileName) = 0;
  virtual int WorkbookCount() const = 0;

  virtual bool DisplayAlerts() const = 0;
  virtual void SetDisplayAlerts(bool value) = 0;
  virtual bool Visible() const = 0;
  virtual void SetVisible(bool value) = 0;

  // Recalculates every open workbook.
  virtual void Calculate() = 0;

  // Ends the instance; workbooks still open are closed without saving.
  virtual void Quit() = 0;
};

// Starts private instances: one per document the job or a script opens.
class ISpreadsheetServer {
 public:
  virtual ~ISpreadsheetServer() = default;
  virtual std::unique_ptr<IApplication> CreateApplication() = 0;
};

}  // namespace spreadsheet
