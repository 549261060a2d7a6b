#include "rtl/Variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <new>
#include <vector>

#include "rtl/Automation.h"
#include "rtl/Locale.h"

namespace rtl {

// --- Blocks ---------------------------------------------------------------------

template <class Ch>
TStringBlock<Ch>* TStringBlock<Ch>::Create(std::basic_string_view<Ch> text) {
  void* memory = std::malloc(sizeof(TStringBlock) + (text.size() + 1) * sizeof(Ch));
  if (!memory) throw std::bad_alloc();
  auto* block = new (memory) TStringBlock();
  block->FLength = static_cast<uint32_t>(text.size());
  Ch* data = reinterpret_cast<Ch*>(block + 1);
  if (!text.empty()) std::memcpy(data, text.data(), text.size() * sizeof(Ch));
  data[text.size()] = 0;
  return block;
}

template <class Ch>
void TStringBlock<Ch>::Destroy() noexcept {
  this->~TStringBlock();
  std::free(this);
}

template class TStringBlock<char16_t>;
template class TStringBlock<char>;

TVarArray* TVarArray::Create(std::initializer_list<std::pair<int32_t, int32_t>> bounds) {
  if (bounds.size() == 0) throw EVariantError(u"Variant array must have at least one dimension");
  size_t count = 1;
  for (auto [low, high] : bounds) {
    int64_t n = static_cast<int64_t>(high) - low + 1;
    if (n < 0) throw EVariantError(UnicodeString(EVariantBadIndexError::SVarArrayBounds));
    count *= static_cast<size_t>(n);
    if (count > (size_t(1) << 31)) throw std::bad_alloc();
  }
  void* memory = std::malloc(sizeof(TVarArray) + count * sizeof(Variant) + bounds.size() * sizeof(TBound));
  if (!memory) throw std::bad_alloc();
  auto* array = new (memory) TVarArray();
  array->FDimCount = static_cast<int32_t>(bounds.size());
  array->FElementCount = count;
  std::memset(static_cast<void*>(array->Elements()), 0, count * sizeof(Variant));  // all empty
  TBound* b = array->Bounds();
  for (auto [low, high] : bounds) *b++ = TBound{low, high - low + 1};
  return array;
}

TVarArray* TVarArray::Duplicate() const {
  size_t bytes = sizeof(TVarArray) + FElementCount * sizeof(Variant) + FDimCount * sizeof(TBound);
  void* memory = std::malloc(bytes);
  if (!memory) throw std::bad_alloc();
  auto* array = new (memory) TVarArray();
  array->FDimCount = FDimCount;
  array->FElementCount = FElementCount;
  for (size_t i = 0; i < FElementCount; ++i) new (&array->Elements()[i]) Variant(Elements()[i]);
  std::memcpy(array->Bounds(), Bounds(), FDimCount * sizeof(TBound));
  return array;
}

void TVarArray::Destroy() noexcept {
  // Arrays held by the elements are freed from a work list, not by
  // recursion: an array nested a million levels deep must not exhaust the
  // stack when the outermost one goes.
  thread_local std::vector<TVarArray*>* pending = nullptr;
  if (pending) {
    pending->push_back(this);
    return;
  }
  std::vector<TVarArray*> work{this};
  pending = &work;
  while (!work.empty()) {
    TVarArray* array = work.back();
    work.pop_back();
    for (size_t i = 0; i < array->FElementCount; ++i) array->Elements()[i].~Variant();
    array->~TVarArray();
    std::free(array);
  }
  pending = nullptr;
}

size_t TVarArray::Offset(std::initializer_list<int32_t> indices) const {
  if (static_cast<int32_t>(indices.size()) != FDimCount)
    throw EVariantBadIndexError(UnicodeString(EVariantBadIndexError::SVarArrayBounds));
  size_t offset = 0;
  int32_t dim = 0;
  // Row-major over the dimensions as given; only consistency matters here.
  for (int32_t index : indices) {
    const TBound& b = Bounds()[dim++];
    int64_t rel = static_cast<int64_t>(index) - b.Low;
    if (rel < 0 || rel >= b.Count) throw EVariantBadIndexError(UnicodeString(EVariantBadIndexError::SVarArrayBounds));
    offset = offset * static_cast<size_t>(b.Count) + static_cast<size_t>(rel);
  }
  return offset;
}

// --- Errors ---------------------------------------------------------------------

UnicodeString VarTypeAsText(TVarType type) {
  static const char16_t* const names[] = {u"Empty",    u"Null",     u"Smallint", u"Integer",  u"Single",   u"Double",
                                          u"Currency", u"Date",     u"OleStr",   u"Dispatch", u"Error",    u"Boolean",
                                          u"Variant",  u"Unknown",  u"Decimal",  u"$0F",      u"ShortInt", u"Byte",
                                          u"Word",     u"LongWord", u"Int64",    u"UInt64"};
  UnicodeString prefix;
  if (type & varArray) prefix += u"Array ";
  if (type & varByRef) prefix += u"ByRef ";
  TVarType base = type & varTypeMask;
  if (base < sizeof(names) / sizeof(names[0])) return prefix + names[base];
  if (base == varString) return prefix + u"String";
  if (base == varAny) return prefix + u"Any";
  if (base == varUString) return prefix + u"UnicodeString";
  if (base == varStrArg) return prefix + u"StrArg";
  return prefix + u"$" + IntToStr(base);
}

EVariantTypeCastError EVariantTypeCastError::CouldNotConvert(TVarType from, TVarType to) {
  return EVariantTypeCastError(FormatText(SVarTypeCouldNotConvert, {VarTypeAsText(from), VarTypeAsText(to)}));
}

EVariantOverflowError EVariantOverflowError::Overflow(TVarType from, TVarType to) {
  return EVariantOverflowError(FormatText(SVarTypeConvertOverflow, {VarTypeAsText(from), VarTypeAsText(to)}));
}

// --- Construction and lifetime ------------------------------------------------

Variant Variant::FromOleStr(std::u16string_view text) {
  Variant r = Raw(varOleStr);
  r.FData.VWide = TUnicodeBlock::Create(text);
  return r;
}

Variant Variant::FromUString(std::u16string_view text) {
  Variant r = Raw(varUString);
  r.FData.VWide = TUnicodeBlock::Create(text);
  return r;
}

Variant Variant::FromString(std::string_view utf8) {
  Variant r = Raw(varString);
  r.FData.VAnsi = TAnsiBlock::Create(utf8);
  return r;
}

Variant Variant::FromDispatch(IDispatch* object) noexcept {
  Variant r = Raw(varDispatch);
  IUnknown* unknown = object;
  if (unknown) unknown->AddRef();
  r.FData.VUnknown = unknown;
  return r;
}

Variant Variant::FromUnknown(IUnknown* object) noexcept {
  Variant r = Raw(varUnknown);
  if (object) object->AddRef();
  r.FData.VUnknown = object;
  return r;
}

Variant Variant::CreateArray(std::initializer_list<std::pair<int32_t, int32_t>> bounds) {
  Variant r = Raw(varArray | varVariant);
  r.FData.VArray = TVarArray::Create(bounds);
  return r;
}

IDispatch* Variant::VDispatch() const noexcept { return static_cast<IDispatch*>(FData.VUnknown); }

void Variant::AddRefManaged() const noexcept {
  if (FType & varArray) {
    if (FData.VArray) FData.VArray->AddRef();
    return;
  }
  switch (FType) {
    case varOleStr:
    case varUString:
      if (FData.VWide) FData.VWide->AddRef();
      break;
    case varString:
      if (FData.VAnsi) FData.VAnsi->AddRef();
      break;
    case varDispatch:
    case varUnknown:
      if (FData.VUnknown) FData.VUnknown->AddRef();
      break;
    default: break;
  }
}

void Variant::ReleaseManaged() noexcept {
  if (FType & varArray) {
    if (FData.VArray) FData.VArray->Release();
    return;
  }
  switch (FType) {
    case varOleStr:
    case varUString:
      if (FData.VWide) FData.VWide->Release();
      break;
    case varString:
      if (FData.VAnsi) FData.VAnsi->Release();
      break;
    case varDispatch:
    case varUnknown:
      if (FData.VUnknown) FData.VUnknown->Release();
      break;
    default: break;
  }
}

bool Variant::IsNumeric() const noexcept {
  switch (Deref().FType) {
    case varSmallInt:
    case varInteger:
    case varSingle:
    case varDouble:
    case varCurrency:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64: return true;
    default: return false;
  }
}

namespace {

constexpr double kMinDate = -657434.0;         // 0100-01-01
constexpr double kMaxDate = 2958465.99999999;  // 9999-12-31 23:59:59.999

}  // namespace

// --- Conversions --------------------------------------------------------------------

namespace {

[[noreturn]] void CastFail(TVarType from, TVarType to) { throw EVariantTypeCastError::CouldNotConvert(from, to); }

UnicodeString WideOf(const Variant& v) {
  return v.VType() == varString ? Utf8ToUnicode(v.VAnsiText()) : UnicodeString(v.VWideText());
}

// Text to double, as the variant reads numeric text.
double TextToDouble(const Variant& v, TVarType to) {
  UnicodeString text = WideOf(v);
  const TFormatSettings& fs = FormatSettings();
  double value;
  if (TryTextToDouble(text, value, fs.DecimalSeparator, fs.ThousandSeparator)) return value;
  CastFail(v.VType(), to);
}

bool TextToBoolean(const Variant& v) {
  UnicodeString text = Trim(WideOf(v));
  if (AnsiSameText(text, u"True")) return true;
  if (AnsiSameText(text, u"False")) return false;
  const TFormatSettings& fs = FormatSettings();
  double value;
  if (TryTextToDouble(text, value, fs.DecimalSeparator, fs.ThousandSeparator)) return value != 0;
  CastFail(v.VType(), varBoolean);
}

// Rounds halves to the even neighbour, checking the range of the target.
int64_t RoundToInt64(double value, TVarType from, TVarType to) {
  if (std::isnan(value)) throw EVariantOverflowError::Overflow(from, to);
  double r = std::nearbyint(value);  // default rounding mode: ties to even
  if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) throw EVariantOverflowError::Overflow(from, to);
  return static_cast<int64_t>(r);
}

}  // namespace

double Variant::AsDouble() const {
  const Variant& v = Deref();
  switch (v.FType) {
    case varEmpty: return 0;
    case varSmallInt: return v.FData.VSmallInt;
    case varInteger: return v.FData.VInteger;
    case varSingle: return v.FData.VSingle;
    case varDouble: return v.FData.VDouble;
    case varCurrency: return static_cast<double>(v.FData.VCurrency) / 10000.0;
    case varDate: return v.FData.VDate;
    case varBoolean: return v.FData.VBoolean ? -1 : 0;
    case varShortInt: return v.FData.VShortInt;
    case varByte: return v.FData.VByte;
    case varWord: return v.FData.VWord;
    case varLongWord: return v.FData.VLongWord;
    case varInt64: return static_cast<double>(v.FData.VInt64);
    case varOleStr:
    case varUString:
    case varString: return TextToDouble(v, varDouble);
    default: CastFail(v.FType, varDouble);
  }
}

int64_t Variant::AsInt64() const {
  const Variant& v = Deref();
  switch (v.FType) {
    case varEmpty: return 0;
    case varSmallInt: return v.FData.VSmallInt;
    case varInteger: return v.FData.VInteger;
    case varShortInt: return v.FData.VShortInt;
    case varByte: return v.FData.VByte;
    case varWord: return v.FData.VWord;
    case varLongWord: return v.FData.VLongWord;
    case varInt64: return v.FData.VInt64;
    case varBoolean: return v.FData.VBoolean ? -1 : 0;
    case varCurrency: {
      // Halves to even on the scaled value, exactly.
      int64_t q = v.FData.VCurrency / 10000, r = v.FData.VCurrency % 10000;
      if (r > 5000 || (r == 5000 && (q & 1))) ++q;
      if (r < -5000 || (r == -5000 && (q & 1))) --q;
      return q;
    }
    case varSingle:
    case varDouble:
    case varDate: return RoundToInt64(v.AsDouble(), v.FType, varInt64);
    case varOleStr:
    case varUString:
    case varString: {
      UnicodeString text = Trim(WideOf(v));
      // Plain integer text converts exactly, beyond double precision.
      std::string ascii = UnicodeToUtf8(text);
      int64_t exact;
      const char* begin = ascii.data() + (!ascii.empty() && ascii[0] == '+' ? 1 : 0);
      auto [end, error] = std::from_chars(begin, ascii.data() + ascii.size(), exact);
      if (error == std::errc() && end == ascii.data() + ascii.size() && begin != end) return exact;
      return RoundToInt64(TextToDouble(v, varInt64), v.FType, varInt64);
    }
    default: CastFail(v.FType, varInt64);
  }
}

int32_t Variant::AsInteger() const {
  const Variant& v = Deref();
  int64_t value = v.AsInt64();
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
    throw EVariantOverflowError::Overflow(v.FType, varInteger);
  return static_cast<int32_t>(value);
}

bool Variant::AsBoolean() const {
  const Variant& v = Deref();
  switch (v.FType) {
    case varEmpty: return false;
    case varBoolean: return v.FData.VBoolean != 0;
    case varOleStr:
    case varUString:
    case varString: return TextToBoolean(v);
    case varSmallInt:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64: return v.AsInt64() != 0;
    case varCurrency: return v.FData.VCurrency != 0;
    case varSingle:
    case varDouble:
    case varDate: return v.AsDouble() != 0;
    default: CastFail(v.FType, varBoolean);
  }
}

int64_t Variant::AsCurrency() const {
  const Variant& v = Deref();
  switch (v.FType) {
    case varCurrency: return v.FData.VCurrency;
    case varEmpty: return 0;
    case varSmallInt:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64:
    case varBoolean: {
      int64_t n = v.AsInt64();
      if (n > INT64_MAX / 10000 || n < INT64_MIN / 10000) throw EVariantOverflowError::Overflow(v.FType, varCurrency);
      return n * 10000;
    }
    default: {
      double d = v.AsDouble();
      if (std::isnan(d) || std::fabs(d * 10000.0) >= 9223372036854775807.0)
        throw EVariantOverflowError::Overflow(v.FType, varCurrency);
      return static_cast<int64_t>(std::nearbyint(d * 10000.0));
    }
  }
}

double Variant::AsDate() const {
  const Variant& v = Deref();
  double value;
  switch (v.FType) {
    case varOleStr:
    case varUString:
    case varString:
      if (TryTextToDateTime(WideOf(v), value)) return value;
      CastFail(v.FType, varDate);
    default:
      value = v.AsDouble();
      if (value < kMinDate || value > kMaxDate) throw EVariantOverflowError::Overflow(v.FType, varDate);
      return value;
  }
}

UnicodeString Variant::AsUnicodeString() const {
  const Variant& v = Deref();
  switch (v.FType) {
    case varEmpty: return {};
    case varOleStr:
    case varUString: return UnicodeString(v.VWideText());
    case varString: return Utf8ToUnicode(v.VAnsiText());
    case varBoolean: return v.FData.VBoolean ? u"True" : u"False";
    case varSmallInt:
    case varInteger:
    case varShortInt:
    case varByte:
    case varWord:
    case varLongWord:
    case varInt64: return IntToStr(v.AsInt64());
    case varSingle: return FloatToStrGeneral(v.FData.VSingle, 7);
    case varDouble: return FloatToStrGeneral(v.FData.VDouble);
    case varCurrency: return CurrencyToStr(v.FData.VCurrency);
    case varDate: return DateTimeToStr(v.FData.VDate);
    default: CastFail(v.FType, varUString);
  }
}

AnsiString Variant::AsAnsiString() const {
  const Variant& v = Deref();
  if (v.FType == varString) return AnsiString(v.VAnsiText());
  try {
    return UnicodeToUtf8(v.AsUnicodeString());
  } catch (const EVariantTypeCastError&) {
    // Name the wanted type correctly in the message.
    CastFail(v.FType, varString);
  }
}

IDispatch* Variant::AsDispatch() const {
  const Variant& v = Deref();
  if (v.FType == varDispatch || v.FType == varUnknown) {
    auto* dispatch = v.FType == varDispatch ? v.VDispatch() : dynamic_cast<IDispatch*>(v.FData.VUnknown);
    if (v.FType == varUnknown && v.FData.VUnknown && !dispatch) CastFail(v.FType, varDispatch);
    if (dispatch) static_cast<IUnknown*>(dispatch)->AddRef();
    return dispatch;
  }
  if (v.FType == varEmpty) return nullptr;
  CastFail(v.FType, varDispatch);
}

Variant Variant::ChangeType(TVarType type) const {
  const Variant& v = Deref();
  if (type == v.FType && !(type & varByRef)) return v;
  auto ranged = [&](int64_t low, int64_t high) {
    int64_t n = v.AsInt64();
    if (n < low || n > high) throw EVariantOverflowError::Overflow(v.FType, type);
    return n;
  };
  switch (type) {
    case varEmpty: return Variant();
    case varNull: return Null();
    case varSmallInt: return FromSmallInt(static_cast<int16_t>(ranged(INT16_MIN, INT16_MAX)));
    case varInteger: return FromInteger(static_cast<int32_t>(ranged(INT32_MIN, INT32_MAX)));
    case varShortInt: return FromShortInt(static_cast<int8_t>(ranged(INT8_MIN, INT8_MAX)));
    case varByte: return FromByte(static_cast<uint8_t>(ranged(0, UINT8_MAX)));
    case varWord: return FromWord(static_cast<uint16_t>(ranged(0, UINT16_MAX)));
    case varLongWord: return FromLongWord(static_cast<uint32_t>(ranged(0, UINT32_MAX)));
    case varInt64: return FromInt64(v.AsInt64());
    case varSingle: {
      double d = v.AsDouble();
      if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max())
        throw EVariantOverflowError::Overflow(v.FType, type);
      return FromSingle(static_cast<float>(d));
    }
    case varDouble: return FromDouble(v.AsDouble());
    case varCurrency: return FromCurrency(v.AsCurrency());
    case varDate: return FromDate(v.AsDate());
    case varBoolean: return FromBoolean(v.AsBoolean());
    case varOleStr: return FromOleStr(v.AsUnicodeString());
    case varUString: return FromUString(v.AsUnicodeString());
    case varString: return FromString(v.AsAnsiString());
    case varDispatch: {
      IDispatch* d = v.AsDispatch();
      Variant r = FromDispatch(d);
      if (d) static_cast<IUnknown*>(d)->Release();
      return r;
    }
    case varVariant: return v;
    default: CastFail(v.FType, type);
  }
}

// --- Arrays ----------------------------------------------------------------------------

namespace {
const TVarArray& ArrayOf(const Variant& v) {
  if (!v.IsArray() || !v.VArray()) throw EVariantBadIndexError(UnicodeString(EVariantBadIndexError::SVarNotArray));
  return *v.VArray();
}
}  // namespace

int32_t Variant::ArrayDimCount() const {
  const Variant& v = Deref();
  return v.IsArray() && v.FData.VArray ? v.FData.VArray->DimCount() : 0;
}

int32_t Variant::ArrayLowBound(int32_t dim) const {
  const TVarArray& a = ArrayOf(Deref());
  if (dim < 1 || dim > a.DimCount()) throw EVariantBadIndexError(UnicodeString(EVariantBadIndexError::SVarArrayBounds));
  return a.Bound(dim - 1).Low;
}

int32_t Variant::ArrayHighBound(int32_t dim) const {
  const TVarArray& a = ArrayOf(Deref());
  if (dim < 1 || dim > a.DimCount()) throw EVariantBadIndexError(UnicodeString(EVariantBadIndexError::SVarArrayBounds));
  return a.Bound(dim - 1).Low + a.Bound(dim - 1).Count - 1;
}

const Variant& Variant::ArrayGet(std::initializer_list<int32_t> indices) const {
  const TVarArray& a = ArrayOf(Deref());
  return a.Elements()[a.Offset(indices)];
}

Variant& Variant::ArrayElement(std::initializer_list<int32_t> indices) {
  Variant& v = (FType == (varByRef | varVariant) && FData.VPointer) ? *FData.VPointer : *this;
  ArrayOf(v);
  if (v.FData.VArray->RefCount() > 1) {
    TVarArray* copy = v.FData.VArray->Duplicate();
    v.FData.VArray->Release();
    v.FData.VArray = copy;
  }
  return v.FData.VArray->Elements()[v.FData.VArray->Offset(indices)];
}

}  // namespace rtl
