#include "workbook/qovDocument.h"

#include <algorithm>
#include <exception>

#include "rtl/AutomationErrors.h"

namespace workbook {

namespace {

std::vector<TqovDocument*>& LivingDocuments() {
  static std::vector<TqovDocument*> documents;
  return documents;
}

}  // namespace

spreadsheet::IApplication& TqovDocument::App() const {
  if (!FMSExcel) throw rtl::EOleError(UnicodeString(rtl::EOleError::SNotAssigned));
  return *FMSExcel;
}

spreadsheet::IWorkbook& TqovDocument::Book() const {
  if (!FWBK) throw rtl::EOleError(UnicodeString(rtl::EOleError::SNotAssigned));
  return *FWBK;
}

// --- TqovSheet --------------------------------------------------------------------

// Neither class can be created without arguments; scripts reach every
// member through registered helpers, so no property is published.
rtl::TClass TqovSheet::StaticClass() {
  static const rtl::TMetaClass meta(u"TqovSheet", rtl::TObject::StaticClass(), nullptr);
  return &meta;
}

rtl::TClass TqovDocument::StaticClass() {
  static const rtl::TMetaClass meta(u"TqovDocument", rtl::TObject::StaticClass(), nullptr);
  return &meta;
}

UnicodeString TqovSheet::Name() const { return FWS->Name(); }

Variant TqovSheet::Cell(int row, int column) const { return FWS->Value(row, column); }

void TqovSheet::SetCell(int row, int column, const Variant& value) { FWS->SetValue(row, column, value); }

Variant TqovSheet::CellByName(const UnicodeString& name) const { return FWS->RangeValue(name); }

void TqovSheet::SetCellByName(const UnicodeString& name, const Variant& value) { FWS->SetRangeValue(name, value); }

bool TqovSheet::CellLocked(int row, int column) const { return FWS->Locked(row, column); }

void TqovSheet::SetCellLocked(int row, int column, bool locked) { FWS->SetLocked(row, column, locked); }

bool TqovSheet::SheetProtected() const { return FWS->ProtectContents(); }

void TqovSheet::SetSheetProtected(bool value) {
  if (value)
    FWS->Protect();
  else
    FWS->Unprotect();
}

void TqovSheet::InsertRow(int index) { FWS->InsertRow(index); }

void TqovSheet::InsertColumn(int index) { FWS->InsertColumn(index); }

void TqovSheet::AutoFitColumn(int index) { FWS->AutofitColumn(index); }

void TqovSheet::SetName(const UnicodeString& name) { FWS->SetName(name); }

UnicodeString TqovSheet::NumberFormat(int row, int column) const { return FWS->NumberFormat(row, column); }

void TqovSheet::SetNumberFormat(int row, int column, const UnicodeString& code) {
  FWS->SetNumberFormat(row, column, code);
}

double TqovSheet::ColumnWidth(int column) const { return FWS->ColumnWidth(column); }

void TqovSheet::SetColumnWidth(int column, double width) { FWS->SetColumnWidth(column, width); }

double TqovSheet::RowHeight(int row) const { return FWS->RowHeight(row); }

void TqovSheet::SetRowHeight(int row, double height) { FWS->SetRowHeight(row, height); }

// --- TqovDocument -----------------------------------------------------------------

TqovDocument::TqovDocument(spreadsheet::ISpreadsheetServer* server, const UnicodeString& fileName) {
  auto cannotCreate = [](const UnicodeString& reason) {
    return rtl::Exception(
        rtl::FormatText(SCannotCreateExcel, {rtl::FormatText(SProgIdFailure, {reason, UnicodeString(SExcelProgId)})}));
  };
  if (!server) throw cannotCreate(UnicodeString(SNoServer));
  try {
    FMSExcel = server->CreateApplication();
  } catch (const rtl::Exception& e) {
    throw cannotCreate(e.Message());
  }
  if (!FMSExcel) throw cannotCreate(UnicodeString(SNoServer));
  FFileName = rtl::ExpandFileName(fileName);
  try {
    FWBK = FMSExcel->Open(FFileName);
    // Wrappers are made for the worksheets: a workbook with chart sheets
    // has more sheets than worksheets.
    int count = FWBK->WorksheetCount();
    for (int i = 1; i <= count; ++i) FSheets.push_back(std::make_unique<TqovSheet>(FWBK->Worksheet(i)));
  } catch (...) {
    // The server is running: end it, then report why opening failed. A
    // failure while ending it is secondary to that reason and is dropped.
    try {
      Close();
    } catch (const rtl::Exception&) {
    }
    throw;
  }
  LivingDocuments().push_back(this);
}

TqovDocument::~TqovDocument() {
  auto& living = LivingDocuments();
  living.erase(std::remove(living.begin(), living.end(), this), living.end());
}

std::vector<TqovDocument*> TqovDocument::Living() { return LivingDocuments(); }

void TqovDocument::Close() {
  FSheets.clear();
  if (!FMSExcel) return;
  std::exception_ptr firstFailure;
  auto attempt = [&](auto&& step) {
    try {
      step();
    } catch (...) {
      if (!firstFailure) firstFailure = std::current_exception();
    }
  };
  attempt([&] { FMSExcel->SetDisplayAlerts(false); });
  if (FWBK) {
    attempt([&] { FWBK->Close(true); });
    FWBK.reset();
  }
  attempt([&] { FMSExcel->Quit(); });
  FMSExcel.reset();
  if (firstFailure) std::rethrow_exception(firstFailure);
}

TqovSheet* TqovDocument::Sheet(int index) const {
  if (index < 1 || index > SheetCount()) throw rtl::EListError::IndexError(static_cast<int64_t>(index) - 1);
  return FSheets[index - 1].get();
}

TqovSheet* TqovDocument::SheetByName(const UnicodeString& name) const {
  for (const auto& sheet : FSheets)
    if (sheet->Name() == name) return sheet.get();
  return nullptr;
}

bool TqovDocument::Visible() const { return App().Visible(); }

void TqovDocument::SetVisible(bool value) { App().SetVisible(value); }

void TqovDocument::InsertSheet(int index) {
  std::shared_ptr<spreadsheet::ISheet> active = Book().ActiveSheet();
  try {
    // Selected among the worksheets, so that the new sheet lands at the
    // wrapper position `index` also in a workbook with chart sheets.
    Book().Worksheet(index)->Select();
    std::shared_ptr<spreadsheet::ISheet> added = Book().AddSheet();
    size_t position = std::min(static_cast<size_t>(std::max(index, 1) - 1), FSheets.size());
    FSheets.insert(FSheets.begin() + static_cast<std::ptrdiff_t>(position), std::make_unique<TqovSheet>(added));
  } catch (...) {
    // Re-select the sheet that was active; the insertion's failure is the
    // one reported.
    try {
      active->Select();
    } catch (const rtl::Exception&) {
    }
    throw;
  }
  active->Select();
}

TqovSheet* TqovDocument::CopySheet(int index, int before) {
  Sheet(index);  // "List index out of bounds" as for any position
  if (before < 1 || before > SheetCount() + 1) throw rtl::EListError::IndexError(static_cast<int64_t>(before) - 1);
  std::shared_ptr<spreadsheet::ISheet> active = Book().ActiveSheet();
  std::shared_ptr<spreadsheet::ISheet> copy = Book().CopySheet(index, before);
  auto wrapper = std::make_unique<TqovSheet>(copy);
  TqovSheet* result = wrapper.get();
  FSheets.insert(FSheets.begin() + (before - 1), std::move(wrapper));
  active->Select();
  return result;
}

TqovSheet* TqovDocument::AddSheet(const UnicodeString& name) {
  std::shared_ptr<spreadsheet::ISheet> active = Book().ActiveSheet();
  FSheets.push_back(std::make_unique<TqovSheet>(Book().AddNamedSheet(name)));
  active->Select();
  return FSheets.back().get();
}

void TqovDocument::DeleteSheet(int index) {
  bool alerts = App().DisplayAlerts();
  App().SetDisplayAlerts(false);
  try {
    TqovSheet* sheet = Sheet(index);
    sheet->WS()->Delete();
    FSheets.erase(FSheets.begin() + (index - 1));
  } catch (...) {
    // Restore the alerts; the deletion's failure is the one reported.
    try {
      App().SetDisplayAlerts(alerts);
    } catch (const rtl::Exception&) {
    }
    throw;
  }
  App().SetDisplayAlerts(alerts);
}

}  // namespace workbook
