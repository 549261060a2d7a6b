#include "rtl/StringList.h"

#include "rtl/DelimitedText.h"

namespace rtl {

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EListError::IndexError(index);
}

const UnicodeString& TStringList::Strings(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)];
}

void TStringList::Put(int index, UnicodeString value) {
  CheckIndex(index);
  FItems[static_cast<size_t>(index)] = std::move(value);
}

int TStringList::Add(UnicodeString item) {
  FItems.push_back(std::move(item));
  return Count() - 1;
}

void TStringList::Insert(int index, UnicodeString item) {
  if (index < 0 || index > Count()) throw EListError::IndexError(index);
  FItems.insert(FItems.begin() + index, std::move(item));
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  FItems.erase(FItems.begin() + index);
}

void TStringList::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  std::swap(FItems[static_cast<size_t>(index1)], FItems[static_cast<size_t>(index2)]);
}

void TStringList::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  CheckIndex(curIndex);
  CheckIndex(newIndex);
  UnicodeString item = std::move(FItems[static_cast<size_t>(curIndex)]);
  FItems.erase(FItems.begin() + curIndex);
  FItems.insert(FItems.begin() + newIndex, std::move(item));
}

void TStringList::AddStrings(const TStringList& source) {
  // Copy first: the source may be this list.
  std::vector<UnicodeString> items = source.FItems;
  FItems.insert(FItems.end(), items.begin(), items.end());
}

int TStringList::IndexOf(std::u16string_view text) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiSameText(FItems[static_cast<size_t>(i)], text)) return i;
  return -1;
}

int TStringList::IndexOfName(std::u16string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const UnicodeString& item = FItems[static_cast<size_t>(i)];
    size_t eq = item.find(u'=');
    if (eq != UnicodeString::npos && AnsiSameText(std::u16string_view(item).substr(0, eq), name)) return i;
  }
  return -1;
}

UnicodeString TStringList::Names(int index) const {
  const UnicodeString& item = Strings(index);
  size_t eq = item.find(u'=');
  return eq == UnicodeString::npos ? UnicodeString() : item.substr(0, eq);
}

UnicodeString TStringList::Values(std::u16string_view name) const {
  int i = IndexOfName(name);
  if (i < 0) return {};
  const UnicodeString& item = FItems[static_cast<size_t>(i)];
  return item.substr(item.find(u'=') + 1);
}

void TStringList::SetValues(std::u16string_view name, std::u16string_view value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  UnicodeString item(name);
  item += u'=';
  item += value;
  if (i >= 0)
    FItems[static_cast<size_t>(i)] = std::move(item);
  else
    Add(std::move(item));
}

UnicodeString TStringList::Text() const {
  UnicodeString text;
  for (const auto& item : FItems) {
    text += item;
    text += u"\r\n";
  }
  return text;
}

void TStringList::SetText(std::u16string_view text) { FItems = SplitLines(text); }

UnicodeString TStringList::CommaText() const {
  if (FItems.size() == 1 && FItems[0].empty()) return u"\"\"";
  UnicodeString text;
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (i > 0) text += u',';
    const UnicodeString& item = FItems[i];
    bool quote = false;
    for (char16_t c : item)
      if (c == u'"' || c == u',' || (c >= 1 && c <= 32)) quote = true;
    if (!quote) {
      text += item;
      continue;
    }
    text += u'"';
    for (char16_t c : item) {
      if (c == u'"') text += u'"';
      text += c;
    }
    text += u'"';
  }
  return text;
}

void TStringList::SetCommaText(std::u16string_view text) { FItems = SplitFields(text, u','); }

}  // namespace rtl
