#include <gtest/gtest.h>

#include "cli/KorvaMain.h"
#include "job/qovKorva.h"
#include "rtl/Locale.h"

using job::TqovKorva;
using rtl::UnicodeString;

TEST(JobSettings, Defaults) {
  rtl::FormatSettings().ListSeparator = u';';
  TqovKorva job;
  EXPECT_TRUE(job.CSVHasHeader());
  EXPECT_EQ(job.CSVFieldDelimiter(), u';');
  EXPECT_TRUE(job.XLS_File().empty());
  EXPECT_TRUE(job.CSV_File().empty());
  EXPECT_TRUE(job.ROPS_File().empty());
  EXPECT_EQ(job.Parameters().Count(), 0);
  rtl::FormatSettings().ListSeparator = u',';
}

TEST(JobSettings, DelimiterAsString) {
  TqovKorva job;
  for (const char16_t* tab : {u"\\t", u"\\T"}) {
    job.SetCSVFieldDelimiterAsString(tab);
    EXPECT_EQ(job.CSVFieldDelimiter(), u'\t');
    EXPECT_EQ(job.CSVFieldDelimiterAsString(), u"\\t");
  }
  job.SetCSVFieldDelimiterAsString(u";");
  EXPECT_EQ(job.CSVFieldDelimiterAsString(), u";");
  for (const char16_t* bad : {u"", u"ab", u"\\x", u"\\t "}) {
    try {
      job.SetCSVFieldDelimiterAsString(bad);
      ADD_FAILURE() << "accepted a bad delimiter";
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(e.Message(), u"CSV field delimiter must be a single character or \\t");
    }
    EXPECT_EQ(job.CSVFieldDelimiter(), u';');  // unchanged
  }
}

TEST(JobSettings, NoScriptFileIsRefusedBeforeAnythingIsOpened) {
  TqovKorva job;
  job.SetCSV_File(u"/nonexistent.csv");
  try {
    job.Execute();
    FAIL();
  } catch (const rtl::Exception& e) {
    EXPECT_EQ(e.Message(), u"Please specify file containing script");
  }
}

namespace {

TqovKorva Interpret(std::initializer_list<const char16_t*> args) {
  rtl::TStringList list;
  for (auto a : args) list.Add(a);
  cli::TKorvaOptions options(&list);
  options.ParseOptions();
  TqovKorva job;
  options.InterpretCommandline(job);
  return job;
}

}  // namespace

TEST(CommandLineToJob, OptionsFillTheJob) {
  TqovKorva job = Interpret({u"-x", u"book.xlsx", u"--csv-file-name=d.csv", u"--csv-no-header", u"-d", u"\\t", u"-p",
                             u"one", u"-p", u"two", u"--parameter=three", u"s.rops", u"extra"});
  EXPECT_EQ(job.XLS_File(), u"book.xlsx");
  EXPECT_EQ(job.CSV_File(), u"d.csv");
  EXPECT_EQ(job.ROPS_File(), u"s.rops");
  EXPECT_FALSE(job.CSVHasHeader());
  EXPECT_EQ(job.CSVFieldDelimiter(), u'\t');
  EXPECT_EQ(job.Parameters().CommaText(), u"one,two,three");
}

TEST(CommandLineToJob, ScriptOptionWinsOverLeftOvers) {
  EXPECT_EQ(Interpret({u"-r", u"a.rops", u"b.rops"}).ROPS_File(), u"a.rops");
  EXPECT_EQ(Interpret({u"b.rops", u"c.rops"}).ROPS_File(), u"b.rops");
  EXPECT_TRUE(Interpret({u"-x", u"book.xlsx"}).ROPS_File().empty());
}
