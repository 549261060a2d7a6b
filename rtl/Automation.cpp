#include "rtl/Automation.h"

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

}  // namespace rtl
