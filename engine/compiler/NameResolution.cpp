// Which declaration an identifier in a statement or expression names.
#include "engine/uPSCompiler.h"

namespace ps {

TPSIdentifier TPSPascalCompiler::FindIdentifier(std::string_view upperName, const TPSInternalProcedure* proc) const {
  TPSIdentifier id;
  uint32_t hash = MakeHash(upperName);
  if (upperName == "RESULT") {
    // Only a function has a result; elsewhere RESULT is an unknown name.
    if (proc && proc->FDecl.FResult) {
      id.Kind = TPSIdentifierKind::Result;
      id.Type = proc->FDecl.FResult;
    }
    return id;
  }
  if (proc) {
    for (size_t i = 0; i < proc->FDecl.FParams.size(); ++i) {
      const TPSParameterDecl& p = proc->FDecl.FParams[i];
      if (p.FName == upperName) {
        id.Kind = TPSIdentifierKind::Param;
        id.Index = static_cast<int32_t>(i);
        id.Type = p.FType;
        return id;
      }
    }
    for (size_t i = 0; i < proc->FProcVars.size(); ++i) {
      if (proc->FProcVars[i]->Is(upperName, hash)) {
        id.Kind = TPSIdentifierKind::Local;
        id.Index = static_cast<int32_t>(i);
        id.Type = proc->FProcVars[i]->FType;
        return id;
      }
    }
  }
  if (int32_t v = IndexOfVarUpper(upperName); v >= 0) {
    id.Kind = TPSIdentifierKind::Global;
    id.Index = v;
    id.Type = FVars[v]->FType;
    return id;
  }
  if (auto it = FTypeIndex.find(upperName); it != FTypeIndex.end()) {
    id.Kind = TPSIdentifierKind::Type;
    id.Index = it->second;
    id.Type = FTypes[it->second].get();
    return id;
  }
  // Procedure 0 is the main block, which no script name reaches.
  if (int32_t p = IndexOfProcUpper(upperName); p > 0) {
    id.Kind = TPSIdentifierKind::Proc;
    id.Index = p;
    return id;
  }
  if (TPSRegProc* reg = FindRegProcUpper(upperName)) {
    id.Kind = TPSIdentifierKind::RegProc;
    id.Index = reg->FProcNo;
    id.RegProc = reg;
    return id;
  }
  if (int32_t c = IndexOfConstUpper(upperName); c >= 0) {
    id.Kind = TPSIdentifierKind::Constant;
    id.Index = c;
    id.Type = FConstants[c]->FValue.FType;
  }
  return id;
}

}  // namespace ps
