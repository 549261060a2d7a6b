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

bool Ordinal(TPSBaseType b) { return b == btU8 || b == btS32 || b == btU32 || b == btS64; }

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

}  // namespace

struct TPSRegisterRunner {
// Runs the code with its frame base at `base`; false when it gives up.
static bool Execute(TPSExec& X, const TPSRegisterCode& root, size_t base, bool& flag) {
  static const void* const Labels[] = {
      &&zero,  &&copy, &&convert, &&unary,        &&refSlot, &&refCopy,    &&calc32,  &&calc64,       &&compare,
      &&compareJump, &&incDec, &&jump,    &&jumpIf,     &&setFlag, &&jumpIfFlag,   &&call,
      &&ret,
  };
  static_assert(sizeof Labels / sizeof Labels[0] == RgReturn + 1);
  TRegFile& file = Registers;
  // Each stack entry takes 16 bytes or more: a frame deeper than this would
  // not fit on the stack either.
  const size_t limit = X.FStack.FMaxLength / 16;
  size_t depth = 0;
  int64_t* R = file.Slots.data();
  const TRegInstr* C = root.Code.data();
  const TRegInstr* in = C;
  const volatile TPSStatus* const status = &X.FStatus;
#define KORVA_GO(p)        \
  do {                     \
    in = (p);              \
    goto* Labels[in->Op];  \
  } while (false)
#define KORVA_NEXT KORVA_GO(in + 1)
  // A jump back looks for a Stop (from a signal handler or a host callback).
#define KORVA_JUMP                                                \
  do {                                                            \
    const TRegInstr* to = C + in->Target;                         \
    if (to <= in && *status != isRunning) return false;           \
    KORVA_GO(to);                                                 \
  } while (false)
#define KORVA_READ(o) ((o).Kind == RoSlot ? R[base + (o).Off] : (o).Kind == RoRef ? R[R[base + (o).Off]] : (o).K)
#define KORVA_WRITE(o) (*((o).Kind == RoSlot ? &R[base + (o).Off] : &R[R[base + (o).Off]]))
  KORVA_GO(in);
zero:
  R[base + in->A.Off] = 0;
  KORVA_NEXT;
copy:
  KORVA_WRITE(in->A) = KORVA_READ(in->B);
  KORVA_NEXT;
convert:
  KORVA_WRITE(in->A) = Widen(KORVA_READ(in->B), in->Type);
  KORVA_NEXT;
unary : {
  int64_t& a = KORVA_WRITE(in->A);
  if (in->Sub == OpBoolNot)
    a = a == 0;
  else
    a = Widen(static_cast<int64_t>(in->Sub == OpNegate ? 0 - static_cast<uint64_t>(a) : ~static_cast<uint64_t>(a)),
              in->Type);
  KORVA_NEXT;
}
refSlot:
  R[base + in->A.Off] = static_cast<int64_t>(base) + in->B.Off;
  KORVA_NEXT;
refCopy:
  R[base + in->A.Off] = R[base + in->B.Off];
  KORVA_NEXT;
calc32 : {
  int64_t& a = KORVA_WRITE(in->A);
  uint32_t r;
  if (!IntegerCalc<uint32_t>(in->Sub, static_cast<uint32_t>(a), static_cast<uint32_t>(KORVA_READ(in->B)), in->Flag,
                             r))
    return false;
  a = in->Flag ? int64_t{r} : int64_t{static_cast<int32_t>(r)};
  KORVA_NEXT;
}
calc64 : {
  int64_t& a = KORVA_WRITE(in->A);
  uint64_t r;
  if (!IntegerCalc<uint64_t>(in->Sub, static_cast<uint64_t>(a), static_cast<uint64_t>(KORVA_READ(in->B)), false, r))
    return false;
  a = static_cast<int64_t>(r);
  KORVA_NEXT;
}
compare:
  KORVA_WRITE(in->A) = Relate(KORVA_READ(in->B), KORVA_READ(in->C), in->Sub);
  KORVA_NEXT;
compareJump : {
  const bool result = Relate(KORVA_READ(in->B), KORVA_READ(in->C), in->Sub);
  KORVA_WRITE(in->A) = result;
  bool taken = result == ((in->Flag & 1) != 0);
  if (in->Flag & 2) flag = taken;
  if (taken) KORVA_JUMP;
  KORVA_NEXT;
}
incDec : {
  int64_t& a = KORVA_WRITE(in->A);
  a = Widen(static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(in->B.K)), in->Type);
  KORVA_NEXT;
}
jump:
  KORVA_JUMP;
jumpIf:
  if ((KORVA_READ(in->A) != 0) == (in->Flag != 0)) KORVA_JUMP;
  KORVA_NEXT;
setFlag:
  flag = (KORVA_READ(in->A) != 0) == (in->Flag != 0);
  KORVA_NEXT;
jumpIfFlag:
  if (flag) KORVA_JUMP;
  KORVA_NEXT;
call : {
  const TPSRegisterCode& callee = *in->Callee;
  if (!callee.Ready || *status != isRunning) return false;
  const size_t calleeBase = base + static_cast<size_t>(in->Frame);
  if (!Room(file.Slots, calleeBase + size_t(callee.FrameSize) + 1, limit)) return false;
  R = file.Slots.data();
  if (depth == file.Returns.size()) {
    if (depth >= limit) return false;
    try {
      file.Returns.resize(depth < 64 ? 64 : depth * 2);
    } catch (const std::bad_alloc&) {
      return false;
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
#undef KORVA_GO
#undef KORVA_NEXT
#undef KORVA_JUMP
#undef KORVA_READ
#undef KORVA_WRITE
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
        if (!pv.Type || pv.Owning || !Ordinal(pv.Type->FBaseType)) break;
        params.push_back({pv.Type->FBaseType, true});
      } else if (!t->FManaged && Ordinal(t->FBaseType)) {
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
  const bool done = Execute(X, code, base, flag);
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

}  // namespace ps
