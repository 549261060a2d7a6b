// The value stack: growth, shrinking, relocation of pointer targets, typed access.
#include "engine/runtime/Values.h"
#include "engine/runtime/VariantSlot.h"
#include "rtl/Variant.h"
#include "tests/engine/runtime/TestSupport.h"

using namespace ps;

namespace {
struct TTypes {
  TPSTypeRec S32{btS32}, Str{btUnicodeString}, Ptr{btPointer}, Var{btVariant}, Ansi{btString};
  TTypes() {
    for (TPSTypeRec* t : {&S32, &Str, &Ptr, &Var, &Ansi}) t->CalcSize();
  }
};
}  // namespace

TEST(Stack, GrowsShrinksAndMovesPointerTargetsInsideTheBlock) {
  TTypes t;
  TPSStack stack;
  EXPECT_EQ(stack.Capacity(), TPSStack::BlockStep);
  uint8_t* first = stack.PushType(&t.S32);
  Store<int32_t>(first, 1234);
  uint8_t* ptr = stack.PushType(&t.Ptr);
  Store(ptr, TPSPointerValue{first, &t.S32, 0});
  int external = 5;
  uint8_t* outside = stack.PushType(&t.Ptr);
  Store(outside, TPSPointerValue{&external, &t.S32, 0});
  for (int i = 0; i < 5000; ++i) stack.PushType(&t.Str);
  EXPECT_GT(stack.Capacity(), 16u * 4096u);
  EXPECT_EQ(stack.Capacity() % TPSStack::BlockStep, 0u);
  // The pointer to the first entry followed the block; the outside one did not move.
  EXPECT_EQ(stack.GetInt(1), 1234);
  auto pv = Load<TPSPointerValue>(stack.EntryValue(1));
  EXPECT_EQ(pv.Target, stack.EntryValue(0));
  EXPECT_EQ(stack.GetInt(2), 5);
  stack.SetInt(1, 99);  // written through the pointer
  EXPECT_EQ(stack.GetInt(0), 99);
  stack.PopTo(3);
  EXPECT_LE(stack.Capacity(), 3u * 4096u);  // no more than 12,287 bytes stay free
  EXPECT_EQ(stack.GetInt(1), 99);
  EXPECT_THROW(stack.SetCapacity(8), rtl::Exception);
  stack.Clear();
  EXPECT_EQ(stack.Count(), 0);
  EXPECT_EQ(stack.Length(), 0u);
}

TEST(Stack, TypedAccessorsConvertOrRaiseTypeMismatch) {
  TTypes t;
  TPSStack stack;
  stack.PushType(&t.S32);
  stack.PushType(&t.Str);
  stack.PushType(&t.Var);
  stack.SetInt(0, -7);
  stack.SetUnicodeString(1, u"héllo");
  stack.SetReal(-1, 2.5L);
  EXPECT_EQ(stack.GetInt64(0), -7);
  EXPECT_EQ(stack.GetReal(0), -7.0L);
  EXPECT_EQ(stack.GetAnsiString(1), "héllo");
  EXPECT_EQ(stack.GetString(-2), u"héllo");
  EXPECT_EQ(stack.GetReal(-1), 2.5L);
  EXPECT_EQ(stack.GetUnicodeString(-1), u"2.5");  // through the variant's own conversion
  try {
    stack.GetInt(1);
    FAIL();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), u"Type Mismatch");
  }
  EXPECT_THROW(stack.SetUnicodeString(0, u"x"), rtl::Exception);
  stack.Clear();  // releases the string and the variant (checked by the leak sanitizer)
}

TEST(Stack, PushingPastTheBoundFails) {
  TTypes t;
  TPSStack stack;
  stack.SetMaxLength(64 * 1024);
  int pushed = 0;
  while (stack.PushType(&t.Str)) ++pushed;
  EXPECT_EQ(pushed, 64 * 1024 / 16);
}

TEST(Values, ValueToVariantConversionByKind) {
  struct Case {
    TPSBaseType Kind;
    const char* ExportName;
    rtl::TVarType Expected;
  };
  const Case cases[] = {
      {btU8, "", rtl::varByte},
      {btU8, "BOOLEAN", rtl::varBoolean},
      {btS8, "", rtl::varShortInt},
      {btU16, "", rtl::varWord},
      {btS16, "", rtl::varSmallInt},
      {btU32, "", rtl::varLongWord},
      {btS32, "", rtl::varInteger},
      {btS64, "", rtl::varInt64},
      {btSingle, "", rtl::varDouble},
      {btDouble, "", rtl::varDouble},
      {btDouble, "TDATETIME", rtl::varDate},
      {btExtended, "", rtl::varDouble},
      {btCurrency, "", rtl::varCurrency},
      {btString, "", rtl::varString},
      {btChar, "", rtl::varString},
      {btWideString, "", rtl::varOleStr},
      {btWideChar, "", rtl::varOleStr},
      {btUnicodeString, "", rtl::varUString},
  };
  for (const auto& c : cases) {
    TPSTypeRec type(c.Kind);
    type.SetExportName(c.ExportName);
    type.CalcSize();
    alignas(16) uint8_t value[16] = {};
    alignas(16) uint8_t slot[16] = {};
    ASSERT_TRUE(ValueToVariantSlot(slot, value, &type)) << int(c.Kind);
    rtl::Variant v;
    std::memcpy(static_cast<void*>(&v), slot, sizeof v);
    EXPECT_EQ(v.VType(), c.Expected) << int(c.Kind) << " " << c.ExportName;
  }
  for (TPSBaseType refused : {btRecord, btSet, btClass, btInterface, btProcPtr}) {
    TPSTypeRec type(refused);
    type.CalcSize();
    alignas(16) uint8_t value[32] = {};
    alignas(16) uint8_t slot[16] = {};
    EXPECT_FALSE(ValueToVariantSlot(slot, value, &type)) << int(refused);
  }
}
