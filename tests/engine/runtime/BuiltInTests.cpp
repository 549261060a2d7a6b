// Calls with variant arguments, notification variables and late-bound
// automation calls.
#include <fstream>

#include "engine/runtime/HostCalls.h"
#include "rtl/Automation.h"
#include "tests/engine/runtime/TestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// function Scale(a: Integer; var b: Double): Double; b := b * a; Result := b + 1
TModuleBuilder ScaleModule() {
  TModuleBuilder b;
  uint32_t s32 = b.Type(btS32), dbl = b.Type(btDouble);
  b.Type(btPointer);
  TCode main;
  main.Ret();
  TCode scale;  // L(-1) result, L(-2) a, L(-3) b
  scale.Calc(CalcMul).Var(L(-3)).Var(L(-2));
  scale.Assign().Var(L(-1)).Var(L(-3));
  scale.Calc(CalcAdd).Var(L(-1)).Const<int32_t>(s32, 1);
  scale.Ret();
  b.Main(main);
  b.Proc(scale, "SCALE", std::to_string(dbl) + " @" + std::to_string(s32) + " !" + std::to_string(dbl));
  TCode fail;
  fail.Calc(CalcDiv).Var(L(-1)).Const<int32_t>(s32, 0).Ret();
  b.Proc(fail, "FAIL", "-1 !" + std::to_string(s32));
  return b;
}

}  // namespace

TEST(BuiltIns, RunProcPConvertsVariantsInAndOut) {
  auto exec = LoadModule(ScaleModule());
  std::vector<rtl::Variant> params = {rtl::Variant(int32_t(3)), rtl::Variant(2.5)};
  rtl::Variant r = exec->RunProcPN(params, "scale");
  EXPECT_EQ(r.AsDouble(), 8.5);
  EXPECT_EQ(params[1].AsDouble(), 2.5);  // RunProcP leaves the array alone
  exec->RunProcPVar(params, exec->GetProc("SCALE"));
  EXPECT_EQ(params[1].AsDouble(), 7.5);
  EXPECT_EQ(exec->Status(), isLoaded);
}

TEST(BuiltIns, RunProcPChecksItsParameters) {
  auto exec = LoadModule(ScaleModule());
  auto message = [&](std::vector<rtl::Variant> params, int proc) -> std::u16string {
    try {
      exec->RunProcP(params, proc);
    } catch (const rtl::Exception& e) {
      return e.Message();
    }
    return u"";
  };
  int scale = exec->GetProc("SCALE");
  EXPECT_EQ(message({rtl::Variant(1.0)}, scale), u"Not enough parameters");
  EXPECT_EQ(message({rtl::Variant(1.0), rtl::Variant(1.0), rtl::Variant(1.0)}, scale), u"Too many parameters");
  EXPECT_EQ(message({rtl::Variant::FromUString(u"abc"), rtl::Variant(1.0)}, scale), u"Invalid parameter");
  EXPECT_EQ(message({}, 99), u"Unknown procedure");
  EXPECT_THROW(exec->RunProcPN({}, "nothing"), rtl::Exception);
  // A script error comes back as the host exception of the error.
  EXPECT_EQ(message({rtl::Variant(int32_t(1))}, exec->GetProc("FAIL")), u"Division by zero");
}

TEST(BuiltIns, NotificationVariablesCallTheHostEvents) {
  TModuleBuilder b;
  uint32_t var = b.Type(btVariant), str = b.Type(btString);
  b.Type(btPointer);
  b.Var(var);
  TCode main;
  // G0 := !NOTIFICATIONVARIANTGET('X'); !NOTIFICATIONVARIANTSET('Y', G0 + 1)
  main.Push().ConstStr(str, "X").PushVarRef().Var(G(0)).Call(1).Pop().Pop();
  main.Calc(CalcAdd).Var(G(0)).Var(G(0));
  main.Push().Var(G(0)).Push().ConstStr(str, "Y").Call(2).Pop().Pop();
  main.Ret();
  b.Main(main);
  b.External("!NOTIFICATIONVARIANTGET");
  b.External("!NOTIFICATIONVARIANTSET");
  auto fresh = [&] {
    auto exec = std::make_unique<TPSExec>();
    EXPECT_TRUE(exec->LoadData(b.Build()));
    return exec;
  };
  auto exec = fresh();
  EXPECT_FALSE(exec->RunScript());
  EXPECT_EQ(exec->ExceptionCode(), erCouldNotCallProc);

  exec = fresh();
  std::string got;
  rtl::Variant set;
  exec->SetOnGetNVariant([&](TPSExec*, const std::string& name, rtl::Variant& v) {
    got = name;
    v = rtl::Variant(int32_t(21));
  });
  exec->SetOnSetNVariant([&](TPSExec*, const std::string& name, const rtl::Variant& v) {
    got += name;
    set = v;
  });
  EXPECT_TRUE(exec->RunScript()) << rtl::UnicodeToUtf8(exec->ExceptionString());
  EXPECT_EQ(got, "XY");
  EXPECT_EQ(set.AsInt64(), 42);
}

namespace {
class TRecordingObject : public rtl::IDispatch {
 public:
  rtl::UnicodeString LastName;
  rtl::TInvokeFlags LastFlags = 0;
  std::vector<rtl::Variant> LastArgs;
  rtl::Variant LastPut;
  rtl::Variant Invoke(std::u16string_view name, const rtl::TInvocation& call) override {
    if (name == u"Missing") throw rtl::EOleException::UnknownMember(name);
    if (name == u"Broken") throw rtl::EOleException(u"it broke", rtl::EOleException::kGenericFailure, u"Server");
    LastName = name;
    LastFlags = call.Flags;
    LastArgs.assign(call.Args.begin(), call.Args.end());
    if (call.PutValue) LastPut = *call.PutValue;
    return rtl::Variant::FromUString(u"answer");
  }
};
}  // namespace

TEST(BuiltIns, IDispatchInvokeCallsTheObjectLateBound) {
  TModuleBuilder b;
  uint32_t intf = b.Named(btInterface, "IDISPATCH", std::string(16, '\0'));
  uint32_t u8 = b.Type(btU8), str = b.Type(btUnicodeString), var = b.Type(btVariant), arr = b.DynArray(var);
  b.Type(btPointer);
  b.Var(intf);  // G0: the object
  b.Var(arr);   // G1: arguments
  b.Var(var);   // G2: result
  b.Var(str);   // G3: member name
  TCode main;
  main.Push().Var(G(1)).Push().Var(G(3)).Push().Const<uint8_t>(u8, 0).Push().Var(G(0));
  main.PushVarRef().Var(G(2)).Call(1).Pop().Pop().Pop().Pop().Pop();
  main.Push().Var(G(1)).Push().ConstWide(str, u"Value").Push().Const<uint8_t>(u8, 1).Push().Var(G(0));
  main.PushVarRef().Var(G(2)).Call(1).Pop().Pop().Pop().Pop().Pop();
  main.Ret();
  b.Main(main);
  b.External("IDISPATCHINVOKE");
  auto exec = LoadModule(b);
  auto* object = new TRecordingObject;
  rtl::TRef<rtl::IDispatch> keep(object);
  auto& g = exec->GlobalVars();
  object->AddRef();  // the interface slot's reference
  rtl::IUnknown* unknown = object;
  std::memcpy(g.EntryValue(0), &unknown, sizeof unknown);
  TPSTypeRec* arrType = exec->GetTypeNo(arr);
  PSDynArraySetLength(g.EntryValue(1), arrType, 2);
  PSSetInt(PSDynArrayElement(g.EntryValue(1), arrType, 0), exec->GetTypeNo(var), 7);
  PSSetUnicodeString(PSDynArrayElement(g.EntryValue(1), arrType, 1), exec->GetTypeNo(var), u"x");
  PSSetUnicodeString(g.EntryValue(3), exec->GetTypeNo(str), u"Items");
  ASSERT_TRUE(exec->RunScript()) << rtl::UnicodeToUtf8(exec->ExceptionString());
  EXPECT_EQ(object->LastName, u"Value");
  EXPECT_EQ(object->LastFlags, rtl::DispatchPropertyPut);
  ASSERT_EQ(object->LastArgs.size(), 1u);  // the index; the last element is the assigned value
  EXPECT_EQ(object->LastArgs[0].AsInt64(), 7);
  EXPECT_EQ(object->LastPut.AsUnicodeString(), u"x");
  EXPECT_EQ(g.GetUnicodeString(2), u"");  // a property write gives nothing

  PSSetUnicodeString(g.EntryValue(3), exec->GetTypeNo(str), u"Missing");
  EXPECT_FALSE(exec->RunScript());
  EXPECT_EQ(exec->ExceptionString(), u"Unknown method");
  PSSetUnicodeString(g.EntryValue(3), exec->GetTypeNo(str), u"Broken");
  exec->Stop();
  EXPECT_FALSE(exec->RunScript());
  EXPECT_EQ(exec->ExceptionString(), u"Server: it broke");
  exec->Stop();
  exec.reset();  // releases the slot's reference
  EXPECT_EQ(object->RefCount(), 1);
}

TEST(BuiltIns, IDispatchInvokeOnNilRaisesTheScriptError) {
  TModuleBuilder b;
  uint32_t intf = b.Named(btInterface, "IDISPATCH", std::string(16, '\0'));
  uint32_t u8 = b.Type(btU8), str = b.Type(btUnicodeString), var = b.Type(btVariant), arr = b.DynArray(var);
  b.Type(btPointer);
  b.Var(intf);
  b.Var(arr);
  b.Var(var);
  TCode main;
  main.Push().Var(G(1)).Push().ConstWide(str, u"X").Push().Const<uint8_t>(u8, 0).Push().Var(G(0));
  main.PushVarRef().Var(G(2)).Call(1).Pop().Pop().Pop().Pop().Pop();
  main.Ret();
  b.Main(main);
  b.External("IDISPATCHINVOKE");
  auto r = RunModule(b);
  EXPECT_EQ(r.Code(), erCustomError);
  EXPECT_EQ(r.Text(), "Variant is null, cannot invoke");
  // Reported at the call that made it, so the failing statement is found.
  EXPECT_EQ(r.Exec->ExceptionProcNo(), 0);
  EXPECT_GT(r.Exec->ExceptionPos(), 0);
}

// The built-in routines read their arguments by position from the top of the
// stack; a module is untrusted, so a call with too few entries or entries of
// the wrong kinds must end in the executor's error, never in a stray read or
// write. Each routine is called once with nothing pushed and once with
// integers in every position (which only the ordinal routines accept).
TEST(BuiltIns, RawRoutinesCheckTheirArgumentsAgainstTheDeclaration) {
  struct {
    const char* name;
    bool takesIntegers;
  } cases[] = {{"COPY", false},
               {"POS", false},
               {"DELETE", false},
               {"INSERT", false},
               {"GETARRAYLENGTH", false},
               {"SETARRAYLENGTH", false},
               {"STRGET", false},
               {"STRGET2", false},
               {"STRSET", false},
               {"WSTRGET", false},
               {"WSTRSET", false},
               {"VARARRAYGET", false},
               {"VARARRAYSET", false},
               {"UPPERCASE", false},
               {"LOWERCASE", false},
               {"TRIM", false},
               {"LENGTH", false},
               {"SETLENGTH", false},
               {"PADL", false},
               {"PADR", false},
               {"PADZ", false},
               {"RAISEEXCEPTION", false},
               {"LOW", true},
               {"HIGH", true},
               {"INC", true},
               {"DEC", true},
               {"SIZEOF", true},
               {"!ASSIGNED", true}};
  for (const auto& c : cases) {
    for (int pushed : {0, 4}) {
      TModuleBuilder b;
      uint32_t s32 = b.Type(btS32);
      TCode main;
      for (int i = 0; i < pushed; ++i) main.Push().Const<int32_t>(s32, 0x41414141);
      main.Call(1).Ret();
      b.Main(main);
      b.External(c.name);
      auto r = RunModule(b);
      if (pushed && c.takesIntegers) {
        EXPECT_TRUE(r.Ok) << c.name << ": " << r.Text();
      } else {
        EXPECT_FALSE(r.Ok) << c.name << " " << pushed;
        EXPECT_EQ(r.Code(), pushed ? ErTypeMismatch : erOutOfStackRange) << c.name << " " << pushed << ": " << r.Text();
      }
    }
  }
  // The late-bound call takes its object only from an interface slot, never
  // from a number or a class slot.
  TModuleBuilder b;
  uint32_t s32 = b.Type(btS32);
  TCode main;
  for (int i = 0; i < 5; ++i) main.Push().Const<int32_t>(s32, 0x41414141);
  main.Call(1).Ret();
  b.Main(main);
  b.External("IDISPATCHINVOKE");
  auto r = RunModule(b);
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.Text(), "Exception: Type Mismatch");
}

// Modules that once read and wrote out of bounds through Copy and StrSet.
TEST(BuiltIns, CrashModulesEndInTheExecutorsError) {
  struct {
    const char* file;
    TPSError code;
  } cases[] = {{"crash-copy.bin", erOutOfStackRange}, {"crash-strset.bin", ErTypeMismatch}};
  for (const auto& c : cases) {
    std::string module = ReadFile(std::string(KORVA_SOURCE_DIR) + "/tests/fuzz/seeds/module/" + c.file);
    ASSERT_FALSE(module.empty()) << c.file;
    TPSExec exec;
    ASSERT_TRUE(exec.LoadData(module)) << c.file;
    EXPECT_FALSE(exec.RunScript()) << c.file;
    EXPECT_EQ(exec.ExceptionCode(), c.code) << c.file;
    exec.Stop();
  }
}
