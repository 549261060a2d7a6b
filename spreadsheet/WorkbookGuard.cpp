#include "spreadsheet/WorkbookGuard.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <set>
#include <thread>

#include "spreadsheet/RemoveOnSignal.h"

namespace spreadsheet {

namespace {

EPackageError Fail(const std::string& reason) { return EPackageError(rtl::Utf8ToUnicode(reason)); }

std::string ErrorText(int code) { return rtl::UnicodeToUtf8(rtl::SysErrorMessage(code)); }

// Workbooks locked by this process. A second lock on the same file from
// this process would only wait for itself.
std::set<std::string>& LockedHere() {
  static std::set<std::string> locked;
  return locked;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

void SplitPath(const std::string& path, std::string& dir, std::string& name) {
  size_t slash = path.rfind('/');
  dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// Owner files of the editors that keep one beside an open document:
// LibreOffice's ".~lock.NAME#" and Excel's "~$NAME".
std::string ForeignLockFile(const std::string& path) {
  std::string dir, name;
  SplitPath(path, dir, name);
  for (const std::string& lock : {".~lock." + name + "#", "~$" + name}) {
    struct stat st;
    if (lstat((dir + "/" + lock).c_str(), &st) == 0) return lock;
  }
  return {};
}

}  // namespace

// --- Identity and permissions -------------------------------------------------------------

TFileIdentity TFileIdentity::Of(const struct stat& st) {
  TFileIdentity id;
  id.Device = st.st_dev;
  id.Inode = st.st_ino;
  id.Size = st.st_size;
  id.Modified = st.st_mtim;
  return id;
}

std::optional<TFileIdentity> TFileIdentity::OfPath(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return std::nullopt;
  return Of(st);
}

bool TFileIdentity::operator==(const TFileIdentity& other) const {
  return Device == other.Device && Inode == other.Inode && Size == other.Size &&
         Modified.tv_sec == other.Modified.tv_sec && Modified.tv_nsec == other.Modified.tv_nsec;
}

bool IsReadOnlyFor(const struct stat& st, uid_t euid, const std::vector<gid_t>& groups) {
  if (euid == 0) return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
  if (st.st_uid == euid) return !(st.st_mode & S_IWUSR);
  for (gid_t g : groups)
    if (g == st.st_gid) return !(st.st_mode & S_IWGRP);
  return !(st.st_mode & S_IWOTH);
}

bool IsReadOnly(const struct stat& st) {
  std::vector<gid_t> groups{getegid()};
  int count = getgroups(0, nullptr);
  if (count > 0) {
    groups.resize(1 + static_cast<size_t>(count));
    count = getgroups(count, groups.data() + 1);
    groups.resize(1 + static_cast<size_t>(count < 0 ? 0 : count));
  }
  return IsReadOnlyFor(st, geteuid(), groups);
}

// --- The guard -------------------------------------------------------------------------------

std::string TWorkbookGuard::LockFileName(const std::string& workbookName) { return "." + workbookName + ".korva-lock"; }

TWorkbookGuard::TWorkbookGuard(const std::string& path, std::chrono::milliseconds wait) {
  char resolved[PATH_MAX];
  if (!realpath(path.c_str(), resolved)) throw Fail(ErrorText(errno));
  FTarget = resolved;
  SplitPath(FTarget, FDir, FName);
  struct stat st;
  if (stat(FTarget.c_str(), &st) != 0) throw Fail(ErrorText(errno));
  if (IsReadOnly(st)) throw Fail(SReadOnly);
  // Beside the name given and beside the file it leads to: an editor may
  // have opened either.
  std::string foreign = ForeignLockFile(path);
  if (foreign.empty()) foreign = ForeignLockFile(FTarget);
  if (!foreign.empty()) {
    std::string reason = SOpenElsewhere;
    throw Fail(reason.replace(reason.find("%s"), 2, foreign));
  }
  if (LockedHere().count(FTarget)) throw Fail(SOpenInThisJob);
  FDirFd = open(FDir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (FDirFd < 0) throw Fail(ErrorText(errno));
  try {
    Lock(wait);
  } catch (...) {
    close(FDirFd);
    throw;
  }
  LockedHere().insert(FTarget);
  FLockedHere = true;
  // Read only now that no other job can be between its open and its save.
  struct stat opened;
  if (stat(FTarget.c_str(), &opened) != 0) {
    int code = errno;
    Unlock();
    close(FDirFd);
    throw Fail(ErrorText(code));
  }
  FIdentity = TFileIdentity::Of(opened);
}

TWorkbookGuard::~TWorkbookGuard() {
  Unlock();
  if (FDirFd >= 0) close(FDirFd);
}

// The lock file is created when missing and removed by its holder at the
// end. A waiting job may therefore get the lock of a file its holder has
// just removed (or that a newer job has replaced): holding a lock counts
// only when the name still leads to the locked file, otherwise it retries.
void TWorkbookGuard::Lock(std::chrono::milliseconds wait) {
  const std::string lockName = LockFileName(FName);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  for (;;) {
    FLockFile = true;
    int fd = openat(FDirFd, lockName.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
      // No lock file can be made here (a folder we may not write to, where
      // saving would fail anyway): lock the workbook itself.
      FLockFile = false;
      fd = open(FTarget.c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) throw Fail(ErrorText(errno));
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      int code = errno;
      if (code != EWOULDBLOCK && code != EINTR) {
        // A file system without locks: the check before the rename is then
        // the only protection, as it is against other programs.
        close(fd);
        return;
      }
    } else {
      struct stat held, named;
      bool current = fstat(fd, &held) == 0 &&
                     (FLockFile ? fstatat(FDirFd, lockName.c_str(), &named, AT_SYMLINK_NOFOLLOW)
                                : stat(FTarget.c_str(), &named)) == 0 &&
                     SameFile(held, named);
      if (current) {
        FLockFd = fd;
        if (FLockFile) FRemoveLockOnSignal = std::make_unique<TRemoveOnSignal>(FDir + "/" + lockName);
        return;
      }
    }
    close(fd);
    if (std::chrono::steady_clock::now() >= deadline) throw Fail(SInUse);
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
}

void TWorkbookGuard::Unlock() {
  if (FLockedHere) LockedHere().erase(FTarget);
  FLockedHere = false;
  if (FLockFd < 0) return;
  // Forgotten before the file goes: once it is removed, a newer job may
  // create the name afresh, and a signal must not remove that one.
  FRemoveLockOnSignal.reset();
  if (FLockFile) {
    const std::string lockName = LockFileName(FName);
    struct stat held, named;
    if (fstat(FLockFd, &held) == 0 && fstatat(FDirFd, lockName.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameFile(held, named))
      unlinkat(FDirFd, lockName.c_str(), 0);  // failing (a sticky folder of another user's), it is reused
  }
  close(FLockFd);  // the lock ends with the last descriptor
  FLockFd = -1;
}

void TWorkbookGuard::CheckUnchanged(const std::string& target) const {
  std::optional<TFileIdentity> now = TFileIdentity::OfPath(target);
  if (!now) throw Fail(SRemoved);
  if (!(*now == FIdentity)) throw Fail(SReplaced);
}

}  // namespace spreadsheet
