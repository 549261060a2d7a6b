// A server instance for tests, with short helpers for the member chains.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "TestPackages.h"
#include "rtl/Automation.h"
#include "spreadsheet/ExcelServer.h"

namespace spreadsheet::testing {

class ServerTest : public ::testing::Test {
 protected:
  rtl::TRef<rtl::IDispatch> FApp = CreateExcelApplication();
  rtl::Variant FAppVar = rtl::Variant::FromDispatch(FApp.Get());
  TTempDir FDir;

  rtl::Variant Open(const std::string& path) {
    return rtl::OleCall(rtl::OleGet(FAppVar, u"Workbooks"), u"Open",
                        {rtl::Variant::FromOleStr(rtl::Utf8ToUnicode(path))});
  }
  static rtl::Variant Sheet(const rtl::Variant& book, int index) {
    return rtl::OleGet(book, u"Worksheets", {rtl::Variant(int32_t(index))});
  }
  static rtl::Variant Cell(const rtl::Variant& sheet, int row, int column) {
    return rtl::OleGet(rtl::OleGet(sheet, u"Cells"), u"Item",
                       {rtl::Variant(int32_t(row)), rtl::Variant(int32_t(column))});
  }
  static rtl::Variant Get(const rtl::Variant& sheet, int row, int column) {
    return rtl::OleGet(Cell(sheet, row, column), u"Value");
  }
  static void Put(const rtl::Variant& sheet, int row, int column, const rtl::Variant& value) {
    rtl::OlePut(Cell(sheet, row, column), u"Value", value);
  }
  static void PutText(const rtl::Variant& sheet, int row, int column, std::u16string_view text) {
    Put(sheet, row, column, rtl::Variant::FromOleStr(text));
  }
  static void SaveAndClose(const rtl::Variant& book) {
    rtl::OleCall(book, u"Close", {}, {{u"SaveChanges", rtl::Variant(true)}});
  }
  static std::string Text(const rtl::Variant& v) { return rtl::UnicodeToUtf8(v.AsUnicodeString()); }
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
