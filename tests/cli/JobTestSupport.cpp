#include "JobTestSupport.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace korva::test {

TTempFolder::TTempFolder() {
  std::string pattern = std::filesystem::temp_directory_path().string() + "/korva_job_XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (!mkdtemp(buffer.data())) throw std::runtime_error("mkdtemp failed");
  FPath = buffer.data();
}

TTempFolder::~TTempFolder() {
  std::error_code ignored;  // a folder left behind in /tmp harms nothing
  std::filesystem::remove_all(FPath, ignored);
}

void TTempFolder::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream out(File(name), std::ios::binary);
  out << bytes;
}

std::string Capture(const std::string& command, int& status) {
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) {
    status = -1;
    return output;
  }
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  int raw = pclose(pipe);
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return output;
}

TKorvaRun RunKorva(const std::string& args, const std::string& dir) {
  TKorvaRun run{{}, -1};
  run.output = Capture("cd '" + dir + "' && LC_ALL=C " + KORVA_BINARY + " " + args, run.status);
  return run;
}

std::string Python(const std::string& code) {
  TTempFolder folder;
  folder.Write("check.py", code);
  int status;
  std::string out = Capture("/usr/bin/python3 '" + folder.File("check.py") + "' 2>&1", status);
  EXPECT_EQ(status, 0) << out;
  return out;
}

void MakeTemplate(const std::string& dir) {
  Python(R"py(
from openpyxl import Workbook
from openpyxl.styles import Font
from openpyxl.worksheet.table import Table, TableStyleInfo
wb = Workbook()
ws = wb.active
ws.title = "Data"
ws["A1"] = "Title"
for col, name in enumerate(["Name", "Qty", "Price"], start=1):
    ws.cell(row=2, column=col, value=name)
for row in (3, 4):
    ws.cell(row=row, column=1).font = Font(bold=True)
    ws.cell(row=row, column=2).number_format = "#,##0"
    ws.cell(row=row, column=3).number_format = "0.00"
ws["A5"] = "Total"
ws["B5"] = "=SUBTOTAL(109,B3:B4)"
ws["C5"] = "=SUBTOTAL(109,C3:C4)"
t = Table(displayName="T", ref="A2:C5", totalsRowCount=1)
t.tableStyleInfo = TableStyleInfo(name="TableStyleMedium2", showRowStripes=True)
ws.add_table(t)
wb.create_sheet("Notes")
wb.save(")py" +
         dir + R"py(/book.xlsx")
)py");
}

std::string Utf16(const std::string& utf8, bool bigEndian) {
  std::string out = bigEndian ? std::string("\xFE\xFF") : std::string("\xFF\xFE");
  // The test texts are ASCII plus two-byte UTF-8 sequences.
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned code = static_cast<unsigned char>(utf8[i]);
    if (code >= 0xC0 && i + 1 < utf8.size())
      code = ((code & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F);
    char hi = static_cast<char>(code >> 8), lo = static_cast<char>(code & 0xFF);
    if (bigEndian)
      out += std::string{hi, lo};
    else
      out += std::string{lo, hi};
  }
  return out;
}

std::vector<std::string> Lines(const std::string& output) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t at; (at = output.find("\r\n", start)) != std::string::npos; start = at + 2)
    lines.push_back(output.substr(start, at - start));
  if (start < output.size()) lines.push_back(output.substr(start));
  return lines;
}

}  // namespace korva::test
