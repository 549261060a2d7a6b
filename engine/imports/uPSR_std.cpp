#include "engine/imports/uPSR_std.h"

#include "rtl/Components.h"

namespace ps {

void ScriptFreeObject(rtl::TObject* object) {
  if (object->OwnedByHost()) throw EPSObjectError(rtl::UnicodeString(SCannotFreeHostObject));
  if (object->InUse()) throw EPSObjectError(rtl::UnicodeString(SCannotFreeObjectInUse));
  delete object;
}

void RIRegisterTObject(TPSRuntimeClassImporter& cl) {
  auto& c = cl.Add<rtl::TObject>();
  c.Constructor<>();
  c.Method("Free", &ScriptFreeObject);
}

void RIRegisterTPersistent(TPSRuntimeClassImporter& cl) {
  auto& c = cl.Add<rtl::TPersistent>();
  c.Method("Assign", [](rtl::TPersistent* self, rtl::TPersistent* source) { self->Assign(source); });
}

void RIRegisterTComponent(TPSRuntimeClassImporter& cl) {
  using rtl::TComponent;
  auto& c = cl.Add<TComponent>();
  c.Method("FindComponent", [](TComponent* self, const rtl::UnicodeString& name) { return self->FindComponent(name); });
  c.VirtualConstructorFn("Create", [](TComponent* owner) { return new TComponent(owner); });
  c.Property("Owner", &TComponent::Owner, &TComponent::SetOwner);
  c.Method("DestroyComponents", &TComponent::DestroyComponents);
  c.Method("Destroying", &TComponent::Destroying);
  c.Method("FreeNotification", [](TComponent* self, TComponent* other) { self->FreeNotification(&Required(other)); });
  c.Method("InsertComponent", [](TComponent* self, TComponent* other) { self->InsertComponent(&Required(other)); });
  c.Method("RemoveComponent", [](TComponent* self, TComponent* other) { self->RemoveComponent(&Required(other)); });
  c.ReadProperty("Components", &TComponent::Components);
  c.ReadProperty("ComponentCount", &TComponent::ComponentCount);
  c.Property("ComponentIndex", &TComponent::ComponentIndex, &TComponent::SetComponentIndex);
  // The script type is a Byte: the first eight states.
  c.ReadProperty("ComponentState", [](TComponent* self) { return static_cast<uint8_t>(self->ComponentState()); });
  c.Property("DesignInfo", &TComponent::DesignInfo, &TComponent::SetDesignInfo);
  c.Property("Name", &TComponent::Name, &TComponent::SetName);
  c.Property("Tag", &TComponent::Tag, &TComponent::SetTag);
}

void RIRegister_Std(TPSRuntimeClassImporter& cl) {
  RIRegisterTObject(cl);
  RIRegisterTPersistent(cl);
  RIRegisterTComponent(cl);
}

}  // namespace ps
