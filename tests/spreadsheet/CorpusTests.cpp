// Every workbook of the corpora (application-made ones and formula workbooks) opens, takes a cell
// write, saves and reopens, with every entry the write did not concern
// byte-identical, and openpyxl reads the written value.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>

#include "ServerFixture.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

class CorpusTest : public ServerTest {};

TEST_F(CorpusTest, EveryWorkbookTakesAWriteAndKeepsWhatItDidNotConcern) {
  if (!HaveSharedCorpus())
    std::cerr << "note: no workbook corpus at ../shared/xlsx-corpus; only the repository's formula workbooks\n";
  std::vector<std::string> files = CorpusFiles();
  ASSERT_FALSE(files.empty());
  std::string pythonList;
  for (const std::string& original : files) {
    std::string name = std::filesystem::path(original).filename().string();
    SCOPED_TRACE(name);
    std::string copy = FDir.File(name);
    std::filesystem::copy_file(original, copy);
    // The corpus is read-only, and so would be the copy: such a workbook is refused.
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    auto before = ReadZip(copy);
    std::string sheetPart;
    try {
      auto book = Open(copy);
      auto sheet = Sheet(book, 1);
      PutText(sheet, 99, 26, u"Korva");
      SaveAndClose(book);
    } catch (const rtl::Exception& e) {
      ADD_FAILURE() << rtl::UnicodeToUtf8(e.Message());
      continue;
    }
    auto after = ReadZip(copy);
    // The entries a cell write concerns: its worksheet, the workbook part
    // (full recalculation on open) and nothing else.
    std::set<std::string> concerned{"xl/workbook.xml"};
    for (const auto& [entry, content] : before) {
      if (entry.rfind("xl/worksheets/sheet", 0) == 0 && after.count(entry) && after.at(entry) != content)
        concerned.insert(entry);
    }
    EXPECT_LE(concerned.size(), 2u);
    for (const auto& [entry, content] : before) {
      if (concerned.count(entry)) continue;
      ASSERT_TRUE(after.count(entry)) << entry << " lost";
      EXPECT_TRUE(after.at(entry) == content) << entry << " changed";
    }
    EXPECT_EQ(after.size(), before.size());
    auto reopened = Open(copy);
    EXPECT_EQ(Text(Get(Sheet(reopened, 1), 99, 26)), "Korva");
    reopened->Close(false);
    pythonList += "    ('" + copy + "', '" + original + "'),\n";
  }
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  bool ok = false;
  std::string out = RunPython(
      "import openpyxl, warnings\nwarnings.simplefilter('ignore')\nfor path in [\n" + pythonList +
          "]:\n"
          "    ws = openpyxl.load_workbook(path[0], read_only=True).worksheets[0]\n"
          "    if ws['Z99'].value != 'Korva': print('MISMATCH', path[0], repr(ws['Z99'].value))\n"
          // A full load as well, where openpyxl can load the original at all.
          "    try:\n"
          "        openpyxl.load_workbook(path[1])\n"
          "    except Exception:\n"
          "        continue\n"
          "    openpyxl.load_workbook(path[0])\n"
          "print('done')\n",
      &ok);
  EXPECT_TRUE(ok) << out;
  EXPECT_EQ(out, "done\n");
}

}  // namespace
}  // namespace spreadsheet::testing

namespace spreadsheet::testing {
namespace {

// Structural edits rewrite tables, drawings, comments and charts: every
// corpus workbook must stay readable after them.
TEST_F(CorpusTest, EveryWorkbookSurvivesInsertedRowsColumnsAndSheets) {
  std::string pythonList;
  for (const std::string& original : CorpusFiles()) {
    std::string name = std::filesystem::path(original).filename().string();
    SCOPED_TRACE(name);
    std::string copy = FDir.File(name);
    std::filesystem::copy_file(original, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    try {
      auto book = Open(copy);
      auto sheet = Sheet(book, 1);
      sheet->InsertRow(2);
      sheet->InsertColumn(2);
      sheet->AutofitColumn(1);
      book->AddSheet();
      SaveAndClose(book);
      auto again = Open(copy);
      Sheet(again, 2)->Name();
      again->Close(false);
    } catch (const rtl::Exception& e) {
      ADD_FAILURE() << rtl::UnicodeToUtf8(e.Message());
      continue;
    }
    pythonList += "    ('" + copy + "', '" + original + "'),\n";
  }
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  bool ok = false;
  std::string out = RunPython(
      "import openpyxl, zipfile, xml.etree.ElementTree as ET\n"
      "def parses(data):\n"
      "    try:\n"
      "        ET.fromstring(data)\n"
      "        return True\n"
      "    except ET.ParseError:\n"
      "        return False\n"
      "for saved, original in [\n" +
          pythonList +
          "]:\n"
          "    openpyxl.load_workbook(saved, read_only=True).worksheets[0].max_row\n"
          // Every XML part the original had well-formed stays so.
          "    before, after = zipfile.ZipFile(original), zipfile.ZipFile(saved)\n"
          "    for name in after.namelist():\n"
          "        if name.endswith(('.xml', '.rels', '.vml')) and not parses(after.read(name)):\n"
          "            if name not in before.namelist() or parses(before.read(name)):\n"
          "                print('BROKEN', saved, name)\n"
          "    try:\n"
          "        openpyxl.load_workbook(original)\n"
          "    except Exception:\n"
          "        continue\n"
          "    try:\n"
          "        openpyxl.load_workbook(saved)\n"
          "    except Exception as e:\n"
          "        print('FAILED', saved, e)\n"
          "print('done')\n",
      &ok);
  EXPECT_TRUE(ok) << out;
  EXPECT_EQ(out, "done\n");
}

}  // namespace
}  // namespace spreadsheet::testing
