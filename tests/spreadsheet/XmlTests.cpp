#include <gtest/gtest.h>

#include <sstream>

#include "spreadsheet/Package.h"
#include "spreadsheet/Xml.h"

namespace spreadsheet {
namespace {

// A source handing out the text a few bytes at a time, so that tags and
// end tags fall across pieces.
TPartSource Trickle(const std::string& text, size_t piece) {
  auto at = std::make_shared<size_t>(0);
  return [text, piece, at](std::string& out) {
    if (*at >= text.size()) return false;
    out.append(text, *at, piece);
    *at += piece;
    return true;
  };
}

TEST(StreamingParse, ChildrenArriveInOrderWhateverThePieceSize) {
  std::string rows;
  for (int r = 1; r <= 50; ++r)
    rows += "<x:row r=\"" + std::to_string(r) + "\"><x:c><x:v>" + std::to_string(r) + "</x:v></x:c></x:row>";
  const std::string text = "<?xml version=\"1.0\"?><x:worksheet xmlns:x=\"urn:main\"><x:sheetViews/><x:sheetData>" +
                           rows + "</x:sheetData><x:pageMargins left=\"1\"/></x:worksheet>";
  for (size_t piece : {1u, 3u, 7u, 64u, 100000u}) {
    pugi::xml_document doc;
    std::vector<int> seen;
    ParsePartStreaming(doc, Trickle(text, piece), "sheet.xml", "sheetData", "row",
                       [&](const pugi::xml_node& row) { seen.push_back(row.attribute("r").as_int()); });
    ASSERT_EQ(seen.size(), 50u) << piece;
    EXPECT_EQ(seen.front(), 1);
    EXPECT_EQ(seen.back(), 50);
    EXPECT_EQ(SerializePart(doc),
              "<?xml version=\"1.0\"?><x:worksheet xmlns:x=\"urn:main\"><x:sheetViews/><x:sheetData/>"
              "<x:pageMargins left=\"1\"/></x:worksheet>")
        << piece;
  }
}

TEST(StreamingParse, PartsWithoutTheContainerOrWithAnEmptyOneParseWhole) {
  for (std::string text :
       {std::string("<sst/>"), std::string("<sst count=\"0\"></sst>"), std::string("<other><si/></other>")}) {
    pugi::xml_document doc;
    int children = 0;
    ParsePartStreaming(doc, Trickle(text, 2), "p.xml", "sst", "si", [&](const pugi::xml_node&) { ++children; });
    EXPECT_EQ(children, 0) << text;
    EXPECT_TRUE(doc.document_element()) << text;
  }
}

TEST(StreamingParse, BrokenPartsAreReportedWithTheirName) {
  for (std::string text : {std::string("<w><sheetData><row></sheetData></w>"), std::string("<w><sheetData><row/>")}) {
    pugi::xml_document doc;
    try {
      ParsePartStreaming(doc, Trickle(text, 5), "xl/worksheets/sheet9.xml", "sheetData", "row",
                         [](const pugi::xml_node&) {});
      ADD_FAILURE() << text;
    } catch (const EPackageError& e) {
      EXPECT_NE(rtl::UnicodeToUtf8(e.Message()).find("xl/worksheets/sheet9.xml"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace spreadsheet

namespace spreadsheet {
namespace {

// An attribute written into a part takes the prefix the element has in
// scope for its namespace, and declares one only where none is.
TEST(NamespacePrefixes, AttributesUseTheBindingInScopeOrDeclareOneOnTheElement) {
  struct TCase {
    const char* Part;      // the element that gets the attribute is <target>
    const char* Expected;  // the element afterwards
  };
  const TCase cases[] = {
      // Declared on the root, as Excel does.
      {"<w xmlns:r=\"urn:rel\"><target/></w>", "<target r:id=\"x\"/>"},
      // Under another prefix.
      {"<w xmlns:rel=\"urn:rel\"><s><target/></s></w>", "<target rel:id=\"x\"/>"},
      // Declared only on siblings, as openpyxl does: out of scope here.
      {"<w><s xmlns:r=\"urn:rel\"/><target/></w>", "<target xmlns:r=\"urn:rel\" r:id=\"x\"/>"},
      // "r" bound to another namespace nearer: a fresh prefix.
      {"<w xmlns:r=\"urn:rel\"><s xmlns:r=\"urn:other\"><target/></s></w>",
       "<target xmlns:r1=\"urn:rel\" r1:id=\"x\"/>"},
      // The default namespace does not apply to attributes.
      {"<w xmlns=\"urn:rel\"><target/></w>", "<target xmlns:r=\"urn:rel\" r:id=\"x\"/>"},
  };
  for (const TCase& c : cases) {
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(c.Part)) << c.Part;
    pugi::xml_node target = Descendants(doc, "target").front();
    target.append_attribute((AttributePrefixFor(target, "urn:rel", "r") + "id").c_str()).set_value("x");
    std::ostringstream out;
    target.print(out, "", pugi::format_raw);
    EXPECT_EQ(out.str(), c.Expected) << c.Part;
    EXPECT_EQ(NamespaceAt(target, "xml:"), "http://www.w3.org/XML/1998/namespace");
  }
}

}  // namespace
}  // namespace spreadsheet
