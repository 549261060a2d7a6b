#include <gtest/gtest.h>

#include "RegExTestSupport.h"

using namespace bindings;
using bindings::test::ErrorOf;
using bindings::test::MakeRegEx;
using rtl::UnicodeString;

namespace {

struct TemplateCase {
  const char16_t* pattern;
  const char16_t* subject;
  const char16_t* replacement;
  const char16_t* expected;
};

UnicodeString Expand(const TemplateCase& c) {
  auto r = MakeRegEx(c.pattern, c.subject);
  r->SetReplacement(c.replacement);
  if (!r->Match()) return u"(no match)";
  return r->ComputeReplacement();
}

}  // namespace

TEST(PerlRegExTemplate, ReferencesAndLiterals) {
  const TemplateCase cases[] = {
      // Groups by number, $ and \ alike.
      {u"(\\d+)-(\\d+)", u"10-20", u"$2-$1", u"20-10"},
      {u"(\\d+)-(\\d+)", u"10-20", u"\\2-\\1", u"20-10"},
      {u"(\\d+)-(\\d+)", u"10-20", u"$0|\\0", u"10-20|10-20"},
      {u"(a)", u"a", u"$5|\\9", u"|"},  // above the group count: nothing
      {u"(a)(b)?", u"a", u"[$2]", u"[]"},
      // Two digits only when that group exists.
      {u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", u"abcdefghij", u"$10|$11|\\10", u"j|a1|j"},
      {u"(a)", u"a", u"$10", u"a0"},
      // Escapes.
      {u"a", u"a", u"$$1", u"$1"},
      {u"a", u"a", u"\\$\\\\", u"$\\"},
      {u"a", u"a", u"\\\\1", u"\\1"},
      {u"a", u"a", u"cost $", u"cost $"},
      {u"a", u"a", u"end \\", u"end \\"},
      {u"a", u"a", u"$q \\q $ \\", u"$q \\q $ \\"},
      // Whole match, last group, before, after, whole subject.
      {u"x", u"axb", u"$`|$&|$'|$_", u"a|x|b|axb"},
      {u"x", u"axb", u"\\`|\\&|\\'", u"a|x|b"},
      {u"b", u"ab", u"$'$'", u""},
      {u"(a)(b)", u"ab", u"$+", u"b"},
      {u"(a)(b)?", u"a", u"$+", u"a"},
      {u"(a)(b)", u"ab", u"\\+", u"b"},
      // Braces.
      {u"(?<name>x)(y)", u"xy", u"${name}${2}", u"xy"},
      {u"(?<name>x)", u"x", u"${nosuch}", u"${nosuch}"},
      {u"(?<name>x)", u"x", u"${name", u"${name"},
      {u"(?<name>x)", u"x", u"${}|${1x}", u"${}|${1x}"},
      {u"(a)", u"a", u"${12}|${0001}", u"|a"},
      {u"(a)", u"a", u"${99999999999999}", u""},
      // \g<name>.
      {u"(?<name>x)", u"x", u"<\\g<name>>", u"<x>"},
      {u"(?<name>x)", u"x", u"<\\g<nosuch>>", u"<>"},
      {u"(?<name>x)", u"x", u"\\g<name", u"\\g<name"},
      {u"(?<name>x)", u"x", u"\\gx|\\g<1>", u"\\gx|\\g<1>"},
      {u"(?J)(?<n>a)|(?<n>b)", u"b", u"\\g<n>${n}", u"bb"},
      // Inserted text is never scanned again.
      {u"(.*)", u"$1\\2", u"$1$1", u"$1\\2$1\\2"},
      {u"é(.)", u"aéüb", u"<$1>", u"<ü>"},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c), c.expected) << rtl::UnicodeToUtf8(c.replacement);
}

TEST(PerlRegExTemplate, CaseConversions) {
  const TemplateCase cases[] = {
      {u"(.+)", u"abc", u"\\U1", u"ABC"},
      {u"(.+)", u"hello big world", u"\\I1", u"Hello Big World"},
      {u"(.+)", u"hello big world", u"\\F1", u"Hello big world"},
      {u"(.+)", u"HeLLo", u"\\L1|\\l1|\\u1|\\f1|\\i1", u"hello|hello|HELLO|Hello|Hello"},
      {u"(.+)", u"éLAN vital", u"\\U1|\\F1", u"ÉLAN VITAL|Élan vital"},
      // Word starts: after codes 0..38 and ( * + , - . < ? [ { and the middle dot.
      {u"(.+)", u"o'neil mc-donald (x)y a.b,c+d*e<f?g[h{i\u00B7j", u"\\I1",
       u"O'neil Mc-Donald (X)y A.B,C+D*E<F?G[H{I\u00B7J"},
      {u"(.+)", u"a/b:c;d)e]f}g_h", u"\\I1", u"A/b:c;d)e]f}g_h"},
      {u"(.+)", u"\"quoted\"\tTAB&amp", u"\\I1", u"\"Quoted\"\tTab&Amp"},
      // An apostrophe never starts a word: the word starts after it.
      {u"(.+)", u"'twas 'tis", u"\\I1", u"'Twas 'Tis"},
      // Not followed by a digit: taken literally.
      {u"(.+)", u"abc", u"\\Ux\\L", u"\\Ux\\L"},
      // Above the group count: nothing.
      {u"(.+)", u"abc", u"[\\U7]", u"[]"},
      {u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)", u"abcdefghij", u"\\U10", u"J"},
  };
  for (const auto& c : cases) EXPECT_EQ(Expand(c), c.expected) << rtl::UnicodeToUtf8(c.replacement);
}

TEST(PerlRegExTemplate, GroupReferencesNeedAMatchPlainTextDoesNot) {
  auto r = MakeRegEx(u"(a)", u"a");
  r->SetReplacement(u"plain $$ \\\\ $_ \\Ux");
  EXPECT_EQ(r->ComputeReplacement(), u"plain $ \\ a \\Ux");
  for (const char16_t* needsMatch : {u"$1", u"\\1", u"$&", u"$`", u"$'", u"$+", u"${1}", u"\\U1", u"\\g<x>"}) {
    r->SetReplacement(needsMatch);
    EXPECT_EQ(ErrorOf([&] { r->ComputeReplacement(); }), u"Successful match required")
        << rtl::UnicodeToUtf8(needsMatch);
  }
}

TEST(PerlRegExReplace, ReplacesTheMatchAndMovesStartAndStop) {
  auto r = MakeRegEx(u"(\\d+)-(\\d+)", u"10-20");
  r->SetReplacement(u"$2-$1");
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->Replace(), u"20-10");
  EXPECT_EQ(r->Subject(), u"20-10");
  EXPECT_FALSE(r->FoundMatch());

  r = MakeRegEx(u"\\d+", u"a1b22c");
  r->SetReplacement(u"XYZ");
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(r->Start(), 3);
  r->Replace();
  EXPECT_EQ(r->Subject(), u"aXYZb22c");
  EXPECT_EQ(r->Start(), 5);
  EXPECT_EQ(r->Stop(), 8);
  ASSERT_TRUE(r->MatchAgain());
  EXPECT_EQ(r->MatchedExpressionOffset(), 6);
  EXPECT_EQ(r->MatchedExpression(), u"22");
}

TEST(PerlRegExReplace, NeedsACurrentMatch) {
  auto r = MakeRegEx(u"a", u"a");
  EXPECT_EQ(ErrorOf([&] { r->Replace(); }), u"Successful match required");
  ASSERT_TRUE(r->Match());
  r->Replace();
  EXPECT_EQ(ErrorOf([&] { r->Replace(); }), u"Successful match required");
}

TEST(PerlRegExReplace, OnReplaceSeesAndMayChangeTheText) {
  auto r = MakeRegEx(u"(\\w)é", u"xé-yé");
  r->SetReplacement(u"\\U1");
  std::vector<UnicodeString> seen;
  r->SetOnReplace([&](rtl::TObject* sender, UnicodeString& text) {
    EXPECT_EQ(sender, r.get());
    EXPECT_TRUE(sender->InUse());
    seen.push_back(text);
    text = u"<" + text + u"ü>";
  });
  ASSERT_TRUE(r->ReplaceAll());
  EXPECT_EQ(seen, (std::vector<UnicodeString>{u"X", u"Y"}));
  EXPECT_EQ(r->Subject(), u"<Xü>-<Yü>");
}

TEST(PerlRegExReplace, AHandlerThatEndsTheMatchStopsTheReplacementSafely) {
  auto r = MakeRegEx(u"b", u"abc");
  r->SetOnReplace([&](rtl::TObject*, UnicodeString&) { r->SetSubject(u"z"); });
  ASSERT_TRUE(r->Match());
  EXPECT_EQ(ErrorOf([&] { r->Replace(); }), u"Successful match required");
  EXPECT_EQ(r->Subject(), u"z");
}

TEST(PerlRegExReplace, ReplaceAllReplacesEveryMatchOrReportsNone) {
  auto r = MakeRegEx(u"\\d+", u"a1b22c333");
  r->SetReplacement(u"<$&>");
  EXPECT_TRUE(r->ReplaceAll());
  EXPECT_EQ(r->Subject(), u"a<1>b<22>c<333>");
  EXPECT_FALSE(r->FoundMatch());

  r->SetRegEx(u"\\d{4}");
  EXPECT_FALSE(r->ReplaceAll());
  EXPECT_EQ(r->Subject(), u"a<1>b<22>c<333>");

  r = MakeRegEx(u"x*", u"abc");
  r->SetState({});
  r->SetReplacement(u"-");
  EXPECT_TRUE(r->ReplaceAll());
  EXPECT_EQ(r->Subject(), u"-a-b-c-");
}

// ReplaceAll without handlers builds the result in one pass; with a handler
// it goes Replace by Replace. Both must leave the same object behind.
TEST(PerlRegExReplace, OnePassReplaceAllAgreesWithReplacingMatchByMatch) {
  struct Case {
    const char16_t* pattern;
    const char16_t* replacement;
    bool allowEmpty;
  } cases[] = {
      {u"\\d+", u"[$&]", false},    {u"\\b\\w", u"\\U0", false},
      {u"(?<=a)b", u"a", false},  // the inserted a lets the next b match
      {u"(?<=aa)b", u"xa", false},  {u"\\Bb", u"", false},
      {u"(?m)^.", u"<$&>", false},  {u"(?m)^", u"> ", true},
      {u"(?m)$", u";", true},       {u"x*", u"-", true},
      {u"(?:)", u"\\U'", true},     {u"(?<=\\d)(?=(\\d{3})+\\b)", u",", true},
      {u"é|ü", u"$`", false},       {u"(.)", u"$'", false},
      {u"\\s", u"$_", false},       {u"\\G\\w", u"#", false},
      {u"[^\\n]+\\n?", u"", false}, {u"(?<=é)\\w", u"é", false},
  };
  const UnicodeString subjects[] = {
      u"",
      u"ab ba aab bab abab 1234567 12 1234",
      u"line one\nline two\r\nlast line é\nüé ab\n",
      u"éééabbbbb éü 9876543210 aaab",
  };
  for (const auto& c : cases) {
    for (const auto& subject : subjects) {
      for (int stop : {-1, 7}) {
        auto fast = MakeRegEx(c.pattern, subject);
        auto slow = MakeRegEx(c.pattern, subject);
        for (auto* r : {fast.get(), slow.get()}) {
          r->SetReplacement(c.replacement);
          if (c.allowEmpty) r->SetState({});
          if (stop >= 0) r->SetStop(stop);
        }
        slow->SetOnReplace([](rtl::TObject*, UnicodeString&) {});
        SCOPED_TRACE(rtl::UnicodeToUtf8(c.pattern) + " on \"" + rtl::UnicodeToUtf8(subject) + "\" stop " +
                     std::to_string(stop));
        EXPECT_EQ(fast->ReplaceAll(), slow->ReplaceAll());
        EXPECT_EQ(fast->Subject(), slow->Subject());
        EXPECT_EQ(fast->Start(), slow->Start());
        EXPECT_EQ(fast->Stop(), slow->Stop());
        EXPECT_EQ(fast->FoundMatch(), slow->FoundMatch());
      }
    }
  }
}

TEST(PerlRegExReplace, AFailingMatchInReplaceAllKeepsTheReplacementsMade) {
  // The match limit counts per search: short runs pass, the long one fails.
  auto fast = MakeRegEx(u"(*LIMIT_MATCH=60)(a|b)+c", u"abc abc aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaabc");
  auto slow = MakeRegEx(u"(*LIMIT_MATCH=60)(a|b)+c", u"abc abc aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaabc");
  slow->SetOnReplace([](rtl::TObject*, UnicodeString&) {});
  for (auto* r : {fast.get(), slow.get()}) {
    r->SetReplacement(u"X");
    EXPECT_EQ(ErrorOf([&] { r->ReplaceAll(); }), u"Error matching the regex: match limit exceeded");
  }
  EXPECT_EQ(fast->Subject(), slow->Subject());
  EXPECT_EQ(fast->Subject().substr(0, 4), u"X X ");
  EXPECT_EQ(fast->Start(), slow->Start());
}

// The same comparison over pseudo-random subjects, with replacements that
// create and destroy what the patterns look back at.
TEST(PerlRegExReplace, OnePassReplaceAllAgreesOnRandomSubjects) {
  const char16_t* const patterns[] = {u"(?<=ab)a",    u"\\bb", u"(?m)^a|b$",   u"a*",
                                      u"(?<![aé])b+", u"é\\B", u"(?<=\\n)\\s*"};
  const char16_t* const replacements[] = {u"b", u"a\\U0", u"", u"\n$&", u"éa"};
  const char16_t alphabet[] = u"aabbé \n";
  unsigned seed = 7;
  auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
  for (int round = 0; round < 300; ++round) {
    UnicodeString subject;
    for (unsigned n = next() % 24; n > 0; --n) subject += alphabet[next() % 7];
    const char16_t* pattern = patterns[next() % std::size(patterns)];
    const char16_t* replacement = replacements[next() % std::size(replacements)];
    bool allowEmpty = next() % 2;
    auto fast = MakeRegEx(pattern, subject);
    auto slow = MakeRegEx(pattern, subject);
    for (auto* r : {fast.get(), slow.get()}) {
      r->SetReplacement(replacement);
      if (allowEmpty) r->SetState({});
    }
    slow->SetOnMatch([](rtl::TObject*) {});
    SCOPED_TRACE(rtl::UnicodeToUtf8(pattern) + " -> " + rtl::UnicodeToUtf8(replacement) + " on \"" +
                 rtl::UnicodeToUtf8(subject) + "\"");
    ASSERT_EQ(fast->ReplaceAll(), slow->ReplaceAll());
    ASSERT_EQ(fast->Subject(), slow->Subject());
    ASSERT_EQ(fast->Start(), slow->Start());
    ASSERT_EQ(fast->Stop(), slow->Stop());
  }
}
