#include "bindings/UtilityFunctions.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cstdlib>
#include <vector>

#include "rtl/Formatting.h"
#include "rtl/Locale.h"

extern char** environ;

namespace bindings {

double StrToFloatEx(const UnicodeString& s) {
  long double value;
  if (!rtl::TryTextToFloat(s, value, rtl::FormatSettings().DecimalSeparator))
    throw rtl::EConvertError(rtl::FormatText(SInvalidFloat, {s}));
  return static_cast<double>(value);
}

double StrToFloatDefEx(const UnicodeString& s, double Default) {
  long double value;
  return rtl::TryTextToFloat(s, value, rtl::FormatSettings().DecimalSeparator) ? static_cast<double>(value) : Default;
}

UnicodeString ReplaceStr(const UnicodeString& AText, const UnicodeString& AFromText, const UnicodeString& AToText) {
  if (AFromText.empty()) return AText;
  UnicodeString out;
  size_t start = 0;
  for (size_t hit; (hit = AText.find(AFromText, start)) != UnicodeString::npos; start = hit + AFromText.size()) {
    out.append(AText, start, hit - start);
    out += AToText;
  }
  out.append(AText, start, UnicodeString::npos);
  return out;
}

namespace {

// Byte offsets of the units the substring rule counts: characters of UTF-8
// text on a UTF-8 system, bytes otherwise. Holds one more entry, the end.
std::vector<size_t> UnitOffsets(const AnsiString& text) {
  std::vector<size_t> offsets;
  bool utf8 = rtl::SystemCodePageIsUtf8();
  for (size_t i = 0; i < text.size(); ++i)
    if (!utf8 || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) offsets.push_back(i);
  offsets.push_back(text.size());
  return offsets;
}

// S(from, count): a from below 1 starts at the first unit without shortening
// count; a from beyond the end or a negative count gives the empty text.
AnsiString Substring(const AnsiString& text, int64_t from, int64_t count) {
  std::vector<size_t> offsets = UnitOffsets(text);
  auto length = static_cast<int64_t>(offsets.size()) - 1;
  if (count < 0 || from > length) return {};
  if (from < 1) from = 1;
  int64_t last = std::min(length, from - 1 + count);
  if (last < from) return {};
  size_t begin = offsets[static_cast<size_t>(from - 1)];
  size_t end = offsets[static_cast<size_t>(last)];
  return text.substr(begin, end - begin);
}

int64_t UnitCount(const AnsiString& text) { return static_cast<int64_t>(UnitOffsets(text).size()) - 1; }

}  // namespace

AnsiString LeftStr(const AnsiString& AText, int ACount) { return Substring(AText, 1, ACount); }

AnsiString RightStr(const AnsiString& AText, int ACount) {
  return Substring(AText, UnitCount(AText) - ACount + 1, ACount);
}

AnsiString MidStr(const AnsiString& AText, int AStart, int ACount) { return Substring(AText, AStart, ACount); }

UnicodeString ApplicationDir() {
  UnicodeString exe = rtl::ApplicationExeName();
  size_t slash = exe.rfind(u'/');
  if (slash == UnicodeString::npos) return u".";
  return slash == 0 ? u"/" : exe.substr(0, slash);
}

UnicodeString ApplicationName() {
  UnicodeString exe = rtl::ApplicationExeName();
  return exe.substr(exe.rfind(u'/') + 1);
}

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// A program named without a directory is looked up in PATH, as the shell does.
std::string FindProgram(const std::string& name) {
  if (name.empty()) return {};
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

}  // namespace

void ShellOpen(const UnicodeString& ADocumentName, const UnicodeString& AParameter) {
  std::string document = rtl::UnicodeToUtf8(ADocumentName);
  std::string parameter = rtl::UnicodeToUtf8(AParameter);
  std::string program = FindProgram(document);
  std::vector<std::string> argv;
  if (!program.empty()) {
    argv.push_back(program);
    if (!parameter.empty()) argv.push_back(parameter);
  } else {
    program = "/usr/bin/xdg-open";
    argv = {program, document};
  }
  std::vector<char*> args;
  for (auto& a : argv) args.push_back(a.data());
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // The started program must not write into Korva's own output.
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t child;
  if (posix_spawn(&child, program.c_str(), &actions, &attributes, args.data(), environ) == 0) {
    // Not waited for: collect the child if it has already ended; one still
    // running when Korva ends is adopted by init.
    waitpid(child, nullptr, WNOHANG);
  }
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
}

}  // namespace bindings
