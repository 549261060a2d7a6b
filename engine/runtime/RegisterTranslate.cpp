// Translation into the register form: the decoded instructions are followed
// along every path with the kinds of the frame's entries, each push becoming
// a slot; an instruction the form does not handle, a frame whose entries
// differ where paths meet, or an operand outside the frame refuses the
// procedure.
#include <algorithm>
#include <unordered_map>

#include "engine/runtime/RegisterCode.h"

namespace ps {

namespace {

// The kinds the register form computes with: Booleans and enumerations,
// Cardinal, Integer and Int64.
bool Ordinal(TPSBaseType b) { return b == btU8 || b == btS32 || b == btU32 || b == btS64; }
// The kinds a conditional jump tests.
bool Testable(TPSBaseType b) { return b == btU8 || b == btS32 || b == btU32; }

// A nesting of calls deeper than this at translation is refused (the
// procedures run the ordinary way).
constexpr int MaxNesting = 16;

using TFrame = std::vector<TRegParam>;  // the kinds of the entries above the frame base

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

  // The operand as a slot or constant, with its kind; false when outside the form.
  static bool Operand(const TFastOperand& o, const TFrame& frame, const std::vector<TRegParam>& params,
                      TRegOperand& r, TPSBaseType& type, bool writable) {
    if (o.Kind == FoConst && !writable && o.T && Ordinal(o.T->FBaseType)) {
      type = o.T->FBaseType;
      r.Kind = RoConst;
      switch (type) {
        case btU8: r.K = o.Value[0]; break;
        case btS32: r.K = Load<int32_t>(o.Value); break;
        case btU32: r.K = Load<uint32_t>(o.Value); break;
        default: r.K = Load<int64_t>(o.Value); break;
      }
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
    if (!Ordinal(entry->Type)) return false;  // a var parameter not yet set
    r.Kind = entry->Ref ? RoRef : RoSlot;
    r.Off = o.Frame;
    type = entry->Type;
    return true;
  }

  // One instruction's register form (none for a pop or a no-operation) and
  // the frame after it; false when outside the form.
  bool Step(const TFastInstr& in, const uint8_t* data, TFrame& frame, const std::vector<TRegParam>& params, std::vector<TRegInstr>& out,
            bool& falls, bool& jumps) {
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
        if (!in.Type) return false;
        if (in.Type->FBaseType == btPointer) {
          // A var argument, set by the next instructions.
          frame.push_back({btPointer, true});
        } else if (Ordinal(in.Type->FBaseType) && !in.Type->FManaged) {
          frame.push_back({in.Type->FBaseType, false});
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
        if (in.A.Kind != FoStack || in.A.Frame <= 0 || size_t(in.A.Frame) > frame.size()) return false;
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
        if (data[in.Pos] != OpNegate && data[in.Pos] != OpBoolNot && data[in.Pos] != OpBitNot) return false;
        if (!Operand(in.A, frame, params, r.A, ta, true)) return false;
        r.Op = RgUnary;
        r.Sub = data[in.Pos];
        r.Type = ta;
        break;
      case FxPush:
        if (!Operand(in.A, frame, params, r.B, tb, false)) return false;
        frame.push_back({tb, false});
        r.Op = RgCopy;
        r.A = top();
        r.Type = tb;
        break;
      case FxPushVarRef:
        if (!Operand(in.A, frame, params, r.B, tb, true)) return false;
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
          r.Op = RgCalc32;
        else if (ta == btS64 && tb != btU8)
          r.Op = RgCalc64;
        else
          return false;
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
        if (in.Target >= X.FProcs.size() || X.FProcs[in.Target]->IsExternal()) return false;
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

  bool Build(TPSInternalProcRec& proc, TPSRegisterCode& reg) {
    const std::vector<TFastInstr>& code = Code(proc);
    const size_t n = code.size();
    if (ParameterReach(code) != int32_t(reg.Params.size())) return false;
    // The frame at each reachable instruction, the same along every path.
    std::vector<TFrame> frames(n);
    std::vector<bool> seen(n), target(n);
    std::vector<size_t> work{0};
    seen[0] = true;
    std::vector<std::vector<TRegInstr>> forms(n);
    while (!work.empty()) {
      const size_t i = work.back();
      work.pop_back();
      TFrame frame = frames[i];
      bool falls, jumps;
      if (!Step(code[i], proc.FData.data(), frame, reg.Params, forms[i], falls, jumps)) return false;
      reg.FrameSize = std::max(reg.FrameSize, static_cast<int32_t>(frame.size()));
      auto reach = [&](size_t j) {
        if (j >= n) return false;
        if (!seen[j]) {
          seen[j] = true;
          frames[j] = frame;
          work.push_back(j);
          return true;
        }
        return frames[j] == frame;
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
      TRegInstr& r = f[0];
      // A comparison whose result a conditional jump (or the jump flag and a
      // jump on it, the entries popped between) tests at once: one step.
      if (r.Op == RgCompare) {
        size_t j = i + 1;
        auto sameTest = [&](size_t k) {
          return k < n && seen[k] && !target[k] && forms[k].size() == 1 && forms[k][0].A.Kind == r.A.Kind &&
                 forms[k][0].A.Off == r.A.Off && r.A.Kind != RoConst;
        };
        if (sameTest(j) && forms[j][0].Op == RgJumpIf) {
          r.Op = RgCompareJump;
          r.Flag = forms[j][0].Flag;
          r.Target = forms[j][0].Target;
          forms[j].clear();
        } else if (sameTest(j) && forms[j][0].Op == RgSetFlag) {
          size_t k = j + 1;
          while (k < n && seen[k] && !target[k] && code[k].Op == FxPop) ++k;
          if (k < n && seen[k] && !target[k] && forms[k].size() == 1 && forms[k][0].Op == RgJumpIfFlag) {
            r.Op = RgCompareJump;
            r.Flag = static_cast<uint8_t>(forms[j][0].Flag | 2);
            r.Target = forms[k][0].Target;
            forms[j].clear();
            forms[k].clear();
          }
        }
      }
      // A new slot that the next step writes whole before reading it needs no zero.
      if (r.Op == RgZero && i + 1 < n && seen[i + 1] && forms[i + 1].size() == 1) {
        const TRegInstr& w = forms[i + 1][0];
        auto reads = [&](const TRegOperand& o) { return o.Kind != RoConst && o.Off == r.A.Off; };
        if ((w.Op == RgCompare || w.Op == RgCopy || w.Op == RgConvert) && w.A.Kind == RoSlot && w.A.Off == r.A.Off && !reads(w.B) &&
            !reads(w.C))
          continue;
      }
      reg.Code.insert(reg.Code.end(), f.begin(), f.end());
    }
    at[n] = static_cast<uint32_t>(reg.Code.size());
    for (TRegInstr& r : reg.Code)
      if (r.Op == RgJump || r.Op == RgJumpIf || r.Op == RgJumpIfFlag || r.Op == RgCompareJump) r.Target = at[r.Target];
    // No path falls off the end: each reached instruction's successors were
    // reached and handled above.
    return true;
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

}  // namespace ps
