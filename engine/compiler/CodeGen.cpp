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
    case otDiv:
    case otIntDiv: return CalcDiv;
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
  uint32_t top = PSStackFrameBase + 1 + LocalCount + TempCount;
  while (!PointerTemps.empty() && PointerTemps.back() >= top) PointerTemps.pop_back();
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

bool TPSCodeGen::IsIndirectRef(uint32_t ref) const {
  for (const TWith& w : Withs)
    if (w.Ref == ref) return true;
  for (uint32_t p : PointerTemps)
    if (p == ref) return true;
  if (ref >= PSStackFrameBase || ref < PSStackReferenceStart) return false;
  uint32_t slot = PSStackFrameBase - 1 - ref;
  uint32_t first = Proc->FDecl.FResult ? 1 : 0;  // slot 0 of a function is its own result
  if (slot < first || slot - first >= Proc->FDecl.FParams.size()) return false;
  return Proc->FDecl.FParams[slot - first].FMode != pmIn;
}

bool TPSCodeGen::HoldsArray(TPSType* t, int depth) const {
  t = ResolveTypeLink(t);
  if (!t || depth > 32) return true;
  switch (t->FBaseType) {
    case btArray:
    case btVariant:
    case btPointer: return true;
    case btStaticArray: return HoldsArray(static_cast<TPSStaticArrayType*>(t)->FArrayTypeNo, depth + 1);
    case btRecord:
      for (auto& f : static_cast<TPSRecordType*>(t)->FRecordSubVals)
        if (HoldsArray(f.FType, depth + 1)) return true;
      return false;
    default: return false;
  }
}

bool TPSCodeGen::IsScriptCall(TPSValue* v) const {
  if (v->Kind == TPSValueKind::CallValue) return true;
  if (v->Kind != TPSValueKind::Call) return false;
  return !dynamic_cast<TPSExternalProcedure*>(C.FProcs[v->ProcNo].get());
}

TPSReach TPSCodeGen::ReachOf(TPSValue* target) const {
  TPSReach r;
  r.Root = target->BaseRef;
  if (IsIndirectRef(target->BaseRef)) return r;  // Anywhere
  TPSType* container = target->BaseType;
  for (const TPSSelector& sel : target->Selectors) {
    if (ResolveTypeLink(container)->FBaseType == btArray) {
      r.Kind = TPSReach::Heap;
      return r;
    }
    container = sel.Type;
  }
  r.Kind = target->BaseRef < PSStackReferenceStart ? TPSReach::Global : TPSReach::Local;
  return r;
}

TPSReach TPSCodeGen::ReachOf(const TPSOperand& dest) const {
  TPSReach r;
  r.Root = dest.Ref;
  if (dest.Kind != OperandVar || IsIndirectRef(dest.Ref)) return r;
  r.Kind = dest.Ref < PSStackReferenceStart ? TPSReach::Global : TPSReach::Local;
  return r;
}

bool TPSCodeGen::Clashes(TPSValue* v, const TPSReach& reach) const {
  if (!v || reach.Kind == TPSReach::Fresh) return false;
  if (v->Kind == TPSValueKind::Var) {
    if (v->BaseRef == reach.Root) return true;
    bool indirect = IsIndirectRef(v->BaseRef);
    switch (reach.Kind) {
      case TPSReach::Local:
        // Only a `with` pointer can lead into this frame from elsewhere.
        if (indirect && v->BaseRef >= PSStackFrameBase) return true;
        break;
      case TPSReach::Global:
        if (indirect) return true;
        break;
      default: {
        if (indirect || HoldsArray(v->Type)) return true;
        if (reach.Kind == TPSReach::Anywhere && v->BaseRef < PSStackReferenceStart) return true;
        TPSType* container = v->BaseType;
        for (const TPSSelector& sel : v->Selectors) {
          if (ResolveTypeLink(container)->FBaseType == btArray) return true;
          container = sel.Type;
        }
        break;
      }
    }
    for (auto& sel : v->Selectors)
      if (Clashes(sel.Index.get(), reach)) return true;
    return false;
  }
  // A script routine reaches every global and everything shared.
  if (IsScriptCall(v) && reach.Kind != TPSReach::Local) return true;
  if (Clashes(v->Left.get(), reach) || Clashes(v->Right.get(), reach)) return true;
  for (auto& a : v->Args)
    if (Clashes(a.get(), reach)) return true;
  return false;
}

bool TPSCodeGen::MayMoveStorage(TPSValue* v) const {
  if (!v) return false;
  if (v->Kind == TPSValueKind::IncDec) return true;  // it writes its variable
  if (v->Kind == TPSValueKind::Call || v->Kind == TPSValueKind::CallValue) {
    if (IsScriptCall(v)) return true;
    for (size_t i = 0; i < v->Args.size() && i < v->Decl.FParams.size(); ++i)
      if (v->Decl.FParams[i].FMode != pmIn) return true;
  }
  if (MayMoveStorage(v->Left.get()) || MayMoveStorage(v->Right.get())) return true;
  for (auto& a : v->Args)
    if (MayMoveStorage(a.get())) return true;
  for (auto& sel : v->Selectors)
    if (MayMoveStorage(sel.Index.get())) return true;
  return false;
}

// --- Operands ------------------------------------------------------------------------------

bool TPSCodeGen::PrepareTarget(TPSValue* v, TPSPreparedTarget& prep, TPSTempScope& scope) {
  prep.IndexTemps.assign(v->Selectors.size(), 0);
  for (size_t i = 0; i < v->Selectors.size(); ++i) {
    TPSSelector& s = v->Selectors[i];
    if (!s.Index) continue;
    TPSValue* idx = s.Index.get();
    TPSBaseType ib = ResolveTypeLink(idx->Type)->FBaseType;
    bool plain = idx->Kind == TPSValueKind::Var && idx->Selectors.empty() && s.LowBound == 0 && ib != btS64 &&
                 ib != btVariant && ib != btEnum;
    if (plain) continue;
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
    prep.IndexTemps[i] = t;
  }
  // Deeper chains go one level at a time through a pointer temporary.
  if (v->Selectors.size() > 1) {
    prep.Pointer = NewTemp(C.FStd.Pointer);
    ++scope.Count;
    PointerTemps.push_back(prep.Pointer);
  }
  return true;
}

void TPSCodeGen::ResolveTarget(TPSValue* v, const TPSPreparedTarget& prep, TPSOperand& out) {
  out.Kind = OperandVar;
  out.Ref = v->BaseRef;
  out.Index = 0;
  out.Type = v->Type;
  uint32_t base = v->BaseRef;
  for (size_t i = 0; i < v->Selectors.size(); ++i) {
    TPSSelector& s = v->Selectors[i];
    TPSOperand elem;
    elem.Type = s.Type;
    elem.Ref = base;
    if (s.Index) {
      elem.Kind = OperandElemVar;
      elem.Index = prep.IndexTemps[i] ? prep.IndexTemps[i] : s.Index->BaseRef;
    } else {
      elem.Kind = OperandElemConst;
      elem.Index = s.ConstIndex;
    }
    if (i + 1 == v->Selectors.size()) {
      out = elem;
      return;
    }
    EmitOp(OpSetPointer);
    EmitOperand(TempOperand(prep.Pointer, C.FStd.Pointer));
    EmitOperand(elem);
    base = prep.Pointer;
  }
}

bool TPSCodeGen::VarOperand(TPSValue* v, TPSOperand& out, TPSTempScope& scope) {
  TPSPreparedTarget prep;
  if (!PrepareTarget(v, prep, scope)) return false;
  ResolveTarget(v, prep, out);
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
    case TPSValueKind::Var: return VarOperand(v, out, scope);
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
  TPSReach reach = ReachOf(dest);
  if (fresh) reach.Kind = TPSReach::Fresh;
  return GenInto(v, dest, reach);
}

bool TPSCodeGen::GenInto(TPSValue* v, const TPSOperand& dest, const TPSReach& reach) {
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
    case TPSValueKind::CallValue:
    case TPSValueKind::IncDec:
      if (!v->Type) {
        ErrorAt(v, ecNoResult);
        return false;
      }
      return GenCall(v, &dest, &reach);
    case TPSValueKind::Unary: {
      if (v->Op == otCast) {
        if (!PSSameType(dest.Type, v->Type) && ResolveTypeLink(dest.Type) != ResolveTypeLink(v->Type)) return viaTemp();
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
      if (!GenInto(v->Left.get(), dest, reach)) return false;
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
        TPSValue* left = v->Left.get();
        if (left->Kind == TPSValueKind::Var && left->Selectors.size() > 1 && MayMoveStorage(v->Right.get())) {
          // The right operand may resize the arrays the left one lies in:
          // it runs first, and the left one is found after it.
          if (!GetOperand(v->Right.get(), r, scope) || !GetOperand(left, l, scope)) return false;
        } else if (!GetOperand(left, l, scope) || !GetOperand(v->Right.get(), r, scope)) {
          return false;
        }
        EmitOp(OpCompare);
        Emit(CompareCode(v->Op));
        EmitOperand(dest);
        EmitOperand(l);
        EmitOperand(r);
        FreeScope(scope);
        return true;
      }
      // The left operand goes straight into the destination; the right one
      // must then not read it, nor a call move the element it names.
      bool clash = reach.Kind != TPSReach::Fresh &&
                   (Clashes(v->Right.get(), reach) || (dest.Kind == OperandElemVar && MayMoveStorage(v)));
      if (!PSSameType(dest.Type, v->Type) || clash) return viaTemp();
      if (!GenInto(v->Left.get(), dest, reach)) return false;
      if (v->Op == otDiv && PSIsVariantType(v->Type)) {
        // Variants holding two integers divide as integers (that is `div`);
        // a real dividend makes `/` the real division it is.
        EmitOp(OpCalculate);
        Emit(CalcMul);
        EmitOperand(dest);
        TPSOperand one;
        one.Kind = OperandConst;
        one.Const.FType = C.FStd.Extended;
        one.Const.FReal = 1;
        EmitOperand(one);
      }
      if (C.FBooleanShortCircuit && (v->Op == otAnd || v->Op == otOr) && IsBool(v->Type)) {
        uint32_t at = EmitCondJump(v->Op == otAnd ? OpJumpIfFalse : OpJumpIfTrue, dest);
        uint32_t end = Here();
        if (!GenInto(v->Right.get(), dest, reach)) return false;
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
      bool clash = false;
      for (auto& a : v->Args) clash = clash || Clashes(a.get(), reach);
      if (ResolveTypeLink(dest.Type) != ResolveTypeLink(v->Type) || dest.Kind != OperandVar || clash) return viaTemp();
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
        if (!GenInto(v->Args[i].get(), elem, reach)) return false;
      }
      return true;
    }
    case TPSValueKind::ProcPtr:
    default: ErrorAt(v, ecTypeMismatch); return false;
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

bool TPSCodeGen::GenCall(TPSValue* v, const TPSOperand* dest, const TPSReach* reach) {
  // Inc and Dec of integers are single instructions.
  if (v->Kind == TPSValueKind::IncDec) {
    TPSTempScope scope;
    TPSOperand x;
    if (!VarOperand(v->Args[0].get(), x, scope)) return false;
    if (v->Args.size() == 2) {
      TPSOperand n;
      if (!GetOperand(v->Args[1].get(), n, scope)) return false;
      EmitOp(OpCalculate);
      Emit(v->Op == otAdd ? CalcAdd : CalcSub);
      EmitOperand(x);
      EmitOperand(n);
    } else {
      EmitOp(v->Op == otAdd ? OpIncrement : OpDecrement);
      EmitOperand(x);
    }
    FreeScope(scope);
    return true;
  }
  bool hasResult = v->Type != nullptr;
  TPSOperand result;
  bool resultTemp = false;
  if (hasResult) {
    // The routine writes its result as it goes, and may fail after: it gets
    // the destination itself only where neither it nor what it is handed
    // can see the half-made value, and nothing here can after a failure.
    bool direct = dest && dest->Kind != OperandConst && ResolveTypeLink(dest->Type) == ResolveTypeLink(v->Type);
    if (direct) {
      TPSReach r = reach ? *reach : ReachOf(*dest);
      if (r.Kind != TPSReach::Fresh) {
        for (size_t k = 0; k < v->Args.size() && direct; ++k)
          if (v->Decl.FParams[k].FMode != pmIn && Clashes(v->Args[k].get(), r)) direct = false;
        if (IsScriptCall(v) && (r.Kind != TPSReach::Local || TryDepth > 0)) direct = false;
      }
    }
    if (direct) {
      result = *dest;
    } else {
      result = TempOperand(NewTemp(v->Type), v->Type);
      resultTemp = true;
    }
  }
  // A procedural value that needs computing is computed below the arguments.
  TPSTempScope procScope;
  TPSOperand procVal;
  if (v->Kind == TPSValueKind::CallValue && !GetOperand(v->Left.get(), procVal, procScope)) return false;
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
  if (v->Kind == TPSValueKind::Call) {
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
  TPSPreparedTarget prep;
  if (!PrepareTarget(target, prep, scope)) return false;
  TPSOperand dest;
  bool varIndex = false;
  for (auto& sel : target->Selectors) varIndex = varIndex || sel.Index;
  if ((target->Selectors.size() > 1 || varIndex) && source->Type && MayMoveStorage(source)) {
    // A routine may resize the arrays the target lies in or change its
    // index: the value is made first and the target found afterwards.
    uint32_t t = NewTemp(source->Type);
    TPSOperand temp = TempOperand(t, source->Type);
    if (!GenInto(source, temp, true)) return false;
    ResolveTarget(target, prep, dest);
    EmitOp(OpAssign);
    EmitOperand(dest);
    EmitOperand(temp);
    FreeTemps(1);
  } else {
    ResolveTarget(target, prep, dest);
    if (!GenInto(source, dest, ReachOf(target))) return false;
  }
  FreeScope(scope);
  return true;
}

}  // namespace ps
