// Code for expressions: operands, temporaries (strictly last in, first out),
// operations computed into destinations, and calls.
#include "engine/compiler/CodeGen.h"

namespace ps {

namespace {

uint8_t CalcCode(uint8_t op) {
  switch (op) {
    case otAdd: return CalcAdd;
    case otSub: return CalcSub;
    case otMul: return CalcMul;
    case otDiv: case otIntDiv: return CalcDiv;
    case otMod: return CalcMod;
    case otShl: return CalcShl;
    case otShr: return CalcShr;
    case otAnd: return CalcAnd;
    case otOr: return CalcOr;
    default: return CalcXor;
  }
}

uint8_t CompareCode(uint8_t op) {
  switch (op) {
    case otGreaterEqual: return CmpGreaterEqual;
    case otLessEqual: return CmpLessEqual;
    case otGreater: return CmpGreater;
    case otLess: return CmpLess;
    case otNotEqual: return CmpNotEqual;
    case otEqual: return CmpEqual;
    case otIn: return CmpIn;
    default: return CmpIs;
  }
}

bool IsCompare(uint8_t op) { return op >= otGreaterEqual; }

bool SameOperand(const TPSOperand& a, const TPSOperand& b) {
  return a.Kind == b.Kind && a.Kind != OperandConst && a.Ref == b.Ref && a.Index == b.Index;
}

}  // namespace

TPSCodeGen::TPSCodeGen(TPSPascalCompiler& compiler, TPSBlockInfo* block)
    : C(compiler),
      P(*compiler.FActiveParser),
      Block(block),
      Proc(block->FProc),
      ProcNo(block->FProcNo),
      LocalCount(static_cast<uint32_t>(block->FProc->FProcVars.size())) {}

void TPSCodeGen::EmitU32(uint32_t v) {
  for (int i = 0; i < 4; ++i) Emit(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}

uint32_t TPSCodeGen::NewTemp(TPSType* type) {
  C.UseType(type);
  EmitOp(OpPushType);
  EmitU32(static_cast<uint32_t>(ResolveTypeLink(type)->FFinalTypeNo));
  return PSStackFrameBase + 1 + LocalCount + TempCount++;
}

void TPSCodeGen::FreeTemps(uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) EmitOp(OpPop);
  TempCount -= count;
}

TPSOperand TPSCodeGen::TempOperand(uint32_t ref, TPSType* type) const {
  TPSOperand op;
  op.Kind = OperandVar;
  op.Ref = ref;
  op.Type = type;
  return op;
}

void TPSCodeGen::EmitOperand(const TPSOperand& op) {
  Emit(op.Kind);
  switch (op.Kind) {
    case OperandVar: EmitU32(op.Ref); break;
    case OperandConst: {
      TPSType* t = ResolveTypeLink(op.Const.FType);
      C.UseType(t);
      EmitU32(static_cast<uint32_t>(t->FFinalTypeNo));
      TPSPascalCompiler::WriteConstantValue(Proc->FData, op.Const);
      break;
    }
    default:
      EmitU32(op.Ref);
      EmitU32(op.Index);
      break;
  }
}

uint32_t TPSCodeGen::EmitJump(TPSOpcode op) {
  EmitOp(op);
  uint32_t at = Here();
  EmitU32(0);
  return at;
}

uint32_t TPSCodeGen::EmitCondJump(TPSOpcode op, const TPSOperand& cond) {
  EmitOp(op);
  uint32_t at = Here();
  EmitU32(0);
  EmitOperand(cond);
  return at;
}

void TPSCodeGen::PatchJump(uint32_t offsetPos, uint32_t target, uint32_t instrEnd) {
  uint32_t offset = target - instrEnd;  // two's complement for backward jumps
  for (int i = 0; i < 4; ++i) Proc->FData[offsetPos + i] = static_cast<char>((offset >> (8 * i)) & 0xFF);
}

bool TPSCodeGen::UsesRef(TPSValue* v, uint32_t ref) const {
  if (!v) return false;
  if (v->Kind == TPSValueKind::Var) {
    if (v->BaseRef == ref) return true;
    for (auto& s : v->Selectors)
      if (UsesRef(s.Index.get(), ref)) return true;
    return false;
  }
  if (v->Kind == TPSValueKind::Call) {
    // A script routine may change any global; a host routine only what it
    // gets by reference, which the arguments below show.
    if (v->ProcNo < 0 || v->Left) return true;
    if (!dynamic_cast<TPSExternalProcedure*>(C.FProcs[v->ProcNo].get()) && ref < PSStackReferenceStart) return true;
  }
  if (UsesRef(v->Left.get(), ref) || UsesRef(v->Right.get(), ref)) return true;
  for (auto& a : v->Args)
    if (UsesRef(a.get(), ref)) return true;
  return false;
}

// --- Operands ------------------------------------------------------------------------------

bool TPSCodeGen::VarOperand(TPSValue* v, TPSOperand& out, TPSTempScope& scope) {
  out.Kind = OperandVar;
  out.Ref = v->BaseRef;
  out.Type = v->Type;
  uint32_t base = v->BaseRef;
  uint32_t pointer = 0;
  for (size_t i = 0; i < v->Selectors.size(); ++i) {
    TPSSelector& s = v->Selectors[i];
    TPSOperand elem;
    elem.Type = s.Type;
    elem.Ref = base;
    if (s.Index) {
      TPSValue* idx = s.Index.get();
      TPSBaseType ib = ResolveTypeLink(idx->Type)->FBaseType;
      bool plain = idx->Kind == TPSValueKind::Var && idx->Selectors.empty() && s.LowBound == 0 && ib != btS64 &&
                   ib != btVariant && ib != btEnum;
      elem.Kind = OperandElemVar;
      if (plain) {
        elem.Index = idx->BaseRef;
      } else {
        uint32_t t = NewTemp(C.FStd.LongInt);
        ++scope.Count;
        if (!GenInto(idx, TempOperand(t, C.FStd.LongInt), true)) return false;
        if (s.LowBound != 0) {
          EmitOp(OpCalculate);
          Emit(CalcSub);
          EmitOperand(TempOperand(t, C.FStd.LongInt));
          TPSOperand low;
          low.Kind = OperandConst;
          low.Const.FType = C.FStd.LongInt;
          low.Const.FInt = s.LowBound;
          EmitOperand(low);
        }
        elem.Index = t;
      }
    } else {
      elem.Kind = OperandElemConst;
      elem.Index = s.ConstIndex;
    }
    if (i + 1 == v->Selectors.size()) {
      out = elem;
      return true;
    }
    // Deeper chains go one level at a time through a pointer temporary.
    if (!pointer) {
      pointer = NewTemp(C.FStd.Pointer);
      ++scope.Count;
    }
    EmitOp(OpSetPointer);
    EmitOperand(TempOperand(pointer, C.FStd.Pointer));
    EmitOperand(elem);
    base = pointer;
  }
  return true;
}

bool TPSCodeGen::GetOperand(TPSValue* v, TPSOperand& out, TPSTempScope& scope) {
  switch (v->Kind) {
    case TPSValueKind::Const:
    case TPSValueKind::TypeRef: {
      out.Kind = OperandConst;
      out.Const = v->Const;
      out.Const.FType = v->Kind == TPSValueKind::TypeRef ? C.FStd.LongWord : v->Const.FType;
      TPSBaseType b = ResolveTypeLink(out.Const.FType)->FBaseType;
      if (b == btCurrency) out.Const.FType = C.FStd.Extended;  // no inline Currency constants at run time
      if (b == btPChar) out.Const.FType = C.FStd.AnsiString;
      out.Type = out.Const.FType;
      return true;
    }
    case TPSValueKind::Nil:
      if (v->Type) {
        TPSBaseType b = ResolveTypeLink(v->Type)->FBaseType;
        if (b == btClass || b == btInterface || b == btProcPtr || b == btArray || b == btPointer) {
          // No inline constant has these types: a fresh temporary is nil.
          uint32_t t = NewTemp(v->Type);
          ++scope.Count;
          out = TempOperand(t, v->Type);
          return true;
        }
      }
      out.Kind = OperandConst;
      out.Const = TIfRVariant();
      out.Const.FType = C.FStd.LongWord;
      out.Type = C.FStd.LongWord;
      return true;
    case TPSValueKind::Var:
      return VarOperand(v, out, scope);
    default: {
      if (!v->Type) {
        ErrorAt(v, ecNoResult);
        return false;
      }
      uint32_t t = NewTemp(v->Type);
      ++scope.Count;
      out = TempOperand(t, v->Type);
      return GenInto(v, out, true);
    }
  }
}

// --- Computing into a destination ---------------------------------------------------------

bool TPSCodeGen::GenInto(TPSValue* v, const TPSOperand& dest, bool fresh) {
  auto viaTemp = [&]() {
    uint32_t t = NewTemp(v->Type);
    TPSOperand temp = TempOperand(t, v->Type);
    if (!GenInto(v, temp, true)) return false;
    EmitOp(OpAssign);
    EmitOperand(dest);
    EmitOperand(temp);
    FreeTemps(1);
    return true;
  };
  switch (v->Kind) {
    case TPSValueKind::Const:
    case TPSValueKind::TypeRef:
    case TPSValueKind::Nil:
    case TPSValueKind::Var: {
      TPSTempScope scope;
      TPSOperand src;
      if (!GetOperand(v, src, scope)) return false;
      if (!SameOperand(src, dest)) {
        EmitOp(OpAssign);
        EmitOperand(dest);
        EmitOperand(src);
      }
      FreeScope(scope);
      return true;
    }
    case TPSValueKind::Call:
      if (!v->Type) {
        ErrorAt(v, ecNoResult);
        return false;
      }
      return GenCall(v, &dest);
    case TPSValueKind::Unary: {
      if (v->Op == otCast) {
        if (!PSSameType(dest.Type, v->Type) && ResolveTypeLink(dest.Type) != ResolveTypeLink(v->Type))
          return viaTemp();
        TPSTempScope scope;
        TPSOperand src;
        if (!GetOperand(v->Left.get(), src, scope)) return false;
        TPSBaseType target = ResolveTypeLink(v->Type)->FBaseType;
        if (target == btClass && ResolveTypeLink(v->Left->Type)->FBaseType == btClass) {
          // `as`: the value is assigned, then checked against the class.
          EmitOp(OpAssign);
          EmitOperand(dest);
          EmitOperand(src);
          EmitOp(OpCalculate);
          Emit(CalcClassCheck);
          EmitOperand(dest);
          TPSOperand cls;
          cls.Kind = OperandConst;
          cls.Const.FType = C.FStd.LongWord;
          cls.Const.FInt = ResolveTypeLink(v->Type)->FFinalTypeNo;
          EmitOperand(cls);
        } else {
          EmitOp(OpAssign);
          EmitOperand(dest);
          EmitOperand(src);
        }
        FreeScope(scope);
        return true;
      }
      if (!PSSameType(dest.Type, v->Type)) return viaTemp();
      if (!GenInto(v->Left.get(), dest)) return false;
      TPSType* t = ResolveTypeLink(v->Type);
      if (v->Op == otNot)
        EmitOp(IsBool(t) ? OpBoolNot : (t->FBaseType == btVariant ? OpBoolNot : OpBitNot));
      else
        EmitOp(OpNegate);
      EmitOperand(dest);
      return true;
    }
    case TPSValueKind::Binary: {
      if (IsCompare(v->Op)) {
        if (!IsBool(dest.Type)) return viaTemp();
        TPSTempScope scope;
        TPSOperand l, r;
        if (!GetOperand(v->Left.get(), l, scope) || !GetOperand(v->Right.get(), r, scope)) return false;
        EmitOp(OpCompare);
        Emit(CompareCode(v->Op));
        EmitOperand(dest);
        EmitOperand(l);
        EmitOperand(r);
        FreeScope(scope);
        return true;
      }
      bool clash = !fresh && dest.Kind != OperandConst &&
                   (UsesRef(v->Right.get(), dest.Ref) || (dest.Kind == OperandElemVar && UsesRef(v, dest.Index)));
      if (!PSSameType(dest.Type, v->Type) || clash) return viaTemp();
      if (!GenInto(v->Left.get(), dest)) return false;
      if (C.FBooleanShortCircuit && (v->Op == otAnd || v->Op == otOr) && IsBool(v->Type)) {
        uint32_t at = EmitCondJump(v->Op == otAnd ? OpJumpIfFalse : OpJumpIfTrue, dest);
        uint32_t end = Here();
        if (!GenInto(v->Right.get(), dest)) return false;
        PatchJump(at, Here(), end);
        return true;
      }
      TPSTempScope scope;
      TPSOperand r;
      if (!GetOperand(v->Right.get(), r, scope)) return false;
      EmitOp(OpCalculate);
      Emit(CalcCode(v->Op));
      EmitOperand(dest);
      EmitOperand(r);
      FreeScope(scope);
      return true;
    }
    case TPSValueKind::Array: {
      if (!v->Type || ResolveTypeLink(v->Type)->FBaseType != btArray) {
        ErrorAt(v, ecTypeMismatch);
        return false;
      }
      if (ResolveTypeLink(dest.Type) != ResolveTypeLink(v->Type) || dest.Kind != OperandVar) return viaTemp();
      // SetArrayLength(arr, count), then each element.
      TPSRegProc* setLength = C.FindRegProcUpper("SETARRAYLENGTH");
      uint32_t count = NewTemp(C.FStd.LongInt);
      TPSOperand n;
      n.Kind = OperandConst;
      n.Const.FType = C.FStd.LongInt;
      n.Const.FInt = static_cast<int64_t>(v->Args.size());
      EmitOp(OpAssign);
      EmitOperand(TempOperand(count, C.FStd.LongInt));
      EmitOperand(n);
      uint32_t ptr = NewTemp(C.FStd.Pointer);
      EmitOp(OpSetPointer);
      EmitOperand(TempOperand(ptr, C.FStd.Pointer));
      EmitOperand(dest);
      EmitOp(OpCall);
      EmitU32(static_cast<uint32_t>(C.UseRegProc(setLength)));
      FreeTemps(2);
      TPSType* elemType = static_cast<TPSArrayType*>(ResolveTypeLink(v->Type))->FArrayTypeNo;
      for (size_t i = 0; i < v->Args.size(); ++i) {
        TPSOperand elem;
        elem.Kind = OperandElemConst;
        elem.Ref = dest.Ref;
        elem.Index = static_cast<uint32_t>(i);
        elem.Type = elemType;
        if (!GenInto(v->Args[i].get(), elem)) return false;
      }
      return true;
    }
    case TPSValueKind::ProcPtr:
    default:
      ErrorAt(v, ecTypeMismatch);
      return false;
  }
}

bool TPSCodeGen::GenSetPointer(uint32_t ptrRef, TPSValue* v) {
  TPSTempScope scope;
  TPSOperand op;
  if (!VarOperand(v, op, scope)) return false;
  EmitOp(OpSetPointer);
  EmitOperand(TempOperand(ptrRef, C.FStd.Pointer));
  EmitOperand(op);
  FreeScope(scope);
  return true;
}

bool TPSCodeGen::GenCall(TPSValue* v, const TPSOperand* dest) {
  // Inc and Dec of integers are single instructions.
  if (v->Op == 2 || v->Op == 3) {
    TPSTempScope scope;
    TPSOperand x;
    if (!VarOperand(v->Args[0].get(), x, scope)) return false;
    if (v->Args.size() == 2) {
      TPSOperand n;
      if (!GetOperand(v->Args[1].get(), n, scope)) return false;
      EmitOp(OpCalculate);
      Emit(v->Op == 2 ? CalcAdd : CalcSub);
      EmitOperand(x);
      EmitOperand(n);
    } else {
      EmitOp(v->Op == 2 ? OpIncrement : OpDecrement);
      EmitOperand(x);
    }
    FreeScope(scope);
    return true;
  }
  bool hasResult = v->Type != nullptr;
  TPSOperand result;
  bool resultTemp = false;
  if (hasResult) {
    if (dest && dest->Kind != OperandConst && ResolveTypeLink(dest->Type) == ResolveTypeLink(v->Type)) {
      result = *dest;
    } else {
      result = TempOperand(NewTemp(v->Type), v->Type);
      resultTemp = true;
    }
  }
  // A procedural value that needs computing is computed below the arguments.
  TPSTempScope procScope;
  TPSOperand procVal;
  if (v->ProcNo < 0 && !GetOperand(v->Left.get(), procVal, procScope)) return false;
  uint32_t argTemps = 0;
  for (size_t k = v->Args.size(); k-- > 0;) {
    const TPSParameterDecl& p = v->Decl.FParams[k];
    TPSValue* a = v->Args[k].get();
    TPSType* at = v->ArgTypes[k];
    if (p.FMode != pmIn) {
      uint32_t ptr = NewTemp(C.FStd.Pointer);
      ++argTemps;
      if (!GenSetPointer(ptr, a)) return false;
      continue;
    }
    TPSType* pt = ResolveTypeLink(p.FType);
    if (pt && pt->FName.rfind("!OPENARRAY", 0) == 0) {
      uint32_t arr = NewTemp(at);
      if (!GenInto(a, TempOperand(arr, at), true)) return false;
      uint32_t ptr = NewTemp(C.FStd.Pointer);
      EmitOp(OpSetPointer);
      EmitOperand(TempOperand(ptr, C.FStd.Pointer));
      EmitOperand(TempOperand(arr, at));
      argTemps += 2;
      continue;
    }
    bool simple = (a->Kind == TPSValueKind::Const && ResolveTypeLink(a->Type) == ResolveTypeLink(at)) ||
                  (a->Kind == TPSValueKind::Var && a->Selectors.size() <= 1 &&
                   (a->Selectors.empty() || !a->Selectors[0].Index) && PSSameType(a->Type, at));
    if (simple) {
      TPSTempScope scope;
      TPSOperand op;
      if (!GetOperand(a, op, scope)) return false;
      TPSBaseType b = ResolveTypeLink(op.Type)->FBaseType;
      if (op.Kind != OperandConst || (b != btCurrency && b != btPChar)) {
        EmitOp(OpPush);
        EmitOperand(op);
        ++TempCount;
        ++argTemps;
        continue;
      }
    }
    uint32_t t = NewTemp(at);
    ++argTemps;
    if (!GenInto(a, TempOperand(t, at), true)) return false;
  }
  if (hasResult) {
    EmitOp(OpPushVarRef);
    EmitOperand(result);
  }
  if (v->ProcNo >= 0) {
    EmitOp(OpCall);
    EmitU32(static_cast<uint32_t>(v->ProcNo));
  } else {
    EmitOp(OpCallVar);
    EmitOperand(procVal);
  }
  if (hasResult) EmitOp(OpPop);
  FreeTemps(argTemps);
  FreeScope(procScope);
  if (resultTemp) {
    if (dest) {
      EmitOp(OpAssign);
      EmitOperand(*dest);
      EmitOperand(result);
    }
    FreeTemps(1);
  }
  return true;
}

bool TPSCodeGen::GenAssignment(TPSValue* target, TPSValue* source) {
  TPSTempScope scope;
  TPSOperand dest;
  if (!VarOperand(target, dest, scope)) return false;
  if (!GenInto(source, dest)) return false;
  FreeScope(scope);
  return true;
}

}  // namespace ps
