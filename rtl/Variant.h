// The automation variant: a dynamically typed value (empty, null, integers of
// each width, single and double, currency, date, Boolean, strings, interface
// references, error codes, variant arrays, references to variants).
//
// Layout and lifetime rules the script executor relies on:
// - sizeof(Variant) == 16: a 16-bit type code, six reserved bytes, eight data
//   bytes. All-zero bytes are a valid empty variant (varEmpty).
// - Managed kinds (strings, arrays, interface references) are one pointer to a
//   block carrying an intrusive reference count; nothing points into the
//   variant itself. A variant may therefore be moved with memcpy (the source
//   bytes are then simply forgotten, not destroyed).
// - Copying shares the block and adds a reference; clearing releases it.
//   Blocks are immutable once shared; writing to an array element first
//   unshares the array (copy on write), so copies behave as values.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>

#include "rtl/DateUtils.h"
#include "rtl/Formatting.h"
#include "rtl/SysUtils.h"

namespace rtl {

using TVarType = uint16_t;

// Type codes as scripts know them (TVarType constants).
constexpr TVarType varEmpty = 0;
constexpr TVarType varNull = 1;
constexpr TVarType varSmallInt = 2;  // int16
constexpr TVarType varInteger = 3;   // int32
constexpr TVarType varSingle = 4;
constexpr TVarType varDouble = 5;
constexpr TVarType varCurrency = 6;   // int64 holding value x 10,000
constexpr TVarType varDate = 7;       // double: days since 1899-12-30, fraction = time
constexpr TVarType varOleStr = 8;     // UTF-16 automation string
constexpr TVarType varDispatch = 9;   // IDispatch reference
constexpr TVarType varError = 10;     // 32-bit error code
constexpr TVarType varBoolean = 11;   // 16-bit: -1 true, 0 false
constexpr TVarType varVariant = 12;   // only as element type of arrays and references
constexpr TVarType varUnknown = 13;   // IUnknown reference
constexpr TVarType varShortInt = 16;  // int8
constexpr TVarType varByte = 17;      // uint8
constexpr TVarType varWord = 18;      // uint16
constexpr TVarType varLongWord = 19;  // uint32
constexpr TVarType varInt64 = 20;
constexpr TVarType varStrArg = 72;
constexpr TVarType varString = 256;  // 8-bit string (UTF-8 bytes)
constexpr TVarType varAny = 257;
constexpr TVarType varUString = 258;  // UTF-16 script string
constexpr TVarType varTypeMask = 4095;
constexpr TVarType varArray = 8192;
constexpr TVarType varByRef = 16384;

// Error codes of spreadsheet cell errors as automation carries them
// (the application's CVErr numbers in the low word of 0x800A0000).
constexpr int32_t MakeCellError(int code) { return static_cast<int32_t>(0x800A0000u | static_cast<uint32_t>(code)); }

// --- Intrusively counted blocks ------------------------------------------

// Base of every interface a variant can hold. The count starts at 0; the
// first TRef (or Variant) that takes the object adds the first reference.
class IUnknown {
 public:
  IUnknown() = default;
  IUnknown(const IUnknown&) = delete;
  IUnknown& operator=(const IUnknown&) = delete;

  void AddRef() const noexcept { FRefCount.fetch_add(1, std::memory_order_relaxed); }
  void Release() const noexcept {
    if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
  int32_t RefCount() const noexcept { return FRefCount.load(std::memory_order_relaxed); }

 protected:
  virtual ~IUnknown() = default;

 private:
  mutable std::atomic<int32_t> FRefCount{0};
};

// Owning pointer to an intrusively counted object (one pointer wide).
template <class T>
class TRef {
 public:
  TRef() noexcept = default;
  TRef(std::nullptr_t) noexcept {}
  TRef(T* p) noexcept : FPtr(p) {
    if (FPtr) FPtr->AddRef();
  }
  TRef(const TRef& other) noexcept : TRef(other.FPtr) {}
  TRef(TRef&& other) noexcept : FPtr(other.FPtr) { other.FPtr = nullptr; }
  template <class U>
  TRef(const TRef<U>& other) noexcept : TRef(other.Get()) {}
  ~TRef() {
    if (FPtr) FPtr->Release();
  }
  TRef& operator=(TRef other) noexcept {
    std::swap(FPtr, other.FPtr);
    return *this;
  }
  T* Get() const noexcept { return FPtr; }
  T* operator->() const noexcept { return FPtr; }
  T& operator*() const noexcept { return *FPtr; }
  explicit operator bool() const noexcept { return FPtr != nullptr; }
  void Reset() noexcept { *this = TRef(); }

 private:
  T* FPtr = nullptr;
};

// Immutable shared text: a reference count, the length in code units, the
// units and a terminating zero. The executor may use the same blocks for its
// own string slots.
template <class Ch>
class TStringBlock {
 public:
  static TStringBlock* Create(std::basic_string_view<Ch> text);
  void AddRef() noexcept { FRefCount.fetch_add(1, std::memory_order_relaxed); }
  void Release() noexcept {
    if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) Destroy();
  }
  int32_t RefCount() const noexcept { return FRefCount.load(std::memory_order_relaxed); }
  uint32_t Length() const noexcept { return FLength; }
  const Ch* Data() const noexcept { return reinterpret_cast<const Ch*>(this + 1); }
  std::basic_string_view<Ch> View() const noexcept { return {Data(), FLength}; }

 private:
  TStringBlock() = default;
  void Destroy() noexcept;
  std::atomic<int32_t> FRefCount{1};
  uint32_t FLength = 0;
};
using TUnicodeBlock = TStringBlock<char16_t>;
using TAnsiBlock = TStringBlock<char>;

class Variant;
class IDispatch;  // rtl/Automation.h
class TVarArray;

// --- Errors -----------------------------------------------------------------

// Base of the variant's failures; an EConvertError, so callers that catch
// conversion failures in general catch these too.
class EVariantError : public EConvertError {
 public:
  using EConvertError::EConvertError;
};

// A value that has no meaning in the wanted type ("abc" as a number, Null as text).
class EVariantTypeCastError : public EVariantError {
 public:
  using EVariantError::EVariantError;
  static constexpr std::u16string_view SVarTypeCouldNotConvert =
      u"Could not convert variant of type (%s) into type (%s)";
  static EVariantTypeCastError CouldNotConvert(TVarType from, TVarType to);
};

// A value outside the range of the wanted type.
class EVariantOverflowError : public EVariantError {
 public:
  using EVariantError::EVariantError;
  static constexpr std::u16string_view SVarTypeConvertOverflow =
      u"Overflow while converting variant of type (%s) into type (%s)";
  static EVariantOverflowError Overflow(TVarType from, TVarType to);
};

// An array index outside the bounds, or array access on a non-array.
class EVariantBadIndexError : public EVariantError {
 public:
  using EVariantError::EVariantError;
  static constexpr std::u16string_view SVarArrayBounds = u"Variant or safe array index out of bounds";
  static constexpr std::u16string_view SVarNotArray = u"Variant is not an array";
};

// The name of a type code as messages show it ("Integer", "OleStr",
// "Array Variant").
UnicodeString VarTypeAsText(TVarType type);

// --- The variant --------------------------------------------------------

class Variant {
 public:
  Variant() noexcept { std::memset(static_cast<void*>(this), 0, sizeof(*this)); }
  Variant(const Variant& other) noexcept {
    std::memcpy(static_cast<void*>(this), &other, sizeof(*this));
    if (IsManagedType(FType)) AddRefManaged();
  }
  Variant(Variant&& other) noexcept {
    std::memcpy(static_cast<void*>(this), &other, sizeof(*this));
    std::memset(static_cast<void*>(&other), 0, sizeof(other));
  }
  Variant& operator=(const Variant& other) noexcept {
    if (this != &other) {
      Variant copy(other);
      Swap(copy);
    }
    return *this;
  }
  Variant& operator=(Variant&& other) noexcept {
    Variant moved(std::move(other));
    Swap(moved);
    return *this;
  }
  ~Variant() {
    if (IsManagedType(FType)) ReleaseManaged();
  }
  void Swap(Variant& other) noexcept {
    alignas(Variant) unsigned char tmp[sizeof(Variant)];
    std::memcpy(tmp, this, sizeof(Variant));
    std::memcpy(static_cast<void*>(this), &other, sizeof(Variant));
    std::memcpy(static_cast<void*>(&other), tmp, sizeof(Variant));
  }
  // Back to varEmpty, releasing what was held.
  void Clear() noexcept {
    if (IsManagedType(FType)) ReleaseManaged();
    std::memset(static_cast<void*>(this), 0, sizeof(*this));
  }

  // Convenience constructors for the common automation values.
  explicit Variant(bool value) noexcept : Variant() { SetBoolean(value); }
  explicit Variant(int32_t value) noexcept : Variant() { FType = varInteger, FData.VInteger = value; }
  explicit Variant(int64_t value) noexcept : Variant() { FType = varInt64, FData.VInt64 = value; }
  explicit Variant(double value) noexcept : Variant() { FType = varDouble, FData.VDouble = value; }

  // --- Factories, one per type code ---
  static Variant Null() noexcept { return Raw(varNull); }
  static Variant FromShortInt(int8_t v) noexcept {
    Variant r = Raw(varShortInt);
    r.FData.VShortInt = v;
    return r;
  }
  static Variant FromByte(uint8_t v) noexcept {
    Variant r = Raw(varByte);
    r.FData.VByte = v;
    return r;
  }
  static Variant FromSmallInt(int16_t v) noexcept {
    Variant r = Raw(varSmallInt);
    r.FData.VSmallInt = v;
    return r;
  }
  static Variant FromWord(uint16_t v) noexcept {
    Variant r = Raw(varWord);
    r.FData.VWord = v;
    return r;
  }
  static Variant FromInteger(int32_t v) noexcept { return Variant(v); }
  static Variant FromLongWord(uint32_t v) noexcept {
    Variant r = Raw(varLongWord);
    r.FData.VLongWord = v;
    return r;
  }
  static Variant FromInt64(int64_t v) noexcept { return Variant(v); }
  static Variant FromSingle(float v) noexcept {
    Variant r = Raw(varSingle);
    r.FData.VSingle = v;
    return r;
  }
  static Variant FromDouble(double v) noexcept { return Variant(v); }
  // `scaled` is the value times 10,000.
  static Variant FromCurrency(int64_t scaled) noexcept {
    Variant r = Raw(varCurrency);
    r.FData.VCurrency = scaled;
    return r;
  }
  static Variant FromDate(double days) noexcept {
    Variant r = Raw(varDate);
    r.FData.VDate = days;
    return r;
  }
  static Variant FromBoolean(bool v) noexcept { return Variant(v); }
  static Variant FromError(int32_t code) noexcept {
    Variant r = Raw(varError);
    r.FData.VError = code;
    return r;
  }
  static Variant FromOleStr(std::u16string_view text);
  static Variant FromUString(std::u16string_view text);
  static Variant FromString(std::string_view utf8);  // varString
  // The variant takes a new reference; nullptr gives a varDispatch holding nil.
  static Variant FromDispatch(IDispatch* object) noexcept;
  static Variant FromUnknown(IUnknown* object) noexcept;
  // A reference to another variant (varByRef | varVariant), not owned: the
  // target must outlive this variant.
  static Variant ByRef(Variant* target) noexcept {
    Variant r = Raw(varByRef | varVariant);
    r.FData.VPointer = target;
    return r;
  }
  // A variant array (varArray | varVariant) of empty elements; one pair of
  // inclusive bounds per dimension. Raises EVariantError when a high bound
  // lies below its low bound - 1 or there is no dimension.
  static Variant CreateArray(std::initializer_list<std::pair<int32_t, int32_t>> bounds);
  static Variant CreateArray(int32_t low, int32_t high) { return CreateArray({{low, high}}); }

  // --- Type and raw data (no conversion; reading the wrong member is
  // reading the wrong union member) ---
  TVarType VType() const noexcept { return FType; }
  TVarType BaseType() const noexcept { return FType & varTypeMask; }
  bool IsEmpty() const noexcept { return FType == varEmpty; }
  bool IsNull() const noexcept { return FType == varNull; }
  bool IsArray() const noexcept { return (FType & varArray) != 0; }
  bool IsByRef() const noexcept { return (FType & varByRef) != 0; }
  bool IsString() const noexcept { return FType == varOleStr || FType == varUString || FType == varString; }
  bool IsNumeric() const noexcept;  // integer, real, currency (not date, not Boolean)

  int8_t VShortInt() const noexcept { return FData.VShortInt; }
  uint8_t VByte() const noexcept { return FData.VByte; }
  int16_t VSmallInt() const noexcept { return FData.VSmallInt; }
  uint16_t VWord() const noexcept { return FData.VWord; }
  int32_t VInteger() const noexcept { return FData.VInteger; }
  uint32_t VLongWord() const noexcept { return FData.VLongWord; }
  int64_t VInt64() const noexcept { return FData.VInt64; }
  float VSingle() const noexcept { return FData.VSingle; }
  double VDouble() const noexcept { return FData.VDouble; }
  int64_t VCurrency() const noexcept { return FData.VCurrency; }
  double VDate() const noexcept { return FData.VDate; }
  bool VBoolean() const noexcept { return FData.VBoolean != 0; }
  int32_t VError() const noexcept { return FData.VError; }
  // Text of varOleStr / varUString (UTF-16) and varString (UTF-8).
  std::u16string_view VWideText() const noexcept { return FData.VWide ? FData.VWide->View() : std::u16string_view(); }
  std::string_view VAnsiText() const noexcept { return FData.VAnsi ? FData.VAnsi->View() : std::string_view(); }
  TUnicodeBlock* VWideBlock() const noexcept { return FData.VWide; }
  TAnsiBlock* VAnsiBlock() const noexcept { return FData.VAnsi; }
  // Borrowed interface pointers (may be nullptr).
  IDispatch* VDispatch() const noexcept;
  IUnknown* VUnknown() const noexcept { return FData.VUnknown; }
  Variant* VPointer() const noexcept { return FData.VPointer; }
  TVarArray* VArray() const noexcept { return FData.VArray; }

  // The variant itself, or the variant a varByRef | varVariant points at.
  const Variant& Deref() const noexcept {
    return FType == (varByRef | varVariant) && FData.VPointer ? *FData.VPointer : *this;
  }

  // --- Setters of plain values (release the old content first) ---
  void SetBoolean(bool v) noexcept {
    Clear();
    FType = varBoolean;
    FData.VBoolean = v ? -1 : 0;
  }

  // --- Conversions under FormatSettings(); raise EVariantTypeCastError or
  // EVariantOverflowError naming both types ---
  bool AsBoolean() const;
  int32_t AsInteger() const;
  int64_t AsInt64() const;
  double AsDouble() const;
  int64_t AsCurrency() const;  // scaled by 10,000
  double AsDate() const;
  UnicodeString AsUnicodeString() const;
  AnsiString AsAnsiString() const;
  // A new reference to the dispatch interface of a varDispatch (nil allowed)
  // or a varUnknown that is a dispatch object.
  IDispatch* AsDispatch() const;
  // The value converted to the given type code (VarAsType): a plain type,
  // varOleStr, varString or varUString. varEmpty clears, varNull gives Null.
  Variant ChangeType(TVarType type) const;

  // --- Arrays ---
  int32_t ArrayDimCount() const;
  int32_t ArrayLowBound(int32_t dim = 1) const;
  int32_t ArrayHighBound(int32_t dim = 1) const;
  // Element by indices, one per dimension (within the bounds).
  const Variant& ArrayGet(std::initializer_list<int32_t> indices) const;
  // Writable element: unshares the array first when another variant holds it.
  Variant& ArrayElement(std::initializer_list<int32_t> indices);

  // True when `type` holds a reference-counted block.
  static constexpr bool IsManagedType(TVarType type) noexcept {
    return type == varOleStr || type == varUString || type == varString || type == varDispatch || type == varUnknown ||
           (type & varArray) != 0;
  }

 private:
  static Variant Raw(TVarType type) noexcept {
    Variant r;
    r.FType = type;
    return r;
  }
  void AddRefManaged() const noexcept;
  void ReleaseManaged() noexcept;

  TVarType FType;
  uint16_t FReserved1;
  uint32_t FReserved2;
  union Data {
    int8_t VShortInt;
    uint8_t VByte;
    int16_t VSmallInt;
    uint16_t VWord;
    int32_t VInteger;
    uint32_t VLongWord;
    int64_t VInt64;
    float VSingle;
    double VDouble;
    int64_t VCurrency;
    double VDate;
    int16_t VBoolean;
    int32_t VError;
    TUnicodeBlock* VWide;
    TAnsiBlock* VAnsi;
    IUnknown* VUnknown;  // also varDispatch (an IDispatch is an IUnknown)
    TVarArray* VArray;
    Variant* VPointer;
  } FData;
};

static_assert(sizeof(Variant) == 16, "the executor keeps variants in 16-byte slots");

using OleVariant = Variant;

// The array block behind varArray: reference count, bounds and elements.
class TVarArray {
 public:
  struct TBound {
    int32_t Low;
    int32_t Count;
  };
  static TVarArray* Create(std::initializer_list<std::pair<int32_t, int32_t>> bounds);
  TVarArray* Duplicate() const;  // a private copy with count 1
  void AddRef() noexcept { FRefCount.fetch_add(1, std::memory_order_relaxed); }
  void Release() noexcept {
    if (FRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) Destroy();
  }
  int32_t RefCount() const noexcept { return FRefCount.load(std::memory_order_relaxed); }
  int32_t DimCount() const noexcept { return FDimCount; }
  const TBound& Bound(int32_t dim) const noexcept { return Bounds()[dim]; }
  size_t ElementCount() const noexcept { return FElementCount; }
  Variant* Elements() noexcept { return reinterpret_cast<Variant*>(this + 1); }
  const Variant* Elements() const noexcept { return reinterpret_cast<const Variant*>(this + 1); }
  // Position in Elements() of the given indices; raises EVariantBadIndexError.
  size_t Offset(std::initializer_list<int32_t> indices) const;

 private:
  TVarArray() = default;
  void Destroy() noexcept;
  TBound* Bounds() noexcept { return reinterpret_cast<TBound*>(Elements() + FElementCount); }
  const TBound* Bounds() const noexcept { return reinterpret_cast<const TBound*>(Elements() + FElementCount); }
  std::atomic<int32_t> FRefCount{1};
  int32_t FDimCount = 0;
  size_t FElementCount = 0;
};

}  // namespace rtl
