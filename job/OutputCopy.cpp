#include "job/OutputCopy.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

namespace job {

namespace {

std::string Utf8(const UnicodeString& text) { return rtl::UnicodeToUtf8(text); }

// The copy must not outlive a process that a signal ends: the handler
// removes it and lets the signal go on to what it did before (the
// spreadsheet server's handler, installed later, calls this one in turn).
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
char gCopyPath[PATH_MAX];
volatile sig_atomic_t gCopyArmed = 0;
struct sigaction gPrevious[std::size(kSignals)];
bool gInstalled[std::size(kSignals)];

void RemoveCopyThenResignal(int signal) {
  int saved = errno;
  if (gCopyArmed) unlink(gCopyPath);
  for (size_t i = 0; i < std::size(kSignals); ++i)
    if (kSignals[i] == signal) sigaction(signal, &gPrevious[i], nullptr);
  raise(signal);
  errno = saved;
}

bool RegisterCopy(const std::string& path) {
  if (path.size() >= PATH_MAX || gCopyArmed) return false;
  std::memcpy(gCopyPath, path.c_str(), path.size() + 1);
  gCopyArmed = 1;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = RemoveCopyThenResignal;
  sigemptyset(&action.sa_mask);
  for (int s : kSignals) sigaddset(&action.sa_mask, s);
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    gInstalled[i] = false;
    if (sigaction(kSignals[i], nullptr, &gPrevious[i]) != 0) continue;
    if (!(gPrevious[i].sa_flags & SA_SIGINFO) && gPrevious[i].sa_handler == SIG_IGN) continue;
    gInstalled[i] = sigaction(kSignals[i], &action, nullptr) == 0;
  }
  return true;
}

void UnregisterCopy() {
  for (size_t i = 0; i < std::size(kSignals); ++i) {
    if (!gInstalled[i]) continue;
    struct sigaction current;
    if (sigaction(kSignals[i], nullptr, &current) == 0 && !(current.sa_flags & SA_SIGINFO) &&
        current.sa_handler == RemoveCopyThenResignal)
      sigaction(kSignals[i], &gPrevious[i], nullptr);
    gInstalled[i] = false;
  }
  gCopyArmed = 0;
}

UnicodeString Extension(const UnicodeString& path) {
  size_t slash = path.rfind(u'/');
  size_t dot = path.rfind(u'.');
  if (dot == UnicodeString::npos || (slash != UnicodeString::npos && dot < slash)) return {};
  return rtl::AsciiLowerCase(path.substr(dot));
}

[[noreturn]] void CannotCreate(const UnicodeString& path, int error) {
  throw rtl::Exception(rtl::FormatText(TOutputCopy::SCannotCreate, {path, rtl::SysErrorMessage(error)}));
}

}  // namespace

bool TOutputCopy::SameFile(const UnicodeString& templateFile, const UnicodeString& output) {
  struct stat a, b;
  if (stat(Utf8(templateFile).c_str(), &a) == 0 && stat(Utf8(output).c_str(), &b) == 0)
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  return rtl::ExpandFileName(templateFile) == rtl::ExpandFileName(output);
}

TOutputCopy::TOutputCopy(const UnicodeString& templateFile, const UnicodeString& output)
    : FOutput(rtl::ExpandFileName(output)) {
  UnicodeString kind = Extension(templateFile);
  if (Extension(output) != kind)
    throw rtl::Exception(rtl::FormatText(SWrongKind, {output, kind.empty() ? UnicodeString(u"(no extension)") : kind}));
  // A read-only output is refused as a read-only workbook is in place.
  struct stat existing;
  if (stat(Utf8(FOutput).c_str(), &existing) == 0 &&
      ((existing.st_mode & 0222) == 0 || access(Utf8(FOutput).c_str(), W_OK) != 0))
    throw rtl::Exception(rtl::FormatText(SReadOnly, {output}));
  // Nor is an output that a spreadsheet application has open (its owner
  // file beside it): replacing it would lose that program's work.
  {
    std::string path = Utf8(FOutput);
    size_t slash = path.rfind('/');
    std::string dir = path.substr(0, slash + 1), name = path.substr(slash + 1);
    for (const std::string& lock : {".~lock." + name + "#", "~$" + name}) {
      struct stat st;
      if (lstat((dir + lock).c_str(), &st) == 0)
        throw rtl::Exception(rtl::FormatText(SOpenElsewhere, {output, rtl::Utf8ToUnicode(lock)}));
    }
  }
  // The template is read first: a missing template is the first thing to say.
  int in = open(Utf8(templateFile).c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) {
    int error = errno;
    throw rtl::EFOpenError::CannotOpen(rtl::ExpandFileName(templateFile), rtl::SysErrorMessage(error));
  }
  // The copy lives beside the output, so that the final rename never
  // crosses file systems.
  std::string out = Utf8(FOutput);
  size_t slash = out.rfind('/');
  std::string pattern = out.substr(0, slash + 1) + "." + out.substr(slash + 1) + ".korva-XXXXXX" + Utf8(kind);
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  int fd = mkostemps(name.data(), static_cast<int>(Utf8(kind).size()), O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    close(in);
    CannotCreate(FOutput, error);
  }
  FCopy = rtl::Utf8ToUnicode(name.data());
  FRegistered = RegisterCopy(name.data());
  // The output keeps the permissions it has; a new one gets those of any
  // new file.
  struct stat st;
  mode_t mode;
  if (stat(out.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  fchmod(fd, mode);
  char buffer[1 << 16];
  int error = 0;
  for (;;) {
    ssize_t got = read(in, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0) error = errno;
      break;
    }
    for (ssize_t done = 0; done < got;) {
      ssize_t put = write(fd, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) {
        error = errno;
        break;
      }
      done += put;
    }
    if (error) break;
  }
  close(in);
  if (close(fd) != 0 && !error) error = errno;
  if (error) {
    // The destructor does not run for a constructor that raises.
    unlink(name.data());
    if (FRegistered) UnregisterCopy();
    CannotCreate(FOutput, error);
  }
}

TOutputCopy::~TOutputCopy() {
  if (!FCommitted && !FCopy.empty()) unlink(Utf8(FCopy).c_str());
  if (FRegistered) UnregisterCopy();
}

void TOutputCopy::Commit() {
  if (rename(Utf8(FCopy).c_str(), Utf8(FOutput).c_str()) != 0) CannotCreate(FOutput, errno);
  FCommitted = true;
}

UnicodeString TOutputCopy::Rename(const UnicodeString& message, const UnicodeString& name) const {
  UnicodeString result = message;
  for (size_t at = 0; (at = result.find(FCopy, at)) != UnicodeString::npos; at += name.size())
    result.replace(at, FCopy.size(), name);
  return result;
}

}  // namespace job
