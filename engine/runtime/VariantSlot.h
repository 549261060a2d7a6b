// The executor's view of a tcVariant slot: every operation on variant values
// goes through these functions, which hold the rtl Variant in the slot.
#pragma once

#include <cstdint>

#include "engine/uPSRuntime.h"

namespace ps {

uint32_t VariantSlotSize();
void VariantSlotInit(uint8_t* slot);
// Clears the slot; errors while clearing are ignored.
void VariantSlotFinalize(uint8_t* slot);
bool VariantSlotCopy(uint8_t* dst, const uint8_t* src);

// Conversions raise the variant's host errors ("Type Mismatch" and the like).
int64_t VariantSlotToInt64(const uint8_t* slot);
// The ordinal getter: a one-character automation or 8-bit string gives its
// character code; other strings fail; everything else converts to an integer.
uint32_t VariantSlotToOrdinal(const uint8_t* slot);
long double VariantSlotToReal(const uint8_t* slot);
int64_t VariantSlotToCurrency(const uint8_t* slot);
rtl::AnsiString VariantSlotToAnsi(const uint8_t* slot);
rtl::UnicodeString VariantSlotToUnicode(const uint8_t* slot);

// The value-to-variant conversion; false when the kind has none.
bool ValueToVariantSlot(uint8_t* dst, const uint8_t* src, const TPSTypeRec* type);
// A variant holding a variant array into a dynamic array; false otherwise.
bool VariantSlotToDynArray(uint8_t* dst, const TPSTypeRec* arrayType, const uint8_t* src);
// A variant holding a dispatch interface: the interface (added reference), or
// false when it holds none.
bool VariantSlotToDispatch(const uint8_t* slot, void*& intf);
void VariantSlotFromDispatch(uint8_t* slot, void* intf);

// dst := dst op src (calculation operators); raises host errors.
void VariantSlotCalc(uint8_t* dst, const uint8_t* src, uint8_t op);
// left relation right for the six ordering relations.
bool VariantSlotCompare(const uint8_t* left, const uint8_t* right, uint8_t op);
bool VariantSlotEquals(const uint8_t* left, const uint8_t* right);
void VariantSlotSetBool(uint8_t* slot, bool value);
void VariantSlotBoolNot(uint8_t* slot);
void VariantSlotNegate(uint8_t* slot);
void VariantSlotBitNot(uint8_t* slot);

}  // namespace ps
