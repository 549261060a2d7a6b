// The object model that host classes share with scripts: TObject with its
// class metadata, the registry of live objects, and TPersistent.
//
// Every class that scripts can see describes itself with a TMetaClass: its
// name, its ancestor, how to create a default instance (when it can be
// created without arguments) and the published properties a script may read
// or write by name when no helper is registered for them. A class declares
// its metaclass with two members:
//
//   static TClass StaticClass();
//   TClass ClassType() const override { return StaticClass(); }
//
// Every TObject registers itself with the registry of live objects when it
// is constructed and unregisters when it is destroyed, so that the script
// engine can refuse calls on references to freed, never-created or forged
// objects. Objects start "owned by the host"; the engine marks the objects a
// script creates through a constructor as the script's own, and only those
// may a script free.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "rtl/SysUtils.h"

namespace rtl {

class TObject;
class TMetaClass;
using TClass = const TMetaClass*;

// An event handler: host code calls it with the object that fires it. The
// engine adapts script procedures to it.
using TNotifyEvent = std::function<void(TObject* Sender)>;

// --- Published properties ---------------------------------------------------

// The kind of a published property's value, as the engine must convert it.
enum class TTypeKind : uint8_t {
  tkInteger,  // 32-bit or narrower integer
  tkInt64,
  tkEnumeration,  // Boolean and enumerations: the ordinal value
  tkChar,         // char or char16_t: the character code
  tkFloat,
  tkString,  // UnicodeString
  tkClass,   // TObject* (or nil)
  tkMethod,  // TNotifyEvent
};

// One published property value; the alternative follows the kind:
// int64_t for tkInteger, tkInt64, tkEnumeration and tkChar, long double for tkFloat,
// UnicodeString, TObject* and TNotifyEvent for the others.
using TPropertyValue = std::variant<int64_t, long double, UnicodeString, TObject*, TNotifyEvent>;

// A property that scripts may reach by name through an object's class.
struct TPropInfo {
  UnicodeString Name;
  TTypeKind Kind;
  // The script type's name ("Integer", "Boolean", "TDuplicates", "String",
  // "TComponent", "TNotifyEvent"), for checking against declarations.
  UnicodeString TypeName;
  // Empty when the property cannot be read (or written).
  std::function<TPropertyValue(TObject& object)> Get;
  std::function<void(TObject& object, const TPropertyValue& value)> Set;

  bool IsReadable() const { return static_cast<bool>(Get); }
  bool IsWritable() const { return static_cast<bool>(Set); }
};

// Raised when a property value does not fit the property, or a property is
// used on an object of another class.
class EPropertyError : public EConvertError {
 public:
  using EConvertError::EConvertError;
  static constexpr std::u16string_view SInvalidPropertyValue = u"Invalid value for property %s";
  static constexpr std::u16string_view SPropertyNotOfClass = u"Property %s does not apply to an object of class %s";
};

// --- Class metadata -------------------------------------------------------

using TObjectFactory = TObject* (*)();

// The default factory of a class that can be created without arguments.
template <class T>
TObject* CreateInstance() {
  return new T();
}

class TMetaClass {
 public:
  // `factory` is null for classes that cannot be created without arguments
  // (abstract classes, or those whose constructor needs them).
  TMetaClass(std::u16string_view name, TClass parent, TObjectFactory factory, std::vector<TPropInfo> properties = {});
  TMetaClass(const TMetaClass&) = delete;
  TMetaClass& operator=(const TMetaClass&) = delete;

  const UnicodeString& ClassName() const { return FClassName; }
  TClass ClassParent() const { return FParent; }
  // True when this class is `ancestor` or descends from it.
  bool InheritsFrom(TClass ancestor) const;
  // Letter case of ASCII letters ignored, as script names compare.
  bool ClassNameIs(std::u16string_view name) const;

  bool CanCreate() const { return FFactory != nullptr; }
  // A new default instance, owned by the caller (and marked owned by the
  // host until the caller says otherwise). Raises "Cannot create an
  // instance of class %s" when the class has no default factory.
  TObject* Create() const;
  static constexpr std::u16string_view SCannotCreate = u"Cannot create an instance of class %s";

  // The class's own published properties, in declaration order.
  const std::vector<TPropInfo>& OwnProperties() const { return FProperties; }
  // The property of that name (ASCII letter case ignored) in this class or
  // the nearest ancestor that publishes it; null when none does.
  const TPropInfo* FindProperty(std::u16string_view name) const;

 private:
  UnicodeString FClassName;
  TClass FParent;
  TObjectFactory FFactory;
  std::vector<TPropInfo> FProperties;
};

// --- TObject ----------------------------------------------------------------

class TObject {
 public:
  TObject();
  // A copy is a new object with its own identity and registration; the
  // owned-by-host mark is not copied.
  TObject(const TObject& other);
  TObject(TObject&& other) noexcept;
  TObject& operator=(const TObject&) noexcept { return *this; }
  TObject& operator=(TObject&&) noexcept { return *this; }
  virtual ~TObject();

  static TClass StaticClass();
  virtual TClass ClassType() const { return StaticClass(); }

  const UnicodeString& ClassName() const { return ClassType()->ClassName(); }
  bool InheritsFrom(TClass ancestor) const { return ClassType()->InheritsFrom(ancestor); }
  template <class T>
  bool Is() const {
    return InheritsFrom(T::StaticClass());
  }

  // The object's number in the registry of live objects: never 0, handed
  // out in order and not given to another object until the 32-bit count
  // comes round, so a number kept after its object is freed finds nothing.
  uint32_t ObjectId() const { return FObjectId; }

  bool OwnedByHost() const { return FOwnedByHost; }
  void SetOwnedByHost(bool value) { FOwnedByHost = value; }

  // True while host code of this object runs something that may call back
  // into a script (an event handler): freeing the object then would pull it
  // from under that code, so the engine refuses it. Counted, for nesting.
  bool InUse() const { return FUseCount != 0; }

 private:
  friend class TObjectUse;
  friend class TObjectRegistry;
  uint32_t FObjectId = 0;
  uint32_t FUseCount = 0;
  bool FOwnedByHost = true;
};

// Marks an object in use for the guard's lifetime (see TObject::InUse).
class TObjectUse {
 public:
  explicit TObjectUse(TObject& object) : FObject(object) { ++FObject.FUseCount; }
  ~TObjectUse() { --FObject.FUseCount; }
  TObjectUse(const TObjectUse&) = delete;
  TObjectUse& operator=(const TObjectUse&) = delete;

 private:
  TObject& FObject;
};

// The registry of live objects (single-threaded, as the engine is).
class TObjectRegistry {
 public:
  // True when the address is that of a TObject that has been constructed
  // and not yet destroyed.
  static bool IsLive(const void* address);
  // The live object with that number, or null.
  static TObject* Find(uint32_t objectId);
  static size_t LiveCount();

 private:
  friend class TObject;
  static void Register(TObject* object);
  static void Unregister(TObject* object);
};

// --- TPersistent ------------------------------------------------------------

// Raised when one object cannot take the contents of another.
class EAssignError : public EConvertError {
 public:
  using EConvertError::EConvertError;
  static constexpr std::u16string_view SAssignError = u"Cannot assign a %s to a %s";
};

class TPersistent : public TObject {
 public:
  static TClass StaticClass();
  TClass ClassType() const override { return StaticClass(); }

  // Takes the contents of `source`. The source is asked first (AssignTo),
  // so either side may know how to copy the other; raises "Cannot assign a
  // %s to a %s" when neither does (a null source is named "nil").
  virtual void Assign(const TPersistent* source);

 protected:
  virtual void AssignTo(TPersistent* dest) const;
  [[noreturn]] void AssignError(const TPersistent* source) const;
};

// --- Building property tables ---------------------------------------------

namespace detail {

template <class V>
using PropertyBase = std::remove_cvref_t<V>;

template <class V>
constexpr TTypeKind PropertyKindOf() {
  using T = PropertyBase<V>;
  if constexpr (std::is_same_v<T, bool> || std::is_enum_v<T>)
    return TTypeKind::tkEnumeration;
  else if constexpr (std::is_same_v<T, char> || std::is_same_v<T, char16_t>)
    return TTypeKind::tkChar;
  else if constexpr (std::is_same_v<T, int64_t> || std::is_same_v<T, uint64_t>)
    return TTypeKind::tkInt64;
  else if constexpr (std::is_integral_v<T>)
    return TTypeKind::tkInteger;
  else if constexpr (std::is_floating_point_v<T>)
    return TTypeKind::tkFloat;
  else if constexpr (std::is_same_v<T, UnicodeString>)
    return TTypeKind::tkString;
  else if constexpr (std::is_same_v<T, TNotifyEvent>)
    return TTypeKind::tkMethod;
  else {
    static_assert(std::is_pointer_v<T> && std::is_base_of_v<TObject, std::remove_pointer_t<T>>,
                  "unsupported published property type");
    return TTypeKind::tkClass;
  }
}

template <class V>
TPropertyValue ToPropertyValue(const V& value) {
  using T = PropertyBase<V>;
  constexpr TTypeKind kind = PropertyKindOf<T>();
  if constexpr (kind == TTypeKind::tkChar)
    return static_cast<int64_t>(static_cast<std::make_unsigned_t<T>>(value));
  else if constexpr (kind == TTypeKind::tkEnumeration || kind == TTypeKind::tkInteger || kind == TTypeKind::tkInt64)
    return static_cast<int64_t>(value);
  else if constexpr (kind == TTypeKind::tkFloat)
    return static_cast<long double>(value);
  else if constexpr (kind == TTypeKind::tkClass)
    return static_cast<TObject*>(value);
  else
    return value;
}

[[noreturn]] void RaiseInvalidPropertyValue(const UnicodeString& name);
[[noreturn]] void RaisePropertyNotOfClass(const UnicodeString& name, const TObject& object);

template <class V>
PropertyBase<V> FromPropertyValue(const TPropertyValue& value, const UnicodeString& name) {
  using T = PropertyBase<V>;
  constexpr TTypeKind kind = PropertyKindOf<T>();
  if constexpr (kind == TTypeKind::tkEnumeration || kind == TTypeKind::tkInteger || kind == TTypeKind::tkInt64 ||
                kind == TTypeKind::tkChar) {
    if (auto* v = std::get_if<int64_t>(&value)) {
      if constexpr (std::is_same_v<T, bool>)
        return *v != 0;
      else
        return static_cast<T>(*v);
    }
  } else if constexpr (kind == TTypeKind::tkFloat) {
    if (auto* v = std::get_if<long double>(&value)) return static_cast<T>(*v);
  } else if constexpr (kind == TTypeKind::tkClass) {
    if (auto* v = std::get_if<TObject*>(&value)) {
      if (*v == nullptr) return nullptr;
      if (auto* typed = dynamic_cast<T>(*v)) return typed;
    }
  } else {
    if (auto* v = std::get_if<T>(&value)) return *v;
  }
  RaiseInvalidPropertyValue(name);
}

template <class C>
C& ObjectAs(TObject& object, const UnicodeString& name) {
  if (auto* typed = dynamic_cast<C*>(&object)) return *typed;
  RaisePropertyNotOfClass(name, object);
}

}  // namespace detail

namespace detail {

template <class C, class R, class G>
TPropInfo MakeReadProperty(std::u16string_view name, std::u16string_view typeName, G get) {
  UnicodeString n(name);
  TPropInfo info{n, PropertyKindOf<R>(), UnicodeString(typeName), {}, {}};
  info.Get = [get, n](TObject& object) { return ToPropertyValue((ObjectAs<C>(object, n).*get)()); };
  return info;
}

template <class C, class R, class A>
void AddWriter(TPropInfo& info, void (C::*set)(A)) {
  static_assert(std::is_convertible_v<PropertyBase<R>, A>, "the setter of a property must take what its getter gives");
  UnicodeString n = info.Name;
  info.Set = [set, n](TObject& object, const TPropertyValue& value) {
    (ObjectAs<C>(object, n).*set)(FromPropertyValue<R>(value, n));
  };
}

}  // namespace detail

// A published property read through a member function without arguments
// and, for ReadWriteProperty, written through one of one argument.
template <class C, class R>
TPropInfo ReadOnlyProperty(std::u16string_view name, std::u16string_view typeName, R (C::*get)() const) {
  return detail::MakeReadProperty<C, R>(name, typeName, get);
}

template <class C, class R>
TPropInfo ReadOnlyProperty(std::u16string_view name, std::u16string_view typeName, R (C::*get)()) {
  return detail::MakeReadProperty<C, R>(name, typeName, get);
}

template <class C, class R, class A>
TPropInfo ReadWriteProperty(std::u16string_view name, std::u16string_view typeName, R (C::*get)() const,
                            void (C::*set)(A)) {
  TPropInfo info = detail::MakeReadProperty<C, R>(name, typeName, get);
  detail::AddWriter<C, R>(info, set);
  return info;
}

template <class C, class R, class A>
TPropInfo ReadWriteProperty(std::u16string_view name, std::u16string_view typeName, R (C::*get)(), void (C::*set)(A)) {
  TPropInfo info = detail::MakeReadProperty<C, R>(name, typeName, get);
  detail::AddWriter<C, R>(info, set);
  return info;
}

}  // namespace rtl
