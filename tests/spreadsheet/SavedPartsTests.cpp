// Parts that describe the rest of the package stay true to it after edits:
// the shared strings' counts and the sheet names of the document properties.
// Checked with Python's own reading of the saved package.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "ServerFixture.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

class SavedPartsTest : public ServerTest {
 protected:
  std::string FPath = FDir.File("book.xlsx");
};

// count: cells of every sheet that refer to a shared string; uniqueCount:
// the strings. Each line: the counts the part states, then those found.
const char* const kSharedCounts =
    "import zipfile, sys, xml.etree.ElementTree as ET, openpyxl\n"
    "m = '{http://schemas.openxmlformats.org/spreadsheetml/2006/main}'\n"
    "for path in sys.argv[1:]:\n"
    "    z = zipfile.ZipFile(path)\n"
    "    sst = ET.fromstring(z.read('xl/sharedStrings.xml'))\n"
    "    refs = sum(1 for n in z.namelist() if n.startswith('xl/worksheets/') and n.endswith('.xml')\n"
    "               for c in ET.fromstring(z.read(n)).iter(m + 'c') if c.get('t') == 's')\n"
    "    print(sst.get('count'), sst.get('uniqueCount'), refs, len(sst.findall(m + 'si')))\n"
    "    openpyxl.load_workbook(path)\n";

TEST_F(SavedPartsTest, SharedStringCountsFollowTheCellsThatUseThem) {
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  // Sheets A (3 shared cells), B (2) and C (1): count 6, 3 strings.
  TBookLayout layout;
  auto shared = [](const char* cell, int index) {
    return std::string("<c r=\"") + cell + "\" t=\"s\"><v>" + std::to_string(index) + "</v></c>";
  };
  layout.Sheets = {{"A", "<sheetData><row r=\"1\">" + shared("A1", 0) + "</row><row r=\"2\">" + shared("A2", 1) +
                             "</row><row r=\"3\">" + shared("A3", 0) + "</row></sheetData>"},
                   {"B", "<sheetData><row r=\"1\">" + shared("A1", 2) + shared("B1", 0) + "</row></sheetData>"},
                   {"C", "<sheetData><row r=\"1\">" + shared("A1", 1) + "</row></sheetData>"}};
  layout.SharedStrings = "<si><t>x</t></si><si><t>y</t></si><si><r><t>z</t></r></si>";
  layout.SharedStringsAttrs = " count=\"6\" uniqueCount=\"3\"";
  using TEdit = std::function<void(const TBookRef&)>;
  struct TCase {
    const char* Name;
    TEdit Edit;
    const char* Counts;  // stated count and uniqueCount
  };
  const TCase cases[] = {
      {"a number over a shared string", [](const TBookRef& b) { Put(Sheet(b, 1), 1, 1, Variant(1.5)); }, "5 3"},
      {"text and empty text over shared strings, another sheet read",
       [](const TBookRef& b) {
         PutText(Sheet(b, 1), 2, 1, u"new");
         PutText(Sheet(b, 2), 1, 2, u"");
         EXPECT_EQ(Text(Get(Sheet(b, 3), 1, 1)), "y");
       },
       "4 3"},
      {"a sheet deleted", [](const TBookRef& b) { Sheet(b, 2)->Delete(); }, "4 3"},
      {"rows inserted, then a cell overwritten",
       [](const TBookRef& b) {
         Sheet(b, 1)->InsertRow(1);
         Put(Sheet(b, 1), 4, 1, Variant());
       },
       "5 3"},
      {"saved between two overwrites",
       [](const TBookRef& b) {
         Put(Sheet(b, 1), 1, 1, Variant(int32_t(1)));
         b->Save();
         Put(Sheet(b, 1), 3, 1, Variant(true));
       },
       "4 3"},
      {"a sheet copied", [](const TBookRef& b) { b->CopySheet(1, 4); }, "9 3"},
      {"a shared string written again as text", [](const TBookRef& b) { PutText(Sheet(b, 3), 1, 1, u"y"); }, "5 3"},
  };
  std::string expected;
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].Name);
    std::string path = FDir.File("case" + std::to_string(i) + ".xlsx");
    WriteBook(path, layout);
    auto book = Open(path);
    cases[i].Edit(book);
    SaveAndClose(book);
    std::string counts = cases[i].Counts;
    expected += counts + " " + counts + "\n";  // stated, then found
  }
  // A write that leaves the shared cells alone leaves the part as it was.
  WriteBook(FPath, layout);
  std::string before = ReadZip(FPath)["xl/sharedStrings.xml"];
  auto book = Open(FPath);
  Put(Sheet(book, 1), 9, 9, Variant(int32_t(9)));
  SaveAndClose(book);
  EXPECT_EQ(ReadZip(FPath)["xl/sharedStrings.xml"], before);
  // Counts the part does not state (both are optional) are not added.
  layout.SharedStringsAttrs.clear();
  WriteBook(FPath, layout);
  before = ReadZip(FPath)["xl/sharedStrings.xml"];
  book = Open(FPath);
  Put(Sheet(book, 1), 1, 1, Variant(int32_t(9)));
  Sheet(book, 3)->Delete();
  SaveAndClose(book);
  EXPECT_EQ(ReadZip(FPath)["xl/sharedStrings.xml"], before);

  std::string script = FDir.File("counts.py");
  std::ofstream(script) << kSharedCounts;
  bool ok = false;
  std::string out = RunPython(
      "import runpy, sys\nsys.argv = ['x'" +
          [&] {
            std::string args;
            for (size_t i = 0; i < std::size(cases); ++i)
              args += ", '" + FDir.File("case" + std::to_string(i) + ".xlsx") + "'";
            return args;
          }() +
          "]\nrunpy.run_path('" + script + "')\n",
      &ok);
  EXPECT_TRUE(ok) << out;
  EXPECT_EQ(out, expected);
}

// The application's workbooks with shared strings: every edit the server
// makes keeps the counts true, over two rounds of edits and saves.
TEST_F(SavedPartsTest, TheApplicationsSharedStringCountsStayTrue) {
  if (!HaveSharedCorpus()) GTEST_SKIP() << "no workbook corpus at ../shared/xlsx-corpus";
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  std::string args;
  int checked = 0;
  for (const std::string& original : CorpusFiles()) {
    if (original.find("xlsx-corpus") == std::string::npos || checked >= 40) continue;
    if (!ReadZip(original).count("xl/sharedStrings.xml")) continue;
    std::string copy = FDir.File(std::filesystem::path(original).filename().string());
    std::filesystem::copy_file(original, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    SCOPED_TRACE(copy);
    try {
      auto book = Open(copy);
      auto sheet = Sheet(book, 1);
      if (sheet->ProtectContents()) sheet->Unprotect();
      for (int row = 1; row <= 3; ++row)
        for (int column = 1; column <= 3; ++column) Put(sheet, row, column, Variant(row * 10 + column));
      book->Save();
      if (book->WorksheetCount() > 1) Sheet(book, 2)->Delete();
      sheet->InsertRow(1);
      PutText(sheet, 1, 1, u"");
      SaveAndClose(book);
    } catch (const rtl::Exception&) {
      continue;  // a sheet that refuses the edits (an array formula, a chart sheet first) is not the point here
    }
    args += ", '" + copy + "'";
    ++checked;
  }
  ASSERT_GT(checked, 10);
  std::string script = FDir.File("counts.py");
  std::ofstream(script) << kSharedCounts;
  bool ok = false;
  std::string out = RunPython("import runpy, sys\nsys.argv = ['x'" + args + "]\nrunpy.run_path('" + script + "')\n",
                              &ok);
  EXPECT_TRUE(ok) << out;
  std::istringstream lines(out);
  std::string count, unique, refs, strings;
  int lineCount = 0;
  while (lines >> count >> unique >> refs >> strings) {
    ++lineCount;
    EXPECT_EQ(count, refs) << "line " << lineCount;
    EXPECT_EQ(unique, strings) << "line " << lineCount;
  }
  EXPECT_EQ(lineCount, checked);
}

// The headings and titles of docProps/app.xml, one line each, and whether
// they agree with the workbook: worksheets and chart sheets in tab order,
// named ranges of existing sheets only, counts and sizes that add up.
const char* const kSheetTitles =
    "import zipfile, sys, xml.etree.ElementTree as ET, openpyxl\n"
    "vt = '{http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes}'\n"
    "ep = '{http://schemas.openxmlformats.org/officeDocument/2006/extended-properties}'\n"
    "m = '{http://schemas.openxmlformats.org/spreadsheetml/2006/main}'\n"
    "r = '{http://schemas.openxmlformats.org/officeDocument/2006/relationships}'\n"
    "for path in sys.argv[1:]:\n"
    "    z = zipfile.ZipFile(path)\n"
    "    app = ET.fromstring(z.read('docProps/app.xml'))\n"
    "    pairs = app.find(ep + 'HeadingPairs/' + vt + 'vector')\n"
    "    titles = app.find(ep + 'TitlesOfParts/' + vt + 'vector')\n"
    "    variants = [v[0].text for v in pairs.findall(vt + 'variant')]\n"
    "    names = [t.text for t in titles.findall(vt + 'lpstr')]\n"
    "    groups, at = {}, 0\n"
    "    for label, count in zip(variants[::2], variants[1::2]):\n"
    "        groups[label] = names[at:at + int(count)]\n"
    "        at += int(count)\n"
    "    rels = {x.get('Id'): x.get('Type') for x in ET.fromstring(z.read('xl/_rels/workbook.xml.rels'))}\n"
    "    sheets = ET.fromstring(z.read('xl/workbook.xml')).find(m + 'sheets')\n"
    "    kinds = [(s.get('name'), rels[s.get(r + 'id')].rsplit('/', 1)[1]) for s in sheets]\n"
    "    all_names = [n for n, k in kinds]\n"
    "    ok = (at == len(names) == int(titles.get('size')) and len(variants) == int(pairs.get('size'))\n"
    "          and groups.get('Worksheets', []) == [n for n, k in kinds if k == 'worksheet']\n"
    "          and groups.get('Charts', []) == [n for n, k in kinds if k == 'chartsheet']\n"
    "          and all(t.rsplit('!', 1)[0].strip(\"'\") in all_names for t in groups.get('Named Ranges', []) if '!' in t))\n"
    "    print(groups, 'agrees' if ok else 'DISAGREES')\n"
    "    openpyxl.load_workbook(path)\n";

TEST_F(SavedPartsTest, TheDocumentPropertiesListTheSheetsThereAre) {
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  TBookLayout layout;
  layout.Sheets = {{"A", "<sheetData/>"}, {"B b", "<sheetData/>"}, {"C", "<sheetData/>"}};
  layout.WorkbookExtra =
      "<definedNames><definedName name=\"_xlnm._FilterDatabase\" localSheetId=\"0\" hidden=\"1\">A!$A$1:$A$2"
      "</definedName><definedName name=\"_xlnm.Print_Area\" localSheetId=\"0\">A!$A$1:$B$2</definedName>"
      "<definedName name=\"_xlnm.Print_Titles\" localSheetId=\"1\">'B b'!$1:$1</definedName>"
      "<definedName name=\"Rate\">0.5</definedName><definedName name=\"Total\">C!$A$1</definedName>"
      "</definedNames>";
  layout.ExtraParts = {
      {"docProps/app.xml",
       "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
       "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/extended-properties\" "
       "xmlns:vt=\"http://schemas.openxmlformats.org/officeDocument/2006/docPropsVTypes\"><Application>Microsoft "
       "Excel</Application><HeadingPairs><vt:vector size=\"4\" baseType=\"variant\"><vt:variant><vt:lpstr>Worksheets"
       "</vt:lpstr></vt:variant><vt:variant><vt:i4>3</vt:i4></vt:variant><vt:variant><vt:lpstr>Named Ranges</vt:lpstr>"
       "</vt:variant><vt:variant><vt:i4>3</vt:i4></vt:variant></vt:vector></HeadingPairs><TitlesOfParts><vt:vector "
       "size=\"6\" baseType=\"lpstr\"><vt:lpstr>A</vt:lpstr><vt:lpstr>B b</vt:lpstr><vt:lpstr>C</vt:lpstr><vt:lpstr>"
       "A!Print_Area</vt:lpstr><vt:lpstr>'B b'!Print_Titles</vt:lpstr><vt:lpstr>Total</vt:lpstr></vt:vector>"
       "</TitlesOfParts><AppVersion>16.0300</AppVersion></Properties>"}};
  layout.ExtraContentTypes =
      "<Override PartName=\"/docProps/app.xml\" "
      "ContentType=\"application/vnd.openxmlformats-officedocument.extended-properties+xml\"/>";
  WriteBook(FPath, layout);
  auto book = Open(FPath);
  Sheet(book, 2)->Delete();
  book->AddSheet();
  Sheet(book, 2)->SetName(u"Q 1");
  book->CopySheet(2, 4);
  SaveAndClose(book);
  std::string app = ReadZip(FPath)["docProps/app.xml"];
  EXPECT_THAT(app, ::testing::HasSubstr("<Application>Microsoft Excel</Application>"));
  EXPECT_THAT(app, ::testing::HasSubstr("<AppVersion>16.0300</AppVersion>"));

  // The application's workbooks with chart sheets and named ranges.
  std::string args = ", '" + FPath + "'";
  std::string expected =
      "{'Worksheets': ['Sheet1', 'Q 1', 'C', 'Q 1 (2)'], 'Named Ranges': [\"'Q 1'!Print_Area\", 'Total', \"'Q 1 "
      "(2)'!Print_Area\"]} agrees\n";
  if (HaveSharedCorpus()) {
    for (const std::string& original : CorpusFiles()) {
      std::string name = std::filesystem::path(original).filename().string();
      if (name != "defined_name01.xlsx" && name != "chartsheet02.xlsx" && name != "chart_bar13.xlsx" &&
          name != "quote_name06.xlsx")
        continue;
      std::string copy = FDir.File(name);
      std::filesystem::copy_file(original, copy);
      std::filesystem::permissions(copy, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
      auto corpusBook = Open(copy);
      if (corpusBook->SheetCount() > 1) corpusBook->Sheet(2)->Delete();
      corpusBook->AddSheet();
      corpusBook->Worksheet(2)->SetName(u"Renamed");
      corpusBook->CopySheet(2, 1);
      SaveAndClose(corpusBook);
      args += ", '" + copy + "'";
    }
  }
  std::string script = FDir.File("titles.py");
  std::ofstream(script) << kSheetTitles;
  bool ok = false;
  std::string out = RunPython("import runpy, sys\nsys.argv = ['x'" + args + "]\nrunpy.run_path('" + script + "')\n",
                              &ok);
  EXPECT_TRUE(ok) << out;
  EXPECT_THAT(out, ::testing::StartsWith(expected));
  EXPECT_THAT(out, ::testing::Not(::testing::HasSubstr("DISAGREES")));
}

}  // namespace
}  // namespace spreadsheet::testing
