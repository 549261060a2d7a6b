#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "bindings/DecimalRounding.h"
#include "bindings/UtilityFunctions.h"
#include "rtl/Locale.h"

using namespace bindings;

TEST(DecimalRounding, RoundToExHalvesAwayFromZeroWithTolerance) {
  struct Case {
    double value;
    int digits;
    double expected;
  } cases[] = {
      {2.5, 0, 3},        {-2.5, 0, -3},    {1.005, 2, 1.01}, {1234.5, -2, 1200}, {2.675, 2, 2.68},    {0, 3, 0},
      {-1.005, 2, -1.01}, {1.0049, 2, 1.0}, {1250, -2, 1300}, {0.5, 0, 1},        {123.456, 1, 123.5},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(RoundToEx(c.value, c.digits), c.expected) << c.value << " " << c.digits;
}

TEST(DecimalRounding, ValuesBeyondSixtyFourBitsAndHugeDigitCountsAreUnchanged) {
  EXPECT_EQ(RoundToEx(1e300, 2), 1e300);
  EXPECT_EQ(RoundToEx(1.25, 100000), 1.25);
  EXPECT_EQ(RoundToEx(123.0, -100000), 123.0);
  EXPECT_EQ(RoundToEx(1.5, INT32_MIN), 1.5);  // its magnitude has no 32-bit form
  EXPECT_EQ(RoundToEx(1.5, INT32_MAX), 1.5);
  EXPECT_TRUE(std::isnan(RoundToEx(std::nan(""), 2)));
  EXPECT_EQ(RoundToEx(-INFINITY, 2), -INFINITY);
}

TEST(DecimalRounding, EveryModeOnHalvesAndNonHalves) {
  using M = TDecimalRoundingMode;
  struct Case {
    M mode;
    double half;     // result for 2.5
    double negHalf;  // result for -2.5
    double near;     // result for 2.4
    double negNear;  // result for -2.6
  } cases[] = {
      {M::None, 2.5, -2.5, 2.4, -2.6}, {M::HalfEven, 2, -2, 2, -3}, {M::HalfPos, 3, -2, 2, -3},
      {M::HalfNeg, 2, -3, 2, -3},      {M::HalfDown, 2, -2, 2, -3}, {M::HalfUp, 3, -3, 2, -3},
      {M::RndNeg, 2, -3, 2, -3},       {M::RndPos, 3, -2, 3, -2},   {M::RndDown, 2, -2, 2, -2},
      {M::RndUp, 3, -3, 3, -3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(rtl::UnicodeToUtf8(RoundingModeName(c.mode)));
    EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRound(2.5L, 0, c.mode, 1e-10L)), c.half);
    EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRound(-2.5L, 0, c.mode, 1e-10L)), c.negHalf);
    EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRound(2.4L, 0, c.mode, 1e-10L)), c.near);
    EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRound(-2.6L, 0, c.mode, 1e-10L)), c.negNear);
  }
  EXPECT_DOUBLE_EQ(static_cast<double>(DecimalRound(3.5L, 0, M::HalfEven, 1e-10L)), 4);
  EXPECT_EQ(RoundingModeDescription(M::HalfEven), u"Round to nearest or to even whole number (a.k.a Bankers) ");
  EXPECT_EQ(RoundingModeName(M::RndUp), u"RndUp");
}

TEST(UtilityFunctions, StrToFloatUnderTheRegionalDecimalSeparator) {
  rtl::TFormatSettings saved = rtl::FormatSettings();
  EXPECT_EQ(StrToFloatEx(u"1.5"), 1.5);
  EXPECT_EQ(StrToFloatDefEx(u"abc", -1), -1);
  try {
    StrToFloatEx(u"abc");
    FAIL();
  } catch (const rtl::EConvertError& e) {
    EXPECT_EQ(e.Message(), u"'abc' is not a valid floating point value");
  }
  rtl::FormatSettings().DecimalSeparator = u',';
  EXPECT_EQ(StrToFloatEx(u"1,5"), 1.5);
  EXPECT_THROW(StrToFloatEx(u"1.5"), rtl::EConvertError);
  EXPECT_EQ(StrToFloatDefEx(u"1.5", 7), 7);
  rtl::FormatSettings() = saved;
}

TEST(UtilityFunctions, ReplaceStrIsCaseSensitiveAndNonOverlapping) {
  EXPECT_EQ(ReplaceStr(u"aAa", u"a", u"b"), u"bAb");
  EXPECT_EQ(ReplaceStr(u"aaaa", u"aa", u"a"), u"aa");
  EXPECT_EQ(ReplaceStr(u"abc", u"", u"x"), u"abc");
  EXPECT_EQ(ReplaceStr(u"abc", u"b", u""), u"ac");
  EXPECT_EQ(ReplaceStr(u"", u"a", u"b"), u"");
}

TEST(UtilityFunctions, SubstringsCountCharactersNotBytes) {
  EXPECT_EQ(RightStr("abc", 5), "abc");
  EXPECT_EQ(RightStr("abc", 0), "");
  EXPECT_EQ(RightStr("abc", -1), "");
  EXPECT_EQ(RightStr("abc", 2), "bc");
  EXPECT_EQ(MidStr("abcdef", 0, 2), "ab");
  EXPECT_EQ(MidStr("abcdef", -5, 2), "ab");
  EXPECT_EQ(MidStr("abc", 4, 1), "");
  EXPECT_EQ(MidStr("abc", 2, -1), "");
  EXPECT_EQ(MidStr("abcdef", 3, 100), "cdef");
  EXPECT_EQ(LeftStr("abc", 2), "ab");
  EXPECT_EQ(LeftStr("abc", -2), "");
  // "ä€x": the cut never falls inside a character.
  const std::string text =
      "\xC3\xA4\xE2\x82\xAC"
      "x";
  EXPECT_EQ(LeftStr(text, 1), "\xC3\xA4");
  EXPECT_EQ(MidStr(text, 2, 1), "\xE2\x82\xAC");
  EXPECT_EQ(RightStr(text, 2),
            "\xE2\x82\xAC"
            "x");
}

TEST(UtilityFunctions, ApplicationDirAndName) {
  char path[4096];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  ASSERT_GT(n, 0);
  std::string exe(path, static_cast<size_t>(n));
  EXPECT_EQ(rtl::UnicodeToUtf8(ApplicationDir()), exe.substr(0, exe.rfind('/')));
  EXPECT_EQ(rtl::UnicodeToUtf8(ApplicationName()), exe.substr(exe.rfind('/') + 1));
}

TEST(UtilityFunctions, ShellOpenStartsProgramsWithTheirParameterAndNeverFails) {
  std::string dir = testing::TempDir() + "korva-shell-" + std::to_string(getpid());
  ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
  std::string script = dir + "/record.sh";
  std::string marker = dir + "/marker";
  std::ofstream(script) << "#!/bin/sh\nprintf '%s|%s' \"$#\" \"$1\" > \"" + marker + ".tmp\" && mv \"" + marker +
                               ".tmp\" \"" + marker + "\"\n";
  ASSERT_EQ(chmod(script.c_str(), 0700), 0);
  ShellOpen(rtl::Utf8ToUnicode(script), u"a b; $(rm -rf /)");
  std::string content;
  for (int i = 0; i < 200 && content.empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(marker);
    std::getline(in, content);
  }
  // One argument, passed through untouched: no shell ever sees it.
  EXPECT_EQ(content, "1|a b; $(rm -rf /)");
  ShellOpen(u"/nonexistent/program", u"x");
  ShellOpen(u"", u"");
  EXPECT_EQ(system(("rm -rf '" + dir + "'").c_str()), 0);
}
