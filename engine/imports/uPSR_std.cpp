#include "engine/imports/uPSR_std.h"

#include "engine/imports/Libraries.h"
#include "engine/runtime/LibraryRows.h"
#include "rtl/Components.h"

namespace ps {

void ScriptFreeObject(rtl::TObject* object) {
  if (object->OwnedByHost()) throw EPSObjectError(rtl::UnicodeString(SCannotFreeHostObject));
  if (object->InUse()) throw EPSObjectError(rtl::UnicodeString(SCannotFreeObjectInUse));
  delete object;
}

std::span<const TPSClassRow> StdClassRows() {
  using rtl::TComponent;
  static const std::vector<TPSClassRow> rows = [] {
    std::vector<TPSClassRow> r;
    r.push_back(TPSClassRows<rtl::TObject>("", "TObject")
                    .Constructor<>("constructor Create")
                    .Method("procedure Free", &ScriptFreeObject));
    r.push_back(TPSClassRows<rtl::TPersistent>("TObject", "TPersistent")
                    .Method("procedure Assign(Source: TPersistent)",
                            [](rtl::TPersistent* self, rtl::TPersistent* source) { self->Assign(source); }));
    r.push_back(TPSClassRows<TComponent>("TPersistent", "TComponent")
                    .Method("function FindComponent(AName: String): TComponent;",
                            [](TComponent* self, const rtl::UnicodeString& name) { return self->FindComponent(name); })
                    .VirtualConstructorFn("constructor Create(AOwner: TComponent); virtual;",
                                          [](TComponent* owner) { return new TComponent(owner); })
                    .Published("Owner")
                    .Method("procedure DestroyComponents", &TComponent::DestroyComponents)
                    .Method("procedure Destroying", &TComponent::Destroying)
                    .Method("procedure FreeNotification(AComponent:TComponent)",
                            [](TComponent* self, TComponent* other) { self->FreeNotification(&Required(other)); })
                    .Method("procedure InsertComponent(AComponent:TComponent)",
                            [](TComponent* self, TComponent* other) { self->InsertComponent(&Required(other)); })
                    .Method("procedure RemoveComponent(AComponent:TComponent)",
                            [](TComponent* self, TComponent* other) { self->RemoveComponent(&Required(other)); })
                    .ReadProperty("Components", "TComponent Integer", &TComponent::Components)
                    .Published("ComponentCount")
                    .Published("ComponentIndex")
                    // The script type is a Byte: the first eight states.
                    .ReadProperty("ComponentState", "Byte",
                                  [](TComponent* self) { return static_cast<uint8_t>(self->ComponentState()); })
                    .Published("Designinfo")
                    .Published("Name")
                    .Published("Tag"));
    return r;
  }();
  return rows;
}

void RIRegisterTObject(TPSRuntimeClassImporter& cl) { BindClass(cl, FindClassRow(StdClassRows(), "TObject")); }

void RIRegisterTPersistent(TPSRuntimeClassImporter& cl) { BindClass(cl, FindClassRow(StdClassRows(), "TPersistent")); }

void RIRegisterTComponent(TPSRuntimeClassImporter& cl) { BindClass(cl, FindClassRow(StdClassRows(), "TComponent")); }

void RIRegister_Std(TPSRuntimeClassImporter& cl) { BindClasses(cl, StdClassRows()); }

}  // namespace ps
