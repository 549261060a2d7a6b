// Translation into the register form: the decoded instructions are followed
// along every path with the kinds of the frame's entries, each push becoming
// a slot; an instruction the form does not handle, a frame whose entries
// differ where paths meet, or an operand outside the frame refuses the
// procedure.
#include <algorithm>
#include <map>
#include <tuple>
#include <unordered_map>

#include "engine/runtime/RegisterCode.h"

namespace ps {

namespace {

// The kinds a conditional jump tests.
bool Testable(TPSBaseType b) { return b == btU8 || b == btS32 || b == btU32; }

// A nesting of calls deeper than this at translation is refused (the
// procedures run the ordinary way).
constexpr int MaxNesting = 16;
// Frames deeper than this stay with the general loops.
constexpr size_t MaxLoopFrame = 64;

using TFrame = std::vector<TRegParam>;  // the kinds of the entries above the frame base

struct TFrameOrder {
  bool operator()(const TFrame& a, const TFrame& b) const {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [](const TRegParam& x, const TRegParam& y) {
                                          return std::tie(x.Type, x.Ref, x.Rec) < std::tie(y.Type, y.Ref, y.Rec);
                                        });
  }
};

}  // namespace

struct TPSRegisterTranslator {
  TPSExec& X;
  std::unordered_map<TPSInternalProcRec*, std::vector<TFastInstr>> Decoded;
  int Nesting = 0;

  const std::vector<TFastInstr>& Code(TPSInternalProcRec& proc) {
    auto it = Decoded.find(&proc);
    if (it == Decoded.end()) it = Decoded.emplace(&proc, DecodeProc(X, proc)).first;
    return it->second;
  }

  // Loops: globals and elements of global arrays are operands too.
  bool Loops = false;

  // The operand as a slot, constant or variable, with its kind and type
  // record; false when outside the form.
  bool Operand(const TFastOperand& o, const TFrame& frame, const std::vector<TRegParam>& params, TRegOperand& r,
               TPSBaseType& type, bool writable, const TPSTypeRec** rec = nullptr) const {
    if (o.Kind == FoConst && !writable && o.T && RegisterKind(o.T->FBaseType)) {
      type = o.T->FBaseType;
      if (rec) *rec = o.T;
      r.Kind = RoConst;
      switch (type) {
        case btU8: r.K = o.Value[0]; break;
        case btS32: r.K = Load<int32_t>(o.Value); break;
        case btU32: r.K = Load<uint32_t>(o.Value); break;
        default: r.K = Load<int64_t>(o.Value); break;
      }
      return true;
    }
    if (Loops && o.Kind == FoGlobal && o.T && RegisterKind(o.T->FBaseType) && !o.T->FManaged) {
      type = r.Type = o.T->FBaseType;
      if (rec) *rec = o.T;
      r.Kind = RoGlobal;
      r.P = o.P;
      return true;
    }
    if (Loops && o.Kind == FoElem && o.BaseKind == FoGlobal && o.T && o.T->FBaseType == btArray) {
      const TPSTypeRec* elem = static_cast<const TPSTypeRec_Array*>(o.T)->FArrayType;
      if (!elem || !RegisterKind(elem->FBaseType) || elem->FManaged) return false;
      if (o.IndexKind == FoConst) {
        r.IndexKind = RoConst;
        r.K = o.IndexConst;
      } else if (o.IndexKind == FoGlobal && o.IndexT &&
                 (o.IndexT->FBaseType == btS32 || o.IndexT->FBaseType == btU32)) {
        r.IndexKind = RoGlobal;
        r.IndexP = o.IndexP;
        r.IndexType = o.IndexT->FBaseType;
      } else if (o.IndexKind == FoStack && o.IndexFrame > 0 && size_t(o.IndexFrame) <= frame.size() &&
                 !frame[size_t(o.IndexFrame) - 1].Ref &&
                 (frame[size_t(o.IndexFrame) - 1].Type == btS32 || frame[size_t(o.IndexFrame) - 1].Type == btU32)) {
        r.IndexKind = RoSlot;
        r.IndexOff = o.IndexFrame;
      } else {
        return false;
      }
      type = r.Type = elem->FBaseType;
      if (rec) *rec = elem;
      r.Kind = RoElem;
      r.P = o.P;
      r.ElemSize = elem->FRealSize;
      return true;
    }
    if (o.Kind != FoStack || o.Frame == 0) return false;
    const TRegParam* entry;
    if (o.Frame > 0) {
      if (size_t(o.Frame) > frame.size()) return false;
      entry = &frame[size_t(o.Frame) - 1];
    } else {
      if (size_t(-int64_t(o.Frame)) > params.size()) return false;
      entry = &params[size_t(-int64_t(o.Frame)) - 1];
    }
    if (!RegisterKind(entry->Type)) return false;  // a var parameter not yet set, or an entry of another kind
    if (rec) *rec = entry->Rec;
    r.Kind = entry->Ref ? RoRef : RoSlot;
    r.Off = o.Frame;
    type = entry->Type;
    return true;
  }

  // One instruction's register form (none for a pop or a no-operation) and
  // the frame after it; false when outside the form.
  bool Step(const TFastInstr& in, uint8_t opcode, TFrame& frame, const std::vector<TRegParam>& params,
            std::vector<TRegInstr>& out, bool& falls, bool& jumps) {
    falls = true;
    jumps = false;
    TRegInstr r;
    TPSBaseType ta = btU8, tb = btU8, tc = btU8;
    auto top = [&] {
      TRegOperand o;
      o.Kind = RoSlot;
      o.Off = static_cast<int32_t>(frame.size());
      return o;
    };
    switch (in.Op) {
      case FxNop: return true;
      case FxPop:
        if (frame.empty()) return false;
        frame.pop_back();
        return true;
      case FxJump:
        r.Op = RgJump;
        falls = false;
        jumps = true;
        break;
      case FxJumpIf:
      case FxSetFlag:
        if (!Operand(in.A, frame, params, r.A, ta, false) || !Testable(ta)) return false;
        r.Op = in.Op == FxJumpIf ? RgJumpIf : RgSetFlag;
        r.Flag = in.Sub;
        jumps = in.Op == FxJumpIf;
        break;
      case FxJumpIfFlag:
        r.Op = RgJumpIfFlag;
        jumps = true;
        break;
      case FxPushType:
        if (!in.Type || frame.size() >= MaxLoopFrame) return false;
        if (in.Type->FBaseType == btPointer && !Loops) {
          // A var argument, set by the next instructions.
          frame.push_back({btPointer, true});
        } else if (RegisterKind(in.Type->FBaseType) && !in.Type->FManaged) {
          frame.push_back({in.Type->FBaseType, false, in.Type});
        } else {
          return false;
        }
        r.Op = RgZero;
        r.A = top();
        r.Type = in.Type->FBaseType;
        break;
      case FxSetPointer: {
        // A var argument made to refer to a variable (or to what a var
        // parameter refers to).
        if (Loops || in.A.Kind != FoStack || in.A.Frame <= 0 || size_t(in.A.Frame) > frame.size()) return false;
        TRegParam& entry = frame[size_t(in.A.Frame) - 1];
        if (!entry.Ref || !Operand(in.B, frame, params, r.B, tb, true)) return false;
        entry.Type = tb;
        r.Op = r.B.Kind == RoRef ? RgRefCopy : RgRefSlot;
        r.A.Kind = RoSlot;
        r.A.Off = in.A.Frame;
        break;
      }
      case FxGeneral:
        // The unary operations stay with the general loop in the fast one.
        if (opcode != OpNegate && opcode != OpBoolNot && opcode != OpBitNot) return false;
        if (!Operand(in.A, frame, params, r.A, ta, true)) return false;
        r.Op = RgUnary;
        r.Sub = opcode;
        r.Type = ta;
        break;
      case FxPush: {
        const TPSTypeRec* rec = nullptr;
        if (frame.size() >= MaxLoopFrame || !Operand(in.A, frame, params, r.B, tb, false, &rec) || (Loops && !rec))
          return false;
        frame.push_back({tb, false, rec});
        r.Op = RgCopy;
        r.A = top();
        r.Type = tb;
        break;
      }
      case FxPushVarRef:
        // A var argument: only calls take them, which loops leave alone.
        if (Loops || !Operand(in.A, frame, params, r.B, tb, true)) return false;
        r.Op = r.B.Kind == RoRef ? RgRefCopy : RgRefSlot;
        frame.push_back({tb, true});
        r.A = top();
        break;
      case FxAssign:
        if (!Operand(in.A, frame, params, r.A, ta, true) || !Operand(in.B, frame, params, r.B, tb, false)) return false;
        r.Op = ta == tb ? RgCopy : RgConvert;
        r.Type = ta;
        break;
      case FxCalc:
        if (!Operand(in.A, frame, params, r.A, ta, true) || !Operand(in.B, frame, params, r.B, tb, false) ||
            in.Sub > CalcXor)
          return false;
        if ((ta == btS32 || ta == btU32) && (tb == btS32 || tb == btU32))
          r.Op = static_cast<TRegOp>(RgCalc32 + in.Sub);
        else if (ta == btS64 && tb != btU8)
          r.Op = RgCalc64;
        else if (ta == btU8 && tb == btU8 && (in.Sub == CalcAnd || in.Sub == CalcOr || in.Sub == CalcXor))
          r.Op = static_cast<TRegOp>(RgCalc32 + in.Sub);  // Booleans: the result stays a byte
        else
          return false;
        // In three-operand form: A := A op B.
        r.C = r.B;
        r.B = r.A;
        r.Sub = in.Sub;
        r.Flag = ta == btU32;
        r.Type = ta;
        break;
      case FxCompare:
        if (!Operand(in.A, frame, params, r.A, ta, true) || !Operand(in.B, frame, params, r.B, tb, false) ||
            !Operand(in.C, frame, params, r.C, tc, false) || ta != btU8 || in.Sub >= CmpIn)
          return false;
        r.Op = RgCompare;
        r.Sub = in.Sub;
        r.Type = ta;
        break;
      case FxIncDec:
        if (!Operand(in.A, frame, params, r.A, ta, true)) return false;
        r.Op = RgIncDec;
        r.B.K = in.Sub ? 1 : -1;
        r.Type = ta;
        break;
      case FxCall: {
        if (Loops || in.Target >= X.FProcs.size() || X.FProcs[in.Target]->IsExternal()) return false;
        auto& callee = static_cast<TPSInternalProcRec&>(*X.FProcs[in.Target]);
        const int32_t reach = ParameterReach(Code(callee));
        if (reach < 0 || size_t(reach) > frame.size()) return false;
        std::vector<TRegParam> args(frame.rbegin(), frame.rbegin() + reach);
        if (!Translate(callee, args)) return false;
        r.Op = RgCall;
        r.Callee = callee.FRegister.get();
        r.Frame = static_cast<int32_t>(frame.size()) + 1;
        break;
      }
      case FxReturn:
        if (Loops) return false;
        r.Op = RgReturn;
        falls = false;
        break;
      default: return false;
    }
    r.Target = in.Target;
    out.push_back(r);
    return true;
  }

  bool Translate(TPSInternalProcRec& proc, const std::vector<TRegParam>& params) {
    if (proc.FRegister) return (proc.FRegister->Ready || proc.FRegister->Busy) && proc.FRegister->Params == params;
    proc.FRegister = std::make_unique<TPSRegisterCode>();
    TPSRegisterCode& reg = *proc.FRegister;
    reg.Params = params;
    if (Nesting >= MaxNesting) return false;
    ++Nesting;
    reg.Busy = true;
    reg.Ready = Build(proc, reg);
    reg.Busy = false;
    --Nesting;
    if (!reg.Ready) reg.Code.clear();
    return reg.Ready;
  }

  // Loops: the stack effect and successors of an instruction left to the
  // general loops, so that the code after it is followed too; false when
  // they are not known (nothing after it is followed).
  static bool Pass(const TFastInstr& in, uint8_t opcode, TFrame& frame, bool& falls, bool& jumps) {
    falls = true;
    jumps = false;
    switch (in.Op) {
      case FxNop:
      case FxAssign:
      case FxCalc:
      case FxCompare:
      case FxIncDec:
      case FxSetFlag:
      case FxSetPointer:
      case FxCall:
      case FxCallHost: return true;
      case FxJump: falls = false; [[fallthrough]];
      case FxJumpIf:
      case FxJumpIfFlag: jumps = true; return true;
      case FxPushType:
      case FxPush:
      case FxPushVarRef:
        // An entry of a kind the loops do not handle.
        if (frame.size() >= MaxLoopFrame) return false;
        frame.push_back({btPointer, false, nullptr});
        return true;
      case FxPop:
        if (frame.empty()) return false;
        frame.pop_back();
        return true;
      case FxGeneral:
        // A try block's marks change no entry; where else they lead is not
        // followed (a loop is entered only when the stack matches its frame).
        return opcode == OpNegate || opcode == OpBoolNot || opcode == OpBitNot || opcode == OpTryBegin ||
               opcode == OpTryEnd;
      default: return false;
    }
  }

  // The opcode of an instruction (none for the end of the code).
  static uint8_t OpcodeAt(const TPSInternalProcRec& proc, const TFastInstr& in) {
    return in.Pos < proc.FLength && in.Pos < proc.FData.size() ? proc.FData[in.Pos] : 0xFF;
  }

  static bool SameOperand(const TRegOperand& a, const TRegOperand& b) {
    return a.Kind == b.Kind && a.Off == b.Off && a.P == b.P && a.K == b.K && a.IndexKind == b.IndexKind &&
           a.IndexOff == b.IndexOff && a.IndexP == b.IndexP;
  }
  // Whether the operand reads the frame's slot `off`.
  static bool ReadsSlot(const TRegOperand& o, int32_t off) {
    return ((o.Kind == RoSlot || o.Kind == RoRef) && o.Off == off) ||
           (o.Kind == RoElem && o.IndexKind == RoSlot && o.IndexOff == off);
  }
  // Whether the operand reads `t`, a frame slot or a global.
  static bool Reads(const TRegOperand& o, const TRegOperand& t) {
    if (t.Kind != RoGlobal) return ReadsSlot(o, t.Off);
    return (o.Kind == RoGlobal && o.P == t.P) || (o.Kind == RoElem && o.IndexKind == RoGlobal && o.IndexP == t.P);
  }

  bool Build(TPSInternalProcRec& proc, TPSRegisterCode& reg) {
    const std::vector<TFastInstr>& code = Code(proc);
    const size_t n = code.size();
    if (!Loops && ParameterReach(code) != int32_t(reg.Params.size())) return false;
    // The frame at each reachable instruction, the same along every path.
    // Frames are kept once each (a procedure has few different ones).
    std::vector<TFrame> table;
    std::map<TFrame, uint32_t, TFrameOrder> index;
    auto intern = [&](const TFrame& f) {
      auto [it, added] = index.emplace(f, static_cast<uint32_t>(table.size()));
      if (added) table.push_back(f);
      return it->second;
    };
    std::vector<uint32_t> frameOf(n, 0);
    std::vector<bool> seen(n), target(n), exit(n);
    std::vector<size_t> work{0};
    seen[0] = true;
    intern({});
    std::vector<std::vector<TRegInstr>> forms(n);
    while (!work.empty()) {
      const size_t i = work.back();
      work.pop_back();
      TFrame frame = table[frameOf[i]];
      bool falls, jumps;
      if (!Step(code[i], OpcodeAt(proc, code[i]), frame, reg.Params, forms[i], falls, jumps)) {
        if (!Loops) return false;
        // Left to the general loops, which go on from here.
        forms[i].assign(1, TRegInstr{});
        forms[i][0].Op = RgExit;
        exit[i] = true;
        frame = table[frameOf[i]];
        if (!Pass(code[i], OpcodeAt(proc, code[i]), frame, falls, jumps)) continue;
      }
      reg.FrameSize = std::max(reg.FrameSize, static_cast<int32_t>(frame.size()));
      auto reach = [&](size_t j) {
        if (j >= n) return false;
        if (!seen[j]) {
          seen[j] = true;
          frameOf[j] = intern(frame);
          work.push_back(j);
          return true;
        }
        return table[frameOf[j]] == frame;
      };
      if (falls && !reach(i + 1)) return false;
      if (jumps) {
        if (!reach(code[i].Target)) return false;
        target[code[i].Target] = true;
      }
    }
    // Laid out in order; each instruction's register form starts at `at`.
    std::vector<uint32_t> at(n + 1);
    for (size_t i = 0; i < n; ++i) {
      at[i] = static_cast<uint32_t>(reg.Code.size());
      if (!seen[i]) continue;
      std::vector<TRegInstr>& f = forms[i];
      if (f.empty()) continue;
      for (TRegInstr& r : f) r.At = static_cast<uint32_t>(i);
      TRegInstr& r = f[0];
      // A comparison whose result a conditional jump (or the jump flag and a
      // jump on it, the entries popped between) tests at once: one step.
      // The next step from k on, past no-operations and pops (which change
      // no slot) that no jump lands on.
      auto step = [&](size_t k) {
        while (k < n && seen[k] && !target[k] && forms[k].empty() && (code[k].Op == FxNop || code[k].Op == FxPop)) ++k;
        return k;
      };
      auto single = [&](size_t k, TRegOp op) {
        return k < n && seen[k] && !target[k] && forms[k].size() == 1 && forms[k][0].Op == op;
      };
      if (r.Op == RgCompare) {
        const size_t j = step(i + 1);
        if (single(j, RgIncDec) && forms[j][0].B.K == 1 && SameOperand(forms[j][0].A, r.B) && r.B.Kind != RoConst &&
            single(step(j + 1), RgJumpIf) && SameOperand(forms[step(j + 1)][0].A, r.A)) {
          // The bound check and counter step of a counting loop.
          const size_t k = step(j + 1);
          r.Op = RgCompareJump;
          r.Flag = static_cast<uint8_t>(forms[k][0].Flag | 4);
          r.Type = forms[j][0].Type;
          r.Target = forms[k][0].Target;
          forms[j].clear();
          forms[k].clear();
        } else if (single(j, RgJumpIf) && SameOperand(forms[j][0].A, r.A)) {
          r.Op = RgCompareJump;
          r.Flag = forms[j][0].Flag;
          r.Target = forms[j][0].Target;
          forms[j].clear();
        } else if (single(j, RgSetFlag) && SameOperand(forms[j][0].A, r.A) && single(step(j + 1), RgJumpIfFlag)) {
          const size_t k = step(j + 1);
          r.Op = RgCompareJump;
          r.Flag = static_cast<uint8_t>(forms[j][0].Flag | 2);
          r.Target = forms[k][0].Target;
          forms[j].clear();
          forms[k].clear();
        }
      }
      // A copy into a slot that a calculation then works on: one step from
      // the copy's source (read once: the calculation's own operand does not
      // read the slot). It fails as the copy: the general loops run both.
      const size_t k = step(i + 1);
      if ((r.Op == RgCopy || r.Op == RgConvert) && (r.A.Kind == RoSlot || r.A.Kind == RoGlobal) && k < n && seen[k] &&
          !target[k] && forms[k].size() == 1) {
        TRegInstr& calc = forms[k][0];
        const bool calc32 = calc.Op >= RgCalc32 && calc.Op < RgCalc32Slots && calc.Type != btU8;
        if ((calc32 || (calc.Op == RgCalc64 && r.Op == RgCopy)) && SameOperand(calc.A, r.A) &&
            SameOperand(calc.B, r.A) && !Reads(calc.C, r.A) && !Reads(r.B, r.A) && r.B.Kind != RoRef) {
          calc.B = r.B;
          calc.At = r.At;
          r = calc;
          forms[k].clear();
        }
      }
      // A new slot that plain steps after it write whole before any reads it
      // needs no zero (a failure between leaves it to the general loops,
      // which write it before reading it just the same).
      if (r.Op == RgZero) {
        bool drop = false;
        for (size_t k = i + 1; k < n && seen[k] && !drop; ++k) {
          if (forms[k].empty() && (code[k].Op == FxNop || code[k].Op == FxPop)) continue;
          if (forms[k].size() != 1) break;
          const TRegInstr& w = forms[k][0];
          const bool plain = w.Op == RgCopy || w.Op == RgConvert || w.Op == RgCompare || w.Op == RgCalc64 ||
                             w.Op == RgUnary || w.Op == RgIncDec || w.Op == RgZero ||
                             (w.Op >= RgCalc32 && w.Op < RgCalc32Slots);
          if (!plain || ReadsSlot(w.B, r.A.Off) || ReadsSlot(w.C, r.A.Off)) break;
          const bool writesWhole = (w.Op == RgCompare || w.Op == RgCopy || w.Op == RgConvert || w.Op == RgZero) &&
                                   w.A.Kind == RoSlot && w.A.Off == r.A.Off;
          if (writesWhole)
            drop = true;
          else if (ReadsSlot(w.A, r.A.Off))
            break;
        }
        if (drop) continue;
      }
      reg.Code.insert(reg.Code.end(), f.begin(), f.end());
    }
    at[n] = static_cast<uint32_t>(reg.Code.size());
    for (TRegInstr& r : reg.Code)
      if (r.Op == RgJump || r.Op == RgJumpIf || r.Op == RgJumpIfFlag || r.Op == RgCompareJump) r.Target = at[r.Target];
    if (!Loops) return true;
    // The globals a loop uses live in slots above the frame's while it runs,
    // and so do its constants: every operand but an element is a slot.
    auto slotOf = [&](uint8_t* p, TPSBaseType type, int64_t k) {
      for (size_t g = 0; g < reg.Globals.size(); ++g)
        if (reg.Globals[g].P == p && (p || reg.Globals[g].K == k))
          return static_cast<int32_t>(reg.FrameSize + 1 + int32_t(g));
      reg.Globals.push_back({p, type, k});
      return static_cast<int32_t>(reg.FrameSize + int32_t(reg.Globals.size()));
    };
    for (TRegInstr& r : reg.Code)
      for (TRegOperand* o : {&r.A, &r.B, &r.C}) {
        if (o->Kind == RoGlobal || (o->Kind == RoConst && !(r.Op == RgIncDec && o == &r.B))) {
          o->Off = slotOf(o->Kind == RoGlobal ? o->P : nullptr, o->Type, o->K);
          o->Kind = RoSlot;
        }
        if (o->Kind == RoElem && o->IndexKind == RoGlobal) {
          o->IndexOff = slotOf(o->IndexP, o->IndexType, 0);
          o->IndexKind = RoSlot;
        }
      }
    // Steps whose operands are all slots look at no operand kind.
    for (TRegInstr& r : reg.Code) {
      const bool slots = r.A.Kind == RoSlot && r.B.Kind == RoSlot && r.C.Kind == RoSlot;
      if (r.Op >= RgCalc32 && r.Op < RgCalc32Slots && slots)
        r.Op = static_cast<TRegOp>(r.Op - RgCalc32 + RgCalc32Slots);
      else if (r.Op == RgCompareJump && slots)
        r.Op = RgCompareJumpSlots;
      else if (r.Op == RgCopy && r.A.Kind == RoSlot && r.B.Kind == RoSlot)
        r.Op = RgCopySlots;
    }
    // A loop starts at the head of a jump back when every instruction from
    // the head to the jump runs in the form and the frame there holds only
    // entries the form keeps in slots.
    reg.Entries.assign(n, -1);
    for (size_t b = 0; b < n; ++b) {
      const TFastOp op = code[b].Op;
      if (!seen[b] || exit[b] || (op != FxJump && op != FxJumpIf && op != FxJumpIfFlag) || code[b].Target > b) continue;
      const size_t head = code[b].Target;
      bool whole = true;
      for (size_t k = head; k <= b && whole; ++k) whole = !seen[k] || !exit[k];
      for (const TRegParam& e : table[frameOf[head]]) whole = whole && RegisterKind(e.Type) && !e.Ref && e.Rec;
      if (whole) reg.Entries[head] = static_cast<int32_t>(at[head]);
    }
    reg.Frames = std::move(table);
    reg.FrameOf = std::move(frameOf);
    return std::find_if(reg.Entries.begin(), reg.Entries.end(), [](int32_t e) { return e >= 0; }) != reg.Entries.end();
  }
};

int32_t ParameterReach(const std::vector<TFastInstr>& code) {
  int64_t reach = 0;
  for (const TFastInstr& in : code)
    for (const TFastOperand* o : {&in.A, &in.B, &in.C}) {
      if ((o->Kind == FoStack || (o->Kind == FoElem && o->BaseKind == FoStack)) && o->Frame < 0)
        reach = std::max<int64_t>(reach, -int64_t(o->Frame));
      if (o->Kind == FoElem && o->IndexKind == FoStack && o->IndexFrame < 0)
        reach = std::max<int64_t>(reach, -int64_t(o->IndexFrame));
    }
  return reach > 1 << 20 ? -1 : static_cast<int32_t>(reach);
}

bool TranslateRegisters(TPSExec& exec, TPSInternalProcRec& proc, const std::vector<TRegParam>& params) {
  return TPSRegisterTranslator{exec, {}, 0}.Translate(proc, params);
}

std::unique_ptr<TPSRegisterCode> TranslateLoops(TPSExec& exec, TPSInternalProcRec& proc) {
  TPSRegisterTranslator translator{exec, {}, 0};
  translator.Loops = true;
  auto code = std::make_unique<TPSRegisterCode>();
  if (!translator.Build(proc, *code)) return nullptr;
  code->Ready = true;
  return code;
}

}  // namespace ps
