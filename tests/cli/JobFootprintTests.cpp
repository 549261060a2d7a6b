// The whole job at the size users run it: 100,000 rows of ten fields, each
// field written through TqovSheet.Cell, measured from the process itself.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "JobTestSupport.h"

namespace korva::test {
namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;  // the memory would be the sanitizer's
#else
constexpr bool kSanitized = false;
#endif

// Runs a program in `dir` in the C locale; its exit status and peak resident
// memory in kilobytes.
long RunMeasured(const std::string& dir, const std::vector<std::string>& args, int& status) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child == 0) {
    if (chdir(dir.c_str()) != 0) _exit(127);
    char locale[] = "LC_ALL=C";
    char* env[] = {locale, nullptr};
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execve(argv[0], argv.data(), env);
    _exit(127);
  }
  struct rusage usage {};
  int raw = 0;
  if (child < 0 || wait4(child, &raw, 0, &usage) != child) return -1;
  status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return usage.ru_maxrss;
}

TEST(JobFootprint, AHundredThousandRowJobStaysUnderSixtyMegabytes) {
  if (kSanitized) GTEST_SKIP() << "measured in the optimised tree only";
  TTempFolder folder;
  // Numbers, unique names, repeated words and decimals, as exports hold them
  // (bench/FillTemplate.sh measures the same job's time and peak memory).
  std::string csv = "col0;col1;col2;col3;col4;col5;col6;col7;col8;col9\n";
  uint32_t seed = 1;
  auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  char line[256];
  for (int r = 0; r < 100000; ++r) {
    std::snprintf(line, sizeof line, "%d;name%d;%.2f;%u;xxxxxxxx;%.3f;city%d;%d;tag;%.1f\n", r, r,
                  (next() % 100000) / 100.0, next() % 1000000, (next() % 1000) / 1000.0, r % 97, r * 7, r / 3.0);
    csv += line;
  }
  folder.Write("data.csv", csv);
  csv = {};  // the child starts as a copy of this process: its peak would count it
  folder.Write("fill.rops",
               "var r, c: Integer; sh: TqovSheet; row: TqovDataRow;\n"
               "begin\n"
               "  sh := DOCUMENT.Sheet[1];\n"
               "  for r := 0 to DATA.RowCount - 1 do\n"
               "  begin\n"
               "    row := DATA[r];\n"
               "    for c := 0 to row.ColumnCount - 1 do sh.Cell[r + 1, c + 1] := row[c];\n"
               "  end;\n"
               "end.\n");
  Python("import openpyxl\nwb = openpyxl.Workbook()\nwb.active['A1'] = 'template'\nwb.save('" +
         folder.File("book.xlsx") + "')\n");
  int status = -1;
  long peak = RunMeasured(folder.Path(), {KORVA_BINARY, "-x", "book.xlsx", "-c", "data.csv", "-d", ";", "fill.rops"},
                          status);
  ASSERT_EQ(status, 0);
  EXPECT_LT(peak, 60 * 1024) << "peak memory " << peak / 1024 << " MB";
  RecordProperty("PeakKilobytes", static_cast<int>(peak));
  // Every field arrived, typed: the last row as saved.
  std::string row = Python(
      "import zipfile\nx = zipfile.ZipFile('" + folder.File("book.xlsx") +
      "').read('xl/worksheets/sheet1.xml').decode()\nprint(x[x.index('<row r=\"100001\"'):][:700])\n");
  for (const char* cell :
       {"<c r=\"A100001\"><v>99999</v></c>", "<t>name99999</t>", "<t>xxxxxxxx</t>", "<t>city89</t>",
        "<c r=\"H100001\"><v>699993</v></c>", "<t>tag</t>", "<c r=\"J100001\"><v>33333</v></c></row>"})
    EXPECT_NE(row.find(cell), std::string::npos) << cell << " in " << row;
}

}  // namespace
}  // namespace korva::test
