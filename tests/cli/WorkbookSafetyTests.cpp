// Whole jobs that meet the world on one workbook: a job ended by a signal
// while saving.
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
  TJob(const std::string& dir, std::vector<std::string> args, const std::string& outputName) : FOut(dir + "/" + outputName) {
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

// Waits until a file whose name matches appears in `dir`; false after 60 s.
bool AwaitFile(const std::string& dir, const std::function<bool(const std::string&)>& matches) {
  auto deadline = steady_clock::now() + seconds(60);
  while (steady_clock::now() < deadline) {
    for (const auto& e : std::filesystem::directory_iterator(dir))
      if (matches(e.path().filename().string())) return true;
    std::this_thread::sleep_for(milliseconds(1));
  }
  return false;
}

// A signal while the workbook is written: the process ends by that signal,
// the workbook is the one before the job, and no hidden file stays behind.
TEST(WorkbookSafety, ASignalDuringASaveLeavesTheWorkbookIntactAndNoHiddenFile) {
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(signal));
    TTempFolder dir;
    MakeTemplate(dir.Path());
    dir.Write("big.rops",
              "var r, c: Integer;\nbegin\n  for r := 1 to 20000 do\n    for c := 1 to 10 do\n"
              "      DOCUMENT.Sheet[1].Cell[r + 10, c] := 'text ' + IntToStr(r * c);\nend.\n");
    std::string before = Bytes(dir.File("book.xlsx"));
    TJob job(dir.Path(), {"-x", "book.xlsx", "big.rops"}, "out.txt");
    ASSERT_TRUE(AwaitFile(dir.Path(), [](const std::string& name) {
      return name.size() == 17 && name.rfind(".book.xlsx.", 0) == 0;
    }));
    job.Signal(signal);
    int status = job.Wait();
    ASSERT_TRUE(WIFSIGNALED(status)) << "the save was over before the signal came";
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(Hidden(dir.Path()), std::set<std::string>{});
    EXPECT_TRUE(Bytes(dir.File("book.xlsx")) == before);
  }
}

}  // namespace
}  // namespace korva::test
