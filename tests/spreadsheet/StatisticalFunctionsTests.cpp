// The statistical functions as the server computes them: order statistics,
// spread, ranks, the *A variants and SUBTOTAL over hidden rows and nested
// subtotals.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ServerFixture.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

class StatisticsTest : public ServerTest {
 protected:
  std::string FPath = FDir.File("statistics.xlsx");
  TSheetRef FSheet;
  void SetUp() override {
    // A1:A8 the numbers 2 4 4 4 5 5 7 9 (mean 5, population deviation 2);
    // B1:B3 text, TRUE, 3; D11:D16 subtotals' data with row 12 hidden, D14
    // a subtotal itself and D16 another formula; E11 an error.
    std::string rows;
    const char* a[] = {"2", "4", "4", "4", "5", "5", "7", "9"};
    for (int r = 1; r <= 8; ++r) {
      rows += "<row r=\"" + std::to_string(r) + "\"><c r=\"A" + std::to_string(r) + "\"><v>" + a[r - 1] + "</v></c>";
      if (r == 1) rows += "<c r=\"B1\" t=\"inlineStr\"><is><t>text</t></is></c>";
      if (r == 2) rows += "<c r=\"B2\" t=\"b\"><v>1</v></c>";
      if (r == 3) rows += "<c r=\"B3\"><v>3</v></c>";
      rows += "</row>";
    }
    rows +=
        "<row r=\"11\"><c r=\"D11\"><v>1</v></c><c r=\"E11\" t=\"e\"><v>#N/A</v></c></row>"
        "<row r=\"12\" hidden=\"1\"><c r=\"D12\"><v>2</v></c><c r=\"E12\"><v>5</v></c></row>"
        "<row r=\"13\"><c r=\"D13\"><v>4</v></c></row>"
        "<row r=\"14\"><c r=\"D14\"><f>SUBTOTAL(9,D11:D13)</f></c></row>"
        "<row r=\"15\"><c r=\"D15\"><v>8</v></c></row>"
        "<row r=\"16\"><c r=\"D16\"><f>D15*2</f></c></row>";
    TBookLayout layout;
    layout.Sheets = {{"Data", "<sheetData>" + rows + "</sheetData>"}};
    WriteBook(FPath, layout);
    FSheet = Sheet(Open(FPath), 1);
  }
  std::string Result(std::u16string_view formula) {
    PutText(FSheet, 20, 20, formula);
    Variant v = Get(FSheet, 20, 20);
    if (v.VType() == rtl::varError) {
      switch (v.VError() & 0xFFFF) {
        case 2007: return "#DIV/0!";
        case 2015: return "#VALUE!";
        case 2036: return "#NUM!";
        case 2042: return "#N/A";
      }
      return "#?";
    }
    return Text(v);
  }
};

TEST_F(StatisticsTest, StatisticsFollowTheApplicationsArgumentRules) {
  const struct {
    std::u16string Formula;
    std::string Expected;
  } cases[] = {
      // The *A variants: text in references is 0, Booleans 0 or 1.
      {u"=AVERAGEA(A1:A2,B1:B2)", "1.75"},
      {u"=AVERAGEA(\"2\",TRUE)", "1.5"},
      {u"=AVERAGEA(\"x\")", "#VALUE!"},
      {u"=AVERAGEA(C1:C5)", "#DIV/0!"},
      {u"=MAXA(B1:B2)", "1"},
      {u"=MINA(B1:B3)", "0"},
      {u"=MINA(A1:A8,B2)", "1"},
      {u"=MAXA(C1:C5)", "0"},
      // Order statistics: only numbers of references count.
      {u"=LARGE(A1:A8,1)", "9"},
      {u"=LARGE(A1:A8,2)", "7"},
      {u"=LARGE(B1:B3,1)", "3"},
      {u"=LARGE({3,1,2},3)", "1"},
      {u"=SMALL(A1:A8,3)", "4"},
      {u"=SMALL(A1:A8,1.9)", "2"},
      {u"=SMALL(A1:A8,0)", "#NUM!"},
      {u"=SMALL(A1:A8,9)", "#NUM!"},
      {u"=MEDIAN(A1:A8)", "4.5"},
      {u"=MEDIAN(1,2,3)", "2"},
      {u"=MEDIAN(1,\"3\",TRUE)", "1"},
      {u"=MEDIAN(C1:C5)", "#NUM!"},
      {u"=MODE(A1:A8)", "4"},
      {u"=MODE.SNGL({1,2,2,1})", "1"},
      {u"=MODE(1,2,3)", "#N/A"},
      {u"=RANK(5,A1:A8)", "3"},
      {u"=RANK(5,A1:A8,1)", "5"},
      {u"=RANK.EQ(4,A1:A8)", "5"},
      {u"=RANK(6,A1:A8)", "#N/A"},
      // Spread of a sample and of a population.
      {u"=STDEV.P(A1:A8)", "2"},
      {u"=STDEVP(A1:A8)", "2"},
      {u"=VAR.P(A1:A8)", "4"},
      {u"=VARP(A1:A8)", "4"},
      {u"=ROUND(VAR(A1:A8),9)", "4.571428571"},
      {u"=ROUND(VAR.S(A1:A8),9)", "4.571428571"},
      {u"=ROUND(STDEV(1,3),9)", "1.414213562"},
      {u"=ROUND(STDEV.S(A1:A8),9)", "2.138089935"},
      {u"=VAR.S(1)", "#DIV/0!"},
      {u"=STDEV.P(C1:C5)", "#DIV/0!"},
      {u"=VAR(1E+300,-1E+300)", "#NUM!"},
      // SUBTOTAL: nested subtotals left out, 101-111 without hidden rows.
      {u"=SUBTOTAL(9,D11:D16)", "31"},
      {u"=SUBTOTAL(109,D11:D16)", "29"},
      {u"=SUBTOTAL(1,D11:D15)", "3.75"},
      {u"=SUBTOTAL(101,D11:D15)", "4.33333333333333"},
      {u"=SUBTOTAL(2,D11:D16)", "5"},
      {u"=SUBTOTAL(102,D11:D16)", "4"},
      {u"=SUBTOTAL(3,D11:E16)", "7"},
      {u"=SUBTOTAL(103,D11:E16)", "5"},
      {u"=SUBTOTAL(4,D11:D15)", "8"},
      {u"=SUBTOTAL(105,D11:D15)", "1"},
      {u"=SUBTOTAL(6,D11:D15)", "64"},
      {u"=SUBTOTAL(106,D11:D15)", "32"},
      {u"=SUBTOTAL(8,A1:A8)", "2"},
      {u"=SUBTOTAL(10,A1:A8)-32/7", "0"},
      {u"=SUBTOTAL(9,D11:D15,A1:A2)", "21"},
      {u"=SUBTOTAL(9,D11:E12)", "#N/A"},
      {u"=SUBTOTAL(9,D11:D15,5)", "20"},
      {u"=SUBTOTAL(12,D11:D15)", "#VALUE!"},
      {u"=SUBTOTAL(100,D11:D15)", "#VALUE!"},
      {u"=SUBTOTAL(1E+300,D11:D15)", "#VALUE!"},
      {u"=D14", "7"},
  };
  for (const auto& c : cases) EXPECT_EQ(Result(c.Formula), c.Expected) << rtl::UnicodeToUtf8(c.Formula);
}

}  // namespace
}  // namespace spreadsheet::testing
