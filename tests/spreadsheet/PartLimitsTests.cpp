// Reading parts stays linear in their size and within the limits of a
// sheet: a long row or a long stretch before the rows costs one pass, an
// element beyond the limit is refused without reading on, and rows or cells
// outside the sheet are refused rather than dropped.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <utility>

#include "spreadsheet/Package.h"
#include "spreadsheet/References.h"
#include "spreadsheet/Sheet.h"
#include "spreadsheet/Xml.h"

namespace spreadsheet {
namespace {

// Hands out `head`, `piece` `count` times, then `tail`, in pieces of 4 KB
// (small pieces make any rescan of what arrived before show at once);
// `*given` counts the bytes handed out.
TPartSource Pieces(std::string head, std::string piece, size_t count, std::string tail, size_t* given) {
  struct TState {
    std::string Head, Piece, Tail, Pending;
    size_t Left;
  };
  auto state = std::make_shared<TState>(TState{std::move(head), std::move(piece), std::move(tail), {}, count});
  return [state, given](std::string& out) {
    TState& s = *state;
    while (s.Pending.size() < 4096) {
      if (!s.Head.empty()) {
        s.Pending += std::exchange(s.Head, {});
      } else if (s.Left) {
        s.Pending += s.Piece;
        --s.Left;
      } else if (!s.Tail.empty()) {
        s.Pending += std::exchange(s.Tail, {});
      } else {
        break;
      }
    }
    if (s.Pending.empty()) return false;
    size_t n = std::min<size_t>(4096, s.Pending.size());
    out.append(s.Pending, 0, n);
    s.Pending.erase(0, n);
    *given += n;
    return true;
  };
}

std::string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const EPackageError& e) {
    return rtl::UnicodeToUtf8(e.Message());
  }
  return "";
}

TEST(PartLimits, ALongRowOrALongStretchBeforeTheRowsCostsOnePass) {
  // 24 MB in 4 KB pieces: looking again at what arrived before for each
  // piece would take hours; one pass takes a fraction of a second.
  const std::string cells = "<c><v>1</v></c><c><v>2</v></c>";
  struct TCase {
    const char* Title;
    std::string Head, Piece, Tail;
  } cases[] = {
      {"one long row", "<worksheet><sheetData><row r=\"1\">", cells, "</row></sheetData></worksheet>"},
      {"a long stretch before the rows", "<worksheet><sheetPr>", "<!-- padding padding -->",
       "</sheetPr><sheetData><row r=\"1\">" + cells + "</row></sheetData></worksheet>"},
  };
  for (const TCase& c : cases) {
    size_t given = 0;
    size_t cellsSeen = 0;
    pugi::xml_document doc;
    auto start = std::chrono::steady_clock::now();
    ParsePartStreaming(doc, Pieces(c.Head, c.Piece, (24 << 20) / c.Piece.size(), c.Tail, &given), "sheet.xml",
                       "sheetData", "row", [&](const pugi::xml_node& row) {
                         for (pugi::xml_node cell = row.first_child(); cell; cell = cell.next_sibling()) ++cellsSeen;
                       });
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_GT(cellsSeen, 1u) << c.Title;
    EXPECT_GT(given, 24u << 20) << c.Title;
    EXPECT_LT(seconds, 20.0) << c.Title;
  }
}

TEST(PartLimits, AnElementBeyondTheLimitIsRefusedWithoutReadingOn) {
  for (auto [container, child] : {std::pair{"sheetData", "row"}, std::pair{"sst", "si"}}) {
    size_t given = 0;
    pugi::xml_document doc;
    std::string head = "<w><" + std::string(container) + "><" + child + ">";
    std::string message = Message([&] {
      ParsePartStreaming(doc, Pieces(head, std::string(1000, 'x'), 1000000, "", &given), "xl/part.xml", container,
                         child, [](const pugi::xml_node&) {});
    });
    EXPECT_EQ(message, "part xl/part.xml is too large (one <" + std::string(child) + "> element holds more than " +
                           std::to_string(TPartLimits::Element) + " bytes)");
    EXPECT_LT(given, TPartLimits::Element + (2 << 20));
  }
}

TEST(PartLimits, RowsAndCellsOutsideTheSheetAreRefusedNotDropped) {
  std::string widest;  // every column of a row, each cell with a long text
  for (uint32_t c = 1; c <= kMaxColumn; ++c)
    widest += "<c t=\"inlineStr\"><is><t>" + std::string(100, 'w') + "</t></is></c>";
  struct TCase {
    std::string Rows;
    std::string Refusal;  // "" when the sheet loads
  } cases[] = {
      {"<row r=\"1048576\"><c r=\"XFD1048576\"><v>1</v></c></row>", ""},
      {"<row r=\"1\">" + widest + "</row>", ""},
      {"<row r=\"1048577\"><c><v>1</v></c></row>", "has row 1048577, outside the sheet (rows 1 to 1048576)"},
      {"<row r=\"0\"/>", "has row 0, outside the sheet (rows 1 to 1048576)"},
      {"<row r=\"99999999999999999999999\"/>", "has row 99999999999999999999999, outside the sheet"},
      {"<row r=\"" + std::string(100000, '9') + "\"/>", "has row 99999999999999999999..., outside the sheet"},
      {"<row r=\"1048576\"/><row><c><v>1</v></c></row>", "has a row after row 1048576, outside the sheet"},
      {"<row r=\"3\"><c r=\"XFE3\"><v>1</v></c></row>", "has cell XFE3, outside the sheet (columns A to XFD)"},
      {"<row r=\"3\"><c r=\"AAAAAAAAAAAAAAA3\"><v>1</v></c></row>", "has cell AAAAAAAAAAAAAAA3, outside the sheet"},
      {"<row r=\"3\"><c r=\"XFD3\"><v>1</v></c><c><v>2</v></c></row>",
       "has a cell after column XFD in row 3, outside the sheet (columns A to XFD)"},
      // A cell keeps its style in 17 bits: one beyond is refused, not cut short.
      {"<row r=\"2\"><c r=\"XFD2\" s=\"131071\"><v>1</v></c></row>", ""},
      {"<row r=\"2\"><c r=\"B2\" s=\"131072\"><v>1</v></c></row>",
       "gives cell B2 style 131072, beyond the styles a workbook can have"},
  };
  for (const TCase& c : cases) {
    TSheet sheet;
    sheet.PartName = "xl/worksheets/sheet1.xml";
    std::string message = Message([&] { sheet.Load("<worksheet><sheetData>" + c.Rows + "</sheetData></worksheet>"); });
    if (c.Refusal.empty()) {
      EXPECT_EQ(message, "") << c.Rows.substr(0, 80);
      EXPECT_TRUE(sheet.Loaded);
      EXPECT_EQ(sheet.Rows().size(), 1u);
      const TCell& last = sheet.Rows()[0].Cells.back();
      EXPECT_EQ(last.Column, kMaxColumn);
      EXPECT_EQ(last.Style, c.Rows.find("s=") != std::string::npos ? TCell::kMaxStyle : 0u);
      continue;
    }
    EXPECT_THAT(message, ::testing::StartsWith("part xl/worksheets/sheet1.xml " + c.Refusal)) << c.Rows;
    // Nothing read before the refusal stays behind.
    EXPECT_FALSE(sheet.Loaded);
    EXPECT_TRUE(sheet.Rows().empty());
    EXPECT_TRUE(sheet.Pool.empty());
  }
}

}  // namespace
}  // namespace spreadsheet

namespace spreadsheet {
namespace {

// Cells may share a stored text: whatever mix of repeats, hash collisions,
// empty, short and long texts goes in, each index reads back its own text.
TEST(TextPool, EveryIndexReadsBackItsTextWhenRepeatsAreShared) {
  TTextPool pool;
  std::vector<std::pair<uint32_t, std::string>> added;
  uint32_t seed = 7;
  auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int k = 0; k < 50000; ++k) {
    std::string text;
    switch (next() % 4) {
      case 0: text = "tag" + std::to_string(next() % 8); break;          // repeated often
      case 1: text = "name" + std::to_string(k); break;                  // never repeated
      case 2: text = std::string(next() % 3 == 0 ? 0 : 64, 'x'); break;  // empty, and the longest shared
      default: text = std::string(65 + next() % 100, 'y') + std::to_string(next() % 4); break;
    }
    added.emplace_back(pool.Add(text), text);
  }
  for (const auto& [index, text] : added) ASSERT_EQ(pool[index], text);
  EXPECT_LT(pool.size(), 50000u * 3 / 4);  // the repeats were not stored again
  pool.clear();
  EXPECT_EQ(pool[pool.Add("after")], "after");
}

}  // namespace
}  // namespace spreadsheet
