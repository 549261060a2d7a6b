#include <gtest/gtest.h>

#include <cmath>

#include "rtl/Formatting.h"

using rtl::TFormatArg;
using rtl::TFormatSettings;
using rtl::UnicodeString;
using Args = std::vector<TFormatArg>;

namespace {

TFormatSettings English() { return TFormatSettings(); }

TFormatSettings German() {
  TFormatSettings fs;
  fs.DecimalSeparator = u',';
  fs.ThousandSeparator = u'.';
  fs.CurrencyString.assign(1, u'\u20AC');  // a plain literal assignment trips a g++ 12 false warning
  fs.CurrencyFormat = 3;
  return fs;
}

TFormatArg I(int32_t v) { return TFormatArg::FromInteger(v); }
TFormatArg F(long double v) { return TFormatArg::FromExtended(v); }
TFormatArg S(const char16_t* v) { return TFormatArg::FromString(v); }

}  // namespace

TEST(Format, Directives) {
  struct Case {
    const char16_t* format;
    Args args;
    const char16_t* expected;
  } cases[] = {
      {u"%d", {I(42)}, u"42"},
      {u"[%5d]", {I(42)}, u"[   42]"},
      {u"[%-5d]", {I(42)}, u"[42   ]"},
      {u"%.4d", {I(-12)}, u"-0012"},
      {u"%d", {TFormatArg::FromInt64(-9223372036854775807LL - 1)}, u"-9223372036854775808"},
      {u"%u", {I(-1)}, u"4294967295"},
      {u"%x", {I(255)}, u"FF"},
      {u"%.4X", {I(255)}, u"00FF"},
      {u"%x", {I(-1)}, u"FFFFFFFF"},
      {u"%s", {S(u"abc")}, u"abc"},
      {u"%.2s", {S(u"abc")}, u"ab"},
      {u"[%5s]", {S(u"abc")}, u"[  abc]"},
      {u"%s", {TFormatArg::FromChar(u'z')}, u"z"},
      {u"%1:s %0:s", {S(u"a"), S(u"b")}, u"b a"},
      {u"%s %s %0:s %s", {S(u"a"), S(u"b")}, u"a b a b"},
      {u"%*d", {I(5), I(42)}, u"   42"},
      {u"%.*f", {I(1), F(2.25)}, u"2.3"},
      {u"100%%", {}, u"100%"},
      {u"%f", {F(1.5)}, u"1.50"},
      {u"%.0f", {F(2.5)}, u"3"},
      {u"%.0f", {F(-2.5)}, u"-3"},
      {u"%.2f", {F(0.125)}, u"0.13"},
      {u"%.3f", {F(-0.0004)}, u"0.000"},
      {u"%.1f", {F(9.96)}, u"10.0"},
      {u"%n", {F(1234567.891)}, u"1,234,567.89"},
      {u"%.0n", {F(999.5)}, u"1,000"},
      {u"%m", {F(-5)}, u"-$5.00"},
      {u"%m", {TFormatArg::FromCurrency(15000)}, u"$1.50"},
      {u"%e", {F(1234.5)}, u"1.23450000000000E+003"},
      {u"%.3e", {F(-0.0012345)}, u"-1.23E-003"},
      {u"%g", {F(1234.5)}, u"1234.5"},
      {u"%g", {F(1e20)}, u"1E20"},
      {u"%g", {F(0.0001)}, u"0.0001"},
      {u"%g", {F(0.00001)}, u"1E-5"},
      {u"%g", {F(0)}, u"0"},
      {u"%p", {TFormatArg::FromPointer(0x1234)}, u"00001234"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rtl::Format(c.format, c.args, English()), c.expected) << rtl::UnicodeToUtf8(c.format);
}

TEST(Format, RegionalSeparators) {
  TFormatSettings fs = German();
  EXPECT_EQ(rtl::Format(u"%n", {F(1234.5)}, fs), u"1.234,50");
  EXPECT_EQ(rtl::Format(u"%m", {F(1234.5)}, fs), u"1.234,50 €");
  EXPECT_EQ(rtl::Format(u"%g", {F(0.5)}, fs), u"0,5");
}

TEST(Format, ErrorsNameTheFormatText) {
  auto message = [](const char16_t* format, const Args& args) -> UnicodeString {
    try {
      rtl::Format(format, args, English());
    } catch (const rtl::EFormatError& e) {
      return e.Message();
    }
    return u"no error";
  };
  EXPECT_EQ(message(u"%d", {S(u"x")}), u"Format '%d' invalid or incompatible with argument");
  EXPECT_EQ(message(u"%f", {I(1)}), u"Format '%f' invalid or incompatible with argument");
  EXPECT_EQ(message(u"%s", {I(1)}), u"Format '%s' invalid or incompatible with argument");
  EXPECT_EQ(message(u"%q", {I(1)}), u"Format '%q' invalid or incompatible with argument");
  EXPECT_EQ(message(u"50%", {}), u"Format '50%' invalid or incompatible with argument");
  EXPECT_EQ(message(u"%d %d", {I(1)}), u"No argument for format '%d %d'");
  EXPECT_EQ(message(u"%2:d", {I(1)}), u"No argument for format '%2:d'");
  EXPECT_EQ(message(u"%*d", {S(u"5"), I(1)}), u"Format '%*d' invalid or incompatible with argument");
}

TEST(FormatFloat, Pictures) {
  struct Case {
    const char16_t* picture;
    long double value;
    const char16_t* expected;
  } cases[] = {
      {u"0.00", 1.5, u"1.50"},
      {u"#.##", 1.5, u"1.5"},
      {u"0.###", 1.23456, u"1.235"},
      {u"#,##0.00", 1234567.891, u"1,234,567.89"},
      {u"#,##0", -1234, u"-1,234"},
      {u"0", 2.5, u"3"},
      {u"0", -2.5, u"-3"},
      {u"000", 7, u"007"},
      {u"00-00", 1234, u"12-34"},
      {u"0.00;(0.00)", -1.5, u"(1.50)"},
      {u"0.00;(0.00);\"zero\"", 0, u"zero"},
      {u"0.0;-0.0;'nil'", 0.04, u"nil"},
      {u"\"$\"#,##0", 1234, u"$1,234"},
      {u"0.00E+00", 1234, u"1.23E+03"},
      {u"0.0e-0", 0.00012, u"1.2e-4"},
      {u"00.0E+0", 1234, u"12.3E+2"},
      {u"0.00 'kg'", 2, u"2.00 kg"},
      {u"", 1.5, u"1.5"},
      {u"0.00", 0.005, u"0.01"},
      {u"0.00,", 1234.5, u"1,234.50"},  // a comma anywhere in the section groups
      {u"0,.00", 1234.5, u"1,234.50"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rtl::FormatFloat(c.picture, c.value, English()), c.expected) << rtl::UnicodeToUtf8(c.picture);
  EXPECT_EQ(rtl::FormatFloat(u"#,##0.00", 1234.5, German()), u"1.234,50");
}

TEST(FloatText, ReadingNumbersUnderTheDecimalSeparator) {
  long double v = 0;
  EXPECT_TRUE(rtl::TryTextToFloat(u"1.5", v, u'.'));
  EXPECT_EQ(v, 1.5L);
  EXPECT_TRUE(rtl::TryTextToFloat(u" -2.5e3 ", v, u'.'));
  EXPECT_EQ(v, -2500.0L);
  EXPECT_TRUE(rtl::TryTextToFloat(u"1,5", v, u','));
  EXPECT_EQ(v, 1.5L);
  EXPECT_TRUE(rtl::TryTextToFloat(u".5", v, u'.'));
  EXPECT_TRUE(rtl::TryTextToFloat(u"+0,1", v, u','));
  EXPECT_EQ(v, 0.1L);  // the nearest extended value, not a double's
  EXPECT_TRUE(rtl::TryTextToFloat(u"1e99999", v, u'.'));
  EXPECT_TRUE(std::isinf(v));
  EXPECT_TRUE(rtl::TryTextToFloat(u"-1e-99999", v, u'.'));
  EXPECT_EQ(v, 0.0L);
  for (const char16_t* bad : {u"", u"abc", u"1.5", u"1,000.5", u"1e", u"--1", u"1 2", u"."})
    EXPECT_FALSE(rtl::TryTextToFloat(bad, v, u',')) << rtl::UnicodeToUtf8(bad);
}
