#include <gtest/gtest.h>

#include "rtl/StringList.h"

#include <unistd.h>

#include <cstdio>
#include <functional>

#include "rtl/Streams.h"

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

namespace {

// Per process: test programs of several worktrees may run at once.
std::string TempPath(const char* name) {
  return std::string(::testing::TempDir()) + std::to_string(::getpid()) + "_" + name;
}

}  // namespace

TEST(StringList, ObjectsTravelWithTheirItemsAndAreNeverTouched) {
  TStringList list;
  // Scripts store plain numbers as objects: the list must only keep them.
  auto* three = reinterpret_cast<rtl::TObject*>(uintptr_t{3});
  EXPECT_EQ(list.AddObject(u"c", three), 0);
  list.InsertObject(0, u"a", nullptr);
  list.Add(u"b");
  EXPECT_EQ(list.Objects(1), three);
  EXPECT_EQ(list.IndexOfObject(three), 1);
  EXPECT_EQ(list.IndexOfObject(reinterpret_cast<rtl::TObject*>(uintptr_t{4})), -1);
  list.Move(1, 2);
  EXPECT_EQ(list.CommaText(), u"a,b,c");
  EXPECT_EQ(list.Objects(2), three);
  list.Exchange(0, 2);
  EXPECT_EQ(list.Objects(0), three);
  list.Delete(0);
  EXPECT_EQ(list.IndexOfObject(three), -1);
  list.PutObjects(1, three);
  TStringList copy;
  copy.AddStrings(list);
  EXPECT_EQ(copy.Objects(1), three);
  EXPECT_THROW((void)list.Objects(2), rtl::EListError);
  EXPECT_THROW(list.PutObjects(-1, nullptr), rtl::EListError);
  list.Append(u"d");
  EXPECT_EQ(list[list.Count() - 1], u"d");

  // A list that gets its first object late keeps every pairing.
  TStringList late = TStringList({u"c", u"a", u"b"});
  EXPECT_EQ(late.Objects(2), nullptr);
  late.PutObjects(2, three);
  late.Insert(0, u"z");
  EXPECT_EQ(late.Objects(3), three);
  late.Sort();
  EXPECT_EQ(late.CommaText(), u"a,b,c,z");
  EXPECT_EQ(late.IndexOfObject(three), 1);
  late.Delete(1);
  EXPECT_EQ(late.IndexOfObject(three), -1);
  late.SetText(u"x");  // new items come without objects
  EXPECT_EQ(late.Objects(0), nullptr);
}

TEST(StringList, SortIsStableAndCaseInsensitiveAndMovesObjects) {
  TStringList list = TStringList({u"pear", u"Apple", u"banana", u"apple", u"Äpfel", u"äpfel"});
  auto* marker = reinterpret_cast<rtl::TObject*>(uintptr_t{9});
  list.PutObjects(3, marker);  // the lower-case "apple"
  list.Sort();
  EXPECT_EQ(list.CommaText(), u"Apple,apple,banana,pear,Äpfel,äpfel");
  EXPECT_EQ(list.Objects(1), marker);
  EXPECT_FALSE(list.Sorted());  // sorting once does not keep the list sorted
}

TEST(StringList, SortedListsKeepOrderAndApplyTheDuplicatesRule) {
  struct Case {
    rtl::TDuplicates rule;
    const char16_t* after;
    int indexOfSecondB;
  };
  for (const Case& c : {Case{rtl::dupIgnore, u"a,B,c", 1}, Case{rtl::dupAccept, u"a,B,b,c", 2}}) {
    TStringList list;
    list.SetSorted(true);
    list.SetDuplicates(c.rule);
    list.Add(u"c");
    list.Add(u"B");
    list.Add(u"a");
    EXPECT_EQ(list.Add(u"b"), c.indexOfSecondB);
    EXPECT_EQ(list.CommaText(), c.after);
  }
  TStringList strict;
  strict.SetSorted(true);
  strict.SetDuplicates(rtl::dupError);
  strict.Add(u"x");
  try {
    strict.Add(u"X");
    FAIL();
  } catch (const rtl::EStringListError& e) {
    EXPECT_EQ(e.Message(), u"String list does not allow duplicates");
  }
  EXPECT_EQ(strict.Count(), 1);
}

TEST(StringList, BulkAddsToSortedListsGiveWhatAddingOneByOneGives) {
  const std::vector<UnicodeString> incoming = {u"d", u"B", u"a", u"b", u"D", u"c"};
  for (rtl::TDuplicates rule : {rtl::dupIgnore, rtl::dupAccept}) {
    TStringList oneByOne, bulk, fromText;
    for (TStringList* l : {&oneByOne, &bulk, &fromText}) {
      l->SetSorted(true);
      l->SetDuplicates(rule);
      l->Add(u"b");
    }
    for (const auto& s : incoming) oneByOne.Add(s);
    bulk.AddStrings(TStringList(incoming));
    EXPECT_EQ(bulk.Items(), oneByOne.Items()) << int(rule);
    fromText.SetText(u"b\nd\nB\na\nb\nD\nc");  // replaces: the first "b" is new here too
    EXPECT_EQ(fromText.Items(), oneByOne.Items()) << int(rule);
  }
  // Items already in the list are kept even when they repeat.
  TStringList repeated;
  repeated.SetDuplicates(rtl::dupAccept);
  repeated.SetSorted(true);
  repeated.Add(u"x");
  repeated.Add(u"x");
  repeated.SetDuplicates(rtl::dupIgnore);
  repeated.AddStrings(TStringList({u"y", u"X"}));
  EXPECT_EQ(repeated.CommaText(), u"x,x,y");
  // A refused duplicate leaves the list as it was.
  TStringList strict;
  strict.SetSorted(true);
  strict.SetDuplicates(rtl::dupError);
  strict.Add(u"m");
  auto* marker = reinterpret_cast<rtl::TObject*>(uintptr_t{5});
  TStringList source;
  source.AddObject(u"n", marker);
  source.Add(u"M");
  EXPECT_THROW(strict.AddStrings(source), rtl::EStringListError);
  EXPECT_EQ(strict.CommaText(), u"m");
  EXPECT_THROW(strict.SetCommaText(u"a,b,A"), rtl::EStringListError);
  EXPECT_EQ(strict.CommaText(), u"m");
  source.Delete(1);
  strict.AddStrings(source);
  EXPECT_EQ(strict.CommaText(), u"m,n");
  EXPECT_EQ(strict.Objects(1), marker);
}

TEST(StringList, SortedListsRefuseChangesThatBreakTheOrder) {
  TStringList list = TStringList({u"b", u"a"});
  list.SetSorted(true);  // turning it on sorts
  EXPECT_EQ(list.CommaText(), u"a,b");
  for (auto change : std::vector<std::function<void()>>{[&] { list.Insert(0, u"z"); }, [&] { list.Put(0, u"z"); },
                                                        [&] { list.Exchange(0, 1); }, [&] { list.Move(0, 1); }}) {
    try {
      change();
      FAIL();
    } catch (const rtl::EStringListError& e) {
      EXPECT_EQ(e.Message(), u"Operation not allowed on sorted list");
    }
  }
  // Values, Text and CommaText still work and keep the order.
  list.SetValues(u"b", u"9");
  EXPECT_EQ(list.CommaText(), u"a,b,b=9");
  list.SetValues(u"B", u"1");  // replaced in place of the old item, still in order
  EXPECT_EQ(list.CommaText(), u"a,b,B=1");
  list.SetValues(u"0", u"first");
  EXPECT_EQ(list[0], u"0=first");
  TStringList strict = TStringList({u"k=1", u"K=2"});
  strict.SetSorted(true);
  strict.SetDuplicates(rtl::dupError);
  EXPECT_THROW(strict.SetValues(u"k", u"2"), rtl::EStringListError);  // "K=2" is there already
  EXPECT_EQ(strict.CommaText(), u"k=1,K=2");
  list.SetText(u"y\nx\nz");
  EXPECT_EQ(list.CommaText(), u"x,y,z");
  list.SetCommaText(u"q,p");
  EXPECT_EQ(list.CommaText(), u"p,q");
}

TEST(StringList, FindGivesTheMatchOrTheInsertionPoint) {
  TStringList sorted = TStringList({u"b", u"d", u"d", u"f"});
  sorted.SetSorted(true);
  struct Case {
    const char16_t* text;
    bool found;
    int index;
  };
  for (const Case& c : {Case{u"a", false, 0}, Case{u"B", true, 0}, Case{u"c", false, 1}, Case{u"D", true, 1},
                        Case{u"e", false, 3}, Case{u"z", false, 4}}) {
    int index = -7;
    EXPECT_EQ(sorted.Find(c.text, index), c.found) << rtl::UnicodeToUtf8(c.text);
    EXPECT_EQ(index, c.index) << rtl::UnicodeToUtf8(c.text);
  }
  EXPECT_EQ(sorted.IndexOf(u"F"), 3);
  EXPECT_EQ(sorted.IndexOf(u"x"), -1);

  TStringList unsorted = TStringList({u"z", u"a"});
  int index = -1;
  EXPECT_TRUE(unsorted.Find(u"A", index));
  EXPECT_EQ(index, 1);
  EXPECT_FALSE(unsorted.Find(u"m", index));
  EXPECT_EQ(index, 2);
}

TEST(StringList, ChangeEventsFireAroundEachChangeOrOnceAroundAnUpdate) {
  TStringList list;
  std::u16string log;
  list.SetOnChanging([&](rtl::TObject* sender) {
    EXPECT_EQ(sender, &list);
    log += u'<';
  });
  list.SetOnChange([&](rtl::TObject*) { log += u'>'; });
  list.Add(u"a");
  list.Put(0, u"b");
  list.Delete(0);
  EXPECT_EQ(log, u"<><><>");
  log.clear();
  list.BeginUpdate();
  list.BeginUpdate();
  list.Add(u"x");
  list.SetText(u"1\n2");
  list.EndUpdate();
  EXPECT_EQ(log, u"<");
  list.EndUpdate();
  EXPECT_EQ(log, u"<>");
  list.EndUpdate();  // unbalanced: ignored
  EXPECT_EQ(list.UpdateCount(), 0);
  log.clear();
  list.Clear();
  list.Clear();  // nothing to clear, nothing to report
  EXPECT_EQ(log, u"<>");

  // While a handler runs the list is in use, so the engine can refuse to
  // free it there.
  EXPECT_FALSE(list.InUse());
  bool inUseDuringHandler = false;
  list.SetOnChange([&](rtl::TObject* sender) { inUseDuringHandler = sender->InUse(); });
  list.Add(u"w");
  EXPECT_TRUE(inUseDuringHandler);
  EXPECT_FALSE(list.InUse());
  list.SetOnChange(nullptr);
  list.Clear();

  // A handler that refuses the change stops it.
  list.SetOnChanging([](rtl::TObject*) { throw rtl::Exception("refused"); });
  EXPECT_THROW(list.Add(u"y"), rtl::Exception);
  EXPECT_EQ(list.Count(), 0);

  // A handler that raises at the end of an update block fails the call, and
  // the block is over.
  list.SetOnChanging(nullptr);
  list.SetOnChange([](rtl::TObject*) { throw rtl::Exception("late refusal"); });
  EXPECT_THROW(list.AddStrings(TStringList({u"p", u"q"})), rtl::Exception);
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.UpdateCount(), 0);
  list.SetOnChange(nullptr);
  list.Clear();

  // Copies take the items but not the handlers.
  list.SetOnChanging(nullptr);
  list.Add(u"z");
  TStringList copy = list;
  EXPECT_FALSE(static_cast<bool>(copy.OnChange()));
  EXPECT_EQ(copy.CommaText(), u"z");
}

TEST(StringList, AssignCopiesItemsObjectsAndSortingAndEqualsComparesTexts) {
  TStringList source = TStringList({u"b", u"a"});
  source.SetSorted(true);
  source.SetDuplicates(rtl::dupAccept);
  TStringList target = TStringList({u"old"});
  target.Assign(&source);
  EXPECT_EQ(target.CommaText(), u"a,b");
  EXPECT_TRUE(target.Sorted());
  EXPECT_EQ(target.Duplicates(), rtl::dupAccept);
  EXPECT_TRUE(target.Equals(source));
  EXPECT_FALSE(target.Equals(TStringList({u"A", u"b"})));  // letter case counts
  EXPECT_FALSE(target.Equals(TStringList({u"a"})));
  target.Assign(target);  // itself: nothing changes
  EXPECT_EQ(target.Count(), 2);
}

TEST(StringList, GetTextIsText) {
  TStringList list = TStringList({u"a", u"b"});
  EXPECT_EQ(list.GetText(), u"a\r\nb\r\n");
}

TEST(StringList, SaveToFileThenLoadFromFileKeepsEveryItem) {
  std::string path = TempPath("korva_strings.txt");
  TStringList source = TStringList({u"plain", u"ümlaut ☃", u"", u"tab\there"});
  source.SaveToFile(rtl::Utf8ToUnicode(path));
  TStringList loaded = TStringList({u"replaced"});
  loaded.LoadFromFile(rtl::Utf8ToUnicode(path));
  EXPECT_EQ(loaded.Items(), source.Items());
  std::remove(path.c_str());
  EXPECT_THROW(loaded.LoadFromFile(rtl::Utf8ToUnicode(path)), rtl::EFOpenError);
  EXPECT_THROW(source.SaveToFile(u"/nonexistent-dir/x.txt"), rtl::EFCreateError);
}

TEST(StringList, StreamsReadFromThePositionAndWriteAtIt) {
  rtl::TMemoryStream stream;
  stream.WriteBuffer("skip", 4);
  TStringList({u"one", u"two"}).SaveToStream(stream);
  EXPECT_EQ(stream.Size(), 4 + 10);
  stream.SetPosition(4);
  TStringList loaded;
  loaded.LoadFromStream(stream);
  EXPECT_EQ(loaded.CommaText(), u"one,two");
  EXPECT_EQ(stream.Position(), stream.Size());
}
