// TPSScript: the registration window, plug-in hooks, Compile and Execute,
// the error properties and the default plug-ins.
#include <gtest/gtest.h>

#include "engine/uPSComponent.h"
#include "engine/uPSComponent_Default.h"
#include "tests/engine/component/ScriptTestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

// Records every hook it is called through.
class TRecordingPlugin : public TPSPlugin {
 public:
  explicit TRecordingPlugin(std::vector<std::string>& log, std::string name = "P")
      : FLog(log), FName(std::move(name)) {}
  void CompOnUses(TPSScript*) override { FLog.push_back(FName + ".CompOnUses"); }
  void ExecOnUses(TPSScript*) override { FLog.push_back(FName + ".ExecOnUses"); }
  void CompileImport1(TPSScript*) override { FLog.push_back(FName + ".CompileImport1"); }
  void CompileImport2(TPSScript*) override { FLog.push_back(FName + ".CompileImport2"); }
  void ExecImport1(TPSScript*, TPSRuntimeClassImporter&) override { FLog.push_back(FName + ".ExecImport1"); }
  void ExecImport2(TPSScript*, TPSRuntimeClassImporter&) override { FLog.push_back(FName + ".ExecImport2"); }

 private:
  std::vector<std::string>& FLog;
  std::string FName;
};

int32_t Twice(int32_t n) { return 2 * n; }

}  // namespace

TEST(ScriptComponent, RegistrationOnlyInsideTheCompileWindow) {
  TPSScript script;
  script.Script().SetText(u"begin end.");
  EXPECT_FALSE(script.AddFunction(&Twice, "function Twice(n: Integer): Integer;")) << "before Compile";
  EXPECT_FALSE(script.AddRegisteredVariable("V", "Integer"));
  bool added = false, variable = false;
  script.OnCompile = [&](TPSScript* s) {
    added = s->AddFunction(&Twice, "function Twice(n: Integer): Integer;");
    variable = s->AddRegisteredVariable("Counter", "Integer");
  };
  ASSERT_TRUE(script.Compile());
  EXPECT_TRUE(added);
  EXPECT_TRUE(variable);
  EXPECT_NE(script.GetVariable("COUNTER"), nullptr) << "registered variables are exported under their names";
  EXPECT_NE(script.GetVariable("counter"), nullptr);
  EXPECT_FALSE(script.AddFunction(&Twice, "function Twice2(n: Integer): Integer;")) << "after a successful Compile";
  EXPECT_EQ(script.Comp()->FindRegProc("TWICE2"), nullptr);
}

TEST(ScriptComponent, AnUnparsableDeclarationEndsTheCompileWithItsMessage) {
  TPSScript script;
  script.Script().SetText(u"begin end.");
  script.OnCompile = [](TPSScript* s) { s->AddFunction(&Twice, "function (: Integer;"); };
  EXPECT_FALSE(script.Compile());
  ASSERT_GE(script.CompilerMessageCount(), 1);
  EXPECT_NE(Utf8(script.CompilerErrorToStr(script.CompilerMessageCount() - 1)).find("Unable to register function"),
            std::string::npos);
}

TEST(ScriptComponent, SyntaxErrorsAreMessagesNotExceptions) {
  TPSScript script;
  script.Script().SetText(u"program x;\nbegin\nend");
  EXPECT_FALSE(script.Compile());
  ASSERT_GE(script.CompilerMessageCount(), 1);
  EXPECT_EQ(Utf8(script.CompilerErrorToStr(0)).rfind("[Error]", 0), 0u) << Utf8(script.CompilerErrorToStr(0));
}

TEST(ScriptComponent, PluginHooksRunInOrderAroundTheHostEvents) {
  std::vector<std::string> log;
  TRecordingPlugin a(log, "A"), b(log, "B");
  TPSScript script;
  script.Plugins().Add(&a);
  script.Plugins().Add(&b);
  script.OnExecImport = [&](rtl::TObject*, TPSExec*, TPSRuntimeClassImporter*) { log.push_back("OnExecImport"); };
  script.OnCompImport = [&](rtl::TObject*, TPSPascalCompiler*) { log.push_back("OnCompImport"); };
  script.OnCompile = [&](TPSScript*) { log.push_back("OnCompile"); };
  script.Script().SetText(u"begin end.");
  ASSERT_TRUE(script.Compile());
  const std::vector<std::string> expected = {
      "A.ExecImport1",    "B.ExecImport1", "OnExecImport",     "A.ExecImport2",    "B.ExecImport2",
      "A.ExecOnUses",     "B.ExecOnUses",  "A.CompOnUses",     "B.CompOnUses",     "A.CompileImport1",
      "B.CompileImport1", "OnCompImport",  "A.CompileImport2", "B.CompileImport2", "OnCompile"};
  EXPECT_EQ(log, expected);
}

TEST(ScriptComponent, ADestroyedPluginLeavesTheList) {
  std::vector<std::string> log;
  TPSScript script;
  auto kept = std::make_unique<TRecordingPlugin>(log, "K");
  auto gone = std::make_unique<TRecordingPlugin>(log, "G");
  script.Plugins().Add(gone.get());
  script.Plugins().Add(kept.get());
  script.Plugins().Add(gone.get());
  EXPECT_EQ(script.Plugins().Count(), 3);
  gone.reset();
  ASSERT_EQ(script.Plugins().Count(), 1);
  EXPECT_EQ(script.Plugins().Items(0)->Plugin(), kept.get());
  script.Script().SetText(u"begin end.");
  ASSERT_TRUE(script.Compile());
  for (const auto& entry : log) EXPECT_EQ(entry[0], 'K') << entry;
}

TEST(ScriptComponent, PluginItemDisplayNameAndAssign) {
  std::vector<std::string> log;
  TRecordingPlugin plugin(log);
  TPSScript script;
  TPSPluginItem* empty = script.Plugins().Add(nullptr);
  EXPECT_EQ(empty->DisplayName(), u"<nil>");
  TPSPluginItem* named = script.Plugins().Add(&plugin);
  plugin.SetName(u"Dates");
  EXPECT_EQ(named->DisplayName(), u"Dates");
  empty->Assign(named);
  EXPECT_EQ(empty->Plugin(), &plugin);
}

TEST(ScriptComponent, ExecuteRefusesToStartAgainFromItsOwnEvents) {
  TPSScript script;
  script.Script().SetText(u"begin end.");
  ASSERT_TRUE(script.Compile());
  std::string inner;
  int after = 0;
  script.OnExecute = [&](TPSScript* s) {
    EXPECT_TRUE(s->Running());
    try {
      s->Execute();
    } catch (const rtl::Exception& e) {
      inner = Utf8(e.Message());
    }
  };
  script.OnAfterExecute = [&](TPSScript*) { ++after; };
  EXPECT_TRUE(script.Execute());
  EXPECT_EQ(inner, "Script engine already running");
  EXPECT_EQ(after, 1);
  EXPECT_FALSE(script.Running());
  EXPECT_TRUE(script.Execute()) << "runs again once the first has returned";
}

TEST(ScriptComponent, FailuresOutsideARunAreExceptionsWithTheirTexts) {
  TPSScript script;
  std::string data;
  try {
    script.GetCompiled(data);
    ADD_FAILURE();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), SScriptNotCompiled);
  }
  try {
    script.Stop();
    ADD_FAILURE();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), SNotRunning);
  }
  try {
    script.FireOnGetNotificationVariant("X");
    ADD_FAILURE();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), SUnableToReadVariant);
  }
  try {
    script.FireOnSetNotificationVariant("X", rtl::Variant(1));
    ADD_FAILURE();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), SUnableToWriteVariant);
  }
  try {
    script.SetCompiled("not a module");
    ADD_FAILURE();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), script.ExecErrorToString());
    EXPECT_NE(script.ExecErrorCode(), ErNoError);
  }
}

TEST(ScriptComponent, CompiledModulesCanBeTakenAndLoadedAgain) {
  TPSScript first;
  first.Script().SetText(u"var Shared: Integer; begin end.");
  ASSERT_TRUE(first.Compile());
  std::string module;
  first.GetCompiled(module);
  EXPECT_FALSE(module.empty());
  TPSScript second;
  second.SetCompiled(module);
  EXPECT_TRUE(second.Execute());
}

TEST(ScriptComponent, SetVarToInstanceBindsHostObjectsToClassVariables) {
  TPSImport_Classes classes;
  TPSScript script;
  script.Plugins().Add(&classes);
  script.OnCompile = [](TPSScript* s) {
    s->AddRegisteredVariable("List", "TStringList");
    s->AddRegisteredVariable("Count", "Integer");
  };
  script.Script().SetText(u"begin end.");
  ASSERT_TRUE(script.Compile()) << (script.CompilerMessageCount() ? Utf8(script.CompilerErrorToStr(0)) : "");
  rtl::TStringList host;
  EXPECT_FALSE(script.SetVarToInstance("NoSuchVariable", &host));
  EXPECT_TRUE(script.SetVarToInstance("List", nullptr));
  EXPECT_TRUE(script.SetVarToInstance("List", &host));
  int no = script.Exec()->GetVar("LIST");
  EXPECT_EQ(script.Exec()->GlobalVars().GetClass(no), &host);
  EXPECT_TRUE(script.SetVarToInstance("Count", &host)) << "a variable of another type stays as it was";
}

TEST(ScriptComponent, DefaultPluginsDeclareTheirLibrariesAndHonourTheirSwitches) {
  const char16_t* text = u"var L: TStringList; M: TMemoryStream; D: TDateTime; begin end.";
  {
    TPSImport_Classes classes;
    TPSImport_DateUtils dates;
    TPSScript script;
    script.Plugins().Add(&classes);
    script.Plugins().Add(&dates);
    script.Script().SetText(text);
    EXPECT_TRUE(script.Compile()) << (script.CompilerMessageCount() ? Utf8(script.CompilerErrorToStr(0)) : "");
    EXPECT_NE(script.RuntimeImporter()->FindClass("TStringList"), nullptr);
    EXPECT_NE(script.RuntimeImporter()->FindClass("TMemoryStream"), nullptr);
  }
  {
    TPSImport_Classes classes;
    classes.SetEnableStreams(false);
    TPSScript script;
    script.Plugins().Add(&classes);
    script.Script().SetText(u"var L: TStringList; M: TMemoryStream; begin end.");
    EXPECT_FALSE(script.Compile()) << "no stream classes";
    EXPECT_EQ(script.RuntimeImporter()->FindClass("TMemoryStream"), nullptr);
    EXPECT_NE(script.RuntimeImporter()->FindClass("TStringList"), nullptr);
  }
  {
    TPSImport_Classes classes;
    classes.SetEnableClasses(false);
    TPSScript script;
    script.Plugins().Add(&classes);
    script.Script().SetText(u"var L: TStringList; begin end.");
    EXPECT_FALSE(script.Compile());
    EXPECT_EQ(script.RuntimeImporter()->FindClass("TStringList"), nullptr);
    EXPECT_NE(script.RuntimeImporter()->FindClass("TComponent"), nullptr) << "the standard classes stay";
  }
}

TEST(ScriptComponent, UsesOfAnUnknownUnitAskOnFindUnknownFile) {
  TPSScript script;
  std::string asked;
  script.OnFindUnknownFile = [&](rtl::TObject*, const std::string&, std::string& fileName, std::string&) {
    asked = fileName;
    return false;
  };
  script.Script().SetText(u"uses Helpers; begin end.");
  EXPECT_FALSE(script.Compile());
  EXPECT_EQ(asked, "HELPERS");
  ASSERT_GE(script.CompilerMessageCount(), 1);
  EXPECT_NE(Utf8(script.CompilerErrorToStr(0)).find("Unknown identifier 'HELPERS'"), std::string::npos)
      << Utf8(script.CompilerErrorToStr(0));
}

TEST(ScriptComponent, ErrorPositionsAreZeroWithoutATranslatablePosition) {
  TPSScript script;
  script.Script().SetText(u"begin end.");
  ASSERT_TRUE(script.Compile());
  ASSERT_TRUE(script.Execute());
  EXPECT_EQ(script.ExecErrorCode(), ErNoError);
  EXPECT_EQ(script.ExecErrorRow(), 0u);
  EXPECT_EQ(script.ExecErrorCol(), 0u);
  EXPECT_EQ(script.ExecErrorFileName(), "");
}

TEST(ScriptComponent, ThePreprocessorPathUsesDefinesIncludesAndTheMainFileName) {
  TPSScript script;
  script.SetUsePreProcessor(true);
  script.SetMainFileName("main.pas");
  std::string asked;
  std::string included = "var X: Integer;";
  script.OnNeedFile = [&](rtl::TObject*, const std::string&, std::string& fileName, std::string& output) {
    asked = fileName;
    output = included;
    return true;
  };
  script.Script().SetText(u"{$IFDEF BROKEN} this does not compile {$ENDIF}\n{$I inc.pas}\nbegin end.");
  EXPECT_TRUE(script.Compile()) << (script.CompilerMessageCount() ? Utf8(script.CompilerErrorToStr(0)) : "");
  EXPECT_EQ(asked, "inc.pas");
  script.Defines().Add(u"BROKEN");
  EXPECT_FALSE(script.Compile());
  script.Defines().Clear();
  included = "var\n  X: ;";
  EXPECT_FALSE(script.Compile());
  ASSERT_GE(script.CompilerMessageCount(), 1);
  std::string text = Utf8(script.CompilerErrorToStr(0));
  EXPECT_NE(text.find("inc.pas(2:"), std::string::npos) << "positions refer to the included file: " << text;
}
