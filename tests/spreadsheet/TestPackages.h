// Helpers for spreadsheet tests: building workbook packages from part texts,
// reading zip entries back, checking saved files with openpyxl, and finding
// the shared corpus of application-made workbooks.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/LibreOfficeCalc.h"

namespace spreadsheet::testing {

using TParts = std::vector<std::pair<std::string, std::string>>;

// A scratch directory removed with the object.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& name) const { return FPath + "/" + name; }

 private:
  std::string FPath;
};

void WriteZip(const std::string& path, const TParts& parts);
// Entry name -> uncompressed content.
std::map<std::string, std::string> ReadZip(const std::string& path);

// A workbook with the given worksheets; `sheetXml` holds the inner XML of
// each worksheet element (sheetData and what follows); `extraParts` are
// added as they are; `workbookExtra` goes after <sheets> in workbook.xml.
struct TBookLayout {
  std::vector<std::pair<std::string, std::string>> Sheets;  // name, inner XML
  std::string SharedStrings;                                // <si> elements, or empty for none
  std::string SharedStringsAttrs;                           // attributes of <sst> (' count="3"')
  std::string CellXfs = "<xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/>";
  std::string NumFmts;
  std::string WorkbookExtra;
  bool CalcChain = false;
  TParts ExtraParts;
  std::vector<std::pair<int, std::string>> SheetRels;  // sheet index (0-based), relationship XML
  std::string ExtraContentTypes;
};
void WriteBook(const std::string& path, const TBookLayout& layout);

// Runs a Python snippet with /usr/bin/python3 (openpyxl available) and
// returns its standard output; `ok` is false when python failed.
std::string RunPython(const std::string& script, bool* ok = nullptr);
bool HaveOpenpyxl();

// Recalculation of saved workbooks by LibreOffice: Recalculate(path) gives
// every sheet's calculated values; WhyNoRecalculation() says why tests must
// skip ("" when soffice is installed).
using korva::calc::Recalculate;
using korva::calc::TRecalculation;
using korva::calc::TSheetValues;
using korva::calc::WhyNoRecalculation;

// The workbooks of the corpora, sorted: the formula workbooks kept in the
// repository, and the application-made ones of ../shared/xlsx-corpus when
// that folder is present (they may not be copied into the repository).
std::vector<std::string> CorpusFiles();
// False when ../shared/xlsx-corpus is absent: the tests then say so.
bool HaveSharedCorpus();

}  // namespace spreadsheet::testing
