// Collections: a list of items of one item class that the collection
// creates, owns and frees.
#pragma once

#include <vector>

#include "rtl/Objects.h"

namespace rtl {

class TCollection;

class ECollectionError : public EListError {
 public:
  using EListError::EListError;
  static constexpr std::u16string_view SInvalidItemClass = u"A %s cannot be an item of a collection of %s";
};

// An item belongs to at most one collection; freeing an item takes it out
// of its collection. Descendants that carry data override Assign (the base
// copies the display name).
class TCollectionItem : public TPersistent {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  // The class check of SetCollection cannot run here (while a descendant
  // is being constructed its class is not yet its own): C++ code constructs
  // items of the collection's item class, as Add does. Scripts' constructor
  // calls create through the metaclass and then call SetCollection.
  explicit TCollectionItem(TCollection* Collection = nullptr);
  ~TCollectionItem() override;
  TCollectionItem(const TCollectionItem&) = delete;
  TCollectionItem& operator=(const TCollectionItem&) = delete;

  TCollection* Collection() const { return FCollection; }
  // Moves the item to another collection (or out of any).
  void SetCollection(TCollection* value);
  // Unique within the collection, in order of insertion; 0 outside one.
  int ID() const { return FID; }
  // Position in the collection (-1 outside one). Setting it moves the item;
  // a position outside the collection raises "List index out of bounds (%d)".
  int Index() const;
  void SetIndex(int value);
  // The name set, or the class name when none is.
  virtual UnicodeString DisplayName() const;
  virtual void SetDisplayName(const UnicodeString& value);

  void Assign(const TPersistent* source) override;

 protected:
  // Tells the collection that this item (or, with allItems, every item) changed.
  void Changed(bool allItems);

 private:
  friend class TCollection;
  TCollection* FCollection = nullptr;  // not owned: the collection owns the item
  int FID = 0;
  UnicodeString FDisplayName;
};

class TCollection : public TPersistent {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  // `ItemClass` must be TCollectionItem or a descendant that can be created
  // without arguments; anything else raises.
  explicit TCollection(TClass ItemClass);
  ~TCollection() override;
  TCollection(const TCollection&) = delete;
  TCollection& operator=(const TCollection&) = delete;

  // The persistent that owns the collection (none for a plain collection).
  virtual TPersistent* Owner() const { return nullptr; }
  TClass ItemClass() const { return FItemClass; }

  // A new item of the item class at the end (or at `index`, 0..Count).
  // Items made here may be freed by scripts: they leave the collection.
  TCollectionItem* Add();
  TCollectionItem* Insert(int index);
  void Delete(int index);
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }
  // Raises "List index out of bounds (%d)" outside 0..Count-1.
  TCollectionItem* Items(int index) const;
  // Assigns the value to the item at `index`.
  void SetItems(int index, TCollectionItem* value);
  TCollectionItem* FindItemId(int id) const;

  // Nested; Update is called once for the whole block when it ends.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return FUpdateCount; }

  // Replaces the items by copies of the source collection's items.
  void Assign(const TPersistent* source) override;

 protected:
  // Hook for descendants: `item` changed, or every item when null.
  virtual void Update(TCollectionItem* item) {}
  void Changed();

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);
  void CheckIndex(int index) const;

  std::vector<TCollectionItem*> FItems;  // owned
  TClass FItemClass;
  int FNextID = 0;
  int FUpdateCount = 0;
};

// A collection that names the persistent it belongs to (not owned).
class TOwnedCollection : public TCollection {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  TOwnedCollection(TPersistent* AOwner, TClass ItemClass) : TCollection(ItemClass), FOwner(AOwner) {}
  TPersistent* Owner() const override { return FOwner; }

 private:
  TPersistent* FOwner;
};

}  // namespace rtl
