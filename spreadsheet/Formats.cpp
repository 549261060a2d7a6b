// Number formats, column widths and row heights as a script reads and sets
// them, in the application's units and with its records.
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>

#include "spreadsheet/Workbook.h"
#include "spreadsheet/Xml.h"

namespace spreadsheet {

namespace {

// The formats every workbook has without records of its own (en-US codes).
const std::map<uint32_t, std::string_view>& BuiltInFormats() {
  static const std::map<uint32_t, std::string_view> formats{
      {0, "General"},
      {1, "0"},
      {2, "0.00"},
      {3, "#,##0"},
      {4, "#,##0.00"},
      {5, "\"$\"#,##0_);(\"$\"#,##0)"},
      {6, "\"$\"#,##0_);[Red](\"$\"#,##0)"},
      {7, "\"$\"#,##0.00_);(\"$\"#,##0.00)"},
      {8, "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)"},
      {9, "0%"},
      {10, "0.00%"},
      {11, "0.00E+00"},
      {12, "# ?/?"},
      {13, "# ?\?/?\?"},
      {14, "mm-dd-yy"},
      {15, "d-mmm-yy"},
      {16, "d-mmm"},
      {17, "mmm-yy"},
      {18, "h:mm AM/PM"},
      {19, "h:mm:ss AM/PM"},
      {20, "h:mm"},
      {21, "h:mm:ss"},
      {22, "m/d/yy h:mm"},
      {37, "#,##0_);(#,##0)"},
      {38, "#,##0_);[Red](#,##0)"},
      {39, "#,##0.00_);(#,##0.00)"},
      {40, "#,##0.00_);[Red](#,##0.00)"},
      {41, "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)"},
      {42, "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)"},
      {43, "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"?\?_);_(@_)"},
      {44, "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"?\?_);_(@_)"},
      {45, "mm:ss"},
      {46, "[h]:mm:ss"},
      {47, "mmss.0"},
      {48, "##0.0E+0"},
      {49, "@"},
  };
  return formats;
}

// What the application refuses as a format code: nothing, too long, open
// quotes or brackets, more than four sections.
bool IsFormatCode(const std::string& code) {
  if (code.empty() || code.size() > 255) return false;
  int sections = 1;
  for (size_t i = 0; i < code.size(); ++i) {
    char c = code[i];
    if (c == '\\' || c == '_' || c == '*') {
      if (++i == code.size()) return false;
    } else if (c == '"') {
      i = code.find('"', i + 1);
      if (i == std::string::npos) return false;
    } else if (c == '[') {
      i = code.find(']', i + 1);
      if (i == std::string::npos) return false;
    } else if (c == ';' && ++sections > 4) {
      return false;
    }
  }
  return true;
}

// A number as the file writes it, whatever the process locale.
double FileNumber(const char* text, double otherwise) {
  double value = otherwise;
  std::from_chars(text, text + std::strlen(text), value);
  return value;
}

[[noreturn]] void RefuseProperty(const char* property) {
  throw EWorkbookError(
      rtl::Utf8ToUnicode(std::string("Unable to set the ") + property + " property of the Range class"));
}

// The sheet's default column width in characters when no <col> gives one:
// the base width and padding, rounded up to whole 8-pixel steps as the
// application lays out default columns.
double DefaultColumnCharacters(const TSheet& sheet, double digitWidth) {
  pugi::xml_node format = Child(sheet.Root(), "sheetFormatPr");
  if (pugi::xml_attribute stored = format.attribute("defaultColWidth"))
    return ColumnCharacters(FileNumber(stored.value(), 8.43), digitWidth);
  double base = FileNumber(format.attribute("baseColWidth").value(), 8);
  double pixels = std::ceil((base * digitWidth + 5) / 8) * 8;
  return std::trunc((pixels - 5) / digitWidth * 100 + 0.5) / 100;
}

}  // namespace

double StoredColumnWidth(double characters, double digitWidth) {
  return std::trunc((characters * digitWidth + 5) / digitWidth * 256) / 256;
}

double ColumnCharacters(double stored, double digitWidth) {
  double pixels = std::trunc((256 * stored + std::trunc(128 / digitWidth)) / 256 * digitWidth);
  return std::max(0.0, std::trunc((pixels - 5) / digitWidth * 100 + 0.5) / 100);
}

// --- Number formats ------------------------------------------------------------------

std::string TWorkbookFile::NumberFormat(TSheet& sheet, uint32_t row, uint32_t column) {
  EnsureLoaded(sheet);
  LoadStyles();
  uint32_t style = sheet.StyleAt(row, column);
  uint32_t id = style < FCellXfs.size() ? FCellXfs[style].attribute("numFmtId").as_uint() : 0;
  if (auto custom = FNumFmts.find(id); custom != FNumFmts.end()) return custom->second;
  auto builtIn = BuiltInFormats().find(id);
  return std::string(builtIn != BuiltInFormats().end() ? builtIn->second : "General");
}

uint32_t TWorkbookFile::FormatId(const std::string& code) {
  for (const auto& [id, builtIn] : BuiltInFormats())
    if (builtIn == code) return id;
  for (const auto& [id, custom] : FNumFmts)
    if (custom == code) return id;
  pugi::xml_node root = Part(FStylesPart).Doc->document_element();
  pugi::xml_node formats = Child(root, "numFmts");
  if (!formats) formats = root.prepend_child((PrefixOf(root) + "numFmts").c_str());
  uint32_t id = 164;  // the first id of the workbook's own formats
  for (const auto& entry : FNumFmts) id = std::max(id, entry.first + 1);
  pugi::xml_node format = formats.append_child((PrefixOf(root) + "numFmt").c_str());
  SetAttr(format, "numFmtId", std::to_string(id));
  SetAttr(format, "formatCode", code);
  SetAttr(formats, "count", std::to_string(Children(formats, "numFmt").size()));
  FNumFmts[id] = code;
  Part(FStylesPart).Modified = true;
  return id;
}

void TWorkbookFile::SetNumberFormat(TSheet& sheet, uint32_t row, uint32_t column, const std::string& code) {
  EnsureLoaded(sheet);
  if (!sheet.IsWorksheet) throw EWorkbookError(rtl::UnicodeString(SNoCells));
  if (!IsFormatCode(code)) RefuseProperty("NumberFormat");
  if (NumberFormat(sheet, row, column) == code) return;
  LoadStyles();
  if (FStylesPart.empty()) throw EWorkbookError(rtl::UnicodeString(SNoStyles));
  std::string id = std::to_string(FormatId(code));
  TCell& cell = sheet.CellForWrite(row, column);
  cell.Style = StyleWith(cell.Style, id, -1);
  sheet.Modified = true;
}

// --- Column widths and row heights --------------------------------------------------

double TWorkbookFile::ColumnWidth(TSheet& sheet, uint32_t column) {
  if (column < 1 || column > kMaxColumn) throw EWorkbookError(rtl::UnicodeString(SObjectError));
  EnsureLoaded(sheet);
  const double digitWidth = DigitWidth();
  for (pugi::xml_node col : Children(Child(sheet.Root(), "cols"), "col"))
    if (column >= col.attribute("min").as_uint() && column <= col.attribute("max").as_uint()) {
      if (col.attribute("hidden").as_bool()) return 0;
      if (pugi::xml_attribute width = col.attribute("width"))
        return ColumnCharacters(FileNumber(width.value(), 0), digitWidth);
      break;
    }
  return DefaultColumnCharacters(sheet, digitWidth);
}

void TWorkbookFile::SetColumnWidth(TSheet& sheet, uint32_t column, double characters) {
  if (column < 1 || column > kMaxColumn) throw EWorkbookError(rtl::UnicodeString(SObjectError));
  EnsureLoaded(sheet);
  if (!sheet.IsWorksheet) throw EWorkbookError(rtl::UnicodeString(SNoCells));
  if (!(characters >= 0 && characters <= 255)) RefuseProperty("ColumnWidth");
  const double digitWidth = DigitWidth();
  pugi::xml_node col = ColumnDefinition(sheet, column);
  // Width 0 hides the column, as in the application; the width it had stays.
  if (characters == 0) {
    SetAttr(col, "hidden", "1");
  } else {
    col.remove_attribute("hidden");
    col.remove_attribute("bestFit");
    SetAttr(col, "width", NumberText(StoredColumnWidth(characters, digitWidth)));
  }
  if (!col.attribute("width")) SetAttr(col, "width", NumberText(StoredColumnWidth(8.43, digitWidth)));
  SetAttr(col, "customWidth", "1");
  sheet.Modified = true;
}

double TWorkbookFile::RowHeight(TSheet& sheet, uint32_t row) {
  if (row < 1 || row > kMaxRow) throw EWorkbookError(rtl::UnicodeString(SObjectError));
  EnsureLoaded(sheet);
  if (const TRow* r = sheet.FindRow(row)) {
    if (GetRawAttr(r->Attrs.Text(), "hidden") == "1" || GetRawAttr(r->Attrs.Text(), "hidden") == "true") return 0;
    std::string height = GetRawAttr(r->Attrs.Text(), "ht");
    if (!height.empty()) return FileNumber(height.c_str(), 15);
  }
  return FileNumber(Child(sheet.Root(), "sheetFormatPr").attribute("defaultRowHeight").value(), 15);
}

void TWorkbookFile::SetRowHeight(TSheet& sheet, uint32_t row, double points) {
  if (row < 1 || row > kMaxRow) throw EWorkbookError(rtl::UnicodeString(SObjectError));
  EnsureLoaded(sheet);
  if (!sheet.IsWorksheet) throw EWorkbookError(rtl::UnicodeString(SNoCells));
  if (!(points >= 0 && points <= 409)) RefuseProperty("RowHeight");
  TRow& r = sheet.RowForWrite(row);
  if (points == 0) {
    SetRawAttr(r.Attrs.Edit(), "hidden", "1");
  } else {
    SetRawAttr(r.Attrs.Edit(), "hidden", "");
    SetRawAttr(r.Attrs.Edit(), "ht", NumberText(points));
  }
  SetRawAttr(r.Attrs.Edit(), "customHeight", "1");
  sheet.Modified = true;
}

}  // namespace spreadsheet
