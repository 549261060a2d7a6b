// Basic string types, text conversions, case rules and the exception hierarchy
// shared by every layer of Korva.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

namespace rtl {

// Script-visible text is UTF-16, as the script language defines it.
using UnicodeString = std::u16string;
// The 8-bit form of a string: on a UTF-8 system, its UTF-8 bytes.
using AnsiString = std::string;

// --- Conversions between UTF-8 and UTF-16 -------------------------------
// Invalid UTF-8 sequences become U+FFFD; lone surrogates are encoded as
// three-byte sequences so that nothing is dropped silently.
UnicodeString Utf8ToUnicode(std::string_view text);
// Decodes one UTF-8 sequence at `pos`; returns false (and leaves pos) when
// the bytes there are not a valid sequence (stray continuation bytes,
// overlong forms, surrogates).
bool DecodeUtf8At(std::string_view s, size_t& pos, char32_t& cp);
std::string UnicodeToUtf8(std::u16string_view text);
// True when the bytes form valid UTF-8 (no overlongs, no surrogates).
bool IsValidUtf8(std::string_view bytes);

// Appends the code point as UTF-16.
void AppendCodePoint(UnicodeString& out, char32_t cp);
// Reads the code point at `pos` and advances `pos` past it; a lone
// surrogate is returned as itself.
char32_t NextCodePoint(std::u16string_view text, size_t& pos);

// --- Numbers and simple formatting --------------------------------------
UnicodeString IntToStr(int64_t value);
// Replaces each "%s" or "%d" of the pattern, in order, by the next argument.
// Message texts of the system are spelled with these two placeholders only.
UnicodeString FormatText(std::u16string_view pattern, std::initializer_list<UnicodeString> args);

// --- Case rules -----------------------------------------------------------
// Locale-aware simple case mapping per code point.
char32_t UnicodeToLower(char32_t cp);
char32_t UnicodeToUpper(char32_t cp);
UnicodeString AnsiLowerCase(std::u16string_view text);
UnicodeString AnsiUpperCase(std::u16string_view text);
// Compares code point by code point after simple case folding; only letter
// case is ignored. Returns <0, 0 or >0.
int AnsiCompareText(std::u16string_view a, std::u16string_view b);
bool AnsiSameText(std::u16string_view a, std::u16string_view b);
// ASCII-only folding (A..Z to a..z), as the option parser and script names use.
UnicodeString AsciiLowerCase(std::u16string_view text);
UnicodeString AsciiUpperCase(std::u16string_view text);

// Removes characters with codes 0..32 at both ends.
UnicodeString Trim(std::u16string_view text);
UnicodeString TrimRight(std::u16string_view text);

// --- Exceptions -------------------------------------------------------------
// Every failure outside the script engine is an Exception carrying the
// message text the user finally sees.
class Exception : public std::exception {
 public:
  explicit Exception(UnicodeString message);
  explicit Exception(const char* utf8Message);
  const UnicodeString& Message() const { return FMessage; }
  const char* what() const noexcept override { return FUtf8.c_str(); }

 private:
  UnicodeString FMessage;
  std::string FUtf8;
};

// An index outside a list.
class EListError : public Exception {
 public:
  using Exception::Exception;
  static constexpr std::u16string_view SListIndexError = u"List index out of bounds (%d)";
  static EListError IndexError(int64_t index);
};

// A file that cannot be opened.
class EFOpenError : public Exception {
 public:
  using Exception::Exception;
  static constexpr std::u16string_view SFOpenError = u"Cannot open file \"%s\". %s";
  // `fullPath` is the expanded file name; `reason` the system's error text.
  static EFOpenError CannotOpen(const UnicodeString& fullPath, const UnicodeString& reason);
};

// A text that does not convert to the wanted type.
class EConvertError : public Exception {
 public:
  using Exception::Exception;
};

// A member left abstract was called.
class EAbstractError : public Exception {
 public:
  using Exception::Exception;
  static constexpr std::u16string_view SAbstractError = u"Abstract Error";
  EAbstractError() : Exception(UnicodeString(SAbstractError)) {}
};

// Arithmetic faults, raised where the hardware would trap (integer division
// by zero) or where floating-point results must not pass silently as
// infinities or NaNs.
class EIntError : public Exception {
 public:
  using Exception::Exception;
};
class EDivByZero : public EIntError {
 public:
  static constexpr std::u16string_view SDivByZero = u"Division by zero";
  EDivByZero() : EIntError(UnicodeString(SDivByZero)) {}
};
class EMathError : public Exception {
 public:
  using Exception::Exception;
};
class EZeroDivide : public EMathError {
 public:
  static constexpr std::u16string_view SZeroDivide = u"Floating point division by zero";
  EZeroDivide() : EMathError(UnicodeString(SZeroDivide)) {}
};
class EOverflow : public EMathError {
 public:
  static constexpr std::u16string_view SOverflow = u"Floating point overflow";
  EOverflow() : EMathError(UnicodeString(SOverflow)) {}
};
class EUnderflow : public EMathError {
 public:
  static constexpr std::u16string_view SUnderflow = u"Floating point underflow";
  EUnderflow() : EMathError(UnicodeString(SUnderflow)) {}
};
class EInvalidOp : public EMathError {
 public:
  static constexpr std::u16string_view SInvalidOp = u"Invalid floating point operation";
  EInvalidOp() : EMathError(UnicodeString(SInvalidOp)) {}
};

// --- File names -------------------------------------------------------------
// The full path of a file name: realpath when the file exists, otherwise the
// name joined to the current directory.
UnicodeString ExpandFileName(const UnicodeString& fileName);
// The running program's executable file, full path (/proc/self/exe).
UnicodeString ApplicationExeName();
// The system's text for an errno value.
UnicodeString SysErrorMessage(int error);

}  // namespace rtl
