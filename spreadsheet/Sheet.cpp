#include "spreadsheet/Sheet.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "spreadsheet/References.h"
#include "spreadsheet/Xml.h"

namespace spreadsheet {

namespace {

constexpr const char* kSheetDataMarker = "korva-sheet-data";

struct TStringWriter : pugi::xml_writer {
  std::string* Out;
  void write(const void* data, size_t size) override { Out->append(static_cast<const char*>(data), size); }
};

std::string InnerXml(const pugi::xml_node& node) {
  std::string out;
  TStringWriter writer;
  writer.Out = &out;
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) c.print(writer, "", pugi::format_raw);
  return out;
}

std::string RawAttrs(const pugi::xml_node& node, std::initializer_list<std::string_view> skip) {
  std::string out;
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    if (std::find(skip.begin(), skip.end(), std::string_view(a.name())) != skip.end()) continue;
    out += ' ';
    out += a.name();
    out += "=\"";
    AppendEscaped(out, a.value(), true);
    out += '"';
  }
  return out;
}

uint32_t ParseUInt(const char* text, uint32_t fallback) {
  uint32_t value = 0;
  const char* end = text + std::strlen(text);
  auto [p, error] = std::from_chars(text, end, value);
  return error == std::errc() && p == end ? value : fallback;
}

// A row number as written in <row r="...">: digits, saturating far above the
// last row so that a huge number stays huge; `fallback` when the text is not
// a number at all (the row then follows the one before, as when r is absent).
uint64_t RowNumberOf(std::string_view text, uint64_t fallback) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return fallback;
  uint64_t value = 0;
  for (char c : text) value = std::min<uint64_t>(value * 10 + static_cast<uint64_t>(c - '0'), uint64_t(1) << 40);
  return value;
}

// The column of a cell as written in <c r="...">: its letters, saturating
// like RowNumberOf; `fallback` when the text is not letters then digits.
uint64_t ColumnNumberOf(std::string_view text, uint64_t fallback) {
  auto letter = [](char c) { return (c | 0x20) >= 'a' && (c | 0x20) <= 'z'; };
  size_t letters = 0;
  while (letters < text.size() && letter(text[letters])) ++letters;
  if (letters == 0 || letters == text.size() ||
      !std::all_of(text.begin() + letters, text.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return fallback;
  uint64_t value = 0;
  for (size_t i = 0; i < letters; ++i)
    value = std::min<uint64_t>(value * 26 + static_cast<uint64_t>((text[i] | 0x20) - 'a' + 1), uint64_t(1) << 40);
  return value;
}

void AppendUInt(std::string& out, uint32_t value) {
  char buffer[16];
  auto [p, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  out.append(buffer, p);
}

}  // namespace

const std::vector<std::string_view>& WorksheetChildOrder() {
  static const std::vector<std::string_view> order = {"sheetPr",
                                                      "dimension",
                                                      "sheetViews",
                                                      "sheetFormatPr",
                                                      "cols",
                                                      "sheetData",
                                                      "sheetCalcPr",
                                                      "sheetProtection",
                                                      "protectedRanges",
                                                      "scenarios",
                                                      "autoFilter",
                                                      "sortState",
                                                      "dataConsolidate",
                                                      "customSheetViews",
                                                      "mergeCells",
                                                      "phoneticPr",
                                                      "conditionalFormatting",
                                                      "dataValidations",
                                                      "hyperlinks",
                                                      "printOptions",
                                                      "pageMargins",
                                                      "pageSetup",
                                                      "headerFooter",
                                                      "rowBreaks",
                                                      "colBreaks",
                                                      "customProperties",
                                                      "cellWatches",
                                                      "ignoredErrors",
                                                      "smartTags",
                                                      "drawing",
                                                      "legacyDrawing",
                                                      "legacyDrawingHF",
                                                      "drawingHF",
                                                      "picture",
                                                      "oleObjects",
                                                      "controls",
                                                      "webPublishItems",
                                                      "tableParts",
                                                      "extLst"};
  return order;
}

std::string NumberText(double value) {
  char buffer[32];
  auto [p, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, p);
}

std::string GetRawAttr(const std::string& attrs, std::string_view name) {
  std::string key = " " + std::string(name) + "=\"";
  size_t at = attrs.find(key);
  if (at == std::string::npos) return {};
  size_t start = at + key.size();
  size_t end = attrs.find('"', start);
  return attrs.substr(start, end - start);
}

void SetRawAttr(std::string& attrs, std::string_view name, const std::string& value) {
  std::string key = " " + std::string(name) + "=\"";
  size_t at = attrs.find(key);
  if (at != std::string::npos) {
    size_t end = attrs.find('"', at + key.size());
    attrs.erase(at, end + 1 - at);
  }
  if (value.empty()) return;
  std::string piece = key;
  AppendEscaped(piece, value, true);
  piece += '"';
  attrs.insert(std::min(at, attrs.size()), piece);
}

TCellExtra& TSheet::EnsureExtra(TCell& cell) {
  if (!cell.Extra) {
    if (Extras.size() >= TCell::kMaxExtra)
      throw EPackageError(rtl::Utf8ToUnicode("sheet " + Name + " has more than " + std::to_string(TCell::kMaxExtra) +
                                             " cells with formulas or attributes"));
    Extras.emplace_back();
    CalcMarks.emplace_back();
    cell.Extra = static_cast<uint32_t>(Extras.size());
  }
  return Extras[cell.Extra - 1];
}

uint32_t TTextPool::Add(std::string_view text) {
  // Texts are never changed in place, so cells may share one: a short text
  // seen lately (a category, a unit, a flag repeated down a column) is found
  // by its hash in a small table and not stored again.
  uint32_t* recent = nullptr;
  if (text.size() <= kShortText) {
    uint32_t hash = 2166136261u;
    for (char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 16777619u;
    if (FRecent.empty()) FRecent.assign(kRecentTexts, 0);
    recent = &FRecent[hash & (kRecentTexts - 1)];
    if (*recent && (*this)[*recent - 1] == text) return *recent - 1;
  }
  if (FStart.size() >= UINT32_MAX - 1 || FText.size() + text.size() > UINT32_MAX)
    throw EPackageError("a sheet holds at most 4 GB of cell text");
  FStart.push_back(static_cast<uint32_t>(FText.size()));
  FText.append(text);
  uint32_t index = static_cast<uint32_t>(FStart.size() - 1);
  if (recent) *recent = index + 1;
  return index;
}

uint32_t TSheet::AddText(std::string text) { return Pool.Add(text); }

void TSheet::Load(const std::string& content) {
  bool given = false;
  Load([&](std::string& out) {
    if (given) return false;
    out += content;
    given = true;
    return true;
  });
}

void TSheet::Load(const std::function<bool(std::string& out)>& source) {
  // A load that failed before left part of the rows behind; a load that
  // fails now leaves nothing (and frees what it read).
  auto clear = [this] {
    FRows = {};
    FTail = {};
    FTailShift = 0;
    Pool.clear();
    Extras = {};
    CalcMarks = {};
    HasArrayFormulas = false;
  };
  clear();
  try {
    LoadRows(source);
  } catch (...) {
    clear();
    throw;
  }
}

void TSheet::LoadRows(const std::function<bool(std::string& out)>& source) {
  Doc = std::make_unique<pugi::xml_document>();
  ForgetLayout();
  if (!IsWorksheet) {
    std::string content;
    while (source(content))
      if (content.size() > TPartLimits::Whole)
        throw EPackageError(rtl::Utf8ToUnicode("part " + PartName + " is too large (more than " +
                                               std::to_string(TPartLimits::Whole) + " bytes)"));
    ParsePart(*Doc, content, PartName);
    Loaded = true;
    return;
  }
  uint32_t nextRow = 1;
  bool sorted = true;
  // Cells outside the sheet cannot be kept, and dropping them would lose
  // data without a word: such a part is refused.
  auto outside = [&](const std::string& what, const std::string& limits) {
    return EPackageError(
        rtl::Utf8ToUnicode("part " + PartName + " has " + what + ", outside the sheet (" + limits + ")"));
  };
  // A reference as the part writes it, cut short when it runs on.
  auto shown = [](std::string_view ref) {
    return ref.size() <= 24 ? std::string(ref) : std::string(ref.substr(0, 20)) + "...";
  };
  // Rows arrive in batches: the cells go into the store, no tree is kept.
  ParsePartStreaming(*Doc, source, PartName, "sheetData", "row", [&](const pugi::xml_node& rowNode) {
    if (LocalName(rowNode) != "row") return;
    TRow row;
    std::string_view rowRef = rowNode.attribute("r").value();
    uint64_t number = RowNumberOf(rowRef, UINT64_MAX);
    bool stated = number != UINT64_MAX;
    if (!stated) number = nextRow;
    if (number < 1 || number > kMaxRow)
      throw outside(stated ? "row " + shown(rowRef) : "a row after row " + std::to_string(kMaxRow),
                    "rows 1 to " + std::to_string(kMaxRow));
    row.Number = static_cast<uint32_t>(number);
    nextRow = row.Number + 1;
    row.Attrs = RawAttrs(rowNode, {"r", "spans"});
    uint32_t nextColumn = 1;
    bool cellsSorted = true;
    for (pugi::xml_node c = rowNode.first_child(); c; c = c.next_sibling()) {
      if (c.type() != pugi::node_element || LocalName(c) != "c") continue;
      TCell cell;
      std::string_view cellRef = c.attribute("r").value();
      uint64_t column = ColumnNumberOf(cellRef, 0);
      bool stated = column != 0;
      if (!stated) column = nextColumn;
      if (column > kMaxColumn)
        throw outside(stated
                          ? "cell " + shown(cellRef)
                          : "a cell after column " + ColumnName(kMaxColumn) + " in row " + std::to_string(row.Number),
                      "columns A to " + ColumnName(kMaxColumn));
      cell.Column = static_cast<uint32_t>(column);
      nextColumn = cell.Column + 1;
      uint64_t style = ParseUInt(c.attribute("s").value(), 0);
      if (style > TCell::kMaxStyle)
        throw EPackageError(rtl::Utf8ToUnicode("part " + PartName + " gives cell " + shown(cellRef) + " style " +
                                               std::to_string(style) + ", beyond the styles a workbook can have"));
      cell.Style = style;
      std::string_view type = c.attribute("t").value();
      std::string cellAttrs = RawAttrs(c, {"r", "s", "t"});
      pugi::xml_node f = Child(c, "f");
      if (f || !cellAttrs.empty()) {
        TCellExtra& extra = EnsureExtra(cell);
        extra.CellAttrs = std::move(cellAttrs);
        if (f) {
          extra.Formula = f.child_value();
          extra.FormulaAttrs = RawAttrs(f, {});
          if (extra.Formula.empty() && extra.FormulaAttrs.empty()) extra.FormulaAttrs = " ";  // an empty <f/>
          if (std::string_view(f.attribute("t").value()) == "array") HasArrayFormulas = true;
        }
      }
      pugi::xml_node v = Child(c, "v");
      const char* value = v.child_value();
      if (type == "s") {
        if (v) {
          cell.Kind = TCellKind::Shared;
          cell.V.Index = ParseUInt(value, 0);
        }
      } else if (type == "str") {
        cell.Kind = TCellKind::Text;
        cell.V.Index = AddText(DecodeCellText(value));
      } else if (type == "inlineStr") {
        pugi::xml_node is = Child(c, "is");
        auto ts = Children(is, "t");
        bool plain = ts.size() == 1 && Children(is, "r").empty() && Children(is, "rPh").empty();
        cell.Kind = plain ? TCellKind::Inline : TCellKind::InlineRich;
        cell.V.Index = AddText(plain ? DecodeCellText(ts[0].text().get()) : InnerXml(is));
      } else if (type == "b") {
        cell.Kind = TCellKind::Boolean;
        cell.V.Number = (std::strcmp(value, "1") == 0 || std::strcmp(value, "true") == 0) ? 1 : 0;
      } else if (type == "e") {
        cell.Kind = TCellKind::Error;
        cell.V.Index = AddText(value);
      } else if (type == "d") {
        cell.Kind = TCellKind::IsoDate;
        cell.V.Index = AddText(value);
      } else if (v && *value) {
        double number = 0;
        auto [p, error] = std::from_chars(value, value + std::strlen(value), number);
        if (error == std::errc()) {
          cell.Kind = TCellKind::Number;
          cell.V.Number = number;
        } else {
          cell.Kind = TCellKind::Text;  // not a number: keep the text rather than lose it
          cell.V.Index = AddText(value);
        }
      }
      if (!row.Cells.empty() && row.Cells.back().Column >= cell.Column) cellsSorted = false;
      row.Cells.push_back(cell);
    }
    if (!cellsSorted) {
      std::stable_sort(row.Cells.begin(), row.Cells.end(),
                       [](const TCell& a, const TCell& b) { return a.Column < b.Column; });
      row.Cells.erase(std::unique(row.Cells.begin(), row.Cells.end(),
                                  [](const TCell& a, const TCell& b) { return a.Column == b.Column; }),
                      row.Cells.end());
    }
    if (!FRows.empty() && FRows.back().Number >= row.Number) sorted = false;
    FRows.push_back(std::move(row));
  });
  EnsureChild(Root(), "sheetData", WorksheetChildOrder());
  if (!sorted) {
    std::stable_sort(FRows.begin(), FRows.end(), [](const TRow& a, const TRow& b) { return a.Number < b.Number; });
    FRows.erase(
        std::unique(FRows.begin(), FRows.end(), [](const TRow& a, const TRow& b) { return a.Number == b.Number; }),
        FRows.end());
  }
  Loaded = true;
}

bool TSheet::InMultiCellArray(uint32_t row, uint32_t column) {
  if (!HasArrayFormulas) return false;
  for (const TCellExtra& extra : Extras) {
    if (GetRawAttr(extra.FormulaAttrs, "t") != "array") continue;
    TRangeRef range;
    if (!ParseRangeRef(GetRawAttr(extra.FormulaAttrs, "ref"), range)) continue;
    bool single = range.First.Row == range.Last.Row && range.First.Column == range.Last.Column;
    if (!single && row >= range.First.Row && row <= range.Last.Row && column >= range.First.Column &&
        column <= range.Last.Column)
      return true;
  }
  return false;
}

TRow* TSheet::FindRow(uint32_t row) {
  // Writing in order asks for the last row again and again.
  if (!FRows.empty() && FRows.back().Number == row) return &FRows.back();
  if (FTail.empty() || (!FRows.empty() && row <= FRows.back().Number)) {
    auto it = std::lower_bound(FRows.begin(), FRows.end(), row, [](const TRow& r, uint32_t n) { return r.Number < n; });
    return it != FRows.end() && it->Number == row ? &*it : nullptr;
  }
  // After the gap the numbers descend towards the end.
  auto it = std::lower_bound(FTail.begin(), FTail.end(), row,
                             [&](const TRow& r, uint32_t n) { return r.Number + FTailShift > n; });
  return it != FTail.end() && it->Number + FTailShift == row ? &*it : nullptr;
}

TCell* TSheet::FindCell(uint32_t row, uint32_t column) {
  TRow* r = FindRow(row);
  if (!r) return nullptr;
  auto it = std::lower_bound(r->Cells.begin(), r->Cells.end(), column,
                             [](const TCell& c, uint32_t n) { return c.Column < n; });
  return it != r->Cells.end() && it->Column == column ? &*it : nullptr;
}

TRow& TSheet::RowForWrite(uint32_t row) {
  // The common case, filling downwards, appends at once.
  if (!(FTail.empty() && (FRows.empty() || FRows.back().Number < row))) {
    if (TRow* found = FindRow(row)) return *found;
    MoveGapTo(row);
  }
  // Rows filled in order are mostly alike: room for as many cells as the
  // row before holds, instead of doubling past them.
  size_t expected = FRows.empty() ? 0 : FRows.back().Cells.size();
  FRows.emplace_back();
  FRows.back().Number = row;
  FRows.back().Cells.reserve(expected);
  return FRows.back();
}

const TSheet::TLayout& TSheet::ReadLayout() const {
  FLayout.Columns.clear();
  for (pugi::xml_node col : Children(Child(Root(), "cols"), "col"))
    FLayout.Columns.push_back(
        {col.attribute("min").as_uint(), col.attribute("max").as_uint(), col.attribute("style").as_uint()});
  pugi::xml_node protection = Child(Root(), "sheetProtection");
  FLayout.Protected = protection && protection.attribute("sheet").as_bool();
  FLayout.Known = true;
  return FLayout;
}

uint32_t TSheet::ColumnStyle(uint32_t column) const {
  for (const TColumnRun& run : Layout().Columns)
    if (column >= run.First && column <= run.Last) return run.Style;
  return 0;
}

void TSheet::MoveGapTo(uint32_t row) {
  while (!FRows.empty() && FRows.back().Number >= row) {
    FRows.back().Number -= FTailShift;
    FTail.push_back(std::move(FRows.back()));
    FRows.pop_back();
  }
  while (!FTail.empty() && FTail.back().Number + FTailShift < row) {
    FTail.back().Number += FTailShift;
    FRows.push_back(std::move(FTail.back()));
    FTail.pop_back();
  }
  if (FTail.empty()) FTailShift = 0;
}

void TSheet::InsertRowsAt(uint32_t at, uint32_t count, const TRow* model) {
  MoveGapTo(at);
  FTailShift += count;  // every row from `at` on moves down
  if (!model) return;
  for (uint32_t k = 0; k < count; ++k) {
    FRows.push_back(*model);
    FRows.back().Number = at + k;
  }
}

void TSheet::SettleRows() {
  MoveGapTo(UINT32_MAX);
  FTailShift = 0;
}

bool TSheet::DataBeyond(uint32_t limit, uint32_t at) const {
  auto holdsData = [&](const TRow& row) {
    return std::any_of(row.Cells.begin(), row.Cells.end(),
                       [&](const TCell& cell) { return cell.Kind != TCellKind::Blank || HasFormula(cell); });
  };
  // The highest numbers first: the front of the tail, then the back of the head.
  for (const TRow& row : FTail) {
    uint32_t number = row.Number + FTailShift;
    if (number <= limit) return false;
    if (number >= at && holdsData(row)) return true;
  }
  for (auto row = FRows.rbegin(); row != FRows.rend() && row->Number > limit; ++row)
    if (row->Number >= at && holdsData(*row)) return true;
  return false;
}

uint32_t TSheet::NewCellStyle(const TRow* row, uint32_t column) const {
  if (row && !row->Attrs.empty() && GetRawAttr(row->Attrs.Text(), "customFormat") == "1")
    return static_cast<uint32_t>(std::atoi(GetRawAttr(row->Attrs.Text(), "s").c_str()));
  return ColumnStyle(column);
}

uint32_t TSheet::StyleAt(uint32_t row, uint32_t column) {
  if (const TCell* cell = FindCell(row, column)) return cell->Style;
  return NewCellStyle(FindRow(row), column);
}

TCell& TSheet::CellForWrite(uint32_t row, uint32_t column) {
  TRow& r = RowForWrite(row);
  auto make = [&]() {
    TCell cell;
    cell.Column = column;
    uint32_t style = NewCellStyle(&r, column);
    cell.Style = style <= TCell::kMaxStyle ? style : 0;  // a row or column style no workbook can have
    return cell;
  };
  if (r.Cells.empty() || r.Cells.back().Column < column) {
    r.Cells.push_back(make());
    return r.Cells.back();
  }
  auto it = std::lower_bound(r.Cells.begin(), r.Cells.end(), column,
                             [](const TCell& c, uint32_t n) { return c.Column < n; });
  if (it != r.Cells.end() && it->Column == column) return *it;
  return *r.Cells.insert(it, make());
}

namespace {

// Appends the pieces of a tag whose name takes the namespace prefix.
void Emit(std::string& out, std::initializer_list<std::string_view> pieces) {
  for (std::string_view piece : pieces) out.append(piece);
}

// Writes one cell element.
void AppendCell(std::string& out, TSheet& sheet, uint32_t rowNumber, const TCell& cell, const std::string& p) {
  Emit(out, {"<", p, "c r=\""});
  out += ColumnName(cell.Column);
  AppendUInt(out, rowNumber);
  out += '"';
  if (cell.Style) {
    out += " s=\"";
    AppendUInt(out, cell.Style);
    out += '"';
  }
  static const char* const types[] = {nullptr, nullptr, "s", "inlineStr", "inlineStr", "b", "e", "str", "d"};
  if (const char* t = types[static_cast<int>(cell.Kind)]) {
    out += " t=\"";
    out += t;
    out += '"';
  }
  const TCellExtra* extra = sheet.ExtraOf(cell);
  if (extra) out += extra->CellAttrs;
  bool hasFormula = extra && (!extra->Formula.empty() || !extra->FormulaAttrs.empty());
  if (!hasFormula && cell.Kind == TCellKind::Blank) {
    out += "/>";
    return;
  }
  out += '>';
  if (hasFormula) {
    Emit(out, {"<", p, "f"});
    if (extra->FormulaAttrs != " ") out += extra->FormulaAttrs;
    if (extra->Formula.empty()) {
      out += "/>";
    } else {
      out += '>';
      AppendEscaped(out, extra->Formula, false);
      Emit(out, {"</", p, "f>"});
    }
  }
  switch (cell.Kind) {
    case TCellKind::Blank: break;
    case TCellKind::Number:
      Emit(out, {"<", p, "v>"});
      out += NumberText(cell.V.Number);
      Emit(out, {"</", p, "v>"});
      break;
    case TCellKind::Shared:
      Emit(out, {"<", p, "v>"});
      AppendUInt(out, cell.V.Index);
      Emit(out, {"</", p, "v>"});
      break;
    case TCellKind::Inline: {
      // Marked only where a reader could lose whitespace: a fifth of the
      // part's size when a job writes short words.
      std::string_view text = sheet.Pool[cell.V.Index];
      bool preserve = !text.empty() && (text.front() == ' ' || text.back() == ' ' ||
                                        text.find_first_of("\t\n\r") != std::string_view::npos ||
                                        text.find("  ") != std::string_view::npos);
      Emit(out, {"<", p, "is><", p, preserve ? "t xml:space=\"preserve\">" : "t>"});
      AppendCellText(out, text);
      Emit(out, {"</", p, "t></", p, "is>"});
      break;
    }
    case TCellKind::InlineRich:
      Emit(out, {"<", p, "is>"});
      out += sheet.Pool[cell.V.Index];
      Emit(out, {"</", p, "is>"});
      break;
    case TCellKind::Boolean: Emit(out, {"<", p, cell.V.Number != 0 ? "v>1</" : "v>0</", p, "v>"}); break;
    case TCellKind::Error:
    case TCellKind::IsoDate:
      Emit(out, {"<", p, "v>"});
      AppendEscaped(out, sheet.Pool[cell.V.Index], false);
      Emit(out, {"</", p, "v>"});
      break;
    case TCellKind::Text:
      Emit(out, {"<", p, "v>"});
      AppendCellText(out, sheet.Pool[cell.V.Index]);
      Emit(out, {"</", p, "v>"});
      break;
  }
  Emit(out, {"</", p, "c>"});
}

}  // namespace

TPartWriter TSheet::Writer() {
  // The dimension covers every stored cell.
  uint32_t minRow = 0, maxRow = 0, minCol = 0, maxCol = 0;
  SettleRows();
  for (const TRow& row : FRows) {
    if (row.Cells.empty()) continue;
    if (!minRow) minRow = row.Number;
    maxRow = row.Number;
    uint32_t first = row.Cells.front().Column, last = row.Cells.back().Column;
    minCol = minCol ? std::min(minCol, first) : first;
    maxCol = std::max(maxCol, last);
  }
  pugi::xml_node root = Root();
  if (IsWorksheet) {
    pugi::xml_node dimension = EnsureChild(root, "dimension", WorksheetChildOrder());
    TRangeRef range{{minRow ? minRow : 1, minCol ? minCol : 1}, {maxRow ? maxRow : 1, maxCol ? maxCol : 1}};
    if (!dimension.attribute("ref")) dimension.append_attribute("ref");
    dimension.attribute("ref").set_value(RangeName(range).c_str());
  }
  pugi::xml_node sheetData = Child(root, "sheetData");
  std::string text;
  if (sheetData) {
    sheetData.append_child(pugi::node_comment).set_value(kSheetDataMarker);
    text = SerializePart(*Doc);
    sheetData.remove_child(sheetData.first_child());
  } else {
    text = SerializePart(*Doc);
  }
  std::string marker = std::string("<!--") + kSheetDataMarker + "-->";
  size_t at = text.find(marker);
  auto head = std::make_shared<std::string>(at == std::string::npos ? text : text.substr(0, at));
  auto tail = std::make_shared<std::string>(at == std::string::npos ? std::string() : text.substr(at + marker.size()));
  auto phase = std::make_shared<int>(0);
  auto next = std::make_shared<size_t>(0);
  // Rows and cells take the prefix the part gives the main namespace.
  auto prefix = std::make_shared<std::string>(sheetData ? PrefixOf(sheetData) : std::string());
  return [this, head, tail, phase, next, prefix](std::string& out) {
    if (*phase == 0) {
      out = std::move(*head);
      *phase = 1;
      return true;
    }
    if (*phase == 1) {
      while (*next < FRows.size() && out.size() < 256 * 1024) {
        TRow& row = FRows[(*next)++];
        if (row.Cells.empty() && row.Attrs.empty()) continue;
        Emit(out, {"<", *prefix, "row r=\""});
        AppendUInt(out, row.Number);
        out += '"';
        out += row.Attrs.Text();
        if (row.Cells.empty()) {
          out += "/>";
          continue;
        }
        out += '>';
        for (const TCell& cell : row.Cells) AppendCell(out, *this, row.Number, cell, *prefix);
        Emit(out, {"</", *prefix, "row>"});
      }
      if (*next >= FRows.size()) *phase = 2;
      return true;
    }
    if (*phase == 2) {
      out = std::move(*tail);
      *phase = 3;
      return true;
    }
    return false;
  };
}

}  // namespace spreadsheet
