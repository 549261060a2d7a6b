#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <fstream>

#include "data/qovData.h"
#include "rtl/TextFile.h"

using data::TqovData;
using data::TqovDataRow;
using rtl::TStringList;
using rtl::UnicodeString;
using Fields = std::vector<UnicodeString>;

namespace {

Fields Split(std::u16string_view line, char16_t delimiter) { return TqovDataRow(line, delimiter).Fields().Items(); }

TqovData Table(std::u16string_view text, bool header = true, char16_t delimiter = u';') {
  TStringList lines;
  lines.SetText(text);
  return TqovData(lines, header, delimiter);
}

std::string WriteTemp(const std::string& bytes) {
  static int counter = 0;
  std::string path = testing::TempDir() + "korva-csv-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

}  // namespace

TEST(CsvFields, QuotesBlanksAndDelimiters) {
  struct Case {
    const char16_t* line;
    char16_t delimiter;
    Fields expected;
  } cases[] = {
      {u"\"x y\";z", u';', {u"x y", u"z"}},
      {u"x y;z", u';', {u"x", u"y", u"z"}},
      {u"\"a\"\"b\",c", u',', {u"a\"b", u"c"}},
      {u"\"unterminated, rest", u',', {u"unterminated, rest"}},
      {u"a;;b", u';', {u"a", u"", u"b"}},
      {u";a", u';', {u"", u"a"}},
      {u"a;", u';', {u"a", u""}},
      {u"  a  ;  b  ", u';', {u"a", u"b"}},
      {u"\" padded \";x", u';', {u" padded ", u"x"}},
      {u"\"q\"tail;x", u';', {u"q", u"tail", u"x"}},
      {u"a\t\tb", u'\t', {u"a", u"b"}},
      {u"a\tb\t", u'\t', {u"a", u"b"}},
      {u"a  b", u' ', {u"a", u"b"}},
      {u"", u';', {}},
      {u" \t ", u';', {}},
      {u"\"\"", u';', {u""}},
      {u"\"a;b\";\"c\"\"\"", u';', {u"a;b", u"c\""}},
  };
  for (const auto& c : cases) EXPECT_EQ(Split(c.line, c.delimiter), c.expected) << rtl::UnicodeToUtf8(c.line);
}

TEST(CsvHeaders, NamesFromTheFirstRowOrGenerated) {
  TqovData withHeader = Table(u"a;b;;c\r\n1;2;3;4\r\n");
  ASSERT_EQ(withHeader.HeaderCount(), 4);
  EXPECT_EQ(withHeader.Header(0), u"a");
  EXPECT_EQ(withHeader.Header(2), u"Col002");
  EXPECT_EQ(withHeader.Header(3), u"c");
  EXPECT_EQ(withHeader.RowCount(), 2);  // the header line stays row 0
  EXPECT_EQ(withHeader.Cell(0, 0), u"a");

  TqovData noHeader = Table(u"x;y;z\r\n", false);
  EXPECT_EQ(noHeader.Header(0), u"Col000");
  EXPECT_EQ(noHeader.Header(1), u"Col001");
  EXPECT_EQ(noHeader.HeaderIndex(u"COL001"), 1);
  EXPECT_EQ(noHeader.HeaderIndex(u"col1"), -1);

  // A quoted blank header is blank after trimming: generated name. A name
  // with blanks inside quotes is kept unchanged.
  TqovData quoted = Table(u"\" \";\" Name \"\r\n");
  EXPECT_EQ(quoted.Header(0), u"Col000");
  EXPECT_EQ(quoted.Header(1), u" Name ");
  EXPECT_EQ(quoted.HeaderIndex(u"name"), -1);  // names are not trimmed for lookup
  EXPECT_EQ(quoted.HeaderIndex(u" NAME "), 1);

  TqovData wide = Table(u"a;b;c;d;e;f;g;h;i;j;k\r\n", false);
  EXPECT_EQ(wide.Header(10), u"Col010");
}

TEST(CsvTable, EmptyFileAndEmptyLines) {
  TqovData empty = Table(u"");
  EXPECT_EQ(empty.RowCount(), 0);
  EXPECT_EQ(empty.HeaderCount(), 0);
  EXPECT_EQ(empty.LocateRow(0, u"x", 0), -1);

  TqovData gaps = Table(u"h1;h2\r\n\r\nv1;v2\r\n");
  EXPECT_EQ(gaps.RowCount(), 3);
  EXPECT_EQ(gaps.Row(1)->ColumnCount(), 0);
}

TEST(CsvTable, IndexErrorsCarryTheBadIndex) {
  TqovData table = Table(u"a;b\r\n1\r\n");
  auto expectIndexError = [](auto action, int index) {
    try {
      action();
      ADD_FAILURE() << "no error";
    } catch (const rtl::EListError& e) {
      EXPECT_EQ(e.Message(), u"List index out of bounds (" + rtl::IntToStr(index) + u")");
    }
  };
  expectIndexError([&] { table.Row(2); }, 2);
  expectIndexError([&] { table.Row(-1); }, -1);
  expectIndexError([&] { table.Cell(1, 1); }, 1);
  expectIndexError([&] { table.Header(5); }, 5);
  expectIndexError([&] { table.Row(0)->Column(-3); }, -3);
}

TEST(CsvLookups, LocateRowAndGetRowByHeader) {
  TqovData table = Table(u"id;name\r\n1;Ana\r\n2;bob\r\n3;ANA\r\n");
  EXPECT_EQ(table.LocateRow(1, u"ana", 0), 1);
  EXPECT_EQ(table.LocateRow(1, u"ana", 2), 3);  // the index after a hit finds the next
  EXPECT_EQ(table.LocateRow(1, u"an", 0), -1);  // no partial match
  EXPECT_EQ(table.LocateRow(0, u"id", 0), 0);   // from 0 the header line is searched too
  EXPECT_EQ(table.LocateRow(0, u"id", 1), -1);
  EXPECT_EQ(table.LocateRow(0, u"1", table.RowCount()), -1);
  EXPECT_THROW(table.LocateRow(0, u"1", -1), rtl::EListError);
  EXPECT_THROW(table.LocateRow(-1, u"1", 0), rtl::EListError);

  ASSERT_NE(table.GetRowByHeader(u"NAME", u"bob", 1), nullptr);
  EXPECT_EQ(table.GetRowByHeader(u"NAME", u"bob", 1)->Column(0), u"2");
  EXPECT_EQ(table.GetRowByHeader(u"missing", u"bob", 1), nullptr);
  EXPECT_EQ(table.GetRowByHeader(u"name", u"nobody", 1), nullptr);
}

TEST(CsvLookups, RowsWithoutTheKeyColumnAreSkipped) {
  TqovData table = Table(u"id;name\r\n\r\n7\r\n8;Eve\r\n");
  EXPECT_EQ(table.LocateRow(1, u"eve", 1), 3);
  EXPECT_EQ(table.LocateRow(1, u"nobody", 0), -1);
}

TEST(CsvFile, EncodingsAndMissingFile) {
  std::string utf8 = WriteTemp(
      "\xEF\xBB\xBF"
      "k;v\r\n\xC3\xA4;1\r\n");
  std::string ansi = WriteTemp("k;v\r\n\xE4;1\r\n");
  std::string utf16 = WriteTemp(std::string("\xFF\xFEk\0;\0v\0\n\0", 10));
  EXPECT_EQ(TqovData(rtl::Utf8ToUnicode(utf8), true, u';').Cell(1, 0), u"\u00E4");
  EXPECT_EQ(TqovData(rtl::Utf8ToUnicode(ansi), true, u';').Cell(1, 0), u"\u00E4");
  EXPECT_EQ(TqovData(rtl::Utf8ToUnicode(utf16), true, u';').Header(1), u"v");
  for (auto& path : {utf8, ansi, utf16}) std::remove(path.c_str());
  EXPECT_THROW(TqovData(u"/nonexistent/data.csv", true, u';'), rtl::EFOpenError);
}

// A file read a line at a time from its UTF-8 makes the same table, line
// numbers and encoding as decoding it whole: line ends of every kind, a byte
// order mark, a NUL that ends the text, and bytes that are not UTF-8 (read
// whole, as before).
TEST(CsvFile, ReadingUtf8ALineAtATimeMakesTheSameTable) {
  const std::string files[] = {
      "k;v\r\na;1\rb;2\nc;3\r\n",
      "\xEF\xBB\xBFk;v\n\xC3\xA4;\xE2\x82\xAC\n\xF0\x9F\x98\x80;x",
      std::string("k;v\na;1\n\0b;2\n", 13),
      "k;v\n\n\nshort\nlong;er;than;the;header\n",
      "k;v\n\xC3\n\xE4;1\n",
      "\xEF\xBB\xBFk;v\n\xFF;1\n",
      "",
      "\r\n",
  };
  for (const std::string& bytes : files) {
    std::string path = WriteTemp(bytes);
    TqovData read(rtl::Utf8ToUnicode(path), true, u';');
    UnicodeString encoding;
    UnicodeString text = rtl::DecodeText(bytes, &encoding);
    TqovData whole(std::u16string_view(text), true, u';', false);
    ASSERT_EQ(read.RowCount(), whole.RowCount()) << bytes;
    EXPECT_EQ(read.Encoding(), encoding) << bytes;
    EXPECT_EQ(read.RaggedRowsWarning(u"f"), whole.RaggedRowsWarning(u"f")) << bytes;  // line numbers
    for (int r = 0; r < read.RowCount(); ++r) {
      ASSERT_EQ(read.Row(r)->ColumnCount(), whole.Row(r)->ColumnCount()) << bytes;
      for (int c = 0; c < read.Row(r)->ColumnCount(); ++c) EXPECT_EQ(read.Cell(r, c), whole.Cell(r, c)) << bytes;
    }
    std::remove(path.c_str());
  }
}

// Every character a field can hold comes back as it went in, whether the
// table's text stayed one byte a character or widened part way through (a
// character above U+00FF after narrow ones, a surrogate pair, a lone one).
TEST(CsvTable, FieldsKeepEveryCharacterWhateverTheTextHolds) {
  const std::vector<std::vector<UnicodeString>> tables = {
      {u"a;b", u"\u00e9t\u00e9;\u00ff\u0080", u"x;"},
      {u"a;b", u"caf\u00e9;1", u"\u20ac5;\U0001F600", u"last;\u00e9"},
      {u"\u4e2d;b", UnicodeString(1, char16_t(0xD800)) + u"x;y" + UnicodeString(1, char16_t(0xDC00)), u"q;r"},
  };
  for (const auto& lines : tables) {
    UnicodeString text;
    for (const UnicodeString& line : lines) text += line + u"\r\n";
    for (bool standard : {false, true}) {
      TqovData table(std::u16string_view(text), true, u';', standard);
      ASSERT_EQ(table.RowCount(), static_cast<int>(lines.size()));
      for (int r = 0; r < table.RowCount(); ++r) {
        UnicodeString joined;
        for (int c = 0; c < table.Row(r)->ColumnCount(); ++c) joined += (c ? u";" : u"") + table.Cell(r, c);
        EXPECT_EQ(joined, lines[static_cast<size_t>(r)]) << r;
      }
    }
  }
}

TEST(CsvTable, TableAndRowsAreLiveObjectsUntilTheTableIsFreed) {
  auto table = std::make_unique<TqovData>(Table(u"a;b\r\n1;2\r\n"));
  TqovDataRow* row = table->Row(1);
  EXPECT_TRUE(rtl::TObjectRegistry::IsLive(row));
  EXPECT_TRUE(row->OwnedByHost());
  EXPECT_EQ(row->ClassName(), u"TqovDataRow");
  EXPECT_EQ(table->ClassName(), u"TqovData");
  ASSERT_NE(table->ClassType()->FindProperty(u"rowcount"), nullptr);
  table.reset();
  // A row kept by a script after its table is gone is recognisably dead.
  EXPECT_FALSE(rtl::TObjectRegistry::IsLive(row));
}

TEST(StandardCsv, RecordsFieldsAndTheLinesTheyStartOn) {
  struct Case {
    const char16_t* text;
    std::vector<Fields> rows;
    const char16_t* warning;
  } cases[] = {
      // Fields end only at the delimiter; blanks and empty fields stay.
      {u" a , b ,\r\n", {{u" a ", u" b ", u""}}, u""},
      // A quoted field holds delimiters, doubled quotes and line breaks of
      // every kind, which become LF; the record after it starts on line 5.
      {u"h1,h2\r\n\"x,\"\"y\"\"\",\"1\r\n2\r3\"\nlast",
       {{u"h1", u"h2"}, {u"x,\"y\"", u"1\n2\n3"}, {u"last"}},
       u"warning: f.csv line 5 has 1 field, the header has 2"},
      // Text after a closing quote is kept; an unclosed quote runs to the end.
      {u"\"ab\"cd,\"open\nstill", {{u"abcd", u"open\nstill"}}, u""},
      // Empty lines are rows without fields, as under the list rules, and
      // never counted as ragged; lone CRs end lines.
      {u"a;b\r\r1;2\r", {{u"a;b"}, {}, {u"1;2"}}, u""},
      {u"", {}, u""},
  };
  for (const auto& c : cases) {
    TqovData table(std::u16string_view(c.text), true, u',', true);
    std::vector<Fields> rows;
    for (int r = 0; r < table.RowCount(); ++r) rows.push_back(table.Row(r)->Fields().Items());
    EXPECT_EQ(rows, c.rows) << rtl::UnicodeToUtf8(c.text);
    EXPECT_EQ(table.RaggedRowsWarning(u"f.csv"), c.warning) << rtl::UnicodeToUtf8(c.text);
  }
  // Headers come from the first record as under the list rules.
  TqovData table(std::u16string_view(u"Name,,\"Qty\"\n"), true, u',', true);
  EXPECT_EQ(table.HeaderCount(), 3);
  EXPECT_EQ(table.Header(1), u"Col001");
  EXPECT_EQ(table.HeaderIndex(u"qty"), 2);
}

TEST(StandardCsv, FileInANamedCharacterSetReportsItsEncoding) {
  std::string path = WriteTemp("\xEF\xBB\xBFk\xC3\xA4se;1\n");
  TqovData detected(rtl::Utf8ToUnicode(path), false, u';', data::TCsvFormat{});
  EXPECT_EQ(detected.Encoding(), u"UTF-8 with byte order mark");
  EXPECT_EQ(detected.Cell(0, 0), u"k\u00E4se");
  // Named: the mark is dropped all the same.
  TqovData named(rtl::Utf8ToUnicode(path), false, u';', data::TCsvFormat{true, u"UTF-8"});
  EXPECT_EQ(named.Encoding(), u"UTF-8");
  EXPECT_EQ(named.Cell(0, 0), u"k\u00E4se");
  std::remove(path.c_str());
}
