// The CSV table and its rows as scripts see them: the compile-time
// declarations and the run-time bindings, made in the same order.
#pragma once

#include "engine/runtime/ClassImporter.h"
#include "engine/uPSCompiler.h"
#include "engine/uPSComponent.h"

namespace bindings {

void SIRegister_qovData(ps::TPSPascalCompiler* CL);
void RIRegister_qovData(ps::TPSRuntimeClassImporter& CL);

// The plug-in of the engine component that makes both registrations.
class TPSImport_qovData : public ps::TPSPlugin {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }
  explicit TPSImport_qovData(rtl::TComponent* AOwner = nullptr) : TPSPlugin(AOwner) {}

  void CompileImport1(ps::TPSScript* CompExec) override;
  void ExecImport1(ps::TPSScript* CompExec, ps::TPSRuntimeClassImporter& ri) override;
};

}  // namespace bindings
