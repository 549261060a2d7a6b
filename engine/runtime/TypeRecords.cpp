// Runtime type records: value sizes, record field offsets, attributes.
#include <algorithm>

#include "engine/runtime/Values.h"
#include "engine/runtime/VariantSlot.h"

namespace ps {

uint32_t BaseTypeSize(TPSBaseType baseType) {
  switch (baseType) {
    case btReturnAddress: return sizeof(TPSReturnAddress);
    case btU8:
    case btS8:
    case btChar: return 1;
    case btU16:
    case btS16:
    case btWideChar: return 2;
    case btU32:
    case btS32:
    case btSingle: return 4;
    case btDouble:
    case btS64:
    case btCurrency: return 8;
    case btExtended: return ExtendedSize;
    case btString:
    case btArray:
    case btPChar:
    case btWideString:
    case btClass:
    case btInterface:
    case btUnicodeString: return sizeof(void*);
    case btPointer: return sizeof(TPSPointerValue);
    case btProcPtr: return sizeof(TPSProcPtrValue);
    case btVariant: return VariantSlotSize();
    default: return 0;
  }
}

bool IsManagedBaseType(TPSBaseType baseType) {
  switch (baseType) {
    // A PChar keeps the text it points at alive by holding a reference to its
    // string block, so it never dangles after the string it came from changes.
    case btString:
    case btPChar:
    case btRecord:
    case btArray:
    case btPointer:
    case btVariant:
    case btWideString:
    case btStaticArray:
    case btInterface:
    case btUnicodeString: return true;
    default: return false;
  }
}

namespace {
// Sizes are worked out in 64 bits and saturate: no value of a type larger
// than any stack bound can ever be created, so the exact figure is moot.
uint32_t Saturate(uint64_t size) { return size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(size); }
}  // namespace

void TPSTypeRec::CalcSize() {
  FRealSize = BaseTypeSize(FBaseType);
  FManaged = IsManagedBaseType(FBaseType);
}

void TPSTypeRec::SetExportName(std::string name) {
  FExportName = std::move(name);
  FExportNameHash = MakeHash(FExportName);
}

void TPSTypeRec_Record::CalcSize() {
  uint64_t offset = 0;
  FManaged = false;
  FRealFieldOffsets.clear();
  for (TPSTypeRec* field : FFieldTypes) {
    FRealFieldOffsets.push_back(Saturate(offset));
    offset += field->FRealSize;
    FManaged = FManaged || field->FManaged;
  }
  FRealSize = Saturate(offset);
}

void TPSTypeRec_StaticArray::CalcSize() {
  FRealSize = FArrayType ? Saturate(uint64_t(FArrayType->FRealSize) * FSize) : 0;
  FManaged = FArrayType && FSize > 0 && FArrayType->FManaged;
}

// --- Attributes -------------------------------------------------------------------------

TPSRuntimeAttribute::TPSRuntimeAttribute(void* owner) : FOwner(owner), FValues(std::make_unique<TPSStack>()) {}
TPSRuntimeAttribute::~TPSRuntimeAttribute() = default;

uint8_t* TPSRuntimeAttribute::AddValue(TPSTypeRec* type) { return FValues->PushType(type); }

void TPSRuntimeAttribute::DeleteValue(int index) {
  if (index != FValues->Count() - 1) throw rtl::Exception(rtl::UnicodeString(SCanOnlyRemoveLastItem));
  FValues->Pop();
}

int TPSRuntimeAttribute::ValueCount() const { return FValues->Count(); }

TPSRuntimeAttribute* TPSRuntimeAttributes::Add() {
  FItems.push_back(std::make_unique<TPSRuntimeAttribute>(FOwner));
  return FItems.back().get();
}

void TPSRuntimeAttributes::Delete(int index) {
  if (index < 0 || index >= Count()) throw rtl::EListError::IndexError(index);
  FItems.erase(FItems.begin() + index);
}

TPSRuntimeAttribute* TPSRuntimeAttributes::FindAttribute(std::string_view name) {
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (auto& a : FItems)
    if (a->FAttribTypeHash == hash && FastUpperCase(a->FAttribType) == upper) return a.get();
  return nullptr;
}

}  // namespace ps
