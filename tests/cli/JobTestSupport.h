// Whole jobs through the built program: temporary folders, files in any
// encoding, and checks of saved workbooks with python3-openpyxl.
#pragma once

#include <string>
#include <vector>

namespace korva::test {

struct TKorvaRun {
  std::string output;
  int status;
};

// A fresh folder under the test temporary directory, removed by the destructor.
class TTempFolder {
 public:
  TTempFolder();
  ~TTempFolder();
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& name) const { return FPath + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) const;

 private:
  std::string FPath;
};

// Runs a shell command; its standard output and exit status.
std::string Capture(const std::string& command, int& status);
// Runs korva with `args` from `dir` in the C locale (list separator ",").
TKorvaRun RunKorva(const std::string& args, const std::string& dir);
// Runs /usr/bin/python3 with `code`; its standard output.
std::string Python(const std::string& code);

// A template workbook "book.xlsx" in `dir`: sheet "Data" with a title in A1,
// a styled table T on A2:C5 (header Name, Qty, Price; data rows 3 and 4 with
// number formats; total row 5 with =SUBTOTAL(109,B3:B4) and
// =SUBTOTAL(109,C3:C4)), and a second sheet "Notes".
void MakeTemplate(const std::string& dir);

// Text as UTF-16 bytes with a byte order mark.
std::string Utf16(const std::string& utf8, bool bigEndian);

// Splits output at CR LF.
std::vector<std::string> Lines(const std::string& output);

}  // namespace korva::test
