#include "data/qovData.h"

#include "rtl/DelimitedText.h"
#include "rtl/TextFile.h"

namespace data {

rtl::TClass TqovDataRow::StaticClass() {
  static const rtl::TMetaClass meta(u"TqovDataRow", rtl::TObject::StaticClass(), nullptr,
                                    {rtl::ReadOnlyProperty(u"ColumnCount", u"Integer", &TqovDataRow::ColumnCount)});
  return &meta;
}

rtl::TClass TqovData::StaticClass() {
  static const rtl::TMetaClass meta(u"TqovData", rtl::TObject::StaticClass(), nullptr,
                                    {rtl::ReadOnlyProperty(u"HasHeaderRow", u"Boolean", &TqovData::HasHeaderRow),
                                     rtl::ReadOnlyProperty(u"HeaderCount", u"Integer", &TqovData::HeaderCount),
                                     rtl::ReadOnlyProperty(u"RowCount", u"Integer", &TqovData::RowCount)});
  return &meta;
}

TqovDataRow::TqovDataRow(std::u16string_view line, char16_t FieldDelimiter)
    : FRow(rtl::SplitFields(line, FieldDelimiter)) {}

TqovData::TqovData(const UnicodeString& AFileName, bool AHasHeaderRow, char16_t AFieldDelimiter)
    : FFile(rtl::ReadTextFileLines(AFileName)), FHasHeaderRow(AHasHeaderRow), FFieldDelimiter(AFieldDelimiter) {
  BuildRows();
  BuildHeaders();
}

TqovData::TqovData(const TStringList& lines, bool AHasHeaderRow, char16_t AFieldDelimiter)
    : FFile(lines), FHasHeaderRow(AHasHeaderRow), FFieldDelimiter(AFieldDelimiter) {
  BuildRows();
  BuildHeaders();
}

void TqovData::BuildRows() {
  FRows.reserve(static_cast<size_t>(FFile.Count()));
  for (const UnicodeString& line : FFile.Items()) FRows.push_back(std::make_unique<TqovDataRow>(line, FFieldDelimiter));
}

void TqovData::BuildHeaders() {
  if (FRows.empty()) return;
  const TqovDataRow& first = *FRows.front();
  for (int i = 0; i < first.ColumnCount(); ++i) {
    const UnicodeString& field = first.Column(i);
    if (FHasHeaderRow && !rtl::Trim(field).empty()) {
      FHeaders.Add(field);
    } else {
      UnicodeString number = rtl::IntToStr(i);
      if (number.size() < 3) number.insert(0, 3 - number.size(), u'0');
      FHeaders.Add(u"Col" + number);
    }
  }
}

TqovDataRow* TqovData::Row(int index) const {
  if (index < 0 || index >= RowCount()) throw rtl::EListError::IndexError(index);
  return FRows[static_cast<size_t>(index)].get();
}

int TqovData::LocateRow(int KeyColumn, std::u16string_view KeyValue, int RowOffset) const {
  if (RowOffset > RowCount() - 1) return -1;
  if (RowOffset < 0) throw rtl::EListError::IndexError(RowOffset);
  if (KeyColumn < 0) throw rtl::EListError::IndexError(KeyColumn);
  for (int r = RowOffset; r < RowCount(); ++r) {
    const TqovDataRow& row = *FRows[static_cast<size_t>(r)];
    // A row without the key column (an empty line, a short line) cannot
    // match; it must not stop the search for the rows after it.
    if (KeyColumn >= row.ColumnCount()) continue;
    if (rtl::AnsiSameText(row.Column(KeyColumn), KeyValue)) return r;
  }
  return -1;
}

TqovDataRow* TqovData::GetRowByHeader(std::u16string_view HeaderName, std::u16string_view KeyValue,
                                      int RowOffset) const {
  int column = HeaderIndex(HeaderName);
  if (column < 0) return nullptr;
  int r = LocateRow(column, KeyValue, RowOffset);
  return r >= 0 ? Row(r) : nullptr;
}

}  // namespace data
