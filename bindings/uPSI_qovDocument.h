// The workbook and worksheet classes as scripts see them: the compile-time
// declarations and the run-time bindings, made in the same order.
#pragma once

#include "engine/runtime/ClassImporter.h"
#include "engine/uPSCompiler.h"
#include "engine/uPSComponent.h"
#include "spreadsheet/SpreadsheetServer.h"

namespace bindings {

void SIRegister_qovDocument(ps::TPSPascalCompiler* CL);
// `server` starts the workbooks scripts open with TqovDocument.Create;
// without one, creating a document fails as when no server is installed.
void RIRegister_qovDocument(ps::TPSRuntimeClassImporter& CL, spreadsheet::ISpreadsheetServer* server = nullptr);

// The plug-in of the engine component that makes both registrations.
class TPSImport_qovDocument : public ps::TPSPlugin {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }
  explicit TPSImport_qovDocument(rtl::TComponent* AOwner = nullptr) : TPSPlugin(AOwner) {}

  void CompileImport1(ps::TPSScript* CompExec) override;
  void ExecImport1(ps::TPSScript* CompExec, ps::TPSRuntimeClassImporter& ri) override;

  // Not owned; must outlive every run.
  spreadsheet::ISpreadsheetServer* Server() const { return FServer; }
  void SetServer(spreadsheet::ISpreadsheetServer* value) { FServer = value; }

 private:
  spreadsheet::ISpreadsheetServer* FServer = nullptr;
};

}  // namespace bindings
