// The fast loop: runs the pre-decoded instructions of the current procedure
// while they stay on their common paths. Anything else (an operand that
// does not resolve, a type without a quick form, an instruction left to the
// general loop) hands the instruction back, untouched, to the general loop
// at its byte position; the operations that can fail report at the end of
// the instruction, as the general loop does, through the same routines.
#include <cmath>
#include <cstddef>
#include <type_traits>

#include "engine/runtime/BuiltinRoutines.h"
#include "engine/runtime/FastCode.h"
#include "engine/runtime/Operations.h"
#include "engine/runtime/RegisterCode.h"

namespace ps {

namespace {
constexpr int32_t ToGeneral = -1;  // the general loop runs the instruction
constexpr int32_t Changed = -2;    // the run state changed: the general loop decides what follows
constexpr int32_t Switched = -3;   // the current procedure changed

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

// Strings whose copies share one reference-counted block (a WideString
// copies its text instead); their slot is the block reference, nil when empty.
inline bool SharedString(TPSBaseType b) { return b == btString || b == btPChar || b == btUnicodeString; }

// Two characters whose comparison as one-character texts is that of their
// codes: of one width, or a Char of the ASCII range against a WideChar (a
// Char above it is a UTF-8 fragment, which the general operation converts).
inline bool CharCodes(const uint8_t* lp, TPSBaseType lb, const uint8_t* rp, TPSBaseType rb, uint32_t& l, uint32_t& r) {
  if ((lb != btChar && lb != btWideChar) || (rb != btChar && rb != btWideChar)) return false;
  l = lb == btChar ? *lp : Load<uint16_t>(lp);
  r = rb == btChar ? *rp : Load<uint16_t>(rp);
  return lb == rb || (lb == btChar ? l : r) < 0x80;
}

// The stack as the fast loop sees it, kept in registers between the
// instructions that change it.
struct TStackView {
  uint8_t* Data;
  const uint32_t* Entries;
  uint64_t Count;
  int64_t Base;
};
}  // namespace

struct TPSFastRunner {
  TPSExec& X;
  const int TempBase;
  TStackView V{};

  __attribute__((always_inline)) void Sync() {
    V.Data = X.FStack.FDataPtr;
    V.Entries = X.FStack.FEntries.data();
    V.Count = X.FStack.FEntries.size();
    V.Base = X.FCurrStackBase;
  }

  // The stack entry `frame` places above the frame base.
  __attribute__((always_inline)) bool Entry(int32_t frame, uint8_t*& p, const TPSTypeRec*& t) {
    const int64_t index = int64_t(frame) + V.Base;
    if (uint64_t(index) >= V.Count) return false;
    uint8_t* e = V.Data + V.Entries[size_t(index)];
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
    if (o.Fixed) {
      p = o.Fixed;
      t = o.T;
      return true;
    }
    if (o.Kind == FoElemFixed) {
      TPSBlockHeader* h = LoadBlock(o.P);
      const uint32_t index = o.IndexFixed ? Load<uint32_t>(o.IndexFixed) : o.IndexConst;
      if (!h || index >= h->Length) return false;
      p = BlockData(h) + uint64_t(index) * o.ElemSize;
      t = o.ElemT;
      return true;
    }
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

  // The run was stopped or paused from outside (a signal handler may do it:
  // the status is read afresh every time).
  bool Stopped() const { return __atomic_load_n(&X.FStatus, __ATOMIC_RELAXED) != isRunning; }

  // After a routine that may have run host code or reported an error.
  bool Disturbed() {
    Sync();
    if (X.FTempVars.Count() > TempBase) X.FTempVars.PopTo(TempBase);
    return X.FStatus != isRunning || X.FHookActive;
  }
  int32_t Fail(TPSError e) {
    X.CMD_Err(e);
    return Changed;
  }
  // The next instruction after a routine of the general loop ran.
  int32_t After(TPSError e, const TFastInstr& in) {
    if (e != ErNoError) return Fail(e);
    return Disturbed() ? Changed : static_cast<int32_t>(in.Next);
  }

  __attribute__((always_inline)) uint8_t* PushEntry(const TPSTypeRec* type) {
    TPSStack& s = X.FStack;
    uint8_t* v;
    const uint32_t size = (type->FRealSize + 7u) & ~7u;
    const uint64_t needed = uint64_t(s.FLength) + TPSStack::EntryHeader + size;
    if (type->FRealSize - 1u < 24u &&
        (!type->FManaged || type->FBaseType == btPointer || SharedString(type->FBaseType)) && needed <= s.FCapacity &&
        needed <= s.FMaxLength) {
      // The common temporaries: plain values, pointers, return addresses and
      // strings (empty: a nil reference).
      uint8_t* e = s.FDataPtr + s.FLength;
      s.FEntries.push_back(s.FLength);
      s.FLength = static_cast<uint32_t>(needed);
      Store(e, type);
      uint8_t* v = e + TPSStack::EntryHeader;
      Store<uint64_t>(v, 0);
      if (size > 8) Store<uint64_t>(v + 8, 0);
      if (size > 16) Store<uint64_t>(v + 16, 0);
      V.Entries = s.FEntries.data();
      ++V.Count;
      return e + TPSStack::EntryHeader;
    }
    v = s.PushPlain(type);
    if (!v) v = s.PushType(const_cast<TPSTypeRec*>(type));
    Sync();
    return v;
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
        case btChar: *dp = *sp; return static_cast<int32_t>(in.Next);
        case btU16:
        case btS16:
        case btWideChar: std::memcpy(dp, sp, 2); return static_cast<int32_t>(in.Next);
        case btU32:
        case btS32: std::memcpy(dp, sp, 4); return static_cast<int32_t>(in.Next);
        case btS64: std::memcpy(dp, sp, 8); return static_cast<int32_t>(in.Next);
        case btString:
        case btPChar:
        case btUnicodeString:
          if (dp != sp) {
            // The new reference first: both may hold the same block.
            TPSBlockHeader* h = LoadBlock(sp);
            AddRefBlock(h);
            ReleaseStringBlock(LoadBlock(dp));
            Store(dp, h);
          }
          return static_cast<int32_t>(in.Next);
        default: break;
      }
    }
    if (AssignCharacterText(dp, db, sp, st->FBaseType)) return static_cast<int32_t>(in.Next);
    if (db == btUnicodeString && in.B.HasWide) {
      // An ANSI constant: its UTF-16 twin, made at load, is shared.
      ReleaseStringBlock(LoadBlock(dp));
      Store(dp, in.B.Wide);
      return static_cast<int32_t>(in.Next);
    }
    // An integer into a wider or differently signed one (an Integer
    // argument of a routine taking an Int64, a Cardinal into an Integer).
    if (st->FBaseType == btS32 || st->FBaseType == btU32) {
      if (db == btS32 || db == btU32) {
        std::memcpy(dp, sp, 4);
        return static_cast<int32_t>(in.Next);
      }
      if (db == btS64) {
        Store<int64_t>(dp, st->FBaseType == btS32 ? int64_t(Load<int32_t>(sp)) : int64_t(Load<uint32_t>(sp)));
        return static_cast<int32_t>(in.Next);
      }
    }
    if (in.Window) return ToGeneral;
    X.FCurrentPosition = in.End;
    return After(AssignValue(dp, dt, sp, st, &X), in);
  }

  // K: the operator when fixed at load, else -1.
  template <int K>
  __attribute__((always_inline)) int32_t Calc(const TFastInstr& in) {
    uint8_t *dp, *sp;
    const TPSTypeRec *dt, *st;
    if (!Resolve(in.A, dp, dt) || !Resolve(in.B, sp, st)) return ToGeneral;
    const TPSBaseType db = dt->FBaseType, sb = st->FBaseType;
    const uint8_t op = K >= 0 ? static_cast<uint8_t>(K) : in.Sub;
    if ((db == btS32 || db == btU32) && (sb == btS32 || sb == btU32)) {
      uint32_t r;
      if (!IntegerCalc<uint32_t>(op, Load<uint32_t>(dp), Load<uint32_t>(sp), db == btU32, r)) goto general;
      Store(dp, r);
      return static_cast<int32_t>(in.Next);
    }
    if (db == btS64 && (sb == btS32 || sb == btU32 || sb == btS64)) {
      const uint64_t b = sb == btS64   ? Load<uint64_t>(sp)
                         : sb == btS32 ? static_cast<uint64_t>(int64_t(Load<int32_t>(sp)))
                                       : uint64_t(Load<uint32_t>(sp));
      uint64_t r;
      if (!IntegerCalc<uint64_t>(op, Load<uint64_t>(dp), b, false, r)) goto general;
      Store(dp, r);
      return static_cast<int32_t>(in.Next);
    }
    if (db == btDouble && sb == btDouble && op <= CalcMul) {
      // In extended precision, as the general operation computes it.
      const long double a = Load<double>(dp), b = Load<double>(sp);
      const long double r = op == CalcAdd ? a + b : op == CalcSub ? a - b : a * b;
      const auto d = static_cast<double>(r);
      if (std::isfinite(d)) {
        Store(dp, d);
        return static_cast<int32_t>(in.Next);
      }
    }
    if (db == btU8 && sb == btU8 && op >= CalcAnd && op <= CalcXor) {  // Booleans
      *dp = op == CalcAnd ? *dp & *sp : op == CalcOr ? *dp | *sp : *dp ^ *sp;
      return static_cast<int32_t>(in.Next);
    }
    if (db == btUnicodeString && op == CalcAdd && !in.Window) {
      // Concatenation, of the kinds the compiler makes (the append may fail
      // for memory, at the instruction's end as the general loop reports it).
      X.FCurrentPosition = in.End;
      if (in.B.HasWide) {
        const TPSBlockHeader* w = in.B.Wide;
        if (w) PSUnicodeAppend(dp, std::u16string_view(reinterpret_cast<const char16_t*>(w + 1), w->Length));
      } else if (!AppendWideText(dp, sp, sb)) {
        goto general;
      }
      return static_cast<int32_t>(in.Next);
    }
  general:
    if (in.Window) return ToGeneral;
    X.FCurrentPosition = in.End;
    return After(CalculateValue(X, dp, dt, sp, st, op), in);
  }

  template <int K>
  __attribute__((always_inline)) int32_t Compare(const TFastInstr& in) {
    uint8_t *dp, *lp, *rp;
    const TPSTypeRec *dt, *lt, *rt;
    if (!Resolve(in.A, dp, dt) || !Resolve(in.B, lp, lt) || !Resolve(in.C, rp, rt)) return ToGeneral;
    const TPSBaseType lb = lt->FBaseType;
    const uint8_t op = K >= 0 ? static_cast<uint8_t>(K) : in.Sub;
    bool result;
    if (lb == rt->FBaseType && op < CmpIn && lb == btS32) {
      result = Relate(Load<int32_t>(lp), Load<int32_t>(rp), op);
    } else if (lb == rt->FBaseType && op < CmpIn && lb == btU32) {
      result = Relate(Load<uint32_t>(lp), Load<uint32_t>(rp), op);
    } else if (uint32_t l, r; op < CmpIn && CharCodes(lp, lb, rp, rt->FBaseType, l, r)) {
      result = Relate(l, r, op);
    } else {
      if (in.Window) return ToGeneral;
      X.FCurrentPosition = in.End;
      TPSError e = CompareValues(X, lp, lt, rp, rt, op, result);
      if (e != ErNoError) return Fail(e);
      if (Disturbed()) return Changed;
    }
    if (dt->FBaseType == btU8) {
      *dp = result ? 1 : 0;
      return static_cast<int32_t>(in.Next);
    }
    if (in.Window) return ToGeneral;
    X.FCurrentPosition = in.End;
    return After(StoreBoolean(dp, dt, result), in);
  }

  // Both operands of 32-bit integer kinds at fixed addresses (the general
  // operation raises division by zero).
  template <int K>
  __attribute__((always_inline)) int32_t Calc32(const TFastInstr& in) {
    const uint32_t a = Load<uint32_t>(in.A.Fixed), b = Load<uint32_t>(in.B.Fixed);
    uint32_t r;
    switch (K) {
      case CalcAdd: r = a + b; break;
      case CalcSub: r = a - b; break;
      case CalcMul: r = a * b; break;
      case CalcDiv:
      case CalcMod:
        if (b == 0) return ToGeneral;
        if (in.A.T->FBaseType == btU32) {
          r = K == CalcDiv ? a / b : a % b;
        } else if (static_cast<int32_t>(b) == -1) {
          r = K == CalcDiv ? 0u - a : 0u;
        } else {
          const auto sa = static_cast<int32_t>(a), sbv = static_cast<int32_t>(b);
          r = static_cast<uint32_t>(K == CalcDiv ? sa / sbv : sa % sbv);
        }
        break;
      case CalcShl: r = a << (b & 31); break;
      case CalcShr: r = a >> (b & 31); break;
      case CalcAnd: r = a & b; break;
      case CalcOr: r = a | b; break;
      default: r = a ^ b; break;
    }
    Store(in.A.Fixed, r);
    return static_cast<int32_t>(in.Next);
  }

  // The assignment, then the calculation as FxCalc32Op does it (or alone,
  // from its own instruction, when that needs the general loop).
  template <int K>
  __attribute__((always_inline)) int32_t AssignCalc32(const TFastInstr& in) {
    // Computed from the source straight away: only the result is stored (the
    // second operand is never the destination, see the translation).
    const uint32_t a = Load<uint32_t>(in.B.Fixed);
    uint32_t r;
    if (!IntegerCalc<uint32_t>(K, a, Load<uint32_t>(in.C.Fixed), in.A.T->FBaseType == btU32, r)) {
      // A division by zero: the calculation's own instruction reports it.
      Store(in.A.Fixed, a);
      return static_cast<int32_t>(in.JumpTo);
    }
    Store(in.A.Fixed, r);
    return static_cast<int32_t>(in.Next);
  }

  // The steps of FxChain32 with the value in a register; a division the
  // quick form cannot do stores the value so far and leaves the step to its
  // own instruction (the first step of a calculation: to the general loop).
  __attribute__((always_inline)) int32_t Chain32(const TFastInstr& in) {
    uint32_t v = Load<uint32_t>(in.ChainFrom);
    const bool isUnsigned = in.A.T->FBaseType == btU32;
    for (int i = 0; i < in.ChainLength; ++i) {
      const TFastInstr::TChainStep& step = in.Chain[i];
      // An operand that is the destination is the value so far.
      const uint32_t b = step.Src == in.A.Fixed ? v : Load<uint32_t>(step.Src);
      uint32_t r;
      if (!IntegerCalc<uint32_t>(step.Op, v, b, isUnsigned, r)) {
        // A division by zero: reported by its own instruction.
        if (i == 0 && !in.Jump) return ToGeneral;
        Store(in.A.Fixed, v);
        return static_cast<int32_t>(step.At);
      }
      v = r;
    }
    Store(in.A.Fixed, v);
    return static_cast<int32_t>(in.Next);
  }

  // Only the quick forms: anything else leaves the comparison, untouched, to the general loop.
  template <int K>
  __attribute__((always_inline)) int32_t CompareJump(const TFastInstr& in) {
    const uint8_t op = static_cast<uint8_t>(K);
    uint8_t *dp, *lp, *rp;
    const TPSTypeRec *dt, *lt, *rt;
    if (!Resolve(in.A, dp, dt) || !Resolve(in.B, lp, lt) || !Resolve(in.C, rp, rt)) return ToGeneral;
    const TPSBaseType lb = lt->FBaseType;
    if (dt->FBaseType != btU8 || lb != rt->FBaseType) return ToGeneral;
    bool result;
    if (lb == btS32)
      result = Relate(Load<int32_t>(lp), Load<int32_t>(rp), op);
    else if (lb == btU32)
      result = Relate(Load<uint32_t>(lp), Load<uint32_t>(rp), op);
    else
      return ToGeneral;
    *dp = result ? 1 : 0;
    if (in.Step) Store(lp, Load<uint32_t>(lp) + 1u);
    return (*dp != 0) == (in.Jump != 0) ? static_cast<int32_t>(in.JumpTo) : static_cast<int32_t>(in.Next);
  }

  __attribute__((always_inline)) int32_t Push(const TFastInstr& in, int32_t pc) {
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
      return static_cast<int32_t>(in.Next);
    }
    if (SharedString(t->FBaseType)) {
      TPSBlockHeader* h = LoadBlock(src);
      AddRefBlock(h);
      Store(slot, h);
      return static_cast<int32_t>(in.Next);
    }
    X.FCurrentPosition = in.End;
    return After(CopyValues(slot, src, t) ? ErNoError : ErTypeMismatch, in);
  }

  __attribute__((always_inline)) int32_t PushVarRef(const TFastInstr& in, int32_t pc) {
    uint8_t* p;
    const TPSTypeRec* t;
    if (!Resolve(in.A, p, t) || !X.FPointerType) return ToGeneral;
    TPSStack& s = X.FStack;
    const bool inStack = s.Contains(p);
    const uintptr_t offset = inStack ? static_cast<uintptr_t>(p - s.FDataPtr) : 0;
    uint8_t* slot = PushEntry(X.FPointerType);
    if (!slot) return ToGeneral;
    void* target = inStack ? s.FDataPtr + offset : p;
    // Field by field: a whole-record copy through a temporary stalls the store.
    Store(slot + offsetof(TPSPointerValue, Target), target);
    Store(slot + offsetof(TPSPointerValue, Type), t);
    Store<uintptr_t>(slot + offsetof(TPSPointerValue, Owning), 0);
    return static_cast<int32_t>(in.Next);
  }

  // Whether the entry at `off` goes without finalising anything but a string
  // reference (released here when `release`).
  __attribute__((always_inline)) bool QuickDrop(uint32_t off, bool release) {
    const auto* t = Load<const TPSTypeRec*>(V.Data + off);
    if (!t || t->FBaseType == btReturnAddress) return false;
    if (!t->FManaged) return true;
    if (t->FBaseType == btPointer) return !Load<TPSPointerValue>(V.Data + off + TPSStack::EntryHeader).Owning;
    if (!SharedString(t->FBaseType)) return false;
    if (release) ReleaseStringBlock(LoadBlock(V.Data + off + TPSStack::EntryHeader));
    return true;
  }

  // A run of pops (in.Frame of them) at once when none needs more than a
  // string released and the block would not shrink on the way; else the
  // first alone, as FxPop does it.
  // Whether the top n entries go at once without giving memory back and
  // without finalising anything but string references; then dropping them.
  __attribute__((always_inline)) bool CanDrop(uint64_t n) {
    bool quick = V.Count >= n && X.FStack.FCapacity - V.Entries[V.Count - n] <= TPSStack::ShrinkSlack;
    for (uint64_t i = 1; i <= n && quick; ++i) quick = QuickDrop(V.Entries[V.Count - i], false);
    return quick;
  }
  __attribute__((always_inline)) void Drop(uint64_t n) {
    const uint32_t low = V.Entries[V.Count - n];
    for (uint64_t i = 1; i <= n; ++i) QuickDrop(V.Entries[V.Count - i], true);
    X.FStack.FEntries.resize(size_t(V.Count - n));
    X.FStack.FLength = low;
    V.Count -= n;
  }

  __attribute__((always_inline)) int32_t PopRun(const TFastInstr& in, int32_t pc) {
    const auto n = static_cast<uint64_t>(in.Frame);
    if (CanDrop(n)) {
      Drop(n);
      return static_cast<int32_t>(in.Next);
    }
    const int32_t next = Pop(in, pc);
    return next == static_cast<int32_t>(in.Next) ? pc + 1 : next;
  }

  __attribute__((always_inline)) int32_t Pop(const TFastInstr& in, int32_t pc) {
    TPSStack& s = X.FStack;
    if (V.Count == 0) return ToGeneral;
    const uint32_t off = V.Entries[V.Count - 1];
    const auto* t = Load<const TPSTypeRec*>(V.Data + off);
    if (!t || t->FBaseType == btReturnAddress) return ToGeneral;
    if (s.FCapacity - off <= TPSStack::ShrinkSlack && QuickDrop(off, true)) {
      s.FEntries.pop_back();
      s.FLength = off;
      --V.Count;
      return static_cast<int32_t>(in.Next);
    }
    const bool plain = s.PopPlain();
    Sync();
    if (plain) return static_cast<int32_t>(in.Next);
    X.FCurrentPosition = in.End;
    s.Pop();
    return Disturbed() ? Changed : static_cast<int32_t>(in.Next);
  }

  // A variable as it is, pointers not followed.
  __attribute__((always_inline)) bool Raw(const TFastOperand& o, uint8_t*& p, const TPSTypeRec*& t) {
    if (o.Kind == FoGlobal) {
      p = o.P;
      t = o.T;
      return true;
    }
    return Entry(o.Frame, p, t);
  }

  // A pointer that owns nothing made to refer to a variable (or to what a
  // pointer refers to); the general loop does the rest and reports.
  __attribute__((always_inline)) int32_t SetPointer(const TFastInstr& in) {
    uint8_t *dp, *sp;
    const TPSTypeRec *dt, *st;
    if (!Raw(in.A, dp, dt) || !Raw(in.B, sp, st) || dt->FBaseType != btPointer || Load<TPSPointerValue>(dp).Owning)
      return ToGeneral;
    void* target = sp;
    const TPSTypeRec* type = st;
    if (st->FBaseType == btPointer) {
      const auto sv = Load<TPSPointerValue>(sp);
      target = sv.Target;
      type = sv.Type;
    }
    Store(dp + offsetof(TPSPointerValue, Target), target);
    Store(dp + offsetof(TPSPointerValue, Type), type);
    return static_cast<int32_t>(in.Next);
  }

  // An argument of a call about to be made: `i` entries from the top (1:
  // the top), pointers followed.
  __attribute__((always_inline)) void Argument(uint64_t i, uint8_t*& p, const TPSTypeRec*& t) {
    uint8_t* e = V.Data + V.Entries[V.Count - i];
    t = Load<const TPSTypeRec*>(e);
    p = e + TPSStack::EntryHeader;
  }
  // An integer of 32 or 64 bits, by its kind.
  static int64_t IntegerAt(const uint8_t* p, TPSBaseType b) {
    return b == btS32 ? int64_t(Load<int32_t>(p)) : b == btU32 ? int64_t(Load<uint32_t>(p)) : Load<int64_t>(p);
  }
  static bool Text(TPSBaseType b) {
    return b == btString || b == btPChar || b == btUnicodeString || b == btWideString || b == btChar || b == btWideChar;
  }

  // IntToStr(i) appended at once to a UnicodeString (`s := s + IntToStr(i)`,
  // and each such term of a longer sum): the digits go straight onto the
  // string, and the arguments and the result, still empty, are dropped.
  // False (nothing done) unless the result is the entry below the arguments.
  bool AppendDigits(const TFastInstr& in, uint64_t args, const uint8_t* rp, int64_t value) {
    uint8_t* dp;
    const TPSTypeRec* dt;
    if (!CanDrop(args + 1) || rp != V.Data + V.Entries[V.Count - args - 1] + TPSStack::EntryHeader || LoadBlock(rp) ||
        !Resolve(in.B, dp, dt) || dp == rp || dt->FBaseType != btUnicodeString)
      return false;
    char16_t digits[24];
    // A failure to grow the string is the addition's.
    X.FCurrentPosition = X.FCurrProc->FFast->Code[in.Target].End;
    PSUnicodeAppend(dp, WideDecimal(value, digits));
    Drop(args + 1);
    return true;
  }

  // Pos, Copy or IntToStr with its arguments on the stack, when they and the result
  // are texts and integers as the routine declares and the arguments go
  // without more than a string released; else the call sequence itself,
  // from its reference push.
  int32_t InlineTextCall(const TFastInstr& in, int32_t pc) {
    const auto args = static_cast<uint64_t>(in.Frame);
    uint8_t *rp = nullptr, *ap = nullptr, *bp = nullptr, *cp = nullptr;
    const TPSTypeRec *rt = nullptr, *at = nullptr, *bt = nullptr, *ct = nullptr;
    bool done = CanDrop(args);
    if (done) {
      Argument(1, ap, at);
      done = Resolve(in.A, rp, rt) && Follow(ap, at);
    }
    if (done && args >= 2) {
      Argument(2, bp, bt);
      done = Follow(bp, bt);
    }
    if (done && in.Sub == uint8_t(TInlineRoutine::IntToStr)) {
      const TPSBaseType a = at->FBaseType, r = rt->FBaseType;
      done = (a == btS32 || a == btU32 || a == btS64) &&
             (r == btString || r == btPChar || r == btUnicodeString || r == btWideString);
      if (done && in.Step && AppendDigits(in, args, rp, IntegerAt(ap, a))) return static_cast<int32_t>(in.JumpTo);
      if (done) IntToText(rp, rt, IntegerAt(ap, a));
    } else if (done && in.Sub == uint8_t(TInlineRoutine::Pos)) {
      done = Text(at->FBaseType) && Text(bt->FBaseType) && (rt->FBaseType == btS32 || rt->FBaseType == btU32);
      if (done) Store(rp, static_cast<uint32_t>(PosIn(ap, at, bp, bt)));
    } else if (done) {
      Argument(3, cp, ct);
      const TPSBaseType r = rt->FBaseType;
      done = Follow(cp, ct) && Text(at->FBaseType) && (bt->FBaseType == btS32 || bt->FBaseType == btU32) &&
             (ct->FBaseType == btS32 || ct->FBaseType == btU32) &&
             (r == btString || r == btPChar || r == btUnicodeString || r == btWideString);
      // Read as Longint whatever their kind, as the routine reads them.
      if (done) CopyTo(rp, rt, ap, at, Load<int32_t>(bp), Load<int32_t>(cp));
    }
    if (!done) {
      const int32_t next = PushVarRef(in, pc);
      return next < 0 ? next : pc + 1;
    }
    Drop(args);
    return static_cast<int32_t>(in.Next);
  }

  // Length(s), StrToInt(s) or s[i] in place when the text is a string, the
  // index in range and the result an integer or character; anything else
  // runs the call sequence itself, from its first instruction.
  __attribute__((always_inline)) int32_t InlineCall(const TFastInstr& in, int32_t pc) {
    if (in.Sub >= uint8_t(TInlineRoutine::Pos)) return InlineTextCall(in, pc);
    uint8_t *sp, *ip;
    const TPSTypeRec *st, *it;
    const TPSBaseType rb = in.Type->FBaseType;
    uint32_t value = 0;
    bool done = V.Count == uint64_t(V.Base + in.Frame) && X.FStack.FLength + 16u <= X.FStack.FCapacity &&
                X.FStack.FLength + 16u <= X.FStack.FMaxLength && !(in.B.Kind == FoStack && in.B.Frame >= in.Frame) &&
                !(in.C.Kind == FoStack && in.C.Frame >= in.Frame) && Resolve(in.B, sp, st);
    if (done) {
      const TPSBaseType sb = st->FBaseType;
      const bool wide = sb == btUnicodeString || sb == btWideString, narrow = sb == btString || sb == btPChar;
      const size_t length = wide ? PSUnicodeView(sp).size() : narrow ? PSAnsiView(sp).size() : 0;
      if (in.Sub == uint8_t(TInlineRoutine::Length)) {
        done = (wide || narrow) && (rb == btS32 || rb == btU32) && length <= INT32_MAX;
        value = static_cast<uint32_t>(length);
      } else if (in.Sub == uint8_t(TInlineRoutine::StrToInt)) {
        done = (wide || narrow) && rb == btS32;
        if (done) value = static_cast<uint32_t>(StrToIntOf(sp, st));
      } else {
        done = (wide || narrow) && (rb == btChar || rb == btWideChar) && Resolve(in.C, ip, it) &&
               (it->FBaseType == btS32 || it->FBaseType == btU32);
        const int64_t i = !done ? 0 : it->FBaseType == btS32 ? int64_t(Load<int32_t>(ip)) : int64_t(Load<uint32_t>(ip));
        done = done && i >= 1 && uint64_t(i) <= length;
        if (done) value = wide ? PSUnicodeView(sp)[size_t(i - 1)] : static_cast<uint8_t>(PSAnsiView(sp)[size_t(i - 1)]);
      }
    }
    if (done && in.Step) {
      // The comparison with the constant, in place of the push, compare and pop.
      const TPSBaseType cb = in.ChainLength;
      const uint32_t r = in.JumpTo;
      uint8_t* dp;
      const TPSTypeRec* dt;
      bool quick = Entry(in.A.Frame, dp, dt) && dt->FBaseType == btU8, result = false;
      if (quick && rb == cb && rb == btS32)
        result = Relate(static_cast<int32_t>(value), static_cast<int32_t>(r), in.Jump);
      else if (quick && rb == cb && rb == btU32)
        result = Relate(value, r, in.Jump);
      else if (quick && (rb == btChar || rb == btWideChar) && (cb == btChar || cb == btWideChar) &&
               (rb == cb || (rb == btChar ? value : r) < 0x80))
        result = Relate(value, r, in.Jump);
      else
        quick = false;
      if (quick && in.Combine) {
        // The Boolean pushed for the result is on top: dropped unless that
        // would give memory back (the call sequence then runs as it is).
        const uint32_t off = V.Count ? V.Entries[V.Count - 1] : 0;
        const auto* top = V.Count ? Load<const TPSTypeRec*>(V.Data + off) : nullptr;
        if (top && top->FBaseType == btU8 && X.FStack.FCapacity - off <= TPSStack::ShrinkSlack) {
          *dp = in.Combine == CalcAnd ? *dp & uint8_t(result) : *dp | uint8_t(result);
          X.FStack.FEntries.pop_back();
          X.FStack.FLength = off;
          --V.Count;
          return static_cast<int32_t>(in.Next);
        }
      } else if (quick) {
        *dp = result ? 1 : 0;
        return static_cast<int32_t>(in.Next);
      }
    }
    uint8_t* slot = PushEntry(in.Type);
    if (!slot) return ToGeneral;
    if (!done) return pc + 1;
    if (rb == btChar)
      *slot = static_cast<uint8_t>(value);
    else if (rb == btWideChar)
      Store(slot, static_cast<uint16_t>(value));
    else
      Store(slot, value);
    return static_cast<int32_t>(in.Step ? in.Target : in.Next);
  }

  // Only when the entry is the one the operands' frame numbers expect, both
  // operands are Integers and the push needs no larger block (which would
  // move them); else the three instructions run one by one.
  __attribute__((always_inline)) int32_t PushCalc(const TFastInstr& in, int32_t pc) {
    uint8_t *bp, *cp;
    const TPSTypeRec *bt, *ct;
    if (V.Count != uint64_t(V.Base + in.Frame) || X.FStack.FLength + 16u > X.FStack.FCapacity ||
        X.FStack.FLength + 16u > X.FStack.FMaxLength || !Resolve(in.B, bp, bt) || !Resolve(in.C, cp, ct) ||
        bt->FBaseType != btS32 || (ct->FBaseType != btS32 && ct->FBaseType != btU32))
      return static_cast<int32_t>(PushEntry(in.Type) ? pc + 1 : ToGeneral);
    const uint32_t a = Load<uint32_t>(bp), b = Load<uint32_t>(cp);
    const uint32_t r = in.Sub == CalcAdd ? a + b : in.Sub == CalcSub ? a - b : a * b;
    Store(PushEntry(in.Type), r);
    return static_cast<int32_t>(in.Next);
  }

  __attribute__((always_inline)) int32_t IncDec(const TFastInstr& in, int32_t pc) {
    uint8_t* p;
    const TPSTypeRec* t;
    if (!Resolve(in.A, p, t)) return ToGeneral;
    const uint32_t d = in.Sub ? 1u : ~0u;
    switch (t->FBaseType) {
      case btU8:
      case btS8: *p = static_cast<uint8_t>(*p + d); return static_cast<int32_t>(in.Next);
      case btU16:
      case btS16: Store(p, static_cast<uint16_t>(Load<uint16_t>(p) + d)); return static_cast<int32_t>(in.Next);
      case btU32:
      case btS32: Store(p, Load<uint32_t>(p) + d); return static_cast<int32_t>(in.Next);
      case btS64: Store(p, Load<uint64_t>(p) + (in.Sub ? 1u : ~uint64_t(0))); return static_cast<int32_t>(in.Next);
      default: return ToGeneral;
    }
  }

  int32_t Call(const TFastInstr& in) {
    auto* proc = static_cast<TPSInternalProcRec*>(X.FProcs[in.Target].get());
    // A procedure of ordinal values runs whole in its register form.
    if ((!proc->FRegister || proc->FRegister->Ready) && RunRegisters(X, *proc)) return static_cast<int32_t>(in.Next);
    uint8_t* slot = PushEntry(X.FReturnAddressType.get());
    if (!slot) return ToGeneral;
    Store(slot + offsetof(TPSReturnAddress, Proc), X.FCurrProc);
    Store(slot + offsetof(TPSReturnAddress, Position), in.End);
    Store(slot + offsetof(TPSReturnAddress, BasePtr), X.FCurrStackBase);
    X.FCurrStackBase = X.FStack.Count() - 1;
    V.Base = X.FCurrStackBase;
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
    if (base < 0 || uint64_t(base) >= V.Count) return ToGeneral;
    const uint32_t frameStart = V.Entries[base];
    uint8_t* e = V.Data + frameStart;
    const auto* rt = Load<const TPSTypeRec*>(e);
    if (!rt || rt->FBaseType != btReturnAddress) return ToGeneral;
    e += TPSStack::EntryHeader;
    auto* proc = Load<TPSInternalProcRec*>(e + offsetof(TPSReturnAddress, Proc));
    const auto position = Load<uint32_t>(e + offsetof(TPSReturnAddress, Position));
    const auto basePtr = Load<int32_t>(e + offsetof(TPSReturnAddress, BasePtr));
    if (!proc) return ToGeneral;
    // A frame of plain values goes at once; anything to finalise one by one.
    bool plain = true;
    for (uint64_t i = uint64_t(base) + 1; i < V.Count && plain; ++i) {
      const auto* t = Load<const TPSTypeRec*>(V.Data + V.Entries[i]);
      plain = t && (!t->FManaged || (t->FBaseType == btPointer &&
                                     !Load<TPSPointerValue>(V.Data + V.Entries[i] + TPSStack::EntryHeader).Owning));
    }
    const bool quick = plain && s.FCapacity - frameStart <= TPSStack::ShrinkSlack;
    if (quick) {
      s.FEntries.resize(size_t(base));
      s.FLength = frameStart;
    } else {
      while (s.Count() > base + 1)
        if (!s.PopPlain()) s.Pop();
      s.PopPlain();
    }
    X.FCurrStackBase = basePtr;
    X.SwitchToProc(proc, position);
    if (quick) {
      V.Count = uint64_t(base);
      V.Base = basePtr;
      return Switched;
    }
    return Disturbed() ? Changed : Switched;
  }

  // Runs until an instruction needs the general loop (true when the run
  // state changed instead, for the general loop to look at first). Each
  // handler ends in its own dispatch jump, which the processor predicts far
  // better than one shared switch.
  bool Run() {
    static const void* const Handlers[] = {
        &&general,
        &&nop,
        &&assign,
        &&calc,
        &&compare,
        &&jump,
        &&jumpIf,
        &&setFlag,
        &&jumpIfFlag,
        &&pushType,
        &&push,
        &&pushVarRef,
        &&pop,
        &&incDec,
        &&call,
        &&ret,
        &&general,
        &&callHost,
        &&flagJump,
        &&pushCalc,
        &&window,
        &&popRun,
        &&setPointer,
        &&chain32,
        &&inlineCall,
        &&calc0,
        &&calc1,
        &&calc2,
        &&calc3,
        &&calc4,
        &&calc5,
        &&calc6,
        &&calc7,
        &&calc8,
        &&calc9,
        &&compare0,
        &&compare1,
        &&compare2,
        &&compare3,
        &&compare4,
        &&compare5,
        &&compareJump0,
        &&compareJump1,
        &&compareJump2,
        &&compareJump3,
        &&compareJump4,
        &&compareJump5,
        &&assign32,
        &&calc32_0,
        &&calc32_1,
        &&calc32_2,
        &&calc32_3,
        &&calc32_4,
        &&calc32_5,
        &&calc32_6,
        &&calc32_7,
        &&calc32_8,
        &&calc32_9,
        &&assignCalc32_0,
        &&assignCalc32_1,
        &&assignCalc32_2,
        &&assignCalc32_3,
        &&assignCalc32_4,
        &&assignCalc32_5,
        &&assignCalc32_6,
        &&assignCalc32_7,
        &&assignCalc32_8,
        &&assignCalc32_9,
    };
    static_assert(sizeof Handlers / sizeof Handlers[0] == FxOpCount);
    const TPSFastCode* fast = nullptr;
    // The procedure whose code `fast` is, and its offset table: calls and
    // returns within one procedure (recursion) find them in registers.
    const TPSInternalProcRec* running = nullptr;
    const int32_t* indexOf = nullptr;
    size_t indexCount = 0;
    const TFastInstr* code = nullptr;
    // Its loops in the register form, by head instruction.
    const TPSRegisterCode* loops = nullptr;
    const int32_t* loopHeads = nullptr;
    size_t loopCount = 0;
    const TFastInstr* in;
    int32_t pc, next;
    // Read afresh every time: a signal handler may stop or pause the run.
    const volatile TPSStatus* const status = &X.FStatus;
    Sync();
    // The current procedure at the current position; calls and returns
    // expand it in place, so each ends in a dispatch jump of its own.
#define KORVA_ENTER                                                                               \
  do {                                                                                            \
    if (Stopped()) return true;                                                                   \
    if (X.FCurrProc != running) {                                                                 \
      if (!X.FCurrProc || !X.FCurrProc->FFast) return false;                                      \
      running = X.FCurrProc;                                                                      \
      fast = running->FFast.get();                                                                \
      code = fast->Code.data();                                                                   \
      indexOf = fast->IndexOf.data();                                                             \
      indexCount = fast->IndexOf.size();                                                          \
      loops = running->FLoops.get();                                                              \
      loopHeads = loops ? loops->Entries.data() : nullptr;                                        \
      loopCount = loops ? loops->Entries.size() : 0;                                              \
    }                                                                                             \
    if (X.FCurrentPosition >= indexCount || (pc = indexOf[X.FCurrentPosition]) < 0) return false; \
  } while (false)
  enter:
    KORVA_ENTER;
#define KORVA_DISPATCH(target) \
  do {                         \
    next = (target);           \
    if (next < 0) goto leave;  \
    pc = next;                 \
    in = &code[pc];            \
    goto* Handlers[in->Op];    \
  } while (false)
    // Every loop passes a jump back (the translation follows no backward
    // jump on its own) and every call passes `enter`: there a Stop or Pause,
    // from a signal handler or a host callback, is seen.
#define KORVA_BRANCH(target)                                           \
  do {                                                                 \
    next = (target);                                                   \
    if (next <= pc && next >= 0) {                                     \
      if (*status != isRunning) goto stopped;                          \
      if (size_t(next) < loopCount && loopHeads[next] >= 0) goto loop; \
    }                                                                  \
    KORVA_DISPATCH(next);                                              \
  } while (false)
    in = &code[pc];
    goto* Handlers[in->Op];
  nop:
    KORVA_DISPATCH(static_cast<int32_t>(in->Next));
  assign:
    KORVA_DISPATCH(Assign(*in, pc));
  calc:
    KORVA_DISPATCH(Calc<-1>(*in));
  compare:
    KORVA_DISPATCH(Compare<-1>(*in));
  jump:
    KORVA_BRANCH(static_cast<int32_t>(in->Target));
  jumpIf : {
    uint8_t* p;
    const TPSTypeRec* t;
    uint32_t v;
    if (!Resolve(in->A, p, t) || !Truth(p, t, v)) KORVA_DISPATCH(ToGeneral);
    KORVA_BRANCH((v != 0) == (in->Sub != 0) ? static_cast<int32_t>(in->Target) : static_cast<int32_t>(in->Next));
  }
  setFlag : {
    uint8_t* p;
    const TPSTypeRec* t;
    uint32_t v;
    if (!Resolve(in->A, p, t) || !Truth(p, t, v)) KORVA_DISPATCH(ToGeneral);
    X.FJumpFlag = (v != 0) == (in->Sub != 0);
    KORVA_DISPATCH(static_cast<int32_t>(in->Next));
  }
  jumpIfFlag:
    KORVA_BRANCH(X.FJumpFlag ? static_cast<int32_t>(in->Target) : static_cast<int32_t>(in->Next));
  pushType:
    KORVA_DISPATCH(PushEntry(in->Type) ? static_cast<int32_t>(in->Next) : ToGeneral);
  push:
    KORVA_DISPATCH(Push(*in, pc));
  pushVarRef:
    KORVA_DISPATCH(PushVarRef(*in, pc));
  pop:
    KORVA_DISPATCH(Pop(*in, pc));
  popRun:
    KORVA_DISPATCH(PopRun(*in, pc));
  setPointer:
    KORVA_DISPATCH(SetPointer(*in));
  inlineCall:
    KORVA_DISPATCH(InlineCall(*in, pc));
  chain32:
    KORVA_DISPATCH(Chain32(*in));
  incDec:
    KORVA_DISPATCH(IncDec(*in, pc));
  call:
    next = Call(*in);
    if (next != Switched) KORVA_DISPATCH(next);
    KORVA_ENTER;
    KORVA_DISPATCH(pc);
  ret:
    next = Return();
    if (next != Switched) KORVA_DISPATCH(next);
    KORVA_ENTER;
    KORVA_DISPATCH(pc);
#define KORVA_FIXED(name, call, k) name##k : KORVA_DISPATCH(call<k>(*in));
#define KORVA_FIXED_BRANCH(name, call, k) name##k : KORVA_BRANCH(call<k>(*in));
    KORVA_FIXED(calc, Calc, 0)
    KORVA_FIXED(calc, Calc, 1)
    KORVA_FIXED(calc, Calc, 2)
    KORVA_FIXED(calc, Calc, 3)
    KORVA_FIXED(calc, Calc, 4)
    KORVA_FIXED(calc, Calc, 5)
    KORVA_FIXED(calc, Calc, 6)
    KORVA_FIXED(calc, Calc, 7)
    KORVA_FIXED(calc, Calc, 8)
    KORVA_FIXED(calc, Calc, 9)
    KORVA_FIXED(compare, Compare, 0)
    KORVA_FIXED(compare, Compare, 1)
    KORVA_FIXED(compare, Compare, 2)
    KORVA_FIXED(compare, Compare, 3)
    KORVA_FIXED(compare, Compare, 4)
    KORVA_FIXED(compare, Compare, 5)
    KORVA_FIXED_BRANCH(compareJump, CompareJump, 0)
    KORVA_FIXED_BRANCH(compareJump, CompareJump, 1)
    KORVA_FIXED_BRANCH(compareJump, CompareJump, 2)
    KORVA_FIXED_BRANCH(compareJump, CompareJump, 3)
    KORVA_FIXED_BRANCH(compareJump, CompareJump, 4)
    KORVA_FIXED_BRANCH(compareJump, CompareJump, 5)
    KORVA_FIXED(calc32_, Calc32, 0)
    KORVA_FIXED(calc32_, Calc32, 1)
    KORVA_FIXED(calc32_, Calc32, 2)
    KORVA_FIXED(calc32_, Calc32, 3)
    KORVA_FIXED(calc32_, Calc32, 4)
    KORVA_FIXED(calc32_, Calc32, 5)
    KORVA_FIXED(calc32_, Calc32, 6)
    KORVA_FIXED(calc32_, Calc32, 7)
    KORVA_FIXED(calc32_, Calc32, 8)
    KORVA_FIXED(calc32_, Calc32, 9)
    KORVA_FIXED(assignCalc32_, AssignCalc32, 0)
    KORVA_FIXED(assignCalc32_, AssignCalc32, 1)
    KORVA_FIXED(assignCalc32_, AssignCalc32, 2)
    KORVA_FIXED(assignCalc32_, AssignCalc32, 3)
    KORVA_FIXED(assignCalc32_, AssignCalc32, 4)
    KORVA_FIXED(assignCalc32_, AssignCalc32, 5)
    KORVA_FIXED(assignCalc32_, AssignCalc32, 6)
    KORVA_FIXED(assignCalc32_, AssignCalc32, 7)
    KORVA_FIXED(assignCalc32_, AssignCalc32, 8)
    KORVA_FIXED(assignCalc32_, AssignCalc32, 9)
#undef KORVA_FIXED
#undef KORVA_FIXED_BRANCH
  assign32:
    std::memcpy(in->A.Fixed, in->B.Fixed, 4);
    KORVA_DISPATCH(static_cast<int32_t>(in->Next));
  callHost:
    X.FCurrentPosition = in->End;
    KORVA_DISPATCH(X.CallExternal(static_cast<TPSExternalProcRec*>(X.FProcs[in->Target].get())) && !Disturbed()
                       ? static_cast<int32_t>(in->Next)
                       : Changed);
  flagJump : {
    uint8_t* p;
    const TPSTypeRec* t;
    uint32_t v;
    if (!Resolve(in->A, p, t) || !Truth(p, t, v)) KORVA_DISPATCH(ToGeneral);
    if (in->Step) {
      // The pop as FxPop does it quickly, or the general loop does all.
      if (V.Count == 0) KORVA_DISPATCH(ToGeneral);
      const uint32_t off = V.Entries[V.Count - 1];
      const auto* top = Load<const TPSTypeRec*>(V.Data + off);
      if (!top || top->FManaged || top->FBaseType == btReturnAddress ||
          X.FStack.FCapacity - off > TPSStack::ShrinkSlack)
        KORVA_DISPATCH(ToGeneral);
      X.FJumpFlag = (v != 0) == (in->Sub != 0);
      X.FStack.FEntries.pop_back();
      X.FStack.FLength = off;
      --V.Count;
    } else {
      X.FJumpFlag = (v != 0) == (in->Sub != 0);
    }
    KORVA_BRANCH(X.FJumpFlag ? static_cast<int32_t>(in->JumpTo) : static_cast<int32_t>(in->Next));
  }
  pushCalc:
    KORVA_DISPATCH(PushCalc(*in, pc));
  window:
    // The temporary lives in the code's own slot while the window runs,
    // when it is the entry the push would make and the stack has room for
    // it should the window need the real entry after all.
    if (V.Count == uint64_t(V.Base + in->Frame) && X.FStack.FLength + 16u <= X.FStack.FCapacity &&
        X.FStack.FLength + 16u <= X.FStack.FMaxLength) {
      Store<uint64_t>(fast->Temp, 0);
      KORVA_DISPATCH(static_cast<int32_t>(in->Target));
    }
    KORVA_DISPATCH(PushEntry(in->Type) ? static_cast<int32_t>(in->Next) : ToGeneral);
  general:
    KORVA_DISPATCH(ToGeneral);
  loop : {
    // A loop the register form runs whole: the general loops go on where it ends.
    uint32_t resume;
    if (!RunLoop(X, *loops, static_cast<uint32_t>(next), resume)) KORVA_DISPATCH(next);
    X.FCurrentPosition = code[resume].Pos;
    Sync();
    goto enter;
  }
#undef KORVA_DISPATCH
#undef KORVA_ENTER
  stopped:
    X.FCurrentPosition = code[next].Pos;
    return true;
  leave:
    if (next == ToGeneral && in->Window) {
      // Back to the instructions of the window with the real entry (the
      // window started only with room for it).
      uint8_t* v = PushEntry(in->Type);
      std::memcpy(v, fast->Temp, in->Type->FRealSize);
      pc = static_cast<int32_t>(in->Target);
      in = &code[pc];
      goto* Handlers[in->Op];
    }
    if (next == ToGeneral) {
      X.FCurrentPosition = in->Pos;
      return false;
    }
    if (next == Changed) {
      if (X.FTempVars.Count() > TempBase) X.FTempVars.PopTo(TempBase);
      return true;
    }
    goto enter;
  }
};

bool TPSExec::RunFast(int tempBase) { return TPSFastRunner{*this, tempBase}.Run(); }

}  // namespace ps
