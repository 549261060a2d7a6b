// The run-time side of the routines the compiler declares for every script:
// strings, arrays, numbers, variants and the exception routines.
#include "engine/runtime/BuiltinRoutines.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "engine/runtime/HostCalls.h"
#include "engine/runtime/LibraryRows.h"
#include "rtl/Formatting.h"
#include "rtl/Locale.h"

namespace ps {

namespace {

constexpr std::u16string_view SOutOfStringRange = u"Out of string range";
constexpr std::u16string_view SInvalidFloat = u"Invalid float";
constexpr std::u16string_view SMathError = u"Math error";
constexpr std::u16string_view SInvalidInteger = u"''%s'' is not a valid integer value";

// One argument of a raw handler, followed through a var parameter's pointer.
struct TArg {
  uint8_t* P;
  const TPSTypeRec* T;
  TPSBaseType Base() const { return T->FBaseType; }
};

TArg At(TPSStack* stack, int index) {
  const uint8_t* p = stack->EntryValue(index);
  const TPSTypeRec* t = stack->EntryType(index);
  Deref(p, t);
  return {const_cast<uint8_t*>(p), t};
}

bool IsAnsi(const TPSTypeRec* t) {
  TPSBaseType b = t->FBaseType;
  return b == btString || b == btPChar || b == btChar;
}

// --- Argument checks ------------------------------------------------------------------------------
// The raw handlers below address their arguments by position from the top of
// the stack. A module is untrusted input: a call may push fewer entries than
// the declaration has, or values of other kinds, so every handler first checks
// the entries against its declaration (count, then base type after following
// a var parameter's pointer). The check costs a few compares per call and
// reports the executor's own errors.
using TKinds = uint32_t;
constexpr TKinds Kind(TPSBaseType b) { return TKinds(1) << b; }
// Any value the typed getters and setters check themselves.
constexpr TKinds kAny = ~Kind(btReturnAddress);
constexpr TKinds kOrdinal = Kind(btU8) | Kind(btS8) | Kind(btU16) | Kind(btS16) | Kind(btU32) | Kind(btS32) |
                            Kind(btS64) | Kind(btChar) | Kind(btWideChar) | Kind(btVariant);
// Text read by value (AnyString, String, Char).
constexpr TKinds kText = Kind(btString) | Kind(btPChar) | Kind(btChar) | Kind(btWideString) | Kind(btWideChar) |
                         Kind(btUnicodeString) | Kind(btVariant);
// Text changed in place: its slot must hold a string reference.
constexpr TKinds kVarText = Kind(btString) | Kind(btPChar) | Kind(btWideString) | Kind(btUnicodeString);
// The result of a function returning text or a character.
constexpr TKinds kTextResult = kText;
constexpr TKinds kVarLength = kVarText | Kind(btArray);
// What Length and GetArrayLength measure.
constexpr TKinds kMeasurable = kText | Kind(btArray) | Kind(btStaticArray);

// Kinds of the entries from the top down: a function's result first, then its
// parameters in declaration order; a procedure's first parameter is the top.
struct TSignature {
  uint8_t Count;
  TKinds Kinds[4];
};

bool CheckArgs(TPSExec* exec, TPSStack* stack, const TSignature& sig) {
  if (stack->Count() < sig.Count) {
    exec->CMD_Err(erOutOfStackRange);
    return false;
  }
  for (int i = 0; i < sig.Count; ++i) {
    const TPSTypeRec* t = stack->EntryType(-1 - i);
    if (t && t->FBaseType == btPointer) t = Load<TPSPointerValue>(stack->EntryValue(-1 - i)).Type;
    if (!t || t->FBaseType >= 32 || !(sig.Kinds[i] & Kind(t->FBaseType))) {
      exec->CMD_Err(ErTypeMismatch);
      return false;
    }
  }
  return true;
}

// A raw handler behind its argument check.
template <const TSignature& Sig, TPSProcPtr Handler>
bool Checked(TPSExec* exec, TPSExternalProcRec* proc, TPSStack* globals, TPSStack* stack) {
  return CheckArgs(exec, stack, Sig) && Handler(exec, proc, globals, stack);
}

[[noreturn]] void RaiseStringRange(TPSExec* exec) {
  throw EScriptException(rtl::UnicodeString(SOutOfStringRange), exec->CurrentProcNo(),
                         static_cast<int32_t>(exec->CurrentPosition()), exec);
}

int64_t Clamp0(int64_t v) { return v < 0 ? 0 : v; }

// Copy(s, from, count) on either character width; positions count from 1.
template <class S>
S CopyText(const S& s, int64_t from, int64_t count) {
  if (from < 1) from = 1;
  if (count <= 0 || from > static_cast<int64_t>(s.size())) return S();
  return s.substr(static_cast<size_t>(from - 1), static_cast<size_t>(count));
}

template <class S>
void DeleteText(S& s, int64_t from, int64_t count) {
  if (from < 1 || from > static_cast<int64_t>(s.size()) || count <= 0) return;
  s.erase(static_cast<size_t>(from - 1), static_cast<size_t>(count));
}

template <class S>
void InsertText(const S& what, S& s, int64_t pos) {
  if (pos < 1) pos = 1;
  if (pos > static_cast<int64_t>(s.size())) pos = static_cast<int64_t>(s.size()) + 1;
  s.insert(static_cast<size_t>(pos - 1), what);
}

template <class S>
S AsciiCase(S s, bool upper) {
  for (auto& c : s) {
    if (upper && c >= 'a' && c <= 'z') c = static_cast<typename S::value_type>(c - 32);
    if (!upper && c >= 'A' && c <= 'Z') c = static_cast<typename S::value_type>(c + 32);
  }
  return s;
}

template <class S>
S TrimText(const S& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<uint32_t>(static_cast<std::make_unsigned_t<typename S::value_type>>(s[b])) <= 32) ++b;
  while (e > b && static_cast<uint32_t>(static_cast<std::make_unsigned_t<typename S::value_type>>(s[e - 1])) <= 32) --e;
  return s.substr(b, e - b);
}

template <class S>
S Pad(const S& s, int64_t width, typename S::value_type fill, bool left) {
  int64_t add = width - static_cast<int64_t>(s.size());
  if (add <= 0) return s;
  S padding(static_cast<size_t>(add), fill);
  return left ? padding + s : s + padding;
}

// Applies `f` to an AnyString argument in its own width and stores the text
// in the result slot (top of the stack).
template <class F>
bool StringFunction(TArg a, TArg r, F f) {
  if (IsAnsi(a.T)) {
    std::string out = f(PSGetAnsiString(a.P, a.T));
    if (IsAnsi(r.T))
      PSSetAnsiString(r.P, r.T, out);
    else
      PSSetUnicodeString(r.P, r.T, rtl::Utf8ToUnicode(out));
  } else {
    std::u16string out = f(PSGetUnicodeString(a.P, a.T));
    PSSetUnicodeString(r.P, r.T, out);
  }
  return true;
}

// Generic lambdas need both widths; these adapters pick one by argument.
#define PS_STRING_FN(body) [&](auto s) -> decltype(s) { body }

bool IsUnicode(const TPSTypeRec* t) { return t->FBaseType == btUnicodeString || t->FBaseType == btWideString; }
bool IsAnsiString(const TPSTypeRec* t) { return t->FBaseType == btString || t->FBaseType == btPChar; }

}  // namespace

void CopyTo(uint8_t* r, const TPSTypeRec* rt, const uint8_t* s, const TPSTypeRec* st, int64_t from, int64_t count) {
  const TArg a{const_cast<uint8_t*>(s), st}, result{r, rt};
  // A string of the result's own width is sliced in place: one new block,
  // no copies of the whole text on the way.
  if (IsUnicode(a.T) && IsUnicode(result.T)) {
    PSUnicodeAssign(result.P, CopyText(PSUnicodeView(a.P), from, count));
  } else if (IsAnsiString(a.T) && IsAnsiString(result.T)) {
    PSAnsiAssign(result.P, CopyText(PSAnsiView(a.P), from, count));
  } else {
    StringFunction(a, result, PS_STRING_FN(return CopyText(s, from, count);));
  }
}

namespace {
std::string_view Decimal(int64_t value, char (&buffer)[24]) {
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
  return std::string_view(buffer, static_cast<size_t>(end - buffer));
}
}  // namespace

std::u16string_view WideDecimal(int64_t value, char16_t (&buffer)[24]) {
  char digits[24];
  const std::string_view text = Decimal(value, digits);
  for (size_t i = 0; i < text.size(); ++i) buffer[i] = static_cast<char16_t>(text[i]);
  return std::u16string_view(buffer, text.size());
}

void IntToText(uint8_t* r, const TPSTypeRec* rt, int64_t value) {
  // The digits go straight into the result's string block.
  if (IsAnsiString(rt)) {
    char digits[24];
    PSAnsiAssign(r, Decimal(value, digits));
    return;
  }
  char16_t wide[24];
  const std::u16string_view text = WideDecimal(value, wide);
  if (IsUnicode(rt))
    PSUnicodeAssign(r, text);
  else
    PSSetUnicodeString(r, rt, rtl::UnicodeString(text));
}

int32_t PosIn(const uint8_t* subP, const TPSTypeRec* subT, const uint8_t* sP, const TPSTypeRec* sT) {
  const TArg sub{const_cast<uint8_t*>(subP), subT}, s{const_cast<uint8_t*>(sP), sT};
  size_t found;
  if (IsUnicode(sub.T) && IsUnicode(s.T)) {
    // Searched where the texts lie.
    const std::u16string_view needle = PSUnicodeView(sub.P);
    found = needle.empty() ? std::u16string_view::npos : PSUnicodeView(s.P).find(needle);
  } else if (IsAnsiString(sub.T) && IsAnsiString(s.T)) {
    const std::string_view needle = PSAnsiView(sub.P);
    found = needle.empty() ? std::string_view::npos : PSAnsiView(s.P).find(needle);
  } else if (IsAnsi(sub.T) && IsAnsi(s.T)) {
    std::string needle = PSGetAnsiString(sub.P, sub.T);
    found = needle.empty() ? std::string::npos : PSGetAnsiString(s.P, s.T).find(needle);
  } else if (IsUnicode(s.T)) {
    // Only the (usually short) needle is converted; the text is searched
    // where it lies. A short ASCII needle is widened on the spot.
    const std::string_view ansi = IsAnsiString(sub.T) ? PSAnsiView(sub.P) : std::string_view();
    char16_t wide[16];
    bool ascii = IsAnsiString(sub.T) && !ansi.empty() && ansi.size() <= std::size(wide);
    for (size_t i = 0; ascii && i < ansi.size(); ++i) {
      ascii = static_cast<unsigned char>(ansi[i]) < 0x80;
      wide[i] = static_cast<char16_t>(ansi[i]);
    }
    if (ascii) {
      found = PSUnicodeView(s.P).find(std::u16string_view(wide, ansi.size()));
    } else {
      const std::u16string needle = PSGetUnicodeString(sub.P, sub.T);
      found = needle.empty() ? std::u16string_view::npos : PSUnicodeView(s.P).find(needle);
    }
  } else {
    std::u16string needle = PSGetUnicodeString(sub.P, sub.T);
    found = needle.empty() ? std::u16string::npos : PSGetUnicodeString(s.P, s.T).find(needle);
  }
  return found == std::string::npos ? 0 : static_cast<int32_t>(found + 1);
}

namespace {

bool DoCopy(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  const TArg a = At(stack, -2), r = At(stack, -1);
  CopyTo(r.P, r.T, a.P, a.T, stack->GetInt(-3), stack->GetInt(-4));
  return true;
}

bool DoPos(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  const TArg sub = At(stack, -2), s = At(stack, -3);
  stack->SetInt(-1, PosIn(sub.P, sub.T, s.P, s.T));
  return true;
}

bool DoDelete(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  TArg s = At(stack, -1);
  int64_t from = stack->GetInt(-2), count = stack->GetInt(-3);
  if (IsAnsi(s.T)) {
    std::string text = PSGetAnsiString(s.P, s.T);
    DeleteText(text, from, count);
    PSSetAnsiString(s.P, s.T, text);
  } else {
    std::u16string text = PSGetUnicodeString(s.P, s.T);
    DeleteText(text, from, count);
    PSSetUnicodeString(s.P, s.T, text);
  }
  return true;
}

bool DoInsert(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  TArg what = At(stack, -1), s = At(stack, -2);
  int64_t pos = stack->GetInt(-3);
  if (IsAnsi(s.T)) {
    std::string text = PSGetAnsiString(s.P, s.T);
    InsertText(PSGetAnsiString(what.P, what.T), text, pos);
    PSSetAnsiString(s.P, s.T, text);
  } else {
    std::u16string text = PSGetUnicodeString(s.P, s.T);
    InsertText(PSGetUnicodeString(what.P, what.T), text, pos);
    PSSetUnicodeString(s.P, s.T, text);
  }
  return true;
}

// Length of a string (bytes or UTF-16 units) or of an array.
int64_t LengthOf(TArg a) {
  switch (a.Base()) {
    case btString:
    case btPChar: return static_cast<int64_t>(PSAnsiView(a.P).size());
    case btWideString:
    case btUnicodeString: return static_cast<int64_t>(PSUnicodeView(a.P).size());
    case btChar:
    case btWideChar: return 1;
    case btArray: return PSDynArrayGetLength(a.P, a.T);
    case btStaticArray: return static_cast<const TPSTypeRec_StaticArray*>(a.T)->FSize;
    case btVariant: {
      rtl::Variant v = TPSValueTraits<rtl::Variant>::Get(a.P, a.T);
      if (v.IsArray()) return v.ArrayHighBound(1) - v.ArrayLowBound(1) + 1;
      return static_cast<int64_t>(v.AsUnicodeString().size());
    }
    default: RaiseTypeMismatch();
  }
}

bool DoLength(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  stack->SetInt64(-1, LengthOf(At(stack, -2)));
  return true;
}

void SetLengthOf(TArg a, int64_t length) {
  length = Clamp0(length);
  switch (a.Base()) {
    case btString:
    case btPChar: {
      std::string text(PSAnsiView(a.P));
      text.resize(static_cast<size_t>(length), '\0');
      PSAnsiAssign(a.P, text);
      break;
    }
    case btWideString:
    case btUnicodeString: {
      std::u16string text(PSUnicodeView(a.P));
      text.resize(static_cast<size_t>(length), u'\0');
      PSUnicodeAssign(a.P, text);
      break;
    }
    case btArray: PSDynArraySetLength(a.P, a.T, static_cast<uint32_t>(length)); break;
    default: RaiseTypeMismatch();
  }
}

// SetLength(var s; NewLength) and SetArrayLength(var arr; count): a procedure,
// so the first parameter is on top.
bool DoSetLength(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  SetLengthOf(At(stack, -1), stack->GetInt(-2));
  return true;
}

bool DoLowHigh(TPSStack* stack, bool high) {
  TArg a = At(stack, -2);
  int64_t low = 0, hi = 0;
  switch (a.Base()) {
    case btString:
    case btPChar:
    case btWideString:
    case btUnicodeString:
      low = 1;
      hi = LengthOf(a);
      break;
    case btArray: hi = LengthOf(a) - 1; break;
    case btStaticArray: {
      auto* sa = static_cast<const TPSTypeRec_StaticArray*>(a.T);
      low = sa->FStartOffset;
      hi = low + static_cast<int64_t>(sa->FSize) - 1;
      break;
    }
    case btU8:
    case btChar: hi = 255; break;
    case btS8: low = -128, hi = 127; break;
    case btU16:
    case btWideChar: hi = 65535; break;
    case btS16: low = -32768, hi = 32767; break;
    case btU32: hi = 4294967295ll; break;
    case btS32: low = std::numeric_limits<int32_t>::min(), hi = std::numeric_limits<int32_t>::max(); break;
    case btS64: low = std::numeric_limits<int64_t>::min(), hi = std::numeric_limits<int64_t>::max(); break;
    default: RaiseTypeMismatch();
  }
  stack->SetInt64(-1, high ? hi : low);
  return true;
}

bool DoLow(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) { return DoLowHigh(stack, false); }
bool DoHigh(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) { return DoLowHigh(stack, true); }

// Wraps around at the ends of the range, as integer arithmetic of the
// executor does (computed unsigned: signed overflow has no defined result).
int64_t Wrapped(int64_t v, int64_t delta) {
  return static_cast<int64_t>(static_cast<uint64_t>(v) + static_cast<uint64_t>(delta));
}

bool Step(TPSStack* stack, int64_t delta) {
  TArg a = At(stack, -1);
  if (a.Base() == btVariant) {
    rtl::Variant v = TPSValueTraits<rtl::Variant>::Get(a.P, a.T);
    TPSValueTraits<rtl::Variant>::Set(a.P, a.T, rtl::Variant(Wrapped(v.AsInt64(), delta)));
  } else {
    PSSetInt(a.P, a.T, Wrapped(PSGetInt64(a.P, a.T), delta));
  }
  return true;
}
bool DoInc(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) { return Step(stack, 1); }
bool DoDec(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) { return Step(stack, -1); }

// StrGet(var S; I): Char, StrGet2(S; I): Char, WStrGet(var S; I): WideChar.
bool DoStrGet(TPSExec* exec, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  TArg s = At(stack, -2);
  int64_t i = stack->GetInt(-3);
  uint32_t code;
  if (IsAnsi(s.T)) {
    std::string_view text = s.Base() == btChar ? std::string_view(reinterpret_cast<char*>(s.P), 1) : PSAnsiView(s.P);
    if (i < 1 || i > static_cast<int64_t>(text.size())) RaiseStringRange(exec);
    code = static_cast<uint8_t>(text[static_cast<size_t>(i - 1)]);
  } else {
    // A string's own text is read in place; other kinds convert.
    rtl::UnicodeString converted;
    std::u16string_view text;
    if (IsUnicode(s.T)) {
      text = PSUnicodeView(s.P);
    } else {
      converted = PSGetUnicodeString(s.P, s.T);
      text = converted;
    }
    if (i < 1 || i > static_cast<int64_t>(text.size())) RaiseStringRange(exec);
    code = text[static_cast<size_t>(i - 1)];
  }
  TArg r = At(stack, -1);
  PSSetInt(r.P, r.T, code);
  return true;
}

// StrSet(c; I; var s) and WStrSet(c; I; var s).
bool DoStrSet(TPSExec* exec, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  TArg c = At(stack, -1), s = At(stack, -3);
  int64_t i = stack->GetInt(-2);
  if (IsAnsi(s.T)) {
    std::string text(PSAnsiView(s.P));
    if (i < 1 || i > static_cast<int64_t>(text.size())) RaiseStringRange(exec);
    std::string ch = PSGetAnsiString(c.P, c.T);
    text[static_cast<size_t>(i - 1)] = ch.empty() ? '\0' : ch[0];
    PSAnsiAssign(s.P, text);
  } else {
    std::u16string text(PSUnicodeView(s.P));
    if (i < 1 || i > static_cast<int64_t>(text.size())) RaiseStringRange(exec);
    std::u16string ch = PSGetUnicodeString(c.P, c.T);
    text[static_cast<size_t>(i - 1)] = ch.empty() ? u'\0' : ch[0];
    PSUnicodeAssign(s.P, text);
  }
  return true;
}

bool DoVarArrayGet(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  TArg s = At(stack, -2);
  rtl::Variant v = TPSValueTraits<rtl::Variant>::Get(s.P, s.T);
  int32_t i = stack->GetInt(-3);
  TArg r = At(stack, -1);
  TPSValueTraits<rtl::Variant>::Set(r.P, r.T, v.ArrayGet({i}));
  return true;
}

bool DoVarArraySet(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  TArg c = At(stack, -1), s = At(stack, -3);
  int32_t i = stack->GetInt(-2);
  rtl::Variant v = TPSValueTraits<rtl::Variant>::Get(s.P, s.T);
  v.ArrayElement({i}) = TPSValueTraits<rtl::Variant>::Get(c.P, c.T);
  TPSValueTraits<rtl::Variant>::Set(s.P, s.T, v);
  return true;
}

bool DoUppercase(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  if (At(stack, -2).Base() == btWideString) {
    TArg a = At(stack, -2);
    stack->SetUnicodeString(-1, rtl::AnsiUpperCase(PSGetUnicodeString(a.P, a.T)));
    return true;
  }
  return StringFunction(At(stack, -2), At(stack, -1), PS_STRING_FN(return AsciiCase(s, true);));
}

bool DoLowercase(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  if (At(stack, -2).Base() == btWideString) {
    TArg a = At(stack, -2);
    stack->SetUnicodeString(-1, rtl::AnsiLowerCase(PSGetUnicodeString(a.P, a.T)));
    return true;
  }
  return StringFunction(At(stack, -2), At(stack, -1), PS_STRING_FN(return AsciiCase(s, false);));
}

bool DoTrim(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  return StringFunction(At(stack, -2), At(stack, -1), PS_STRING_FN(return TrimText(s);));
}

template <char Fill, bool Left>
bool DoPad(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  int64_t width = stack->GetInt(-3);
  return StringFunction(
      At(stack, -2), At(stack, -1),
      PS_STRING_FN(using Ch = typename decltype(s)::value_type; return Pad(s, width, static_cast<Ch>(Fill), Left);));
}

bool DoGetArrayLength(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  stack->SetInt64(-1, LengthOf(At(stack, -2)));
  return true;
}

bool DoSizeOf(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  TArg a = At(stack, -2);
  stack->SetInt(-1, static_cast<int32_t>(a.T->FRealSize));
  return true;
}

// Assigned(x): not nil, not zero, not empty.
bool DoAssigned(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  TArg a = At(stack, -2);
  bool assigned = false;
  for (uint32_t i = 0; i < a.T->FRealSize && !assigned; ++i) assigned = a.P[i] != 0;
  stack->SetBool(-1, assigned);
  return true;
}

// Integer text as StrToInt reads it: blanks around, a sign, decimal digits
// or $ and hexadecimal digits. Read by code unit: in UTF-8 text every byte
// of a character beyond ASCII is above the range any of these take.
template <class Ch>
bool ParseIntegerText(std::basic_string_view<Ch> text, int64_t low, int64_t high, int64_t& out) {
  auto at = [&](size_t k) { return static_cast<char32_t>(static_cast<std::make_unsigned_t<Ch>>(text[k])); };
  size_t i = 0, n = text.size();
  while (i < n && at(i) <= U' ') ++i;
  while (n > i && at(n - 1) <= U' ') --n;
  bool negative = false;
  if (i < n && (at(i) == U'+' || at(i) == U'-')) negative = at(i++) == U'-';
  bool hex = false;
  if (i < n && at(i) == U'$') {
    hex = true;
    ++i;
  }
  if (i >= n) return false;
  unsigned __int128 value = 0;
  for (; i < n; ++i) {
    char32_t c = at(i);
    int digit;
    if (c >= U'0' && c <= U'9')
      digit = int(c - U'0');
    else if (hex && c >= U'a' && c <= U'f')
      digit = int(c - U'a') + 10;
    else if (hex && c >= U'A' && c <= U'F')
      digit = int(c - U'A') + 10;
    else
      return false;
    value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
    if (value > (static_cast<unsigned __int128>(1) << 64)) return false;
  }
  __int128 signedValue = negative ? -static_cast<__int128>(value) : static_cast<__int128>(value);
  if (signedValue < low || signedValue > high) return false;
  out = static_cast<int64_t>(signedValue);
  return true;
}
bool TryParseInteger(std::u16string_view text, int64_t low, int64_t high, int64_t& out) {
  return ParseIntegerText(text, low, high, out);
}

long double CheckedReal(long double v) {
  if (std::isnan(v) || std::isinf(v)) throw rtl::EMathError(rtl::UnicodeString(SMathError));
  return v;
}

int32_t ToLongint(long double v) {
  if (!(v >= -2147483648.0L && v <= 2147483647.0L)) throw rtl::EMathError(rtl::UnicodeString(SMathError));
  return static_cast<int32_t>(v);
}

rtl::UnicodeString FloatText(long double v) {
  rtl::TFormatSettings settings = rtl::FormatSettings();
  settings.DecimalSeparator = u'.';
  return rtl::FloatToStrExact(v, 12, settings);
}

bool DoRaiseLastException(TPSExec* exec, TPSExternalProcRec*, TPSStack*, TPSStack*) {
  TPSError code = exec->LastEx();
  if (code == ErNoError) return true;
  exec->CMD_Err3(code, exec->LastExParam(), exec->LastExObject());
  return false;
}

bool DoRaiseException(TPSExec* exec, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  auto code = static_cast<TPSError>(stack->GetUInt(-1));
  exec->CMD_Err2(code, stack->GetUnicodeString(-2));
  return false;
}


constexpr TSignature SigCopy{4, {kTextResult, kText, kOrdinal, kOrdinal}};
constexpr TSignature SigPos{3, {kOrdinal, kText, kText}};
constexpr TSignature SigDelete{3, {kVarText, kOrdinal, kOrdinal}};
constexpr TSignature SigInsert{3, {kText, kVarText, kOrdinal}};
constexpr TSignature SigLengthOf{2, {kOrdinal, kMeasurable}};
constexpr TSignature SigSetLength{2, {kVarLength, kOrdinal}};
constexpr TSignature SigStrGet{3, {kOrdinal, kText, kOrdinal}};
constexpr TSignature SigStrSet{3, {kText, kOrdinal, kVarText}};
constexpr TSignature SigVarArrayGet{3, {kAny, Kind(btVariant), kOrdinal}};
constexpr TSignature SigVarArraySet{3, {kAny, kOrdinal, Kind(btVariant)}};
constexpr TSignature SigTextFunction{2, {kTextResult, kText}};
constexpr TSignature SigPad{3, {kTextResult, kText, kOrdinal}};
constexpr TSignature SigLowHigh{2, {kAny, kAny}};
constexpr TSignature SigStep{1, {kOrdinal}};
constexpr TSignature SigSizeOf{2, {kAny, kAny}};
constexpr TSignature SigRaiseException{2, {kOrdinal, kText}};
constexpr TSignature SigIntToStr{2, {kTextResult, kOrdinal}};


// IntToStr and Int64ToStr, StrToInt and StrToIntDef share their code.
// IntToStr(i): the digits go straight into the result's string block.
bool DoIntToStr(TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  const TArg r = At(stack, -1);
  IntToText(r.P, r.T, stack->GetInt64(-2));
  return true;
}

int32_t StrToIntDef(const rtl::UnicodeString& s, int32_t def) {
  int64_t v;
  return TryParseInteger(s, INT32_MIN, INT32_MAX, v) ? static_cast<int32_t>(v) : def;
}

// StrToInt as a plain handler, so that the fast loop knows it.
bool DoStrToInt(TPSExec* exec, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  return InvokeWithStack<int32_t, rtl::UnicodeString>(*exec, *stack,
                                                      [](const rtl::UnicodeString& s) { return StrToIntDef(s, -1); });
}

rtl::AnsiString Replicate(const rtl::AnsiString& c, int32_t n) {
  return rtl::AnsiString(static_cast<size_t>(Clamp0(n)), c.empty() ? '\0' : c[0]);
}

// A routine reading the executor's last exception.
template <class R>
TPSRoutineBinder OfLastException(R (*read)(TPSExec& exec)) {
  return [read](TPSExec& exec, std::string_view key) {
    TPSExec* self = &exec;
    RegisterNativeFunction(exec, key, std::function<R()>([self, read] { return read(*self); }));
  };
}

}  // namespace

std::span<const TPSRoutineRow> InternalRoutineRows() {
  static const std::vector<TPSRoutineRow> rows = {
      {"function Assigned(I: Longint): Boolean;", Raw(&Checked<SigSizeOf, DoAssigned>), {}, "!ASSIGNED"},
      {"procedure _T(Name: tbtString; v: Variant);", Raw(&NotificationVariantSet), {}, "!NOTIFICATIONVARIANTSET"},
      {"function _T(Name: tbtString): Variant;", Raw(&NotificationVariantGet), {}, "!NOTIFICATIONVARIANTGET"},
  };
  return rows;
}

std::span<const TPSRoutineRow> StandardRoutineRows() {
  using rtl::UnicodeString;
  using rtl::Variant;
  using RealFn = long double (*)(long double);
  static const std::vector<TPSRoutineRow> rows = {
      {"function IntToStr(i: Int64): String;", Raw(&Checked<SigIntToStr, DoIntToStr>)},
      {"function StrToInt(s: String): Longint;", Raw(&DoStrToInt)},
      {"function StrToIntDef(s: String; def: Longint): Longint;",
       Native([](UnicodeString s, int32_t def) { return StrToIntDef(s, def); })},
      {"function Copy(s: AnyString; iFrom, iCount: Longint): AnyString;", Raw(&Checked<SigCopy, DoCopy>)},
      {"function Pos(SubStr, S: AnyString): Longint;", Raw(&Checked<SigPos, DoPos>)},
      {"procedure Delete(var s: AnyString; ifrom, icount: Longint);", Raw(&Checked<SigDelete, DoDelete>)},
      {"procedure Insert(s: AnyString; var s2: AnyString; iPos: Longint);", Raw(&Checked<SigInsert, DoInsert>)},
      {"function GetArrayLength: integer;", Raw(&Checked<SigLengthOf, DoGetArrayLength>), "var arr"},
      {"procedure SetArrayLength;", Raw(&Checked<SigSetLength, DoSetLength>), "var arr; count: Integer"},
      {"Function StrGet(var S : String; I : Integer) : Char;", Raw(&Checked<SigStrGet, DoStrGet>)},
      {"Function StrGet2(S : String; I : Integer) : Char;", Raw(&Checked<SigStrGet, DoStrGet>)},
      {"procedure StrSet(c : Char; I : Integer; var s : String);", Raw(&Checked<SigStrSet, DoStrSet>)},
      {"Function WStrGet(var S : AnyString; I : Integer) : WideChar;", Raw(&Checked<SigStrGet, DoStrGet>)},
      {"procedure WStrSet(c : AnyString; I : Integer; var s : AnyString);", Raw(&Checked<SigStrSet, DoStrSet>)},
      {"Function VarArrayGet(var S : Variant; I : Integer) : Variant;", Raw(&Checked<SigVarArrayGet, DoVarArrayGet>)},
      {"procedure VarArraySet(c : Variant; I : Integer; var s : Variant);",
       Raw(&Checked<SigVarArraySet, DoVarArraySet>)},
      {"Function AnsiUppercase(s : String) : String;", Native([](UnicodeString s) { return rtl::AnsiUpperCase(s); })},
      {"Function AnsiLowercase(s : String) : String;", Native([](UnicodeString s) { return rtl::AnsiLowerCase(s); })},
      {"Function Uppercase(s : AnyString) : AnyString;", Raw(&Checked<SigTextFunction, DoUppercase>)},
      {"Function Lowercase(s : AnyString) : AnyString;", Raw(&Checked<SigTextFunction, DoLowercase>)},
      {"Function Trim(s : AnyString) : AnyString;", Raw(&Checked<SigTextFunction, DoTrim>)},
      {"function Length: Integer;", Raw(&Checked<SigLengthOf, DoLength>), "s"},
      {"procedure SetLength;", Raw(&Checked<SigSetLength, DoSetLength>), "var s; NewLength: Integer"},
      {"function Low: Int64;", Raw(&Checked<SigLowHigh, DoLow>), "x"},
      {"function High: Int64;", Raw(&Checked<SigLowHigh, DoHigh>), "x"},
      {"procedure Dec;", Raw(&Checked<SigStep, DoDec>), "var x"},
      {"procedure Inc;", Raw(&Checked<SigStep, DoInc>), "var x"},
      {"Function Sin(e : Extended) : Extended;",
       Native(RealFn([](long double e) { return CheckedReal(std::sin(e)); }))},
      {"Function Cos(e : Extended) : Extended;",
       Native(RealFn([](long double e) { return CheckedReal(std::cos(e)); }))},
      {"Function Sqrt(e : Extended) : Extended;",
       Native(RealFn([](long double e) { return CheckedReal(std::sqrt(e)); }))},
      {"Function Round(e : Extended) : Longint;",
       Native([](long double e) { return ToLongint(std::nearbyint(e)); })},  // halves to even
      {"Function Trunc(e : Extended) : Longint;", Native([](long double e) { return ToLongint(std::trunc(e)); })},
      {"Function Int(e : Extended) : Extended;", Native(RealFn([](long double e) { return std::trunc(e); }))},
      {"Function Pi : Extended;", Native([] { return 3.1415926535897932385L; })},
      {"Function Abs(e : Extended) : Extended;", Native(RealFn([](long double e) { return std::fabs(e); }))},
      {"function StrToFloat(s: String): Extended;", Native([](UnicodeString s) {
         long double v;
         if (!rtl::TryTextToFloat(s, v, u'.')) throw rtl::EConvertError(UnicodeString(SInvalidFloat));
         return v;
       })},
      {"Function FloatToStr(e : Extended) : String;", Native(&FloatText)},
      {"Function Padl(s : AnyString;I : longInt) : AnyString;", Raw(&Checked<SigPad, DoPad<' ', true>>)},
      {"Function Padr(s : AnyString;I : longInt) : AnyString;", Raw(&Checked<SigPad, DoPad<' ', false>>)},
      {"Function Padz(s : AnyString;I : longInt) : AnyString;", Raw(&Checked<SigPad, DoPad<'0', true>>)},
      {"Function Replicate(c : char;I : longInt) : String;", Native(&Replicate)},
      {"Function StringOfChar(c : char;I : longInt) : String;", Native(&Replicate)},
      {"function Unassigned: Variant;", Native([] { return Variant(); })},
      {"function VarIsEmpty(const V: Variant): Boolean;", Native([](Variant v) { return v.IsEmpty(); })},
      {"function Null: Variant;", Native([] { return Variant::Null(); })},
      {"function VarIsNull(const V: Variant): Boolean;", Native([](Variant v) { return v.IsNull(); })},
      {"function VarType(const V: Variant): TVarType;",
       Native([](Variant v) { return static_cast<uint16_t>(v.VType()); })},
      {"procedure RaiseLastException;", Raw(&DoRaiseLastException)},
      {"procedure RaiseException(Ex: TIFException; Param: String);",
       Raw(&Checked<SigRaiseException, DoRaiseException>)},
      {"function ExceptionType: TIFException;",
       OfLastException(+[](TPSExec& e) { return static_cast<uint8_t>(e.LastEx()); })},
      {"function ExceptionParam: String;", OfLastException(+[](TPSExec& e) { return e.LastExParam(); })},
      {"function ExceptionProc: Cardinal;",
       OfLastException(+[](TPSExec& e) { return static_cast<uint32_t>(e.LastExProc()); })},
      {"function ExceptionPos: Cardinal;",
       OfLastException(+[](TPSExec& e) { return static_cast<uint32_t>(e.LastExPos()); })},
      {"function ExceptionToString(er: TIFException; Param: String): String;",
       Native([](uint8_t code, UnicodeString param) { return TPSErrorToString(static_cast<TPSError>(code), param); })},
      {"function StrToInt64(s: String): int64;", Native([](UnicodeString s) {
         int64_t v;
         if (!TryParseInteger(s, INT64_MIN, INT64_MAX, v))
           throw rtl::EConvertError(rtl::FormatText(SInvalidInteger, {s}));
         return v;
       })},
      {"function Int64ToStr(i: Int64): String;", Raw(&Checked<SigIntToStr, DoIntToStr>)},
      {"function SizeOf: Longint;", Raw(&Checked<SigSizeOf, DoSizeOf>), "Data"},
      {"function IDispatchInvoke(Self: IDispatch; PropertySet: Boolean; const Name: String; Par: array of variant): "
       "variant;",
       Raw(&DispatchInvoke)},
  };
  return rows;
}

int32_t StrToIntOf(const uint8_t* s, const TPSTypeRec* sType) {
  int64_t v;
  const bool read = IsAnsi(sType) ? ParseIntegerText(PSAnsiView(s), INT32_MIN, INT32_MAX, v)
                                  : ParseIntegerText(PSUnicodeView(s), INT32_MIN, INT32_MAX, v);
  return read ? static_cast<int32_t>(v) : -1;
}

TInlineRoutine InlineRoutineOf(TPSProcPtr handler) {
  if (handler == &Checked<SigLengthOf, DoLength>) return TInlineRoutine::Length;
  if (handler == &Checked<SigStrGet, DoStrGet>) return TInlineRoutine::StrGet;
  if (handler == &Checked<SigPos, DoPos>) return TInlineRoutine::Pos;
  if (handler == &Checked<SigCopy, DoCopy>) return TInlineRoutine::Copy;
  if (handler == &Checked<SigIntToStr, DoIntToStr>) return TInlineRoutine::IntToStr;
  if (handler == &DoStrToInt) return TInlineRoutine::StrToInt;
  return TInlineRoutine::None;
}

void RegisterStandardRoutines(TPSExec& exec) {
  BindRoutines(exec, InternalRoutineRows());
  BindRoutines(exec, StandardRoutineRows());
}

}  // namespace ps
