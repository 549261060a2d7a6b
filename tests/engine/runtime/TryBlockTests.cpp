// Try blocks: finally and except parts on errors, on exit, nested errors.
#include "tests/engine/runtime/TestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

struct TTry {
  TModuleBuilder B;
  uint32_t S32;
  TTry() {
    S32 = B.Type(btS32);
    for (int i = 0; i < 4; ++i) B.Var(S32);
  }
};

// Host functions of the tests: RECORD notes LastEx and LastExParam; FAIL raises.
struct TSeen {
  std::vector<TPSError> Codes;
  std::vector<std::u16string> Params;
};
TSeen* gSeen = nullptr;

void RegisterHelpers(TPSExec& exec) {
  exec.RegisterFunctionName(
      "RECORD",
      [](TPSExec* e, TPSExternalProcRec*, TPSStack*, TPSStack*) {
        gSeen->Codes.push_back(e->LastEx());
        gSeen->Params.push_back(e->LastExParam());
        return true;
      },
      nullptr, nullptr);
  exec.RegisterFunctionName(
      "FAIL", [](TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack*) -> bool { throw rtl::Exception("second"); },
      nullptr, nullptr);
}

TRunResult RunTry(TTry& t, TSeen& seen) {
  gSeen = &seen;
  auto exec = std::make_unique<TPSExec>();
  RegisterHelpers(*exec);
  EXPECT_TRUE(exec->LoadData(t.B.Build()));
  bool ok = exec->RunScript();
  return {std::move(exec), ok};
}

}  // namespace

TEST(TryBlocks, FinallyRunsOnAnErrorAndTheOriginalErrorIsReported) {
  TTry t;
  TCode c;
  c.TryBegin(1, -1, -1, 2);
  c.Op(OpIncrement).Var(G(0));
  size_t failing = c.Bytes.size();
  c.Calc(CalcDiv).Var(G(0)).Var(G(3));
  c.Op(OpIncrement).Var(G(0));  // not reached
  c.TryEnd(0);
  c.Mark(1).Op(OpIncrement).Var(G(1)).TryEnd(1);
  c.Mark(2).Op(OpIncrement).Var(G(2)).Ret();
  t.B.Main(c);
  TSeen seen;
  auto r = RunTry(t, seen);
  EXPECT_FALSE(r.Ok);
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetInt(0), 1);
  EXPECT_EQ(g.GetInt(1), 1);  // the finally part ran
  EXPECT_EQ(g.GetInt(2), 0);  // nothing after the block
  EXPECT_EQ(r.Code(), ErDivideByZero);
  EXPECT_EQ(r.Param(), "Division by zero");
  EXPECT_EQ(r.Exec->ExceptionProcNo(), 0);
  EXPECT_GT(r.Exec->ExceptionPos(), static_cast<int32_t>(failing));
  EXPECT_LE(r.Exec->ExceptionPos(), static_cast<int32_t>(failing + 12));
}

TEST(TryBlocks, FinallyRunsOnExitAndTheProcedureReturnsNormally) {
  TTry t;
  TCode main;
  main.Call(1);
  main.Op(OpIncrement).Var(G(2));
  main.Ret();
  TCode proc;
  proc.PushType(t.S32);
  proc.TryBegin(1, -1, -1, 2);
  proc.PushType(t.S32);
  proc.Ret();  // exit inside the guarded part
  proc.Assign().Var(G(0)).Const<int32_t>(t.S32, -1);
  proc.TryEnd(0);
  proc.Mark(1).Op(OpIncrement).Var(G(1)).TryEnd(1);
  proc.Mark(2).Assign().Var(G(0)).Const<int32_t>(t.S32, -2);
  proc.Ret();
  t.B.Main(main);
  t.B.Proc(proc);
  TSeen seen;
  auto r = RunTry(t, seen);
  ASSERT_TRUE(r.Ok) << r.Text();
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetInt(0), 0);
  EXPECT_EQ(g.GetInt(1), 1);
  EXPECT_EQ(g.GetInt(2), 1);
}

TEST(TryBlocks, ExceptHandlesTheErrorAndLastExDescribesItWhileItRuns) {
  TTry t;
  TCode c;
  c.TryBegin(-1, 1, -1, 2);
  c.Calc(CalcDiv).Var(G(0)).Var(G(3));
  c.TryEnd(0);
  c.Mark(1).Call(1).TryEnd(2);
  c.Mark(2).Call(1).Op(OpIncrement).Var(G(2)).Ret();
  t.B.Main(c);
  t.B.External("RECORD");
  TSeen seen;
  auto r = RunTry(t, seen);
  ASSERT_TRUE(r.Ok) << r.Text();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(2), 1);
  ASSERT_EQ(seen.Codes.size(), 2u);
  EXPECT_EQ(seen.Codes[0], ErDivideByZero);
  EXPECT_EQ(seen.Params[0], u"Division by zero");
  EXPECT_EQ(seen.Codes[1], ErNoError);  // after the block the error is gone
  EXPECT_EQ(r.Code(), ErNoError);
}

TEST(TryBlocks, ErrorInsideExceptRunsTheSecondFinallyAndUnwindsFurther) {
  TTry t;
  TCode c;
  c.TryBegin(-1, 10, -1, 11);  // outer: try ... except
  c.TryBegin(-1, 1, 2, 3);     // inner: try ... except ... finally
  c.Calc(CalcDiv).Var(G(0)).Var(G(3));
  c.TryEnd(0);
  c.Mark(1).Call(2).TryEnd(2);  // the except part fails with "second"
  c.Mark(2).Op(OpIncrement).Var(G(1)).TryEnd(3);
  c.Mark(3).Op(OpIncrement).Var(G(2));  // not reached
  c.TryEnd(0);
  c.Mark(10).Call(1).TryEnd(2);  // outer except records the error
  c.Mark(11).Ret();
  t.B.Main(c);
  t.B.External("RECORD");
  t.B.External("FAIL");
  TSeen seen;
  auto r = RunTry(t, seen);
  ASSERT_TRUE(r.Ok) << r.Text();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(1), 1);  // the second finally part ran once
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(2), 0);
  ASSERT_EQ(seen.Codes.size(), 1u);
  EXPECT_EQ(seen.Codes[0], erException);
  EXPECT_EQ(seen.Params[0], u"second");
}

TEST(TryBlocks, ErrorInACalledProcedureUnwindsItsFramesToTheCallersHandler) {
  TTry t;
  TCode main;
  main.PushType(t.S32);
  main.TryBegin(-1, 1, -1, 2);
  main.PushType(t.S32);
  main.Call(1);
  main.TryEnd(0);
  main.Mark(1).Op(OpIncrement).Var(G(1)).TryEnd(2);
  main.Mark(2).Op(OpIncrement).Var(L(1));  // the caller's local is still addressable
  main.Assign().Var(G(2)).Var(L(1));
  main.Ret();
  TCode proc;
  proc.PushType(t.S32).PushType(t.S32);
  proc.TryBegin(1, -1, -1, 2);
  proc.Calc(CalcMod).Var(G(0)).Var(G(3));
  proc.TryEnd(0);
  proc.Mark(1).Op(OpIncrement).Var(G(0)).TryEnd(1);
  proc.Mark(2).Ret();
  t.B.Main(main);
  t.B.Proc(proc);
  TSeen seen;
  auto r = RunTry(t, seen);
  ASSERT_TRUE(r.Ok) << r.Text();
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetInt(0), 1);  // the callee's finally part ran
  EXPECT_EQ(g.GetInt(1), 1);  // the caller's except part ran
  EXPECT_EQ(g.GetInt(2), 1);
  EXPECT_EQ(r.Exec->Stack().Count(), 0);
}

TEST(TryBlocks, ReturnThroughNestedFinallyPartsRunsEachOnce) {
  TTry t;
  TCode main;
  main.Call(1).Ret();
  TCode proc;
  proc.TryBegin(1, -1, -1, 2);
  proc.TryBegin(3, -1, -1, 4);
  proc.Ret();
  proc.TryEnd(0);
  proc.Mark(3).Op(OpIncrement).Var(G(0)).TryEnd(1);
  proc.Mark(4).Assign().Var(G(2)).Const<int32_t>(t.S32, 99);  // skipped by the exit
  proc.TryEnd(0);
  proc.Mark(1).Op(OpIncrement).Var(G(1)).TryEnd(1);
  proc.Mark(2).Assign().Var(G(2)).Const<int32_t>(t.S32, 98);
  proc.Ret();
  t.B.Main(main);
  t.B.Proc(proc);
  TSeen seen;
  auto r = RunTry(t, seen);
  ASSERT_TRUE(r.Ok) << r.Text();
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetInt(0), 1);
  EXPECT_EQ(g.GetInt(1), 1);
  EXPECT_EQ(g.GetInt(2), 0);
}

TEST(TryBlocks, OnExceptionSeesErrorsBeforeHandlersRun) {
  TTry t;
  TCode c;
  c.TryBegin(-1, 1, -1, 2);
  c.Calc(CalcDiv).Var(G(0)).Var(G(3));
  c.TryEnd(0);
  c.Mark(1).TryEnd(2);
  c.Mark(2).Ret();
  t.B.Main(c);
  auto exec = std::make_unique<TPSExec>();
  ASSERT_TRUE(exec->LoadData(t.B.Build()));
  int calls = 0;
  int32_t procSeen = -5;
  exec->SetOnException(
      [&](TPSExec*, TPSError code, const rtl::UnicodeString& param, std::exception_ptr obj, int32_t proc, int32_t) {
        ++calls;
        procSeen = proc;
        EXPECT_EQ(code, ErDivideByZero);
        EXPECT_EQ(param, u"Division by zero");
        EXPECT_TRUE(obj);
      });
  EXPECT_TRUE(exec->RunScript());
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(procSeen, 0);
}
