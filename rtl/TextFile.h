// Reading a whole text file: byte order marks, the system code page, lines.
#pragma once

#include <string>
#include <vector>

#include "rtl/SysUtils.h"

namespace rtl {

// Decodes file bytes to text. EF BB BF selects UTF-8, FF FE UTF-16 LE,
// FE FF UTF-16 BE (the mark is dropped). Without a mark, bytes that show
// UTF-16 text (zero bytes at every other position) are read as UTF-16 of
// that byte order; anything else is read in the system code page, falling
// back to Windows-1252 where the bytes are not valid in it, so that no byte
// is lost. A NUL ends the text.
UnicodeString DecodeText(std::string_view bytes);

// Reads a file whole. Raises "Cannot open file "%s". %s" with the full path
// and the system's error text when it cannot be read.
std::string ReadFileBytes(const UnicodeString& fileName);

// ReadFileBytes, DecodeText and SplitLines in one step.
std::vector<UnicodeString> ReadTextFileLines(const UnicodeString& fileName);

// Windows-1252 to UTF-16; the five unassigned bytes map to the same code point.
UnicodeString Windows1252ToUnicode(std::string_view bytes);

}  // namespace rtl
