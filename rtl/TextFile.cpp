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

// The length of the valid UTF-8 sequence at `pos`, or 0 when the bytes there
// are not one (stray continuation bytes, overlong forms, surrogates).
size_t Utf8SequenceAt(std::string_view s, size_t pos) {
  size_t end = pos;
  char32_t cp;
  return DecodeUtf8At(s, end, cp) ? end - pos : 0;
}

// More multi-byte UTF-8 sequences than bytes that are none: UTF-8 text with
// some stray bytes, not a Windows-1252 text in which a letter and a symbol
// happen to form a sequence ("\xDF\x80", ß€).
bool MostlyUtf8(std::string_view bytes) {
  size_t sequences = 0, strays = 0;
  for (size_t pos = 0; pos < bytes.size();) {
    size_t len = Utf8SequenceAt(bytes, pos);
    if (len == 0) {
      ++strays;
      ++pos;
    } else {
      if (len > 1) ++sequences;
      pos += len;
    }
  }
  return sequences > strays;
}

}  // namespace

UnicodeString Utf8OrWindows1252ToUnicode(std::string_view bytes) {
  UnicodeString out;
  out.reserve(bytes.size());
  size_t pos = 0;
  while (pos < bytes.size()) {
    // The longest valid run goes through the UTF-8 decoder in one piece.
    size_t end = pos;
    while (end < bytes.size()) {
      size_t len = Utf8SequenceAt(bytes, end);
      if (len == 0) break;
      end += len;
    }
    out += Utf8ToUnicode(bytes.substr(pos, end - pos));
    if (end < bytes.size()) out += Windows1252ToUnicode(bytes.substr(end, 1));
    pos = end + 1;
  }
  return out;
}

UnicodeString DecodeTextAs(std::string_view bytes, const UnicodeString& charset) {
  std::string name = UnicodeToUtf8(charset);
  iconv_t cd = iconv_open("UTF-16LE", name.c_str());
  if (cd == reinterpret_cast<iconv_t>(-1)) throw Exception(FormatText(SUnknownCharset, {charset}));
  std::string result;
  char buffer[65536];
  char* in = const_cast<char*>(bytes.data());
  size_t inLeft = bytes.size();
  for (;;) {
    char* outPtr = buffer;
    size_t outLeft = sizeof buffer;
    size_t rc = iconv(cd, inLeft ? &in : nullptr, &inLeft, &outPtr, &outLeft);
    int error = errno;
    result.append(buffer, sizeof buffer - outLeft);
    if (rc != static_cast<size_t>(-1) && inLeft == 0) break;
    if (rc == static_cast<size_t>(-1) && error == E2BIG) continue;
    // EILSEQ, or EINVAL for a sequence cut off at the end.
    iconv_close(cd);
    throw Exception(FormatText(SInvalidInCharset, {charset, IntToStr(static_cast<int64_t>(bytes.size() - inLeft))}));
  }
  iconv_close(cd);
  UnicodeString text = DecodeUtf16(result, false);
  if (!text.empty() && text[0] == u'\uFEFF') text.erase(0, 1);
  size_t nul = text.find(u'\0');
  if (nul != UnicodeString::npos) text.resize(nul);
  return text;
}

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

std::optional<std::string_view> ValidUtf8Text(std::string_view bytes, UnicodeString* encoding) {
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  std::u16string_view found;
  if (starts("\xEF\xBB\xBF")) {
    bytes.remove_prefix(3);
    found = u"UTF-8 with byte order mark";
  } else if (starts("\xFF\xFE") || starts("\xFE\xFF") || LooksLikeUtf16(bytes, false) || LooksLikeUtf16(bytes, true) ||
             !SystemCodePageIsUtf8()) {
    return std::nullopt;
  } else {
    found = u"UTF-8";
  }
  std::string_view text = bytes.substr(0, bytes.find('\0'));
  if (!IsValidUtf8(text)) return std::nullopt;
  if (encoding) *encoding = UnicodeString(found);
  return text;
}

UnicodeString DecodeText(std::string_view bytes, UnicodeString* encoding) {
  UnicodeString text;
  std::u16string_view found;
  auto starts = [&](std::string_view mark) { return bytes.substr(0, mark.size()) == mark; };
  if (starts("\xEF\xBB\xBF")) {
    text = Utf8ToUnicode(bytes.substr(3));
    found = u"UTF-8 with byte order mark";
  } else if (starts("\xFF\xFE")) {
    text = DecodeUtf16(bytes.substr(2), false);
    found = u"UTF-16LE with byte order mark";
  } else if (starts("\xFE\xFF")) {
    text = DecodeUtf16(bytes.substr(2), true);
    found = u"UTF-16BE with byte order mark";
  } else if (LooksLikeUtf16(bytes, false)) {
    text = DecodeUtf16(bytes, false);
    found = u"UTF-16LE";
  } else if (LooksLikeUtf16(bytes, true)) {
    text = DecodeUtf16(bytes, true);
    found = u"UTF-16BE";
  } else {
    // The NUL cut comes first here so that bytes after it cannot make
    // the whole text fail the code-page check.
    std::string_view head = bytes.substr(0, bytes.find('\0'));
    if (SystemCodePageIsUtf8()) {
      if (IsValidUtf8(head)) {
        text = Utf8ToUnicode(head);
        found = u"UTF-8";
      } else if (MostlyUtf8(head)) {
        text = Utf8OrWindows1252ToUnicode(head);
        found = u"UTF-8 and Windows-1252";
      } else {
        text = Windows1252ToUnicode(head);
        found = u"Windows-1252";
      }
    } else if (DecodeSystemCodePage(head, text)) {
      if (encoding) *encoding = Utf8ToUnicode(SystemCodePageName());
    } else {
      text = Windows1252ToUnicode(head);
      found = u"Windows-1252";
    }
  }
  if (encoding && !found.empty()) *encoding = UnicodeString(found);
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
