// Assignment, calculation, comparison and unary rules, run as instructions.
#include <cmath>

#include "rtl/Variant.h"
#include "tests/engine/runtime/TestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

// A module with one type per base kind (index = the kind's row here) and one
// global of each, so tests can combine them freely.
struct TKinds {
  TModuleBuilder B;
  uint32_t U8, S8, U16, S16, U32, S32, S64, Single, Double, Extended, Currency, Ansi, Unicode, Wide, Char, WideChar,
      Variant, Set256, Pointer, Boolean;
  TKinds() {
    U8 = B.Type(btU8);
    S8 = B.Type(btS8);
    U16 = B.Type(btU16);
    S16 = B.Type(btS16);
    U32 = B.Type(btU32);
    S32 = B.Type(btS32);
    S64 = B.Type(btS64);
    Single = B.Type(btSingle);
    Double = B.Type(btDouble);
    Extended = B.Type(btExtended);
    Currency = B.Type(btCurrency);
    Ansi = B.Type(btString);
    Unicode = B.Type(btUnicodeString);
    Wide = B.Type(btWideString);
    Char = B.Type(btChar);
    WideChar = B.Type(btWideChar);
    Variant = B.Type(btVariant);
    Set256 = B.Set(256);
    Pointer = B.Type(btPointer);
    Boolean = B.Named(btU8, "BOOLEAN");
    for (uint32_t t = 0; t <= Boolean; ++t) B.Var(t);
  }
  // Globals have the numbers of their types.
  TRunResult Run(TCode& code) {
    code.Ret();
    B.Main(code);
    return RunModule(B);
  }
};

}  // namespace

TEST(Values, IntegerArithmeticWrapsAtTheDestinationWidth) {
  TKinds k;
  TCode c;
  c.Assign().Var(G(k.U8)).Const<uint8_t>(k.U8, 255);
  c.Calc(CalcAdd).Var(G(k.U8)).Const<uint8_t>(k.U8, 1);
  c.Assign().Var(G(k.S32)).Const<int32_t>(k.S32, 2147483647);
  c.Calc(CalcAdd).Var(G(k.S32)).Const<int32_t>(k.S32, 1);
  c.Assign().Var(G(k.S16)).Const<int16_t>(k.S16, -32768);
  c.Op(OpDecrement).Var(G(k.S16));
  c.Assign().Var(G(k.S64)).Const<int64_t>(k.S64, INT64_MAX);
  c.Op(OpIncrement).Var(G(k.S64));
  auto r = k.Run(c);
  ASSERT_TRUE(r.Ok) << r.Text();
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetUInt(k.U8), 0u);
  EXPECT_EQ(g.GetInt(k.S32), INT32_MIN);
  EXPECT_EQ(g.GetInt(k.S16), 32767);
  EXPECT_EQ(g.GetInt64(k.S64), INT64_MIN);
}

TEST(Values, IntegerOperatorTable) {
  struct Case {
    uint8_t op;
    int32_t a, b, expected;
  };
  const Case cases[] = {
      {CalcSub, 5, 7, -2},         {CalcMul, -6, 7, -42},
      {CalcDiv, -7, 2, -3},        {CalcMod, -7, 2, -1},
      {CalcShl, 1, 33, 2},         {CalcShr, -1, 28, 15},
      {CalcAnd, 12, 10, 8},        {CalcOr, 12, 10, 14},
      {CalcXor, 12, 10, 6},        {CalcDiv, INT32_MIN, -1, INT32_MIN},
      {CalcMod, INT32_MIN, -1, 0},
  };
  for (const auto& c : cases) {
    TKinds k;
    TCode code;
    code.Assign().Var(G(k.S32)).Const<int32_t>(k.S32, c.a);
    code.Calc(c.op).Var(G(k.S32)).Const<int32_t>(k.S32, c.b);
    auto r = k.Run(code);
    ASSERT_TRUE(r.Ok) << r.Text();
    EXPECT_EQ(r.Exec->GlobalVars().GetInt(k.S32), c.expected) << int(c.op) << " " << c.a << " " << c.b;
  }
}

TEST(Values, SmallUnsignedAndSignedKindsDivideAndShiftByTheirSignedness) {
  TKinds k;
  TCode c;
  c.Assign().Var(G(k.U8)).Const<uint8_t>(k.U8, 200);
  c.Calc(CalcDiv).Var(G(k.U8)).Const<uint8_t>(k.U8, 3);  // 66
  c.Assign().Var(G(k.S8)).Const<int8_t>(k.S8, -128);
  c.Calc(CalcShr).Var(G(k.S8)).Const<uint8_t>(k.U8, 1);  // sign-extended, logical: 0x7FFFFFC0 -> 0xC0
  c.Assign().Var(G(k.U32)).Const<uint32_t>(k.U32, 0xFFFFFFFFu);
  c.Calc(CalcDiv).Var(G(k.U32)).Const<uint32_t>(k.U32, 2);
  auto r = k.Run(c);
  ASSERT_TRUE(r.Ok) << r.Text();
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetUInt(k.U8), 66u);
  EXPECT_EQ(g.GetInt(k.S8), -64);
  EXPECT_EQ(g.GetUInt(k.U32), 0x7FFFFFFFu);
}

TEST(Values, IntegerDivisionByZeroReportsDivideByZero) {
  for (uint8_t op : {CalcDiv, CalcMod}) {
    TKinds k;
    TCode c;
    c.Assign().Var(G(k.S32)).Const<int32_t>(k.S32, 5);
    size_t failing = c.Bytes.size();
    c.Calc(op).Var(G(k.S32)).Var(G(k.U8));
    auto r = k.Run(c);
    EXPECT_FALSE(r.Ok);
    EXPECT_EQ(r.Code(), ErDivideByZero);
    EXPECT_EQ(r.Param(), "Division by zero");
    EXPECT_EQ(r.Text(), "divide by Zero");
    EXPECT_EQ(r.Exec->ExceptionProcNo(), 0);
    // Reported past the failing instruction's operands, inside the instruction.
    EXPECT_GT(r.Exec->ExceptionPos(), static_cast<int32_t>(failing));
    EXPECT_EQ(r.Exec->Status(), isPaused);
    EXPECT_EQ(r.Exec->GlobalVars().GetInt(k.S32), 5);  // unchanged
  }
}

TEST(Values, RealArithmeticAndFloatingPointFaults) {
  TKinds k;
  TCode c;
  c.Assign().Var(G(k.Double)).Var(G(k.U8));  // 0.0
  c.Assign().Var(G(k.U8)).Const<uint8_t>(k.U8, 200);
  c.Assign().Var(G(k.Double)).Var(G(k.U8));
  c.Assign().Var(G(k.Extended)).Const<double>(k.Double, 1.0);
  c.Calc(CalcDiv).Var(G(k.Extended)).Const<int32_t>(k.S32, 3);
  c.Assign().Var(G(k.Single)).Const<double>(k.Double, 0.1);
  auto r = k.Run(c);
  ASSERT_TRUE(r.Ok) << r.Text();
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetReal(k.Double), 200.0L);
  EXPECT_EQ(g.GetReal(k.Extended), 1.0L / 3.0L);  // full x87 precision
  EXPECT_EQ(g.GetReal(k.Single), static_cast<long double>(0.1f));

  struct Fault {
    double a, b;
    uint8_t op;
    TPSError code;
    const char* param;
  } faults[] = {
      {1, 0, CalcDiv, ErDivideByZero, "Floating point division by zero"},
      {0, 0, CalcDiv, ErMathError, "Invalid floating point operation"},
      {1e308, 1e308, CalcMul, ErMathError, "Floating point overflow"},
  };
  for (const auto& f : faults) {
    TKinds k2;
    TCode c2;
    c2.Assign().Var(G(k2.Double)).Const<double>(k2.Double, f.a);
    c2.Calc(f.op).Var(G(k2.Double)).Const<double>(k2.Double, f.b);
    auto r2 = k2.Run(c2);
    EXPECT_FALSE(r2.Ok);
    EXPECT_EQ(r2.Code(), f.code) << f.param;
    EXPECT_EQ(r2.Param(), f.param);
  }
}

TEST(Values, CurrencyIsScaledAndRoundsHalvesToEven) {
  TKinds k;
  TCode c;
  c.Assign().Var(G(k.Currency)).Const<double>(k.Double, 1.5);
  c.Calc(CalcMul).Var(G(k.Currency)).Const<int32_t>(k.S32, 3);
  c.Assign().Var(G(k.Double)).Var(G(k.Currency));
  c.Assign().Var(G(k.S64)).Var(G(k.Currency));  // the 64-bit getter refuses currency
  auto r = k.Run(c);
  EXPECT_EQ(r.Exec->GlobalVars().GetCurrency(k.Currency), 45000);
  EXPECT_EQ(r.Exec->GlobalVars().GetReal(k.Double), 4.5L);
  EXPECT_EQ(r.Code(), erException);
  EXPECT_EQ(r.Param(), "Type Mismatch");

  TKinds k2;
  TCode c2;
  // The extended constants 0.5 / 10,000 and 1.5 / 10,000: half units round to even.
  long double half = 0.5L / 10000, oneAndHalf = 1.5L / 10000;
  c2.Assign().Var(G(k2.Currency)).ConstBytes(k2.Extended, std::string(reinterpret_cast<char*>(&half), 10));
  c2.Assign().Var(G(k2.S64)).ConstBytes(k2.Extended, std::string(reinterpret_cast<char*>(&oneAndHalf), 10));
  auto r2 = k2.Run(c2);
  EXPECT_EQ(r2.Exec->GlobalVars().GetCurrency(k2.Currency), 0);
  EXPECT_EQ(r2.Code(), erException);  // a real is no 64-bit integer
}

TEST(Values, StringsConcatenateAndCompareByCharacterCodes) {
  TKinds k;
  TCode c;
  c.Assign().Var(G(k.Unicode)).ConstWide(k.Unicode, u"B");
  c.Calc(CalcAdd).Var(G(k.Unicode)).ConstStr(k.Ansi, "ä");
  c.Calc(CalcAdd).Var(G(k.Unicode)).Const<char16_t>(k.WideChar, u'!');
  c.Assign().Var(G(k.Ansi)).Var(G(k.Unicode));
  c.Compare(CmpLess).Var(G(k.U8)).ConstWide(k.Unicode, u"B").ConstWide(k.Unicode, u"a");
  c.Compare(CmpEqual).Var(G(k.S8)).ConstStr(k.Ansi, "a").ConstStr(k.Ansi, "A");
  c.Compare(CmpEqual).Var(G(k.U16)).Const<char>(k.Char, 'x').ConstStr(k.Ansi, "x");
  auto r = k.Run(c);
  ASSERT_TRUE(r.Ok) << r.Text();
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetUnicodeString(k.Unicode), u"Bä!");
  EXPECT_EQ(g.GetAnsiString(k.Ansi), "Bä!");
  EXPECT_EQ(g.GetUInt(k.U8), 1u);
  EXPECT_EQ(g.GetUInt(k.S8), 0u);
  EXPECT_EQ(g.GetUInt(k.U16), 1u);
}

TEST(Values, NoImplicitConversionBetweenNumbersAndStrings) {
  {
    TKinds k;
    TCode c;
    c.Assign().Var(G(k.Unicode)).Const<int32_t>(k.S32, 5);
    auto r = k.Run(c);
    EXPECT_EQ(r.Code(), erException);
    EXPECT_EQ(r.Param(), "Type Mismatch");
    EXPECT_EQ(r.Text(), "Exception: Type Mismatch");
  }
  {
    TKinds k;
    TCode c;
    c.Assign().Var(G(k.U8)).ConstStr(k.Ansi, "A");
    auto r = k.Run(c);
    EXPECT_EQ(r.Code(), erException);
    EXPECT_EQ(r.Param(), "Type Mismatch");
  }
  {
    TKinds k;
    TCode c;
    c.Assign().Var(G(k.U32)).ConstStr(k.Ansi, "A");  // explicit source list: reported directly
    auto r = k.Run(c);
    EXPECT_EQ(r.Code(), ErTypeMismatch);
  }
}

TEST(Values, VariantsConvertByTheGetterRules) {
  TKinds k;
  TCode c;
  c.Assign().Var(G(k.Variant)).ConstWide(k.Wide, u"A");  // automation string
  c.Assign().Var(G(k.U8)).Var(G(k.Variant));
  c.Assign().Var(G(k.Variant)).ConstWide(k.Unicode, u"7");  // script string
  c.Assign().Var(G(k.U16)).Var(G(k.Variant));
  c.Assign().Var(G(k.Variant)).Const<int32_t>(k.S32, 40);
  c.Calc(CalcAdd).Var(G(k.Variant)).Const<double>(k.Double, 2.5);
  c.Assign().Var(G(k.Double)).Var(G(k.Variant));
  c.Compare(CmpEqual).Var(G(k.Boolean)).Var(G(k.Variant)).Const<double>(k.Double, 42.5);
  c.Assign().Var(G(k.Variant)).Var(G(k.Boolean));
  auto r = k.Run(c);
  ASSERT_TRUE(r.Ok) << r.Text();
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetUInt(k.U8), 65u);
  EXPECT_EQ(g.GetUInt(k.U16), 7u);
  EXPECT_EQ(g.GetReal(k.Double), 42.5L);
  EXPECT_EQ(g.GetUInt(k.Boolean), 1u);
  rtl::Variant v;
  std::memcpy(static_cast<void*>(&v), g.EntryValue(k.Variant), sizeof v);
  EXPECT_EQ(v.VType(), rtl::varBoolean);
  std::memset(static_cast<void*>(&v), 0, sizeof v);

  TKinds k2;
  TCode c2;
  c2.Assign().Var(G(k2.Variant)).ConstWide(k2.Wide, u"AB");
  c2.Assign().Var(G(k2.U8)).Var(G(k2.Variant));
  auto r2 = k2.Run(c2);
  EXPECT_EQ(r2.Code(), erException);
  EXPECT_EQ(r2.Param(), "Type Mismatch");
}

TEST(Values, SetsUnionDifferenceMembershipAndRange) {
  TKinds k;
  std::string bits(32, '\0'), other(32, '\0');
  bits[0] = 0x05;         // {0, 2}
  bits[31] = char(0x80);  // {255}
  other[0] = 0x06;        // {1, 2}
  TCode c;
  c.Assign().Var(G(k.Set256)).ConstBytes(k.Set256, bits);
  c.Calc(CalcSub).Var(G(k.Set256)).ConstBytes(k.Set256, other);  // {0, 255}
  c.Compare(CmpIn).Var(G(k.U8)).Const<uint8_t>(k.U8, 255).Var(G(k.Set256));
  c.Compare(CmpIn).Var(G(k.S8)).Const<uint8_t>(k.U8, 2).Var(G(k.Set256));
  c.Compare(CmpLessEqual).Var(G(k.U16)).Var(G(k.Set256)).ConstBytes(k.Set256, bits);
  c.Compare(CmpIn).Var(G(k.S16)).Const<int32_t>(k.S32, 300).Var(G(k.Set256));
  auto r = k.Run(c);
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetUInt(k.U8), 1u);
  EXPECT_EQ(g.GetUInt(k.S8), 0u);
  EXPECT_EQ(g.GetUInt(k.U16), 1u);
  EXPECT_EQ(r.Code(), erOutofRecordRange);
  EXPECT_EQ(r.Text(), "Out of Record Fields Range");
}

TEST(Values, RecordsAssignOnlyFromTheSameTypeRecord) {
  TModuleBuilder b;
  uint32_t s32 = b.Type(btS32), str = b.Type(btUnicodeString);
  uint32_t r1 = b.Record({s32, str}), r2 = b.Record({s32, str});
  b.Var(r1);
  b.Var(r1);
  b.Var(r2);
  TCode c;
  c.Assign().Elem(G(0), 0).Const<int32_t>(s32, 9);
  c.Assign().Elem(G(0), 1).ConstWide(str, u"text");
  c.Assign().Var(G(1)).Var(G(0));
  c.Assign().Var(G(2)).Var(G(0));
  c.Ret();
  b.Main(c);
  auto r = RunModule(b);
  EXPECT_EQ(r.Code(), ErTypeMismatch);
  auto* t = static_cast<TPSTypeRec_Record*>(r.Exec->GetTypeNo(r1));
  uint8_t* copy = r.Exec->GlobalVars().EntryValue(1);
  EXPECT_EQ(PSGetInt(copy, t->FFieldTypes[0]), 9);
  EXPECT_EQ(PSGetUnicodeString(copy + t->FRealFieldOffsets[1], t->FFieldTypes[1]), u"text");
}

TEST(Values, DynamicArraysShareUntilResized) {
  TModuleBuilder b;
  uint32_t s32 = b.Type(btS32), arr = b.DynArray(s32);
  b.Var(arr);
  b.Var(arr);
  b.Var(s32);
  TCode c;
  c.Assign().Var(G(1)).Var(G(0));
  c.Assign().Elem(G(1), 2).Const<int32_t>(s32, 77);
  c.Assign().Var(G(2)).Elem(G(0), 2);
  c.Ret();
  b.Main(c);
  auto exec = LoadModule(b);
  TPSTypeRec* t = exec->GetTypeNo(arr);
  PSDynArraySetLength(exec->GlobalVars().EntryValue(0), t, 3);
  ASSERT_TRUE(exec->RunScript());
  EXPECT_EQ(exec->GlobalVars().GetInt(2), 77);
  uint8_t* a = exec->GlobalVars().EntryValue(0);
  uint8_t* bslot = exec->GlobalVars().EntryValue(1);
  PSDynArraySetLength(bslot, t, 5);  // shared: b gets its own block
  PSSetInt(PSDynArrayElement(bslot, t, 2), exec->GetTypeNo(s32), 1);
  EXPECT_EQ(PSGetInt(PSDynArrayElement(a, t, 2), exec->GetTypeNo(s32)), 77);
  EXPECT_EQ(PSDynArrayGetLength(a, t), 3u);
  EXPECT_EQ(PSDynArrayGetLength(bslot, t), 5u);
  EXPECT_THROW(PSDynArrayGetLength(a, exec->GetTypeNo(s32)), rtl::Exception);
}

TEST(Values, UnaryOperations) {
  TKinds k;
  TCode c;
  c.Assign().Var(G(k.S32)).Const<int32_t>(k.S32, INT32_MIN);
  c.Op(OpNegate).Var(G(k.S32));
  c.Assign().Var(G(k.U8)).Const<uint8_t>(k.U8, 0x0F);
  c.Op(OpBitNot).Var(G(k.U8));
  c.Assign().Var(G(k.U16)).Const<uint16_t>(k.U16, 5);
  c.Op(OpBoolNot).Var(G(k.U16));
  c.Assign().Var(G(k.Double)).Const<double>(k.Double, 2.5);
  c.Op(OpNegate).Var(G(k.Double));
  c.Op(OpNegate).Const<int32_t>(k.S32, 1);  // a constant is negated and discarded
  c.Op(OpBitNot).Var(G(k.Double));
  auto r = k.Run(c);
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetInt(k.S32), INT32_MIN);
  EXPECT_EQ(g.GetUInt(k.U8), 0xF0u);
  EXPECT_EQ(g.GetUInt(k.U16), 0u);
  EXPECT_EQ(g.GetReal(k.Double), -2.5L);
  EXPECT_EQ(r.Code(), ErTypeMismatch);
}

TEST(Values, ProcedurePointersCompareByNumberOrMethodData) {
  TKinds k;
  uint32_t pp = k.B.ProcPtr(std::string("\0", 1));
  uint32_t gp = k.B.Var(pp);
  TCode c;
  c.Assign().Var(G(gp)).Const<uint32_t>(pp, 0);
  c.Compare(CmpEqual).Var(G(k.U8)).Var(G(gp)).Const<uint32_t>(pp, 0);
  c.Compare(CmpEqual).Var(G(k.S8)).Var(G(gp)).Const<uint32_t>(pp, 1);
  auto r = k.Run(c);
  ASSERT_TRUE(r.Ok) << r.Text();
  EXPECT_EQ(r.Exec->GlobalVars().GetUInt(k.U8), 1u);
  EXPECT_EQ(r.Exec->GlobalVars().GetUInt(k.S8), 0u);
}

TEST(Values, AppendingInALoopStaysLinearAndLeavesSharedCopiesAlone) {
  TKinds k;
  TCode c;
  c.Assign().Var(G(k.Ansi)).ConstStr(k.Ansi, "ab");
  c.Calc(CalcAdd).Var(G(k.Ansi)).Var(G(k.Ansi));  // "abab": appending the text to itself
  c.Mark(1);
  c.Calc(CalcAdd).Var(G(k.Unicode)).ConstWide(k.Unicode, u"xy");
  c.Op(OpIncrement).Var(G(k.S32));
  c.Compare(CmpLess).Var(G(k.U8)).Var(G(k.S32)).Const<int32_t>(k.S32, 200000);
  c.Op(OpJumpIfTrue).JumpField(1).Var(G(k.U8)).EndJump();
  c.Assign().Var(G(k.Wide)).Var(G(k.Unicode));     // a copy of the long text
  c.Assign().Var(G(k.Variant)).Var(G(k.Unicode));  // the variant holds its own text
  uint32_t shared = k.B.Var(k.Unicode);
  c.Assign().Var(G(shared)).Var(G(k.Unicode));  // shares the block
  c.Calc(CalcAdd).Var(G(k.Unicode)).ConstWide(k.Unicode, u"!");
  auto r = k.Run(c);
  ASSERT_TRUE(r.Ok) << r.Text();
  auto& g = r.Exec->GlobalVars();
  EXPECT_EQ(g.GetAnsiString(k.Ansi), "abab");
  rtl::UnicodeString text = g.GetUnicodeString(k.Unicode);
  ASSERT_EQ(text.size(), 400001u);
  EXPECT_EQ(text.substr(0, 4), u"xyxy");
  EXPECT_EQ(text.back(), u'!');
  EXPECT_EQ(g.GetUnicodeString(shared).size(), 400000u);  // the shared copy did not change
  EXPECT_EQ(g.GetUnicodeString(k.Wide).size(), 400000u);
}
