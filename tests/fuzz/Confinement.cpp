// Scripts and modules under fuzzing may call anything the job declares, the
// shell-open routine and the file-writing classes included, with whatever
// arguments mutation makes up. Linked into the programs that run them, these
// definitions take the place of the C library's: no program is started, and
// no file outside the scratch directory is created, written, renamed or
// removed; the refused call fails as it would for lack of permission.
#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "FuzzSupport.h"

namespace {

// Absolute, the scratch directory or inside it, without a way out of it.
bool InScratch(const char* path) {
  if (!path) return false;
  const std::string& dir = fuzz::ScratchDir();
  if (std::strncmp(path, dir.c_str(), dir.size()) != 0) return false;
  if (path[dir.size()] != '/' && path[dir.size()] != '\0') return false;
  return std::strstr(path, "/..") == nullptr;
}

bool Writes(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0; }

int Refuse() {
  errno = EACCES;
  return -1;
}

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

int OpenChecked(const char* name, const char* path, int flags, mode_t mode) {
  if (Writes(flags) && !InScratch(path)) return Refuse();
  static auto real = Next<int (*)(const char*, int, ...)>(name);
  return real(path, flags, mode);
}

mode_t ModeArgument(int flags, va_list args) {
  return (flags & (O_CREAT | O_TMPFILE)) != 0 ? static_cast<mode_t>(va_arg(args, unsigned)) : 0;
}

}  // namespace

extern "C" {

int posix_spawn(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*, char* const[],
                char* const[]) {
  return EPERM;
}

int posix_spawnp(pid_t*, const char*, const posix_spawn_file_actions_t*, const posix_spawnattr_t*, char* const[],
                 char* const[]) {
  return EPERM;
}

int open(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = ModeArgument(flags, args);
  va_end(args);
  return OpenChecked("open", path, flags, mode);
}

int open64(const char* path, int flags, ...) {
  va_list args;
  va_start(args, flags);
  mode_t mode = ModeArgument(flags, args);
  va_end(args);
  return OpenChecked("open64", path, flags, mode);
}

int creat(const char* path, mode_t mode) { return open(path, O_CREAT | O_WRONLY | O_TRUNC, mode); }

int rename(const char* from, const char* to) {
  if (!InScratch(from) || !InScratch(to)) return Refuse();
  static auto real = Next<int (*)(const char*, const char*)>("rename");
  return real(from, to);
}

int unlink(const char* path) {
  if (!InScratch(path)) return Refuse();
  static auto real = Next<int (*)(const char*)>("unlink");
  return real(path);
}

int remove(const char* path) {
  if (!InScratch(path)) return Refuse();
  static auto real = Next<int (*)(const char*)>("remove");
  return real(path);
}

}  // extern "C"
