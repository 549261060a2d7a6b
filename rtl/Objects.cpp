#include "rtl/Objects.h"

#include <unordered_map>

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

struct TLiveObjects {
  std::unordered_map<const void*, uint32_t> ByAddress;
  std::unordered_map<uint32_t, TObject*> ById;
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
  } while (id == 0 || live.ById.count(id) != 0);
  live.LastId = id;
  live.ById.emplace(id, object);
  live.ByAddress.emplace(object, id);
  return id;
}

void TObjectRegistry::Unregister(TObject* object, uint32_t objectId) {
  TLiveObjects& live = LiveObjects();
  live.ById.erase(objectId);
  live.ByAddress.erase(object);
}

bool TObjectRegistry::IsLive(const void* address) {
  return address != nullptr && LiveObjects().ByAddress.count(address) != 0;
}

TObject* TObjectRegistry::Find(uint32_t objectId) {
  TLiveObjects& live = LiveObjects();
  auto it = live.ById.find(objectId);
  return it == live.ById.end() ? nullptr : it->second;
}

size_t TObjectRegistry::LiveCount() { return LiveObjects().ById.size(); }

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
