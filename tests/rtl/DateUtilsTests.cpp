#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "rtl/DateUtils.h"
#include "rtl/Locale.h"

using namespace rtl;

namespace {

// Sets the short date format for one test and restores the settings after.
struct ScopedDateFormat {
  explicit ScopedDateFormat(const char16_t* format, char16_t separator) : saved(FormatSettings()) {
    FormatSettings().ShortDateFormat = format;
    FormatSettings().DateSeparator = separator;
  }
  ~ScopedDateFormat() { FormatSettings() = saved; }
  TFormatSettings saved;
};

}  // namespace

TEST(DateLibrary, EncodingAndItsErrors) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), 25569);
  EXPECT_EQ(EncodeDate(2000, 2, 29), 36585);
  for (auto [y, m, d] : {std::tuple{2001, 2, 29}, {2000, 13, 1}, {2000, 0, 1}, {0, 1, 1}, {2000, 4, 31}}) {
    try {
      EncodeDate(y, m, d);
      ADD_FAILURE() << y << "-" << m << "-" << d;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), u"Invalid argument to date encode");
    }
  }
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);
  try {
    EncodeTime(24, 0, 0, 0);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Invalid argument to time encode");
  }
  double t = 7;
  EXPECT_FALSE(TryEncodeTime(1, 60, 0, 0, t));
  EXPECT_EQ(t, 7);  // untouched on failure
}

TEST(DateLibrary, DecodingWeekdaysAndUnixTime) {
  double d = EncodeDate(1970, 1, 1);
  EXPECT_EQ(DateTimeToUnix(d), 0);
  EXPECT_EQ(DayOfWeek(d), 5);                                  // Thursday
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 6)), 1);            // Sunday
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 29)), 6);           // before day 0: Friday
  EXPECT_EQ(DateTimeToUnix(d + EncodeTime(0, 0, 1, 500)), 2);  // halves to even
  EXPECT_EQ(DateTimeToUnix(d + EncodeTime(0, 0, 2, 500)), 2);
  EXPECT_DOUBLE_EQ(UnixToDateTime(86400), 25570);
  int y, m, dd, h, n, s, ms;
  DecodeDate(EncodeDate(2024, 2, 29) + 0.75, y, m, dd);
  DecodeTime(EncodeDate(2024, 2, 29) + 0.75, h, n, s, ms);
  EXPECT_EQ(std::tuple(y, m, dd, h, n, s, ms), std::tuple(2024, 2, 29, 18, 0, 0, 0));
}

TEST(DateLibrary, ClockValuesAreConsistent) {
  double now = Now(), date = Date(), time = Time();
  EXPECT_EQ(date, std::trunc(date));
  EXPECT_GE(time, 0);
  EXPECT_LT(time, 1);
  EXPECT_NEAR(now, date + time, 1.0 / 24);  // allows for midnight between the calls
  EXPECT_GT(now, EncodeDate(2020, 1, 1));
}

TEST(DateLibrary, TextUnderTheShortDateFormat) {
  ScopedDateFormat german(u"dd.mm.yyyy", u'.');
  double d = EncodeDate(2026, 3, 7);
  EXPECT_EQ(DateToStr(d), u"07.03.2026");
  EXPECT_EQ(StrToDate(u"7.3.2026"), d);
  EXPECT_EQ(StrToDate(u"2026-03-07"), d);
  try {
    StrToDate(u"31.02.2026");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), u"''31.02.2026'' is not a valid date");
  }
  EXPECT_THROW(StrToDate(u""), EConvertError);
  EXPECT_THROW(StrToDate(u"7.3.2026 12:00"), EConvertError);  // a date alone
  EXPECT_EQ(FormatDateTime(u"yyyy-mm-dd hh:nn:ss", d + EncodeTime(13, 5, 9, 0)), u"2026-03-07 13:05:09");
  EXPECT_EQ(FormatDateTime(u"dddd d mmmm yy \"at\" h:nn am/pm", d + 0.5), u"Saturday 7 March 26 at 12:00 pm");
  EXPECT_EQ(FormatDateTime(u"dd/mm", d), u"07.03");  // "/" is the date separator
}

// Values beyond the years 1 to 9999, and values that are not numbers, have no
// calendar form: every routine that turns them into a date refuses them with
// the date error instead of converting an out-of-range double to an integer.
TEST(DateLibrary, ValuesOutsideTheCalendarRaiseTheDateError) {
  const double first = EncodeDate(1, 1, 1), last = EncodeDate(9999, 12, 31);
  EXPECT_EQ(FormatDateTime(u"yyyy-mm-dd ddd", first), u"0001-01-01 Mon");
  EXPECT_EQ(FormatDateTime(u"yyyy-mm-dd hh:nn", last + 0.999), u"9999-12-31 23:58");
  int y, m, d;
  using Call = std::function<void(double)>;
  const Call calls[] = {
      [](double v) { DateToStr(v); },
      [](double v) { FormatDateTime(u"yyyy", v); },
      [](double v) { FormatDateTime(u"hh:nn", v); },
      [](double v) { DateTimeToStr(v); },
      [](double v) { DayOfWeek(v); },
      [](double v) { DateTimeToUnix(v); },
      [&](double v) { DecodeDate(v, y, m, d); },
      [&](double v) { DecodeTime(v, y, m, d, d); },
  };
  for (double v : {1e300, -1e18, last + 1, first - 1, double(INFINITY), double(NAN)}) {
    for (const Call& call : calls) {
      try {
        call(v);
        ADD_FAILURE() << v;
      } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), u"Invalid argument to date encode") << v;
      }
    }
  }
}
