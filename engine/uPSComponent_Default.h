// The default plug-ins: the standard classes library and the date and time
// library.
#pragma once

#include "engine/uPSComponent.h"

namespace ps {

class TPSImport_Classes : public TPSPlugin {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }
  explicit TPSImport_Classes(rtl::TComponent* AOwner = nullptr) : TPSPlugin(AOwner) {}

  void CompileImport1(TPSScript* CompExec) override;
  void ExecImport1(TPSScript* CompExec, TPSRuntimeClassImporter& ri) override;

  bool EnableStreams() const { return FEnableStreams; }
  void SetEnableStreams(bool value) { FEnableStreams = value; }
  bool EnableClasses() const { return FEnableClasses; }
  void SetEnableClasses(bool value) { FEnableClasses = value; }

 private:
  bool FEnableStreams = true;
  bool FEnableClasses = true;
};

class TPSImport_DateUtils : public TPSPlugin {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }
  explicit TPSImport_DateUtils(rtl::TComponent* AOwner = nullptr) : TPSPlugin(AOwner) {}

  void CompOnUses(TPSScript* CompExec) override;
  void ExecOnUses(TPSScript* CompExec) override;
};

}  // namespace ps
