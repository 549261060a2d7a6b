// Monthly reports through whole jobs: a script renames and copies sheets,
// adds one, sets number formats, widths and heights; openpyxl reads the
// result and LibreOffice recalculates and shows it.
#include <gtest/gtest.h>

#include <filesystem>

#include "JobTestSupport.h"
#include "support/LibreOfficeCalc.h"

namespace korva::test {
namespace {

// "book.xlsx": sheet Orders with a table Sales (A1:D4, Amount = Qty *
// Price), formulas that name the table and the sheet, a merged range, a
// comment, a conditional format and a chart of the quantities; sheet
// Summary with formulas and a defined name that point at Orders.
void MakeReportTemplate(const std::string& dir) {
  std::string out = Python(R"(import openpyxl, warnings
warnings.simplefilter('ignore')
from openpyxl.worksheet.table import Table
from openpyxl.chart import BarChart, Reference
from openpyxl.comments import Comment
from openpyxl.formatting.rule import CellIsRule
from openpyxl.styles import PatternFill
from openpyxl.workbook.defined_name import DefinedName
wb = openpyxl.Workbook()
ws = wb.active
ws.title = 'Orders'
ws.append(['Item', 'Qty', 'Price', 'Amount'])
for r, (item, qty, price) in enumerate([('a', 2, 1.5), ('b', 3, 2.0), ('c', 4, 2.5)], start=2):
    ws.append([item, qty, price, '=B%d*C%d' % (r, r)])
ws.add_table(Table(displayName='Sales', ref='A1:D4'))
ws['F1'] = '=SUM(Sales[Amount])'
ws['F2'] = '=Orders!B2+1'
ws.merge_cells('H1:I2')
ws['A6'].comment = Comment('checked', 'me')
ws.conditional_formatting.add('B2:B4', CellIsRule(operator='greaterThan', formula=['2'],
                                                  fill=PatternFill('solid', start_color='FFFF00')))
chart = BarChart()
chart.add_data(Reference(ws, min_col=2, min_row=1, max_row=4), titles_from_data=True)
ws.add_chart(chart, 'K2')
s = wb.create_sheet('Summary')
s['A1'] = '=SUM(Orders!B2:B4)'
s['A2'] = "='Orders'!D2"
s['A3'] = '=SUM(QtyRange)'
name = DefinedName('QtyRange', attr_text='Orders!$B$2:$B$4')
if hasattr(wb.defined_names, 'append'):
    wb.defined_names.append(name)
else:
    wb.defined_names['QtyRange'] = name
wb.save(')" + dir + R"(/book.xlsx')
)");
  ASSERT_EQ(out, "");
}

TEST(ReportApi, SheetsAreRenamedCopiedAddedAndFormattedAsTheApplicationDoes) {
  TTempFolder dir;
  MakeReportTemplate(dir.Path());
  dir.Write("report.rops", R"(var
  Orders, Twin, Formats: TqovSheet;
  I: Integer;
  Log: string;

procedure Note(const S: string);
begin
  Log := Log + S + '|';
end;

begin
  Orders := DOCUMENT.Sheet[1];
  Twin := DOCUMENT.CopySheet(1, DOCUMENT.SheetCount + 1);
  Note(Twin.Name);
  Orders.Name := 'Jan 2026';
  Note(DOCUMENT.Sheet[1].Name);
  try Orders.Name := 'a/b'; except Note(ExceptionParam); end;
  try Orders.Name := 'SUMMARY'; except Note(ExceptionParam); end;
  try Orders.Name := ''''; except Note(ExceptionParam); end;
  try Orders.Name := 'abcdefghijklmnopqrstuvwxyz123456'; except Note(ExceptionParam); end;
  Formats := DOCUMENT.AddSheet('Formats');
  Formats.Cell[1, 1] := 1234.5;
  Formats.NumberFormat[1, 1] := '#,##0.00';
  Formats.Cell[2, 1] := 46000;
  Formats.NumberFormat[2, 1] := 'dd.mm.yyyy';
  Formats.Cell[3, 1] := 0.25;
  Formats.NumberFormat[3, 1] := '0%';
  for I := 1 to 100000 do
  begin
    Formats.Cell[I + 10, 2] := I;
    Formats.NumberFormat[I + 10, 2] := '0.000';
  end;
  Note(Formats.NumberFormat[1, 1] + ' ' + Formats.NumberFormat[3, 1] + ' ' + Formats.NumberFormat[4, 1]);
  Formats.ColumnWidth[2] := 20;
  Formats.RowHeight[3] := 30;
  Note(FloatToStr(Formats.ColumnWidth[2]) + ' ' + FloatToStr(Formats.RowHeight[3]) + ' ' +
    FloatToStr(Formats.ColumnWidth[5]) + ' ' + FloatToStr(Formats.RowHeight[5]));
  Formats.Cell[5, 1] := Log;
end.
)");
  int before = std::stoi(
      Python("import zipfile, re\nprint(len(re.findall(r'<xf ', re.search(r'<cellXfs.*</cellXfs>', "
             "zipfile.ZipFile('" +
             dir.File("book.xlsx") + "').read('xl/styles.xml').decode()).group(0))))"));
  TKorvaRun run = RunKorva("-x book.xlsx report.rops", dir.Path());
  ASSERT_EQ(run.status, 0) << run.output;

  std::string checked = Python(R"(import openpyxl, re, zipfile, warnings
warnings.simplefilter('ignore')
path = ')" + dir.File("book.xlsx") +
                               R"('
wb = openpyxl.load_workbook(path)
print(wb.sheetnames)
jan, summary, copy, formats = (wb[n] for n in wb.sheetnames)
print(summary['A1'].value, summary['A2'].value, summary['A3'].value)
names = wb.defined_names
print([n.attr_text for n in (names.values() if hasattr(names, 'values') else names.definedName)])
print(jan['F2'].value, copy['F2'].value, copy['F1'].value, jan['F1'].value)
print(list(jan.tables), list(copy.tables), [str(r) for r in copy.merged_cells.ranges], copy['A6'].comment.text)
print(len(copy.conditional_formatting), len(copy._charts), len(jan._charts))
print(formats['A1'].number_format, formats['A2'].number_format, formats['A3'].number_format,
      formats['B11'].number_format, formats['B100010'].number_format)
print(formats['A5'].value)
z = zipfile.ZipFile(path)
charts = sorted(n for n in z.namelist() if re.match(r'xl/charts/chart\d+\.xml$', n))
print([re.findall(r'<(?:c:)?f>([^<]*)</(?:c:)?f>', z.read(n).decode()) for n in charts])
styles = z.read('xl/styles.xml').decode()
print(len(re.findall(r'<xf ', re.search(r'<cellXfs.*</cellXfs>', styles).group(0))))
)");
  const char* invalid =
      "You typed an invalid name for a sheet or chart. Make sure that: The name that you type does not exceed 31 "
      "characters. The name does not contain any of the following characters: : \\ / ? * [ or ]. You did not leave "
      "the name blank. The name does not begin or end with an apostrophe.";
  std::string expected = std::string("['Jan 2026', 'Summary', 'Orders (2)', 'Formats']\n") +
                         "=SUM('Jan 2026'!B2:B4) ='Jan 2026'!D2 =SUM(QtyRange)\n"
                         "[\"'Jan 2026'!$B$2:$B$4\"]\n"
                         "='Jan 2026'!B2+1 ='Orders (2)'!B2+1 =SUM(Sales_2[Amount]) =SUM(Sales[Amount])\n"
                         "['Sales'] ['Sales_2'] ['H1:I2'] checked\n"
                         "1 1 1\n"
                         "#,##0.00 dd.mm.yyyy 0% 0.000 0.000\n"
                         "Orders (2)|Jan 2026|" +
                         invalid + "|That name is already taken. Try a different one.|" + invalid + "|" + invalid +
                         "|#,##0.00 0% General|20.000000000000 30.000000000000 8.430000000000 15.000000000000|\n";
  ASSERT_EQ(checked.substr(0, expected.size()), expected) << checked;
  // One chart per sheet, each over its own sheet's quantities; four new
  // style records for four formats, however many cells took them.
  EXPECT_NE(checked.find("[[\"'Jan 2026'!B1\", \"'Jan 2026'!$B$2:$B$4\"], [\"'Orders (2)'!B1\", "
                         "\"'Orders (2)'!$B$2:$B$4\"]]"),
            std::string::npos)
      << checked;
  EXPECT_EQ(checked.substr(checked.rfind('\n', checked.size() - 2) + 1), std::to_string(before + 4) + "\n");

  std::string why = korva::calc::WhyNoRecalculation();
  if (!why.empty()) GTEST_SKIP() << why;
  korva::calc::TRecalculation calc = korva::calc::Recalculate(dir.File("book.xlsx"), true);
  ASSERT_EQ(calc.Failure, "");
  EXPECT_EQ(calc.Sheet("Summary").At("A1"), "9");
  EXPECT_EQ(calc.Sheet("Summary").At("A2"), "3");
  EXPECT_EQ(calc.Sheet("Summary").At("A3"), "9");
  EXPECT_EQ(calc.Sheet("Orders (2)").At("F1"), "19");
  EXPECT_EQ(calc.Sheet("Orders (2)").At("F2"), "3");
  EXPECT_EQ(calc.Sheet("Jan 2026").At("F1"), "19");
  EXPECT_EQ(calc.Sheet("Formats").At("A1"), "1,234.50");
  EXPECT_EQ(calc.Sheet("Formats").At("A2"), "09.12.2025");
  EXPECT_EQ(calc.Sheet("Formats").At("A3"), "25%");
}

}  // namespace
}  // namespace korva::test
