// Executor speed on deep recursive calls, through TPSDebugExec with debug
// information loaded:
//
//   function Fib(n: Integer): Integer;
//   begin if n < 2 then Result := n else Result := Fib(n - 1) + Fib(n - 2) end;
//
// and a recursion 1,000,000 calls deep (the value stack grows and moves).
#include <cstdio>
#include <ctime>

#include "engine/uPSDebugger.h"
#include "tests/engine/runtime/ModuleBuilder.h"

using namespace ps;
using namespace ps::test;

namespace {

std::string Position(uint32_t proc, uint32_t pos, uint32_t row) {
  std::string r(1, char(DebugPosition));
  r += std::string("fib.pas") + '\x01';
  for (uint32_t v : {proc, pos, row * 10, row, 1u}) r += TModuleBuilder::U32s(v);
  return r;
}

void Measure(const char* what, TPSDebugExec& exec) {
  long count = 0;
  exec.SetOnRunLine([&](TPSExec*) { ++count; });
  exec.RunScript();  // counts the instructions (not timed)
  exec.SetOnRunLine(nullptr);
  std::clock_t start = std::clock();  // processor time: the machine may be shared
  if (!exec.RunScript()) std::printf("run failed: %s\n", rtl::UnicodeToUtf8(exec.ExceptionString()).c_str());
  double s = double(std::clock() - start) / CLOCKS_PER_SEC;
  std::printf("%s: %ld instructions in %.3f s of processor time = %.1f million/s (result %d)\n", what, count, s,
              count / s / 1e6, exec.GlobalVars().GetInt(0));
}

}  // namespace

int main() {
  {
    TModuleBuilder b;
    uint32_t s32 = b.Type(btS32), flag = b.Named(btU8, "BOOLEAN");
    b.Type(btPointer);
    b.Var(s32);  // result of Fib(27)
    TCode main;
    main.Push().Const<int32_t>(s32, 27).PushVarRef().Var(G(0)).Call(1).Pop().Pop().Ret();
    TCode fib;           // L(-1): result pointer, L(-2): n
    fib.PushType(flag);  // local 1: n < 2
    fib.PushType(s32);   // local 2: Fib(n - 2)
    fib.Compare(CmpLess).Var(L(1)).Var(L(-2)).Const<int32_t>(s32, 2);
    fib.Op(OpJumpIfFalse).JumpField(1).Var(L(1)).EndJump();
    fib.Assign().Var(L(-1)).Var(L(-2));
    fib.Ret();
    fib.Mark(1);
    fib.Push().Var(L(-2));
    fib.Op(OpDecrement).Var(L(3));
    fib.PushVarRef().Var(L(-1));
    fib.Call(1);
    fib.Pop();
    fib.Op(OpDecrement).Var(L(3));
    fib.PushVarRef().Var(L(2));
    fib.Call(1);
    fib.Pop().Pop();
    fib.Calc(CalcAdd).Var(L(-1)).Var(L(2));
    fib.Ret();
    b.Main(main);
    b.Proc(fib);
    TPSDebugExec exec;
    if (!exec.LoadData(b.Build())) return 1;
    exec.LoadDebugData(Position(0, 0, 1) + Position(1, 0, 3) + Position(1, 10, 4));
    Measure("Fib(27), debug executor", exec);
  }
  {
    // procedure Down(n: Integer); begin if n > 0 then Down(n - 1) end; Down(1000000)
    TModuleBuilder b;
    uint32_t s32 = b.Type(btS32), flag = b.Named(btU8, "BOOLEAN");
    b.Type(btPointer);
    b.Var(s32);
    TCode main;
    main.Assign().Var(G(0)).Const<int32_t>(s32, 0);
    main.Push().Const<int32_t>(s32, 1000000).Call(1).Pop().Ret();
    TCode down;
    down.PushType(flag);
    down.Compare(CmpGreater).Var(L(1)).Var(L(-1)).Const<int32_t>(s32, 0);
    down.Op(OpJumpIfFalse).JumpField(1).Var(L(1)).EndJump();
    down.Push().Var(L(-1));
    down.Op(OpDecrement).Var(L(2));
    down.Call(1);
    down.Pop();
    down.Op(OpIncrement).Var(G(0));
    down.Mark(1);
    down.Ret();
    b.Main(main);
    b.Proc(down);
    TPSDebugExec exec;
    if (!exec.LoadData(b.Build())) return 1;
    exec.LoadDebugData(Position(0, 0, 1) + Position(1, 0, 3));
    Measure("recursion 1,000,000 deep, debug executor", exec);
  }
  return 0;
}
