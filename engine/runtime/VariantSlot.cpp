// Variant slots hold an rtl::Variant. Slots inside packed records may be
// unaligned, so the variant is read through an aligned copy of its bytes
// (it is trivially relocatable) and written back the same way.
#include "engine/runtime/VariantSlot.h"

#include <cstring>

#include "engine/runtime/Operations.h"
#include "engine/runtime/Values.h"
#include "rtl/Automation.h"
#include "rtl/VariantOps.h"

namespace ps {

using rtl::Variant;

namespace {

constexpr uint32_t MaxVariantArrayElements = 1u << 24;

// A read-only view of the variant in a slot; owns nothing.
class TBorrowed {
 public:
  explicit TBorrowed(const uint8_t* slot) { std::memcpy(FBytes, slot, sizeof FBytes); }
  const Variant& V() const { return *reinterpret_cast<const Variant*>(FBytes); }

 private:
  alignas(Variant) unsigned char FBytes[sizeof(Variant)];
};

void ReleaseSlot(uint8_t* slot) {
  alignas(Variant) unsigned char bytes[sizeof(Variant)];
  std::memcpy(bytes, slot, sizeof bytes);
  reinterpret_cast<Variant*>(bytes)->Clear();
  std::memset(slot, 0, sizeof(Variant));
}

// Moves `v` into the slot, releasing what the slot held.
void PutVariant(uint8_t* slot, Variant v) {
  ReleaseSlot(slot);
  std::memcpy(slot, static_cast<const void*>(&v), sizeof(Variant));
  std::memset(static_cast<void*>(&v), 0, sizeof(Variant));  // the slot owns it now
}

rtl::TVarOp CalcOpToVarOp(uint8_t op) {
  switch (op) {
    case CalcAdd: return rtl::TVarOp::Add;
    case CalcSub: return rtl::TVarOp::Subtract;
    case CalcMul: return rtl::TVarOp::Multiply;
    case CalcMod: return rtl::TVarOp::Modulus;
    case CalcShl: return rtl::TVarOp::Shl;
    case CalcShr: return rtl::TVarOp::Shr;
    case CalcAnd: return rtl::TVarOp::And;
    case CalcOr: return rtl::TVarOp::Or;
    default: return rtl::TVarOp::Xor;
  }
}

// The value-to-variant conversion of one value; false when the kind has none.
bool ToVariant(const uint8_t* src, const TPSTypeRec* t, Variant& out) {
  if (!t) {
    out = Variant();
    return true;
  }
  if (t->FBaseType == btPointer) {
    auto pv = Load<TPSPointerValue>(src);
    if (!pv.Target || !pv.Type) {
      out = Variant();
      return true;
    }
    src = static_cast<const uint8_t*>(pv.Target);
    t = pv.Type;
  }
  switch (t->FBaseType) {
    case btU8: out = t->FExportName == "BOOLEAN" ? Variant(*src != 0) : Variant::FromByte(*src); return true;
    case btS8: out = Variant::FromShortInt(static_cast<int8_t>(*src)); return true;
    case btU16: out = Variant::FromWord(Load<uint16_t>(src)); return true;
    case btS16: out = Variant::FromSmallInt(Load<int16_t>(src)); return true;
    case btU32: out = Variant::FromLongWord(Load<uint32_t>(src)); return true;
    case btS32: out = Variant(Load<int32_t>(src)); return true;
    case btS64: out = Variant(Load<int64_t>(src)); return true;
    case btSingle: out = Variant(static_cast<double>(Load<float>(src))); return true;
    case btExtended: out = Variant(static_cast<double>(LoadExtended(src))); return true;
    case btDouble:
      out = t->FExportName == "TDATETIME" ? Variant::FromDate(Load<double>(src)) : Variant(Load<double>(src));
      return true;
    case btCurrency: out = Variant::FromCurrency(Load<int64_t>(src)); return true;
    case btString:
    case btPChar: out = Variant::FromString(PSAnsiView(src)); return true;
    case btChar: out = Variant::FromString(std::string_view(reinterpret_cast<const char*>(src), 1)); return true;
    case btWideString: out = Variant::FromOleStr(PSUnicodeView(src)); return true;
    case btWideChar: {
      char16_t c = Load<char16_t>(src);
      out = Variant::FromOleStr(std::u16string_view(&c, 1));
      return true;
    }
    case btUnicodeString: out = Variant::FromUString(PSUnicodeView(src)); return true;
    case btVariant: out = TBorrowed(src).V(); return true;
    case btArray:
    case btStaticArray: {
      const TPSTypeRec* elem;
      uint32_t count;
      const uint8_t* data;
      if (t->FBaseType == btArray) {
        elem = static_cast<const TPSTypeRec_Array*>(t)->FArrayType;
        TPSBlockHeader* h = LoadBlock(src);
        count = h ? h->Length : 0;
        data = h ? BlockData(h) : nullptr;
      } else {
        auto* sa = static_cast<const TPSTypeRec_StaticArray*>(t);
        elem = sa->FArrayType;
        count = sa->FSize;
        data = src;
      }
      // Sixteen bytes per element: a huge static array would exhaust memory.
      if (count > MaxVariantArrayElements) throw rtl::Exception(u"Out of memory");
      Variant arr = Variant::CreateArray(0, static_cast<int32_t>(count) - 1);
      for (uint32_t i = 0; i < count; ++i) {
        Variant item;
        if (!ToVariant(data + uint64_t(i) * elem->FRealSize, elem, item)) return false;
        arr.ArrayElement({static_cast<int32_t>(i)}) = std::move(item);
      }
      out = std::move(arr);
      return true;
    }
    default: return false;
  }
}

}  // namespace

// --- Interfaces ---------------------------------------------------------------------------------
void InterfaceAddRef(void* intf) {
  if (intf) static_cast<rtl::IUnknown*>(intf)->AddRef();
}
void InterfaceRelease(void* intf) {
  if (intf) static_cast<rtl::IUnknown*>(intf)->Release();
}

uint32_t VariantSlotSize() { return sizeof(Variant); }
void VariantSlotInit(uint8_t* slot) { std::memset(slot, 0, sizeof(Variant)); }
void VariantSlotFinalize(uint8_t* slot) { ReleaseSlot(slot); }

bool VariantSlotCopy(uint8_t* dst, const uint8_t* src) {
  if (dst == src) return true;
  PutVariant(dst, TBorrowed(src).V());
  return true;
}

int64_t VariantSlotToInt64(const uint8_t* slot) { return TBorrowed(slot).V().AsInt64(); }

uint32_t VariantSlotToOrdinal(const uint8_t* slot) {
  TBorrowed b(slot);
  const Variant& v = b.V().Deref();
  if (v.VType() == rtl::varOleStr) {
    if (v.VWideText().size() != 1) RaiseTypeMismatch();
    return v.VWideText()[0];
  }
  if (v.VType() == rtl::varString) {
    if (v.VAnsiText().size() != 1) RaiseTypeMismatch();
    return static_cast<uint8_t>(v.VAnsiText()[0]);
  }
  return static_cast<uint32_t>(v.AsInt64());
}

long double VariantSlotToReal(const uint8_t* slot) { return TBorrowed(slot).V().AsDouble(); }
int64_t VariantSlotToCurrency(const uint8_t* slot) { return TBorrowed(slot).V().AsCurrency(); }
rtl::AnsiString VariantSlotToAnsi(const uint8_t* slot) { return TBorrowed(slot).V().AsAnsiString(); }
rtl::UnicodeString VariantSlotToUnicode(const uint8_t* slot) { return TBorrowed(slot).V().AsUnicodeString(); }

bool ValueToVariantSlot(uint8_t* dst, const uint8_t* src, const TPSTypeRec* type) {
  Variant v;
  if (!ToVariant(src, type, v)) return false;
  PutVariant(dst, std::move(v));
  return true;
}

bool VariantSlotToDynArray(uint8_t* dst, const TPSTypeRec* arrayType, const uint8_t* src) {
  TBorrowed b(src);
  const Variant& v = b.V().Deref();
  if (!v.IsArray() || v.ArrayDimCount() != 1) return false;
  const TPSTypeRec* elem = static_cast<const TPSTypeRec_Array*>(arrayType)->FArrayType;
  int32_t low = v.ArrayLowBound(), high = v.ArrayHighBound();
  auto count = static_cast<uint32_t>(std::max(0, high - low + 1));
  PSDynArraySetLength(dst, arrayType, count);
  for (uint32_t i = 0; i < count; ++i) {
    const Variant& item = v.ArrayGet({low + static_cast<int32_t>(i)});
    uint8_t* target = PSDynArrayElement(dst, arrayType, i);
    alignas(Variant) uint8_t bytes[sizeof(Variant)];
    std::memcpy(bytes, static_cast<const void*>(&item), sizeof bytes);
    if (AssignValue(target, elem, bytes, PlainType(btVariant)) != ErNoError) return false;
  }
  return true;
}

bool VariantSlotToDispatch(const uint8_t* slot, void*& intf) {
  TBorrowed b(slot);
  const Variant& v = b.V().Deref();
  if (v.VType() != rtl::varDispatch && v.VType() != rtl::varUnknown && !v.IsEmpty()) return false;
  rtl::IDispatch* d = v.AsDispatch();
  intf = d ? static_cast<rtl::IUnknown*>(d) : nullptr;
  return true;
}

void VariantSlotFromDispatch(uint8_t* slot, void* intf) {
  auto* unknown = static_cast<rtl::IUnknown*>(intf);
  auto* dispatch = dynamic_cast<rtl::IDispatch*>(unknown);
  PutVariant(slot, dispatch || !unknown ? Variant::FromDispatch(dispatch) : Variant::FromUnknown(unknown));
}

void VariantSlotCalc(uint8_t* dst, const uint8_t* src, uint8_t op) {
  TBorrowed l(dst), r(src);
  Variant result = op == CalcDiv ? rtl::VarDivide(l.V(), r.V()) : rtl::VarBinaryOp(l.V(), r.V(), CalcOpToVarOp(op));
  PutVariant(dst, std::move(result));
}

bool VariantSlotCompare(const uint8_t* left, const uint8_t* right, uint8_t op) {
  int c = rtl::VarCompareValue(TBorrowed(left).V(), TBorrowed(right).V());
  switch (op) {
    case CmpGreaterEqual: return c >= 0;
    case CmpLessEqual: return c <= 0;
    case CmpGreater: return c > 0;
    case CmpLess: return c < 0;
    case CmpNotEqual: return c != 0;
    default: return c == 0;
  }
}

bool VariantSlotEquals(const uint8_t* left, const uint8_t* right) {
  return rtl::VarSameValue(TBorrowed(left).V(), TBorrowed(right).V());
}

void VariantSlotSetBool(uint8_t* slot, bool value) { PutVariant(slot, Variant(value)); }

void VariantSlotBoolNot(uint8_t* slot) {
  bool zero = rtl::VarSameValue(TBorrowed(slot).V(), Variant(0));
  PutVariant(slot, Variant(zero));
}

void VariantSlotNegate(uint8_t* slot) { PutVariant(slot, rtl::VarNegate(TBorrowed(slot).V())); }
void VariantSlotBitNot(uint8_t* slot) { PutVariant(slot, rtl::VarNot(TBorrowed(slot).V())); }

}  // namespace ps
