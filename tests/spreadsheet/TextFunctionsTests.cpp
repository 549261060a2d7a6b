// Text functions and the number-format language as the server computes
// them: a table of documented results, and the same formulas over varied
// inputs computed by LibreOffice from the saved workbook.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>

#include "FunctionCheck.h"
#include "spreadsheet/calc/NumberFormat.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

class TextFunctionsTest : public FunctionCheckTest {
 protected:
  void SetUp() override {
    MakeBook();
    // A1:A2 numbers, B1:B2 text, E1 blank.
    Put(FSheet, 1, 1, Variant(10.0));
    Put(FSheet, 2, 1, Variant(20.0));
    PutText(FSheet, 1, 2, u"apple");
    PutText(FSheet, 2, 2, u"banana");
  }
};

const std::string kValueError = "#VALUE!", kNotAvailable = "#N/A";

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
      {u"=REPT(\"\",1E+300)", "\"\""},
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
      {u"=PROPER(\"STRASSE straße\")", "\"Strasse Straße\""},
      {u"=NUMBERVALUE(2.5)", "2.5"},
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
      {u"=SEARCH(\"a*b*c\",\"xxaxbxc\")", "3"},
      {u"=SEARCH(\"a*c\",\"abab\")", kValueError},
      {u"=SEARCH(\"*c\",\"abc\",2)", "2"},
      {u"=SEARCH(\"b**\",\"abc\")", "2"},
      {u"=SEARCH(\"~~\",\"a~b\")", "2"},
      {u"=SEARCH(\"a*a*a*a*a*a*a*a*a*a*b\",REPT(\"a\",32767))", kValueError},
      // Joining: CONCAT and TEXTJOIN take ranges, CONCATENATE one value each.
      {u"=CONCAT(A1:A2,\"x\",E1)", "\"1020x\""},
      {u"=CONCATENATE(\"a\",1,TRUE)", "\"a1TRUE\""},
      {u"=CONCATENATE(\"a\",1/0)", "#DIV/0!"},
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
      {u"=VALUE(\"30.56\"&DOLLAR(5.21,-2))", kValueError},  // "30.56$0"
      {u"=DOLLAR(0.5,0)", "\"$1\""},
      {u"=VALUE(\"1,234.5\")", "1234.5"},
      {u"=VALUE(\"$1,000\")", "1000"},
      {u"=VALUE(\"(5)\")", "-5"},
      {u"=VALUE(\"6:00 PM\")", "0.75"},
      {u"=VALUE(\"2400000:00\")", "100000"},
      {u"=VALUE(\"50%\")", "0.5"},
      {u"=VALUE(\"1/31/2026\")", "46053"},
      {u"=VALUE(\"2/29/2025\")", kValueError},
      {u"=VALUE(\"2/29/2024\")", "45351"},
      {u"=VALUE(\"12/31/29\")", "47483"},
      {u"=VALUE(\"2026-01-31 18:00\")", "46053.75"},
      {u"=VALUE(\"abc\")", kValueError},
      {u"=VALUE(E1)", "0"},
      {u"=NUMBERVALUE(\"1.234,5\",\",\",\".\")", "1234.5"},
      {u"=NUMBERVALUE(\" 2 5 %%\")", "0.0025"},
      {u"=NUMBERVALUE(\"\")", "0"},
      {u"=NUMBERVALUE(\"1.2.3\")", kValueError},
  };
  for (const auto& c : cases) {
    std::string result = Result(c.Formula);
    EXPECT_TRUE(Matches(result, c.Expected)) << rtl::UnicodeToUtf8(c.Formula) << " gives " << result;
  }
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
      {u"0.001", u"#.##", "."},
      {u"-1", u"#.##", "-1."},
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
      {u"0", u"#E-0", "0E0"},
      {u"1", u"000E+0", "001E+0"},
      {u"12345", u"##0.0E+0", "12.3E+3"},
      {u"-12345", u"0.0E+00", "-1.2E+04"},
      // Fractions: the nearest that fits the placeholders, or a fixed denominator.
      {u"3.14159", u"# ?/?", "3 1/7"},
      {u"3.14159", u"# ?\?/?\?", "3 14/99"},
      {u"3.14159", u"?/?", "22/7"},
      {u"0.5", u"# ?/?", " 1/2"},
      {u"0.5", u"0 ?/?", "0 1/2"},
      {u"-2.5", u"# ?/4", "-2 2/4"},
      {u"2.3", u"# ?\?/100", "2 30/100"},
      {u"3", u"# ?/?", "3    "},
      {u"1.25", u"# ?/?\" in\"", "1 1/4 in"},
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
      {u"-1", u"[<=1]0.00;#,##0", "-1.00"},
      {u"-5", u"[>=1000]#,##0,\"K\";0", "5"},
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
      {u"10.6/86400", u"hh:mm:ss", "00:00:11"},
      {u"(10*3600+29*60+59.6)/86400", u"h:mm", "10:30"},
      {u"0.99999999", u"yyyy-mm-dd hh:mm:ss", "1900-01-01 00:00:00"},
      {u"1.5", u"[h]:mm", "36:00"},
      {u"15/1440", u"[mm]:ss", "15:00"},
      {u"46022.5", u"m/d/yyyy h:mm", "12/31/2025 12:00"},
      {u"46022", u"mm\"m\"", "12m"},
      {u"-1", u"yyyy", "#VALUE!"},
      {u"2958466", u"yyyy", "#VALUE!"},
      {u"2958465", u"yyyy-mm-dd", "9999-12-31"},
      {u"1E+308", u"0%", "#VALUE!"},
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

TEST_F(TextFunctionsTest, DatesCountFrom1904WhenTheWorkbookSaysSo) {
  TBookLayout layout;
  layout.Sheets = {{"Data", "<sheetData/>"}};
  layout.WorkbookExtra = "<workbookPr date1904=\"1\"/>";
  std::string path = FDir.File("1904.xlsx");
  WriteBook(path, layout);
  auto sheet = Sheet(Open(path), 1);
  const struct {
    std::u16string Formula;
    std::string Expected;
  } cases[] = {
      {u"=TEXT(0,\"yyyy-mm-dd dddd\")", "1904-01-01 Friday"},
      {u"=TEXT(1462.25,\"yyyy-mm-dd h AM/PM\")", "1908-01-02 6 AM"},
      {u"=TEXT(59,\"d mmm yyyy\")", "29 Feb 1904"},
      {u"=TEXT(2957003,\"yyyy-mm-dd\")", "9999-12-31"},
  };
  for (const auto& c : cases) {
    PutText(sheet, 1, 1, c.Formula);
    EXPECT_EQ(Text(Get(sheet, 1, 1)), c.Expected) << rtl::UnicodeToUtf8(c.Formula);
  }
  PutText(sheet, 1, 1, u"=TEXT(2957004,\"yyyy\")");
  EXPECT_TRUE(Get(sheet, 1, 1).VType() == rtl::varError);
}

TEST_F(TextFunctionsTest, AFormatThisEngineCannotShowKeepsTheStoredValue) {
  // Other numeral systems are not formatted: the cell is not computed
  // rather than shown wrong.
  PutText(FSheet, 3, 3, u"=TEXT(5,\"[DBNum1]0\")");
  EXPECT_TRUE(Get(FSheet, 3, 3).VType() == rtl::varEmpty);
}


// Inputs the generated formulas read, in Data!A1:A40. Booleans are left
// out: LibreOffice has none (TRUE&"" is "1" there, "TRUE" in the
// application); so are text with characters outside the BMP, which
// LibreOffice counts as one character and the application as two.
const char16_t* const kNumbers[] = {u"0",         u"1",        u"-1",      u"2.5",         u"-2.5",
                                    u"1234.5678", u"-0.001",   u"0.5",     u"1000000.123", u"123456789",
                                    u"0.000123",  u"46022.75", u"3.14159", u"99999.999",   u"-98765.4321",
                                    u"0.1",       u"12",       u"65",      u"2958465",     u"1.005"};
const char16_t* const kTexts[] = {
    u"apple", u"Banana Split", u"  spaced   out  ", u"crème brûlée", u"don't stop", u"a*b?c", u"x-y-z-x", u"", u"123",
    u"12.5",  u"€uro",         u"MiXeD cAsE",       u"ÄÖÜ äöü",      u"1,234.5",    u"50%",   u"$1,000"};
constexpr int kNumberRows = 20, kTextRow1 = 21, kTextRows = 16, kBlankRow = 40;
// Rows of numbers that are dates past February 1900: LibreOffice counts
// days before 1900-03-01 one off, having no 1900-02-29.
const int kDateRows[] = {6, 9, 12, 14, 18, 19};
// Rows of numbers DOLLAR shows without a sign (the application puts
// negative amounts in parentheses, LibreOffice writes a minus).
const int kNonNegativeRows[] = {1, 2, 4, 6, 8, 9, 10, 11, 12, 13, 14, 16, 17, 18};
// Rows of numbers that are whole seconds: LibreOffice cuts off fractions
// of a second the format does not show, the application rounds them.
const int kTimeRows[] = {1, 2, 4, 8, 12, 17, 18};
// Rows of texts whose first character is ASCII: CODE of others depends on
// the platform's character set in LibreOffice. The empty text is not among
// them (NUMBERVALUE("") is 0 in the application, an error in LibreOffice).
const int kAsciiTextRows[] = {21, 22, 23, 24, 25, 26, 27, 29, 30, 32, 34, 35, 36};

const char16_t* const kNumberFormats[] = {u"0",
                                          u"0.00",
                                          u"#,##0",
                                          u"#,##0.00",
                                          u"0%",
                                          u"0.0%",
                                          u"0.00E+00",
                                          u"##0.0E+0",
                                          u"$#,##0.00;($#,##0.00)",
                                          u"0;-0;\"\"zero\"\"",
                                          u"#,##0,\"\"K\"\"",
                                          u"000-000",
                                          u"General",
                                          u"\"\"Total: \"\"0.0",
                                          u"0.0#",
                                          u"?.??",
                                          u"[Red]0.00;[Blue]-0.00",
                                          u"0;(0);\"\"-\"\"",
                                          u"#,##0.000,,",
                                          u"0.000E-0",
                                          u"# ?/?",
                                          u"# ?\?/??",
                                          u"?/?",
                                          u"# ?/8",
                                          u"0 ?\?/100",
                                          u"#,##0 ?/?",
                                          u"?\?/???",
                                          u"# ?/4\"\" in\"\"",
                                          u"[>100]\"\"big \"\"0;[<0]\"\"neg \"\"0;0.0",
                                          u"[<=1]0.00;#,##0",
                                          u"[>=1000]#,##0,\"\"K\"\";0"};
const char16_t* const kDateFormats[] = {u"yyyy-mm-dd", u"dd/mm/yy",   u"dddd d mmmm yyyy", u"mmm d, yyyy h:mm AM/PM",
                                        u"d-mmm",      u"m/d/yy h:mm"};
const char16_t* const kTimeFormats[] = {u"hh:mm:ss", u"[h]:mm:ss", u"h:mm:ss.00", u"mm:ss", u"h AM/PM"};

// A generated formula: text functions over the inputs, with random choices.
class TFormulaMaker {
 public:
  explicit TFormulaMaker(uint32_t seed) : FRandom(seed) {}

  std::u16string Next() {
    switch (Pick(28)) {
      case 0: return u"LEN(" + Any() + u")";
      case 1: return u"LEFT(" + Any() + u"," + Small() + u")";
      case 2: return u"RIGHT(" + Any() + u"," + Small() + u")";
      case 3: return u"MID(" + Any() + u"," + Int(1, 12) + u"," + Small() + u")";
      case 4: return (Pick(2) ? u"UPPER(" : u"LOWER(") + Any() + u")";
      case 5: return u"PROPER(" + Text() + u")";
      case 6: return (Pick(2) ? u"TRIM(" : u"CLEAN(") + Any() + u")";
      case 7: return u"EXACT(" + Any() + u"," + Any() + u")";
      case 8: return u"FIND(" + Needle() + u"," + Any() + (Pick(2) ? u"," + Int(0, 14) : u"") + u")";
      case 9: return u"SEARCH(" + Pattern() + u"," + Any() + (Pick(2) ? u"," + Int(0, 14) : u"") + u")";
      case 10: return u"SUBSTITUTE(" + Any() + u"," + Needle() + u",\"#\"" + (Pick(2) ? u"," + Int(0, 3) : u"") + u")";
      case 11: return u"REPLACE(" + Any() + u"," + Int(0, 12) + u"," + Small() + u",\"<>\")";
      case 12: return u"REPT(" + Any() + u"," + Int(-1, 4) + u")";
      case 13: return u"CONCATENATE(" + Any() + u"," + Any() + u"," + Any() + u")";
      case 14: return u"CONCAT(" + Range() + u"," + Any() + u")";
      case 15:
        return u"TEXTJOIN(\"" + std::u16string(Pick(2) ? u"-" : u", ") + u"\"," + Boolean() + u"," + Range() + u"," +
               Any() + u")";
      case 16: return u"CHAR(" + Int(32, 127) + u")";
      case 17: return Pick(2) ? u"CODE(" + Cell(From(kAsciiTextRows)) + u")" : u"UNICODE(" + Text() + u")";
      case 18: return u"UNICHAR(" + Int(1, 1000) + u")";
      case 19: return u"FIXED(" + Number() + u"," + Int(-3, 4) + u"," + Boolean() + u")";
      case 20: return u"DOLLAR(" + Cell(From(kNonNegativeRows)) + u"," + Int(-2, 3) + u")";
      case 21:
        return Pick(2) ? u"VALUE(" + (Pick(3) ? Text() : Number()) + u")"
                       : u"NUMBERVALUE(" + Cell(From(kAsciiTextRows)) + u",\".\",\",\")";
      case 22: return u"TEXT(" + Cell(From(kDateRows)) + u",\"" + From(kDateFormats) + u"\")";
      case 23: return u"TEXT(" + Cell(From(kTimeRows)) + u",\"" + From(kTimeFormats) + u"\")";
      case 24: return u"TEXT(" + Number() + u",\"" + NumberFormat() + u"\")";
      default: return u"TEXT(" + (Pick(8) ? Number() : Text()) + u",\"" + From(kNumberFormats) + u"\")";
    }
  }

 private:
  std::mt19937 FRandom;
  size_t Pick(size_t n) { return std::uniform_int_distribution<size_t>(0, n - 1)(FRandom); }
  template <typename T, size_t N>
  T From(const T (&list)[N]) {
    return list[Pick(N)];
  }
  std::u16string Int(int low, int high) {
    return rtl::IntToStr(std::uniform_int_distribution<int>(low, high)(FRandom));
  }
  std::u16string Small() { return Int(0, 6); }
  std::u16string Cell(int row) { return u"Data!A" + rtl::IntToStr(row); }
  // Not 1.005 (the last): the application rounds what it shows from 15
  // significant digits (1.01), LibreOffice from the binary value (1.00).
  std::u16string Number() { return Cell(1 + static_cast<int>(Pick(kNumberRows - 1))); }
  std::u16string Text() { return Cell(kTextRow1 + static_cast<int>(Pick(kTextRows))); }
  std::u16string Boolean() { return Pick(2) ? u"TRUE" : u"FALSE"; }
  std::u16string Any() {
    switch (Pick(10)) {
      case 0:
      case 1: return Number();
      case 2: return Cell(kBlankRow);
      default: return Text();
    }
  }
  // Not empty: LibreOffice finds "" nowhere, the application at the start.
  std::u16string Needle() {
    const char16_t* const needles[] = {u"\"a\"", u"\"A\"", u"\"-\"", u"\"x\"", u"\" \"", u"\"ß\"", u"\"1\""};
    return From(needles);
  }
  std::u16string Pattern() {
    const char16_t* const patterns[] = {u"\"a\"",  u"\"B\"",  u"\"?a\"", u"\"*t\"",  u"\"a*e\"",
                                        u"\"~*\"", u"\"~?\"", u"\"ö\"",  u"\"s?l\"", u"\"2*\""};
    return From(patterns);
  }
  // A number format put together from parts. A decimal part of # only is
  // left out: the application shows the point of "#.##" for whole numbers
  // ("1."), LibreOffice does not.
  std::u16string NumberFormat() {
    const char16_t* const prefixes[] = {u"", u"", u"$", u"\"\"Sum \"\"", u"(", u"\\#"};
    const char16_t* const integers[] = {u"0", u"#", u"#,##0", u"000", u"#,###", u"?", u"#,##0", u"00-00"};
    const char16_t* const fractions[] = {u"", u"", u".0", u".00", u".0#", u".???", u".000"};
    const char16_t* const suffixes[] = {u"", u"", u"%", u",", u",,", u"E+00", u"E-0", u" \"\"u\"\"", u")"};
    std::u16string positive = std::u16string(From(prefixes)) + From(integers) + From(fractions) + From(suffixes);
    if (Pick(3)) return positive;
    return positive + u";" + From(prefixes) + From(integers) + From(fractions) + u";" + From(integers);
  }
  std::u16string Range() {
    int first = 1 + static_cast<int>(Pick(kBlankRow - 4));
    return u"Data!A" + rtl::IntToStr(first) + u":A" + rtl::IntToStr(first + 1 + static_cast<int>(Pick(4)));
  }
};

TEST_F(TextFunctionsTest, GeneratedTextFormulasAgreeWithLibreOffice) {
  std::string why = WhyNoRecalculation();
  if (!why.empty()) GTEST_SKIP() << why;
  for (int i = 0; i < kNumberRows; ++i) PutText(FSheet, 1 + i, 1, kNumbers[i]);
  for (int i = 0; i < kTextRows; ++i) {
    std::u16string text = kTexts[i];
    PutText(FSheet, kTextRow1 + i, 1, text.empty() ? u"=\"\"" : u"'" + text);
  }
  Put(FSheet, 1, 2, Variant());
  Put(FSheet, 2, 2, Variant());
  unsigned seed = DifferentialSeed();
  TFormulaMaker maker(seed);
  constexpr int kFormulas = 1500;
  std::vector<TDifferentialCell> cells;
  for (int i = 0; i < kFormulas; ++i) {
    std::u16string formula = maker.Next();
    PutText(FSheet, 1 + i, 3, u"=" + formula);
    cells.push_back({1 + i, 3, rtl::UnicodeToUtf8(formula), {}});
  }
  for (TDifferentialCell& cell : cells) cell.Korva = Shown(Get(FSheet, cell.Row, cell.Column));
  FBook->Save();
  TRecalculation theirs = Recalculate(FPath);
  ASSERT_EQ(theirs.Failure, "");
  const TSheetValues& data = theirs.Sheet("Data");
  for (TDifferentialCell& cell : cells) {
    std::string expected = data.At(static_cast<size_t>(cell.Row), static_cast<size_t>(cell.Column));
    // LibreOffice drops the minus of a negative number shown as zero
    // ("-0.00", "-0/1"); the application keeps it.
    std::string shown = expected.substr(0, expected.find('/'));
    if (cell.Korva == "\"-" + expected + "\"" && shown.find_first_of("123456789") == std::string::npos)
      cell.Korva = "\"" + expected + "\"";
    // An argument a text function refuses is #VALUE! in the application,
    // an invalid argument (Err:502, saved as #NUM!) or a wrong parameter
    // (Err:504) in LibreOffice.
    if (cell.Korva == "#VALUE!" && (expected == "Err:502" || expected == "#NUM!")) cell.Korva = "#NUM!";
    if (cell.Korva == "#VALUE!" && expected == "Err:504") cell.Korva = expected;
  }
  std::vector<std::string> wrong = Disagreements(cells, data);
  for (size_t i = 0; i < wrong.size() && i < 40; ++i) ADD_FAILURE() << wrong[i];
  EXPECT_TRUE(wrong.empty()) << wrong.size() << " disagreements, seed " << seed;
}

// Format codes are workbook data: any text must format or be refused,
// never crash or loop (run under the sanitizers).
TEST(FormatCodes, ArbitraryCodesFormatOrAreRefused) {
  const char alphabet[] = "0#?.,%E+-e;@\"\\_*[]<>=RedhmsdyAPM/ :$()G1";
  const double values[] = {0, 1, -1, 0.5, -1234.5678, 1e15, 1e-300, 1e308, -1e308, 46022.75, 2958466};
  std::mt19937 random(DifferentialSeed());
  for (int i = 0; i < 5000; ++i) {
    std::string code;
    for (size_t n = std::uniform_int_distribution<size_t>(0, 16)(random); n > 0; --n)
      code += alphabet[std::uniform_int_distribution<size_t>(0, sizeof alphabet - 2)(random)];
    for (double value : values) {
      std::string out;
      calc::TFormatResult result = calc::FormatNumber(value, code, i % 2 == 0, out);
      if (result == calc::TFormatResult::Done) {
        EXPECT_LT(out.size(), 1000u) << code;
      }
      calc::FormatText("text", code, out);
    }
  }
}

}  // namespace
}  // namespace spreadsheet::testing
