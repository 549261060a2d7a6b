// Host classes reached through "class:" imports of assembled modules: binding
// at load, member calls, the error rules, event properties and casts.
#include "engine/runtime/ClassImporter.h"
#include "rtl/StringList.h"
#include "tests/engine/imports/ImportTexts.h"
#include "tests/engine/runtime/TestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

// A small host class with one of each member kind.
class TGadget : public rtl::TObject {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }

  int32_t Add(int32_t n) { return FCount += n; }
  void Swap(rtl::UnicodeString& a, rtl::UnicodeString& b) { std::swap(a, b); }
  const rtl::UnicodeString& Label() const { return FLabel; }
  void SetLabel(const rtl::UnicodeString& v) { FLabel = v; }
  rtl::UnicodeString Item(int32_t i) const { return u"item" + rtl::IntToStr(i); }
  void SetItem(int32_t i, const rtl::UnicodeString& v) { FLabel = rtl::IntToStr(i) + u"=" + v; }
  const rtl::TNotifyEvent& OnPing() const { return FOnPing; }
  void SetOnPing(rtl::TNotifyEvent e) { FOnPing = std::move(e); }
  void Ping() {
    rtl::TObjectUse use(*this);
    if (FOnPing) FOnPing(this);
  }
  void Hook(rtl::TNotifyEvent e) { FOnPing = std::move(e); }
  int32_t Weight() const { return FWeight; }
  void SetWeight(int32_t w) { FWeight = w; }

  int32_t FCount = 0;
  int32_t FWeight = 7;
  rtl::UnicodeString FLabel;
  rtl::TNotifyEvent FOnPing;
};

// A registered descendant without members of its own.
class TBigGadget : public TGadget {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }
};

rtl::TClass TGadget::StaticClass() {
  static const rtl::TMetaClass meta(
      u"TGadget", rtl::TObject::StaticClass(), &rtl::CreateInstance<TGadget>,
      {rtl::ReadWriteProperty(u"Weight", u"Integer", &TGadget::Weight, &TGadget::SetWeight)});
  return &meta;
}
rtl::TClass TBigGadget::StaticClass() {
  static const rtl::TMetaClass meta(u"TBigGadget", TGadget::StaticClass(), &rtl::CreateInstance<TBigGadget>);
  return &meta;
}

void RegisterGadget(TPSRuntimeClassImporter& ri) {
  auto& g = ri.Add<TGadget>();
  g.Constructor<>();
  g.Method("Add", &TGadget::Add);
  g.Method("Swap", &TGadget::Swap);
  g.Method("Ping", &TGadget::Ping);
  g.Method("Free", [](TGadget* self) {
    if (self->OwnedByHost()) throw EPSObjectError(rtl::UnicodeString(SCannotFreeHostObject));
    delete self;
  });
  g.Property("Label", &TGadget::Label, &TGadget::SetLabel);
  g.Property("Item", &TGadget::Item, &TGadget::SetItem);
  g.EventProperty("OnPing", &TGadget::OnPing, &TGadget::SetOnPing);
  ri.Add<TBigGadget>();
}

// Globals: 0 gadget, 1 Integer, 2 String, 3 String, 4 procedure value, 5 another gadget.
struct TGadgetModule {
  TModuleBuilder B;
  uint32_t Gadget, S32, U32, Str, Proc, Big;
  TGadgetModule() {
    Gadget = B.Named(btClass, "TGADGET", TModuleBuilder::U32s(7) + "TGADGET");
    S32 = B.Type(btS32);
    U32 = B.Type(btU32);
    Str = B.Type(btUnicodeString);
    Proc = B.ProcPtr(std::string("\0\0", 2));
    Big = B.Named(btClass, "TBIGGADGET", TModuleBuilder::U32s(10) + "TBIGGADGET");
    B.Type(btPointer);  // var parameters need it
    for (uint32_t t : {Gadget, S32, Str, Str, Proc, Gadget}) B.Var(t);
  }
  // G(var) := TGadget.Create (or the class given by its type number)
  void Create(TCode& c, uint32_t proc, uint32_t var = 0, uint32_t type = UINT32_MAX) {
    c.Push().Const<uint32_t>(U32, type == UINT32_MAX ? Gadget : type).PushVarRef().Var(G(var)).Call(proc).Pop().Pop();
  }
};

struct TRunner {
  TPSRuntimeClassImporter RI;
  std::unique_ptr<TPSExec> Exec = std::make_unique<TPSExec>();
  TRunner() {
    RegisterGadget(RI);
    RegisterClassLibraryRuntime(*Exec, RI);
  }
  bool Load(const TModuleBuilder& b) { return Exec->LoadData(b.Build()); }
  bool Run(const TModuleBuilder& b) {
    EXPECT_TRUE(Load(b)) << Text();
    return Exec->RunScript();
  }
  std::string Text() const {
    return rtl::UnicodeToUtf8(TPSErrorToString(Exec->ExceptionCode(), Exec->ExceptionString()));
  }
  TGadget* Object(int var) const { return static_cast<TGadget*>(Exec->GlobalVars().GetClass(var)); }
};

void Boom() { throw rtl::Exception("boom"); }

}  // namespace

TEST(ClassImporter, AddReturnsTheSameClassAndLaterMembersHideEarlierOnes) {
  TPSRuntimeClassImporter ri;
  auto& a = ri.Add<TGadget>();
  a.Method("Add", &TGadget::Add);
  auto& b = ri.Add<TGadget>();
  EXPECT_EQ(&a, &b);
  b.Method("ADD", [](TGadget*, int32_t n) { return n * 100; });
  EXPECT_EQ(ri.Count(), 1);
  EXPECT_EQ(ri.FindClass("tgadget"), &a);
  ASSERT_NE(a.FindItem("ADD"), nullptr);
  EXPECT_EQ(a.FindItem("ADD"), &a.FClassItems.back());

  TGadgetModule m;
  TCode c;
  m.Create(c, 1);
  c.Push().Const<int32_t>(m.S32, 3).Push().Var(G(0)).PushVarRef().Var(G(1)).Call(2).Pop().Pop().Pop();
  c.Ret();
  m.B.Main(c);
  m.B.External("", MethodImport("TGADGET", "CREATE", true));
  m.B.External("", MethodImport("TGADGET", "ADD", true, {0}));
  TPSExec exec;
  a.Constructor<>();
  RegisterClassLibraryRuntime(exec, ri);
  ASSERT_TRUE(exec.LoadData(m.B.Build()));
  ASSERT_TRUE(exec.RunScript());
  EXPECT_EQ(exec.GlobalVars().GetInt(1), 300);
  delete static_cast<TGadget*>(exec.GlobalVars().GetClass(0));
}

TEST(ClassImporter, ConstructorMethodsAndPropertiesReachTheHostObject) {
  TGadgetModule m;
  TCode c;
  m.Create(c, 1);
  // G1 := G0.Add(5); G1 := G0.Add(2)
  for (int32_t n : {5, 2})
    c.Push().Const<int32_t>(m.S32, n).Push().Var(G(0)).PushVarRef().Var(G(1)).Call(2).Pop().Pop().Pop();
  // G0.Label := 'hello'; G2 := G0.Label
  c.Push().ConstWide(m.Str, u"hello").Push().Var(G(0)).Call(3).Pop().Pop();
  c.Push().Var(G(0)).PushVarRef().Var(G(2)).Call(4).Pop().Pop();
  // G3 := G0.Item[4]
  c.Push().Const<int32_t>(m.S32, 4).Push().Var(G(0)).PushVarRef().Var(G(3)).Call(5).Pop().Pop().Pop();
  c.Ret();
  m.B.Main(c);
  m.B.External("", MethodImport("TGADGET", "CREATE", true));
  m.B.External("", MethodImport("TGADGET", "ADD", true, {0}));
  m.B.External("", PropertyImport("TGADGET", "LABEL", 0, true));
  m.B.External("", PropertyImport("TGADGET", "LABEL", 0, false));
  m.B.External("", PropertyImport("TGADGET", "ITEM", 1, false));
  TRunner r;
  ASSERT_TRUE(r.Run(m.B)) << r.Text();
  TGadget* g = r.Object(0);
  ASSERT_NE(g, nullptr);
  EXPECT_FALSE(g->OwnedByHost()) << "objects made by a script's constructor are the script's";
  EXPECT_EQ(g->FCount, 7);
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(1), 7);
  EXPECT_EQ(r.Exec->GlobalVars().GetUnicodeString(2), u"hello");
  EXPECT_EQ(r.Exec->GlobalVars().GetUnicodeString(3), u"item4");
  delete g;
}

TEST(ClassImporter, IndexedWriteTakesIndexThenValueAndVarParametersComeBack) {
  TGadgetModule m;
  TCode c;
  // G0.Item[9] := 'nine'  (value, index, Self)
  c.Push().ConstWide(m.Str, u"nine").Push().Const<int32_t>(m.S32, 9).Push().Var(G(0)).Call(1).Pop().Pop().Pop();
  // G2 := 'a'; G3 := 'b'; G0.Swap(G2, G3)
  c.Assign().Var(G(2)).ConstWide(m.Str, u"a");
  c.Assign().Var(G(3)).ConstWide(m.Str, u"b");
  c.PushVarRef().Var(G(3)).PushVarRef().Var(G(2)).Push().Var(G(0)).Call(2).Pop().Pop().Pop();
  c.Ret();
  m.B.Main(c);
  m.B.External("", PropertyImport("TGADGET", "ITEM", 1, true));
  m.B.External("", MethodImport("TGADGET", "SWAP", false, {1, 1}));
  TRunner r;
  TGadget host;
  ASSERT_TRUE(r.Load(m.B));
  ps::Store<void*>(r.Exec->GlobalVars().EntryValue(0), static_cast<rtl::TObject*>(&host));
  ASSERT_TRUE(r.Exec->RunScript()) << r.Text();
  EXPECT_EQ(host.FLabel, u"9=nine");
  EXPECT_EQ(r.Exec->GlobalVars().GetUnicodeString(2), u"b");
  EXPECT_EQ(r.Exec->GlobalVars().GetUnicodeString(3), u"a");
}

TEST(ClassImporter, ErrorRulesForNilFreedAndForgedObjects) {
  struct TCase {
    const char* name;
    std::function<void(TGadgetModule&, TCode&)> setup;  // leaves the object in G0
    bool property;
    TPSError code;
    std::string param;
  };
  const std::vector<TCase> cases = {
      {"method on nil", [](TGadgetModule&, TCode&) {}, false, erNullPointerException, ""},
      {"property on nil", [](TGadgetModule&, TCode&) {}, true, erCouldNotCallProc, ""},
      {"method on a number cast to a class",
       [](TGadgetModule& m, TCode& c) { c.Assign().Var(G(0)).Const<int32_t>(m.S32, 12345); }, false, erCustomError,
       rtl::UnicodeToUtf8(rtl::UnicodeString(SNotALiveObject))},
      {"property on a freed object",
       [](TGadgetModule& m, TCode& c) {
         m.Create(c, 3);
         c.Push().Var(G(0)).Call(4).Pop();
       },
       true, erCustomError, rtl::UnicodeToUtf8(rtl::UnicodeString(SNotALiveObject))},
      {"method on a live object of another class",
       [](TGadgetModule& m, TCode& c) {
         m.Create(c, 5, 0, m.B.Named(btClass, "TSTRINGLIST", TModuleBuilder::U32s(11) + "TSTRINGLIST"));
       },
       false, erCustomError, "Object of class TStringList is not a TGadget"},
      {"free twice",
       [](TGadgetModule& m, TCode& c) {
         m.Create(c, 3);
         c.Push().Var(G(0)).Call(4).Pop();
       },
       false, erCustomError, rtl::UnicodeToUtf8(rtl::UnicodeString(SNotALiveObject))},
  };
  for (const auto& tc : cases) {
    TGadgetModule m;
    TCode c;
    tc.setup(m, c);
    if (tc.property)
      c.Push().Var(G(0)).PushVarRef().Var(G(2)).Call(2).Pop().Pop();
    else if (std::string(tc.name) == "free twice")
      c.Push().Var(G(0)).Call(4).Pop();
    else
      c.Push().Const<int32_t>(m.S32, 1).Push().Var(G(0)).PushVarRef().Var(G(1)).Call(1).Pop().Pop().Pop();
    c.Ret();
    m.B.Main(c);
    m.B.External("", MethodImport("TGADGET", "ADD", true, {0}));
    m.B.External("", PropertyImport("TGADGET", "LABEL", 0, false));
    m.B.External("", MethodImport("TGADGET", "CREATE", true));
    m.B.External("", MethodImport("TGADGET", "FREE", false));
    m.B.External("", MethodImport("TSTRINGLIST", "CREATE", true));
    TRunner r;
    r.RI.Add<rtl::TStringList>().Constructor<>();
    EXPECT_FALSE(r.Run(m.B)) << tc.name;
    EXPECT_EQ(r.Exec->ExceptionCode(), tc.code) << tc.name << ": " << r.Text();
    if (!tc.param.empty()) {
      EXPECT_EQ(rtl::UnicodeToUtf8(r.Exec->ExceptionString()), tc.param) << tc.name;
    }
  }
}

TEST(ClassImporter, ScriptsCannotFreeTheHostsObjects) {
  TGadgetModule m;
  TCode c;
  c.Push().Var(G(0)).Call(1).Pop().Ret();
  m.B.Main(c);
  m.B.External("", MethodImport("TGADGET", "FREE", false));
  TRunner r;
  auto host = std::make_unique<TGadget>();
  ASSERT_TRUE(r.Load(m.B));
  ps::Store<void*>(r.Exec->GlobalVars().EntryValue(0), static_cast<rtl::TObject*>(host.get()));
  EXPECT_FALSE(r.Exec->RunScript());
  EXPECT_EQ(r.Exec->ExceptionString(), SCannotFreeHostObject);
  EXPECT_TRUE(rtl::TObjectRegistry::IsLive(host.get()));
}

TEST(ClassImporter, UnregisteredMembersAndClassesFailToLoad) {
  for (const std::string& decl : {MethodImport("TGADGET", "NOSUCH", false), MethodImport("TNOSUCH", "ADD", false),
                                  PropertyImport("TGADGET", "PING", 0, true), std::string("class:TGADGET")}) {
    TGadgetModule m;
    TCode c;
    c.Ret();
    m.B.Main(c);
    m.B.External("", decl);
    TRunner r;
    EXPECT_FALSE(r.Load(m.B));
    EXPECT_EQ(r.Exec->ExceptionCode(), erCannotImport);
    EXPECT_EQ(rtl::UnicodeToUtf8(r.Exec->ExceptionString()), decl);
  }
}

TEST(ClassImporter, PublishedPropertiesWithoutHelpersAreReachedByName) {
  TGadgetModule m;
  TCode c;
  c.Push().Const<int32_t>(m.S32, 41).Push().Var(G(0)).Call(1).Pop().Pop();
  c.Push().Var(G(0)).PushVarRef().Var(G(1)).Call(2).Pop().Pop();
  c.Ret();
  m.B.Main(c);
  m.B.External("", PropertyImport("TGADGET", "WEIGHT", 0, true));
  m.B.External("", PropertyImport("TGADGET", "WEIGHT", 0, false));
  TRunner r;
  TGadget host;
  ASSERT_TRUE(r.Load(m.B)) << r.Text();
  ps::Store<void*>(r.Exec->GlobalVars().EntryValue(0), static_cast<rtl::TObject*>(&host));
  ASSERT_TRUE(r.Exec->RunScript()) << r.Text();
  EXPECT_EQ(host.FWeight, 41);
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(1), 41);
}

TEST(ClassImporter, ScriptProceduresBecomeEventHandlersAndReadBackAsThemselves) {
  TGadgetModule m;
  TCode handler;  // procedure (Sender: TObject): G1 := G1 + 10
  handler.Calc(CalcAdd).Var(G(1)).Const<int32_t>(m.S32, 10).Ret();
  TCode c;
  c.Assign().Var(G(4)).Const<uint32_t>(m.U32, 1);           // the handler's procedure number
  c.Push().Var(G(4)).Push().Var(G(0)).Call(2).Pop().Pop();  // G0.OnPing := handler
  c.Push().Var(G(0)).Call(3).Pop();                         // G0.Ping
  c.Push().Var(G(0)).Call(3).Pop();                         // G0.Ping
  c.Assign().Var(G(4)).Const<uint32_t>(m.U32, 0);
  c.Push().Var(G(0)).PushVarRef().Var(G(4)).Call(4).Pop().Pop();  // G4 := G0.OnPing
  c.Ret();
  m.B.Main(c);
  m.B.Proc(handler);
  m.B.External("", PropertyImport("TGADGET", "ONPING", 0, true));
  m.B.External("", MethodImport("TGADGET", "PING", false));
  m.B.External("", PropertyImport("TGADGET", "ONPING", 0, false));
  TRunner r;
  TGadget host;
  ASSERT_TRUE(r.Load(m.B)) << r.Text();
  ps::Store<void*>(r.Exec->GlobalVars().EntryValue(0), static_cast<rtl::TObject*>(&host));
  ASSERT_TRUE(r.Exec->RunScript()) << r.Text();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(1), 20);
  EXPECT_EQ(ps::Load<TPSProcPtrValue>(r.Exec->GlobalVars().EntryValue(4)).ProcNo, 1u);
  // The host fires the handler after the run: it runs on the same executor.
  host.Ping();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(1), 30);
  // Once the executor is gone the handler reports that instead of crashing.
  r.Exec.reset();
  EXPECT_THROW(host.Ping(), rtl::Exception);
}

TEST(ClassImporter, AScriptHandlerThatRaisesFailsTheHostCallWithTheSameMessage) {
  TGadgetModule m;
  TCode handler;
  handler.Call(3).Ret();  // Boom
  TCode c;
  c.Assign().Var(G(4)).Const<uint32_t>(m.U32, 1);
  c.Push().Var(G(4)).Push().Var(G(0)).Call(2).Pop().Pop();
  c.Push().Var(G(0)).Call(4).Pop();
  c.Ret();
  m.B.Main(c);
  m.B.Proc(handler);
  m.B.External("", PropertyImport("TGADGET", "ONPING", 0, true));
  m.B.External("BOOM");
  m.B.External("", MethodImport("TGADGET", "PING", false));
  TRunner r;
  RegisterNativeFunction(*r.Exec, "Boom", &Boom);
  TGadget host;
  ASSERT_TRUE(r.Load(m.B)) << r.Text();
  ps::Store<void*>(r.Exec->GlobalVars().EntryValue(0), static_cast<rtl::TObject*>(&host));
  EXPECT_FALSE(r.Exec->RunScript());
  EXPECT_EQ(r.Exec->ExceptionCode(), erException);
  EXPECT_EQ(r.Exec->ExceptionString(), u"boom");
  // Outside a run the host sees the same message.
  try {
    host.Ping();
    ADD_FAILURE() << "no exception";
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), u"boom");
  }
}

TEST(ClassImporter, ConstructorOfAnAncestorMakesTheScriptsDescendantClass) {
  TGadgetModule m;
  TCode c;
  m.Create(c, 1, 0, m.Big);
  c.Ret();
  m.B.Main(c);
  m.B.External("", MethodImport("TGADGET", "CREATE", true));
  TRunner r;
  ASSERT_TRUE(r.Run(m.B)) << r.Text();
  rtl::TObject* made = r.Object(0);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->ClassName(), u"TBigGadget");
  delete made;
}

TEST(ClassImporter, ClassCastChecksTheClassAndSetNilClears) {
  for (bool fits : {true, false}) {
    TGadgetModule m;
    uint32_t plain = m.B.Named(btClass, "TOBJECT", TModuleBuilder::U32s(7) + "TOBJECT");
    uint32_t objVar = m.B.Var(plain);
    TCode c;
    // G(objVar) := G0 as TGadget (or TBigGadget)
    c.Push().Const<uint32_t>(m.U32, fits ? m.Gadget : m.Big).Push().Var(G(0)).PushVarRef().Var(G(objVar)).Call(1);
    c.Pop().Pop().Pop();
    c.PushVarRef().Var(G(0)).Call(2).Pop();  // G0 := nil
    c.Ret();
    m.B.Main(c);
    m.B.External("", "class:+");
    m.B.External("", "class:-");
    TRunner r;
    TGadget host;
    ASSERT_TRUE(r.Load(m.B)) << r.Text();
    ps::Store<void*>(r.Exec->GlobalVars().EntryValue(0), static_cast<rtl::TObject*>(&host));
    bool ok = r.Exec->RunScript();
    if (fits) {
      ASSERT_TRUE(ok) << r.Text();
      EXPECT_EQ(r.Exec->GlobalVars().GetClass(static_cast<int>(objVar)), &host);
      EXPECT_EQ(r.Exec->GlobalVars().GetClass(0), nullptr);
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(r.Exec->ExceptionCode(), erCustomError);
      EXPECT_EQ(r.Exec->ExceptionString(), SCannotCastObject);
    }
  }
}

TEST(ClassImporter, NumbersAndObjectsSurviveTheRoundTripThroughIntegers) {
  // G1 := Integer(G0); G5 := TObject(G1); G0 := TObject(-7); G1 := Integer(G0)
  TGadgetModule m;
  uint32_t second = m.B.Var(m.S32);
  TCode c;
  c.Assign().Var(G(1)).Var(G(0));
  c.Assign().Var(G(5)).Var(G(1));
  c.Assign().Var(G(0)).Const<int32_t>(m.S32, -7);
  c.Assign().Var(G(second)).Var(G(0));
  c.Ret();
  m.B.Main(c);
  TRunner r;
  TGadget host;
  ASSERT_TRUE(r.Load(m.B));
  ps::Store<void*>(r.Exec->GlobalVars().EntryValue(0), static_cast<rtl::TObject*>(&host));
  ASSERT_TRUE(r.Exec->RunScript()) << r.Text();
  EXPECT_NE(r.Exec->GlobalVars().GetInt(1), 0);
  EXPECT_EQ(r.Exec->GlobalVars().GetClass(5), &host) << "the integer of a live object gives the object back";
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(static_cast<int>(second)), -7) << "a number keeps its value";
}

namespace {

class ISpeaker : public rtl::IUnknown {
 public:
  virtual rtl::UnicodeString Speak() = 0;
};

class TSpeaker : public ISpeaker {
 public:
  rtl::UnicodeString Speak() override { return u"hi"; }
};

constexpr const char* SpeakerGuid = "{12345678-1234-5678-9ABC-DEF012345678}";

}  // namespace

TEST(ClassImporter, ObjectsHandOutTheirInterfacesByGuid) {
  TModuleBuilder b;
  uint32_t gadget = b.Named(btClass, "TGADGET", TModuleBuilder::U32s(7) + "TGADGET");
  uint8_t guid[16];
  ASSERT_TRUE(ParseGuidText(SpeakerGuid, guid));
  uint32_t speaker = b.Named(btInterface, "ISPEAKER", std::string(reinterpret_cast<char*>(guid), 16));
  uint8_t other[16] = {1};
  uint32_t unknown = b.Named(btInterface, "IOTHER", std::string(reinterpret_cast<char*>(other), 16));
  b.Type(btPointer);
  b.Var(gadget);
  b.Var(speaker);
  b.Var(unknown);
  TCode c;
  c.Assign().Var(G(1)).Var(G(0));
  c.Assign().Var(G(2)).Var(G(0));
  c.Ret();
  b.Main(c);
  TRunner r;
  rtl::TRef<TSpeaker> voice(new TSpeaker);
  r.RI.Add<TGadget>().Interface(SpeakerGuid, [&](TGadget*) -> rtl::IUnknown* { return voice.Get(); });
  TGadget host;
  ASSERT_TRUE(r.Load(b));
  ps::Store<void*>(r.Exec->GlobalVars().EntryValue(0), static_cast<rtl::TObject*>(&host));
  EXPECT_FALSE(r.Exec->RunScript());
  EXPECT_EQ(r.Exec->ExceptionCode(), erInterfaceNotSupported) << r.Text();
  void* held = ps::Load<void*>(r.Exec->GlobalVars().EntryValue(1));
  EXPECT_EQ(held, static_cast<rtl::IUnknown*>(voice.Get()));
  EXPECT_EQ(voice->RefCount(), 2) << "the script's variable holds its own reference";
  r.Exec.reset();
  EXPECT_EQ(voice->RefCount(), 1);
}

TEST(ClassImporter, MembersOfAnAncestorBindForADescendantsImport) {
  TGadgetModule m;
  TCode c;
  m.Create(c, 1, 0, m.Big);
  c.Push().Const<int32_t>(m.S32, 4).Push().Var(G(0)).PushVarRef().Var(G(1)).Call(2).Pop().Pop().Pop();
  c.Ret();
  m.B.Main(c);
  m.B.External("", MethodImport("TBIGGADGET", "CREATE", true));
  m.B.External("", MethodImport("TBIGGADGET", "ADD", true, {0}));
  TRunner r;
  ASSERT_TRUE(r.Run(m.B)) << r.Text();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(1), 4);
  rtl::TObject* made = r.Object(0);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->ClassName(), u"TBigGadget");
  delete made;
}

TEST(ClassImporter, APCharResultKeepsItsTextAfterTheListIsFreed) {
  TModuleBuilder b;
  uint32_t list = b.Named(btClass, "TSTRINGLIST", TModuleBuilder::U32s(11) + "TSTRINGLIST");
  uint32_t pchar = b.Type(btPChar);
  b.Type(btPointer);
  b.Var(list);
  b.Var(pchar);
  TCode c;
  c.Push().Var(G(0)).PushVarRef().Var(G(1)).Call(1).Pop().Pop();
  c.Ret();
  b.Main(c);
  b.External("", MethodImport("TSTRINGLIST", "GETTEXT", true));
  TPSRuntimeClassImporter ri;
  ri.Add<rtl::TStringList>().Method("GetText", [](rtl::TStringList* s) { return rtl::UnicodeToUtf8(s->Text()); });
  TPSExec exec;
  RegisterClassLibraryRuntime(exec, ri);
  ASSERT_TRUE(exec.LoadData(b.Build()));
  auto host = std::make_unique<rtl::TStringList>();
  host->Add(u"kept");
  ps::Store<void*>(exec.GlobalVars().EntryValue(0), static_cast<rtl::TObject*>(host.get()));
  ASSERT_TRUE(exec.RunScript());
  host.reset();
  EXPECT_EQ(exec.GlobalVars().GetAnsiString(1), "kept\r\n");
}

TEST(ClassImporter, ProcedureArgumentsReachHostMembersAsHandlers) {
  TGadgetModule m;
  TCode handler;  // procedure (Sender: TObject): G1 := G1 + 1
  handler.Calc(CalcAdd).Var(G(1)).Const<int32_t>(m.S32, 1).Ret();
  TCode c;
  c.Assign().Var(G(4)).Const<uint32_t>(m.U32, 1);
  c.Push().Var(G(4)).Push().Var(G(0)).Call(2).Pop().Pop();  // G0.Hook(handler)
  c.Push().Var(G(0)).Call(3).Pop();                         // G0.Ping
  c.Ret();
  m.B.Main(c);
  m.B.Proc(handler);
  m.B.External("", MethodImport("TGADGET", "HOOK", false, {0}));
  m.B.External("", MethodImport("TGADGET", "PING", false));
  TRunner r;
  r.RI.Add<TGadget>().Method("Hook", &TGadget::Hook);
  TGadget host;
  ASSERT_TRUE(r.Load(m.B)) << r.Text();
  ps::Store<void*>(r.Exec->GlobalVars().EntryValue(0), static_cast<rtl::TObject*>(&host));
  ASSERT_TRUE(r.Exec->RunScript()) << r.Text();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(1), 1);
  host.Ping();
  EXPECT_EQ(r.Exec->GlobalVars().GetInt(1), 2);
}
