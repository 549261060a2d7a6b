// Financial functions: the application's documented examples, the errors
// of impossible loans and of rates that do not converge, and a differential
// run against LibreOffice over generated loans and cash flows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FunctionCheck.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

class FinancialFunctionsTest : public FunctionCheckTest {
 protected:
  void SetUp() override { MakeBook(); }
};

TEST_F(FinancialFunctionsTest, LoansAndCashFlowsGiveTheDocumentedResults) {
  // A1:A6 cash flows with a text and a blank cell among them (skipped).
  const double flows[] = {-70000, 12000, 15000, 18000, 21000, 26000};
  for (int i = 0; i < 6; ++i) Put(FSheet, i + 1, 1, Variant(flows[i]));
  PutText(FSheet, 7, 1, u"note");
  Put(FSheet, 9, 1, Variant(0.0));
  const struct {
    std::u16string Formula;
    std::string Expected;
  } cases[] = {
      {u"=PMT(0.08/12,10,10000)", "-1037.03"},
      {u"=PMT(0.08/12,10,10000,0,1)", "-1030.16"},
      {u"=PMT(0.06/12,18*12,0,50000)", "-129.08"},
      {u"=PMT(0,10,1000)", "-100"},
      {u"=PMT(0.1,0,100)", "#NUM!"},
      {u"=PMT(\"x\",10,100)", "#VALUE!"},
      {u"=FV(0.06/12,10,-200,-500,1)", "2581.40"},
      {u"=FV(0.12/12,12,-1000)", "12682.50"},
      {u"=FV(0.11/12,35,-2000,,1)", "82846.25"},
      {u"=FV(0,12,-100,-1000)", "2200"},
      {u"=PV(0.08/12,12*20,500,,0)", "-59777.15"},
      {u"=PV(0,10,-100)", "1000"},
      {u"=NPER(0.12/12,-100,-1000,10000,1)", "59.6738657"},
      {u"=NPER(0.12/12,-100,-1000,10000)", "60.0821229"},
      {u"=NPER(0.12/12,-100,-1000)", "-9.57859404"},
      {u"=NPER(0,-100,1000)", "10"},
      {u"=NPER(0.1,100,1000)", "-7.27254090"},
      {u"=NPER(0.1,-50,1000)", "#NUM!"},
      {u"=IPMT(0.1/12,1,3*12,8000)", "-66.67"},
      {u"=IPMT(0.1,3,3,8000)", "-292.45"},
      {u"=IPMT(0.1,1,3,8000,0,1)", "0"},
      {u"=IPMT(0.1,0,3,8000)", "#NUM!"},
      {u"=IPMT(0.1,4,3,8000)", "#NUM!"},
      {u"=PPMT(0.1/12,1,2*12,2000)", "-75.62"},
      {u"=PPMT(0.08,10,10,200000)", "-27598.05"},
      {u"=NPV(0.1,-10000,3000,4200,6800)", "1188.44"},
      {u"=NPV(0.08,A2:A6)+A1", "1390.96"},
      {u"=NPV(0.1,A1:A9)", "-2439.37"},  // text and blank skipped, the final 0 discounted
      {u"=NPV(0.1,\"100\")", "90.9090909"},
      {u"=NPV(0.1,\"x\")", "#VALUE!"},
      {u"=NPV(-1,100)", "#DIV/0!"},
      {u"=IRR(A1:A5)", "-0.021244848"},
      {u"=IRR(A1:A6)", "0.086630948"},
      {u"=IRR(A1:A3,-0.1)", "-0.443506941"},
      {u"=IRR({-100,110})", "0.1"},
      {u"=IRR({1,2,3})", "#NUM!"},
      {u"=IRR(A2:A6)", "#NUM!"},
      {u"=RATE(4*12,-200,8000)", "0.007701472"},
      {u"=RATE(4*12,-200,8000)*12", "0.09241767"},
      {u"=RATE(10,-100,1000)", "0.0000000"},
      {u"=RATE(360,-500,50000)", "0.0096892458"},
      {u"=RATE(360,-500,50000,0,1,0.5)", "0.00979586"},
      {u"=RATE(10,100,1000)", "#NUM!"},
      {u"=RATE(0,-100,1000)", "#NUM!"},
  };
  for (const auto& c : cases) {
    std::string result = Result(c.Formula);
    EXPECT_TRUE(Matches(result, c.Expected))
        << rtl::UnicodeToUtf8(c.Formula) << " gives " << result << ", expected " << c.Expected;
  }
}

// Generated loans (rates, periods, payments at either end of the period)
// and cash-flow series; LibreOffice recalculates the saved workbook.
TEST_F(FinancialFunctionsTest, GeneratedFormulasAgreeWithLibreOffice) {
  std::string why = WhyNoRecalculation();
  if (!why.empty()) GTEST_SKIP() << why;
  const int rows = 120;
  FBook->Close(false);
  FPath = FDir.File("generated.xlsx");
  MakeBook("", rows, 16, 30);
  std::mt19937 random(DifferentialSeed());
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  std::vector<TDifferentialCell> cells;
  for (int row = 1; row <= rows; ++row) {
    // A rate, B periods, C payment, D present value, E future value, F type,
    // G period; H:M a cash-flow series starting with an outlay.
    // Loans whose balance grows at most e^8-fold: beyond that every
    // application's results are mostly rounding noise.
    double rate = row % 9 == 0 ? 0 : uniform(-20, 300) / 1000.0;
    int longest = rate == 0 ? 360 : std::min(360, static_cast<int>(8 / std::fabs(std::log1p(rate))));
    int nper = uniform(1, std::max(1, longest)), type = uniform(0, 1), per = uniform(1, nper);
    double pv = uniform(-100000, 100000), fv = row % 3 ? 0 : uniform(-50000, 50000);
    double pmt = -(pv * (rate + 0.001)) + uniform(-50, 50);
    const double values[] = {rate, double(nper), pmt, pv, fv, double(type), double(per)};
    for (int k = 0; k < 7; ++k) Put(FSheet, row, 1 + k, Variant(values[k]));
    Put(FSheet, row, 8, Variant(static_cast<double>(-uniform(1000, 100000))));
    // An outlay and returns: one change of sign, so one rate above -100%.
    for (int k = 1; k < 6; ++k) Put(FSheet, row, 8 + k, Variant(static_cast<double>(uniform(0, 40000))));
    std::string r = std::to_string(row);
    std::string A = "A" + r, B = "B" + r, C = "C" + r, D = "D" + r, E = "E" + r, F = "F" + r, G = "G" + r;
    std::string flows = "H" + r + ":M" + r, advance = rate < 0.1 ? F : "0";
    std::vector<std::string> formulas = {
        "PMT(" + A + "," + B + "," + D + "," + E + "," + F + ")",
        "FV(" + A + "," + B + "," + C + "," + D + "," + F + ")",
        "PV(" + A + "," + B + "," + C + "," + E + "," + F + ")",
        "NPER(" + A + "," + C + "," + D + "," + E + "," + F + ")",
        "IPMT(" + A + "," + G + "," + B + "," + D + "," + E + "," + F + ")",
        "PPMT(" + A + "," + G + "," + B + "," + D + "," + E + "," + F + ")",
        // Loans paid off in full over two periods or more: one rate above
        // -100% repays them. LibreOffice stops short of 1e-9 at a zero
        // rate, and for payments in advance at high rates it lands on -100%,
        // where the undiscounted balance also vanishes.
        "RATE(MAX(2," + B + "),PMT(" + (rate == 0 ? "0.01" : A) + ",MAX(2," + B + ")," + D + ",0," + advance + ")," +
            D + ",0," + advance + ")",
        "NPV(" + A + "," + flows + ")",
        "NPV(" + A + ",H" + r + ",1000," + flows + ")",
        "IRR(" + flows + ")",
        "IRR(" + flows + ",0.3)",
    };
    for (size_t k = 0; k < formulas.size(); ++k) PutForComparison(row, 16 + static_cast<int>(k), formulas[k], cells);
  }
  ExpectLibreOfficeAgrees(cells);
}

}  // namespace
}  // namespace spreadsheet::testing
