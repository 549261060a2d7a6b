// Structural changes of a workbook: inserting rows and columns with every
// reference that points at moved cells, sheets added and deleted, column
// autofit and sheet protection.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <set>

#include "rtl/Locale.h"
#include "spreadsheet/Workbook.h"
#include "spreadsheet/Xml.h"

namespace spreadsheet {

namespace {

const char* const kContentTypesPart = "[Content_Types].xml";

bool IsRows(const TReferenceChange& change) { return change.Kind == TReferenceChange::InsertRows; }

// Rewrites an attribute holding one range; returns whether it changed.
// A range cut off entirely keeps its text (the caller removes the owner when
// that matters).
bool ShiftRangeAttr(pugi::xml_node node, const char* name, const TReferenceChange& change) {
  pugi::xml_attribute a = node.attribute(name);
  if (!a) return false;
  auto shifted = ApplyChangeToRange(a.value(), change);
  if (!shifted || *shifted == a.value()) return false;
  a.set_value(shifted->c_str());
  return true;
}

bool ShiftRangeListAttr(pugi::xml_node node, const char* name, const TReferenceChange& change) {
  pugi::xml_attribute a = node.attribute(name);
  if (!a) return false;
  std::string shifted = ApplyChangeToRangeList(a.value(), change);
  if (shifted == a.value() || shifted.empty()) return false;
  a.set_value(shifted.c_str());
  return true;
}

bool ShiftFormulaText(pugi::xml_node node, const TReferenceChange& change, std::string_view host) {
  std::string before = node.child_value();
  if (before.empty()) return false;
  std::string after = ApplyReferenceChange(before, change, host);
  if (after == before) return false;
  node.text().set(after.c_str());
  return true;
}

// Shifts a 0-based anchor index (drawings, notes) by the insertion.
bool ShiftAnchorIndex(pugi::xml_node node, const TReferenceChange& change) {
  std::string text = node.child_value();
  if (text.empty()) return false;
  long value = std::strtol(text.c_str(), nullptr, 10);
  if (value + 1 < static_cast<long>(change.At)) return false;
  node.text().set(std::to_string(value + static_cast<long>(change.Count)).c_str());
  return true;
}

// Width units of a text: wide (East Asian) characters count double.
int TextWidthUnits(const std::string& utf8) {
  rtl::UnicodeString text = rtl::Utf8ToUnicode(utf8);
  int widest = 0, current = 0;
  for (size_t i = 0; i < text.size();) {
    char32_t cp = rtl::NextCodePoint(text, i);
    if (cp == U'\n') {
      widest = std::max(widest, current);
      current = 0;
      continue;
    }
    bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) || (cp >= 0xAC00 && cp <= 0xD7A3) ||
                (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x1F300 && cp <= 0x1F64F) || (cp >= 0x20000 && cp <= 0x3FFFD);
    current += wide ? 2 : 1;
  }
  return std::max(widest, current);
}

// Text of a number as a simple number format would show it.
std::string FormatNumberForWidth(double value, const std::string& format) {
  if (format == "General" || format.empty()) {
    std::string s = rtl::UnicodeToUtf8(rtl::FloatToStrGeneral(value));
    if (s.size() > 11) {  // General shows at most 11 characters, in scientific form if needed
      char buffer[32];    // to_chars: the C form whatever the process locale
      auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::scientific, 5);
      s.assign(buffer, error == std::errc() ? end : buffer);
      for (char& c : s) c = c == 'e' ? 'E' : c;
    }
    return s;
  }
  std::string section = format.substr(0, format.find(';'));
  bool percent = section.find('%') != std::string::npos;
  bool thousands = section.find(",") != std::string::npos;
  size_t dot = section.find('.');
  int decimals = 0;
  if (dot != std::string::npos)
    for (size_t i = dot + 1; i < section.size() && (section[i] == '0' || section[i] == '#'); ++i) ++decimals;
  double shown = percent ? value * 100 : value;
  std::string s(400 + static_cast<size_t>(decimals), '\0');  // room for any double in fixed form
  auto [last, status] = std::to_chars(s.data(), s.data() + s.size(), shown, std::chars_format::fixed, decimals);
  s.resize(status == std::errc() ? static_cast<size_t>(last - s.data()) : 0);
  if (thousands) {
    size_t end = s.find('.');
    if (end == std::string::npos) end = s.size();
    size_t begin = s[0] == '-' ? 1 : 0;
    for (size_t i = end; i > begin + 3; i -= 3) s.insert(i - 3, ",");
  }
  // Literal text and currency signs of the format count too.
  for (char c : section)
    if (c == '$' || c == '%' || c == '(' || c == ')') s += c;
  return s;
}

// Rows inserted into a table's data take its calculated columns' formulas,
// as the application fills them: from the nearest data row above (else
// below) in the same column, moved to the new row, or else from the
// column's own formula. Returns whether any cell was written.
bool FillCalculatedColumns(TSheet& sheet, pugi::xml_node table, const TReferenceChange& change) {
  TRangeRef range;
  if (!IsRows(change) || !ParseRangeRef(table.attribute("ref").value(), range)) return false;
  uint32_t header = table.attribute("headerRowCount").as_uint(1), totals = table.attribute("totalsRowCount").as_uint(0);
  if (range.Last.Row - range.First.Row + 1 < header + totals) return false;
  uint32_t firstData = range.First.Row + header, lastData = range.Last.Row - totals;
  uint32_t firstNew = std::max(change.At, firstData), lastNew = std::min(change.At + change.Count - 1, lastData);
  if (firstNew > lastNew) return false;
  auto formulaAt = [&](uint32_t row, uint32_t column) -> const std::string* {
    if (row < firstData || row > lastData || (row >= change.At && row < change.At + change.Count)) return nullptr;
    TCell* cell = sheet.FindCell(row, column);
    TCellExtra* extra = cell ? sheet.ExtraOf(*cell) : nullptr;
    if (!extra || extra->Formula.empty() || !GetRawAttr(extra->FormulaAttrs, "t").empty()) return nullptr;
    return &extra->Formula;
  };
  bool written = false;
  uint32_t column = range.First.Column;
  for (pugi::xml_node tableColumn : Children(Child(table, "tableColumns"), "tableColumn")) {
    pugi::xml_node calculated = Child(tableColumn, "calculatedColumnFormula");
    if (calculated && !calculated.attribute("array").as_bool()) {
      uint32_t modelRow = change.At - 1;
      const std::string* found = formulaAt(modelRow, column);
      if (!found) found = formulaAt(modelRow = change.At + change.Count, column);
      // A copy: writing the new cells may move the extras it lives in.
      std::optional<std::string> model;
      if (found) model = *found;
      for (uint32_t row = firstNew; row <= lastNew; ++row) {
        TCell& cell = sheet.CellForWrite(row, column);
        cell.Kind = TCellKind::Blank;  // no cached value: calculated on open
        std::string formula = model ? TranslateFormula(*model,
                                                       static_cast<int32_t>(row) - static_cast<int32_t>(modelRow), 0)
                                    : std::string(calculated.child_value());
        sheet.EnsureExtra(cell).Formula = std::move(formula);
        written = true;
      }
    }
    ++column;
  }
  return written;
}

}  // namespace

pugi::xml_document& TWorkbookFile::RelationshipsOf(const std::string& partName) {
  std::string name = RelsPartOf(partName);
  if (!HasPart(name) && FParts.find(name) == FParts.end()) {
    TPart part;
    part.Name = name;
    part.Doc = std::make_unique<pugi::xml_document>();
    part.Doc->load_string(
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"/>",
        pugi::parse_default | pugi::parse_declaration);
    return *FParts.emplace(name, std::move(part)).first->second.Doc;
  }
  return *Part(name).Doc;
}

std::vector<TRelationship> TWorkbookFile::SheetRelationships(const TSheet& sheet) {
  std::string name = RelsPartOf(sheet.PartName);
  if (!HasPart(name)) return {};
  return ReadRelationships(*Part(name).Doc);
}

// --- Shared formulas -------------------------------------------------------------------

namespace {

struct TSharedMaster {
  uint32_t Row = 0, Column = 0;
  std::string Formula;
};

// Gives every member of the chosen shared groups the master's formula as
// seen from its own position, in two passes over the sheet whatever the
// number of groups.
void ExpandGroups(TSheet& sheet, const std::set<std::string>& groups) {
  if (groups.empty()) return;
  std::map<std::string, TSharedMaster> masters;
  for (TRow& row : sheet.Rows())
    for (TCell& cell : row.Cells) {
      TCellExtra* extra = sheet.ExtraOf(cell);
      if (!extra || extra->Formula.empty() || GetRawAttr(extra->FormulaAttrs, "t") != "shared") continue;
      std::string si = GetRawAttr(extra->FormulaAttrs, "si");
      if (groups.count(si)) masters[si] = TSharedMaster{row.Number, cell.Column, extra->Formula};
    }
  for (TRow& row : sheet.Rows())
    for (TCell& cell : row.Cells) {
      TCellExtra* extra = sheet.ExtraOf(cell);
      if (!extra || GetRawAttr(extra->FormulaAttrs, "t") != "shared") continue;
      std::string si = GetRawAttr(extra->FormulaAttrs, "si");
      if (!groups.count(si)) continue;
      auto master = masters.find(si);
      if (master != masters.end() && (row.Number != master->second.Row || cell.Column != master->second.Column))
        extra->Formula = TranslateFormula(
            master->second.Formula, static_cast<int32_t>(row.Number) - static_cast<int32_t>(master->second.Row),
            static_cast<int32_t>(cell.Column) - static_cast<int32_t>(master->second.Column));
      SetRawAttr(extra->FormulaAttrs, "t", "");
      SetRawAttr(extra->FormulaAttrs, "ref", "");
      SetRawAttr(extra->FormulaAttrs, "si", "");
      if (extra->FormulaAttrs == " ") extra->FormulaAttrs.clear();
    }
  sheet.Modified = true;
}

}  // namespace

void TWorkbookFile::ExpandSharedFormula(TSheet& sheet, const std::string& si) {
  ExpandGroups(sheet, {si});
  FFormulasChanged = true;
}

void TWorkbookFile::ExpandSharedFormulas(TSheet& sheet, const TReferenceChange* onlyIfChangedBy) {
  // Members read the master's references shifted by their own offset, so a
  // master pointing above the insertion can have members pointing below it:
  // a group is affected when the change would touch its master anywhere.
  std::optional<TReferenceChange> probe;
  if (onlyIfChangedBy) {
    probe = *onlyIfChangedBy;
    probe->At = 1;
  }
  // Formulas live in the cells' extras: going through those alone keeps a
  // row insertion from visiting every cell of a large sheet.
  std::set<std::string> groups;
  for (TCellExtra& extra : sheet.Extras) {
    if (extra.Formula.empty() || GetRawAttr(extra.FormulaAttrs, "t") != "shared") continue;
    if (probe && ApplyReferenceChange(extra.Formula, *probe, sheet.Name) == extra.Formula) continue;
    groups.insert(GetRawAttr(extra.FormulaAttrs, "si"));
  }
  if (groups.empty()) return;
  ExpandGroups(sheet, groups);
  FFormulasChanged = true;
}

// --- References everywhere -------------------------------------------------------------

void TWorkbookFile::ApplyChangeEverywhere(const TReferenceChange& change) {
  LoadAll();
  for (auto& sheetPtr : FSheets) {
    TSheet& sheet = *sheetPtr;
    if (!sheet.IsWorksheet) continue;
    bool moving = (change.Kind == TReferenceChange::InsertRows || change.Kind == TReferenceChange::InsertColumns) &&
                  SameSheetName(sheet.Name, change.Sheet);
    // Members of a shared group would read their formula through a moved
    // master: give them their own formulas first.
    ExpandSharedFormulas(sheet, moving ? nullptr : &change);
    for (TCellExtra& extra : sheet.Extras) {
      if (extra.Formula.empty()) continue;
      std::string after = ApplyReferenceChange(extra.Formula, change, sheet.Name);
      if (after != extra.Formula) {
        extra.Formula = std::move(after);
        sheet.Modified = true;
        FFormulasChanged = true;
        FCellsChanged = true;
      }
    }
    // Formulas of conditional formats and validations, also in extensions.
    pugi::xml_node root = sheet.Root();
    bool changed = false;
    for (pugi::xml_node cf : Children(root, "conditionalFormatting"))
      for (pugi::xml_node rule : Children(cf, "cfRule"))
        for (pugi::xml_node f : Children(rule, "formula")) changed |= ShiftFormulaText(f, change, sheet.Name);
    for (pugi::xml_node dv : Children(Child(root, "dataValidations"), "dataValidation")) {
      changed |= ShiftFormulaText(Child(dv, "formula1"), change, sheet.Name);
      changed |= ShiftFormulaText(Child(dv, "formula2"), change, sheet.Name);
    }
    for (pugi::xml_node f : Descendants(Child(root, "extLst"), "f")) changed |= ShiftFormulaText(f, change, sheet.Name);
    // Hyperlink locations ("Data!A7", "other.xlsx#Sheet1!B2") are text the
    // application leaves as they are, in this workbook or another.
    if (changed) sheet.Modified = true;
  }
  // Defined names: their references are qualified with the sheet.
  pugi::xml_node root = Part(FWorkbookPart).Doc->document_element();
  for (pugi::xml_node name : Children(Child(root, "definedNames"), "definedName"))
    if (ShiftFormulaText(name, change, "")) Part(FWorkbookPart).Modified = true;
  // Pivot caches read a range of a sheet (or a name or table, which follow
  // on their own).
  for (const std::string& partName : FPackage->Names()) {
    if (partName.rfind("xl/pivotCache/pivotCacheDefinition", 0) != 0 || partName.find("/_rels/") != std::string::npos)
      continue;
    TPart& cache = Part(partName);
    pugi::xml_node source = Child(Child(cache.Doc->document_element(), "cacheSource"), "worksheetSource");
    pugi::xml_attribute ref = source.attribute("ref");
    if (!ref || !SameSheetName(source.attribute("sheet").value(), change.Sheet) || RelIdAttribute(source)) continue;
    if (change.Kind == TReferenceChange::RenameSheet) {
      source.attribute("sheet").set_value(change.NewName.c_str());
      cache.Modified = true;
      continue;
    }
    if (std::optional<std::string> after = ApplyChangeToRange(ref.value(), change); after && *after != ref.value()) {
      ref.set_value(after->c_str());
      cache.Modified = true;
    }
  }
  // Chart series and titles that point at the sheet.
  for (const std::string& partName : FPackage->Names()) {
    if (partName.rfind("xl/charts/chart", 0) != 0 || partName.find("/_rels/") != std::string::npos) continue;
    if (partName.size() < 4 || partName.compare(partName.size() - 4, 4, ".xml") != 0) continue;
    TPart& chart = Part(partName);
    for (pugi::xml_node f : Descendants(chart.Doc->document_element(), "f"))
      if (ShiftFormulaText(f, change, "")) chart.Modified = true;
  }
}

// --- Moving cells ----------------------------------------------------------------------

// An insertion may not push data off the sheet. Rows and cells are sorted,
// so only the last ones can be in the way.
void TWorkbookFile::RefuseShiftOff(TSheet& sheet, const TReferenceChange& change) {
  const bool rows = IsRows(change);
  const uint32_t limit = (rows ? kMaxRow : kMaxColumn) - change.Count;
  auto holdsData = [&](const TCell& cell) { return cell.Kind != TCellKind::Blank || sheet.HasFormula(cell); };
  auto refuse = [] { throw EWorkbookError(rtl::Utf8ToUnicode(SCannotShiftOff)); };
  // Whether a range of the sheet is cut through by the insertion (it
  // begins before the new rows or columns and ends at or after them).
  auto cutThrough = [&](const TRangeRef& range) {
    return rows ? range.First.Row < change.At && range.Last.Row >= change.At
                : range.First.Column < change.At && range.Last.Column >= change.At;
  };
  // Whether a cell at a position would leave the sheet.
  auto pushedOff = [&](uint32_t row, uint32_t column) {
    uint32_t at = rows ? row : column;
    return at >= change.At && at > limit;
  };
  if (sheet.HasArrayFormulas)
    for (const TCellExtra& extra : sheet.Extras) {
      TRangeRef range;
      if (GetRawAttr(extra.FormulaAttrs, "t") == "array" &&
          ParseRangeRef(GetRawAttr(extra.FormulaAttrs, "ref"), range) && cutThrough(range))
        throw EWorkbookError(rtl::Utf8ToUnicode(SPartOfArray));
    }
  for (const TRelationship& rel : SheetRelationships(sheet)) {
    if (rel.External) continue;
    std::string target = ResolveTarget(sheet.PartName, rel.Target);
    if (!HasPart(target)) continue;
    if (HasType(rel, "/pivotTable")) {
      TRangeRef range;
      if (ParseRangeRef(Child(Part(target).Doc->document_element(), "location").attribute("ref").value(), range) &&
          cutThrough(range))
        throw EWorkbookError(rtl::Utf8ToUnicode(SPartOfPivotTable));
    } else if (HasType(rel, "/comments")) {
      for (pugi::xml_node c : Descendants(Part(target).Doc->document_element(), "comment")) {
        TRangeRef at;
        if (ParseRangeRef(c.attribute("ref").value(), at) && pushedOff(at.Last.Row, at.Last.Column)) refuse();
      }
    } else if (HasType(rel, "/vmlDrawing")) {
      // A note's shape names its cell by 0-based row and column.
      pugi::xml_document vml;
      if (!vml.load_string(PartContent(target).c_str())) continue;
      for (pugi::xml_node data : Descendants(vml.document_element(), "ClientData")) {
        const char* row = Child(data, "Row").child_value();
        const char* column = Child(data, "Column").child_value();
        if (*row && *column &&
            pushedOff(static_cast<uint32_t>(std::strtoul(row, nullptr, 10)) + 1,
                      static_cast<uint32_t>(std::strtoul(column, nullptr, 10)) + 1))
          refuse();
      }
    }
  }
  if (rows) {
    if (sheet.DataBeyond(limit, change.At)) refuse();
    return;
  }
  for (const TRow& row : sheet.Rows())
    for (auto cell = row.Cells.rbegin(); cell != row.Cells.rend() && cell->Column > limit; ++cell)
      if (cell->Column >= change.At && holdsData(*cell)) refuse();
}

void TWorkbookFile::MoveCells(TSheet& sheet, const TReferenceChange& change) {
  bool rows = IsRows(change);
  uint32_t max = rows ? kMaxRow : kMaxColumn;
  uint32_t limit = max - change.Count;  // cells beyond this would leave the sheet
  RefuseShiftOff(sheet, change);

  if (rows) {
    // Rows pushed off the end hold formats only (data there was refused);
    // they go at once, which needs the rows settled, near the last row only.
    if (sheet.LastRowNumber() > limit) {
      std::vector<TRow>& stored = sheet.Rows();
      auto kept = stored.end();
      while (kept != stored.begin() && std::prev(kept)->Number > limit && std::prev(kept)->Number >= change.At) --kept;
      stored.erase(kept, stored.end());
    }
    // The new rows take the formatting of the row above.
    TRow model;
    bool hasModel = false;
    if (change.At > 1) {
      if (TRow* above = sheet.FindRow(change.At - 1)) {
        hasModel = true;
        for (const char* name : {"s", "customFormat", "ht", "customHeight"}) {
          std::string value = GetRawAttr(above->Attrs.Text(), name);
          if (!value.empty()) SetRawAttr(model.Attrs.Edit(), name, value);
        }
        for (const TCell& cell : above->Cells)
          if (cell.Style) {
            TCell copy;
            copy.Column = cell.Column;
            copy.Style = cell.Style;
            model.Cells.push_back(copy);
          }
      }
    }
    sheet.InsertRowsAt(change.At, change.Count, hasModel ? &model : nullptr);
  } else {
    for (TRow& row : sheet.Rows()) {
      auto& cells = row.Cells;
      cells.erase(std::remove_if(cells.begin(), cells.end(),
                                 [&](const TCell& c) { return c.Column >= change.At && c.Column > limit; }),
                  cells.end());
      uint32_t leftStyle = 0;
      for (TCell& cell : cells) {
        if (cell.Column == change.At - 1) leftStyle = cell.Style;
        if (cell.Column >= change.At) cell.Column += change.Count;
      }
      if (leftStyle && change.At > 1) {
        auto it = std::lower_bound(cells.begin(), cells.end(), change.At,
                                   [](const TCell& c, uint32_t n) { return c.Column < n; });
        for (uint32_t k = 0; k < change.Count; ++k) {
          TCell copy;
          copy.Column = change.At + k;
          copy.Style = leftStyle;
          it = cells.insert(it, copy) + 1;
        }
      }
    }
    // Column definitions move; the new columns copy the one to their left.
    pugi::xml_node cols = Child(sheet.Root(), "cols");
    sheet.ForgetLayout();
    for (pugi::xml_node col : Children(cols, "col")) {
      uint32_t min = col.attribute("min").as_uint(), colMax = col.attribute("max").as_uint();
      if (min >= change.At) {
        min = std::min(min + change.Count, kMaxColumn);
        colMax = std::min(colMax + change.Count, kMaxColumn);
      } else if (colMax >= change.At - 1 && change.At > 1) {
        colMax = std::min(colMax + change.Count, kMaxColumn);  // covers the left neighbour: the new ones join it
      }
      SetAttr(col, "min", std::to_string(min));
      SetAttr(col, "max", std::to_string(colMax));
    }
  }
  // Array formulas span a range that moves with them.
  for (TCellExtra& extra : sheet.Extras) {
    if (extra.FormulaAttrs.empty()) continue;
    std::string ref = GetRawAttr(extra.FormulaAttrs, "ref");
    if (ref.empty()) continue;
    if (auto shifted = ApplyChangeToRange(ref, change)) SetRawAttr(extra.FormulaAttrs, "ref", *shifted);
  }
  sheet.Modified = true;
  FCellsChanged = true;
  FFormulasChanged = true;  // cell positions changed: the calculation chain is stale
}

void TWorkbookFile::AdjustSheetParts(TSheet& sheet, const TReferenceChange& change) {
  pugi::xml_node root = sheet.Root();
  // What lies wholly beyond the sheet's edge afterwards goes, as its cells did;
  // a list element left empty goes too, and counts follow.
  auto cutOff = [&](pugi::xml_node node, const char* name, bool list) {
    std::string value = node.attribute(name).value();
    return list ? ApplyChangeToRangeList(value, change).empty() : !ApplyChangeToRange(value, change);
  };
  auto adjustList = [&](pugi::xml_node parent, const char* element, const char* name, bool list) {
    for (pugi::xml_node node : Children(parent, element)) {
      if (cutOff(node, name, list)) {
        parent.remove_child(node);
        continue;
      }
      if (list)
        ShiftRangeListAttr(node, name, change);
      else
        ShiftRangeAttr(node, name, change);
    }
    if (parent && parent.attribute("count"))
      parent.attribute("count").set_value(static_cast<unsigned>(Children(parent, element).size()));
  };
  adjustList(Child(root, "mergeCells"), "mergeCell", "ref", false);
  adjustList(root, "conditionalFormatting", "sqref", true);
  adjustList(Child(root, "dataValidations"), "dataValidation", "sqref", true);
  adjustList(Child(root, "hyperlinks"), "hyperlink", "ref", false);
  adjustList(Child(root, "protectedRanges"), "protectedRange", "sqref", true);
  for (const char* container : {"mergeCells", "dataValidations", "hyperlinks", "protectedRanges"})
    if (pugi::xml_node node = Child(root, container); node && !node.first_child()) root.remove_child(node);
  ShiftRangeAttr(Child(root, "autoFilter"), "ref", change);
  for (pugi::xml_node sq : Descendants(Child(root, "extLst"), "sqref")) {
    std::string shifted = ApplyChangeToRangeList(sq.child_value(), change);
    if (!shifted.empty()) sq.text().set(shifted.c_str());
  }
  // A manual page break sits after the row (column) its id names.
  for (pugi::xml_node brk : Children(Child(root, IsRows(change) ? "rowBreaks" : "colBreaks"), "brk")) {
    pugi::xml_attribute id = brk.attribute("id");
    if (id && id.as_uint() >= change.At) id.set_value(id.as_uint() + change.Count);
  }
  // A pane keeps its scroll position (topLeftCell): shifting it would hide
  // the rows inserted below a frozen header.
  for (pugi::xml_node view : Children(Child(root, "sheetViews"), "sheetView"))
    for (pugi::xml_node selection : Children(view, "selection")) {
      ShiftRangeAttr(selection, "activeCell", change);
      ShiftRangeListAttr(selection, "sqref", change);
    }

  for (const TRelationship& rel : SheetRelationships(sheet)) {
    if (rel.External) continue;
    std::string target = ResolveTarget(sheet.PartName, rel.Target);
    if (!HasPart(target)) continue;
    if (HasType(rel, "/table")) {
      TPart& table = Part(target);
      pugi::xml_node t = table.Doc->document_element();
      TRangeRef before{};
      bool parsed = ParseRangeRef(t.attribute("ref").value(), before);
      bool changed = ShiftRangeAttr(t, "ref", change);
      for (pugi::xml_node af : Descendants(t, "autoFilter")) changed |= ShiftRangeAttr(af, "ref", change);
      // The filter covers the table without its total rows, whatever moved.
      TRangeRef after{};
      pugi::xml_node filter = Child(t, "autoFilter");
      if (filter && ParseRangeRef(t.attribute("ref").value(), after)) {
        after.Last.Row -= std::min(after.Last.Row - after.First.Row, t.attribute("totalsRowCount").as_uint());
        std::string expected = RangeName(after);
        if (expected != filter.attribute("ref").value()) {
          filter.attribute("ref").set_value(expected.c_str());
          changed = true;
        }
      }
      for (pugi::xml_node ss : Descendants(t, "sortState")) changed |= ShiftRangeAttr(ss, "ref", change);
      for (pugi::xml_node sc : Descendants(t, "sortCondition")) changed |= ShiftRangeAttr(sc, "ref", change);
      for (const char* formula : {"calculatedColumnFormula", "totalsRowFormula"})
        for (pugi::xml_node f : Descendants(t, formula)) changed |= ShiftFormulaText(f, change, sheet.Name);
      if (FillCalculatedColumns(sheet, t, change)) FCellsChanged = FFormulasChanged = true;
      // A column inserted inside a table becomes a table column with a
      // header of its own.
      if (!IsRows(change) && parsed && change.At > before.First.Column && change.At <= before.Last.Column) {
        pugi::xml_node columns = Child(t, "tableColumns");
        auto list = Children(columns, "tableColumn");
        uint32_t nextId = 1;
        std::set<std::string> names;
        for (pugi::xml_node c : list) {
          nextId = std::max(nextId, c.attribute("id").as_uint() + 1);
          names.insert(rtl::UnicodeToUtf8(rtl::AnsiUpperCase(rtl::Utf8ToUnicode(c.attribute("name").value()))));
        }
        size_t position = change.At - before.First.Column;
        pugi::xml_node after = position - 1 < list.size() ? list[position - 1] : pugi::xml_node();
        for (uint32_t k = 0; k < change.Count; ++k) {
          std::string name;
          for (uint32_t n = 1;; ++n) {
            name = "Column" + std::to_string(n);
            if (!names.count(rtl::UnicodeToUtf8(rtl::AnsiUpperCase(rtl::Utf8ToUnicode(name))))) break;
          }
          names.insert(rtl::UnicodeToUtf8(rtl::AnsiUpperCase(rtl::Utf8ToUnicode(name))));
          std::string element = PrefixOf(t) + "tableColumn";
          pugi::xml_node added = after ? columns.insert_child_after(element.c_str(), after)
                                       : columns.prepend_child(element.c_str());
          SetAttr(added, "id", std::to_string(nextId++));
          SetAttr(added, "name", name);
          after = added;
          if (t.attribute("headerRowCount").as_int(1) != 0) {
            TCell& header = sheet.CellForWrite(before.First.Row, change.At + k);
            header.Kind = TCellKind::Inline;
            header.V.Index = sheet.AddText(name);
          }
        }
        if (columns.attribute("count"))
          columns.attribute("count").set_value(static_cast<unsigned>(Children(columns, "tableColumn").size()));
        changed = true;
      }
      if (changed) table.Modified = true;
    } else if (HasType(rel, "/pivotTable")) {
      TPart& pivot = Part(target);
      if (ShiftRangeAttr(Child(pivot.Doc->document_element(), "location"), "ref", change)) pivot.Modified = true;
    } else if (HasType(rel, "/comments") || HasType(rel, "/threadedComment")) {
      TPart& comments = Part(target);
      bool changed = false;
      for (const char* element : {"comment", "threadedComment"})
        for (pugi::xml_node c : Descendants(comments.Doc->document_element(), element))
          changed |= ShiftRangeAttr(c, "ref", change);
      if (changed) comments.Modified = true;
    } else if (HasType(rel, "/vmlDrawing")) {
      // Legacy drawings are not always well-formed XML; those keep their anchors.
      pugi::xml_document probe;
      if (!probe.load_string(FPackage->Read(target).c_str())) continue;
      TPart& vml = Part(target);
      bool changed = false;
      for (pugi::xml_node data : Descendants(vml.Doc->document_element(), "ClientData")) {
        changed |= ShiftAnchorIndex(Child(data, IsRows(change) ? "Row" : "Column"), change);
        pugi::xml_node anchor = Child(data, "Anchor");
        if (!anchor) continue;
        std::vector<long> values;
        std::string text = anchor.child_value();
        for (size_t i = 0; i < text.size();) {
          size_t comma = text.find(',', i);
          if (comma == std::string::npos) comma = text.size();
          values.push_back(std::strtol(text.substr(i, comma - i).c_str(), nullptr, 10));
          i = comma + 1;
        }
        if (values.size() != 8) continue;
        const int first = IsRows(change) ? 2 : 0;  // left column, top row, right column, bottom row
        for (int k : {first, first + 4})
          if (values[k] + 1 >= static_cast<long>(change.At)) values[k] += change.Count;
        std::string joined;
        for (size_t k = 0; k < values.size(); ++k) joined += (k ? ", " : "") + std::to_string(values[k]);
        anchor.text().set(joined.c_str());
        changed = true;
      }
      if (changed) vml.Modified = true;
    } else if (HasType(rel, "/drawing")) {
      TPart& drawing = Part(target);
      bool changed = false;
      const char* index = IsRows(change) ? "row" : "col";
      for (pugi::xml_node anchor : drawing.Doc->document_element().children()) {
        // An absolute anchor, and a two-cell anchor that does not move with
        // its cells, stay where they are; one that moves without sizing
        // moves whole, by its first cell.
        std::string_view kind = LocalName(anchor);
        std::string_view editAs = anchor.attribute("editAs").value();
        if (kind == "absoluteAnchor" || (kind == "twoCellAnchor" && editAs == "absolute")) continue;
        pugi::xml_node from = Child(Child(anchor, "from"), index), to = Child(Child(anchor, "to"), index);
        if (kind == "twoCellAnchor" && editAs == "oneCell") {
          if (!ShiftAnchorIndex(from, change)) continue;
          changed = true;
          to.text().set(std::to_string(std::strtol(to.child_value(), nullptr, 10) + change.Count).c_str());
          continue;
        }
        changed |= ShiftAnchorIndex(from, change);
        changed |= ShiftAnchorIndex(to, change);
      }
      if (changed) drawing.Modified = true;
    }
  }
  sheet.Modified = true;
}

void TWorkbookFile::InsertRows(TSheet& sheet, uint32_t at, uint32_t count) {
  RefuseProtectedInsert(sheet, true);
  ForgetResults();
  NoteChangedCells(sheet, 1, 1, kMaxRow, kMaxColumn);
  if (at < 1 || at > kMaxRow) throw EWorkbookError(rtl::UnicodeString(SObjectError));
  EnsureLoaded(sheet);
  TReferenceChange change{TReferenceChange::InsertRows, sheet.Name, at, count, {}};
  // Refuse before changing anything, so a refused insert leaves no trace.
  RefuseShiftOff(sheet, change);
  ApplyChangeEverywhere(change);
  MoveCells(sheet, change);
  AdjustSheetParts(sheet, change);
  FTableHeaders.clear();
}

void TWorkbookFile::InsertColumns(TSheet& sheet, uint32_t at, uint32_t count) {
  RefuseProtectedInsert(sheet, false);
  ForgetResults();
  NoteChangedCells(sheet, 1, 1, kMaxRow, kMaxColumn);
  if (at < 1 || at > kMaxColumn) throw EWorkbookError(rtl::UnicodeString(SObjectError));
  EnsureLoaded(sheet);
  TReferenceChange change{TReferenceChange::InsertColumns, sheet.Name, at, count, {}};
  RefuseShiftOff(sheet, change);
  ApplyChangeEverywhere(change);
  MoveCells(sheet, change);
  AdjustSheetParts(sheet, change);
  FTableHeaders.clear();
}

// --- Autofit -----------------------------------------------------------------------------

void TWorkbookFile::AutofitColumn(TSheet& sheet, uint32_t column) {
  if (column < 1 || column > kMaxColumn) throw EWorkbookError(rtl::UnicodeString(SObjectError));
  EnsureLoaded(sheet);
  const double digitWidth = DigitWidth();
  // Merged cells do not take part, as in the application.
  std::vector<TRangeRef> merged;
  for (pugi::xml_node merge : Children(Child(sheet.Root(), "mergeCells"), "mergeCell")) {
    TRangeRef range;
    if (ParseRangeRef(merge.attribute("ref").value(), range) && range.First.Column <= column &&
        range.Last.Column >= column)
      merged.push_back(range);
  }
  int widest = 0;
  for (TRow& row : sheet.Rows()) {
    TCell* cell = sheet.FindCell(row.Number, column);
    if (!cell || cell->Kind == TCellKind::Blank) continue;
    if (std::any_of(merged.begin(), merged.end(),
                    [&](const TRangeRef& m) { return row.Number >= m.First.Row && row.Number <= m.Last.Row; }))
      continue;
    std::string shown;
    switch (cell->Kind) {
      case TCellKind::Number:
        // A date style over a number with no calendar date shows as a row of
        // hashes in the application; autofit must not fail on it.
        if (IsDateStyle(cell->Style))
          shown = rtl::IsCalendarDate(cell->V.Number) ? rtl::UnicodeToUtf8(rtl::DateTimeToStr(cell->V.Number))
                                                      : std::string(8, '#');
        else
          shown = FormatNumberForWidth(cell->V.Number, NumberFormatOf(cell->Style));
        break;
      case TCellKind::Boolean: shown = cell->V.Number != 0 ? "TRUE" : "FALSE"; break;
      case TCellKind::Error: shown = sheet.Pool[cell->V.Index]; break;
      default: shown = rtl::UnicodeToUtf8(GetValue(sheet, row.Number, column).AsUnicodeString()); break;
    }
    widest = std::max(widest, TextWidthUnits(shown));
  }
  if (widest == 0) return;  // nothing shown: the width stays
  pugi::xml_node target = ColumnDefinition(sheet, column);
  SetAttr(target, "width", NumberText(StoredColumnWidth(widest, digitWidth)));
  SetAttr(target, "bestFit", "1");
  SetAttr(target, "customWidth", "1");
  sheet.Modified = true;
}

double TWorkbookFile::DigitWidth() {
  LoadStyles();
  // Maximum digit width in pixels of the default font, as the application
  // measures it for the usual fonts.
  double digitWidth = 7;
  if (!FStylesPart.empty()) {
    pugi::xml_node font = Child(Child(Part(FStylesPart).Doc->document_element(), "fonts"), "font");
    std::string name = Child(font, "name").attribute("val").value();
    double size = 11;  // from_chars: as_double would follow the process locale
    const char* sizeText = Child(font, "sz").attribute("val").value();
    std::from_chars(sizeText, sizeText + std::strlen(sizeText), size);
    digitWidth = std::max(5.0, std::round(size * (name == "Arial" ? 0.7 : 0.64)));
  }
  return digitWidth;
}

pugi::xml_node TWorkbookFile::ColumnDefinition(TSheet& sheet, uint32_t column) {
  pugi::xml_node cols = EnsureChild(sheet.Root(), "cols", WorksheetChildOrder());
  sheet.ForgetLayout();  // the caller changes the definition it gets
  std::string prefix = PrefixOf(sheet.Root());
  pugi::xml_node target;
  for (pugi::xml_node col : Children(cols, "col")) {
    uint32_t min = col.attribute("min").as_uint(), max = col.attribute("max").as_uint();
    if (column < min || column > max) continue;
    // Split a definition covering several columns around this one.
    if (min < column) {
      pugi::xml_node left = cols.insert_copy_before(col, col);
      SetAttr(left, "max", std::to_string(column - 1));
    }
    if (max > column) {
      pugi::xml_node right = cols.insert_copy_after(col, col);
      SetAttr(right, "min", std::to_string(column + 1));
    }
    SetAttr(col, "min", std::to_string(column));
    SetAttr(col, "max", std::to_string(column));
    target = col;
    break;
  }
  if (!target) {
    pugi::xml_node before;
    for (pugi::xml_node col : Children(cols, "col"))
      if (col.attribute("min").as_uint() > column) {
        before = col;
        break;
      }
    target = before ? cols.insert_child_before((prefix + "col").c_str(), before)
                    : cols.append_child((prefix + "col").c_str());
    SetAttr(target, "min", std::to_string(column));
    SetAttr(target, "max", std::to_string(column));
  }
  return target;
}

// --- Protection --------------------------------------------------------------------------

bool TWorkbookFile::ProtectContents(TSheet& sheet) {
  EnsureLoaded(sheet);
  return sheet.ContentsProtected();
}

void TWorkbookFile::Protect(TSheet& sheet) {
  EnsureLoaded(sheet);
  pugi::xml_node protection = EnsureChild(sheet.Root(), "sheetProtection", WorksheetChildOrder());
  sheet.ForgetLayout();
  SetAttr(protection, "sheet", "1");
  SetAttr(protection, "objects", "1");
  SetAttr(protection, "scenarios", "1");
  sheet.Modified = true;
}

void TWorkbookFile::Unprotect(TSheet& sheet) {
  EnsureLoaded(sheet);
  pugi::xml_node protection = Child(sheet.Root(), "sheetProtection");
  if (!protection) return;
  if (protection.attribute("password") || protection.attribute("hashValue"))
    throw EWorkbookError(rtl::Utf8ToUnicode(SWrongPassword));
  sheet.Root().remove_child(protection);
  sheet.ForgetLayout();
  sheet.Modified = true;
}

// --- Sheets ---------------------------------------------------------------------------------

std::shared_ptr<TSheet> TWorkbookFile::AddSheetBefore(const TSheet& before) {
  int index = IndexOf(before);
  if (index < 0) throw EWorkbookError(rtl::UnicodeString(SSheetDeleted));
  std::string name;
  for (int n = 1;; ++n) {
    name = "Sheet" + std::to_string(n);
    bool used = false;
    for (const auto& s : FSheets) used |= SameSheetName(s->Name, name);
    if (!used) break;
  }
  return AddWorksheet(index, name, {});
}

std::string TWorkbookFile::NewWorksheetPart() {
  std::string dir = "xl/worksheets/";
  for (const auto& s : FSheets)
    if (s->IsWorksheet) {
      dir = s->PartName.substr(0, s->PartName.rfind('/') + 1);
      break;
    }
  std::string partName;
  for (int n = 1;; ++n) {
    partName = dir + "sheet" + std::to_string(n) + ".xml";
    bool used = HasPart(partName);
    for (const auto& s : FSheets) used |= s->PartName == partName;
    if (!used) break;
  }
  return partName;
}

std::shared_ptr<TSheet> TWorkbookFile::AddWorksheet(int index, const std::string& name, std::string content,
                                                    const std::string& partName) {
  ForgetResults();
  if (partName.empty()) return AddWorksheet(index, name, std::move(content), NewWorksheetPart());
  pugi::xml_node workbookRoot = Part(FWorkbookPart).Doc->document_element();
  std::string mainNs =
      workbookRoot
          .attribute(PrefixOf(workbookRoot).empty()
                         ? "xmlns"
                         : ("xmlns:" + PrefixOf(workbookRoot).substr(0, PrefixOf(workbookRoot).size() - 1)).c_str())
          .value();
  if (mainNs.empty()) mainNs = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
  if (content.empty())
    content =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<worksheet xmlns=\"" + mainNs +
        "\" xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"><dimension ref=\"A1\"/>"
        "<sheetViews><sheetView workbookViewId=\"0\"/></sheetViews><sheetFormatPr defaultRowHeight=\"15\"/>"
        "<sheetData/><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
        "footer=\"0.3\"/></worksheet>";
  FPackage->Write(partName, content);

  // Relationship from the workbook, typed like the existing worksheets'.
  pugi::xml_document& rels = RelationshipsOf(FWorkbookPart);
  std::string type = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet";
  std::set<std::string> ids;
  for (const TRelationship& rel : ReadRelationships(rels)) {
    ids.insert(rel.Id);
    if (HasType(rel, "/worksheet")) type = rel.Type;
  }
  std::string relId;
  for (int n = 1;; ++n)
    if (!ids.count(relId = "rId" + std::to_string(n))) break;
  pugi::xml_node rel = rels.document_element().append_child(
      (PrefixOf(rels.document_element()) + "Relationship").c_str());
  SetAttr(rel, "Id", relId);
  SetAttr(rel, "Type", type);
  std::string workbookDir = FWorkbookPart.substr(0, FWorkbookPart.rfind('/') + 1);
  SetAttr(rel, "Target", partName.rfind(workbookDir, 0) == 0 ? partName.substr(workbookDir.size()) : "/" + partName);
  Part(RelsPartOf(FWorkbookPart)).Modified = true;

  TPart& types = Part(kContentTypesPart);
  pugi::xml_node typesRoot = types.Doc->document_element();
  pugi::xml_node override = typesRoot.append_child((PrefixOf(typesRoot) + "Override").c_str());
  SetAttr(override, "PartName", "/" + partName);
  SetAttr(override, "ContentType", "application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml");
  types.Modified = true;

  // The sheet element, before the sheet it is inserted in front of.
  pugi::xml_node sheets = Child(workbookRoot, "sheets");
  auto sheetNodes = Children(sheets, "sheet");
  uint32_t sheetId = 0;
  // The relationship namespace the other sheets use (transitional or
  // strict), whatever prefix they give it and wherever they declare it.
  std::string relNs = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
  for (pugi::xml_node s : sheetNodes) {
    sheetId = std::max(sheetId, s.attribute("sheetId").as_uint());
    if (pugi::xml_attribute id = RelIdAttribute(s)) {
      std::string_view qualified = id.name();
      std::string uri = NamespaceAt(s, qualified.substr(0, qualified.find(':') + 1));
      if (!uri.empty()) relNs = uri;
    }
  }
  pugi::xml_node node = static_cast<size_t>(index) < sheetNodes.size()
                            ? sheets.insert_child_before((PrefixOf(sheets) + "sheet").c_str(),
                                                         sheetNodes[static_cast<size_t>(index)])
                            : sheets.insert_child_after((PrefixOf(sheets) + "sheet").c_str(), sheetNodes.back());
  SetAttr(node, "name", name);
  SetAttr(node, "sheetId", std::to_string(sheetId + 1));
  SetAttr(node, (AttributePrefixFor(node, relNs, "r") + "id").c_str(), relId);
  for (pugi::xml_node n : Children(Child(workbookRoot, "definedNames"), "definedName"))
    if (n.attribute("localSheetId") && n.attribute("localSheetId").as_int() >= index)
      n.attribute("localSheetId").set_value(n.attribute("localSheetId").as_int() + 1);
  Part(FWorkbookPart).Modified = true;

  auto sheet = std::make_shared<TSheet>();
  sheet->Name = name;
  sheet->RelId = relId;
  sheet->PartName = partName;
  sheet->SheetId = sheetId + 1;
  sheet->Load(content);
  FSheets.insert(FSheets.begin() + index, sheet);
  FActiveTab = index;  // the added sheet becomes the active one
  FActiveChanged = true;
  FSheetListChanged = true;
  return sheet;
}

void TWorkbookFile::RemovePartTree(const std::string& partName) {
  if (!HasPart(partName)) return;
  std::vector<TRelationship> rels;
  std::string relsName = RelsPartOf(partName);
  if (HasPart(relsName)) rels = ReadRelationships(*Part(relsName).Doc);
  FPackage->Remove(partName);
  FPackage->Remove(relsName);
  FParts.erase(partName);
  FParts.erase(relsName);
  TPart& types = Part(kContentTypesPart);
  for (pugi::xml_node o : Children(types.Doc->document_element(), "Override"))
    if (std::string_view(o.attribute("PartName").value()) == "/" + partName) {
      types.Doc->document_element().remove_child(o);
      types.Modified = true;
      break;
    }
  // Parts only this one pointed at go with it (images shared with another
  // drawing stay).
  for (const TRelationship& rel : rels) {
    if (rel.External) continue;
    std::string target = ResolveTarget(partName, rel.Target);
    bool stillUsed = false;
    for (const std::string& other : FPackage->Names()) {
      if (other.size() < 5 || other.compare(other.size() - 5, 5, ".rels") != 0) continue;
      std::string source = other;
      size_t rels_ = source.find("_rels/");
      source = source.substr(0, rels_) + source.substr(rels_ + 6, source.size() - rels_ - 6 - 5);
      for (const TRelationship& r : ReadRelationships(*Part(other).Doc))
        if (!r.External && ResolveTarget(source, r.Target) == target) stillUsed = true;
      if (stillUsed) break;
    }
    if (!stillUsed) RemovePartTree(target);
  }
}

void TWorkbookFile::DeleteSheet(TSheet& sheet) {
  ForgetResults();
  int index = IndexOf(sheet);
  if (index < 0) throw EWorkbookError(rtl::UnicodeString(SSheetDeleted));
  pugi::xml_node workbookRoot = Part(FWorkbookPart).Doc->document_element();
  int visible = 0;
  bool thisVisible = true;
  for (pugi::xml_node s : Children(Child(workbookRoot, "sheets"), "sheet")) {
    std::string_view state = s.attribute("state").value();
    bool shown = state.empty() || state == "visible";
    if (shown) ++visible;
    if (std::string_view(s.attribute("name").value()) == sheet.Name) thisVisible = shown;
  }
  if (thisVisible && visible <= 1) throw EWorkbookError(rtl::Utf8ToUnicode(SLastSheet));

  // Structured references to the sheet's tables go with the sheet: left
  // behind they would name tables that no longer exist.
  TReferenceChange change{TReferenceChange::DeleteSheet, sheet.Name, 0, 0, {}};
  for (const TRelationship& rel : SheetRelationships(sheet)) {
    std::string target = ResolveTarget(sheet.PartName, rel.Target);
    if (rel.External || !HasType(rel, "/table") || !HasPart(target)) continue;
    pugi::xml_node table = Part(target).Doc->document_element();
    for (const char* attribute : {"displayName", "name"})
      if (const char* name = table.attribute(attribute).value(); *name) change.Tables.push_back(name);
  }
  ApplyChangeEverywhere(change);
  for (pugi::xml_node s : Children(Child(workbookRoot, "sheets"), "sheet"))
    if (RelIdAttribute(s).value() == sheet.RelId) {
      s.parent().remove_child(s);
      break;
    }
  pugi::xml_node names = Child(workbookRoot, "definedNames");
  for (pugi::xml_node n : Children(names, "definedName")) {
    pugi::xml_attribute local = n.attribute("localSheetId");
    if (!local) continue;
    if (local.as_int() == index)
      names.remove_child(n);
    else if (local.as_int() > index)
      local.set_value(local.as_int() - 1);
  }
  if (names && !Child(names, "definedName")) workbookRoot.remove_child(names);
  Part(FWorkbookPart).Modified = true;

  pugi::xml_document& rels = RelationshipsOf(FWorkbookPart);
  for (pugi::xml_node r : Children(rels.document_element(), "Relationship"))
    if (std::string_view(r.attribute("Id").value()) == sheet.RelId) {
      rels.document_element().remove_child(r);
      break;
    }
  Part(RelsPartOf(FWorkbookPart)).Modified = true;
  RemovePartTree(sheet.PartName);

  sheet.Deleted = true;
  sheet.Modified = false;
  FDeletedSheets.push_back(FSheets[static_cast<size_t>(index)]);
  FSheets.erase(FSheets.begin() + index);
  if (FActiveTab > index || FActiveTab >= static_cast<int>(FSheets.size())) --FActiveTab;
  if (FActiveTab < 0) FActiveTab = 0;
  FActiveChanged = true;
  FSheetListChanged = true;
  FCellsChanged = true;
  FTableHeaders.erase(&sheet);
}

}  // namespace spreadsheet
