#include "engine/imports/uPSC_std.h"

namespace ps {

void SIRegister_Std_TypesAndConsts(TPSPascalCompiler* cl) {
  cl->AddTypeS("TComponentStateE",
               "(csLoading, csReading, csWriting, csDestroying, csDesigning, csAncestor, csUpdating, csFixups, "
               "csFreeNotification, csInline, csDesignInstance)");
  cl->AddTypeS("TComponentState", "set of TComponentStateE");
  cl->AddTypeS("TRect", "record Left, Top, Right, Bottom: Integer; end;");
}

void SIRegisterTObject(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = cl->AddClassN(nullptr, "TObject");
  c->RegisterMethod("constructor Create");
  c->RegisterMethod("procedure Free");
}

void SIRegisterTPersistent(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = cl->AddClassN(cl->FindClass("TObject"), "TPersistent");
  c->RegisterMethod("procedure Assign(Source: TPersistent)");
}

void SIRegisterTComponent(TPSPascalCompiler* cl) {
  TPSCompileTimeClass* c = cl->AddClassN(cl->FindClass("TPersistent"), "TComponent");
  c->RegisterMethod("function FindComponent(AName: String): TComponent;");
  c->RegisterMethod("constructor Create(AOwner: TComponent); virtual;");
  c->RegisterProperty("Owner", "TComponent", iptRW);
  c->RegisterMethod("procedure DestroyComponents");
  c->RegisterMethod("procedure Destroying");
  c->RegisterMethod("procedure FreeNotification(AComponent:TComponent)");
  c->RegisterMethod("procedure InsertComponent(AComponent:TComponent)");
  c->RegisterMethod("procedure RemoveComponent(AComponent:TComponent)");
  c->RegisterProperty("Components", "TComponent Integer", iptR);
  c->RegisterProperty("ComponentCount", "Integer", iptR);
  c->RegisterProperty("ComponentIndex", "Integer", iptRW);
  c->RegisterProperty("ComponentState", "Byte", iptR);
  c->RegisterProperty("Designinfo", "LongInt", iptRW);
  c->RegisterProperty("Name", "String", iptRW);
  c->RegisterProperty("Tag", "LongInt", iptRW);
}

void SIRegister_Std(TPSPascalCompiler* cl) {
  SIRegister_Std_TypesAndConsts(cl);
  SIRegisterTObject(cl);
  SIRegisterTPersistent(cl);
  SIRegisterTComponent(cl);
}

}  // namespace ps
