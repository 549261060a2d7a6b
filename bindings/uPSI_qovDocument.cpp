#include "bindings/uPSI_qovDocument.h"

#include "engine/imports/uPSR_std.h"
#include "engine/runtime/LibraryRows.h"
#include "workbook/qovDocument.h"

namespace bindings {

using ps::TPSCompileTimeClass;
using rtl::UnicodeString;
using workbook::TqovDocument;
using workbook::TqovSheet;

namespace {

// A workbook the script opened itself is saved and closed when the script
// frees it. Close reports a failed save after the server has quit; the object
// is freed either way, so the failure is the only thing left to report.
void FreeScriptObject(rtl::TObject* object) {
  auto* document = dynamic_cast<TqovDocument*>(object);
  if (!document || object->OwnedByHost() || object->InUse()) {
    ps::ScriptFreeObject(object);
    return;
  }
  try {
    document->Close();
  } catch (...) {
    ps::ScriptFreeObject(object);
    throw;
  }
  ps::ScriptFreeObject(object);
}

// The rows are made for each registration: the constructor binds the
// server the host hands over (none when only compiling).
std::vector<ps::TPSClassRow> qovDocumentClassRows(spreadsheet::ISpreadsheetServer* server) {
  std::vector<ps::TPSClassRow> r;
  r.push_back(
      ps::TPSClassRows<TqovDocument>("TObject", "TqovDocument")
          .ConstructorFn("Constructor Create( AFileName : string)",
                         [server](const UnicodeString& AFileName) { return new TqovDocument(server, AFileName); })
          .Method("Procedure DeleteSheet( Index: Integer)",
                  [](TqovDocument* d, int32_t index) { d->DeleteSheet(index); })
          .Method("Procedure InsertSheet( Index: Integer)",
                  [](TqovDocument* d, int32_t index) { d->InsertSheet(index); })
          .ReadProperty("Sheet", "TqovSheet Integer", [](TqovDocument* d, int32_t index) { return d->Sheet(index); })
          .ReadProperty("SheetByName", "TqovSheet string",
                        [](TqovDocument* d, const UnicodeString& name) { return d->SheetByName(name); })
          .ReadProperty("SheetCount", "Integer", &TqovDocument::SheetCount)
          .Property("Visible", "Boolean", &TqovDocument::Visible, &TqovDocument::SetVisible)
          .Method("Function CopySheet( Index, Before : Integer) : TqovSheet",
                  [](TqovDocument* d, int32_t index, int32_t before) { return d->CopySheet(index, before); })
          .Method("Function AddSheet( Name : string) : TqovSheet",
                  [](TqovDocument* d, const UnicodeString& name) { return d->AddSheet(name); }));
  r.push_back(
      ps::TPSClassRows<TqovSheet>("TObject", "TqovSheet")
          .Method("Procedure AutoFitColumn( Index : Integer)",
                  [](TqovSheet* s, int32_t index) { s->AutoFitColumn(index); })
          .Method("Procedure InsertRow( Index : Integer)", [](TqovSheet* s, int32_t index) { s->InsertRow(index); })
          .Method("Procedure InsertColumn( Index : Integer)",
                  [](TqovSheet* s, int32_t index) { s->InsertColumn(index); })
          .Property("Name", "string", &TqovSheet::Name, &TqovSheet::SetName)
          .Property("Cell", "Variant Integer Integer", &TqovSheet::Cell, &TqovSheet::SetCell)
          .Property("CellByName", "Variant string", &TqovSheet::CellByName, &TqovSheet::SetCellByName)
          .Property("CellLocked", "Boolean Integer Integer", &TqovSheet::CellLocked, &TqovSheet::SetCellLocked)
          .Property("SheetProtected", "Boolean", &TqovSheet::SheetProtected, &TqovSheet::SetSheetProtected)
          .Property("NumberFormat", "string Integer Integer", &TqovSheet::NumberFormat, &TqovSheet::SetNumberFormat)
          .Property("ColumnWidth", "Double Integer", &TqovSheet::ColumnWidth, &TqovSheet::SetColumnWidth)
          .Property("RowHeight", "Double Integer", &TqovSheet::RowHeight, &TqovSheet::SetRowHeight));
  // Free is declared once, by TObject; this later binding hides the
  // standard one so that freeing a script's own workbook saves it first.
  r.push_back(ps::TPSClassRows<rtl::TObject>("", "TObject").Rebinds().Method("procedure Free", &FreeScriptObject));
  return r;
}

}  // namespace

void SIRegister_qovDocument(ps::TPSPascalCompiler* CL) {
  TPSCompileTimeClass* object = CL->FindClass("TOBJECT");
  // Both names first, so that each class may name the other.
  CL->AddClassN(object, "TqovDocument");
  CL->AddClassN(object, "TqovSheet");
  ps::DeclareClasses(CL, qovDocumentClassRows(nullptr));
}

void RIRegister_qovDocument(ps::TPSRuntimeClassImporter& CL, spreadsheet::ISpreadsheetServer* server) {
  ps::BindClasses(CL, qovDocumentClassRows(server));
}

rtl::TClass TPSImport_qovDocument::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSImport_qovDocument", ps::TPSPlugin::StaticClass(), nullptr);
  return &meta;
}

void TPSImport_qovDocument::CompileImport1(ps::TPSScript* CompExec) { SIRegister_qovDocument(CompExec->Comp()); }

void TPSImport_qovDocument::ExecImport1(ps::TPSScript* CompExec, ps::TPSRuntimeClassImporter& ri) {
  RIRegister_qovDocument(ri, FServer);
}

}  // namespace bindings
