// Reading a whole text file: byte order marks, the system code page, lines.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/SysUtils.h"

namespace rtl {

// Decodes file bytes to text. EF BB BF selects UTF-8, FF FE UTF-16 LE,
// FE FF UTF-16 BE (the mark is dropped). Without a mark, bytes that show
// UTF-16 text (zero bytes at every other position) are read as UTF-16 of
// that byte order; anything else is read in the system code page, falling
// back to Windows-1252 where the bytes are not valid in it, so that no byte
// is lost. On a UTF-8 system, text with more valid multi-byte sequences
// than invalid bytes reads as UTF-8 with only the invalid bytes taken as
// Windows-1252: one stray byte in an export must not garble every other
// accented letter. A NUL ends the text. `encoding`, when given,
// receives the name of what was found ("UTF-8", "UTF-16LE with byte order
// mark", "UTF-8 and Windows-1252", ...).
UnicodeString DecodeText(std::string_view bytes, UnicodeString* encoding = nullptr);

// The UTF-8 text DecodeText would read from `bytes` when they are valid
// UTF-8 that it reads as UTF-8 (after a byte order mark, up to a NUL), so
// that a caller may decode it a line at a time; nothing otherwise.
// `encoding` as for DecodeText.
std::optional<std::string_view> ValidUtf8Text(std::string_view bytes, UnicodeString* encoding = nullptr);

// Decodes bytes in the named character set (any name iconv knows); a byte
// order mark that the set leaves in the text is dropped and a NUL ends the
// text. Raises "Unknown character set %s" or "Text is not valid %s at byte
// %d" (counting from 0).
UnicodeString DecodeTextAs(std::string_view bytes, const UnicodeString& charset);
inline constexpr std::u16string_view SUnknownCharset = u"Unknown character set %s";
inline constexpr std::u16string_view SInvalidInCharset = u"Text is not valid %s at byte %d";

// UTF-8 where the bytes form valid sequences, Windows-1252 for each byte
// that does not.
UnicodeString Utf8OrWindows1252ToUnicode(std::string_view bytes);

// Reads a file whole. Raises "Cannot open file "%s". %s" with the full path
// and the system's error text when it cannot be read.
std::string ReadFileBytes(const UnicodeString& fileName);

// ReadFileBytes, DecodeText and SplitLines in one step.
std::vector<UnicodeString> ReadTextFileLines(const UnicodeString& fileName);

// Windows-1252 to UTF-16; the five unassigned bytes map to the same code point.
UnicodeString Windows1252ToUnicode(std::string_view bytes);

}  // namespace rtl
