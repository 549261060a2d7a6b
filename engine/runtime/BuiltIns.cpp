// The host functions every executor has: the notification variables and the
// late-bound automation call behind member access on variants.
#include "engine/runtime/BuiltinRoutines.h"
#include "engine/runtime/HostCalls.h"
#include "rtl/Automation.h"

namespace ps {

namespace {

constexpr std::u16string_view SVariantIsNull = u"Variant is null, cannot invoke";
constexpr std::u16string_view SUnknownMethod = u"Unknown method";

}  // namespace

// !NOTIFICATIONVARIANTGET(Name): Variant
bool NotificationVariantGet(TPSExec* exec, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  if (stack->Count() < 2) return false;
  const uint8_t* result = stack->EntryValue(-1);
  const TPSTypeRec* type = stack->EntryType(-1);
  Deref(result, type);
  if (type->FBaseType != btVariant || !exec->HasOnGetNVariant()) return false;
  rtl::Variant value;
  exec->FireGetNVariant(stack->GetAnsiString(-2), value);
  TPSValueTraits<rtl::Variant>::Set(stack->EntryValue(-1), stack->EntryType(-1), value);
  return true;
}

// !NOTIFICATIONVARIANTSET(Name, Value)
bool NotificationVariantSet(TPSExec* exec, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  if (stack->Count() < 2) return false;
  const uint8_t* value = stack->EntryValue(-2);
  const TPSTypeRec* type = stack->EntryType(-2);
  Deref(value, type);
  if (type->FBaseType != btVariant || !exec->HasOnSetNVariant()) return false;
  exec->FireSetNVariant(stack->GetAnsiString(-1), TPSValueTraits<rtl::Variant>::Get(value, type));
  return true;
}

// IDispatchInvoke(Self: IDispatch; PropertySet: Boolean; const Name: String; Par: array of Variant): Variant
bool DispatchInvoke(TPSExec* exec, TPSExternalProcRec*, TPSStack*, TPSStack* stack) {
  if (stack->Count() < 5) return false;
  const uint8_t* selfSlot = stack->EntryValue(-2);
  const TPSTypeRec* selfType = stack->EntryType(-2);
  Deref(selfSlot, selfType);
  // Only an interface slot holds an automation object: a class slot may hold
  // any number a module stored in it, and an object is no IUnknown.
  if (selfType->FBaseType != btInterface) RaiseTypeMismatch();
  void* self = Load<void*>(selfSlot);
  auto* object = self ? dynamic_cast<rtl::IDispatch*>(static_cast<rtl::IUnknown*>(self)) : nullptr;
  if (!object)
    throw EScriptException(rtl::UnicodeString(SVariantIsNull), exec->CurrentProcNo(),
                           static_cast<int32_t>(exec->CurrentPosition()), exec);
  rtl::TRef<rtl::IDispatch> keep(object);
  bool propertySet = stack->GetBool(-3);
  rtl::UnicodeString name = stack->GetUnicodeString(-4);
  std::vector<rtl::Variant> args =
      TPSValueTraits<TPSOpenArray<rtl::Variant>>::Get(stack->EntryValue(-5), stack->EntryType(-5)).Items;
  rtl::TInvocation call;
  rtl::Variant put;
  if (propertySet) {
    if (args.empty()) return false;
    put = args.back();
    args.pop_back();
    call.Flags = rtl::DispatchPropertyPut;
    call.PutValue = &put;
  } else {
    call.Flags = rtl::DispatchMethod | rtl::DispatchPropertyGet;
  }
  call.Args = args;
  rtl::Variant result;
  try {
    result = object->Invoke(name, call);
  } catch (const rtl::EOleException& e) {
    if (e.ErrorCode() == rtl::EOleException::kUnknownName || e.ErrorCode() == rtl::EOleException::kMemberNotFound)
      throw rtl::Exception(rtl::UnicodeString(SUnknownMethod));
    if (!e.Source().empty()) throw rtl::Exception(e.Source() + u": " + e.Message());
    throw;
  }
  TPSValueTraits<rtl::Variant>::Set(stack->EntryValue(-1), stack->EntryType(-1), propertySet ? rtl::Variant() : result);
  return true;
}

void TPSExec::RegisterBuiltInFunctions() { RegisterStandardRoutines(*this); }

}  // namespace ps
