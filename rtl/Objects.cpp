#include "rtl/Objects.h"

#include <bit>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace rtl {

// --- TMetaClass -------------------------------------------------------------

TMetaClass::TMetaClass(std::u16string_view name, TClass parent, TObjectFactory factory,
                       std::vector<TPropInfo> properties)
    : FClassName(name), FParent(parent), FFactory(factory), FProperties(std::move(properties)) {}

bool TMetaClass::InheritsFrom(TClass ancestor) const {
  for (TClass c = this; c != nullptr; c = c->FParent)
    if (c == ancestor) return true;
  return false;
}

bool TMetaClass::ClassNameIs(std::u16string_view name) const {
  return AsciiUpperCase(FClassName) == AsciiUpperCase(name);
}

TObject* TMetaClass::Create() const {
  if (FFactory == nullptr) throw EConvertError(FormatText(SCannotCreate, {FClassName}));
  return FFactory();
}

const TPropInfo* TMetaClass::FindProperty(std::u16string_view name) const {
  UnicodeString wanted = AsciiUpperCase(name);
  for (TClass c = this; c != nullptr; c = c->FParent)
    for (const TPropInfo& p : c->FProperties)
      if (AsciiUpperCase(p.Name) == wanted) return &p;
  return nullptr;
}

// --- The registry of live objects -------------------------------------------

namespace {

// An open-addressing table for the registry: keys and values inline, the
// zero key marks a free entry, linear probing, deletion by shifting back.
// Registering and checking an object costs a multiplication and a probe or
// two, with no allocation except when the table doubles.
template <class K, class V>
class TFlatTable {
 public:
  V* Find(K key) {
    if (FEntries.empty()) return nullptr;
    for (size_t i = Home(key);; i = (i + 1) & Mask()) {
      if (FEntries[i].Key == key) return &FEntries[i].Value;
      if (FEntries[i].Key == K{}) return nullptr;
    }
  }
  void Insert(K key, V value) {
    if ((FSize + 1) * 2 > FEntries.size()) Grow();
    size_t i = Home(key);
    while (FEntries[i].Key != K{}) i = (i + 1) & Mask();
    FEntries[i] = {key, value};
    ++FSize;
  }
  void Erase(K key) {
    if (FEntries.empty()) return;
    size_t i = Home(key);
    while (FEntries[i].Key != key) {
      if (FEntries[i].Key == K{}) return;
      i = (i + 1) & Mask();
    }
    // Entries after the hole that could live in it move back into it.
    for (size_t j = (i + 1) & Mask(); FEntries[j].Key != K{}; j = (j + 1) & Mask()) {
      size_t home = Home(FEntries[j].Key);
      bool between = i <= j ? (home > i && home <= j) : (home > i || home <= j);
      if (!between) {
        FEntries[i] = FEntries[j];
        i = j;
      }
    }
    FEntries[i] = {};
    --FSize;
  }
  size_t Size() const { return FSize; }

 private:
  struct TEntry {
    K Key{};
    V Value{};
  };
  size_t Mask() const { return FEntries.size() - 1; }
  size_t Home(K key) const {
    uint64_t bits;
    if constexpr (std::is_pointer_v<K>)
      bits = reinterpret_cast<uintptr_t>(key);
    else
      bits = static_cast<uint64_t>(key);
    return static_cast<size_t>((bits * 0x9E3779B97F4A7C15ull) >> FShift);
  }
  void Grow() {
    std::vector<TEntry> old = std::move(FEntries);
    FEntries.assign(old.empty() ? 64 : old.size() * 2, TEntry{});
    FShift = 64 - static_cast<unsigned>(std::countr_zero(FEntries.size()));
    FSize = 0;
    for (const TEntry& e : old)
      if (e.Key != K{}) Insert(e.Key, e.Value);
  }
  std::vector<TEntry> FEntries;
  size_t FSize = 0;
  unsigned FShift = 58;
};

struct TLiveObjects {
  TFlatTable<const void*, uint32_t> ByAddress;
  TFlatTable<uint32_t, TObject*> ById;
  uint32_t LastId = 0;
};

// Never destroyed: objects with static storage duration unregister after
// every other static has gone.
TLiveObjects& LiveObjects() {
  static TLiveObjects* objects = new TLiveObjects;
  return *objects;
}

}  // namespace

uint32_t TObjectRegistry::Register(TObject* object) {
  TLiveObjects& live = LiveObjects();
  // Numbers are handed out in order and only come round again after four
  // billion objects, so a stale number almost never names a newer object.
  uint32_t id = live.LastId;
  do {
    ++id;
  } while (id == 0 || live.ById.Find(id) != nullptr);
  live.LastId = id;
  live.ById.Insert(id, object);
  live.ByAddress.Insert(object, id);
  return id;
}

void TObjectRegistry::Unregister(TObject* object, uint32_t objectId) {
  TLiveObjects& live = LiveObjects();
  live.ById.Erase(objectId);
  live.ByAddress.Erase(object);
}

bool TObjectRegistry::IsLive(const void* address) {
  return address != nullptr && LiveObjects().ByAddress.Find(address) != nullptr;
}

TObject* TObjectRegistry::Find(uint32_t objectId) {
  TObject** found = LiveObjects().ById.Find(objectId);
  return found ? *found : nullptr;
}

size_t TObjectRegistry::LiveCount() { return LiveObjects().ById.Size(); }

// --- TObject ------------------------------------------------------------------

TObject::TObject() : FObjectId(TObjectRegistry::Register(this)) {}

TObject::TObject(const TObject&) : FObjectId(TObjectRegistry::Register(this)) {}

TObject::TObject(TObject&&) noexcept : FObjectId(TObjectRegistry::Register(this)) {}

TObject::~TObject() { TObjectRegistry::Unregister(this, FObjectId); }

TClass TObject::StaticClass() {
  static const TMetaClass meta(u"TObject", nullptr, &CreateInstance<TObject>);
  return &meta;
}

// --- TPersistent --------------------------------------------------------------

TClass TPersistent::StaticClass() {
  static const TMetaClass meta(u"TPersistent", TObject::StaticClass(), &CreateInstance<TPersistent>);
  return &meta;
}

void TPersistent::Assign(const TPersistent* source) {
  if (source == nullptr) AssignError(nullptr);
  source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* dest) const { dest->AssignError(this); }

void TPersistent::AssignError(const TPersistent* source) const {
  UnicodeString sourceName = source != nullptr ? source->ClassName() : UnicodeString(u"nil");
  throw EAssignError(FormatText(EAssignError::SAssignError, {sourceName, ClassName()}));
}

namespace detail {

void RaiseInvalidPropertyValue(const UnicodeString& name) {
  throw EPropertyError(FormatText(EPropertyError::SInvalidPropertyValue, {name}));
}

void RaisePropertyNotOfClass(const UnicodeString& name, const TObject& object) {
  throw EPropertyError(FormatText(EPropertyError::SPropertyNotOfClass, {name, object.ClassName()}));
}

}  // namespace detail

}  // namespace rtl
