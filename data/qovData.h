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
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }

  // Raises "List index out of bounds (%d)" outside the row's fields.
  const UnicodeString& Column(int index) const { return FRow.Strings(index); }
  int ColumnCount() const { return FRow.Count(); }
  const TStringList& Fields() const { return FRow; }

 private:
  TStringList FRow;
};

class TqovData : public rtl::TObject {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }

  // Reads the file whole; raises "Cannot open file "%s". %s" when it cannot.
  TqovData(const UnicodeString& AFileName, bool AHasHeaderRow, char16_t AFieldDelimiter);
  // Builds the table from lines already read (the file-less core of the above).
  TqovData(const TStringList& lines, bool AHasHeaderRow, char16_t AFieldDelimiter);

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
  void BuildHeaders();

  TStringList FHeaders;
  TStringList FFile;
  std::vector<std::unique_ptr<TqovDataRow>> FRows;
  bool FHasHeaderRow;
  char16_t FFieldDelimiter;
};

}  // namespace data
