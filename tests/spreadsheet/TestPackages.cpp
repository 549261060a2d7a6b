#include "TestPackages.h"

#include <zip.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace spreadsheet::testing {

TTempDir::TTempDir() {
  std::string templ = std::filesystem::temp_directory_path().string() + "/korva-sheet-XXXXXX";
  if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
  FPath = templ;
}

TTempDir::~TTempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

void WriteZip(const std::string& path, const TParts& parts) {
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (!z) throw std::runtime_error("cannot create " + path);
  std::vector<std::string> keep;
  keep.reserve(parts.size());
  for (const auto& [name, content] : parts) {
    keep.push_back(content);
    zip_source_t* source = zip_source_buffer(z, keep.back().data(), keep.back().size(), 0);
    zip_file_add(z, name.c_str(), source, ZIP_FL_ENC_UTF_8);
  }
  if (zip_close(z) != 0) throw std::runtime_error("cannot write " + path);
}

std::map<std::string, std::string> ReadZip(const std::string& path) {
  std::map<std::string, std::string> out;
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_RDONLY, &error);
  if (!z) throw std::runtime_error("cannot open " + path);
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(z, i, 0, &st);
    std::string content(st.size, '\0');
    zip_file_t* f = zip_fopen_index(z, i, 0);
    if (st.size) zip_fread(f, content.data(), st.size);
    zip_fclose(f);
    out[st.name] = content;
  }
  zip_discard(z);
  return out;
}

void WriteBook(const std::string& path, const TBookLayout& layout) {
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  const std::string main = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  const std::string relNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  TParts parts;
  std::string types =
      decl +
      "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
      "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
      "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
      "<Override PartName=\"/xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/>"
      "<Override PartName=\"/xl/styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml\"/>";
  std::string rels = decl + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  std::string sheets;
  for (size_t i = 0; i < layout.Sheets.size(); ++i) {
    std::string n = std::to_string(i + 1);
    types += "<Override PartName=\"/xl/worksheets/sheet" + n +
             ".xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/>";
    rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + relNs + "/worksheet\" Target=\"worksheets/sheet" + n +
            ".xml\"/>";
    sheets += "<sheet name=\"" + layout.Sheets[i].first + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
    parts.push_back({"xl/worksheets/sheet" + n + ".xml", decl + "<worksheet xmlns=\"" + main + "\" xmlns:r=\"" + relNs +
                                                             "\">" + layout.Sheets[i].second + "</worksheet>"});
    std::string sheetRels;
    for (const auto& [index, xml] : layout.SheetRels)
      if (index == static_cast<int>(i)) sheetRels += xml;
    if (!sheetRels.empty())
      parts.push_back({"xl/worksheets/_rels/sheet" + n + ".xml.rels",
                       decl + "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">" +
                           sheetRels + "</Relationships>"});
  }
  rels += "<Relationship Id=\"rIdStyles\" Type=\"" + relNs + "/styles\" Target=\"styles.xml\"/>";
  if (!layout.SharedStrings.empty()) {
    rels += "<Relationship Id=\"rIdStrings\" Type=\"" + relNs + "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
    types +=
        "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sharedStrings+xml\"/>";
    parts.push_back({"xl/sharedStrings.xml", decl + "<sst xmlns=\"" + main + "\"" + layout.SharedStringsAttrs + ">" +
                                                 layout.SharedStrings + "</sst>"});
  }
  if (layout.CalcChain) {
    rels += "<Relationship Id=\"rIdCalc\" Type=\"" + relNs + "/calcChain\" Target=\"calcChain.xml\"/>";
    types +=
        "<Override PartName=\"/xl/calcChain.xml\" ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.calcChain+xml\"/>";
    parts.push_back({"xl/calcChain.xml", decl + "<calcChain xmlns=\"" + main + "\"><c r=\"A1\" i=\"1\"/></calcChain>"});
  }
  rels += "</Relationships>";
  types += layout.ExtraContentTypes + "</Types>";
  parts.push_back({"[Content_Types].xml", types});
  parts.push_back(
      {"_rels/.rels", decl +
                          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                          "<Relationship Id=\"rId1\" Type=\"" +
                          relNs +
                          "/officeDocument\" Target=\"xl/workbook.xml\"/>"
                          "<Relationship Id=\"rId2\" Type=\"" +
                          relNs +
                          "/extended-properties\" Target=\"docProps/app.xml\"/>"
                          "</Relationships>"});
  parts.push_back({"xl/workbook.xml", decl + "<workbook xmlns=\"" + main + "\" xmlns:r=\"" + relNs +
                                          "\"><bookViews><workbookView activeTab=\"0\"/></bookViews><sheets>" + sheets +
                                          "</sheets>" + layout.WorkbookExtra + "</workbook>"});
  parts.push_back({"xl/_rels/workbook.xml.rels", rels});
  parts.push_back(
      {"xl/styles.xml",
       decl + "<styleSheet xmlns=\"" + main + "\">" +
           (layout.NumFmts.empty() ? "" : "<numFmts>" + layout.NumFmts + "</numFmts>") +
           "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
           "<fills count=\"1\"><fill><patternFill patternType=\"none\"/></fill></fills>"
           "<borders count=\"1\"><border/></borders>"
           "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
           "<cellXfs>" +
           layout.CellXfs + "</cellXfs></styleSheet>"});
  for (const auto& p : layout.ExtraParts) parts.push_back(p);
  WriteZip(path, parts);
}

std::string RunPython(const std::string& script, bool* ok) {
  TTempDir dir;
  std::string file = dir.File("check.py");
  std::ofstream(file) << "import warnings\nwarnings.simplefilter('ignore')\n" << script;
  std::string command = "/usr/bin/python3 " + file + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) out.append(buffer, n);
  int status = pclose(pipe);
  if (ok) *ok = status == 0;
  return out;
}

bool HaveOpenpyxl() {
  static int have = -1;
  if (have < 0) {
    bool ok = false;
    RunPython("import openpyxl\n", &ok);
    have = ok ? 1 : 0;
  }
  return have == 1;
}

namespace {

std::string SharedCorpusDir() {
  for (const char* relative : {"/../shared/xlsx-corpus", "/../../shared/xlsx-corpus"}) {
    std::string dir = std::string(KORVA_SOURCE_DIR) + relative;
    if (std::filesystem::is_directory(dir)) return std::filesystem::canonical(dir).string();
  }
  return {};
}

}  // namespace

bool HaveSharedCorpus() { return !SharedCorpusDir().empty(); }

std::vector<std::string> CorpusFiles() {
  std::vector<std::string> files;
  for (const std::string& dir : {std::string(KORVA_SOURCE_DIR) + "/tests/corpora/calc-corpus", SharedCorpusDir()}) {
    if (dir.empty() || !std::filesystem::is_directory(dir)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
      std::string ext = entry.path().extension().string();
      if (ext == ".xlsx" || ext == ".xlsm") files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace spreadsheet::testing
