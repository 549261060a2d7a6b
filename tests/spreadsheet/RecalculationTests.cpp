// What a spreadsheet application calculates from the formulas the server
// writes and adjusts: LibreOffice recalculates each saved workbook, and the
// results must agree with the data. One LibreOffice run per test.
#include <gmock/gmock.h>

#include "ServerFixture.h"
#include "spreadsheet/Sheet.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

const char* const kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string Row(int number, const std::string& cells) {
  return "<row r=\"" + std::to_string(number) + "\">" + cells + "</row>";
}
std::string NumberCell(const std::string& ref, double value) {
  return "<c r=\"" + ref + "\"><v>" + NumberText(value) + "</v></c>";
}
std::string TextCell(const std::string& ref, const std::string& text) {
  return "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
}
// A formula with a deliberately wrong cached result: only a recalculation
// gives the expected value.
std::string FormulaCell(const std::string& ref, const std::string& formula, const std::string& attrs = "") {
  return "<c r=\"" + ref + "\"><f" + attrs + ">" + formula + "</f><v>-999</v></c>";
}

class RecalculationTest : public ServerTest {
 protected:
  std::string FPath = FDir.File("book.xlsx");

  void SetUp() override {
    std::string why = WhyNoRecalculation();
    if (!why.empty()) GTEST_SKIP() << why;
  }

  TRecalculation Calculate() {
    TRecalculation result = Recalculate(FPath);
    RecordProperty("soffice_seconds", std::to_string(result.Seconds));
    EXPECT_EQ(result.Failure, "");
    return result;
  }
  static void Insert(const TSheetRef& sheet, std::u16string_view what, int at) {
    if (what == u"Rows")
      sheet->InsertRow(at);
    else
      sheet->InsertColumn(at);
  }
};

// Expected values of cells, checked against one recalculated sheet.
struct TExpected {
  const char* Cell;
  const char* Value;
  const char* What;
};

void ExpectValues(const TSheetValues& sheet, std::initializer_list<TExpected> expected) {
  for (const TExpected& e : expected) EXPECT_EQ(sheet.At(e.Cell), e.Value) << e.Cell << ": " << e.What;
}

TEST_F(RecalculationTest, ValuesAndFormulasWrittenThroughTheServerCalculate) {
  TBookLayout layout;
  // D1:D3 share the formula A*10; its master is overwritten with a value.
  std::string shared = Row(1, FormulaCell("D1", "A1*10", " t=\"shared\" ref=\"D1:D3\" si=\"0\"")) +
                       Row(2, "<c r=\"D2\"><f t=\"shared\" si=\"0\"/></c>") +
                       Row(3, "<c r=\"D3\"><f t=\"shared\" si=\"0\"/></c>");
  layout.Sheets = {{"Input", "<sheetData>" + shared + Row(9, FormulaCell("A9", "A1*100")) + "</sheetData>"},
                   {"Other Sheet", "<sheetData>" + Row(3, "<c r=\"A3\" s=\"1\"/>") + "</sheetData>"}};
  layout.CellXfs += "<xf numFmtId=\"49\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyNumberFormat=\"1\"/>";
  // Each sheet has its own "Rate"; a sheet added in front must not mix them up.
  layout.WorkbookExtra =
      "<definedNames><definedName name=\"Rate\" localSheetId=\"0\">Input!$A$3</definedName>"
      "<definedName name=\"Rate\" localSheetId=\"1\">'Other Sheet'!$B$1</definedName></definedNames>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto input = Sheet(book, 1), other = Sheet(book, 2);
  Put(input, 1, 1, Variant(int32_t(12)));
  PutText(input, 2, 1, u"3.5");                // typed number
  PutText(input, 3, 1, u"50%");                // typed percent
  Put(input, 4, 1, Variant::FromDate(46329));  // 2026-11-03
  PutText(input, 5, 1, u"TRUE");
  PutText(input, 6, 1, u"'=A1");  // text, not a formula
  Put(input, 7, 1, Variant(1.0 / 3));
  Put(input, 9, 1, Variant(int32_t(7)));        // a value replaces the template's formula
  Put(input, 10, 1, Variant::FromError(2042));  // #N/A
  Put(input, 1, 4, Variant(int32_t(0)));
  PutText(input, 1, 2, u"=A1*2");
  PutText(input, 2, 2, u"=SUM(A1:A2)*A3");
  PutText(input, 3, 2, u"=A4-DATE(2026,1,1)");
  PutText(input, 4, 2, u"=YEAR(A4)*10000+MONTH(A4)*100+DAY(A4)");
  PutText(input, 5, 2, u"=IF(A5,\"yes\",\"no\")&\" \"&A6");
  PutText(input, 6, 2, u"=A7*3");
  PutText(input, 7, 2, u"=sum(a1:a2)");  // as typed, in lower case
  PutText(input, 8, 2, u"=A9+1");
  PutText(input, 9, 2, u"=\"A1:A3, \"\"quoted\"\"\"");
  PutText(input, 10, 2, u"=ISNA(A10)");
  PutText(other, 1, 1, u"='Input'!B1+Input!A2");
  PutText(other, 2, 1, u"=SUM(Input!A1:A2)");
  PutText(other, 3, 1, u"=Input!A1");  // a Text-formatted cell keeps what is typed
  Put(other, 1, 2, Variant(int32_t(2)));
  PutText(other, 2, 2, u"=Rate*10");
  PutText(input, 1, 3, u"=A1*Rate");
  // Functions newer than the file format's first edition, typed as usual.
  PutText(input, 2, 3, u"=CONCAT(\"a\",A1)");
  PutText(input, 3, 3, u"=TEXTJOIN(\"-\",TRUE,A1,A2)");
  PutText(input, 4, 3, u"=IFS(A1>10,\"big\",TRUE,\"small\")");
  PutText(input, 5, 3, u"=MAXIFS(A1:A2,A1:A2,\">1\")+IFNA(NA(),7)");
  PutText(input, 6, 3, u"=\"CONCAT(\"&concat(\"x\",\"y\")");
  PutText(input, 7, 3, u"=_xlfn.CONCAT(\"p\",\"q\")");
  PutText(input, 8, 3, u"=STDEV.S(1,3)^2+FLOOR.MATH(2.5)");
  auto added = book->AddSheet();  // in front of the active sheet
  PutText(added, 1, 1, u"=Input!C1+'Other Sheet'!B2");
  SaveAndClose(book);

  TRecalculation calc = Calculate();
  ExpectValues(calc.Sheet("Input"), {{"A3", "50%", "a typed percent keeps its format"},
                                     {"A4", "11/03/2026", "a date written as a date (en-US short date)"},
                                     {"A6", "=A1", "an apostrophe makes text"},
                                     {"B1", "24", "typed formula"},
                                     {"B2", "7.75", "percent takes part as a fraction"},
                                     {"B3", "306", "a date is its day number"},
                                     {"B4", "20261103", "the date's parts"},
                                     {"B5", "yes =A1", "a typed TRUE is a logical value"},
                                     {"B6", "1", "full precision"},
                                     {"B7", "15.5", "lower-case formula"},
                                     {"B8", "8", "the replaced formula is gone"},
                                     {"B9", "A1:A3, \"quoted\"", "text in a formula"},
                                     {"A10", "#N/A", "an error value"},
                                     {"B10", "TRUE", "an error value is an error"},
                                     {"C1", "6", "the sheet's own name"},
                                     {"C2", "a12", "CONCAT"},
                                     {"C3", "12-3.5", "TEXTJOIN"},
                                     {"C4", "big", "IFS"},
                                     {"C5", "19", "MAXIFS and IFNA"},
                                     {"C6", "CONCAT(xy", "a function name in text stays text"},
                                     {"C7", "pq", "a name written with its prefix"},
                                     {"C8", "4", "dotted names"},
                                     {"D1", "0", "a value over a shared formula's master"},
                                     {"D2", "35", "the group's members keep their formulas"},
                                     {"D3", "5", "the group's members keep their formulas"}});
  ExpectValues(calc.Sheet("Sheet1"), {{"A1", "26", "the added sheet"}});
  ExpectValues(calc.Sheet("Other Sheet"), {{"A1", "27.5", "quoted and plain sheet names"},
                                           {"A2", "15.5", "range on another sheet"},
                                           {"A3", "=Input!A1", "text in a Text-formatted cell"},
                                           {"B2", "20", "the sheet's own name"}});
}

// Sheet "Bob's Q1" holds B2:B5 = 1..4 and C2:C5 = B*2 as a shared formula; row
// 1 and sheet "Summary" total them in every way a formula can point at them.
void MakeRowsBook(const std::string& path) {
  std::string data = Row(
      1, FormulaCell("D1", "SUM(B2:B5)") + FormulaCell("E1", "SUM($B$2:$B$5)") + FormulaCell("F1", "SUM(B:B)") +
             FormulaCell("G1", "B5*10") + FormulaCell("H1", "SUM(Block)") + FormulaCell("I1", "SUM(B2:B3)") +
             FormulaCell("J1", "SUM(C2:C5)") + FormulaCell("K1", "SUM($B2:B$5)") + FormulaCell("L1", "SUM(2:5)") +
             FormulaCell("M1", "SUM(B5:B2)") + FormulaCell("N1", "SUMPRODUCT(B2:B5,C2:C5)") +
             FormulaCell("O1", "SUM(B2:B5*C2:C5)", " t=\"array\" ref=\"O1\"") +
             FormulaCell("P1", "TRANSPOSE(B2:B3)", " t=\"array\" ref=\"P1:Q1\"") + NumberCell("Q1", -999) +
             FormulaCell("R1", "SUM($2:$5)"));
  for (int r = 2; r <= 5; ++r) {
    std::string c = "C" + std::to_string(r);
    data += Row(r, NumberCell("B" + std::to_string(r), r - 1) +
                       (r == 2 ? FormulaCell(c, "B2*2", " t=\"shared\" ref=\"C2:C5\" si=\"0\"")
                               : "<c r=\"" + c + "\"><f t=\"shared\" si=\"0\"/><v>-999</v></c>"));
  }
  // The shared formula here reads the data sheet: its master points above
  // the inserted row while later members point below it.
  std::string summary = Row(1, FormulaCell("A1", "SUM('Bob''s Q1'!B2:B5)") + FormulaCell("B1", "'Bob''s Q1'!B5") +
                                   FormulaCell("C1", "SUM(Block)+SUM(Summary!A3:A6)") +
                                   FormulaCell("D1", "'BOB''S q1'!B4"));
  for (int r = 3; r <= 6; ++r) {
    std::string a = "A" + std::to_string(r);
    summary += Row(r, r == 3 ? FormulaCell(a, "'Bob''s Q1'!B2*3", " t=\"shared\" ref=\"A3:A6\" si=\"0\"")
                             : "<c r=\"" + a + "\"><f t=\"shared\" si=\"0\"/><v>-999</v></c>");
  }
  TBookLayout layout;
  layout.Sheets = {{"Bob's Q1", "<sheetData>" + data + "</sheetData>"},
                   {"Summary", "<sheetData>" + summary + "</sheetData>"}};
  layout.WorkbookExtra = "<definedNames><definedName name=\"Block\">'Bob''s Q1'!$B$2:$B$5</definedName></definedNames>";
  WriteBook(path, layout);
}

TEST_F(RecalculationTest, TotalsStayTrueWhenRowsAreInsertedInsideAndAroundTheirRanges) {
  MakeRowsBook(FPath);
  auto book = Open(FPath);
  auto data = Sheet(book, 1);
  Insert(data, u"Rows", 4);  // inside every range: between the values 2 and 3
  Put(data, 4, 2, Variant(int32_t(100)));
  Insert(data, u"Rows", 2);                 // at the first row of the ranges: they move down whole
  Put(data, 2, 2, Variant(int32_t(1000)));  // outside the ranges now
  Insert(data, u"Rows", 8);                 // after the ranges: they stay
  Put(data, 8, 2, Variant(int32_t(10000)));
  SaveAndClose(book);
  // Data is now B2=1000, B3=1, B4=2, B5=100, B6=3, B7=4, B8=10000;
  // C3:C7 double B3:B7 except the inserted C5, which is empty.
  TRecalculation calc = Calculate();
  ExpectValues(calc.Sheet("Bob's Q1"), {{"D1", "110", "relative range grew"},
                                        {"E1", "110", "absolute range grew"},
                                        {"F1", "11110", "whole column"},
                                        {"G1", "40", "single cell below the insertions"},
                                        {"H1", "110", "defined name grew"},
                                        {"I1", "3", "range above the insertion"},
                                        {"J1", "20", "shared formula members moved with their rows"},
                                        {"K1", "110", "mixed references"},
                                        {"L1", "130", "whole rows"},
                                        {"M1", "110", "range written bottom first"},
                                        {"N1", "60", "two ranges that must stay aligned"},
                                        {"O1", "60", "array formula"},
                                        {"P1", "1", "array over two cells"},
                                        {"Q1", "2", "array over two cells"},
                                        {"R1", "130", "absolute whole rows"},
                                        {"C3", "2", ""},
                                        {"C5", "", "the inserted row has no formula"},
                                        {"C7", "8", ""}});
  ExpectValues(calc.Sheet("Summary"), {{"A1", "110", "range on another sheet"},
                                       {"B1", "4", "cell on another sheet"},
                                       {"C1", "140", "name and shared formula"},
                                       {"D1", "3", "sheet name in another letter case"},
                                       {"A3", "3", "shared master"},
                                       {"A4", "6", "shared member pointing above the insertion"},
                                       {"A5", "9", "shared member pointing below the insertion"},
                                       {"A6", "12", "shared member pointing below the insertion"}});
}

TEST_F(RecalculationTest, TotalsStayTrueWhenColumnsAreInserted) {
  // A2:D2 = 1..4, A3:D3 = row 2 plus one as a shared formula; totals below
  // and on another sheet.
  std::string data = Row(2, NumberCell("A2", 1) + NumberCell("B2", 2) + NumberCell("C2", 3) + NumberCell("D2", 4));
  std::string shared = FormulaCell("A3", "A2+1", " t=\"shared\" ref=\"A3:D3\" si=\"0\"");
  for (const char* c : {"B3", "C3", "D3"})
    shared += std::string("<c r=\"") + c + "\"><f t=\"shared\" si=\"0\"/><v>-999</v></c>";
  data += Row(3, shared);
  data += Row(5, FormulaCell("A5", "SUM(A2:D2)") + FormulaCell("B5", "SUM($A$2:$D$2)") + FormulaCell("C5", "D2*10"));
  data += Row(6, FormulaCell("A6", "SUM(Across)") + FormulaCell("B6", "SUM(A3:D3)") + FormulaCell("C6", "SUM(B2:C3)"));
  data += Row(7, FormulaCell("A7", "SUM(A2:A3)") + FormulaCell("B7", "COUNT(A2:D3)"));
  TBookLayout layout;
  layout.Sheets = {
      {"Data", "<sheetData>" + data + "</sheetData>"},
      {"Report", "<sheetData>" +
                     Row(1, FormulaCell("A1", "SUM(Data!A2:D2)") + FormulaCell("B1", "Data!D2") +
                                FormulaCell("C1", "INDEX(Data!A2:D2,1,4)") + FormulaCell("D1", "SUM(Data!D:D)")) +
                     Row(3, FormulaCell("A3", "Data!A2*2", " t=\"shared\" ref=\"A3:D3\" si=\"0\"") +
                                "<c r=\"B3\"><f t=\"shared\" si=\"0\"/></c><c r=\"C3\"><f t=\"shared\" si=\"0\"/></c>"
                                "<c r=\"D3\"><f t=\"shared\" si=\"0\"/></c>" +
                                FormulaCell("E3", "SUM(A3:D3)")) +
                     "</sheetData>"}};
  layout.WorkbookExtra = "<definedNames><definedName name=\"Across\">Data!$A$2:$D$2</definedName></definedNames>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto sheet = Sheet(book, 1);
  Insert(sheet, u"Columns", 3);  // inside: between 2 and 3
  Put(sheet, 2, 3, Variant(int32_t(100)));
  Insert(sheet, u"Columns", 1);  // before everything
  SaveAndClose(book);
  // Row 2 is now B2=1, C2=2, D2=100, E2=3, F2=4; row 3 is row 2 plus one
  // except the inserted D3, which is empty. The totals moved right: those
  // from column C by two columns, the others by one.
  TRecalculation calc = Calculate();
  ExpectValues(calc.Sheet("Data"), {{"B5", "110", "relative range grew"},
                                    {"C5", "110", "absolute range grew"},
                                    {"E5", "40", "single cell to the right"},
                                    {"B6", "110", "defined name grew"},
                                    {"C6", "14", "shared formula members moved with their columns"},
                                    {"E6", "112", "block around the insertion"},
                                    {"B7", "3", "range left of the insertion"},
                                    {"C7", "9", "numbers counted"},
                                    {"F3", "5", "shared member"}});
  ExpectValues(calc.Sheet("Report"), {{"A1", "110", "range on another sheet"},
                                      {"B1", "4", "cell on another sheet"},
                                      {"C1", "3", "INDEX reads the grown range"},
                                      {"D1", "9", "whole column on another sheet"},
                                      {"A3", "2", "shared master"},
                                      {"C3", "6", "shared member pointing right of the insertion"},
                                      {"E3", "20", "shared members on another sheet follow their columns"}});
}

TEST_F(RecalculationTest, FormulasIntoADeletedSheetShowRefErrorsAndOthersStayIntact) {
  TBookLayout layout;
  layout.Sheets = {
      {"Keep", "<sheetData>" +
                   Row(1, FormulaCell("A1", "Gone!A1+1") + FormulaCell("B1", "SUM(Gone!A1:A3)") +
                              FormulaCell("C1", "'Gone'!A1") + FormulaCell("D1", "GONE!A1") +
                              FormulaCell("E1", "SUM(Points)") + FormulaCell("F1", "SUM(GoneTable[Amount])")) +
                   Row(2, FormulaCell("A2", "Gone2!A1*2") + FormulaCell("B2", "\"Gone!A1\"") +
                              FormulaCell("C2", "SUM(Stays)") + FormulaCell("D2", "IFERROR(Gone!A1,-1)") +
                              FormulaCell("E2", "ISREF(Gone!A1)") + FormulaCell("F2", "übersicht!A1")) +
                   "</sheetData>"},
      {"Gone", "<sheetData>" + Row(1, TextCell("A1", "Amount")) + Row(2, NumberCell("A2", 5)) +
                   "</sheetData><tableParts count=\"1\"><tablePart r:id=\"rId1\"/></tableParts>"},
      {"Gone2", "<sheetData>" + Row(1, NumberCell("A1", 21) + NumberCell("B1", 9)) + "</sheetData>"},
      {"Übersicht", "<sheetData>" + Row(1, NumberCell("A1", 1)) + "</sheetData>"}};
  layout.WorkbookExtra =
      "<definedNames><definedName name=\"Points\">Gone!$A$1</definedName>"
      "<definedName name=\"Stays\">Gone2!$A$1:$B$1</definedName></definedNames>";
  layout.SheetRels = {
      {1, std::string("<Relationship Id=\"rId1\" Type=\"") + kRelNs + "/table\" Target=\"../tables/table1.xml\"/>"}};
  layout.ExtraParts = {
      {"xl/tables/table1.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
       "<table xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" id=\"1\" name=\"GoneTable\" "
       "displayName=\"GoneTable\" ref=\"A1:A2\"><tableColumns count=\"1\"><tableColumn id=\"1\" name=\"Amount\"/>"
       "</tableColumns></table>"}};
  layout.ExtraContentTypes =
      "<Override PartName=\"/xl/tables/table1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml\"/>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Sheet(book, 2)->Delete();
  Sheet(book, 3)->Delete();  // Übersicht
  SaveAndClose(book);
  TRecalculation calc = Calculate();
  EXPECT_EQ(calc.Sheets.count("Gone"), 0u);
  ExpectValues(calc.Sheet("Keep"), {{"A1", "#REF!", "arithmetic on the deleted sheet"},
                                    {"B1", "#REF!", "range on the deleted sheet"},
                                    {"C1", "#REF!", "quoted name"},
                                    {"D1", "#REF!", "name in other letter case"},
                                    {"E1", "#REF!", "defined name into the deleted sheet"},
                                    {"F1", "#REF!", "table of the deleted sheet"},
                                    {"A2", "42", "a sheet whose name starts alike"},
                                    {"B2", "Gone!A1", "text that looks like a reference"},
                                    {"C2", "30", "a name into a kept sheet"},
                                    {"D2", "-1", "the error can be caught"},
                                    {"E2", "FALSE", "no longer a reference"},
                                    {"F2", "#REF!", "non-ASCII name in other letter case"}});
}

// A table on A1:C5 of its sheet: header Item, Qty, Amount, three data rows
// (Qty 1..3, Amount 10..30) and a totals row with the given formulas.
std::string TableSheet(const std::string& qtyTotal, const std::string& amountTotal) {
  std::string rows = Row(1, TextCell("A1", "Item") + TextCell("B1", "Qty") + TextCell("C1", "Amount"));
  for (int r = 2; r <= 4; ++r)
    rows += Row(r, TextCell("A" + std::to_string(r), std::string(1, static_cast<char>('a' + r - 2))) +
                       NumberCell("B" + std::to_string(r), r - 1) + NumberCell("C" + std::to_string(r), 10 * (r - 1)));
  rows += Row(5, TextCell("A5", "Total") + FormulaCell("B5", qtyTotal) + FormulaCell("C5", amountTotal));
  return "<sheetData>" + rows + "</sheetData><tableParts count=\"1\"><tablePart r:id=\"rId1\"/></tableParts>";
}
std::pair<std::string, std::string> TablePart(int number, const std::string& name) {
  return {"xl/tables/table" + std::to_string(number) + ".xml",
          "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
          "<table xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" id=\"" +
              std::to_string(number) + "\" name=\"" + name + "\" displayName=\"" + name +
              "\" ref=\"A1:C5\" totalsRowCount=\"1\"><autoFilter ref=\"A1:C4\"/>"
              "<tableColumns count=\"3\"><tableColumn id=\"1\" name=\"Item\" totalsRowLabel=\"Total\"/>"
              "<tableColumn id=\"2\" name=\"Qty\" totalsRowFunction=\"sum\"/>"
              "<tableColumn id=\"3\" name=\"Amount\" totalsRowFunction=\"sum\"/></tableColumns>"
              "<tableStyleInfo name=\"TableStyleMedium9\" showRowStripes=\"1\"/></table>"};
}

// Table "Sales" totals Qty with a plain range and Amount with a structured
// reference; table "Wide" on another sheet gets columns inserted.
TEST_F(RecalculationTest, ATablesTotalsRowSeesRowsInsertedIntoTheTable) {
  TBookLayout layout;
  layout.Sheets = {
      {"Sheet1", TableSheet("SUBTOTAL(109,B2:B4)", "SUBTOTAL(109,Sales[Amount])")},
      {"Report", "<sheetData>" +
                     Row(1, FormulaCell("A1", "SUM(Sales[Amount])") + FormulaCell("B1", "Sheet1!C5") +
                                FormulaCell("C1", "ROWS(Sales[Amount])") + FormulaCell("D1", "SUM(Wide[Amount])")) +
                     "</sheetData>"},
      {"Wide", TableSheet("SUBTOTAL(109,Wide[Qty])", "SUBTOTAL(109,Wide[Amount])")}};
  for (int index : {0, 2})
    layout.SheetRels.push_back({index, std::string("<Relationship Id=\"rId1\" Type=\"") + kRelNs +
                                           "/table\" Target=\"../tables/table" + std::to_string(index + 1) +
                                           ".xml\"/>"});
  layout.ExtraParts = {TablePart(1, "Sales"), TablePart(3, "Wide")};
  for (int number : {1, 3})
    layout.ExtraContentTypes +=
        "<Override PartName=\"/xl/tables/table" + std::to_string(number) +
        ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml\"/>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto sheet = Sheet(book, 1);
  Insert(sheet, u"Rows", 3);  // inside the table's data
  PutText(sheet, 3, 1, u"new");
  Put(sheet, 3, 2, Variant(int32_t(5)));
  Put(sheet, 3, 3, Variant(int32_t(50)));
  Insert(sheet, u"Rows", 6);  // at the totals row: the table grows by a data row
  PutText(sheet, 6, 1, u"last");
  Put(sheet, 6, 3, Variant(int32_t(500)));
  Insert(sheet, u"Rows", 1);  // above the table: it moves whole
  auto wide = Sheet(book, 3);
  Insert(wide, u"Columns", 3);  // a new table column between Qty and Amount
  for (int r = 2; r <= 4; ++r) Put(wide, r, 3, Variant(int32_t(1000)));
  Insert(wide, u"Columns", 1);  // left of the table: it moves whole
  PutText(Sheet(book, 2), 1, 5, u"=SUM(Wide[Column1])");
  SaveAndClose(book);
  TRecalculation calc = Calculate();
  ExpectValues(calc.Sheet("Sheet1"), {{"A8", "Total", "the totals row moved down three times"},
                                      {"B8", "11", "plain range grew with the row inserted inside"},
                                      {"C8", "610", "structured reference covers both new rows"}});
  ExpectValues(calc.Sheet("Wide"), {{"B5", "Total", ""},
                                    {"C5", "6", "Qty total"},
                                    {"E5", "60", "Amount total skips the inserted column"},
                                    {"D1", "Column1", "the inserted column's header"}});
  ExpectValues(calc.Sheet("Report"), {{"A1", "610", "structured reference from another sheet"},
                                      {"B1", "610", "cell reference to the moved total"},
                                      {"C1", "5", "the table's data rows"},
                                      {"D1", "60", "the moved table's column by name"},
                                      {"E1", "3000", "the inserted table column by name"}});
}

// Table "Calc" on A1:D4: Qty, Price, a calculated Amount (structured
// references) and a calculated Plain (A1 references), two data rows and
// totals in row 4.
TEST_F(RecalculationTest, RowsInsertedIntoATableTakeItsCalculatedColumns) {
  const std::string amount = "Calc[[#This Row],[Qty]]*Calc[[#This Row],[Price]]";
  std::string rows = Row(1, TextCell("A1", "Qty") + TextCell("B1", "Price") + TextCell("C1", "Amount") +
                                TextCell("D1", "Plain"));
  for (int r = 2; r <= 3; ++r) {
    std::string n = std::to_string(r);
    rows += Row(r, NumberCell("A" + n, r - 1) + NumberCell("B" + n, 10 * (r - 1)) + FormulaCell("C" + n, amount) +
                       FormulaCell("D" + n, "A" + n + "*10"));
  }
  rows += Row(4, FormulaCell("C4", "SUBTOTAL(109,Calc[Amount])") + FormulaCell("D4", "SUBTOTAL(109,Calc[Plain])"));
  TBookLayout layout;
  layout.Sheets = {
      {"Calc", "<sheetData>" + rows + "</sheetData><tableParts count=\"1\"><tablePart r:id=\"rId1\"/></tableParts>"}};
  layout.SheetRels = {
      {0, std::string("<Relationship Id=\"rId1\" Type=\"") + kRelNs + "/table\" Target=\"../tables/table1.xml\"/>"}};
  layout.ExtraParts = {
      {"xl/tables/table1.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
       "<table xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" id=\"1\" name=\"Calc\" "
       "displayName=\"Calc\" ref=\"A1:D4\" totalsRowCount=\"1\"><autoFilter ref=\"A1:D3\"/>"
       "<tableColumns count=\"4\"><tableColumn id=\"1\" name=\"Qty\"/><tableColumn id=\"2\" name=\"Price\"/>"
       "<tableColumn id=\"3\" name=\"Amount\" totalsRowFunction=\"sum\"><calculatedColumnFormula>" +
           amount +
           "</calculatedColumnFormula></tableColumn>"
           "<tableColumn id=\"4\" name=\"Plain\" totalsRowFunction=\"sum\"><calculatedColumnFormula>A2*10"
           "</calculatedColumnFormula></tableColumn></tableColumns>"
           "<tableStyleInfo name=\"TableStyleMedium9\" showRowStripes=\"1\"/></table>"}};
  layout.ExtraContentTypes =
      "<Override PartName=\"/xl/tables/table1.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml\"/>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  auto sheet = Sheet(book, 1);
  auto fill = [&](int row, int qty) {
    Put(sheet, row, 1, Variant(int32_t(qty)));
    Put(sheet, row, 2, Variant(int32_t(qty * 10)));
  };
  Insert(sheet, u"Rows", 3);  // between the data rows
  fill(3, 3);
  Insert(sheet, u"Rows", 5);  // at the totals row
  fill(5, 4);
  Insert(sheet, u"Rows", 2);  // at the first data row: nothing above to copy
  fill(2, 5);
  Insert(sheet, u"Rows", 1);  // above the table: no data row is added
  SaveAndClose(book);
  // Data rows 3..7 hold Qty 5, 1, 3, 2, 4 and Price ten times that.
  TRecalculation calc = Calculate();
  ExpectValues(calc.Sheet("Calc"), {{"C3", "250", "first data row"},
                                    {"D3", "50", "first data row, A1 references"},
                                    {"C5", "90", "row inserted between"},
                                    {"C7", "160", "row inserted at the totals row"},
                                    {"D7", "40", "row inserted at the totals row, A1 references"},
                                    {"C8", "550", "Amount total"},
                                    {"D8", "150", "Plain total"},
                                    {"C2", "Amount", "the header row takes no formula"}});
}

TEST_F(RecalculationTest, AFileLibreOfficeCannotOpenIsAFailureNotAnEmptyBook) {
  WriteZip(FPath, {{"[Content_Types].xml", "<Types"}});
  TRecalculation calc = Recalculate(FPath);
  EXPECT_NE(calc.Failure, "");
  EXPECT_TRUE(calc.Sheets.empty());
}

}  // namespace
}  // namespace spreadsheet::testing
