// Parts that describe the rest of the package and are brought up to date
// when saving: the shared strings' counts and the sheet names listed in the
// document properties.
#include <algorithm>
#include <functional>

#include "spreadsheet/Workbook.h"
#include "spreadsheet/Xml.h"
#include "spreadsheet/calc/Formula.h"

namespace spreadsheet {

namespace {

int64_t SharedCells(TSheet& sheet) {
  int64_t count = 0;
  for (const TRow& row : sheet.Rows())
    for (const TCell& cell : row.Cells) count += cell.Kind == TCellKind::Shared;
  return count;
}

// Where the root element's start tag of a part begins and ends ('>'
// included) in its first bytes; false when they do not hold all of it.
bool FindRootTag(const std::string& text, size_t& begin, size_t& end) {
  size_t i = 0;
  while (true) {
    i = text.find('<', i);
    if (i == std::string::npos || i + 1 >= text.size()) return false;
    if (text[i + 1] == '?') {
      i = text.find("?>", i);
    } else if (text.compare(i, 4, "<!--") == 0) {
      i = text.find("-->", i);
    } else if (text[i + 1] == '!') {
      i = text.find('>', i);
    } else {
      break;
    }
    if (i == std::string::npos) return false;
  }
  begin = i;
  char quote = 0;
  for (size_t k = i; k < text.size(); ++k) {
    if (quote) {
      if (text[k] == quote) quote = 0;
    } else if (text[k] == '"' || text[k] == '\'') {
      quote = text[k];
    } else if (text[k] == '>') {
      end = k + 1;
      return true;
    }
  }
  return false;
}

// The shared strings part with its root's counts replaced, streamed from the
// original: the strings themselves may be far too many to hold.
TPartWriter WithCounts(TPartWriter original, int64_t count, int64_t uniqueCount) {
  struct TState {
    TPartWriter Source;
    std::string Head;
    bool HeadDone = false;
  };
  auto state = std::make_shared<TState>();
  state->Source = std::move(original);
  return [state, count, uniqueCount](std::string& out) {
    if (state->HeadDone) return state->Source(out);
    size_t begin = 0, end = 0;
    while (!FindRootTag(state->Head, begin, end))
      if (!state->Source(state->Head)) break;
    state->HeadDone = true;
    if (end > 0) {
      size_t nameEnd = state->Head.find_first_of(" \t\r\n/>", begin);
      bool empty = state->Head[end - 2] == '/';
      std::string attrs = state->Head.substr(nameEnd, end - (empty ? 2 : 1) - nameEnd);
      if (count >= 0) SetRawAttr(attrs, "count", std::to_string(count));
      if (uniqueCount >= 0) SetRawAttr(attrs, "uniqueCount", std::to_string(uniqueCount));
      state->Head.replace(nameEnd, end - (empty ? 2 : 1) - nameEnd, attrs);
    }
    out += state->Head;
    state->Head.clear();
    return true;
  };
}

}  // namespace

std::string TWorkbookFile::SharedStringsPart() {
  std::string relsName = RelsPartOf(FWorkbookPart);
  if (!HasPart(relsName)) return {};
  for (const TRelationship& rel : ReadRelationships(*Part(relsName).Doc))
    if (HasType(rel, "/sharedStrings") && !rel.External) {
      std::string name = ResolveTarget(FWorkbookPart, rel.Target);
      return HasPart(name) ? name : std::string();
    }
  return {};
}

void TWorkbookFile::NoteSharedCells(TSheet& sheet) { FSharedAtLoad[&sheet] = SharedCells(sheet); }

// `count` is the number of cells that refer to a shared string. It follows
// the cells that no longer do (overwritten, on a deleted sheet): counted
// afresh when every sheet is loaded, else moved by what the loaded sheets
// changed, which leaves the sheets nobody touched unread.
void TWorkbookFile::UpdateSharedStringCounts() {
  std::string name = SharedStringsPart();
  if (name.empty()) return;
  bool allLoaded = true;
  int64_t total = 0, delta = 0;
  for (const auto& sheet : FSheets) {
    if (!sheet->IsWorksheet) continue;
    if (!sheet->Loaded) {
      allLoaded = false;
      continue;
    }
    int64_t now = SharedCells(*sheet);
    total += now;
    auto before = FSharedAtLoad.find(sheet.get());
    delta += now - (before == FSharedAtLoad.end() ? 0 : before->second);
  }
  for (const auto& sheet : FDeletedSheets)
    if (auto before = FSharedAtLoad.find(sheet.get()); before != FSharedAtLoad.end()) delta -= before->second;
  if (!allLoaded && delta == 0) return;

  // The counts the part states now, from its first bytes.
  std::string head;
  TPartWriter reader = FPackage->OriginalReader(name);
  size_t begin = 0, end = 0;
  while (!FindRootTag(head, begin, end) && head.size() < TPartLimits::Element)
    if (!reader(head)) break;
  if (end == 0) return;
  std::string tag = head.substr(begin, end - begin);
  if (tag.find("count='") != std::string::npos || tag.find("Count='") != std::string::npos) return;
  std::string stated = GetRawAttr(tag, "count"), statedUnique = GetRawAttr(tag, "uniqueCount");
  // Both counts are optional: one the part does not state stays unstated.
  int64_t count = stated.empty() ? -1
                  : allLoaded    ? total
                                 : std::max<int64_t>(0, std::strtoll(stated.c_str(), nullptr, 10) + delta);
  // uniqueCount is the number of strings, which no edit changes; it is
  // corrected as well when the strings were read anyway.
  int64_t unique = FSharedLoaded && !statedUnique.empty() ? static_cast<int64_t>(FSharedStrings.size()) : -1;
  if ((count < 0 || std::to_string(count) == stated) && (unique < 0 || std::to_string(unique) == statedUnique)) return;
  FPackage->WriteStreamed(name, WithCounts(FPackage->OriginalReader(name), count, unique));
}

// After a save the counts stated are those of the cells as they are.
void TWorkbookFile::SharedStringCountsSaved() {
  for (const auto& sheet : FDeletedSheets) FSharedAtLoad.erase(sheet.get());
  for (const auto& sheet : FSheets)
    if (sheet->IsWorksheet && sheet->Loaded) NoteSharedCells(*sheet);
}

// The named ranges as the document properties list them: the defined names
// that are shown and refer to cells, in their order, those of one sheet
// after its name ("Data!Print_Area").
std::vector<std::string> TWorkbookFile::NamedRangeTitles() {
  std::function<bool(const calc::TFormula&, uint32_t)> isRange = [&](const calc::TFormula& f, uint32_t index) {
    const calc::TFormulaNode& node = f.Nodes[index];
    if (node.Kind == calc::TNodeKind::Reference) return true;
    if (node.Kind != calc::TNodeKind::Operator ||
        (node.Op != calc::TOperator::Range && node.Op != calc::TOperator::Union &&
         node.Op != calc::TOperator::Intersection))
      return false;
    return std::all_of(node.Args.begin(), node.Args.end(), [&](uint32_t arg) { return isRange(f, arg); });
  };
  std::vector<std::string> titles;
  pugi::xml_node root = Part(FWorkbookPart).Doc->document_element();
  for (pugi::xml_node n : Children(Child(root, "definedNames"), "definedName")) {
    if (n.attribute("hidden").as_bool()) continue;
    calc::TFormula formula;
    std::string error;
    if (!calc::ParseFormula(n.child_value(), formula, error) || formula.Nodes.empty() ||
        !isRange(formula, formula.Root))
      continue;
    std::string name = n.attribute("name").value();
    if (name.rfind("_xlnm.", 0) == 0) name = name.substr(6);
    if (pugi::xml_attribute local = n.attribute("localSheetId")) {
      if (local.as_uint() >= FSheets.size()) continue;
      name = SheetPrefix(FSheets[local.as_uint()]->Name) + name;
    }
    titles.push_back(name);
  }
  return titles;
}

// The document properties list the sheets by name, grouped under headings
// ("Worksheets", "Charts", "Named Ranges") with a count each. After sheets
// were added, deleted or renamed the groups are listed afresh: the sheets in
// tab order, the named ranges as the workbook now has them, and empty groups
// go with their heading.
void TWorkbookFile::RebuildSheetTitles() {
  FSheetListChanged = false;
  pugi::xml_document rootRels;
  ParsePart(rootRels, FPackage->Read("_rels/.rels"), "_rels/.rels");
  for (const TRelationship& rel : ReadRelationships(rootRels)) {
    if (!HasType(rel, "/extended-properties") || rel.External) continue;
    std::string name = ResolveTarget("", rel.Target);
    if (!HasPart(name)) continue;
    TPart& app = Part(name);
    pugi::xml_node root = app.Doc->document_element();
    pugi::xml_node headings = Child(Child(root, "HeadingPairs"), "vector");
    pugi::xml_node titles = Child(Child(root, "TitlesOfParts"), "vector");
    if (!headings || !titles) continue;

    struct TGroup {
      pugi::xml_node Label;  // the heading's first variant
      std::vector<std::string> Titles;
    };
    std::vector<TGroup> groups;
    std::vector<pugi::xml_node> headingVariants = Children(headings, "variant");
    std::vector<pugi::xml_node> titleItems = Children(titles, "lpstr");
    size_t next = 0;
    for (size_t i = 0; i + 1 < headingVariants.size(); i += 2) {
      TGroup group{headingVariants[i], {}};
      pugi::xml_node number = headingVariants[i + 1].first_child();
      long count = std::strtol(number.child_value(), nullptr, 10);
      for (long k = 0; k < count && next < titleItems.size(); ++k)
        group.Titles.push_back(titleItems[next++].child_value());
      groups.push_back(std::move(group));
    }
    if (next != titleItems.size()) continue;  // a list this server does not understand stays as it is

    auto known = [&](const std::string& title, bool worksheet) {
      for (const auto* list : {&FSheets, &FDeletedSheets})
        for (const auto& sheet : *list)
          if (sheet->IsWorksheet == worksheet && SameSheetName(sheet->Name, title)) return true;
      for (const auto& [opened, isWorksheet] : FOpenedSheetNames)
        if (isWorksheet == worksheet && SameSheetName(opened, title)) return true;
      return false;
    };
    auto current = [&](bool worksheet) {
      std::vector<std::string> names;
      for (const auto& sheet : FSheets)
        if (sheet->IsWorksheet == worksheet) names.push_back(sheet->Name);
      return names;
    };
    bool haveWorksheets = false, haveCharts = false, haveNames = false;
    for (TGroup& group : groups) {
      bool worksheets = !group.Titles.empty() && std::all_of(group.Titles.begin(), group.Titles.end(),
                                                             [&](const std::string& t) { return known(t, true); });
      bool charts = !worksheets && !group.Titles.empty() &&
                    std::all_of(group.Titles.begin(), group.Titles.end(),
                                [&](const std::string& t) { return known(t, false); });
      if (worksheets && !haveWorksheets) {
        group.Titles = current(true);
        haveWorksheets = true;
      } else if (charts && !haveCharts) {
        group.Titles = current(false);
        haveCharts = true;
      } else if (!worksheets && !charts && !haveNames) {
        group.Titles = NamedRangeTitles();
        haveNames = true;
      }
    }

    // Written afresh, in the part's own prefix for the variant types.
    std::string vt = PrefixOf(headings);
    std::vector<std::pair<std::string, std::vector<std::string>>> kept;
    for (const TGroup& group : groups)
      if (!group.Titles.empty()) kept.push_back({Child(group.Label, "lpstr").child_value(), group.Titles});
    if (!haveWorksheets && !current(true).empty()) kept.insert(kept.begin(), {"Worksheets", current(true)});
    if (!haveNames && !NamedRangeTitles().empty()) kept.push_back({"Named Ranges", NamedRangeTitles()});
    while (headings.first_child()) headings.remove_child(headings.first_child());
    while (titles.first_child()) titles.remove_child(titles.first_child());
    size_t titleCount = 0;
    for (const auto& [label, names] : kept) {
      headings.append_child((vt + "variant").c_str()).append_child((vt + "lpstr").c_str()).text().set(label.c_str());
      headings.append_child((vt + "variant").c_str())
          .append_child((vt + "i4").c_str())
          .text()
          .set(static_cast<long long>(names.size()));
      for (const std::string& n : names) titles.append_child((vt + "lpstr").c_str()).text().set(n.c_str());
      titleCount += names.size();
    }
    for (pugi::xml_node vector : {headings, titles})
      if (!vector.attribute("size")) vector.append_attribute("size");
    headings.attribute("size").set_value(static_cast<unsigned long long>(kept.size() * 2));
    titles.attribute("size").set_value(static_cast<unsigned long long>(titleCount));
    app.Modified = true;
  }
}

}  // namespace spreadsheet
