// Declarations that compile: the tables they leave, hints, switches, constant
// folding and the type compatibility rules.
#include <gtest/gtest.h>

#include "CompilerTestSupport.h"

namespace ps {
namespace {

using test::CompileScript;

TPSType* TypeNamed(TPSPascalCompiler& c, std::string_view upperName) {
  for (int i = c.GetTypeCount() - 1; i >= 0; --i)
    if (c.GetType(i)->FName == upperName) return c.GetType(i);
  return nullptr;
}

TPSConstant* ConstNamed(TPSPascalCompiler& c, std::string_view upperName) {
  for (int i = 0; i < c.GetConstCount(); ++i)
    if (c.GetConst(i)->FName == upperName) return c.GetConst(i);
  return nullptr;
}

TEST(Declarations, TheSmallestProgramCompilesWithoutMessages) {
  auto r = CompileScript("begin end.");
  EXPECT_TRUE(r.ok) << r.Messages();
  EXPECT_TRUE(r.messages.empty());
  EXPECT_FALSE(r.module.empty());
  r = CompileScript("program Demo;\r\nbegin ; ; end.");
  EXPECT_TRUE(r.ok) << r.Messages();
}

TEST(Declarations, UnusedGlobalsAndResultsGiveHintsButCompile) {
  auto r = CompileScript("var\n  Total: Integer;\nfunction F: Integer; begin end;\nbegin end.");
  EXPECT_TRUE(r.ok) << r.Messages();
  ASSERT_EQ(r.messages.size(), 2u) << r.Messages();
  EXPECT_EQ(r.messages[0], "[Hint] (3:10): Variable 'Result' never used");
  EXPECT_EQ(r.messages[1], "[Hint] (2:3): Variable 'TOTAL' never used");
  r = CompileScript("procedure P;\nvar Loc: Integer;\nbegin end;\nbegin end.");
  ASSERT_EQ(r.messages.size(), 1u);
  EXPECT_EQ(r.messages[0], "[Hint] (2:5): Variable 'LOC' never used");
}

TEST(Declarations, ArrayBoundsGiveLowBoundAndCount) {
  TPSPascalCompiler c;
  auto r = CompileScript(
      "type A = array [1..3] of Integer; B = array [1..0] of Byte; C = array [-2..2] of array of String;\n"
      "D = array of Integer; E = array of Integer;\nbegin end.",
      {}, &c);
  ASSERT_TRUE(r.ok) << r.Messages();
  auto* a = dynamic_cast<TPSStaticArrayType*>(TypeNamed(c, "A"));
  ASSERT_TRUE(a);
  EXPECT_EQ(a->FStartOffset, 1);
  EXPECT_EQ(a->FLength, 3u);
  EXPECT_EQ(dynamic_cast<TPSStaticArrayType*>(TypeNamed(c, "B"))->FLength, 0u);
  auto* cc = dynamic_cast<TPSStaticArrayType*>(TypeNamed(c, "C"));
  EXPECT_EQ(cc->FStartOffset, -2);
  EXPECT_EQ(cc->FLength, 5u);
  EXPECT_EQ(ResolveTypeLink(cc->FArrayTypeNo)->FBaseType, btArray);
  // Named dynamic arrays stay distinct types.
  EXPECT_NE(TypeNamed(c, "D"), TypeNamed(c, "E"));
}

TEST(Declarations, RecordsEnumerationsSetsAndProceduralTypes) {
  TPSPascalCompiler c;
  auto r = CompileScript(
      "type TColor = (Red, Green, Blue);\n"
      "  TColors = set of TColor;\n"
      "  TPoint = record X, Y: Integer; Name: String; end;\n"
      "  TCallback = function(const a: Integer; var b: String; out c: Byte): Boolean;\n"
      "  TAlias = TPoint;\n"
      "begin end.",
      {}, &c);
  ASSERT_TRUE(r.ok) << r.Messages();
  auto* color = dynamic_cast<TPSEnumType*>(TypeNamed(c, "TCOLOR"));
  ASSERT_TRUE(color);
  EXPECT_EQ(color->FHighValue, 2u);
  EXPECT_EQ(ConstNamed(c, "BLUE")->FValue.FInt, 2);
  EXPECT_EQ(ConstNamed(c, "BLUE")->FValue.FType, color);
  auto* colors = dynamic_cast<TPSSetType*>(TypeNamed(c, "TCOLORS"));
  EXPECT_EQ(colors->BitSize(), 3u);
  EXPECT_EQ(colors->ByteSize(), 1u);
  auto* point = dynamic_cast<TPSRecordType*>(TypeNamed(c, "TPOINT"));
  ASSERT_EQ(point->RecValCount(), 3);
  EXPECT_EQ(point->FRecordSubVals[2].FFieldOrgName, "Name");
  EXPECT_EQ(point->FindField("Y"), 1);
  auto* cb = dynamic_cast<TPSProceduralType*>(TypeNamed(c, "TCALLBACK"));
  ASSERT_EQ(cb->FProcDef.ParamCount(), 3);
  EXPECT_EQ(cb->FProcDef.FParams[0].FMode, pmIn);
  EXPECT_EQ(cb->FProcDef.FParams[1].FMode, pmInOut);
  EXPECT_EQ(cb->FProcDef.FParams[2].FMode, pmOut);
  EXPECT_EQ(ResolveTypeLink(TypeNamed(c, "TALIAS")), point);
  EXPECT_EQ(point->FDeclareRow, 3u);
  EXPECT_EQ(point->FDeclareCol, 3u);
}

TEST(Declarations, ForwardProceduresAndUnitsResolve) {
  auto r = CompileScript(
      "procedure B(x: Integer); forward;\nprocedure A; begin end;\nprocedure B(y: Integer); begin end;\nbegin end.");
  EXPECT_TRUE(r.ok) << r.Messages();
  TPSPascalCompiler c;
  c.FAllowUnit = true;
  r = CompileScript(
      "unit Tools;\ninterface\nprocedure P(a: Byte);\nimplementation\nprocedure P(a: Byte); begin end;\nend.", {}, &c);
  EXPECT_TRUE(r.ok) << r.Messages();
  EXPECT_EQ(c.FUnitName, "Tools");
  r = CompileScript("unit Tools;\ninterface\nprocedure P;\nimplementation\nend.", {}, &c);
  EXPECT_EQ(r.messages.back(), "[Error] (3:11): Unsatisfied Forward P");
}

TEST(Declarations, SwitchesAllowMissingBeginAndEnd) {
  TPSPascalCompiler c;
  c.FAllowNoBegin = true;
  EXPECT_TRUE(CompileScript("const A = 1; end.", {}, &c).ok);
  c.FAllowNoEnd = true;
  EXPECT_TRUE(CompileScript("const A = 1;", {}, &c).ok);
  EXPECT_TRUE(CompileScript("", {}, &c).ok);
}

TEST(Declarations, ConstantExpressionsFoldWithTheLeftOperandsType) {
  TPSPascalCompiler c;
  auto r = CompileScript(
      "const I = 7 / 2; R = 7 / 2.0; N = -2 * 3; S = 'a'#13#10'b'; Q = 'It''s'; BIG = 4294967296; LW = 2147483648;\n"
      "H = $FF + 1; B = (1 < 2) and not False; P = 1 + 2 * 3 - 4 div 3; M = 17 mod 5 shl 2; C = #65; W = #$263A;\n"
      "E = 1 = 2 = False; X = 'ab' + 'c';\nbegin end.",
      {}, &c);
  ASSERT_TRUE(r.ok) << r.Messages();
  EXPECT_EQ(ConstNamed(c, "I")->FValue.FInt, 3);
  EXPECT_EQ(ConstNamed(c, "I")->FValue.FType->FName, "LONGINT");
  EXPECT_DOUBLE_EQ(static_cast<double>(ConstNamed(c, "R")->FValue.FReal), 3.5);
  EXPECT_EQ(ConstNamed(c, "R")->FValue.FType->FName, "EXTENDED");
  EXPECT_EQ(ConstNamed(c, "N")->FValue.FInt, -6);
  EXPECT_EQ(ConstNamed(c, "S")->FValue.FString, "a\r\nb");
  EXPECT_EQ(ConstNamed(c, "S")->FValue.FType->FName, "ANSISTRING");
  EXPECT_EQ(ConstNamed(c, "Q")->FValue.FString, "It's");
  EXPECT_EQ(ConstNamed(c, "BIG")->FValue.FType->FName, "INT64");
  EXPECT_EQ(ConstNamed(c, "BIG")->FValue.FInt, 4294967296LL);
  EXPECT_EQ(ConstNamed(c, "LW")->FValue.FType->FName, "LONGWORD");
  EXPECT_EQ(ConstNamed(c, "H")->FValue.FInt, 256);
  EXPECT_EQ(ConstNamed(c, "B")->FValue.FInt, 1);
  EXPECT_EQ(ConstNamed(c, "B")->FValue.FType->FName, "BOOLEAN");
  EXPECT_EQ(ConstNamed(c, "P")->FValue.FInt, 6);
  EXPECT_EQ(ConstNamed(c, "M")->FValue.FInt, 8);
  EXPECT_EQ(ConstNamed(c, "C")->FValue.FType->FName, "CHAR");
  EXPECT_EQ(ConstNamed(c, "W")->FValue.FType->FName, "WIDECHAR");
  EXPECT_EQ(ConstNamed(c, "W")->FValue.FInt, 0x263A);
  EXPECT_EQ(ConstNamed(c, "E")->FValue.FInt, 1);
  EXPECT_EQ(ConstNamed(c, "X")->FValue.FString, "abc");
}

TEST(Declarations, IntegerConstantsWrapToTheirType) {
  TPSPascalCompiler c;
  auto r = CompileScript("const A = 2147483647 + 1; B = 4294967295 + 1; begin end.", {}, &c);
  ASSERT_TRUE(r.ok) << r.Messages();
  EXPECT_EQ(ConstNamed(c, "A")->FValue.FInt, -2147483647LL - 1);
  EXPECT_EQ(ConstNamed(c, "B")->FValue.FInt, 0);
}

TEST(Declarations, CompatibilityRulesFollowTheTable) {
  struct Case {
    const char* target;
    const char* source;
    bool compatible;
    bool cast;
  } cases[] = {
      {"Integer", "Byte", true, false},          {"Byte", "Int64", true, false},
      {"String", "Integer", false, false},       {"Integer", "String", true, false},
      {"Double", "Integer", true, false},        {"Integer", "Double", false, false},
      {"Currency", "Single", true, false},       {"AnsiString", "Char", true, false},
      {"AnsiString", "WideString", true, false}, {"PChar", "AnsiString", true, false},
      {"AnsiString", "Integer", false, false},   {"WideString", "AnsiString", true, false},
      {"Char", "WideChar", true, false},         {"Char", "AnsiString", false, false},
      {"Variant", "TPoint", true, false},        {"TPoint", "Variant", true, false},
      {"TPoint", "TPoint2", false, false},       {"TPoint", "TPointAlias", true, false},
      {"TColor", "TSize", true, false},          {"TColor", "Integer", false, false},
      {"TColor", "Integer", true, true},         {"Integer", "TColor", true, true},
      {"TColors", "TSizes", true, false},        {"TIntArray", "TByteArray3", true, false},
      {"TIntArray", "TStrArray", false, false},  {"TDerived", "TDerived", true, false},
      {"TBase", "TDerived", true, false},        {"TDerived", "TBase", false, false},
      {"TBase", "Cardinal", true, false},        {"Integer", "TBase", true, false},
      {"IUnknown", "IDispatch", true, false},    {"IDispatch", "IUnknown", false, false},
      {"___Pointer", "Integer", true, false},    {"TProc", "TProc", true, false},
      {"TProc", "TProc2", false, false},
  };
  TPSPascalCompiler c;
  bool checked = false;
  c.FOnUses = [&](TPSPascalCompiler* comp, const std::string& name) {
    if (name != "SYSTEM") return true;
    comp->AddClassN(comp->AddClassN(nullptr, "TBase"), "TDerived");
    return true;
  };
  c.FOnBeforeOutput = [&](TPSPascalCompiler* comp) {
    for (auto& t : cases) {
      TPSType* target = TypeNamed(*comp, FastUpperCase(t.target));
      TPSType* source = TypeNamed(*comp, FastUpperCase(t.source));
      EXPECT_TRUE(target && source) << t.target << " " << t.source;
      if (target && source) {
        EXPECT_EQ(comp->IsCompatibleType(target, source, t.cast), t.compatible) << t.target << " := " << t.source;
      }
    }
    checked = true;
    return true;
  };
  auto r = CompileScript(
      "type TPoint = record X: Integer; end; TPoint2 = record X: Integer; end; TPointAlias = TPoint;\n"
      "TColor = (cRed, cGreen); TSize = (sSmall, sBig); TColors = set of TColor; TSizes = set of TSize;\n"
      "TIntArray = array of Integer; TByteArray3 = array [0..2] of Byte; TStrArray = array of AnsiString;\n"
      "TProc = procedure(a: Integer); TProc2 = procedure(a: Integer);\nbegin end.",
      {}, &c);
  EXPECT_TRUE(r.ok) << r.Messages();
  EXPECT_TRUE(checked);
}

TEST(Declarations, EveryCompileStartsFromFreshTables) {
  TPSPascalCompiler c;
  int calls = 0;
  auto reg = [&](TPSPascalCompiler& comp) {
    ++calls;
    comp.AddUsedVariableN("Counter", "Integer");
  };
  EXPECT_TRUE(CompileScript("begin end.", reg, &c).ok);
  EXPECT_TRUE(CompileScript("var Mine: Byte; begin end.", reg, &c).ok);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(c.GetVarCount(), 2);
  EXPECT_FALSE(CompileScript("begin", reg, &c).ok);
  std::string out;
  EXPECT_FALSE(c.GetOutput(out));
}

}  // namespace
}  // namespace ps
