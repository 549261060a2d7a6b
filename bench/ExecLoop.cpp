// Executor speed on a tight integer loop, run as the program runs scripts:
// through TPSDebugExec with debug information loaded.
//
//   i := 0; sum := 0;
//   repeat sum := sum + i; i := i + 1 until not (i < N)   (4 instructions a turn)
#include <cstdio>
#include <ctime>

#include "engine/uPSDebugger.h"
#include "tests/engine/runtime/ModuleBuilder.h"

using namespace ps;
using namespace ps::test;

namespace {

constexpr int32_t Turns = 20'000'000;

std::string Position(uint32_t pos, uint32_t row) {
  std::string r(1, char(DebugPosition));
  r += std::string("loop.pas") + '\x01';
  for (uint32_t v : {0u, pos, row * 10, row, 1u}) r += TModuleBuilder::U32s(v);
  return r;
}

double Seconds(TPSDebugExec& exec) {
  std::clock_t start = std::clock();  // processor time: the machine may be shared
  if (!exec.RunScript()) std::printf("run failed: %s\n", rtl::UnicodeToUtf8(exec.ExceptionString()).c_str());
  return double(std::clock() - start) / CLOCKS_PER_SEC;
}

}  // namespace

int main() {
  TModuleBuilder b;
  uint32_t s32 = b.Type(btS32), u8 = b.Named(btU8, "BOOLEAN");
  b.Var(s32);  // i
  b.Var(s32);  // sum
  b.Var(u8);   // flag
  TCode c;
  c.Assign().Var(G(0)).Const<int32_t>(s32, 0);
  c.Assign().Var(G(1)).Const<int32_t>(s32, 0);
  size_t loop = c.Bytes.size();
  c.Mark(1);
  c.Calc(CalcAdd).Var(G(1)).Var(G(0));
  size_t inc = c.Bytes.size();
  c.Op(OpIncrement).Var(G(0));
  size_t cmp = c.Bytes.size();
  c.Compare(CmpLess).Var(G(2)).Var(G(0)).Const<int32_t>(s32, Turns);
  c.Op(OpJumpIfTrue).JumpField(1).Var(G(2)).EndJump();
  c.Ret();
  b.Main(c);
  std::string debug = Position(0, 1) + Position(static_cast<uint32_t>(loop), 3) +
                      Position(static_cast<uint32_t>(inc), 4) + Position(static_cast<uint32_t>(cmp), 5);

  TPSDebugExec exec;
  if (!exec.LoadData(b.Build())) return 1;
  exec.LoadDebugData(debug);
  const double instructions = 2.0 + 4.0 * Turns + 1;

  double plain = Seconds(exec);
  std::printf(
      "tight loop, debug executor, no handlers: %.0f instructions in %.3f s of processor time = %.1f million/s (sum %d)\n",
      instructions, plain, instructions / plain / 1e6, exec.GlobalVars().GetInt(1));

  long count = 0;
  exec.SetOnRunLine([&](TPSExec*) { ++count; });
  double hooked = Seconds(exec);
  std::printf(
      "tight loop, debug executor, OnRunLine set:  %ld instructions in %.3f s of processor time = %.1f million/s\n",
      count, hooked, count / hooked / 1e6);
  return 0;
}
