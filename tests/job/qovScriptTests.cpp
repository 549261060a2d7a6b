// The script host: its reports, the variables it binds and the functions it
// declares, without a workbook.
#include <gtest/gtest.h>

#include "data/qovData.h"
#include "job/qovScript.h"

using job::TqovScript;

namespace {

rtl::TStringList Lines(std::initializer_list<const char16_t*> lines) {
  rtl::TStringList list;
  for (const char16_t* l : lines) list.Add(l);
  return list;
}

rtl::UnicodeString ReportOf(TqovScript& host) {
  try {
    host.Execute();
  } catch (const rtl::Exception& e) {
    return e.Message();
  }
  return u"";
}

// Declares a function that the executor never gets, so loading fails.
class TUnboundFunctionHost : public TqovScript {
 protected:
  void HandleCompile(ps::TPSScript* Sender) override {
    TqovScript::HandleCompile(Sender);
    Sender->Comp()->AddNativeFunction("function NotBound: Integer;");
  }
};

}  // namespace

TEST(ScriptHost, ARunsWithDataAndParametersAndReportsNothing) {
  data::TqovData table(Lines({u"a;b", u"1;2"}), true, u';');
  TqovScript host;
  host.SetData(&table);
  host.SetParameters(Lines({u"p0", u"p1"}));
  host.SetScriptText(Lines({u"begin", u"  if (DATA[1][1] <> '2') or (PARAMETERS[1] <> 'p1') then",
                            u"    RaiseException(erCustomError, 'wrong');", u"  OutputDebugString('quiet');",
                            u"  PARAMETERS.Add('x');", u"end."}));
  EXPECT_EQ(ReportOf(host), u"");
  // The script changed the host's copy, not the caller's list.
  EXPECT_EQ(host.Parameters().Count(), 3);
}

TEST(ScriptHost, ACompileReportListsEveryMessage) {
  TqovScript host;
  host.SetScriptText(Lines({u"var a: Integer;", u"begin", u"  a := ;", u"end."}));
  rtl::UnicodeString report = ReportOf(host);
  EXPECT_EQ(report.rfind(u"Compile error(s):\r\n[Error] ", 0), 0u) << rtl::UnicodeToUtf8(report);
  EXPECT_NE(report.find(u"(3:"), rtl::UnicodeString::npos);
}

TEST(ScriptHost, ACompiledScriptThatCannotLoadSaysWhy) {
  TUnboundFunctionHost host;
  host.SetScriptText(Lines({u"begin", u"  if NotBound = 0 then;", u"end."}));
  rtl::UnicodeString report = ReportOf(host);
  EXPECT_EQ(report.rfind(u"Compile error(s):\r\n", 0), 0u) << rtl::UnicodeToUtf8(report);
  EXPECT_NE(report.find(u"Cannot Import NOTBOUND\r\n"), rtl::UnicodeString::npos) << rtl::UnicodeToUtf8(report);
}

TEST(ScriptHost, ARuntimeReportGivesThePositionAndTheSourceLine) {
  TqovScript host;
  host.SetScriptText(Lines({u"var L: TStringList;", u"begin", u"  L := TStringList.Create;", u"  try",
                            u"    L[3] := 'x';", u"  finally L.Free; end;", u"end."}));
  rtl::UnicodeString report = ReportOf(host);
  EXPECT_EQ(report.rfind(u"Runtime error\r\n", 0), 0u) << rtl::UnicodeToUtf8(report);
  EXPECT_NE(report.find(u"List index out of bounds (3)"), rtl::UnicodeString::npos) << rtl::UnicodeToUtf8(report);
  EXPECT_NE(report.find(u" at line 5, column "), rtl::UnicodeString::npos) << rtl::UnicodeToUtf8(report);
  EXPECT_TRUE(report.ends_with(u"\r\n::    L[3] := 'x';\r\n")) << rtl::UnicodeToUtf8(report);
}

TEST(ScriptHost, GlobalsAreReleasedAfterTheRunAndTheHostCanRunAgain) {
  TqovScript host;
  host.SetScriptText(Lines({u"var L: TStringList;", u"begin", u"  PARAMETERS.Add('run');", u"end."}));
  EXPECT_EQ(ReportOf(host), u"");
  EXPECT_EQ(ReportOf(host), u"");
  EXPECT_EQ(host.Parameters().Count(), 2);
}
