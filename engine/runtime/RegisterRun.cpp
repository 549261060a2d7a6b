// The register loop: runs a call of a procedure in its register form, over
// one array of 64-bit slots per thread (no run calls host code, so runs
// never nest). Each slot holds its value widened by its kind, so
// comparisons of any two values of one kind compare the slots.
#include <new>

#include "engine/runtime/Operations.h"
#include "engine/runtime/RegisterCode.h"

namespace ps {

namespace {

struct TRegReturn {
  const TRegInstr* Code;  // the caller's instructions
  const TRegInstr* Next;  // where the caller goes on
  int32_t Frame;          // its frame base lies this far below
};

struct TRegFile {
  std::vector<int64_t> Slots;
  std::vector<TRegReturn> Returns;
};
thread_local TRegFile Registers;

// A run that used more than this many slots gives the memory back after it.
constexpr size_t KeptSlots = size_t(1) << 20;


inline int64_t Widen(int64_t v, TPSBaseType t) {
  switch (t) {
    case btU8: return static_cast<uint8_t>(v);
    case btS32: return static_cast<int32_t>(v);
    case btU32: return static_cast<uint32_t>(v);
    default: return v;
  }
}
inline int64_t LoadSlot(const void* p, TPSBaseType t) {
  switch (t) {
    case btU8: return *static_cast<const uint8_t*>(p);
    case btS32: return Load<int32_t>(p);
    case btU32: return Load<uint32_t>(p);
    default: return Load<int64_t>(p);
  }
}
inline void StoreSlot(void* p, TPSBaseType t, int64_t v) {
  switch (t) {
    case btU8: *static_cast<uint8_t*>(p) = static_cast<uint8_t>(v); break;
    case btS32:
    case btU32: Store(p, static_cast<uint32_t>(v)); break;
    default: Store(p, v); break;
  }
}

// Makes room for `needed` slots within `limit`; false when it cannot.
bool Room(std::vector<int64_t>& slots, size_t needed, size_t limit) {
  if (needed <= slots.size()) return true;
  if (needed > limit) return false;
  try {
    slots.resize(std::min(limit, std::max(needed, slots.size() * 2)));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

// The address of a global or an element; nil when the element is outside
// its array (or the array is empty).
inline uint8_t* Address(const TRegOperand& o, const int64_t* R, size_t base) {
  TPSBlockHeader* h = LoadBlock(o.P);
  const uint32_t index = o.IndexKind == RoConst ? static_cast<uint32_t>(o.K)
                                                : static_cast<uint32_t>(R[base + o.IndexOff]);
  if (!h || index >= h->Length) return nullptr;
  return BlockData(h) + uint64_t(index) * o.ElemSize;
}
// An element read or written (loops keep everything else in slots).
inline bool GetElem(const TRegOperand& o, const int64_t* R, int64_t& v) {
  const uint8_t* p = Address(o, R, 0);
  if (!p) return false;
  v = LoadSlot(p, o.Type);
  return true;
}
inline bool PutElem(const TRegOperand& o, const int64_t* R, int64_t v) {
  uint8_t* p = Address(o, R, 0);
  if (!p) return false;
  StoreSlot(p, o.Type, v);
  return true;
}

}  // namespace

struct TPSRegisterRunner {
  // Runs the code from `start` with its frame base at `base`. A procedure's
  // form returns true when its call is done, false when it gives up; loops
  // end at the instruction the general loops go on from, `resume`.
  template <bool Loops>
  static bool Execute(TPSExec& X, const TPSRegisterCode& root, const TRegInstr* start, size_t base, bool& flag,
                      uint32_t& resume) {
    static const void* const Labels[] = {
        &&zero,      &&copy,       &&convert,
        &&unary,     &&refSlot,    &&refCopy,
        &&calc64,    &&compare,    &&compareJump,
        &&incDec,    &&jump,       &&jumpIf,
        &&setFlag,   &&jumpIfFlag, &&call,
        &&ret,       &&exit,       &&calc32_0,
        &&calc32_1,  &&calc32_2,   &&calc32_3,
        &&calc32_4,  &&calc32_5,   &&calc32_6,
        &&calc32_7,  &&calc32_8,   &&calc32_9,
        &&calc32s_0, &&calc32s_1,  &&calc32s_2,
        &&calc32s_3, &&calc32s_4,  &&calc32s_5,
        &&calc32s_6, &&calc32s_7,  &&calc32s_8,
        &&calc32s_9, &&copySlots,  &&compareJumpSlots,
    };
    static_assert(sizeof Labels / sizeof Labels[0] == RgOpCount);
    TRegFile& file = Registers;
    // Each stack entry takes 16 bytes or more: a frame deeper than this would
    // not fit on the stack either.
    const size_t limit = X.FStack.FMaxLength / 16;
    size_t depth = 0;
    int64_t* R = file.Slots.data();
    const TRegInstr* C = root.Code.data();
    const TRegInstr* in = start;
    const volatile TPSStatus* const status = &X.FStatus;
    int64_t a, b, c;
#define KORVA_GO(p)       \
  do {                    \
    in = (p);             \
    goto* Labels[in->Op]; \
  } while (false)
#define KORVA_NEXT KORVA_GO(in + 1)
    // A jump back looks for a Stop (from a signal handler or a host callback).
#define KORVA_JUMP                          \
  do {                                      \
    const TRegInstr* to = C + in->Target;   \
    if (to <= in && *status != isRunning) { \
      in = to;                              \
      goto fail;                            \
    }                                       \
    KORVA_GO(to);                           \
  } while (false)
#define KORVA_SLOT(o) (*((o).Kind == RoSlot ? &R[base + (o).Off] : &R[R[base + (o).Off]]))
#define KORVA_GET(o, v)                                                                              \
  do {                                                                                               \
    if constexpr (Loops) {                                                                           \
      if ((o).Kind != RoElem)                                                                        \
        v = R[(o).Off];                                                                              \
      else if (!GetElem(o, R, v))                                                                    \
        goto fail;                                                                                   \
    } else {                                                                                         \
      v = (o).Kind == RoSlot ? R[base + (o).Off] : (o).Kind == RoRef ? R[R[base + (o).Off]] : (o).K; \
    }                                                                                                \
  } while (false)
#define KORVA_PUT(o, v)           \
  do {                            \
    if constexpr (Loops) {        \
      if ((o).Kind != RoElem)     \
        R[(o).Off] = v;           \
      else if (!PutElem(o, R, v)) \
        goto fail;                \
    } else {                      \
      KORVA_SLOT(o) = v;          \
    }                             \
  } while (false)
    KORVA_GO(in);
  zero:
    R[base + in->A.Off] = 0;
    KORVA_NEXT;
  copy:
    KORVA_GET(in->B, b);
    KORVA_PUT(in->A, b);
    KORVA_NEXT;
  convert:
    KORVA_GET(in->B, b);
    KORVA_PUT(in->A, Widen(b, in->Type));
    KORVA_NEXT;
  unary:
    KORVA_GET(in->A, a);
    if (in->Sub == OpBoolNot)
      a = a == 0;
    else
      a = Widen(static_cast<int64_t>(in->Sub == OpNegate ? 0 - static_cast<uint64_t>(a) : ~static_cast<uint64_t>(a)),
                in->Type);
    KORVA_PUT(in->A, a);
    KORVA_NEXT;
  refSlot:
    R[base + in->A.Off] = static_cast<int64_t>(base) + in->B.Off;
    KORVA_NEXT;
  refCopy:
    R[base + in->A.Off] = R[base + in->B.Off];
    KORVA_NEXT;
    // The operator is fixed in each handler: the calculation compiles to its
    // one instruction.
#define KORVA_CALC32(k)                                                                                        \
  calc32_##k : {                                                                                               \
    KORVA_GET(in->B, b);                                                                                       \
    KORVA_GET(in->C, c);                                                                                       \
    uint32_t r;                                                                                                \
    if (!IntegerCalc<uint32_t>(k, static_cast<uint32_t>(b), static_cast<uint32_t>(c), in->Flag, r)) goto fail; \
    KORVA_PUT(in->A, in->Flag ? int64_t{r} : int64_t{static_cast<int32_t>(r)});                                \
    KORVA_NEXT;                                                                                                \
  }
    KORVA_CALC32(0)
    KORVA_CALC32(1)
    KORVA_CALC32(2)
    KORVA_CALC32(3)
    KORVA_CALC32(4)
    KORVA_CALC32(5)
    KORVA_CALC32(6)
    KORVA_CALC32(7)
    KORVA_CALC32(8)
    KORVA_CALC32(9)
#undef KORVA_CALC32
#define KORVA_CALC32_SLOTS(k)                                                                                         \
  calc32s_##k : {                                                                                                     \
    uint32_t r;                                                                                                       \
    if (!IntegerCalc<uint32_t>(k, static_cast<uint32_t>(R[in->B.Off]), static_cast<uint32_t>(R[in->C.Off]), in->Flag, \
                               r))                                                                                    \
      goto fail;                                                                                                      \
    R[in->A.Off] = in->Flag ? int64_t{r} : int64_t{static_cast<int32_t>(r)};                                          \
    KORVA_NEXT;                                                                                                       \
  }
    KORVA_CALC32_SLOTS(0)
    KORVA_CALC32_SLOTS(1)
    KORVA_CALC32_SLOTS(2)
    KORVA_CALC32_SLOTS(3)
    KORVA_CALC32_SLOTS(4)
    KORVA_CALC32_SLOTS(5)
    KORVA_CALC32_SLOTS(6)
    KORVA_CALC32_SLOTS(7)
    KORVA_CALC32_SLOTS(8)
    KORVA_CALC32_SLOTS(9)
#undef KORVA_CALC32_SLOTS
  copySlots:
    R[in->A.Off] = R[in->B.Off];
    KORVA_NEXT;
  compareJumpSlots : {
    const bool result = Relate(R[in->B.Off], R[in->C.Off], in->Sub);
    R[in->A.Off] = result;
    if (in->Flag & 4) R[in->B.Off] = Widen(static_cast<int64_t>(static_cast<uint64_t>(R[in->B.Off]) + 1), in->Type);
    const bool taken = result == ((in->Flag & 1) != 0);
    if (in->Flag & 2) flag = taken;
    if (taken) KORVA_JUMP;
    KORVA_NEXT;
  }
  calc64 : {
    KORVA_GET(in->B, b);
    KORVA_GET(in->C, c);
    uint64_t r;
    if (!IntegerCalc<uint64_t>(in->Sub, static_cast<uint64_t>(b), static_cast<uint64_t>(c), false, r)) goto fail;
    KORVA_PUT(in->A, static_cast<int64_t>(r));
    KORVA_NEXT;
  }
  compare:
    KORVA_GET(in->B, b);
    KORVA_GET(in->C, c);
    KORVA_PUT(in->A, Relate(b, c, in->Sub));
    KORVA_NEXT;
  compareJump : {
    KORVA_GET(in->B, b);
    KORVA_GET(in->C, c);
    const bool result = Relate(b, c, in->Sub);
    KORVA_PUT(in->A, result);
    if (in->Flag & 4) KORVA_PUT(in->B, Widen(static_cast<int64_t>(static_cast<uint64_t>(b) + 1), in->Type));
    const bool taken = result == ((in->Flag & 1) != 0);
    if (in->Flag & 2) flag = taken;
    if (taken) KORVA_JUMP;
    KORVA_NEXT;
  }
  incDec:
    KORVA_GET(in->A, a);
    KORVA_PUT(in->A, Widen(static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(in->B.K)), in->Type));
    KORVA_NEXT;
  jump:
    KORVA_JUMP;
  jumpIf:
    KORVA_GET(in->A, a);
    if ((a != 0) == (in->Flag != 0)) KORVA_JUMP;
    KORVA_NEXT;
  setFlag:
    KORVA_GET(in->A, a);
    flag = (a != 0) == (in->Flag != 0);
    KORVA_NEXT;
  jumpIfFlag:
    if (flag) KORVA_JUMP;
    KORVA_NEXT;
  call : {
    const TPSRegisterCode& callee = *in->Callee;
    if (!callee.Ready || *status != isRunning) goto fail;
    const size_t calleeBase = base + static_cast<size_t>(in->Frame);
    if (!Room(file.Slots, calleeBase + size_t(callee.FrameSize) + 1, limit)) goto fail;
    R = file.Slots.data();
    if (depth == file.Returns.size()) {
      if (depth >= limit) goto fail;
      try {
        file.Returns.resize(depth < 64 ? 64 : depth * 2);
      } catch (const std::bad_alloc&) {
        goto fail;
      }
    }
    file.Returns[depth++] = {C, in + 1, in->Frame};
    base = calleeBase;
    C = callee.Code.data();
    KORVA_GO(C);
  }
  ret:
    if (depth == 0) return true;
    {
      const TRegReturn& r = file.Returns[--depth];
      base -= static_cast<size_t>(r.Frame);
      C = r.Code;
      KORVA_GO(r.Next);
    }
  exit:
  fail:
    // Loops: the general loops take over at the instruction (which reports
    // any failure); a procedure's form gives the call up.
    resume = in->At;
    return false;
#undef KORVA_GO
#undef KORVA_NEXT
#undef KORVA_JUMP
#undef KORVA_SLOT
#undef KORVA_GET
#undef KORVA_PUT
  }

  static bool Loop(TPSExec& X, const TPSRegisterCode& code, uint32_t head, uint32_t& resume) {
    TPSStack& s = X.FStack;
    const std::vector<TRegParam>& frame = code.Frames[code.FrameOf[head]];
    const int64_t base = X.FCurrStackBase;
    const int64_t d = int64_t(s.Count()) - 1 - base;
    if (d != int64_t(frame.size())) return false;
    for (int64_t k = 1; k <= d; ++k) {
      const TPSTypeRec* t = s.EntryType(static_cast<int>(base + k));
      if (!t || t->FBaseType != frame[size_t(k) - 1].Type) return false;
    }
    TRegFile& file = Registers;
    if (!Room(file.Slots, size_t(code.FrameSize) + 2 + code.Globals.size(), X.FStack.FMaxLength / 16)) return false;
    int64_t* R = file.Slots.data();
    for (int64_t k = 1; k <= d; ++k)
      R[k] = LoadSlot(s.EntryValue(static_cast<int>(base + k)), frame[size_t(k) - 1].Type);
    int64_t* globals = R + code.FrameSize + 1;
    for (size_t g = 0; g < code.Globals.size(); ++g)
      globals[g] = code.Globals[g].P ? LoadSlot(code.Globals[g].P, code.Globals[g].Type) : code.Globals[g].K;
    bool flag = X.FJumpFlag;
    Execute<true>(X, code, code.Code.data() + code.Entries[head], 0, flag, resume);
    globals = file.Slots.data() + code.FrameSize + 1;
    for (size_t g = 0; g < code.Globals.size(); ++g)
      if (code.Globals[g].P) StoreSlot(code.Globals[g].P, code.Globals[g].Type, globals[g]);
    // The frame as the general loops have it before that instruction: the
    // entries of the same type stay, the rest are made again.
    const std::vector<TRegParam>& out = code.Frames[code.FrameOf[resume]];
    size_t keep = 0;
    while (keep < out.size() && int64_t(keep) < d &&
           s.EntryType(static_cast<int>(base + 1 + int64_t(keep))) == out[keep].Rec)
      ++keep;
    while (int64_t(s.Count()) > base + 1 + int64_t(keep))
      if (!s.PopPlain()) s.Pop();
    for (size_t k = keep; k < out.size(); ++k)
      if (!s.PushType(const_cast<TPSTypeRec*>(out[k].Rec))) {
        X.CMD_Err(erOutOfMemory);
        return true;
      }
    R = file.Slots.data();
    for (size_t k = 0; k < out.size(); ++k)
      StoreSlot(s.EntryValue(static_cast<int>(base + 1 + int64_t(k))), out[k].Type, R[k + 1]);
    X.FJumpFlag = flag;
    return true;
  }

  static bool Run(TPSExec& X, TPSInternalProcRec& proc) {
    TPSStack& s = X.FStack;
    const int count = s.Count();
    if (!proc.FRegister) {
      // The first call: the form for the kinds of the arguments it has (a
      // procedure's parameters have the same kinds at every call).
      const int32_t reach = ParameterReach(DecodeProc(X, proc));
      std::vector<TRegParam> params;
      for (int32_t j = 0; j < reach && j < count; ++j) {
        const TPSTypeRec* t = s.EntryType(count - 1 - j);
        if (!t) break;
        if (t->FBaseType == btPointer) {
          const auto pv = Load<TPSPointerValue>(s.EntryValue(count - 1 - j));
          if (!pv.Type || pv.Owning || !RegisterKind(pv.Type->FBaseType)) break;
          params.push_back({pv.Type->FBaseType, true});
        } else if (!t->FManaged && RegisterKind(t->FBaseType)) {
          params.push_back({t->FBaseType, false});
        } else {
          break;
        }
      }
      if (reach < 0 || params.size() != size_t(reach)) {
        proc.FRegister = std::make_unique<TPSRegisterCode>();
        return false;
      }
      if (!TranslateRegisters(X, proc, params)) return false;
    }
    TPSRegisterCode& code = *proc.FRegister;
    if (!code.Ready) return false;
    const size_t r = code.Params.size();
    if (size_t(count) < r) return false;
    // The arguments as the form expects them; var parameters get slots of
    // their own below the arguments, written back when the call is done.
    void* targets[8];
    size_t refs = 0;
    for (size_t j = 0; j < r; ++j) {
      const TRegParam& p = code.Params[j];
      const TPSTypeRec* t = s.EntryType(count - 1 - int(j));
      if (!t) return false;
      if (!p.Ref) {
        if (t->FBaseType != p.Type) return false;
        continue;
      }
      if (t->FBaseType != btPointer || refs == std::size(targets)) return false;
      const auto pv = Load<TPSPointerValue>(s.EntryValue(count - 1 - int(j)));
      if (!pv.Target || !pv.Type || pv.Owning || pv.Type->FBaseType != p.Type) return false;
      for (size_t k = 0; k < refs; ++k)
        if (targets[k] == pv.Target) return false;
      targets[refs++] = pv.Target;
    }
    TRegFile& file = Registers;
    const size_t base = refs + r;
    if (!Room(file.Slots, base + size_t(code.FrameSize) + 1, X.FStack.FMaxLength / 16)) return false;
    int64_t* R = file.Slots.data();
    for (size_t j = 0, k = 0; j < r; ++j) {
      const TRegParam& p = code.Params[j];
      const uint8_t* v = s.EntryValue(count - 1 - int(j));
      if (p.Ref) {
        R[k] = LoadSlot(targets[k], p.Type);
        R[base - 1 - j] = static_cast<int64_t>(k++);
      } else {
        R[base - 1 - j] = LoadSlot(v, p.Type);
      }
    }
    bool flag = X.FJumpFlag;
    uint32_t resume;
    const bool done = Execute<false>(X, code, code.Code.data(), base, flag, resume);
    if (done) {
      R = file.Slots.data();
      for (size_t j = 0, k = 0; j < r; ++j)
        if (code.Params[j].Ref) {
          StoreSlot(targets[k], code.Params[j].Type, R[k]);
          ++k;
        }
      X.FJumpFlag = flag;
    } else {
      // From now on the ordinary way: it runs this call again from its start.
      code.Ready = false;
    }
    if (file.Slots.size() > KeptSlots) {
      file.Slots = {};
      file.Returns = {};
    }
    return done;
  }
};

bool RunRegisters(TPSExec& exec, TPSInternalProcRec& proc) { return TPSRegisterRunner::Run(exec, proc); }

bool RunLoop(TPSExec& exec, const TPSRegisterCode& code, uint32_t head, uint32_t& resume) {
  return TPSRegisterRunner::Loop(exec, code, head, resume);
}

}  // namespace ps
