#include <gtest/gtest.h>

#include "RegExTestSupport.h"

using namespace bindings;
using bindings::test::ErrorOf;
using bindings::test::MakeRegEx;
using rtl::UnicodeString;

namespace {

// Each match of the list as "text@position".
std::vector<std::string> AllMatches(TPerlRegExList& list, size_t atMost = 50) {
  std::vector<std::string> found;
  for (bool ok = list.Match(); ok && found.size() < atMost; ok = list.MatchAgain()) {
    TPerlRegEx* r = list.MatchedRegEx();
    found.push_back(rtl::UnicodeToUtf8(r->MatchedExpression()) + "@" + std::to_string(r->MatchedExpressionOffset()));
  }
  return found;
}

}  // namespace

TEST(PerlRegExList, TheEarliestMatchWinsAndTiesGoToTheEarlierMember) {
  auto late = MakeRegEx(u"e", u"");
  auto early = MakeRegEx(u"c", u"");
  TPerlRegExList list;
  list.Add(late.get());
  list.Add(early.get());
  list.SetSubject(u"abcde");
  ASSERT_TRUE(list.Match());
  EXPECT_EQ(list.MatchedRegEx(), early.get());
  EXPECT_EQ(early->MatchedExpressionOffset(), 3);

  auto first = MakeRegEx(u"c.", u"");
  auto second = MakeRegEx(u"cd", u"");
  TPerlRegExList ties;
  ties.Add(first.get());
  ties.Add(second.get());
  ties.SetSubject(u"abcde");
  ASSERT_TRUE(ties.Match());
  EXPECT_EQ(ties.MatchedRegEx(), first.get());
}

TEST(PerlRegExList, MatchAgainWalksThroughTheMatchesOfAllMembersInOrder) {
  auto digits = MakeRegEx(u"\\d+", u"");
  auto words = MakeRegEx(u"[a-zé]+", u"");
  TPerlRegExList list;
  list.Add(digits.get());
  list.Add(words.get());
  list.SetSubject(u"ab12é3 x");
  EXPECT_EQ(AllMatches(list), (std::vector<std::string>{"ab@1", "12@3", "é@5", "3@7", "x@9"}));
  EXPECT_EQ(list.MatchedRegEx(), nullptr);
  // A second run starts again from the beginning.
  EXPECT_EQ(AllMatches(list).size(), 5u);
}

TEST(PerlRegExList, EmptyMatchesDoNotRepeatForEver) {
  auto r = MakeRegEx(u"x*", u"");
  r->SetState({});
  TPerlRegExList list;
  list.Add(r.get());
  list.SetSubject(u"aé");
  EXPECT_EQ(AllMatches(list), (std::vector<std::string>{"@1", "@2", "@4"}));
}

TEST(PerlRegExList, MembersReceiveTheListsSubjectStartAndStop) {
  auto r = MakeRegEx(u"b", u"own subject");
  TPerlRegExList list;
  list.Add(r.get());
  EXPECT_EQ(r->Subject(), u"");  // even an empty list subject replaces the member's
  list.SetSubject(u"abcabc");
  EXPECT_EQ(r->Subject(), u"abcabc");
  list.SetStart(3);
  EXPECT_EQ(r->Start(), 3);
  list.SetStop(4);
  EXPECT_EQ(r->Stop(), 4);
  auto added = MakeRegEx(u"c", u"other");
  list.Insert(0, added.get());
  EXPECT_EQ(added->Subject(), u"abcabc");
  EXPECT_EQ(added->Start(), 3);
  EXPECT_EQ(added->Stop(), 4);
  EXPECT_TRUE(list.MatchAgain());
  EXPECT_EQ(list.MatchedRegEx(), added.get());
  EXPECT_EQ(added->MatchedExpressionOffset(), 3);
  EXPECT_FALSE(list.MatchAgain());  // the second b and c lie past Stop
  // A new subject resets start and stop, also in the list's own view.
  list.SetSubject(u"cb");
  EXPECT_EQ(list.Start(), 1);
  EXPECT_EQ(list.Stop(), 2);
  list.SetStop(1);
  EXPECT_EQ(r->Stop(), 1);
}

TEST(PerlRegExList, EditingTheListNeverFreesMembers) {
  auto a = MakeRegEx(u"a", u"");
  auto b = MakeRegEx(u"b", u"");
  TPerlRegExList list;
  EXPECT_EQ(list.Add(a.get()), 0);
  EXPECT_EQ(list.Add(b.get()), 1);
  EXPECT_EQ(list.IndexOf(b.get()), 1);
  list.SetRegEx(1, a.get());
  EXPECT_EQ(list.RegEx(1), a.get());
  EXPECT_EQ(list.IndexOf(b.get()), -1);
  list.Delete(0);
  EXPECT_EQ(list.Count(), 1);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  a->SetSubject(u"a");
  EXPECT_TRUE(a->Match());  // still alive and usable
}

TEST(PerlRegExList, BadIndexesAndMissingObjectsRaise) {
  auto a = MakeRegEx(u"a", u"");
  TPerlRegExList list;
  list.Add(a.get());
  auto indexError = [](auto call) -> UnicodeString {
    try {
      call();
    } catch (const rtl::EListError& e) {
      return e.Message();
    }
    return u"(no error)";
  };
  EXPECT_EQ(indexError([&] { list.RegEx(1); }), u"List index out of bounds (1)");
  EXPECT_EQ(indexError([&] { list.Delete(-1); }), u"List index out of bounds (-1)");
  EXPECT_EQ(indexError([&] { list.SetRegEx(2, a.get()); }), u"List index out of bounds (2)");
  EXPECT_EQ(indexError([&] { list.Insert(2, a.get()); }), u"List index out of bounds (2)");
  list.Insert(1, a.get());  // inserting at the end is allowed
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(ErrorOf([&] { list.Add(nullptr); }), u"A regular expression object is required");
  EXPECT_EQ(list.Count(), 2);
}

TEST(PerlRegExList, AFreedMemberLeavesEveryListItIsIn) {
  auto keep = MakeRegEx(u"b", u"");
  auto gone = MakeRegEx(u"a", u"");
  TPerlRegExList list, other;
  list.Add(gone.get());
  list.Add(keep.get());
  list.Add(gone.get());
  other.Add(gone.get());
  list.SetSubject(u"ab");
  ASSERT_TRUE(list.Match());
  ASSERT_EQ(list.MatchedRegEx(), gone.get());
  gone.reset();
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.MatchedRegEx(), nullptr);
  EXPECT_EQ(other.Count(), 0);
  EXPECT_TRUE(list.MatchAgain());
  EXPECT_EQ(list.MatchedRegEx(), keep.get());
}

TEST(PerlRegExList, AListFreedFirstLeavesItsMembersUntouched) {
  auto a = MakeRegEx(u"a", u"");
  {
    TPerlRegExList list;
    list.Add(a.get());
  }
  a.reset();  // must not reach back into the freed list
  SUCCEED();
}

TEST(PerlRegExList, ScriptsCanCreateBothClassesByName) {
  EXPECT_EQ(TPerlRegEx::StaticClass()->ClassName(), u"TPerlRegEx");
  EXPECT_EQ(TPerlRegExList::StaticClass()->ClassName(), u"TPerlRegExList");
  EXPECT_EQ(TPerlRegEx::StaticClass()->ClassParent(), rtl::TObject::StaticClass());
  std::unique_ptr<rtl::TObject> created(TPerlRegEx::StaticClass()->Create());
  auto* r = dynamic_cast<TPerlRegEx*>(created.get());
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->State(), TPerlRegExState{preNotEmpty});  // the object's own initialisation ran
  std::unique_ptr<rtl::TObject> list(TPerlRegExList::StaticClass()->Create());
  EXPECT_EQ(list->ClassName(), u"TPerlRegExList");
}

TEST(PerlRegExList, TheListIsInUseWhileMembersHandlersRun) {
  auto r = MakeRegEx(u"a", u"");
  TPerlRegExList list;
  list.Add(r.get());
  list.SetSubject(u"a");
  bool listInUse = false;
  r->SetOnMatch([&](rtl::TObject*) { listInUse = list.InUse(); });
  ASSERT_TRUE(list.Match());
  EXPECT_TRUE(listInUse);
  EXPECT_FALSE(list.InUse());
}

TEST(PerlRegExList, AHandlerFreeingTheBestMemberSoFarIsSurvived) {
  auto first = MakeRegEx(u"b", u"");
  auto second = MakeRegEx(u"c", u"");
  TPerlRegExList list;
  list.Add(first.get());
  list.Add(second.get());
  list.SetSubject(u"abc");
  second->SetOnMatch([&](rtl::TObject*) { first.reset(); });
  ASSERT_TRUE(list.Match());
  EXPECT_EQ(list.MatchedRegEx(), second.get());
  EXPECT_EQ(list.Count(), 1);
}

TEST(PerlRegExList, SplitKeepsItsTargetInUseWhileHandlersRun) {
  auto r = MakeRegEx(u",", u"a,b");
  rtl::TStringList pieces;
  bool inUse = false;
  r->SetOnMatch([&](rtl::TObject*) { inUse = pieces.InUse(); });
  r->Split(&pieces, 0);
  EXPECT_TRUE(inUse);
  EXPECT_FALSE(pieces.InUse());
  EXPECT_EQ(pieces.Count(), 2);
}
