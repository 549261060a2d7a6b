#include "engine/imports/uPSC_std.h"

#include "engine/imports/Libraries.h"

namespace ps {

void SIRegister_Std_TypesAndConsts(TPSPascalCompiler* cl) {
  cl->AddTypeS("TComponentStateE",
               "(csLoading, csReading, csWriting, csDestroying, csDesigning, csAncestor, csUpdating, csFixups, "
               "csFreeNotification, csInline, csDesignInstance)");
  cl->AddTypeS("TComponentState", "set of TComponentStateE");
  cl->AddTypeS("TRect", "record Left, Top, Right, Bottom: Integer; end;");
}

void SIRegisterTObject(TPSPascalCompiler* cl) { DeclareClass(cl, FindClassRow(StdClassRows(), "TObject")); }

void SIRegisterTPersistent(TPSPascalCompiler* cl) { DeclareClass(cl, FindClassRow(StdClassRows(), "TPersistent")); }

void SIRegisterTComponent(TPSPascalCompiler* cl) { DeclareClass(cl, FindClassRow(StdClassRows(), "TComponent")); }

void SIRegister_Std(TPSPascalCompiler* cl) {
  SIRegister_Std_TypesAndConsts(cl);
  DeclareClasses(cl, StdClassRows());
}

}  // namespace ps
