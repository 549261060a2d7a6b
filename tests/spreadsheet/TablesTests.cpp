// A table's header cells and its columns' names stay equal: a write into the
// header row renames the column, uniquely within the table, and structured
// references that name it follow. Checked with openpyxl reading the table
// part and the formulas.
#include <gmock/gmock.h>

#include "ServerFixture.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

const char* const kRelNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

class TablesTest : public ServerTest {
 protected:
  // "Data" holds the table Sales (A2:C5: Customer, Amount, Note, a total
  // row) whose Note column is calculated from Customer; "Summary" and the
  // name Clients point at the Customer column.
  void MakeBook(const std::string& path) {
    TBookLayout layout;
    auto inl = [](const char* cell, const char* text) {
      return std::string("<c r=\"") + cell + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
    };
    auto note = [](int row, const char* formula) {
      return "<c r=\"C" + std::to_string(row) + "\" t=\"str\"><f>" + formula + "</f><v>x</v></c>";
    };
    layout.Sheets = {
        {"Data", "<sheetData><row r=\"1\">" + inl("A1", "Orders") + "</row><row r=\"2\">" + inl("A2", "Customer") +
                     inl("B2", "Amount") + inl("C2", "Note") + "</row><row r=\"3\">" + inl("A3", "Anna") +
                     "<c r=\"B3\"><v>10</v></c>" + note(3, "Sales[[#This Row],[Customer]]&amp;\"!\"") +
                     "</row><row r=\"4\">" + inl("A4", "Bert") + "<c r=\"B4\"><v>20</v></c>" +
                     note(4, "[@Customer]&amp;\"!\"") + "</row><row r=\"5\">" + inl("A5", "Total") +
                     "<c r=\"B5\"><f>SUBTOTAL(109,Sales[Amount])</f><v>30</v></c></row></sheetData>"
                     "<tableParts count=\"1\"><tablePart r:id=\"rId1\"/></tableParts>"},
        {"Summary",
         "<sheetData><row r=\"1\"><c r=\"A1\"><f>COUNTA(Sales[Customer])</f><v>2</v></c>"
         "<c r=\"B1\" t=\"str\"><f>INDEX(Sales[[#Data],[Customer]:[Amount]],1,1)</f><v>Anna</v></c></row></sheetData>"}};
    layout.WorkbookExtra = "<definedNames><definedName name=\"Clients\">Sales[Customer]</definedName></definedNames>";
    layout.SheetRels = {
        {0, std::string("<Relationship Id=\"rId1\" Type=\"") + kRelNs + "/table\" Target=\"../tables/table1.xml\"/>"}};
    layout.ExtraParts = {
        {"xl/tables/table1.xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
         "<table xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" id=\"1\" name=\"Sales\" "
         "displayName=\"Sales\" ref=\"A2:C5\" totalsRowCount=\"1\"><autoFilter ref=\"A2:C4\"/>"
         "<tableColumns count=\"3\"><tableColumn id=\"1\" name=\"Customer\" totalsRowLabel=\"Total\"/>"
         "<tableColumn id=\"2\" name=\"Amount\" totalsRowFunction=\"sum\"/>"
         "<tableColumn id=\"3\" name=\"Note\"><calculatedColumnFormula>Sales[[#This Row],[Customer]]&amp;\"!\""
         "</calculatedColumnFormula></tableColumn></tableColumns>"
         "<tableStyleInfo name=\"TableStyleMedium9\" showRowStripes=\"1\"/></table>"}};
    layout.ExtraContentTypes =
        "<Override PartName=\"/xl/tables/table1.xml\" "
        "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.table+xml\"/>";
    WriteBook(path, layout);
  }
};

TEST_F(TablesTest, AHeaderWriteRenamesItsColumnUniquelyAndReferencesFollow) {
  struct TCase {
    const char* Name;
    int Column;  // of the header cell written, in row 2
    Variant Value;
    const char* Columns;  // the table's column names afterwards, which the header cells show
    const char* Item;     // the first column as a bracketed item names it ("[[#This Row],[Client]]")
    const char* Bare;     // and in the short forms ("Sales[Client]", "[@Client]")
    const char* Amount;   // how references name the second column afterwards
  };
  const TCase cases[] = {
      {"text", 1, Variant::FromOleStr(u"Client"), "Client, Amount, Note", "Client", "Client", "Amount"},
      {"taken", 1, Variant::FromOleStr(u"Amount"), "Amount2, Amount, Note", "Amount2", "Amount2", "Amount"},
      {"taken in other case", 1, Variant::FromOleStr(u"amount"), "amount2, Amount, Note", "amount2", "amount2",
       "Amount"},
      {"with a space", 1, Variant::FromOleStr(u"Unit price"), "Unit price, Amount, Note", "Unit price", "[Unit price]",
       "Amount"},
      {"special characters", 1, Variant::FromOleStr(u"#1's [x]"), "#1's [x], Amount, Note", "'#1''s '[x']",
       "['#1''s '[x']]", "Amount"},
      {"same", 1, Variant::FromOleStr(u"Customer"), "Customer, Amount, Note", "Customer", "Customer", "Amount"},
      {"apostrophe", 1, Variant::FromOleStr(u"'007"), "007, Amount, Note", "007", "007", "Amount"},
      {"number", 2, Variant(int32_t(2026)), "Customer, 2026, Note", "Customer", "Customer", "2026"},
      {"typed number", 2, Variant::FromOleStr(u"2026"), "Customer, 2026, Note", "Customer", "Customer", "2026"},
      {"boolean", 3, Variant(true), "Customer, Amount, TRUE", "Customer", "Customer", "Amount"},
      {"empty", 1, Variant(), "Column1, Amount, Note", "Column1", "Column1", "Amount"},
      {"empty elsewhere", 3, Variant(), "Customer, Amount, Column1", "Customer", "Customer", "Amount"},
  };
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  std::string script = "import openpyxl\n";
  std::string expected;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    std::string path = FDir.File(std::string(c.Name) + ".xlsx");
    MakeBook(path);
    auto book = Open(path);
    auto data = Sheet(book, 1);
    Put(data, 2, c.Column, c.Value);
    std::string columns = c.Columns;
    std::string shown;  // the name of the written column
    for (int k = 1, at = 0; k <= c.Column; ++k) {
      size_t comma = columns.find(", ", static_cast<size_t>(at));
      shown = columns.substr(static_cast<size_t>(at),
                             comma == std::string::npos ? std::string::npos : comma - static_cast<size_t>(at));
      at = static_cast<int>(comma + 2);
    }
    EXPECT_EQ(Get(data, 2, c.Column).VType(), rtl::varOleStr);  // the cell shows the name, as text
    EXPECT_EQ(Text(Get(data, 2, c.Column)), shown);
    SaveAndClose(book);
    // LibreOffice resolves the rewritten references, escapes included (the
    // short form "[@Customer]" is not one it reads in files).
    if (std::string(c.Name) == "special characters" && WhyNoRecalculation().empty()) {
      TRecalculation calc = Recalculate(path);
      EXPECT_EQ(calc.Failure, "");
      EXPECT_EQ(calc.Sheet("Data").At("C3"), "Anna!");
      EXPECT_EQ(calc.Sheet("Summary").At("A1") + calc.Sheet("Summary").At("B1"), "2Anna");
    }

    script +=
        "wb = openpyxl.load_workbook('" + path +
        "')\n"
        "ws = wb['Data']\n"
        "t = ws.tables['Sales']\n"
        "print(', '.join(c.name for c in t.tableColumns), '|', ', '.join(ws.cell(row=2, column=k).value for k in range(1, 4)))\n"
        "print(t.tableColumns[2].calculatedColumnFormula.attr_text, ws['C3'].value, ws['C4'].value, ws['B5'].value)\n"
        "print(wb['Summary']['A1'].value, wb['Summary']['B1'].value, wb.defined_names['Clients'].attr_text)\n";
    std::string item = c.Item, bare = c.Bare, amount = c.Amount;
    expected += columns + " | " + columns + "\n" + "Sales[[#This Row],[" + item + "]]&\"!\" =Sales[[#This Row],[" +
                item + "]]&\"!\" =[@" + bare + "]&\"!\" =SUBTOTAL(109,Sales[" + amount + "])\n" + "=COUNTA(Sales[" +
                bare + "]) =INDEX(Sales[[#Data],[" + item + "]:[" + amount + "]],1,1) Sales[" + bare + "]\n";
  }
  bool ok = false;
  std::string out = RunPython(script, &ok);
  EXPECT_TRUE(ok) << out;
  EXPECT_EQ(out, expected);
}

// The header row is wherever the table is after rows and columns were
// inserted, also when it was written before.
TEST_F(TablesTest, TheHeaderRowMovesWithInsertedRowsAndColumns) {
  std::string path = FDir.File("moved.xlsx");
  MakeBook(path);
  auto book = Open(path);
  auto data = Sheet(book, 1);
  PutText(data, 2, 2, u"Sum");     // header B2: renames Amount
  data->InsertRow(1);              // the table: A3:C6
  data->InsertColumn(1);           // the table: B3:D6
  PutText(data, 2, 2, u"Orders");  // the title, not a header: no rename
  PutText(data, 3, 2, u"Client");
  PutText(data, 3, 3, u"Client");
  EXPECT_EQ(Text(Get(data, 3, 3)), "Client2");
  SaveAndClose(book);
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  std::string out = RunPython("import openpyxl\nwb = openpyxl.load_workbook('" + path +
                              "')\nt = wb['Data'].tables['Sales']\nprint(t.ref, [c.name for c in t.tableColumns], "
                              "wb['Summary']['A1'].value)\n");
  EXPECT_EQ(out, "B3:D6 ['Client', 'Client2', 'Note'] =COUNTA(Sales[Client])\n");
}

}  // namespace
}  // namespace spreadsheet::testing
