#include "bindings/uPSI_DatumskeFunkcije.h"

#include "bindings/UtilityFunctions.h"
#include "engine/runtime/HostCalls.h"

namespace bindings {

void SIRegister_DatumskeFunkcije(ps::TPSPascalCompiler* CL) {
  CL->AddNativeFunction("procedure ShellOpen(const ADocumentName, AParameter: string)");
}

void RIRegister_DatumskeFunkcije(ps::TPSExec& Exec) { ps::RegisterNativeFunction(Exec, "SHELLOPEN", &ShellOpen); }

rtl::TClass TPSImport_DatumskeFunkcije::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSImport_DatumskeFunkcije", ps::TPSPlugin::StaticClass(), nullptr);
  return &meta;
}

void TPSImport_DatumskeFunkcije::CompOnUses(ps::TPSScript* CompExec) { SIRegister_DatumskeFunkcije(CompExec->Comp()); }

void TPSImport_DatumskeFunkcije::ExecOnUses(ps::TPSScript* CompExec) { RIRegister_DatumskeFunkcije(*CompExec->Exec()); }

}  // namespace bindings
