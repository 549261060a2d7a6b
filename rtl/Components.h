// TComponent: objects that own other components, free them with
// themselves, carry a name unique among their owner's components, and tell
// each other when one goes away.
#pragma once

#include <vector>

#include "rtl/Objects.h"

namespace rtl {

enum TComponentStateE : uint8_t {
  csLoading,
  csReading,
  csWriting,
  csDestroying,
  csDesigning,
  csAncestor,
  csUpdating,
  csFixups,
  csFreeNotification,
  csInline,
  csDesignInstance
};
// A set of TComponentStateE: bit n stands for element n.
using TComponentState = uint16_t;
constexpr TComponentState ComponentStateBit(TComponentStateE e) { return static_cast<TComponentState>(1u << e); }

enum TOperation : uint8_t { opInsert, opRemove };

class EComponentError : public Exception {
 public:
  using Exception::Exception;
  static constexpr std::u16string_view SDuplicateName = u"A component named %s already exists";
  static constexpr std::u16string_view SInvalidName = u"'%s' is not a valid component name";
  static constexpr std::u16string_view SOwnerCycle = u"A component cannot own itself or one of its owners";
};

// Owned components live on the heap: the owner deletes them when it is
// destroyed (or in DestroyComponents). A component deleted on its own
// leaves its owner first, so either side may go first.
class TComponent : public TPersistent {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  // With an owner, the component is inserted into the owner's components.
  explicit TComponent(TComponent* AOwner = nullptr);
  ~TComponent() override;
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  // --- Ownership ------------------------------------------------------------
  TComponent* Owner() const { return FOwner; }
  // Moves the component to another owner (or to none).
  void SetOwner(TComponent* owner);
  // Raises "List index out of bounds (%d)" outside 0..ComponentCount-1.
  TComponent* Components(int index) const;
  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  // The position among the owner's components; -1 without owner.
  int ComponentIndex() const;
  // Moves the component within its owner's list (clamped to the list).
  void SetComponentIndex(int value);
  // Takes the component from its present owner, if any. Raises when the
  // component's name is taken among this one's components, or when the
  // component is this one or one of its owners.
  void InsertComponent(TComponent* AComponent);
  // Does nothing for a component this one does not own.
  void RemoveComponent(TComponent* AComponent);
  // Frees every owned component, the last first.
  void DestroyComponents();
  // Marks this component and those it owns as being destroyed.
  void Destroying();
  // Owned component of that name (ASCII letter case ignored); null for none
  // or for the empty name.
  TComponent* FindComponent(std::u16string_view AName) const;

  // --- Free notification --------------------------------------------------
  // Each of the two is told (Notification with opRemove) when the other is
  // destroyed. Components of the same owner hear of each other through the
  // owner already.
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);
  // Called for components inserted into or removed from this one or its
  // owned components, and for free-notification partners going away.
  // Overrides must call this one.
  virtual void Notification(TComponent* AComponent, TOperation Operation);

  // --- Plain properties ---------------------------------------------------
  TComponentState ComponentState() const { return FComponentState; }
  // Empty, or a valid identifier unique among the owner's components.
  const UnicodeString& Name() const { return FName; }
  virtual void SetName(const UnicodeString& value);
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t value) { FTag = value; }
  int32_t DesignInfo() const { return FDesignInfo; }
  void SetDesignInfo(int32_t value) { FDesignInfo = value; }

 private:
  void ValidateInsert(TComponent* AComponent) const;
  void RemoveNotification(TComponent* AComponent);

  TComponent* FOwner = nullptr;            // not owned
  std::vector<TComponent*> FComponents;    // owned
  std::vector<TComponent*> FFreeNotifies;  // not owned
  TComponentState FComponentState = 0;
  UnicodeString FName;
  int32_t FTag = 0;
  int32_t FDesignInfo = 0;
};

// A name made of ASCII letters, digits and "_", not starting with a digit.
bool IsValidIdent(std::u16string_view name);

}  // namespace rtl
