// The bundled example run by the korva program, with its result calculated
// by LibreOffice: the totals the table shows must be the sums of its rows.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
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

TEST(ExampleRecalculation, TheTotalRowOfTheFilledOrdersTableSumsItsColumns) {
  std::string why = korva::calc::WhyNoRecalculation();
  if (!why.empty()) GTEST_SKIP() << why;
  std::filesystem::path folder = std::filesystem::temp_directory_path() / ("korva-example-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  struct TCleanup {
    std::filesystem::path Path;
    ~TCleanup() {
      std::error_code ignored;
      std::filesystem::remove_all(Path, ignored);
    }
  } cleanup{folder};
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

}  // namespace
