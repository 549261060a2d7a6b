// Opens a workbook, writes 1,000,000 cells (100,000 rows x 10 columns, half
// numbers, half texts) through TqovSheet::SetCell and saves it. Prints the
// time of each phase, then reopens the saved workbook and reads every cell
// back; run it under /usr/bin/time -v for the peak memory.
//
//   bench_WriteMillionCells [rows]
#include <unistd.h>
#include <zip.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "spreadsheet/NativeServer.h"
#include "workbook/qovDocument.h"

namespace {

void WriteEmptyBook(const std::string& path) {
  const std::string decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";
  const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  const std::pair<std::string, std::string> parts[] = {
      {"[Content_Types].xml",
       decl +
           "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
           "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
           "ContentType=\"application/xml\"/><Override PartName=\"/xl/workbook.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml\"/><Override "
           "PartName=\"/xl/worksheets/sheet1.xml\" "
           "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml\"/></Types>"},
      {"_rels/.rels", decl +
                          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                          "<Relationship Id=\"rId1\" Type=\"" +
                          rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
      {"xl/workbook.xml", decl +
                              "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                              "xmlns:r=\"" +
                              rel +
                              "\"><sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
      {"xl/_rels/workbook.xml.rels",
       decl +
           "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" "
           "Type=\"" +
           rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>"},
      {"xl/worksheets/sheet1.xml",
       decl +
           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData/></worksheet>"}};
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [name, content] : parts)
    zip_file_add(z, name.c_str(), zip_source_buffer(z, content.data(), content.size(), 0), ZIP_FL_ENC_UTF_8);
  zip_close(z);
}

// Peak resident memory so far, in MB (VmHWM of /proc/self/status).
double PeakMegabytes() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return 0;
  char line[256];
  long kb = 0;
  while (std::fgets(line, sizeof line, status))
    if (std::sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
  std::fclose(status);
  return kb / 1024.0;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  const int columns = 10;
  std::string dir = std::filesystem::temp_directory_path() / ("korva-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::string path = dir + "/bench.xlsx";
  WriteEmptyBook(path);

  spreadsheet::TNativeServer server;
  auto start = std::chrono::steady_clock::now();
  workbook::TqovDocument doc(&server, rtl::Utf8ToUnicode(path));
  workbook::TqovSheet* sheet = doc.Sheet(1);
  double opened = Seconds(start);

  start = std::chrono::steady_clock::now();
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= columns; ++c) {
      if (c % 2)
        sheet->SetCell(r, c, rtl::Variant(r * 0.5 + c));
      else
        sheet->SetCell(r, c, rtl::Variant::FromUString(u"text " + rtl::IntToStr(r)));
    }
  double written = Seconds(start);

  start = std::chrono::steady_clock::now();
  doc.Close();
  double saved = Seconds(start);
  double peakWriting = PeakMegabytes();

  start = std::chrono::steady_clock::now();
  workbook::TqovDocument reopened(&server, rtl::Utf8ToUnicode(path));
  double checksum = 0;
  for (int r = 1; r <= rows; ++r)
    for (int c = 1; c <= columns; c += 2) checksum += reopened.Sheet(1)->Cell(r, c).AsDouble();
  for (int c = 2; c <= columns; c += 2)
    if (reopened.Sheet(1)->Cell(rows, c).AsUnicodeString() != u"text " + rtl::IntToStr(rows)) std::puts("MISMATCH");
  reopened.Close();
  double readBack = Seconds(start);

  long cells = static_cast<long>(rows) * columns;
  std::printf("cells written:  %ld\n", cells);
  std::printf("open:           %.3f s\n", opened);
  std::printf("write cells:    %.3f s (%.0f cells/s)\n", written, cells / written);
  std::printf("save and close: %.3f s\n", saved);
  std::printf("peak memory while writing and saving: %.0f MB\n", peakWriting);
  std::printf("file size:      %.1f MB\n", std::filesystem::file_size(path) / 1e6);
  std::printf("reopen, read %ld numbers: %.3f s (checksum %.1f)\n", cells / 2, readBack, checksum);
  std::printf("peak memory overall: %.0f MB\n", PeakMegabytes());
  std::filesystem::remove_all(dir);
  return 0;
}
