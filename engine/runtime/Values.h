// Internal helpers of the runtime: unaligned slot access and the layouts of
// string and dynamic array blocks. Record fields are packed, so every slot
// access goes through memcpy (which compiles to a plain move).
#pragma once

#include <cstdint>
#include <cstring>

#include "engine/uPSRuntime.h"

namespace ps {

template <class T>
inline T Load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class T>
inline void Store(void* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// The x87 extended value occupies the first 10 bytes of a long double.
constexpr uint32_t ExtendedSize = 10;
inline long double LoadExtended(const void* p) {
  long double v = 0;
  std::memcpy(&v, p, ExtendedSize);
  return v;
}
inline void StoreExtended(void* p, long double v) { std::memcpy(p, &v, ExtendedSize); }

// Header of a string or dynamic array block; the characters or elements follow.
// A negative reference count marks a block that is never freed or changed.
struct TPSBlockHeader {
  int32_t RefCount;
  uint32_t Length;
};
inline TPSBlockHeader* LoadBlock(const void* slot) { return Load<TPSBlockHeader*>(slot); }
inline uint8_t* BlockData(TPSBlockHeader* h) { return reinterpret_cast<uint8_t*>(h + 1); }

// Appends to the string in the slot (in place when it holds the only reference).
void PSAnsiAppend(uint8_t* slot, std::string_view text);
void PSUnicodeAppend(uint8_t* slot, std::u16string_view text);

// Releases one reference of a string block (any character width).
void ReleaseStringBlock(TPSBlockHeader* h);
// A new unshared block for the text (nil for empty text).
TPSBlockHeader* NewAnsiBlock(std::string_view text);
// The one-character string of a byte, made once and never freed (as the
// constants are): a Char made a string allocates nothing.
TPSBlockHeader* CharStringBlock(uint8_t c);
// The same for a UnicodeString of a character below 256 (nil above).
TPSBlockHeader* WideCharStringBlock(char16_t c);
TPSBlockHeader* NewUnicodeBlock(std::u16string_view text);
// The never-freed block of a string constant of a procedure's code, made
// once per position `key` (both the general loop and the translation read
// constants through it, so they share one block).
TPSBlockHeader* ConstantStringBlock(TPSInternalProcRec& proc, uint32_t key, const uint8_t* text, uint32_t length,
                                    bool wide);
// The same constant read as UTF-16 text, as it becomes when a UnicodeString
// takes it (nil for an empty text), made once beside it.
TPSBlockHeader* ConstantWideTwin(TPSInternalProcRec& proc, uint32_t key, TPSBlockHeader* ansi);
inline void AddRefBlock(TPSBlockHeader* h) {
  if (h && h->RefCount > 0) ++h->RefCount;
}
void ReleaseArrayBlock(TPSBlockHeader* h, const TPSTypeRec* elemType);

// Follows a tcPointer value to its target; raises "Type Mismatch" without one.
inline void Deref(const uint8_t*& p, const TPSTypeRec*& t) {
  if (t->FBaseType == btPointer) {
    auto pv = Load<TPSPointerValue>(p);
    if (!pv.Target || !pv.Type) RaiseTypeMismatch();
    p = static_cast<const uint8_t*>(pv.Target);
    t = pv.Type;
  }
}

inline bool IsIntKind(TPSBaseType bt) { return bt >= btU8 && bt <= btS32; }
inline bool IsRealKind(TPSBaseType bt) { return bt >= btSingle && bt <= btExtended; }
inline bool IsStringKind(TPSBaseType bt) {
  return bt == btString || bt == btPChar || bt == btWideString || bt == btUnicodeString;
}

// A type record of a plain kind, shared by the whole process (for converting
// host values; not part of any module).
const TPSTypeRec* PlainType(TPSBaseType bt);

// Interface references are reference-counted through the automation interface.
void InterfaceAddRef(void* intf);
void InterfaceRelease(void* intf);

}  // namespace ps
