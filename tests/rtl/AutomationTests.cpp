#include <gtest/gtest.h>

#include "rtl/Automation.h"

namespace rtl {
namespace {

// A small server: a counter with a read/write property, an indexed read and a
// method taking a named argument.
class TCounter : public IDispatch {
 public:
  Variant Invoke(std::u16string_view name, const TInvocation& call) override {
    UnicodeString member = AsciiUpperCase(name);
    if (member == u"VALUE") return DoValue(call);
    if (member == u"TWICE") return DoTwice(call);
    if (member == u"RESET") return DoReset(call);
    throw EOleException::UnknownMember(name);
  }

  int FValue = 0;
  TInvokeFlags FLastFlags = 0;

 private:
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
  static TRef<IDispatch> NewCounter() { return TRef<IDispatch>(new TCounter); }
};

TEST_F(AutomationTest, MembersAreFoundWithoutRegardToLetterCase) {
  TRef<IDispatch> counter = NewCounter();
  counter->Put(u"VALUE", Variant(int32_t(21)));
  EXPECT_EQ(counter->Get(u"value").AsInteger(), 21);
  EXPECT_EQ(counter->Get(u"twice", {Variant(int32_t(4))}).AsInteger(), 8);
}

TEST_F(AutomationTest, ReadsWithoutArgumentsAreMethodOrPropertyGet) {
  TRef<IDispatch> object = NewCounter();
  auto* counter = static_cast<TCounter*>(object.Get());
  object->Get(u"Value");
  EXPECT_EQ(counter->FLastFlags, DispatchMethod | DispatchPropertyGet);
  object->Get(u"Value", {Variant(int32_t(1))});
  EXPECT_EQ(counter->FLastFlags, DispatchPropertyGet);
  object->Put(u"Value", Variant(int32_t(3)));
  EXPECT_EQ(counter->FLastFlags, DispatchPropertyPut);
}

TEST_F(AutomationTest, NamedArgumentsReachTheServer) {
  Variant v = Variant::FromDispatch(NewCounter().Get());
  OlePut(v, u"Value", Variant(int32_t(9)));
  OleCall(v, u"Reset", {}, {{u"to", Variant(int32_t(5))}});
  EXPECT_EQ(OleGet(v, u"Value").AsInteger(), 5);
  OleCall(v, u"Reset");
  EXPECT_EQ(OleGet(v, u"Value").AsInteger(), 0);
}

TEST_F(AutomationTest, ServerRejectionsCarryTheServersDescription) {
  TRef<IDispatch> counter = NewCounter();
  try {
    counter->Call(u"Explode");
    FAIL();
  } catch (const EOleException& e) {
    EXPECT_EQ(e.Message(), u"Method 'Explode' not supported by automation object");
    EXPECT_EQ(e.ErrorCode(), EOleException::kUnknownName);
  }
  EXPECT_THROW(counter->Get(u"Twice"), EOleException);
}

TEST_F(AutomationTest, LateBoundCallsOnNonObjectsFailClearly) {
  EXPECT_THROW(OleGet(Variant(int32_t(1)), u"Value"), EVariantTypeCastError);
  EXPECT_THROW(OleGet(Variant::FromDispatch(nullptr), u"Value"), EOleError);
}

TEST_F(AutomationTest, TheObjectLivesAsLongAsAnyVariantHoldsIt) {
  Variant holder;
  {
    TRef<IDispatch> counter = NewCounter();
    holder = Variant::FromDispatch(counter.Get());
    EXPECT_EQ(counter->RefCount(), 2);
  }
  OlePut(holder, u"Value", Variant(int32_t(1)));
  EXPECT_EQ(holder.VDispatch()->RefCount(), 1);
}

}  // namespace
}  // namespace rtl
