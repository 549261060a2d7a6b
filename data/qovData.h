// One CSV file in memory: a list of rows, each a list of text fields, and a
// list of column names. Read once when created, never changed afterwards.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Objects.h"
#include "rtl/StringList.h"

namespace data {

using rtl::TStringList;
using rtl::UnicodeString;

// The fields of a table in one block of text with their bounds, rather than
// an object per field: a large file costs little more than its text. Text
// whose characters all lie below U+0100 (most CSV files) is kept one byte a
// character; the first character above that widens the block.
class TFieldStore {
 public:
  // Room for fields of `characters` characters in all (a table's text
  // holds no more than the file's).
  void Reserve(size_t characters);
  void AddField(std::u16string_view text);
  void EndRow() { FRowFirst.push_back(static_cast<uint32_t>(FFieldStart.size())); }
  int RowCount() const { return static_cast<int>(FRowFirst.size()) - 1; }
  int FieldCount(int row) const {
    return static_cast<int>(FRowFirst[static_cast<size_t>(row) + 1] - FRowFirst[static_cast<size_t>(row)]);
  }
  UnicodeString Field(int row, int column) const;
  void ShrinkToFit();

 private:
  size_t TextSize() const { return FWide ? FWideText.size() : FNarrowText.size(); }
  bool FWide = false;
  std::string FNarrowText;             // Latin-1, while every character fits
  std::u16string FWideText;            // otherwise
  std::vector<uint32_t> FFieldStart;   // where each field's text begins
  std::vector<uint32_t> FRowFirst{0};  // each row's first field; one more entry than rows
};

// Scripts hold rows and the table as objects; the table owns its rows and
// the job owns the table, so neither may be freed by a script. A table's
// row is a view of the table's store, made when first asked for.
class TqovDataRow : public rtl::TObject {
 public:
  // Splits one line into fields.
  TqovDataRow(std::u16string_view line, char16_t FieldDelimiter);
  // A row of fields already split.
  explicit TqovDataRow(const std::vector<UnicodeString>& fields);
  // Row `row` of a table's fields.
  TqovDataRow(const TFieldStore& store, int row) : FStore(&store), FIndex(row) {}
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }

  // Raises "List index out of bounds (%d)" outside the row's fields.
  UnicodeString Column(int index) const;
  int ColumnCount() const { return FStore->FieldCount(FIndex); }
  TStringList Fields() const;

 private:
  std::unique_ptr<TFieldStore> FOwn;  // a row of its own, outside any table
  const TFieldStore* FStore;
  int FIndex = 0;
};

// How a CSV file is read beyond its delimiter and header flag.
struct TCsvFormat {
  // RFC 4180 instead of the list rules: fields end only at the delimiter,
  // blanks and empty fields are kept, quoted fields may hold delimiters,
  // doubled quotes and line breaks (stored as LF).
  bool Standard = false;
  // The character set (any name iconv knows); empty: detected.
  UnicodeString Encoding;
};

class TqovData : public rtl::TObject {
 public:
  static constexpr std::u16string_view SRaggedRow = u"warning: %s line %d has %s";
  static constexpr std::u16string_view SRaggedMore = u", line %d has %s";
  static constexpr std::u16string_view SRaggedHeader = u", the header has %d";
  static constexpr std::u16string_view SRaggedFirstLine = u", the first line has %d";
  static constexpr std::u16string_view SRaggedCount = u" (%d such lines)";

  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }

  // Reads the file whole; raises "Cannot open file "%s". %s" when it cannot.
  TqovData(const UnicodeString& AFileName, bool AHasHeaderRow, char16_t AFieldDelimiter);
  // The same, read as `format` says.
  TqovData(const UnicodeString& AFileName, bool AHasHeaderRow, char16_t AFieldDelimiter, const TCsvFormat& format);
  // Builds the table from lines already read (the file-less core of the above).
  TqovData(const TStringList& lines, bool AHasHeaderRow, char16_t AFieldDelimiter);
  // Builds the table from text by RFC 4180.
  TqovData(std::u16string_view text, bool AHasHeaderRow, char16_t AFieldDelimiter, bool standard);

  // The character set the file was read in (empty for a table built from text).
  const UnicodeString& Encoding() const { return FEncoding; }
  // One warning naming the first three lines whose number of fields differs
  // from the first row's (empty lines aside), for a file shown as `name`;
  // empty when every row agrees.
  UnicodeString RaggedRowsWarning(const UnicodeString& name) const;

  char16_t FieldDelimiter() const { return FFieldDelimiter; }
  bool HasHeaderRow() const { return FHasHeaderRow; }
  int HeaderCount() const { return FHeaders.Count(); }
  const UnicodeString& Header(int index) const { return FHeaders.Strings(index); }
  // The first column whose name equals the text without regard to letter
  // case, or -1.
  int HeaderIndex(std::u16string_view name) const { return FHeaders.IndexOf(name); }
  // Rows count the header line too: data rows start at 1 when there is one.
  int RowCount() const { return FStore.RowCount(); }
  // The row object, owned by the table.
  TqovDataRow* Row(int index) const;
  UnicodeString Cell(int row, int column) const;
  // The first row from RowOffset on whose field KeyColumn equals KeyValue
  // without regard to letter case, or -1.
  int LocateRow(int KeyColumn, std::u16string_view KeyValue, int RowOffset) const;
  TqovDataRow* GetRowByHeader(std::u16string_view HeaderName, std::u16string_view KeyValue, int RowOffset) const;

 private:
  void BuildRows(std::u16string_view text);
  void BuildRows(std::string_view utf8);
  void AddRow(std::u16string_view line, int lineNumber);
  void BuildStandardRows(std::u16string_view text);
  void BuildHeaders();

  TStringList FHeaders;
  TFieldStore FStore;
  mutable std::vector<std::unique_ptr<TqovDataRow>> FRows;  // made when asked for
  std::vector<int> FLineNumbers;                            // the file line each row starts on, from 1
  UnicodeString FEncoding;
  bool FHasHeaderRow;
  char16_t FFieldDelimiter;
};

}  // namespace data
