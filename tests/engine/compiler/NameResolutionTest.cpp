// The order in which an identifier is resolved: result, parameters, locals,
// globals, types, procedures, registered routines, constants.
#include <gtest/gtest.h>

#include "CompilerTestSupport.h"

namespace ps {
namespace {

using K = TPSIdentifierKind;

TEST(NameResolution, TheFirstMatchInOrderWins) {
  TPSPascalCompiler c;
  bool checked = false;
  c.FOnBeforeOutput = [&](TPSPascalCompiler* comp) {
    auto* main = static_cast<TPSInternalProcedure*>(comp->GetProc(0));
    auto* f = static_cast<TPSInternalProcedure*>(comp->GetProc(1));
    auto* p = static_cast<TPSInternalProcedure*>(comp->GetProc(2));
    struct Case {
      const char* name;
      const TPSInternalProcedure* proc;
      K kind;
    } cases[] = {
        {"RESULT", f, K::Result},  {"RESULT", p, K::None},       {"RESULT", main, K::None},
        {"X", f, K::Param},        {"X", main, K::Global},       {"LOCAL", f, K::Local},
        {"LOCAL", main, K::None},  {"BYTE", main, K::Global},    {"WORD", main, K::Type},
        {"TCOLOR", main, K::Type}, {"F", main, K::Proc},         {"INTTOSTR", main, K::RegProc},
        {"RED", main, K::Global},  {"GREEN", main, K::Constant}, {"LIMIT", f, K::Constant},
        {"NOWHERE", f, K::None},   {"!MAIN", main, K::None},
    };
    for (auto& k : cases)
      EXPECT_EQ(static_cast<int>(comp->FindIdentifier(k.name, k.proc).Kind), static_cast<int>(k.kind)) << k.name;
    EXPECT_EQ(comp->FindIdentifier("X", f).Index, 0);
    EXPECT_EQ(comp->FindIdentifier("LOCAL", f).Type->FName, "SINGLE");
    checked = true;
    return true;
  };
  auto r = test::CompileScript(
      "var X: Integer; Byte: Integer; Red: Byte;\n"
      "type TColor = (Red, Green);\n"
      "const Limit = 3;\n"
      "function F(x: String): Integer; var Local: Single; begin end;\n"
      "procedure P; begin end;\n"
      "begin end.",
      {}, &c);
  EXPECT_TRUE(r.ok) << r.Messages();
  EXPECT_TRUE(checked);
}

}  // namespace
}  // namespace ps
