// Jobs run by the korva program, with their results calculated by
// LibreOffice: the bundled example's totals must be the sums of its rows, and
// the values Korva computes and saves must be those LibreOffice computes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "support/LibreOfficeCalc.h"

namespace {

using korva::calc::TSheetValues;

std::string RunCommand(const std::string& command, int& status) {
  std::string output;
  status = -1;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
    int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  return output;
}

// A folder of this process, removed with everything in it at the end.
struct TTempFolder {
  std::filesystem::path Path;
  explicit TTempFolder(const std::string& prefix)
      : Path(std::filesystem::temp_directory_path() / (prefix + std::to_string(getpid()))) {
    std::filesystem::create_directories(Path);
  }
  ~TTempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
};

TEST(ExampleRecalculation, TheTotalRowOfTheFilledOrdersTableSumsItsColumns) {
  std::string why = korva::calc::WhyNoRecalculation();
  if (!why.empty()) GTEST_SKIP() << why;
  TTempFolder temp("korva-example-");
  const std::filesystem::path& folder = temp.Path;
  std::string examples = std::string(KORVA_SOURCE_DIR) + "/examples";
  std::string book = (folder / "orders.xlsx").string();
  std::filesystem::copy_file(examples + "/template.xlsx", book);

  // As build.sh runs it: from the examples folder, in C.UTF-8.
  int status;
  std::string output = RunCommand("cd '" + examples + "' && LC_ALL=C.UTF-8 '" + KORVA_BINARY + "' -x '" + book +
                                      "' -c orders.csv -p 'November 2026' -p 1003 fill_orders.rops 2>&1",
                                  status);
  ASSERT_EQ(status, 0) << output;
  EXPECT_EQ(output, "");

  korva::calc::TRecalculation calc = korva::calc::Recalculate(book);
  RecordProperty("soffice_seconds", std::to_string(calc.Seconds));
  ASSERT_EQ(calc.Failure, "");
  const TSheetValues& orders = calc.Sheet("Orders");
  // Data rows start below the header in row 4 and end above "Total".
  size_t totalRow = 0;
  for (size_t row = 5; row <= orders.Rows.size() && !totalRow; ++row)
    if (orders.At(row, 1) == "Total") totalRow = row;
  ASSERT_EQ(totalRow, 10u) << "one row per order of orders.csv";
  for (const char* column : {"D", "F"}) {
    double sum = 0;
    for (size_t row = 5; row < totalRow; ++row) {
      std::string cell = column + std::to_string(row);
      double value = orders.Number(cell);
      EXPECT_FALSE(std::isnan(value)) << cell << " holds \"" << orders.At(cell) << "\"";
      sum += value;
    }
    std::string total = column + std::to_string(totalRow);
    EXPECT_NEAR(orders.Number(total), sum, 1e-9) << total << " holds \"" << orders.At(total) << "\"";
  }
  // The totals agree with orders.csv and with the summary line the script wrote.
  EXPECT_EQ(orders.At("D10"), "306");
  EXPECT_EQ(orders.At("F10"), "4021.51");
  EXPECT_EQ(orders.At("A12"), "Total with VAT 25%: 4,021.51");
  EXPECT_EQ(calc.Sheet("Rates").At("B1"), "25%");
}

// An invoice template whose net, VAT, gross and due date are formulas: the
// script inserts rows inside the summed range and fills them, then copies the
// computed gross into A1. Every reader must see current results without
// recalculating: the cached values Korva saves equal LibreOffice's.
TEST(ExampleRecalculation, SavedResultsOfAFilledInvoiceAreWhatTheApplicationComputes) {
  std::string why = korva::calc::WhyNoRecalculation();
  if (!why.empty()) GTEST_SKIP() << why;
  TTempFolder temp("korva-invoice-");
  const std::filesystem::path& folder = temp.Path;
  std::string book = (folder / "invoice.xlsx").string();
  int status;
  std::string made = RunCommand(
      "/usr/bin/python3 -c \"import openpyxl\n"
      "wb = openpyxl.Workbook(); ws = wb.active; ws.title = 'Invoice'\n"
      "ws['A2'] = 'Date'; ws['B2'] = 46329; ws['A3'] = 'Due'; ws['B3'] = '=B2+30'\n"
      "ws['A10'] = 'first'; ws['B10'] = 2; ws['C10'] = 12.5; ws['D10'] = '=B10*C10'\n"
      "ws['A11'] = 'last'; ws['B11'] = 1; ws['C11'] = 99.99; ws['D11'] = '=B11*C11'\n"
      "ws['C13'] = 'Net'; ws['D13'] = '=SUM(D10:D11)'\n"
      "ws['C14'] = 'VAT'; ws['D14'] = '=ROUND(D13*0.2,2)'\n"
      "ws['E20'] = 'Gross'; ws['F20'] = '=D13+D14'\n"
      "ws['E21'] = 'Paid'; ws['F21'] = '=IF(F20>100,\\\"check\\\",\\\"ok\\\")'\n"
      "wb.save('" +
          book + "')\" 2>&1",
      status);
  if (status != 0) GTEST_SKIP() << "openpyxl could not make the template: " << made;
  std::ofstream((folder / "fill.rops").string()) << "var S: TqovSheet; I: Integer;\n"
                                                    "begin\n"
                                                    "  S := DOCUMENT.Sheet[1];\n"
                                                    "  for I := 1 to 3 do begin\n"
                                                    "    S.InsertRow(11);\n"
                                                    "    S.Cell[11, 1] := 'item ' + IntToStr(I);\n"
                                                    "    S.Cell[11, 2] := I;\n"
                                                    "    S.Cell[11, 3] := 10.1 * I;\n"
                                                    "    S.Cell[11, 4] := '=B11*C11';\n"
                                                    "  end;\n"
                                                    "  S.Cell[2, 2] := '2026-12-31';\n"
                                                    "  S.Cell[1, 1] := S.CellByName['F23'];\n"
                                                    "end.\n";
  std::string output = RunCommand(
      "cd '" + folder.string() + "' && LC_ALL=C.UTF-8 '" + KORVA_BINARY + "' -x invoice.xlsx fill.rops 2>&1", status);
  ASSERT_EQ(status, 0) << output;

  // What the file says without recalculating, as every previewer reads it.
  std::string cached = RunCommand(
      "/usr/bin/python3 -c \"import openpyxl\n"
      "ws = openpyxl.load_workbook('" +
          book +
          "', data_only=True)['Invoice']\n"
          "for c in ['A1','B3','D11','D14','D16','D17','F23','F24']: print(c, ws[c].value)\" 2>&1",
      status);
  ASSERT_EQ(status, 0) << cached;
  korva::calc::TRecalculation calc = korva::calc::Recalculate(book);
  ASSERT_EQ(calc.Failure, "");
  const TSheetValues& invoice = calc.Sheet("Invoice");
  std::istringstream lines(cached);
  std::string cell, value;
  int compared = 0;
  while (lines >> cell >> value) {
    ++compared;
    double saved = std::strtod(value.c_str(), nullptr), computed = invoice.Number(cell);
    if (cell == "B3") {  // LibreOffice shows a date; the file holds its serial number
      EXPECT_EQ(value, "46417");
      EXPECT_EQ(invoice.At(cell), "01/30/2027");
    } else if (std::isnan(computed))
      EXPECT_EQ(value, invoice.At(cell)) << cell;
    else
      EXPECT_NEAR(saved, computed, 1e-9 * std::max(1.0, std::fabs(computed))) << cell;
  }
  EXPECT_EQ(compared, 8) << cached;
  // 3 inserted rows: the net sums 2*12.5 + 1*10.1 + 2*20.2 + 3*30.3 + 99.99, the gross moved to F23.
  EXPECT_NEAR(invoice.Number("D16"), 25 + 141.4 + 99.99, 1e-9);
  EXPECT_EQ(invoice.At("A1"), invoice.At("F23"));
  EXPECT_EQ(invoice.At("F24"), "check");
}

}  // namespace

// The bundled monthly report: a sheet per month copied from the template's
// Orders sheet, named, filled and formatted; LibreOffice shows each month's
// totals and formats as the script meant them.
TEST(ExampleRecalculation, TheMonthlyReportHasASheetPerMonthWithItsOwnTotals) {
  std::string why = korva::calc::WhyNoRecalculation();
  if (!why.empty()) GTEST_SKIP() << why;
  TTempFolder temp("korva-monthly-");
  std::string examples = std::string(KORVA_SOURCE_DIR) + "/examples";
  std::string book = (temp.Path / "report.xlsx").string();
  std::filesystem::copy_file(examples + "/template.xlsx", book);
  int status;
  std::string output = RunCommand("cd '" + examples + "' && LC_ALL=C.UTF-8 '" + KORVA_BINARY + "' -x '" + book +
                                      "' -c monthly.csv -d , monthly_report.rops 2>&1",
                                  status);
  ASSERT_EQ(status, 0) << output;
  korva::calc::TRecalculation calc = korva::calc::Recalculate(book, true);
  ASSERT_EQ(calc.Failure, "");
  EXPECT_EQ(calc.Sheets.size(), 4u);  // Rates and three months; the template sheet went
  const TSheetValues& november = calc.Sheet("Nov 2026");
  EXPECT_EQ(november.At("A1"), "Orders Nov 2026: 3 orders, 1,126.50 with VAT");
  EXPECT_EQ(november.At("C5"), "04.11.2026");
  EXPECT_EQ(november.At("F8"), "1,126.50");
  EXPECT_EQ(calc.Sheet("Sep 2026").At("F7"), "558.38");
  EXPECT_EQ(calc.Sheet("Oct 2026").At("D8"), "291");
}
