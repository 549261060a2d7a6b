#include "bindings/uPSI_DatumskeFunkcije.h"

#include "bindings/UtilityFunctions.h"
#include "engine/runtime/LibraryRows.h"

namespace bindings {

namespace {

std::span<const ps::TPSRoutineRow> DatumskeFunkcijeRoutineRows() {
  static const std::vector<ps::TPSRoutineRow> rows = {
      {"procedure ShellOpen(const ADocumentName, AParameter: string)", ps::Native(&ShellOpen)},
  };
  return rows;
}

}  // namespace

void SIRegister_DatumskeFunkcije(ps::TPSPascalCompiler* CL) { ps::DeclareRoutines(CL, DatumskeFunkcijeRoutineRows()); }

void RIRegister_DatumskeFunkcije(ps::TPSExec& Exec) { ps::BindRoutines(Exec, DatumskeFunkcijeRoutineRows()); }

rtl::TClass TPSImport_DatumskeFunkcije::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSImport_DatumskeFunkcije", ps::TPSPlugin::StaticClass(), nullptr);
  return &meta;
}

void TPSImport_DatumskeFunkcije::CompOnUses(ps::TPSScript* CompExec) { SIRegister_DatumskeFunkcije(CompExec->Comp()); }

void TPSImport_DatumskeFunkcije::ExecOnUses(ps::TPSScript* CompExec) { RIRegister_DatumskeFunkcije(*CompExec->Exec()); }

}  // namespace bindings
