// ShellOpen for scripts: declared when the compiler reads the implicit unit,
// bound under the name SHELLOPEN before the module loads.
#pragma once

#include "engine/uPSCompiler.h"
#include "engine/uPSComponent.h"
#include "engine/uPSRuntime.h"

namespace bindings {

void SIRegister_DatumskeFunkcije(ps::TPSPascalCompiler* CL);
void RIRegister_DatumskeFunkcije(ps::TPSExec& Exec);

// The plug-in: its uses hooks declare and bind ShellOpen.
class TPSImport_DatumskeFunkcije : public ps::TPSPlugin {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }
  explicit TPSImport_DatumskeFunkcije(rtl::TComponent* AOwner = nullptr) : TPSPlugin(AOwner) {}

  void CompOnUses(ps::TPSScript* CompExec) override;
  void ExecOnUses(ps::TPSScript* CompExec) override;
};

}  // namespace bindings
