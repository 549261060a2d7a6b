// Shared by the tests of function groups: a one-sheet workbook where a
// formula is written and its result read back as text, a comparison of
// that text with an expected value, and a differential check of many
// formulas against LibreOffice's recalculation of the saved workbook.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "ServerFixture.h"

namespace spreadsheet::testing {

// A differential run: cells whose formulas Korva computes and LibreOffice
// recalculates from the saved file; every pair must agree (numbers to 1e-9
// relative, text and errors exactly).
struct TDifferentialCell {
  int Row, Column;
  std::string Formula;
  std::string Korva;  // as FunctionCheckTest::Shown gives it
};

inline unsigned DifferentialSeed() {
  // A fixed seed in CI; KORVA_CALC_SEED=<n> by hand explores others.
  const char* seed = std::getenv("KORVA_CALC_SEED");
  return seed ? static_cast<unsigned>(std::strtoul(seed, nullptr, 10)) : 20261209u;
}

// Compares Korva's results with LibreOffice's values of sheet `sheetName`;
// returns the disagreements, one line each.
inline std::vector<std::string> Disagreements(const std::vector<TDifferentialCell>& cells, const TSheetValues& office) {
  std::vector<std::string> wrong;
  for (const auto& cell : cells) {
    std::string theirs = office.At(static_cast<size_t>(cell.Row), static_cast<size_t>(cell.Column));
    // LibreOffice shows as "Err:502" (invalid argument) and "Err:523" (no
    // convergence) what it saves as #NUM!.
    if (theirs == "Err:502" || theirs == "Err:523") theirs = "#NUM!";
    const std::string& ours = cell.Korva;
    bool same;
    char* end = nullptr;
    double a = std::strtod(ours.c_str(), &end);
    bool ourNumber = !ours.empty() && *end == '\0';
    double b = std::strtod(theirs.c_str(), &end);
    bool theirNumber = !theirs.empty() && *end == '\0';
    if (ourNumber && theirNumber)
      same = std::fabs(a - b) <= 1e-9 * std::max(1.0, std::fabs(b));
    else if (ours.size() >= 2 && ours.front() == '"')
      same = ours.substr(1, ours.size() - 2) == theirs;
    else
      same = ours == theirs;
    if (!same) wrong.push_back("=" + cell.Formula + ": Korva " + ours + ", LibreOffice " + theirs);
  }
  return wrong;
}

class FunctionCheckTest : public ServerTest {
 protected:
  std::string FPath = FDir.File("book.xlsx");
  TBookRef FBook;
  TSheetRef FSheet;

  // A workbook with one sheet "Data"; `workbookExtra` as TBookLayout takes
  // it. Cells of rows 1..`rows`, columns `column1`..`column2` are styled
  // with a plain number format: LibreOffice would otherwise show the results
  // of date, time and rate functions as dates, times and percentages.
  void MakeBook(const std::string& workbookExtra = "", int rows = 0, int column1 = 0, int column2 = 0) {
    TBookLayout layout;
    std::string data = "<sheetData>";
    for (int row = 1; row <= rows; ++row) {
      data += "<row r=\"" + std::to_string(row) + "\">";
      for (int column = column1; column <= column2; ++column)
        data += "<c r=\"" + ColumnName(column) + std::to_string(row) + "\" s=\"1\"/>";
      data += "</row>";
    }
    layout.Sheets = {{"Data", data + "</sheetData>"}};
    layout.CellXfs +=
        "<xf numFmtId=\"2\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
    layout.WorkbookExtra = workbookExtra;
    WriteBook(FPath, layout);
    FBook = Open(FPath);
    FSheet = Sheet(FBook, 1);
  }

  static std::string ColumnName(int column) {
    std::string name;
    for (; column > 0; column = (column - 1) / 26)
      name.insert(name.begin(), static_cast<char>('A' + (column - 1) % 26));
    return name;
  }

  // The value at a cell as text: "#NUM!", "TRUE", "\"text\"" or the number.
  static std::string Shown(const rtl::Variant& v) {
    if (v.VType() == rtl::varError) {
      return ErrorName(v.VError());
    }
    if (v.VType() == rtl::varBoolean) return v.VBoolean() ? "TRUE" : "FALSE";
    if (v.VType() == rtl::varOleStr) return "\"" + Text(v) + "\"";
    if (v.VType() == rtl::varEmpty) return "";
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", v.AsDouble());
    return buffer;
  }

  std::string Result(std::u16string_view formula) {
    PutText(FSheet, 100, 26, formula);
    return Shown(Get(FSheet, 100, 26));
  }

  // Whether a result matches the expectation: numbers written with decimals
  // match to those decimals (documentation examples are rounded), whole
  // numbers and everything else exactly.
  static bool Matches(const std::string& result, const std::string& expected) {
    char* end = nullptr;
    double want = std::strtod(expected.c_str(), &end);
    if (expected.empty() || *end != '\0') return result == expected;
    char* resultEnd = nullptr;
    double got = std::strtod(result.c_str(), &resultEnd);
    if (result.empty() || *resultEnd != '\0') return false;
    size_t point = expected.find('.');
    if (point == std::string::npos) return got == want;
    int decimals = static_cast<int>(expected.size() - point - 1);
    return std::fabs(got - want) <= 0.5000001 * std::pow(10.0, -decimals);
  }

  // Writes a formula and keeps what Korva computes for the comparison.
  void PutForComparison(int row, int column, const std::string& formula, std::vector<TDifferentialCell>& cells) {
    PutText(FSheet, row, column, rtl::Utf8ToUnicode("=" + formula));
    cells.push_back({row, column, formula, Shown(Get(FSheet, row, column))});
  }

  // Saves the book, lets LibreOffice recalculate it and expects every cell
  // to agree with what Korva computed.
  void ExpectLibreOfficeAgrees(const std::vector<TDifferentialCell>& cells) {
    SaveAndClose(FBook);
    TRecalculation office = Recalculate(FPath);
    ASSERT_EQ(office.Failure, "");
    std::vector<std::string> wrong = Disagreements(cells, office.Sheet("Data"));
    std::string shown;
    for (size_t i = 0; i < wrong.size() && i < 200; ++i) shown += wrong[i] + "\n";
    EXPECT_TRUE(wrong.empty()) << wrong.size() << " of " << cells.size() << " disagree (seed " << DifferentialSeed()
                               << "):\n"
                               << shown;
  }
};


}  // namespace spreadsheet::testing
