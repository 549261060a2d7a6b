// Variant slots. Until the shared Variant type is available a variant slot
// can only be empty: every conversion into or out of it is refused.
#include "engine/runtime/VariantSlot.h"

#include <cstring>

#include "engine/runtime/Values.h"

namespace ps {

uint32_t VariantSlotSize() { return 16; }
void VariantSlotInit(uint8_t* slot) { std::memset(slot, 0, VariantSlotSize()); }
void VariantSlotFinalize(uint8_t* slot) { std::memset(slot, 0, VariantSlotSize()); }
bool VariantSlotCopy(uint8_t* dst, const uint8_t* src) {
  std::memmove(dst, src, VariantSlotSize());
  return true;
}
int64_t VariantSlotToInt64(const uint8_t*) { RaiseTypeMismatch(); }
uint32_t VariantSlotToOrdinal(const uint8_t*) { RaiseTypeMismatch(); }
long double VariantSlotToReal(const uint8_t*) { RaiseTypeMismatch(); }
int64_t VariantSlotToCurrency(const uint8_t*) { RaiseTypeMismatch(); }
rtl::AnsiString VariantSlotToAnsi(const uint8_t*) { RaiseTypeMismatch(); }
rtl::UnicodeString VariantSlotToUnicode(const uint8_t*) { RaiseTypeMismatch(); }
bool ValueToVariantSlot(uint8_t*, const uint8_t*, const TPSTypeRec*) { return false; }
bool VariantSlotToDynArray(uint8_t*, const TPSTypeRec*, const uint8_t*) { return false; }
bool VariantSlotToDispatch(const uint8_t*, void*&) { return false; }
void VariantSlotFromDispatch(uint8_t*, void*) { RaiseTypeMismatch(); }
void VariantSlotCalc(uint8_t*, const uint8_t*, uint8_t) { RaiseTypeMismatch(); }
bool VariantSlotCompare(const uint8_t*, const uint8_t*, uint8_t) { RaiseTypeMismatch(); }
bool VariantSlotEquals(const uint8_t*, const uint8_t*) { RaiseTypeMismatch(); }
void VariantSlotSetBool(uint8_t*, bool) { RaiseTypeMismatch(); }
void VariantSlotBoolNot(uint8_t*) { RaiseTypeMismatch(); }
void VariantSlotNegate(uint8_t*) { RaiseTypeMismatch(); }
void VariantSlotBitNot(uint8_t*) { RaiseTypeMismatch(); }

}  // namespace ps
