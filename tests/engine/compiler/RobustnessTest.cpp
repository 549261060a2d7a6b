// Truncated and damaged scripts end in one clear error, never in a crash or
// a silent success with nothing written.
#include <gtest/gtest.h>

#include "CompilerTestSupport.h"

namespace ps {
namespace {

const char* const RichScript =
    "program Demo;\r\n"
    "uses Extra;\r\n"
    "type\r\n"
    "  TColor = (cRed, cGreen);\r\n"
    "  [Info(1)] TPoint = record X, Y: Integer; C: TColor; end;\r\n"
    "  TList = array [0..9] of array of String;\r\n"
    "  TSet = set of TColor;\r\n"
    "  TCall = function(const a: Integer; var b: TPoint): Boolean;\r\n"
    "  IThing = interface(IUnknown) ['{01234567-89AB-CDEF-0123-456789ABCDEF}']\r\n"
    "    function Ping(a: Integer): Integer;\r\n"
    "  end;\r\n"
    "const Limit = (10 + $F) * 2 div 3; Name = 'It''s'#13#10; Real = 1.5e3;\r\n"
    "var Total, Count: Integer; P: TPoint;\r\n"

    "procedure Later(x: Byte); forward;\r\n"
    "function Twice(x: Integer): Int64;\r\n"
    "var tmp: Byte;\r\n"
    "begin end;\r\n"
    "procedure Later(x: Byte); begin end;\r\n"
    "begin\r\n"
    "end.\r\n";

void Register(TPSPascalCompiler& c) {
  auto* info = c.AddAttributeType();
  info->SetName("Info");
  info->AddField("Level", c.FindType("Integer"));
}

TEST(Robustness, EveryPrefixOfAScriptFailsWithExactlyOneErrorOrCompiles) {
  TPSPascalCompiler c;
  c.FOnUses = [](TPSPascalCompiler* comp, const std::string& name) {
    if (name == "SYSTEM") Register(*comp);
    return true;
  };
  std::string text = RichScript;
  int compiled = 0;
  for (size_t n = 0; n <= text.size(); ++n) {
    std::string prefix = text.substr(0, n);
    bool ok = c.Compile(prefix);
    int errors = 0;
    for (int i = 0; i < c.MsgCount(); ++i)
      if (c.Msg(i)->ErrorType() == "Error") ++errors;
    std::string module;
    if (ok) {
      ++compiled;
      EXPECT_EQ(errors, 0) << prefix;
      EXPECT_TRUE(c.GetOutput(module)) << prefix;
    } else {
      EXPECT_EQ(errors, 1) << prefix;
      EXPECT_FALSE(c.GetOutput(module)) << prefix;
    }
  }
  // The whole script and the prefixes that only lose its trailing line break compile.
  EXPECT_EQ(compiled, 3);
}

TEST(Robustness, DamagedBytesNeverCrashTheCompiler) {
  TPSPascalCompiler c;
  c.FOnUses = [](TPSPascalCompiler* comp, const std::string& name) {
    if (name == "SYSTEM") Register(*comp);
    return true;
  };
  std::string text = RichScript;
  const char replacements[] = {'\0', '"', '(', ')', '[', ';', ':', '\'', '{', '#', '$', '\xff'};
  for (size_t pos = 0; pos < text.size(); pos += 3) {
    for (char r : replacements) {
      std::string damaged = text;
      damaged[pos] = r;
      bool ok = c.Compile(damaged);
      if (!ok) {
        ASSERT_GT(c.MsgCount(), 0) << damaged;
      }
    }
  }
}

}  // namespace
}  // namespace ps
