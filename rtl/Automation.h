// The automation interface: reference-counted late-bound objects whose members
// are invoked by name, the registry that creates them from program
// identifiers, the per-thread initialise/uninitialise calls, and the
// automation error exceptions.
//
// Callers pass positional arguments left to right (not reversed as in COM).
// A property write carries its value as the property-put argument, apart from
// the index arguments. Named arguments (Close(SaveChanges := True)) come
// beside the positional ones. Servers resolve member names without regard to
// letter case, at call time.
#pragma once

#include <functional>
#include <initializer_list>
#include <span>
#include <string_view>
#include <vector>

#include "rtl/Variant.h"

namespace rtl {

// How a member is invoked; a read without arguments is Method | PropertyGet.
using TInvokeFlags = uint16_t;
constexpr TInvokeFlags DispatchMethod = 1;
constexpr TInvokeFlags DispatchPropertyGet = 2;
constexpr TInvokeFlags DispatchPropertyPut = 4;

struct TNamedArgument {
  UnicodeString Name;
  Variant Value;
};

// One invocation as the server sees it.
struct TInvocation {
  TInvokeFlags Flags = DispatchMethod;
  std::span<const Variant> Args;          // positional, left to right
  std::span<const TNamedArgument> Named;  // by name, any order
  const Variant* PutValue = nullptr;      // set exactly for DispatchPropertyPut

  bool IsPut() const { return (Flags & DispatchPropertyPut) != 0; }
  size_t ArgCount() const { return Args.size(); }
  // Positional argument i, through a by-reference variant to its target.
  const Variant& Arg(size_t i) const { return Args[i].Deref(); }
  // The named argument, compared without regard to letter case; nullptr when absent.
  const Variant* FindNamed(std::u16string_view name) const;
};

// A late-bound automation object.
class IDispatch : public IUnknown {
 public:
  // Invokes member `name`. Failures are raised as EOleException (or one of
  // its bases) carrying the server's description.
  virtual Variant Invoke(std::u16string_view name, const TInvocation& call) = 0;

  // Caller conveniences. Get: property read (as method-or-get without
  // arguments, as get with them); Call: method; Put: property write.
  Variant Get(std::u16string_view name, std::initializer_list<Variant> args = {});
  Variant Call(std::u16string_view name, std::initializer_list<Variant> args = {},
               std::initializer_list<TNamedArgument> named = {});
  void Put(std::u16string_view name, const Variant& value, std::initializer_list<Variant> args = {});
};

// The same conveniences on a variant holding a dispatch reference. A variant
// holding anything else raises EVariantTypeCastError; a nil reference raises
// EOleError.
Variant OleGet(const Variant& object, std::u16string_view name, std::initializer_list<Variant> args = {});
Variant OleCall(const Variant& object, std::u16string_view name, std::initializer_list<Variant> args = {},
                std::initializer_list<TNamedArgument> named = {});
void OlePut(const Variant& object, std::u16string_view name, const Variant& value,
            std::initializer_list<Variant> args = {});

// --- Errors -----------------------------------------------------------------

class EOleError : public Exception {
 public:
  using Exception::Exception;
  static constexpr std::u16string_view SNotAssigned = u"Automation object is not assigned";
};

// A failure with a system error code (HRESULT-style).
class EOleSysError : public EOleError {
 public:
  EOleSysError(UnicodeString message, int32_t errorCode) : EOleError(std::move(message)), FErrorCode(errorCode) {}
  int32_t ErrorCode() const { return FErrorCode; }

 private:
  int32_t FErrorCode;
};

// The automation error: a call the server rejected, carrying the server's
// own description as the message.
class EOleException : public EOleSysError {
 public:
  EOleException(UnicodeString description, int32_t errorCode = kGenericFailure, UnicodeString source = {})
      : EOleSysError(std::move(description), errorCode), FSource(std::move(source)) {}
  const UnicodeString& Source() const { return FSource; }

  static constexpr int32_t kGenericFailure = static_cast<int32_t>(0x80004005u);
  static constexpr int32_t kUnknownName = static_cast<int32_t>(0x80020006u);
  static constexpr int32_t kBadParamCount = static_cast<int32_t>(0x8002000Eu);
  static constexpr int32_t kTypeMismatch = static_cast<int32_t>(0x80020005u);
  static constexpr int32_t kMemberNotFound = static_cast<int32_t>(0x80020003u);

  static constexpr std::u16string_view SNoMethod = u"Method '%s' not supported by automation object";
  static constexpr std::u16string_view SBadParamCount = u"Invalid number of parameters";
  static constexpr std::u16string_view SReadOnly = u"Property '%s' is read-only";

  // Standard rejections a server raises.
  static EOleException UnknownMember(std::u16string_view name);
  static EOleException BadParamCount();
  static EOleException ReadOnly(std::u16string_view name);

 private:
  UnicodeString FSource;
};

// --- Registry and thread initialisation --------------------------------------

using TClassFactory = std::function<TRef<IDispatch>()>;

// Servers register the program identifiers they serve (compared without
// regard to letter case). Registering an identifier again replaces it.
void RegisterAutomationServer(std::u16string_view progId, TClassFactory factory);
void UnregisterAutomationServer(std::u16string_view progId);

// Per-thread initialise and uninitialise; calls nest and must pair.
void CoInitialize();
void CoUninitialize();
bool CoIsInitialized();

constexpr std::u16string_view SProgIdFailure = u"%s, ProgID: \"%s\"";
constexpr std::u16string_view SInvalidClassString = u"Invalid class string";
constexpr std::u16string_view SNotInitialized = u"CoInitialize has not been called";

// Creates an object of the server registered under `progId`. Raises
// EOleSysError "<reason>, ProgID: "<progId>"" when the thread is not
// initialised, the identifier is unknown or the server fails to start.
TRef<IDispatch> CreateOleObject(std::u16string_view progId);

// --- Server-side helper ---------------------------------------------------------

// Member table of a server class: names (any case) to member functions.
// Lookup folds ASCII letter case, as automation member names are ASCII.
template <class T>
class TDispatchTable {
 public:
  using THandler = Variant (T::*)(const TInvocation&);
  TDispatchTable(std::initializer_list<std::pair<std::u16string_view, THandler>> members) {
    for (auto& [name, handler] : members) FMembers.push_back({AsciiUpperCase(name), handler});
  }
  // Raises EOleException::UnknownMember when the object has no such member.
  Variant Invoke(T& object, std::u16string_view name, const TInvocation& call) const {
    UnicodeString key = AsciiUpperCase(name);
    for (const auto& [memberName, handler] : FMembers)
      if (memberName == key) return (object.*handler)(call);
    throw EOleException::UnknownMember(name);
  }

 private:
  std::vector<std::pair<UnicodeString, THandler>> FMembers;
};

}  // namespace rtl
