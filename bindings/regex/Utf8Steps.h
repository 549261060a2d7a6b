// Character steps over UTF-8 bytes, for the places where the regular
// expression object must move by whole characters rather than bytes.
#pragma once

#include <cstddef>

namespace bindings::regex {

inline bool IsContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Bytes of the character starting at `pos` (1 at the end or on a stray byte),
// so that stepping never lands inside a character.
inline size_t CharLengthAt(const char* text, size_t size, size_t pos) {
  if (pos >= size) return 1;
  size_t length = 1;
  while (pos + length < size && length < 4 && IsContinuationByte(text[pos + length])) ++length;
  return length;
}

// The first character boundary at or after `pos` (at most three bytes on).
inline size_t CharBoundaryFrom(const char* text, size_t size, size_t pos) {
  for (int i = 0; i < 3 && pos < size && IsContinuationByte(text[pos]); ++i) ++pos;
  return pos;
}

}  // namespace bindings::regex
