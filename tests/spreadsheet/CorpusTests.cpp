// Every application-made workbook of the shared corpus opens, takes a cell
// write, saves and reopens, with every entry the write did not concern
// byte-identical, and openpyxl reads the written value.
#include <filesystem>
#include <fstream>
#include <set>

#include "ServerFixture.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

class CorpusTest : public ServerTest {};

TEST_F(CorpusTest, EveryWorkbookTakesAWriteAndKeepsWhatItDidNotConcern) {
  std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no workbook corpus at ../shared/xlsx-corpus; skipped";
  std::vector<std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    std::string ext = entry.path().extension().string();
    if (ext == ".xlsx" || ext == ".xlsm") files.push_back(entry.path().filename().string());
  }
  std::sort(files.begin(), files.end());
  ASSERT_FALSE(files.empty());
  std::string pythonList;
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    std::string copy = FDir.File(name);
    std::filesystem::copy_file(corpus + "/" + name, copy);
    auto before = ReadZip(copy);
    std::string sheetPart;
    try {
      Variant book = Open(copy);
      Variant sheet = Sheet(book, 1);
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
    Variant reopened = Open(copy);
    EXPECT_EQ(Text(Get(Sheet(reopened, 1), 99, 26)), "Korva");
    rtl::OleCall(reopened, u"Close", {}, {{u"SaveChanges", Variant(false)}});
    pythonList += "    ('" + copy + "', '" + corpus + "/" + name + "'),\n";
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
