// A save leaves nothing behind in the workbook's folder: it writes through
// one temporary file, and temporaries that older runs left are removed.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "ServerFixture.h"
#include "spreadsheet/Package.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;

class SaveTemporaryTest : public OneCellBookTest {};

TEST_F(SaveTemporaryTest, StaleTemporariesOfTheWorkbookAreRemovedAtTheNextSave) {
  struct TCase {
    std::string Name;
    int AgeMinutes;
    bool Removed;
  } cases[] = {
      {".book.xlsx.AbC123", 120, true},         // a save's temporary
      {".book.xlsx.AbC123.xYz789", 120, true},  // the zip library's temporary beside it
      {".book.xlsx.Fresh1", 10, false},         // may be another save's, still being written
      {".book.xlsx.TooLong1", 120, false},     {".book.xlsx.AbC123.xYz", 120, false},
      {".other.xlsx.AbC123", 120, false},      {"book.xlsx.AbC123", 120, false},
  };
  MakeBook();
  for (const auto& c : cases) {
    std::ofstream(FDir.File(c.Name)) << "partial";
    struct timespec times[2];
    times[0] = times[1] = {time(nullptr) - c.AgeMinutes * 60, 0};
    utimensat(AT_FDCWD, FDir.File(c.Name).c_str(), times, 0);
  }
  std::filesystem::create_directory(FDir.File(".book.xlsx.Dir123"));  // not a file: left alone
  struct timespec old[2] = {{time(nullptr) - 7200, 0}, {time(nullptr) - 7200, 0}};
  utimensat(AT_FDCWD, FDir.File(".book.xlsx.Dir123").c_str(), old, 0);

  auto book = Open(FPath);
  PutText(Sheet(book, 1), 2, 2, u"saved");
  SaveAndClose(book);
  for (const auto& c : cases) EXPECT_EQ(std::filesystem::exists(FDir.File(c.Name)), !c.Removed) << c.Name;
  EXPECT_TRUE(std::filesystem::is_directory(FDir.File(".book.xlsx.Dir123")));
}

// While the package is written, the only new file in the folder is the one
// temporary (the zip library is not let to make one of its own).
TEST_F(SaveTemporaryTest, ASaveWritesThroughOneTemporaryFile) {
  MakeBook();
  std::set<std::string> before = Entries(FDir.Path());
  std::set<std::string> during;
  TPackage package(FPath);
  bool listed = false;
  package.WriteStreamed("xl/extra.xml", [&](std::string& out) {
    if (listed) return false;
    during = Entries(FDir.Path());
    out = "<extra/>";
    listed = true;
    return true;
  });
  package.Save();
  std::vector<std::string> added;
  for (const std::string& name : during)
    if (!before.count(name)) added.push_back(name);
  ASSERT_EQ(added.size(), 1u) << ::testing::PrintToString(added);
  EXPECT_THAT(added[0], ::testing::MatchesRegex("\\.book\\.xlsx\\.[A-Za-z0-9]{6}"));
  EXPECT_EQ(Entries(FDir.Path()), before);
  EXPECT_EQ(ReadZip(FPath)["xl/extra.xml"], "<extra/>");
}

}  // namespace
}  // namespace spreadsheet::testing
