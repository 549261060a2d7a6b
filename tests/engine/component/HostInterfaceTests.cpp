// Host interfaces end to end: a script asks a host object for an interface,
// calls its methods (inherited ones too) and lets it go, giving back every
// reference it held; variants reach automation objects late bound.
#include <gtest/gtest.h>

#include "engine/uPSComponent.h"
#include "engine/uPSComponent_Default.h"
#include "rtl/Automation.h"
#include "tests/engine/component/ScriptTestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

constexpr const char* GreeterGuid = "{6A1E2F10-0000-4000-8000-000000000001}";
constexpr const char* ShouterGuid = "{6A1E2F10-0000-4000-8000-000000000002}";

class IGreeter : public rtl::IUnknown {
 public:
  virtual rtl::UnicodeString Greet(const rtl::UnicodeString& name) = 0;
  virtual int32_t Count() = 0;
  virtual void Reset(int32_t& previous) = 0;
};

class IShouter : public IGreeter {
 public:
  virtual rtl::UnicodeString Shout(const rtl::UnicodeString& name) = 0;
};

class TGreeter : public IShouter {
 public:
  rtl::UnicodeString Greet(const rtl::UnicodeString& name) override {
    ++FCount;
    return u"Hello " + name;
  }
  int32_t Count() override { return FCount; }
  void Reset(int32_t& previous) override {
    previous = FCount;
    FCount = 0;
  }
  rtl::UnicodeString Shout(const rtl::UnicodeString& name) override { return u"HEY " + name; }

 private:
  int32_t FCount = 0;
};

// The host object scripts ask for the interfaces.
class TDesk : public rtl::TObject {
 public:
  static rtl::TClass StaticClass() {
    static const rtl::TMetaClass meta(u"TDesk", rtl::TObject::StaticClass(), nullptr);
    return &meta;
  }
  rtl::TClass ClassType() const override { return StaticClass(); }
  rtl::TRef<TGreeter> Greeter{new TGreeter};
};

struct TDeskHost {
  TPSImport_Classes classes;
  TPSScript script;
  TDesk desk;
  // Methods the host leaves out at run time (the compiler still knows them).
  bool registerShout = true;

  TDeskHost() {
    desk.SetOwnedByHost(true);
    script.Plugins().Add(&classes);
    script.OnCompile = [](TPSScript* s) {
      TPSPascalCompiler& c = *s->Comp();
      TPSInterface* greeter = c.AddInterface(c.FindInterface("IUnknown"), GreeterGuid, "IGreeter");
      greeter->RegisterMethod("function Greet(const Name: String): String", cdStdCall);
      greeter->RegisterMethod("function Count: Integer", cdStdCall);
      greeter->RegisterMethod("procedure Reset(var Previous: Integer)", cdStdCall);
      TPSInterface* shouter = c.AddInterface(greeter, ShouterGuid, "IShouter");
      shouter->RegisterMethod("function Shout(const Name: String): String", cdStdCall);
      c.AddClassN(c.FindClass("TObject"), "TDesk");
      s->AddRegisteredVariable("Desk", "TDesk");
      s->AddRegisteredVariable("Log", "String");
    };
    script.OnExecImport = [this](rtl::TObject*, TPSExec*, TPSRuntimeClassImporter* ri) {
      ri->Add<TDesk>()
          .Interface(GreeterGuid, [](TDesk* d) -> rtl::IUnknown* { return static_cast<IGreeter*>(d->Greeter.Get()); })
          .Interface(ShouterGuid, [](TDesk* d) -> rtl::IUnknown* { return static_cast<IShouter*>(d->Greeter.Get()); });
      ri->AddInterface<IGreeter>(GreeterGuid)
          .Method(&IGreeter::Greet)
          .Method(&IGreeter::Count)
          .Method(&IGreeter::Reset);
      auto& shouter = ri->AddInterface<IShouter>(ShouterGuid, GreeterGuid);
      if (registerShout) shouter.Method(&IShouter::Shout);
    };
    script.OnExecute = [this](TPSScript* s) { s->SetVarToInstance("Desk", &desk); };
  }
  bool Run(const char16_t* text) {
    script.Script().SetText(text);
    if (!script.Compile()) {
      ADD_FAILURE() << Messages(script);
      return false;
    }
    return script.Execute();
  }
  std::string Log() { return GlobalString(script, "LOG"); }
};

}  // namespace

TEST(HostInterfaces, ScriptsCallTheMethodsOfAnInterfaceTheyAskAnObjectFor) {
  TDeskHost host;
  ASSERT_TRUE(
      host.Run(u"var G: IGreeter; S: IShouter; n: Integer;\n"
               u"begin\n"
               u"  G := IGreeter(Desk);\n"
               u"  Log := G.Greet('Ann') + ', ' + G.Greet('Bob');\n"
               u"  G.Reset(n);\n"
               u"  Log := Log + ' ' + IntToStr(n) + ' ' + IntToStr(G.Count);\n"
               u"  S := IShouter(Desk);\n"
               u"  Log := Log + ' ' + S.Shout('Cy') + ' ' + S.Greet('Di');\n"
               u"  G := S;\n"
               u"  Log := Log + ' ' + IntToStr(G.Count);\n"
               u"end."))
      << Utf8(host.script.ExecErrorToString());
  EXPECT_EQ(host.Log(), "Hello Ann, Hello Bob 2 0 HEY Cy Hello Di 1");
  // The script's variables gave their references back when the run ended.
  host.script.Exec()->Clear();
  EXPECT_EQ(host.desk.Greeter->RefCount(), 1);
}

TEST(HostInterfaces, CallsThatCannotBeMadeAreRunTimeErrors) {
  struct TCase {
    const char16_t* Statement;
    const char* Message;
  };
  const TCase cases[] = {
      {u"Log := G.Greet('x');", "Null Pointer Exception"},
      {u"G := IGreeter(Desk); Log := IntToStr(G._AddRef);", "is not available"},
      {u"S := IShouter(Desk); Log := S.Shout('x');", "Interface method ISHOUTER#6 is not available"},
      {u"O := TObject.Create; try G := IGreeter(O); finally O.Free; end;", "Cannot cast an interface"},
  };
  for (const TCase& c : cases) {
    TDeskHost host;
    host.registerShout = false;
    std::u16string text = u"var G: IGreeter; S: IShouter; O: TObject;\nbegin\n  ";
    text += c.Statement;
    text += u"\nend.";
    EXPECT_FALSE(host.Run(text.c_str())) << Utf8(text);
    EXPECT_NE(Utf8(host.script.ExecErrorToString()).find(c.Message), std::string::npos)
        << Utf8(text) << ": [" << Utf8(host.script.ExecErrorToString()) << "]";
    EXPECT_EQ(host.script.ExecErrorRow(), 3u) << Utf8(text);
  }
}

TEST(HostInterfaces, RegistrationChecksItsGuids) {
  TPSRuntimeClassImporter ri;
  EXPECT_THROW(ri.AddInterface<IGreeter>("{nope}"), rtl::Exception);
  EXPECT_THROW(ri.AddInterface<IShouter>(ShouterGuid, GreeterGuid), rtl::Exception) << "parent not registered";
  auto& greeter = ri.AddInterface<IGreeter>(GreeterGuid).Method(&IGreeter::Greet).Method(&IGreeter::Count);
  auto& shouter = ri.AddInterface<IShouter>(ShouterGuid, GreeterGuid).Method(&IShouter::Shout);
  EXPECT_EQ(greeter.FFirstMethod, 3) << "after IUnknown's three";
  EXPECT_EQ(shouter.FFirstMethod, 5);
  EXPECT_NE(shouter.FindMethod(3), nullptr) << "inherited";
  EXPECT_NE(shouter.FindMethod(5), nullptr);
  EXPECT_EQ(shouter.FindMethod(6), nullptr);
  EXPECT_EQ(shouter.FindMethod(1), nullptr);
}

namespace {

// An automation object that answers every member by echoing how it was called.
class TEchoObject : public rtl::IDispatch {
 public:
  std::vector<std::string> Calls;
  rtl::Variant Invoke(std::u16string_view name, const rtl::TInvocation& call) override {
    std::string line = Utf8(rtl::UnicodeString(name));
    line += call.Flags == rtl::DispatchPropertyPut ? " put" : "";
    for (const rtl::Variant& a : call.Args) line += " " + Utf8(a.AsUnicodeString());
    if (call.PutValue) line += " = " + Utf8(call.PutValue->AsUnicodeString());
    Calls.push_back(line);
    if (name == u"Child") return rtl::Variant::FromDispatch(this);
    return rtl::Variant::FromUString(u"<" + rtl::UnicodeString(name) + u">");
  }
};

}  // namespace

TEST(HostInterfaces, VariantMembersReachAnAutomationObjectLateBound) {
  rtl::TRef<TEchoObject> app(new TEchoObject);
  TPSScript script;
  script.OnCompile = [](TPSScript* s) {
    s->AddNotificationVariant("App");
    s->AddRegisteredVariable("Log", "String");
  };
  script.OnGetNotificationVariant = [&](TPSScript*, const std::string&) {
    return rtl::Variant::FromDispatch(app.Get());
  };
  script.OnSetNotificationVariant = [](TPSScript*, const std::string&, const rtl::Variant&) {};
  script.Script().SetText(
      u"var V: Variant;\nbegin\n  V := App;\n  V.Caption := 'Sheet';\n  Log := V.Greet('Ann', 2);\n"
      u"  V.Cells[3, 4] := 'x';\n  Log := Log + V.Child.Name;\n  V.Quit;\nend.");
  ASSERT_TRUE(script.Compile()) << Messages(script);
  ASSERT_TRUE(script.Execute()) << Utf8(script.ExecErrorToString());
  EXPECT_EQ(app->Calls, (std::vector<std::string>{"Caption put = Sheet", "Greet Ann 2", "Cells put 3 4 = x", "Child",
                                                  "Name", "Quit"}));
  EXPECT_EQ(GlobalString(script, "LOG"), "<Greet><Name>");
  script.Exec()->Clear();
  EXPECT_EQ(app->RefCount(), 1);
}
