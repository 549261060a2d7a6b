// Row and column insertion, autofit, locking, protection, adding and
// deleting sheets, checked through the server and with openpyxl.
#include <gmock/gmock.h>

#include <algorithm>
#include <random>

#include "ServerFixture.h"

namespace spreadsheet::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using rtl::Variant;

const char* const kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

class StructureTest : public ServerTest {
 protected:
  std::string FPath = FDir.File("book.xlsx");

  // A sheet "Sales" with a styled table A1:B5 whose total row sums the
  // Amount column, and a sheet "Summary" pointing at the total.
  void MakeTableBook() {
    TBookLayout layout;
    layout.Sheets = {
        {"Sales",
         "<dimension ref=\"A1:B5\"/><sheetData>"
         "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Item</t></is></c><c r=\"B1\" t=\"inlineStr\"><is><t>Amount</t></is></c></row>"
         "<row r=\"2\" ht=\"20\" customHeight=\"1\"><c r=\"A2\" s=\"1\" t=\"inlineStr\"><is><t>a</t></is></c><c r=\"B2\" s=\"1\"><v>10</v></c></row>"
         "<row r=\"3\"><c r=\"A3\" s=\"1\" t=\"inlineStr\"><is><t>b</t></is></c><c r=\"B3\" s=\"1\"><v>20</v></c></row>"
         "<row r=\"4\"><c r=\"A4\" s=\"1\" t=\"inlineStr\"><is><t>c</t></is></c><c r=\"B4\" s=\"1\"><v>30</v></c></row>"
         "<row r=\"5\"><c r=\"A5\" s=\"2\" t=\"inlineStr\"><is><t>Total</t></is></c><c r=\"B5\" s=\"2\"><f>SUM(B2:B4)</f><v>60</v></c></row>"
         "</sheetData><tableParts count=\"1\"><tablePart r:id=\"rId1\"/></tableParts>"},
        {"Summary",
         "<sheetData><row r=\"1\"><c r=\"A1\"><f>Sales!B5*2</f><v>120</v></c><c r=\"B1\"><f>SUM(Sales!B2:B4)</f><v>60</v></c></row></sheetData>"}};
    layout.CellXfs +=
        "<xf numFmtId=\"4\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>"
        "<xf numFmtId=\"3\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
    layout.SheetRels = {
        {0, std::string("<Relationship Id=\"rId1\" Type=\"") + kRelNs + "/table\" Target=\"../tables/table1.xml\"/>"}};
    layout.ExtraParts = {
        {"xl/tables/table1.xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<table xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" id=\"1\" name=\"Table1\" "
         "displayName=\"Table1\" ref=\"A1:B5\" totalsRowCount=\"1\"><autoFilter ref=\"A1:B4\"/>"
         "<tableColumns count=\"2\"><tableColumn id=\"1\" name=\"Item\" totalsRowLabel=\"Total\"/>"
         "<tableColumn id=\"2\" name=\"Amount\" totalsRowFunction=\"custom\"><totalsRowFormula>SUM(B2:B4)</totalsRowFormula></tableColumn>"
         "</tableColumns><tableStyleInfo name=\"TableStyleMedium9\" showFirstColumn=\"0\" "
         "showLastColumn=\"0\" showRowStripes=\"1\" showColumnStripes=\"0\"/></table>"}};
    layout.ExtraContentTypes =
        "<Override PartName=\"/xl/tables/table1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml\"/>";
    layout.CalcChain = true;
    WriteBook(FPath, layout);
  }
};

TEST_F(StructureTest, InsertingARowInsideATableGrowsTheTotalAndTheTableAndCopiesTheStyleAbove) {
  MakeTableBook();
  auto book = Open(FPath);
  auto sales = Sheet(book, 1);
  sales->InsertRow(3);
  PutText(sales, 3, 1, u"new");
  Put(sales, 3, 2, Variant(int32_t(5)));
  SaveAndClose(book);

  auto parts = ReadZip(FPath);
  EXPECT_THAT(parts["xl/worksheets/sheet1.xml"], HasSubstr("<c r=\"B6\" s=\"2\"><f>SUM(B2:B5)</f><v>65</v></c>"));
  EXPECT_THAT(parts["xl/worksheets/sheet1.xml"], HasSubstr("<row r=\"3\" ht=\"20\" customHeight=\"1\">"));
  EXPECT_THAT(parts["xl/worksheets/sheet1.xml"], HasSubstr("<dimension ref=\"A1:B6\"/>"));
  EXPECT_THAT(parts["xl/tables/table1.xml"], HasSubstr("ref=\"A1:B6\""));
  EXPECT_THAT(parts["xl/tables/table1.xml"], HasSubstr("<autoFilter ref=\"A1:B5\"/>"));
  EXPECT_THAT(parts["xl/tables/table1.xml"], HasSubstr("<totalsRowFormula>SUM(B2:B5)</totalsRowFormula>"));
  EXPECT_THAT(parts["xl/worksheets/sheet2.xml"], HasSubstr("<f>Sales!B6*2</f>"));
  EXPECT_THAT(parts["xl/worksheets/sheet2.xml"], HasSubstr("<f>SUM(Sales!B2:B5)</f>"));
  EXPECT_EQ(parts.count("xl/calcChain.xml"), 0u);  // cell positions changed

  auto again = Sheet(Open(FPath), 1);
  EXPECT_EQ(Text(Get(again, 3, 1)), "new");
  EXPECT_DOUBLE_EQ(Get(again, 4, 2).AsDouble(), 20);
  EXPECT_EQ(Text(Get(again, 6, 1)), "Total");

  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  std::string out = RunPython(
      "import openpyxl\nwb = openpyxl.load_workbook('" + FPath +
      "')\nws = wb['Sales']\nt = ws.tables['Table1']\n"
      "print(t.ref, t.autoFilter.ref, ws['B6'].value, ws['A3'].value, ws['B3'].value, ws['B4'].value)\n"
      "print(ws['B3'].number_format == ws['B2'].number_format, ws['B3'].number_format, ws.row_dimensions[3].height)\n"
      "print(wb['Summary']['A1'].value)\n");
  EXPECT_EQ(out, "A1:B6 A1:B5 =SUM(B2:B5) new 5 20\nTrue #,##0.00 20.0\n=Sales!B6*2\n");
}

TEST_F(StructureTest, InsertingARowAtTheTotalRowKeepsTheFilterOnTheData) {
  MakeTableBook();
  auto book = Open(FPath);
  Sheet(book, 1)->InsertRow(5);
  SaveAndClose(book);
  auto parts = ReadZip(FPath);
  EXPECT_THAT(parts["xl/tables/table1.xml"], HasSubstr("ref=\"A1:B6\""));
  EXPECT_THAT(parts["xl/tables/table1.xml"], HasSubstr("<autoFilter ref=\"A1:B5\"/>"));
}

TEST_F(StructureTest, InsertingAColumnInsideATableAddsATableColumnWithAHeader) {
  MakeTableBook();
  auto book = Open(FPath);
  Sheet(book, 1)->InsertColumn(2);
  SaveAndClose(book);
  auto parts = ReadZip(FPath);
  EXPECT_THAT(parts["xl/tables/table1.xml"], HasSubstr("ref=\"A1:C5\""));
  EXPECT_THAT(parts["xl/tables/table1.xml"], HasSubstr("<tableColumns count=\"3\">"));
  EXPECT_THAT(parts["xl/tables/table1.xml"], HasSubstr("name=\"Column1\""));
  EXPECT_THAT(parts["xl/worksheets/sheet1.xml"], HasSubstr("<c r=\"C5\" s=\"2\"><f>SUM(C2:C4)</f>"));
  EXPECT_EQ(Text(Get(Sheet(Open(FPath), 1), 1, 2)), "Column1");
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  std::string out = RunPython(
      "import openpyxl\nws = openpyxl.load_workbook('" + FPath +
      "')['Sales']\nt = ws.tables['Table1']\nprint(t.ref, [c.name for c in t.tableColumns], ws['C5'].value)\n");
  EXPECT_EQ(out, "A1:C5 ['Item', 'Column1', 'Amount'] =SUM(C2:C4)\n");
}

TEST_F(StructureTest, InsertingARowAdjustsEverythingThatPointsAtMovedCells) {
  TBookLayout layout;
  layout.Sheets = {
      {"Data",
       "<sheetViews><sheetView workbookViewId=\"0\"><selection activeCell=\"A7\" sqref=\"A7\"/></sheetView></sheetViews>"
       "<cols><col min=\"1\" max=\"3\" width=\"12\" customWidth=\"1\"/></cols>"
       "<sheetData><row r=\"2\"><c r=\"A2\"><v>1</v></c></row><row r=\"6\"><c r=\"A6\"><f>$A$2+A7</f><v>1</v></c></row>"
       "<row r=\"7\"><c r=\"A7\"><f>A8</f><v>0</v></c><c r=\"B7\"><f t=\"shared\" ref=\"B7:B9\" si=\"0\">A7*2</f><v>0</v></c></row>"
       "<row r=\"8\"><c r=\"B8\"><f t=\"shared\" si=\"0\"/><v>0</v></c></row><row r=\"9\"><c r=\"B9\"><f t=\"shared\" si=\"0\"/><v>0</v></c>"
       "<c r=\"C9\"><f t=\"array\" ref=\"C9:C10\">A2:A3</f><v>1</v></c></row></sheetData>"
       "<mergeCells count=\"2\"><mergeCell ref=\"A3:B4\"/><mergeCell ref=\"D7:E8\"/></mergeCells>"
       "<conditionalFormatting sqref=\"A5:A9 C1\"><cfRule type=\"expression\" dxfId=\"0\" priority=\"1\"><formula>A5&gt;$A$7</formula></cfRule></conditionalFormatting>"
       "<dataValidations count=\"1\"><dataValidation type=\"list\" sqref=\"B5:B6\"><formula1>$D$5:$D$9</formula1></dataValidation></dataValidations>"
       "<hyperlinks><hyperlink ref=\"E9\" location=\"Data!A7\"/></hyperlinks>"
       "<rowBreaks count=\"2\" manualBreakCount=\"2\"><brk id=\"3\" max=\"16383\" man=\"1\"/><brk id=\"8\" max=\"16383\" man=\"1\"/></rowBreaks>"
       "<drawing r:id=\"rId1\"/>"},
      {"Other", "<sheetData><row r=\"1\"><c r=\"A1\"><f>Data!A7+Data!A3</f><v>0</v></c></row></sheetData>"}};
  layout.WorkbookExtra =
      "<definedNames><definedName name=\"Block\">Data!$A$5:$C$9</definedName><definedName name=\"Top\">Data!$A$1</definedName></definedNames>";
  layout.SheetRels = {{0, std::string("<Relationship Id=\"rId1\" Type=\"") + kRelNs +
                              "/drawing\" Target=\"../drawings/drawing1.xml\"/>"}};
  layout.ExtraParts = {
      {"xl/drawings/drawing1.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\">"
       "<xdr:twoCellAnchor><xdr:from><xdr:col>1</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>1</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from>"
       "<xdr:to><xdr:col>3</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>9</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:to></xdr:twoCellAnchor></xdr:wsDr>"},
      {"xl/charts/chart1.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<c:chartSpace xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\">"
       "<c:chart><c:plotArea><c:barChart><c:ser><c:val><c:numRef><c:f>Data!$A$2:$A$9</c:f></c:numRef></c:val></c:ser></c:barChart></c:plotArea></c:chart></c:chartSpace>"}};
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Sheet(book, 1)->InsertRow(5);
  SaveAndClose(book);

  auto parts = ReadZip(FPath);
  const std::string& sheet = parts["xl/worksheets/sheet1.xml"];
  EXPECT_THAT(sheet, HasSubstr("<c r=\"A7\"><f>$A$2+A8</f>"));
  EXPECT_THAT(sheet, HasSubstr("<c r=\"A8\"><f>A9</f>"));
  EXPECT_THAT(sheet, HasSubstr("<c r=\"B8\"><f>A8*2</f>"));  // shared group expanded
  EXPECT_THAT(sheet, HasSubstr("<c r=\"B9\"><f>A9*2</f>"));
  EXPECT_THAT(sheet, HasSubstr("<c r=\"B10\"><f>A10*2</f>"));
  EXPECT_THAT(sheet, HasSubstr("<f t=\"array\" ref=\"C10:C11\">A2:A3</f>"));
  EXPECT_THAT(sheet, HasSubstr("<mergeCell ref=\"A3:B4\"/><mergeCell ref=\"D8:E9\"/>"));
  EXPECT_THAT(sheet, HasSubstr("sqref=\"A6:A10 C1\""));
  EXPECT_THAT(sheet, HasSubstr("<formula>A6&gt;$A$8</formula>"));
  EXPECT_THAT(sheet, HasSubstr("sqref=\"B6:B7\""));
  EXPECT_THAT(sheet, HasSubstr("<formula1>$D$6:$D$10</formula1>"));
  EXPECT_THAT(sheet, HasSubstr("<hyperlink ref=\"E10\" location=\"Data!A7\"/>"));  // text, as the application keeps it
  EXPECT_THAT(sheet, HasSubstr("activeCell=\"A8\""));
  EXPECT_THAT(sheet, HasSubstr("<brk id=\"3\" max=\"16383\" man=\"1\"/><brk id=\"9\" max=\"16383\" man=\"1\"/>"));
  EXPECT_THAT(sheet, HasSubstr("<dimension ref=\"A2:C10\"/>"));
  EXPECT_THAT(parts["xl/worksheets/sheet2.xml"], HasSubstr("<f>Data!A8+Data!A3</f>"));
  EXPECT_THAT(parts["xl/workbook.xml"], HasSubstr(">Data!$A$6:$C$10<"));
  EXPECT_THAT(parts["xl/workbook.xml"], HasSubstr(">Data!$A$1<"));
  EXPECT_THAT(parts["xl/drawings/drawing1.xml"], HasSubstr("<xdr:row>1</xdr:row>"));
  EXPECT_THAT(parts["xl/drawings/drawing1.xml"], HasSubstr("<xdr:row>10</xdr:row>"));
  EXPECT_THAT(parts["xl/charts/chart1.xml"], HasSubstr("<c:f>Data!$A$2:$A$10</c:f>"));
}

TEST_F(StructureTest, SharedFormulasOnOtherSheetsFollowTheRowsTheirMembersPointAt) {
  // The master points above the insertion, later members below it.
  TBookLayout layout;
  layout.Sheets = {
      {"Data", "<sheetData/>"},
      {"Sum",
       "<sheetData><row r=\"1\"><c r=\"A1\"><f t=\"shared\" ref=\"A1:A3\" si=\"0\">Data!B2*3</f><v>0</v></c></row>"
       "<row r=\"2\"><c r=\"A2\"><f t=\"shared\" si=\"0\"/><v>0</v></c></row>"
       "<row r=\"3\"><c r=\"A3\"><f t=\"shared\" si=\"0\"/><v>0</v></c></row>"
       "<row r=\"4\"><c r=\"A4\"><f t=\"shared\" ref=\"A4:A5\" si=\"1\">Data!B:B</f><v>0</v></c></row>"
       "<row r=\"5\"><c r=\"A5\"><f t=\"shared\" si=\"1\"/><v>0</v></c></row></sheetData>"}};
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Sheet(book, 1)->InsertRow(3);
  SaveAndClose(book);
  const std::string sheet = ReadZip(FPath)["xl/worksheets/sheet2.xml"];
  EXPECT_THAT(sheet, HasSubstr("<c r=\"A1\"><f>Data!B2*3</f>"));
  EXPECT_THAT(sheet, HasSubstr("<c r=\"A2\"><f>Data!B4*3</f>"));
  EXPECT_THAT(sheet, HasSubstr("<c r=\"A3\"><f>Data!B5*3</f>"));
  // Whole columns do not move with rows: that group stays shared.
  EXPECT_THAT(sheet, HasSubstr("<f t=\"shared\" ref=\"A4:A5\" si=\"1\">Data!B:B</f>"));
}

TEST_F(StructureTest, RowsInsertedIntoATableTakeItsCalculatedColumnButNotOtherFormulas) {
  TBookLayout layout;
  layout.Sheets = {
      {"Data",
       "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>N</t></is></c>"
       "<c r=\"B1\" t=\"inlineStr\"><is><t>Twice</t></is></c><c r=\"C1\" t=\"inlineStr\"><is><t>Other</t></is></c></row>"
       "<row r=\"2\"><c r=\"A2\"><v>1</v></c><c r=\"B2\"><f>A2*2</f><v>2</v></c><c r=\"C2\"><f>A2+1</f><v>2</v></c></row>"
       "<row r=\"3\"><c r=\"A3\"><v>2</v></c><c r=\"B3\"><f>A3*2</f><v>4</v></c></row></sheetData>"
       "<tableParts count=\"1\"><tablePart r:id=\"rId1\"/></tableParts>"}};
  layout.SheetRels = {
      {0, std::string("<Relationship Id=\"rId1\" Type=\"") + kRelNs + "/table\" Target=\"../tables/table1.xml\"/>"}};
  layout.ExtraParts = {
      {"xl/tables/table1.xml",
       "<table xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" id=\"1\" name=\"T\" displayName=\"T\" "
       "ref=\"A1:C3\"><tableColumns count=\"3\"><tableColumn id=\"1\" name=\"N\"/><tableColumn id=\"2\" name=\"Twice\">"
       "<calculatedColumnFormula>A2*2</calculatedColumnFormula></tableColumn><tableColumn id=\"3\" name=\"Other\"/>"
       "</tableColumns></table>"}};
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Sheet(book, 1)->InsertRow(3);
  Sheet(book, 1)->InsertRow(6);  // below the table
  SaveAndClose(book);
  const std::string xml = ReadZip(FPath)["xl/worksheets/sheet1.xml"];
  EXPECT_THAT(xml, HasSubstr("<row r=\"3\"><c r=\"B3\"><f>A3*2</f><v>0</v></c></row>"));  // computed, no copy of C
  EXPECT_THAT(xml, HasSubstr("<c r=\"B4\"><f>A4*2</f><v>4</v></c>"));
  EXPECT_THAT(xml, Not(HasSubstr("r=\"B6\"")));
}

TEST_F(StructureTest, InsertingAColumnMovesCellsColumnWidthsAndReferences) {
  TBookLayout layout;
  layout.Sheets = {
      {"Data",
       "<cols><col min=\"2\" max=\"2\" width=\"30\" customWidth=\"1\"/><col min=\"4\" max=\"4\" width=\"5\" customWidth=\"1\"/></cols>"
       "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c><c r=\"B1\" s=\"1\"><v>2</v></c><c r=\"C1\"><f>SUM(A1:B1)</f><v>3</v></c></row></sheetData>"}};
  layout.CellXfs += "<xf numFmtId=\"4\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Sheet(book, 1)->InsertColumn(2);
  SaveAndClose(book);
  const std::string sheet = ReadZip(FPath)["xl/worksheets/sheet1.xml"];
  EXPECT_THAT(sheet, HasSubstr("<c r=\"C1\" s=\"1\"><v>2</v></c><c r=\"D1\"><f>SUM(A1:C1)</f>"));
  EXPECT_THAT(sheet, HasSubstr("<col min=\"3\" max=\"3\" width=\"30\""));
  EXPECT_THAT(sheet, HasSubstr("<col min=\"5\" max=\"5\" width=\"5\""));
}

TEST_F(StructureTest, RepeatedRowInsertionsInterleavedWithReadsAndWritesLandWhereSingleOnesWould) {
  // Rows 1..8 hold their own number in A; row 3 carries a style and a
  // height that inserted rows below it copy.
  std::string rows;
  for (int r = 1; r <= 8; ++r) {
    std::string n = std::to_string(r);
    rows += r == 3 ? "<row r=\"3\" ht=\"30\" customHeight=\"1\"><c r=\"A3\" s=\"1\"><v>3</v></c></row>"
                   : "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c></row>";
  }
  TBookLayout layout;
  layout.Sheets = {{"Data", "<sheetData>" + rows + "</sheetData>"}};
  layout.CellXfs += "<xf numFmtId=\"4\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto sheet = Sheet(book, 1);
  auto insert = [&](int at) { sheet->InsertRow(at); };
  for (int i = 0; i < 3; ++i) insert(4);             // old 4..8 now 7..11
  EXPECT_DOUBLE_EQ(Get(sheet, 7, 1).AsDouble(), 4);  // a read in between
  EXPECT_TRUE(Get(sheet, 5, 1).IsEmpty());
  insert(4);                               // old 4..8 now 8..12
  Put(sheet, 4, 1, Variant(int32_t(40)));  // a write in between
  insert(4);                               // the 40 moves to 5; old 4..8 now 9..13
  insert(2);                               // everything from 2 on moves one down
  for (int i = 0; i < 2; ++i) insert(15);  // at the end, then again
  SaveAndClose(book);

  auto again = Sheet(Open(FPath), 1);
  const std::pair<int, double> expected[] = {{1, 1}, {3, 2}, {4, 3}, {6, 40}, {10, 4}, {11, 5}, {14, 8}};
  for (auto [row, value] : expected) EXPECT_DOUBLE_EQ(Get(again, row, 1).AsDouble(), value) << "row " << row;
  for (int row : {2, 5, 7, 8, 9, 15, 16}) EXPECT_TRUE(Get(again, row, 1).IsEmpty()) << "row " << row;
  // The rows inserted below row 3 (now 4) took its format; those at 2 did not.
  std::string xml = ReadZip(FPath)["xl/worksheets/sheet1.xml"];
  EXPECT_THAT(xml, HasSubstr("<row r=\"5\" ht=\"30\" customHeight=\"1\"><c r=\"A5\" s=\"1\"/></row>"));
  EXPECT_THAT(xml, HasSubstr("<row r=\"9\" ht=\"30\" customHeight=\"1\"><c r=\"A9\" s=\"1\"/></row>"));
  EXPECT_THAT(xml, Not(HasSubstr("<row r=\"2\"")));
}

TEST_F(StructureTest, RandomWritesInsertionsAndReadsAgreeWithASimpleModel) {
  // Rows kept around a gap must read, write and insert exactly as a plain
  // list of rows would, wherever the operations jump.
  TBookLayout layout;
  layout.Sheets = {{"Data", "<sheetData/>"}};
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto sheet = Sheet(book, 1);
  std::vector<int> model(400, 0);  // 0: empty; row r is model[r - 1]
  std::mt19937 random(20261208);
  auto pick = [&](int high) { return static_cast<int>(random() % static_cast<unsigned>(high)) + 1; };
  int next = 1;
  for (int step = 0; step < 3000; ++step) {
    int choice = pick(10);
    if (choice <= 4) {  // write, often near the last place touched
      int row = choice <= 2 ? std::clamp(pick(7) + (step % 300) - 3, 1, 300) : pick(300);
      Put(sheet, row, 1, Variant(int32_t(next)));
      model[row - 1] = next++;
    } else if (choice <= 7) {
      int row = pick(300);
      Variant value = Get(sheet, row, 1);
      if (model[row - 1] == 0)
        ASSERT_TRUE(value.IsEmpty()) << "step " << step << " row " << row;
      else
        ASSERT_DOUBLE_EQ(value.AsDouble(), model[row - 1]) << "step " << step << " row " << row;
    } else {
      int row = choice == 8 ? pick(300) : 1 + (step % 7);  // sometimes again and again at one place
      sheet->InsertRow(row);
      model.insert(model.begin() + (row - 1), 0);
      model.pop_back();
    }
  }
  SaveAndClose(book);
  auto again = Sheet(Open(FPath), 1);
  for (int row = 1; row <= 400; ++row) {
    Variant value = Get(again, row, 1);
    if (model[row - 1] == 0)
      EXPECT_TRUE(value.IsEmpty()) << "row " << row;
    else
      EXPECT_DOUBLE_EQ(value.AsDouble(), model[row - 1]) << "row " << row;
  }
}

TEST_F(StructureTest, InsertingRefusesToPushDataOffTheSheet) {
  TBookLayout layout;
  layout.Sheets = {{"Data", "<sheetData><row r=\"1048576\"><c r=\"A1048576\"><v>1</v></c></row></sheetData>"}};
  WriteBook(FPath, layout);
  auto sheet = Sheet(Open(FPath), 1);
  EXPECT_THROW(sheet->InsertRow(1), rtl::EOleException);
  EXPECT_DOUBLE_EQ(Get(sheet, 1048576, 1).AsDouble(), 1);
}

// Insertions as the application makes them around what does not simply
// move with its cells: pivot tables and their source, array formulas,
// pictures by how they are anchored, links to other files, a frozen pane,
// and comments at the sheet's edge.
TEST_F(StructureTest, InsertionsTreatPivotTablesArraysAnchorsLinksAndPanesAsTheApplicationDoes) {
  const std::string xdr = "http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing";
  auto anchor = [](const std::string& editAs, int fromRow, int toRow) {
    return "<xdr:twoCellAnchor" + editAs + "><xdr:from><xdr:col>5</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>" +
           std::to_string(fromRow) +
           "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:from><xdr:to><xdr:col>6</xdr:col>"
           "<xdr:colOff>0</xdr:colOff><xdr:row>" +
           std::to_string(toRow) + "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:to></xdr:twoCellAnchor>";
  };
  TBookLayout layout;
  layout.Sheets = {
      {"Data",
       "<sheetViews><sheetView workbookViewId=\"0\"><pane ySplit=\"1\" topLeftCell=\"A2\" activePane=\"bottomLeft\" "
       "state=\"frozen\"/></sheetView></sheetViews><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
       "<row r=\"2\"><c r=\"E2\"><f t=\"array\" ref=\"E2:E4\">A2:A4*2</f><v>0</v></c></row>"
       "<row r=\"3\"><c r=\"E3\"><v>0</v></c></row><row r=\"4\"><c r=\"E4\"><v>0</v></c></row>"
       "<row r=\"10\"><c r=\"C10\"><v>5</v></c></row></sheetData>"
       "<hyperlinks><hyperlink ref=\"G1\" r:id=\"rId2\" location=\"Sheet1!B2\"/></hyperlinks><drawing r:id=\"rId1\"/>"},
      {"Edge", "<sheetData><row r=\"10\"><c r=\"A10\"><v>1</v></c></row></sheetData>"},
      {"Notes", "<sheetData/><legacyDrawing r:id=\"rId1\"/>"}};
  const std::string rel = std::string("<Relationship Id=\"%s\" Type=\"") + kRelNs + "/%s\" Target=\"%s\"%s/>";
  auto relationship = [&](const char* id, const char* type, const char* target, const char* extra = "") {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, rel.c_str(), id, type, target, extra);
    return std::string(buffer);
  };
  layout.SheetRels = {{0, relationship("rId1", "drawing", "../drawings/drawing1.xml")},
                      {0, relationship("rId2", "hyperlink", "other.xlsx", " TargetMode=\"External\"")},
                      {0, relationship("rId3", "pivotTable", "../pivotTables/pivotTable1.xml")},
                      {1, relationship("rId1", "comments", "../comments1.xml")},
                      {2, relationship("rId1", "vmlDrawing", "../drawings/vmlDrawing1.vml")}};
  layout.ExtraContentTypes =
      "<Default Extension=\"vml\" ContentType=\"application/vnd.openxmlformats-officedocument.vmlDrawing\"/>";
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  layout.ExtraParts = {
      {"xl/drawings/drawing1.xml", "<xdr:wsDr xmlns:xdr=\"" + xdr + "\">" + anchor("", 5, 8) +
                                       anchor(" editAs=\"absolute\"", 5, 8) + anchor(" editAs=\"oneCell\"", 5, 8) +
                                       anchor(" editAs=\"oneCell\"", 0, 8) + "</xdr:wsDr>"},
      {"xl/pivotTables/pivotTable1.xml", "<pivotTableDefinition xmlns=\"" + main +
                                             "\" name=\"P\" cacheId=\"1\"><location ref=\"H3:I7\" firstHeaderRow=\"1\" "
                                             "firstDataRow=\"1\" firstDataCol=\"1\"/></pivotTableDefinition>"},
      {"xl/pivotCache/pivotCacheDefinition1.xml",
       "<pivotCacheDefinition xmlns=\"" + main +
           "\"><cacheSource type=\"worksheet\"><worksheetSource ref=\"A1:C10\" sheet=\"Data\"/></cacheSource>"
           "</pivotCacheDefinition>"},
      {"xl/drawings/vmlDrawing1.vml",
       "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\" xmlns:x=\"urn:schemas-microsoft-com:office:excel\"><v:shape>"
       "<x:ClientData ObjectType=\"Note\"><x:Row>1048575</x:Row><x:Column>3</x:Column></x:ClientData></v:shape></xml>"},
      {"xl/comments1.xml", "<comments xmlns=\"" + main +
                               "\"><authors><author>a</author></authors><commentList><comment ref=\"B1048576\" "
                               "authorId=\"0\"><text><t>last</t></text></comment></commentList></comments>"}};
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto data = Sheet(book, 1), edge = Sheet(book, 2);
  data->InsertRow(2);  // inside the pivot's source, above the array and the pivot table
  auto refusal = [](const std::function<void()>& insert) {
    try {
      insert();
    } catch (const rtl::EOleException& e) {
      return rtl::UnicodeToUtf8(e.Message());
    }
    return std::string("taken");
  };
  EXPECT_THAT(refusal([&] { data->InsertRow(4); }), HasSubstr("You can't change part of an array."));
  EXPECT_THAT(refusal([&] { data->InsertRow(6); }), HasSubstr("Cannot change this part of a PivotTable report."));
  EXPECT_THAT(refusal([&] { data->InsertColumn(9); }), HasSubstr("Cannot change this part of a PivotTable report."));
  EXPECT_THAT(refusal([&] { edge->InsertRow(1); }), HasSubstr("cannot shift nonblank cells off of the worksheet"));
  EXPECT_THAT(refusal([&] { edge->InsertColumn(1); }), "taken");
  auto notes = Sheet(book, 3);  // a note's shape at the last row
  EXPECT_THAT(refusal([&] { notes->InsertRow(5); }), HasSubstr("cannot shift nonblank cells off of the worksheet"));
  EXPECT_THAT(refusal([&] { notes->InsertColumn(5); }), "taken");
  SaveAndClose(book);

  auto parts = ReadZip(FPath);
  const std::string& sheet = parts["xl/worksheets/sheet1.xml"];
  EXPECT_THAT(sheet, HasSubstr("<f t=\"array\" ref=\"E3:E5\">A3:A5*2</f>"));
  EXPECT_THAT(sheet, HasSubstr("topLeftCell=\"A2\""));      // the new row shows below the frozen header
  EXPECT_THAT(sheet, HasSubstr("location=\"Sheet1!B2\""));  // a place in another file
  EXPECT_THAT(parts["xl/pivotTables/pivotTable1.xml"], HasSubstr("<location ref=\"H4:I8\""));
  EXPECT_THAT(parts["xl/pivotCache/pivotCacheDefinition1.xml"], HasSubstr("<worksheetSource ref=\"A1:C11\""));
  EXPECT_THAT(parts["xl/comments1.xml"], HasSubstr("<comment ref=\"C1048576\""));
  // Moves and sizes with cells; absolute; moves whole (twice: below, and
  // across the new row, which it does not stretch over).
  EXPECT_THAT(parts["xl/drawings/drawing1.xml"],
              HasSubstr("<xdr:wsDr xmlns:xdr=\"" + xdr + "\">" + anchor("", 6, 9) +
                        anchor(" editAs=\"absolute\"", 5, 8) + anchor(" editAs=\"oneCell\"", 6, 9) +
                        anchor(" editAs=\"oneCell\"", 0, 8) + "</xdr:wsDr>"));
}

TEST_F(StructureTest, MergesValidationsAndFormatsPushedOffTheSheetGoWithTheirCells) {
  TBookLayout layout;
  layout.Sheets = {
      {"Data",
       "<sheetData/><mergeCells count=\"2\"><mergeCell ref=\"A1:B2\"/><mergeCell ref=\"A1048576:B1048576\"/></mergeCells>"
       "<conditionalFormatting sqref=\"C1048576\"><cfRule type=\"expression\" dxfId=\"0\" priority=\"1\"><formula>TRUE</formula></cfRule></conditionalFormatting>"
       "<dataValidations count=\"1\"><dataValidation type=\"whole\" sqref=\"D1048576\"><formula1>1</formula1></dataValidation></dataValidations>"}};
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Sheet(book, 1)->InsertRow(1);
  SaveAndClose(book);
  const std::string xml = ReadZip(FPath)["xl/worksheets/sheet1.xml"];
  EXPECT_THAT(xml, HasSubstr("<mergeCells count=\"1\"><mergeCell ref=\"A2:B3\"/></mergeCells>"));
  EXPECT_THAT(xml, Not(HasSubstr("conditionalFormatting")));
  EXPECT_THAT(xml, Not(HasSubstr("dataValidation")));
}

TEST_F(StructureTest, AutofitSizesTheColumnToItsLongestText) {
  TBookLayout layout;
  layout.Sheets = {{"Data",
                    "<cols><col min=\"1\" max=\"3\" width=\"9\" customWidth=\"1\"/></cols><sheetData/>"
                    "<mergeCells count=\"1\"><mergeCell ref=\"B4:C4\"/></mergeCells>"}};
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto sheet = Sheet(book, 1);
  PutText(sheet, 1, 2, u"short");
  PutText(sheet, 2, 2, u"a much longer text");  // 18 characters
  PutText(sheet, 3, 2, u"\u65e5\u672c\u8a9e");  // 3 wide characters count 6
  PutText(sheet, 4, 2, u"a merged cell does not count at all");
  sheet->AutofitColumn(2);
  SaveAndClose(book);
  const std::string xml = ReadZip(FPath)["xl/worksheets/sheet1.xml"];
  // (18 * 7 + 5) / 7 * 256, truncated, / 256
  EXPECT_THAT(xml, HasSubstr("<col min=\"1\" max=\"1\" width=\"9\" customWidth=\"1\"/>"));
  EXPECT_THAT(xml, HasSubstr("<col min=\"2\" max=\"2\" width=\"18.7109375\" customWidth=\"1\" bestFit=\"1\"/>"));
  EXPECT_THAT(xml, HasSubstr("<col min=\"3\" max=\"3\" width=\"9\" customWidth=\"1\"/>"));
}

TEST_F(StructureTest, AutofitShowsANumberWithoutACalendarDateAsHashesInADateStyle) {
  TBookLayout layout;
  layout.Sheets = {{"Data",
                    "<sheetData><row r=\"1\"><c r=\"A1\" s=\"1\"><v>1E+300</v></c></row>"
                    "<row r=\"2\"><c r=\"A2\" s=\"1\"><v>-1E+18</v></c></row></sheetData>"}};
  layout.CellXfs += "<xf numFmtId=\"14\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Sheet(book, 1)->AutofitColumn(1);
  SaveAndClose(book);
  // Eight hashes: (8 * 7 + 5) / 7 * 256, truncated, / 256
  EXPECT_THAT(ReadZip(FPath)["xl/worksheets/sheet1.xml"], HasSubstr("width=\"8.7109375\""));
}

TEST_F(StructureTest, LockingChangesOnlyTheCellsOwnStyle) {
  TBookLayout layout;
  layout.Sheets = {
      {"Data",
       "<sheetData><row r=\"1\"><c r=\"A1\" s=\"1\"><v>1</v></c><c r=\"B1\" s=\"1\"><v>2</v></c></row></sheetData>"}};
  layout.CellXfs += "<xf numFmtId=\"4\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto sheet = Sheet(book, 1);
  EXPECT_TRUE(sheet->Locked(1, 1));
  sheet->SetLocked(1, 1, false);
  sheet->SetLocked(5, 5, false);
  EXPECT_FALSE(sheet->Locked(1, 1));
  EXPECT_TRUE(sheet->Locked(1, 2));
  SaveAndClose(book);
  auto parts = ReadZip(FPath);
  EXPECT_THAT(parts["xl/worksheets/sheet1.xml"], HasSubstr("<c r=\"A1\" s=\"2\"><v>1</v></c><c r=\"B1\" s=\"1\">"));
  EXPECT_THAT(parts["xl/styles.xml"],
              HasSubstr("<xf numFmtId=\"4\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" "
                        "applyNumberFormat=\"1\" applyProtection=\"1\"><protection locked=\"0\"/></xf>"));
  auto again = Sheet(Open(FPath), 1);
  EXPECT_FALSE(again->Locked(1, 1));
  EXPECT_FALSE(again->Locked(5, 5));
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  EXPECT_EQ(
      RunPython("import openpyxl\nws = openpyxl.load_workbook('" + FPath +
                "').active\nprint(ws['A1'].protection.locked, ws['B1'].protection.locked, ws['A1'].number_format)\n"),
      "False True #,##0.00\n");
}

TEST_F(StructureTest, ProtectionIsSetAndRemovedButAPasswordIsNeverBypassed) {
  TBookLayout layout;
  layout.Sheets = {{"Open", "<sheetData/>"},
                   {"Locked", "<sheetData/><sheetProtection password=\"CC1A\" sheet=\"1\" objects=\"1\"/>"}};
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto open = Sheet(book, 1), locked = Sheet(book, 2);
  EXPECT_FALSE(open->ProtectContents());
  open->Protect();
  EXPECT_TRUE(open->ProtectContents());
  EXPECT_TRUE(locked->ProtectContents());
  EXPECT_THROW(locked->Unprotect(), rtl::EOleException);
  EXPECT_TRUE(locked->ProtectContents());
  SaveAndClose(book);
  EXPECT_THAT(ReadZip(FPath)["xl/worksheets/sheet1.xml"],
              HasSubstr("</sheetData><sheetProtection sheet=\"1\" objects=\"1\" scenarios=\"1\"/>"));
  book = Open(FPath);
  Sheet(book, 1)->Unprotect();
  EXPECT_FALSE(Sheet(book, 1)->ProtectContents());
}

TEST_F(StructureTest, AddedSheetsGetTheNextFreeNameBeforeTheSelectedSheet) {
  TBookLayout layout;
  layout.Sheets = {{"Sheet1", "<sheetData/>"}, {"Data", "<sheetData/>"}, {"Sheet3", "<sheetData/>"}};
  layout.WorkbookExtra =
      "<definedNames><definedName name=\"Local\" localSheetId=\"1\">Data!$A$1</definedName></definedNames>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto active = book->ActiveSheet();
  EXPECT_EQ(NameOf(active), "Sheet1");
  book->Sheet(2)->Select();
  auto added = book->AddSheet();
  EXPECT_EQ(NameOf(added), "Sheet2");
  EXPECT_EQ(NameOf(book->Sheet(2)), "Sheet2");
  EXPECT_EQ(NameOf(book->ActiveSheet()), "Sheet2");
  active->Select();
  PutText(added, 1, 1, u"in the new sheet");
  SaveAndClose(book);

  auto again = Open(FPath);
  EXPECT_EQ(again->SheetCount(), 4);
  EXPECT_EQ(Text(Get(Sheet(again, 2), 1, 1)), "in the new sheet");
  EXPECT_EQ(NameOf(again->ActiveSheet()), "Sheet1");
  EXPECT_THAT(ReadZip(FPath)["xl/workbook.xml"], HasSubstr("localSheetId=\"2\""));
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  EXPECT_EQ(RunPython("import openpyxl\nwb = openpyxl.load_workbook('" + FPath +
                      "')\nprint(wb.sheetnames, wb['Sheet2']['A1'].value)\n"),
            "['Sheet1', 'Sheet2', 'Data', 'Sheet3'] in the new sheet\n");
}

TEST_F(StructureTest, DeletedSheetsTakeTheirPartsAndLocalNamesAndLeaveRefErrors) {
  TBookLayout layout;
  layout.Sheets = {{"Keep", "<sheetData><row r=\"1\"><c r=\"A1\"><f>Gone!A1+1</f><v>1</v></c></row></sheetData>"},
                   {"Gone", "<sheetData/><drawing r:id=\"rId1\"/>"}};
  layout.WorkbookExtra =
      "<definedNames><definedName name=\"Mine\" localSheetId=\"1\">Gone!$A$1</definedName>"
      "<definedName name=\"Points\">Gone!$B$2</definedName></definedNames>";
  layout.SheetRels = {{1, std::string("<Relationship Id=\"rId1\" Type=\"") + kRelNs +
                              "/drawing\" Target=\"../drawings/drawing1.xml\"/>"}};
  layout.ExtraParts = {
      {"docProps/app.xml",
       "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
       "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\"><Application>Microsoft Excel</Application>"
       "<HeadingPairs><vt:vector size=\"2\" baseType=\"variant\"><vt:variant><vt:lpstr>Worksheets</vt:lpstr></vt:variant>"
       "<vt:variant><vt:i4>2</vt:i4></vt:variant></vt:vector></HeadingPairs><TitlesOfParts><vt:vector size=\"2\" "
       "baseType=\"lpstr\"><vt:lpstr>Keep</vt:lpstr><vt:lpstr>Gone</vt:lpstr></vt:vector></TitlesOfParts></Properties>"},
      {"xl/drawings/drawing1.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\"/>"}};
  layout.ExtraContentTypes =
      "<Override PartName=\"/xl/drawings/drawing1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.drawing+xml\"/>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Sheet(book, 2)->Delete();
  EXPECT_THROW(Sheet(book, 1)->Delete(), rtl::EOleException);  // the last sheet stays
  SaveAndClose(book);
  auto parts = ReadZip(FPath);
  EXPECT_EQ(parts.count("xl/worksheets/sheet2.xml"), 0u);
  EXPECT_EQ(parts.count("xl/worksheets/_rels/sheet2.xml.rels"), 0u);
  EXPECT_EQ(parts.count("xl/drawings/drawing1.xml"), 0u);
  EXPECT_THAT(parts["[Content_Types].xml"], Not(HasSubstr("drawing1")));
  EXPECT_THAT(parts["[Content_Types].xml"], Not(HasSubstr("sheet2.xml")));
  EXPECT_THAT(parts["xl/workbook.xml"], Not(HasSubstr("Mine")));
  EXPECT_THAT(parts["docProps/app.xml"],
              HasSubstr("<TitlesOfParts><vt:vector size=\"1\" baseType=\"lpstr\"><vt:lpstr>Keep</vt:lpstr>"));
  EXPECT_THAT(parts["docProps/app.xml"], HasSubstr("<Application>Microsoft Excel</Application>"));
  EXPECT_THAT(parts["xl/workbook.xml"], HasSubstr("<definedName name=\"Points\">#REF!</definedName>"));
  EXPECT_THAT(parts["xl/worksheets/sheet1.xml"], HasSubstr("<f>#REF!+1</f>"));
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  EXPECT_EQ(RunPython("import openpyxl\nwb = openpyxl.load_workbook('" + FPath + "')\nprint(wb.sheetnames)\n"),
            "['Keep']\n");
}

TEST_F(StructureTest, WorksheetsSkipChartSheetsWhileSheetsCountThem) {
  TBookLayout layout;
  layout.Sheets = {{"Data", "<sheetData/>"}};
  WriteBook(FPath, layout);
  // Turn the workbook into one with a chart sheet in front.
  auto parts = ReadZip(FPath);
  std::string& workbook = parts["xl/workbook.xml"];
  workbook.replace(workbook.find("<sheet "), 0, "<sheet name=\"Chart1\" sheetId=\"9\" r:id=\"rIdChart\"/>");
  std::string& rels = parts["xl/_rels/workbook.xml.rels"];
  rels.replace(rels.find("</Relationships>"), 0,
               std::string("<Relationship Id=\"rIdChart\" Type=\"") + kRelNs +
                   "/chartsheet\" Target=\"chartsheets/sheet1.xml\"/>");
  parts["xl/chartsheets/sheet1.xml"] =
      "<chartsheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetViews><sheetView workbookViewId=\"0\"/></sheetViews></chartsheet>";
  TParts list(parts.begin(), parts.end());
  WriteZip(FPath, list);
  auto book = Open(FPath);
  EXPECT_EQ(book->SheetCount(), 2);
  EXPECT_EQ(book->WorksheetCount(), 1);
  EXPECT_EQ(NameOf(Sheet(book, 1)), "Data");
  EXPECT_THROW(Get(book->Sheet(1), 1, 1), rtl::EOleException);
}

}  // namespace
}  // namespace spreadsheet::testing

namespace spreadsheet::testing {
namespace {

TEST_F(StructureTest, CommentsAndTheirNoteShapesMoveWithTheirCells) {
  TBookLayout layout;
  layout.Sheets = {
      {"Data", "<sheetData><row r=\"4\"><c r=\"B4\"><v>1</v></c></row></sheetData><legacyDrawing r:id=\"rId2\"/>"}};
  layout.SheetRels = {{0, std::string("<Relationship Id=\"rId1\" Type=\"") + kRelNs +
                              "/comments\" Target=\"../comments1.xml\"/>"
                              "<Relationship Id=\"rId2\" Type=\"" +
                              kRelNs + "/vmlDrawing\" Target=\"../drawings/vmlDrawing1.vml\"/>"}};
  layout.ExtraParts = {
      {"xl/comments1.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<comments xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
       "<authors><author>me</author></authors><commentList><comment ref=\"B4\" authorId=\"0\"><text><t>note</t></text></comment>"
       "<comment ref=\"B1\" authorId=\"0\"><text><t>top</t></text></comment></commentList></comments>"},
      {"xl/drawings/vmlDrawing1.vml",
       "<xml xmlns:v=\"urn:schemas-microsoft-com:vml\" xmlns:x=\"urn:schemas-microsoft-com:office:excel\"><v:shape>"
       "<x:ClientData ObjectType=\"Note\"><x:Anchor>2, 15, 2, 10, 4, 15, 6, 4</x:Anchor><x:Row>3</x:Row><x:Column>1</x:Column>"
       "</x:ClientData></v:shape></xml>"}};
  layout.ExtraContentTypes =
      "<Default Extension=\"vml\" ContentType=\"application/vnd.openxmlformats-officedocument.vmlDrawing\"/>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Sheet(book, 1)->InsertRow(2);
  SaveAndClose(book);
  auto parts = ReadZip(FPath);
  EXPECT_THAT(parts["xl/comments1.xml"], HasSubstr("<comment ref=\"B5\""));
  EXPECT_THAT(parts["xl/comments1.xml"], HasSubstr("<comment ref=\"B1\""));
  EXPECT_THAT(parts["xl/drawings/vmlDrawing1.vml"], HasSubstr("<x:Anchor>2, 15, 3, 10, 4, 15, 7, 4</x:Anchor>"));
  EXPECT_THAT(parts["xl/drawings/vmlDrawing1.vml"], HasSubstr("<x:Row>4</x:Row>"));
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  EXPECT_EQ(RunPython("import openpyxl\nws = openpyxl.load_workbook('" + FPath +
                      "').active\nprint(ws['B5'].comment.text, ws['B5'].value)\n"),
            "note 1\n");
}

TEST_F(StructureTest, PartOfAnArrayFormulaCannotBeOverwritten) {
  TBookLayout layout;
  layout.Sheets = {{"Data",
                    "<sheetData><row r=\"1\"><c r=\"A1\"><f t=\"array\" ref=\"A1:A2\">B1:B2*2</f><v>0</v></c></row>"
                    "<row r=\"2\"><c r=\"A2\"><v>0</v></c></row></sheetData>"}};
  WriteBook(FPath, layout);
  auto sheet = Sheet(Open(FPath), 1);
  EXPECT_THROW(Put(sheet, 2, 1, Variant(int32_t(1))), rtl::EOleException);
  Put(sheet, 3, 1, Variant(int32_t(1)));  // outside: fine
}

}  // namespace
}  // namespace spreadsheet::testing

namespace spreadsheet::testing {
namespace {

TEST_F(StructureTest, TheSelectedTabFollowsTheActiveSheet) {
  TBookLayout layout;
  layout.Sheets = {{"A", "<sheetViews><sheetView tabSelected=\"1\" workbookViewId=\"0\"/></sheetViews><sheetData/>"},
                   {"B", "<sheetViews><sheetView workbookViewId=\"0\"/></sheetViews><sheetData/>"}};
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Sheet(book, 1)->Delete();
  SaveAndClose(book);
  auto parts = ReadZip(FPath);
  EXPECT_THAT(parts["xl/worksheets/sheet2.xml"], HasSubstr("<sheetView tabSelected=\"1\" workbookViewId=\"0\"/>"));
  EXPECT_THAT(parts["xl/workbook.xml"], HasSubstr("activeTab=\"0\""));
}

TEST_F(StructureTest, IsoDateCellsReadAsDates) {
  TBookLayout layout;
  layout.Sheets = {
      {"A",
       "<sheetData><row r=\"1\"><c r=\"A1\" t=\"d\"><v>2023-03-15T12:00:00</v></c>"
       "<c r=\"B1\" t=\"d\"><v>2023-03-15</v></c><c r=\"C1\" t=\"d\"><v>garbage</v></c></row></sheetData>"}};
  WriteBook(FPath, layout);
  auto sheet = Sheet(Open(FPath), 1);
  EXPECT_EQ(Get(sheet, 1, 1).VType(), rtl::varDate);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 1).VDate(), 45000.5);
  EXPECT_DOUBLE_EQ(Get(sheet, 1, 2).VDate(), 45000);
  EXPECT_EQ(Text(Get(sheet, 1, 3)), "garbage");
}

}  // namespace
}  // namespace spreadsheet::testing
