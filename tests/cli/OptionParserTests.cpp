#include <gtest/gtest.h>

#include <sstream>

#include "cli/OptionParser.h"

using namespace cli;
using rtl::UnicodeString;

namespace {

struct Parser {
  explicit Parser(TStringList args) : parser(&args) {
    flag = parser.Add(std::make_unique<TBoolOption>(u'?', u"help"));
    file = parser.Add(std::make_unique<TStringOption>(u'x', u"xls-file-name"));
    list = parser.Add(std::make_unique<TStringOptionList>(u'p', u"parameter"));
    parser.ParseOptions();
  }
  TOptionParser parser;
  TBoolOption* flag;
  TStringOption* file;
  TStringOptionList* list;
};

}  // namespace

TEST(OptionParser, NoArgumentsLeaveEverythingUnspecified) {
  Parser p(TStringList({}));
  EXPECT_FALSE(p.flag->WasSpecified());
  EXPECT_FALSE(p.file->WasSpecified());
  EXPECT_EQ(p.parser.LeftList().Count(), 0);
}

TEST(OptionParser, UnclaimedArgumentsAreLeftOverInOrder) {
  Parser p(TStringList({u"--", u"a.rops", u"-", u"--other", u"-?x", u"--help=yes", u"-X", u"b"}));
  EXPECT_EQ(p.parser.LeftList().Items(),
            (std::vector<UnicodeString>{u"--", u"a.rops", u"-", u"--other", u"-?x", u"--help=yes", u"-X", u"b"}));
  EXPECT_FALSE(p.flag->WasSpecified());
  EXPECT_FALSE(p.file->WasSpecified());
}

TEST(OptionParser, LongFormsIgnoreCaseShortFormsDoNot) {
  Parser p(TStringList({u"--XLS-FILE-NAME=a.xls", u"--HELP"}));
  EXPECT_EQ(p.file->StringValue(), u"a.xls");
  EXPECT_TRUE(p.flag->TurnedOn());
  EXPECT_EQ(std::get<bool>(p.flag->Value()), true);
}

TEST(OptionParser, ValueOptionClaimingRules) {
  struct Case {
    TStringList args;
    const char16_t* value;
    std::vector<UnicodeString> left;
  } cases[] = {
      {TStringList({u"-xbook.xls"}), u"book.xls", {}},
      {TStringList({u"-x", u"book.xls", u"s"}), u"book.xls", {u"s"}},
      {TStringList({u"-x", u"-c"}), u"-c", {}},  // a separate value is taken whatever it looks like
      {TStringList({u"-x=a"}), u"=a", {}},
      {TStringList({u"-x"}), u"", {}},
      {TStringList({u"--xls-file-name", u"b.xls"}), u"b.xls", {}},
      {TStringList({u"--xls-file-name"}), u"", {}},
      {TStringList({u"--xls-file-name="}), u"", {}},
      {TStringList({u"--xls-file-name=c=d"}), u"c=d", {}},
      {TStringList({u"-x", u"1", u"-x", u"2"}), u"2", {}},  // the last value wins
  };
  for (auto& c : cases) {
    Parser p(c.args);
    EXPECT_TRUE(p.file->WasSpecified());
    EXPECT_EQ(p.file->StringValue(), c.value);
    EXPECT_EQ(p.parser.LeftList().Items(), c.left);
  }
  Parser p(TStringList({u"--xls-file-namex", u"v"}));
  EXPECT_FALSE(p.file->WasSpecified());
  EXPECT_EQ(p.parser.LeftList().Count(), 2);
}

TEST(OptionParser, StringListCollectsEveryValueInOrder) {
  Parser p(TStringList({u"-p", u"one", u"-ptwo", u"--parameter=three"}));
  EXPECT_EQ(p.list->Values().Items(), (std::vector<UnicodeString>{u"one", u"two", u"three"}));
  EXPECT_EQ(std::get<UnicodeString>(p.list->Value()), u"one\r\ntwo\r\nthree\r\n");
  p.list->SetValue(UnicodeString(u"a\nb"));
  EXPECT_EQ(p.list->Values().Count(), 2);
}

TEST(OptionParser, ReparsingRebuildsLeftOversButKeepsValues) {
  Parser p(TStringList({u"-p", u"one", u"left"}));
  p.parser.ParseOptions();
  EXPECT_EQ(p.parser.LeftList().Items(), (std::vector<UnicodeString>{u"left"}));
  EXPECT_EQ(p.list->Values().Count(), 2);
}

TEST(OptionParser, OptionWidths) {
  TOptionParser parser(nullptr);
  auto both = parser.Add(std::make_unique<TBoolOption>(u'x', u"name"));
  auto longOnly = parser.Add(std::make_unique<TBoolOption>(0, u"version"));
  auto shortOnly = parser.Add(std::make_unique<TBoolOption>(u's', u""));
  EXPECT_EQ(both->GetOptionWidth(), 10);
  EXPECT_EQ(longOnly->GetOptionWidth(), 9);
  EXPECT_EQ(shortOnly->GetOptionWidth(), 2);
}

TEST(OptionParser, ExplanationLinesAndTheColumn80Rule) {
  TOptionParser parser(nullptr);
  auto a = parser.Add(std::make_unique<TBoolOption>(u'a', u"alpha"));
  auto b = parser.Add(std::make_unique<TBoolOption>(0, u"beta"));
  auto s = parser.Add(std::make_unique<TBoolOption>(u's', u""));
  a->SetExplanation(u"First");
  b->SetExplanation(u"Second");
  s->SetExplanation(u"");  // nothing at all is written for an empty explanation
  std::ostringstream out;
  parser.WriteExplanations(out);
  EXPECT_EQ(out.str(),
            "  -a, --alpha  First\r\n"
            "  --beta       Second\r\n"
            "  -s ");

  // Width 11: the widest option is followed by two blanks, explanations
  // start in column 16 and wrap at 66 characters; a
  // line of exactly 65 characters ends in column 80 and gets no line end.
  TOptionParser wide(nullptr);
  auto w = wide.Add(std::make_unique<TBoolOption>(u'a', u"alpha"));
  w->SetExplanation(UnicodeString(59, u'x') + u" yyyyy zzz");
  std::ostringstream wrapped;
  wide.WriteExplanations(wrapped);
  EXPECT_EQ(wrapped.str(), "  -a, --alpha  " + std::string(59, 'x') + " yyyyy" + std::string(15, ' ') + "zzz\r\n");
}

TEST(WrapText, BreaksAfterBlanksHyphensAndTabsButNotInQuotes) {
  EXPECT_EQ(WrapText(u"aaa bbb ccc", 5), u"aaa \r\nbbb \r\nccc");
  EXPECT_EQ(WrapText(u"aaa-bbb", 5), u"aaa-\r\nbbb");
  EXPECT_EQ(WrapText(u"abcdefgh ij", 4), u"abcdefgh \r\nij");  // long words are not split
  EXPECT_EQ(WrapText(u"\"aa bb cc\" dd", 4), u"\"aa bb cc\" \r\ndd");
  EXPECT_EQ(WrapText(u"'aa bb' cc", 3), u"'aa bb' \r\ncc");
  EXPECT_EQ(WrapText(u"ab\r\ncd", 40), u"ab\r\ncd");
  EXPECT_EQ(WrapText(u"abc   ", 4), u"abc   ");  // only break characters remain: no break
  EXPECT_EQ(WrapText(u"short", 57), u"short");
  EXPECT_EQ(WrapText(u"", 10), u"");
}
