// Temporaries are strictly last in, first out: however many times a loop of
// every kind of statement runs, the stack stays as deep as one round needs.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/runtime/HostCalls.h"
#include "tests/engine/compiler/ScriptRunner.h"

namespace {

TEST(StackBalance, LoopsOfEveryStatementKindDoNotGrowTheStack) {
  const char* source =
      "type TRec = record A: array of Integer; S: string; end;\n"
      "var r: array of TRec; i, j, k: Integer; s: string; v: Variant; L: TStringList;\n"
      "function F(x: Integer; var y: Integer): Integer; begin y := y + 1; Result := x * 2; end;\n"
      "begin\n"
      "  SetLength(r, 2); SetLength(r[1].A, 3); L := TStringList.Create;\n"
      "  for i := 1 to 1000 do\n"
      "  begin\n"
      "    r[1].A[i mod 3] := F(i, j) + Length(r[1].S);\n"
      "    s := Copy(IntToStr(i) + 'x', 1, 2); s[1] := 'z'; k := Ord(s[2]);\n"
      "    case s of 'z1': k := 1; 'a'..'y': k := 2; else k := 3; end;\n"
      "    with r[1] do S := S + '';\n"
      "    L.Add(s); v := L[0] + L.Strings[0];\n"
      "    while k > 0 do begin k := k - 1; if k = 1 then break; end;\n"
      "    repeat k := k + 1; if k = 2 then continue; until k > 3;\n"
      "    try if i = 5 then RaiseException(erCustomError, 'x'); except k := 0; end;\n"
      "    try k := k + 1; finally k := k - 1; end;\n"
      "    if (i in [1, 2, 3]) or (k > 100) then j := j + 1;\n"
      "  end;\n"
      "  L.Free;\n"
      "end.\n";
  std::string module, debug;
  std::vector<std::string> messages;
  ASSERT_TRUE(ps::testing::CompileScriptSource(source, false, module, debug, messages))
      << (messages.empty() ? "" : messages.back());
  // Run with the standard classes through the shared runner first, to be sure
  // the script itself succeeds.
  auto run = ps::testing::RunScriptSource(source);
  ASSERT_TRUE(run.Ok) << run.Text();
  // Then count the stack at every instruction of a plain executor (no
  // classes needed for the count: the script's class use is replaced).
  std::string plain = source;
  for (const char* from : {"L := TStringList.Create;", "L.Add(s); v := L[0] + L.Strings[0];", "L.Free;"}) {
    auto at = plain.find(from);
    plain.replace(at, std::string(from).size(), "v := s;");
  }
  plain.replace(plain.find(" L: TStringList;"), std::string(" L: TStringList;").size(), "");
  module.clear();
  debug.clear();
  ASSERT_TRUE(ps::testing::CompileScriptSource(plain, false, module, debug, messages)) << messages.back();
  ps::TPSExec exec;
  int deepest = 0;
  exec.SetOnRunLine([&](ps::TPSExec* e) { deepest = std::max(deepest, e->Stack().Count()); });
  ASSERT_TRUE(exec.LoadData(module));
  ASSERT_TRUE(exec.RunScript()) << rtl::UnicodeToUtf8(exec.ExceptionString());
  EXPECT_GT(deepest, 0);
  EXPECT_LT(deepest, 40) << "temporaries left behind would pile up over 1000 rounds";
}

}  // namespace
