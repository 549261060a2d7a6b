#include "workbook/qovDocument.h"

#include <algorithm>
#include <exception>

namespace workbook {

using rtl::OleCall;
using rtl::OleGet;
using rtl::OlePut;

namespace {

Variant Int(int value) { return Variant(static_cast<int32_t>(value)); }

std::vector<TqovDocument*>& LivingDocuments() {
  static std::vector<TqovDocument*> documents;
  return documents;
}

}  // namespace

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

UnicodeString TqovSheet::Name() const { return OleGet(FWS, u"Name").AsUnicodeString(); }

Variant TqovSheet::CellRange(int row, int column) const {
  return OleGet(OleGet(FWS, u"Cells"), u"Item", {Int(row), Int(column)});
}

Variant TqovSheet::Cell(int row, int column) const { return OleGet(CellRange(row, column), u"Value"); }

void TqovSheet::SetCell(int row, int column, const Variant& value) { OlePut(CellRange(row, column), u"Value", value); }

Variant TqovSheet::CellByName(const UnicodeString& name) const {
  return OleGet(OleGet(FWS, u"Range", {Variant::FromOleStr(name), Variant::FromOleStr(name)}), u"Value");
}

void TqovSheet::SetCellByName(const UnicodeString& name, const Variant& value) {
  OlePut(OleGet(FWS, u"Range", {Variant::FromOleStr(name), Variant::FromOleStr(name)}), u"Value", value);
}

bool TqovSheet::CellLocked(int row, int column) const { return OleGet(CellRange(row, column), u"Locked").AsBoolean(); }

void TqovSheet::SetCellLocked(int row, int column, bool locked) {
  OlePut(CellRange(row, column), u"Locked", Variant(locked));
}

bool TqovSheet::SheetProtected() const { return OleGet(FWS, u"ProtectContents").AsBoolean(); }

void TqovSheet::SetSheetProtected(bool value) { OleCall(FWS, value ? u"Protect" : u"Unprotect"); }

void TqovSheet::InsertRow(int index) { OleCall(OleGet(FWS, u"Rows", {Int(index)}), u"Insert"); }

void TqovSheet::InsertColumn(int index) { OleCall(OleGet(FWS, u"Columns", {Int(index)}), u"Insert"); }

void TqovSheet::AutoFitColumn(int index) { OleCall(OleGet(FWS, u"Columns", {Int(index)}), u"Autofit"); }

// --- TqovDocument -----------------------------------------------------------------

TqovDocument::TqovDocument(const UnicodeString& fileName) {
  try {
    rtl::TRef<rtl::IDispatch> app = rtl::CreateOleObject(SExcelProgId);
    FMSExcel = Variant::FromDispatch(app.Get());
  } catch (const rtl::Exception& e) {
    throw rtl::Exception(rtl::FormatText(SCannotCreateExcel, {e.Message()}));
  }
  FFileName = rtl::ExpandFileName(fileName);
  try {
    FWBK = OleCall(OleGet(FMSExcel, u"WorkBooks"), u"Open", {Variant::FromOleStr(FFileName)});
    // Wrappers are made for the worksheets, counted from Worksheets: a
    // workbook with chart sheets has more Sheets than Worksheets.
    Variant worksheets = OleGet(FWBK, u"Worksheets");
    int count = OleGet(worksheets, u"Count").AsInteger();
    for (int i = 1; i <= count; ++i)
      FSheets.push_back(std::make_unique<TqovSheet>(OleGet(OleGet(FWBK, u"Worksheets"), u"Item", {Int(i)})));
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
  if (FMSExcel.IsEmpty()) return;
  std::exception_ptr firstFailure;
  auto attempt = [&](auto&& step) {
    try {
      step();
    } catch (...) {
      if (!firstFailure) firstFailure = std::current_exception();
    }
  };
  attempt([&] { OlePut(FMSExcel, u"DisplayAlerts", Variant(false)); });
  if (!FWBK.IsEmpty()) {
    attempt([&] { OleCall(FWBK, u"Close", {}, {{u"SaveChanges", Variant(true)}}); });
    FWBK.Clear();
  }
  attempt([&] { OleCall(FMSExcel, u"Quit"); });
  FMSExcel.Clear();
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

bool TqovDocument::Visible() const { return OleGet(FMSExcel, u"Visible").AsBoolean(); }

void TqovDocument::SetVisible(bool value) { OlePut(FMSExcel, u"Visible", Variant(value)); }

void TqovDocument::InsertSheet(int index) {
  Variant active = OleGet(FWBK, u"ActiveSheet");
  try {
    // Selected among the worksheets, so that the new sheet lands at the
    // wrapper position `index` also in a workbook with chart sheets.
    OleCall(OleGet(FWBK, u"Worksheets", {Int(index)}), u"Select");
    Variant added = OleCall(OleGet(FWBK, u"Sheets"), u"Add");
    size_t position = std::min(static_cast<size_t>(std::max(index, 1) - 1), FSheets.size());
    FSheets.insert(FSheets.begin() + static_cast<std::ptrdiff_t>(position), std::make_unique<TqovSheet>(added));
  } catch (...) {
    // Re-select the sheet that was active; the insertion's failure is the
    // one reported.
    try {
      OleCall(active, u"Select");
    } catch (const rtl::Exception&) {
    }
    throw;
  }
  OleCall(active, u"Select");
}

void TqovDocument::DeleteSheet(int index) {
  bool alerts = OleGet(FMSExcel, u"DisplayAlerts").AsBoolean();
  OlePut(FMSExcel, u"DisplayAlerts", Variant(false));
  try {
    TqovSheet* sheet = Sheet(index);
    OleCall(sheet->WS(), u"Delete");
    FSheets.erase(FSheets.begin() + (index - 1));
  } catch (...) {
    // Restore the alerts; the deletion's failure is the one reported.
    try {
      OlePut(FMSExcel, u"DisplayAlerts", Variant(alerts));
    } catch (const rtl::Exception&) {
    }
    throw;
  }
  OlePut(FMSExcel, u"DisplayAlerts", Variant(alerts));
}

}  // namespace workbook
