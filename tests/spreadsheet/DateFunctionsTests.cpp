// Date and time functions: the application's documented results, the
// 1900 system's 29 February 1900 and the 1904 system, and a differential
// run against LibreOffice over generated dates.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <ctime>

#include "FunctionCheck.h"
#include "spreadsheet/calc/Functions.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

struct TCase {
  std::u16string Formula;
  std::string Expected;
};

class DateFunctionsTest : public FunctionCheckTest {
 protected:
  void SetUp() override {
    MakeBook();
    // H1:H3 holidays; I1 a text date; J1 TRUE.
    Put(FSheet, 1, 8, Variant(41235.0));  // 2012-11-22
    Put(FSheet, 2, 8, Variant(41247.0));  // 2012-12-04
    Put(FSheet, 3, 8, Variant(41295.0));  // 2013-01-21
    PutText(FSheet, 1, 9, u"1/5/2024");
    Put(FSheet, 1, 10, Variant(true));
  }
  void Check(const std::vector<TCase>& cases) {
    for (const auto& c : cases) {
      std::string result = Result(c.Formula);
      EXPECT_TRUE(Matches(result, c.Expected))
          << rtl::UnicodeToUtf8(c.Formula) << " gives " << result << ", expected " << c.Expected;
    }
  }
};

TEST_F(DateFunctionsTest, DatesFollowTheApplicationsCalendarAndItsDocumentedResults) {
  Check({
      // DATE: the fictitious 29 February 1900, overflowing months and days,
      // years below 1900 counted from 1900, the calendar's ends.
      {u"=DATE(1900,2,29)", "60"},
      {u"=DATE(1900,3,1)", "61"},
      {u"=DATE(1900,3,0)", "60"},
      {u"=DATE(1900,1,1)", "1"},
      {u"=DATE(1900,1,0)", "0"},
      {u"=DATE(1900,1,-1)", "#NUM!"},
      {u"=DATE(2024,14,1)", "45689"},
      {u"=DATE(2024,1,0)", "45291"},
      {u"=DATE(108,1,2)", "39449"},
      {u"=DATE(2008,-3,2)", "39327"},
      {u"=DATE(2008,1,35)", "39482"},
      {u"=DATE(2008,1,-15)", "39432"},
      {u"=DATE(2024.9,1.9,5.9)", "45296"},
      {u"=DATE(9999,12,31)", "2958465"},
      {u"=DATE(9999,12,32)", "#NUM!"},
      {u"=DATE(10000,1,1)", "#NUM!"},
      {u"=DATE(-1,1,1)", "#NUM!"},
      {u"=DATE(\"x\",1,1)", "#VALUE!"},
      // Serials back to dates, 29 February 1900 and day 0 included.
      {u"=DAY(60)", "29"},
      {u"=MONTH(60)", "2"},
      {u"=DAY(59)", "28"},
      {u"=DAY(61)", "1"},
      {u"=YEAR(0)", "1900"},
      {u"=MONTH(0)", "1"},
      {u"=DAY(0)", "0"},
      {u"=YEAR(2958465.9)", "9999"},
      {u"=YEAR(2958466)", "#NUM!"},
      {u"=DAY(-1)", "#NUM!"},
      {u"=YEAR(I1)", "2024"},
      {u"=DAY(\"2024-01-05\")", "5"},
      {u"=MONTH(\"5-Mar-2024\")", "3"},
      {u"=YEAR(\"not a date\")", "#VALUE!"},
      // WEEKDAY follows the serial: day 1 is a Sunday, day 60 a Wednesday.
      {u"=WEEKDAY(0)", "7"},
      {u"=WEEKDAY(1)", "1"},
      {u"=WEEKDAY(60)", "4"},
      {u"=WEEKDAY(61)", "5"},
      {u"=WEEKDAY(45292)", "2"},  // Monday 2024-01-01
      {u"=WEEKDAY(45292,2)", "1"},
      {u"=WEEKDAY(45292,3)", "0"},
      {u"=WEEKDAY(45292,11)", "1"},
      {u"=WEEKDAY(45292,12)", "7"},
      {u"=WEEKDAY(45292,13)", "6"},
      {u"=WEEKDAY(45292,14)", "5"},
      {u"=WEEKDAY(45292,15)", "4"},
      {u"=WEEKDAY(45292,16)", "3"},
      {u"=WEEKDAY(45292,17)", "2"},
      {u"=WEEKDAY(45292,4)", "#NUM!"},
      {u"=WEEKDAY(-1)", "#NUM!"},
      // Weeks: week 1 holds 1 January; type 21 and ISOWEEKNUM are ISO weeks.
      {u"=WEEKNUM(40977)", "10"},  // 2012-03-09
      {u"=WEEKNUM(40977,2)", "11"},
      {u"=WEEKNUM(45298)", "2"},  // Sunday 2024-01-07
      {u"=WEEKNUM(45298,2)", "1"},
      {u"=WEEKNUM(45298,17)", "2"},
      {u"=WEEKNUM(45657,21)", "1"},   // 2024-12-31
      {u"=WEEKNUM(44197,21)", "53"},  // 2021-01-01
      {u"=WEEKNUM(45292,3)", "#NUM!"},
      {u"=ISOWEEKNUM(44199)", "53"},  // 2021-01-03
      {u"=ISOWEEKNUM(44200)", "1"},
      // Times: overflowing parts carry, negative totals are refused,
      // reading rounds to the whole second.
      {u"=TIME(12,0,0)", "0.5"},
      {u"=TIME(27,0,0)", "0.125"},
      {u"=TIME(0,750,0)", "0.520833333"},
      {u"=TIME(1,-1,0)", "0.040972222"},
      {u"=TIME(0,-1,0)", "#NUM!"},
      {u"=TIME(32768,0,0)", "#NUM!"},
      {u"=HOUR(0.75)", "18"},
      {u"=HOUR(0.99999999)", "0"},
      {u"=HOUR(\"3:30:45 PM\")", "15"},
      {u"=MINUTE(\"12:45 PM\")", "45"},
      {u"=SECOND(TIME(1,2,3))", "3"},
      {u"=HOUR(-1)", "#NUM!"},
      // Text read as dates and times, US order.
      {u"=DATEVALUE(\"8/22/2011\")", "40777"},
      {u"=DATEVALUE(\"22-MAY-2011\")", "40685"},
      {u"=DATEVALUE(\"2011/02/23\")", "40597"},
      {u"=DATEVALUE(\"January 5, 2024\")", "45296"},
      {u"=DATEVALUE(\"5 Jan 24\")", "45296"},
      {u"=DATEVALUE(\"1/5/2024 10:30 PM\")", "45296"},
      {u"=DATEVALUE(\"2/29/1900\")", "60"},
      {u"=DATEVALUE(\"1/1/1900\")", "1"},
      {u"=DATEVALUE(\"2/29/2023\")", "#VALUE!"},
      {u"=DATEVALUE(\"12/31/1899\")", "#VALUE!"},
      {u"=DATEVALUE(45296)", "#VALUE!"},
      {u"=DATEVALUE(\"\")", "#VALUE!"},
      {u"=DATEVALUE(\"Monday\")", "#VALUE!"},
      {u"=DATEVALUE(\"1/1/1/1\")", "#VALUE!"},
      {u"=DATEVALUE(\"99999999999999999999/1/2024\")", "#VALUE!"},
      {u"=DATEVALUE(\"31-Foo-2024\")", "#VALUE!"},
      {u"=DATEVALUE(\"Monday, January 5, 2026\")", "46027"},
      {u"=TIMEVALUE(\"12:00:00:00\")", "#VALUE!"},
      {u"=TIMEVALUE(\"1/5/2024 -- 3:00\")", "#VALUE!"},
      {u"=TIMEVALUE(\"2:24 AM\")", "0.1"},
      {u"=TIMEVALUE(\"22-Aug-2011 6:35 AM\")", "0.274305556"},
      {u"=TIMEVALUE(\"18:00:30\")", "0.750347222"},
      {u"=TIMEVALUE(\"13:00 PM\")", "#VALUE!"},
      // Differences and shifts.
      {u"=DAYS(\"3/15/11\",\"2/1/11\")", "42"},
      {u"=DAYS(DATE(2021,12,31),DATE(2021,1,1))", "364"},
      {u"=DAYS(1.9,0.1)", "1"},
      {u"=DATEDIF(DATE(2001,1,1),DATE(2003,1,1),\"Y\")", "2"},
      {u"=DATEDIF(DATE(2001,6,1),DATE(2002,8,15),\"D\")", "440"},
      {u"=DATEDIF(DATE(2001,6,1),DATE(2002,8,15),\"YD\")", "75"},
      {u"=DATEDIF(DATE(2001,6,20),DATE(2002,8,15),\"m\")", "13"},
      {u"=DATEDIF(DATE(2001,6,20),DATE(2002,8,15),\"YM\")", "1"},
      {u"=DATEDIF(DATE(2001,6,20),DATE(2002,8,15),\"MD\")", "26"},
      {u"=DATEDIF(DATE(2003,1,1),DATE(2001,1,1),\"Y\")", "#NUM!"},
      {u"=DATEDIF(1,2,\"W\")", "#NUM!"},
      {u"=EDATE(DATE(2011,1,15),1)", "40589"},
      {u"=EDATE(DATE(2011,1,15),-1)", "40527"},
      {u"=EDATE(DATE(2011,1,31),1)", "40602"},
      {u"=EDATE(-1,1)", "#NUM!"},
      {u"=EDATE(J1,1)", "#VALUE!"},
      {u"=EOMONTH(DATE(2011,1,1),1)", "40602"},
      {u"=EOMONTH(DATE(2011,1,1),-3)", "40482"},
      {u"=EOMONTH(DATE(9999,12,1),1)", "#NUM!"},
      // Working days, holidays as a range or an array.
      {u"=NETWORKDAYS(DATE(2012,10,1),DATE(2013,3,1))", "110"},
      {u"=NETWORKDAYS(DATE(2012,10,1),DATE(2013,3,1),H1)", "109"},
      {u"=NETWORKDAYS(DATE(2012,10,1),DATE(2013,3,1),H1:H5)", "107"},
      {u"=NETWORKDAYS(DATE(2013,3,1),DATE(2012,10,1),H1:H3)", "-107"},
      {u"=NETWORKDAYS(DATE(2012,10,1),DATE(2013,3,1),{41235,41235,41236})", "108"},
      {u"=NETWORKDAYS(DATE(2012,10,1),DATE(2013,3,1),I1:J1)", "#VALUE!"},
      {u"=WORKDAY(DATE(2008,10,1),151)", "39933"},
      {u"=WORKDAY(DATE(2008,10,1),151,{39778,39786,39834})", "39938"},
      {u"=WORKDAY(DATE(2024,1,6),0)", "45297"},
      {u"=WORKDAY(DATE(2024,1,8),-1)", "45296"},
      {u"=WORKDAY(DATE(2024,1,5),1000)", "46696"},
      {u"=WORKDAY(DATE(2024,1,5),1000,DATE(2026,6,1))", "46699"},
      {u"=WORKDAY(DATE(9999,12,30),5)", "#NUM!"},
      // Year fractions in every basis.
      {u"=YEARFRAC(DATE(2012,1,1),DATE(2012,7,30))", "0.58055556"},
      {u"=YEARFRAC(DATE(2012,1,1),DATE(2012,7,30),1)", "0.57650273"},
      {u"=YEARFRAC(DATE(2012,1,1),DATE(2012,7,30),3)", "0.57808219"},
      {u"=YEARFRAC(DATE(2012,7,30),DATE(2012,1,1),2)", "0.58611111"},
      {u"=YEARFRAC(DATE(2012,1,31),DATE(2012,3,31),4)", "0.166666667"},
      {u"=YEARFRAC(DATE(2011,2,28),DATE(2012,2,29),0)", "1"},
      {u"=YEARFRAC(DATE(2012,1,1),DATE(2012,7,30),5)", "#NUM!"},
  });
}

TEST_F(DateFunctionsTest, TheWorkbooksDateSystemDecidesWhatSerialsMean) {
  FBook->Close(false);
  FPath = FDir.File("book1904.xlsx");
  MakeBook("<workbookPr date1904=\"1\"/>");
  Check({
      {u"=DATE(1904,1,1)", "0"},
      {u"=DATE(2024,1,5)", "43834"},
      {u"=DATE(1903,12,31)", "#NUM!"},
      {u"=DATE(4,1,2)", "1"},
      {u"=YEAR(0)", "1904"},
      {u"=DAY(0)", "1"},
      {u"=WEEKDAY(0)", "6"},  // a Friday
      {u"=DATEVALUE(\"1/5/2024\")", "43834"},
      {u"=YEAR(\"1/5/2024\")", "2024"},
      {u"=DATEVALUE(\"12/31/1903\")", "#VALUE!"},
      {u"=EOMONTH(43834,0)", "43860"},
      {u"=WEEKNUM(43834)", "1"},
      {u"=NETWORKDAYS(43834,43840)", "5"},
      {u"=DAY(2957003)", "31"},
      {u"=DAY(2957004)", "#NUM!"},
  });
}

TEST_F(DateFunctionsTest, TodayAndNowAreVolatileAndAgreeWithTheClock) {
  const calc::TFunctionInfo* today = calc::FindFunction("TODAY");
  const calc::TFunctionInfo* now = calc::FindFunction("NOW");
  ASSERT_TRUE(today && now);
  EXPECT_TRUE(today->Volatile);
  EXPECT_TRUE(now->Volatile);
  std::time_t clock = std::time(nullptr);
  std::tm local{};
  localtime_r(&clock, &local);
  std::string expected = Result(u"=DATE(" + rtl::IntToStr(local.tm_year + 1900) + u"," +
                                rtl::IntToStr(local.tm_mon + 1) + u"," + rtl::IntToStr(local.tm_mday) + u")");
  std::string got = Result(u"=TODAY()");
  if (got != expected) got = Result(u"=TODAY()");  // the date may have turned in between
  EXPECT_EQ(got, expected);
  double fraction = std::stod(Result(u"=NOW()-TODAY()"));
  EXPECT_GE(fraction, 0);
  EXPECT_LT(fraction, 1);
}

// Generated dates from 1950 to 2080 through every function of the group;
// LibreOffice recalculates the saved workbook and must agree cell for cell.
// Years below 1900 and serials before March 1900 stay out: LibreOffice
// reads those differently by design.
TEST_F(DateFunctionsTest, GeneratedFormulasAgreeWithLibreOffice) {
  std::string why = WhyNoRecalculation();
  if (!why.empty()) GTEST_SKIP() << why;
  const int rows = 150;
  FBook->Close(false);
  FPath = FDir.File("generated.xlsx");
  MakeBook("", rows, 10, 40);
  std::mt19937 random(DifferentialSeed());
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  const int weekdayTypes[] = {1, 2, 3, 11, 12, 13, 14, 15, 16, 17};
  const int weeknumTypes[] = {1, 2, 11, 12, 13, 14, 15, 16, 17, 21};
  const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::vector<TDifferentialCell> cells;
  for (int row = 1; row <= rows; ++row) {
    // A, B: dates up to 400 days apart; C: a small count; D: a time; E:G holidays between.
    int a = uniform(18264, 65000), b = a + uniform(-400, 400), c = uniform(-30, 30);
    if (row % 10 == 0) b = a;                 // equal dates
    if (row % 7 == 0) a += (35 - a % 7) % 7;  // a Saturday
    Put(FSheet, row, 1, Variant(static_cast<double>(a)));
    Put(FSheet, row, 2, Variant(static_cast<double>(b)));
    Put(FSheet, row, 3, Variant(static_cast<double>(c)));
    Put(FSheet, row, 4, Variant(uniform(0, 86399) / 86400.0));
    for (int h = 0; h < 3; ++h)
      Put(FSheet, row, 5 + h, Variant(static_cast<double>(std::min(a, b) + uniform(0, std::abs(b - a)))));
    std::string r = std::to_string(row);
    std::string A = "A" + r, B = "B" + r, C = "C" + r, D = "D" + r, hol = "E" + r + ":G" + r;
    std::string lo = "MIN(" + A + "," + B + ")", hi = "MAX(" + A + "," + B + ")";
    std::vector<std::string> formulas = {
        "DATE(YEAR(" + A + ")+" + C + ",MONTH(" + A + ")+" + C + "*3,DAY(" + A + ")-" + C + "*7)",
        "YEAR(" + A + ")*10000+MONTH(" + A + ")*100+DAY(" + A + ")",
        "WEEKDAY(" + A + "," + std::to_string(weekdayTypes[uniform(0, 9)]) + ")",
        // LibreOffice counts the last days of December into the next
        // year's first week; the application counts on (week 53 or 54).
        "WEEKNUM(MIN(" + A + ",DATE(YEAR(" + A + "),12,24))," + std::to_string(weeknumTypes[uniform(0, 9)]) + ")",
        "WEEKNUM(MIN(" + A + ",DATE(YEAR(" + A + "),12,24)))",
        "ISOWEEKNUM(" + A + ")",
        "EDATE(" + A + "," + C + ")",
        "EOMONTH(" + A + "," + C + ")",
        "DATEDIF(" + lo + "," + hi + ",\"Y\")",
        "DATEDIF(" + lo + "," + hi + ",\"M\")",
        "DATEDIF(" + lo + "," + hi + ",\"D\")",
        "DATEDIF(" + lo + "," + hi + ",\"YM\")",
        "DATEDIF(" + lo + "," + hi + ",\"YD\")",
        "DATEDIF(" + A + "," + B + ",\"M\")",
        "DAYS(" + B + "," + A + ")",
        "NETWORKDAYS(" + A + "," + B + ")",
        "NETWORKDAYS(" + A + "," + B + "," + hol + ")",
        "WORKDAY(" + A + "," + C + ")",
        "WORKDAY(" + A + "," + C + "*9," + hol + ")",
        "YEARFRAC(" + A + "," + B + ",0)",
        "YEARFRAC(" + A + "," + B + ",1)",
        "YEARFRAC(" + A + "," + B + ",2)",
        "YEARFRAC(" + A + "," + B + ",3)",
        "YEARFRAC(" + A + "," + B + ",4)",
        "TIME(" + C + "+12," + C + "*7+30," + C + "*13+40)",
        "HOUR(" + A + "+" + D + ")*10000+MINUTE(" + A + "+" + D + ")*100+SECOND(" + A + "+" + D + ")",
        "DATEVALUE(MONTH(" + A + ")&\"/\"&DAY(" + A + ")&\"/\"&YEAR(" + A + "))",
        "DATEVALUE(MIN(DAY(" + A + "),28)&\"-" + months[uniform(0, 11)] + "-\"&YEAR(" + A + "))",
        "TIMEVALUE(ABS(" + C + ")&\":\"&(ABS(" + C + ")+10)&\":\"&(59-ABS(" + C + ")))",
        "YEAR(" + B + "&\"\")+DAY(\"2031-" + std::to_string(1 + row % 12) + "-" + std::to_string(1 + row % 28) + "\")",
    };
    for (size_t k = 0; k < formulas.size(); ++k) PutForComparison(row, 10 + static_cast<int>(k), formulas[k], cells);
  }
  ExpectLibreOfficeAgrees(cells);
}

}  // namespace
}  // namespace spreadsheet::testing
