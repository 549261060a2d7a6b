// Host routines as ordinary typed C++ functions. The adapters here read the
// arguments of a call from the stack, call the routine and write the result
// and the var parameters back, one adapter per C++ parameter type; nothing is
// written by hand per routine. The host class importer builds on the same
// value traits.
//
// Stack layout at a host entry point (the call pushes the last parameter
// first): for a function the top entry refers to the result and the first
// parameter lies below it; for a procedure the first parameter is the top.
// Var parameters are pointer entries; the traits read through them.
#pragma once

#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/runtime/Operations.h"
#include "engine/runtime/Values.h"
#include "engine/runtime/VariantSlot.h"
#include "engine/uPSRuntime.h"
#include "rtl/Variant.h"

namespace ps {

// An open array parameter ("array of T"): the elements and the last index.
template <class T>
struct TPSOpenArray {
  std::vector<T> Items;
  int High() const { return static_cast<int>(Items.size()) - 1; }
};

// One element of an "array of const" parameter, tagged by its script type.
struct TPSVarRec {
  enum TKind {
    vtInteger,
    vtExtended,
    vtInt64,
    vtChar,
    vtWideChar,
    vtAnsiString,
    vtWideString,
    vtUnicodeString,
    vtPChar,
    vtVariant,
    vtObject,
    vtInterface,
    vtPointer
  };
  TKind Kind = vtPointer;
  int64_t Int = 0;  // vtInteger, vtInt64, vtChar, vtWideChar (the code)
  long double Real = 0;
  rtl::AnsiString Ansi;        // vtAnsiString, vtPChar
  rtl::UnicodeString Unicode;  // vtWideString, vtUnicodeString
  rtl::Variant Var;            // vtVariant
  void* Pointer = nullptr;     // vtObject, vtInterface, vtPointer (nil)
};
using TPSArrayOfConst = std::vector<TPSVarRec>;

// --- Value traits: one per C++ type --------------------------------------------------------
template <class T, class Enable = void>
struct TPSValueTraits;

template <class T>
struct TPSValueTraits<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
  static T Get(const uint8_t* p, const TPSTypeRec* t) {
    if constexpr (sizeof(T) == 8)
      return static_cast<T>(PSGetInt64(p, t));
    else if constexpr (std::is_unsigned_v<T>)
      return static_cast<T>(PSGetUInt(p, t));
    else
      return static_cast<T>(PSGetInt(p, t));
  }
  static void Set(uint8_t* p, const TPSTypeRec* t, T v) { PSSetInt(p, t, static_cast<int64_t>(v)); }
};

template <>
struct TPSValueTraits<bool> {
  static bool Get(const uint8_t* p, const TPSTypeRec* t) { return PSGetUInt(p, t) != 0; }
  static void Set(uint8_t* p, const TPSTypeRec* t, bool v) {
    if (t->FBaseType == btVariant)
      VariantSlotSetBool(p, v);
    else
      PSSetInt(p, t, v ? 1 : 0);
  }
};

template <class T>
struct TPSValueTraits<T, std::enable_if_t<std::is_floating_point_v<T>>> {
  static T Get(const uint8_t* p, const TPSTypeRec* t) { return static_cast<T>(PSGetReal(p, t)); }
  static void Set(uint8_t* p, const TPSTypeRec* t, T v) { PSSetReal(p, t, static_cast<long double>(v)); }
};

template <>
struct TPSValueTraits<rtl::UnicodeString> {
  static rtl::UnicodeString Get(const uint8_t* p, const TPSTypeRec* t) { return PSGetUnicodeString(p, t); }
  static void Set(uint8_t* p, const TPSTypeRec* t, const rtl::UnicodeString& v) { PSSetUnicodeString(p, t, v); }
};

template <>
struct TPSValueTraits<rtl::AnsiString> {
  static rtl::AnsiString Get(const uint8_t* p, const TPSTypeRec* t) { return PSGetAnsiString(p, t); }
  static void Set(uint8_t* p, const TPSTypeRec* t, const rtl::AnsiString& v) { PSSetAnsiString(p, t, v); }
};

template <>
struct TPSValueTraits<rtl::Variant> {
  static rtl::Variant Get(const uint8_t* p, const TPSTypeRec* t) {
    alignas(rtl::Variant) uint8_t slot[sizeof(rtl::Variant)] = {};
    if (!ValueToVariantSlot(slot, p, t)) RaiseTypeMismatch();
    rtl::Variant v;
    std::memcpy(static_cast<void*>(&v), slot, sizeof v);  // the variant takes over the slot's content
    return v;
  }
  static void Set(uint8_t* p, const TPSTypeRec* t, const rtl::Variant& v) {
    alignas(rtl::Variant) uint8_t slot[sizeof(rtl::Variant)];
    std::memcpy(slot, static_cast<const void*>(&v), sizeof slot);  // borrowed: not released here
    const uint8_t* target = p;
    Deref(target, t);
    if (AssignValue(const_cast<uint8_t*>(target), t, slot, PlainType(btVariant)) != ErNoError) RaiseTypeMismatch();
  }
};

// Object references: a class slot, seen by the host as a pointer.
template <class T>
struct TPSValueTraits<T*, std::enable_if_t<std::is_class_v<T> || std::is_void_v<T>>> {
  static T* Get(const uint8_t* p, const TPSTypeRec* t) {
    Deref(p, t);
    if (t->FBaseType != btClass) RaiseTypeMismatch();
    return static_cast<T*>(Load<void*>(p));
  }
  static void Set(uint8_t* p, const TPSTypeRec* t, T* v) {
    const uint8_t* cp = p;
    Deref(cp, t);
    if (t->FBaseType != btClass) RaiseTypeMismatch();
    Store(const_cast<uint8_t*>(cp), static_cast<void*>(v));
  }
};

// Elements of a dynamic or static array value: count, element type and first element.
inline bool ArrayParts(const uint8_t* p, const TPSTypeRec* t, uint32_t& count, const TPSTypeRec*& elem,
                       uint8_t*& data) {
  Deref(p, t);
  if (t->FBaseType == btArray) {
    elem = static_cast<const TPSTypeRec_Array*>(t)->FArrayType;
    TPSBlockHeader* h = LoadBlock(p);
    count = h ? h->Length : 0;
    data = h ? BlockData(h) : nullptr;
    return true;
  }
  if (t->FBaseType == btStaticArray) {
    auto* sa = static_cast<const TPSTypeRec_StaticArray*>(t);
    elem = sa->FArrayType;
    count = sa->FSize;
    data = const_cast<uint8_t*>(p);
    return true;
  }
  return false;
}

template <class T>
struct TPSValueTraits<TPSOpenArray<T>> {
  static TPSOpenArray<T> Get(const uint8_t* p, const TPSTypeRec* t) {
    uint32_t count;
    const TPSTypeRec* elem;
    uint8_t* data;
    if (!ArrayParts(p, t, count, elem, data)) RaiseTypeMismatch();
    TPSOpenArray<T> out;
    for (uint32_t i = 0; i < count; ++i)
      out.Items.push_back(TPSValueTraits<T>::Get(data + uint64_t(i) * elem->FRealSize, elem));
    return out;
  }
  // Var open arrays write their elements back (the length stays).
  static void Set(uint8_t* p, const TPSTypeRec* t, const TPSOpenArray<T>& v) {
    uint32_t count;
    const TPSTypeRec* elem;
    uint8_t* data;
    if (!ArrayParts(p, t, count, elem, data)) RaiseTypeMismatch();
    for (uint32_t i = 0; i < count && i < v.Items.size(); ++i)
      TPSValueTraits<T>::Set(data + uint64_t(i) * elem->FRealSize, elem, v.Items[i]);
  }
};

TPSVarRec ToVarRec(const uint8_t* p, const TPSTypeRec* t);

template <>
struct TPSValueTraits<TPSArrayOfConst> {
  static TPSArrayOfConst Get(const uint8_t* p, const TPSTypeRec* t) {
    uint32_t count;
    const TPSTypeRec* elem;
    uint8_t* data;
    if (!ArrayParts(p, t, count, elem, data)) RaiseTypeMismatch();
    TPSArrayOfConst out;
    for (uint32_t i = 0; i < count; ++i) out.push_back(ToVarRec(data + uint64_t(i) * elem->FRealSize, elem));
    return out;
  }
  static void Set(uint8_t*, const TPSTypeRec*, const TPSArrayOfConst&) {}
};

// --- Calling script procedures from host code ----------------------------------------------------

// The parameter and result types of an internal procedure, from its export
// declaration (result word first, then one word per parameter).
struct TPSProcSignature {
  TPSTypeRec* Result = nullptr;  // nil for a procedure
  std::vector<TPSTypeRec*> Params;
  std::vector<bool> ByRef;
};
// Raises "Unknown procedure" or "Invalid parameter" when there is no usable declaration.
TPSProcSignature ReadSignature(TPSExec& exec, int procNo);

// A value of a script type owned by host code.
class TPSOwnedValue {
 public:
  explicit TPSOwnedValue(TPSTypeRec* type) : FType(type), FValue(CreateValue(type)) {}
  ~TPSOwnedValue() { DestroyValue(FValue, FType); }
  TPSOwnedValue(const TPSOwnedValue&) = delete;
  TPSOwnedValue& operator=(const TPSOwnedValue&) = delete;
  TPSTypeRec* Type() const { return FType; }
  uint8_t* Value() const { return FValue; }

 private:
  TPSTypeRec* FType;
  uint8_t* FValue;
};

// Runs script procedure `procNo` with C++ arguments converted to its declared
// parameter types; var parameters given as lvalue references receive the
// script's changes. Raises the script's error as a host exception (the
// host's own exception object when the script failed in host code).
template <class R, class... A>
R CallScriptProc(TPSExec& exec, int procNo, A&&... args) {
  TPSProcSignature sig = ReadSignature(exec, procNo);
  if (sig.Params.size() != sizeof...(A)) throw rtl::Exception(rtl::UnicodeString(STooManyParameters));
  std::vector<std::unique_ptr<TPSOwnedValue>> values;
  for (TPSTypeRec* t : sig.Params) values.push_back(std::make_unique<TPSOwnedValue>(t));
  size_t i = 0;
  ((TPSValueTraits<std::remove_cvref_t<A>>::Set(values[i]->Value(), values[i]->Type(), args), ++i), ...);
  std::vector<TPSVariableRef> refs;
  for (size_t k = values.size(); k-- > 0;) refs.push_back({values[k]->Type(), values[k]->Value()});
  std::unique_ptr<TPSOwnedValue> result;
  if (sig.Result) {
    result = std::make_unique<TPSOwnedValue>(sig.Result);
    refs.push_back({result->Type(), result->Value()});
  }
  exec.RunProc(refs, procNo);
  exec.RaiseCurrentException();
  i = 0;
  auto writeBack = [&](auto&& arg) {
    using T = decltype(arg);
    if constexpr (std::is_lvalue_reference_v<T> && !std::is_const_v<std::remove_reference_t<T>>) {
      if (sig.ByRef[i]) arg = TPSValueTraits<std::remove_cvref_t<T>>::Get(values[i]->Value(), values[i]->Type());
    }
    ++i;
  };
  (writeBack(std::forward<A>(args)), ...);
  if constexpr (!std::is_void_v<R>) {
    if (!result) throw rtl::Exception(rtl::UnicodeString(SInvalidParameter));
    return TPSValueTraits<R>::Get(result->Value(), result->Type());
  }
}

// A script procedure as a host callable (a method the host can store and call).
template <class R, class... A>
std::function<R(A...)> GetProcAsMethod(TPSExec& exec, int procNo) {
  TPSExec* e = &exec;
  return [e, procNo](A... a) -> R { return CallScriptProc<R>(*e, procNo, std::forward<A>(a)...); };
}

// --- Argument holders ----------------------------------------------------------------------------
// Holds one argument for the call; a non-const lvalue reference parameter is a
// var parameter and is written back after the call.
template <class A>
struct TPSArgHolder {
  using V = std::remove_cv_t<std::remove_reference_t<A>>;
  static constexpr bool IsVar = std::is_lvalue_reference_v<A> && !std::is_const_v<std::remove_reference_t<A>>;
  V Value{};
  void Load(TPSExec&, TPSStack& stack, int index) {
    Value = TPSValueTraits<V>::Get(stack.EntryValue(index), stack.EntryType(index));
  }
  void WriteBack(TPSStack& stack, int index) {
    if constexpr (IsVar) TPSValueTraits<V>::Set(stack.EntryValue(index), stack.EntryType(index), Value);
  }
};

// A procedure value passed to a host routine: a callable that runs the script
// procedure on the same executor (a host method held in the value cannot be
// called from here and is refused).
template <class R, class... P>
struct TPSArgHolder<std::function<R(P...)>> {
  static constexpr bool IsVar = false;
  std::function<R(P...)> Value;
  void Load(TPSExec& exec, TPSStack& stack, int index) {
    const uint8_t* p = stack.EntryValue(index);
    const TPSTypeRec* t = stack.EntryType(index);
    Deref(p, t);
    if (t->FBaseType != btProcPtr) RaiseTypeMismatch();
    auto v = ps::Load<TPSProcPtrValue>(p);
    if (v.ProcNo == 0) {
      Value = nullptr;
      return;
    }
    TPSExec* e = &exec;
    int procNo = static_cast<int>(v.ProcNo);
    Value = [e, procNo](P... a) -> R { return CallScriptProc<R>(*e, procNo, std::forward<P>(a)...); };
  }
  void WriteBack(TPSStack&, int) {}
};
template <class R, class... P>
struct TPSArgHolder<const std::function<R(P...)>&> : TPSArgHolder<std::function<R(P...)>> {};

template <class A>
A PassArg(TPSArgHolder<A>& h) {
  if constexpr (std::is_lvalue_reference_v<A>)
    return h.Value;
  else
    return std::move(h.Value);
}

// Calls `fn` with the arguments on the stack; writes the result and var
// parameters back. Stack entries are addressed by index after the call, as a
// nested run may have moved the block.
// clang-format 14 lays requires-clauses and called template lambdas out wrongly.
// clang-format off
template <class R, class... A, class F>
bool InvokeWithStack(TPSExec& exec, TPSStack& stack, F&& fn) {
  constexpr bool hasResult = !std::is_void_v<R>;
  constexpr int paramCount = sizeof...(A);
  const int top = stack.Count() - 1;
  const int first = hasResult ? top - 1 : top;
  if (first + 1 < paramCount) return false;  // not enough entries for the declared parameters
  std::tuple<TPSArgHolder<A>...> args;
  [&]<size_t... I>(std::index_sequence<I...>) {
    (std::get<I>(args).Load(exec, stack, first - static_cast<int>(I)), ...);
  }(std::index_sequence_for<A...>{});
  auto call = [&]<size_t... I>(std::index_sequence<I...>) -> decltype(auto) {
    return fn(PassArg<A>(std::get<I>(args))...);
  };
  auto entriesGone = [&] { return stack.Count() <= top; };  // the script was stopped meanwhile
  if constexpr (hasResult) {
    R result = call(std::index_sequence_for<A...>{});
    if (entriesGone()) return true;
    TPSValueTraits<std::remove_cvref_t<R>>::Set(stack.EntryValue(top), stack.EntryType(top), result);
  } else {
    call(std::index_sequence_for<A...>{});
    if (entriesGone()) return true;
  }
  [&]<size_t... I>(std::index_sequence<I...>) {
    (std::get<I>(args).WriteBack(stack, first - static_cast<int>(I)), ...);
  }(std::index_sequence_for<A...>{});
  return true;
}
// clang-format on

namespace detail {
template <class R, class... A>
struct TNativeEntry {
  std::function<R(A...)> Fn;
  static bool Invoke(TPSExec* exec, TPSExternalProcRec* proc, TPSStack*, TPSStack* stack) {
    auto* self = static_cast<TNativeEntry*>(proc->FExt1);
    return InvokeWithStack<R, A...>(*exec, *stack, self->Fn);
  }
};
}  // namespace detail

// Registers a typed host function under the script name.
template <class R, class... A>
TProcRec* RegisterNativeFunction(TPSExec& exec, std::string_view name, std::function<R(A...)> fn) {
  auto entry = std::make_shared<detail::TNativeEntry<R, A...>>();
  entry->Fn = std::move(fn);
  TProcRec* rec = exec.RegisterFunctionName(name, &detail::TNativeEntry<R, A...>::Invoke, entry.get(), nullptr);
  rec->Keep = entry;
  return rec;
}

template <class R, class... A>
TProcRec* RegisterNativeFunction(TPSExec& exec, std::string_view name, R (*fn)(A...)) {
  return RegisterNativeFunction(exec, name, std::function<R(A...)>(fn));
}

// A host method bound to its object: the object is not a script argument.
template <class C, class R, class... A>
TProcRec* RegisterNativeMethod(TPSExec& exec, C* object, R (C::*method)(A...), std::string_view name) {
  return RegisterNativeFunction(exec, name, std::function<R(A...)>([object, method](A... a) -> R {
                                  return (object->*method)(std::forward<A>(a)...);
                                }));
}

}  // namespace ps
