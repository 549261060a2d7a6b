// What a script is told when the server refuses a cell, row, column, name
// or sheet: the application's own text, then which value was wrong, exactly
// as the user reads it in the report of the run.
#include <gtest/gtest.h>

#include "JobTestSupport.h"

using namespace korva::test;

namespace {

TEST(ServerErrorReport, RefusalsKeepTheApplicationsTextAndSayWhatIsWrong) {
  const std::string objectError = "Application-defined or object-defined error";
  const std::string rangeError = "Method 'Range' of object '_Worksheet' failed";
  struct TCase {
    const char* Statement;
    std::string Message;
  } cases[] = {
      {"S.Cell[2000000, 1] := 1", objectError + " (row 2000000 is beyond the last row, 1048576)"},
      {"S.Cell[0, 1] := 1", objectError + " (row 0 is before the first row, 1)"},
      {"S.Cell[1, 16385] := 1", objectError + " (column 16385 is beyond the last column, 16384)"},
      {"v := S.Cell[1, 0]", objectError + " (column 0 is before the first column, 1)"},
      {"S.CellLocked[-5, 1] := True", objectError + " (row -5 is before the first row, 1)"},
      {"S.InsertRow(0)", objectError + " (row 0 is before the first row, 1)"},
      {"S.InsertRow(1048577)", objectError + " (row 1048577 is beyond the last row, 1048576)"},
      {"S.InsertColumn(16385)", objectError + " (column 16385 is beyond the last column, 16384)"},
      {"S.AutoFitColumn(0)", objectError + " (column 0 is before the first column, 1)"},
      {"v := S.CellByName['Nowhere']", rangeError + " (no defined name \"Nowhere\" refers to this sheet)"},
      {"S.CellByName['B0'] := 1", rangeError + " (\"B0\" is not a cell of the sheet, which ends at XFD1048576)"},
      {"S.CellByName['XFE1'] := 1", rangeError + " (\"XFE1\" is not a cell of the sheet, which ends at XFD1048576)"},
      {"DOCUMENT.InsertSheet(5)", "Subscript out of range (there is no worksheet 5; the workbook has 2)"},
  };
  TTempFolder dir;
  MakeTemplate(dir.Path());
  for (const TCase& c : cases) {
    dir.Write("job.rops", std::string("var S: TqovSheet; v: Variant;\nbegin\n  S := DOCUMENT.Sheet[1];\n  ") +
                              c.Statement + ";\nend.\n");
    TKorvaRun run = RunKorva("-x book.xlsx job.rops", dir.Path());
    std::vector<std::string> lines = Lines(run.output);
    ASSERT_GE(lines.size(), 2u) << run.output;
    EXPECT_EQ(lines[0], "Fatal Error: Runtime error") << c.Statement;
    EXPECT_EQ(lines[1].substr(0, lines[1].find(" at line 4, column")), "Exception: " + c.Message) << c.Statement;
    EXPECT_EQ(run.status, 1);
  }
}

}  // namespace
