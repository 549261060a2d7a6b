// The workbook and worksheet classes as scripts see them: the compile-time
// declarations and the run-time bindings, made in the same order.
#pragma once

#include "engine/runtime/ClassImporter.h"
#include "engine/uPSCompiler.h"
#include "engine/uPSComponent.h"

namespace bindings {

void SIRegister_qovDocument(ps::TPSPascalCompiler* CL);
void RIRegister_qovDocument(ps::TPSRuntimeClassImporter& CL);

// The plug-in of the engine component that makes both registrations.
class TPSImport_qovDocument : public ps::TPSPlugin {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }
  explicit TPSImport_qovDocument(rtl::TComponent* AOwner = nullptr) : TPSPlugin(AOwner) {}

  void CompileImport1(ps::TPSScript* CompExec) override;
  void ExecImport1(ps::TPSScript* CompExec, ps::TPSRuntimeClassImporter& ri) override;
};

}  // namespace bindings
