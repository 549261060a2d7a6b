// CSV text: the table the job builds from a CSV file (reading, decoding,
// lines, fields, column names, look-ups), and the string-list text forms the
// same splitting rules serve.
#include <cstdio>
#include <cstdlib>

#include "FuzzSupport.h"
#include "data/qovData.h"
#include "rtl/DelimitedText.h"
#include "rtl/Locale.h"
#include "rtl/StringList.h"
#include "rtl/TextFile.h"

namespace {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "korva fuzz: %s\n", what);
  std::abort();
}

// Every look-up of what the table holds finds it, at or before its place.
void CheckTable(const data::TqovData& table) {
  // Bounded, so that an input of many rows stays a fast input.
  constexpr int Limit = 64;
  Check(table.HeaderCount() == (table.RowCount() > 0 ? table.Row(0)->ColumnCount() : 0),
        "one name per field of the first row");
  for (int i = 0; i < table.HeaderCount() && i < Limit; ++i) {
    int found = table.HeaderIndex(table.Header(i));
    Check(found >= 0 && found <= i, "HeaderIndex finds every column name");
  }
  for (int r = 0; r < table.RowCount() && r < Limit; ++r) {
    const data::TqovDataRow& row = *table.Row(r);
    if (row.ColumnCount() == 0) continue;
    const int column = r % row.ColumnCount();
    int found = table.LocateRow(column, table.Cell(r, column), 0);
    Check(found >= 0 && found <= r, "LocateRow finds every field");
    if (column < table.HeaderCount() && table.HeaderIndex(table.Header(column)) == column) {
      data::TqovDataRow* hit = table.GetRowByHeader(table.Header(column), table.Cell(r, column), r);
      Check(hit != nullptr, "GetRowByHeader finds every named field");
    }
  }
  // Past the end and out of range: answers or the list's error, never more.
  Check(table.LocateRow(0, u"x", table.RowCount()) == -1, "LocateRow past the last row");
  fuzz::Refusable([&] { table.Row(table.RowCount()); });
  fuzz::Refusable([&] { table.Header(-1); });
}

// The text forms of a string list read back as the same items.
void CheckTextForms(const rtl::TStringList& lines) {
  rtl::TStringList copy;
  copy.SetCommaText(lines.CommaText());
  Check(copy.Equals(lines), "CommaText reads back as the same items");
  bool hasLineBreak = false;
  for (const rtl::UnicodeString& item : lines.Items())
    if (item.find_first_of(u"\r\n") != rtl::UnicodeString::npos) hasLineBreak = true;
  if (!hasLineBreak) {
    copy.SetText(lines.Text());
    Check(copy.Equals(lines), "Text reads back as the same items");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  rtl::LoadFormatSettingsFromLocale();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes = fuzz::Bytes(data, size);
  // As the job reads it: a file, with a header row and the comma.
  const std::string path = fuzz::ScratchDir() + "/data.csv";
  fuzz::WriteFile(path, bytes);
  fuzz::Refusable([&] {
    data::TqovData table(rtl::Utf8ToUnicode(path), true, u',');
    CheckTable(table);
  });
  // The same lines with other delimiters, a blank one among them.
  rtl::TStringList lines(rtl::SplitLines(rtl::DecodeText(bytes)));
  fuzz::Refusable([&] {
    data::TqovData semicolons(lines, false, u';');
    CheckTable(semicolons);
    data::TqovData tabs(lines, true, u'\t');
    CheckTable(tabs);
  });
  fuzz::Refusable([&] { CheckTextForms(lines); });
  // A row's fields are a list too.
  if (lines.Count() > 0) {
    rtl::TStringList fields(rtl::SplitFields(lines[0], u','));
    fuzz::Refusable([&] { CheckTextForms(fields); });
  }
  return 0;
}
