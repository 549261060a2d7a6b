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

// An open-addressing set of live objects for the registry, found by a key
// each object carries (its address, or its number): an entry is one
// pointer, null marks a free one, linear probing, deletion by shifting back.
// Registering and checking an object costs a multiplication and a probe or
// two, with no allocation except when the table doubles.
template <class K, K (*KeyOf)(const TObject*)>
class TObjectSet {
 public:
  TObject* Find(K key) const {
    if (FEntries.empty()) return nullptr;
    for (size_t i = Home(key);; i = (i + 1) & Mask()) {
      if (FEntries[i] == nullptr) return nullptr;
      if (KeyOf(FEntries[i]) == key) return FEntries[i];
    }
  }
  void Insert(TObject* object) {
    if ((FSize + 1) * 2 > FEntries.size()) Grow();
    size_t i = Home(KeyOf(object));
    while (FEntries[i] != nullptr) i = (i + 1) & Mask();
    FEntries[i] = object;
    ++FSize;
  }
  void Erase(K key) {
    if (FEntries.empty()) return;
    size_t i = Home(key);
    while (FEntries[i] == nullptr || KeyOf(FEntries[i]) != key) {
      if (FEntries[i] == nullptr) return;
      i = (i + 1) & Mask();
    }
    // Entries after the hole that could live in it move back into it.
    for (size_t j = (i + 1) & Mask(); FEntries[j] != nullptr; j = (j + 1) & Mask()) {
      size_t home = Home(KeyOf(FEntries[j]));
      bool between = i <= j ? (home > i && home <= j) : (home > i || home <= j);
      if (!between) {
        FEntries[i] = FEntries[j];
        i = j;
      }
    }
    FEntries[i] = nullptr;
    --FSize;
  }
  size_t Size() const { return FSize; }

 private:
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
    std::vector<TObject*> old = std::move(FEntries);
    FEntries.assign(old.empty() ? 64 : old.size() * 2, nullptr);
    FShift = 64 - static_cast<unsigned>(std::countr_zero(FEntries.size()));
    FSize = 0;
    for (TObject* object : old)
      if (object != nullptr) Insert(object);
  }
  std::vector<TObject*> FEntries;
  size_t FSize = 0;
  unsigned FShift = 58;
};

const void* AddressOf(const TObject* object) { return object; }
uint32_t IdOf(const TObject* object) { return object->ObjectId(); }

struct TLiveObjects {
  TObjectSet<const void*, &AddressOf> ByAddress;
  TObjectSet<uint32_t, &IdOf> ById;
  uint32_t LastId = 0;
};

// Never destroyed: objects with static storage duration unregister after
// every other static has gone.
TLiveObjects& LiveObjects() {
  static TLiveObjects* objects = new TLiveObjects;
  return *objects;
}

}  // namespace

void TObjectRegistry::Register(TObject* object) {
  TLiveObjects& live = LiveObjects();
  // Numbers are handed out in order and only come round again after four
  // billion objects, so a stale number almost never names a newer object.
  uint32_t id = live.LastId;
  do {
    ++id;
  } while (id == 0 || live.ById.Find(id) != nullptr);
  live.LastId = id;
  object->FObjectId = id;  // before the number set reads it
  live.ById.Insert(object);
  live.ByAddress.Insert(object);
}

void TObjectRegistry::Unregister(TObject* object) {
  TLiveObjects& live = LiveObjects();
  live.ById.Erase(object->FObjectId);
  live.ByAddress.Erase(object);
}

bool TObjectRegistry::IsLive(const void* address) {
  return address != nullptr && LiveObjects().ByAddress.Find(address) != nullptr;
}

TObject* TObjectRegistry::Find(uint32_t objectId) { return objectId ? LiveObjects().ById.Find(objectId) : nullptr; }

size_t TObjectRegistry::LiveCount() { return LiveObjects().ById.Size(); }

// --- TObject ------------------------------------------------------------------

TObject::TObject() { TObjectRegistry::Register(this); }

TObject::TObject(const TObject&) { TObjectRegistry::Register(this); }

TObject::TObject(TObject&&) noexcept { TObjectRegistry::Register(this); }

TObject::~TObject() { TObjectRegistry::Unregister(this); }

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
