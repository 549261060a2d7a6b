// Sheet protection as the application enforces it: on a protected sheet a
// locked cell cannot be written (unless it lies in a range the sheet lets
// everyone edit), and rows and columns are inserted only when the
// protection allows it. A script that protects a sheet last, after filling
// it, is never affected.
#include "spreadsheet/Workbook.h"
#include "spreadsheet/Xml.h"

namespace spreadsheet {

namespace {

// Whether the sheet's protection keeps `attribute` (insertRows,
// insertColumns, ...) from being done; the attributes default to kept.
bool Prevents(pugi::xml_node protection, const char* attribute) {
  pugi::xml_attribute a = protection.attribute(attribute);
  return !a || a.as_bool();
}

// A protected range without a password is open to everyone: its cells can be
// written on the protected sheet, locked or not. One with a password asks
// for it, which a script cannot give.
bool InOpenProtectedRange(pugi::xml_node root, uint32_t row, uint32_t column) {
  for (pugi::xml_node range : Children(Child(root, "protectedRanges"), "protectedRange")) {
    if (range.attribute("password") || range.attribute("hashValue") || range.attribute("securityDescriptor") ||
        Child(range, "securityDescriptor"))
      continue;
    std::string_view list = range.attribute("sqref").value();
    while (!list.empty()) {
      size_t space = list.find(' ');
      TRangeRef ref;
      if (ParseRangeRef(list.substr(0, space), ref) && row >= ref.First.Row && row <= ref.Last.Row &&
          column >= ref.First.Column && column <= ref.Last.Column)
        return true;
      list = space == std::string_view::npos ? std::string_view() : list.substr(space + 1);
    }
  }
  return false;
}

}  // namespace

void TWorkbookFile::RefuseProtectedWrite(TSheet& sheet, uint32_t row, uint32_t column) {
  EnsureLoaded(sheet);
  if (!sheet.IsWorksheet || !ProtectContents(sheet) || !GetLocked(sheet, row, column)) return;
  if (InOpenProtectedRange(sheet.Root(), row, column)) return;
  throw EWorkbookError(rtl::Utf8ToUnicode(std::string(SProtectedCell) + " (" + CellName(row, column) + " on sheet \"" +
                                          sheet.Name + "\" is locked)"));
}

void TWorkbookFile::RefuseProtectedInsert(TSheet& sheet, bool rows) {
  EnsureLoaded(sheet);
  if (!sheet.IsWorksheet || !ProtectContents(sheet)) return;
  if (!Prevents(Child(sheet.Root(), "sheetProtection"), rows ? "insertRows" : "insertColumns")) return;
  throw EWorkbookError(rtl::Utf8ToUnicode(std::string(SProtectedInsert) + " (sheet \"" + sheet.Name +
                                          "\" is protected and its protection does not allow inserting " +
                                          (rows ? "rows" : "columns") + ")"));
}

}  // namespace spreadsheet
