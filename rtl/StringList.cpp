#include "rtl/StringList.h"

#include <algorithm>
#include <numeric>

#include "rtl/DelimitedText.h"
#include "rtl/Locale.h"
#include "rtl/Streams.h"
#include "rtl/TextFile.h"

namespace rtl {

namespace {

// Runs `body` inside BeginUpdate/EndUpdate, ending the block however the
// body is left. Not a destructor: EndUpdate fires OnChange, whose handler
// may raise, and a destructor must not.
template <class F>
void InUpdate(TStrings& list, F&& body) {
  list.BeginUpdate();
  try {
    body();
  } catch (...) {
    list.EndUpdate();  // cleanup only: the failure goes on to the caller
    throw;
  }
  list.EndUpdate();
}

size_t NameEnd(const UnicodeString& item) { return item.find(u'='); }

}  // namespace

// --- TStrings ---------------------------------------------------------------

TClass TStrings::StaticClass() {
  // Abstract: scripts create TStringList instead.
  static const TMetaClass meta(
      u"TStrings", TPersistent::StaticClass(), nullptr,
      {ReadOnlyProperty(u"Count", u"Integer", &TStrings::Count),
       ReadWriteProperty(u"Text", u"String", &TStrings::Text, &TStrings::SetText),
       ReadWriteProperty(u"CommaText", u"String", &TStrings::CommaText, &TStrings::SetCommaText)});
  return &meta;
}

void TStrings::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EListError::IndexError(index);
}

int TStrings::AddObject(UnicodeString item, TObject* object) {
  int index = Count();
  InsertObject(index, std::move(item), object);
  return index;
}

void TStrings::AddStrings(const TStrings& source) {
  // Copy first: the source may be this list.
  std::vector<UnicodeString> items;
  std::vector<TObject*> objects;
  for (int i = 0; i < source.Count(); ++i) {
    items.push_back(source.Get(i));
    objects.push_back(source.GetObject(i));
  }
  InUpdate(*this, [&] {
    for (size_t i = 0; i < items.size(); ++i) AddObject(std::move(items[i]), objects[i]);
  });
}

void TStrings::Exchange(int index1, int index2) {
  CheckIndex(index1);
  CheckIndex(index2);
  InUpdate(*this, [&] {
    UnicodeString item1 = Get(index1);
    TObject* object1 = GetObject(index1);
    Put(index1, Get(index2));
    PutObject(index1, GetObject(index2));
    Put(index2, std::move(item1));
    PutObject(index2, object1);
  });
}

void TStrings::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  CheckIndex(curIndex);
  CheckIndex(newIndex);
  InUpdate(*this, [&] {
    UnicodeString item = Get(curIndex);
    TObject* object = GetObject(curIndex);
    Delete(curIndex);
    InsertObject(newIndex, std::move(item), object);
  });
}

bool TStrings::Equals(const TStrings& other) const {
  if (Count() != other.Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (Get(i) != other.Get(i)) return false;
  return true;
}

int TStrings::IndexOf(std::u16string_view text) const {
  for (int i = 0; i < Count(); ++i)
    if (AnsiSameText(Get(i), text)) return i;
  return -1;
}

int TStrings::IndexOfObject(const TObject* object) const {
  for (int i = 0; i < Count(); ++i)
    if (GetObject(i) == object) return i;
  return -1;
}

int TStrings::IndexOfName(std::u16string_view name) const {
  for (int i = 0; i < Count(); ++i) {
    const UnicodeString& item = Get(i);
    size_t eq = NameEnd(item);
    if (eq != UnicodeString::npos && AnsiSameText(std::u16string_view(item).substr(0, eq), name)) return i;
  }
  return -1;
}

UnicodeString TStrings::Names(int index) const {
  const UnicodeString& item = Get(index);
  size_t eq = NameEnd(item);
  return eq == UnicodeString::npos ? UnicodeString() : item.substr(0, eq);
}

UnicodeString TStrings::Values(std::u16string_view name) const {
  int i = IndexOfName(name);
  if (i < 0) return {};
  const UnicodeString& item = Get(i);
  return item.substr(NameEnd(item) + 1);
}

void TStrings::SetValues(std::u16string_view name, std::u16string_view value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  UnicodeString item(name);
  item += u'=';
  item += value;
  if (i < 0) {
    Add(std::move(item));
    return;
  }
  // A sorted list cannot take an item in place; delete and add instead, so
  // that the item lands in order.
  const TStringList* list = dynamic_cast<const TStringList*>(this);
  if (list != nullptr && list->Sorted()) {
    // Refused before the old item goes, so a refusal loses nothing.
    int equal;
    if (list->Duplicates() == dupError && list->Find(item, equal) && equal != i)
      throw EStringListError(UnicodeString(EStringListError::SDuplicateString));
    InUpdate(*this, [&] {
      TObject* object = GetObject(i);
      Delete(i);
      AddObject(std::move(item), object);
    });
  } else {
    Put(i, std::move(item));
  }
}

UnicodeString TStrings::Text() const {
  UnicodeString text;
  for (int i = 0; i < Count(); ++i) {
    text += Get(i);
    text += u"\r\n";
  }
  return text;
}

void TStrings::SetText(std::u16string_view text) { SetItems(SplitLines(text)); }

UnicodeString TStrings::CommaText() const {
  if (Count() == 1 && Get(0).empty()) return u"\"\"";
  UnicodeString text;
  for (int i = 0; i < Count(); ++i) {
    if (i > 0) text += u',';
    const UnicodeString& item = Get(i);
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

void TStrings::SetCommaText(std::u16string_view text) { SetItems(SplitFields(text, u',')); }

void TStrings::SetItems(std::vector<UnicodeString> items) {
  InUpdate(*this, [&] {
    Clear();
    for (auto& item : items) Add(std::move(item));
  });
}

void TStrings::LoadFromFile(const UnicodeString& fileName) { SetItems(ReadTextFileLines(fileName)); }

void TStrings::SaveToFile(const UnicodeString& fileName) const {
  TFileStream file(fileName, fmCreate);
  if (!SystemCodePageIsUtf8()) {
    static constexpr uint8_t Utf8Bom[] = {0xEF, 0xBB, 0xBF};
    file.WriteBuffer(Utf8Bom, sizeof Utf8Bom);
  }
  SaveToStream(file);
}

void TStrings::LoadFromStream(TStream& stream) {
  int64_t rest = std::max<int64_t>(stream.Size() - stream.Position(), 0);
  std::string bytes(static_cast<size_t>(rest), '\0');
  bytes.resize(static_cast<size_t>(stream.Read(bytes.data(), rest)));
  SetItems(SplitLines(DecodeText(bytes)));
}

void TStrings::SaveToStream(TStream& stream) const {
  std::string bytes = UnicodeToUtf8(Text());
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TStrings::BeginUpdate() {
  if (FUpdateCount == 0) SetUpdateState(true);
  ++FUpdateCount;
}

void TStrings::EndUpdate() {
  if (FUpdateCount == 0) return;
  --FUpdateCount;
  if (FUpdateCount == 0) SetUpdateState(false);
}

void TStrings::Assign(const TPersistent* source) {
  if (const auto* strings = dynamic_cast<const TStrings*>(source)) {
    if (strings == this) return;
    InUpdate(*this, [&] {
      Clear();
      AddStrings(*strings);
    });
    return;
  }
  TPersistent::Assign(source);
}

// --- TStringList ------------------------------------------------------------

TClass TStringList::StaticClass() {
  static const TMetaClass meta(
      u"TStringList", TStrings::StaticClass(), &CreateInstance<TStringList>,
      {ReadWriteProperty(u"Sorted", u"Boolean", &TStringList::Sorted, &TStringList::SetSorted),
       ReadWriteProperty(u"Duplicates", u"TDuplicates", &TStringList::Duplicates, &TStringList::SetDuplicates),
       ReadWriteProperty(u"OnChange", u"TNotifyEvent", &TStringList::OnChange, &TStringList::SetOnChange),
       ReadWriteProperty(u"OnChanging", u"TNotifyEvent", &TStringList::OnChanging, &TStringList::SetOnChanging)});
  return &meta;
}

TStringList::TStringList(std::vector<UnicodeString> items) : FItems(std::move(items)) {}

TStringList::TStringList(const TStringList& other)
    : TStrings(other),
      FItems(other.FItems),
      FObjects(other.FObjects),
      FSorted(other.FSorted),
      FDuplicates(other.FDuplicates) {}

TStringList::TStringList(TStringList&& other) noexcept
    : TStrings(other),
      FItems(std::move(other.FItems)),
      FObjects(std::move(other.FObjects)),
      FSorted(other.FSorted),
      FDuplicates(other.FDuplicates) {
  other.FItems.clear();
  other.FObjects.clear();
}

TStringList& TStringList::operator=(const TStringList& other) {
  if (this != &other) {
    FItems = other.FItems;
    FObjects = other.FObjects;
    FSorted = other.FSorted;
    FDuplicates = other.FDuplicates;
  }
  return *this;
}

TStringList& TStringList::operator=(TStringList&& other) noexcept {
  if (this != &other) {
    FItems = std::move(other.FItems);
    FObjects = std::move(other.FObjects);
    other.FItems.clear();
    other.FObjects.clear();
    FSorted = other.FSorted;
    FDuplicates = other.FDuplicates;
  }
  return *this;
}

// Handlers may be script procedures; the list stays in use while they run so
// that a handler cannot free it under the change in progress.
void TStringList::Changing() {
  if (UpdateCount() != 0 || !FOnChanging) return;
  TObjectUse use(*this);
  FOnChanging(this);
}

void TStringList::Changed() {
  if (UpdateCount() != 0 || !FOnChange) return;
  TObjectUse use(*this);
  FOnChange(this);
}

void TStringList::SetUpdateState(bool updating) {
  if (updating)
    Changing();
  else
    Changed();
}

void TStringList::CheckNotSorted() const {
  if (FSorted) throw EStringListError(UnicodeString(EStringListError::SSortedListError));
}

const UnicodeString& TStringList::Get(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)];
}

TObject* TStringList::GetObject(int index) const {
  CheckIndex(index);
  return FObjects.empty() ? nullptr : FObjects[static_cast<size_t>(index)];
}

void TStringList::Put(int index, UnicodeString value) {
  CheckNotSorted();
  CheckIndex(index);
  Changing();
  FItems[static_cast<size_t>(index)] = std::move(value);
  Changed();
}

void TStringList::PutObject(int index, TObject* object) {
  CheckIndex(index);
  Changing();
  if (FObjects.empty() && object != nullptr) FObjects.assign(FItems.size(), nullptr);
  if (!FObjects.empty()) FObjects[static_cast<size_t>(index)] = object;
  Changed();
}

void TStringList::InsertItem(int index, UnicodeString item, TObject* object) {
  Changing();
  bool keepObjects = !FObjects.empty() || object != nullptr;
  if (keepObjects) {
    FObjects.resize(FItems.size(), nullptr);
    FObjects.insert(FObjects.begin() + index, object);
  }
  FItems.insert(FItems.begin() + index, std::move(item));
  Changed();
}

void TStringList::InsertObject(int index, UnicodeString item, TObject* object) {
  CheckNotSorted();
  if (index < 0 || index > Count()) throw EListError::IndexError(index);
  InsertItem(index, std::move(item), object);
}

int TStringList::AddObject(UnicodeString item, TObject* object) {
  int index = Count();
  if (FSorted) {
    if (Find(item, index)) {
      if (FDuplicates == dupIgnore) return index;
      if (FDuplicates == dupError) throw EStringListError(UnicodeString(EStringListError::SDuplicateString));
      // Accepted duplicates go after their equals, in the order added.
      while (index < Count() && AnsiCompareText(FItems[static_cast<size_t>(index)], item) == 0) ++index;
    }
  }
  InsertItem(index, std::move(item), object);
  return index;
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  Changing();
  FItems.erase(FItems.begin() + index);
  if (!FObjects.empty()) FObjects.erase(FObjects.begin() + index);
  Changed();
}

void TStringList::Clear() {
  if (FItems.empty()) return;
  Changing();
  FItems.clear();
  FObjects.clear();
  Changed();
}

void TStringList::Exchange(int index1, int index2) {
  // Exchanging would break the order Find relies on.
  CheckNotSorted();
  CheckIndex(index1);
  CheckIndex(index2);
  Changing();
  std::swap(FItems[static_cast<size_t>(index1)], FItems[static_cast<size_t>(index2)]);
  if (!FObjects.empty()) std::swap(FObjects[static_cast<size_t>(index1)], FObjects[static_cast<size_t>(index2)]);
  Changed();
}

void TStringList::Move(int curIndex, int newIndex) {
  if (curIndex == newIndex) return;
  CheckNotSorted();
  CheckIndex(curIndex);
  CheckIndex(newIndex);
  Changing();
  auto moveOne = [&](auto& items) {
    auto item = std::move(items[static_cast<size_t>(curIndex)]);
    items.erase(items.begin() + curIndex);
    items.insert(items.begin() + newIndex, std::move(item));
  };
  moveOne(FItems);
  if (!FObjects.empty()) moveOne(FObjects);
  Changed();
}

int TStringList::IndexOf(std::u16string_view text) const {
  if (!FSorted) return TStrings::IndexOf(text);
  int index;
  return Find(text, index) ? index : -1;
}

bool TStringList::Find(std::u16string_view text, int& index) const {
  if (!FSorted) {
    index = TStrings::IndexOf(text);
    if (index >= 0) return true;
    index = Count();
    return false;
  }
  auto it = std::lower_bound(FItems.begin(), FItems.end(), text, [](const UnicodeString& item, std::u16string_view t) {
    return AnsiCompareText(item, t) < 0;
  });
  index = static_cast<int>(it - FItems.begin());
  return it != FItems.end() && AnsiCompareText(*it, text) == 0;
}

void TStringList::Sort() {
  std::vector<size_t> order(FItems.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return AnsiCompareText(FItems[a], FItems[b]) < 0; });
  if (std::is_sorted(order.begin(), order.end())) return;
  Changing();
  std::vector<UnicodeString> items;
  std::vector<TObject*> objects;
  items.reserve(order.size());
  objects.reserve(FObjects.size());
  for (size_t i : order) {
    items.push_back(std::move(FItems[i]));
    if (!FObjects.empty()) objects.push_back(FObjects[i]);
  }
  FItems = std::move(items);
  FObjects = std::move(objects);
  Changed();
}

void TStringList::SetSorted(bool value) {
  if (value == FSorted) return;
  if (value) Sort();
  FSorted = value;
}

void TStringList::SetSortedItems(std::vector<UnicodeString> items, std::vector<TObject*> objects, size_t kept) {
  // A stable sort keeps equal items in the order they would have been
  // added, so the result is that of adding them one by one.
  std::vector<size_t> order(items.size());
  std::iota(order.begin(), order.end(), size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](size_t a, size_t b) { return AnsiCompareText(items[a], items[b]) < 0; });
  std::vector<UnicodeString> sortedItems;
  std::vector<TObject*> sortedObjects;
  sortedItems.reserve(items.size());
  for (size_t i : order) {
    // Equal items are neighbours, the list's own first: a new item need only
    // be compared with the last one kept.
    if (i >= kept && !sortedItems.empty() && FDuplicates != dupAccept &&
        AnsiCompareText(sortedItems.back(), items[i]) == 0) {
      if (FDuplicates == dupError) throw EStringListError(UnicodeString(EStringListError::SDuplicateString));
      continue;  // dupIgnore: the first one stays
    }
    sortedItems.push_back(std::move(items[i]));
    if (!objects.empty()) sortedObjects.push_back(objects[i]);
  }
  Changing();
  FItems = std::move(sortedItems);
  FObjects = std::move(sortedObjects);
  Changed();
}

void TStringList::AddStrings(const TStrings& source) {
  if (!FSorted) {
    TStrings::AddStrings(source);
    return;
  }
  std::vector<UnicodeString> items = FItems;
  std::vector<TObject*> objects = FObjects;
  size_t kept = items.size();
  bool anyObject = !objects.empty();
  for (int i = 0; i < source.Count(); ++i) anyObject = anyObject || source.GetObject(i) != nullptr;
  if (anyObject) objects.resize(items.size(), nullptr);
  for (int i = 0; i < source.Count(); ++i) {
    items.push_back(source.Get(i));
    if (anyObject) objects.push_back(source.GetObject(i));
  }
  SetSortedItems(std::move(items), std::move(objects), kept);
}

void TStringList::SetItems(std::vector<UnicodeString> items) {
  if (FSorted) {
    SetSortedItems(std::move(items), {}, 0);
    return;
  }
  Changing();
  FItems = std::move(items);
  FObjects.clear();
  Changed();
}

void TStringList::Assign(const TPersistent* source) {
  const auto* list = dynamic_cast<const TStringList*>(source);
  if (list == nullptr) {
    TStrings::Assign(source);
    return;
  }
  if (list == this) return;
  Changing();
  FItems = list->FItems;
  FObjects = list->FObjects;
  FSorted = list->FSorted;
  FDuplicates = list->FDuplicates;
  Changed();
}

}  // namespace rtl
