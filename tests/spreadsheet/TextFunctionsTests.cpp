// Text functions and the number-format language as the server computes
// them: a table of documented results, and the same formulas over varied
// inputs computed by LibreOffice from the saved workbook.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "ServerFixture.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

class TextFunctionsTest : public ServerTest {
 protected:
  std::string FPath = FDir.File("book.xlsx");
  TBookRef FBook;
  TSheetRef FSheet;
  void SetUp() override {
    TBookLayout layout;
    layout.Sheets = {{"Data", "<sheetData/>"}};
    WriteBook(FPath, layout);
    FBook = Open(FPath);
    FSheet = Sheet(FBook, 1);
    // A1:A2 numbers, B1:B2 text, E1 blank.
    Put(FSheet, 1, 1, Variant(10.0));
    Put(FSheet, 2, 1, Variant(20.0));
    PutText(FSheet, 1, 2, u"apple");
    PutText(FSheet, 2, 2, u"banana");
  }
  // The result as text: "#VALUE!", "TRUE", "3", or a quoted text.
  std::string Result(std::u16string_view formula) {
    PutText(FSheet, 20, 20, formula);
    Variant v = Get(FSheet, 20, 20);
    if (v.VType() == rtl::varError) return "#" + std::to_string(v.VError() & 0xFFFF);
    if (v.VType() == rtl::varBoolean) return v.VBoolean() ? "TRUE" : "FALSE";
    if (v.VType() == rtl::varOleStr) return "\"" + Text(v) + "\"";
    return Text(v);
  }
};

// The application's error codes as the automation interface returns them.
const std::string kValueError = "#2015", kNotAvailable = "#2042";

TEST_F(TextFunctionsTest, TextFunctionsFollowTheApplicationsRules) {
  const struct {
    std::u16string Formula;
    std::string Expected;
  } cases[] = {
      // Lengths and positions count UTF-16 code units; half a pair is not kept.
      {u"=LEN(\"😀\")", "2"},
      {u"=LEN(1/3)", "17"},
      {u"=LEN(E1)", "0"},
      {u"=LEFT(\"a😀\",2)", "\"a\uFFFD\""},
      {u"=LEFT(\"abc\")", "\"a\""},
      {u"=LEFT(\"abc\",)", "\"\""},
      {u"=LEFT(\"abc\",5)", "\"abc\""},
      {u"=LEFT(\"abc\",-1)", kValueError},
      {u"=RIGHT(\"abc\",2)", "\"bc\""},
      {u"=RIGHT(12345,2)", "\"45\""},
      {u"=MID(\"abcdef\",3,2)", "\"cd\""},
      {u"=MID(\"abc\",5,1)", "\"\""},
      {u"=MID(\"abc\",0,1)", kValueError},
      {u"=REPLACE(\"abcdef\",2,3,\"X\")", "\"aXef\""},
      {u"=REPLACE(\"abc\",9,1,\"X\")", "\"abcX\""},
      {u"=REPT(\"ab\",3)", "\"ababab\""},
      {u"=REPT(\"a\",32768)", kValueError},
      {u"=LEN(REPT(\"a\",32767))", "32767"},
      {u"=REPT(\"a\",-1)", kValueError},
      {u"=SUBSTITUTE(\"a-b-c\",\"-\",\"+\")", "\"a+b+c\""},
      {u"=SUBSTITUTE(\"a-b-c\",\"-\",\"+\",2)", "\"a-b+c\""},
      {u"=SUBSTITUTE(\"a-b-c\",\"-\",\"+\",0)", kValueError},
      {u"=SUBSTITUTE(\"abc\",\"\",\"x\")", "\"abc\""},
      // Characters: CHAR and CODE in Windows-1252, UNICHAR and UNICODE in code points.
      {u"=CHAR(65)", "\"A\""},
      {u"=CHAR(128)", "\"€\""},
      {u"=CHAR(0)", kValueError},
      {u"=CHAR(256)", kValueError},
      {u"=CODE(\"€uro\")", "128"},
      {u"=CODE(\"\")", kValueError},
      {u"=CODE(\"😀\")", "63"},
      {u"=UNICODE(\"😀\")", "128512"},
      {u"=UNICHAR(128512)", "\"😀\""},
      {u"=UNICHAR(55296)", kNotAvailable},
      {u"=UNICHAR(0)", kValueError},
      {u"=CLEAN(CHAR(9)&\"a\"&CHAR(10)&\"b\")", "\"ab\""},
      {u"=TRIM(\"  a   b  \")", "\"a b\""},
      {u"=LOWER(\"ÄB\")", "\"äb\""},
      {u"=UPPER(\"straße\")", "\"STRAßE\""},
      {u"=PROPER(\"this is a TITLE\")", "\"This Is A Title\""},
      {u"=PROPER(\"2-way street 76BudGet\")", "\"2-Way Street 76Budget\""},
      {u"=PROPER(\"don't\")", "\"Don'T\""},
      {u"=EXACT(\"a\",\"A\")", "FALSE"},
      {u"=EXACT(1,\"1\")", "TRUE"},
      // Searching: FIND is exact, SEARCH ignores case and takes wildcards.
      {u"=FIND(\"b\",\"abcb\",3)", "4"},
      {u"=FIND(\"B\",\"abc\")", kValueError},
      {u"=FIND(\"\",\"abc\")", "1"},
      {u"=FIND(\"\",\"abc\",4)", "4"},
      {u"=FIND(\"a\",\"abc\",5)", kValueError},
      {u"=FIND(\"c\",\"😀c\")", "3"},
      {u"=SEARCH(\"B\",\"abc\")", "2"},
      {u"=SEARCH(\"b*e\",\"xxbyye\")", "3"},
      {u"=SEARCH(\"~*\",\"a*b\")", "2"},
      {u"=SEARCH(\"?c\",\"abc\")", "2"},
      {u"=SEARCH(\"a\",\"banana\",3)", "4"},
      {u"=SEARCH(\"x\",\"abc\")", kValueError},
      // Joining: CONCAT and TEXTJOIN take ranges, CONCATENATE one value each.
      {u"=CONCAT(A1:A2,\"x\",E1)", "\"1020x\""},
      {u"=CONCATENATE(\"a\",1,TRUE)", "\"a1TRUE\""},
      {u"=CONCATENATE(\"a\",1/0)", "#2007"},
      {u"=TEXTJOIN(\", \",TRUE,A1:A2,E1,\"x\")", "\"10, 20, x\""},
      {u"=TEXTJOIN(\", \",FALSE,A1,E1,A2)", "\"10, , 20\""},
      {u"=TEXTJOIN(B1:B2,TRUE,1,2,3)", "\"1apple2banana3\""},
      {u"=TEXTJOIN(\"\",TRUE,REPT(\"a\",30000),REPT(\"b\",3000))", kValueError},
      // Numbers as text.
      {u"=FIXED(1234.567)", "\"1,234.57\""},
      {u"=FIXED(1234.567,-1)", "\"1,230\""},
      {u"=FIXED(-1234.567,1,TRUE)", "\"-1234.6\""},
      {u"=FIXED(1.005,2)", "\"1.01\""},
      {u"=FIXED(1,128)", kValueError},
      {u"=DOLLAR(1234.567)", "\"$1,234.57\""},
      {u"=DOLLAR(-1234.567,-2)", "\"($1,200)\""},
      {u"=DOLLAR(0.5,0)", "\"$1\""},
      {u"=VALUE(\"1,234.5\")", "1234.5"},
      {u"=VALUE(\"$1,000\")", "1000"},
      {u"=VALUE(\"(5)\")", "-5"},
      {u"=VALUE(\"6:00 PM\")", "0.75"},
      {u"=VALUE(\"50%\")", "0.5"},
      {u"=VALUE(\"abc\")", kValueError},
      {u"=VALUE(E1)", "0"},
      {u"=NUMBERVALUE(\"1.234,5\",\",\",\".\")", "1234.5"},
      {u"=NUMBERVALUE(\" 2 5 %%\")", "0.0025"},
      {u"=NUMBERVALUE(\"\")", "0"},
      {u"=NUMBERVALUE(\"1.2.3\")", kValueError},
  };
  for (const auto& c : cases) EXPECT_EQ(Result(c.Formula), c.Expected) << rtl::UnicodeToUtf8(c.Formula);
}

TEST_F(TextFunctionsTest, TextFormatsNumbersDatesAndTextWithTheFormatLanguage) {
  const struct {
    std::u16string Value;
    std::u16string Format;
    std::string Expected;
  } cases[] = {
      // Digit placeholders, separators, scaling and percent.
      {u"1234.567", u"#,##0.00", "1,234.57"},
      {u"1234567", u"#,##0,\"K\"", "1,235K"},
      {u"1234567", u"0.0,,\"M\"", "1.2M"},
      {u"1234567", u"000-0000", "123-4567"},
      {u"5", u"00000", "00005"},
      {u"0.5", u"#.##", ".5"},
      {u"0", u"#", ""},
      {u"12.5", u".00", "12.50"},
      {u"1.5", u"0.0#", "1.5"},
      {u"1.25", u"0.0#", "1.25"},
      {u"2.5", u"??.??", " 2.5 "},
      {u"0.5", u"0%", "50%"},
      {u"0.285", u"0.0%", "28.5%"},
      {u"1", u"#.", "1."},
      {u"12.5", u"$0.00", "$12.50"},
      {u"-12.5", u"$#,##0.00", "-$12.50"},
      {u"5", u"0 \"units\"", "5 units"},
      {u"5", u"\\#0", "#5"},
      {u"5", u"0_)", "5 "},
      {u"5", u"[Red]0.00", "5.00"},
      {u"5", u"[$€-407] 0", "€ 5"},
      {u"5", u"", ""},
      {u"5", u"General", "5"},
      {u"-0.25", u"General", "-0.25"},
      // Rounding is half away from zero on the 15 digits the application keeps.
      {u"1.005", u"0.00", "1.01"},
      {u"0.1+0.2", u"0.000000000000000000", "0.300000000000000000"},
      {u"123456789012345678", u"0", "123456789012346000"},
      {u"1E+20", u"#,##0", "100,000,000,000,000,000,000"},
      {u"-2.5", u"0", "-3"},
      {u"-0.001", u"0.00", "-0.00"},
      // Scientific notation.
      {u"1234.5", u"0.00E+00", "1.23E+03"},
      {u"0.000123", u"0.00E+00", "1.23E-04"},
      {u"0.000123", u"0.00E-00", "1.23E-04"},
      {u"1234.5", u"0.00E-00", "1.23E03"},
      {u"9.999", u"0.00E+00", "1.00E+01"},
      {u"0", u"0.00E+00", "0.00E+00"},
      {u"12345", u"##0.0E+0", "12.3E+3"},
      {u"-12345", u"0.0E+00", "-1.2E+04"},
      // Sections: positive; negative; zero; text.
      {u"-5", u"0;(0)", "(5)"},
      {u"0", u"0;-0;\"zero\"", "zero"},
      {u"0", u"0.0;(0.0)", "0.0"},
      {u"-5", u"0;", ""},
      {u"\"abc\"", u"0;0;0;\"<\"@\">\"", "<abc>"},
      {u"\"abc\"", u"0.00", "abc"},
      {u"\"12\"", u"0.00", "12.00"},
      {u"TRUE", u"0", "TRUE"},
      {u"150", u"[>100]\"big\";[<0]\"neg\";0", "big"},
      {u"-5", u"[>100]\"big\";[<0]\"neg\";0", "neg"},
      {u"50", u"[>100]\"big\";[<0]\"neg\";0", "50"},
      // Dates and times, 1900 system (46022 is Wednesday 2025-12-31).
      {u"46022", u"yyyy-mm-dd", "2025-12-31"},
      {u"46022", u"dddd, mmmm d, yyyy", "Wednesday, December 31, 2025"},
      {u"46022", u"ddd mmm yy", "Wed Dec 25"},
      {u"46022", u"d/m/y", "31/12/25"},
      {u"46022", u"mmmmm", "D"},
      {u"60", u"yyyy-mm-dd ddd", "1900-02-29 Wed"},
      {u"61", u"yyyy-mm-dd ddd", "1900-03-01 Thu"},
      {u"1", u"dddd", "Sunday"},
      {u"0", u"yyyy-mm-dd", "1900-01-00"},
      {u"0.75", u"h:mm AM/PM", "6:00 PM"},
      {u"0.25", u"hh:mm a/p", "06:00 a"},
      {u"0", u"h AM/PM", "12 AM"},
      {u"0.5+30/86400", u"hh:mm:ss", "12:00:30"},
      {u"0.5+1.25/86400", u"h:mm:ss.00", "12:00:01.25"},
      {u"(10*3600+29*60+59.6)/86400", u"h:mm", "10:30"},
      {u"0.99999999", u"yyyy-mm-dd hh:mm:ss", "1900-01-01 00:00:00"},
      {u"1.5", u"[h]:mm", "36:00"},
      {u"15/1440", u"[mm]:ss", "15:00"},
      {u"46022.5", u"m/d/yyyy h:mm", "12/31/2025 12:00"},
      {u"46022", u"mm\"m\"", "12m"},
      {u"-1", u"yyyy", "#VALUE!"},
      {u"2958466", u"yyyy", "#VALUE!"},
      {u"2958465", u"yyyy-mm-dd", "9999-12-31"},
      // Malformed codes.
      {u"1", u"0\"", "#VALUE!"},
      {u"1", u"[Red", "#VALUE!"},
      {u"1", u"0;0;0;@;0", "#VALUE!"},
  };
  for (const auto& c : cases) {
    std::u16string formula = u"=TEXT(" + c.Value + u",\"";
    for (char16_t ch : c.Format) formula += ch == u'"' ? std::u16string(u"\"\"") : std::u16string(1, ch);
    formula += u"\")";
    std::string expected = c.Expected == "#VALUE!" ? kValueError : "\"" + c.Expected + "\"";
    EXPECT_EQ(Result(formula), expected) << rtl::UnicodeToUtf8(formula);
  }
}

TEST_F(TextFunctionsTest, AFormatThisEngineCannotShowKeepsTheStoredValue) {
  // Fractions are not formatted: the cell is not computed rather than shown wrong.
  PutText(FSheet, 3, 3, u"=TEXT(0.5,\"# ?/?\")");
  EXPECT_TRUE(Get(FSheet, 3, 3).VType() == rtl::varEmpty);
}

}  // namespace
}  // namespace spreadsheet::testing
