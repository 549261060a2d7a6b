// The compiler's events and switches, and messages mapped back through the
// preprocessor's line information.
#include <gtest/gtest.h>

#include <map>

#include "CompilerTestSupport.h"
#include "engine/uPSPreProcessor.h"

namespace ps {
namespace {

using test::CompileScript;

TEST(CompilerEvents, ALexerErrorIsTheOnlyErrorReported) {
  for (const char* script :
       {"var a \" : Integer;", "type T = record A: Integer; 'x", "begin {", "const A = 1 + #1x;"}) {
    auto r = CompileScript(script);
    EXPECT_FALSE(r.ok);
    ASSERT_EQ(r.messages.size(), 1u) << script << "\n" << r.Messages();
  }
}

TEST(CompilerEvents, ExportCheckAndBeforeOutputCanStopTheCompile) {
  TPSPascalCompiler c;
  std::vector<std::string> seen;
  c.FOnExportCheck = [&](TPSPascalCompiler*, TPSInternalProcedure* p, const std::string& decl) {
    seen.push_back(p->FOriginalName + "=" + decl);
    return p->FName != "BAD";
  };
  auto r = CompileScript("procedure Good(a: Byte); begin end; procedure Bad; begin end; begin end.", {}, &c);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.module.empty());
  EXPECT_EQ(seen, (std::vector<std::string>{"Good=-1 @0", "Bad=-1"}));
  c.FOnExportCheck = nullptr;
  c.FOnBeforeOutput = [](TPSPascalCompiler*) { return false; };
  EXPECT_FALSE(CompileScript("begin end.", {}, &c).ok);
}

TEST(CompilerEvents, AHostEventThatThrowsStillClosesTheRegistrationWindow) {
  TPSPascalCompiler c;
  c.FOnBeforeOutput = [](TPSPascalCompiler*) -> bool { throw rtl::Exception("host failure"); };
  EXPECT_THROW(CompileScript("begin end.", {}, &c), rtl::Exception);
  EXPECT_THROW(c.AddType("T", btU8), EPSCompilerException);
  c.FOnBeforeOutput = nullptr;
  EXPECT_TRUE(CompileScript("begin end.", {}, &c).ok);
}

TEST(CompilerEvents, LineRecordsCanBeSuppressedOrTranslated) {
  TPSPascalCompiler c;
  c.FOnTranslateLineInfo = [](TPSPascalCompiler*, uint32_t& pos, uint32_t& row, uint32_t& col, std::string& name) {
    name = "inc.pas";
    row += 100;
  };
  auto r = CompileScript("begin\nend.", {}, &c);
  ASSERT_TRUE(r.ok);
  EXPECT_NE(r.debug.find(std::string("\x04inc.pas\x01", 9)), std::string::npos);
  c.FOnTranslateLineInfo = nullptr;
  c.FOnWriteLine = [](TPSPascalCompiler*, uint32_t) { return false; };
  r = CompileScript("begin\nend.", {}, &c);
  EXPECT_EQ(r.debug.find('\x04'), std::string::npos);
}

TEST(CompilerEvents, FunctionStartAndEndAreReported) {
  TPSPascalCompiler c;
  std::vector<std::string> events;
  c.FOnFunctionStart = [&](TPSPascalCompiler*, const std::string& name, uint32_t, uint32_t row, uint32_t) {
    events.push_back("start " + name + " " + std::to_string(row));
  };
  c.FOnFunctionEnd = [&](TPSPascalCompiler*, const std::string& name, uint32_t, uint32_t, uint32_t) {
    events.push_back("end " + name);
  };
  EXPECT_TRUE(CompileScript("\nprocedure Work; begin end;\nbegin end.", {}, &c).ok);
  EXPECT_EQ(events, (std::vector<std::string>{"start Work 2", "end Work"}));
}

TEST(CompilerEvents, Utf8DecodingMakesStringLiteralsWide) {
  TPSPascalCompiler c;
  c.FUtf8Decode = true;
  TPSConstant *e = nullptr, *word = nullptr;
  c.FOnBeforeOutput = [&](TPSPascalCompiler* comp) {
    e = comp->GetConstant("E");
    word = comp->GetConstant("W");
    return true;
  };
  ASSERT_TRUE(CompileScript("const E = '\xc3\xa9'; W = 'caf\xc3\xa9'; begin end.", {}, &c).ok);
  ASSERT_TRUE(e && word);
  EXPECT_EQ(e->FValue.FType->FName, "WIDECHAR");
  EXPECT_EQ(e->FValue.FInt, 0xE9);
  EXPECT_EQ(word->FValue.FType->FName, "UNICODESTRING");
  EXPECT_EQ(word->FValue.FWideString, u"caf\u00e9");
}

TEST(CompilerEvents, MessagesInIncludedFilesAreMappedToTheirFile) {
  TPSPreProcessor pp;
  pp.FMainFileName = "main.pas";
  pp.FMainFile = "{$I decl.inc}\r\nbegin end.";
  pp.FOnNeedFile = [](TPSPreProcessor*, const std::string&, std::string& name, std::string& out) {
    if (name != "decl.inc") return false;
    out = "var A: Integer;\r\n  B: Missing;\r\n";
    return true;
  };
  std::string text;
  pp.PreProcess("main.pas", text);
  TPSPascalCompiler c;
  auto r = CompileScript(text, {}, &c);
  ASSERT_FALSE(r.ok);
  pp.AdjustMessages(c);
  EXPECT_EQ(rtl::UnicodeToUtf8(c.Msg(0)->MessageToString()), "[Error] decl.inc(2:6): Unknown type 'Missing'");

  pp.FMainFile = "{$IFDEF NEVER}junk{$ENDIF}var\r\n  Unused: Byte;\r\nbegin end.";
  pp.PreProcess("main.pas", text);
  r = CompileScript(text, {}, &c);
  ASSERT_TRUE(r.ok) << r.Messages();
  pp.AdjustMessages(c);
  EXPECT_EQ(rtl::UnicodeToUtf8(c.Msg(0)->MessageToString()), "[Hint] main.pas(2:3): Variable 'UNUSED' never used");
}

TEST(CompilerEvents, MessageKindsRenderTheirTexts) {
  TPSPascalCompiler c;
  CompileScript("begin end.", {}, &c);
  struct Case {
    TPSPascalCompilerMessage* msg;
    const char* text;
  } cases[] = {
      {c.MakeWarning("", ewCalculationAlwaysEvaluatesTo, "True"),
       "[Warning] (1:11): Calculation always evaluates to True"},
      {c.MakeWarning("", ewIsNotNeeded, "\"and True\""), "[Warning] (1:11): \"and True\" is not needed"},
      {c.MakeWarning("", ewAbstractClass, ""), "[Warning] (1:11): Abstract Class Construction"},
      {c.MakeWarning("m", ewCustomWarning, "custom"), "[Warning] m(1:11): custom"},
      {c.MakeHint("", ehFunctionNotUsed, "F"), "[Hint] (1:11): Function 'F' never used"},
      {c.MakeHint("", ehCustomHint, "note"), "[Hint] (1:11): note"},
      {c.MakeError("", ecInvalidnumberOfParameters, ""), "[Error] (1:11): Invalid number of parameters"},
      {c.MakeError("", static_cast<TPSPascalCompilerErrorType>(200), "x"), "[Error] (1:11): Unknown error"},
      {c.MakeWarning("", static_cast<TPSPascalCompilerWarningType>(200), "x"), "[Warning] (1:11): Unknown warning"},
      {c.MakeHint("", static_cast<TPSPascalCompilerHintType>(200), "x"), "[Hint] (1:11): Unknown hint"},
  };
  for (auto& k : cases) EXPECT_EQ(rtl::UnicodeToUtf8(k.msg->MessageToString()), k.text);
}

}  // namespace
}  // namespace ps
