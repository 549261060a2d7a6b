#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "rtl/Bits.h"
#include "rtl/Collections.h"
#include "rtl/Components.h"

using namespace rtl;

namespace {

// Records every notification it hears as "+Name" or "-Name".
class TListener : public TComponent {
 public:
  using TComponent::TComponent;
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    Heard.push_back((Operation == opInsert ? "+" : "-") + UnicodeToUtf8(AComponent->Name()));
  }
  std::vector<std::string> Heard;
};

TComponent* Named(TComponent* c, const char16_t* name) {
  c->SetName(name);
  return c;
}

}  // namespace

TEST(Component, OwnerFreesOwnedComponentsAndAFreedComponentLeavesItsOwner) {
  auto owner = std::make_unique<TComponent>();
  auto* a = Named(new TComponent(owner.get()), u"A");
  auto* b = Named(new TComponent(owner.get()), u"B");
  auto* grandchild = new TComponent(b);
  uint32_t aId = a->ObjectId(), bId = b->ObjectId(), gId = grandchild->ObjectId();
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(owner->Components(1), b);
  EXPECT_EQ(a->Owner(), owner.get());
  EXPECT_EQ(b->ComponentIndex(), 1);
  EXPECT_EQ(owner->ComponentIndex(), -1);
  EXPECT_THROW(owner->Components(2), EListError);

  delete a;  // leaves the owner's list
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(owner->Components(0), b);

  owner.reset();  // frees b and, through b, its own component
  EXPECT_EQ(TObjectRegistry::Find(aId), nullptr);
  EXPECT_EQ(TObjectRegistry::Find(bId), nullptr);
  EXPECT_EQ(TObjectRegistry::Find(gId), nullptr);
}

TEST(Component, FindComponentIgnoresCaseAndDestroyComponentsFreesAll) {
  TComponent owner;
  auto* first = Named(new TComponent(&owner), u"First");
  new TComponent(&owner);  // unnamed
  EXPECT_EQ(owner.FindComponent(u"FIRST"), first);
  EXPECT_EQ(owner.FindComponent(u""), nullptr);
  EXPECT_EQ(owner.FindComponent(u"Second"), nullptr);
  owner.DestroyComponents();
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(Component, NamesMustBeIdentifiersUniqueWithinTheOwner) {
  TComponent owner;
  auto* a = Named(new TComponent(&owner), u"Alpha");
  auto* b = new TComponent(&owner);
  for (const char16_t* bad : {u"1st", u"has space", u"dot.ted", u"ä"}) {
    try {
      b->SetName(bad);
      FAIL() << UnicodeToUtf8(bad);
    } catch (const EComponentError& e) {
      EXPECT_EQ(e.Message(), u"'" + UnicodeString(bad) + u"' is not a valid component name");
    }
  }
  try {
    b->SetName(u"ALPHA");
    FAIL();
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message(), u"A component named ALPHA already exists");
  }
  a->SetName(u"ALPHA");  // renaming itself in another case is fine
  b->SetName(u"_beta2");
  b->SetName(u"");  // and so is no name
  EXPECT_EQ(a->Name(), u"ALPHA");

  // Inserting a component whose name is taken is refused and changes nothing.
  TComponent other;
  auto* clash = Named(new TComponent(&other), u"alpha");
  EXPECT_THROW(owner.InsertComponent(clash), EComponentError);
  EXPECT_EQ(clash->Owner(), &other);
}

TEST(Component, InsertTakesTheComponentFromItsOldOwner) {
  TComponent first, second;
  auto* c = new TComponent(&first);
  second.InsertComponent(c);
  EXPECT_EQ(first.ComponentCount(), 0);  // not left behind to be freed twice
  EXPECT_EQ(c->Owner(), &second);
  c->SetOwner(&first);
  EXPECT_EQ(second.ComponentCount(), 0);
  EXPECT_EQ(first.Components(0), c);
  first.RemoveComponent(c);
  EXPECT_EQ(c->Owner(), nullptr);
  second.RemoveComponent(c);  // not owned there: nothing happens
  delete c;
}

TEST(Component, OwnershipCyclesAreRefused) {
  TComponent root;
  auto* child = new TComponent(&root);
  auto* grandchild = new TComponent(child);
  for (TComponent* target : {static_cast<TComponent*>(&root), child}) {
    try {
      grandchild->InsertComponent(target);
      FAIL();
    } catch (const EComponentError& e) {
      EXPECT_EQ(e.Message(), u"A component cannot own itself or one of its owners");
    }
  }
  EXPECT_THROW(child->InsertComponent(child), EComponentError);
  EXPECT_EQ(child->Owner(), &root);
}

TEST(Component, AVeryLongChainOfOwnersIsBuiltAndFreedWithoutDeepRecursion) {
  // Each new component owned by the one before: building must not walk the
  // chain every time, and freeing the first frees them all.
  TListener outside;
  auto* first = new TComponent();
  TComponent* last = first;
  TComponent* deep = nullptr;
  for (int i = 0; i < 300000; ++i) {
    last = new TComponent(last);
    if (i == 250000) deep = Named(last, u"Deep");
  }
  deep->FreeNotification(&outside);
  EXPECT_THROW(last->InsertComponent(first), EComponentError) << "still a cycle, however deep";
  delete first;
  EXPECT_EQ(outside.Heard, std::vector<std::string>{"-Deep"});
}

TEST(Component, ComponentIndexMovesWithinTheOwnerClamped) {
  TComponent owner;
  auto* a = Named(new TComponent(&owner), u"A");
  auto* b = Named(new TComponent(&owner), u"B");
  auto* c = Named(new TComponent(&owner), u"C");
  c->SetComponentIndex(0);
  EXPECT_EQ(owner.Components(0), c);
  a->SetComponentIndex(99);
  EXPECT_EQ(owner.Components(2), a);
  a->SetComponentIndex(-5);
  EXPECT_EQ(owner.Components(0), a);
  EXPECT_EQ(b->ComponentIndex(), 2);
  TComponent lonely;
  lonely.SetComponentIndex(3);  // no owner: nothing to move
  EXPECT_EQ(lonely.ComponentIndex(), -1);
}

TEST(Component, OwnerAndOwnedHearOfInsertionAndRemoval) {
  TListener owner;
  auto* watcher = new TListener(&owner);
  watcher->SetName(u"Watcher");
  owner.Heard.clear();
  watcher->Heard.clear();
  auto* c = Named(new TComponent(), u"C");
  owner.InsertComponent(c);
  EXPECT_EQ(owner.Heard, std::vector<std::string>{"+C"});
  EXPECT_EQ(watcher->Heard, std::vector<std::string>{"+C"});
  delete c;
  EXPECT_EQ(owner.Heard, (std::vector<std::string>{"+C", "-C"}));
  EXPECT_EQ(watcher->Heard, (std::vector<std::string>{"+C", "-C"}));
}

TEST(Component, FreeNotificationTellsEachSideWhenTheOtherGoes) {
  TListener listener;
  auto* target = Named(new TComponent(), u"Target");
  target->FreeNotification(&listener);
  EXPECT_TRUE(target->ComponentState() & ComponentStateBit(csFreeNotification));
  delete target;
  EXPECT_EQ(listener.Heard, std::vector<std::string>{"-Target"});

  // The other way round: the listener goes first; the survivor must not
  // call it later.
  auto* early = new TListener();
  early->SetName(u"Early");
  TListener survivor;
  survivor.FreeNotification(early);
  delete early;
  EXPECT_EQ(survivor.Heard, std::vector<std::string>{"-Early"});

  // Removed notifications stay silent.
  TListener quiet;
  auto* gone = Named(new TComponent(), u"Gone");
  gone->FreeNotification(&quiet);
  gone->RemoveFreeNotification(&quiet);
  delete gone;
  EXPECT_TRUE(quiet.Heard.empty());
}

TEST(Component, DestroyingMarksTheTree) {
  TComponent owner;
  auto* child = new TComponent(&owner);
  owner.Destroying();
  EXPECT_TRUE(owner.ComponentState() & ComponentStateBit(csDestroying));
  EXPECT_TRUE(child->ComponentState() & ComponentStateBit(csDestroying));
}

TEST(Component, TagAndDesignInfoReadBack) {
  TComponent c;
  c.SetTag(-42);
  c.SetDesignInfo(7);
  EXPECT_EQ(c.Tag(), -42);
  EXPECT_EQ(c.DesignInfo(), 7);
}

// --- TBits ----------------------------------------------------------------------

TEST(Bits, GrowOnWriteAndRefuseReadsOutsideTheSize) {
  TBits bits;
  EXPECT_EQ(bits.Size(), 0);
  EXPECT_EQ(bits.OpenBit(), 0);
  bits.SetBits(9, true);
  EXPECT_EQ(bits.Size(), 10);
  EXPECT_FALSE(bits.Bits(0));
  EXPECT_TRUE(bits.Bits(9));
  for (int bad : {-1, 10}) {
    try {
      (void)bits.Bits(bad);
      FAIL() << bad;
    } catch (const EBitsError& e) {
      EXPECT_EQ(e.Message(), u"Bits index out of range (" + IntToStr(bad) + u")");
    }
  }
  EXPECT_THROW(bits.SetBits(-1, true), EBitsError);
  EXPECT_THROW(bits.SetSize(-1), EBitsError);
  EXPECT_THROW(bits.SetSize(TBits::MaxSize + 1), EBitsError);
}

TEST(Bits, OpenBitIsTheFirstClearBitOrTheSize) {
  TBits bits;
  for (int i = 0; i < 70; ++i) bits.SetBits(i, true);
  EXPECT_EQ(bits.OpenBit(), 70);
  bits.SetBits(65, false);
  EXPECT_EQ(bits.OpenBit(), 65);
  bits.SetSize(3);  // shrinking drops bits; growing adds clear ones
  bits.SetSize(5);
  EXPECT_EQ(bits.OpenBit(), 3);
}

// --- Collections ------------------------------------------------------------------

namespace {

class TNamedItem : public TCollectionItem {
 public:
  static TClass StaticClass() {
    static const TMetaClass meta(u"TNamedItem", TCollectionItem::StaticClass(), &CreateInstance<TNamedItem>);
    return &meta;
  }
  TClass ClassType() const override { return StaticClass(); }
  using TCollectionItem::TCollectionItem;
};

class TCountingCollection : public TCollection {
 public:
  using TCollection::TCollection;
  int Updates = 0;

 protected:
  void Update(TCollectionItem*) override { ++Updates; }
};

}  // namespace

TEST(Collection, AddInsertDeleteAndIds) {
  TCollection items(TNamedItem::StaticClass());
  TCollectionItem* a = items.Add();
  TCollectionItem* b = items.Add();
  TCollectionItem* first = items.Insert(0);
  EXPECT_EQ(a->ClassName(), u"TNamedItem");
  EXPECT_FALSE(a->OwnedByHost());  // scripts may free the items they get
  EXPECT_EQ(items.Count(), 3);
  EXPECT_EQ(items.Items(0), first);
  EXPECT_EQ(a->ID(), 0);
  EXPECT_EQ(b->ID(), 1);
  EXPECT_EQ(first->ID(), 2);
  EXPECT_EQ(b->Index(), 2);
  EXPECT_EQ(items.FindItemId(1), b);
  EXPECT_EQ(items.FindItemId(7), nullptr);
  items.Delete(1);  // a
  EXPECT_EQ(items.Count(), 2);
  EXPECT_EQ(items.FindItemId(0), nullptr);
  EXPECT_THROW(items.Items(2), EListError);
  EXPECT_THROW(items.Delete(-1), EListError);
  EXPECT_THROW(items.Insert(3), EListError);
  EXPECT_EQ(items.Count(), 2);
  EXPECT_EQ(items.Add()->ID(), 3);  // ids are not reused
}

TEST(Collection, FreeingAnItemTakesItOutAndTheCollectionFreesTheRest) {
  auto items = std::make_unique<TCollection>(TCollectionItem::StaticClass());
  TCollectionItem* a = items->Add();
  TCollectionItem* b = items->Add();
  uint32_t bId = b->ObjectId();
  delete a;
  EXPECT_EQ(items->Count(), 1);
  EXPECT_EQ(b->Index(), 0);
  items.reset();
  EXPECT_EQ(TObjectRegistry::Find(bId), nullptr);
}

TEST(Collection, ItemsMoveBetweenCollectionsAndIndexes) {
  TCollection one(TCollectionItem::StaticClass()), two(TCollectionItem::StaticClass());
  TCollectionItem* a = one.Add();
  TCollectionItem* b = one.Add();
  b->SetIndex(0);
  EXPECT_EQ(one.Items(0), b);
  EXPECT_THROW(b->SetIndex(2), EListError);
  a->SetCollection(&two);
  EXPECT_EQ(one.Count(), 1);
  EXPECT_EQ(two.Items(0), a);
  EXPECT_EQ(a->Collection(), &two);
  a->SetCollection(nullptr);
  EXPECT_EQ(a->Index(), -1);
  delete a;

  // A collection of a narrower item class refuses other items.
  TCollection named(TNamedItem::StaticClass());
  auto* plain = new TCollectionItem(&one);
  try {
    plain->SetCollection(&named);
    FAIL();
  } catch (const ECollectionError& e) {
    EXPECT_EQ(e.Message(), u"A TCollectionItem cannot be an item of a collection of TNamedItem");
  }
  EXPECT_EQ(plain->Collection(), &one);
}

TEST(Collection, DescendantItemsJoinThroughTheirConstructor) {
  TCollection named(TNamedItem::StaticClass());
  auto* item = new TNamedItem(&named);
  EXPECT_EQ(named.Items(0), item);
  EXPECT_EQ(item->Collection(), &named);
}

TEST(Collection, ItemClassMustBeACreatableCollectionItem) {
  EXPECT_THROW(TCollection(TComponent::StaticClass()), ECollectionError);
  EXPECT_THROW(TCollection(nullptr), ECollectionError);
}

TEST(Collection, DisplayNameDefaultsToTheClassName) {
  TCollection items(TNamedItem::StaticClass());
  TCollectionItem* item = items.Add();
  EXPECT_EQ(item->DisplayName(), u"TNamedItem");
  item->SetDisplayName(u"Shown");
  EXPECT_EQ(item->DisplayName(), u"Shown");
}

TEST(Collection, AssignCopiesItemsAndUpdatesComeOncePerBlock) {
  TCountingCollection source(TCollectionItem::StaticClass());
  source.Add()->SetDisplayName(u"x");
  source.Add()->SetDisplayName(u"y");
  TCountingCollection target(TCollectionItem::StaticClass());
  target.Add();
  target.Updates = 0;
  target.Assign(&source);
  EXPECT_EQ(target.Count(), 2);
  EXPECT_EQ(target.Items(1)->DisplayName(), u"y");
  EXPECT_EQ(target.Updates, 1);
  target.BeginUpdate();
  target.Add();
  target.Delete(0);
  EXPECT_EQ(target.Updates, 1);
  target.EndUpdate();
  EXPECT_EQ(target.Updates, 2);
  target.SetItems(0, source.Items(0));
  EXPECT_EQ(target.Items(0)->DisplayName(), u"x");
  EXPECT_THROW(target.Assign(&target.Items(0)[0]), EAssignError);
}

TEST(Collection, OwnedCollectionNamesItsOwner) {
  TComponent owner;
  TOwnedCollection items(&owner, TCollectionItem::StaticClass());
  EXPECT_EQ(items.Owner(), &owner);
  TCollection plain(TCollectionItem::StaticClass());
  EXPECT_EQ(plain.Owner(), nullptr);
}
