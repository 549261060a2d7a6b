#include <gtest/gtest.h>

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
  for (int r = 1; r <= 50; ++r) rows += "<x:row r=\"" + std::to_string(r) + "\"><x:c><x:v>" + std::to_string(r) + "</x:v></x:c></x:row>";
  const std::string text = "<?xml version=\"1.0\"?><x:worksheet xmlns:x=\"urn:main\"><x:sheetViews/><x:sheetData>" + rows +
                           "</x:sheetData><x:pageMargins left=\"1\"/></x:worksheet>";
  for (size_t piece : {1u, 3u, 7u, 64u, 100000u}) {
    pugi::xml_document doc;
    std::vector<int> seen;
    ParsePartStreaming(doc, Trickle(text, piece), "sheet.xml", "sheetData", "row", [&](const pugi::xml_node& row) {
      seen.push_back(row.attribute("r").as_int());
    });
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
  for (std::string text : {std::string("<sst/>"), std::string("<sst count=\"0\"></sst>"), std::string("<other><si/></other>")}) {
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
      ParsePartStreaming(doc, Trickle(text, 5), "xl/worksheets/sheet9.xml", "sheetData", "row", [](const pugi::xml_node&) {});
      ADD_FAILURE() << text;
    } catch (const EPackageError& e) {
      EXPECT_NE(rtl::UnicodeToUtf8(e.Message()).find("xl/worksheets/sheet9.xml"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace spreadsheet
