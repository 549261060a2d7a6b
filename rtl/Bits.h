// TBits: a growable array of Boolean flags.
#pragma once

#include <vector>

#include "rtl/Objects.h"

namespace rtl {

class EBitsError : public Exception {
 public:
  using Exception::Exception;
  static constexpr std::u16string_view SBitsIndexError = u"Bits index out of range (%d)";
  static constexpr std::u16string_view SBitsSizeError = u"Bits size too large (%d)";
};

class TBits : public TObject {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  // Raises "Bits index out of range (%d)" for a negative index or one at or
  // beyond Size.
  bool Bits(int index) const;
  // Setting a bit beyond Size grows the array to hold it.
  void SetBits(int index, bool value);
  int Size() const { return static_cast<int>(FBits.size()); }
  // New bits are false. A negative size raises.
  void SetSize(int value);
  // The index of the first false bit; Size when every bit is set.
  int OpenBit() const;

  // Largest size the array takes (a quarter of a gigabyte of flags).
  static constexpr int MaxSize = 1 << 30;

 private:
  std::vector<bool> FBits;
};

}  // namespace rtl
