// What keeps other writers' work safe while a workbook is open: a workbook
// that is read-only or open in another program is refused; an exclusive
// lock beside it makes a second Korva job wait (and then give up) rather
// than overwrite this one's save; and a save checks that the file on disk is
// still the one that was opened before it replaces it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "spreadsheet/Package.h"

namespace spreadsheet {

class TRemoveOnSignal;

// The file a path names, as far as a save can tell it apart from another.
struct TFileIdentity {
  dev_t Device = 0;
  ino_t Inode = 0;
  off_t Size = 0;
  timespec Modified{};

  static TFileIdentity Of(const struct stat& st);
  // Nothing when the path names no file (symbolic links are followed).
  static std::optional<TFileIdentity> OfPath(const std::string& path);
  bool operator==(const TFileIdentity& other) const;
};

// Whether a file counts as read-only for the user `euid` in groups
// `groups`: it has no write permission bit for that user's class (owner,
// group, others). For root, which may write anything, a file without any
// write bit is read-only, as editors treat it.
bool IsReadOnlyFor(const struct stat& st, uid_t euid, const std::vector<gid_t>& groups);
bool IsReadOnly(const struct stat& st);

class TWorkbookGuard {
 public:
  static constexpr const char* SReadOnly = "workbook is read-only";
  static constexpr const char* SOpenElsewhere = "workbook is open in another program (lock file %s)";
  static constexpr const char* SInUse = "workbook is in use by another Korva job";
  static constexpr const char* SOpenInThisJob = "workbook is already open in this job";
  static constexpr const char* SReplaced =
      "the file was replaced or changed by another program after it was opened; it was left as it is";
  static constexpr const char* SRemoved = "the file was removed by another program after it was opened";
  // How long a job waits for another job's lock on the same workbook.
  static constexpr std::chrono::milliseconds kLockWait{5000};

  // Checks and locks the workbook at `path` (an existing file); raises
  // EPackageError with one of the reasons above.
  explicit TWorkbookGuard(const std::string& path, std::chrono::milliseconds wait = kLockWait);
  ~TWorkbookGuard();
  TWorkbookGuard(const TWorkbookGuard&) = delete;
  TWorkbookGuard& operator=(const TWorkbookGuard&) = delete;

  // Raises EPackageError when the file at `target` is no longer the one
  // opened (or last saved through this guard).
  void CheckUnchanged(const std::string& target) const;
  // The save replaced the file: from now on this is the file to expect.
  void Saved(const TFileIdentity& identity) { FIdentity = identity; }

  // The companion file other Korva jobs lock: ".NAME.korva-lock" beside it.
  static std::string LockFileName(const std::string& workbookName);

 private:
  void Lock(std::chrono::milliseconds wait);
  void Unlock();

  std::string FTarget;  // the workbook, symbolic links resolved
  std::string FDir;
  std::string FName;
  int FDirFd = -1;
  int FLockFd = -1;
  bool FLockFile = false;
  bool FLockedHere = false;  // false: the workbook itself is locked (folder not writable)
  TFileIdentity FIdentity;
  std::unique_ptr<TRemoveOnSignal> FRemoveLockOnSignal;
};

}  // namespace spreadsheet
