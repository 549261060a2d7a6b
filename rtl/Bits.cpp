#include "rtl/Bits.h"

#include <algorithm>

namespace rtl {

TClass TBits::StaticClass() {
  static const TMetaClass meta(u"TBits", TObject::StaticClass(), &CreateInstance<TBits>,
                               {ReadWriteProperty(u"Size", u"Integer", &TBits::Size, &TBits::SetSize)});
  return &meta;
}

bool TBits::Bits(int index) const {
  if (index < 0 || index >= Size()) throw EBitsError(FormatText(EBitsError::SBitsIndexError, {IntToStr(index)}));
  return FBits[static_cast<size_t>(index)];
}

void TBits::SetBits(int index, bool value) {
  if (index < 0 || index >= MaxSize) throw EBitsError(FormatText(EBitsError::SBitsIndexError, {IntToStr(index)}));
  if (index >= Size()) SetSize(index + 1);
  FBits[static_cast<size_t>(index)] = value;
}

void TBits::SetSize(int value) {
  if (value < 0) throw EBitsError(FormatText(EBitsError::SBitsIndexError, {IntToStr(value)}));
  if (value > MaxSize) throw EBitsError(FormatText(EBitsError::SBitsSizeError, {IntToStr(value)}));
  FBits.resize(static_cast<size_t>(value), false);
}

int TBits::OpenBit() const { return static_cast<int>(std::find(FBits.begin(), FBits.end(), false) - FBits.begin()); }

}  // namespace rtl
