#include "rtl/Automation.h"

#include <map>
#include <mutex>

namespace rtl {

const Variant* TInvocation::FindNamed(std::u16string_view name) const {
  for (const TNamedArgument& arg : Named)
    if (AsciiUpperCase(arg.Name) == AsciiUpperCase(name)) return &arg.Value;
  return nullptr;
}

Variant IDispatch::Get(std::u16string_view name, std::initializer_list<Variant> args) {
  TInvocation call;
  call.Flags = args.size() == 0 ? (DispatchMethod | DispatchPropertyGet) : DispatchPropertyGet;
  call.Args = std::span<const Variant>(args.begin(), args.size());
  return Invoke(name, call);
}

Variant IDispatch::Call(std::u16string_view name, std::initializer_list<Variant> args,
                        std::initializer_list<TNamedArgument> named) {
  TInvocation call;
  call.Flags = DispatchMethod;
  call.Args = std::span<const Variant>(args.begin(), args.size());
  call.Named = std::span<const TNamedArgument>(named.begin(), named.size());
  return Invoke(name, call);
}

void IDispatch::Put(std::u16string_view name, const Variant& value, std::initializer_list<Variant> args) {
  TInvocation call;
  call.Flags = DispatchPropertyPut;
  call.Args = std::span<const Variant>(args.begin(), args.size());
  call.PutValue = &value;
  Invoke(name, call);
}

namespace {

// The object of a variant for a late-bound call, kept alive for the call.
TRef<IDispatch> DispatchOf(const Variant& object) {
  const Variant& v = object.Deref();
  if (v.VType() != varDispatch && v.VType() != varUnknown)
    throw EVariantTypeCastError::CouldNotConvert(v.VType(), varDispatch);
  IDispatch* d = v.AsDispatch();  // holds one reference
  if (!d) throw EOleError(UnicodeString(EOleError::SNotAssigned));
  TRef<IDispatch> ref(d);
  d->Release();
  return ref;
}

}  // namespace

Variant OleGet(const Variant& object, std::u16string_view name, std::initializer_list<Variant> args) {
  return DispatchOf(object)->Get(name, args);
}

Variant OleCall(const Variant& object, std::u16string_view name, std::initializer_list<Variant> args,
                std::initializer_list<TNamedArgument> named) {
  return DispatchOf(object)->Call(name, args, named);
}

void OlePut(const Variant& object, std::u16string_view name, const Variant& value,
            std::initializer_list<Variant> args) {
  DispatchOf(object)->Put(name, value, args);
}

EOleException EOleException::UnknownMember(std::u16string_view name) {
  return EOleException(FormatText(SNoMethod, {UnicodeString(name)}), kUnknownName);
}

EOleException EOleException::BadParamCount() { return EOleException(UnicodeString(SBadParamCount), kBadParamCount); }

EOleException EOleException::ReadOnly(std::u16string_view name) {
  return EOleException(FormatText(SReadOnly, {UnicodeString(name)}), kMemberNotFound);
}

// --- Registry -----------------------------------------------------------------------

namespace {

constexpr int32_t kClassStringError = static_cast<int32_t>(0x800401F3u);     // CO_E_CLASSSTRING
constexpr int32_t kNotInitializedError = static_cast<int32_t>(0x800401F0u);  // CO_E_NOTINITIALIZED

struct TRegistry {
  std::mutex Lock;
  std::map<UnicodeString, TClassFactory> Factories;  // key: upper-case identifier
};

TRegistry& Registry() {
  static TRegistry registry;
  return registry;
}

thread_local int initializeCount = 0;

}  // namespace

void RegisterAutomationServer(std::u16string_view progId, TClassFactory factory) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  r.Factories[AsciiUpperCase(progId)] = std::move(factory);
}

void UnregisterAutomationServer(std::u16string_view progId) {
  TRegistry& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  r.Factories.erase(AsciiUpperCase(progId));
}

void CoInitialize() { ++initializeCount; }

void CoUninitialize() {
  if (initializeCount > 0) --initializeCount;
}

bool CoIsInitialized() { return initializeCount > 0; }

TRef<IDispatch> CreateOleObject(std::u16string_view progId) {
  auto fail = [&](std::u16string_view reason, int32_t code) {
    return EOleSysError(FormatText(SProgIdFailure, {UnicodeString(reason), UnicodeString(progId)}), code);
  };
  if (!CoIsInitialized()) throw fail(SNotInitialized, kNotInitializedError);
  TClassFactory factory;
  {
    TRegistry& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    auto it = r.Factories.find(AsciiUpperCase(progId));
    if (it == r.Factories.end()) throw fail(SInvalidClassString, kClassStringError);
    factory = it->second;
  }
  TRef<IDispatch> object;
  try {
    object = factory();
  } catch (const EOleSysError& e) {
    throw fail(e.Message(), e.ErrorCode());  // the server's own reason, with the identifier
  } catch (const Exception& e) {
    throw fail(e.Message(), EOleException::kGenericFailure);
  }
  if (!object) throw fail(SInvalidClassString, kClassStringError);
  return object;
}

}  // namespace rtl
