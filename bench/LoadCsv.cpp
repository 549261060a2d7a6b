// Reads a CSV file of `rows` x 10 fields (numbers, short and long texts, as
// the job benchmark writes them) into the table a job gives its script, then
// walks every field as a script reading each row would. Prints the time of
// each phase and the table's resident memory.
//
//   bench_LoadCsv [rows]
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "data/qovData.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Resident memory of the process in kilobytes.
long ResidentKilobytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::strtol(line.c_str() + 6, nullptr, 10);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::atoi(argv[1]) : 100000;
  std::string path = std::filesystem::temp_directory_path() / ("korva-bench-" + std::to_string(getpid()) + ".csv");
  {
    std::ofstream out(path);
    std::mt19937 random(1);
    out << "col0;col1;col2;col3;col4;col5;col6;col7;col8;col9\n";
    for (int r = 0; r < rows; ++r)
      out << r << ";name" << r << ";" << random() % 100000 / 100.0 << ";" << random() % 1000000 << ";xxxxxxxx;"
          << random() % 1000 / 1000.0 << ";city" << r % 97 << ";" << r * 7 << ";tag;" << r / 3.0 << "\n";
  }
  long before = ResidentKilobytes();
  auto start = std::chrono::steady_clock::now();
  auto table = std::make_unique<data::TqovData>(rtl::Utf8ToUnicode(path), true, u';');
  double loaded = Seconds(start);
  long after = ResidentKilobytes();

  start = std::chrono::steady_clock::now();
  size_t characters = 0;
  for (int r = 0; r < table->RowCount(); ++r) {
    data::TqovDataRow* row = table->Row(r);
    for (int c = 0; c < row->ColumnCount(); ++c) characters += row->Column(c).size();
  }
  double walked = Seconds(start);
  std::printf("file:               %d rows x 10 fields, %.1f MB\n", rows,
              static_cast<double>(std::filesystem::file_size(path)) / 1e6);
  std::printf("load:               %.3f s\n", loaded);
  std::printf("table in memory:    %.1f MB\n", static_cast<double>(after - before) / 1024);
  std::printf("walk every field:   %.3f s (%zu characters)\n", walked, characters);
  std::filesystem::remove(path);
  return 0;
}
