// A save leaves nothing behind in the workbook's folder: it writes through
// one temporary file, and temporaries that older runs left are removed.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "ServerFixture.h"
#include "spreadsheet/Package.h"
#include "spreadsheet/ParallelDeflate.h"

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

// A written part is compressed in blocks on two cores and joined into one
// deflate stream: whatever its size, its blocks and the writer's pieces, a
// zip reader other than ours inflates it whole with a matching checksum, and
// compressed data spilled to disk leaves no file behind.
TEST_F(SaveTemporaryTest, PartsCompressedInBlocksReadBackWhole) {
  const size_t block = TDeflatedPart::kBlock;
  struct TCase {
    size_t Size;
    size_t Piece;  // the writer's piece size
    bool Random;   // incompressible: more than a megabyte compressed spills to disk
  } cases[] = {{0, 1, false},
               {100, 7, false},
               {block, 4096, false},
               {block + 1, 65536, false},
               {5 * block, 3 * block, false},
               {3 * block + 12345, 100000, true}};
  for (const TCase& c : cases) {
    MakeBook();
    std::set<std::string> before = Entries(FDir.Path());
    std::string content(c.Size, '\0');
    uint32_t seed = 99;
    for (size_t k = 0; k < c.Size; ++k)
      content[k] = c.Random ? static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24)
                            : "<c r=\"A1\"><v>12</v></c>"[k % 22];
    {
      TPackage package(FPath);
      size_t at = 0;
      package.WriteStreamed("xl/extra.bin", [&](std::string& out) {
        out = content.substr(at, c.Piece);
        at += out.size();
        return at < content.size();
      });
      package.Save();
    }
    EXPECT_EQ(Entries(FDir.Path()), before) << c.Size;
    EXPECT_TRUE(ReadZip(FPath)["xl/extra.bin"] == content) << c.Size;
    std::string out = RunPython("import zipfile, zlib\nz = zipfile.ZipFile('" + FPath +
                                "')\nprint(z.testzip(), zlib.crc32(z.read('xl/extra.bin')))\n");
    uLong crc = crc32_z(0, reinterpret_cast<const Bytef*>(content.data()), content.size());
    EXPECT_EQ(out, "None " + std::to_string(crc) + "\n") << c.Size;
  }
}

// Each part's compressed data is let go once the package has it: a save of
// many large parts holds no more open files or memory for the last than for
// the first.
TEST_F(SaveTemporaryTest, EachPartsCompressedDataGoesOnceThePackageHasIt) {
  MakeBook();
  std::vector<size_t> openFiles;
  {
    TPackage package(FPath);
    for (int part = 0; part < 3; ++part) {
      auto at = std::make_shared<size_t>(0);
      package.WriteStreamed("xl/extra" + std::to_string(part) + ".bin", [&openFiles, at, part](std::string& out) {
        if (*at == 0)
          openFiles.push_back(static_cast<size_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                                std::filesystem::directory_iterator())));
        uint32_t seed = static_cast<uint32_t>(*at) * 2654435761u + static_cast<uint32_t>(part);
        out.resize(65536);
        for (char& c : out) c = static_cast<char>((seed = seed * 1103515245u + 12345u) >> 24);
        *at += out.size();
        return *at < 3 * TDeflatedPart::kBlock;  // incompressible: spilled to disk
      });
    }
    package.Save();
  }
  ASSERT_EQ(openFiles.size(), 3u);
  EXPECT_EQ(openFiles[2], openFiles[0]);
  EXPECT_EQ(ReadZip(FPath)["xl/extra2.bin"].size(), 3 * TDeflatedPart::kBlock);
}

// A writer that fails part way through a large part fails the save, and the
// workbook and its folder stay as they were.
TEST_F(SaveTemporaryTest, AWriterFailingInALaterBlockLeavesTheWorkbookAsItWas) {
  MakeBook();
  std::set<std::string> before = Entries(FDir.Path());
  auto contents = [&] { return (std::stringstream() << std::ifstream(FPath, std::ios::binary).rdbuf()).str(); };
  std::string original = contents();
  TPackage package(FPath);
  size_t written = 0;
  package.WriteStreamed("xl/extra.xml", [&](std::string& out) {
    if (written > 3 * TDeflatedPart::kBlock) throw EPackageError(u"the writer gave up");
    out.assign(65536, 'x');
    written += out.size();
    return true;
  });
  EXPECT_THROW(package.Save(), EPackageError);
  EXPECT_EQ(contents(), original);
  EXPECT_EQ(Entries(FDir.Path()), before);
}

}  // namespace
}  // namespace spreadsheet::testing
