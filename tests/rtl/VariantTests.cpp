#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <type_traits>

#include "rtl/Automation.h"
#include "rtl/Locale.h"
#include "rtl/Variant.h"

namespace rtl {
namespace {

// Restores the process-wide settings after a test changes them.
class VariantTest : public ::testing::Test {
 protected:
  void SetUp() override { FSaved = FormatSettings(); }
  void TearDown() override { FormatSettings() = FSaved; }
  static void UseGerman() {
    TFormatSettings& fs = FormatSettings();
    fs.DecimalSeparator = u',';
    fs.ThousandSeparator = u'.';
    fs.DateSeparator = u'.';
    fs.ShortDateFormat = u"dd.mm.yyyy";
    fs.LongTimeFormat = u"hh:nn:ss";
  }
  TFormatSettings FSaved;
};

class TCountedObject : public IDispatch {
 public:
  explicit TCountedObject(int* destroyed) : FDestroyed(destroyed) {}
  ~TCountedObject() override { ++*FDestroyed; }
  Variant Invoke(std::u16string_view name, const TInvocation&) override { return Variant(int32_t(7)); }

 private:
  int* FDestroyed;
};

TEST_F(VariantTest, LayoutIsSixteenBytesAndZeroBytesAreEmpty) {
  static_assert(sizeof(Variant) == 16);
  alignas(Variant) unsigned char bytes[sizeof(Variant)] = {};
  const Variant& v = *reinterpret_cast<const Variant*>(bytes);
  EXPECT_TRUE(v.IsEmpty());
  EXPECT_EQ(v.VType(), varEmpty);
}

TEST_F(VariantTest, MovingBytesWithMemcpyKeepsTheValueAndItsCount) {
  Variant original = Variant::FromUString(u"shared text");
  Variant copy = original;
  EXPECT_EQ(original.VWideBlock()->RefCount(), 2);
  alignas(Variant) unsigned char slot[sizeof(Variant)];
  std::memcpy(slot, static_cast<void*>(&copy), sizeof(Variant));
  std::memset(static_cast<void*>(&copy), 0, sizeof(Variant));  // forgotten, not destroyed
  Variant& moved = *reinterpret_cast<Variant*>(slot);
  EXPECT_EQ(moved.AsUnicodeString(), u"shared text");
  EXPECT_EQ(original.VWideBlock()->RefCount(), 2);
  moved.Clear();
  EXPECT_EQ(original.VWideBlock()->RefCount(), 1);
}

TEST_F(VariantTest, CopiesShareStringsAndAssignmentReleasesTheOldValue) {
  Variant a = Variant::FromOleStr(u"abc");
  {
    Variant b = a;
    EXPECT_EQ(a.VWideBlock(), b.VWideBlock());
    b = Variant(int32_t(5));
    EXPECT_EQ(a.VWideBlock()->RefCount(), 1);
    EXPECT_EQ(b.VType(), varInteger);
  }
  a = a;  // self-assignment keeps the value
  EXPECT_EQ(a.AsUnicodeString(), u"abc");
  EXPECT_EQ(a.VWideBlock()->RefCount(), 1);
}

TEST_F(VariantTest, DispatchReferencesAreCountedAndReleasedWithTheLastVariant) {
  int destroyed = 0;
  auto* object = new TCountedObject(&destroyed);
  {
    Variant v = Variant::FromDispatch(object);
    EXPECT_EQ(object->RefCount(), 1);
    {
      Variant w = v;
      EXPECT_EQ(object->RefCount(), 2);
      TRef<IDispatch> ref(w.AsDispatch());
      object->Release();  // AsDispatch handed out one reference of its own
      EXPECT_EQ(object->RefCount(), 3);
    }
    EXPECT_EQ(object->RefCount(), 1);
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 1);
}

TEST_F(VariantTest, ArraysHaveBoundsAndCopyOnWrite) {
  Variant a = Variant::CreateArray(1, 3);
  EXPECT_EQ(a.VType(), varArray | varVariant);
  EXPECT_EQ(a.ArrayLowBound(), 1);
  EXPECT_EQ(a.ArrayHighBound(), 3);
  a.ArrayElement({2}) = Variant::FromUString(u"two");
  Variant b = a;
  b.ArrayElement({2}) = Variant(int32_t(2));
  EXPECT_EQ(a.ArrayGet({2}).AsUnicodeString(), u"two");
  EXPECT_EQ(b.ArrayGet({2}).AsInteger(), 2);
  EXPECT_TRUE(a.ArrayGet({1}).IsEmpty());
  EXPECT_THROW(a.ArrayGet({4}), EVariantBadIndexError);
  EXPECT_THROW(a.ArrayGet({0}), EVariantBadIndexError);

  Variant grid = Variant::CreateArray({{0, 1}, {5, 7}});
  EXPECT_EQ(grid.ArrayDimCount(), 2);
  EXPECT_EQ(grid.ArrayHighBound(2), 7);
  grid.ArrayElement({1, 7}) = Variant(1.5);
  EXPECT_DOUBLE_EQ(grid.ArrayGet({1, 7}).AsDouble(), 1.5);
  EXPECT_THROW(grid.ArrayGet({1}), EVariantBadIndexError);
  EXPECT_THROW(Variant(int32_t(1)).ArrayGet({1}), EVariantBadIndexError);
}

TEST_F(VariantTest, ArraysNestedAMillionDeepAreFreedWithoutRecursion) {
  Variant v = Variant(int32_t(7));
  Variant deepest;
  for (int i = 0; i < 1000000; ++i) {
    Variant outer = Variant::CreateArray(0, 1);
    outer.ArrayElement({0}) = v;
    outer.ArrayElement({1}) = Variant::FromUString(u"kept");
    v = outer;
    if (i == 0) deepest = outer;
  }
  v = Variant();  // frees 999,999 arrays; the one still held elsewhere stays
  EXPECT_EQ(deepest.ArrayGet({1}).AsUnicodeString(), u"kept");
  EXPECT_EQ(deepest.ArrayGet({0}).AsInteger(), 7);
}

TEST_F(VariantTest, ByReferenceVariantsReadThroughToTheTarget) {
  Variant target = Variant::FromUString(u"42");
  Variant ref = Variant::ByRef(&target);
  EXPECT_EQ(ref.VType(), varByRef | varVariant);
  EXPECT_EQ(ref.AsInteger(), 42);
  target = Variant(2.5);
  EXPECT_DOUBLE_EQ(ref.AsDouble(), 2.5);
}

struct TToTextCase {
  Variant Value;
  std::u16string Expected;
};

TEST_F(VariantTest, ConvertsEveryScalarKindToText) {
  const TToTextCase cases[] = {
      {Variant(), u""},
      {Variant(true), u"True"},
      {Variant(false), u"False"},
      {Variant::FromShortInt(-5), u"-5"},
      {Variant::FromByte(200), u"200"},
      {Variant::FromSmallInt(-32768), u"-32768"},
      {Variant::FromWord(65535), u"65535"},
      {Variant(int32_t(-7)), u"-7"},
      {Variant::FromLongWord(4000000000u), u"4000000000"},
      {Variant(int64_t(5000000000)), u"5000000000"},
      {Variant(1.5), u"1.5"},
      {Variant(0.1), u"0.1"},
      {Variant(1.0 / 3.0), u"0.333333333333333"},
      {Variant(1e15), u"1E15"},
      {Variant(123456789012345.0), u"123456789012345"},
      {Variant(0.0001), u"0.0001"},
      {Variant(0.00001), u"1E-5"},
      {Variant(-2.5e-7), u"-2.5E-7"},
      {Variant::FromSingle(0.1f), u"0.1"},
      {Variant::FromCurrency(15000), u"1.5"},
      {Variant::FromCurrency(-1), u"-0.0001"},
      {Variant::FromCurrency(20000), u"2"},
      {Variant::FromDate(45000), u"03/15/23"},
      {Variant::FromDate(45000.5), u"03/15/23 12:00:00"},
      {Variant::FromDate(0.75), u"18:00:00"},
      {Variant::FromDate(0), u"12/30/99"},
      {Variant::FromString("caf\xc3\xa9"), u"caf\u00e9"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.Value.AsUnicodeString(), c.Expected) << "type " << c.Value.VType();
}

TEST_F(VariantTest, TextFollowsTheDecimalSeparatorAndDatePictureOfTheSettings) {
  UseGerman();
  EXPECT_EQ(Variant(1.5).AsUnicodeString(), u"1,5");
  EXPECT_EQ(Variant::FromCurrency(12345).AsUnicodeString(), u"1,2345");
  EXPECT_EQ(Variant::FromDate(45000.25).AsUnicodeString(), u"15.03.2023 06:00:00");
  EXPECT_DOUBLE_EQ(Variant::FromUString(u"1.234,5").AsDouble(), 1234.5);
  EXPECT_DOUBLE_EQ(Variant::FromUString(u"15.03.2023").AsDate(), 45000);
  EXPECT_THROW(Variant::FromUString(u"1.5").AsDouble(), EVariantTypeCastError);
}

struct TFromTextCase {
  std::u16string Text;
  bool Valid;
  double Expected;
};

TEST_F(VariantTest, ReadsNumbersFromTextAsTyped) {
  const TFromTextCase cases[] = {
      {u"123", true, 123},  {u" -1.5 ", true, -1.5},  {u"+2", true, 2},   {u"1,234,567.25", true, 1234567.25},
      {u"1e3", true, 1000}, {u"2.5E-2", true, 0.025}, {u".5", true, 0.5}, {u"5.", true, 5},
      {u"1,23", false, 0},  {u"12,3456", false, 0},   {u"abc", false, 0}, {u"", false, 0},
      {u"1e", false, 0},    {u"--1", false, 0},       {u"1 2", false, 0}, {u"1e999", false, 0},
      {u"1e-999", true, 0}, {u",123", false, 0},
  };
  for (const auto& c : cases) {
    double value = -99;
    bool ok = TryTextToDouble(c.Text, value, u'.', u',');
    EXPECT_EQ(ok, c.Valid) << UnicodeToUtf8(c.Text);
    if (ok && c.Valid) {
      EXPECT_DOUBLE_EQ(value, c.Expected) << UnicodeToUtf8(c.Text);
    }
  }
}

TEST_F(VariantTest, IntegerConversionsRoundHalvesToEvenAndCheckRange) {
  EXPECT_EQ(Variant(2.5).AsInteger(), 2);
  EXPECT_EQ(Variant(3.5).AsInteger(), 4);
  EXPECT_EQ(Variant(-2.5).AsInteger(), -2);
  EXPECT_EQ(Variant::FromCurrency(25000).AsInteger(), 2);
  EXPECT_EQ(Variant::FromCurrency(35000).AsInteger(), 4);
  EXPECT_EQ(Variant(true).AsInteger(), -1);
  EXPECT_EQ(Variant::FromUString(u"9007199254740993").AsInt64(), 9007199254740993LL);
  EXPECT_EQ(Variant::FromUString(u"7").AsInteger(), 7);
  EXPECT_EQ(Variant::FromUString(u"1.5").AsInteger(), 2);
  EXPECT_THROW(Variant(int64_t(3000000000)).AsInteger(), EVariantOverflowError);
  EXPECT_THROW(Variant(1e30).AsInt64(), EVariantOverflowError);
  EXPECT_THROW(Variant(std::nan("")).AsInt64(), EVariantOverflowError);
  EXPECT_THROW(Variant(int32_t(300)).ChangeType(varByte), EVariantOverflowError);
  EXPECT_EQ(Variant(int32_t(255)).ChangeType(varByte).VByte(), 255);
}

TEST_F(VariantTest, CurrencyIsScaledByTenThousandWithBankersRounding) {
  EXPECT_EQ(Variant(1.5).AsCurrency(), 15000);
  EXPECT_EQ(Variant(0.00005).AsCurrency(), 0);  // half a unit goes to even
  EXPECT_EQ(Variant(-0.00005).AsCurrency(), 0);
  EXPECT_EQ(Variant(int32_t(3)).AsCurrency(), 30000);
  EXPECT_EQ(Variant::FromUString(u"2.25").AsCurrency(), 22500);
  EXPECT_DOUBLE_EQ(Variant::FromCurrency(45000).AsDouble(), 4.5);
  EXPECT_THROW(Variant(1e20).AsCurrency(), EVariantOverflowError);
}

TEST_F(VariantTest, BooleansConvertFromNumbersAndWords) {
  EXPECT_TRUE(Variant::FromUString(u"true").AsBoolean());
  EXPECT_FALSE(Variant::FromUString(u"FALSE").AsBoolean());
  EXPECT_TRUE(Variant::FromUString(u"2").AsBoolean());
  EXPECT_FALSE(Variant(0.0).AsBoolean());
  EXPECT_TRUE(Variant(int32_t(-3)).AsBoolean());
  EXPECT_FALSE(Variant().AsBoolean());
  EXPECT_THROW(Variant::FromUString(u"yes").AsBoolean(), EVariantTypeCastError);
  EXPECT_EQ(Variant(true).VType(), varBoolean);
  EXPECT_DOUBLE_EQ(Variant(true).AsDouble(), -1);
}

TEST_F(VariantTest, DatesComeFromTextInTheSettingsOrderAndFromNumbers) {
  EXPECT_DOUBLE_EQ(Variant::FromUString(u"03/15/2023").AsDate(), 45000);
  EXPECT_DOUBLE_EQ(Variant::FromUString(u"3/15/23 18:00").AsDate(), 45000.75);
  EXPECT_DOUBLE_EQ(Variant::FromUString(u"2023-03-15").AsDate(), 45000);
  EXPECT_DOUBLE_EQ(Variant::FromUString(u"12:00").AsDate(), 0.5);
  EXPECT_DOUBLE_EQ(Variant::FromUString(u"1:30 PM").AsDate(), 13.5 / 24);
  EXPECT_DOUBLE_EQ(Variant::FromUString(u"12/30/1899").AsDate(), 0);
  EXPECT_DOUBLE_EQ(Variant::FromUString(u"1/1/1900").AsDate(), 2);
  EXPECT_DOUBLE_EQ(Variant::FromUString(u"2/29/2024").AsDate(), 45351);
  EXPECT_THROW(Variant::FromUString(u"2/30/2023").AsDate(), EVariantTypeCastError);
  EXPECT_THROW(Variant::FromUString(u"25:00").AsDate(), EVariantTypeCastError);
  EXPECT_THROW(Variant::FromUString(u"tomorrow").AsDate(), EVariantTypeCastError);
  EXPECT_DOUBLE_EQ(Variant(int32_t(45000)).AsDate(), 45000);
  EXPECT_THROW(Variant(1e9).AsDate(), EVariantOverflowError);

  int y, m, d, h, n, s, ms;
  DecodeDate(-1.25, y, m, d);
  DecodeTime(-1.25, h, n, s, ms);
  EXPECT_EQ(y * 10000 + m * 100 + d, 18991229);
  EXPECT_EQ(h, 6);
}

TEST_F(VariantTest, ImpossibleConversionsNameBothTypes) {
  struct TCase {
    Variant Value;
    std::function<void(const Variant&)> Convert;
    std::u16string Message;
  };
  const TCase cases[] = {
      {Variant::FromUString(u"abc"), [](const Variant& v) { v.AsDouble(); },
       u"Could not convert variant of type (UnicodeString) into type (Double)"},
      {Variant::FromOleStr(u"x"), [](const Variant& v) { v.AsInteger(); },
       u"Could not convert variant of type (OleStr) into type (Int64)"},
      {Variant::Null(), [](const Variant& v) { v.AsUnicodeString(); },
       u"Could not convert variant of type (Null) into type (UnicodeString)"},
      {Variant::Null(), [](const Variant& v) { v.AsAnsiString(); },
       u"Could not convert variant of type (Null) into type (String)"},
      {Variant::FromError(MakeCellError(2007)), [](const Variant& v) { v.AsDouble(); },
       u"Could not convert variant of type (Error) into type (Double)"},
      {Variant::CreateArray(0, 1), [](const Variant& v) { v.AsUnicodeString(); },
       u"Could not convert variant of type (Array Variant) into type (UnicodeString)"},
      {Variant(int32_t(1)), [](const Variant& v) { v.AsDispatch(); },
       u"Could not convert variant of type (Integer) into type (Dispatch)"},
      {Variant(int64_t(70000)), [](const Variant& v) { v.ChangeType(varSmallInt); },
       u"Overflow while converting variant of type (Int64) into type (Smallint)"},
  };
  for (const auto& c : cases) {
    try {
      c.Convert(c.Value);
      ADD_FAILURE() << "no error for " << UnicodeToUtf8(c.Message);
    } catch (const EVariantError& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
  }
}

TEST_F(VariantTest, ChangeTypeGivesTheRequestedCode) {
  const TVarType targets[] = {varSmallInt, varInteger,  varSingle,  varDouble,   varCurrency,
                              varDate,     varOleStr,   varBoolean, varShortInt, varByte,
                              varWord,     varLongWord, varInt64,   varString,   varUString};
  for (TVarType t : targets) EXPECT_EQ(Variant(int32_t(1)).ChangeType(t).VType(), t) << t;
  EXPECT_EQ(Variant(2.5).ChangeType(varOleStr).AsUnicodeString(), u"2.5");
  EXPECT_EQ(Variant::FromUString(u"12").ChangeType(varInteger).VInteger(), 12);
  EXPECT_TRUE(Variant(1.0).ChangeType(varEmpty).IsEmpty());
}

TEST_F(VariantTest, TypeNamesFollowTheScriptConstants) {
  EXPECT_EQ(VarTypeAsText(varEmpty), u"Empty");
  EXPECT_EQ(VarTypeAsText(varInt64), u"Int64");
  EXPECT_EQ(VarTypeAsText(varUString), u"UnicodeString");
  EXPECT_EQ(VarTypeAsText(varString), u"String");
  EXPECT_EQ(VarTypeAsText(varByRef | varVariant), u"ByRef Variant");
}

}  // namespace
}  // namespace rtl
