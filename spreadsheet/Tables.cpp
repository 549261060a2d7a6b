// Table column names and header cells: the application keeps a table's
// header row equal to its columns' names. A write into the header renames
// the column (unique within the table) and every structured reference that
// names it.
#include <algorithm>

#include "spreadsheet/Workbook.h"
#include "spreadsheet/Xml.h"

namespace spreadsheet {

namespace {

bool NameTaken(pugi::xml_node columns, pugi::xml_node except, const std::string& name) {
  for (pugi::xml_node c : Children(columns, "tableColumn"))
    if (c != except && SameSheetName(c.attribute("name").value(), name)) return true;
  return false;
}

// The name itself when no other column has it, else with the first free
// number after it ("Client2"); an empty name becomes the first free
// "ColumnN", as the application names columns.
std::string UniqueColumnName(pugi::xml_node columns, pugi::xml_node except, const std::string& name) {
  if (!name.empty() && !NameTaken(columns, except, name)) return name;
  std::string base = name.empty() ? "Column" : name;
  for (uint32_t n = name.empty() ? 1 : 2;; ++n) {
    std::string candidate = base + std::to_string(n);
    if (!NameTaken(columns, except, candidate)) return candidate;
  }
}

}  // namespace

const TWorkbookFile::TTableHeader* TWorkbookFile::TableHeaderAt(TSheet& sheet, uint32_t row, uint32_t column) {
  auto found = FTableHeaders.find(&sheet);
  if (found == FTableHeaders.end()) {
    std::vector<TTableHeader> headers;
    for (const TRelationship& rel : SheetRelationships(sheet)) {
      std::string target = ResolveTarget(sheet.PartName, rel.Target);
      if (rel.External || !HasType(rel, "/table") || !HasPart(target)) continue;
      pugi::xml_node table = Part(target).Doc->document_element();
      TRangeRef range;
      if (table.attribute("headerRowCount").as_uint(1) == 0 || !ParseRangeRef(table.attribute("ref").value(), range))
        continue;
      headers.push_back(TTableHeader{target, range.First.Row, range.First.Column, range.Last.Column});
    }
    found = FTableHeaders.emplace(&sheet, std::move(headers)).first;
  }
  for (const TTableHeader& header : found->second)
    if (header.Row == row && column >= header.First && column <= header.Last) return &header;
  return nullptr;
}

std::string TWorkbookFile::NameTableColumn(TSheet& sheet, const TTableHeader& header, uint32_t column,
                                           const rtl::Variant& value) {
  std::string text = HeaderText(value);
  if (rtl::Utf8ToUnicode(text).size() > 32767) throw EWorkbookError(rtl::UnicodeString(STextTooLong));
  TPart& part = Part(header.Part);
  pugi::xml_node table = part.Doc->document_element();
  pugi::xml_node columns = Child(table, "tableColumns");
  auto list = Children(columns, "tableColumn");
  size_t index = column - header.First;
  if (index >= list.size()) return text.empty() ? UniqueColumnName(columns, {}, text) : text;
  pugi::xml_node tableColumn = list[index];
  std::string oldName = tableColumn.attribute("name").value();
  std::string name = UniqueColumnName(columns, tableColumn, text);
  if (name == oldName) return name;
  if (!tableColumn.attribute("name")) tableColumn.append_attribute("name");
  tableColumn.attribute("name").set_value(name.c_str());
  part.Modified = true;
  if (oldName.empty()) return name;

  // Structured references naming the column follow it: in cells on every
  // sheet, in the tables' own formulas and in defined names.
  TColumnRename rename{{}, oldName, name};
  for (const char* attribute : {"displayName", "name"})
    if (const char* tableName = table.attribute(attribute).value(); *tableName) rename.Table.push_back(tableName);
  TRangeRef range;
  ParseRangeRef(table.attribute("ref").value(), range);
  LoadAll();
  for (auto& other : FSheets) {
    if (!other->IsWorksheet) continue;
    // Cells inside the table may name its columns without the table's name.
    std::vector<bool> inTable;
    if (other.get() == &sheet) {
      inTable.assign(other->Extras.size(), false);
      std::vector<TRow>& rows = other->Rows();
      auto first = std::lower_bound(rows.begin(), rows.end(), range.First.Row,
                                    [](const TRow& r, uint32_t n) { return r.Number < n; });
      for (auto r = first; r != rows.end() && r->Number <= range.Last.Row; ++r)
        for (const TCell& cell : r->Cells)
          if (cell.Extra && cell.Column >= range.First.Column && cell.Column <= range.Last.Column)
            inTable[cell.Extra - 1] = true;
    }
    for (size_t k = 0; k < other->Extras.size(); ++k) {
      std::string& formula = other->Extras[k].Formula;
      if (formula.find('[') == std::string::npos) continue;
      std::string after = RenameTableColumn(formula, rename, k < inTable.size() && inTable[k]);
      if (after == formula) continue;
      formula = std::move(after);
      other->Modified = true;
      FCellsChanged = true;
    }
    for (const TRelationship& rel : SheetRelationships(*other)) {
      std::string target = ResolveTarget(other->PartName, rel.Target);
      if (rel.External || !HasType(rel, "/table") || !HasPart(target)) continue;
      TPart& tablePart = Part(target);
      for (const char* element : {"calculatedColumnFormula", "totalsRowFormula"})
        for (pugi::xml_node f : Descendants(tablePart.Doc->document_element(), element)) {
          std::string before = f.child_value();
          std::string after = RenameTableColumn(before, rename, target == header.Part);
          if (after == before) continue;
          f.text().set(after.c_str());
          tablePart.Modified = true;
        }
    }
  }
  TPart& workbook = Part(FWorkbookPart);
  for (pugi::xml_node n : Children(Child(workbook.Doc->document_element(), "definedNames"), "definedName")) {
    std::string before = n.child_value();
    std::string after = RenameTableColumn(before, rename, false);
    if (after == before) continue;
    n.text().set(after.c_str());
    workbook.Modified = true;
  }
  return name;
}

}  // namespace spreadsheet
