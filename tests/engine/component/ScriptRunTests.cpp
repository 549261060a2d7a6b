// TPSScript running scripts: error positions, load failures, calls into
// script routines, notification and pointer variables.
#include <gtest/gtest.h>

#include <map>

#include "engine/uPSComponent_Default.h"
#include "tests/engine/component/ScriptTestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

struct THost {
  int32_t Factor = 3;
  int32_t Scale(int32_t n) { return n * Factor; }
};

}  // namespace

TEST(ScriptRun, AnUnhandledErrorGivesItsStatementsPositionAndStillCallsOnAfterExecute) {
  TPSImport_DateUtils dates;
  TPSScript script;
  script.Plugins().Add(&dates);
  script.Script().SetText(
      u"var D: TDateTime;\nbegin\n  D := EncodeDate(2023, 1, 1);\n  D := EncodeDate(2023, 2, 30);\nend.");
  ASSERT_TRUE(script.Compile()) << Messages(script);
  int after = 0;
  script.OnAfterExecute = [&](TPSScript*) { ++after; };
  EXPECT_FALSE(script.Execute());
  EXPECT_EQ(after, 1);
  EXPECT_EQ(script.ExecErrorCode(), erException);
  EXPECT_EQ(Utf8(script.ExecErrorParam()), "Invalid argument to date encode");
  EXPECT_EQ(script.ExecErrorRow(), 4u);
  EXPECT_EQ(script.ExecErrorCol(), 3u);
}

TEST(ScriptRun, ACompiledModuleThatCannotLoadFailsCompileWithAReadableReason) {
  TPSScript script;
  // Declared to the compiler only: the executor has no code for it.
  script.OnCompile = [](TPSScript* s) { s->Comp()->AddNativeFunction("procedure Missing;"); };
  script.Script().SetText(u"begin Missing; end.");
  EXPECT_FALSE(script.Compile());
  EXPECT_EQ(script.ExecErrorCode(), erCannotImport);
  EXPECT_NE(Utf8(script.ExecErrorToString()).find("MISSING"), std::string::npos) << Utf8(script.ExecErrorToString());
}

TEST(ScriptRun, HostFunctionsAndMethodsAreCalledWithTheirArguments) {
  THost host;
  TPSScript script;
  script.OnCompile = [&](TPSScript* s) {
    s->AddFunctionEx([](int32_t a, int32_t b) { return a - b; }, "function Minus(a, b: Integer): Integer;", cdCdecl);
    s->AddMethod(&host, &THost::Scale, "function Scale(n: Integer): Integer;");
    s->AddRegisteredVariable("Answer", "Integer");
  };
  script.Script().SetText(u"begin Answer := Scale(Minus(20, 6)); end.");
  ASSERT_TRUE(script.Compile()) << Messages(script);
  ASSERT_TRUE(script.Execute()) << Utf8(script.ExecErrorToString());
  int no = script.Exec()->GetVar("ANSWER");
  EXPECT_EQ(script.Exec()->GlobalVars().GetInt(no), 42);
  // The conventions are kept with the registrations.
  std::map<std::string, TPSCallingConvention> conventions;
  for (auto& f : script.Exec()->RegisteredFunctions()) conventions[f->Name] = f->CallingConvention;
  EXPECT_EQ(conventions["MINUS"], cdCdecl);
  EXPECT_EQ(conventions["SCALE"], cdRegister);
}

// The second run also shows that a run after a failed one starts over rather
// than resuming after the failing statement.
TEST(ScriptRun, NotificationVariablesGoThroughTheirEvents) {
  TPSScript script;
  script.OnCompile = [](TPSScript* s) { s->AddNotificationVariant("Note"); };
  script.Script().SetText(u"begin Note := 5; Note := Note + 1; end.");
  ASSERT_TRUE(script.Compile()) << Messages(script);
  EXPECT_FALSE(script.Execute()) << "no events: the read fails";
  EXPECT_NE(Utf8(script.ExecErrorToString()).find("Unable to"), std::string::npos) << Utf8(script.ExecErrorToString());
  std::map<std::string, rtl::Variant> store;
  script.OnGetNotificationVariant = [&](TPSScript*, const std::string& name) { return store[name]; };
  script.OnSetNotificationVariant = [&](TPSScript*, const std::string& name, const rtl::Variant& v) {
    store[name] = v;
  };
  ASSERT_TRUE(script.Execute()) << Utf8(script.ExecErrorToString());
  ASSERT_EQ(store.size(), 1u);
  EXPECT_EQ(store.begin()->second.AsInt64(), 6);
}

TEST(ScriptRun, ARunAfterAFailedOneStartsOver) {
  TPSScript script;
  script.OnCompile = [](TPSScript* s) { s->AddRegisteredVariable("Runs", "Integer"); };
  script.Script().SetText(
      u"begin\n  Runs := Runs + 1;\n  if Runs = 1 then RaiseException(erCustomError, 'first');\n"
      u"  Runs := Runs + 10;\nend.");
  ASSERT_TRUE(script.Compile()) << Messages(script);
  EXPECT_FALSE(script.Execute());
  EXPECT_EQ(script.ExecErrorRow(), 3u);
  int no = script.Exec()->GetVar("RUNS");
  EXPECT_EQ(script.Exec()->GlobalVars().GetInt(no), 1);
  // Resuming after the failing statement would give 11.
  ASSERT_TRUE(script.Execute()) << Utf8(script.ExecErrorToString());
  EXPECT_EQ(script.Exec()->GlobalVars().GetInt(no), 12);
}

TEST(ScriptRun, PointerVariablesWorkOnHostData) {
  TPSScript script;
  script.OnCompile = [](TPSScript* s) { s->AddRegisteredPTRVariable("Shared", "Integer"); };
  script.Script().SetText(u"begin Shared := Shared * 2; end.");
  ASSERT_TRUE(script.Compile()) << Messages(script);
  int32_t hostValue = 21;
  script.OnExecute = [&](TPSScript* s) { s->SetPointerToData("Shared", &hostValue, s->FindBaseType(btS32)); };
  ASSERT_TRUE(script.Execute()) << Utf8(script.ExecErrorToString());
  EXPECT_EQ(hostValue, 42);
  EXPECT_THROW(script.SetPointerToData("NoSuchVariable", &hostValue, script.FindBaseType(btS32)), rtl::Exception);
}

TEST(ScriptRun, ScriptProceduresAsHostHandlers) {
  TPSImport_Classes classes;
  TPSScript script;
  script.Plugins().Add(&classes);
  script.OnCompile = [](TPSScript* s) { s->AddRegisteredVariable("Count", "Integer"); };
  script.Script().SetText(u"procedure Tick(Sender: TObject);\nbegin\n  Count := Count + 1;\nend;\nbegin end.");
  ASSERT_TRUE(script.Compile()) << Messages(script);
  ASSERT_TRUE(script.Execute());
  rtl::TNotifyEvent tick = script.GetProcMethod("Tick");
  ASSERT_TRUE(static_cast<bool>(tick));
  tick(nullptr);
  tick(nullptr);
  EXPECT_EQ(script.Exec()->GlobalVars().GetInt(script.Exec()->GetVar("COUNT")), 2);
  EXPECT_FALSE(static_cast<bool>(script.GetProcMethod("NoSuchProcedure")));
}

TEST(ScriptRun, ExecuteFunctionCallsANamedRoutineBetweenTheEvents) {
  TPSScript script;
  script.Script().SetText(u"function Add(A, B: Integer): Integer;\nbegin\n  Result := A + B;\nend;\nbegin end.");
  ASSERT_TRUE(script.Compile()) << Messages(script);
  std::vector<std::string> log;
  script.OnExecute = [&](TPSScript*) { log.push_back("execute"); };
  script.OnAfterExecute = [&](TPSScript*) { log.push_back("after"); };
  rtl::Variant sum = script.ExecuteFunction({rtl::Variant(40), rtl::Variant(2)}, "add");
  EXPECT_EQ(sum.AsInt64(), 42);
  EXPECT_EQ(log, (std::vector<std::string>{"execute", "after"}));
  EXPECT_THROW(script.ExecuteFunction({}, "NoSuchRoutine"), rtl::Exception);
  EXPECT_EQ(log.size(), 4u) << "the events run around a failing call too";
}

TEST(ScriptRun, StopFromAnEventEndsTheRun) {
  TPSScript script;
  script.OnCompile = [](TPSScript* s) { s->AddRegisteredVariable("Turns", "Integer"); };
  script.Script().SetText(u"begin\n  while True do\n    Turns := Turns + 1;\nend.");
  ASSERT_TRUE(script.Compile()) << Messages(script);
  int lines = 0;
  script.OnLine = [&](TPSScript* s) {
    if (++lines == 50) s->Stop();
  };
  script.Execute();
  EXPECT_FALSE(script.Running());
  EXPECT_GE(lines, 50);
  EXPECT_LT(lines, 1000);
  EXPECT_THROW(script.Stop(), rtl::Exception);
}

TEST(ScriptRun, AScriptCannotFreeAnObjectItsHostOwns) {
  TPSImport_Classes classes;
  TPSScript script;
  script.Plugins().Add(&classes);
  script.OnCompile = [](TPSScript* s) { s->AddRegisteredVariable("List", "TStringList"); };
  script.Script().SetText(u"begin\n  List.Add('x');\n  List.Free;\nend.");
  ASSERT_TRUE(script.Compile()) << Messages(script);
  rtl::TStringList host;
  script.OnExecute = [&](TPSScript* s) { s->SetVarToInstance("List", &host); };
  EXPECT_FALSE(script.Execute());
  EXPECT_EQ(script.ExecErrorParam(), SCannotFreeHostObject);
  EXPECT_EQ(script.ExecErrorRow(), 3u);
  EXPECT_EQ(host.Count(), 1);
  EXPECT_TRUE(rtl::TObjectRegistry::IsLive(&host));
}
