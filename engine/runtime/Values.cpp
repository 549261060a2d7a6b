// Value primitives: initialise, finalise, copy; string and dynamic array
// blocks; the typed getters and setters.
#include <malloc.h>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "engine/runtime/FastCode.h"
#include "engine/runtime/RegisterCode.h"
#include "engine/runtime/Values.h"
#include "engine/runtime/VariantSlot.h"

namespace ps {

namespace {
constexpr std::u16string_view SOutOfMemory = u"Out of memory";
// Larger blocks are refused rather than attempted.
constexpr uint64_t MaxBlockBytes = 1ull << 30;
constexpr int MaxOwnedChain = 64;

void* AllocBlock(uint64_t bytes) {
  if (bytes > MaxBlockBytes) throw rtl::Exception(rtl::UnicodeString(SOutOfMemory));
  void* p = std::malloc(bytes ? bytes : 1);
  if (!p) throw rtl::Exception(rtl::UnicodeString(SOutOfMemory));
  return p;
}

const TPSTypeRec* ElementType(const TPSTypeRec* type) { return static_cast<const TPSTypeRec_Array*>(type)->FArrayType; }
}  // namespace

[[noreturn]] void RaiseTypeMismatch() { throw rtl::Exception(rtl::UnicodeString(STypeMismatch)); }

// --- String blocks ----------------------------------------------------------------------------

TPSInternalProcRec::TPSInternalProcRec(TPSExec* owner) : TPSProcRec(owner, false) {}

TPSInternalProcRec::~TPSInternalProcRec() {
  for (auto& [pos, block] : FConstStrings) std::free(block);
}

void ReleaseStringBlock(TPSBlockHeader* h) {
  if (h && h->RefCount > 0 && --h->RefCount == 0) std::free(h);
}

template <class Ch>
static TPSBlockHeader* NewBlock(std::basic_string_view<Ch> text) {
  if (text.empty()) return nullptr;
  auto* h = static_cast<TPSBlockHeader*>(AllocBlock(sizeof(TPSBlockHeader) + (uint64_t(text.size()) + 1) * sizeof(Ch)));
  h->RefCount = 1;
  h->Length = static_cast<uint32_t>(text.size());
  Ch* chars = reinterpret_cast<Ch*>(h + 1);
  std::memcpy(chars, text.data(), text.size() * sizeof(Ch));
  chars[text.size()] = 0;  // PChar views need the terminator
  return h;
}

TPSBlockHeader* NewAnsiBlock(std::string_view text) { return NewBlock<char>(text); }
TPSBlockHeader* NewUnicodeBlock(std::u16string_view text) { return NewBlock<char16_t>(text); }

TPSBlockHeader* ConstantStringBlock(TPSInternalProcRec& proc, uint32_t key, const uint8_t* text, uint32_t length,
                                    bool wide) {
  auto& cache = proc.FConstStrings;
  auto it = cache.find(key);
  if (it == cache.end()) {
    TPSBlockHeader* block;
    if (wide) {
      std::u16string s(length, u'\0');
      std::memcpy(s.data(), text, uint64_t(length) * 2);
      block = NewUnicodeBlock(s);
    } else {
      block = NewAnsiBlock(std::string_view(reinterpret_cast<const char*>(text), length));
    }
    if (block) block->RefCount = -1;
    it = cache.emplace(key, block).first;
  }
  return static_cast<TPSBlockHeader*>(it->second);
}

TPSBlockHeader* ConstantWideTwin(TPSInternalProcRec& proc, uint32_t key, TPSBlockHeader* ansi) {
  // Keys of the code's own constants are byte positions, far below this bit.
  key |= 0x80000000u;
  auto& cache = proc.FConstStrings;
  if (auto it = cache.find(key); it != cache.end()) return static_cast<TPSBlockHeader*>(it->second);
  TPSBlockHeader* block = nullptr;
  if (ansi) {
    block = NewUnicodeBlock(
        rtl::Utf8ToUnicode(std::string_view(reinterpret_cast<const char*>(BlockData(ansi)), ansi->Length)));
    block->RefCount = -1;
  }
  cache.emplace(key, block);
  return block;
}

// The 256 one-character texts of one width, never freed.
template <class Ch>
static TPSBlockHeader* const* OneCharacterBlocks() {
  static TPSBlockHeader* blocks[256];
  for (int i = 0; i < 256; ++i) {
    const Ch ch = static_cast<Ch>(i);
    blocks[i] = NewBlock<Ch>(std::basic_string_view<Ch>(&ch, 1));
    blocks[i]->RefCount = -1;
  }
  return blocks;
}

TPSBlockHeader* CharStringBlock(uint8_t c) {
  static TPSBlockHeader* const* const table = OneCharacterBlocks<char>();
  return table[c];
}

TPSBlockHeader* WideCharStringBlock(char16_t c) {
  static TPSBlockHeader* const* const table = OneCharacterBlocks<char16_t>();
  return c <= 0xFF ? table[c] : nullptr;
}

std::string_view PSAnsiView(const uint8_t* slot) {
  TPSBlockHeader* h = LoadBlock(slot);
  return h ? std::string_view(reinterpret_cast<const char*>(h + 1), h->Length) : std::string_view();
}

std::u16string_view PSUnicodeView(const uint8_t* slot) {
  TPSBlockHeader* h = LoadBlock(slot);
  return h ? std::u16string_view(reinterpret_cast<const char16_t*>(h + 1), h->Length) : std::u16string_view();
}

void PSAnsiAssign(uint8_t* slot, std::string_view text) {
  TPSBlockHeader* fresh = NewAnsiBlock(text);
  ReleaseStringBlock(LoadBlock(slot));
  Store(slot, fresh);
}

void PSUnicodeAssign(uint8_t* slot, std::u16string_view text) {
  TPSBlockHeader* fresh = NewUnicodeBlock(text);
  ReleaseStringBlock(LoadBlock(slot));
  Store(slot, fresh);
}

// Appends in place when the slot holds the only reference, growing the block
// geometrically, so building a long text piece by piece stays linear.
template <class Ch>
static void AppendText(uint8_t* slot, std::basic_string_view<Ch> text) {
  if (text.empty()) return;
  TPSBlockHeader* h = LoadBlock(slot);
  if (!h || h->RefCount != 1) {
    std::basic_string<Ch> joined;
    if (h) joined.assign(reinterpret_cast<const Ch*>(h + 1), h->Length);
    joined += text;
    TPSBlockHeader* fresh = NewBlock<Ch>(joined);
    ReleaseStringBlock(h);
    Store(slot, fresh);
    return;
  }
  const auto* chars = reinterpret_cast<const Ch*>(h + 1);
  std::basic_string<Ch> own;
  if (text.data() >= chars && text.data() < chars + h->Length + 1) {  // s + s: the block may move
    own.assign(text);
    text = own;
  }
  uint64_t need = sizeof(TPSBlockHeader) + (uint64_t(h->Length) + text.size() + 1) * sizeof(Ch);
  if (need > MaxBlockBytes) throw rtl::Exception(rtl::UnicodeString(SOutOfMemory));
  size_t usable = malloc_usable_size(h);
  if (need > usable) {
    uint64_t capacity = std::min<uint64_t>(std::max<uint64_t>(need, uint64_t(usable) * 2), MaxBlockBytes);
    auto* grown = static_cast<TPSBlockHeader*>(std::realloc(h, capacity));
    if (!grown) throw rtl::Exception(rtl::UnicodeString(SOutOfMemory));
    h = grown;
    Store(slot, h);
  }
  Ch* out = reinterpret_cast<Ch*>(h + 1);
  std::memcpy(out + h->Length, text.data(), text.size() * sizeof(Ch));
  h->Length += static_cast<uint32_t>(text.size());
  out[h->Length] = 0;
}

void PSAnsiAppend(uint8_t* slot, std::string_view text) { AppendText<char>(slot, text); }
void PSUnicodeAppend(uint8_t* slot, std::u16string_view text) { AppendText<char16_t>(slot, text); }

// --- Dynamic arrays ------------------------------------------------------------------------------

void ReleaseArrayBlock(TPSBlockHeader* h, const TPSTypeRec* elemType) {
  if (!h || h->RefCount <= 0 || --h->RefCount != 0) return;
  if (elemType && elemType->FManaged) {
    uint8_t* data = BlockData(h);
    for (uint32_t i = 0; i < h->Length; ++i) FinalizeValue(data + uint64_t(i) * elemType->FRealSize, elemType);
  }
  std::free(h);
}

uint32_t PSDynArrayGetLength(const uint8_t* slot, const TPSTypeRec* type) {
  if (!type || type->FBaseType != btArray) throw rtl::Exception(rtl::UnicodeString(SInvalidArray));
  TPSBlockHeader* h = LoadBlock(slot);
  return h ? h->Length : 0;
}

uint8_t* PSDynArrayElement(const uint8_t* slot, const TPSTypeRec* type, uint32_t index) {
  return BlockData(LoadBlock(slot)) + uint64_t(index) * ElementType(type)->FRealSize;
}

// `count` values of one type in a row made empty: plain values (zero
// bytes) at once, a million-element array of numbers in one sweep.
static void InitializeValues(uint8_t* data, const TPSTypeRec* type, uint64_t count) {
  if (!type->FManaged && type->FBaseType != btVariant) {
    std::memset(data, 0, count * type->FRealSize);
    return;
  }
  for (uint64_t i = 0; i < count; ++i) InitializeValue(data + i * type->FRealSize, type);
}

void PSDynArraySetLength(uint8_t* slot, const TPSTypeRec* type, uint32_t length) {
  if (!type || type->FBaseType != btArray) throw rtl::Exception(rtl::UnicodeString(SInvalidArray));
  const TPSTypeRec* elem = ElementType(type);
  uint64_t es = elem->FRealSize;
  TPSBlockHeader* h = LoadBlock(slot);
  uint32_t old = h ? h->Length : 0;
  // A shared block is copied even at the same length: SetLength is how a
  // script gives an array its own elements.
  if (h && length == old && h->RefCount == 1) return;
  if (h && h->RefCount == 1) {
    uint8_t* data = BlockData(h);
    if (elem->FManaged)
      for (uint32_t i = length; i < old; ++i) FinalizeValue(data + i * es, elem);
    if (length == 0) {
      std::free(h);
      Store<TPSBlockHeader*>(slot, nullptr);
      return;
    }
    uint64_t bytes = sizeof(TPSBlockHeader) + es * length;
    if (bytes > MaxBlockBytes) throw rtl::Exception(rtl::UnicodeString(SOutOfMemory));
    auto* grown = static_cast<TPSBlockHeader*>(std::realloc(h, bytes));
    if (!grown) throw rtl::Exception(rtl::UnicodeString(SOutOfMemory));
    h = grown;
    h->Length = length;
    data = BlockData(h);
    InitializeValues(data + old * es, elem, length > old ? length - old : 0);
    Store(slot, h);
    return;
  }
  if (length == 0) {
    ReleaseArrayBlock(h, elem);
    Store<TPSBlockHeader*>(slot, nullptr);
    return;
  }
  auto* fresh = static_cast<TPSBlockHeader*>(AllocBlock(sizeof(TPSBlockHeader) + es * length));
  fresh->RefCount = 1;
  fresh->Length = length;
  uint8_t* data = BlockData(fresh);
  InitializeValues(data, elem, length);
  if (h) CopyValues(data, BlockData(h), elem, std::min(old, length));
  ReleaseArrayBlock(h, elem);
  Store(slot, fresh);
}

// --- Initialise, finalise, copy ----------------------------------------------------------------

void InitializeValue(uint8_t* slot, const TPSTypeRec* type) {
  std::memset(slot, 0, type->FRealSize);
  switch (type->FBaseType) {
    case btVariant: VariantSlotInit(slot); break;
    case btRecord: {
      if (!type->FManaged) break;
      auto* rec = static_cast<const TPSTypeRec_Record*>(type);
      for (size_t i = 0; i < rec->FFieldTypes.size(); ++i)
        if (rec->FFieldTypes[i]->FManaged) InitializeValue(slot + rec->FRealFieldOffsets[i], rec->FFieldTypes[i]);
      break;
    }
    case btStaticArray: {
      if (!type->FManaged) break;
      auto* arr = static_cast<const TPSTypeRec_StaticArray*>(type);
      for (uint32_t i = 0; i < arr->FSize; ++i)
        InitializeValue(slot + uint64_t(i) * arr->FArrayType->FRealSize, arr->FArrayType);
      break;
    }
    default: break;
  }
}

// Owned targets can hold owning pointers in turn, in chains of any length
// (a script can extend one link at a time), so they are destroyed from a
// work list rather than by recursion.
static void DestroyOwnedTarget(uint8_t* target, const TPSTypeRec* type) {
  static thread_local std::vector<std::pair<uint8_t*, const TPSTypeRec*>>* pending = nullptr;
  if (pending) {
    pending->emplace_back(target, type);  // the outermost call destroys it
    return;
  }
  std::vector<std::pair<uint8_t*, const TPSTypeRec*>> list{{target, type}};
  pending = &list;
  while (!list.empty()) {
    auto [p, t] = list.back();
    list.pop_back();
    if (t->FManaged) FinalizeValue(p, t);
    std::free(p);
  }
  pending = nullptr;
}

void FinalizeValue(uint8_t* slot, const TPSTypeRec* type) {
  switch (type->FBaseType) {
    case btString:
    case btPChar:
    case btUnicodeString:
    case btWideString:
      ReleaseStringBlock(LoadBlock(slot));
      Store<TPSBlockHeader*>(slot, nullptr);
      break;
    case btArray:
      ReleaseArrayBlock(LoadBlock(slot), ElementType(type));
      Store<TPSBlockHeader*>(slot, nullptr);
      break;
    case btPointer: {
      auto pv = Load<TPSPointerValue>(slot);
      Store(slot, TPSPointerValue{nullptr, nullptr, 0});
      if (pv.Owning && pv.Target && pv.Type) DestroyOwnedTarget(static_cast<uint8_t*>(pv.Target), pv.Type);
      break;
    }
    case btVariant: VariantSlotFinalize(slot); break;
    case btInterface:
      InterfaceRelease(Load<void*>(slot));
      Store<void*>(slot, nullptr);
      break;
    case btRecord: {
      if (!type->FManaged) break;
      auto* rec = static_cast<const TPSTypeRec_Record*>(type);
      for (size_t i = 0; i < rec->FFieldTypes.size(); ++i)
        if (rec->FFieldTypes[i]->FManaged) FinalizeValue(slot + rec->FRealFieldOffsets[i], rec->FFieldTypes[i]);
      break;
    }
    case btStaticArray: {
      if (!type->FManaged) break;
      auto* arr = static_cast<const TPSTypeRec_StaticArray*>(type);
      for (uint32_t i = 0; i < arr->FSize; ++i)
        FinalizeValue(slot + uint64_t(i) * arr->FArrayType->FRealSize, arr->FArrayType);
      break;
    }
    default: break;
  }
}

uint8_t* CreateValue(const TPSTypeRec* type) {
  auto* p = static_cast<uint8_t*>(AllocBlock(type->FRealSize));
  InitializeValue(p, type);
  return p;
}

void DestroyValue(uint8_t* slot, const TPSTypeRec* type) {
  if (!slot) return;
  if (type->FManaged) FinalizeValue(slot, type);
  std::free(slot);
}

static bool CopyPointer(uint8_t* dst, const uint8_t* src) {
  auto sv = Load<TPSPointerValue>(src);
  auto dv = Load<TPSPointerValue>(dst);
  if (!dv.Owning && !sv.Owning) {
    Store(dst, TPSPointerValue{sv.Target, sv.Type, 0});
    return true;
  }
  if (dv.Owning && dv.Target && dv.Type) DestroyValue(static_cast<uint8_t*>(dv.Target), dv.Type);
  Store(dst, TPSPointerValue{nullptr, nullptr, 0});
  if (!sv.Target || !sv.Type) return true;
  if (!sv.Owning) {
    Store(dst, TPSPointerValue{sv.Target, sv.Type, 0});
    return true;
  }
  // Owned targets may hold owning pointers themselves; a script copying a
  // value into its own field builds an ever deeper chain, which copying and
  // destroying would follow recursively. Deeper chains are refused.
  static thread_local int depth = 0;
  if (depth >= MaxOwnedChain) return false;
  ++depth;
  uint8_t* copy = CreateValue(sv.Type);
  bool ok = CopyValues(copy, static_cast<const uint8_t*>(sv.Target), sv.Type);
  --depth;
  if (!ok) {
    DestroyValue(copy, sv.Type);
    return false;
  }
  Store(dst, TPSPointerValue{copy, sv.Type, 1});
  return true;
}

bool CopyValues(uint8_t* dst, const uint8_t* src, const TPSTypeRec* type, size_t count) {
  if (dst == src || count == 0) return true;
  uint32_t size = type->FRealSize;
  if (!type->FManaged) {
    if (count == 1) {
      // The common plain sizes as single moves.
      switch (size) {
        case 1: *dst = *src; return true;
        case 2: std::memcpy(dst, src, 2); return true;
        case 4: std::memcpy(dst, src, 4); return true;
        case 8: std::memcpy(dst, src, 8); return true;
        default: break;
      }
    }
    std::memmove(dst, src, size_t(size) * count);
    return true;
  }
  bool ok = true;
  for (size_t n = 0; n < count; ++n, dst += size, src += size) {
    switch (type->FBaseType) {
      case btString:
      case btPChar:
      case btUnicodeString: {
        TPSBlockHeader* h = LoadBlock(src);
        AddRefBlock(h);
        ReleaseStringBlock(LoadBlock(dst));
        Store(dst, h);
        break;
      }
      case btWideString: PSUnicodeAssign(dst, PSUnicodeView(src)); break;
      case btArray: {
        TPSBlockHeader* h = LoadBlock(src);
        AddRefBlock(h);
        ReleaseArrayBlock(LoadBlock(dst), ElementType(type));
        Store(dst, h);
        break;
      }
      case btPointer: ok = CopyPointer(dst, src) && ok; break;
      case btVariant: ok = VariantSlotCopy(dst, src) && ok; break;
      case btInterface: {
        void* intf = Load<void*>(src);
        InterfaceAddRef(intf);
        InterfaceRelease(Load<void*>(dst));
        Store(dst, intf);
        break;
      }
      case btRecord: {
        auto* rec = static_cast<const TPSTypeRec_Record*>(type);
        for (size_t i = 0; i < rec->FFieldTypes.size(); ++i) {
          uint32_t off = rec->FRealFieldOffsets[i];
          ok = CopyValues(dst + off, src + off, rec->FFieldTypes[i]) && ok;
        }
        break;
      }
      case btStaticArray: {
        auto* arr = static_cast<const TPSTypeRec_StaticArray*>(type);
        ok = CopyValues(dst, src, arr->FArrayType, arr->FSize) && ok;
        break;
      }
      default: std::memcpy(dst, src, size); break;
    }
  }
  return ok;
}

// --- Getters ---------------------------------------------------------------------------------

uint32_t PSGetUInt(const uint8_t* src, const TPSTypeRec* type) {
  Deref(src, type);
  switch (type->FBaseType) {
    case btU8:
    case btChar: return *src;
    case btS8: return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(*src)));
    case btU16:
    case btWideChar: return Load<uint16_t>(src);
    case btS16: return static_cast<uint32_t>(static_cast<int32_t>(Load<int16_t>(src)));
    case btU32:
    case btS32: return Load<uint32_t>(src);
    case btS64: return static_cast<uint32_t>(Load<uint64_t>(src));
    case btVariant: return VariantSlotToOrdinal(src);
    default: RaiseTypeMismatch();
  }
}

int32_t PSGetInt(const uint8_t* src, const TPSTypeRec* type) {
  Deref(src, type);
  if (type->FBaseType == btVariant) return static_cast<int32_t>(static_cast<uint64_t>(VariantSlotToInt64(src)));
  return static_cast<int32_t>(PSGetUInt(src, type));
}

int64_t PSGetInt64(const uint8_t* src, const TPSTypeRec* type) {
  Deref(src, type);
  switch (type->FBaseType) {
    case btU8:
    case btChar: return *src;
    case btS8: return static_cast<int8_t>(*src);
    case btU16:
    case btWideChar: return Load<uint16_t>(src);
    case btS16: return Load<int16_t>(src);
    case btU32: return Load<uint32_t>(src);
    case btS32: return Load<int32_t>(src);
    case btS64: return Load<int64_t>(src);
    case btVariant: return VariantSlotToInt64(src);
    default: RaiseTypeMismatch();
  }
}

long double PSGetReal(const uint8_t* src, const TPSTypeRec* type) {
  Deref(src, type);
  switch (type->FBaseType) {
    case btU8:
    case btS8:
    case btU16:
    case btS16:
    case btU32:
    case btS32:
    case btS64:
    case btChar:
    case btWideChar: return static_cast<long double>(PSGetInt64(src, type));
    case btSingle: return Load<float>(src);
    case btDouble: return Load<double>(src);
    case btExtended: return LoadExtended(src);
    case btCurrency: return static_cast<long double>(Load<int64_t>(src)) / 10000.0L;
    case btVariant: return VariantSlotToReal(src);
    default: RaiseTypeMismatch();
  }
}

// Nearest integer, ties to even (the default rounding mode); out of range raises.
static int64_t RoundToInt64(long double v) {
  if (std::isnan(v)) throw rtl::EInvalidOp();
  long double r = std::nearbyintl(v);
  if (r >= 9223372036854775808.0L || r < -9223372036854775808.0L) throw rtl::EOverflow();
  return static_cast<int64_t>(r);
}

int64_t PSGetCurrency(const uint8_t* src, const TPSTypeRec* type) {
  Deref(src, type);
  switch (type->FBaseType) {
    case btU8:
    case btS8:
    case btU16:
    case btS16:
    case btU32:
    case btS32:
    case btS64:
    case btChar:
    case btWideChar: return static_cast<int64_t>(static_cast<uint64_t>(PSGetInt64(src, type)) * 10000u);
    case btSingle:
    case btDouble:
    case btExtended: return RoundToInt64(PSGetReal(src, type) * 10000.0L);
    case btCurrency: return Load<int64_t>(src);
    case btVariant: return VariantSlotToCurrency(src);
    default: RaiseTypeMismatch();
  }
}

rtl::AnsiString PSGetAnsiString(const uint8_t* src, const TPSTypeRec* type) {
  Deref(src, type);
  switch (type->FBaseType) {
    case btU8:
    case btChar: return rtl::AnsiString(1, static_cast<char>(*src));
    case btString:
    case btPChar: return rtl::AnsiString(PSAnsiView(src));
    case btWideString:
    case btUnicodeString: return rtl::UnicodeToUtf8(PSUnicodeView(src));
    case btWideChar: {
      char16_t c = Load<char16_t>(src);
      return rtl::UnicodeToUtf8(std::u16string_view(&c, 1));
    }
    case btVariant: return VariantSlotToAnsi(src);
    default: RaiseTypeMismatch();
  }
}

rtl::UnicodeString PSGetUnicodeString(const uint8_t* src, const TPSTypeRec* type) {
  Deref(src, type);
  switch (type->FBaseType) {
    // An 8-bit character above 127 stands for the Latin-1 character of that code.
    case btU8:
    case btChar: return rtl::UnicodeString(1, static_cast<char16_t>(*src));
    case btString:
    case btPChar: return rtl::Utf8ToUnicode(PSAnsiView(src));
    case btWideString:
    case btUnicodeString: return rtl::UnicodeString(PSUnicodeView(src));
    case btWideChar: return rtl::UnicodeString(1, Load<char16_t>(src));
    case btVariant: return VariantSlotToUnicode(src);
    default: RaiseTypeMismatch();
  }
}

// --- Setters -----------------------------------------------------------------------------------

const TPSTypeRec* PlainType(TPSBaseType bt) {
  static TPSTypeRec* types[32] = {};
  if (!types[bt & 31]) {
    types[bt & 31] = new TPSTypeRec(bt & 31);  // lives for the process: shared constants
    types[bt & 31]->CalcSize();
  }
  return types[bt & 31];
}

namespace {

void StoreIntoVariant(uint8_t* dst, TPSBaseType bt, const void* value) {
  if (!ValueToVariantSlot(dst, static_cast<const uint8_t*>(value), PlainType(bt))) RaiseTypeMismatch();
}
}  // namespace

// Setters write through a pointer slot to its target, as the getters read.
static void DerefForWrite(uint8_t*& dst, const TPSTypeRec*& type) {
  const uint8_t* p = dst;
  Deref(p, type);
  dst = const_cast<uint8_t*>(p);
}

void PSSetInt(uint8_t* dst, const TPSTypeRec* type, int64_t value) {
  DerefForWrite(dst, type);
  switch (type->FBaseType) {
    case btU8:
    case btS8:
    case btChar: *dst = static_cast<uint8_t>(value); break;
    case btU16:
    case btS16:
    case btWideChar: Store(dst, static_cast<uint16_t>(value)); break;
    case btU32:
    case btS32: Store(dst, static_cast<uint32_t>(value)); break;
    case btS64: Store(dst, value); break;
    case btSingle: Store(dst, static_cast<float>(value)); break;
    case btDouble: Store(dst, static_cast<double>(value)); break;
    case btExtended: StoreExtended(dst, static_cast<long double>(value)); break;
    case btCurrency: Store(dst, static_cast<int64_t>(static_cast<uint64_t>(value) * 10000u)); break;
    case btVariant: StoreIntoVariant(dst, btS64, &value); break;
    default: RaiseTypeMismatch();
  }
}

void PSSetReal(uint8_t* dst, const TPSTypeRec* type, long double value) {
  DerefForWrite(dst, type);
  switch (type->FBaseType) {
    case btSingle: Store(dst, static_cast<float>(value)); break;
    case btDouble: Store(dst, static_cast<double>(value)); break;
    case btExtended: StoreExtended(dst, value); break;
    case btCurrency: Store(dst, RoundToInt64(value * 10000.0L)); break;
    case btVariant: {
      double d = static_cast<double>(value);
      StoreIntoVariant(dst, btDouble, &d);
      break;
    }
    default: RaiseTypeMismatch();
  }
}

void PSSetCurrency(uint8_t* dst, const TPSTypeRec* type, int64_t value) {
  DerefForWrite(dst, type);
  switch (type->FBaseType) {
    case btCurrency: Store(dst, value); break;
    case btVariant: StoreIntoVariant(dst, btCurrency, &value); break;
    case btSingle:
    case btDouble:
    case btExtended: PSSetReal(dst, type, static_cast<long double>(value) / 10000.0L); break;
    default: RaiseTypeMismatch();
  }
}

void PSSetAnsiString(uint8_t* dst, const TPSTypeRec* type, std::string_view value) {
  DerefForWrite(dst, type);
  switch (type->FBaseType) {
    case btString:
    case btPChar: PSAnsiAssign(dst, value); break;
    case btWideString:
    case btUnicodeString: PSUnicodeAssign(dst, rtl::Utf8ToUnicode(value)); break;
    case btVariant: {
      uint8_t tmp[sizeof(void*)] = {};
      PSAnsiAssign(tmp, value);
      bool ok = ValueToVariantSlot(dst, tmp, PlainType(btString));
      ReleaseStringBlock(LoadBlock(tmp));
      if (!ok) RaiseTypeMismatch();
      break;
    }
    default: RaiseTypeMismatch();
  }
}

void PSSetUnicodeString(uint8_t* dst, const TPSTypeRec* type, std::u16string_view value) {
  DerefForWrite(dst, type);
  switch (type->FBaseType) {
    case btString:
    case btPChar: PSAnsiAssign(dst, rtl::UnicodeToUtf8(value)); break;
    case btWideString:
    case btUnicodeString: PSUnicodeAssign(dst, value); break;
    case btVariant: {
      uint8_t tmp[sizeof(void*)] = {};
      PSUnicodeAssign(tmp, value);
      bool ok = ValueToVariantSlot(dst, tmp, PlainType(btUnicodeString));
      ReleaseStringBlock(LoadBlock(tmp));
      if (!ok) RaiseTypeMismatch();
      break;
    }
    default: RaiseTypeMismatch();
  }
}

}  // namespace ps
