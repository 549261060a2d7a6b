// Assignment, calculation, comparison and unary operations by the rules of
// the runtime value tables. Integer arithmetic wraps (written on unsigned
// values, since signed overflow is undefined in C++); real arithmetic raises
// the floating-point errors instead of producing infinities or NaNs.
#include "engine/runtime/Operations.h"
#include "engine/runtime/ObjectHandles.h"

#include <cmath>
#include <limits>

#include "engine/runtime/Values.h"
#include "engine/runtime/VariantSlot.h"

namespace ps {

namespace {

// --- Reals ------------------------------------------------------------------------------------

// Stores at the destination's precision; a finite value too large for it overflows.
void StoreReal(uint8_t* dst, TPSBaseType bt, long double v) {
  switch (bt) {
    case btSingle: {
      float f = static_cast<float>(v);
      if (std::isinf(f) && !std::isinf(v)) throw rtl::EOverflow();
      Store(dst, f);
      break;
    }
    case btDouble: {
      double d = static_cast<double>(v);
      if (std::isinf(d) && !std::isinf(v)) throw rtl::EOverflow();
      Store(dst, d);
      break;
    }
    default: StoreExtended(dst, v); break;
  }
}

long double LoadReal(const uint8_t* p, TPSBaseType bt) {
  switch (bt) {
    case btSingle: return Load<float>(p);
    case btDouble: return Load<double>(p);
    default: return LoadExtended(p);
  }
}

long double CheckedRealOp(long double a, long double b, uint8_t op) {
  long double r;
  switch (op) {
    case CalcAdd: r = a + b; break;
    case CalcSub: r = a - b; break;
    case CalcMul: r = a * b; break;
    default:  // CalcDiv
      if (b == 0) {
        if (a == 0 || std::isnan(a)) throw rtl::EInvalidOp();
        throw rtl::EZeroDivide();
      }
      r = a / b;
      break;
  }
  if (std::isnan(r) && !std::isnan(a) && !std::isnan(b)) throw rtl::EInvalidOp();
  if (std::isinf(r) && std::isfinite(a) && std::isfinite(b)) throw rtl::EOverflow();
  return r;
}

int64_t RoundCurrency(long double v) {
  if (std::isnan(v)) throw rtl::EInvalidOp();
  long double r = std::nearbyintl(v);
  if (r >= 9223372036854775808.0L || r < -9223372036854775808.0L) throw rtl::EOverflow();
  return static_cast<int64_t>(r);
}

// --- Integers ---------------------------------------------------------------------------------

uint32_t IntOp32(uint32_t a, uint32_t b, uint8_t op, bool isSigned) {
  switch (op) {
    case CalcAdd: return a + b;
    case CalcSub: return a - b;
    case CalcMul: return a * b;
    case CalcDiv:
    case CalcMod:
      if (b == 0) throw rtl::EDivByZero();
      if (!isSigned) return op == CalcDiv ? a / b : a % b;
      {
        auto sa = static_cast<int32_t>(a), sb = static_cast<int32_t>(b);
        // The lowest value divided by -1 wraps to itself (remainder 0).
        if (sb == -1) return op == CalcDiv ? 0u - a : 0u;
        return static_cast<uint32_t>(op == CalcDiv ? sa / sb : sa % sb);
      }
    case CalcShl: return a << (b & 31);
    case CalcShr: return a >> (b & 31);
    case CalcAnd: return a & b;
    case CalcOr: return a | b;
    default: return a ^ b;  // CalcXor
  }
}

uint64_t IntOp64(uint64_t a, uint64_t b, uint8_t op) {
  switch (op) {
    case CalcAdd: return a + b;
    case CalcSub: return a - b;
    case CalcMul: return a * b;
    case CalcDiv:
    case CalcMod: {
      if (b == 0) throw rtl::EDivByZero();
      auto sa = static_cast<int64_t>(a), sb = static_cast<int64_t>(b);
      if (sb == -1) return op == CalcDiv ? 0u - a : 0u;
      return static_cast<uint64_t>(op == CalcDiv ? sa / sb : sa % sb);
    }
    case CalcShl: return a << (b & 63);
    case CalcShr: return a >> (b & 63);
    case CalcAnd: return a & b;
    case CalcOr: return a | b;
    default: return a ^ b;
  }
}

bool IsSignedSmall(TPSBaseType bt) { return bt == btS8 || bt == btS16 || bt == btS32; }

// Reads an 8- to 32-bit ordinal slot widened to 32 bits (sign-extending signed kinds).
uint32_t LoadOrdinal32(const uint8_t* p, TPSBaseType bt) {
  switch (bt) {
    case btU8:
    case btChar: return *p;
    case btS8: return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*p)));
    case btU16:
    case btWideChar: return Load<uint16_t>(p);
    case btS16: return static_cast<uint32_t>(static_cast<int32_t>(Load<int16_t>(p)));
    default: return Load<uint32_t>(p);
  }
}

void StoreOrdinal32(uint8_t* p, TPSBaseType bt, uint32_t v) {
  switch (bt) {
    case btU8:
    case btS8:
    case btChar: *p = static_cast<uint8_t>(v); break;
    case btU16:
    case btS16:
    case btWideChar: Store(p, static_cast<uint16_t>(v)); break;
    default: Store(p, v); break;
  }
}

// A variant holding the value of any convertible kind; cleared on destruction.
struct TTempVariant {
  alignas(16) uint8_t Slot[64];
  TTempVariant() { VariantSlotInit(Slot); }
  ~TTempVariant() { VariantSlotFinalize(Slot); }
  bool From(const uint8_t* src, const TPSTypeRec* st) { return ValueToVariantSlot(Slot, src, st); }
};

bool IsClassType(TPSExec& exec, uint32_t typeNo, const TPSTypeRec_Class*& cls) {
  TPSTypeRec* t = exec.GetTypeNo(static_cast<int>(typeNo));
  if (!t || t->FBaseType != btClass) return false;
  cls = static_cast<const TPSTypeRec_Class*>(t);
  return true;
}

}  // namespace

// --- Assignment ---------------------------------------------------------------------------------

bool AssignCharacterText(uint8_t* dst, TPSBaseType db, const uint8_t* src, TPSBaseType sb) {
  TPSBlockHeader* h = nullptr;
  if (db == btString && sb == btChar)
    h = CharStringBlock(*src);
  else if (db == btUnicodeString && (sb == btChar || sb == btWideChar))
    h = WideCharStringBlock(sb == btChar ? *src : Load<char16_t>(src));
  if (!h) return false;
  ReleaseStringBlock(LoadBlock(dst));
  Store(dst, h);
  return true;
}

bool AppendWideText(uint8_t* dst, const uint8_t* src, TPSBaseType sb) {
  if (sb == btUnicodeString || sb == btWideString) {
    PSUnicodeAppend(dst, PSUnicodeView(src));
  } else if (sb == btChar || sb == btWideChar) {
    const char16_t ch = sb == btChar ? *src : Load<char16_t>(src);  // a Char reads as the code of its byte
    PSUnicodeAppend(dst, std::u16string_view(&ch, 1));
  } else {
    return false;
  }
  return true;
}

TPSError AssignValue(uint8_t* dst, const TPSTypeRec* dt, const uint8_t* src, const TPSTypeRec* st, TPSExec* exec) {
  const TPSBaseType db = dt->FBaseType;
  // A pointer to a pointer is read through, as the getters do.
  if (st->FBaseType == btPointer && db != btPointer) Deref(src, st);
  const TPSBaseType sb = st->FBaseType;
  switch (db) {
    case btU8:
    case btU16:
    case btChar:
    case btWideChar: StoreOrdinal32(dst, db, PSGetUInt(src, st)); return ErNoError;
    case btS8:
    case btS16: StoreOrdinal32(dst, db, static_cast<uint32_t>(PSGetInt(src, st))); return ErNoError;
    case btU32:
    case btS32:
      switch (sb) {
        case btU8:
        case btS8:
        case btU16:
        case btS16:
        case btU32:
        case btS32:
        case btChar:
        case btWideChar: Store(dst, LoadOrdinal32(src, sb)); return ErNoError;
        case btS64: Store(dst, static_cast<uint32_t>(Load<uint64_t>(src))); return ErNoError;
        case btVariant: Store(dst, static_cast<uint32_t>(VariantSlotToInt64(src))); return ErNoError;
        case btClass:
          if (db != btS32) return ErTypeMismatch;
          Store(dst, ObjectToHandle(Load<void*>(src)));
          return ErNoError;
        default: return ErTypeMismatch;
      }
    case btSingle:
    case btDouble:
    case btExtended:
      switch (sb) {
        case btU8:
        case btS8:
        case btU16:
        case btS16:
        case btU32:
        case btS32:
        case btS64:
        case btChar:
        case btWideChar:
        case btSingle:
        case btDouble:
        case btExtended:
        case btCurrency:
        case btVariant: StoreReal(dst, db, PSGetReal(src, st)); return ErNoError;
        default: return ErTypeMismatch;
      }
    case btS64: Store(dst, PSGetInt64(src, st)); return ErNoError;
    case btCurrency: Store(dst, PSGetCurrency(src, st)); return ErNoError;
    case btString:
      if (sb == btString || sb == btPChar) return CopyValues(dst, src, st) ? ErNoError : ErTypeMismatch;
      if (AssignCharacterText(dst, db, src, sb)) return ErNoError;
      PSAnsiAssign(dst, PSGetAnsiString(src, st));
      return ErNoError;
    case btPChar:
      if (sb == btString || sb == btPChar) return CopyValues(dst, src, st) ? ErNoError : ErTypeMismatch;
      PSAnsiAssign(dst, PSGetAnsiString(src, st));
      return ErNoError;
    case btUnicodeString:
      if (sb == btUnicodeString) return CopyValues(dst, src, st) ? ErNoError : ErTypeMismatch;
      if (AssignCharacterText(dst, db, src, sb)) return ErNoError;
      PSUnicodeAssign(dst, PSGetUnicodeString(src, st));
      return ErNoError;
    case btWideString:
      if (sb == btWideString || sb == btUnicodeString) {
        if (dst != src) PSUnicodeAssign(dst, PSUnicodeView(src));
        return ErNoError;
      }
      PSUnicodeAssign(dst, PSGetUnicodeString(src, st));
      return ErNoError;
    case btRecord:
    case btStaticArray:
    case btSet:
      if (st != dt) return ErTypeMismatch;
      return CopyValues(dst, src, dt) ? ErNoError : ErTypeMismatch;
    case btArray: {
      auto* elem = static_cast<const TPSTypeRec_Array*>(dt)->FArrayType;
      if (st == dt || (sb == btArray && static_cast<const TPSTypeRec_Array*>(st)->FArrayType == elem))
        return CopyValues(dst, src, dt) ? ErNoError : ErTypeMismatch;
      if (sb == btStaticArray) {
        auto* sa = static_cast<const TPSTypeRec_StaticArray*>(st);
        if (sa->FArrayType != elem) return ErTypeMismatch;
        PSDynArraySetLength(dst, dt, sa->FSize);
        if (sa->FSize == 0) return ErNoError;
        return CopyValues(PSDynArrayElement(dst, dt, 0), src, elem, sa->FSize) ? ErNoError : ErTypeMismatch;
      }
      if (sb == btVariant) return VariantSlotToDynArray(dst, dt, src) ? ErNoError : ErTypeMismatch;
      return ErTypeMismatch;
    }
    case btProcPtr:
      if (sb == btProcPtr) {
        std::memmove(dst, src, sizeof(TPSProcPtrValue));
        return ErNoError;
      }
      if (sb == btU32) {
        Store(dst, Load<uint32_t>(src));  // the procedure number is the first word
        return ErNoError;
      }
      return ErTypeMismatch;
    case btClass:
      if (sb == btClass) {
        Store(dst, Load<void*>(src));
        return ErNoError;
      }
      if (sb == btU32 || sb == btS32) {
        Store(dst, HandleToObject(Load<uint32_t>(src)));
        return ErNoError;
      }
      return ErTypeMismatch;
    case btInterface:
      if (sb == btInterface) return CopyValues(dst, src, dt) ? ErNoError : ErTypeMismatch;
      if (sb == btClass) {
        void* intf = exec ? exec->QueryInterface(Load<void*>(src), static_cast<const TPSTypeRec_Interface*>(dt))
                          : nullptr;
        if (!intf) return erInterfaceNotSupported;
        InterfaceRelease(Load<void*>(dst));
        Store(dst, intf);
        return ErNoError;
      }
      if (sb == btVariant && dt->FExportName == "IDISPATCH") {
        void* intf = nullptr;
        if (!VariantSlotToDispatch(src, intf)) return ErTypeMismatch;
        InterfaceRelease(Load<void*>(dst));
        Store(dst, intf);
        return ErNoError;
      }
      return ErTypeMismatch;
    case btVariant:
      if (sb == btVariant) return VariantSlotCopy(dst, src) ? ErNoError : ErTypeMismatch;
      if (sb == btInterface) {
        if (st->FExportName != "IDISPATCH") return ErTypeMismatch;
        VariantSlotFromDispatch(dst, Load<void*>(src));
        return ErNoError;
      }
      return ValueToVariantSlot(dst, src, st) ? ErNoError : ErTypeMismatch;
    default: return ErTypeMismatch;
  }
}

// --- Calculation --------------------------------------------------------------------------------

TPSError CalculateValue(TPSExec& exec, uint8_t* dst, const TPSTypeRec* dt, const uint8_t* src, const TPSTypeRec* st,
                        uint8_t op) {
  if (op > CalcClassCheck) return erInvalidOpcodeParameter;
  const TPSBaseType db = dt->FBaseType;
  if (st->FBaseType == btPointer && db != btSet) Deref(src, st);
  switch (db) {
    case btU8:
    case btS8:
    case btU16:
    case btS16: {
      if (op == CalcClassCheck) return ErTypeMismatch;
      bool isSigned = IsSignedSmall(db);
      uint32_t a = LoadOrdinal32(dst, db);
      uint32_t b = isSigned ? static_cast<uint32_t>(PSGetInt(src, st)) : PSGetUInt(src, st);
      StoreOrdinal32(dst, db, IntOp32(a, b, op, isSigned));
      return ErNoError;
    }
    case btU32:
    case btS32: {
      if (op == CalcClassCheck) return ErTypeMismatch;
      bool isSigned = db == btS32;
      if (st->FBaseType == btVariant) {
        TTempVariant v;
        if (!v.From(dst, dt)) return ErTypeMismatch;
        VariantSlotCalc(v.Slot, src, op);
        Store(dst, static_cast<uint32_t>(VariantSlotToInt64(v.Slot)));
        return ErNoError;
      }
      uint32_t b = isSigned ? static_cast<uint32_t>(PSGetInt(src, st)) : PSGetUInt(src, st);
      Store(dst, IntOp32(Load<uint32_t>(dst), b, op, isSigned));
      return ErNoError;
    }
    case btS64:
      if (op == CalcClassCheck) return ErTypeMismatch;
      Store(dst, IntOp64(Load<uint64_t>(dst), static_cast<uint64_t>(PSGetInt64(src, st)), op));
      return ErNoError;
    case btChar:
    case btWideChar:
      if (op != CalcAdd && op != CalcSub) return ErTypeMismatch;
      StoreOrdinal32(dst, db, IntOp32(LoadOrdinal32(dst, db), PSGetUInt(src, st), op, false));
      return ErNoError;
    case btSingle:
    case btDouble:
    case btExtended:
      if (op > CalcDiv) return ErTypeMismatch;
      StoreReal(dst, db, CheckedRealOp(LoadReal(dst, db), PSGetReal(src, st), op));
      return ErNoError;
    case btCurrency: {
      if (op > CalcDiv) return ErTypeMismatch;
      int64_t a = Load<int64_t>(dst);
      if (op == CalcAdd || op == CalcSub) {
        int64_t b = PSGetCurrency(src, st), r;
        bool overflow = op == CalcAdd ? __builtin_add_overflow(a, b, &r) : __builtin_sub_overflow(a, b, &r);
        if (overflow) throw rtl::EOverflow();
        Store(dst, r);
        return ErNoError;
      }
      long double b = PSGetReal(src, st);
      Store(dst, RoundCurrency(CheckedRealOp(static_cast<long double>(a), b, op)));
      return ErNoError;
    }
    case btString:
      if (op != CalcAdd) return ErTypeMismatch;
      // A text of the same width is appended where it lies (the append
      // copies it first when it is the destination's own).
      if (st->FBaseType == btString || st->FBaseType == btPChar)
        PSAnsiAppend(dst, PSAnsiView(src));
      else
        PSAnsiAppend(dst, PSGetAnsiString(src, st));
      return ErNoError;
    case btWideString:
    case btUnicodeString:
      if (op != CalcAdd) return ErTypeMismatch;
      if (!AppendWideText(dst, src, st->FBaseType)) PSUnicodeAppend(dst, PSGetUnicodeString(src, st));
      return ErNoError;
    case btSet: {
      if (st != dt || op > CalcMul) return ErTypeMismatch;
      uint32_t n = static_cast<const TPSTypeRec_Set*>(dt)->FByteSize;
      for (uint32_t i = 0; i < n; ++i) {
        uint8_t a = dst[i], b = src[i];
        dst[i] = op == CalcAdd ? (a | b) : op == CalcSub ? (a & ~b) : (a & b);
      }
      return ErNoError;
    }
    case btVariant: {
      if (op == CalcClassCheck) return ErTypeMismatch;
      if (st->FBaseType == btVariant) {
        VariantSlotCalc(dst, src, op);
        return ErNoError;
      }
      TTempVariant v;
      if (!v.From(src, st)) return ErTypeMismatch;
      VariantSlotCalc(dst, v.Slot, op);
      return ErNoError;
    }
    case btClass: {
      if (op != CalcClassCheck || st->FBaseType != btU32) return ErTypeMismatch;
      const TPSTypeRec_Class* cls;
      if (!IsClassType(exec, Load<uint32_t>(src), cls)) return ErTypeMismatch;
      void* obj = Load<void*>(dst);
      return obj && exec.IsInstanceOf(obj, cls) ? ErNoError : ErTypeMismatch;
    }
    default: return ErTypeMismatch;
  }
}

// --- Comparison ---------------------------------------------------------------------------------

TPSError StoreBoolean(uint8_t* dst, const TPSTypeRec* dt, bool value) {
  switch (dt->FBaseType) {
    case btU8:
    case btS8:
    case btU16:
    case btS16:
    case btU32:
    case btS32: StoreOrdinal32(dst, dt->FBaseType, value ? 1 : 0); return ErNoError;
    case btVariant: VariantSlotSetBool(dst, value); return ErNoError;
    default: return ErTypeMismatch;
  }
}

TPSError CompareValues(TPSExec& exec, const uint8_t* left, const TPSTypeRec* lt, const uint8_t* right,
                       const TPSTypeRec* rt, uint8_t op, bool& result) {
  if (op > CmpIs) return erInvalidOpcodeParameter;
  if (lt->FBaseType == btPointer) Deref(left, lt);
  if (rt->FBaseType == btPointer) Deref(right, rt);
  const TPSBaseType lb = lt->FBaseType, rb = rt->FBaseType;

  if (op == CmpIn) {
    if (rb == btSet) {
      uint32_t n = PSGetUInt(left, lt);
      if (n >= static_cast<const TPSTypeRec_Set*>(rt)->FBitSize) return erOutofRecordRange;
      result = (right[n >> 3] >> (n & 7)) & 1;
      return ErNoError;
    }
    if (rb == btArray && static_cast<const TPSTypeRec_Array*>(rt)->FArrayType->FBaseType == btVariant) {
      TTempVariant v;
      if (lb == btVariant ? !VariantSlotCopy(v.Slot, left) : !v.From(left, lt)) return ErTypeMismatch;
      uint32_t len = PSDynArrayGetLength(right, rt);
      result = false;
      for (uint32_t i = 0; i < len && !result; ++i) result = VariantSlotEquals(v.Slot, PSDynArrayElement(right, rt, i));
      return ErNoError;
    }
    return ErTypeMismatch;
  }
  if (op == CmpIs) {
    if (lb != btClass || rb != btU32) return ErTypeMismatch;
    const TPSTypeRec_Class* cls;
    if (!IsClassType(exec, Load<uint32_t>(right), cls)) return ErTypeMismatch;
    void* obj = Load<void*>(left);
    result = obj && exec.IsInstanceOf(obj, cls);
    return ErNoError;
  }

  switch (lb) {
    case btU8:
    case btS8:
    case btU16:
    case btS16:
    case btU32:
    case btS32:
      if (lb == btU8 && (rb == btString || rb == btPChar)) {
        std::string l(1, static_cast<char>(*left));
        result = Relate<std::string_view>(l, PSAnsiView(right), op);
        return ErNoError;
      }
      if (lb != rb && (IsIntKind(rb) || rb == btS64)) {
        // Integers of different kinds compare by value, whatever their widths.
        uint32_t bits = LoadOrdinal32(left, lb);
        int64_t l = IsSignedSmall(lb) ? int64_t{static_cast<int32_t>(bits)} : int64_t{bits};
        result = Relate(l, PSGetInt64(right, rt), op);
      } else if (IsSignedSmall(lb))
        result = Relate(static_cast<int32_t>(LoadOrdinal32(left, lb)), PSGetInt(right, rt), op);
      else
        result = Relate(LoadOrdinal32(left, lb), PSGetUInt(right, rt), op);
      return ErNoError;
    case btS64: result = Relate(Load<int64_t>(left), PSGetInt64(right, rt), op); return ErNoError;
    case btChar: {
      std::string l(1, static_cast<char>(*left));
      result = Relate<std::string_view>(l, PSGetAnsiString(right, rt), op);
      return ErNoError;
    }
    case btWideChar: {
      std::u16string l(1, Load<char16_t>(left));
      result = Relate<std::u16string_view>(l, PSGetUnicodeString(right, rt), op);
      return ErNoError;
    }
    case btSingle:
    case btDouble:
    case btExtended: result = Relate(LoadReal(left, lb), PSGetReal(right, rt), op); return ErNoError;
    case btCurrency: result = Relate(Load<int64_t>(left), PSGetCurrency(right, rt), op); return ErNoError;
    case btString:
    case btPChar: {
      // Byte order of UTF-8 is code point order.
      std::string_view l = PSAnsiView(left);
      if (rb == btString || rb == btPChar) {
        result = Relate(l, PSAnsiView(right), op);
      } else {
        rtl::AnsiString r = PSGetAnsiString(right, rt);
        result = Relate<std::string_view>(l, r, op);
      }
      return ErNoError;
    }
    case btWideString:
    case btUnicodeString: {
      std::u16string_view l = PSUnicodeView(left);
      if (rb == btWideString || rb == btUnicodeString) {
        result = Relate(l, PSUnicodeView(right), op);
      } else {
        rtl::UnicodeString r = PSGetUnicodeString(right, rt);
        result = Relate<std::u16string_view>(l, r, op);
      }
      return ErNoError;
    }
    case btVariant: {
      if (rb == btVariant) {
        result = VariantSlotCompare(left, right, op);
        return ErNoError;
      }
      TTempVariant v;
      if (!v.From(right, rt)) return ErTypeMismatch;
      result = VariantSlotCompare(left, v.Slot, op);
      return ErNoError;
    }
    case btSet: {
      if (lt != rt) return ErTypeMismatch;
      uint32_t n = static_cast<const TPSTypeRec_Set*>(lt)->FByteSize;
      switch (op) {
        case CmpEqual: result = std::memcmp(left, right, n) == 0; return ErNoError;
        case CmpNotEqual: result = std::memcmp(left, right, n) != 0; return ErNoError;
        case CmpLessEqual:
        case CmpGreaterEqual: {
          const uint8_t* sub = op == CmpLessEqual ? left : right;
          const uint8_t* super = op == CmpLessEqual ? right : left;
          result = true;
          for (uint32_t i = 0; i < n; ++i)
            if (sub[i] & ~super[i]) result = false;
          return ErNoError;
        }
        default: return ErTypeMismatch;
      }
    }
    case btRecord:
      if (lt != rt || (op != CmpEqual && op != CmpNotEqual)) return ErTypeMismatch;
      result = (std::memcmp(left, right, lt->FRealSize) == 0) == (op == CmpEqual);
      return ErNoError;
    case btProcPtr: {
      if (rb != btProcPtr || (op != CmpEqual && op != CmpNotEqual)) return ErTypeMismatch;
      auto a = Load<TPSProcPtrValue>(left), b = Load<TPSProcPtrValue>(right);
      bool same = a.ProcNo == b.ProcNo && (a.ProcNo != 0 || a.Data == b.Data);
      result = same == (op == CmpEqual);
      return ErNoError;
    }
    case btClass:
    case btInterface:
      if (rb != lb || (op != CmpEqual && op != CmpNotEqual)) return ErTypeMismatch;
      result = (Load<void*>(left) == Load<void*>(right)) == (op == CmpEqual);
      return ErNoError;
    default: return ErTypeMismatch;
  }
}

// --- Unary operations -----------------------------------------------------------------------------

TPSError BoolNotValue(uint8_t* p, const TPSTypeRec* t) {
  switch (t->FBaseType) {
    case btU8:
    case btS8:
    case btU16:
    case btS16:
    case btU32:
    case btS32: StoreOrdinal32(p, t->FBaseType, LoadOrdinal32(p, t->FBaseType) == 0 ? 1 : 0); return ErNoError;
    case btS64: Store<int64_t>(p, Load<int64_t>(p) == 0 ? 1 : 0); return ErNoError;
    case btVariant: VariantSlotBoolNot(p); return ErNoError;
    default: return ErTypeMismatch;
  }
}

TPSError NegateValue(uint8_t* p, const TPSTypeRec* t) {
  switch (t->FBaseType) {
    case btU8:
    case btS8:
    case btU16:
    case btS16:
    case btU32:
    case btS32: StoreOrdinal32(p, t->FBaseType, 0u - LoadOrdinal32(p, t->FBaseType)); return ErNoError;
    case btS64:
    case btCurrency: Store<uint64_t>(p, 0u - Load<uint64_t>(p)); return ErNoError;
    case btSingle: Store(p, -Load<float>(p)); return ErNoError;
    case btDouble: Store(p, -Load<double>(p)); return ErNoError;
    case btExtended: StoreExtended(p, -LoadExtended(p)); return ErNoError;
    case btVariant: VariantSlotNegate(p); return ErNoError;
    default: return ErTypeMismatch;
  }
}

TPSError BitNotValue(uint8_t* p, const TPSTypeRec* t) {
  switch (t->FBaseType) {
    case btU8:
    case btS8:
    case btU16:
    case btS16:
    case btU32:
    case btS32: StoreOrdinal32(p, t->FBaseType, ~LoadOrdinal32(p, t->FBaseType)); return ErNoError;
    case btS64: Store<uint64_t>(p, ~Load<uint64_t>(p)); return ErNoError;
    case btVariant: VariantSlotBitNot(p); return ErNoError;
    default: return ErTypeMismatch;
  }
}

}  // namespace ps
