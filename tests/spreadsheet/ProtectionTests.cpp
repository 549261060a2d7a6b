// Sheet protection enforced as the application enforces it: locked cells of
// a protected sheet refuse writes, insertion needs the protection's consent,
// and protected ranges move with their cells.
#include <gmock/gmock.h>

#include <filesystem>

#include "ServerFixture.h"

namespace spreadsheet::testing {
namespace {

using ::testing::HasSubstr;
using rtl::Variant;

class ProtectionTest : public ServerTest {
 protected:
  std::string FPath = FDir.File("book.xlsx");

  // Style 1 unlocks; column B carries it. "Password" is protected with a
  // password and has an open range D1:D3 and a password range E1:E2;
  // "Allows" is protected but lets rows and columns be inserted; "Open" is
  // not protected.
  void MakeBook() {
    TBookLayout layout;
    layout.CellXfs +=
        "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\" applyProtection=\"1\">"
        "<protection locked=\"0\"/></xf>";
    const std::string unlockedB = "<cols><col min=\"2\" max=\"2\" width=\"9\" style=\"1\"/></cols>";
    layout.Sheets = {
        {"Password",
         unlockedB +
             "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData>"
             "<sheetProtection algorithmName=\"SHA-512\" hashValue=\"qMjNZ0w4jDtNOWvb\" saltValue=\"bm9zYWx0\" spinCount=\"100000\" "
             "sheet=\"1\" objects=\"1\" scenarios=\"1\"/>"
             "<protectedRanges><protectedRange sqref=\"D1:D3\" name=\"Open\"/>"
             "<protectedRange password=\"CC1A\" sqref=\"E1:E2\" name=\"Closed\"/></protectedRanges>"},
        {"Allows",
         unlockedB + "<sheetData/><sheetProtection password=\"CC1A\" sheet=\"1\" insertRows=\"0\" insertColumns=\"0\"/>"
                     "<protectedRanges><protectedRange sqref=\"A2:B4 D5\" name=\"Input\"/></protectedRanges>"},
        {"Open", unlockedB + "<sheetData/>"}};
    WriteBook(FPath, layout);
  }
};

TEST_F(ProtectionTest, LockedCellsAndInsertionAreRefusedAsTheProtectionSays) {
  MakeBook();
  auto book = Open(FPath);
  auto password = Sheet(book, 1), allows = Sheet(book, 2), open = Sheet(book, 3);
  // Before the script protects it, "Open" takes everything.
  Put(open, 1, 1, Variant(int32_t(1)));
  open->InsertRow(1);
  open->InsertColumn(1);  // column B (unlocked) is now C
  open->Protect();

  enum TAction { Write, Clear, Row, Column, Range };
  struct TCase {
    TSheetRef Sheet;
    TAction Action;
    int Row, Column;
    const char* Refusal;  // "" when allowed
  };
  const std::string cellRefusal =
      "The cell or chart you're trying to change is on a protected sheet. To make a change, unprotect the sheet. "
      "You might be requested to enter a password.";
  const TCase cases[] = {
      {password, Write, 1, 1, "A1 on sheet \"Password\" is locked"},
      {password, Clear, 1, 1, "A1 on sheet \"Password\" is locked"},
      {password, Write, 7, 3, "C7 on sheet \"Password\" is locked"},
      {password, Write, 7, 2, ""},  // the column's style unlocks it
      {password, Write, 2, 4, ""},  // in the range without a password
      {password, Write, 4, 4, "D4 on sheet \"Password\" is locked"},
      {password, Write, 1, 5, "E1 on sheet \"Password\" is locked"},  // the range asks for a password
      {password, Row, 3, 0, "sheet \"Password\" is protected and its protection does not allow inserting rows"},
      {password, Column, 0, 3, "sheet \"Password\" is protected and its protection does not allow inserting columns"},
      {allows, Write, 9, 9, "I9 on sheet \"Allows\" is locked"},
      {allows, Write, 3, 1, ""},  // A3 lies in the open range
      {allows, Row, 3, 0, ""},
      {allows, Column, 0, 1, ""},
      {open, Write, 2, 1, "A2 on sheet \"Open\" is locked"},
      {open, Write, 2, 3, ""},
      {open, Row, 1, 0, "sheet \"Open\" is protected and its protection does not allow inserting rows"},
      {password, Range, 8, 2, "C8 on sheet \"Password\" is locked"},  // B8:C8, B8 unlocked
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(NameOf(c.Sheet) + " " + std::to_string(c.Action) + " " + std::to_string(c.Row) + "," +
                 std::to_string(c.Column));
    std::string refusal;
    try {
      switch (c.Action) {
        case Write: Put(c.Sheet, c.Row, c.Column, Variant(int32_t(5))); break;
        case Clear: Put(c.Sheet, c.Row, c.Column, Variant()); break;
        case Row: c.Sheet->InsertRow(c.Row); break;
        case Column: c.Sheet->InsertColumn(c.Column); break;
        case Range: c.Sheet->SetRangeValue(u"B8:C8", Variant(int32_t(5))); break;
      }
    } catch (const rtl::EOleException& e) {
      refusal = Text(Variant::FromOleStr(e.Message()));
    }
    if (!*c.Refusal) {
      EXPECT_EQ(refusal, "");
    } else if (c.Action == Write || c.Action == Clear || c.Action == Range) {
      EXPECT_EQ(refusal, cellRefusal + " (" + c.Refusal + ")");
    } else {
      EXPECT_EQ(refusal, std::string("Insert method of Range class failed (") + c.Refusal + ")");
    }
  }
  EXPECT_DOUBLE_EQ(Get(password, 1, 1).AsDouble(), 1);  // refused writes left nothing behind
  EXPECT_TRUE(Get(password, 4, 4).IsEmpty());
  EXPECT_TRUE(Get(password, 8, 2).IsEmpty());  // a refused range write writes none of its cells
  SaveAndClose(book);

  // The protected range grew with the row inserted inside it and moved with
  // the column inserted before it; the protection itself is kept.
  auto parts = ReadZip(FPath);
  EXPECT_THAT(parts["xl/worksheets/sheet2.xml"],
              HasSubstr("<protectedRanges><protectedRange sqref=\"B2:C5 E6\" name=\"Input\"/></protectedRanges>"));
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  EXPECT_EQ(RunPython("import openpyxl\nwb = openpyxl.load_workbook('" + FPath +
                      "')\nfor ws in wb:\n"
                      "    print(ws.title, ws.protection.sheet, [(c.coordinate, c.value) for row in ws.iter_rows()"
                      " for c in row if c.value is not None])\n"),
            "Password True [('A1', 1), ('D2', 5), ('B7', 5)]\n"
            "Allows True [('B4', 5)]\n"
            "Open True [('B2', 1), ('C2', 5)]\n");
}

// The application's own protected workbooks: what its protection allows and
// refuses, and its protected ranges moving once the sheet is unprotected.
TEST_F(ProtectionTest, TheApplicationsProtectedWorkbooksAreEnforced) {
  if (!HaveSharedCorpus()) GTEST_SKIP() << "no workbook corpus at ../shared/xlsx-corpus";
  struct TCase {
    const char* File;
    std::vector<std::pair<const char*, bool>> Writes;  // cell, allowed
    bool InsertAllowed;
  };
  const TCase cases[] = {
      {"protect02.xlsx", {{"A1", false}, {"A2", true}, {"A3", true}, {"B9", false}}, false},
      {"protect04.xlsx", {{"A1", true}, {"B1", false}}, false},
      {"protect06.xlsx", {{"A1", false}, {"C2", true}, {"H5", true}, {"K7", false}, {"D1", false}}, false},
      {"protect08.xlsx", {{"A1", false}}, true},
  };
  std::string corpus;
  for (const std::string& file : CorpusFiles())
    if (file.find("/protect02.xlsx") != std::string::npos) corpus = file.substr(0, file.rfind('/') + 1);
  ASSERT_FALSE(corpus.empty());
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.File);
    std::string copy = FDir.File(c.File);
    std::filesystem::copy_file(corpus + c.File, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    auto book = Open(copy);
    auto sheet = Sheet(book, 1);
    for (const auto& [cell, allowed] : c.Writes) {
      bool refused = false;
      try {
        sheet->SetRangeValue(rtl::Utf8ToUnicode(cell), Variant(int32_t(7)));
      } catch (const rtl::EOleException&) {
        refused = true;
      }
      EXPECT_EQ(refused, !allowed) << cell;
    }
    bool refused = false;
    try {
      sheet->InsertRow(1);
      sheet->InsertColumn(1);
    } catch (const rtl::EOleException&) {
      refused = true;
    }
    EXPECT_EQ(refused, !c.InsertAllowed);
    SaveAndClose(book);
  }
  // Without its protection (it has no password), protect06's ranges move
  // with an inserted row and column: one with a password as well.
  auto book = Open(FDir.File("protect06.xlsx"));
  auto sheet = Sheet(book, 1);
  sheet->Unprotect();
  sheet->InsertRow(2);
  sheet->InsertColumn(2);
  SaveAndClose(book);
  EXPECT_THAT(ReadZip(FDir.File("protect06.xlsx"))["xl/worksheets/sheet1.xml"],
              HasSubstr("<protectedRanges><protectedRange password=\"83AF\" sqref=\"A1\" name=\"Range1\"/>"
                        "<protectedRange sqref=\"D1:D4\" name=\"Range2\"/><protectedRange sqref=\"H5:J7\" "
                        "name=\"MyRange\"/><protectedRange password=\"DAC5\" sqref=\"L8\" name=\"Range4\"/>"
                        "</protectedRanges>"));
}

}  // namespace
}  // namespace spreadsheet::testing
