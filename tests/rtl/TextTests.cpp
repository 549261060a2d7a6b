#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <fstream>

#include "rtl/DelimitedText.h"
#include "rtl/Locale.h"
#include "rtl/TextFile.h"

using rtl::DecodeText;
using rtl::UnicodeString;

TEST(TextDecoding, ByteOrderMarksSelectTheEncodingAndAreDropped) {
  EXPECT_EQ(DecodeText("\xEF\xBB\xBF"
                       "a\xC3\xA4"),
            u"a\u00E4");
  EXPECT_EQ(DecodeText(std::string("\xFF\xFE"
                                   "a\0\xE4\0",
                                   6)),
            u"a\u00E4");
  EXPECT_EQ(DecodeText(std::string("\xFE\xFF\0a\0\xE4", 6)), u"a\u00E4");
  // A surrogate pair survives UTF-16 decoding.
  EXPECT_EQ(DecodeText(std::string("\xFF\xFE\x3D\xD8\x00\xDE", 6)), u"\U0001F600");
  EXPECT_EQ(DecodeText(""), u"");
  EXPECT_EQ(DecodeText("\xEF\xBB\xBF"), u"");
}

TEST(TextDecoding, WithoutMarkValidUtf8IsUtf8AndOtherBytesAreWindows1252) {
  // The test process runs in the C locale, whose ASCII counts as UTF-8.
  EXPECT_EQ(DecodeText("a\xC3\xA4"), u"a\u00E4");
  // A Windows-1252 export: no byte is lost or replaced.
  EXPECT_EQ(DecodeText("Gr\xFC\xDF\x80\x81"), u"Gr\u00FC\u00DF\u20AC\u0081");
}

TEST(TextDecoding, NulEndsTheText) {
  EXPECT_EQ(DecodeText(std::string("ab\0cd", 5)), u"ab");
  EXPECT_EQ(DecodeText(std::string("\xEF\xBB\xBF"
                                   "ab\0cd",
                                   8)),
            u"ab");
  // Bytes after the NUL cannot turn the text into Windows-1252.
  EXPECT_EQ(DecodeText(std::string("\xC3\xA4\0\xFF", 4)), u"\u00E4");
}

TEST(TextDecoding, Utf16WithoutMarkIsRecognisedInsteadOfCutAtItsFirstZero) {
  EXPECT_EQ(DecodeText(std::string("a\0;\0b\0\r\0\n\0", 10)), u"a;b\r\n");
  EXPECT_EQ(DecodeText(std::string("\0a\0;\0b", 6)), u"a;b");
  // Odd length or text bytes at both positions: not UTF-16.
  EXPECT_EQ(DecodeText(std::string("a\0b", 3)), u"a");
}

TEST(TextLines, SplitAtCrLfLoneCrAndLoneLf) {
  using V = std::vector<UnicodeString>;
  EXPECT_EQ(rtl::SplitLines(u"a\r\nb\rc\nd"), (V{u"a", u"b", u"c", u"d"}));
  EXPECT_EQ(rtl::SplitLines(u"a\r\n"), (V{u"a"}));
  EXPECT_EQ(rtl::SplitLines(u"a\r\n\r\nb"), (V{u"a", u"", u"b"}));
  EXPECT_EQ(rtl::SplitLines(u"\r\r\n"), (V{u"", u""}));
  EXPECT_EQ(rtl::SplitLines(u""), V{});
}

TEST(TextFile, MissingFileReportsItsFullPathAndTheSystemReason) {
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  try {
    rtl::ReadTextFileLines(u"no-such-file.txt");
    FAIL();
  } catch (const rtl::EFOpenError& e) {
    EXPECT_EQ(e.Message(), rtl::Utf8ToUnicode(std::string("Cannot open file \"") + cwd +
                                              "/no-such-file.txt\". No such file or directory"));
  }
  EXPECT_THROW(rtl::ReadTextFileLines(u"/"), rtl::EFOpenError);
}

TEST(TextFile, ReadsLinesOfAFile) {
  std::string path = testing::TempDir() + "korva-text-" + std::to_string(getpid());
  {
    std::ofstream out(path, std::ios::binary);
    out << "\xEF\xBB\xBF"
           "first\r\nsecond\rthird\n";
  }
  auto lines = rtl::ReadTextFileLines(rtl::Utf8ToUnicode(path));
  EXPECT_EQ(lines, (std::vector<UnicodeString>{u"first", u"second", u"third"}));
  std::remove(path.c_str());
}

TEST(Conversions, Utf8RoundTripAndInvalidBytes) {
  UnicodeString text = u"a\u00E4\u20AC\U0001F600";
  EXPECT_EQ(rtl::Utf8ToUnicode(rtl::UnicodeToUtf8(text)), text);
  EXPECT_EQ(rtl::Utf8ToUnicode("a\xFF"
                               "b"),
            u"a\uFFFD"
            "b");
  EXPECT_FALSE(rtl::IsValidUtf8("\xC0\x80"));      // overlong
  EXPECT_FALSE(rtl::IsValidUtf8("\xED\xA0\x80"));  // surrogate
  EXPECT_TRUE(rtl::IsValidUtf8("\xF0\x9F\x98\x80"));
}

TEST(CaseRules, LocaleComparisonIgnoresOnlyLetterCase) {
  EXPECT_EQ(rtl::AnsiCompareText(u"Straße", u"STRASSE") == 0, false);
  EXPECT_TRUE(rtl::AnsiSameText(u"ÉCOLE", u"école"));
  EXPECT_TRUE(rtl::AnsiSameText(u"Ωμέγα", u"ΩΜΈΓΑ"));
  EXPECT_FALSE(rtl::AnsiSameText(u"e", u"é"));
  EXPECT_LT(rtl::AnsiCompareText(u"abc", u"ABD"), 0);
  EXPECT_GT(rtl::AnsiCompareText(u"abcd", u"ABC"), 0);
  EXPECT_EQ(rtl::AnsiUpperCase(u"äbc"), u"ÄBC");
  EXPECT_EQ(rtl::AsciiUpperCase(u"äbc"), u"äBC");
}

TEST(CaseRules, FormatTextFillsPlaceholdersInOrder) {
  EXPECT_EQ(rtl::FormatText(u"Cannot open file \"%s\". %s", {u"/a", u"why"}), u"Cannot open file \"/a\". why");
  EXPECT_EQ(rtl::FormatText(u"100%% (%d)", {u"7"}), u"100%% (7)");
  EXPECT_EQ(rtl::FormatText(u"%s and %s", {u"one"}), u"one and %s");
}

TEST(Locale, DatePicturesFromCFormats) {
  EXPECT_EQ(rtl::DatePictureFromCFormat("%m/%d/%y"), u"mm/dd/yy");
  EXPECT_EQ(rtl::DatePictureFromCFormat("%d.%m.%Y"), u"dd.mm.yyyy");
  EXPECT_EQ(rtl::DatePictureFromCFormat("%F"), u"yyyy-mm-dd");
  EXPECT_EQ(rtl::DatePictureFromCFormat("%e. %B %Y"), u"d. mmmm yyyy");
}

TEST(TextDecoding, StrayBytesInUtf8AreWindows1252AndTheEncodingIsNamed) {
  struct Case {
    std::string bytes;
    std::u16string text;
    std::u16string encoding;
  } cases[] = {
      {"Jos\xC3\xA9 Jos\xE9 Jos\xC3\xA9", u"Jos\u00E9 Jos\u00E9 Jos\u00E9", u"UTF-8 and Windows-1252"},
      // A stray byte at the end, a cut-off sequence, an overlong form.
      {"\xC3\xA4\xC3\xB6\x93", u"\u00E4\u00F6\u201C", u"UTF-8 and Windows-1252"},
      {"\xC3\xA4\xC3\xB6\xC3\xBC\xE2\x82", u"\u00E4\u00F6\u00FC\u00E2\u201A", u"UTF-8 and Windows-1252"},
      {"\xC3\xA4\xC3\xB6\xC3\xBC\xC0\xAF", u"\u00E4\u00F6\u00FC\u00C0\u00AF", u"UTF-8 and Windows-1252"},
      // Mostly invalid: a Windows-1252 text, whatever pairs look like UTF-8.
      {"Gr\xFC\xDF\x80\x81", u"Gr\u00FC\u00DF\u20AC\u0081", u"Windows-1252"},
      {"a\xC3\xA4", u"a\u00E4", u"UTF-8"},
      {"\xEF\xBB\xBF"
       "a",
       u"a", u"UTF-8 with byte order mark"},
      {std::string("a\0b\0", 4), u"ab", u"UTF-16LE"},
  };
  for (const auto& c : cases) {
    UnicodeString encoding;
    EXPECT_EQ(DecodeText(c.bytes, &encoding), c.text) << c.bytes;
    EXPECT_EQ(encoding, c.encoding) << c.bytes;
  }
}

TEST(TextDecoding, NamedCharacterSets) {
  EXPECT_EQ(rtl::DecodeTextAs("\xC8"
                              "aj",
                              u"ISO-8859-2"),
            u"\u010Caj");
  EXPECT_EQ(rtl::DecodeTextAs("\xEF\xBB\xBF"
                              "a",
                              u"UTF-8"),
            u"a");
  EXPECT_EQ(rtl::DecodeTextAs(std::string("\xFF\xFE"
                                          "a\0b\0",
                                          6),
                              u"UTF-16"),
            u"ab");
  EXPECT_EQ(rtl::DecodeTextAs(std::string("a\0b", 3), u"ASCII"), u"a");
  // A text longer than one conversion buffer comes through whole.
  EXPECT_EQ(rtl::DecodeTextAs(std::string(200000, 'x'), u"ASCII").size(), 200000u);
  struct Failure {
    std::string bytes;
    const char16_t* charset;
    const char16_t* message;
  } failures[] = {
      {"a", u"no-such-set", u"Unknown character set no-such-set"},
      {"ab\xFF", u"UTF-8", u"Text is not valid UTF-8 at byte 2"},
      {"ab\xC3", u"UTF-8", u"Text is not valid UTF-8 at byte 2"},
  };
  for (const auto& f : failures) {
    try {
      rtl::DecodeTextAs(f.bytes, f.charset);
      ADD_FAILURE() << "accepted " << f.bytes;
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(e.Message(), f.message);
    }
  }
}
