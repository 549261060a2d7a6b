// Thousands of random formulas over every function the engine computes,
// written through the server and saved with their results, then computed
// again by LibreOffice from the same file: the two must agree cell by cell.
// KORVA_CALC_SEED=<n> runs another set of formulas by hand; there
// LibreOffice's own ways may show, where Korva follows the application:
// a numeric text as IF's result counted by SUM, COUNTIFS leaving out a
// blank that meets "<>b*", a number's text with more than 15 digits cut by
// RIGHT, a different error among several.
// The inputs avoid what LibreOffice cannot represent (Boolean cells, empty
// text cells); the generator's argument rules avoid its other known
// differences (see FormulaGenerator.cpp).
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <set>

#include "FormulaGenerator.h"
#include "ServerFixture.h"
#include "spreadsheet/Xml.h"

namespace spreadsheet::testing {
namespace {

constexpr uint64_t kSeed = 16;
constexpr size_t kFormulas = 3000;

std::string CellName(uint32_t row, uint32_t column) {
  std::string name;
  for (uint32_t c = column; c > 0; c = (c - 1) / 26) name.insert(name.begin(), static_cast<char>('A' + (c - 1) % 26));
  return name + std::to_string(row);
}

// The cached values of a saved sheet's formula cells: "A1" -> "n:3",
// "s:text", "b:1", "e:#N/A".
std::map<std::string, std::string> CachedResults(const std::string& sheetXml) {
  std::map<std::string, std::string> results;
  pugi::xml_document doc;
  doc.load_string(sheetXml.c_str(), pugi::parse_default | pugi::parse_ws_pcdata_single);
  for (pugi::xml_node c : Descendants(doc.document_element(), "c")) {
    if (!Child(c, "f")) continue;
    pugi::xml_node v = Child(c, "v");
    std::string type = c.attribute("t").value();
    std::string kind = type == "str" ? "s:" : type == "b" ? "b:" : type == "e" ? "e:" : v ? "n:" : "";
    results[c.attribute("r").value()] = kind.empty() ? "" : kind + DecodeCellText(v.child_value());
  }
  return results;
}

// Text with numbers in it agrees when the rest is the same and the numbers
// agree as numbers do: LibreOffice rounds to 15 digits its own way and
// writes "1E+0187".
bool SameText(const std::string& mine, const std::string& theirs) {
  if (mine == theirs) return true;
  const char* a = mine.c_str();
  const char* b = theirs.c_str();
  bool numbers = false;
  while (*a && *b) {
    if ((*a >= '0' && *a <= '9') && (*b >= '0' && *b <= '9')) {
      char* endA = nullptr;
      char* endB = nullptr;
      double x = std::strtod(a, &endA), y = std::strtod(b, &endB);
      if (std::fabs(x - y) > 1e-9 * std::max(std::fabs(x), std::fabs(y))) return false;
      a = endA;
      b = endB;
      numbers = true;
    } else if (*a++ != *b++) {
      return false;
    }
  }
  return numbers && !*a && !*b;
}

// Whether a formula calls one of the functions.
bool Unknown(const std::string& formula, const std::set<std::string>& names) {
  for (const std::string& name : names)
    for (size_t at = formula.find(name + "("); at != std::string::npos; at = formula.find(name + "(", at + 1))
      if (at == 0 || !(std::isalnum(static_cast<unsigned char>(formula[at - 1])) || formula[at - 1] == '.'))
        return true;
  return false;
}

// LibreOffice shows the results of date and time functions in the en-US
// formats: "01/26/1954", "02:41:56 PM", "01/21/2065 04:48:00",
// "03:11:47.40", "244:12:04", "-22:12:54". Their serial numbers (days since
// 1899-12-30, right from March 1900 on); false for other text.
bool DateTimeSerial(const std::string& text, double& serial) {
  if (text.size() > 1 && text[0] == '-' && text[1] != '-') {
    bool read = DateTimeSerial(text.substr(1), serial);
    serial = -serial;
    return read;
  }
  int month = 0, day = 0, year = 0, used = 0;
  const char* rest = text.c_str();
  serial = 0;
  bool date = false;
  if (std::sscanf(rest, "%2d/%2d/%4d%n", &month, &day, &year, &used) == 3 && used >= 8) {
    // Days from civil date (proleptic Gregorian).
    int y = month <= 2 ? year - 1 : year;
    int era = (y >= 0 ? y : y - 399) / 400, yoe = y - era * 400;
    int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    serial = era * 146097.0 + doe - 719468 + 25569;  // 1970-01-01 is 25569
    rest += used;
    date = true;
    if (*rest == ' ') ++rest;
  }
  int hour = 0, minute = 0;
  double second = 0;
  used = 0;
  if (std::sscanf(rest, "%7d:%2d%n", &hour, &minute, &used) == 2 && used >= 4) {
    rest += used;
    if (*rest == ':' && std::sscanf(rest + 1, "%lf%n", &second, &used) == 1) rest += 1 + used;
    if (std::strcmp(rest, " AM") == 0 || std::strcmp(rest, " PM") == 0) {
      hour = hour % 12 + (rest[1] == 'P' ? 12 : 0);
      rest += 3;
    }
    serial += (hour * 3600.0 + minute * 60 + second) / 86400;
    return !*rest;
  }
  return date && !*rest;
}

// Whether LibreOffice's text of a cell shows Korva's result.
bool Agree(const std::string& korva, const std::string& office) {
  if (korva.size() < 2) return false;
  std::string value = korva.substr(2);
  switch (korva[0]) {
    case 's': return SameText(value, office);
    case 'b': return office == (value == "1" ? "TRUE" : "FALSE");
    // LibreOffice's own errors ("Err:502") stand where the application gives
    // one of its seven.
    // and its #VALUE! where the application reports an argument outside a
    // function's domain as #NUM!.
    case 'e': return value == office || office.rfind("Err:", 0) == 0 || (value == "#NUM!" && office == "#VALUE!");
    default: break;
  }
  double mine = std::strtod(value.c_str(), nullptr);
  // LibreOffice gives a formula the format of what it computes last: a
  // number may show as TRUE when TRUE() took part, or as a percentage.
  if (office == "TRUE" || office == "FALSE") return (mine != 0) == (office == "TRUE");
  // Times show whole seconds.
  if (double serial = 0; DateTimeSerial(office, serial)) return std::fabs(mine - serial) < 1.0 / 86400;
  // A lookup's blank result shows as nothing there, as 0 in the application.
  if (office.empty()) return mine == 0;
  std::string shown = office;
  double scale = 1;
  if (!shown.empty() && shown.back() == '%') {
    shown.pop_back();
    scale = 100;
  }
  char* end = nullptr;
  double theirs = std::strtod(shown.c_str(), &end) / scale;
  if (shown.empty() || *end) return false;
  double difference = std::fabs(mine - theirs);
  // What is left of cancelling operations LibreOffice rounds to zero.
  if (difference <= 1e-9 * std::max(std::fabs(mine), std::fabs(theirs)) || difference < 1e-12) return true;
  // Small numbers are shown with the decimals General format gives them.
  size_t point = shown.find('.');
  if (shown.find('E') != std::string::npos || point == std::string::npos) return false;
  double decimals = static_cast<double>(shown.size() - point - 1);
  return difference <= 0.5000001 * std::pow(10.0, -decimals) / scale;
}

TEST(CalcDifferentialTest, RandomFormulasAgreeWithLibreOffice) {
  uint64_t seed = kSeed;
  if (const char* text = std::getenv("KORVA_CALC_SEED")) seed = std::strtoull(text, nullptr, 10);
  TFormulaGenerator generator(seed);
  TGeneratedBook generated = generator.Generate(kFormulas);
  TTempDir dir;
  std::string path = dir.File("random.xlsx");
  WriteBook(path, generated.Layout);
  // KORVA_CALC_KEEP=<file> keeps the computed workbook for a closer look.
  struct TKeep {
    std::string From;
    ~TKeep() {
      if (const char* keep = std::getenv("KORVA_CALC_KEEP"))
        std::filesystem::copy_file(From, keep, std::filesystem::copy_options::overwrite_existing);
    }
  } keep{path};
  {
    TNativeServer server;
    std::unique_ptr<IApplication> app = server.CreateApplication();
    auto book = app->Open(rtl::Utf8ToUnicode(path));
    auto calc = book->Worksheet(3);
    for (size_t i = 0; i < generated.Formulas.size(); ++i) {
      int row = static_cast<int>(i / generated.FormulasPerRow) + 1,
          column = static_cast<int>(i % generated.FormulasPerRow) + 1;
      try {
        calc->SetValue(row, column, rtl::Variant::FromOleStr(rtl::Utf8ToUnicode(generated.Formulas[i])));
      } catch (const rtl::Exception& e) {
        ADD_FAILURE() << generated.Formulas[i] << ": " << rtl::UnicodeToUtf8(e.Message());
      }
    }
    book->Close(true);
  }
  std::map<std::string, std::string> korva = CachedResults(ReadZip(path)["xl/worksheets/sheet3.xml"]);
  std::cout << "seed " << seed << ": " << generated.Formulas.size() << " formulas over " << generated.Functions.size()
            << " functions\n";
  std::vector<std::string> notGenerated = TFormulaGenerator::NotGenerated();
  if (!notGenerated.empty()) {
    std::cout << "  functions without argument rules in the generator:";
    for (const std::string& name : notGenerated) std::cout << " " << name;
    std::cout << "\n";
  }
  std::string why = WhyNoRecalculation();
  if (!why.empty()) GTEST_SKIP() << why;
  TRecalculation office = Recalculate(path);
  ASSERT_EQ(office.Failure, "");
  const TSheetValues& theirs = office.Sheet("Calc");
  // Functions newer than the LibreOffice at hand (XLOOKUP before 24.8):
  // called outermost they give #NAME? there, and never anything else.
  std::set<std::string> unknownNames, knownNames;
  for (size_t i = 0; i < generated.Formulas.size(); ++i) {
    const std::string& f = generated.Formulas[i];
    size_t open = f.find('(');
    uint32_t row = static_cast<uint32_t>(i / generated.FormulasPerRow) + 1;
    uint32_t column = static_cast<uint32_t>(i % generated.FormulasPerRow) + 1;
    if (open == std::string::npos) continue;
    std::string name = f.substr(1, open - 1);
    if (theirs.At(row, column) == "#NAME?" && korva[CellName(row, column)] != "e:#NAME?")
      unknownNames.insert(name);
    else
      knownNames.insert(name);
  }
  for (const std::string& name : knownNames) unknownNames.erase(name);
  size_t compared = 0, unknown = 0;
  std::vector<std::string> differences, otherErrors, notComputed;
  for (size_t i = 0; i < generated.Formulas.size(); ++i) {
    uint32_t row = static_cast<uint32_t>(i / generated.FormulasPerRow) + 1;
    uint32_t column = static_cast<uint32_t>(i % generated.FormulasPerRow) + 1;
    std::string name = CellName(row, column), mine = korva[name], office = theirs.At(row, column);
    if (Unknown(generated.Formulas[i], unknownNames)) {
      ++unknown;
      continue;
    }
    // What Korva cannot compute is saved without a value: no wrong one.
    if (mine.empty()) {
      notComputed.push_back(name + " " + generated.Formulas[i]);
      continue;
    }
    ++compared;
    if (Agree(mine, office)) continue;
    std::string line = name + " " + generated.Formulas[i] + "\n    Korva " + mine + ", LibreOffice " + office;
    // Where several arguments are errors, the application gives the first
    // one's; LibreOffice often another. Both being errors is what counts.
    if (mine.rfind("e:", 0) == 0 && !office.empty() && office[0] == '#')
      otherErrors.push_back(line);
    else
      differences.push_back(line);
  }
  std::cout << "  cells compared: " << compared << ", agreeing: " << compared - differences.size() - otherErrors.size()
            << ", another error: " << otherErrors.size() << ", unknown to LibreOffice: " << unknown
            << ", not computed by Korva: " << notComputed.size() << "\n";
  for (size_t i = 0; i < notComputed.size() && i < 10; ++i) std::cout << "    not computed: " << notComputed[i] << "\n";
  if (std::getenv("KORVA_CALC_KEEP"))
    for (const std::string& line : otherErrors) std::cout << "  " << line << "\n";
  std::string report;
  for (size_t i = 0; i < differences.size() && i < 80; ++i) report += differences[i] + "\n";
  EXPECT_TRUE(differences.empty()) << differences.size() << " cells differ (seed " << seed << "):\n" << report;
}

}  // namespace
}  // namespace spreadsheet::testing
