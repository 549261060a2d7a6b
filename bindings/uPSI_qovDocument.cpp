#include "bindings/uPSI_qovDocument.h"

#include "engine/imports/uPSR_std.h"
#include "workbook/qovDocument.h"

namespace bindings {

using ps::TPSCompileTimeClass;
using rtl::UnicodeString;
using workbook::TqovDocument;
using workbook::TqovSheet;

void SIRegister_qovDocument(ps::TPSPascalCompiler* CL) {
  TPSCompileTimeClass* object = CL->FindClass("TOBJECT");
  CL->AddClassN(object, "TqovDocument");
  CL->AddClassN(object, "TqovSheet");

  TPSCompileTimeClass* document = CL->AddClassN(object, "TqovDocument");
  document->RegisterMethod("Constructor Create( AFileName : string)");
  document->RegisterMethod("Procedure DeleteSheet( Index: Integer)");
  document->RegisterMethod("Procedure InsertSheet( Index: Integer)");
  document->RegisterProperty("Sheet", "TqovSheet Integer", ps::iptR);
  document->RegisterProperty("SheetByName", "TqovSheet string", ps::iptR);
  document->RegisterProperty("SheetCount", "Integer", ps::iptR);
  document->RegisterProperty("Visible", "Boolean", ps::iptRW);

  TPSCompileTimeClass* sheet = CL->AddClassN(object, "TqovSheet");
  sheet->RegisterMethod("Procedure AutoFitColumn( Index : Integer)");
  sheet->RegisterMethod("Procedure InsertRow( Index : Integer)");
  sheet->RegisterMethod("Procedure InsertColumn( Index : Integer)");
  sheet->RegisterProperty("Name", "string", ps::iptR);
  sheet->RegisterProperty("Cell", "Variant Integer Integer", ps::iptRW);
  sheet->RegisterProperty("CellByName", "Variant string", ps::iptRW);
  sheet->RegisterProperty("CellLocked", "Boolean Integer Integer", ps::iptRW);
  sheet->RegisterProperty("SheetProtected", "Boolean", ps::iptRW);
}

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

}  // namespace

void RIRegister_qovDocument(ps::TPSRuntimeClassImporter& CL, spreadsheet::ISpreadsheetServer* server) {
  CL.Add<TqovDocument>();
  CL.Add<TqovSheet>();

  auto& document = CL.Add<TqovDocument>();
  document.ConstructorFn("Create",
                         [server](const UnicodeString& AFileName) { return new TqovDocument(server, AFileName); });
  document.Method("DeleteSheet", [](TqovDocument* d, int32_t index) { d->DeleteSheet(index); });
  document.Method("InsertSheet", [](TqovDocument* d, int32_t index) { d->InsertSheet(index); });
  document.ReadProperty("Sheet", [](TqovDocument* d, int32_t index) { return d->Sheet(index); });
  document.ReadProperty("SheetByName", [](TqovDocument* d, const UnicodeString& name) { return d->SheetByName(name); });
  document.ReadProperty("SheetCount", &TqovDocument::SheetCount);
  document.Property("Visible", &TqovDocument::Visible, &TqovDocument::SetVisible);

  auto& sheet = CL.Add<TqovSheet>();
  sheet.Method("AutoFitColumn", [](TqovSheet* s, int32_t index) { s->AutoFitColumn(index); });
  sheet.Method("InsertRow", [](TqovSheet* s, int32_t index) { s->InsertRow(index); });
  sheet.Method("InsertColumn", [](TqovSheet* s, int32_t index) { s->InsertColumn(index); });
  sheet.ReadProperty("Name", &TqovSheet::Name);
  sheet.Property("Cell", &TqovSheet::Cell, &TqovSheet::SetCell);
  sheet.Property("CellByName", &TqovSheet::CellByName, &TqovSheet::SetCellByName);
  sheet.Property("CellLocked", &TqovSheet::CellLocked, &TqovSheet::SetCellLocked);
  sheet.Property("SheetProtected", &TqovSheet::SheetProtected, &TqovSheet::SetSheetProtected);

  // Free is declared once, by TObject; this later registration hides the
  // standard one so that freeing a script's own workbook saves it first.
  CL.Add<rtl::TObject>().Method("Free", &FreeScriptObject);
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
