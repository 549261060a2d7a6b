// Table-driven checks of the expression compiler: which operand types each
// operator accepts, and what whole expressions compute when run.
#include <gtest/gtest.h>

#include "tests/engine/compiler/ScriptRunner.h"

namespace {

using ps::testing::RunScriptSource;

struct TTypeCase {
  const char* Left;
  const char* Op;
  const char* Right;
  bool Accepted;
};

// Variables (not constants) so that nothing is folded.
const TTypeCase TypeCases[] = {
    {"Integer", "+", "Integer", true},     {"Integer", "+", "Extended", true},
    {"Extended", "/", "Integer", true},    {"Byte", "*", "Int64", true},
    {"Integer", "mod", "Extended", false}, {"Extended", "mod", "Integer", false},
    {"Integer", "shl", "Byte", true},      {"Integer", "and", "Integer", true},
    {"Boolean", "and", "Boolean", true},   {"Boolean", "and", "Integer", false},
    {"Integer", "+", "string", false},     {"string", "+", "Char", true},
    {"AnsiString", "+", "string", true},   {"Char", "+", "Char", true},
    {"string", "-", "string", false},      {"string", "<", "string", true},
    {"Char", "=", "AnsiString", true},     {"Variant", "+", "Integer", true},
    {"Variant", "+", "string", true},      {"Integer", "*", "Variant", true},
    {"Variant", "mod", "Variant", true},   {"TSet", "+", "TSet", true},
    {"TSet", "*", "TSet", true},           {"TSet", "<=", "TSet", true},
    {"TSet", "<", "TSet", false},          {"TEnum", "=", "TEnum", true},
    {"TEnum", "<", "TEnum", false},        {"TEnum", "+", "Integer", false},
    {"TRec", "=", "TRec", true},           {"TRec", "+", "TRec", false},
    {"Boolean", "=", "Boolean", true},     {"Integer", "=", "Boolean", false},
    {"Integer", "xor", "Integer", true},   {"Extended", "xor", "Extended", false},
    {"Extended", "div", "Extended", true}, {"TEnum", "in", "TSet", true},
    {"Integer", "in", "TSet", false},
};

class OperatorTypes : public ::testing::TestWithParam<TTypeCase> {};

TEST_P(OperatorTypes, AcceptedOrTypeMismatch) {
  const TTypeCase& c = GetParam();
  std::string source = std::string(
                           "type TEnum = (One, Two, Three); TSet = set of TEnum;\n"
                           "  TRec = record A: Integer; end;\n"
                           "var a: ") +
                       c.Left + "; b: " + c.Right + "; r: Variant;\n" + "begin\n  r := a " + c.Op + " b;\nend.\n";
  std::string module, debug;
  std::vector<std::string> messages;
  bool ok = ps::testing::CompileScriptSource(source, false, module, debug, messages);
  std::string text = messages.empty() ? "" : messages.back();
  if (c.Accepted) {
    EXPECT_TRUE(ok) << source << text;
  } else {
    EXPECT_FALSE(ok) << source;
    EXPECT_NE(text.find("Type mismatch"), std::string::npos) << source << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, OperatorTypes, ::testing::ValuesIn(TypeCases));

// A procedural variable takes only a routine of its exact signature.
struct TProcValueCase {
  const char* Assignment;
  bool Accepted;
};

const TProcValueCase ProcValueCases[] = {
    {"p := @ByRef", true},    {"p := ByRef", true},       {"f := @Calc", true},     {"f := Calc", true},
    {"p := @ByValue", false}, {"p := ByValue", false},    {"p := @TwoArgs", false}, {"p := @Calc", false},
    {"f := @ByRef", false},   {"f := @CalcInt64", false}, {"f := @CalcVar", false}, {"q := @NoArgs", true},
    {"q := NoArgs", true},    {"q := @ByRef", false},     {"p := nil", true},
};

class ProcValues : public ::testing::TestWithParam<TProcValueCase> {};

TEST_P(ProcValues, SameSignatureOrTypeMismatch) {
  const TProcValueCase& c = GetParam();
  std::string source = std::string(
                           "type TStep = procedure(var a: Integer); TCalc = function(a: Integer): Integer;\n"
                           "  TPlain = procedure;\n"
                           "var p: TStep; f: TCalc; q: TPlain;\n"
                           "procedure ByRef(var a: Integer); begin end;\n"
                           "procedure ByValue(a: Integer); begin end;\n"
                           "procedure TwoArgs(var a: Integer; b: Integer); begin end;\n"
                           "procedure NoArgs; begin end;\n"
                           "function Calc(a: Integer): Integer; begin Result := a; end;\n"
                           "function CalcInt64(a: Integer): Int64; begin Result := a; end;\n"
                           "function CalcVar(var a: Integer): Integer; begin Result := a; end;\n"
                           "begin\n  ") +
                       c.Assignment + ";\nend.\n";
  std::string module, debug;
  std::vector<std::string> messages;
  bool ok = ps::testing::CompileScriptSource(source, false, module, debug, messages);
  std::string text = messages.empty() ? "" : messages.back();
  if (c.Accepted) {
    EXPECT_TRUE(ok) << source << text;
  } else {
    EXPECT_FALSE(ok) << source;
    EXPECT_NE(text.find("(12:"), std::string::npos) << text;
    EXPECT_NE(text.find("Type mismatch"), std::string::npos) << source << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, ProcValues, ::testing::ValuesIn(ProcValueCases));

struct TValueCase {
  const char* Declarations;
  const char* Statements;
  const char* Printed;
};

// Each runs the statements, which print one value.
const TValueCase ValueCases[] = {
    {"var i: Integer;", "i := 7; Print(IntToStr(i / 2));", "3"},
    {"var e: Extended;", "e := 7; Print(FloatToStr(e / 2));", "3.500000000000"},
    {"var i: Integer;", "i := -7; Print(IntToStr(i div 2) + ' ' + IntToStr(i mod 2));", "-3 -1"},
    {"var b: Byte;", "b := 250; b := b + 10; Print(IntToStr(b));", "4"},
    {"var i: Integer;", "i := 2147483647; i := i + 1; Print(IntToStr(i));", "-2147483648"},
    {"var i: Int64;", "i := 4294967296; i := i * 3; Print(Int64ToStr(i));", "12884901888"},
    {"var i: Integer;", "i := 1; i := i shl 10 or 5; Print(IntToStr(i));", "1029"},
    {"var i: Integer;", "i := 6; Print(IntToStr(i xor 3) + IntToStr(i and 3) + IntToStr(not i));", "52-7"},
    {"var b, c: Boolean;", "b := True; c := not b; if (b or c) and not (b and c) then Print('xor');", "xor"},
    {"var s: string;", "s := 'ab'; s := s + 'c' + #100; Print(s);", "abcd"},
    {"var c: Char;", "c := 'a'; Print(c + c);", "aa"},
    {"var s: string;", "s := 'b'; if (s > 'a') and (s < 'c') and (s <> 'x') then Print('between');", "between"},
    {"var v: Variant;", "v := 5; v := v + 2; Print(IntToStr(v));", "7"},
    {"var v: Variant;", "v := 'x'; v := v + 'y'; Print(v);", "xy"},
    {"var e: Extended; i: Integer;", "i := 3; e := i + 0.5; Print(FloatToStr(e));", "3.500000000000"},
    {"var a, b: Integer;", "a := 3; b := 4; a := b - a; Print(IntToStr(a));", "1"},
    {"var a, b: Integer;", "a := 3; b := 4; a := 10 - (b - a) * a; Print(IntToStr(a));", "7"},
    {"var i: Integer;", "i := 5; Print(IntToStr(-i * 2));", "-10"},
    {"var i: Integer;", "i := Ord('A') + Ord(True); Print(IntToStr(i));", "66"},
    {"var c: Char;", "c := Chr(Ord('a') + 1); Print(c);", "b"},
    {"var i: Integer;", "i := 5; i := Pred(Succ(i) * 2); Print(IntToStr(i));", "11"},
    {"type T = (A, B, C); var t: T;", "t := Pred(C); if t = B then Print('B');", "B"},
    {"type T = (A, B, C); S = set of T; var s: S;",
     "s := [A, C]; s := s - [A]; if (C in s) and not (A in s) then Print('set');", "set"},
    {"var i: Integer;", "i := 3; if i in [1, 2, 3] then Print('in');", "in"},
    {"var s: string;", "s := 'xyz'; Print(IntToStr(Length(s)) + IntToStr(Low(s)) + IntToStr(High(s)));", "313"},
    {"var a: array[2..4] of Integer;", "Print(IntToStr(Low(a)) + IntToStr(High(a)) + IntToStr(Length(a)));", "243"},
    {"var i: Integer;", "i := 1; Inc(i); Inc(i, 5); Dec(i, 2); Dec(i); Print(IntToStr(i));", "4"},
    {"var i: Integer; s: string;", "s := ''; Print(IntToStr(SizeOf(i)));", "4"},
    {"var v: Variant;", "if VarIsEmpty(v) then v := Null; if VarIsNull(v) then Print(IntToStr(VarType(v)));", "1"},
    {"var e: Extended;", "e := Sqrt(16) + Abs(-1) + Int(2.7); Print(FloatToStr(e));", "7.000000000000"},
    {"var i: Integer;", "i := Round(2.5) + Round(-2.5) + Trunc(9.99); Print(IntToStr(i));", "9"},
    {"var s: string;", "s := 'a'; if Assigned(s) then Print('assigned');", "assigned"},
    {"var s: string;", "s := ''; if not Assigned(s) then Print('empty');", "empty"},
    {"var p: procedure(x: Integer);", "p := @Show; p(42);", "42"},
    {"type T = (A, B, C); R = array[3..5] of Byte;",
     "Print(Int64ToStr(High(Integer)) + ' ' + Int64ToStr(Low(ShortInt)) + ' ' + Int64ToStr(High(T)) + ' ' +"
     " Int64ToStr(Low(R)) + Int64ToStr(High(R)) + ' ' + Int64ToStr(High(Byte)));",
     "2147483647 -128 2 35 255"},
};

class Expressions : public ::testing::TestWithParam<TValueCase> {};

TEST_P(Expressions, ComputeExpectedValues) {
  const TValueCase& c = GetParam();
  std::string source = std::string(c.Declarations) +
                       "\nprocedure Show(x: Integer); begin Print(IntToStr(x)); end;\n"
                       "begin\n  " +
                       c.Statements + "\nend.\n";
  auto run = RunScriptSource(source);
  EXPECT_EQ(run.Text(), std::string(c.Printed) + "\n") << source;
}

INSTANTIATE_TEST_SUITE_P(Table, Expressions, ::testing::ValuesIn(ValueCases));

TEST(ShortCircuit, RightOperandRunsOnlyWhenNeeded) {
  const char* source =
      "var n: Integer;\n"
      "function Touch(v: Boolean): Boolean; begin n := n + 1; Result := v; end;\n"
      "begin\n  n := 0;\n  if Touch(False) and Touch(True) then Print('no');\n"
      "  if Touch(True) or Touch(True) then Print(IntToStr(n));\nend.\n";
  EXPECT_EQ(RunScriptSource(source, false).Text(), "4\n") << "both operands always run by default";
  EXPECT_EQ(RunScriptSource(source, true).Text(), "2\n");
}

}  // namespace
