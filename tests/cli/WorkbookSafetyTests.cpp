// Whole jobs that meet each other or the world on one workbook: two jobs at
// once, a job ended by a signal while saving, workbooks another program holds,
// and workbooks a script opened and forgot.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "JobTestSupport.h"

extern char** environ;

namespace korva::test {
namespace {

using namespace std::chrono;

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

std::set<std::string> Hidden(const std::string& dir) {
  std::set<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().filename().string()[0] == '.') names.insert(e.path().filename().string());
  return names;
}

// A korva process running in `dir`, its standard output and error in files
// beside; signals have their default actions in it whatever the test
// runner set up.
class TJob {
 public:
  TJob(const std::string& dir, std::vector<std::string> args, const std::string& outputName)
      : FOut(dir + "/" + outputName) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    posix_spawn_file_actions_addopen(&actions, 1, FOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    args.insert(args.begin(), KORVA_BINARY);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env{"LC_ALL=C"};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    if (posix_spawn(&FPid, KORVA_BINARY, &actions, &attributes, argv.data(), envp.data()) != 0) FPid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  ~TJob() {
    if (FPid > 0 && !FDone) {
      kill(FPid, SIGKILL);
      Wait();
    }
  }
  int Wait() {
    if (!FDone) {
      waitpid(FPid, &FStatus, 0);
      FDone = true;
    }
    return FStatus;
  }
  void Signal(int signal) { kill(FPid, signal); }
  std::string Output() const { return Bytes(FOut); }
  bool Started() const { return FPid > 0; }

 private:
  std::string FOut;
  pid_t FPid = -1;
  int FStatus = -1;
  bool FDone = false;
};

// Waits until a file whose name matches appears in `dir`; false after 5 minutes.
bool AwaitFile(const std::string& dir, const std::function<bool(const std::string&)>& matches) {
  auto deadline = steady_clock::now() + minutes(5);
  while (steady_clock::now() < deadline) {
    for (const auto& e : std::filesystem::directory_iterator(dir))
      if (matches(e.path().filename().string())) return true;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return false;
}

std::string Cells(const std::string& book) {
  return Python("from openpyxl import load_workbook\nws = load_workbook('" + book +
                "')['Data']\nprint(ws['A1'].value, ws['B1'].value)\n");
}

// Writes `cell` and then keeps the workbook open for `seconds` of busy work.
std::string SlowScript(const std::string& cell, const std::string& value, double seconds) {
  return "var T: TDateTime;\nbegin\n  DOCUMENT.Sheet[1].CellByName['" + cell + "'] := '" + value + "';\n  T := Now + " +
         std::to_string(seconds) + " / 86400.0;\n  while Now < T do ;\nend.\n";
}

bool IsLockFile(const std::string& name) { return name == ".book.xlsx.korva-lock"; }

// Waits until a job holds the lock of book.xlsx in `dir` (the lock file
// alone may not be locked yet); false after 5 minutes.
bool AwaitLockHeld(const std::string& dir) {
  auto deadline = steady_clock::now() + minutes(5);
  while (steady_clock::now() < deadline) {
    int fd = open((dir + "/.book.xlsx.korva-lock").c_str(), O_RDONLY);
    if (fd >= 0) {
      bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
      close(fd);
      if (held) return true;
    }
    std::this_thread::sleep_for(milliseconds(1));
  }
  return false;
}

TEST(WorkbookSafety, ASecondJobWaitsForTheFirstAndBothUpdatesAreKept) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("a.rops", SlowScript("A1", "first", 1.5));
  dir.Write("b.rops", SlowScript("B1", "second", 0));
  TJob first(dir.Path(), {"-x", "book.xlsx", "a.rops"}, "a.out");
  ASSERT_TRUE(first.Started());
  ASSERT_TRUE(AwaitLockHeld(dir.Path()));
  TJob second(dir.Path(), {"-x", "book.xlsx", "b.rops"}, "b.out");
  int firstStatus = first.Wait();
  int secondStatus = second.Wait();
  EXPECT_EQ(firstStatus, 0) << first.Output();
  EXPECT_EQ(secondStatus, 0) << second.Output();
  EXPECT_EQ(Cells(dir.File("book.xlsx")), "first second\n");
  EXPECT_EQ(Hidden(dir.Path()), std::set<std::string>{});
}

TEST(WorkbookSafety, AJobThatCannotHaveTheWorkbookInTimeFailsAndChangesNothing) {
  TTempFolder dir;
  MakeTemplate(dir.Path());
  dir.Write("a.rops", SlowScript("A1", "first", 8));
  dir.Write("b.rops", SlowScript("B1", "second", 0));
  TJob first(dir.Path(), {"-x", "book.xlsx", "a.rops"}, "a.out");
  ASSERT_TRUE(AwaitLockHeld(dir.Path()));
  auto start = steady_clock::now();
  TJob second(dir.Path(), {"-x", "book.xlsx", "b.rops"}, "b.out");
  int secondStatus = second.Wait();
  EXPECT_GE(steady_clock::now() - start, seconds(4));
  EXPECT_EQ(WEXITSTATUS(secondStatus), 1);
  EXPECT_EQ(second.Output(), "Fatal Error: Cannot open workbook \"" + dir.File("book.xlsx") +
                                 "\": workbook is in use by another Korva job\r\n");
  EXPECT_EQ(first.Wait(), 0) << first.Output();
  EXPECT_EQ(Cells(dir.File("book.xlsx")), "first None\n");
  EXPECT_EQ(Hidden(dir.Path()), std::set<std::string>{});
}

// A signal while the workbook is written: the process ends by that signal,
// the workbook is the one before the job, and no hidden file stays behind.
TEST(WorkbookSafety, ASignalDuringASaveLeavesTheWorkbookIntactAndNoHiddenFile) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    TTempFolder dir;
    MakeTemplate(dir.Path());
    // Long texts: a save of a good fraction of a second, from a script of a few cell writes.
    dir.Write("big.rops",
              "var S: string; i: Integer;\nbegin\n  S := 'x';\n  for i := 1 to 14 do S := S + S;\n"
              "  for i := 1 to 1200 do DOCUMENT.Sheet[1].Cell[i + 10, 1] := S + IntToStr(i);\nend.\n");
    std::string before = Bytes(dir.File("book.xlsx"));
    TJob job(dir.Path(), {"-x", "book.xlsx", "big.rops"}, "out.txt");
    ASSERT_TRUE(AwaitFile(dir.Path(), [](const std::string& name) {
      return name.size() == 17 && name.rfind(".book.xlsx.", 0) == 0 && !IsLockFile(name);
    }));
    job.Signal(signal);
    int status = job.Wait();
    ASSERT_TRUE(WIFSIGNALED(status)) << "the save was over before the signal came";
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(Hidden(dir.Path()), std::set<std::string>{});
    EXPECT_TRUE(Bytes(dir.File("book.xlsx")) == before);
  }
}

// Refused when opened, before the CSV file or the script is even read: the
// script here would not compile, and the report does not say so.
TEST(WorkbookSafety, ReadOnlyAndOpenWorkbooksAreRefusedBeforeTheScriptRuns) {
  struct TCase {
    std::string Setup;
    std::string Reason;
  } cases[] = {
      {"chmod 444", "workbook is read-only"},
      {".~lock.book.xlsx#", "workbook is open in another program (lock file .~lock.book.xlsx#)"},
      {"~$book.xlsx", "workbook is open in another program (lock file ~$book.xlsx)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Setup);
    TTempFolder dir;
    MakeTemplate(dir.Path());
    dir.Write("s.rops", "begin\n  DOCUMENT.Sheet[1].Cell[1, 1] := 'lost'\n  oops\nend.\n");
    if (c.Setup == "chmod 444")
      chmod(dir.File("book.xlsx").c_str(), 0444);
    else
      dir.Write(c.Setup, "someone,host,1;");
    std::string before = Bytes(dir.File("book.xlsx"));
    TKorvaRun run = RunKorva("-x book.xlsx -c missing.csv s.rops", dir.Path());
    EXPECT_EQ(run.output, "Fatal Error: Cannot open workbook \"" + dir.File("book.xlsx") + "\": " + c.Reason + "\r\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Bytes(dir.File("book.xlsx")) == before);
  }
}

// A workbook the script opened and did not free is saved and closed after
// the run, with a note on standard error; one it freed is not mentioned.
TEST(WorkbookSafety, AWorkbookTheScriptDidNotFreeIsSavedWithANote) {
  struct TCase {
    const char* Ending;
    const char* Output;
    int Status;
  } cases[] = {
      {"  D.Free;\n", "", 0},
      {"", "Note: workbook %s opened by the script was not freed; it was saved and closed\r\n", 0},
      {"  D.Sheet[1].Cell[1, 2] := 1 div (DOCUMENT.SheetCount - 2);\n",
       "Note: workbook %s opened by the script was not freed; it was saved and closed\r\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Ending);
    TTempFolder dir;
    MakeTemplate(dir.Path());
    std::filesystem::create_directory(dir.File("other"));
    MakeTemplate(dir.File("other"));
    dir.Write("s.rops",
              std::string("var D: TqovDocument;\nbegin\n  D := TqovDocument.Create('other/book.xlsx');\n"
                          "  D.Sheet[1].Cell[1, 1] := 'theirs';\n  DOCUMENT.Sheet[1].Cell[1, 1] := 'ours';\n") +
                  c.Ending + "end.\n");
    TKorvaRun run = RunKorva("-x book.xlsx s.rops 2>notes.txt", dir.Path());
    EXPECT_EQ(run.status, c.Status) << run.output;
    std::string note = c.Output;
    if (size_t at = note.find("%s"); at != std::string::npos) note.replace(at, 2, dir.File("other/book.xlsx"));
    EXPECT_EQ(Bytes(dir.File("notes.txt")), note);
    EXPECT_EQ(Cells(dir.File("other/book.xlsx")), "theirs None\n");
    EXPECT_EQ(Cells(dir.File("book.xlsx")), "ours None\n");
    EXPECT_EQ(Hidden(dir.File("other")), std::set<std::string>{});
  }
}

}  // namespace
}  // namespace korva::test
