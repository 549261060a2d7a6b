#include "engine/uPSComponent_Default.h"

#include "engine/imports/uPSC_classes.h"
#include "engine/imports/uPSC_dateutils.h"
#include "engine/imports/uPSC_std.h"
#include "engine/imports/uPSR_classes.h"
#include "engine/imports/uPSR_dateutils.h"
#include "engine/imports/uPSR_std.h"

namespace ps {

rtl::TClass TPSImport_Classes::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSImport_Classes", TPSPlugin::StaticClass(),
                                    &rtl::CreateInstance<TPSImport_Classes>);
  return &meta;
}

void TPSImport_Classes::CompileImport1(TPSScript* CompExec) {
  SIRegister_Std(CompExec->Comp());
  if (FEnableClasses) SIRegister_Classes(CompExec->Comp(), FEnableStreams);
}

void TPSImport_Classes::ExecImport1(TPSScript*, TPSRuntimeClassImporter& ri) {
  RIRegister_Std(ri);
  if (FEnableClasses) RIRegister_Classes(ri, FEnableStreams);
}

rtl::TClass TPSImport_DateUtils::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSImport_DateUtils", TPSPlugin::StaticClass(),
                                    &rtl::CreateInstance<TPSImport_DateUtils>);
  return &meta;
}

void TPSImport_DateUtils::CompOnUses(TPSScript* CompExec) { RegisterDateTimeLibrary_C(CompExec->Comp()); }

void TPSImport_DateUtils::ExecOnUses(TPSScript* CompExec) { RegisterDateTimeLibrary_R(*CompExec->Exec()); }

}  // namespace ps
