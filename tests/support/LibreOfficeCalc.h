// Independent checks of saved workbooks: LibreOffice Calc (headless) opens a
// copy, recalculates every formula and writes each sheet's values as CSV.
// Korva's own results are checked against these; this is also how tests see
// what a spreadsheet application will show. Header-only so that every test
// program can use it without depending on another layer's test code.
#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace korva::calc {

// The values of one sheet as LibreOffice calculated and shows them.
class TSheetValues {
 public:
  std::vector<std::vector<std::string>> Rows;

  // The text of a cell (1-based), "" beyond the used area.
  std::string At(size_t row, size_t column) const {
    if (row < 1 || row > Rows.size() || column < 1 || column > Rows[row - 1].size()) return {};
    return Rows[row - 1][column - 1];
  }
  // The text of a cell named like "B6".
  std::string At(std::string_view a1) const {
    size_t row = 0, column = 0;
    if (!ParseCellName(a1, row, column)) throw std::invalid_argument("not a cell name: " + std::string(a1));
    return At(row, column);
  }
  // The cell as a number; NaN when it holds anything else (text, an error).
  double Number(std::string_view a1) const {
    std::string text = At(a1);
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nan("");
    return value;
  }

  static bool ParseCellName(std::string_view a1, size_t& row, size_t& column) {
    size_t i = 0;
    column = row = 0;
    while (i < a1.size() && ((a1[i] >= 'A' && a1[i] <= 'Z') || (a1[i] >= 'a' && a1[i] <= 'z')))
      column = column * 26 + static_cast<size_t>((a1[i++] | 0x20) - 'a' + 1);
    if (i == 0 || i == a1.size()) return false;
    for (; i < a1.size(); ++i) {
      if (a1[i] < '0' || a1[i] > '9') return false;
      row = row * 10 + static_cast<size_t>(a1[i] - '0');
    }
    return row > 0;
  }
};

struct TRecalculation {
  std::string Failure;                         // empty when every sheet was written
  std::map<std::string, TSheetValues> Sheets;  // by sheet name
  double Seconds = 0;                          // how long LibreOffice took

  // The sheet's values; an empty sheet when LibreOffice wrote none by that name.
  const TSheetValues& Sheet(const std::string& name) const {
    static const TSheetValues none;
    auto it = Sheets.find(name);
    return it == Sheets.end() ? none : it->second;
  }
};

// How long one run may take before it is stopped (a first start on a slow
// machine takes a few seconds).
constexpr int kTimeoutSeconds = 120;

// The soffice program on PATH, or "" when LibreOffice is not installed.
inline std::string SofficeProgram() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t i = 0; i <= dirs.size();) {
    size_t colon = dirs.find(':', i);
    if (colon == std::string::npos) colon = dirs.size();
    std::string candidate = (colon > i ? dirs.substr(i, colon - i) : ".") + "/soffice";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    i = colon + 1;
  }
  return {};
}

// Why recalculation cannot run here, or "" when it can.
inline std::string WhyNoRecalculation() {
  if (SofficeProgram().empty())
    return "LibreOffice (soffice, Debian package libreoffice-calc-nogui) is not installed: formulas are not recalculated";
  return {};
}

namespace detail {

inline std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

inline std::string FileUrl(const std::string& path) {
  static const char* const hex = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
                 c == '_' || c == '.' || c == '~';
    if (plain) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += hex[c >> 4];
      url += hex[c & 15];
    }
  }
  return url;
}

// Fields of comma-separated text with double-quoted fields, which may hold
// commas, doubled quotes and line breaks.
inline std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::vector<std::string> row;
  std::string field;
  bool quoted = false, any = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
        field += '"', ++i;
      else if (c == '"')
        quoted = false;
      else
        field += c;
      continue;
    }
    if (c == '"') {
      quoted = any = true;
    } else if (c == ',') {
      row.push_back(std::move(field));
      field.clear();
      any = true;
    } else if (c == '\n' || c == '\r') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      row.push_back(std::move(field));
      field.clear();
      rows.push_back(std::move(row));
      row.clear();
      any = false;
    } else {
      field += c;
      any = true;
    }
  }
  if (any || !field.empty()) {
    row.push_back(std::move(field));
    rows.push_back(std::move(row));
  }
  return rows;
}

// A scratch folder removed with the object.
class TScratch {
 public:
  TScratch() {
    std::string pattern = std::filesystem::temp_directory_path().string() + "/korva-calc-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    FPath = pattern;
  }
  ~TScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
};

// Makes LibreOffice recalculate every formula on load instead of showing
// the results cached in the file, which Korva leaves stale or absent.
inline void WriteProfile(const std::string& profileDir) {
  std::filesystem::create_directories(profileDir + "/user");
  std::ofstream(profileDir + "/user/registrymodifications.xcu")
      << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
         "<item oor:path=\"/org.openoffice.Office.Calc/Formula/Load\"><prop oor:name=\"OOXMLRecalcMode\" "
         "oor:op=\"fuse\"><value>0</value></prop></item>\n"
         "<item oor:path=\"/org.openoffice.Office.Calc/Formula/Load\"><prop oor:name=\"ODFRecalcMode\" "
         "oor:op=\"fuse\"><value>0</value></prop></item>\n"
         "</oor:items>\n";
}

}  // namespace detail

// Recalculates a copy of `workbook` and returns the values of all its sheets
// (`asShown`: as the cells' number formats show them). Each run has its own
// user profile and home folder, so parallel runs do not share LibreOffice's
// profile lock.
inline TRecalculation Recalculate(const std::string& workbook, bool asShown = false) {
  TRecalculation result;
  std::string soffice = SofficeProgram();
  if (soffice.empty()) {
    result.Failure = WhyNoRecalculation();
    return result;
  }
  detail::TScratch scratch;
  const std::string& dir = scratch.Path();
  std::string extension = std::filesystem::path(workbook).extension().string();
  std::string copy = dir + "/book" + (extension.empty() ? ".xlsx" : extension);
  std::error_code error;
  if (!std::filesystem::copy_file(workbook, copy, error)) {
    result.Failure = "cannot copy " + workbook + ": " + error.message();
    return result;
  }
  detail::WriteProfile(dir + "/profile");
  std::filesystem::create_directories(dir + "/home");
  // Comma-separated UTF-8, en-US numbers, values rather than formulas, every
  // sheet into its own file "book-<sheet name>.csv".
  const std::string filter = std::string("csv:Text - txt - csv (StarCalc):44,34,76,1,,1033,false,true,") +
                             (asShown ? "true" : "false") + ",false,false,-1";
  std::string command = "cd " + detail::ShellQuote(dir) + " && HOME=" + detail::ShellQuote(dir + "/home") +
                        " LC_ALL=C.UTF-8 timeout -k 10 " + std::to_string(kTimeoutSeconds) + " " +
                        detail::ShellQuote(soffice) + " " +
                        detail::ShellQuote("-env:UserInstallation=" + detail::FileUrl(dir + "/profile")) +
                        " --headless --norestore --nolockcheck --convert-to " + detail::ShellQuote(filter) +
                        " --outdir " + detail::ShellQuote(dir + "/out") + " " + detail::ShellQuote(copy) +
                        " </dev/null 2>&1";
  auto started = std::chrono::steady_clock::now();
  std::string output;
  int status = -1;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[4096];
    while (size_t got = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
    int raw = pclose(pipe);
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }
  result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (status == 124 || status == 137) {
    result.Failure = "LibreOffice did not finish within " + std::to_string(kTimeoutSeconds) + " seconds:\n" + output;
    return result;
  }
  const std::string prefix = "book-";
  if (std::filesystem::is_directory(dir + "/out"))
    for (const auto& entry : std::filesystem::directory_iterator(dir + "/out")) {
      std::string name = entry.path().filename().string();
      if (name.size() <= prefix.size() + 4 || name.rfind(prefix, 0) != 0 || name.substr(name.size() - 4) != ".csv")
        continue;
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream content;
      content << in.rdbuf();
      result.Sheets[name.substr(prefix.size(), name.size() - prefix.size() - 4)].Rows = detail::ParseCsv(content.str());
    }
  if (result.Sheets.empty())
    result.Failure = "LibreOffice wrote no values (exit status " + std::to_string(status) + "):\n" + output;
  return result;
}

}  // namespace korva::calc
