#include "rtl/SysUtils.h"

#include <locale.h>
#include <unistd.h>
#include <cerrno>
#include <climits>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <cwctype>

namespace rtl {

// --- UTF conversions ----------------------------------------------------------

void AppendCodePoint(UnicodeString& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

char32_t NextCodePoint(std::u16string_view text, size_t& pos) {
  char32_t c = text[pos++];
  if (c >= 0xD800 && c < 0xDC00 && pos < text.size()) {
    char32_t low = text[pos];
    if (low >= 0xDC00 && low < 0xE000) {
      ++pos;
      return 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return c;
}

bool DecodeUtf8At(std::string_view s, size_t& pos, char32_t& cp) {
  auto b0 = static_cast<unsigned char>(s[pos]);
  if (b0 < 0x80) {
    cp = b0;
    ++pos;
    return true;
  }
  size_t len;
  char32_t min;
  if ((b0 & 0xE0) == 0xC0) {
    len = 2, cp = b0 & 0x1F, min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    len = 3, cp = b0 & 0x0F, min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    len = 4, cp = b0 & 0x07, min = 0x10000;
  } else {
    return false;
  }
  if (pos + len > s.size()) return false;
  for (size_t i = 1; i < len; ++i) {
    auto b = static_cast<unsigned char>(s[pos + i]);
    if ((b & 0xC0) != 0x80) return false;
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
  pos += len;
  return true;
}

bool IsValidUtf8(std::string_view bytes) {
  size_t pos = 0;
  char32_t cp;
  while (pos < bytes.size())
    if (!DecodeUtf8At(bytes, pos, cp)) return false;
  return true;
}

UnicodeString Utf8ToUnicode(std::string_view text) {
  UnicodeString out;
  out.reserve(text.size());
  size_t pos = 0;
  // ASCII, the usual start of a text, is a character a byte.
  while (pos < text.size() && static_cast<unsigned char>(text[pos]) < 0x80)
    out.push_back(static_cast<char16_t>(text[pos++]));
  while (pos < text.size()) {
    char32_t cp;
    if (DecodeUtf8At(text, pos, cp)) {
      AppendCodePoint(out, cp);
    } else {
      out.push_back(u'\uFFFD');
      ++pos;
    }
  }
  return out;
}

std::string UnicodeToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) {
    char32_t cp = NextCodePoint(text, pos);
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

// --- Numbers and formatting ---------------------------------------------------

UnicodeString IntToStr(int64_t value) {
  std::string s = std::to_string(value);
  return UnicodeString(s.begin(), s.end());
}

UnicodeString FormatText(std::u16string_view pattern, std::initializer_list<UnicodeString> args) {
  UnicodeString out;
  auto next = args.begin();
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == u'%' && i + 1 < pattern.size() && (pattern[i + 1] == u's' || pattern[i + 1] == u'd') &&
        next != args.end()) {
      out += *next++;
      ++i;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

// --- Case rules -----------------------------------------------------------------

namespace {

// Case mapping must not depend on whether the program called setlocale yet
// (tests never do), so it uses a UTF-8 character-type locale of its own.
locale_t CaseLocale() {
  static locale_t loc = [] {
    locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    if (!l) l = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0));
    return l;
  }();
  return loc;
}

}  // namespace

char32_t UnicodeToLower(char32_t cp) {
  if (cp < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
  locale_t loc = CaseLocale();
  return loc ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), loc)) : cp;
}

char32_t UnicodeToUpper(char32_t cp) {
  if (cp < 0x80) return (cp >= 'a' && cp <= 'z') ? cp - 32 : cp;
  locale_t loc = CaseLocale();
  return loc ? static_cast<char32_t>(towupper_l(static_cast<wint_t>(cp), loc)) : cp;
}

namespace {

template <char32_t (*Map)(char32_t)>
UnicodeString MapCase(std::u16string_view text) {
  UnicodeString out;
  out.reserve(text.size());
  size_t pos = 0;
  while (pos < text.size()) AppendCodePoint(out, Map(NextCodePoint(text, pos)));
  return out;
}

}  // namespace

UnicodeString AnsiLowerCase(std::u16string_view text) { return MapCase<UnicodeToLower>(text); }
UnicodeString AnsiUpperCase(std::u16string_view text) { return MapCase<UnicodeToUpper>(text); }

int AnsiCompareText(std::u16string_view a, std::u16string_view b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    char32_t ca = UnicodeToLower(NextCodePoint(a, i));
    char32_t cb = UnicodeToLower(NextCodePoint(b, j));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

bool AnsiSameText(std::u16string_view a, std::u16string_view b) { return AnsiCompareText(a, b) == 0; }

UnicodeString AsciiLowerCase(std::u16string_view text) {
  UnicodeString out(text);
  for (auto& c : out)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
  return out;
}

UnicodeString AsciiUpperCase(std::u16string_view text) {
  UnicodeString out(text);
  for (auto& c : out)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
  return out;
}

UnicodeString Trim(std::u16string_view text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] <= u' ') ++b;
  while (e > b && text[e - 1] <= u' ') --e;
  return UnicodeString(text.substr(b, e - b));
}

UnicodeString TrimRight(std::u16string_view text) {
  size_t e = text.size();
  while (e > 0 && text[e - 1] <= u' ') --e;
  return UnicodeString(text.substr(0, e));
}

// --- Exceptions -------------------------------------------------------------------

Exception::Exception(UnicodeString message) : FMessage(std::move(message)), FUtf8(UnicodeToUtf8(FMessage)) {}

Exception::Exception(const char* utf8Message) : FMessage(Utf8ToUnicode(utf8Message)), FUtf8(utf8Message) {}

EListError EListError::IndexError(int64_t index) { return EListError(FormatText(SListIndexError, {IntToStr(index)})); }

EFOpenError EFOpenError::CannotOpen(const UnicodeString& fullPath, const UnicodeString& reason) {
  return EFOpenError(FormatText(SFOpenError, {fullPath, reason}));
}

// --- File names -----------------------------------------------------------------

UnicodeString ExpandFileName(const UnicodeString& fileName) {
  std::string name = UnicodeToUtf8(fileName);
  if (char* resolved = realpath(name.c_str(), nullptr)) {
    std::string full(resolved);
    free(resolved);
    return Utf8ToUnicode(full);
  }
  if (!name.empty() && name[0] == '/') return fileName;
  std::string cwd;
  if (char* dir = getcwd(nullptr, 0)) {
    cwd = dir;
    free(dir);
  }
  if (cwd.empty() || cwd.back() != '/') cwd += '/';
  return Utf8ToUnicode(cwd + name);
}

UnicodeString ApplicationExeName() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return u"korva";
  return Utf8ToUnicode(std::string_view(path, static_cast<size_t>(length)));
}

UnicodeString SysErrorMessage(int error) {
  char buffer[256];
  // GNU strerror_r returns the text, which may or may not be in the buffer.
  const char* text = strerror_r(error, buffer, sizeof buffer);
  return Utf8ToUnicode(text);
}

}  // namespace rtl
