// Deeply nested scripts: what real scripts nest compiles and runs; texts
// nested beyond the compiler's limits end in a message, not in a crash
// when the compiler's own recursion runs out of stack.
#include <gtest/gtest.h>

#include "engine/compiler/CodeGen.h"
#include "tests/engine/compiler/ScriptRunner.h"

namespace ps::testing {
namespace {

std::string Repeat(std::string_view s, int n) {
  std::string out;
  out.reserve(s.size() * static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

// What a script prints when it runs through the harness, or its failure.
std::string RunText(const std::string& source) {
  TScriptRun r = RunScriptSource(source);
  return (r.Ok ? "" : "failed: ") + r.Text();
}

std::string FirstMessage(const std::string& source) {
  std::string module, debug;
  std::vector<std::string> messages;
  if (CompileScriptSource(source, false, module, debug, messages)) return "compiled";
  return messages.empty() ? "no message" : messages.front();
}

}  // namespace

TEST(NestingLimits, WhatScriptsReallyNestCompilesAndRuns) {
  const int n = 150;  // below every limit
  EXPECT_EQ(RunText("var x: Integer;\nbegin\n  x := " + Repeat("(", n) + "7" + Repeat(")", n) +
                    ";\n  Print(IntToStr(x));\nend."),
            "7\n");
  EXPECT_EQ(RunText("var x: Integer;\nbegin\n  x := 1;\n  x := " + Repeat("-", n) + "x;\n  Print(IntToStr(x));\nend."),
            "1\n");
  EXPECT_EQ(RunText("var x: Integer;\nbegin\n" + Repeat("begin ", n) + "x := 3;" + Repeat(" end;", n) +
                    "\n  Print(IntToStr(x));\nend."),
            "3\n");
  EXPECT_EQ(RunText("var x: Integer;\nbegin\n  x := 1;\n" + Repeat("if x > 0 then ", n) +
                    "x := 5;\n  Print(IntToStr(x));\nend."),
            "5\n");
  // A long sum builds a deep tree without any nesting in the text.
  EXPECT_EQ(RunText("var x, y: Integer;\nbegin\n  x := 2;\n  y := x" + Repeat(" + x", 900) +
                    ";\n  Print(IntToStr(y));\nend."),
            "1802\n");
  EXPECT_EQ(RunText("const C = " + Repeat("(", n) + "4" + Repeat(")", n) + ";\nbegin\n  Print(IntToStr(C));\nend."),
            "4\n");
  EXPECT_EQ(RunText("type T = " + Repeat("array of ", 60) +
                    "Integer;\nvar a: T;\nbegin\n  SetLength(a, 2);\n"
                    "  Print(IntToStr(Length(a)));\nend."),
            "2\n");
}

TEST(NestingLimits, ALongElseIfChainIsNotNesting) {
  std::string chain = "var x, y: Integer;\nbegin\n  x := 4999;\n  ";
  for (int i = 0; i < 5000; ++i) chain += "if x = " + std::to_string(i) + " then y := " + std::to_string(i) + " else ";
  chain += "y := -1;\n  Print(IntToStr(y));\nend.";
  EXPECT_EQ(RunText(chain), "4999\n");
}

TEST(NestingLimits, TextsNestedBeyondTheLimitsEndInAMessage) {
  const int n = 100000;
  struct TCase {
    std::string Source;
    std::string_view Message;
  };
  const TCase cases[] = {
      {"var x: Integer; begin x := " + Repeat("(", n) + "1" + Repeat(")", n) + "; end.", SExpressionTooComplex},
      {"var x: Integer; begin x := " + Repeat("-", n) + "x; end.", SExpressionTooComplex},
      {"var x: Integer; begin x := " + Repeat("not ", n) + "x; end.", SExpressionTooComplex},
      {"var x: Integer; begin x := x" + Repeat(" + x", 2 * n) + "; end.", SExpressionTooComplex},
      {"var x: Integer; begin x := x" + Repeat(" * (x + x", 2000) + Repeat(")", 2000) + "; end.",
       SExpressionTooComplex},
      {"var x: Integer; begin " + Repeat("begin ", n) + Repeat(" end;", n) + " end.", SStatementsTooDeep},
      {"var x: Integer; begin " + Repeat("if x = 0 then ", n) + "x := 1; end.", SStatementsTooDeep},
      {"var x: Integer; begin " + Repeat("while x = 0 do ", n) + "x := 1; end.", SStatementsTooDeep},
      {"const C = " + Repeat("(", n) + "1" + Repeat(")", n) + "; begin end.", SExpressionTooComplex},
      {"const C = " + Repeat("-", n) + "1; begin end.", SExpressionTooComplex},
      {"type T = " + Repeat("array of ", n) + "Integer; begin end.", STypeTooDeep},
      {"type T = " + Repeat("record a: ", n) + "Integer;" + Repeat(" end;", n) + " begin end.", STypeTooDeep},
  };
  for (const TCase& c : cases) {
    std::string first = FirstMessage(c.Source);
    EXPECT_NE(first.find(c.Message), std::string::npos) << c.Source.substr(0, 60) << ": " << first;
  }
}

}  // namespace ps::testing
