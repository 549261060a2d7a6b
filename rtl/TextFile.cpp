#include "rtl/TextFile.h"

#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

#include "rtl/DelimitedText.h"
#include "rtl/Locale.h"

namespace rtl {

namespace {

UnicodeString DecodeUtf16(std::string_view bytes, bool bigEndian) {
  UnicodeString out;
  out.reserve(bytes.size() / 2);
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    auto b0 = static_cast<unsigned char>(bytes[i]);
    auto b1 = static_cast<unsigned char>(bytes[i + 1]);
    out.push_back(static_cast<char16_t>(bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0));
  }
  return out;
}

// Zero bytes at every other position of the first code units, and some text
// in the other positions: UTF-16 without a mark.
bool LooksLikeUtf16(std::string_view bytes, bool bigEndian) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
  const size_t window = std::min<size_t>(bytes.size(), 512);
  bool anyText = false;
  for (size_t i = 0; i + 1 < window; i += 2) {
    char high = bigEndian ? bytes[i] : bytes[i + 1];
    char low = bigEndian ? bytes[i + 1] : bytes[i];
    if (high != 0) return false;
    if (low != 0) anyText = true;
  }
  return anyText;
}

// Converts with iconv from the locale's character set; false when the bytes
// are not valid in it.
bool DecodeSystemCodePage(std::string_view bytes, UnicodeString& out) {
  iconv_t cd = iconv_open("UTF-16LE", SystemCodePageName().c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string result(bytes.size() * 4 + 4, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  char* outPtr = result.data();
  size_t outLeft = result.size();
  size_t rc = iconv(cd, &in, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return false;
  result.resize(result.size() - outLeft);
  out = DecodeUtf16(result, false);
  return true;
}

}  // namespace

UnicodeString Windows1252ToUnicode(std::string_view bytes) {
  static const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  UnicodeString out;
  out.reserve(bytes.size());
  for (char ch : bytes) {
    auto b = static_cast<unsigned char>(ch);
    out.push_back(b >= 0x80 && b < 0xA0 ? high[b - 0x80] : static_cast<char16_t>(b));
  }
  return out;
}

UnicodeString DecodeText(std::string_view bytes) {
  UnicodeString text;
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (starts("\xEF\xBB\xBF")) {
    text = Utf8ToUnicode(bytes.substr(3));
  } else if (starts("\xFF\xFE")) {
    text = DecodeUtf16(bytes.substr(2), false);
  } else if (starts("\xFE\xFF")) {
    text = DecodeUtf16(bytes.substr(2), true);
  } else if (LooksLikeUtf16(bytes, false)) {
    text = DecodeUtf16(bytes, false);
  } else if (LooksLikeUtf16(bytes, true)) {
    text = DecodeUtf16(bytes, true);
  } else {
    // The NUL cut comes first here so that bytes after it cannot make
    // the whole text fail the code-page check.
    std::string_view head = bytes.substr(0, bytes.find('\0'));
    if (SystemCodePageIsUtf8()) {
      text = IsValidUtf8(head) ? Utf8ToUnicode(head) : Windows1252ToUnicode(head);
    } else if (!DecodeSystemCodePage(head, text)) {
      text = Windows1252ToUnicode(head);
    }
  }
  size_t nul = text.find(u'\0');
  if (nul != UnicodeString::npos) text.resize(nul);
  return text;
}

std::string ReadFileBytes(const UnicodeString& fileName) {
  std::string path = UnicodeToUtf8(fileName);
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st;
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    close(fd);
    fd = -1;
    errno = EISDIR;
  }
  if (fd < 0) {
    int error = errno;
    throw EFOpenError::CannotOpen(ExpandFileName(fileName), SysErrorMessage(error));
  }
  std::string bytes;
  char buffer[65536];
  for (;;) {
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      int error = errno;
      close(fd);
      throw EFOpenError::CannotOpen(ExpandFileName(fileName), SysErrorMessage(error));
    }
    if (got == 0) break;
    bytes.append(buffer, static_cast<size_t>(got));
  }
  close(fd);
  return bytes;
}

std::vector<UnicodeString> ReadTextFileLines(const UnicodeString& fileName) {
  return SplitLines(DecodeText(ReadFileBytes(fileName)));
}

}  // namespace rtl
