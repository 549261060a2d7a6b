// Sheets by name: renaming a sheet with every reference to it, adding a
// named sheet, and copying a worksheet with everything it owns.
#include <algorithm>
#include <map>
#include <set>

#include "rtl/SysUtils.h"
#include "spreadsheet/Workbook.h"
#include "spreadsheet/Xml.h"

namespace spreadsheet {

namespace {

const char* const kContentTypes = "[Content_Types].xml";

// The name with a trailing number taken off ("table12.xml" -> "table", ".xml").
void SplitNumberedName(const std::string& file, std::string& stem, std::string& extension) {
  size_t dot = file.rfind('.');
  extension = dot == std::string::npos ? "" : file.substr(dot);
  stem = file.substr(0, dot == std::string::npos ? file.size() : dot);
  while (!stem.empty() && stem.back() >= '0' && stem.back() <= '9') stem.pop_back();
}

// "Orders" -> "Orders", "Orders (2)" -> "Orders": the name copies count from.
std::string CopyBaseName(const std::string& name) {
  if (name.size() < 4 || name.back() != ')') return name;
  size_t open = name.rfind(" (");
  if (open == std::string::npos || open + 3 > name.size() - 1) return name;
  for (size_t i = open + 2; i + 1 < name.size(); ++i)
    if (name[i] < '0' || name[i] > '9') return name;
  return name.substr(0, open);
}

}  // namespace

void TWorkbookFile::CheckSheetName(const std::string& name, const TSheet* except) {
  rtl::UnicodeString wide = rtl::Utf8ToUnicode(name);
  bool valid = !wide.empty() && wide.size() <= 31 && wide.front() != u'\'' && wide.back() != u'\'' &&
               wide.find_first_of(u":\\/?*[]") == rtl::UnicodeString::npos;
  if (!valid) throw EWorkbookError(rtl::Utf8ToUnicode(SInvalidSheetName));
  for (const auto& s : FSheets)
    if (s.get() != except && SameSheetName(s->Name, name)) throw EWorkbookError(rtl::Utf8ToUnicode(SSheetNameTaken));
}

void TWorkbookFile::RenameSheet(TSheet& sheet, const std::string& name) {
  if (IndexOf(sheet) < 0) throw EWorkbookError(rtl::UnicodeString(SSheetDeleted));
  if (name == sheet.Name) return;
  CheckSheetName(name, &sheet);
  ForgetResults();
  TReferenceChange change{TReferenceChange::RenameSheet, sheet.Name, 0, 0, {}, name};
  ApplyChangeEverywhere(change);
  // Links to places in the workbook, and the formulas of tables, name the
  // sheet as text too.
  for (const auto& other : FSheets) {
    if (!other->IsWorksheet) continue;
    for (pugi::xml_node link : Children(Child(other->Root(), "hyperlinks"), "hyperlink")) {
      pugi::xml_attribute location = link.attribute("location");
      if (!location || RelIdAttribute(link)) continue;
      std::string after = ApplyReferenceChange(location.value(), change, "");
      if (after != location.value()) {
        location.set_value(after.c_str());
        other->Modified = true;
      }
    }
  }
  for (const std::string& partName : FPackage->Names()) {
    if (partName.rfind("xl/tables/", 0) != 0 || partName.find("/_rels/") != std::string::npos) continue;
    TPart& table = Part(partName);
    for (const char* element : {"calculatedColumnFormula", "totalsRowFormula"})
      for (pugi::xml_node f : Descendants(table.Doc->document_element(), element)) {
        std::string after = ApplyReferenceChange(f.child_value(), change, "");
        if (after != f.child_value()) {
          f.text().set(after.c_str());
          table.Modified = true;
        }
      }
  }
  pugi::xml_node workbookRoot = Part(FWorkbookPart).Doc->document_element();
  for (pugi::xml_node s : Children(Child(workbookRoot, "sheets"), "sheet"))
    if (RelIdAttribute(s).value() == sheet.RelId) SetAttr(s, "name", name);
  Part(FWorkbookPart).Modified = true;
  sheet.Name = name;
  FSheetListChanged = true;
}

std::shared_ptr<TSheet> TWorkbookFile::AddSheetNamed(const std::string& name) {
  CheckSheetName(name, nullptr);
  return AddWorksheet(static_cast<int>(FSheets.size()), name, {});
}

// --- Copying a worksheet ------------------------------------------------------------

std::string TWorkbookFile::PartContent(const std::string& name) {
  auto parsed = FParts.find(name);
  if (parsed != FParts.end() && parsed->second.Modified) return SerializePart(*parsed->second.Doc);
  return FPackage->Read(name);
}

std::string TWorkbookFile::CopyPartTree(const std::string& name, std::map<std::string, std::string>& copies) {
  if (auto done = copies.find(name); done != copies.end()) return done->second;
  // Images and pivot caches are shared by what points at them.
  if (name.find("/media/") != std::string::npos || name.find("pivotCacheDefinition") != std::string::npos) return name;
  size_t slash = name.rfind('/');
  std::string dir = name.substr(0, slash + 1), stem, extension;
  SplitNumberedName(name.substr(slash + 1), stem, extension);
  std::string copy;
  for (int n = 1;; ++n) {
    copy = dir + stem + std::to_string(n) + extension;
    if (!HasPart(copy) && FParts.find(copy) == FParts.end()) break;
  }
  copies[name] = copy;
  FPackage->Write(copy, PartContent(name));
  TPart& types = Part(kContentTypes);
  for (pugi::xml_node o : Children(types.Doc->document_element(), "Override"))
    if (std::string_view(o.attribute("PartName").value()) == "/" + name) {
      pugi::xml_node added = types.Doc->document_element().insert_copy_after(o, o);
      SetAttr(added, "PartName", "/" + copy);
      types.Modified = true;
      break;
    }
  std::string relsName = RelsPartOf(name);
  if (HasPart(relsName)) {
    // The copy's relationships: its own copies of what the part owns, in
    // the same folders, so relative targets change only in their file name.
    std::string content = PartContent(relsName);
    FPackage->Write(RelsPartOf(copy), content);
    pugi::xml_document& rels = *Part(RelsPartOf(copy)).Doc;
    for (pugi::xml_node r : Children(rels.document_element(), "Relationship")) {
      if (std::string_view(r.attribute("TargetMode").value()) == "External") continue;
      std::string target = r.attribute("Target").value();
      std::string resolved = ResolveTarget(name, target);
      if (!HasPart(resolved)) continue;
      std::string copied = CopyPartTree(resolved, copies);
      if (copied == resolved) continue;
      SetAttr(r, "Target", target.substr(0, target.rfind('/') + 1) + copied.substr(copied.rfind('/') + 1));
    }
    Part(RelsPartOf(copy)).Modified = true;
  }
  return copy;
}

std::shared_ptr<TSheet> TWorkbookFile::CopySheet(TSheet& source, int before) {
  int sourceIndex = IndexOf(source);
  if (sourceIndex < 0) throw EWorkbookError(rtl::UnicodeString(SSheetDeleted));
  if (!source.IsWorksheet) throw EWorkbookError(rtl::UnicodeString(SNoCells));
  if (before < 0 || before > static_cast<int>(FSheets.size())) throw EWorkbookError(rtl::UnicodeString(SObjectError));
  EnsureLoaded(source);
  LoadAll();
  // "Orders (2)", "Orders (3)"...: the base cut so that the name fits.
  rtl::UnicodeString base = rtl::Utf8ToUnicode(CopyBaseName(source.Name));
  std::string name;
  for (int n = 2;; ++n) {
    rtl::UnicodeString suffix = u" (" + rtl::IntToStr(n) + u")";
    name = rtl::UnicodeToUtf8(base.substr(0, 31 - suffix.size()) + suffix);
    bool used = false;
    for (const auto& s : FSheets) used |= SameSheetName(s->Name, name);
    if (!used) break;
  }

  std::string content;
  TPartWriter writer = source.Writer();
  for (std::string chunk; writer(chunk); chunk.clear()) content += chunk;
  // Parts the sheet owns are copied with it; pivot tables stay with the
  // source (a copy would need a cache of its own).
  std::map<std::string, std::string> copies;
  pugi::xml_document rels;
  std::vector<std::string> tables, charts;
  std::string sourceRels = RelsPartOf(source.PartName);
  if (HasPart(sourceRels)) {
    rels.load_string(PartContent(sourceRels).c_str(), pugi::parse_default | pugi::parse_declaration);
    for (pugi::xml_node r : Children(rels.document_element(), "Relationship")) {
      if (std::string_view(r.attribute("TargetMode").value()) == "External") continue;
      std::string target = r.attribute("Target").value();
      std::string resolved = ResolveTarget(source.PartName, target);
      if (!HasPart(resolved)) continue;
      if (std::string_view(r.attribute("Type").value()).ends_with("/pivotTable")) {
        r.parent().remove_child(r);
        continue;
      }
      std::string copied = CopyPartTree(resolved, copies);
      SetAttr(r, "Target", target.substr(0, target.rfind('/') + 1) + copied.substr(copied.rfind('/') + 1));
    }
  }
  for (const auto& [from, to] : copies) {
    if (to.rfind("xl/tables/", 0) == 0) tables.push_back(to);
    if (to.rfind("xl/charts/chart", 0) == 0 && to.find("/_rels/") == std::string::npos) charts.push_back(to);
  }

  std::string partName = NewWorksheetPart();
  if (rels.document_element()) FPackage->Write(RelsPartOf(partName), SerializePart(rels));
  std::shared_ptr<TSheet> copy = AddWorksheet(before, name, std::move(content), partName);
  if (before <= sourceIndex) ++sourceIndex;
  int copyIndex = IndexOf(*copy);
  copy->Modified = true;
  // The copy is not selected with its source.
  for (pugi::xml_node view : Children(Child(copy->Root(), "sheetViews"), "sheetView"))
    view.remove_attribute("tabSelected");

  // References to the source sheet by name, in the copy and in what it owns,
  // point at the copy, as the application makes them.
  TReferenceChange toCopy{TReferenceChange::RenameSheet, source.Name, 0, 0, {}, name};
  auto rewrite = [&](std::string& formula) {
    std::string after = ApplyReferenceChange(formula, toCopy, name);
    if (after == formula) return false;
    formula = std::move(after);
    return true;
  };
  for (TCellExtra& extra : copy->Extras) rewrite(extra.Formula);
  auto rewriteNodes = [&](pugi::xml_node root, const char* element) {
    bool changed = false;
    for (pugi::xml_node f : Descendants(root, element)) {
      std::string text = f.child_value();
      if (rewrite(text)) {
        f.text().set(text.c_str());
        changed = true;
      }
    }
    return changed;
  };
  for (const char* element : {"formula", "formula1", "formula2", "f"}) rewriteNodes(copy->Root(), element);
  for (const std::string& chart : charts)
    if (rewriteNodes(Part(chart).Doc->document_element(), "f")) Part(chart).Modified = true;

  // Tables take names and ids of their own ("Sales_2"); the copy's formulas
  // name them so.
  uint32_t nextId = 1;
  std::set<std::string> taken;
  for (const std::string& part : FPackage->Names()) {
    if (part.rfind("xl/tables/", 0) != 0 || part.find("/_rels/") != std::string::npos) continue;
    pugi::xml_node t = Part(part).Doc->document_element();
    nextId = std::max(nextId, t.attribute("id").as_uint() + 1);
    for (const char* attribute : {"name", "displayName"})
      taken.insert(rtl::UnicodeToUtf8(rtl::AnsiUpperCase(rtl::Utf8ToUnicode(t.attribute(attribute).value()))));
  }
  for (const std::string& part : tables) {
    TPart& table = Part(part);
    pugi::xml_node t = table.Doc->document_element();
    std::string old = t.attribute("displayName").value();
    std::string fresh;
    for (int n = 2;; ++n) {
      fresh = old + "_" + std::to_string(n);
      if (!taken.count(rtl::UnicodeToUtf8(rtl::AnsiUpperCase(rtl::Utf8ToUnicode(fresh))))) break;
    }
    taken.insert(rtl::UnicodeToUtf8(rtl::AnsiUpperCase(rtl::Utf8ToUnicode(fresh))));
    SetAttr(t, "id", std::to_string(nextId++));
    SetAttr(t, "name", fresh);
    SetAttr(t, "displayName", fresh);
    for (const char* element : {"calculatedColumnFormula", "totalsRowFormula"})
      for (pugi::xml_node f : Descendants(t, element))
        f.text().set(RenameTableReferences(f.child_value(), old, fresh).c_str());
    table.Modified = true;
    for (TCellExtra& extra : copy->Extras) extra.Formula = RenameTableReferences(extra.Formula, old, fresh);
  }

  // Names that belong to the source sheet (print titles and area among
  // them) belong to the copy too.
  pugi::xml_node names = Child(Part(FWorkbookPart).Doc->document_element(), "definedNames");
  for (pugi::xml_node n : Children(names, "definedName")) {
    pugi::xml_attribute local = n.attribute("localSheetId");
    if (!local || local.as_int() != sourceIndex) continue;
    pugi::xml_node added = names.append_copy(n);
    added.attribute("localSheetId").set_value(copyIndex);
    std::string text = added.child_value();
    rewrite(text);
    added.text().set(text.c_str());
  }
  Part(FWorkbookPart).Modified = true;
  FCellsChanged = FFormulasChanged = true;
  return copy;
}

}  // namespace spreadsheet
