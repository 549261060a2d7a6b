// The regular-expression classes as scripts see them: the compile-time
// declarations and the run-time bindings, made in the same order.
#pragma once

#include "engine/runtime/ClassImporter.h"
#include "engine/uPSCompiler.h"
#include "engine/uPSComponent.h"

namespace bindings {

void SIRegister_PerlRegEx(ps::TPSPascalCompiler* CL);
void RIRegister_PerlRegEx(ps::TPSRuntimeClassImporter& CL);

// The plug-in of the engine component that makes both registrations.
class TPSImport_PerlRegEx : public ps::TPSPlugin {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }
  explicit TPSImport_PerlRegEx(rtl::TComponent* AOwner = nullptr) : TPSPlugin(AOwner) {}

  void CompileImport1(ps::TPSScript* CompExec) override;
  void ExecImport1(ps::TPSScript* CompExec, ps::TPSRuntimeClassImporter& ri) override;
};

}  // namespace bindings
