// What keeps other writers' work safe: read-only workbooks and workbooks open
// in an editor refused, the lock other jobs wait for, and a file changed
// behind the server's back left alone.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>

#include "ServerFixture.h"
#include "spreadsheet/WorkbookGuard.h"

namespace spreadsheet::testing {
namespace {

using rtl::Variant;
using ::testing::HasSubstr;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class WorkbookGuardTest : public OneCellBookTest {
 protected:
  std::string OpenFailure(IApplication& app, const std::string& path) {
    try {
      app.Open(rtl::Utf8ToUnicode(path));
    } catch (const rtl::Exception& e) {
      return rtl::UnicodeToUtf8(e.Message());
    }
    return "opened";
  }
};

TEST(ReadOnlyRule, TheWriteBitOfTheUsersClassDecidesAndRootNeedsAnyWriteBit) {
  struct TCase {
    mode_t Mode;
    uid_t Owner;
    gid_t Group;
    uid_t User;
    std::vector<gid_t> Groups;
    bool ReadOnly;
  } cases[] = {
      {0444, 1000, 1000, 0, {0}, true},  // root: no write bit at all
      {0400, 0, 0, 0, {0}, true},
      {0020, 1000, 1000, 0, {0}, false},  // root: any write bit will do
      {0644, 1000, 1000, 1000, {1000}, false},
      {0444, 1000, 1000, 1000, {1000}, true},
      {0464, 1000, 50, 1000, {50}, true},  // the owner's bits apply to the owner
      {0664, 2000, 50, 1000, {1000, 50}, false},
      {0646, 2000, 50, 1000, {1000, 50}, true},  // the group's bits apply to a member
      {0666, 2000, 50, 1000, {1000}, false},
      {0664, 2000, 50, 1000, {1000}, true},
  };
  for (const auto& c : cases) {
    struct stat st {};
    st.st_mode = S_IFREG | c.Mode;
    st.st_uid = c.Owner;
    st.st_gid = c.Group;
    EXPECT_EQ(IsReadOnlyFor(st, c.User, c.Groups), c.ReadOnly) << std::oct << c.Mode << " user " << std::dec << c.User;
  }
}

TEST_F(WorkbookGuardTest, ReadOnlyWorkbooksAndWorkbooksOpenInAnEditorAreRefusedUntouched) {
  struct TCase {
    std::string Setup;  // what makes the workbook unavailable
    std::string Reason;
  } cases[] = {
      {"chmod 444", "workbook is read-only"},
      {".~lock.book.xlsx#", "workbook is open in another program (lock file .~lock.book.xlsx#)"},
      {"~$book.xlsx", "workbook is open in another program (lock file ~$book.xlsx)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Setup);
    std::filesystem::remove_all(FDir.Path());
    std::filesystem::create_directory(FDir.Path());
    MakeBook();
    if (c.Setup == "chmod 444")
      chmod(FPath.c_str(), 0444);
    else
      std::ofstream(FDir.File(c.Setup)) << "user,host,1;";
    std::string before = Bytes(FPath);
    std::set<std::string> files = Entries(FDir.Path());
    EXPECT_EQ(OpenFailure(*FApp, FPath), "Cannot open workbook \"" + FPath + "\": " + c.Reason);
    EXPECT_EQ(Bytes(FPath), before);
    EXPECT_EQ(Entries(FDir.Path()), files);  // no lock file of ours either
  }
}

// Another program replaces, rewrites or removes the workbook while it is
// open: its file stays as it left it, and no temporary remains.
TEST_F(WorkbookGuardTest, AFileChangedByAnotherProgramWhileOpenIsNotOverwritten) {
  struct TCase {
    const char* Name;
    std::function<void(const std::string& path)> Change;
    const char* Reason;
  } cases[] = {
      {"replaced",
       [](const std::string& path) {
         std::ofstream(path + ".new") << "their workbook";
         std::filesystem::rename(path + ".new", path);
       },
       TWorkbookGuard::SReplaced},
      {"appended to", [](const std::string& path) { std::ofstream(path, std::ios::app) << "more"; },
       TWorkbookGuard::SReplaced},
      {"touched",
       [](const std::string& path) {
         struct timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
         utimensat(AT_FDCWD, path.c_str(), times, 0);
       },
       TWorkbookGuard::SReplaced},
      {"removed", [](const std::string& path) { std::filesystem::remove(path); }, TWorkbookGuard::SRemoved},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    MakeBook();
    auto book = Open(FPath);
    PutText(Sheet(book, 1), 2, 2, u"ours");
    c.Change(FPath);
    bool exists = std::filesystem::exists(FPath);
    std::string theirs = exists ? Bytes(FPath) : "";
    try {
      SaveAndClose(book);
      ADD_FAILURE() << "saved over the other program's file";
    } catch (const rtl::Exception& e) {
      EXPECT_EQ(rtl::UnicodeToUtf8(e.Message()), "Cannot save workbook \"" + FPath + "\": " + c.Reason);
    }
    EXPECT_EQ(std::filesystem::exists(FPath), exists);
    if (exists) {
      EXPECT_EQ(Bytes(FPath), theirs);
    }
    EXPECT_EQ(Entries(FDir.Path()), exists ? std::set<std::string>{"book.xlsx"} : std::set<std::string>{});
  }
}

// The lock file beside the workbook is what other jobs wait for; here the
// test holds it as another job would.
TEST_F(WorkbookGuardTest, AnOpenerWaitsForAnotherJobsLockAndGivesUpAfterAWhile) {
  using namespace std::chrono;
  MakeBook();
  std::string lockPath = FDir.File(TWorkbookGuard::LockFileName("book.xlsx"));
  int held = open(lockPath.c_str(), O_RDONLY | O_CREAT, 0644);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);

  auto start = steady_clock::now();
  try {
    TWorkbookGuard guard(FPath, milliseconds(300));
    ADD_FAILURE() << "locked a workbook another job holds";
  } catch (const EPackageError& e) {
    EXPECT_EQ(rtl::UnicodeToUtf8(e.Message()), TWorkbookGuard::SInUse);
  }
  EXPECT_GE(steady_clock::now() - start, milliseconds(300));

  // The holder ends as a job does: its lock file goes, then its lock.
  std::thread holder([&] {
    std::this_thread::sleep_for(milliseconds(200));
    unlink(lockPath.c_str());
    close(held);
  });
  start = steady_clock::now();
  {
    TWorkbookGuard guard(FPath, seconds(10));
    EXPECT_GE(steady_clock::now() - start, milliseconds(150));
    EXPECT_TRUE(std::filesystem::exists(lockPath));
  }
  holder.join();
  EXPECT_FALSE(std::filesystem::exists(lockPath));
}

TEST_F(WorkbookGuardTest, AWorkbookOpenInOneServerIsRefusedByAnotherAtOnceUntilClosed) {
  MakeBook();
  auto book = Open(FPath);
  std::unique_ptr<IApplication> second = FServer.CreateApplication();
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(OpenFailure(*second, FPath),
            "Cannot open workbook \"" + FPath + "\": workbook is already open in this job");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  SaveAndClose(book);
  EXPECT_EQ(OpenFailure(*second, FPath), "opened");
}

}  // namespace
}  // namespace spreadsheet::testing
