// The general instruction loop: operand decoding, every instruction, calls,
// returns and try blocks. Instructions decode their operands straight from
// the code (nothing is allocated for numeric constants); every failure is
// reported at the position reached inside the failing instruction. While no
// hook runs, the fast loop (FastRun.cpp) runs the pre-decoded form of the
// code and hands each instruction it does not take on back to this loop.
#include "engine/runtime/Operations.h"
#include "engine/runtime/Values.h"

namespace ps {

namespace {
// An operand: the address and type of the value it names. Constants live in
// the operand itself (string constants as a reference to their cached block).
struct TOperand {
  uint8_t* P = nullptr;
  const TPSTypeRec* T = nullptr;
  bool Const = false;
  alignas(16) uint8_t Buf[32];
};
}  // namespace

class TPSRunner {
 public:
  explicit TPSRunner(TPSExec& x) : X(x) {}
  void Run();

 private:
  TPSExec& X;

  // --- Code reading: false (after reporting Out Of Range) at the end of the code.
  bool ReadBytes(void* out, uint32_t n) {
    if (X.FDataLength - X.FCurrentPosition < n) {
      X.FCurrentPosition = X.FDataLength;
      X.CMD_Err(ErOutOfRange);
      return false;
    }
    std::memcpy(out, X.FData + X.FCurrentPosition, n);
    X.FCurrentPosition += n;
    return true;
  }
  bool ReadU32(uint32_t& v) { return ReadBytes(&v, 4); }
  bool ReadI32(int32_t& v) { return ReadBytes(&v, 4); }
  bool ReadByte(uint8_t& v) { return ReadBytes(&v, 1); }

  bool Err(TPSError code) {
    X.CMD_Err(code);
    return false;
  }

  bool ResolveVar(uint32_t ref, uint8_t*& p, const TPSTypeRec*& t);
  bool DerefOperand(TOperand& o);
  bool ReadConst(TOperand& o);
  bool SelectElement(TOperand& o, uint32_t index);
  bool ReadOperand(TOperand& o, bool deref);
  __attribute__((noinline)) bool ReadOperandGeneral(TOperand& o, bool deref);
  bool Jump(int32_t offset);
  bool RelativeTarget(int32_t offset, uint32_t base, int64_t& target);

  __attribute__((always_inline)) bool Step();
  __attribute__((always_inline)) bool DoAssign();
  __attribute__((always_inline)) bool DoCalculate();
  bool DoPush();
  bool DoPushVarRef();
  __attribute__((always_inline)) bool DoPop();
  bool DoCall(uint32_t procNo, bool viaPointer);
  bool DoCallVar();
  __attribute__((always_inline)) bool DoJumpIf(bool whenTrue);
  bool DoReturn();
  __attribute__((always_inline)) bool DoCompare();
  bool DoSetPointer(bool copy);
  bool DoUnary(TPSError (*op)(uint8_t*, const TPSTypeRec*));
  __attribute__((always_inline)) bool DoSetFlag();
  bool DoTryBegin();
  bool DoTryEnd();
  __attribute__((always_inline)) bool DoIncDec(int delta);
  bool LeaveBlock();
};

__attribute__((always_inline)) inline bool TPSRunner::ResolveVar(uint32_t ref, uint8_t*& p, const TPSTypeRec*& t) {
  if (ref < PSStackReferenceStart) {
    if (ref >= X.FGlobalRefCount) return Err(erOutOfGlobalVarsRange);
    const auto& g = X.FGlobalRefs[ref];
    p = g.P;
    t = g.T;
    return true;
  }
  int64_t index = int64_t(ref) - PSStackFrameBase + X.FCurrStackBase;
  if (index < 0 || index >= X.FStack.Count()) return Err(erOutOfStackRange);
  p = X.FStack.EntryValue(static_cast<int>(index));
  t = X.FStack.EntryType(static_cast<int>(index));
  return true;
}

inline bool TPSRunner::DerefOperand(TOperand& o) {
  if (o.T->FBaseType != btPointer) return true;
  auto pv = Load<TPSPointerValue>(o.P);
  if (!pv.Target || !pv.Type) return Err(erNullPointerException);
  o.P = static_cast<uint8_t*>(pv.Target);
  o.T = pv.Type;
  return true;
}

bool TPSRunner::ReadConst(TOperand& o) {
  uint32_t typeNo;
  if (!ReadU32(typeNo)) return false;
  if (typeNo >= X.FTypes.size()) return Err(erInvalidType);
  const TPSTypeRec* t = X.FTypes[typeNo].get();
  o.T = t;
  o.P = o.Buf;
  o.Const = true;
  switch (t->FBaseType) {
    case btU8:
    case btS8:
    case btChar: return ReadBytes(o.Buf, 1);
    case btU16:
    case btS16:
    case btWideChar: return ReadBytes(o.Buf, 2);
    case btU32:
    case btS32:
    case btSingle: return ReadBytes(o.Buf, 4);
    case btDouble:
    case btS64: return ReadBytes(o.Buf, 8);
    case btExtended: return ReadBytes(o.Buf, ExtendedSize);
    case btSet: return ReadBytes(o.Buf, static_cast<const TPSTypeRec_Set*>(t)->FByteSize);
    case btProcPtr: {
      TPSProcPtrValue v{0, 0, nullptr, nullptr};
      if (!ReadU32(v.ProcNo)) return false;
      Store(o.Buf, v);
      return true;
    }
    case btString:
    case btPChar:
    case btWideString:
    case btUnicodeString: {
      const uint32_t key = X.FCurrentPosition;
      uint32_t length;
      if (!ReadU32(length)) return false;
      bool wide = t->FBaseType == btWideString || t->FBaseType == btUnicodeString;
      uint64_t bytes = wide ? uint64_t(length) * 2 : length;
      if (X.FDataLength - X.FCurrentPosition < bytes) {
        X.FCurrentPosition = X.FDataLength;
        return Err(ErOutOfRange);
      }
      TPSBlockHeader* block = ConstantStringBlock(*X.FCurrProc, key, X.FData + X.FCurrentPosition, length, wide);
      X.FCurrentPosition += static_cast<uint32_t>(bytes);
      Store(o.Buf, block);
      return true;
    }
    default: return Err(erInvalidType);
  }
}

inline bool TPSRunner::SelectElement(TOperand& o, uint32_t index) {
  switch (o.T->FBaseType) {
    case btRecord: {
      auto* rec = static_cast<const TPSTypeRec_Record*>(o.T);
      if (index >= rec->FFieldTypes.size()) return Err(ErOutOfRange);
      o.P += rec->FRealFieldOffsets[index];
      o.T = rec->FFieldTypes[index];
      return true;
    }
    case btArray: {
      TPSBlockHeader* h = LoadBlock(o.P);
      if (!h || index >= h->Length) return Err(ErOutOfRange);
      const TPSTypeRec* elem = static_cast<const TPSTypeRec_Array*>(o.T)->FArrayType;
      o.P = BlockData(h) + uint64_t(index) * elem->FRealSize;
      o.T = elem;
      return true;
    }
    case btStaticArray: {
      auto* arr = static_cast<const TPSTypeRec_StaticArray*>(o.T);
      if (index >= arr->FSize) return Err(ErOutOfRange);
      o.P += uint64_t(index) * arr->FArrayType->FRealSize;
      o.T = arr->FArrayType;
      return true;
    }
    default: return Err(erInvalidType);
  }
}

// The common operands, decoded without a call: a plain variable, and a
// constant of a 32-bit ordinal type. Everything else takes the general path.
__attribute__((always_inline)) inline bool TPSRunner::ReadOperand(TOperand& o, bool deref) {
  const uint32_t pos = X.FCurrentPosition;
  const uint8_t* at = X.FData + pos;
  if (X.FDataLength - pos >= 9) {
    uint32_t word;
    std::memcpy(&word, at + 1, 4);
    if (at[0] == OperandVar) {
      if (word < X.FGlobalRefCount) {
        X.FCurrentPosition = pos + 5;
        const auto& g = X.FGlobalRefs[word];
        o.P = g.P;
        o.T = g.T;
        o.Const = false;
        return !deref || g.BaseType != btPointer || DerefOperand(o);
      }
      const int64_t index = int64_t(word) - PSStackFrameBase + X.FCurrStackBase;
      if (word >= PSStackReferenceStart && index >= 0 && index < X.FStack.Count()) {
        X.FCurrentPosition = pos + 5;
        o.P = X.FStack.EntryValue(static_cast<int>(index));
        o.T = X.FStack.EntryType(static_cast<int>(index));
        o.Const = false;
        return !deref || o.T->FBaseType != btPointer || DerefOperand(o);
      }
    } else if (at[0] == OperandConst && word < X.FTypes.size()) {
      const TPSTypeRec* t = X.FTypes[word].get();
      if (t->FBaseType == btS32 || t->FBaseType == btU32) {
        X.FCurrentPosition = pos + 9;
        std::memcpy(o.Buf, at + 5, 4);
        o.P = o.Buf;
        o.T = t;
        o.Const = true;
        return true;
      }
    }
  }
  return ReadOperandGeneral(o, deref);
}

bool TPSRunner::ReadOperandGeneral(TOperand& o, bool deref) {
  uint8_t kind;
  uint32_t ref;
  if (!ReadByte(kind)) return false;
  o.Const = false;
  switch (kind) {
    case OperandVar:
      if (!ReadU32(ref) || !ResolveVar(ref, o.P, o.T)) return false;
      return !deref || DerefOperand(o);
    case OperandConst: return ReadConst(o);
    case OperandElemConst: {
      uint32_t index;
      if (!ReadU32(ref) || !ReadU32(index) || !ResolveVar(ref, o.P, o.T) || !DerefOperand(o)) return false;
      if (!SelectElement(o, index)) return false;
      return !deref || DerefOperand(o);
    }
    case OperandElemVar: {
      uint32_t indexRef;
      if (!ReadU32(ref) || !ReadU32(indexRef) || !ResolveVar(ref, o.P, o.T) || !DerefOperand(o)) return false;
      uint8_t* ip;
      const TPSTypeRec* it;
      if (!ResolveVar(indexRef, ip, it)) return false;
      bool throughPointer = false;
      if (it->FBaseType == btPointer) {
        auto pv = Load<TPSPointerValue>(ip);
        if (!pv.Type || !pv.Target) return Err(ErTypeMismatch);
        ip = static_cast<uint8_t*>(pv.Target);
        it = pv.Type;
        throughPointer = true;
      }
      uint32_t index;
      switch (it->FBaseType) {
        case btU8: index = *ip; break;
        case btS8: index = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*ip))); break;
        case btU16: index = Load<uint16_t>(ip); break;
        case btS16: index = static_cast<uint32_t>(static_cast<int32_t>(Load<int16_t>(ip))); break;
        case btU32:
        case btS32: index = Load<uint32_t>(ip); break;
        case btProcPtr:
          if (!throughPointer) return Err(ErTypeMismatch);
          index = Load<uint32_t>(ip);
          break;
        default: return Err(ErTypeMismatch);
      }
      if (!SelectElement(o, index)) return false;
      return !deref || DerefOperand(o);
    }
    default: return Err(erInvalidOpcodeParameter);
  }
}

bool TPSRunner::RelativeTarget(int32_t offset, uint32_t base, int64_t& target) {
  target = int64_t(base) + offset;
  if (target < 0 || target > X.FDataLength) return Err(ErOutOfRange);
  return true;
}

bool TPSRunner::Jump(int32_t offset) {
  int64_t target;
  if (!RelativeTarget(offset, X.FCurrentPosition, target)) return false;
  X.FCurrentPosition = static_cast<uint32_t>(target);
  return true;
}

// --- Instructions --------------------------------------------------------------------------------

inline bool TPSRunner::DoAssign() {
  TOperand dst, src;
  if (!ReadOperand(dst, true)) return false;
  if (dst.Const) return Err(erInvalidOpcodeParameter);
  if (!ReadOperand(src, true)) return false;
  // Plain ordinals of the same kind are by far the most common assignment.
  if (dst.T->FBaseType == src.T->FBaseType && (dst.T->FBaseType == btS32 || dst.T->FBaseType == btU32)) {
    std::memcpy(dst.P, src.P, 4);
    return true;
  }
  TPSError e = AssignValue(dst.P, dst.T, src.P, src.T, &X);
  return e == ErNoError || Err(e);
}

inline bool TPSRunner::DoCalculate() {
  uint8_t op;
  TOperand dst, src;
  if (!ReadByte(op) || !ReadOperand(dst, true)) return false;
  if (dst.Const) return Err(erInvalidOpcodeParameter);
  if (!ReadOperand(src, true)) return false;
  if (dst.T->FBaseType == btS32 && src.T->FBaseType == btS32 && op <= CalcMul) {
    uint32_t a = Load<uint32_t>(dst.P), b = Load<uint32_t>(src.P);
    Store(dst.P, op == CalcAdd ? a + b : op == CalcSub ? a - b : a * b);
    return true;
  }
  TPSError e = CalculateValue(X, dst.P, dst.T, src.P, src.T, op);
  return e == ErNoError || Err(e);
}

bool TPSRunner::DoPush() {
  TOperand o;
  if (!ReadOperand(o, true)) return false;
  if (o.T->FBaseType == btReturnAddress) return Err(ErTypeMismatch);
  // A value inside the stack block moves with it when the push grows the block.
  bool inStack = X.FStack.Contains(o.P);
  uintptr_t offset = inStack ? static_cast<uintptr_t>(o.P - X.FStack.Items(0)) : 0;
  uint8_t* slot = X.FStack.PushType(const_cast<TPSTypeRec*>(o.T));
  if (!slot) return Err(erOutOfMemory);
  const uint8_t* src = inStack ? X.FStack.Items(0) + offset : o.P;
  if (!CopyValues(slot, src, o.T)) return Err(ErTypeMismatch);
  return true;
}

bool TPSRunner::DoPushVarRef() {
  TOperand o;
  if (!ReadOperand(o, true)) return false;
  if (o.Const) return Err(erInvalidOpcodeParameter);
  TPSTypeRec* pointerType = X.FPointerType;
  // Without a pointer type in the module there is nothing to describe the entry.
  if (!pointerType) return Err(erInvalidType);
  bool inStack = X.FStack.Contains(o.P);
  uintptr_t offset = inStack ? static_cast<uintptr_t>(o.P - X.FStack.Items(0)) : 0;
  uint8_t* slot = X.FStack.PushType(pointerType);
  if (!slot) return Err(erOutOfMemory);
  void* target = inStack ? X.FStack.Items(0) + offset : o.P;
  Store(slot, TPSPointerValue{target, const_cast<TPSTypeRec*>(o.T), 0});
  return true;
}

inline bool TPSRunner::DoPop() {
  if (X.FStack.Count() == 0 || X.FStack.EntryType(-1)->FBaseType == btReturnAddress) return Err(erOutOfStackRange);
  X.FStack.Pop();
  return true;
}

bool TPSRunner::DoCall(uint32_t procNo, bool viaPointer) {
  if (procNo >= X.FProcs.size() || (viaPointer && int64_t(procNo) == X.FMainProc)) return Err(erOutOfProcRange);
  TPSProcRec* proc = X.FProcs[procNo].get();
  if (!proc->IsExternal()) {
    auto* ip = static_cast<TPSInternalProcRec*>(proc);
    uint8_t* slot = X.FStack.PushType(X.FReturnAddressType.get());
    if (!slot) return Err(erOutOfMemory);
    Store(slot, TPSReturnAddress{X.FCurrProc, X.FCurrentPosition, X.FCurrStackBase});
    X.FCurrStackBase = X.FStack.Count() - 1;
    X.SwitchToProc(ip, 0);
    return true;
  }
  return X.CallExternal(static_cast<TPSExternalProcRec*>(proc));
}

bool TPSRunner::DoCallVar() {
  TOperand o;
  if (!ReadOperand(o, true)) return false;
  if (o.T->FBaseType != btProcPtr) return Err(ErTypeMismatch);
  auto v = Load<TPSProcPtrValue>(o.P);
  if (v.ProcNo != 0 || !v.Data) return DoCall(v.ProcNo, true);
  if (!X.FHostMethodCall) return Err(erCouldNotCallProc);
  uint64_t serial = X.FErrorSerial;
  bool ok = X.FHostMethodCall(&X, static_cast<const TPSTypeRec_ProcPtr*>(o.T), v.Code, v.Data, &X.FStack);
  if (!ok && X.FErrorSerial == serial) return Err(erCouldNotCallProc);
  return ok;
}

inline bool TPSRunner::DoJumpIf(bool whenTrue) {
  int32_t offset;
  TOperand o;
  if (!ReadI32(offset) || !ReadOperand(o, true)) return false;
  uint32_t v;
  switch (o.T->FBaseType) {
    case btU8:
    case btS8: v = *o.P; break;
    case btU16:
    case btS16: v = Load<uint16_t>(o.P); break;
    case btU32:
    case btS32: v = Load<uint32_t>(o.P); break;
    default: return Err(erInvalidType);
  }
  if ((v != 0) == whenTrue) return Jump(offset);
  return true;
}

bool TPSRunner::DoReturn() {
  // The block whose finally part runs remembers this instruction; leaving
  // that part comes back here and the walk goes on with the older blocks.
  const int64_t exitPoint = X.FCurrentPosition - 1;
  while (!X.FExceptionStack.empty()) {
    TPSExceptionHandler& h = X.FExceptionStack.back();
    if (h.BasePtr != X.FCurrStackBase && (X.FCurrStackBase >= h.BasePtr || h.BasePtr == -1)) break;
    X.FStack.PopTo(h.StackSize);
    X.FCurrStackBase = h.BasePtr;
    if (h.FinallyOffset != -1) {
      X.FCurrentPosition = static_cast<uint32_t>(h.FinallyOffset);
      h.FinallyOffset = -1;
      h.ExitPoint = exitPoint;
      return true;
    }
    if (h.Finally2Offset != -1) {
      // The except part is done, as when the guarded part ends normally: an
      // error of the finally part leaves the block.
      h.ExceptOffset = -1;
      X.FCurrentPosition = static_cast<uint32_t>(h.Finally2Offset);
      h.Finally2Offset = -1;
      h.ExitPoint = exitPoint;
      return true;
    }
    X.FExceptionStack.pop_back();
  }
  if (X.FCurrStackBase == -1) {
    // The outermost procedure has finished.
    X.FStatus = isLoaded;
    return true;
  }
  int32_t base = X.FCurrStackBase;
  if (base >= X.FStack.Count() || X.FStack.EntryType(base)->FBaseType != btReturnAddress) return Err(erOutOfStackRange);
  X.FStack.PopTo(base + 1);
  auto ra = Load<TPSReturnAddress>(X.FStack.EntryValue(base));
  X.FStack.Pop();
  X.FCurrStackBase = ra.BasePtr;
  if (!ra.Proc) {
    // The end of a procedure the host started (RunProc).
    X.FCurrentPosition = ra.Position;
    X.FStatus = X.FRunStartStatus;
    return true;
  }
  X.SwitchToProc(ra.Proc, ra.Position);
  return true;
}

inline bool TPSRunner::DoCompare() {
  uint8_t op;
  TOperand dst, left, right;
  if (!ReadByte(op) || !ReadOperand(dst, true)) return false;
  if (dst.Const) return Err(erInvalidOpcodeParameter);
  if (!ReadOperand(left, true) || !ReadOperand(right, true)) return false;
  bool result;
  const TPSBaseType lb = left.T->FBaseType;
  if (lb == right.T->FBaseType && (lb == btS32 || lb == btU32) && op < CmpIn) {
    if (lb == btS32) {
      int32_t a = Load<int32_t>(left.P), b = Load<int32_t>(right.P);
      result = op == CmpGreaterEqual ? a >= b
               : op == CmpLessEqual  ? a <= b
               : op == CmpGreater    ? a > b
               : op == CmpLess       ? a < b
               : op == CmpNotEqual   ? a != b
                                     : a == b;
    } else {
      uint32_t a = Load<uint32_t>(left.P), b = Load<uint32_t>(right.P);
      result = op == CmpGreaterEqual ? a >= b
               : op == CmpLessEqual  ? a <= b
               : op == CmpGreater    ? a > b
               : op == CmpLess       ? a < b
               : op == CmpNotEqual   ? a != b
                                     : a == b;
    }
  } else {
    TPSError e = CompareValues(X, left.P, left.T, right.P, right.T, op, result);
    if (e != ErNoError) return Err(e);
  }
  // Comparisons mostly land in a Boolean temporary.
  if (dst.T->FBaseType == btU8) {
    *dst.P = result ? 1 : 0;
    return true;
  }
  TPSError e = StoreBoolean(dst.P, dst.T, result);
  return e == ErNoError || Err(e);
}

bool TPSRunner::DoSetPointer(bool copy) {
  TOperand dst, src;
  if (!ReadOperand(dst, false)) return false;
  if (dst.Const || dst.T->FBaseType != btPointer) return Err(erInvalidOpcodeParameter);
  if (!ReadOperand(src, false)) return false;
  if (src.Const) return Err(erInvalidOpcodeParameter);
  void* target = src.P;
  TPSTypeRec* type = const_cast<TPSTypeRec*>(src.T);
  if (src.T->FBaseType == btPointer) {
    auto sv = Load<TPSPointerValue>(src.P);
    target = sv.Target;
    type = sv.Type;
  }
  auto dv = Load<TPSPointerValue>(dst.P);
  if (dv.Owning && dv.Target == target) return true;  // already refers to its own copy
  if (!copy) {
    // A pointer that owned its target gives it up first: keeping the flag
    // would destroy the new, foreign target later.
    if (dv.Owning && dv.Target && dv.Type) DestroyValue(static_cast<uint8_t*>(dv.Target), dv.Type);
    Store(dst.P, TPSPointerValue{target, type, 0});
    return true;
  }
  if (dv.Owning && dv.Target && dv.Type) DestroyValue(static_cast<uint8_t*>(dv.Target), dv.Type);
  Store(dst.P, TPSPointerValue{nullptr, nullptr, 0});
  if (!target || !type) return true;
  uint8_t* value = CreateValue(type);
  if (!CopyValues(value, static_cast<const uint8_t*>(target), type)) {
    DestroyValue(value, type);
    return Err(ErTypeMismatch);
  }
  Store(dst.P, TPSPointerValue{value, type, 1});
  return true;
}

bool TPSRunner::DoUnary(TPSError (*op)(uint8_t*, const TPSTypeRec*)) {
  TOperand o;
  if (!ReadOperand(o, true)) return false;
  TPSError e = op(o.P, o.T);
  return e == ErNoError || Err(e);
}

inline bool TPSRunner::DoSetFlag() {
  TOperand o;
  uint8_t invert;
  if (!ReadOperand(o, true) || !ReadByte(invert)) return false;
  uint32_t v;
  switch (o.T->FBaseType) {
    case btU8:
    case btS8: v = *o.P; break;
    case btU16:
    case btS16: v = Load<uint16_t>(o.P); break;
    case btU32:
    case btS32: v = Load<uint32_t>(o.P); break;
    default: return Err(erInvalidType);
  }
  X.FJumpFlag = (v != 0) != (invert != 0);
  return true;
}

bool TPSRunner::DoTryBegin() {
  int32_t offsets[4];
  for (int32_t& o : offsets)
    if (!ReadI32(o)) return false;
  uint32_t base = X.FCurrentPosition;
  int64_t targets[4];
  for (int i = 0; i < 4; ++i) {
    targets[i] = -1;
    if (offsets[i] == -1) continue;
    int64_t t = int64_t(base) + offsets[i];
    if (t < 0 || t >= X.FDataLength) return Err(ErOutOfRange);
    targets[i] = t;
  }
  TPSExceptionHandler h;
  h.CurrProc = X.FCurrProc;
  h.BasePtr = X.FCurrStackBase;
  h.StackSize = X.FStack.Count();
  h.FinallyOffset = targets[0];
  h.ExceptOffset = targets[1];
  h.Finally2Offset = targets[2];
  h.EndOfBlock = targets[3];
  X.FExceptionStack.push_back(std::move(h));
  return true;
}

bool TPSRunner::LeaveBlock() {
  const TPSExceptionHandler& h = X.FExceptionStack.back();
  const int64_t target = h.ExitPoint != -1 ? h.ExitPoint : h.EndOfBlock;
  X.FExceptionStack.pop_back();
  if (target < 0) return Err(ErOutOfRange);
  X.FCurrentPosition = static_cast<uint32_t>(target);
  return true;
}

bool TPSRunner::DoTryEnd() {
  uint8_t section;
  if (!ReadByte(section)) return false;
  if (X.FExceptionStack.empty()) return Err(ErOutOfRange);
  TPSExceptionHandler& h = X.FExceptionStack.back();
  // Raises again the error that ran the finally part (or, at the end of the
  // guarded part, the executor's pending one) after dropping the block.
  auto reraise = [&] {
    TPSExceptionHandler done = std::move(h);
    X.FExceptionStack.pop_back();
    if (done.PendingError != ErNoError)
      X.RaiseScriptError(done.PendingProc, done.PendingPos, std::move(done.PendingObject), done.PendingParam,
                         done.PendingError);
    else
      X.RaiseScriptError(X.ExProc, X.ExPos, X.ExObject, X.ExParam, X.ExEx);
    return false;
  };
  const bool pending = h.PendingError != ErNoError;
  switch (section) {
    case TryEndGuarded:
      if (h.FinallyOffset != -1) {
        X.FCurrentPosition = static_cast<uint32_t>(h.FinallyOffset);
        h.FinallyOffset = -1;
        return true;
      }
      if (h.Finally2Offset != -1) {
        // Marked as entered, so that an error inside it does not run it again.
        h.ExceptOffset = -1;
        X.FCurrentPosition = static_cast<uint32_t>(h.Finally2Offset);
        h.Finally2Offset = -1;
        return true;
      }
      if (pending || X.ExEx != ErNoError) return reraise();
      return LeaveBlock();
    case TryEndFinally:
      if (pending && h.ExceptOffset >= 0) {
        X.FCurrentPosition = static_cast<uint32_t>(h.ExceptOffset);
        h.ExceptOffset = -2;
        h.ExceptionData = h.PendingError;
        h.ExceptionPos = h.PendingPos;
        h.ExceptionObject = std::move(h.PendingObject);
        h.ExceptionParam = std::move(h.PendingParam);
        h.PendingError = ErNoError;
        h.PendingObject = nullptr;
        return true;
      }
      if (h.Finally2Offset != -1) {
        X.FCurrentPosition = static_cast<uint32_t>(h.Finally2Offset);
        h.Finally2Offset = -1;
        return true;
      }
      if (pending && h.EndOfBlock != -1) return reraise();
      return LeaveBlock();
    case TryEndExcept:
      h.ExceptOffset = -1;
      if (h.Finally2Offset != -1) {
        X.FCurrentPosition = static_cast<uint32_t>(h.Finally2Offset);
        h.Finally2Offset = -1;
        return true;
      }
      return LeaveBlock();
    case TryEndSecondFinally:
      if (pending) return reraise();
      return LeaveBlock();
    default: return true;
  }
}

inline bool TPSRunner::DoIncDec(int delta) {
  TOperand o;
  if (!ReadOperand(o, true)) return false;
  if (o.Const) return Err(erInvalidOpcodeParameter);
  auto d = static_cast<uint32_t>(delta);
  switch (o.T->FBaseType) {
    case btU8:
    case btS8: *o.P = static_cast<uint8_t>(*o.P + d); return true;
    case btU16:
    case btS16: Store(o.P, static_cast<uint16_t>(Load<uint16_t>(o.P) + d)); return true;
    case btU32:
    case btS32: Store(o.P, Load<uint32_t>(o.P) + d); return true;
    case btS64: Store(o.P, Load<uint64_t>(o.P) + static_cast<uint64_t>(int64_t(delta))); return true;
    default: return Err(ErTypeMismatch);
  }
}

inline bool TPSRunner::Step() {
  uint8_t opcode = X.FData[X.FCurrentPosition++];
  switch (opcode) {
    case OpAssign: return DoAssign();
    case OpCalculate: return DoCalculate();
    case OpPush: return DoPush();
    case OpPushVarRef: return DoPushVarRef();
    case OpPop: return DoPop();
    case OpCall: {
      uint32_t procNo;
      return ReadU32(procNo) && DoCall(procNo, false);
    }
    case OpJump: {
      int32_t offset;
      return ReadI32(offset) && Jump(offset);
    }
    case OpJumpIfTrue: return DoJumpIf(true);
    case OpJumpIfFalse: return DoJumpIf(false);
    case OpReturn: return DoReturn();
    case OpPushType: {
      uint32_t typeNo;
      if (!ReadU32(typeNo)) return false;
      if (typeNo >= X.FTypes.size()) return Err(erInvalidType);
      return X.FStack.PushType(X.FTypes[typeNo].get()) || Err(erOutOfMemory);
    }
    case OpCompare: return DoCompare();
    case OpCallVar: return DoCallVar();
    case OpSetPointer: return DoSetPointer(false);
    case OpBoolNot: return DoUnary(BoolNotValue);
    case OpNegate: return DoUnary(NegateValue);
    case OpSetFlag: return DoSetFlag();
    case OpJumpIfFlag: {
      int32_t offset;
      if (!ReadI32(offset)) return false;
      return !X.FJumpFlag || Jump(offset);
    }
    case OpTryBegin: return DoTryBegin();
    case OpTryEnd: return DoTryEnd();
    case OpBitNot: return DoUnary(BitNotValue);
    case OpSetPointerCopy: return DoSetPointer(true);
    case OpIncrement: return DoIncDec(1);
    case OpDecrement: return DoIncDec(-1);
    case OpPopJump:
    case OpPop2Jump: {
      int32_t offset;
      if (!ReadI32(offset)) return false;
      if (!DoPop()) return false;
      if (opcode == OpPop2Jump && !DoPop()) return false;
      return Jump(offset);
    }
    case OpNop: return true;
    default: return Err(erInvalidOpcode);
  }
}

void TPSRunner::Run() {
  while (X.FStatus == isRunning) {
    const int tempBase = X.FTempVars.Count();
    try {
      while (X.FStatus == isRunning) {
        if (X.FHookActive) {
          X.InstructionHook();
          if (X.FStatus != isRunning) break;
        } else if (X.RunFast(tempBase)) {
          continue;
        }
        if (X.FCurrentPosition >= X.FDataLength) {
          X.CMD_Err(ErOutOfRange);
          continue;
        }
        Step();
        if (X.FTempVars.Count() > tempBase) X.FTempVars.PopTo(tempBase);
      }
    } catch (...) {
      X.FTempVars.PopTo(tempBase);
      X.ReportHostException(std::current_exception());
    }
  }
}

void TPSExec::RunLoop() { TPSRunner(*this).Run(); }

// --- External calls ---------------------------------------------------------------------------------

bool TPSExec::CallExternal(TPSExternalProcRec* proc) {
  if (!proc->FProcPtr) {
    CMD_Err(erCouldNotCallProc);
    return false;
  }
  uint64_t serial = FErrorSerial;
  bool ok;
  try {
    ok = proc->FProcPtr(this, proc, &FGlobalVars, &FStack);
  } catch (...) {
    ReportHostException(std::current_exception());
    return false;
  }
  if (!ok && FErrorSerial == serial) CMD_Err(erCouldNotCallProc);
  return ok;
}

// --- Running ------------------------------------------------------------------------------------------

bool TPSExec::RunScript() {
  if (FStatus == isLoaded) FExceptionStack.clear();
  RaiseScriptError(-1, -1, nullptr, {}, ErNoError);
  FRunStartStatus = FStatus;
  if (FStatus == isLoaded) {
    if (FMainProc < 0) return false;
    auto* main = dynamic_cast<TPSInternalProcRec*>(FProcs[FMainProc].get());
    if (!main) {
      CMD_Err(erNoMainProc);
      FStatus = isLoaded;
      return false;
    }
    SwitchToProc(main, 0);
    FCurrStackBase = -1;
  } else if (FStatus != isPaused || !FCurrProc) {
    return false;
  }
  UpdateHookState();
  FStatus = isRunning;
  RunLoop();
  // Only the outermost run owns the stack; a nested run leaves the frames of
  // the host call that started it alone.
  if (FStatus == isLoaded && FNestedRuns == 0) {
    FStack.Clear();
    FTempVars.Clear();
    if (FCallCleanup) Cleanup();
  }
  return ExEx == ErNoError;
}

}  // namespace ps
