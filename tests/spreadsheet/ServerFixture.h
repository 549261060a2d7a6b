// A server instance for tests, with short helpers for the member chains.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "TestPackages.h"
#include "rtl/AutomationErrors.h"
#include "spreadsheet/NativeServer.h"

namespace spreadsheet::testing {

using TBookRef = std::shared_ptr<IWorkbook>;
using TSheetRef = std::shared_ptr<ISheet>;

class ServerTest : public ::testing::Test {
 protected:
  TNativeServer FServer;
  std::unique_ptr<IApplication> FApp = FServer.CreateApplication();
  TTempDir FDir;

  TBookRef Open(const std::string& path) { return FApp->Open(rtl::Utf8ToUnicode(path)); }
  static TSheetRef Sheet(const TBookRef& book, int index) { return book->Worksheet(index); }
  static rtl::Variant Get(const TSheetRef& sheet, int row, int column) { return sheet->Value(row, column); }
  static void Put(const TSheetRef& sheet, int row, int column, const rtl::Variant& value) {
    sheet->SetValue(row, column, value);
  }
  static void PutText(const TSheetRef& sheet, int row, int column, std::u16string_view text) {
    Put(sheet, row, column, rtl::Variant::FromOleStr(text));
  }
  static void SaveAndClose(const TBookRef& book) { book->Close(true); }
  static std::string Text(const rtl::Variant& v) { return rtl::UnicodeToUtf8(v.AsUnicodeString()); }
  static std::string NameOf(const TSheetRef& sheet) { return rtl::UnicodeToUtf8(sheet->Name()); }

 public:
  // "#N/A" for the error value of a cell (its variant error code).
  static std::string ErrorName(int32_t code) {
    switch (code & 0xFFFF) {
      case 2000: return "#NULL!";
      case 2007: return "#DIV/0!";
      case 2015: return "#VALUE!";
      case 2023: return "#REF!";
      case 2029: return "#NAME?";
      case 2036: return "#NUM!";
      case 2042: return "#N/A";
    }
    return "#?" + std::to_string(code);
  }
};

// A server and a one-cell workbook at FPath, for the tests of what saving
// leaves beside the workbook.
class OneCellBookTest : public ServerTest {
 protected:
  std::string FPath = FDir.File("book.xlsx");
  void MakeBook() {
    TBookLayout layout;
    layout.Sheets = {{"Data", "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData>"}};
    WriteBook(FPath, layout);
  }
};

// The names in a folder.
inline std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.insert(e.path().filename().string());
  return names;
}

}  // namespace spreadsheet::testing
