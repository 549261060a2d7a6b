#include "bindings/uPSI_qovData.h"

#include "data/qovData.h"
#include "engine/runtime/LibraryRows.h"

namespace bindings {

using data::TqovData;
using data::TqovDataRow;
using ps::TPSCompileTimeClass;
using rtl::UnicodeString;

namespace {

std::span<const ps::TPSClassRow> qovDataClassRows() {
  static const std::vector<ps::TPSClassRow> rows = [] {
    std::vector<ps::TPSClassRow> r;
    r.push_back(
        ps::TPSClassRows<TqovData>("TObject", "TqovData")
            .ConstructorFn("Constructor Create( AFileName : string; AHasHeaderRow : Boolean; AFieldDelimiter: Char)",
                           [](const UnicodeString& AFileName, bool AHasHeaderRow, char16_t AFieldDelimiter) {
                             return new TqovData(AFileName, AHasHeaderRow, AFieldDelimiter);
                           })
            .ReadProperty("FieldDelimiter", "Char", &TqovData::FieldDelimiter)
            .Published("HasHeaderRow")
            .ReadProperty("Header", "string Integer", [](TqovData* t, int32_t index) { return t->Header(index); })
            .Published("HeaderCount")
            .ReadProperty("HeaderIndex", "Integer string",
                          [](TqovData* t, const UnicodeString& name) { return t->HeaderIndex(name); })
            .ReadProperty("Row", "TqovDataRow Integer", [](TqovData* t, int32_t index) { return t->Row(index); })
            .Default()
            .Published("RowCount")
            .ReadProperty("Cell", "string Integer Integer",
                          [](TqovData* t, int32_t row, int32_t column) { return t->Cell(row, column); })
            .Method("Function LocateRow( KeyColumn : Integer; KeyValue : string; RowOffset : Integer) : Integer",
                    [](TqovData* t, int32_t KeyColumn, const UnicodeString& KeyValue, int32_t RowOffset) {
                      return t->LocateRow(KeyColumn, KeyValue, RowOffset);
                    })
            .Method("Function GetRowByHeader( const HeaderName, KeyValue : string; RowOffset : Integer) : TqovDataRow",
                    [](TqovData* t, const UnicodeString& HeaderName, const UnicodeString& KeyValue, int32_t RowOffset) {
                      return t->GetRowByHeader(HeaderName, KeyValue, RowOffset);
                    }));
    r.push_back(
        ps::TPSClassRows<TqovDataRow>("TObject", "TqovDataRow")
            .ReadProperty("Column", "string Integer", [](TqovDataRow* r, int32_t index) { return r->Column(index); })
            .Default()
            .Published("ColumnCount"));
    return r;
  }();
  return rows;
}

}  // namespace

void SIRegister_qovData(ps::TPSPascalCompiler* CL) {
  TPSCompileTimeClass* object = CL->FindClass("TOBJECT");
  // Both names first, so that each class may name the other.
  CL->AddClassN(object, "TqovData");
  CL->AddClassN(object, "TqovDataRow");
  ps::DeclareClasses(CL, qovDataClassRows());
}

void RIRegister_qovData(ps::TPSRuntimeClassImporter& CL) { ps::BindClasses(CL, qovDataClassRows()); }

rtl::TClass TPSImport_qovData::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSImport_qovData", ps::TPSPlugin::StaticClass(), nullptr);
  return &meta;
}

void TPSImport_qovData::CompileImport1(ps::TPSScript* CompExec) { SIRegister_qovData(CompExec->Comp()); }

void TPSImport_qovData::ExecImport1(ps::TPSScript* CompExec, ps::TPSRuntimeClassImporter& ri) {
  RIRegister_qovData(ri);
}

}  // namespace bindings
