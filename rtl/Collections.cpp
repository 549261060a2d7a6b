#include "rtl/Collections.h"

#include <algorithm>
#include <memory>

namespace rtl {

namespace {

TObject* CreateCollection() { return new TCollection(TCollectionItem::StaticClass()); }
TObject* CreateOwnedCollection() { return new TOwnedCollection(nullptr, TCollectionItem::StaticClass()); }

}  // namespace

// --- TCollectionItem -----------------------------------------------------------

TClass TCollectionItem::StaticClass() {
  static const TMetaClass meta(
      u"TCollectionItem", TPersistent::StaticClass(), &CreateInstance<TCollectionItem>,
      {ReadWriteProperty(u"Collection", u"TCollection", &TCollectionItem::Collection, &TCollectionItem::SetCollection),
       ReadOnlyProperty(u"Id", u"Integer", &TCollectionItem::ID),
       ReadWriteProperty(u"Index", u"Integer", &TCollectionItem::Index, &TCollectionItem::SetIndex),
       ReadWriteProperty(u"DisplayName", u"String", &TCollectionItem::DisplayName, &TCollectionItem::SetDisplayName)});
  return &meta;
}

TCollectionItem::TCollectionItem(TCollection* Collection) {
  if (Collection != nullptr) Collection->InsertItem(this);
}

TCollectionItem::~TCollectionItem() {
  if (FCollection != nullptr) FCollection->RemoveItem(this);
}

void TCollectionItem::SetCollection(TCollection* value) {
  if (value == FCollection) return;
  // Checked before leaving the old collection, so a refusal changes nothing.
  if (value != nullptr && !InheritsFrom(value->FItemClass))
    throw ECollectionError(
        FormatText(ECollectionError::SInvalidItemClass, {ClassName(), value->FItemClass->ClassName()}));
  if (FCollection != nullptr) FCollection->RemoveItem(this);
  if (value != nullptr) value->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (FCollection == nullptr) return -1;
  auto& items = FCollection->FItems;
  return static_cast<int>(std::find(items.begin(), items.end(), this) - items.begin());
}

void TCollectionItem::SetIndex(int value) {
  int current = Index();
  if (current < 0 || current == value) return;
  FCollection->CheckIndex(value);
  auto& items = FCollection->FItems;
  items.erase(items.begin() + current);
  items.insert(items.begin() + value, this);
  Changed(true);
}

UnicodeString TCollectionItem::DisplayName() const { return FDisplayName.empty() ? ClassName() : FDisplayName; }

void TCollectionItem::SetDisplayName(const UnicodeString& value) {
  FDisplayName = value;
  Changed(false);
}

void TCollectionItem::Assign(const TPersistent* source) {
  if (const auto* item = dynamic_cast<const TCollectionItem*>(source)) {
    SetDisplayName(item->FDisplayName);
    return;
  }
  TPersistent::Assign(source);
}

void TCollectionItem::Changed(bool allItems) {
  if (FCollection != nullptr && FCollection->FUpdateCount == 0) FCollection->Update(allItems ? nullptr : this);
}

// --- TCollection ---------------------------------------------------------------

TClass TCollection::StaticClass() {
  static const TMetaClass meta(u"TCollection", TPersistent::StaticClass(), &CreateCollection,
                               {ReadOnlyProperty(u"Count", u"Integer", &TCollection::Count)});
  return &meta;
}

TCollection::TCollection(TClass ItemClass) : FItemClass(ItemClass) {
  if (ItemClass == nullptr || !ItemClass->InheritsFrom(TCollectionItem::StaticClass()) || !ItemClass->CanCreate())
    throw ECollectionError(FormatText(ECollectionError::SInvalidItemClass,
                                      {ItemClass ? ItemClass->ClassName() : UnicodeString(u"nil"), ClassName()}));
}

TCollection::~TCollection() {
  FUpdateCount = 1;
  for (TCollectionItem* item : FItems) {
    item->FCollection = nullptr;
    delete item;
  }
}

void TCollection::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) throw EListError::IndexError(index);
}

void TCollection::InsertItem(TCollectionItem* item) {
  FItems.push_back(item);
  item->FCollection = this;
  item->FID = FNextID++;
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* item) {
  FItems.erase(std::remove(FItems.begin(), FItems.end(), item), FItems.end());
  item->FCollection = nullptr;
  Changed();
}

TCollectionItem* TCollection::Add() {
  std::unique_ptr<TObject> object(FItemClass->Create());
  auto* typed = dynamic_cast<TCollectionItem*>(object.get());
  if (typed == nullptr)
    throw ECollectionError(FormatText(ECollectionError::SInvalidItemClass, {object->ClassName(), ClassName()}));
  object.release();
  std::unique_ptr<TCollectionItem> item(typed);
  item->SetOwnedByHost(false);
  item->SetCollection(this);
  return item.release();
}

TCollectionItem* TCollection::Insert(int index) {
  if (index < 0 || index > Count()) throw EListError::IndexError(index);
  TCollectionItem* item = Add();
  item->SetIndex(index);
  return item;
}

void TCollection::Delete(int index) {
  CheckIndex(index);
  delete FItems[static_cast<size_t>(index)];
}

void TCollection::Clear() {
  if (FItems.empty()) return;
  BeginUpdate();
  while (!FItems.empty()) delete FItems.back();
  EndUpdate();
}

TCollectionItem* TCollection::Items(int index) const {
  CheckIndex(index);
  return FItems[static_cast<size_t>(index)];
}

void TCollection::SetItems(int index, TCollectionItem* value) { Items(index)->Assign(value); }

TCollectionItem* TCollection::FindItemId(int id) const {
  for (TCollectionItem* item : FItems)
    if (item->FID == id) return item;
  return nullptr;
}

void TCollection::BeginUpdate() { ++FUpdateCount; }

void TCollection::EndUpdate() {
  if (FUpdateCount == 0) return;
  --FUpdateCount;
  Changed();
}

void TCollection::Changed() {
  if (FUpdateCount == 0) Update(nullptr);
}

void TCollection::Assign(const TPersistent* source) {
  const auto* collection = dynamic_cast<const TCollection*>(source);
  if (collection == nullptr) {
    TPersistent::Assign(source);
    return;
  }
  if (collection == this) return;
  BeginUpdate();
  try {
    Clear();
    for (TCollectionItem* item : collection->FItems) Add()->Assign(item);
  } catch (...) {
    EndUpdate();  // cleanup only: the failure goes on to the caller
    throw;
  }
  EndUpdate();
}

// --- TOwnedCollection --------------------------------------------------------

TClass TOwnedCollection::StaticClass() {
  static const TMetaClass meta(u"TOwnedCollection", TCollection::StaticClass(), &CreateOwnedCollection);
  return &meta;
}

}  // namespace rtl
