// Whole jobs under a real German locale (decimal comma, list separator ";"),
// generated for the test run with localedef: numbers a script reads and
// writes follow the user's settings, the workbook file stays in C form, and
// the bundled example runs as its README says.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/cli/JobTestSupport.h"

using namespace korva::test;

namespace {

namespace fs = std::filesystem;

std::string Shell(const std::string& command, int& status) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  int raw = pclose(pipe);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return out;
}

class GermanLocale : public ::testing::Test {
 protected:
  // One compiled locale for the whole suite; empty when it cannot be made.
  static void SetUpTestSuite() {
    Dir = new TTempFolder;
    int status = -1;
    Shell("localedef -i de_DE -f UTF-8 '" + Dir->File("de_DE.UTF-8") + "' >/dev/null 2>&1", status);
    Ready = status == 0 && fs::exists(Dir->File("de_DE.UTF-8"));
  }
  static void TearDownTestSuite() {
    delete Dir;
    Dir = nullptr;
  }
  void SetUp() override {
    if (!Ready) GTEST_SKIP() << "localedef (Debian package locales) cannot build de_DE.UTF-8 here";
  }

  static TKorvaRun Run(const std::string& args, const std::string& dir) {
    TKorvaRun run{{}, -1};
    run.output = Shell("cd '" + dir + "' && LOCPATH='" + Dir->Path() + "' LC_ALL=de_DE.UTF-8 " + KORVA_BINARY + " " +
                           args + " 2>&1",
                       run.status);
    return run;
  }

  static inline TTempFolder* Dir = nullptr;
  static inline bool Ready = false;
};

}  // namespace

// The settings come from the locale: the help shows ";" as the list separator.
// Number texts follow the German separators, StrToFloat keeps the point, and
// what reaches the workbook file is a number and a date, not locale text.
TEST_F(GermanLocale, NumbersFollowTheSettingsAndTheWorkbookStaysInCForm) {
  TKorvaRun help = Run("--help", ".");
  EXPECT_NE(help.output.find("(;)"), std::string::npos) << help.output;

  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("s.rops", R"(var
  S: string;
  D: TDateTime;
  Sheet: TqovSheet;
begin
  Sheet := DOCUMENT.SheetByName['Data'];
  D := EncodeDate(2026, 1, 2);
  Sheet.Cell[8, 1] := D;
  Sheet.Cell[8, 2] := StrToFloatEx('1234,5');
  S := FloatToStr(StrToFloatEx('1,5')) + '|' + FloatToStr(StrToFloatDefEx('1,5', -1)) + '|' +
    FloatToStr(StrToFloatDefEx('1.5', -1)) + '|' + FloatToStr(StrToFloat('1.5')) + '|' +
    FloatToStr(StrToFloatEx(' -2,5E3 ')) + '|' + Format('%.2f', [1234.5]) + '|' +
    FormatFloat('#,##0.00', 1234.5) + '|' + FormatFloat('0.00,', 1234.5) + '|' + FloatToStr(Sheet.Cell[8, 2]);
  try
    StrToFloat('1,5');
  except
    S := S + '|' + ExceptionParam;
  end;
  try
    StrToFloatEx('1.5');
  except
    S := S + '|' + ExceptionParam;
  end;
  RaiseException(erCustomError, S);
end.
)");
  TKorvaRun run = Run("-x book.xlsx s.rops", dir.Path());
  EXPECT_NE(run.output.find("1.500000000000|1.500000000000|-1.000000000000|1.500000000000|-2500.000000000000|"
                            "1234,50|1.234,50|1.234,50|1234.500000000000|Invalid float|"
                            "'1.5' is not a valid floating point value"),
            std::string::npos)
      << run.output;
  EXPECT_EQ(Python("from openpyxl import load_workbook\nws = load_workbook('" + dir.File("book.xlsx") +
                   "')['Data']\nprint(repr(ws['A8'].value), repr(ws['B8'].value))\n"),
            "datetime.datetime(2026, 1, 2, 0, 0) 1234.5\n");
}

// The README's command for the bundled example, in a German locale: the CSV
// delimiter is named, the CSV numbers keep their decimal point, and the
// totals text follows the German settings.
TEST_F(GermanLocale, TheBundledExampleRunsAsDocumented) {
  TTempFolder dir;
  const std::string examples = std::string(KORVA_SOURCE_DIR) + "/examples/";
  for (const char* name : {"orders.csv", "fill_orders.rops"}) fs::copy_file(examples + name, dir.File(name));
  fs::copy_file(examples + "template.xlsx", dir.File("orders.xlsx"));
  TKorvaRun run = Run("-x orders.xlsx -c orders.csv -d , -p \"November 2026\" -p 1003 fill_orders.rops", dir.Path());
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Python("from openpyxl import load_workbook\nws = load_workbook('" + dir.File("orders.xlsx") +
                   "')['Orders']\n"
                   "print([ws.cell(r, 6).value for r in range(5, 10)], ws['C5'].value.date(), ws['A12'].value)\n"),
            "[71.25, 487.13, 109.38, 3123.75, 230] 2026-11-03 Total with VAT 25%: 4.021,51\n");
}
