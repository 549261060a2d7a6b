// One CSV file in memory: a list of rows, each a list of text fields, and a
// list of column names. Read once when created, never changed afterwards.
#pragma once

#include <memory>
#include <vector>

#include "rtl/Objects.h"
#include "rtl/StringList.h"

namespace data {

using rtl::TStringList;
using rtl::UnicodeString;

// Scripts hold rows and the table as objects; the table owns its rows and
// the job owns the table, so neither may be freed by a script.
class TqovDataRow : public rtl::TObject {
 public:
  // Splits one line into fields.
  TqovDataRow(std::u16string_view line, char16_t FieldDelimiter);
  // A row of fields already split.
  explicit TqovDataRow(std::vector<UnicodeString> fields) : FRow(std::move(fields)) {}
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }

  // Raises "List index out of bounds (%d)" outside the row's fields.
  const UnicodeString& Column(int index) const { return FRow.Strings(index); }
  int ColumnCount() const { return FRow.Count(); }
  const TStringList& Fields() const { return FRow; }

 private:
  TStringList FRow;
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
  int RowCount() const { return static_cast<int>(FRows.size()); }
  // The row object, owned by the table.
  TqovDataRow* Row(int index) const;
  const UnicodeString& Cell(int row, int column) const { return Row(row)->Column(column); }
  // The first row from RowOffset on whose field KeyColumn equals KeyValue
  // without regard to letter case, or -1.
  int LocateRow(int KeyColumn, std::u16string_view KeyValue, int RowOffset) const;
  TqovDataRow* GetRowByHeader(std::u16string_view HeaderName, std::u16string_view KeyValue, int RowOffset) const;

 private:
  void BuildRows();
  void BuildStandardRows(std::u16string_view text);
  void BuildHeaders();

  TStringList FHeaders;
  TStringList FFile;
  std::vector<std::unique_ptr<TqovDataRow>> FRows;
  std::vector<int> FLineNumbers;  // the file line each row starts on, from 1
  UnicodeString FEncoding;
  bool FHasHeaderRow;
  char16_t FFieldDelimiter;
};

}  // namespace data
