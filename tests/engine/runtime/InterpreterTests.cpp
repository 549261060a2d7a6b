// The instruction loop: calls and frames, jumps, pointers, instruction
// errors with their positions, host calls and host-started runs.
#include "rtl/Variant.h"
#include "tests/engine/runtime/TestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

struct TBasic {
  TModuleBuilder B;
  uint32_t S32, U8, Pointer, Str;
  TBasic() {
    S32 = B.Type(btS32);
    U8 = B.Type(btU8);
    Pointer = B.Type(btPointer);
    Str = B.Type(btUnicodeString);
    B.Var(S32);  // G0
    B.Var(S32);  // G1
    B.Var(S32);  // G2
    B.Var(Str);  // G3
  }
};

TRunResult RunMain(TBasic& m, TCode& main) {
  m.B.Main(main);
  return RunModule(m.B);
}

}  // namespace

TEST(Interpreter, FunctionCallPassesValuesAndVarParametersAndTheResult) {
  TBasic m;
  // function Add(a: Integer; var b: Integer): Integer; b := b + 1; Result := a + b.
  TCode add;
  add.Op(OpIncrement).Var(L(-3));
  add.Assign().Var(L(-1)).Var(L(-2));
  add.Calc(CalcAdd).Var(L(-1)).Var(L(-3));
  add.Ret();
  TCode main;
  main.Assign().Var(G(1)).Const<int32_t>(m.S32, 10);
  main.PushVarRef().Var(G(1));            // b (last declared first)
  main.Push().Const<int32_t>(m.S32, 30);  // a
  main.PushVarRef().Var(G(0));            // the result
  main.Call(1);
  main.Pop().Pop().Pop();
  main.Ret();
  m.B.Main(main);
  m.B.Proc(add, "ADD", "0 @0 !0");
  auto r = RunModule(m.B);
  ASSERT_TRUE(r.Ok) << r.Text();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(0), 41);
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(1), 11);
  EXPECT_EQ(r.Exec->Status(), isLoaded);
  EXPECT_EQ(r.Exec->Stack().Count(), 0);
  // The module stays loaded: a second run works without reloading.
  EXPECT_TRUE(r.Exec->RunScript());
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(0), 41);
}

TEST(Interpreter, DeepRecursionMovesTheStackAndKeepsReferencesValid) {
  TBasic m;
  // procedure Down(var counter: Integer; n: Integer); local x; if n > 0 then Down(counter, n - 1); counter += 1.
  TCode down;
  down.PushType(m.S32);  // local 1
  down.Compare(CmpGreater).Var(L(1)).Var(L(-2)).Const<int32_t>(m.S32, 0);
  down.Op(OpJumpIfFalse).JumpField(1).Var(L(1)).EndJump();
  down.Assign().Var(L(1)).Var(L(-2));
  down.Op(OpDecrement).Var(L(1));
  down.Push().Var(L(1));         // n - 1
  down.PushVarRef().Var(L(-1));  // the same counter, through the pointer
  down.Call(1);
  down.Pop().Pop();
  down.Mark(1);
  down.Op(OpIncrement).Var(L(-1));
  down.Ret();
  TCode main;
  main.PushType(m.S32);  // a local counter on the stack
  main.Push().Const<int32_t>(m.S32, 20000);
  main.PushVarRef().Var(L(1));
  main.Call(1);
  main.Pop().Pop();
  main.Assign().Var(G(0)).Var(L(1));
  main.Ret();
  m.B.Main(main);
  m.B.Proc(down);
  auto r = RunModule(m.B);
  ASSERT_TRUE(r.Ok) << r.Text();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(0), 20001);
}

TEST(Interpreter, RunawayRecursionStopsWithOutOfMemory) {
  TBasic m;
  TCode rec;
  rec.PushType(m.Str);
  rec.Call(1);
  rec.Ret();
  TCode main;
  main.Call(1).Ret();
  m.B.Main(main);
  m.B.Proc(rec);
  auto exec = LoadModule(m.B);
  exec->Stack().SetMaxLength(1 << 20);
  EXPECT_FALSE(exec->RunScript());
  EXPECT_EQ(exec->ExceptionCode(), erOutOfMemory);
  EXPECT_EQ(exec->ExceptionProcNo(), 1);
  exec->Stop();
  EXPECT_EQ(exec->Stack().Count(), 0);
}

TEST(Interpreter, JumpsAndFlags) {
  TBasic m;
  TCode c;
  // for i := 1 to 10 do sum += i
  c.Assign().Var(G(1)).Const<int32_t>(m.S32, 1);
  c.Mark(1);
  c.Calc(CalcAdd).Var(G(0)).Var(G(1));
  c.Op(OpIncrement).Var(G(1));
  c.Compare(CmpLessEqual).Var(G(2)).Var(G(1)).Const<int32_t>(m.S32, 10);
  c.Op(OpJumpIfTrue).JumpField(1).Var(G(2)).EndJump();
  c.Op(OpJump).I32(0);                                // offset 0: next instruction
  c.Op(OpJumpIfTrue).I32(0).Const<uint8_t>(m.U8, 1);  // likewise, whatever the operand
  c.Op(OpSetFlag).Var(G(2)).Byte(1);                  // G2 = 0, inverted: flag set
  c.Op(OpJumpIfFlag).JumpField(2).EndJump();
  c.Assign().Var(G(0)).Const<int32_t>(m.S32, -1);  // skipped
  c.Mark(2);
  c.Ret();
  auto r = RunMain(m, c);
  ASSERT_TRUE(r.Ok) << r.Text();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(0), 55);
}

TEST(Interpreter, InstructionErrorsAndTheirCodes) {
  struct Case {
    const char* name;
    std::function<void(TBasic&, TCode&)> emit;
    TPSError expected;
  };
  std::vector<Case> cases = {
      {"PushType at the type count", [](TBasic&, TCode& c) { c.PushType(4); }, erInvalidType},
      {"element n of an n-field record",
       [](TBasic& m, TCode& c) {
         uint32_t rec = m.B.Record({m.S32, m.U8});
         uint32_t v = m.B.Var(rec);
         c.Assign().Elem(G(v), 2).Const<int32_t>(m.S32, 1);
       },
       ErOutOfRange},
      {"stack slot below the stack", [](TBasic&, TCode& c) { c.Assign().Var(PSStackReferenceStart).Var(G(0)); },
       erOutOfStackRange},
      {"global out of range", [](TBasic&, TCode& c) { c.Assign().Var(G(99)).Var(G(0)); }, erOutOfGlobalVarsRange},
      {"constant destination", [](TBasic& m, TCode& c) { c.Assign().Const<int32_t>(m.S32, 1).Var(G(0)); },
       erInvalidOpcodeParameter},
      {"constant of currency type",
       [](TBasic& m, TCode& c) { c.Assign().Var(G(0)).Const<int64_t>(m.B.Type(btCurrency), 1); }, erInvalidType},
      {"operand kind 4", [](TBasic&, TCode& c) { c.Assign().Var(G(0)).Byte(4).U32(0); }, erInvalidOpcodeParameter},
      {"opcode 10", [](TBasic&, TCode& c) { c.Op(10); }, erInvalidOpcode},
      {"opcode 27", [](TBasic&, TCode& c) { c.Op(27); }, erInvalidOpcode},
      {"pop of an empty stack", [](TBasic&, TCode& c) { c.Pop(); }, erOutOfStackRange},
      {"call out of range", [](TBasic&, TCode& c) { c.Call(5); }, erOutOfProcRange},
      {"calculate operator 11", [](TBasic&, TCode& c) { c.Calc(11).Var(G(0)).Var(G(1)); }, erInvalidOpcodeParameter},
      {"compare operator 8", [](TBasic&, TCode& c) { c.Compare(8).Var(G(0)).Var(G(1)).Var(G(1)); },
       erInvalidOpcodeParameter},
      {"jump-if on a string", [](TBasic&, TCode& c) { c.Op(OpJumpIfTrue).I32(0).Var(G(3)); }, erInvalidType},
      {"increment of a string", [](TBasic&, TCode& c) { c.Op(OpIncrement).Var(G(3)); }, ErTypeMismatch},
      {"try end without try", [](TBasic&, TCode& c) { c.TryEnd(0); }, ErOutOfRange},
      {"truncated operand", [](TBasic&, TCode& c) { c.Op(OpAssign).Byte(0).Byte(0); }, ErOutOfRange},
      {"running off the end", [](TBasic&, TCode& c) { c.Op(OpNop); }, ErOutOfRange},
      {"jump before the start", [](TBasic&, TCode& c) { c.Op(OpJump).I32(-100); }, ErOutOfRange},
      {"set pointer on a non-pointer", [](TBasic&, TCode& c) { c.Op(OpSetPointer).Var(G(0)).Var(G(1)); },
       erInvalidOpcodeParameter},
      {"call through a non-procedure value", [](TBasic&, TCode& c) { c.Op(OpCallVar).Var(G(0)); }, ErTypeMismatch},
  };
  for (auto& tc : cases) {
    TBasic m;
    TCode c;
    tc.emit(m, c);
    if (std::string(tc.name) != "running off the end") c.Ret();
    auto r = RunMain(m, c);
    EXPECT_FALSE(r.Ok) << tc.name;
    EXPECT_EQ(r.Code(), tc.expected) << tc.name << ": " << r.Text();
    EXPECT_EQ(r.Exec->ExceptionProcNo(), 0) << tc.name;
  }
}

TEST(Interpreter, PushVarRefWithoutPointerTypeFailsClearly) {
  TModuleBuilder b;
  uint32_t s32 = b.Type(btS32);
  b.Var(s32);
  TCode c;
  c.PushVarRef().Var(G(0));
  c.Ret();
  b.Main(c);
  auto r = RunModule(b);
  EXPECT_EQ(r.Code(), erInvalidType);
}

TEST(Interpreter, ProcedureValueConstantCallsByNumber) {
  TBasic m;
  uint32_t pp = m.B.ProcPtr(std::string("\0", 1));
  TCode callee;
  callee.Assign().Var(G(0)).Const<int32_t>(m.S32, 5).Ret();
  TCode main;
  main.Op(OpCallVar).Const<uint32_t>(pp, 1);
  main.Ret();
  m.B.Main(main);
  m.B.Proc(callee);
  auto r = RunModule(m.B);
  ASSERT_TRUE(r.Ok) << r.Text();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(0), 5);

  TBasic m2;
  uint32_t pp2 = m2.B.ProcPtr(std::string("\0", 1));
  TCode main2;
  main2.Op(OpCallVar).Const<uint32_t>(pp2, 0);  // the main procedure itself
  main2.Ret();
  m2.B.Main(main2);
  EXPECT_EQ(RunModule(m2.B).Code(), erOutOfProcRange);
}

TEST(Interpreter, PointersSetCopyAndOwnTheirTargets) {
  TBasic m;
  uint32_t p1 = m.B.Var(m.Pointer), p2 = m.B.Var(m.Pointer);
  TCode c;
  c.Assign().Var(G(3)).ConstWide(m.Str, u"abc");
  c.Op(OpSetPointer).Var(G(p1)).Var(G(3));         // p1 -> G3
  c.Assign().Var(G(p1)).ConstWide(m.Str, u"xyz");  // writes G3 through p1
  c.Op(OpSetPointerCopy).Var(G(p2)).Var(G(p1));    // p2 owns a copy of G3
  c.Assign().Var(G(3)).ConstWide(m.Str, u"changed");
  c.Op(OpSetPointer).Var(G(p2)).Var(G(0));  // gives up its copy (no leak, no foreign free)
  c.Op(OpSetPointerCopy).Var(G(p2)).Var(G(p1));
  c.Ret();
  auto r = RunMain(m, c);
  ASSERT_TRUE(r.Ok) << r.Text();
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetUnicodeString(3), u"changed");
  EXPECT_EQ(g.GetUnicodeString(p1), u"changed");  // read through the pointer
  EXPECT_EQ(g.GetUnicodeString(p2), u"changed");  // the later copy
}

TEST(Interpreter, HostFunctionErrorsBecomeScriptErrors) {
  TBasic m;
  TCode c;
  c.Call(1).Ret();
  m.B.Main(c);
  m.B.External("FAIL");
  m.B.External("REFUSE");
  auto exec = std::make_unique<TPSExec>();
  exec->RegisterFunctionName(
      "FAIL", [](TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack*) -> bool { throw rtl::Exception("host says no"); },
      nullptr, nullptr);
  exec->RegisterFunctionName(
      "REFUSE", [](TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack*) { return false; }, nullptr, nullptr);
  std::vector<TPSError> seen;
  exec->SetOnException([&](TPSExec*, TPSError code, const rtl::UnicodeString&, std::exception_ptr, int32_t, int32_t) {
    seen.push_back(code);
  });
  ASSERT_TRUE(exec->LoadData(m.B.Build()));
  EXPECT_FALSE(exec->RunScript());
  EXPECT_EQ(exec->ExceptionCode(), erException);
  EXPECT_EQ(exec->ExceptionString(), u"host says no");
  EXPECT_EQ(TPSErrorToString(exec->ExceptionCode(), exec->ExceptionString()), u"Exception: host says no");
  EXPECT_EQ(exec->ExceptionPos(), 5);  // past the whole call instruction
  ASSERT_TRUE(exec->ExceptionObject());
  EXPECT_THROW(exec->RaiseCurrentException(), rtl::Exception);
  EXPECT_EQ(seen, std::vector<TPSError>{erException});

  TBasic m2;
  TCode c2;
  c2.Call(1).Ret();
  m2.B.Main(c2);
  m2.B.External("REFUSE");
  ASSERT_TRUE(exec->LoadData(m2.B.Build()));
  EXPECT_FALSE(exec->RunScript());
  EXPECT_EQ(exec->ExceptionCode(), erCouldNotCallProc);
  EXPECT_EQ(TPSErrorToString(exec->ExceptionCode(), exec->ExceptionString()), u"Could not call proc");
}

TEST(Interpreter, StopWhilePausedAfterAnErrorRestartsFromTheBeginning) {
  TBasic m;
  TCode c;
  c.Op(OpIncrement).Var(G(0));
  c.PushType(m.S32);
  c.Calc(CalcDiv).Var(G(1)).Var(G(2));
  c.Ret();
  auto r = RunMain(m, c);
  EXPECT_EQ(r.Code(), ErDivideByZero);
  EXPECT_EQ(r.Exec->Status(), isPaused);
  EXPECT_EQ(r.Exec->Stack().Count(), 1);
  r.Exec->Stop();
  EXPECT_EQ(r.Exec->Status(), isLoaded);
  EXPECT_EQ(r.Exec->Stack().Count(), 0);
  EXPECT_FALSE(r.Exec->RunScript());
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(0), 2);  // ran from the start again
}

TEST(Interpreter, OnRunLineCanStopAnEndlessLoop) {
  TBasic m;
  TCode c;
  c.Mark(1).Op(OpIncrement).Var(G(0)).Jump(1);
  auto exec = std::make_unique<TPSExec>();
  m.B.Main(c);
  ASSERT_TRUE(exec->LoadData(m.B.Build()));
  int lines = 0;
  exec->SetOnRunLine([&](TPSExec* e) {
    if (++lines == 1000) e->Stop();
  });
  EXPECT_TRUE(exec->RunScript());
  EXPECT_EQ(exec->Status(), isLoaded);
  EXPECT_EQ(exec->GlobalVars().GetInt(0), 500);
}

TEST(Interpreter, RunProcCallsAScriptFunctionFromTheHost) {
  TBasic m;
  TCode twice;
  twice.Assign().Var(L(-1)).Var(L(-2));
  twice.Calc(CalcMul).Var(L(-1)).Const<int32_t>(m.S32, 2);
  twice.Ret();
  TCode main;
  main.Ret();
  m.B.Main(main);
  m.B.Proc(twice, "TWICE", "0 @0");
  auto exec = LoadModule(m.B);
  int32_t arg = 21, result = 0;
  TPSTypeRec* s32 = exec->GetTypeNo(m.S32);
  std::vector<TPSVariableRef> params = {{s32, reinterpret_cast<uint8_t*>(&arg)},
                                        {s32, reinterpret_cast<uint8_t*>(&result)}};
  EXPECT_TRUE(exec->RunProc(params, exec->GetProc("twice")));
  EXPECT_EQ(result, 42);
  EXPECT_EQ(exec->Status(), isLoaded);
  EXPECT_EQ(exec->Stack().Count(), 0);
  EXPECT_FALSE(exec->RunProc(params, 9));
  EXPECT_EQ(exec->ExceptionCode(), erOutOfProcRange);
  EXPECT_EQ(exec->Status(), isLoaded);
}

TEST(Interpreter, NestedRunFromAHostCallbackRestoresTheCaller) {
  // main calls the host; the host runs script procedure 2, which fails; the
  // host turns the failure into its own exception, which the caller catches.
  TBasic m;
  TCode failing;
  failing.Calc(CalcDiv).Var(G(1)).Var(G(2)).Ret();
  TCode main;
  main.TryBegin(-1, 1, -1, 2);
  main.Call(1);
  main.TryEnd(0);
  main.Mark(1);
  main.Assign().Var(G(0)).Const<int32_t>(m.S32, 7);
  main.TryEnd(2);
  main.Mark(2);
  main.Ret();
  m.B.Main(main);
  m.B.External("CALLBACK");
  m.B.Proc(failing);
  auto exec = std::make_unique<TPSExec>();
  exec->RegisterFunctionName(
      "CALLBACK",
      [](TPSExec* e, TPSExternalProcRec*, TPSStack*, TPSStack*) {
        if (!e->RunProc({}, 2)) e->RaiseCurrentException();
        return true;
      },
      nullptr, nullptr);
  ASSERT_TRUE(exec->LoadData(m.B.Build()));
  EXPECT_TRUE(exec->RunScript()) << rtl::UnicodeToUtf8(exec->ExceptionString());
  EXPECT_EQ(exec->GlobalVars().GetInt(0), 7);
  EXPECT_EQ(exec->Status(), isLoaded);
}

TEST(Interpreter, StopInsideANestedRunStopsTheWholeScript) {
  TBasic m;
  TCode stopper;
  stopper.Op(OpIncrement).Var(G(1)).Call(3).Op(OpIncrement).Var(G(1)).Ret();
  TCode main;
  main.PushType(m.S32);
  main.Call(1);                    // the host runs procedure 2, which stops the script
  main.Op(OpIncrement).Var(G(0));  // not reached
  main.Ret();
  m.B.Main(main);
  m.B.External("CALLBACK");
  m.B.Proc(stopper);
  m.B.External("STOP");
  auto exec = std::make_unique<TPSExec>();
  exec->RegisterFunctionName(
      "CALLBACK",
      [](TPSExec* e, TPSExternalProcRec*, TPSStack*, TPSStack*) {
        e->RunProc({}, 2);
        return true;
      },
      nullptr, nullptr);
  exec->RegisterFunctionName(
      "STOP",
      [](TPSExec* e, TPSExternalProcRec*, TPSStack*, TPSStack*) {
        e->Stop();
        return true;
      },
      nullptr, nullptr);
  ASSERT_TRUE(exec->LoadData(m.B.Build()));
  EXPECT_TRUE(exec->RunScript());
  EXPECT_EQ(exec->GlobalVars().GetInt(0), 0);
  EXPECT_EQ(exec->GlobalVars().GetInt(1), 1);
  EXPECT_EQ(exec->Status(), isLoaded);
  EXPECT_EQ(exec->Stack().Count(), 0);
}

TEST(Interpreter, HostCallsIntoScriptsNestOnlyToABound) {
  // procedure 1 calls the host, which runs procedure 1 again: endless without a bound.
  TBasic m;
  TCode again;
  again.Op(OpIncrement).Var(G(0)).Call(2).Ret();
  TCode main;
  main.Call(1).Ret();
  m.B.Main(main);
  m.B.Proc(again);
  m.B.External("REENTER");
  auto exec = std::make_unique<TPSExec>();
  exec->RegisterFunctionName(
      "REENTER",
      [](TPSExec* e, TPSExternalProcRec*, TPSStack*, TPSStack*) {
        if (!e->RunProc({}, 1)) e->RaiseCurrentException();
        return true;
      },
      nullptr, nullptr);
  ASSERT_TRUE(exec->LoadData(m.B.Build()));
  EXPECT_FALSE(exec->RunScript());
  EXPECT_EQ(exec->ExceptionCode(), erCustomError);
  EXPECT_EQ(exec->ExceptionString(), u"Out Of Memory");
  EXPECT_EQ(exec->GlobalVars().GetInt(0), TPSExec::MaxNestedRuns + 1);
}

TEST(Interpreter, StringConstantsAreSharedNotCopied) {
  TBasic m;
  uint32_t other = m.B.Var(m.Str);
  TCode c;
  c.Assign().Var(G(3)).ConstWide(m.Str, u"constant text");
  c.Assign().Var(G(other)).Var(G(3));
  c.Calc(CalcAdd).Var(G(other)).ConstWide(m.Str, u"!");  // a new block for the result only
  c.Ret();
  auto r = RunMain(m, c);
  ASSERT_TRUE(r.Ok) << r.Text();
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetUnicodeString(3), u"constant text");
  EXPECT_EQ(g.GetUnicodeString(other), u"constant text!");
  // Running again finds the same block for the constant.
  void* first;
  std::memcpy(&first, g.EntryValue(3), sizeof first);
  ASSERT_TRUE(r.Exec->RunScript());
  void* second;
  std::memcpy(&second, g.EntryValue(3), sizeof second);
  EXPECT_EQ(first, second);
}

TEST(Interpreter, ClassChecksAskTheHostClassRegistry) {
  TModuleBuilder b;
  uint32_t cls = b.Class("TFOO"), other = b.Class("TBAR"), u32 = b.Type(btU32), u8 = b.Type(btU8);
  b.Var(cls);
  b.Var(u8);
  b.Var(u8);
  TCode c;
  c.Compare(CmpIs).Var(G(1)).Var(G(0)).Const<uint32_t>(u32, cls);
  c.Compare(CmpIs).Var(G(2)).Var(G(0)).Const<uint32_t>(u32, other);
  c.Calc(CalcClassCheck).Var(G(0)).Const<uint32_t>(u32, cls);
  c.Calc(CalcClassCheck).Var(G(0)).Const<uint32_t>(u32, other);
  c.Ret();
  b.Main(c);
  auto exec = LoadModule(b);
  int object = 0;
  void* p = &object;
  std::memcpy(exec->GlobalVars().EntryValue(0), &p, sizeof p);
  exec->SetClassCheck([](TPSExec*, void*, const TPSTypeRec_Class* c) { return c->FCN == "TFOO"; });
  EXPECT_FALSE(exec->RunScript());
  EXPECT_EQ(exec->GlobalVars().GetUInt(1), 1u);
  EXPECT_EQ(exec->GlobalVars().GetUInt(2), 0u);
  EXPECT_EQ(exec->ExceptionCode(), ErTypeMismatch);
  EXPECT_EQ(exec->ExceptionPos(), 74);  // the second cast check (58..74), past its operands

  // nil is of no class.
  p = nullptr;
  std::memcpy(exec->GlobalVars().EntryValue(0), &p, sizeof p);
  exec->Stop();
  EXPECT_FALSE(exec->RunScript());
  EXPECT_EQ(exec->GlobalVars().GetUInt(1), 0u);
  EXPECT_EQ(exec->ExceptionPos(), 58);  // the first cast check (42..58)
}

TEST(Interpreter, ProcedureValuesHoldingHostMethodsCallTheHost) {
  TBasic m;
  uint32_t pp = m.B.ProcPtr(std::string("\x00\x00", 2));
  uint32_t value = m.B.Var(pp);
  TCode c;
  c.Push().Const<int32_t>(m.S32, 5);
  c.Op(OpCallVar).Var(G(value));
  c.Pop().Ret();
  m.B.Main(c);
  auto exec = LoadModule(m.B);
  int data = 0;
  TPSProcPtrValue method{0, 0, reinterpret_cast<void*>(0x1), &data};
  std::memcpy(exec->GlobalVars().EntryValue(value), &method, sizeof method);
  EXPECT_FALSE(exec->RunScript());
  EXPECT_EQ(exec->ExceptionCode(), erCouldNotCallProc);  // no host method call installed
  exec->Stop();
  exec->SetHostMethodCall([](TPSExec*, const TPSTypeRec_ProcPtr* type, void*, void* d, TPSStack* stack) {
    *static_cast<int*>(d) = stack->GetInt(-1) + static_cast<int>(type->FParamInfo.size());
    return true;
  });
  EXPECT_TRUE(exec->RunScript());
  EXPECT_EQ(data, 7);
}

TEST(Interpreter, InterfacesFromObjectsComeFromTheHost) {
  TModuleBuilder b;
  uint32_t cls = b.Class("TFOO"), intf = b.Type(btInterface, std::string(16, '\x11'));
  b.Var(cls);
  b.Var(intf);
  TCode c;
  c.Assign().Var(G(1)).Var(G(0));
  c.Ret();
  b.Main(c);
  auto exec = LoadModule(b);
  EXPECT_FALSE(exec->RunScript());
  EXPECT_EQ(exec->ExceptionCode(), erInterfaceNotSupported);  // nil object
  struct TThing : rtl::IUnknown {};
  auto* thing = new TThing;
  rtl::TRef<TThing> keep(thing);
  int object = 0;
  void* p = &object;
  std::memcpy(exec->GlobalVars().EntryValue(0), &p, sizeof p);
  exec->SetInterfaceQuery([&](TPSExec*, void* o, const uint8_t(&guid)[16]) -> void* {
    if (o != &object || guid[0] != 0x11) return nullptr;
    thing->AddRef();
    return static_cast<rtl::IUnknown*>(thing);
  });
  exec->Stop();
  EXPECT_TRUE(exec->RunScript());
  EXPECT_EQ(thing->RefCount(), 2);
  exec->Cleanup();  // finalises the interface variable
  EXPECT_EQ(thing->RefCount(), 1);
}

TEST(Interpreter, CleanupReinitialisesGlobalsAndPauseResumes) {
  TBasic m;
  TCode c;
  c.Op(OpIncrement).Var(G(0));
  c.Call(1);
  c.Op(OpIncrement).Var(G(0));
  c.Ret();
  m.B.Main(c);
  m.B.External("PAUSE");
  auto exec = std::make_unique<TPSExec>();
  exec->RegisterFunctionName(
      "PAUSE",
      [](TPSExec* e, TPSExternalProcRec*, TPSStack*, TPSStack*) {
        e->Pause();
        return true;
      },
      nullptr, nullptr);
  ASSERT_TRUE(exec->LoadData(m.B.Build()));
  EXPECT_TRUE(exec->RunScript());
  EXPECT_EQ(exec->Status(), isPaused);
  EXPECT_EQ(exec->GlobalVars().GetInt(0), 1);
  EXPECT_TRUE(exec->RunScript());  // resumes after the call
  EXPECT_EQ(exec->Status(), isLoaded);
  EXPECT_EQ(exec->GlobalVars().GetInt(0), 2);
  exec->SetCallCleanup(true);
  EXPECT_TRUE(exec->RunScript());
  EXPECT_TRUE(exec->RunScript());
  EXPECT_EQ(exec->GlobalVars().GetInt(0), 0);  // reset after the run
}

TEST(Interpreter, ChainsOfOwnedCopiesStopAtABoundedDepth) {
  // A.p := copy of B; B.p := copy of A; again and again: each copy holds the previous chain.
  TBasic m;
  uint32_t rec = m.B.Record({m.Pointer});
  uint32_t a = m.B.Var(rec), b = m.B.Var(rec);
  TCode c;
  c.Mark(1);
  c.Op(OpSetPointerCopy).Elem(G(a), 0).Var(G(b));
  c.Op(OpSetPointerCopy).Elem(G(b), 0).Var(G(a));
  c.Op(OpIncrement).Var(G(0));
  c.Compare(CmpLess).Var(G(1)).Var(G(0)).Const<int32_t>(m.S32, 1000);
  c.Op(OpJumpIfTrue).JumpField(1).Var(G(1)).EndJump();
  c.Ret();
  auto r2 = RunMain(m, c);
  EXPECT_EQ(r2.Code(), ErTypeMismatch);
  EXPECT_LT(r2.Exec->GlobalVars().GetInt(0), 40);  // two links a turn, 64 at most
  EXPECT_GT(r2.Exec->GlobalVars().GetInt(0), 10);
  r2.Exec.reset();  // destroying the chains must not recurse without bound either
}

TEST(Interpreter, LongChainsOfOwnedTargetsAreDestroyedWithoutDeepRecursion) {
  // q walks down the chain hanging from a.p, adding one link at a time.
  TBasic m;
  uint32_t rec = m.B.Record({m.Pointer});
  uint32_t a = m.B.Var(rec), b = m.B.Var(rec), q = m.B.Var(m.Pointer);
  TCode c;
  c.Op(OpSetPointerCopy).Elem(G(a), 0).Var(G(b));  // a.p owns a copy of b
  c.Op(OpSetPointer).Var(G(q)).Elem(G(a), 0);      // q -> that copy
  c.Mark(1);
  c.Op(OpSetPointerCopy).Elem(G(q), 0).Var(G(b));  // q^.p owns a new copy of b
  c.Op(OpSetPointer).Var(G(q)).Elem(G(q), 0);      // q -> the new link
  c.Op(OpIncrement).Var(G(0));
  c.Compare(CmpLess).Var(G(1)).Var(G(0)).Const<int32_t>(m.S32, 300000);
  c.Op(OpJumpIfTrue).JumpField(1).Var(G(1)).EndJump();
  c.Ret();
  auto r = RunMain(m, c);
  ASSERT_TRUE(r.Ok) << r.Text();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(0), 300000);
  r.Exec.reset();  // 300,000 links: a recursive destruction would overflow the C++ stack
}
