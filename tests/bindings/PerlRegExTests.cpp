#include <gtest/gtest.h>

#include <memory>

#include "bindings/PerlRegEx.h"
#include "regex/RegExTestSupport.h"

using namespace bindings;
using bindings::test::ErrorOf;
using bindings::test::MakeRegEx;
using rtl::UnicodeString;

TEST(PerlRegExMatch, DefaultStateRefusesEmptyMatchesAndTheEmptyStateAllowsThem) {
  auto r = MakeRegEx(u"a*", u"bbb");
  EXPECT_EQ(r->State(), TPerlRegExState{preNotEmpty});
  EXPECT_FALSE(r->Match());
  EXPECT_FALSE(r->FoundMatch());

  r->SetState({});
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->MatchedExpressionOffset(), 1);
  EXPECT_EQ(r->MatchedExpressionLength(), 0);
  ASSERT_TRUE(r->MatchAgain());
  EXPECT_EQ(r->MatchedExpressionOffset(), 2);
  ASSERT_TRUE(r->MatchAgain());
  EXPECT_EQ(r->MatchedExpressionOffset(), 3);
  ASSERT_TRUE(r->MatchAgain());  // the empty match at the very end
  EXPECT_EQ(r->MatchedExpressionOffset(), 4);
  EXPECT_FALSE(r->MatchAgain());
}

TEST(PerlRegExMatch, MatchStartsAtTheBeginningAndMatchAgainWhereTheLastMatchEnded) {
  auto r = MakeRegEx(u"\\d+", u"1 22 333");
  r->SetStart(4);
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->MatchedExpression(), u"1");
  EXPECT_EQ(r->Start(), 2);
  ASSERT_TRUE(r->MatchAgain());
  EXPECT_EQ(r->MatchedExpression(), u"22");
  EXPECT_EQ(r->MatchedExpressionOffset(), 3);
  ASSERT_TRUE(r->MatchAgain());
  EXPECT_EQ(r->MatchedExpression(), u"333");
  EXPECT_EQ(r->Start(), 9);
  EXPECT_FALSE(r->MatchAgain());
  EXPECT_THROW((void)r->MatchedExpression(), ERegularExpressionError);
}

TEST(PerlRegExMatch, PositionsAndLengthsAreUtf8Bytes) {
  auto r = MakeRegEx(u"é", u"aéb");
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->MatchedExpressionOffset(), 2);
  EXPECT_EQ(r->MatchedExpressionLength(), 2);
  EXPECT_EQ(r->MatchedExpression(), u"é");
  EXPECT_EQ(r->Start(), 4);

  r->SetRegEx(u"b");
  r->SetSubject(u"\U0001F600b");  // four bytes before the b
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->MatchedExpressionOffset(), 5);
  EXPECT_EQ(r->Stop(), 5);
}

TEST(PerlRegExMatch, EmptyMatchesStepOverWholeCharacters) {
  auto r = MakeRegEx(u"x*", u"éé");
  r->SetState({});
  std::vector<int> offsets;
  for (bool found = r->Match(); found && offsets.size() < 10; found = r->MatchAgain())
    offsets.push_back(r->MatchedExpressionOffset());
  EXPECT_EQ(offsets, (std::vector<int>{1, 3, 5}));
}

TEST(PerlRegExMatch, StartInsideACharacterSearchesFromTheNextCharacter) {
  auto r = MakeRegEx(u".", u"éa");
  r->SetStart(2);  // the second byte of é
  ASSERT_TRUE(r->MatchAgain());
  EXPECT_EQ(r->MatchedExpression(), u"a");
  EXPECT_EQ(r->MatchedExpressionOffset(), 3);
}

TEST(PerlRegExMatch, StopHidesTheRestOfTheSubject) {
  auto r = MakeRegEx(u"bc$", u"abcabc");
  r->SetStop(3);
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->MatchedExpressionOffset(), 2);
  r->SetRegEx(u"c");
  ASSERT_TRUE(r->Match());
  EXPECT_FALSE(r->MatchAgain());  // the second c lies past Stop
  r->SetStart(10);
  EXPECT_FALSE(r->MatchAgain());  // Start beyond Stop: no search at all
}

TEST(PerlRegExMatch, StartAndStopAreKeptInRange) {
  auto r = MakeRegEx(u"a", u"abc");
  r->SetStart(0);
  EXPECT_EQ(r->Start(), 1);
  r->SetStart(-7);
  EXPECT_EQ(r->Start(), 1);
  r->SetStop(100);
  EXPECT_EQ(r->Stop(), 3);
  r->SetStop(-5);  // a negative length must never reach the matcher
  EXPECT_EQ(r->Stop(), 0);
  EXPECT_FALSE(r->Match());
  r->SetState({});
  r->SetRegEx(u"x*");
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->MatchedExpressionOffset(), 1);
}

struct OptionCase {
  TPerlRegExOptions options;
  const char16_t* pattern;
  const char16_t* subject;
  bool matches;
  const char16_t* matched;
};

TEST(PerlRegExOptions, EachOptionActsAsItsNameSays) {
  const OptionCase cases[] = {
      {{}, u"A", u"a", false, u""},
      {{preCaseLess}, u"A", u"a", true, u"a"},
      {{preCaseLess}, u"É", u"é", true, u"é"},
      {{}, u"^b", u"a\nb", false, u""},
      {{preMultiLine}, u"^b", u"a\nb", true, u"b"},
      {{}, u"a.b", u"a\nb", false, u""},
      {{preSingleLine}, u"a.b", u"a\nb", true, u"a\nb"},
      {{}, u"a b", u"ab", false, u""},
      {{preExtended}, u"a b # comment", u"ab", true, u"ab"},
      {{}, u"b", u"ab", true, u"b"},
      {{preAnchored}, u"b", u"ab", false, u""},
      {{}, u"a$", u"a\n", true, u"a"},
      {{preDollarEndOnly}, u"a$", u"a\n", false, u""},
      {{}, u"a+", u"aaa", true, u"aaa"},
      {{preUnGreedy}, u"a+", u"aaa", true, u"a"},
      {{preExtra}, u"a+", u"aaa", true, u"aaa"},
  };
  for (const auto& c : cases) {
    auto r = MakeRegEx(c.pattern, c.subject);
    r->SetOptions(c.options);
    SCOPED_TRACE(rtl::UnicodeToUtf8(c.pattern));
    ASSERT_EQ(r->Match(), c.matches);
    if (c.matches) {
      EXPECT_EQ(r->MatchedExpression(), c.matched);
    }
  }
}

TEST(PerlRegExOptions, NoAutoCaptureLeavesOnlyNamedGroups) {
  auto r = MakeRegEx(u"(a)(?<n>b)", u"ab");
  r->SetOptions({preNoAutoCapture});
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->SubExpressionCount(), 1);
  EXPECT_EQ(r->SubExpressions(1), u"b");
}

TEST(PerlRegExOptions, AnyLineEndEndsALine) {
  for (const char16_t* subject : {u"a\rb", u"a\nb", u"a\r\nb", u"a\u2028b"}) {
    auto r = MakeRegEx(u"^b", subject);
    r->SetOptions({preMultiLine});
    EXPECT_TRUE(r->Match()) << rtl::UnicodeToUtf8(subject);
  }
}

TEST(PerlRegExOptions, StateFlagsReachTheMatcher) {
  auto r = MakeRegEx(u"^a", u"a");
  r->SetState({preNotBOL});
  EXPECT_FALSE(r->Match());
  r->SetRegEx(u"a$");
  r->SetState({preNotEOL});
  EXPECT_FALSE(r->Match());
  r->SetState({});
  EXPECT_TRUE(r->Match());
}

TEST(PerlRegExOptions, ChangingOptionsOrPatternDiscardsTheCompiledPatternAndTheMatch) {
  auto r = MakeRegEx(u"a", u"a");
  ASSERT_TRUE(r->Match());
  r->SetRegEx(u"a");  // the same text changes nothing
  EXPECT_TRUE(r->Compiled());
  EXPECT_TRUE(r->FoundMatch());
  r->SetOptions({});
  EXPECT_TRUE(r->Compiled());
  r->SetOptions({preCaseLess});
  EXPECT_FALSE(r->Compiled());
  EXPECT_FALSE(r->FoundMatch());
  ASSERT_TRUE(r->Match());
  r->SetRegEx(u"b");
  EXPECT_FALSE(r->Compiled());
  EXPECT_FALSE(r->FoundMatch());
}

TEST(PerlRegExCompile, ErrorsCarryTheTextsAndPcreDetails) {
  TPerlRegEx r;
  EXPECT_EQ(ErrorOf([&] { r.Compile(); }), u"A regular expression specified in RegEx is required");
  EXPECT_EQ(ErrorOf([&] { r.Match(); }), u"A regular expression specified in RegEx is required");
  r.SetRegEx(u"a(");
  EXPECT_EQ(ErrorOf([&] { r.Compile(); }), u"Error in regular expression at offset 2: missing closing parenthesis");
  EXPECT_FALSE(r.Compiled());
  EXPECT_EQ(ErrorOf([&] { r.Study(); }), u"Error in regular expression at offset 2: missing closing parenthesis");
}

TEST(PerlRegExCompile, StudyCompilesOnDemandAndARecompileForgetsIt) {
  auto r = MakeRegEx(u"(\\w+)@(\\w+)", u"mail bob@example now");
  EXPECT_FALSE(r->Studied());
  r->Study();
  EXPECT_TRUE(r->Compiled());
  EXPECT_TRUE(r->Studied());
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->SubExpressions(2), u"example");
  r->Compile();
  EXPECT_FALSE(r->Studied());
}

TEST(PerlRegExCompile, MatcherFailuresAreErrorsNotMissingMatches) {
  auto r = MakeRegEx(u"(*LIMIT_MATCH=5)(a+)+$", u"aaaaaaaaaaaaaaaaaaaab");
  EXPECT_EQ(ErrorOf([&] { r->Match(); }), u"Error matching the regex: match limit exceeded");
  EXPECT_FALSE(r->FoundMatch());
}

TEST(PerlRegExCompile, PatternsWithMoreThan99GroupsMatch) {
  UnicodeString pattern, subject;
  for (int i = 0; i < 120; ++i) {
    pattern += u"(.)";
    subject += static_cast<char16_t>(u'A' + i % 26);
  }
  auto r = MakeRegEx(pattern, subject);
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->SubExpressionCount(), 120);
  EXPECT_EQ(r->SubExpressions(120), u"P");  // the 120th letter of the cycle
  EXPECT_EQ(r->SubExpressionOffsets(120), 120);
}

TEST(PerlRegExCompile, LoneSurrogatesInTheSubjectDoNotStopMatching) {
  auto r = MakeRegEx(u"b", UnicodeString(u"a") + char16_t(0xD800) + u"b");
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->MatchedExpressionOffset(), 5);  // the surrogate takes three bytes
}

TEST(PerlRegExGroups, AccessWithoutAMatchOrOutsideTheGroupsRaises) {
  auto r = MakeRegEx(u"(a)(b)", u"ab");
  EXPECT_EQ(ErrorOf([&] { (void)r->MatchedExpression(); }), u"Successful match required");
  EXPECT_EQ(ErrorOf([&] { (void)r->SubExpressionOffsets(0); }), u"Successful match required");
  EXPECT_EQ(r->SubExpressionCount(), -1);
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->SubExpressionCount(), 2);
  EXPECT_EQ(ErrorOf([&] { (void)r->SubExpressionLengths(5); }), u"Index out of bounds (5)");
  EXPECT_EQ(ErrorOf([&] { (void)r->SubExpressionOffsets(3); }), u"Index out of bounds (3)");
  EXPECT_EQ(ErrorOf([&] { (void)r->SubExpressions(-1); }), u"Index out of bounds (-1)");
  EXPECT_EQ(ErrorOf([&] { (void)r->SubExpressionLengths(-1); }), u"Index out of bounds (-1)");
  EXPECT_EQ(r->SubExpressions(5), u"");  // text above the group count is empty
  EXPECT_EQ(r->SubExpressions(2), u"b");
  EXPECT_EQ(r->SubExpressionOffsets(2), 2);
  EXPECT_EQ(r->SubExpressionLengths(2), 1);
}

TEST(PerlRegExGroups, GroupsOutsideTheMatchHavePositionAndLengthZero) {
  auto r = MakeRegEx(u"(a)|(b)(c)?", u"xb");
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->SubExpressionCount(), 2);  // the highest group that took part
  EXPECT_EQ(r->SubExpressionOffsets(1), 0);
  EXPECT_EQ(r->SubExpressionLengths(1), 0);
  EXPECT_EQ(r->SubExpressions(1), u"");
  EXPECT_EQ(r->SubExpressionOffsets(2), 2);
}

TEST(PerlRegExGroups, NamedSubExpressionGivesTheNumberOrANegativeValue) {
  auto r = MakeRegEx(u"(?<year>\\d{4})-(?<month>\\d\\d)", u"");
  EXPECT_EQ(r->NamedSubExpression(u"year"), 1);  // compiles on demand
  EXPECT_EQ(r->NamedSubExpression(u"month"), 2);
  EXPECT_LT(r->NamedSubExpression(u"day"), 0);
  EXPECT_LT(r->NamedSubExpression(u""), 0);
  r->SetRegEx(u"(?J)(?<n>a)|(?<n>b)");
  EXPECT_EQ(r->NamedSubExpression(u"n"), 1);
}

TEST(PerlRegExGroups, StoredGroupsSurviveANewSubjectUntilTheNextMatch) {
  auto r = MakeRegEx(u"(\\w+) (\\w+)", u"hello world");
  r->StoreSubExpressions();  // without a match: nothing to store
  ASSERT_TRUE(r->Match());
  r->StoreSubExpressions();
  r->SetSubject(u"xy");
  ASSERT_TRUE(r->FoundMatch());
  EXPECT_EQ(r->MatchedExpression(), u"hello world");
  EXPECT_EQ(r->SubExpressions(2), u"world");
  EXPECT_EQ(r->SubExpressionOffsets(2), 7);
  EXPECT_EQ(r->Start(), 1);
  EXPECT_FALSE(r->Match());
}

TEST(PerlRegExGroups, ANewSubjectDropsAnUnstoredMatch) {
  auto r = MakeRegEx(u"a", u"a");
  ASSERT_TRUE(r->Match());
  r->SetSubject(u"bab");
  EXPECT_FALSE(r->FoundMatch());
  EXPECT_EQ(r->Start(), 1);
  EXPECT_EQ(r->Stop(), 3);
  EXPECT_EQ(r->Subject(), u"bab");
}

TEST(PerlRegExEvents, OnMatchFiresForEverySuccessfulMatchWithTheObject) {
  auto r = MakeRegEx(u"\\d", u"1a2b3");
  std::vector<UnicodeString> seen;
  r->SetOnMatch([&](rtl::TObject* sender) {
    EXPECT_EQ(sender, r.get());
    EXPECT_TRUE(sender->InUse());  // a script handler cannot free it now
    seen.push_back(r->MatchedExpression());
  });
  ASSERT_TRUE(r->Match());
  while (r->MatchAgain()) {
  }
  EXPECT_EQ(seen, (std::vector<UnicodeString>{u"1", u"2", u"3"}));
  EXPECT_TRUE(static_cast<bool>(r->OnMatch()));
}

TEST(PerlRegExSplit, PiecesBetweenMatchesWithAndWithoutLimit) {
  struct Case {
    int limit;
    std::vector<UnicodeString> pieces;
  } cases[] = {
      {0, {u"a", u"b", u"", u"c"}}, {-1, {u"a", u"b", u"", u"c"}}, {1, {u"a,b,,c"}},
      {2, {u"a", u"b,,c"}},         {3, {u"a", u"b", u",c"}},      {9, {u"a", u"b", u"", u"c"}},
  };
  for (const auto& c : cases) {
    auto r = MakeRegEx(u",", u"a,b,,c");
    rtl::TStringList pieces;
    r->Split(&pieces, c.limit);
    EXPECT_EQ(pieces.Items(), c.pieces) << "limit " << c.limit;
  }
}

TEST(PerlRegExSplit, AppendsWithoutClearingAndKeepsTheWholeSubjectWithoutAMatch) {
  auto r = MakeRegEx(u";", u"aé b");
  rtl::TStringList pieces({u"kept"});
  r->Split(&pieces, 0);
  EXPECT_EQ(pieces.Items(), (std::vector<UnicodeString>{u"kept", u"aé b"}));
  r->SetRegEx(u"\\s*é\\s*");
  r->Split(&pieces, 0);
  EXPECT_EQ(pieces.Items(), (std::vector<UnicodeString>{u"kept", u"aé b", u"a", u"b"}));
  EXPECT_EQ(ErrorOf([&] { r->Split(nullptr, 0); }), u"Strings parameter cannot be nil");
}

TEST(PerlRegExEscape, MetacharactersAreEscapedAndMatchThemselves) {
  EXPECT_EQ(TPerlRegEx::EscapeRegExChars(u"a.b*c"), u"a\\.b\\*c");
  EXPECT_EQ(TPerlRegEx::EscapeRegExChars(u"$()*+.?[\\]^{|}"), u"\\$\\(\\)\\*\\+\\.\\?\\[\\\\\\]\\^\\{\\|\\}");
  EXPECT_EQ(TPerlRegEx::EscapeRegExChars(UnicodeString(u"a\0b", 3)), u"a\\0b");
  EXPECT_EQ(TPerlRegEx::EscapeRegExChars(u"-é/#"), u"-é/#");
  const UnicodeString text = u"1+1=2? (maybe) [x] {y} a|b ^$ c:\\d";
  auto r = MakeRegEx(TPerlRegEx::EscapeRegExChars(text), u"say " + text + u"!");
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->MatchedExpression(), text);
}

TEST(PerlRegExCompile, InvalidBytesInTheSubjectNeverMatchButTheRestDoes) {
  const UnicodeString lone = UnicodeString(1, char16_t(0xDC00));
  auto r = MakeRegEx(u"\\w+", u"ab" + lone + u"cd" + lone);
  r->SetReplacement(u"<$&>");
  ASSERT_TRUE(r->ReplaceAll());
  // The surrogate's bytes read back as replacement characters.
  EXPECT_EQ(r->Subject(), u"<ab>\uFFFD\uFFFD\uFFFD<cd>\uFFFD\uFFFD\uFFFD");
  r->SetSubject(u"é" + lone + u"x");
  r->SetRegEx(u".");
  r->SetState({});
  std::vector<int> offsets;
  for (bool found = r->Match(); found && offsets.size() < 10; found = r->MatchAgain())
    offsets.push_back(r->MatchedExpressionOffset());
  EXPECT_EQ(offsets, (std::vector<int>{1, 6}));
  r->Study();
  EXPECT_TRUE(r->Match());
}

TEST(PerlRegExCompile, AStopInsideACharacterHidesThatCharacter) {
  auto r = MakeRegEx(u"b.", u"abéc");
  r->SetStop(3);  // the first byte of é
  EXPECT_FALSE(r->Match());
  r->SetRegEx(u"b$");
  EXPECT_TRUE(r->Match());
  r->SetStop(4);
  r->SetRegEx(u"b.$");
  EXPECT_TRUE(r->Match());
}

TEST(PerlRegExCompile, SingleBytesMatchedByBackslashCKeepTheSubjectUsable) {
  auto r = MakeRegEx(u"\\C", u"éa");
  r->SetReplacement(u"x");
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->MatchedExpressionLength(), 1);
  r->Replace();  // leaves half of é behind
  r->SetRegEx(u"a");
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->MatchedExpressionOffset(), 3);
}
