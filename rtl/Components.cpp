#include "rtl/Components.h"

#include <algorithm>
#include <vector>

namespace rtl {

namespace {

bool IsIdentStart(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_'; }

void Erase(std::vector<TComponent*>& list, const TComponent* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

bool IsValidIdent(std::u16string_view name) {
  if (name.empty() || !IsIdentStart(name[0])) return false;
  for (char16_t c : name)
    if (!IsIdentStart(c) && !(c >= u'0' && c <= u'9')) return false;
  return true;
}

TClass TComponent::StaticClass() {
  static const TMetaClass meta(
      u"TComponent", TPersistent::StaticClass(), &CreateInstance<TComponent>,
      {ReadWriteProperty(u"Name", u"String", &TComponent::Name, &TComponent::SetName),
       ReadWriteProperty(u"Tag", u"LongInt", &TComponent::Tag, &TComponent::SetTag),
       ReadWriteProperty(u"Owner", u"TComponent", &TComponent::Owner, &TComponent::SetOwner),
       ReadOnlyProperty(u"ComponentCount", u"Integer", &TComponent::ComponentCount),
       ReadWriteProperty(u"ComponentIndex", u"Integer", &TComponent::ComponentIndex, &TComponent::SetComponentIndex),
       ReadOnlyProperty(u"ComponentState", u"Byte", &TComponent::ComponentState),
       ReadWriteProperty(u"DesignInfo", u"LongInt", &TComponent::DesignInfo, &TComponent::SetDesignInfo)});
  return &meta;
}

TComponent::TComponent(TComponent* AOwner) {
  if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
  Destroying();
  while (!FFreeNotifies.empty()) {
    TComponent* partner = FFreeNotifies.back();
    FFreeNotifies.pop_back();
    // Taken off the partner's list here, so a Notification override that
    // forgets to call ours cannot leave a dangling entry behind.
    partner->RemoveNotification(this);
    partner->Notification(this, opRemove);
  }
  DestroyComponents();
  if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

void TComponent::SetOwner(TComponent* owner) {
  if (owner == FOwner) return;
  if (owner != nullptr)
    owner->InsertComponent(this);
  else
    FOwner->RemoveComponent(this);
}

TComponent* TComponent::Components(int index) const {
  if (index < 0 || index >= ComponentCount()) throw EListError::IndexError(index);
  return FComponents[static_cast<size_t>(index)];
}

int TComponent::ComponentIndex() const {
  if (FOwner == nullptr) return -1;
  auto& list = FOwner->FComponents;
  return static_cast<int>(std::find(list.begin(), list.end(), this) - list.begin());
}

void TComponent::SetComponentIndex(int value) {
  if (FOwner == nullptr) return;
  auto& list = FOwner->FComponents;
  int count = static_cast<int>(list.size());
  value = std::clamp(value, 0, count - 1);
  int current = ComponentIndex();
  if (current == value) return;
  list.erase(list.begin() + current);
  list.insert(list.begin() + value, this);
}

void TComponent::ValidateInsert(TComponent* AComponent) const {
  // Only a component that owns others can be above this one; a fresh one
  // needs no walk up what may be a very long chain of owners.
  if (AComponent == this) throw EComponentError(UnicodeString(EComponentError::SOwnerCycle));
  if (!AComponent->FComponents.empty())
    for (const TComponent* c = FOwner; c != nullptr; c = c->FOwner)
      if (c == AComponent) throw EComponentError(UnicodeString(EComponentError::SOwnerCycle));
  if (!AComponent->FName.empty() && FindComponent(AComponent->FName) != nullptr)
    throw EComponentError(FormatText(EComponentError::SDuplicateName, {AComponent->FName}));
}

void TComponent::InsertComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent->FOwner == this) return;
  ValidateInsert(AComponent);
  // A component has one owner: leave the old one first, or it would keep a
  // pointer to a component it no longer frees.
  if (AComponent->FOwner != nullptr) AComponent->FOwner->RemoveComponent(AComponent);
  FComponents.push_back(AComponent);
  AComponent->FOwner = this;
  Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent->FOwner != this) return;
  Notification(AComponent, opRemove);
  Erase(FComponents, AComponent);
  AComponent->FOwner = nullptr;
}

namespace {
// Owners nest as deep as a script makes them. Past a few levels, owned
// components are handed to the outermost DestroyComponents, which frees them
// in its loop instead of through ever deeper destructor calls.
constexpr int DirectDestroyLevels = 32;
thread_local int DestroyNesting = 0;
thread_local std::vector<TComponent*>* DeferredDestroys = nullptr;
}  // namespace

void TComponent::DestroyComponents() {
  std::vector<TComponent*> deferred;
  const bool outermost = DeferredDestroys == nullptr;
  if (outermost) DeferredDestroys = &deferred;
  ++DestroyNesting;
  while (!FComponents.empty()) {
    TComponent* component = FComponents.back();
    FComponents.pop_back();
    component->FOwner = nullptr;
    if (DestroyNesting > DirectDestroyLevels)
      DeferredDestroys->push_back(component);
    else
      delete component;
  }
  --DestroyNesting;
  if (!outermost) return;
  while (!deferred.empty()) {
    TComponent* component = deferred.back();
    deferred.pop_back();
    delete component;
  }
  DeferredDestroys = nullptr;
}

void TComponent::Destroying() {
  std::vector<TComponent*> work{this};
  while (!work.empty()) {
    TComponent* c = work.back();
    work.pop_back();
    if (c->FComponentState & ComponentStateBit(csDestroying)) continue;
    c->FComponentState |= ComponentStateBit(csDestroying);
    work.insert(work.end(), c->FComponents.begin(), c->FComponents.end());
  }
}

TComponent* TComponent::FindComponent(std::u16string_view AName) const {
  if (AName.empty()) return nullptr;
  UnicodeString wanted = AsciiUpperCase(AName);
  for (TComponent* component : FComponents)
    if (AsciiUpperCase(component->FName) == wanted) return component;
  return nullptr;
}

void TComponent::FreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr || AComponent == this) return;
  if (FOwner == nullptr || AComponent->FOwner != FOwner) {
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end()) {
      FFreeNotifies.push_back(AComponent);
      AComponent->FreeNotification(this);
    }
  }
  FComponentState |= ComponentStateBit(csFreeNotification);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
  if (AComponent == nullptr) return;
  RemoveNotification(AComponent);
  AComponent->RemoveNotification(this);
}

void TComponent::RemoveNotification(TComponent* AComponent) {
  Erase(FFreeNotifies, AComponent);
  if (FFreeNotifies.empty()) FComponentState &= static_cast<TComponentState>(~ComponentStateBit(csFreeNotification));
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr) RemoveNotification(AComponent);
  if (FComponentState & ComponentStateBit(csDestroying)) return;
  // By index: a notified component may change the list.
  for (size_t i = 0; i < FComponents.size(); ++i) FComponents[i]->Notification(AComponent, Operation);
}

void TComponent::SetName(const UnicodeString& value) {
  if (value == FName) return;
  if (!value.empty() && !IsValidIdent(value)) throw EComponentError(FormatText(EComponentError::SInvalidName, {value}));
  if (FOwner != nullptr && AsciiUpperCase(value) != AsciiUpperCase(FName) && FOwner->FindComponent(value) != nullptr)
    throw EComponentError(FormatText(EComponentError::SDuplicateName, {value}));
  FName = value;
}

}  // namespace rtl
