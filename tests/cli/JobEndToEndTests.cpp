// Whole jobs through the korva binary: CSV files in every encoding and
// delimiter filling a template table, parameters, the failure reports, and
// the workbook saved and closed on every path, checked with openpyxl.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "JobTestSupport.h"

using namespace korva::test;

namespace {

// Fills the template's table from DATA: rows are inserted inside the table
// (at row 4, between its two data rows) for every record past the second.
const char* const FillScript = R"pas(var First, I, N: Integer; Sheet: TqovSheet;
begin
  Sheet := DOCUMENT.Sheet[1];
  if DATA.HasHeaderRow then First := 1 else First := 0;
  N := DATA.RowCount - First;
  for I := 3 to N do Sheet.InsertRow(4);
  for I := 0 to N - 1 do
  begin
    Sheet.Cell[3 + I, 1] := DATA[First + I][0];
    Sheet.Cell[3 + I, 2] := StrToFloatEx(DATA[First + I][1]);
    Sheet.Cell[3 + I, 3] := StrToFloatEx(DATA[First + I][2]);
  end;
end.
)pas";

// Values, formats and formulas of the filled table, one line per row.
std::string ReadTable(const std::string& book) {
  return Python(R"py(
from openpyxl import load_workbook
ws = load_workbook(")py" +
                book + R"py(")["Data"]
for r in range(3, 7):
    a, b, c = (ws.cell(row=r, column=k) for k in (1, 2, 3))
    if r < 6:
        print(a.value, "%g" % b.value, "%g" % c.value, a.font.b, b.number_format, c.number_format)
    else:
        print(a.value, b.value, c.value)
print(ws.tables["T"].ref)
)py");
}

const char* const FilledTable =
    "Čaj 2 1.5 True #,##0 0.00\n"
    "Kava 10 2.25 True #,##0 0.00\n"
    "Mlijeko 3 0.99 True #,##0 0.00\n"
    "Total =SUBTOTAL(109,B3:B5) =SUBTOTAL(109,C3:C5)\n"
    "A2:C6\n";

}  // namespace

TEST(JobEndToEnd, CsvFilesInEveryDelimiterAndEncodingFillTheTable) {
  const std::string rows = "Čaj;2;1.5\nKava;10;2.25\nMlijeko;3;0.99\n";
  auto with = [&](char delimiter, const std::string& lineEnd) {
    std::string text = rows;
    for (char& ch : text)
      if (ch == ';') ch = delimiter;
    std::string out;
    for (size_t start = 0, at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
      out += text.substr(start, at - start) + lineEnd;
    return out;
  };
  struct Case {
    const char* name;
    std::string options;
    std::string bytes;
  } cases[] = {
      {"semicolon with header", "-d ';'", "Name;Qty;Price\n" + with(';', "\n")},
      {"comma with header and UTF-8 BOM, CR LF", "", "\xEF\xBB\xBFName,Qty,Price\r\n" + with(',', "\r\n")},
      {"tab without header", "-d '\\t' --csv-no-header", with('\t', "\n")},
      {"UTF-16 LE with header", "-d ';'", Utf16("Name;Qty;Price\r\n" + with(';', "\r\n"), false)},
      {"UTF-16 BE with header", "", Utf16("Name,Qty,Price\n" + with(',', "\n"), true)},
      {"semicolon without header, no BOM", "-d ';' --csv-no-header", with(';', "\n")},
  };
  for (const auto& c : cases) {
    TTempFolder dir;
    MakeTemplate(dir.Path());
    dir.Write("data.csv", c.bytes);
    dir.Write("fill.rops", FillScript);
    TKorvaRun run = RunKorva("-x book.xlsx -c data.csv " + c.options + " fill.rops", dir.Path());
    EXPECT_EQ(run.output, "") << c.name;
    EXPECT_EQ(run.status, 0) << c.name;
    EXPECT_EQ(ReadTable(dir.File("book.xlsx")), FilledTable) << c.name;
  }
}

TEST(JobEndToEnd, ParametersArriveInCommandLineOrderAndOnlyTheHostsCopyChanges) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("p.rops",
            "var I: Integer;\nbegin\n  PARAMETERS.Add('added');\n"
            "  for I := 0 to PARAMETERS.Count - 1 do DOCUMENT.Sheet[2].Cell[1, I + 1] := PARAMETERS[I];\nend.\n");
  TKorvaRun run = RunKorva("-p zeta -x book.xlsx -p alpha --parameter='m i d' p.rops", dir.Path());
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(Python("from openpyxl import load_workbook\nws = load_workbook('" + dir.File("book.xlsx") +
                   "')['Notes']\nprint([c.value for c in ws[1]])\n"),
            "['zeta', 'alpha', 'm i d', 'added']\n");
}

TEST(JobEndToEnd, ASyntaxErrorIsReportedWithItsRowAndTheWorkbookIsStillSaved) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("bad.rops", "var a: Integer;\nbegin\n  a := ;\nend.\n");
  TKorvaRun run = RunKorva("-x book.xlsx bad.rops", dir.Path());
  std::vector<std::string> lines = Lines(run.output);
  ASSERT_EQ(lines.size(), 3u) << run.output;
  EXPECT_EQ(lines[0], "Fatal Error: Compile error(s):");
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(\[Error\] [^ ]*\(3:\d+\): .+)"))) << lines[1];
  EXPECT_EQ(lines[2], "");
  EXPECT_EQ(run.status, 1);
  // Closed and still whole: it opens with its sheets.
  EXPECT_EQ(
      Python("from openpyxl import load_workbook\nprint(load_workbook('" + dir.File("book.xlsx") + "').sheetnames)\n"),
      "['Data', 'Notes']\n");
}

TEST(JobEndToEnd, ADivisionByZeroIsReportedWithItsSourceLineAndWhatRanBeforeIsSaved) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("div.rops",
            "var a, b: Integer;\nbegin\n  DOCUMENT.Sheet[1].Cell[1, 1] := 'written';\n  b := 0;\n"
            "  a := 1 div b;\nend.\n");
  TKorvaRun run = RunKorva("-x book.xlsx div.rops", dir.Path());
  std::vector<std::string> lines = Lines(run.output);
  ASSERT_EQ(lines.size(), 4u) << run.output;
  EXPECT_EQ(lines[0], "Fatal Error: Runtime error");
  EXPECT_TRUE(std::regex_match(lines[1], std::regex(R"(divide by Zero at line 5, column \d+, bytecode\(\d+:\d+\))")))
      << lines[1];
  EXPECT_EQ(lines[2], "::  a := 1 div b;");
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Python("from openpyxl import load_workbook\nprint(load_workbook('" + dir.File("book.xlsx") +
                   "')['Data']['A1'].value)\n"),
            "written\n");
}

TEST(JobEndToEnd, DocumentWithoutAWorkbookFailsByTheKindOfUse) {
  struct Case {
    const char* script;
    const char* error;
  } cases[] = {
      {"begin\n  DOCUMENT.Visible := True;\nend.\n", "Could not call proc at line 2"},
      {"begin\n  if DOCUMENT.SheetCount > 0 then;\nend.\n", "Could not call proc at line 2"},
      {"begin\n  DOCUMENT.InsertSheet(1);\nend.\n", "Null Pointer Exception at line 2"},
      {"begin\n  DATA.LocateRow(0, '', 0);\nend.\n", "Null Pointer Exception at line 2"},
  };
  for (const auto& c : cases) {
    TTempFolder dir;
    dir.Write("s.rops", c.script);
    TKorvaRun run = RunKorva("s.rops", dir.Path());
    std::vector<std::string> lines = Lines(run.output);
    ASSERT_EQ(lines.size(), 4u) << run.output;
    EXPECT_EQ(lines[0], "Fatal Error: Runtime error");
    EXPECT_EQ(lines[1].rfind(c.error, 0), 0u) << lines[1];
    EXPECT_EQ(run.status, 1);
  }
}

TEST(JobEndToEnd, ObjectsOfTheJobCannotBeFreedAndTheWorkbookIsStillSaved) {
  for (const char* statement :
       {"DOCUMENT.Free;", "DATA.Free;", "PARAMETERS.Free;", "DOCUMENT.Sheet[1].Free;", "DATA[1].Free;"}) {
    TTempFolder dir;
    MakeTemplate(dir.Path());
    dir.Write("d.csv", "h\nv\n");
    dir.Write("f.rops", std::string("begin\n  DOCUMENT.Sheet[1].Cell[1, 1] := 'kept';\n  ") + statement +
                            "\n  DOCUMENT.Sheet[1].Cell[1, 2] := DATA[1][0];\nend.\n");
    TKorvaRun run = RunKorva("-x book.xlsx -c d.csv f.rops", dir.Path());
    EXPECT_NE(run.output.find("Cannot free an object that belongs to the host at line 3"), std::string::npos)
        << statement << "\n"
        << run.output;
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(Python("from openpyxl import load_workbook\nws = load_workbook('" + dir.File("book.xlsx") +
                     "')['Data']\nprint(ws['A1'].value, ws['B1'].value)\n"),
              "kept None\n")
        << statement;
  }
}

TEST(JobEndToEnd, ASheetUsedAfterItsDeletionIsARuntimeError) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("s.rops",
            "var S: TqovSheet;\nbegin\n  S := DOCUMENT.Sheet[2];\n  DOCUMENT.DeleteSheet(2);\n"
            "  S.Cell[1, 1] := 'x';\nend.\n");
  TKorvaRun run = RunKorva("-x book.xlsx s.rops", dir.Path());
  EXPECT_NE(run.output.find("not a live object"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("at line 5"), std::string::npos) << run.output;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(
      Python("from openpyxl import load_workbook\nprint(load_workbook('" + dir.File("book.xlsx") + "').sheetnames)\n"),
      "['Data']\n");
}

TEST(JobEndToEnd, AScriptOpensSavesAndClosesAWorkbookOfItsOwn) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("s.rops",
            "var D: TqovDocument;\nbegin\n  D := TqovDocument.Create('book.xlsx');\n"
            "  D.Sheet[1].CellByName['B1'] := D.SheetCount;\n  D.Sheet[1].Cell[1, 1] := D.SheetByName['Notes'].Name;\n"
            "  D.Free;\nend.\n");
  TKorvaRun run = RunKorva("s.rops", dir.Path());
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(Python("from openpyxl import load_workbook\nws = load_workbook('" + dir.File("book.xlsx") +
                   "')['Data']\nprint(ws['A1'].value, ws['B1'].value)\n"),
            "Notes 2\n");
}

TEST(JobEndToEnd, NumbersDatesTextLockingAndProtectionReachTheWorkbook) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write(
      "s.rops",
      "var S: TqovSheet;\nbegin\n  S := DOCUMENT.SheetByName['Notes'];\n"
      "  S.Cell[1, 1] := RoundToEx(2.675, 2);\n  S.Cell[1, 2] := RoundToEx(1234.5, -2);\n"
      "  S.Cell[1, 3] := EncodeDate(2026, 12, 8);\n  S.Cell[1, 4] := Format('%s=%.1f', ['x', 2.25]);\n"
      "  S.Cell[1, 5] := FormatFloat('#,##0.00', 1234.5);\n  S.CellByName['F1'] := '''007';\n"
      "  S.CellLocked[2, 1] := False;\n  S.SheetProtected := True;\n"
      "  if S.SheetProtected and not S.CellLocked[2, 1] and S.CellLocked[2, 2] then S.Cell[2, 1] := 'ok';\nend.\n");
  TKorvaRun run = RunKorva("-x book.xlsx s.rops", dir.Path());
  EXPECT_EQ(run.output, "");
  // A TDateTime reaches its cell as a date, even without a date format; text
  // that reads as a number is stored as one unless it starts with an apostrophe.
  EXPECT_EQ(
      Python("from openpyxl import load_workbook\nws = load_workbook('" + dir.File("book.xlsx") +
             "')['Notes']\nprint([c.value for c in ws[1]])\nprint(ws.protection.sheet, ws['A2'].protection.locked,"
             " ws['A2'].value)\n"),
      "[2.68, 1200, datetime.datetime(2026, 12, 8, 0, 0), 'x=2.3', 1234.5, '007']\nTrue False ok\n");
}

// The template formats the Order column as Text, so order numbers stay text.
TEST(JobEndToEnd, TheBundledExampleFillsACopyOfItsTemplate) {
  TTempFolder dir;
  std::string examples = std::string(KORVA_SOURCE_DIR) + "/examples";
  std::filesystem::copy_file(examples + "/template.xlsx", dir.File("orders.xlsx"));
  TKorvaRun run = RunKorva(
      "-x '" + dir.File("orders.xlsx") + "' -c orders.csv -p 'November 2026' -p 1003 fill_orders.rops", examples);
  EXPECT_EQ(run.output, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Python("from openpyxl import load_workbook\nws = load_workbook('" + dir.File("orders.xlsx") +
                   "')['Orders']\nprint(ws['A1'].value)\nfor r in range(5, 11):\n"
                   "    print([c.value for c in ws[r]][:2], ws.cell(row=r, column=3).number_format,"
                   " ws.cell(row=r, column=6).value)\n"
                   "print(ws.tables['Orders'].ref, ws.protection.sheet, ws['B5'].protection.locked, ws['A12'].value)\n"
                   "print(ws['A13'].value)\n"),
            "Order report November 2026: 5 orders\n"
            "['1001', 'Adriatic Foods'] yyyy-mm-dd 71.25\n"
            "['1002', 'Baltic Tools'] yyyy-mm-dd 487.13\n"
            "['1003', 'Celtic Crafts'] yyyy-mm-dd 109.38\n"
            "['1004', 'Danube Logistics'] yyyy-mm-dd 3123.75\n"
            "['1005', 'Adriatic Foods'] yyyy-mm-dd 230\n"
            "['Total', None] General =SUBTOTAL(109,F5:F9)\n"
            "A4:F10 True False Total with VAT 25%: 4,021.51\n"
            "Marked order: 1003 for Celtic Crafts\n");
}

TEST(JobEndToEnd, RegularExpressionsInAScriptRunByKorva) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("re.rops",
            "var R: TPerlRegEx; L: TStringList; S: TqovSheet;\n"
            "begin\n"
            "  S := DOCUMENT.Sheet[2]; R := TPerlRegEx.Create; L := TStringList.Create;\n"
            "  R.RegEx := 'a*'; R.Subject := 'bbb'; S.Cell[1, 1] := R.Match;\n"
            "  R.State := []; R.Match; S.Cell[1, 2] := R.MatchedExpressionOffset;\n"
            "  R.MatchAgain; S.Cell[1, 3] := R.MatchedExpressionOffset;\n"
            "  R.State := [preNotEmpty]; R.RegEx := '(\\d+)-(\\d+)'; R.Subject := '10-20'; R.Replacement := '$2-$1';\n"
            "  R.Match; S.Cell[2, 1] := R.Replace; S.Cell[2, 2] := R.Subject;\n"
            "  R.RegEx := ','; R.Subject := 'a,b,,c'; R.Split(L, 2); S.Cell[3, 1] := L[1];\n"
            "  R.RegEx := 'é'; R.Subject := 'aéb'; R.Match;\n"
            "  S.Cell[4, 1] := R.MatchedExpressionOffset; S.Cell[4, 2] := R.MatchedExpressionLength;\n"
            "  L.Free; R.Free;\n"
            "  R := TPerlRegEx.Create; R.RegEx := 'x';\n"
            "  try S.Cell[5, 1] := R.MatchedExpression;\n"
            "  finally R.Free; end;\n"
            "end.\n");
  TKorvaRun run = RunKorva("-x book.xlsx re.rops", dir.Path());
  std::vector<std::string> lines = Lines(run.output);
  ASSERT_EQ(lines.size(), 4u) << run.output;
  EXPECT_EQ(lines[1].rfind("Exception: Successful match required at line 14", 0), 0u) << lines[1];
  EXPECT_EQ(lines[2], "::  try S.Cell[5, 1] := R.MatchedExpression;");
  EXPECT_EQ(Python("from openpyxl import load_workbook\nws = load_workbook('" + dir.File("book.xlsx") +
                   "')['Notes']\nfor r in ws.iter_rows(min_row=1, max_row=4, values_only=True): print(r)\n"),
            "(False, 1, 2)\n('20-10', '20-10', None)\n('b,,c', None, None)\n(2, 2, None)\n");
}

TEST(JobEndToEnd, AMissingScriptIsReportedAfterTheWorkbookWasOpenedAndClosed) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  TKorvaRun run = RunKorva("-x book.xlsx nothere.rops", dir.Path());
  EXPECT_NE(run.output.find("Fatal Error: Cannot open file \""), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("/nothere.rops\". No such file or directory\r\n"), std::string::npos) << run.output;
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(
      Python("from openpyxl import load_workbook\nprint(load_workbook('" + dir.File("book.xlsx") + "').sheetnames)\n"),
      "['Data', 'Notes']\n");
}
