#include "bindings/uPSI_qovData.h"

#include "data/qovData.h"

namespace bindings {

using data::TqovData;
using data::TqovDataRow;
using ps::TPSCompileTimeClass;
using rtl::UnicodeString;

void SIRegister_qovData(ps::TPSPascalCompiler* CL) {
  TPSCompileTimeClass* object = CL->FindClass("TOBJECT");
  // Both names first, so that each class may name the other.
  CL->AddClassN(object, "TqovData");
  CL->AddClassN(object, "TqovDataRow");

  TPSCompileTimeClass* table = CL->AddClassN(object, "TqovData");
  table->RegisterMethod("Constructor Create( AFileName : string; AHasHeaderRow : Boolean; AFieldDelimiter: Char)");
  table->RegisterProperty("FieldDelimiter", "Char", ps::iptR);
  table->RegisterProperty("HasHeaderRow", "Boolean", ps::iptR);
  table->RegisterProperty("Header", "string Integer", ps::iptR);
  table->RegisterProperty("HeaderCount", "Integer", ps::iptR);
  table->RegisterProperty("HeaderIndex", "Integer string", ps::iptR);
  table->RegisterProperty("Row", "TqovDataRow Integer", ps::iptR);
  table->SetDefaultPropery("Row");
  table->RegisterProperty("RowCount", "Integer", ps::iptR);
  table->RegisterProperty("Cell", "string Integer Integer", ps::iptR);
  table->RegisterMethod("Function LocateRow( KeyColumn : Integer; KeyValue : string; RowOffset : Integer) : Integer");
  table->RegisterMethod(
      "Function GetRowByHeader( const HeaderName, KeyValue : string; RowOffset : Integer) : TqovDataRow");

  TPSCompileTimeClass* row = CL->AddClassN(object, "TqovDataRow");
  row->RegisterProperty("Column", "string Integer", ps::iptR);
  row->SetDefaultPropery("Column");
  row->RegisterProperty("ColumnCount", "Integer", ps::iptR);
}

void RIRegister_qovData(ps::TPSRuntimeClassImporter& CL) {
  CL.Add<TqovData>();
  CL.Add<TqovDataRow>();

  auto& table = CL.Add<TqovData>();
  table.ConstructorFn("Create", [](const UnicodeString& AFileName, bool AHasHeaderRow, char16_t AFieldDelimiter) {
    return new TqovData(AFileName, AHasHeaderRow, AFieldDelimiter);
  });
  table.ReadProperty("FieldDelimiter", &TqovData::FieldDelimiter);
  table.ReadProperty("HasHeaderRow", &TqovData::HasHeaderRow);
  table.ReadProperty("Header", [](TqovData* t, int32_t index) { return t->Header(index); });
  table.ReadProperty("HeaderCount", &TqovData::HeaderCount);
  table.ReadProperty("HeaderIndex", [](TqovData* t, const UnicodeString& name) { return t->HeaderIndex(name); });
  table.ReadProperty("Row", [](TqovData* t, int32_t index) { return t->Row(index); });
  table.ReadProperty("RowCount", &TqovData::RowCount);
  table.ReadProperty("Cell", [](TqovData* t, int32_t row, int32_t column) { return t->Cell(row, column); });
  table.Method("LocateRow", [](TqovData* t, int32_t KeyColumn, const UnicodeString& KeyValue, int32_t RowOffset) {
    return t->LocateRow(KeyColumn, KeyValue, RowOffset);
  });
  table.Method("GetRowByHeader", [](TqovData* t, const UnicodeString& HeaderName, const UnicodeString& KeyValue,
                                    int32_t RowOffset) { return t->GetRowByHeader(HeaderName, KeyValue, RowOffset); });

  auto& row = CL.Add<TqovDataRow>();
  row.ReadProperty("Column", [](TqovDataRow* r, int32_t index) { return r->Column(index); });
  row.ReadProperty("ColumnCount", &TqovDataRow::ColumnCount);
}

rtl::TClass TPSImport_qovData::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSImport_qovData", ps::TPSPlugin::StaticClass(), nullptr);
  return &meta;
}

void TPSImport_qovData::CompileImport1(ps::TPSScript* CompExec) { SIRegister_qovData(CompExec->Comp()); }

void TPSImport_qovData::ExecImport1(ps::TPSScript* CompExec, ps::TPSRuntimeClassImporter& ri) {
  RIRegister_qovData(ri);
}

}  // namespace bindings
