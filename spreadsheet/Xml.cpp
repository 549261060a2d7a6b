#include "spreadsheet/Xml.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <new>
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
  // pugixml reports memory running out as a parse result; it is not bad XML.
  if (result.status == pugi::status_out_of_memory) throw std::bad_alloc();
  if (!result)
    throw EPackageError(rtl::Utf8ToUnicode("part " + partName + " is not well-formed XML (" + result.description() +
                                           " at offset " + std::to_string(result.offset) + ")"));
}

namespace {

// Finds the start tag of the first element with a given local name in text
// that grows at its end, resuming where the last look stopped: however the
// text arrives, each byte is looked at about once.
class TStartTagScan {
 public:
  explicit TStartTagScan(std::string_view local) : FLocal(local) {}

  // True once the whole start tag is in `text`; then [Begin, End) is the tag.
  bool Find(const std::string& text) {
    for (;;) {
      if (!FNamed) {
        size_t lt = text.find('<', FFrom);
        if (lt == std::string::npos) {
          FFrom = text.size();
          return false;
        }
        FFrom = lt;
        size_t nameEnd = lt + 1;
        while (nameEnd < text.size() && nameEnd - lt <= kMaxName && !EndsName(text[nameEnd])) ++nameEnd;
        if (nameEnd - lt > kMaxName) {  // longer than any name of ours
          FFrom = lt + 1;
          continue;
        }
        if (nameEnd == text.size()) return false;  // the name goes on in the next piece
        std::string_view name(text.data() + lt + 1, nameEnd - lt - 1);
        size_t colon = name.rfind(':');
        if ((colon == std::string_view::npos ? name : name.substr(colon + 1)) != FLocal) {
          FFrom = lt + 1;
          continue;
        }
        Prefix = colon == std::string_view::npos ? std::string() : std::string(name.substr(0, colon + 1));
        FNamed = true;
        FTagEnd = nameEnd;
      }
      size_t gt = text.find('>', FTagEnd);
      if (gt == std::string::npos) {
        FTagEnd = text.size();
        return false;
      }
      Begin = FFrom;
      End = gt + 1;
      Empty = text[gt - 1] == '/';
      return true;
    }
  }

  size_t Begin = 0, End = 0;
  bool Empty = false;  // the tag closes itself
  std::string Prefix;  // with its colon ("x:"), or ""

 private:
  static constexpr size_t kMaxName = 256;
  static bool EndsName(char c) { return c == '>' || c == '/' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

  std::string_view FLocal;
  size_t FFrom = 0;     // no start tag of the element begins before this
  bool FNamed = false;  // the tag at FFrom has the name looked for
  size_t FTagEnd = 0;   // that tag's '>' is not before this
};

// The first `text` in `buffer` from `from` on, or npos. memmem, unlike
// std::string::find, does not compare at every "<" of markup-dense text.
size_t FindText(const std::string& buffer, const std::string& text, size_t from) {
  if (from > buffer.size()) return std::string::npos;
  const void* at = memmem(buffer.data() + from, buffer.size() - from, text.data(), text.size());
  return at ? static_cast<size_t>(static_cast<const char*>(at) - buffer.data()) : std::string::npos;
}

// Where a search for `length` bytes resumes after failing in `size` bytes:
// an occurrence may begin in the last length-1 of them.
size_t ResumeAt(size_t size, size_t length) { return size >= length ? size - length + 1 : 0; }

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
  auto tooLarge = [&](const std::string& detail) {
    return EPackageError(rtl::Utf8ToUnicode("part " + partName + " is too large (" + detail + ")"));
  };
  // What is kept as a tree (the part around the container, or all of it)
  // is held whole, so it keeps to the limit of a part read whole.
  auto holdWhole = [&](uint64_t size) {
    if (size > TPartLimits::Whole)
      throw tooLarge("more than " + std::to_string(TPartLimits::Whole) + " bytes outside <" + std::string(container) +
                     ">");
  };
  auto parseBatch = [&](size_t length) {
    std::string batch = "<batch>";
    batch.append(buffer, 0, length);
    batch += "</batch>";
    buffer.erase(0, length);
    pugi::xml_document part;
    pugi::xml_parse_result result = part.load_buffer_inplace(batch.data(), batch.size(),
                                                             pugi::parse_default | pugi::parse_ws_pcdata_single);
    if (result.status == pugi::status_out_of_memory) throw std::bad_alloc();
    if (!result) throw malformed(result.description());
    for (pugi::xml_node node = part.first_child().first_child(); node; node = node.next_sibling())
      if (node.type() == pugi::node_element) onChild(node);
  };

  // The part up to the container's start tag (small: what precedes the rows).
  TStartTagScan scan(container);
  bool found = false;
  while (!(found = scan.Find(buffer)) && more()) holdWhole(buffer.size());
  if (!found || scan.Empty) {
    // Nothing to stream (or an unusual layout): one tree, children handed
    // over and removed.
    while (more()) holdWhole(buffer.size());
    ParsePart(doc, buffer, partName);
    for (pugi::xml_node element : Descendants(doc, container)) {
      for (pugi::xml_node c = element.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element) onChild(c);
      while (element.first_child()) element.remove_child(element.first_child());
      break;
    }
    return;
  }
  std::string head = buffer.substr(0, scan.End);
  buffer.erase(0, scan.End);

  // The children, in batches split after the end tag of a child: a child
  // does not contain its own kind, and text cannot hold a raw "<", so such an
  // end tag is always a boundary between children. Each search goes on from
  // where the last one stopped, so a long child costs no rescans.
  const std::string closeTag = "</" + scan.Prefix + std::string(container) + ">";
  const std::string childEnd = "</" + scan.Prefix + std::string(child) + ">";
  const size_t batchBytes = 1 << 20;
  size_t closeFrom = 0;  // the close tag does not begin before this
  size_t childFrom = 0;  // every child end before this is known
  size_t split = 0;      // just after the last child end; 0 for none
  for (;;) {
    size_t close = FindText(buffer, closeTag, closeFrom);
    if (close != std::string::npos) {
      parseBatch(close);
      break;
    }
    closeFrom = ResumeAt(buffer.size(), closeTag.size());
    for (size_t at; (at = FindText(buffer, childEnd, childFrom)) != std::string::npos;)
      childFrom = split = at + childEnd.size();
    childFrom = std::max(childFrom, ResumeAt(buffer.size(), childEnd.size()));
    if (split >= batchBytes) {
      parseBatch(split);
      closeFrom = closeFrom > split ? closeFrom - split : 0;
      childFrom -= split;
      split = 0;
    } else if (buffer.size() - split > TPartLimits::Element) {
      throw tooLarge("one <" + std::string(child) + "> element holds more than " +
                     std::to_string(TPartLimits::Element) + " bytes");
    } else if (buffer.size() - split > batchBytes) {
      // A child larger than a batch: room for the largest there may be, so
      // that the buffer is not copied again and again as it grows.
      buffer.reserve(batchBytes + TPartLimits::Element + (2 << 20));
    }
    if (!more()) throw malformed("no end of " + std::string(container));
  }
  while (more()) holdWhole(head.size() + buffer.size());
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

void SetAttr(pugi::xml_node node, const char* name, const std::string& value) {
  if (!node.attribute(name)) node.append_attribute(name);
  node.attribute(name).set_value(value.c_str());
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
        if (attribute)
          out += "&quot;";
        else
          out += c;
        break;
      case '\n':
        if (attribute)
          out += "&#10;";
        else
          out += c;
        break;
      case '\r': out += "&#13;"; break;
      case '\t':
        if (attribute)
          out += "&#9;";
        else
          out += c;
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
                         std::all_of(text.begin() + i + 2, text.begin() + i + 6,
                                     [](char h) { return std::isxdigit(static_cast<unsigned char>(h)); });
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
        std::all_of(text.begin() + i + 2, text.begin() + i + 6,
                    [](char h) { return std::isxdigit(static_cast<unsigned char>(h)); })) {
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
  return rel.Type.size() >= suffix.size() &&
         rel.Type.compare(rel.Type.size() - suffix.size(), suffix.size(), suffix) == 0;
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
