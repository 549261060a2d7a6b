// Debug information, position translation and stepping.
#include "engine/uPSDebugger.h"
#include "tests/engine/runtime/TestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

// Debug information records, written as the compiler writes them.
struct TDebugBuilder {
  std::string Bytes;
  TDebugBuilder& Names(uint8_t tag, std::initializer_list<const char*> names) {
    Bytes.push_back(static_cast<char>(tag));
    for (const char* n : names) Bytes += std::string(n) + '\x01';
    Bytes.push_back('\0');
    return *this;
  }
  TDebugBuilder& ProcNames(uint8_t tag, uint32_t proc, std::initializer_list<const char*> names) {
    Bytes.push_back(static_cast<char>(tag));
    Bytes += TModuleBuilder::U32s(proc);
    for (const char* n : names) Bytes += std::string(n) + '\x01';
    Bytes.push_back('\0');
    return *this;
  }
  TDebugBuilder& Position(const char* file, uint32_t proc, uint32_t pos, uint32_t source, uint32_t row, uint32_t col) {
    Bytes.push_back(DebugPosition);
    Bytes += std::string(file) + '\x01';
    for (uint32_t v : {proc, pos, source, row, col}) Bytes += TModuleBuilder::U32s(v);
    return *this;
  }
};

// main: three increments of G0 (6 bytes each), a call of procedure 1 at 18 and
// the return at 23; procedure 1 increments G1 twice (at 0 and 6).
TModuleBuilder StepModule() {
  TModuleBuilder b;
  uint32_t s32 = b.Type(btS32);
  b.Var(s32);
  b.Var(s32);
  TCode main;
  main.Op(OpIncrement).Var(G(0)).Op(OpIncrement).Var(G(0)).Op(OpIncrement).Var(G(0));
  main.Call(1).Ret();
  TCode proc;
  proc.Op(OpIncrement).Var(G(1)).Op(OpIncrement).Var(G(1)).Ret();
  b.Main(main);
  b.Proc(proc);
  return b;
}

std::string StepDebugInfo() {
  return TDebugBuilder()
      .Position("main.pas", 0, 0, 100, 10, 3)
      .Position("main.pas", 0, 12, 140, 12, 3)
      .Position("main.pas", 0, 18, 160, 13, 3)
      .Position("main.pas", 1, 0, 20, 2, 5)
      .Position("main.pas", 1, 6, 30, 3, 5)
      .ProcNames(DebugParamNames, 1, {"Result", "A"})
      .ProcNames(DebugLocalNames, 1, {"X"})
      .Names(DebugProcNames, {"", "PROC"})
      .Names(DebugVarNames, {"COUNT", "OTHER"})
      .Bytes;
}

}  // namespace

TEST(Debugger, TranslationPicksTheRecordAtOrBeforeThePosition) {
  TPSDebugExec exec;
  ASSERT_TRUE(exec.LoadData(StepModule().Build()));
  exec.LoadDebugData(StepDebugInfo());
  uint32_t pos, row, col;
  rtl::UnicodeString file;
  ASSERT_TRUE(exec.TranslatePositionEx(0, 15, pos, row, col, file));  // between 12 and 18
  EXPECT_EQ(row, 12u);
  EXPECT_EQ(col, 3u);
  EXPECT_EQ(pos, 140u);
  EXPECT_EQ(file, u"main.pas");
  ASSERT_TRUE(exec.TranslatePositionEx(0, 18, pos, row, col, file));  // exact
  EXPECT_EQ(row, 13u);
  ASSERT_TRUE(exec.TranslatePositionEx(0, 999, pos, row, col, file));  // beyond the last
  EXPECT_EQ(row, 13u);
  ASSERT_TRUE(exec.TranslatePositionEx(1, 3, pos, row, col, file));
  EXPECT_EQ(row, 2u);
  EXPECT_EQ(exec.TranslatePosition(0, 17), 140u);
  EXPECT_EQ(exec.ProcNames().Count(), 2);
  EXPECT_EQ(exec.GlobalVarNames()[0], u"COUNT");
}

TEST(Debugger, BeforeTheFirstRecordGivesZerosAndProceduresWithoutRecordsFail) {
  TModuleBuilder b = StepModule();
  TPSDebugExec exec;
  ASSERT_TRUE(exec.LoadData(b.Build()));
  exec.LoadDebugData(TDebugBuilder().Position("f", 0, 10, 1, 4, 4).Bytes);
  uint32_t pos = 9, row = 9, col = 9;
  rtl::UnicodeString file = u"x";
  EXPECT_TRUE(exec.TranslatePositionEx(0, 5, pos, row, col, file));
  EXPECT_EQ(row, 0u);
  EXPECT_EQ(col, 0u);
  EXPECT_EQ(file, u"");
  EXPECT_FALSE(exec.TranslatePositionEx(1, 0, pos, row, col, file));
  EXPECT_EQ(exec.TranslatePosition(1, 0), 0u);
  EXPECT_FALSE(exec.TranslatePositionEx(7, 0, pos, row, col, file));
}

TEST(Debugger, MalformedDebugInformation) {
  TPSDebugExec exec;
  ASSERT_TRUE(exec.LoadData(StepModule().Build()));
  // An unknown tag discards everything read before it.
  exec.LoadDebugData(TDebugBuilder().Names(DebugProcNames, {"A", "B"}).Position("f", 0, 0, 1, 1, 1).Bytes + "\x09");
  EXPECT_EQ(exec.ProcNames().Count(), 0);
  EXPECT_EQ(exec.TranslatePosition(0, 0), 0u);
  uint32_t pos, row, col;
  rtl::UnicodeString file;
  EXPECT_FALSE(exec.TranslatePositionEx(0, 0, pos, row, col, file));
  // A truncated record keeps what was read; a procedure number outside the table stops reading.
  std::string data = TDebugBuilder().Position("f", 0, 0, 1, 7, 1).Bytes;
  exec.LoadDebugData(data + data.substr(0, 8));
  EXPECT_TRUE(exec.TranslatePositionEx(0, 0, pos, row, col, file));
  EXPECT_EQ(row, 7u);
  exec.LoadDebugData(TDebugBuilder().Position("f", 5, 0, 1, 7, 1).Position("f", 0, 0, 1, 8, 1).Bytes);
  EXPECT_FALSE(exec.TranslatePositionEx(0, 0, pos, row, col, file));
  // Loading a module clears the debug data.
  exec.LoadDebugData(StepDebugInfo());
  ASSERT_TRUE(exec.LoadData(StepModule().Build()));
  EXPECT_EQ(exec.ProcNames().Count(), 0);
}

TEST(Debugger, ErrorPositionsTranslateToTheFailingStatement) {
  TModuleBuilder b;
  uint32_t s32 = b.Type(btS32);
  b.Var(s32);
  TCode main;
  main.Op(OpIncrement).Var(G(0));                       // statement at 0
  main.Calc(CalcDiv).Var(G(0)).Const<int32_t>(s32, 0);  // statement at 6, 16 bytes
  main.Op(OpIncrement).Var(G(0));
  main.Ret();  // statement at 28
  b.Main(main);
  TPSDebugExec exec;
  ASSERT_TRUE(exec.LoadData(b.Build()));
  exec.LoadDebugData(
      TDebugBuilder().Position("s", 0, 0, 0, 1, 1).Position("s", 0, 6, 9, 2, 3).Position("s", 0, 28, 30, 3, 1).Bytes);
  EXPECT_FALSE(exec.RunScript());
  uint32_t pos, row, col;
  rtl::UnicodeString file;
  ASSERT_TRUE(exec.TranslatePositionEx(exec.ExceptionProcNo(), exec.ExceptionPos(), pos, row, col, file));
  EXPECT_EQ(row, 2u);
  EXPECT_EQ(col, 3u);
}

TEST(Debugger, StepIntoPausesAtStatementStartsOnly) {
  TPSDebugExec exec;
  ASSERT_TRUE(exec.LoadData(StepModule().Build()));
  exec.LoadDebugData(StepDebugInfo());
  std::vector<std::pair<int32_t, uint32_t>> stops;
  exec.SetOnIdleCall([&](TPSDebugExec* e) {
    stops.emplace_back(e->GetCurrentProcNo(), e->CurrentPosition());
    e->StepInto();
    if (stops.size() > 20) e->Stop();
  });
  std::vector<uint32_t> rows;
  exec.SetOnSourceLine(
      [&](TPSDebugExec*, const rtl::UnicodeString&, uint32_t, uint32_t row, uint32_t) { rows.push_back(row); });
  exec.StepInto();
  EXPECT_TRUE(exec.RunScript());
  std::vector<std::pair<int32_t, uint32_t>> expected = {{0, 0}, {0, 12}, {0, 18}, {1, 0}, {1, 6}};
  EXPECT_EQ(stops, expected);
  EXPECT_EQ(rows, (std::vector<uint32_t>{10, 12, 13, 2, 3}));
  EXPECT_EQ(exec.GlobalVars().GetInt(0), 3);
}

TEST(Debugger, StepOverDoesNotStopInsideCalls) {
  TPSDebugExec exec;
  ASSERT_TRUE(exec.LoadData(StepModule().Build()));
  exec.LoadDebugData(StepDebugInfo());
  std::vector<std::pair<int32_t, uint32_t>> stops;
  exec.SetOnIdleCall([&](TPSDebugExec* e) {
    stops.emplace_back(e->GetCurrentProcNo(), e->CurrentPosition());
    e->StepOver();
    if (stops.size() > 20) e->Stop();
  });
  exec.StepInto();
  EXPECT_TRUE(exec.RunScript());
  std::vector<std::pair<int32_t, uint32_t>> expected = {{0, 0}, {0, 12}, {0, 18}};
  EXPECT_EQ(stops, expected);
  EXPECT_EQ(exec.GlobalVars().GetInt(1), 2);
}

TEST(Debugger, CurrentSourcePositionIsWorkedOutWhenAsked) {
  TPSDebugExec exec;
  static uint32_t row = 0;
  exec.RegisterFunctionName(
      "PROBE",
      [](TPSExec* e, TPSExternalProcRec*, TPSStack*, TPSStack*) {
        row = static_cast<TPSDebugExec*>(e)->CurrentRow();
        return true;
      },
      nullptr, nullptr);
  TModuleBuilder m;
  uint32_t s32 = m.Type(btS32);
  m.Var(s32);
  TCode c;
  c.Op(OpIncrement).Var(G(0));
  c.Call(1);
  c.Ret();
  m.Main(c);
  m.External("PROBE");
  ASSERT_TRUE(exec.LoadData(m.Build()));
  exec.LoadDebugData(TDebugBuilder().Position("s", 0, 0, 0, 1, 1).Position("s", 0, 6, 9, 4, 2).Bytes);
  EXPECT_TRUE(exec.RunScript());
  EXPECT_EQ(row, 4u);  // inside the statement that starts at 6
}

TEST(Debugger, ParametersLocalsAndTheirNamesOfTheRunningProcedure) {
  // procedure 1 (A: Integer) with local X calls the host, which looks around.
  TModuleBuilder b;
  uint32_t s32 = b.Type(btS32);
  b.Type(btPointer);
  b.Var(s32);
  TCode main;
  main.Push().Const<int32_t>(s32, 41).Call(1).Pop().Ret();
  TCode proc;
  proc.PushType(s32);
  proc.Assign().Var(L(1)).Const<int32_t>(s32, 7);
  proc.Call(2);
  proc.Ret();
  b.Main(main);
  b.Proc(proc, "P", "-1 @0");
  b.External("LOOK");
  TPSDebugExec exec;
  static int32_t param = 0, local = 0;
  static std::u16string names;
  exec.RegisterFunctionName(
      "LOOK",
      [](TPSExec* e, TPSExternalProcRec*, TPSStack*, TPSStack*) {
        auto* d = static_cast<TPSDebugExec*>(e);
        std::memcpy(&param, d->GetProcParam(0), 4);
        std::memcpy(&local, d->GetProcVar(0), 4);
        names = (*d->CurrentProcParams())[0] + u"," + (*d->CurrentProcVars())[0];
        return d->GetProcParam(5) == nullptr && d->GetProcVar(5) == nullptr;
      },
      nullptr, nullptr);
  ASSERT_TRUE(exec.LoadData(b.Build()));
  exec.LoadDebugData(TDebugBuilder().ProcNames(DebugParamNames, 1, {"A"}).ProcNames(DebugLocalNames, 1, {"X"}).Bytes);
  ASSERT_TRUE(exec.RunScript()) << rtl::UnicodeToUtf8(exec.ExceptionString());
  EXPECT_EQ(param, 41);
  EXPECT_EQ(local, 7);
  EXPECT_EQ(names, u"A,X");
}
