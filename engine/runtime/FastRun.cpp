// The fast loop: runs the pre-decoded instructions of the current procedure
// while they stay on their common paths. Anything else (an operand that
// does not resolve, a type without a quick form, an instruction left to the
// general loop) hands the instruction back, untouched, to the general loop
// at its byte position; the operations that can fail report at the end of
// the instruction, as the general loop does, through the same routines.
#include <cmath>

#include "engine/runtime/FastCode.h"
#include "engine/runtime/Operations.h"

namespace ps {

namespace {
constexpr int32_t ToGeneral = -1;  // the general loop runs the instruction
constexpr int32_t Changed = -2;    // the run state changed: the general loop decides what follows
constexpr int32_t Switched = -3;   // the current procedure changed

template <class T>
inline bool Relate(T a, T b, uint8_t op) {
  switch (op) {
    case CmpGreaterEqual: return a >= b;
    case CmpLessEqual: return a <= b;
    case CmpGreater: return a > b;
    case CmpLess: return a < b;
    case CmpNotEqual: return a != b;
    default: return a == b;
  }
}

// The ordinal value a conditional jump or flag tests; false for other kinds.
inline bool Truth(const uint8_t* p, const TPSTypeRec* t, uint32_t& v) {
  switch (t->FBaseType) {
    case btU8:
    case btS8: v = *p; return true;
    case btU16:
    case btS16: v = Load<uint16_t>(p); return true;
    case btU32:
    case btS32: v = Load<uint32_t>(p); return true;
    default: return false;
  }
}
}  // namespace

struct TPSFastRunner {
  TPSExec& X;
  const int TempBase;

  // The stack entry `frame` places above the frame base.
  __attribute__((always_inline)) bool Entry(int32_t frame, uint8_t*& p, const TPSTypeRec*& t) {
    const int64_t index = int64_t(frame) + X.FCurrStackBase;
    const TPSStack& s = X.FStack;
    if (uint64_t(index) >= s.FEntries.size()) return false;
    uint8_t* e = s.FDataPtr + s.FEntries[size_t(index)];
    t = Load<const TPSTypeRec*>(e);
    p = e + TPSStack::EntryHeader;
    return true;
  }
  static bool Follow(uint8_t*& p, const TPSTypeRec*& t) {
    if (t->FBaseType != btPointer) return true;
    auto pv = Load<TPSPointerValue>(p);
    if (!pv.Target || !pv.Type) return false;
    p = static_cast<uint8_t*>(pv.Target);
    t = pv.Type;
    return true;
  }

  __attribute__((always_inline)) bool Elem(const TFastOperand& o, uint8_t*& p, const TPSTypeRec*& t) {
    uint8_t* bp;
    const TPSTypeRec* bt;
    if (o.BaseKind == FoGlobal) {
      bp = o.P;
      bt = o.T;
    } else if (!Entry(o.Frame, bp, bt)) {
      return false;
    }
    if (!Follow(bp, bt) || bt->FBaseType != btArray) return false;
    uint32_t index = o.IndexConst;
    if (o.IndexKind != FoConst) {
      uint8_t* ip;
      const TPSTypeRec* it;
      if (o.IndexKind == FoGlobal) {
        ip = o.IndexP;
        it = o.IndexT;
      } else if (!Entry(o.IndexFrame, ip, it)) {
        return false;
      }
      if (it->FBaseType != btS32 && it->FBaseType != btU32) return false;
      index = Load<uint32_t>(ip);
    }
    TPSBlockHeader* h = LoadBlock(bp);
    if (!h || index >= h->Length) return false;
    const TPSTypeRec* elem = static_cast<const TPSTypeRec_Array*>(bt)->FArrayType;
    p = BlockData(h) + uint64_t(index) * elem->FRealSize;
    t = elem;
    return elem->FBaseType != btPointer;
  }

  // The operand's value as the general loop reads it (pointers followed).
  __attribute__((always_inline)) bool Resolve(const TFastOperand& o, uint8_t*& p, const TPSTypeRec*& t) {
    switch (o.Kind) {
      case FoConst:
        p = const_cast<uint8_t*>(o.Value);
        t = o.T;
        return true;
      case FoGlobal:
        p = o.P;
        t = o.T;
        break;
      case FoStack:
        if (!Entry(o.Frame, p, t)) return false;
        break;
      default: return Elem(o, p, t);
    }
    return Follow(p, t);
  }

  // After a routine that may have run host code or reported an error.
  bool Disturbed() {
    if (X.FTempVars.Count() > TempBase) X.FTempVars.PopTo(TempBase);
    return X.FStatus != isRunning || X.FHookActive;
  }
  int32_t Fail(TPSError e) {
    X.CMD_Err(e);
    return Changed;
  }
  // The next instruction after a routine of the general loop ran.
  int32_t After(TPSError e, int32_t pc) {
    if (e != ErNoError) return Fail(e);
    return Disturbed() ? Changed : pc + 1;
  }

  uint8_t* PushEntry(const TPSTypeRec* type) {
    uint8_t* v = X.FStack.PushPlain(type);
    return v ? v : X.FStack.PushType(const_cast<TPSTypeRec*>(type));
  }

  __attribute__((always_inline)) int32_t Assign(const TFastInstr& in, int32_t pc) {
    uint8_t *dp, *sp;
    const TPSTypeRec *dt, *st;
    if (!Resolve(in.A, dp, dt) || !Resolve(in.B, sp, st)) return ToGeneral;
    const TPSBaseType db = dt->FBaseType;
    if (db == st->FBaseType) {
      switch (db) {
        case btU8:
        case btS8:
        case btChar: *dp = *sp; return pc + 1;
        case btU16:
        case btS16:
        case btWideChar: std::memcpy(dp, sp, 2); return pc + 1;
        case btU32:
        case btS32: std::memcpy(dp, sp, 4); return pc + 1;
        case btS64: std::memcpy(dp, sp, 8); return pc + 1;
        default: break;
      }
    }
    X.FCurrentPosition = in.End;
    return After(AssignValue(dp, dt, sp, st, &X), pc);
  }

  __attribute__((always_inline)) int32_t Calc(const TFastInstr& in, int32_t pc) {
    uint8_t *dp, *sp;
    const TPSTypeRec *dt, *st;
    if (!Resolve(in.A, dp, dt) || !Resolve(in.B, sp, st)) return ToGeneral;
    const TPSBaseType db = dt->FBaseType, sb = st->FBaseType;
    const uint8_t op = in.Sub;
    if ((db == btS32 || db == btU32) && (sb == btS32 || sb == btU32)) {
      const uint32_t a = Load<uint32_t>(dp), b = Load<uint32_t>(sp);
      uint32_t r;
      switch (op) {
        case CalcAdd: r = a + b; break;
        case CalcSub: r = a - b; break;
        case CalcMul: r = a * b; break;
        case CalcDiv:
        case CalcMod:
          if (b == 0) goto general;
          if (db == btU32) {
            r = op == CalcDiv ? a / b : a % b;
          } else if (static_cast<int32_t>(b) == -1) {
            // The lowest value divided by -1 wraps to itself (remainder 0).
            r = op == CalcDiv ? 0u - a : 0u;
          } else {
            const auto sa = static_cast<int32_t>(a), sbv = static_cast<int32_t>(b);
            r = static_cast<uint32_t>(op == CalcDiv ? sa / sbv : sa % sbv);
          }
          break;
        case CalcShl: r = a << (b & 31); break;
        case CalcShr: r = a >> (b & 31); break;
        case CalcAnd: r = a & b; break;
        case CalcOr: r = a | b; break;
        case CalcXor: r = a ^ b; break;
        default: goto general;
      }
      Store(dp, r);
      return pc + 1;
    }
    if (db == btS64 && (sb == btS32 || sb == btU32 || sb == btS64)) {
      const uint64_t a = Load<uint64_t>(dp);
      const uint64_t b = sb == btS64   ? Load<uint64_t>(sp)
                         : sb == btS32 ? static_cast<uint64_t>(int64_t(Load<int32_t>(sp)))
                                       : uint64_t(Load<uint32_t>(sp));
      uint64_t r;
      switch (op) {
        case CalcAdd: r = a + b; break;
        case CalcSub: r = a - b; break;
        case CalcMul: r = a * b; break;
        case CalcDiv:
        case CalcMod:
          if (b == 0) goto general;
          if (static_cast<int64_t>(b) == -1) {
            r = op == CalcDiv ? 0u - a : 0u;
          } else {
            const auto sa = static_cast<int64_t>(a), sbv = static_cast<int64_t>(b);
            r = static_cast<uint64_t>(op == CalcDiv ? sa / sbv : sa % sbv);
          }
          break;
        case CalcShl: r = a << (b & 63); break;
        case CalcShr: r = a >> (b & 63); break;
        case CalcAnd: r = a & b; break;
        case CalcOr: r = a | b; break;
        case CalcXor: r = a ^ b; break;
        default: goto general;
      }
      Store(dp, r);
      return pc + 1;
    }
    if (db == btDouble && sb == btDouble && op <= CalcMul) {
      // In extended precision, as the general operation computes it.
      const long double a = Load<double>(dp), b = Load<double>(sp);
      const long double r = op == CalcAdd ? a + b : op == CalcSub ? a - b : a * b;
      const auto d = static_cast<double>(r);
      if (std::isfinite(d)) {
        Store(dp, d);
        return pc + 1;
      }
    }
  general:
    X.FCurrentPosition = in.End;
    return After(CalculateValue(X, dp, dt, sp, st, op), pc);
  }

  __attribute__((always_inline)) int32_t Compare(const TFastInstr& in, int32_t pc) {
    uint8_t *dp, *lp, *rp;
    const TPSTypeRec *dt, *lt, *rt;
    if (!Resolve(in.A, dp, dt) || !Resolve(in.B, lp, lt) || !Resolve(in.C, rp, rt)) return ToGeneral;
    const TPSBaseType lb = lt->FBaseType;
    const uint8_t op = in.Sub;
    bool result;
    if (lb == rt->FBaseType && op < CmpIn && lb == btS32) {
      result = Relate(Load<int32_t>(lp), Load<int32_t>(rp), op);
    } else if (lb == rt->FBaseType && op < CmpIn && lb == btU32) {
      result = Relate(Load<uint32_t>(lp), Load<uint32_t>(rp), op);
    } else {
      X.FCurrentPosition = in.End;
      TPSError e = CompareValues(X, lp, lt, rp, rt, op, result);
      if (e != ErNoError) return Fail(e);
      if (Disturbed()) return Changed;
    }
    if (dt->FBaseType == btU8) {
      *dp = result ? 1 : 0;
      return pc + 1;
    }
    X.FCurrentPosition = in.End;
    return After(StoreBoolean(dp, dt, result), pc);
  }

  int32_t Push(const TFastInstr& in, int32_t pc) {
    uint8_t* p;
    const TPSTypeRec* t;
    if (!Resolve(in.A, p, t) || t->FBaseType == btReturnAddress) return ToGeneral;
    // A value inside the stack block moves with it when the push grows the block.
    TPSStack& s = X.FStack;
    const bool inStack = s.Contains(p);
    const uintptr_t offset = inStack ? static_cast<uintptr_t>(p - s.FDataPtr) : 0;
    uint8_t* slot = PushEntry(t);
    if (!slot) return ToGeneral;
    const uint8_t* src = inStack ? s.FDataPtr + offset : p;
    if (!t->FManaged) {
      std::memcpy(slot, src, t->FRealSize);
      return pc + 1;
    }
    X.FCurrentPosition = in.End;
    return After(CopyValues(slot, src, t) ? ErNoError : ErTypeMismatch, pc);
  }

  int32_t PushVarRef(const TFastInstr& in, int32_t pc) {
    uint8_t* p;
    const TPSTypeRec* t;
    if (!Resolve(in.A, p, t) || !X.FPointerType) return ToGeneral;
    TPSStack& s = X.FStack;
    const bool inStack = s.Contains(p);
    const uintptr_t offset = inStack ? static_cast<uintptr_t>(p - s.FDataPtr) : 0;
    uint8_t* slot = PushEntry(X.FPointerType);
    if (!slot) return ToGeneral;
    void* target = inStack ? s.FDataPtr + offset : p;
    Store(slot, TPSPointerValue{target, const_cast<TPSTypeRec*>(t), 0});
    return pc + 1;
  }

  int32_t Pop(const TFastInstr& in, int32_t pc) {
    TPSStack& s = X.FStack;
    if (s.FEntries.empty() || s.EntryType(-1)->FBaseType == btReturnAddress) return ToGeneral;
    if (s.PopPlain()) return pc + 1;
    X.FCurrentPosition = in.End;
    s.Pop();
    return Disturbed() ? Changed : pc + 1;
  }

  int32_t IncDec(const TFastInstr& in, int32_t pc) {
    uint8_t* p;
    const TPSTypeRec* t;
    if (!Resolve(in.A, p, t)) return ToGeneral;
    const uint32_t d = in.Sub ? 1u : ~0u;
    switch (t->FBaseType) {
      case btU8:
      case btS8: *p = static_cast<uint8_t>(*p + d); return pc + 1;
      case btU16:
      case btS16: Store(p, static_cast<uint16_t>(Load<uint16_t>(p) + d)); return pc + 1;
      case btU32:
      case btS32: Store(p, Load<uint32_t>(p) + d); return pc + 1;
      case btS64: Store(p, Load<uint64_t>(p) + (in.Sub ? 1u : ~uint64_t(0))); return pc + 1;
      default: return ToGeneral;
    }
  }

  int32_t Call(const TFastInstr& in) {
    auto* proc = static_cast<TPSInternalProcRec*>(X.FProcs[in.Target].get());
    uint8_t* slot = PushEntry(X.FReturnAddressType.get());
    if (!slot) return ToGeneral;
    Store(slot, TPSReturnAddress{X.FCurrProc, in.End, X.FCurrStackBase});
    X.FCurrStackBase = X.FStack.Count() - 1;
    X.SwitchToProc(proc, 0);
    return Switched;
  }

  int32_t Return() {
    const int32_t base = X.FCurrStackBase;
    if (!X.FExceptionStack.empty()) {
      // Only blocks of callers may be open: those of this frame run first.
      const TPSExceptionHandler& h = X.FExceptionStack.back();
      if (!(h.BasePtr != base && (base >= h.BasePtr || h.BasePtr == -1))) return ToGeneral;
    }
    TPSStack& s = X.FStack;
    if (base < 0 || base >= s.Count() || s.EntryType(base)->FBaseType != btReturnAddress) return ToGeneral;
    const auto ra = Load<TPSReturnAddress>(s.EntryValue(base));
    if (!ra.Proc) return ToGeneral;
    while (s.Count() > base + 1)
      if (!s.PopPlain()) s.Pop();
    s.PopPlain();
    X.FCurrStackBase = ra.BasePtr;
    X.SwitchToProc(ra.Proc, ra.Position);
    return Disturbed() ? Changed : Switched;
  }

  // Runs until an instruction needs the general loop (true when the run
  // state changed instead, for the general loop to look at first).
  bool Run() {
    const TPSFastCode* fast;
    const TFastInstr* code;
    int32_t pc;
  enter:
    if (!X.FCurrProc || !(fast = X.FCurrProc->FFast.get()) || X.FCurrentPosition >= fast->IndexOf.size() ||
        (pc = fast->IndexOf[X.FCurrentPosition]) < 0)
      return false;
    code = fast->Code.data();
    for (;;) {
      const TFastInstr& in = code[pc];
      int32_t next;
      switch (in.Op) {
        case FxNop: next = pc + 1; break;
        case FxAssign: next = Assign(in, pc); break;
        case FxCalc: next = Calc(in, pc); break;
        case FxCompare: next = Compare(in, pc); break;
        case FxJump: next = static_cast<int32_t>(in.Target); break;
        case FxJumpIf: {
          uint8_t* p;
          const TPSTypeRec* t;
          uint32_t v;
          if (!Resolve(in.A, p, t) || !Truth(p, t, v)) {
            next = ToGeneral;
            break;
          }
          next = (v != 0) == (in.Sub != 0) ? static_cast<int32_t>(in.Target) : pc + 1;
          break;
        }
        case FxSetFlag: {
          uint8_t* p;
          const TPSTypeRec* t;
          uint32_t v;
          if (!Resolve(in.A, p, t) || !Truth(p, t, v)) {
            next = ToGeneral;
            break;
          }
          X.FJumpFlag = (v != 0) == (in.Sub != 0);
          next = pc + 1;
          break;
        }
        case FxJumpIfFlag: next = X.FJumpFlag ? static_cast<int32_t>(in.Target) : pc + 1; break;
        case FxPushType: {
          next = PushEntry(in.Type) ? pc + 1 : ToGeneral;
          break;
        }
        case FxPush: next = Push(in, pc); break;
        case FxPushVarRef: next = PushVarRef(in, pc); break;
        case FxPop: next = Pop(in, pc); break;
        case FxIncDec: next = IncDec(in, pc); break;
        case FxCall: next = Call(in); break;
        case FxReturn: next = Return(); break;
        default: next = ToGeneral; break;
      }
      if (next >= 0) {
        pc = next;
        continue;
      }
      if (next == ToGeneral) {
        X.FCurrentPosition = in.Pos;
        return false;
      }
      if (next == Changed) return true;
      goto enter;
    }
  }
};

bool TPSExec::RunFast(int tempBase) { return TPSFastRunner{*this, tempBase}.Run(); }

}  // namespace ps
