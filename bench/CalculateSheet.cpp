// Calculation of a large sheet: 100,000 rows with a formula per row
// (=B2*C2) and totals over them (SUM, SUMIF, and VLOOKUP against a
// 1,000-row table when the engine has VLOOKUP). Prints the time to open the
// workbook, to calculate everything (the first read of the totals), and to
// recalculate after one write (write a cell, read the total), averaged.
//
//   bench_CalculateSheet [rows [repeats]]
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "spreadsheet/NativeServer.h"
#include "spreadsheet/calc/Functions.h"

namespace {

const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
const std::string kMain = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string Worksheet(const std::string& rows) {
  return kDecl + "<worksheet xmlns=\"" + kMain + "\"><sheetData>" + rows + "</sheetData></worksheet>";
}

// Data: A a category, B a quantity, C a price, D =B*C, E a key into the
// table; H1:H3 the totals. Rates: A1:B1000 keys and rates.
void WriteBook(const std::string& path, int rows, bool lookup) {
  std::string data;
  data.reserve(static_cast<size_t>(rows) * 160);
  data +=
      "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Category</t></is></c>"
      "<c r=\"H1\"><f>SUM(D2:D" +
      std::to_string(rows + 1) + ")</f></c></row>";
  for (int r = 2; r <= rows + 1; ++r) {
    std::string n = std::to_string(r);
    data += "<row r=\"" + n + "\"><c r=\"A" + n + "\" t=\"inlineStr\"><is><t>k" + std::to_string(r % 10) +
            "</t></is></c><c r=\"B" + n + "\"><v>" + std::to_string(r % 17 + 1) + "</v></c><c r=\"C" + n + "\"><v>" +
            std::to_string((r % 100) * 0.25) + "</v></c><c r=\"D" + n + "\"><f>B" + n + "*C" + n + "</f></c><c r=\"E" +
            n + "\"><v>" + std::to_string(r % 1000 + 1) + "</v></c>";
    if (r == 2)
      data += "<c r=\"H2\"><f>SUMIF(A2:A" + std::to_string(rows + 1) + ",\"k3\",D2:D" + std::to_string(rows + 1) +
              ")</f></c>";
    if (r == 3 && lookup)
      data += "<c r=\"H3\"><f>VLOOKUP(E" + std::to_string(rows) + ",Rates!A1:B1000,2,FALSE)*H1</f></c>";
    data += "</row>";
  }
  std::string rates;
  for (int r = 1; r <= 1000; ++r) {
    std::string n = std::to_string(r);
    rates += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n + "\"><v>" +
             std::to_string(r * 0.001) + "</v></c></row>";
  }
  const std::string types = "application/vnd.openxmlformats-officedocument.spreadsheetml.";
  const std::pair<std::string, std::string> parts[] = {
      {"[Content_Types].xml",
       kDecl +
           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
           "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
           "ContentType=\"application/xml\"/><Override PartName=\"/xl/workbook.xml\" ContentType=\"" +
           types + "sheet.main+xml\"/><Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"" + types +
           "worksheet+xml\"/><Override PartName=\"/xl/worksheets/sheet2.xml\" ContentType=\"" + types +
           "worksheet+xml\"/></Types>"},
      {"_rels/.rels", kDecl +
                          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                          "<Relationship Id=\"rId1\" Type=\"" +
                          kRel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml", kDecl + "<workbook xmlns=\"" + kMain + "\" xmlns:r=\"" + kRel +
                              "\"><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/>"
                              "<sheet name=\"Rates\" sheetId=\"2\" r:id=\"rId2\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       kDecl +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
           "<Relationship Id=\"rId1\" Type=\"" +
           kRel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" Type=\"" + kRel +
           "/worksheet\" Target=\"worksheets/sheet2.xml\"/></Relationships>"},
      {"xl/worksheets/sheet1.xml", Worksheet(data)},
      {"xl/worksheets/sheet2.xml", Worksheet(rates)}};
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [name, content] : parts)
    zip_file_add(z, name.c_str(), zip_source_buffer(z, content.data(), content.size(), 0), ZIP_FL_ENC_UTF_8);
  zip_close(z);
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const bool lookup = spreadsheet::calc::FindFunction("VLOOKUP") != nullptr;
  std::string dir = std::filesystem::temp_directory_path() / ("korva-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string path = dir + "/calculate.xlsx";
  WriteBook(path, rows, lookup);

  spreadsheet::TNativeServer server;
  auto app = server.CreateApplication();
  auto start = std::chrono::steady_clock::now();
  auto book = app->Open(rtl::Utf8ToUnicode(path));
  auto sheet = book->Worksheet(1);
  sheet->Value(2, 2);  // sheets load when first read
  book->Worksheet(2)->Value(1, 1);
  double opened = Seconds(start);

  // The first read of the totals computes every formula they depend on.
  start = std::chrono::steady_clock::now();
  double sum = sheet->Value(1, 8).AsDouble();
  double sumIf = sheet->Value(2, 8).AsDouble();
  double looked = lookup ? sheet->Value(3, 8).AsDouble() : 0;
  double full = Seconds(start);

  // One write, then the total read again.
  const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 20;
  double expected = sum;
  bool right = true;
  start = std::chrono::steady_clock::now();
  for (int i = 0; i < repeats; ++i) {
    int row = 2 + (i * 7919) % rows;
    double before = sheet->Value(row, 2).AsDouble(), price = sheet->Value(row, 3).AsDouble();
    sheet->SetValue(row, 2, rtl::Variant(before + 1));
    expected += price;
    double total = sheet->Value(1, 8).AsDouble();
    right = right && std::fabs(total - expected) <= 1e-9 * std::fabs(expected);
  }
  double afterWrite = Seconds(start) / repeats;
  book->Close(false);
  std::filesystem::remove_all(dir);

  std::printf("rows:                         %d (a formula each)\n", rows);
  std::printf("open and load:                %.3f s\n", opened);
  std::printf("full calculation:             %.3f s (SUM %.2f, SUMIF %.2f%s)\n", full, sum, sumIf,
              lookup ? "" : "; no VLOOKUP in this engine, left out");
  if (lookup) std::printf("VLOOKUP total:                %.4f\n", looked);
  std::printf("write one cell, read total:   %.3f ms (average of %d)%s\n", afterWrite * 1000, repeats,
              right ? "" : "  WRONG TOTALS");
  return right ? 0 : 1;
}
