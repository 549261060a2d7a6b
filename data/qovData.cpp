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

// --- The store --------------------------------------------------------------------

void TFieldStore::Reserve(size_t characters) {
  if (FWide)
    FWideText.reserve(characters);
  else
    FNarrowText.reserve(characters);
}

void TFieldStore::AddField(std::u16string_view text) {
  // Offsets are 32-bit: four thousand million characters of fields.
  if (TextSize() + text.size() > UINT32_MAX) throw rtl::Exception(u"The CSV file is too large (over 4 GB of text)");
  FFieldStart.push_back(static_cast<uint32_t>(TextSize()));
  if (!FWide) {
    size_t i = 0;
    while (i < text.size() && text[i] < 0x100) ++i;
    if (i == text.size()) {
      for (char16_t c : text) FNarrowText.push_back(static_cast<char>(c));
      return;
    }
    // The first wide character: the block becomes UTF-16.
    FWideText.reserve(FNarrowText.capacity());
    for (char c : FNarrowText) FWideText.push_back(static_cast<unsigned char>(c));
    FNarrowText = {};
    FWide = true;
  }
  FWideText.append(text);
}

UnicodeString TFieldStore::Field(int row, int column) const {
  size_t i = FRowFirst[static_cast<size_t>(row)] + static_cast<size_t>(column);
  size_t start = FFieldStart[i], end = i + 1 < FFieldStart.size() ? FFieldStart[i + 1] : TextSize();
  if (FWide) return FWideText.substr(start, end - start);
  UnicodeString field(end - start, u'\0');
  for (size_t k = start; k < end; ++k) field[k - start] = static_cast<unsigned char>(FNarrowText[k]);
  return field;
}

void TFieldStore::ShrinkToFit() {
  FNarrowText.shrink_to_fit();
  FWideText.shrink_to_fit();
  FFieldStart.shrink_to_fit();
  FRowFirst.shrink_to_fit();
}

// --- Rows ---------------------------------------------------------------------------

TqovDataRow::TqovDataRow(std::u16string_view line, char16_t FieldDelimiter)
    : FOwn(std::make_unique<TFieldStore>()), FStore(FOwn.get()) {
  rtl::SplitFields(line, FieldDelimiter, [&](std::u16string_view field) { FOwn->AddField(field); });
  FOwn->EndRow();
}

TqovDataRow::TqovDataRow(const std::vector<UnicodeString>& fields)
    : FOwn(std::make_unique<TFieldStore>()), FStore(FOwn.get()) {
  for (const UnicodeString& field : fields) FOwn->AddField(field);
  FOwn->EndRow();
}

UnicodeString TqovDataRow::Column(int index) const {
  if (index < 0 || index >= ColumnCount()) throw rtl::EListError::IndexError(index);
  return FStore->Field(FIndex, index);
}

TStringList TqovDataRow::Fields() const {
  TStringList fields;
  for (int i = 0; i < ColumnCount(); ++i) fields.Add(FStore->Field(FIndex, i));
  return fields;
}

// --- The table ----------------------------------------------------------------------

TqovData::TqovData(const UnicodeString& AFileName, bool AHasHeaderRow, char16_t AFieldDelimiter)
    : TqovData(AFileName, AHasHeaderRow, AFieldDelimiter, TCsvFormat{}) {}

TqovData::TqovData(const UnicodeString& AFileName, bool AHasHeaderRow, char16_t AFieldDelimiter,
                   const TCsvFormat& format)
    : FHasHeaderRow(AHasHeaderRow), FFieldDelimiter(AFieldDelimiter) {
  UnicodeString text;
  {
    std::string bytes = rtl::ReadFileBytes(AFileName);
    // Valid UTF-8, the usual export, is split into lines and fields as it
    // stands and decoded a line at a time: no copy of the whole file in UTF-16.
    if (format.Encoding.empty() && !format.Standard)
      if (std::optional<std::string_view> utf8 = rtl::ValidUtf8Text(bytes, &FEncoding)) {
        BuildRows(*utf8);
        BuildHeaders();
        return;
      }
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
  }
  if (format.Standard)
    BuildStandardRows(text);
  else
    BuildRows(text);
  BuildHeaders();
}

TqovData::TqovData(std::u16string_view text, bool AHasHeaderRow, char16_t AFieldDelimiter, bool standard)
    : FHasHeaderRow(AHasHeaderRow), FFieldDelimiter(AFieldDelimiter) {
  if (standard)
    BuildStandardRows(text);
  else
    BuildRows(text);
  BuildHeaders();
}

TqovData::TqovData(const TStringList& lines, bool AHasHeaderRow, char16_t AFieldDelimiter)
    : FHasHeaderRow(AHasHeaderRow), FFieldDelimiter(AFieldDelimiter) {
  for (const UnicodeString& line : lines.Items()) AddRow(line, RowCount() + 1);
  FStore.ShrinkToFit();
  FRows.resize(static_cast<size_t>(RowCount()));
  BuildHeaders();
}

void TqovData::AddRow(std::u16string_view line, int lineNumber) {
  rtl::SplitFields(line, FFieldDelimiter, [&](std::u16string_view field) { FStore.AddField(field); });
  FStore.EndRow();
  FLineNumbers.push_back(lineNumber);
}

// Lines end at CR LF, a lone CR or a lone LF; a line end after the last line
// adds no empty line (as SplitLines has it), without a copy of each line.
void TqovData::BuildRows(std::u16string_view text) {
  FStore.Reserve(text.size());
  size_t start = 0;
  const size_t n = text.size();
  for (size_t i = 0; i < n; ++i) {
    if (text[i] != u'\r' && text[i] != u'\n') continue;
    AddRow(text.substr(start, i - start), RowCount() + 1);
    if (text[i] == u'\r' && i + 1 < n && text[i + 1] == u'\n') ++i;
    start = i + 1;
  }
  if (start < n) AddRow(text.substr(start), RowCount() + 1);
  FStore.ShrinkToFit();
  FRows.resize(static_cast<size_t>(RowCount()));
}

// As above, over valid UTF-8: CR and LF bytes never occur inside a sequence.
void TqovData::BuildRows(std::string_view utf8) {
  FStore.Reserve(utf8.size());
  size_t start = 0;
  const size_t n = utf8.size();
  for (size_t i = 0; i < n; ++i) {
    if (utf8[i] != '\r' && utf8[i] != '\n') continue;
    AddRow(rtl::Utf8ToUnicode(utf8.substr(start, i - start)), RowCount() + 1);
    if (utf8[i] == '\r' && i + 1 < n && utf8[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < n) AddRow(rtl::Utf8ToUnicode(utf8.substr(start)), RowCount() + 1);
  FStore.ShrinkToFit();
  FRows.resize(static_cast<size_t>(RowCount()));
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
    for (const UnicodeString& field : fields) FStore.AddField(field);
    FStore.EndRow();
    FLineNumbers.push_back(startLine);
  }
  FStore.ShrinkToFit();
  FRows.resize(static_cast<size_t>(RowCount()));
}

UnicodeString TqovData::RaggedRowsWarning(const UnicodeString& name) const {
  if (RowCount() < 2) return {};
  const int expected = FStore.FieldCount(0);
  auto fields = [](int count) { return rtl::IntToStr(count) + (count == 1 ? u" field" : u" fields"); };
  UnicodeString text;
  int ragged = 0;
  for (int r = 1; r < RowCount(); ++r) {
    int count = FStore.FieldCount(r);
    if (count == 0 || count == expected) continue;
    ++ragged;
    if (ragged == 1)
      text = rtl::FormatText(SRaggedRow, {name, rtl::IntToStr(FLineNumbers[static_cast<size_t>(r)]), fields(count)});
    else if (ragged <= 3)
      text += rtl::FormatText(SRaggedMore, {rtl::IntToStr(FLineNumbers[static_cast<size_t>(r)]), fields(count)});
  }
  if (ragged == 0) return {};
  text += rtl::FormatText(FHasHeaderRow ? SRaggedHeader : SRaggedFirstLine, {rtl::IntToStr(expected)});
  if (ragged > 3) text += rtl::FormatText(SRaggedCount, {rtl::IntToStr(ragged)});
  return text;
}

void TqovData::BuildHeaders() {
  if (RowCount() == 0) return;
  for (int i = 0; i < FStore.FieldCount(0); ++i) {
    UnicodeString field = FStore.Field(0, i);
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
  std::unique_ptr<TqovDataRow>& row = FRows[static_cast<size_t>(index)];
  if (!row) row = std::make_unique<TqovDataRow>(FStore, index);
  return row.get();
}

UnicodeString TqovData::Cell(int row, int column) const {
  if (row < 0 || row >= RowCount()) throw rtl::EListError::IndexError(row);
  if (column < 0 || column >= FStore.FieldCount(row)) throw rtl::EListError::IndexError(column);
  return FStore.Field(row, column);
}

int TqovData::LocateRow(int KeyColumn, std::u16string_view KeyValue, int RowOffset) const {
  if (RowOffset > RowCount() - 1) return -1;
  if (RowOffset < 0) throw rtl::EListError::IndexError(RowOffset);
  if (KeyColumn < 0) throw rtl::EListError::IndexError(KeyColumn);
  for (int r = RowOffset; r < RowCount(); ++r) {
    // A row without the key column (an empty line, a short line) cannot
    // match; it must not stop the search for the rows after it.
    if (KeyColumn >= FStore.FieldCount(r)) continue;
    if (rtl::AnsiSameText(FStore.Field(r, KeyColumn), KeyValue)) return r;
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
