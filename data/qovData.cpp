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

TqovData::TqovData(const UnicodeString& AFileName, bool AHasHeaderRow, char16_t AFieldDelimiter,
                   const TCsvFormat& format)
    : FHasHeaderRow(AHasHeaderRow), FFieldDelimiter(AFieldDelimiter) {
  std::string bytes = rtl::ReadFileBytes(AFileName);
  UnicodeString text;
  if (format.Encoding.empty()) {
    text = rtl::DecodeText(bytes, &FEncoding);
  } else {
    try {
      text = rtl::DecodeTextAs(bytes, format.Encoding);
    } catch (const rtl::Exception& e) {
      // Which file is wrong matters as much as why.
      throw rtl::Exception(rtl::ExpandFileName(AFileName) + u": " + e.Message());
    }
    FEncoding = format.Encoding;
  }
  if (format.Standard) {
    BuildStandardRows(text);
  } else {
    FFile = TStringList(rtl::SplitLines(text));
    BuildRows();
  }
  BuildHeaders();
}

TqovData::TqovData(std::u16string_view text, bool AHasHeaderRow, char16_t AFieldDelimiter, bool standard)
    : FHasHeaderRow(AHasHeaderRow), FFieldDelimiter(AFieldDelimiter) {
  if (standard) {
    BuildStandardRows(text);
  } else {
    FFile = TStringList(rtl::SplitLines(text));
    BuildRows();
  }
  BuildHeaders();
}

TqovData::TqovData(const TStringList& lines, bool AHasHeaderRow, char16_t AFieldDelimiter)
    : FFile(lines), FHasHeaderRow(AHasHeaderRow), FFieldDelimiter(AFieldDelimiter) {
  BuildRows();
  BuildHeaders();
}

void TqovData::BuildRows() {
  FRows.reserve(static_cast<size_t>(FFile.Count()));
  FLineNumbers.reserve(FRows.capacity());
  for (const UnicodeString& line : FFile.Items()) {
    FRows.push_back(std::make_unique<TqovDataRow>(line, FFieldDelimiter));
    FLineNumbers.push_back(static_cast<int>(FRows.size()));
  }
}

void TqovData::BuildStandardRows(std::u16string_view text) {
  const size_t n = text.size();
  const char16_t delimiter = FFieldDelimiter;
  auto lineEnd = [&](size_t at) { return text[at] == u'\r' || text[at] == u'\n'; };
  // Steps over the line end at `at`: CR LF, CR or LF.
  auto skipLineEnd = [&](size_t& at) {
    if (text[at] == u'\r' && at + 1 < n && text[at + 1] == u'\n') ++at;
    ++at;
  };
  size_t i = 0;
  int line = 1;
  while (i < n) {
    const int startLine = line;
    std::vector<UnicodeString> fields;
    // An empty line is a row without fields, as under the list rules.
    if (!lineEnd(i)) {
      for (;;) {
        UnicodeString field;
        if (i < n && text[i] == u'"') {
          ++i;
          while (i < n) {
            char16_t c = text[i];
            if (c == u'"') {
              if (i + 1 < n && text[i + 1] == u'"') {
                field += u'"';
                i += 2;
                continue;
              }
              ++i;
              break;
            }
            if (lineEnd(i)) {
              // A line break inside quotes is a cell's line break.
              skipLineEnd(i);
              ++line;
              field += u'\n';
              continue;
            }
            field += c;
            ++i;
          }
          // Text after the closing quote is kept, not dropped: nothing read is lost.
        }
        while (i < n && text[i] != delimiter && !lineEnd(i)) field += text[i++];
        fields.push_back(std::move(field));
        if (i < n && text[i] == delimiter) {
          ++i;
          continue;
        }
        break;
      }
    }
    if (i < n) {
      skipLineEnd(i);
      ++line;
    }
    FRows.push_back(std::make_unique<TqovDataRow>(std::move(fields)));
    FLineNumbers.push_back(startLine);
  }
}

UnicodeString TqovData::RaggedRowsWarning(const UnicodeString& name) const {
  if (FRows.size() < 2) return {};
  const int expected = FRows.front()->ColumnCount();
  auto fields = [](int count) { return rtl::IntToStr(count) + (count == 1 ? u" field" : u" fields"); };
  UnicodeString text;
  int ragged = 0;
  for (size_t r = 1; r < FRows.size(); ++r) {
    int count = FRows[r]->ColumnCount();
    if (count == 0 || count == expected) continue;
    ++ragged;
    if (ragged == 1)
      text = rtl::FormatText(SRaggedRow, {name, rtl::IntToStr(FLineNumbers[r]), fields(count)});
    else if (ragged <= 3)
      text += rtl::FormatText(SRaggedMore, {rtl::IntToStr(FLineNumbers[r]), fields(count)});
  }
  if (ragged == 0) return {};
  text += rtl::FormatText(FHasHeaderRow ? SRaggedHeader : SRaggedFirstLine, {rtl::IntToStr(expected)});
  if (ragged > 3) text += rtl::FormatText(SRaggedCount, {rtl::IntToStr(ragged)});
  return text;
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
