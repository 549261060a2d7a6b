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
      if (sheet->ProtectContents()) sheet->Unprotect();  // protected sheets refuse the write (ProtectionTests)
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

// Structural edits rewrite tables, drawings, comments, pivot tables and
// charts, and a copied sheet brings copies of them: every corpus workbook
// stays readable after two rounds of edits, and every rule of the package
// format that held before still holds.
TEST_F(CorpusTest, EveryWorkbookSurvivesInsertedRowsColumnsAndSheets) {
  std::string pythonList;
  int refused = 0;
  for (const std::string& original : CorpusFiles()) {
    std::string name = std::filesystem::path(original).filename().string();
    SCOPED_TRACE(name);
    std::string copy = FDir.File(name);
    std::filesystem::copy_file(original, copy);
    std::filesystem::permissions(copy, std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
    try {
      for (int round = 0; round < 2; ++round) {
        auto book = Open(copy);
        auto sheet = Sheet(book, 1);
        if (sheet->ProtectContents()) sheet->Unprotect();  // protected sheets refuse the edits (ProtectionTests)
        // An insertion through an array formula or a pivot table, or one
        // that would push content off the sheet, is refused as the
        // application refuses it; the workbook takes the other edits.
        for (auto insert : {+[](ISheet& s) { s.InsertRow(2); }, +[](ISheet& s) { s.InsertColumn(2); }}) {
          try {
            insert(*sheet);
          } catch (const rtl::Exception& e) {
            std::string text = rtl::UnicodeToUtf8(e.Message());
            EXPECT_TRUE(text.find("array") != std::string::npos || text.find("PivotTable") != std::string::npos ||
                        text.find("off of the worksheet") != std::string::npos)
                << text;
            ++refused;
          }
        }
        Put(sheet, 97, 25, Variant(42.0 + round));
        PutText(sheet, 98, 25, u"=Y97*2");
        sheet->AutofitColumn(1);
        book->AddSheet();
        if (round == 0) {  // a copy of the first worksheet, and the original renamed
          book->CopySheet(1, book->WorksheetCount() + 1);
          sheet->SetName(u"Jan's data");
        }
        SaveAndClose(book);
      }
      auto again = Open(copy);
      Sheet(again, 2)->Name();
      again->Close(false);
    } catch (const rtl::Exception& e) {
      ADD_FAILURE() << rtl::UnicodeToUtf8(e.Message());
      continue;
    }
    pythonList += "    ('" + copy + "', '" + original + "'),\n";
  }
  EXPECT_LT(refused, 20);
  if (!HaveOpenpyxl()) GTEST_SKIP() << "openpyxl not available";
  bool ok = false;
  std::string out = RunPython(R"(import openpyxl, posixpath, re, zipfile, xml.etree.ElementTree as ET
ORDER = ('sheetPr dimension sheetViews sheetFormatPr cols sheetData sheetCalcPr sheetProtection protectedRanges '
         'scenarios autoFilter sortState dataConsolidate customSheetViews mergeCells phoneticPr conditionalFormatting '
         'dataValidations hyperlinks printOptions pageMargins pageSetup headerFooter rowBreaks colBreaks '
         'customProperties cellWatches ignoredErrors smartTags drawing legacyDrawing legacyDrawingHF drawingHF '
         'picture oleObjects controls webPublishItems tableParts extLst').split()
def local(tag):
    return tag.rsplit('}', 1)[-1]
def parse(data):
    try:
        return ET.fromstring(data)
    except ET.ParseError:
        return None
def column(ref):
    n = 0
    for ch in re.match('[A-Z]+', ref).group(0):
        n = n * 26 + ord(ch) - 64
    return n
# What a package breaks of the format's rules, as a set of findings.
def problems(path):
    z = zipfile.ZipFile(path)
    names = set(z.namelist())
    found = set()
    for name in names:
        if name.endswith(('.xml', '.rels', '.vml')) and parse(z.read(name)) is None:
            found.add('not well-formed: ' + name)
    types = parse(z.read('[Content_Types].xml'))
    defaults = {e.get('Extension', '').lower() for e in types if local(e.tag) == 'Default'}
    overrides = {e.get('PartName', '').lstrip('/') for e in types if local(e.tag) == 'Override'}
    for name in names:
        if name != '[Content_Types].xml' and not name.endswith('/') and name not in overrides \
                and name.rsplit('.', 1)[-1].lower() not in defaults:
            found.add('no content type: ' + name)
    shared_cells = 0
    for name in names:
        if name.endswith('.rels'):
            rels = parse(z.read(name))
            if rels is None:
                continue
            base = posixpath.dirname(posixpath.dirname(name))
            for r in rels:
                if r.get('TargetMode') == 'External':
                    continue
                target = r.get('Target', '')
                full = target.lstrip('/') if target.startswith('/') else posixpath.normpath(posixpath.join(base, target))
                if full not in names:
                    found.add('missing target: ' + name + ' -> ' + target)
        if name.startswith('xl/worksheets/') and name.endswith('.xml'):
            root = parse(z.read(name))
            if root is None:
                continue
            ranks = [ORDER.index(local(c.tag)) for c in root if local(c.tag) in ORDER]
            if ranks != sorted(ranks):
                found.add('element order: ' + name)
            last_row = 0
            for row in root.iter():
                if local(row.tag) != 'row':
                    continue
                number = int(row.get('r', last_row + 1))
                if number <= last_row:
                    found.add('rows not ascending: ' + name)
                last_row, last_column = number, 0
                for c in row:
                    if local(c.tag) != 'c':
                        continue
                    ref = c.get('r')
                    at = column(ref) if ref else last_column + 1
                    if at <= last_column or (ref and int(re.search('[0-9]+', ref).group(0)) != number):
                        found.add('cells not ascending: ' + name)
                    last_column = at
                    shared_cells += c.get('t') == 's'
    if 'xl/sharedStrings.xml' in names:
        sst = parse(z.read('xl/sharedStrings.xml'))
        if sst is not None:
            unique = sum(1 for e in sst if local(e.tag) == 'si')
            if sst.get('uniqueCount') is not None and int(sst.get('uniqueCount')) != unique:
                found.add('sharedStrings uniqueCount')
            if sst.get('count') is not None and int(sst.get('count')) != shared_cells:
                found.add('sharedStrings count')
    return found
# What an insertion leaves where it was: pane scroll positions, the cells of
# hyperlink locations, absolutely anchored pictures.
def kept(path):
    z = zipfile.ZipFile(path)
    found = {}
    for name in z.namelist():
        root = parse(z.read(name)) if name.startswith(('xl/worksheets/', 'xl/drawings/')) and name.endswith('.xml') else None
        if root is None:
            continue
        for e in root.iter():
            tag = local(e.tag)
            if tag == 'pane' and e.get('topLeftCell'):
                found.setdefault(name, []).append(e.get('topLeftCell'))
            elif tag == 'hyperlink' and e.get('location'):  # the sheet's name may change, its cells not
                found.setdefault(name, []).append(e.get('location').split('!')[-1])
            elif tag == 'twoCellAnchor' and e.get('editAs') == 'absolute':
                found.setdefault(name, []).append(ET.tostring(e))
    return found
for saved, original in [
)" + pythonList + R"(]:
    openpyxl.load_workbook(saved, read_only=True).worksheets[0].max_row
    for finding in sorted(problems(saved) - problems(original)):
        print('BROKEN', saved, finding)
    before, after = kept(original), kept(saved)
    for name in before:
        if before[name] != after.get(name):
            print('MOVED', saved, name)
    try:
        openpyxl.load_workbook(original)
    except Exception:
        continue
    try:
        openpyxl.load_workbook(saved)
    except Exception as e:
        print('FAILED', saved, e)
print('done')
)",
                              &ok);
  EXPECT_TRUE(ok) << out;
  EXPECT_EQ(out, "done\n");
}

}  // namespace
}  // namespace spreadsheet::testing
