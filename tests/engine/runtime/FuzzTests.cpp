// Random and mutated modules: whatever loads runs under an instruction
// budget, and nothing may crash (this also runs in the sanitizer build).
#include <cstdlib>
#include <random>

#include "engine/uPSDebugger.h"
#include "tests/engine/runtime/TestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

constexpr int InstructionBudget = 3000;

// KORVA_FUZZ_SEED runs other seeds than the fixed ones of the suite.
uint32_t Seed(uint32_t fixed) {
  const char* env = std::getenv("KORVA_FUZZ_SEED");
  return env ? fixed ^ static_cast<uint32_t>(std::strtoul(env, nullptr, 10)) : fixed;
}
long gExecuted = 0;  // instructions run across all modules

// A type table with every kind, and globals of each.
struct TFuzzTypes {
  std::vector<uint32_t> All;
  void Add(TModuleBuilder& b) {
    for (uint8_t bt : {btU8, btS8, btU16, btS16, btU32, btS32, btSingle, btDouble, btExtended, btString, btPointer,
                       btPChar, btVariant, btS64, btChar, btWideString, btWideChar, btCurrency, btUnicodeString})
      All.push_back(b.Type(bt));
    uint32_t s32 = All[5], str = All[18];
    All.push_back(b.Record({s32, str, All[12]}));
    All.push_back(b.DynArray(s32));
    All.push_back(b.DynArray(All[12]));  // array of variant
    All.push_back(b.StaticArray(str, 3, 1));
    All.push_back(b.Set(256));
    All.push_back(b.Set(9));
    All.push_back(b.ProcPtr(std::string("\x01\x00", 2)));
    All.push_back(b.Class("TOBJECT"));
    All.push_back(b.Named(btU8, "BOOLEAN"));
    for (uint32_t t : All) b.Var(t);
  }
};

struct TGenerator {
  std::mt19937 Rng;
  explicit TGenerator(uint32_t seed) : Rng(seed) {}
  uint32_t Below(uint32_t n) { return n ? Rng() % n : 0; }
  bool Chance(int percent) { return Below(100) < static_cast<uint32_t>(percent); }

  uint32_t Ref(uint32_t globals) {
    uint32_t roll = Below(100);
    if (roll < 65) return Below(globals);
    if (roll < 85) return L(static_cast<int32_t>(Below(4)) + 1);
    if (roll < 93) return L(static_cast<int32_t>(Below(4)) - 3);
    if (roll < 97) return PSStackReferenceStart + Below(4);
    return Below(globals + 3);
  }

  // A constant of a random type of the table, encoded as its kind requires
  // most of the time.
  void Constant(TCode& c, const TFuzzTypes& types) {
    // Encoded widths by position in the table; -1 strings, -2 wide strings, 0 none.
    static const int widths[] = {1, 1,  2, 2, 4,  4, 4, 8, 10, -1, 0, -1, 0, 8,
                                 1, -2, 2, 0, -2, 0, 0, 0, 0,  32, 2, 4,  0, 1};
    uint32_t i = Below(static_cast<uint32_t>(types.All.size()));
    c.Byte(OperandConst).U32(types.All[i]);
    int w = widths[i];
    if (Chance(10)) w = static_cast<int>(Below(5));
    if (w < 0) {
      uint32_t n = Below(5);
      c.U32(n);
      for (uint32_t k = 0; k < n * (w == -2 ? 2 : 1); ++k) c.Byte(static_cast<uint8_t>('a' + Below(26)));
      return;
    }
    for (int k = 0; k < w; ++k) c.Byte(static_cast<uint8_t>(Chance(50) ? Below(4) : Rng()));
  }

  void Operand(TCode& c, const TFuzzTypes& types, uint32_t globals) {
    switch (Below(10)) {
      case 0:
      case 1: Constant(c, types); break;
      case 2: c.Elem(Ref(globals), Below(4)); break;
      case 3: c.ElemVar(Ref(globals), Ref(globals)); break;
      case 4:
        if (Chance(20)) {
          c.Byte(static_cast<uint8_t>(Below(6))).U32(Ref(globals));
          break;
        }
        [[fallthrough]];
      default: c.Var(Ref(globals)); break;
    }
  }

  TCode Procedure(const TFuzzTypes& types, uint32_t globals, uint32_t procs) {
    TCode c;
    // Half the procedures catch their errors and run their body again, so a
    // module keeps running into further instructions until the budget ends.
    bool guarded = Chance(50);
    if (guarded) c.Mark(900).TryBegin(-1, 901, -1, 902);
    int count = 1 + static_cast<int>(Below(60));
    for (int i = 0; i < count; ++i) {
      static const uint8_t common[] = {OpAssign, OpAssign,    OpCalculate, OpCalculate,  OpCompare,
                                       OpPush,   OpPushType,  OpPushType,  OpPushVarRef, OpPop,
                                       OpCall,   OpIncrement, OpTryBegin,  OpTryEnd};
      uint8_t op = Chance(60) ? common[Below(sizeof common)] : static_cast<uint8_t>(Below(28));
      if (op == 10 && Chance(90)) op = OpNop;
      c.Op(op);
      switch (op) {
        case OpAssign:
        case OpSetPointer:
        case OpSetPointerCopy:
          Operand(c, types, globals);
          Operand(c, types, globals);
          break;
        case OpCalculate:
          c.Byte(static_cast<uint8_t>(Below(12)));
          Operand(c, types, globals);
          Operand(c, types, globals);
          break;
        case OpCompare:
          c.Byte(static_cast<uint8_t>(Below(9)));
          Operand(c, types, globals);
          Operand(c, types, globals);
          Operand(c, types, globals);
          break;
        case OpPush:
        case OpPushVarRef:
        case OpCallVar:
        case OpBoolNot:
        case OpNegate:
        case OpBitNot:
        case OpIncrement:
        case OpDecrement: Operand(c, types, globals); break;
        case OpSetFlag:
          Operand(c, types, globals);
          c.Byte(static_cast<uint8_t>(Below(2)));
          break;
        case OpCall: c.U32(Below(procs + 1)); break;
        case OpPushType: c.U32(Below(static_cast<uint32_t>(types.All.size()) + 1)); break;
        case OpJump:
        case OpJumpIfFlag:
        case OpPopJump:
        case OpPop2Jump: c.I32(static_cast<int32_t>(Below(40)) - 20); break;
        case OpJumpIfTrue:
        case OpJumpIfFalse:
          c.I32(static_cast<int32_t>(Below(40)) - 20);
          Operand(c, types, globals);
          break;
        case OpTryBegin:
          for (int k = 0; k < 4; ++k) c.I32(Chance(40) ? -1 : static_cast<int32_t>(Below(60)));
          break;
        case OpTryEnd: c.Byte(static_cast<uint8_t>(Below(5))); break;
        default: break;
      }
    }
    if (guarded) c.TryEnd(0).Mark(901).TryEnd(2).Mark(902).Jump(900);
    c.Ret();
    return c;
  }

  std::string Module() {
    TModuleBuilder b;
    TFuzzTypes types;
    types.Add(b);
    uint32_t globals = static_cast<uint32_t>(types.All.size());
    uint32_t procs = 1 + Below(4);
    for (uint32_t p = 0; p < procs; ++p) {
      TCode code = Procedure(types, globals, procs);
      if (p == 0)
        b.Main(code);
      else
        b.Proc(code);
    }
    return b.Build();
  }

  std::string Mutate(std::string m) {
    int edits = 1 + static_cast<int>(Below(8));
    for (int i = 0; i < edits && !m.empty(); ++i) {
      size_t at = Below(static_cast<uint32_t>(m.size()));
      switch (Below(4)) {
        case 0: m[at] = static_cast<char>(Rng()); break;
        case 1: m[at] ^= static_cast<char>(1u << Below(8)); break;
        case 2: m.resize(std::max<size_t>(at, 28)); break;
        default: m.insert(at, 1, static_cast<char>(Rng())); break;
      }
    }
    return m;
  }
};

void RunWithBudget(TPSDebugExec& exec, const std::string& module, const std::string& debug) {
  if (!exec.LoadData(module)) return;
  exec.LoadDebugData(debug);
  exec.Stack().SetMaxLength(1 << 20);
  int steps = 0;
  exec.SetOnRunLine([&](TPSExec* e) {
    ++gExecuted;
    if (++steps > InstructionBudget) e->Stop();
  });
  for (int run = 0; run < 2; ++run) {
    exec.RunScript();
    // A run left paused by an error may be resumed once, then is stopped.
    if (exec.Status() == isPaused && run == 0) continue;
    exec.Stop();
  }
  exec.Stop();
  for (int p = 0; p < exec.GetProcCount(); ++p) exec.RunProc({}, p);
}

}  // namespace

TEST(Fuzz, GeneratedModulesNeverCrash) {
  TGenerator gen(Seed(12345));
  int loaded = 0;
  gExecuted = 0;
  for (int i = 0; i < 1500; ++i) {
    TPSDebugExec exec;
    std::string module = gen.Module();
    if (exec.LoadData(module)) ++loaded;
    RunWithBudget(exec, module, {});
  }
  EXPECT_GT(loaded, 1000);       // the generator writes valid tables
  EXPECT_GT(gExecuted, 500000);  // the modules run deep, not only into their first error
}

TEST(Fuzz, MutatedModulesNeverCrash) {
  TGenerator gen(Seed(777));
  for (int i = 0; i < 3000; ++i) {
    TPSDebugExec exec;
    std::string debug;
    if (gen.Chance(30)) {
      for (uint32_t n = gen.Below(60); n > 0; --n) debug.push_back(static_cast<char>(gen.Below(6)));
    }
    RunWithBudget(exec, gen.Mutate(gen.Module()), debug);
  }
}

TEST(Fuzz, RandomBytesAfterAValidHeaderNeverCrash) {
  TGenerator gen(Seed(99));
  for (int i = 0; i < 3000; ++i) {
    std::string m = TModuleBuilder().Build().substr(0, 8);
    for (int k = 0; k < 4; ++k) m += TModuleBuilder::U32s(gen.Below(6));
    m += TModuleBuilder::U32s(gen.Chance(50) ? 0 : PSNoMainProc) + TModuleBuilder::U32s(0);
    for (uint32_t n = gen.Below(200); n > 0; --n)
      m.push_back(static_cast<char>(gen.Chance(50) ? gen.Below(30) : gen.Rng()));
    TPSDebugExec exec;
    RunWithBudget(exec, m, {});
  }
}
