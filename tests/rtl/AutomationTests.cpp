#include <gtest/gtest.h>

#include "rtl/Automation.h"

namespace rtl {
namespace {

// A small server: a counter with a read/write property, an indexed read and a
// method taking a named argument.
class TCounter : public IDispatch {
 public:
  Variant Invoke(std::u16string_view name, const TInvocation& call) override {
    return Table().Invoke(*this, name, call);
  }

  int FValue = 0;
  TInvokeFlags FLastFlags = 0;

 private:
  static const TDispatchTable<TCounter>& Table() {
    static const TDispatchTable<TCounter> table{
        {u"Value", &TCounter::DoValue}, {u"Twice", &TCounter::DoTwice}, {u"Reset", &TCounter::DoReset}};
    return table;
  }
  Variant DoValue(const TInvocation& call) {
    FLastFlags = call.Flags;
    if (call.IsPut()) {
      FValue = call.PutValue->AsInteger();
      return {};
    }
    return Variant(int32_t(FValue));
  }
  Variant DoTwice(const TInvocation& call) {
    if (call.ArgCount() != 1) throw EOleException::BadParamCount();
    return Variant(int32_t(call.Arg(0).AsInteger() * 2));
  }
  Variant DoReset(const TInvocation& call) {
    const Variant* to = call.FindNamed(u"To");
    FValue = to ? to->AsInteger() : 0;
    return {};
  }
};

class AutomationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CoInitialize();
    RegisterAutomationServer(u"Test.Counter", [] { return TRef<IDispatch>(new TCounter); });
  }
  void TearDown() override {
    UnregisterAutomationServer(u"Test.Counter");
    CoUninitialize();
  }
};

TEST_F(AutomationTest, MembersAreFoundWithoutRegardToLetterCase) {
  TRef<IDispatch> counter = CreateOleObject(u"test.COUNTER");
  counter->Put(u"VALUE", Variant(int32_t(21)));
  EXPECT_EQ(counter->Get(u"value").AsInteger(), 21);
  EXPECT_EQ(counter->Get(u"twice", {Variant(int32_t(4))}).AsInteger(), 8);
}

TEST_F(AutomationTest, ReadsWithoutArgumentsAreMethodOrPropertyGet) {
  TRef<IDispatch> object = CreateOleObject(u"Test.Counter");
  auto* counter = static_cast<TCounter*>(object.Get());
  object->Get(u"Value");
  EXPECT_EQ(counter->FLastFlags, DispatchMethod | DispatchPropertyGet);
  object->Get(u"Value", {Variant(int32_t(1))});
  EXPECT_EQ(counter->FLastFlags, DispatchPropertyGet);
  object->Put(u"Value", Variant(int32_t(3)));
  EXPECT_EQ(counter->FLastFlags, DispatchPropertyPut);
}

TEST_F(AutomationTest, NamedArgumentsReachTheServer) {
  Variant v = Variant::FromDispatch(CreateOleObject(u"Test.Counter").Get());
  OlePut(v, u"Value", Variant(int32_t(9)));
  OleCall(v, u"Reset", {}, {{u"to", Variant(int32_t(5))}});
  EXPECT_EQ(OleGet(v, u"Value").AsInteger(), 5);
  OleCall(v, u"Reset");
  EXPECT_EQ(OleGet(v, u"Value").AsInteger(), 0);
}

TEST_F(AutomationTest, ServerRejectionsCarryTheServersDescription) {
  TRef<IDispatch> counter = CreateOleObject(u"Test.Counter");
  try {
    counter->Call(u"Explode");
    FAIL();
  } catch (const EOleException& e) {
    EXPECT_EQ(e.Message(), u"Method 'Explode' not supported by automation object");
    EXPECT_EQ(e.ErrorCode(), EOleException::kUnknownName);
  }
  EXPECT_THROW(counter->Get(u"Twice"), EOleException);
}

TEST_F(AutomationTest, CreationFailuresNameTheProgramIdentifier) {
  try {
    CreateOleObject(u"No.Such.Server");
    FAIL();
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.Message(), u"Invalid class string, ProgID: \"No.Such.Server\"");
  }
  RegisterAutomationServer(u"Test.Broken", []() -> TRef<IDispatch> { throw Exception("disk on fire"); });
  try {
    CreateOleObject(u"Test.Broken");
    FAIL();
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.Message(), u"disk on fire, ProgID: \"Test.Broken\"");
  }
  UnregisterAutomationServer(u"Test.Broken");
}

TEST_F(AutomationTest, CreationNeedsAnInitialisedThread) {
  CoUninitialize();
  EXPECT_FALSE(CoIsInitialized());
  try {
    CreateOleObject(u"Test.Counter");
    FAIL();
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.Message(), u"CoInitialize has not been called, ProgID: \"Test.Counter\"");
  }
  CoInitialize();
  CoInitialize();  // calls nest
  CoUninitialize();
  EXPECT_TRUE(CoIsInitialized());
}

TEST_F(AutomationTest, LateBoundCallsOnNonObjectsFailClearly) {
  EXPECT_THROW(OleGet(Variant(int32_t(1)), u"Value"), EVariantTypeCastError);
  EXPECT_THROW(OleGet(Variant::FromDispatch(nullptr), u"Value"), EOleError);
}

TEST_F(AutomationTest, TheObjectLivesAsLongAsAnyVariantHoldsIt) {
  Variant holder;
  {
    TRef<IDispatch> counter = CreateOleObject(u"Test.Counter");
    holder = Variant::FromDispatch(counter.Get());
    EXPECT_EQ(counter->RefCount(), 2);
  }
  OlePut(holder, u"Value", Variant(int32_t(1)));
  EXPECT_EQ(holder.VDispatch()->RefCount(), 1);
}

}  // namespace
}  // namespace rtl
