// Jumps with goto: into a block that is not open at the goto is refused at
// compile time, whichever of label and goto comes first; jumps within a block
// compile and run.
#include <gtest/gtest.h>

#include "tests/engine/compiler/ScriptRunner.h"

namespace {

struct TGotoCase {
  const char* Name;
  const char* Body;    // statements of the main block; label L is declared
  const char* Output;  // what the run prints, or the compile error
};

TEST(Goto, IntoABlockThatIsNotOpenIsRefused) {
  const TGotoCase cases[] = {
      {"back into for", "for i := 1 to 2 do begin L: n := n + 1; end; if n < 5 then goto L;",
       "[Error] (3:71): Invalid jump"},
      {"back into while", "while n < 2 do begin n := n + 1; L: end; if n < 5 then goto L;",
       "[Error] (3:67): Invalid jump"},
      {"back into repeat", "repeat L: n := n + 1; until n > 1; if n < 5 then goto L;", "[Error] (3:61): Invalid jump"},
      {"back into with", "with r do begin L: A := A + 1; end; if r.A < 5 then goto L;", "[Error] (3:64): Invalid jump"},
      {"back into case", "case n of 0: begin L: n := n + 1; end; end; if n < 5 then goto L;",
       "[Error] (3:70): Invalid jump"},
      {"back into try", "try L: n := n + 1; finally end; if n < 5 then goto L;", "[Error] (3:58): Invalid jump"},
      {"back into except", "try n := 1; except L: n := n + 1; end; if n < 5 then goto L;",
       "[Error] (3:65): Invalid jump"},
      {"back into finally", "try n := 1; finally L: n := n + 1; end; if n < 5 then goto L;",
       "[Error] (3:66): Invalid jump"},
      {"forward into for", "goto L; for i := 1 to 2 do begin L: n := n + 1; end;", "[Error] (3:58): Invalid jump"},
      {"forward into try", "goto L; try L: n := n + 1; finally end;", "[Error] (3:34): Invalid jump"},
      {"from finally back into try", "try L: n := n + 1; finally if n < 5 then goto L; end;",
       "[Error] (3:56): Invalid jump"},
      {"back within a loop body",
       "for i := 1 to 2 do begin n := 0; L: n := n + 1; if n < 3 then goto L; Print(IntToStr(n)); end;", "3\n3\n"},
      {"back within a finally part", "try finally L: n := n + 1; if n < 4 then goto L; end; Print(IntToStr(n));",
       "4\n"},
      {"back at the outermost level", "L: n := n + 1; if n < 4 then goto L; Print(IntToStr(n));", "4\n"},
      {"forward at the outermost level", "goto L; n := 9; L: Print(IntToStr(n));", "0\n"},
      {"back to the start of a loop",
       "L: while n < 10 do begin n := n + 1; end; i := i + 1; if i < 3 then begin n := n - 5; goto L; end;"
       " Print(IntToStr(n));",
       "10\n"},
  };
  for (const auto& c : cases) {
    std::string source = std::string("type TR = record A: Integer; end;\nlabel L; var i, n: Integer; r: TR;\nbegin ") +
                         c.Body + "\nend.\n";
    auto run = ps::testing::RunScriptSource(source);
    std::string expected = c.Output;
    if (expected.rfind("[Error]", 0) == 0) expected = "Compile error(s):\n" + expected + "\n";
    EXPECT_EQ(run.Text(), expected) << c.Name;
  }
}

}  // namespace
