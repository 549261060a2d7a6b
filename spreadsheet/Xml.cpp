#include "spreadsheet/Xml.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <sstream>

#include "spreadsheet/Package.h"

namespace spreadsheet {

namespace {
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration | pugi::parse_ws_pcdata_single |
                                   pugi::parse_doctype | pugi::parse_pi | pugi::parse_comments;

struct TStringWriter : pugi::xml_writer {
  std::string* Out;
  void write(const void* data, size_t size) override { Out->append(static_cast<const char*>(data), size); }
};
}  // namespace

void ParsePart(pugi::xml_document& doc, const std::string& content, const std::string& partName) {
  pugi::xml_parse_result result = doc.load_buffer(content.data(), content.size(), kParseOptions, pugi::encoding_auto);
  if (!result)
    throw EPackageError(rtl::Utf8ToUnicode("part " + partName + " is not well-formed XML (" + result.description() +
                                           " at offset " + std::to_string(result.offset) + ")"));
}

namespace {

// Locates the start tag of the first element with the given local name:
// [begin, end) of the start tag, and whether it closes itself.
bool FindStartTag(const std::string& content, std::string_view local, size_t& begin, size_t& end, bool& empty,
                  std::string& prefix) {
  size_t at = 0;
  while ((at = content.find(local, at)) != std::string::npos) {
    size_t after = at + local.size();
    if (after >= content.size() || (content[after] != '>' && content[after] != '/' && content[after] != ' ' &&
                                    content[after] != '\t' && content[after] != '\r' && content[after] != '\n')) {
      at = after;
      continue;
    }
    size_t lt = at;
    while (lt > 0 && content[lt - 1] != '<' && content[lt - 1] != '>' && content[lt - 1] != ' ' && at - lt < 32) --lt;
    if (lt == 0 || content[lt - 1] != '<') {
      at = after;
      continue;
    }
    prefix = content.substr(lt, at - lt);
    if (!prefix.empty() && prefix.back() != ':') {
      at = after;
      continue;
    }
    begin = lt - 1;
    end = content.find('>', after);
    if (end == std::string::npos) return false;
    empty = content[end - 1] == '/';
    ++end;
    return true;
  }
  return false;
}

}  // namespace

void ParsePartStreaming(pugi::xml_document& doc, const TPartSource& source, const std::string& partName,
                        std::string_view container, std::string_view child,
                        const std::function<void(const pugi::xml_node&)>& onChild) {
  std::string buffer;
  bool exhausted = false;
  auto more = [&] {
    if (exhausted) return false;
    size_t before = buffer.size();
    if (!source(buffer)) exhausted = true;
    return buffer.size() > before || !exhausted;
  };
  auto malformed = [&](const std::string& reason) {
    return EPackageError(rtl::Utf8ToUnicode("part " + partName + " is not well-formed XML (" + reason + ")"));
  };
  auto parseBatch = [&](size_t length) {
    std::string batch = "<batch>";
    batch.append(buffer, 0, length);
    batch += "</batch>";
    buffer.erase(0, length);
    pugi::xml_document part;
    pugi::xml_parse_result result =
        part.load_buffer_inplace(batch.data(), batch.size(), pugi::parse_default | pugi::parse_ws_pcdata_single);
    if (!result) throw malformed(result.description());
    for (pugi::xml_node node = part.first_child().first_child(); node; node = node.next_sibling())
      if (node.type() == pugi::node_element) onChild(node);
  };

  // The part up to the container's start tag (small: what precedes the rows).
  size_t begin, end;
  bool empty = false, found = false;
  std::string prefix;
  while (!(found = FindStartTag(buffer, container, begin, end, empty, prefix)) && more()) {
  }
  if (!found || empty) {
    // Nothing to stream (or an unusual layout): one tree, children handed
    // over and removed.
    while (more()) {
    }
    ParsePart(doc, buffer, partName);
    for (pugi::xml_node element : Descendants(doc, container)) {
      for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element) onChild(c);
      while (element.first_child()) element.remove_child(element.first_child());
      break;
    }
    return;
  }
  std::string head = buffer.substr(0, end);
  buffer.erase(0, end);

  // The children, in batches split after the end tag of a child: a child
  // does not contain its own kind, and text cannot hold a raw "<", so such an
  // end tag is always a boundary between children.
  const std::string closeTag = "</" + prefix + std::string(container) + ">";
  const std::string childEnd = "</" + prefix + std::string(child) + ">";
  const size_t batchBytes = 4 << 20;
  size_t searched = 0;  // the close tag is not in buffer[0, searched)
  for (;;) {
    size_t close = buffer.find(closeTag, searched);
    if (close != std::string::npos) {
      parseBatch(close);
      break;
    }
    searched = buffer.size() >= closeTag.size() ? buffer.size() - closeTag.size() + 1 : 0;
    if (buffer.size() >= batchBytes) {
      size_t split = buffer.rfind(childEnd);
      if (split != std::string::npos) {
        parseBatch(split + childEnd.size());
        searched = 0;
      }
    }
    if (!more()) throw malformed("no end of " + std::string(container));
  }
  while (more()) {
  }
  ParsePart(doc, head + buffer, partName);
}

void ParsePartStreaming(pugi::xml_document& doc, const std::string& content, const std::string& partName,
                        std::string_view container, std::string_view child,
                        const std::function<void(const pugi::xml_node&)>& onChild) {
  bool given = false;
  ParsePartStreaming(
      doc,
      [&](std::string& out) {
        if (given) return false;
        out += content;
        given = true;
        return true;
      },
      partName, container, child, onChild);
}

std::string SerializePart(const pugi::xml_document& doc) {
  std::string out;
  TStringWriter writer;
  writer.Out = &out;
  doc.save(writer, "", pugi::format_raw, pugi::encoding_utf8);
  return out;
}

std::string_view LocalName(const pugi::xml_node& node) {
  std::string_view name = node.name();
  size_t colon = name.find(':');
  return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

std::string PrefixOf(const pugi::xml_node& node) {
  std::string_view name = node.name();
  size_t colon = name.find(':');
  return colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon + 1));
}

pugi::xml_node Child(const pugi::xml_node& node, std::string_view local) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && LocalName(c) == local) return c;
  return {};
}

std::vector<pugi::xml_node> Children(const pugi::xml_node& node, std::string_view local) {
  std::vector<pugi::xml_node> out;
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && LocalName(c) == local) out.push_back(c);
  return out;
}

std::vector<pugi::xml_node> Descendants(const pugi::xml_node& node, std::string_view local) {
  std::vector<pugi::xml_node> out;
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    if (LocalName(c) == local) out.push_back(c);
    auto inner = Descendants(c, local);
    out.insert(out.end(), inner.begin(), inner.end());
  }
  return out;
}

pugi::xml_node EnsureChild(pugi::xml_node parent, std::string_view local, const std::vector<std::string_view>& order) {
  if (pugi::xml_node existing = Child(parent, local)) return existing;
  std::string name = PrefixOf(parent) + std::string(local);
  auto mine = std::find(order.begin(), order.end(), local);
  // After the last child the schema puts before it; elements the order does
  // not know (extensions, alternate content) are stepped over.
  pugi::xml_node after;
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    auto rank = std::find(order.begin(), order.end(), LocalName(c));
    if (rank != order.end() && rank < mine) after = c;
  }
  if (after) return parent.insert_child_after(name.c_str(), after);
  return parent.prepend_child(name.c_str());
}

void AppendEscaped(std::string& out, std::string_view text, bool attribute) {
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"':
        if (attribute) out += "&quot;";
        else out += c;
        break;
      case '\n':
        if (attribute) out += "&#10;";
        else out += c;
        break;
      case '\r': out += "&#13;"; break;
      case '\t':
        if (attribute) out += "&#9;";
        else out += c;
        break;
      default: out += c;
    }
  }
}

void AppendCellText(std::string& out, std::string_view text) {
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool invalid = c < 0x20 && c != '\t' && c != '\n' && c != '\r';
    // A literal "_xHHHH_" would read back as an escape: escape its underscore.
    bool literalEscape = c == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
                         std::all_of(text.begin() + i + 2, text.begin() + i + 6, [](char h) { return std::isxdigit(static_cast<unsigned char>(h)); });
    if (!invalid && !literalEscape) continue;
    AppendEscaped(out, text.substr(start, i - start), false);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "_x%04X_", static_cast<unsigned>(c));
    out += buffer;
    start = i + 1;
  }
  AppendEscaped(out, text.substr(start), false);
}

std::string DecodeCellText(std::string_view text) {
  if (text.find("_x") == std::string_view::npos) return std::string(text);
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
        std::all_of(text.begin() + i + 2, text.begin() + i + 6, [](char h) { return std::isxdigit(static_cast<unsigned char>(h)); })) {
      unsigned code = static_cast<unsigned>(std::stoul(std::string(text.substr(i + 2, 4)), nullptr, 16));
      rtl::UnicodeString u;
      u.push_back(static_cast<char16_t>(code));
      out += rtl::UnicodeToUtf8(u);
      i += 6;
      continue;
    }
    out += text[i];
  }
  return out;
}

std::string FlattenText(const pugi::xml_node& node) {
  // Text is a <t> of the item or of one of its runs (<r>); runs do not nest,
  // so the walk goes two levels down and no further whatever a file holds.
  std::string out;
  auto addTexts = [&](const pugi::xml_node& parent, bool runs) {
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling()) {
      if (c.type() != pugi::node_element) continue;
      std::string_view local = LocalName(c);
      if (local == "t") {
        out += DecodeCellText(c.text().get());
      } else if (runs && local == "r") {
        for (pugi::xml_node t = c.first_child(); t; t = t.next_sibling())
          if (t.type() == pugi::node_element && LocalName(t) == "t") out += DecodeCellText(t.text().get());
      }
    }
  };
  addTexts(node, true);
  return out;
}

std::string RelsPartOf(const std::string& partName) {
  size_t slash = partName.rfind('/');
  std::string dir = slash == std::string::npos ? "" : partName.substr(0, slash + 1);
  std::string file = slash == std::string::npos ? partName : partName.substr(slash + 1);
  return dir + "_rels/" + file + ".rels";
}

std::string ResolveTarget(const std::string& sourcePart, const std::string& target) {
  std::vector<std::string> parts;
  std::string path;
  if (!target.empty() && target[0] == '/') {
    path = target.substr(1);
  } else {
    size_t slash = sourcePart.rfind('/');
    path = (slash == std::string::npos ? "" : sourcePart.substr(0, slash + 1)) + target;
  }
  std::stringstream ss(path);
  std::string piece;
  while (std::getline(ss, piece, '/')) {
    if (piece.empty() || piece == ".") continue;
    if (piece == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(piece);
  }
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) out += (i ? "/" : "") + parts[i];
  return out;
}

std::vector<TRelationship> ReadRelationships(const pugi::xml_document& rels) {
  std::vector<TRelationship> out;
  for (pugi::xml_node r : Children(rels.document_element(), "Relationship")) {
    TRelationship rel;
    rel.Id = r.attribute("Id").value();
    rel.Type = r.attribute("Type").value();
    rel.Target = r.attribute("Target").value();
    rel.External = std::string_view(r.attribute("TargetMode").value()) == "External";
    out.push_back(std::move(rel));
  }
  return out;
}

pugi::xml_attribute RelIdAttribute(const pugi::xml_node& node) {
  for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
    std::string_view name = a.name();
    if (name.size() > 3 && name.substr(name.size() - 3) == ":id") return a;
  }
  return {};
}

bool HasType(const TRelationship& rel, std::string_view suffix) {
  return rel.Type.size() >= suffix.size() && rel.Type.compare(rel.Type.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace spreadsheet

namespace spreadsheet {

std::string NamespaceAt(const pugi::xml_node& node, std::string_view prefix) {
  std::string declaration = prefix.empty() ? "xmlns" : "xmlns:" + std::string(prefix.substr(0, prefix.size() - 1));
  if (declaration == "xmlns:xml") return "http://www.w3.org/XML/1998/namespace";
  for (pugi::xml_node n = node; n && n.type() == pugi::node_element; n = n.parent())
    if (pugi::xml_attribute a = n.attribute(declaration.c_str())) return a.value();
  return {};
}

std::string AttributePrefixFor(pugi::xml_node node, std::string_view uri, std::string_view preferred) {
  // Attributes take no default namespace: a prefix is needed, and the
  // nearest declaration of it must be the one for this URI.
  for (pugi::xml_node n = node; n && n.type() == pugi::node_element; n = n.parent())
    for (pugi::xml_attribute a = n.first_attribute(); a; a = a.next_attribute()) {
      std::string_view name = a.name();
      if (name.rfind("xmlns:", 0) != 0 || a.value() != uri) continue;
      std::string prefix = std::string(name.substr(6)) + ":";
      if (NamespaceAt(node, prefix) == uri) return prefix;
    }
  std::string prefix = std::string(preferred) + ":";
  for (int n = 1; !NamespaceAt(node, prefix).empty(); ++n) prefix = std::string(preferred) + std::to_string(n) + ":";
  node.append_attribute(("xmlns:" + prefix.substr(0, prefix.size() - 1)).c_str()).set_value(std::string(uri).c_str());
  return prefix;
}

}  // namespace spreadsheet
