// XML helpers for package parts: parsing and writing parts with pugixml
// without losing their declaration, finding elements by local name (parts
// may bind the main namespace to a prefix), escaping, and relationships.
#pragma once

#include <pugixml.hpp>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace spreadsheet {

// Parses a part; raises EPackageError naming the part when it is not XML.
void ParsePart(pugi::xml_document& doc, const std::string& content, const std::string& partName);
// Parses a part whose element `container` (local name) may hold very many
// `child` elements: those are handed to `onChild` a batch at a time and never held
// as one tree; `doc` receives the part with that element left empty (and
// created nowhere when the part has none).
// Appends the next piece of a part to `out`; false when nothing remains.
using TPartSource = std::function<bool(std::string& out)>;
void ParsePartStreaming(pugi::xml_document& doc, const TPartSource& source, const std::string& partName,
                        std::string_view container, std::string_view child,
                        const std::function<void(const pugi::xml_node&)>& onChild);
void ParsePartStreaming(pugi::xml_document& doc, const std::string& content, const std::string& partName,
                        std::string_view container, std::string_view child,
                        const std::function<void(const pugi::xml_node&)>& onChild);
// The part as text, declaration kept, no reformatting.
std::string SerializePart(const pugi::xml_document& doc);

// "x:row" -> "row".
std::string_view LocalName(const pugi::xml_node& node);
// The namespace prefix of an element with its colon ("x:"), or "".
std::string PrefixOf(const pugi::xml_node& node);
pugi::xml_node Child(const pugi::xml_node& node, std::string_view local);
std::vector<pugi::xml_node> Children(const pugi::xml_node& node, std::string_view local);
// Every descendant element with the local name, in document order.
std::vector<pugi::xml_node> Descendants(const pugi::xml_node& node, std::string_view local);
// The child with the local name, created with the parent's prefix at the
// place `order` (the schema's sequence of local names) gives it.
pugi::xml_node EnsureChild(pugi::xml_node parent, std::string_view local, const std::vector<std::string_view>& order);
// Sets an attribute, adding it at the end when absent.
void SetAttr(pugi::xml_node node, const char* name, const std::string& value);

void AppendEscaped(std::string& out, std::string_view text, bool attribute);
// Text as stored in the cells' XML: characters XML cannot carry become
// _xHHHH_ escapes, as the application writes them; DecodeCellText undoes it.
void AppendCellText(std::string& out, std::string_view text);
std::string DecodeCellText(std::string_view text);

// The children text of all <t> elements under a node, skipping phonetic runs.
std::string FlattenText(const pugi::xml_node& node);

struct TRelationship {
  std::string Id;
  std::string Type;
  std::string Target;
  bool External = false;
};

// "xl/worksheets/_rels/sheet1.xml.rels" for "xl/worksheets/sheet1.xml".
std::string RelsPartOf(const std::string& partName);
// The part a relationship of `sourcePart` points at ("../drawings/d1.xml"
// from "xl/worksheets/sheet1.xml" is "xl/drawings/d1.xml").
std::string ResolveTarget(const std::string& sourcePart, const std::string& target);
std::vector<TRelationship> ReadRelationships(const pugi::xml_document& rels);
// The relationship id attribute of an element ("r:id", whatever the prefix).
pugi::xml_attribute RelIdAttribute(const pugi::xml_node& node);
// Relationship type ends with "/worksheet", "/table", ...
bool HasType(const TRelationship& rel, std::string_view suffix);

}  // namespace spreadsheet

namespace spreadsheet {

// Namespaces where an element stands. Producers declare them where they
// like: Excel on the root, openpyxl on each element that needs one
// (<sheet xmlns:r="..." r:id="..."/>), others with prefixes of their own
// ("x:row"). What is written into a part must use a binding in scope there.

// The URI bound to a prefix ("r:", or "" for the default namespace) where
// `node` stands; "" when none is.
std::string NamespaceAt(const pugi::xml_node& node, std::string_view prefix);
// The prefix of an attribute in namespace `uri` on `node` ("r:"): one in
// scope there, or else `preferred` (made unique when it is bound to another
// namespace) declared on `node` itself.
std::string AttributePrefixFor(pugi::xml_node node, std::string_view uri, std::string_view preferred);

}  // namespace spreadsheet
