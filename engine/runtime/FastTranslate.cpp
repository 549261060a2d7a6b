// Translation of a procedure's code into its pre-decoded form, once at load.
// Nothing here reports an error: an instruction whose operands would fail
// to decode stays with the general loop (which reports it at run time), and
// translation stops at the first instruction whose length cannot be known.
#include <algorithm>
#include <limits>

#include "engine/runtime/BuiltinRoutines.h"
#include "engine/runtime/FastCode.h"

namespace ps {

struct TPSTranslator {
  TPSExec& X;
  TPSInternalProcRec& Proc;
  const uint8_t* Data;
  uint32_t Length;
  uint32_t Pos = 0;

  TPSTranslator(TPSExec& x, TPSInternalProcRec& proc)
      : X(x), Proc(proc), Data(proc.FData.data()), Length(proc.FLength) {}

  bool Read(void* out, uint32_t n) {
    if (Length - Pos < n) return false;
    std::memcpy(out, Data + Pos, n);
    Pos += n;
    return true;
  }
  bool U32(uint32_t& v) { return Read(&v, 4); }
  bool Byte(uint8_t& v) { return Read(&v, 1); }

  // A variable reference; false when it names no global (the general loop
  // reports that) or a frame offset beyond any stack.
  bool Var(uint32_t ref, TFastOperandKind& kind, int32_t& frame, uint8_t*& p, const TPSTypeRec*& t) {
    if (ref < PSStackReferenceStart) {
      if (ref >= X.FGlobalRefCount) return false;
      kind = FoGlobal;
      p = X.FGlobalRefs[ref].P;
      t = X.FGlobalRefs[ref].T;
      return true;
    }
    const int64_t f = int64_t(ref) - PSStackFrameBase;
    if (f < std::numeric_limits<int32_t>::min() / 2 || f > std::numeric_limits<int32_t>::max() / 2) return false;
    kind = FoStack;
    frame = static_cast<int32_t>(f);
    return true;
  }

  // A constant materialised as ReadConst would read it.
  bool Const(TFastOperand& o, bool& usable) {
    uint32_t typeNo;
    if (!U32(typeNo)) return false;
    if (typeNo >= X.FTypes.size()) return false;
    const TPSTypeRec* t = X.FTypes[typeNo].get();
    o.Kind = FoConst;
    o.T = t;
    switch (t->FBaseType) {
      case btU8:
      case btS8:
      case btChar: return Read(o.Value, 1);
      case btU16:
      case btS16:
      case btWideChar: return Read(o.Value, 2);
      case btU32:
      case btS32:
      case btSingle: return Read(o.Value, 4);
      case btDouble:
      case btS64: return Read(o.Value, 8);
      case btExtended: return Read(o.Value, ExtendedSize);
      case btSet: {
        uint32_t n = static_cast<const TPSTypeRec_Set*>(t)->FByteSize;
        usable = false;
        if (Length - Pos < n) return false;
        Pos += n;
        return true;
      }
      case btProcPtr: {
        uint32_t procNo;
        usable = false;
        return U32(procNo);
      }
      case btString:
      case btPChar:
      case btWideString:
      case btUnicodeString: {
        const uint32_t key = Pos;
        uint32_t length;
        if (!U32(length)) return false;
        const bool wide = t->FBaseType == btWideString || t->FBaseType == btUnicodeString;
        const uint64_t bytes = wide ? uint64_t(length) * 2 : length;
        if (Length - Pos < bytes) return false;
        // The same cache the general loop fills, so both share one block.
        TPSBlockHeader* block = ConstantStringBlock(Proc, key, Data + Pos, length, wide);
        Pos += static_cast<uint32_t>(bytes);
        Store(o.Value, block);
        if (!wide && key < 0x80000000u) {
          o.Wide = ConstantWideTwin(Proc, key, block);
          o.HasWide = true;
        }
        return true;
      }
      default: return false;
    }
  }

  // Decodes one operand. False when its length is unknown; `usable` turns
  // false when the operand is left to the general loop.
  bool Operand(TFastOperand& o, bool& usable) {
    uint8_t kind;
    uint32_t ref, second;
    if (!Byte(kind)) return false;
    switch (kind) {
      case OperandVar:
        if (!U32(ref)) return false;
        if (!Var(ref, o.Kind, o.Frame, o.P, o.T)) usable = false;
        return true;
      case OperandConst: return Const(o, usable);
      case OperandElemConst:
      case OperandElemVar: {
        if (!U32(ref) || !U32(second)) return false;
        o.Kind = FoElem;
        if (!Var(ref, o.BaseKind, o.Frame, o.P, o.T)) usable = false;
        if (kind == OperandElemConst) {
          o.IndexKind = FoConst;
          o.IndexConst = second;
        } else if (!Var(second, o.IndexKind, o.IndexFrame, o.IndexP, o.IndexT)) {
          usable = false;
        }
        return true;
      }
      default: return false;
    }
  }

  bool Offset(int32_t& v) { return Read(&v, 4); }

  // Decodes the instruction at Pos; false when its length is unknown.
  bool Instruction(TFastInstr& in, int64_t& jumpTo) {
    in.Pos = Pos;
    jumpTo = -1;
    uint8_t opcode;
    if (!Byte(opcode)) return false;
    bool usable = true;
    int32_t offset;
    uint32_t word;
    uint8_t byte;
    TFastOp op = FxGeneral;
    switch (opcode) {
      case OpAssign:
        if (!Operand(in.A, usable) || !Operand(in.B, usable)) return false;
        op = in.A.Kind == FoConst ? FxGeneral : FxAssign;
        break;
      case OpCalculate:
        if (!Byte(in.Sub) || !Operand(in.A, usable) || !Operand(in.B, usable)) return false;
        op = in.A.Kind == FoConst ? FxGeneral : FxCalc;
        break;
      case OpCompare:
        if (!Byte(in.Sub) || !Operand(in.A, usable) || !Operand(in.B, usable) || !Operand(in.C, usable)) return false;
        op = in.A.Kind == FoConst ? FxGeneral : FxCompare;
        break;
      case OpPush:
        if (!Operand(in.A, usable)) return false;
        op = FxPush;
        break;
      case OpPushVarRef:
        if (!Operand(in.A, usable)) return false;
        op = in.A.Kind == FoConst ? FxGeneral : FxPushVarRef;
        break;
      case OpPop: op = FxPop; break;
      case OpCall:
        if (!U32(word)) return false;
        in.Target = word;
        op = word >= X.FProcs.size() ? FxGeneral : X.FProcs[word]->IsExternal() ? FxCallHost : FxCall;
        break;
      case OpJump:
        if (!Offset(offset)) return false;
        jumpTo = int64_t(Pos) + offset;
        op = FxJump;
        break;
      case OpJumpIfTrue:
      case OpJumpIfFalse:
        if (!Offset(offset) || !Operand(in.A, usable)) return false;
        jumpTo = int64_t(Pos) + offset;
        in.Sub = opcode == OpJumpIfTrue;
        op = FxJumpIf;
        break;
      case OpReturn: op = FxReturn; break;
      case OpPushType:
        if (!U32(word)) return false;
        if (word < X.FTypes.size()) {
          in.Type = X.FTypes[word].get();
          op = FxPushType;
        }
        break;
      case OpCallVar:
      case OpBoolNot:
      case OpNegate:
      case OpBitNot:
        if (!Operand(in.A, usable)) return false;
        break;
      case OpSetPointer:
      case OpSetPointerCopy:
        if (!Operand(in.A, usable) || !Operand(in.B, usable)) return false;
        if (opcode == OpSetPointer && (in.A.Kind == FoGlobal || in.A.Kind == FoStack) &&
            (in.B.Kind == FoGlobal || in.B.Kind == FoStack))
          op = FxSetPointer;
        break;
      case OpSetFlag:
        if (!Operand(in.A, usable) || !Byte(byte)) return false;
        in.Sub = byte == 0;
        op = FxSetFlag;
        break;
      case OpJumpIfFlag:
        if (!Offset(offset)) return false;
        jumpTo = int64_t(Pos) + offset;
        op = FxJumpIfFlag;
        break;
      case OpTryBegin:
        if (Length - Pos < 16) return false;
        Pos += 16;
        break;
      case OpTryEnd:
        if (!Byte(byte)) return false;
        break;
      case OpIncrement:
      case OpDecrement:
        if (!Operand(in.A, usable)) return false;
        in.Sub = opcode == OpIncrement;
        op = in.A.Kind == FoConst ? FxGeneral : FxIncDec;
        break;
      case OpPopJump:
      case OpPop2Jump:
        if (!Offset(offset)) return false;
        break;
      case OpNop: op = FxNop; break;
      default: return false;
    }
    in.End = Pos;
    in.Op = usable ? op : FxGeneral;
    return true;
  }

  static bool Same(const TFastOperand& a, const TFastOperand& b) {
    return a.Kind == b.Kind && ((a.Kind == FoStack && a.Frame == b.Frame) || (a.Kind == FoGlobal && a.P == b.P));
  }

  // Makes `c`, a comparison into a frame temporary, also do the counter step
  // and the conditional jump on the temporary that follow from `j` on.
  static void FuseCompareJump(std::vector<TFastInstr>& code, TFastInstr& c, size_t j) {
    const size_t n = code.size();
    if (c.Op != FxCompare || c.A.Kind != FoStack || c.Sub >= CmpIn || j >= n) return;
    bool step = false;
    if (code[j].Op == FxIncDec && code[j].Sub == 1 && (c.B.Kind == FoStack || c.B.Kind == FoGlobal) &&
        Same(code[j].A, c.B)) {
      step = true;
      j = code[j].Next;
    }
    if (j >= n || code[j].Op != FxJumpIf || !Same(code[j].A, c.A)) return;
    c.Op = FxCompareJump;
    c.Step = step;
    c.Jump = code[j].Sub;
    c.JumpTo = code[j].Target;
    c.Next = code[j].Next;
  }

  // The call sequences of Length(s), StrToInt(s), s[i] (StrGet), Pos and
  // Copy, instruction by instruction as the compiler makes them:
  //   Length, StrToInt: PushType r; Push s; PushVarRef r; Call; Pop; Pop
  //   StrGet: PushType r; Push i; PushType pointer; SetPointer to s; PushVarRef r; Call; Pop; Pop; Pop
  // (no jump landing inside) become one instruction at the first.
  void InlineCalls(std::vector<TFastInstr>& code) {
    const size_t n = code.size();
    std::vector<bool> landed(n);
    for (const TFastInstr& in : code)
      if ((in.Op == FxJump || in.Op == FxJumpIf || in.Op == FxJumpIfFlag) && in.Target < n) landed[in.Target] = true;
    auto plain = [](const TFastOperand& o) { return o.Kind == FoGlobal || o.Kind == FoStack || o.Kind == FoConst; };
    for (size_t p = 0; p + 6 < n; ++p) {
      if (code[p].Op != FxPushType) continue;
      const bool strGet = code[p + 2].Op == FxPushType;
      const size_t call = p + (strGet ? 5 : 3), pops = strGet ? 3 : 2;
      if (call + pops >= n || code[call].Op != FxCallHost || code[call].Target >= X.FProcs.size()) continue;
      const auto* routine = static_cast<const TPSExternalProcRec*>(X.FProcs[code[call].Target].get());
      const TInlineRoutine kind = InlineRoutineOf(routine->FProcPtr);
      if ((kind != TInlineRoutine::Length && kind != TInlineRoutine::StrGet && kind != TInlineRoutine::StrToInt) ||
          (kind == TInlineRoutine::StrGet) != strGet)
        continue;
      bool ok = true;
      for (size_t k = p + 1; k <= call + pops && ok; ++k) ok = !landed[k] && (k <= call || code[k].Op == FxPop);
      const TFastInstr& ref = code[call - 1];
      ok = ok && ref.Op == FxPushVarRef && ref.A.Kind == FoStack;
      if (strGet)
        ok = ok && code[p + 1].Op == FxPush && plain(code[p + 1].A) && code[p + 2].Type &&
             code[p + 2].Type->FBaseType == btPointer && code[p + 3].Op == FxSetPointer &&
             code[p + 3].A.Kind == FoStack && code[p + 3].A.Frame == ref.A.Frame + 2 && plain(code[p + 3].B);
      else
        ok = ok && code[p + 1].Op == FxPush && plain(code[p + 1].A);
      if (!ok) continue;
      TFastInstr& in = code[p];
      in.Op = FxInlineCall;
      in.Sub = static_cast<uint8_t>(kind);
      in.Frame = ref.A.Frame;
      in.B = strGet ? code[p + 3].B : code[p + 1].A;
      in.C = strGet ? code[p + 1].A : TFastOperand{};
      in.Next = code[call + pops].Next;
      // Its result compared with a constant and dropped at once
      // (`Length(s) > 0`, `s[i] = ','`): the comparison is made in place.
      const uint32_t c = in.Next;
      if (c + 1 >= n || landed[c] || code[c].Op != FxCompare || code[c].Sub >= CmpIn || code[c].B.Kind != FoStack ||
          code[c].B.Frame != in.Frame || code[c].A.Kind != FoStack || code[c].A.Frame >= in.Frame ||
          code[c].C.Kind != FoConst || !code[c].C.T)
        continue;
      const TPSBaseType cb = code[c].C.T->FBaseType;
      const uint32_t pop = code[c].Next;
      if (pop >= n || landed[pop] || code[pop].Op != FxPop ||
          (cb != btS32 && cb != btU32 && cb != btChar && cb != btWideChar))
        continue;
      in.Step = 1;
      in.Jump = code[c].Sub;
      in.A = code[c].A;
      in.JumpTo = cb == btChar       ? code[c].C.Value[0]
                  : cb == btWideChar ? Load<uint16_t>(code[c].C.Value)
                                     : Load<uint32_t>(code[c].C.Value);
      in.ChainLength = cb;
      in.Target = c;
      in.Next = code[pop].Next;
      // The comparison into a Boolean pushed just before it that is then
      // and-ed or or-ed into another and dropped (each term after the first
      // of `(a > 0) and (b = 'x')`): combined into that one at once.
      const uint32_t calc = in.Next;
      if (in.A.Kind != FoStack || in.A.Frame != in.Frame - 1 || p == 0 || code[p - 1].Op != FxPushType ||
          code[p - 1].Type->FBaseType != btU8 || calc + 1 >= n || landed[calc] || code[calc].Op != FxCalc ||
          (code[calc].Sub != CalcAnd && code[calc].Sub != CalcOr) || code[calc].B.Kind != FoStack ||
          code[calc].B.Frame != in.A.Frame || code[calc].A.Kind != FoStack || code[calc].A.Frame >= in.A.Frame)
        continue;
      const uint32_t drop = code[calc].Next;
      if (drop >= n || landed[drop] || code[drop].Op != FxPop) continue;
      in.Combine = code[calc].Sub;
      in.A = code[calc].A;
      in.Next = code[drop].Next;
    }
    // Pos, Copy and IntToStr, their arguments pushed: PushVarRef r; Call; a
    // pop for the reference and each argument.
    for (size_t p = 0; p + 1 < n; ++p) {
      if (code[p].Op != FxPushVarRef || (code[p].A.Kind != FoGlobal && code[p].A.Kind != FoStack) ||
          code[p + 1].Op != FxCallHost || code[p + 1].Target >= X.FProcs.size())
        continue;
      const auto* routine = static_cast<const TPSExternalProcRec*>(X.FProcs[code[p + 1].Target].get());
      const TInlineRoutine kind = InlineRoutineOf(routine->FProcPtr);
      if (kind != TInlineRoutine::Pos && kind != TInlineRoutine::Copy && kind != TInlineRoutine::IntToStr) continue;
      const size_t args = kind == TInlineRoutine::IntToStr ? 1
                          : kind == TInlineRoutine::Pos    ? 2
                                                           : 3,
                   last = p + 2 + args;
      bool ok = last < n;
      for (size_t k = p + 1; k <= last && ok; ++k) ok = !landed[k] && (k == p + 1 || code[k].Op == FxPop);
      if (!ok) continue;
      code[p].Op = FxInlineCall;
      code[p].Sub = static_cast<uint8_t>(kind);
      code[p].Frame = static_cast<int32_t>(args);
      code[p].Next = code[last].Next;
      // IntToStr's result added to a string and dropped at once: Target is
      // the addition, B its destination, JumpTo what follows the pop.
      const uint32_t c = code[p].Next;
      const TFastOperand& r = code[p].A;
      if (kind != TInlineRoutine::IntToStr || r.Kind != FoStack || c + 1 >= n || landed[c] || code[c].Op != FxCalc ||
          code[c].Sub != CalcAdd || code[c].B.Kind != FoStack || code[c].B.Frame != r.Frame ||
          !(code[c].A.Kind == FoGlobal || (code[c].A.Kind == FoStack && code[c].A.Frame < r.Frame)))
        continue;
      const uint32_t pop = code[c].Next;
      if (pop >= n || landed[pop] || code[pop].Op != FxPop) continue;
      code[p].Step = 1;
      code[p].B = code[c].A;
      code[p].Target = c;
      code[p].JumpTo = code[pop].Next;
    }
  }

  // A temporary pushed, used by plain instructions only and popped runs in
  // the code's slot: copies of those instructions, appended to the code,
  // refer to the slot instead of the frame entry.
  static void Windows(TPSFastCode& fast) {
    auto& code = fast.Code;
    const size_t n = code.size();
    for (size_t p = 0; p < n; ++p) {
      if (code[p].Op != FxPushType) continue;
      const TPSTypeRec* type = code[p].Type;
      if (type->FManaged || type->FRealSize - 1u >= 8u) continue;
      size_t q = p + 1;
      int32_t k = 0;
      bool plain = true;
      auto note = [&](const TFastOperand& o) {
        if (o.Kind == FoStack) k = std::max(k, o.Frame);
        if (o.Kind == FoElem && o.BaseKind == FoStack) k = std::max(k, o.Frame);
        if (o.Kind == FoElem && o.IndexKind == FoStack) k = std::max(k, o.IndexFrame);
      };
      for (; q < n && plain; ++q) {
        const TFastOp op = code[q].Op;
        if (op == FxPop) break;
        plain = op == FxAssign || op == FxCalc || op == FxCompare || op == FxIncDec || op == FxSetFlag || op == FxNop;
        note(code[q].A);
        note(code[q].B);
        note(code[q].C);
      }
      if (!plain || q >= n || q == p + 1 || k < 1) continue;
      // The copies: every reference to entry k becomes the slot.
      auto toSlot = [&](TFastOperand& o) {
        if (o.Kind == FoStack && o.Frame == k) {
          o.Kind = FoGlobal;
          o.P = o.Fixed = fast.Temp;
          o.T = type;
        }
        if (o.Kind == FoElem && o.IndexKind == FoStack && o.IndexFrame == k) {
          o.IndexKind = FoGlobal;
          o.IndexP = fast.Temp;
          o.IndexT = type;
        }
        return !(o.Kind == FoElem && o.BaseKind == FoStack && o.Frame == k);
      };
      const size_t first = code.size();
      bool ok = true;
      for (size_t i = p + 1; i < q && ok; ++i) {
        if (code[i].Op == FxNop) continue;
        TFastInstr copy = code[i];
        ok = toSlot(copy.A) && toSlot(copy.B) && toSlot(copy.C);
        copy.Window = true;
        copy.Target = static_cast<uint32_t>(i);
        copy.Type = code[p].Type;
        copy.Next = static_cast<uint32_t>(code.size() + 1);
        code.push_back(copy);
      }
      if (!ok || code.size() == first) {
        code.resize(first);
        continue;
      }
      code.back().Next = code[q].Next;
      // A loop bound worked out in the window is compared, stepped and
      // jumped on as the window ends.
      FuseCompareJump(code, code.back(), code[q].Next);
      code[p].Op = FxWindow;
      code[p].Frame = k;
      code[p].Target = static_cast<uint32_t>(first);
    }
  }

  // The translated form of a procedure stays below this size (and below a
  // fixed multiple of its code): the rest of a larger one, which only a
  // hostile module has, runs through the general loop.
  static constexpr size_t MaxTranslatedBytes = size_t(64) << 20;
  static constexpr size_t MaxBytesPerCodeByte = 64;

  // Decodes the code: each instruction with its jump target resolved to an
  // instruction number, ending in an instruction that only the general loop
  // runs (reaching it is an error).
  std::unique_ptr<TPSFastCode> Decode() {
    auto fast = std::make_unique<TPSFastCode>();
    const size_t budget = std::min(MaxTranslatedBytes, size_t(Length) * MaxBytesPerCodeByte + (size_t(1) << 20));
    std::vector<int64_t> targets;
    while (Pos < Length && (fast->Code.size() + 1) * sizeof(TFastInstr) * 2 <= budget) {
      TFastInstr in;
      int64_t jumpTo;
      const uint32_t at = Pos;
      if (!Instruction(in, jumpTo)) {
        Pos = at;
        break;
      }
      fast->IndexOf.resize(size_t(Pos), -1);
      fast->IndexOf[in.Pos] = static_cast<int32_t>(fast->Code.size());
      fast->Code.push_back(in);
      targets.push_back(jumpTo);
    }
    // Offsets from here on are not translated.
    fast->IndexOf.resize(size_t(Pos) + 1, -1);
    // A jump to anything but the start of a translated instruction is left
    // to the general loop (which reports a target outside the code).
    for (size_t i = 0; i < fast->Code.size(); ++i) {
      TFastInstr& in = fast->Code[i];
      if (in.Op != FxJump && in.Op != FxJumpIf && in.Op != FxJumpIfFlag) continue;
      const int64_t t = targets[i];
      if (t < 0 || t >= int64_t(Pos) || fast->IndexOf[t] < 0)
        in.Op = FxGeneral;
      else
        in.Target = static_cast<uint32_t>(fast->IndexOf[t]);
    }
    // The end of the code is reached only by the general loop (an error).
    fast->Code.push_back(TFastInstr{});
    fast->Code.back().Pos = Pos;
    fast->Code.back().End = Pos;
    return fast;
  }

  std::unique_ptr<TPSFastCode> Run() {
    auto fast = Decode();
    auto& code = fast->Code;
    const size_t n = code.size();
    // Where control really goes from an instruction number: past
    // no-operations and through plain forward jumps (backward ones stay, as
    // the fast loop looks for a Stop on its jumps back).
    // Worked out from the end, as both lead to later instructions only.
    std::vector<uint32_t> land(n);
    land[n - 1] = static_cast<uint32_t>(n - 1);
    for (size_t i = n - 1; i-- > 0;) {
      if (code[i].Op == FxNop)
        land[i] = land[i + 1];
      else if (code[i].Op == FxJump && code[i].Target > i)
        land[i] = land[code[i].Target];
      else
        land[i] = static_cast<uint32_t>(i);
    }
    for (size_t i = 0; i + 1 < n; ++i) {
      code[i].Next = land[i + 1];
      if (code[i].Op == FxJump || code[i].Op == FxJumpIf || code[i].Op == FxJumpIfFlag)
        code[i].Target = land[code[i].Target];
    }
    InlineCalls(code);
    // A comparison into a temporary that a conditional jump then tests, with
    // the step of a counting loop between them or not, runs as one.
    for (size_t i = 0; i + 1 < n; ++i) FuseCompareJump(code, code[i], i + 1);
    Windows(*fast);
    // An Integer argument worked out in place (`n - 1`): pushed, assigned and
    // calculated as one.
    for (size_t p = 0; p + 2 < n; ++p) {
      TFastInstr& push = code[p];
      const TFastInstr &set = code[p + 1], &calc = code[p + 2];
      if (push.Op != FxPushType || push.Type->FBaseType != btS32 || set.Op != FxAssign || calc.Op != FxCalc ||
          set.A.Kind != FoStack || !Same(set.A, calc.A) || calc.Sub > CalcMul)
        continue;
      const int32_t k = set.A.Frame;
      auto refers = [k](const TFastOperand& o) {
        return (o.Kind == FoStack && o.Frame >= k) || (o.Kind == FoElem && o.BaseKind == FoStack && o.Frame >= k) ||
               (o.Kind == FoElem && o.IndexKind == FoStack && o.IndexFrame >= k);
      };
      if (refers(set.B) || refers(calc.B)) continue;
      push.Op = FxPushCalc;
      push.Frame = k;
      push.Sub = calc.Sub;
      push.B = set.B;
      push.C = calc.B;
      push.Next = calc.Next;
    }
    // Setting the jump flag, dropping the tested temporary and jumping on the
    // flag (the shape of every if statement) run as one; so does the last
    // instruction of a window when it sets the flag for the jump after it.
    for (size_t i = 0; i < code.size(); ++i) {
      TFastInstr& f = code[i];
      if (f.Op != FxSetFlag) continue;
      if (!f.Window && i + 2 < n && code[i + 1].Op == FxPop && code[i + 2].Op == FxJumpIfFlag) {
        f.Op = FxFlagJump;
        f.Step = 1;
        f.JumpTo = code[i + 2].Target;
        f.Next = code[i + 2].Next;
      } else if (f.Window && f.Next < n && code[f.Next].Op == FxJumpIfFlag) {
        const TFastInstr& j = code[f.Next];
        f.Op = FxFlagJump;
        f.Step = 0;
        f.JumpTo = j.Target;
        f.Next = j.Next;
      }
    }
    // Pops one after another (the arguments after a call, the temporaries of
    // an expression) go together; each keeps the count from itself on, for
    // jumps into the run.
    for (size_t i = n - 1; i-- > 0;) {
      if (code[i].Op != FxPop || (code[i + 1].Op != FxPop && code[i + 1].Op != FxPopRun) || code[i].Next != i + 1)
        continue;
      code[i].Op = FxPopRun;
      code[i].Frame = code[i + 1].Op == FxPopRun ? code[i + 1].Frame + 1 : 2;
      code[i].Next = code[i + 1].Next;
    }
    for (TFastInstr& in : fast->Code) {
      if (in.Op == FxCalc && in.Sub <= CalcXor) in.Op = static_cast<TFastOp>(FxCalcOp + in.Sub);
      if (in.Op == FxCompare && in.Sub < CmpIn) in.Op = static_cast<TFastOp>(FxCompareOp + in.Sub);
      if (in.Op == FxCompareJump) in.Op = static_cast<TFastOp>(FxCompareJumpOp + in.Sub);
    }
    // Constants and globals that are not pointers resolve to fixed addresses
    // (the list does not move any more).
    for (TFastInstr& in : fast->Code)
      for (TFastOperand* o : {&in.A, &in.B, &in.C}) {
        if (o->Kind == FoConst && o->T) o->Fixed = o->Value;
        if (o->Kind == FoGlobal && o->T && o->T->FBaseType != btPointer) o->Fixed = o->P;
        // An element of a global array by a constant or an integer variable
        // of its own: the array's element type is known.
        if (o->Kind == FoElem && o->BaseKind == FoGlobal && o->T && o->T->FBaseType == btArray) {
          const TPSTypeRec* elem = static_cast<const TPSTypeRec_Array*>(o->T)->FArrayType;
          const bool intIndex = o->IndexKind == FoGlobal && o->IndexT &&
                                (o->IndexT->FBaseType == btS32 || o->IndexT->FBaseType == btU32);
          if (elem && elem->FBaseType != btPointer && (o->IndexKind == FoConst || intIndex)) {
            o->Kind = FoElemFixed;
            o->IndexFixed = o->IndexKind == FoConst ? nullptr : o->IndexP;
            o->ElemT = elem;
            o->ElemSize = elem->FRealSize;
          }
        }
      }
    // Kinds known at load choose the handler.
    auto int32Kind = [](const TFastOperand& o) {
      return o.Fixed && (o.T->FBaseType == btS32 || o.T->FBaseType == btU32);
    };
    for (TFastInstr& in : fast->Code) {
      if (in.Op == FxAssign && int32Kind(in.A) && int32Kind(in.B) && in.A.T->FBaseType == in.B.T->FBaseType)
        in.Op = FxAssign32;
      if (in.Op >= FxCalcOp && in.Op <= int(FxCalcOp) + int(CalcXor) && int32Kind(in.A) && int32Kind(in.B))
        in.Op = static_cast<TFastOp>(FxCalc32Op + (in.Op - FxCalcOp));
    }
    for (TFastInstr& in : fast->Code) {
      if (in.Op != FxAssign32 || in.Next >= fast->Code.size()) continue;
      const TFastInstr& calc = fast->Code[in.Next];
      if (calc.Op < FxCalc32Op || calc.Op > int(FxCalc32Op) + int(CalcXor) || calc.A.Fixed != in.A.Fixed ||
          calc.A.T != in.A.T || calc.Window != in.Window || calc.B.Fixed == in.A.Fixed)
        continue;
      in.Op = static_cast<TFastOp>(FxAssignCalc32Op + (calc.Op - FxCalc32Op));
      in.C = calc.B;
      in.JumpTo = in.Next;
      in.Next = calc.Next;
    }
    // Calculations one after another on the same Integer (`s := (s + x) mod
    // m`, a bound worked out in steps) keep it in a register between them.
    auto calc32 = [](const TFastInstr& in) { return in.Op >= FxCalc32Op && in.Op <= int(FxCalc32Op) + int(CalcXor); };
    auto assignCalc32 = [](const TFastInstr& in) {
      return in.Op >= FxAssignCalc32Op && in.Op <= int(FxAssignCalc32Op) + int(CalcXor);
    };
    for (TFastInstr& in : fast->Code) {
      if (!calc32(in) && !assignCalc32(in)) continue;
      const bool assign = assignCalc32(in);
      TFastInstr chain = in;
      chain.ChainFrom = assign ? in.B.Fixed : in.A.Fixed;
      chain.Chain[0] = {static_cast<uint8_t>(in.Op - (assign ? FxAssignCalc32Op : FxCalc32Op)),
                        assign ? in.C.Fixed : in.B.Fixed, in.JumpTo};
      chain.ChainLength = 1;
      for (uint32_t j = in.Next; chain.ChainLength < TFastInstr::MaxChain && j < fast->Code.size();) {
        const TFastInstr& next = fast->Code[j];
        if (!calc32(next) || next.A.Fixed != in.A.Fixed || next.A.T != in.A.T) break;
        chain.Chain[chain.ChainLength++] = {static_cast<uint8_t>(next.Op - FxCalc32Op), next.B.Fixed, j};
        chain.Next = next.Next;
        j = next.Next;
      }
      if (chain.ChainLength < 2) continue;
      chain.Op = FxChain32;
      chain.Jump = assign;
      in = chain;
    }
    return fast;
  }
};

std::unique_ptr<TPSFastCode> TranslateProc(TPSExec& exec, TPSInternalProcRec& proc) {
  return TPSTranslator(exec, proc).Run();
}

std::vector<TFastInstr> DecodeProc(TPSExec& exec, TPSInternalProcRec& proc) {
  return std::move(TPSTranslator(exec, proc).Decode()->Code);
}

}  // namespace ps
