// The automation interface: reference-counted late-bound objects whose members
// are invoked by name. Scripts call them through variants; hosts that embed
// the engine hand scripts such objects of their own.
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

#include "rtl/AutomationErrors.h"
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

}  // namespace rtl
