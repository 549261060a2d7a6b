// The wrappers over Korva's own spreadsheet server, end to end.
#include <gtest/gtest.h>
#include <zip.h>

#include <cstdlib>
#include <filesystem>

#include "rtl/AutomationErrors.h"
#include "spreadsheet/NativeServer.h"
#include "workbook/qovDocument.h"

namespace workbook {
namespace {

using rtl::Variant;

// Three worksheets and, between them, a chart sheet.
void WriteBook(const std::string& path) {
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  std::vector<std::pair<std::string, std::string>> parts = {
      {"[Content_Types].xml",
       decl +
           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
           "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
           "ContentType=\"application/xml\"/></Types>"},
      {"_rels/.rels", decl +
                          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                          "<Relationship Id=\"rId1\" Type=\"" +
                          rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml",
       decl + "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + rel +
           "\"><sheets><sheet name=\"First\" sheetId=\"1\" r:id=\"rId1\"/>"
           "<sheet name=\"Chart1\" sheetId=\"4\" r:id=\"rId4\"/><sheet name=\"Second\" sheetId=\"2\" r:id=\"rId2\"/>"
           "<sheet name=\"Third\" sheetId=\"3\" r:id=\"rId3\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       decl +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" Type=\"" +
           rel +
           "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
           "<Relationship Id=\"rId2\" Type=\"" +
           rel +
           "/worksheet\" Target=\"worksheets/sheet2.xml\"/>"
           "<Relationship Id=\"rId3\" Type=\"" +
           rel +
           "/worksheet\" Target=\"worksheets/sheet3.xml\"/>"
           "<Relationship Id=\"rId4\" Type=\"" +
           rel +
           "/chartsheet\" Target=\"chartsheets/sheet1.xml\"/>"
           "<Relationship Id=\"rId5\" Type=\"" +
           rel + "/styles\" Target=\"styles.xml\"/></Relationships>"},
      {"xl/styles.xml",
       decl + "<styleSheet xmlns=\"" + main +
           "\"><fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
           "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs></styleSheet>"},
      {"xl/chartsheets/sheet1.xml", decl + "<chartsheet xmlns=\"" + main + "\"/>"},
  };
  for (int i = 1; i <= 3; ++i)
    parts.push_back({"xl/worksheets/sheet" + std::to_string(i) + ".xml",
                     decl + "<worksheet xmlns=\"" + main + "\"><sheetData><row r=\"1\"><c r=\"A1\"><v>" +
                         std::to_string(i) + "</v></c></row></sheetData></worksheet>"});
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  ASSERT_NE(z, nullptr);
  for (auto& [name, content] : parts)
    zip_file_add(z, name.c_str(), zip_source_buffer(z, content.data(), content.size(), 0), ZIP_FL_ENC_UTF_8);
  ASSERT_EQ(zip_close(z), 0);
}

class ServerIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FDir = std::filesystem::temp_directory_path() / ("korva-wrappers-" + std::to_string(::getpid()));
    std::filesystem::create_directories(FDir);
    FPath = (FDir / "book.xlsx").string();
    WriteBook(FPath);
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }
  spreadsheet::TNativeServer FServer;
  std::filesystem::path FDir;
  std::string FPath;
};

TEST_F(ServerIntegrationTest, AWorkbookWithAChartSheetOpensWithOneWrapperPerWorksheet) {
  TqovDocument doc(&FServer, rtl::Utf8ToUnicode(FPath));
  ASSERT_EQ(doc.SheetCount(), 3);
  EXPECT_EQ(doc.Sheet(1)->Name(), u"First");
  EXPECT_EQ(doc.Sheet(2)->Name(), u"Second");
  EXPECT_EQ(doc.Sheet(3)->Name(), u"Third");
  EXPECT_EQ(doc.SheetByName(u"Third"), doc.Sheet(3));
  EXPECT_EQ(doc.SheetByName(u"third"), nullptr);
  doc.Close();
}

TEST_F(ServerIntegrationTest, CellsSheetsAndProtectionRoundTripThroughTheSavedFile) {
  {
    TqovDocument doc(&FServer, rtl::Utf8ToUnicode(FPath));
    TqovSheet* first = doc.Sheet(1);
    EXPECT_TRUE(first->Cell(5, 5).IsEmpty());
    first->SetCell(2, 3, Variant::FromUString(u"hello"));
    EXPECT_EQ(first->Cell(2, 3).AsUnicodeString(), u"hello");
    EXPECT_EQ(first->CellByName(u"C2").AsUnicodeString(), u"hello");
    first->SetCellByName(u"D4", Variant(2.5));
    first->InsertRow(1);  // A1 moves to A2, C2 to C3
    first->SetCellLocked(1, 1, false);
    first->SetSheetProtected(true);
    first->AutoFitColumn(3);
    EXPECT_FALSE(doc.Visible());
    doc.SetVisible(true);
    EXPECT_TRUE(doc.Visible());

    doc.InsertSheet(1);
    ASSERT_EQ(doc.SheetCount(), 4);
    EXPECT_EQ(doc.Sheet(1)->Name(), u"Sheet1");
    EXPECT_EQ(doc.Sheet(2), first);
    doc.DeleteSheet(4);  // Third
    EXPECT_EQ(doc.SheetCount(), 3);
    EXPECT_THROW(doc.InsertSheet(9), rtl::EOleException);
    EXPECT_EQ(doc.SheetCount(), 3);
    doc.Close();
  }
  TqovDocument again(&FServer, rtl::Utf8ToUnicode(FPath));
  ASSERT_EQ(again.SheetCount(), 3);
  EXPECT_EQ(again.Sheet(1)->Name(), u"Sheet1");
  TqovSheet* first = again.Sheet(2);
  EXPECT_EQ(first->Cell(3, 3).AsUnicodeString(), u"hello");
  EXPECT_DOUBLE_EQ(first->Cell(2, 1).AsDouble(), 1);
  EXPECT_DOUBLE_EQ(first->Cell(5, 4).AsDouble(), 2.5);
  EXPECT_FALSE(first->CellLocked(1, 1));
  EXPECT_TRUE(first->CellLocked(2, 1));
  EXPECT_TRUE(first->SheetProtected());
  EXPECT_EQ(again.SheetByName(u"Third"), nullptr);
  again.Close();
}

TEST_F(ServerIntegrationTest, AMissingWorkbookIsReportedWithItsName) {
  std::string missing = (FDir / "missing.xlsx").string();
  try {
    TqovDocument doc(&FServer, rtl::Utf8ToUnicode(missing));
    FAIL();
  } catch (const rtl::EOleException& e) {
    EXPECT_EQ(e.Message(), rtl::Utf8ToUnicode("Cannot open workbook \"" + missing + "\": No such file or directory"));
  }
}

}  // namespace
}  // namespace workbook
