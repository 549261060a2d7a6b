// Member access on host objects, interfaces and variants: class methods,
// properties and constructors through the registered imports, and variant
// members through IDispatchInvoke.
#include "engine/compiler/CodeGen.h"

namespace ps {

// --- Members of host objects and variants ---------------------------------------------------

TPSValuePtr TPSCodeGen::PropertyCall(TPSValuePtr object, TPSCompileTimeClass* cls, TPSNativeClassItemProperty* prop,
                                     std::vector<TPSValuePtr> args, bool write, TPSSourcePos at) {
  // The import names the class that declares the member.
  TPSCompileTimeClass* owner = prop->FOwner ? prop->FOwner : cls;
  int32_t procNo = write ? owner->Property_Set(prop) : owner->Property_Get(prop);
  if (procNo < 0) {
    C.MakeError("", write ? ecReadOnlyProperty : ecWriteOnlyProperty, "")->SetCustomPos(at);
    return nullptr;
  }
  TPSParametersDecl decl;
  TPSParameterDecl self;
  self.FName = "SELF";
  self.FType = object->Type;
  decl.FParams.push_back(self);
  for (auto& prm : prop->FDecl.FParams) decl.FParams.push_back(prm);
  if (write) {
    TPSParameterDecl value;
    value.FName = "VALUE";
    value.FType = prop->FDecl.FResult;
    decl.FParams.push_back(value);
  } else {
    decl.FResult = prop->FDecl.FResult;
  }
  args.insert(args.begin(), std::move(object));
  return MakeCall(procNo, decl, std::move(args), at);
}

TPSValuePtr TPSCodeGen::ClassMember(TPSValuePtr object, bool statement, bool atName) {
  TPSSourcePos at = P.Position();
  TPSCompileTimeClass* cls = static_cast<TPSClassType*>(ResolveTypeLink(object->Type))->FCL;
  if (!cls) {
    Error(ecClassTypeExpected);
    return nullptr;
  }
  TPSNativeClassItemProperty* prop = nullptr;
  TPSNativeClassItemMethod* method = nullptr;
  std::string orgName;
  if (atName || P.CurrTokenID() == CSTI_Period) {
    if (!atName) P.Next();
    if (P.CurrTokenID() != CSTI_Identifier) {
      Error(ecIdentifierExpected);
      return nullptr;
    }
    orgName = P.OriginalToken();
    prop = cls->Property_Find(P.GetToken());
    if (!prop) method = cls->Func_Find(P.GetToken());
    if (!prop && !method) {
      Error(ecUnknownIdentifier, orgName);
      return nullptr;
    }
    P.Next();
  } else {
    prop = cls->Property_Find("");  // the default array property
    if (!prop) {
      Error(ecUnknownIdentifier, "");
      return nullptr;
    }
  }
  std::vector<TPSValuePtr> args;
  if (method) {
    if (P.CurrTokenID() == CSTI_OpenRound && !ReadArguments(args, CSTI_CloseRound)) return nullptr;
    TPSParametersDecl decl = method->FDecl;
    TPSParameterDecl self;
    self.FName = "SELF";
    self.FType = object->Type;
    decl.FParams.insert(decl.FParams.begin(), self);
    args.insert(args.begin(), std::move(object));
    return MakeCall((method->FOwner ? method->FOwner : cls)->Func_Call(method), decl, std::move(args), at);
  }
  if (!prop->FDecl.FParams.empty()) {
    if (P.CurrTokenID() != CSTI_OpenBlock) {
      Error(ecOpenBlockExpected);
      return nullptr;
    }
    if (!ReadArguments(args, CSTI_CloseBlock)) return nullptr;
  }
  if (statement && P.CurrTokenID() == CSTI_Assignment) {
    auto target = std::make_unique<TPSValue>(TPSValueKind::PropertyTarget);
    target->Position = at;
    target->Type = prop->FDecl.FResult;
    target->Prop = prop;
    target->Class = cls;
    target->Left = std::move(object);
    target->Args = std::move(args);
    return target;
  }
  return PropertyCall(std::move(object), cls, prop, std::move(args), false, at);
}

TPSValuePtr TPSCodeGen::DispatchCall(TPSValuePtr object, const std::string& name, std::vector<TPSValuePtr> args,
                                     bool set, TPSSourcePos at) {
  TPSRegProc* reg = C.FindRegProcUpper("IDISPATCHINVOKE");
  if (!reg) {
    C.MakeError("", ecUnknownIdentifier, "IDispatchInvoke")->SetCustomPos(at);
    return nullptr;
  }
  std::vector<TPSValuePtr> callArgs;
  callArgs.push_back(std::move(object));
  TIfRVariant flag;
  flag.FType = C.FDefaultBoolType;
  flag.FInt = set ? 1 : 0;
  callArgs.push_back(ConstValue(flag, at));
  TIfRVariant text;
  text.FType = C.FStd.AnsiString;
  text.FString = name;
  callArgs.push_back(ConstValue(text, at));
  auto list = std::make_unique<TPSValue>(TPSValueKind::Array);
  list->Position = at;
  list->Args = std::move(args);
  callArgs.push_back(std::move(list));
  return MakeCall(C.UseRegProc(reg), reg->FDecl, std::move(callArgs), at);
}

TPSValuePtr TPSCodeGen::VariantMember(TPSValuePtr object, bool statement) {
  TPSSourcePos at = P.Position();
  P.Next();  // past "."
  if (P.CurrTokenID() != CSTI_Identifier) {
    Error(ecIdentifierExpected);
    return nullptr;
  }
  std::string name = P.OriginalToken();
  P.Next();
  std::vector<TPSValuePtr> args;
  if (P.CurrTokenID() == CSTI_OpenRound && !ReadArguments(args, CSTI_CloseRound)) return nullptr;
  if (P.CurrTokenID() == CSTI_OpenBlock && !ReadArguments(args, CSTI_CloseBlock)) return nullptr;
  if (statement && P.CurrTokenID() == CSTI_Assignment) {
    auto target = std::make_unique<TPSValue>(TPSValueKind::DispatchTarget);
    target->Position = at;
    target->Type = C.FStd.Variant;
    target->Name = name;
    target->Left = std::move(object);
    target->Args = std::move(args);
    return target;
  }
  return DispatchCall(std::move(object), name, std::move(args), false, at);
}

}  // namespace ps
