// Regular expressions as scripts use them: the declarations, the bindings of
// every member, sets, events and the errors scripts see.
#include <gtest/gtest.h>

#include "BindingScript.h"

using bindings::testing::RunBindingScript;

namespace {

// Runs `body` with R: TPerlRegEx created and freed around it.
std::string RunWithRegEx(const std::string& body, const std::string& decls = "") {
  // Freed in a finally section: scripts that stop with an error leak nothing.
  auto run = RunBindingScript("var R: TPerlRegEx; L: TStringList; S: string;\n" + decls +
                              "begin\nR := TPerlRegEx.Create; L := TStringList.Create;\ntry\n" + body +
                              "\nfinally L.Free; R.Free; end;\nend.\n");
  return run.Output;
}

}  // namespace

TEST(RegExScripts, EmptyMatchesNeedTheEmptyState) {
  EXPECT_EQ(RunWithRegEx("R.RegEx := 'a*'; R.Subject := 'bbb';\n"
                         "if not R.Match then Print('none');\n"
                         "R.State := []; if R.Match then Print(IntToStr(R.MatchedExpressionOffset) + ':' +"
                         " IntToStr(R.MatchedExpressionLength));\n"
                         "if R.MatchAgain then Print(IntToStr(R.MatchedExpressionOffset));\n"
                         "if R.State = [] then Print('empty state');"),
            "none\n1:0\n2\nempty state\n");
}

TEST(RegExScripts, ReplaceWithTemplates) {
  struct Case {
    const char* pattern;
    const char* subject;
    const char* replacement;
    const char* expected;
  } cases[] = {
      {"(\\d+)-(\\d+)", "10-20", "$2-$1", "20-10|20-10"},
      {"(abc)", "abc", "\\U1", "ABC|ABC"},
      {"(.+)", "hello big world", "\\I1", "Hello Big World|Hello Big World"},
      {"(.+)", "hello big world", "\\F1", "Hello big world|Hello big world"},
      {"(x)", "x", "$$1", "$1|$1"},
      {"(x)", "x", "y$", "y$|y$"},
      {"x", "ax", "$''$''", "|a"},  // $'$' in a script literal
      {"(?<name>b)", "abc", "[${name}]", "[b]|a[b]c"},
      {"b", "abc", "${nosuch}", "${nosuch}|a${nosuch}c"},
      {"b", "abc", "<\\g<nosuch>>", "<>|a<>c"},
  };
  for (const auto& c : cases) {
    std::string out = RunWithRegEx(std::string("R.RegEx := '") + c.pattern + "'; R.Subject := '" + c.subject +
                                   "'; R.Replacement := '" + c.replacement +
                                   "';\nif R.Match then begin S := R.Replace; Print(S + '|' + R.Subject); end;");
    EXPECT_EQ(out, std::string(c.expected) + "\n") << c.pattern << " " << c.replacement;
  }
}

TEST(RegExScripts, SplitAppendsPiecesUpToTheLimit) {
  EXPECT_EQ(RunWithRegEx("R.RegEx := ','; R.Subject := 'a,b,,c';\n"
                         "R.Split(L, 0); Print(IntToStr(L.Count) + ' ' + L.CommaText); L.Clear;\n"
                         "R.Split(L, 2); Print(IntToStr(L.Count) + ' ' + L.CommaText);"),
            "4 a,b,,c\n2 a,\"b,,c\"\n");
}

TEST(RegExScripts, PositionsAreUtf8Bytes) {
  EXPECT_EQ(RunWithRegEx("R.RegEx := 'é'; R.Subject := 'aéb';\n"
                         "if R.Match then Print(IntToStr(R.MatchedExpressionOffset) + ' ' +"
                         " IntToStr(R.MatchedExpressionLength) + ' ' + R.MatchedExpression);"),
            "2 2 é\n");
}

TEST(RegExScripts, ErrorsReachTheScriptWithTheirTexts) {
  std::string out = RunWithRegEx("R.RegEx := 'x'; Print(R.MatchedExpression);");
  EXPECT_NE(out.find("Successful match required"), std::string::npos) << out;
  out = RunWithRegEx("R.RegEx := '(a)(b)'; R.Subject := 'ab'; R.Match; Print(IntToStr(R.SubExpressionLengths[5]));");
  EXPECT_NE(out.find("Index out of bounds (5)"), std::string::npos) << out;
  out = RunWithRegEx("R.Subject := 'ab'; R.Match;");
  EXPECT_NE(out.find("A regular expression specified in RegEx is required"), std::string::npos) << out;
  out = RunWithRegEx("R.RegEx := '(a'; R.Compile;");
  EXPECT_NE(out.find("Error in regular expression at offset"), std::string::npos) << out;
  out = RunWithRegEx("R.RegEx := 'a'; R.Split(nil, 0);");
  EXPECT_NE(out.find("Strings parameter cannot be nil"), std::string::npos) << out;
}

TEST(RegExScripts, GroupsOptionsAndNames) {
  EXPECT_EQ(RunWithRegEx("R.RegEx := '(?<y>\\d{4})-(\\d\\d)'; R.Subject := 'on 2026-12 and';\n"
                         "R.Options := [preCaseLess]; if preCaseLess in R.Options then Print('caseless');\n"
                         "if R.Match then Print(IntToStr(R.SubExpressionCount) + ' ' + R.SubExpressions[1] + ' ' +"
                         " R.SubExpressions[2] + ' ' + IntToStr(R.SubExpressionOffsets[2]) + ' ' +"
                         " IntToStr(R.NamedSubExpression('y')));\n"
                         "R.Study; if R.Studied and R.Compiled and R.FoundMatch then Print('ok');\n"
                         "Print(R.EscapeRegExChars('a.b*c'));\n"
                         "R.RegEx := 'AB'; R.Subject := 'xab'; R.Options := []; if not R.Match then Print('case');\n"
                         "R.Options := [preCaseLess]; if R.Match then Print(R.MatchedExpression);\n"
                         "R.RegEx := 'a+'; R.Subject := 'aaa'; R.Options := [preUnGreedy];"
                         " if R.Match then Print(R.MatchedExpression);"),
            "caseless\n2 2026 12 9 1\nok\na\\.b\\*c\ncase\nab\na\n");
}

TEST(RegExScripts, StartAndStopLimitTheSearch) {
  EXPECT_EQ(RunWithRegEx("R.RegEx := '\\d'; R.Subject := '1a2b3'; R.Match; R.Start := 4;"
                         " if R.MatchAgain then Print(R.MatchedExpression);\n"
                         "R.Stop := 2; R.Start := 1; R.Match; if not R.MatchAgain then Print('stopped ' +"
                         " IntToStr(R.Stop));"),
            "3\nstopped 2\n");
}

TEST(RegExScripts, ReplaceAllCallsTheScriptsHandlers) {
  std::string decls =
      "procedure Matched(Sender: TObject); begin Print('match ' + R.MatchedExpression); end;\n"
      "procedure Replacing(Sender: TObject; var ReplaceWith: string);\n"
      "begin ReplaceWith := '<' + ReplaceWith + '>'; end;\n";
  EXPECT_EQ(RunWithRegEx("R.RegEx := '\\d+'; R.Subject := 'a1b22c'; R.Replacement := '#$0';\n"
                         "R.OnMatch := @Matched; R.OnReplace := @Replacing;\n"
                         "if R.ReplaceAll then Print(R.Subject);",
                         decls),
            "match 1\nmatch 22\na<#1>b<#22>c\n");
}

TEST(RegExScripts, AFailingHandlerStopsTheScriptWithItsError) {
  std::string decls = "procedure Matched(Sender: TObject); begin RaiseException(erCustomError, 'boom'); end;\n";
  std::string out = RunWithRegEx("R.RegEx := 'a'; R.Subject := 'a'; R.OnMatch := @Matched; R.Match; Print('no');",
                                 decls);
  EXPECT_NE(out.find("boom"), std::string::npos) << out;
  EXPECT_EQ(out.find("no\n"), std::string::npos) << out;
}

TEST(RegExScripts, TheListFindsTheEarliestMatchAndTiesGoToTheFirst) {
  auto run = RunBindingScript(
      "var A, B, C: TPerlRegEx; L: TPerlRegExList;\n"
      "begin\n"
      "A := TPerlRegEx.Create; B := TPerlRegEx.Create; C := TPerlRegEx.Create; L := TPerlRegExList.Create;\n"
      "A.RegEx := 'e'; B.RegEx := 'c'; C.RegEx := 'c.';\n"
      "L.Add(A); L.Add(B); L.Add(C); L.Subject := 'abcde';\n"
      "if L.Match then Print(L.MatchedRegEx.RegEx + ' ' + IntToStr(L.MatchedRegEx.MatchedExpressionOffset));\n"
      "if L.MatchAgain then Print(L.MatchedRegEx.RegEx);\n"
      "Print(IntToStr(L.Count) + ' ' + IntToStr(L.IndexOf(C)));\n"
      "L.Delete(0); L.Insert(0, C); Print(L.RegEx[0].RegEx + L.RegEx[1].RegEx);\n"
      "L.Clear; Print(IntToStr(L.Count)); L.Free; A.Free; B.Free; C.Free;\n"
      "end.\n");
  EXPECT_TRUE(run.Ok) << run.Output;
  EXPECT_EQ(run.Output, "c 3\ne\n3 2\nc.c\n0\n");
}

TEST(RegExScripts, ReplaceAllOverAMegabyteSubject) {
  auto run = RunBindingScript(
      "var R: TPerlRegEx; S: string; I: Integer;\n"
      "begin S := 'ab12cd345 '; for I := 1 to 17 do S := S + S;\n"
      "R := TPerlRegEx.Create; R.RegEx := '\\d+'; R.Replacement := '<$0>'; R.Subject := S;\n"
      "R.ReplaceAll; Print(IntToStr(Length(R.Subject))); R.Free; end.\n");
  EXPECT_EQ(run.Output, "1835008\n");
}
