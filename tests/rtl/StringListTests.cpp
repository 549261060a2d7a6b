#include <gtest/gtest.h>

#include "rtl/StringList.h"

using rtl::TStringList;
using rtl::UnicodeString;

TEST(StringList, IndexOutsideTheListRaisesWithTheIndex) {
  TStringList list = TStringList({u"a", u"b"});
  for (int bad : {-1, 2, 100}) {
    try {
      (void)list.Strings(bad);
      FAIL() << "no error for " << bad;
    } catch (const rtl::EListError& e) {
      EXPECT_EQ(e.Message(), u"List index out of bounds (" + rtl::IntToStr(bad) + u")");
    }
  }
  EXPECT_THROW(list.Delete(2), rtl::EListError);
  EXPECT_THROW(list.Put(-1, u"x"), rtl::EListError);
  EXPECT_THROW(list.Insert(3, u"x"), rtl::EListError);
  list.Insert(2, u"c");  // inserting at the end is allowed
  EXPECT_EQ(list.Count(), 3);
}

TEST(StringList, TextEndsEveryItemWithCrLfAndSplitsAtEveryLineEnd) {
  EXPECT_EQ(TStringList({u"a", u"", u"b"}).Text(), u"a\r\n\r\nb\r\n");
  EXPECT_EQ(TStringList().Text(), u"");
  TStringList list;
  list.SetText(u"one\r\ntwo\rthree\nfour\n");
  EXPECT_EQ(list.Items(), (std::vector<UnicodeString>{u"one", u"two", u"three", u"four"}));
  list.SetText(u"a\n\nb");
  EXPECT_EQ(list.Items(), (std::vector<UnicodeString>{u"a", u"", u"b"}));
  list.SetText(u"\r\n");
  EXPECT_EQ(list.Items(), (std::vector<UnicodeString>{u""}));
  list.SetText(u"\n\r");  // LF then a lone CR: two empty lines
  EXPECT_EQ(list.Count(), 2);
}

TEST(StringList, IndexOfIgnoresLetterCaseIncludingNonAsciiLetters) {
  TStringList list = TStringList({u"Alpha", u"ÄRGER", u"alpha"});
  EXPECT_EQ(list.IndexOf(u"ALPHA"), 0);
  EXPECT_EQ(list.IndexOf(u"ärger"), 1);
  EXPECT_EQ(list.IndexOf(u"alph"), -1);
  EXPECT_EQ(list.IndexOf(u" alpha"), -1);
}

TEST(StringList, NamesAndValues) {
  TStringList list = TStringList({u"Key=1", u"noname", u"=empty", u"other=a=b"});
  EXPECT_EQ(list.IndexOfName(u"KEY"), 0);
  EXPECT_EQ(list.IndexOfName(u"noname"), -1);  // an item without "=" has no name
  EXPECT_EQ(list.IndexOfName(u""), 2);
  EXPECT_EQ(list.Names(1), u"");
  EXPECT_EQ(list.Names(3), u"other");
  EXPECT_EQ(list.Values(u"other"), u"a=b");
  EXPECT_EQ(list.Values(u"missing"), u"");

  list.SetValues(u"key", u"2");
  EXPECT_EQ(list[0], u"key=2");
  list.SetValues(u"new", u"x");
  EXPECT_EQ(list[list.Count() - 1], u"new=x");
  list.SetValues(u"KEY", u"");
  EXPECT_EQ(list.IndexOfName(u"key"), -1);
  int before = list.Count();
  list.SetValues(u"absent", u"");  // deleting what is not there changes nothing
  EXPECT_EQ(list.Count(), before);
}

TEST(StringList, CommaTextQuotesOnlyWhatNeedsIt) {
  EXPECT_EQ(TStringList({u"a", u"b c", u"say \"hi\"", u"x,y", u"", u"tab\t"}).CommaText(),
            u"a,\"b c\",\"say \"\"hi\"\"\",\"x,y\",,\"tab\t\"");
  EXPECT_EQ(TStringList({u""}).CommaText(), u"\"\"");
  EXPECT_EQ(TStringList().CommaText(), u"");
  EXPECT_EQ(TStringList({u"", u""}).CommaText(), u",");
}

TEST(StringList, CommaTextRoundTrips) {
  TStringList source = TStringList({u"a", u"b c", u"say \"hi\"", u"x,y", u"", u"end"});
  TStringList copy;
  copy.SetCommaText(source.CommaText());
  EXPECT_EQ(copy.Items(), source.Items());
  copy.SetCommaText(u"one two, three");  // unquoted blanks split fields
  EXPECT_EQ(copy.Items(), (std::vector<UnicodeString>{u"one", u"two", u"three"}));
}

TEST(StringList, MoveExchangeAndAddStringsOfItself) {
  TStringList list = TStringList({u"a", u"b", u"c"});
  list.Move(0, 2);
  EXPECT_EQ(list.CommaText(), u"b,c,a");
  list.Exchange(0, 2);
  EXPECT_EQ(list.CommaText(), u"a,c,b");
  list.AddStrings(list);
  EXPECT_EQ(list.CommaText(), u"a,c,b,a,c,b");
  EXPECT_THROW(list.Move(0, 6), rtl::EListError);
}
