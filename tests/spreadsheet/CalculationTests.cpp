// Formula results as the server computes them when a formula cell is read.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "ServerFixture.h"
#include "spreadsheet/calc/Formula.h"
#include "spreadsheet/calc/Functions.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

class CalculationTest : public ServerTest {
 protected:
  std::string FPath = FDir.File("book.xlsx");
  TSheetRef FSheet;
  void SetUp() override {
    TBookLayout layout;
    layout.Sheets = {{"Data", "<sheetData/>"}, {"Other Sheet", "<sheetData/>"}};
    layout.WorkbookExtra = "<definedNames><definedName name=\"Rate\">Data!$H$1</definedName></definedNames>";
    WriteBook(FPath, layout);
    FSheet = Sheet(Open(FPath), 1);
    // A1:A4 numbers, B1 text, C1 "a", D1 TRUE, E1 blank, H1 the rate.
    Put(FSheet, 1, 1, Variant(10.0));
    Put(FSheet, 2, 1, Variant(20.0));
    Put(FSheet, 3, 1, Variant(2.5));
    Put(FSheet, 4, 1, Variant(-7.0));
    PutText(FSheet, 1, 2, u"apple");
    PutText(FSheet, 2, 2, u"banana");
    PutText(FSheet, 3, 2, u"Apricot");
    PutText(FSheet, 1, 3, u"'a");
    Put(FSheet, 1, 4, Variant(true));
    Put(FSheet, 1, 8, Variant(0.25));
    Put(Sheet(Open(FPath), 2), 1, 1, Variant(100.0));
  }
  // The value the formula computes, as text ("#DIV/0!", "TRUE", "3").
  std::string Result(std::u16string_view formula) {
    PutText(FSheet, 20, 20, formula);
    Variant v = Get(FSheet, 20, 20);
    if (v.VType() == rtl::varError) return ErrorName(v.VError());
    if (v.VType() == rtl::varBoolean) return v.VBoolean() ? "TRUE" : "FALSE";
    if (v.VType() == rtl::varOleStr) return "\"" + Text(v) + "\"";
    return Text(v);
  }
};

TEST_F(CalculationTest, FormulasComputeAsTheApplicationComputesThem) {
  const struct {
    std::u16string Formula;
    std::string Expected;
  } cases[] = {
      // Arithmetic, precedence, coercion.
      {u"=1+2*3", "7"},
      {u"=-2^2", "4"},
      {u"=2^-1", "0.5"},
      {u"=50%", "0.5"},
      {u"=1/0", "#DIV/0!"},
      {u"=\"1\"+1", "2"},
      {u"=\"x\"+1", "#VALUE!"},
      {u"=\"2024-02-29\"+0", "45351"},
      {u"=\"2025-02-30\"+0", "#VALUE!"},
      {u"=\"$1,234.50\"+0", "1234.5"},  // currency and thousands, as DOLLAR writes them
      {u"=\"(5)\"+\"-$5\"+\"$-5\"", "-15"},
      {u"=\"1,23\"+0", "#VALUE!"},
      {u"=\"1234,567\"+0", "#VALUE!"},
      {u"=TRUE+1", "2"},
      {u"=E1+1", "1"},
      {u"=E1&\"\"", "\"\""},
      {u"=A1&\"\"", "\"10\""},
      {u"=1/3&\"\"", "\"0.333333333333333\""},
      {u"=1E+20&\"\"", "\"1E+20\""},
      {u"=A1:A2", "#VALUE!"},
      {u"=0^0", "#NUM!"},
      // Comparison: text without regard to case; numbers before text before Booleans.
      {u"=\"a\"=\"A\"", "TRUE"},
      {u"=\"äpfel\"=\"ÄPFEL\"", "TRUE"},
      {u"=MATCH(\"?PFEL\",{\"x\",\"äpfel\"},0)", "2"},
      {u"=1<\"a\"", "TRUE"},
      {u"=\"z\"<TRUE", "TRUE"},
      {u"=E1=0", "TRUE"},
      {u"=E1=\"\"", "TRUE"},
      // Aggregates: direct text is coerced, text in references ignored.
      {u"=SUM(A1:A4)", "25.5"},
      {u"=SUM(\"a\")", "#VALUE!"},
      {u"=SUM(C1)", "0"},
      {u"=SUM(A:A)", "25.5"},
      {u"=SUM(A1:A4,\"2\",TRUE)", "28.5"},
      {u"=AVERAGE(A1:A4)", "6.375"},
      {u"=AVERAGE(E1:E3)", "#DIV/0!"},
      {u"=COUNT(A1:D1)", "1"},
      {u"=COUNTA(A1:D1)", "4"},
      {u"=COUNTBLANK(A1:E1)", "1"},
      {u"=MAX(A1:A4)", "20"},
      {u"=MIN(A1:A4)", "-7"},
      {u"=PRODUCT(A1:A3)", "500"},
      {u"=SUMPRODUCT(A1:A2,A3:A4)", "-115"},
      {u"=SUMPRODUCT((A1:A4>0)*A1:A4)", "32.5"},
      // Criteria with operators and wildcards.
      {u"=COUNTIF(A1:A4,\">=10\")", "2"},
      {u"=COUNTIF(B1:B3,\"a*\")", "2"},
      {u"=COUNTIF(B1:B3,\"?anana\")", "1"},
      {u"=COUNTIF(B1:B3,\"<>apple\")", "2"},
      {u"=COUNTIF(A:A,\"\")", "1048572"},
      {u"=SUMIF(B1:B3,\"a*\",A1:A3)", "12.5"},
      {u"=SUMIF(A:A,\">0\",A2)", "15.5"},  // the sum area would run past the sheet's end
      {u"=SUMIFS(A1:A4,A1:A4,\">0\",B1:B4,\"<>banana\")", "12.5"},
      {u"=AVERAGEIF(A1:A4,\"<0\")", "-7"},
      {u"=MAXIFS(A1:A4,B1:B4,\"*p*\")", "10"},
      // Rounding: half away from zero, on what the application shows.
      {u"=ROUND(2.5,0)", "3"},
      {u"=ROUND(-2.5,0)", "-3"},
      {u"=ROUND(1.005,2)", "1.01"},
      {u"=ROUND(1234.5678,-2)", "1200"},
      {u"=ROUNDUP(-1.21,1)", "-1.3"},
      {u"=ROUNDDOWN(1.29,1)", "1.2"},
      {u"=MOD(-3,2)", "1"},
      {u"=MOD(3,0)", "#DIV/0!"},
      {u"=INT(-2.5)", "-3"},
      {u"=TRUNC(-2.5)", "-2"},
      {u"=SQRT(-1)", "#NUM!"},
      {u"=SIN(2^27)", "#NUM!"},
      {u"=ABS(TAN(-2^27+1))<1E+300", "TRUE"},
      {u"=CEILING(2.1,0.5)", "2.5"},
      {u"=FLOOR(-2.5,-2)", "-2"},
      {u"=MROUND(10,3)", "9"},
      // Logic and information.
      {u"=IF(A1>5,\"big\",\"small\")", "\"big\""},
      {u"=IF(FALSE,1)", "FALSE"},
      {u"=IF(TRUE,,1)", "0"},
      {u"=IFERROR(1/0,\"none\")", "\"none\""},
      {u"=IFNA(#N/A,2)", "2"},
      {u"=SUM(IFERROR(B1,0),IFNA(A1,0))", "10"},  // a cell passed on, as IF passes it
      {u"=AND(A1:A4)", "TRUE"},
      {u"=OR(E1:E2)", "#VALUE!"},
      {u"=XOR(TRUE,TRUE)", "FALSE"},
      {u"=CHOOSE(2,\"a\",\"b\")", "\"b\""},
      {u"=CHOOSE(3,\"a\",\"b\")", "#VALUE!"},
      {u"=SWITCH(2,1,\"one\",2,\"two\")", "\"two\""},
      {u"=SWITCH(0,E1,\"blank\",\"other\")", "\"blank\""},
      {u"=IFS(A1>100,1,A1>5,2)", "2"},
      {u"=ISBLANK(E1)", "TRUE"},
      {u"=ISNUMBER(C1)", "FALSE"},
      {u"=ISERR(#N/A)", "FALSE"},
      {u"=TYPE(A1:A2)", "16"},
      {u"=ROW()", "20"},
      {u"=COLUMNS(A1:C5)", "3"},
      // References: other sheets, names, intersections, unions.
      {u"='Other Sheet'!A1*2", "200"},
      {u"=Missing!A1", "#REF!"},
      {u"=A1*Rate", "2.5"},
      {u"=NoSuchName", "#NAME?"},
      {u"=SUM(A1:A4 A2:B3)", "22.5"},
      {u"=SUM(A1:A2 B5:B6)", "#NULL!"},
      {u"=SUM((A1,A3))", "12.5"},
      {u"=SUM({1,2;3,4})", "10"},
      // An empty lookup cell finds nothing.
      {u"=MATCH(E1,A1:A4,0)", "#N/A"},
      {u"=VLOOKUP(E1,A1:B4,2,FALSE)", "#N/A"},
  };
  for (const auto& c : cases) EXPECT_EQ(Result(c.Formula), c.Expected) << rtl::UnicodeToUtf8(c.Formula);
}

TEST_F(CalculationTest, ResultsFollowEveryWriteAndCircularCellsReadAsZero) {
  // A sheet added before the one a formula reads: writes there still reach it.
  PutText(FSheet, 8, 2, u"='Other Sheet'!A1*2");
  EXPECT_DOUBLE_EQ(Get(FSheet, 8, 2).AsDouble(), 200);
  auto book = Open(FPath);
  Sheet(book, 2)->Select();
  book->AddSheet();
  ASSERT_EQ(NameOf(Sheet(book, 3)), "Other Sheet");
  Put(Sheet(book, 3), 1, 1, Variant(7.0));
  EXPECT_DOUBLE_EQ(Get(FSheet, 8, 2).AsDouble(), 14);
  Put(Sheet(book, 3), 1, 1, Variant(100.0));
  PutText(FSheet, 5, 1, u"=SUM(A1:A4)");
  EXPECT_DOUBLE_EQ(Get(FSheet, 5, 1).AsDouble(), 25.5);
  Put(FSheet, 1, 1, Variant(100.0));
  EXPECT_DOUBLE_EQ(Get(FSheet, 5, 1).AsDouble(), 115.5);
  // Overwriting a formula makes every result stale at once; however many
  // recalculations follow, no old result comes back as current.
  PutText(FSheet, 1, 1, u"=100");
  EXPECT_DOUBLE_EQ(Get(FSheet, 5, 1).AsDouble(), 115.5);
  Put(FSheet, 1, 1, Variant(200.0));
  for (int i = 0; i < 65535; ++i) FSheet->Calculate();
  EXPECT_DOUBLE_EQ(Get(FSheet, 5, 1).AsDouble(), 215.5);
  Put(FSheet, 1, 1, Variant(100.0));
  // A pair of cells that read each other, and a cell that reads the pair.
  PutText(FSheet, 1, 10, u"=B10+1");
  PutText(FSheet, 2, 10, u"=A10+1");
  PutText(FSheet, 3, 10, u"=A10+B10");
  EXPECT_TRUE(Get(FSheet, 3, 10).VType() == rtl::varDouble);
  // A chain far deeper than recursion could follow.
  Put(FSheet, 1, 12, Variant(1.0));
  for (int r = 2; r <= 5000; ++r) PutText(FSheet, r, 12, u"=L" + rtl::IntToStr(r - 1) + u"+1");
  EXPECT_DOUBLE_EQ(Get(FSheet, 5000, 12).AsDouble(), 5000);
  // A write makes stale what reads it, through chains, names and sheets.
  auto other = Sheet(Open(FPath), 2);
  PutText(other, 2, 1, u"=Data!L5000+Rate");
  PutText(FSheet, 6, 1, u"=SUM(L:L)");
  EXPECT_DOUBLE_EQ(Get(other, 2, 1).AsDouble(), 5000.25);
  Put(FSheet, 1, 12, Variant(11.0));
  Put(FSheet, 1, 8, Variant(1.0));
  EXPECT_DOUBLE_EQ(Get(other, 2, 1).AsDouble(), 5011);
  EXPECT_DOUBLE_EQ(Get(FSheet, 6, 1).AsDouble(), 5000.0 * 5001 / 2 + 10 * 5000);
  PutText(FSheet, 1, 12, u"=A4");  // a value becomes a formula
  EXPECT_DOUBLE_EQ(Get(other, 2, 1).AsDouble(), 4993);
  // Beyond the used rows of a whole-column criteria area.
  PutText(FSheet, 7, 2, u"=COUNTIF(A:A,\">0\")");
  double before = Get(FSheet, 7, 2).AsDouble();
  Put(FSheet, 9000, 1, Variant(5.0));
  EXPECT_DOUBLE_EQ(Get(FSheet, 7, 2).AsDouble(), before + 1);
}

// Totals over long columns are read again and again while cells of the
// columns change in every way a script changes them; a model says what they
// must be.
TEST_F(CalculationTest, TotalsOverLongColumnsFollowEveryKindOfWrite) {
  constexpr int kRows = 6000;
  std::vector<double> a(kRows + 1, 0), b(kRows + 1, 0);  // 0 also for blank or text
  std::vector<bool> bIsFormula(kRows + 1, false);
  auto sheet = Sheet(Open(FPath), 2);
  for (int r = 1; r <= kRows; ++r) {
    if (r % 50 != 0) Put(sheet, r, 1, Variant(a[r] = r));
    if (r % 3 != 0) {
      PutText(sheet, r, 2, u"=N(A" + rtl::IntToStr(r) + u")*2");
      bIsFormula[r] = true;
    }
  }
  PutText(sheet, 1, 3, u"=SUM(A1:A6000)");
  PutText(sheet, 2, 3, u"=SUM(B1:B6000)");
  PutText(sheet, 3, 3, u"=COUNT(B2:B5999)");
  auto check = [&](int step) {
    double sumA = 0, sumB = 0, countB = 0;
    for (int r = 1; r <= kRows; ++r) {
      if (bIsFormula[r]) b[r] = 2 * a[r];
      sumA += a[r];
      sumB += b[r];
      if ((bIsFormula[r] || b[r] != 0) && r >= 2 && r <= kRows - 1) ++countB;
    }
    ASSERT_DOUBLE_EQ(Get(sheet, 1, 3).AsDouble(), sumA) << "step " << step;
    ASSERT_DOUBLE_EQ(Get(sheet, 2, 3).AsDouble(), sumB) << "step " << step;
    ASSERT_DOUBLE_EQ(Get(sheet, 3, 3).AsDouble(), countB) << "step " << step;
  };
  check(0);
  std::mt19937 random(20261209);
  for (int step = 1; step <= 400; ++step) {
    int r = 1 + static_cast<int>(random() % kRows);
    switch (random() % 7) {
      case 0:
      case 1: Put(sheet, r, 1, Variant(a[r] = static_cast<double>(random() % 1000))); break;  // gaps fill too
      case 2: PutText(sheet, r, 1, u"text"), a[r] = 0; break;
      case 3: Put(sheet, r, 1, Variant()), a[r] = 0; break;
      case 4: PutText(sheet, r, 1, u"=" + rtl::IntToStr(r % 7)), a[r] = r % 7; break;
      case 5:  // a formula's cell overwritten with a number, or a number with a formula
        if (bIsFormula[r]) {
          Put(sheet, r, 2, Variant(b[r] = 1.5));
          bIsFormula[r] = false;
        } else {
          PutText(sheet, r, 2, u"=N(A" + rtl::IntToStr(r) + u")*2");
          bIsFormula[r] = true;
        }
        break;
      case 6: Sheet(Open(FPath), 1)->Calculate(); break;
    }
    if (random() % 3 == 0 || step % 50 == 0) check(step);
  }
  check(401);
}

TEST_F(CalculationTest, WhatCannotBeComputedKeepsItsStoredValue) {
  TBookLayout layout;
  layout.Sheets = {{"Data",
                    "<sheetData><row r=\"1\"><c r=\"A1\"><f>NOSUCHFUNCTION(1)</f><v>7</v></c>"
                    "<c r=\"B1\"><f>[1]Sheet1!A1</f><v>8</v></c><c r=\"C1\"><f>A1+B1</f><v>0</v></c></row>"
                    "<row r=\"3\"><c r=\"D3\"><f>NOSUCHFUNCTION(E3)</f><v>9</v></c></row></sheetData>"}};
  std::string path = FDir.File("stored.xlsx");
  WriteBook(path, layout);
  auto book = Open(path);
  auto sheet = Sheet(book, 1);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 1).AsDouble(), 7);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 2).AsDouble(), 8);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 3).AsDouble(), 15);
  // Saving stores computed results; a value the engine cannot compute stays
  // while nothing it reads changed, and goes once something did.
  PutText(sheet, 2, 1, u"=NOSUCHFUNCTION(D1)");
  PutText(sheet, 2, 2, u"=C1*2");
  PutText(sheet, 2, 3, u"=\"a\"&1");
  PutText(sheet, 2, 4, u"=1/0");
  PutText(sheet, 2, 5, u"=A1>1");
  book->Save();
  std::string xml = ReadZip(path)["xl/worksheets/sheet1.xml"];
  EXPECT_THAT(xml, ::testing::HasSubstr("<c r=\"A1\"><f>NOSUCHFUNCTION(1)</f><v>7</v></c>"));
  EXPECT_THAT(xml, ::testing::HasSubstr("<c r=\"C1\"><f>A1+B1</f><v>15</v></c>"));
  EXPECT_THAT(xml, ::testing::HasSubstr("<c r=\"B2\"><f>C1*2</f><v>30</v></c>"));
  EXPECT_THAT(xml, ::testing::HasSubstr("<c r=\"C2\" t=\"str\"><f>\"a\"&amp;1</f><v>a1</v></c>"));
  EXPECT_THAT(xml, ::testing::HasSubstr("<c r=\"D2\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"));
  EXPECT_THAT(xml, ::testing::HasSubstr("<c r=\"E2\" t=\"b\"><f>A1&gt;1</f><v>1</v></c>"));
  EXPECT_THAT(xml, ::testing::HasSubstr("<c r=\"D3\"><f>NOSUCHFUNCTION(E3)</f><v>9</v></c>"));
  Put(sheet, 3, 5, Variant(1.0));
  book->Save();
  xml = ReadZip(path)["xl/worksheets/sheet1.xml"];
  EXPECT_THAT(xml, ::testing::HasSubstr("<c r=\"A1\"><f>NOSUCHFUNCTION(1)</f><v>7</v></c>"));
  EXPECT_THAT(xml, ::testing::HasSubstr("<c r=\"D3\"><f>NOSUCHFUNCTION(E3)</f></c>"));
  book->Close(false);
}

TEST_F(CalculationTest, ArrayFormulasFillTheirWholeRangeAndFollowWrites) {
  TBookLayout layout;
  layout.Sheets = {{"Data",
                    "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\"><f t=\"array\" "
                    "ref=\"B1:B3\">A1:A3*2</f><v>0</v></c><c r=\"C1\"><f t=\"array\" ref=\"C1\">SUM(A1:A3*A1:A3)"
                    "</f><v>0</v></c><c r=\"D1\"><f t=\"array\" ref=\"D1\">SUM(IF(A1:A3&gt;1,A1:A3,0))</f><v>0</v></c>"
                    "</row><row r=\"2\"><c r=\"A2\"><v>2</v></c><c r=\"B2\"><v>0</v></c></row>"
                    "<row r=\"3\"><c r=\"A3\"><v>3</v></c><c r=\"B3\"><v>0</v></c></row></sheetData>"}};
  std::string path = FDir.File("arrays.xlsx");
  WriteBook(path, layout);
  auto sheet = Sheet(Open(path), 1);
  PutText(sheet, 5, 1, u"=SUM(B1:B3)");
  EXPECT_DOUBLE_EQ(Get(sheet, 2, 2).AsDouble(), 4);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 3).AsDouble(), 14);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 4).AsDouble(), 5);
  EXPECT_DOUBLE_EQ(Get(sheet, 5, 1).AsDouble(), 12);
  PutText(sheet, 6, 1, u"=SUM(B2:B3)");  // the range without its first cell
  EXPECT_DOUBLE_EQ(Get(sheet, 6, 1).AsDouble(), 10);
  Put(sheet, 3, 1, Variant(10.0));
  EXPECT_DOUBLE_EQ(Get(sheet, 6, 1).AsDouble(), 24);
  EXPECT_DOUBLE_EQ(Get(sheet, 3, 2).AsDouble(), 20);
  EXPECT_DOUBLE_EQ(Get(sheet, 5, 1).AsDouble(), 26);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 3).AsDouble(), 105);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 4).AsDouble(), 12);  // IF chooses element by element
}

TEST(FunctionList, TheReadmeListsExactlyTheFunctionsComputed) {
  std::ifstream in(std::string(KORVA_SOURCE_DIR) + "/README.md");
  std::stringstream text;
  text << in.rdbuf();
  std::string readme = text.str();
  size_t from = readme.find("<!-- functions -->"), to = readme.find("<!-- /functions -->");
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos);
  std::istringstream words(readme.substr(from + 18, to - from - 18));
  std::set<std::string> listed, computed;
  for (std::string word; words >> word;) listed.insert(word);
  for (const calc::TFunctionInfo* f : calc::AllFunctions()) computed.insert(std::string(f->Name));
  EXPECT_EQ(listed, computed);
}

TEST(FormulaSyntax, TheParserTakesWhatFilesStoreAndRefusesBrokenText) {
  const char* good[] = {"A1+B2",
                        "SUM($A$1:B$5,Sheet2!C3,'My Sheet'!D4:E5)",
                        "_xlfn.IFS(A1>0,1,TRUE,2)",
                        "Table1[Amount]",
                        "Table1[[#Totals],[Amount]]",
                        "[@Qty]*[@Price]",
                        "SUM(Table1[[#This Row],[A]:[B]])",
                        "{1,2;3,4}",
                        "-A1%^2",
                        "SUM(A:A,2:2)",
                        "IF(A1<>\"\",\"x\"\"y\",#N/A)",
                        "[1]Sheet1!A1",
                        "Sheet1!#REF!",
                        "A1:INDEX(B:B,3)",
                        "SUM( A1 , B1 )"};
  for (const char* text : good) {
    calc::TFormula formula;
    std::string error;
    EXPECT_TRUE(calc::ParseFormula(text, formula, error)) << text << ": " << error;
  }
  const char* bad[] = {"A2+", "SUM(A2;A3)", "SUM(A1", "\"open", "{1,2;3}", "1..2", "#WHAT!", "A1)", "'Sheet1'A1"};
  for (const char* text : bad) {
    calc::TFormula formula;
    std::string error;
    EXPECT_FALSE(calc::ParseFormula(text, formula, error)) << text;
  }
}

}  // namespace
}  // namespace spreadsheet::testing
