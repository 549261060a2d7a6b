#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "rtl/Bits.h"
#include "rtl/Collections.h"
#include "rtl/Components.h"
#include "rtl/Parser.h"
#include "rtl/Streams.h"
#include "rtl/StringList.h"

using namespace rtl;

namespace {

// A host class of the kind the bindings write: its own metaclass with a
// published property of each kind.
class TSample : public TComponent {
 public:
  static TClass StaticClass() {
    static const TMetaClass meta(u"TSample", TComponent::StaticClass(), &CreateInstance<TSample>,
                                 {ReadWriteProperty(u"Ratio", u"Double", &TSample::Ratio, &TSample::SetRatio),
                                  ReadWriteProperty(u"Enabled", u"Boolean", &TSample::Enabled, &TSample::SetEnabled),
                                  ReadWriteProperty(u"Link", u"TStrings", &TSample::Link, &TSample::SetLink),
                                  ReadWriteProperty(u"OnFire", u"TNotifyEvent", &TSample::OnFire, &TSample::SetOnFire),
                                  ReadOnlyProperty(u"Big", u"Int64", &TSample::Big)});
    return &meta;
  }
  TClass ClassType() const override { return StaticClass(); }

  double Ratio() const { return FRatio; }
  void SetRatio(double v) { FRatio = v; }
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool v) { FEnabled = v; }
  TStrings* Link() const { return FLink; }
  void SetLink(TStrings* v) { FLink = v; }
  const TNotifyEvent& OnFire() const { return FOnFire; }
  void SetOnFire(TNotifyEvent v) { FOnFire = std::move(v); }
  int64_t Big() const { return int64_t{1} << 40; }

 private:
  double FRatio = 0;
  bool FEnabled = false;
  TStrings* FLink = nullptr;
  TNotifyEvent FOnFire;
};

}  // namespace

TEST(ClassMetadata, NamesAncestorsAndInheritance) {
  struct Case {
    TClass cls;
    const char16_t* name;
    TClass parent;
  };
  for (const Case& c : std::vector<Case>{
           {TObject::StaticClass(), u"TObject", nullptr},
           {TPersistent::StaticClass(), u"TPersistent", TObject::StaticClass()},
           {TComponent::StaticClass(), u"TComponent", TPersistent::StaticClass()},
           {TStrings::StaticClass(), u"TStrings", TPersistent::StaticClass()},
           {TStringList::StaticClass(), u"TStringList", TStrings::StaticClass()},
           {TBits::StaticClass(), u"TBits", TObject::StaticClass()},
           {TStream::StaticClass(), u"TStream", TObject::StaticClass()},
           {THandleStream::StaticClass(), u"THandleStream", TStream::StaticClass()},
           {TFileStream::StaticClass(), u"TFileStream", THandleStream::StaticClass()},
           {TCustomMemoryStream::StaticClass(), u"TCustomMemoryStream", TStream::StaticClass()},
           {TMemoryStream::StaticClass(), u"TMemoryStream", TCustomMemoryStream::StaticClass()},
           {TResourceStream::StaticClass(), u"TResourceStream", TCustomMemoryStream::StaticClass()},
           {TParser::StaticClass(), u"TParser", TObject::StaticClass()},
           {TCollectionItem::StaticClass(), u"TCollectionItem", TPersistent::StaticClass()},
           {TCollection::StaticClass(), u"TCollection", TPersistent::StaticClass()},
           {TOwnedCollection::StaticClass(), u"TOwnedCollection", TCollection::StaticClass()},
       }) {
    EXPECT_EQ(c.cls->ClassName(), c.name);
    EXPECT_EQ(c.cls->ClassParent(), c.parent) << UnicodeToUtf8(c.cls->ClassName());
    EXPECT_TRUE(c.cls->InheritsFrom(TObject::StaticClass()));
    EXPECT_TRUE(c.cls->InheritsFrom(c.cls));
  }
  EXPECT_FALSE(TStrings::StaticClass()->InheritsFrom(TStringList::StaticClass()));
  EXPECT_FALSE(TComponent::StaticClass()->InheritsFrom(TStrings::StaticClass()));
  EXPECT_TRUE(TStringList::StaticClass()->ClassNameIs(u"tstringLIST"));

  TStringList list;
  const TObject& asObject = list;
  EXPECT_EQ(asObject.ClassName(), u"TStringList");
  EXPECT_TRUE(asObject.Is<TStrings>());
  EXPECT_TRUE(asObject.Is<TPersistent>());
  EXPECT_FALSE(asObject.Is<TComponent>());
}

TEST(ClassMetadata, OnlyConcreteClassesHaveADefaultFactory) {
  for (TClass cls : {TObject::StaticClass(), TPersistent::StaticClass(), TComponent::StaticClass(),
                     TStringList::StaticClass(), TBits::StaticClass(), TMemoryStream::StaticClass(),
                     TCollection::StaticClass(), TCollectionItem::StaticClass(), TOwnedCollection::StaticClass()}) {
    ASSERT_TRUE(cls->CanCreate()) << UnicodeToUtf8(cls->ClassName());
    std::unique_ptr<TObject> made(cls->Create());
    EXPECT_EQ(made->ClassType(), cls);
    EXPECT_TRUE(made->OwnedByHost());
  }
  for (TClass cls :
       {TStrings::StaticClass(), TStream::StaticClass(), THandleStream::StaticClass(), TFileStream::StaticClass(),
        TCustomMemoryStream::StaticClass(), TResourceStream::StaticClass(), TParser::StaticClass()}) {
    EXPECT_FALSE(cls->CanCreate()) << UnicodeToUtf8(cls->ClassName());
    try {
      delete cls->Create();
      FAIL() << "created " << UnicodeToUtf8(cls->ClassName());
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), u"Cannot create an instance of class " + cls->ClassName());
    }
  }
}

TEST(LiveObjects, RegistryFollowsConstructionCopyAndDestruction) {
  size_t before = TObjectRegistry::LiveCount();
  auto* list = new TStringList({u"a"});
  const void* address = list;
  uint32_t id = list->ObjectId();
  EXPECT_NE(id, 0u);
  EXPECT_TRUE(TObjectRegistry::IsLive(address));
  EXPECT_EQ(TObjectRegistry::Find(id), list);
  EXPECT_EQ(TObjectRegistry::LiveCount(), before + 1);
  {
    TStringList copy = *list;  // a copy is another object
    EXPECT_NE(copy.ObjectId(), id);
    EXPECT_TRUE(TObjectRegistry::IsLive(&copy));
    TStringList moved = std::move(copy);
    EXPECT_TRUE(TObjectRegistry::IsLive(&moved));
    EXPECT_EQ(moved.Count(), 1);
  }
  delete list;
  EXPECT_FALSE(TObjectRegistry::IsLive(address));
  EXPECT_EQ(TObjectRegistry::Find(id), nullptr);
  EXPECT_EQ(TObjectRegistry::LiveCount(), before);

  // Never-created and forged references are not live.
  int onStack = 0;
  EXPECT_FALSE(TObjectRegistry::IsLive(&onStack));
  EXPECT_FALSE(TObjectRegistry::IsLive(nullptr));
  EXPECT_FALSE(TObjectRegistry::IsLive(reinterpret_cast<void*>(uintptr_t{12345})));
  EXPECT_EQ(TObjectRegistry::Find(0), nullptr);
}

// Objects made and freed in any order, many at a time (the registry grows
// and entries shift back over freed ones): every live object is found by
// address and number, every freed number is gone.
TEST(LiveObjects, RegistryStaysExactThroughManyObjectsMadeAndFreedInAnyOrder) {
  size_t before = TObjectRegistry::LiveCount();
  std::vector<std::unique_ptr<TObject>> live;
  std::vector<uint32_t> freed;
  std::mt19937 random(20261209);
  for (int step = 0; step < 60000; ++step) {
    if (live.empty() || random() % 5 < 3) {
      live.push_back(std::make_unique<TObject>());
    } else {
      size_t i = random() % live.size();
      freed.push_back(live[i]->ObjectId());
      std::swap(live[i], live.back());
      live.pop_back();
    }
    if (step % 5000 == 4999) {
      ASSERT_EQ(TObjectRegistry::LiveCount(), before + live.size()) << "step " << step;
      for (const auto& object : live) {
        ASSERT_TRUE(TObjectRegistry::IsLive(object.get()));
        ASSERT_EQ(TObjectRegistry::Find(object->ObjectId()), object.get());
      }
      for (uint32_t id : freed) ASSERT_EQ(TObjectRegistry::Find(id), nullptr);
    }
  }
  live.clear();
  EXPECT_EQ(TObjectRegistry::LiveCount(), before);
}

TEST(LiveObjects, NumbersAreNotReusedForLaterObjects) {
  uint32_t first;
  {
    TObject a;
    first = a.ObjectId();
  }
  TObject b;  // may well get the same address
  EXPECT_NE(b.ObjectId(), first);
  EXPECT_EQ(TObjectRegistry::Find(first), nullptr);
}

TEST(LiveObjects, OwnedByHostMarkIsPerObjectAndNotCopied) {
  TStringList list;
  EXPECT_TRUE(list.OwnedByHost());
  list.SetOwnedByHost(false);
  TStringList copy = list;
  EXPECT_FALSE(list.OwnedByHost());
  EXPECT_TRUE(copy.OwnedByHost());
}

TEST(PublishedProperties, FoundThroughAncestorsIgnoringCase) {
  TClass cls = TSample::StaticClass();
  ASSERT_NE(cls->FindProperty(u"RATIO"), nullptr);
  const TPropInfo* name = cls->FindProperty(u"name");  // from TComponent
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name->Kind, TTypeKind::tkString);
  EXPECT_EQ(cls->FindProperty(u"Nothing"), nullptr);
  EXPECT_EQ(TComponent::StaticClass()->FindProperty(u"Ratio"), nullptr);
  const TPropInfo* count = TStringList::StaticClass()->FindProperty(u"Count");
  ASSERT_NE(count, nullptr);
  EXPECT_TRUE(count->IsReadable());
  EXPECT_FALSE(count->IsWritable());
}

TEST(PublishedProperties, ReadAndWriteEveryKind) {
  TSample sample;
  TClass cls = sample.ClassType();
  auto set = [&](const char16_t* n, TPropertyValue v) { cls->FindProperty(n)->Set(sample, v); };
  auto get = [&](const char16_t* n) { return cls->FindProperty(n)->Get(sample); };

  set(u"Ratio", 2.5L);
  EXPECT_EQ(sample.Ratio(), 2.5);
  EXPECT_EQ(std::get<long double>(get(u"Ratio")), 2.5L);
  EXPECT_EQ(cls->FindProperty(u"Ratio")->Kind, TTypeKind::tkFloat);

  set(u"Enabled", int64_t{1});
  EXPECT_TRUE(sample.Enabled());
  EXPECT_EQ(cls->FindProperty(u"Enabled")->Kind, TTypeKind::tkEnumeration);

  set(u"Tag", int64_t{-7});
  EXPECT_EQ(sample.Tag(), -7);
  EXPECT_EQ(std::get<int64_t>(get(u"Tag")), -7);
  EXPECT_EQ(std::get<int64_t>(get(u"Big")), int64_t{1} << 40);
  EXPECT_EQ(cls->FindProperty(u"Big")->Kind, TTypeKind::tkInt64);

  set(u"Name", UnicodeString(u"First"));
  EXPECT_EQ(sample.Name(), u"First");

  TStringList list;
  set(u"Link", static_cast<TObject*>(&list));
  EXPECT_EQ(sample.Link(), &list);
  EXPECT_EQ(std::get<TObject*>(get(u"Link")), &list);
  set(u"Link", static_cast<TObject*>(nullptr));
  EXPECT_EQ(sample.Link(), nullptr);

  int fired = 0;
  set(u"OnFire", TNotifyEvent([&](TObject* sender) { fired += sender == &sample; }));
  sample.OnFire()(&sample);
  EXPECT_EQ(fired, 1);
  EXPECT_TRUE(static_cast<bool>(std::get<TNotifyEvent>(get(u"OnFire"))));

  // Characters travel as their unsigned code.
  auto stream = std::make_unique<TMemoryStream>();
  stream->WriteBuffer("\xC3\xA9", 2);
  stream->SetPosition(0);
  TParser parser(*stream);
  const TPropInfo* token = parser.ClassType()->FindProperty(u"Token");
  EXPECT_EQ(token->Kind, TTypeKind::tkChar);
  EXPECT_EQ(std::get<int64_t>(token->Get(parser)), 0xC3);
}

TEST(PublishedProperties, RefuseValuesOfTheWrongKindOrClass) {
  TSample sample;
  TClass cls = sample.ClassType();
  EXPECT_THROW(cls->FindProperty(u"Ratio")->Set(sample, UnicodeString(u"x")), EPropertyError);
  TBits notAList;
  try {
    cls->FindProperty(u"Link")->Set(sample, static_cast<TObject*>(&notAList));
    FAIL();
  } catch (const EPropertyError& e) {
    EXPECT_EQ(e.Message(), u"Invalid value for property Link");
  }
  TStringList other;
  try {
    cls->FindProperty(u"Ratio")->Get(other);
    FAIL();
  } catch (const EPropertyError& e) {
    EXPECT_EQ(e.Message(), u"Property Ratio does not apply to an object of class TStringList");
  }
  // Setting a component's name through the table keeps the name rules.
  EXPECT_THROW(cls->FindProperty(u"Name")->Set(sample, UnicodeString(u"1bad")), EComponentError);
}

TEST(Persistent, AssignAsksTheSourceAndNamesBothClassesWhenNeitherKnows) {
  TPersistent target;
  TStringList source;
  try {
    target.Assign(&source);
    FAIL();
  } catch (const EAssignError& e) {
    EXPECT_EQ(e.Message(), u"Cannot assign a TStringList to a TPersistent");
  }
  try {
    source.Assign(nullptr);
    FAIL();
  } catch (const EAssignError& e) {
    EXPECT_EQ(e.Message(), u"Cannot assign a nil to a TStringList");
  }
  TComponent component;
  EXPECT_THROW(source.Assign(&component), EAssignError);
}

TEST(PublishedProperties, StandardClassesPublishTheirPlainProperties) {
  TMemoryStream stream;
  TClass cls = stream.ClassType();
  cls->FindProperty(u"Size")->Set(stream, int64_t{10});  // inherited from TStream
  cls->FindProperty(u"Position")->Set(stream, int64_t{4});
  EXPECT_EQ(stream.Size(), 10);
  EXPECT_EQ(std::get<int64_t>(cls->FindProperty(u"position")->Get(stream)), 4);

  TStringList list;
  list.ClassType()->FindProperty(u"CommaText")->Set(list, UnicodeString(u"b,a"));
  list.ClassType()->FindProperty(u"Sorted")->Set(list, int64_t{1});
  EXPECT_EQ(std::get<UnicodeString>(list.ClassType()->FindProperty(u"Text")->Get(list)), u"a\r\nb\r\n");
  EXPECT_EQ(std::get<int64_t>(list.ClassType()->FindProperty(u"Count")->Get(list)), 2);
  EXPECT_EQ(list.ClassType()->FindProperty(u"Duplicates")->Kind, TTypeKind::tkEnumeration);
  list.ClassType()->FindProperty(u"Duplicates")->Set(list, int64_t{dupError});
  EXPECT_EQ(list.Duplicates(), dupError);

  TComponent owner;
  TComponent child;
  child.ClassType()->FindProperty(u"Owner")->Set(child, static_cast<TObject*>(&owner));
  EXPECT_EQ(owner.ComponentCount(), 1);
  child.ClassType()->FindProperty(u"Owner")->Set(child, static_cast<TObject*>(nullptr));
  EXPECT_EQ(owner.ComponentCount(), 0);

  TBits bits;
  bits.ClassType()->FindProperty(u"Size")->Set(bits, int64_t{12});
  EXPECT_EQ(bits.Size(), 12);
}
