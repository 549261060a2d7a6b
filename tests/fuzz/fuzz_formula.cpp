// Formulas as a workbook or a script may hold them: each line of the input
// is written into a cell of a small workbook, then every cell is read (which
// computes it) and the workbook is saved (which stores every result). Bad
// formulas may be refused; nothing may crash, hang or leak.
#include <zip.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "rtl/Locale.h"
#include "spreadsheet/NativeServer.h"

namespace {

// Numbers, text, a Boolean, an error, a defined name, a table and a
// multi-cell array formula to refer to.
std::string MakeBook() {
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::string type = "application/vnd.openxmlformats-officedocument.spreadsheetml.";
  const std::pair<std::string, std::string> parts[] = {
      {"[Content_Types].xml",
       decl +
           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
           "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
           "ContentType=\"application/xml\"/><Override PartName=\"/xl/workbook.xml\" ContentType=\"" +
           type + "sheet.main+xml\"/><Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"" + type +
           "worksheet+xml\"/><Override PartName=\"/xl/worksheets/sheet2.xml\" ContentType=\"" + type +
           "worksheet+xml\"/><Override PartName=\"/xl/tables/table1.xml\" ContentType=\"" + type +
           "table+xml\"/></Types>"},
      {"_rels/.rels", decl +
                          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                          "<Relationship Id=\"rId1\" Type=\"" +
                          rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml",
       decl + "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + rel +
           "\"><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/><sheet name=\"Other Sheet\" sheetId=\"2\" "
           "r:id=\"rId2\"/></sheets><definedNames><definedName name=\"Rate\">Data!$B$1</definedName>"
           "<definedName name=\"Loop\">Loop+1</definedName></definedNames></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       decl +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
           "Id=\"rId1\" Type=\"" +
           rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" + rel +
           "/worksheet\" Target=\"worksheets/sheet2.xml\"/></Relationships>"},
      {"xl/worksheets/_rels/sheet1.xml.rels",
       decl +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
           "Id=\"rId1\" Type=\"" +
           rel + "/table\" Target=\"../tables/table1.xml\"/></Relationships>"},
      {"xl/worksheets/sheet1.xml",
       decl + "<worksheet xmlns=\"" + main + "\" xmlns:r=\"" + rel +
           "\"><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Item</t></is></c><c r=\"B1\"><v>0.2</v></c>"
           "<c r=\"C1\" t=\"b\"><v>1</v></c><c r=\"D1\" t=\"e\"><v>#N/A</v></c></row>"
           "<row r=\"2\"><c r=\"A2\"><v>10</v></c><c r=\"B2\"><f t=\"array\" ref=\"B2:B3\">A2:A3*2</f><v>0</v></c>"
           "</row><row r=\"3\"><c r=\"A3\"><v>-2.5</v></c><c r=\"B3\"><v>0</v></c></row></sheetData>"
           "<tableParts count=\"1\"><tablePart r:id=\"rId1\"/></tableParts></worksheet>"},
      {"xl/worksheets/sheet2.xml", decl + "<worksheet xmlns=\"" + main +
                                       "\"><sheetData><row r=\"1\"><c r=\"A1\"><f>Data!A2*3</f></c></row>"
                                       "</sheetData></worksheet>"},
      {"xl/tables/table1.xml", decl + "<table xmlns=\"" + main +
                                   "\" id=\"1\" name=\"Items\" displayName=\"Items\" ref=\"A1:A3\"><tableColumns "
                                   "count=\"1\"><tableColumn id=\"1\" name=\"Item\"/></tableColumns></table>"}};
  const std::string path = fuzz::ScratchDir() + "/template.xlsx";
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [name, content] : parts)
    zip_file_add(z, name.c_str(), zip_source_buffer(z, content.data(), content.size(), 0), ZIP_FL_ENC_UTF_8);
  zip_close(z);
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string& Template() {
  static std::string bytes;
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rtl::LoadFormatSettingsFromLocale();
  Template() = MakeBook();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 4096) return 0;
  fuzz::ClearScratchDir();
  const std::string path = fuzz::ScratchDir() + "/book.xlsx";
  fuzz::WriteFile(path, Template());
  std::string text(fuzz::Bytes(data, size));
  std::vector<std::string> lines;
  for (size_t start = 0; start <= text.size() && lines.size() < 8;) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  spreadsheet::TNativeServer server;
  fuzz::Refusable([&] {
    std::unique_ptr<spreadsheet::IApplication> app = server.CreateApplication();
    std::shared_ptr<spreadsheet::IWorkbook> book = app->Open(rtl::Utf8ToUnicode(path));
    std::shared_ptr<spreadsheet::ISheet> sheet = book->Worksheet(1);
    for (size_t i = 0; i < lines.size(); ++i)
      fuzz::Refusable([&] {
        sheet->SetValue(static_cast<int>(i) + 1, 5, rtl::Variant::FromOleStr(rtl::Utf8ToUnicode("=" + lines[i])));
      });
    for (int r = 1; r <= 8; ++r)
      for (int c = 1; c <= 5; ++c) fuzz::Refusable([&] { sheet->Value(r, c); });
    fuzz::Refusable([&] { sheet->SetValue(2, 1, rtl::Variant(7.0)); });
    for (int r = 1; r <= 8; ++r) fuzz::Refusable([&] { sheet->Value(r, 5); });
    fuzz::Refusable([&] { sheet->InsertRow(2); });
    book->Close(true);
  });
  return 0;
}
