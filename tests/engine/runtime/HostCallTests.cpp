// Typed host routines called from scripts through the adapters.
#include "engine/runtime/HostCalls.h"
#include "tests/engine/runtime/TestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

struct THostModule {
  TModuleBuilder B;
  uint32_t S32, Double, Str, Ansi, Variant, DblArray, Pointer, Bool, ConstArray;
  THostModule() {
    S32 = B.Type(btS32);
    Double = B.Type(btDouble);
    Str = B.Type(btUnicodeString);
    Ansi = B.Type(btString);
    Variant = B.Type(btVariant);
    DblArray = B.DynArray(Double);
    Pointer = B.Type(btPointer);
    Bool = B.Named(btU8, "BOOLEAN");
    ConstArray = B.DynArray(Variant);
    for (uint32_t t : {S32, Double, Str, Ansi, Variant, DblArray, Bool, ConstArray}) B.Var(t);
  }
  // Globals: 0 S32, 1 Double, 2 Str, 3 Ansi, 4 Variant, 5 array of Double, 6 Boolean, 7 array of Variant.
};

int32_t AddInts(int32_t a, int32_t b) { return a + b; }
void SwapTexts(rtl::UnicodeString& a, rtl::UnicodeString& b) { std::swap(a, b); }
double Average(TPSOpenArray<double> values) {
  double sum = 0;
  for (double v : values.Items) sum += v;
  return values.High() < 0 ? -1 : sum / (values.High() + 1);
}
rtl::UnicodeString Describe(TPSArrayOfConst items) {
  rtl::UnicodeString out;
  for (const auto& i : items)
    out += rtl::IntToStr(i.Kind) + u":" + (i.Kind == TPSVarRec::vtVariant ? i.Var.AsUnicodeString() : u"") + u";";
  return out;
}
rtl::Variant Twice(const rtl::Variant& v) { return rtl::Variant(v.AsInt64() * 2); }
bool IsLong(const rtl::AnsiString& s) { return s.size() > 3; }
void Raise(int32_t) { throw rtl::EConvertError("bad number"); }

struct TCounter {
  int Total = 0;
  int32_t Add(int32_t n) { return Total += n; }
};

}  // namespace

TEST(HostCalls, ValueAndVarParametersAndResults) {
  THostModule m;
  TCode c;
  // G0 := AddInts(40, 2)
  c.Push().Const<int32_t>(m.S32, 2).Push().Const<int32_t>(m.S32, 40).PushVarRef().Var(G(0)).Call(1).Pop().Pop().Pop();
  // G2 := 'left'; G3 := 'right'; SwapTexts(G2, G3 as a Unicode local)
  c.Assign().Var(G(2)).ConstWide(m.Str, u"left");
  c.PushType(m.Str);  // local 1
  c.Assign().Var(L(1)).ConstWide(m.Str, u"right");
  c.PushVarRef().Var(L(1)).PushVarRef().Var(G(2)).Call(2).Pop().Pop();
  c.Assign().Var(G(3)).Var(L(1));
  // G6 := IsLong('abcd')
  c.Push().ConstStr(m.Ansi, "abcd").PushVarRef().Var(G(6)).Call(3).Pop().Pop();
  c.Ret();
  m.B.Main(c);
  m.B.External("ADDINTS");
  m.B.External("SWAPTEXTS");
  m.B.External("ISLONG");
  TPSExec exec;
  RegisterNativeFunction(exec, "AddInts", &AddInts);
  RegisterNativeFunction(exec, "SwapTexts", &SwapTexts);
  RegisterNativeFunction(exec, "IsLong", &IsLong);
  ASSERT_TRUE(exec.LoadData(m.B.Build()));
  ASSERT_TRUE(exec.RunScript()) << rtl::UnicodeToUtf8(exec.ExceptionString());
  auto& g = exec.GlobalVars();
  EXPECT_EQ(g.GetInt(0), 42);
  EXPECT_EQ(g.GetUnicodeString(2), u"right");
  EXPECT_EQ(g.GetAnsiString(3), "left");
  EXPECT_EQ(g.GetUInt(6), 1u);
}

TEST(HostCalls, OpenArraysVariantsAndArrayOfConst) {
  THostModule m;
  TCode c;
  c.Push().Var(G(5)).PushVarRef().Var(G(1)).Call(1).Pop().Pop();
  c.Assign().Var(G(4)).Const<int32_t>(m.S32, 21);
  c.Push().Var(G(4)).PushVarRef().Var(G(4)).Call(2).Pop().Pop();
  c.Push().Var(G(7)).PushVarRef().Var(G(2)).Call(3).Pop().Pop();
  c.Ret();
  m.B.Main(c);
  m.B.External("AVERAGE");
  m.B.External("TWICE");
  m.B.External("DESCRIBE");
  TPSExec exec;
  RegisterNativeFunction(exec, "Average", &Average);
  RegisterNativeFunction(exec, "Twice", &Twice);
  RegisterNativeFunction(exec, "Describe", &Describe);
  ASSERT_TRUE(exec.LoadData(m.B.Build()));
  TPSTypeRec* arr = exec.GetTypeNo(m.DblArray);
  uint8_t* a = exec.GlobalVars().EntryValue(5);
  PSDynArraySetLength(a, arr, 3);
  for (uint32_t i = 0; i < 3; ++i) PSSetReal(PSDynArrayElement(a, arr, i), exec.GetTypeNo(m.Double), i + 1.0L);
  TPSTypeRec* varr = exec.GetTypeNo(m.ConstArray);
  uint8_t* va = exec.GlobalVars().EntryValue(7);
  PSDynArraySetLength(va, varr, 2);
  PSSetUnicodeString(PSDynArrayElement(va, varr, 1), exec.GetTypeNo(m.Variant), u"x");
  ASSERT_TRUE(exec.RunScript()) << rtl::UnicodeToUtf8(exec.ExceptionString());
  EXPECT_EQ(exec.GlobalVars().GetReal(1), 2.0L);
  EXPECT_EQ(exec.GlobalVars().GetInt(4), 42);
  EXPECT_EQ(exec.GlobalVars().GetUnicodeString(2), u"9:;9:x;");
}

TEST(HostCalls, MethodsBoundToObjectsAndHostErrors) {
  THostModule m;
  TCode c;
  c.Push().Const<int32_t>(m.S32, 5).PushVarRef().Var(G(0)).Call(1).Pop().Pop();
  c.Push().Const<int32_t>(m.S32, 6).PushVarRef().Var(G(0)).Call(1).Pop().Pop();
  c.Push().Const<int32_t>(m.S32, 1).Call(2).Pop();
  c.Ret();
  m.B.Main(c);
  m.B.External("ADD");
  m.B.External("RAISE");
  TPSExec exec;
  TCounter counter;
  RegisterNativeMethod(exec, &counter, &TCounter::Add, "Add");
  RegisterNativeFunction(exec, "Raise", &Raise);
  ASSERT_TRUE(exec.LoadData(m.B.Build()));
  EXPECT_FALSE(exec.RunScript());
  EXPECT_EQ(counter.Total, 11);
  EXPECT_EQ(exec.GlobalVars().GetInt(0), 11);
  EXPECT_EQ(exec.ExceptionCode(), erException);
  EXPECT_EQ(exec.ExceptionString(), u"bad number");
  EXPECT_EQ(exec.ExceptionProcNo(), 0);
}

TEST(HostCalls, TooFewStackEntriesFailWithoutReadingPastTheStack) {
  THostModule m;
  TCode c;
  c.Call(1).Ret();
  m.B.Main(c);
  m.B.External("ADDINTS");
  TPSExec exec;
  RegisterNativeFunction(exec, "AddInts", &AddInts);
  ASSERT_TRUE(exec.LoadData(m.B.Build()));
  EXPECT_FALSE(exec.RunScript());
  EXPECT_EQ(exec.ExceptionCode(), erCouldNotCallProc);
}

TEST(HostCalls, ProcedureValuesReachTheHostAsCallablesThatRunTheScript) {
  // function Triple(x: Integer): Integer; and G0 := Apply(@Triple, 5)
  THostModule m;
  uint32_t pp = m.B.ProcPtr(std::string("\x01\x00", 2));
  TCode triple;
  triple.Assign().Var(L(-1)).Var(L(-2)).Calc(CalcMul).Var(L(-1)).Const<int32_t>(m.S32, 3).Ret();
  TCode c;
  c.Push().Const<int32_t>(m.S32, 5).Push().Const<uint32_t>(pp, 2).PushVarRef().Var(G(0)).Call(1).Pop().Pop().Pop();
  c.Ret();
  m.B.Main(c);
  m.B.External("APPLY");
  m.B.Proc(triple, "TRIPLE", std::to_string(m.S32) + " @" + std::to_string(m.S32));
  TPSExec exec;
  RegisterNativeFunction(exec, "Apply",
                         std::function<int32_t(std::function<int32_t(int32_t)>, int32_t)>(
                             [](std::function<int32_t(int32_t)> f, int32_t x) { return f(x) + 1; }));
  ASSERT_TRUE(exec.LoadData(m.B.Build()));
  ASSERT_TRUE(exec.RunScript()) << rtl::UnicodeToUtf8(exec.ExceptionString());
  EXPECT_EQ(exec.GlobalVars().GetInt(0), 16);
  // The host can call the script procedure itself, too.
  EXPECT_EQ(CallScriptProc<int32_t>(exec, exec.GetProc("TRIPLE"), 7), 21);
  EXPECT_THROW(CallScriptProc<int32_t>(exec, exec.GetProc("TRIPLE"), 7, 8), rtl::Exception);
  auto method = GetProcAsMethod<int32_t, int32_t>(exec, exec.GetProc("TRIPLE"));
  EXPECT_EQ(method(-2), -6);
}

TEST(HostCalls, CallScriptProcWritesVarParametersBackAndRaisesScriptErrors) {
  THostModule m;
  TCode bump;  // procedure Bump(var s: String; n: Integer); s := s + '!'; n div 0 when n = 0
  bump.Calc(CalcAdd).Var(L(-1)).ConstWide(m.Str, u"!");
  bump.Op(OpJumpIfTrue).JumpField(1).Var(L(-2)).EndJump();
  bump.Calc(CalcDiv).Var(L(-2)).Var(L(-2));
  bump.Mark(1).Ret();
  TCode main;
  main.Ret();
  m.B.Main(main);
  m.B.Proc(bump, "BUMP", "-1 !" + std::to_string(m.Str) + " @" + std::to_string(m.S32));
  auto exec = LoadModule(m.B);
  rtl::UnicodeString text = u"hi";
  CallScriptProc<void>(*exec, 1, text, int32_t(1));
  EXPECT_EQ(text, u"hi!");
  try {
    CallScriptProc<void>(*exec, 1, text, int32_t(0));
    FAIL();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), u"Division by zero");
  }
  EXPECT_EQ(exec->Status(), isLoaded);
}
