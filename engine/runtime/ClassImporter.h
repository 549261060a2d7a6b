// The runtime host class importer: host classes and their members as the
// executor binds them to a module's "class:" imports.
//
// A member is registered as an ordinary typed C++ member function (or a
// callable taking the object first); the adapters below read its arguments
// from the stack, check the object against the registry of live objects and
// write results and var parameters back, so a binding reads like the list of
// the class's members:
//
//   auto& list = importer.Add<rtl::TStringList>();
//   list.Constructor<>();
//   list.Method("Sort", &rtl::TStringList::Sort);
//   list.Property("Sorted", &rtl::TStringList::Sorted, &rtl::TStringList::SetSorted);
//
// Stack layouts of member calls (the call pushes the last parameter first):
//   method, property read:  params..., Self, [Result]    (param 1 just below Self)
//   property write:         Value, indexes..., Self      (index 1 just below Self)
//   constructor:            params..., class type number, Result
// so a write helper's C++ parameters (indexes..., value) lie below Self in
// order, exactly as a method's do.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "engine/runtime/HostCalls.h"
#include "rtl/Objects.h"

namespace ps {

class TPSRuntimeClass;
class TPSRuntimeClassImporter;

// Messages of the importer, spelled once.
inline constexpr std::u16string_view SCannotCastObject = u"Cannot cast an object";
inline constexpr std::u16string_view SCannotCastInterface = u"Cannot cast an interface";
inline constexpr std::u16string_view SNotALiveObject =
    u"Object reference is not a live object (freed, never created or forged)";
inline constexpr std::u16string_view SCannotFreeHostObject = u"Cannot free an object that belongs to the host";
inline constexpr std::u16string_view SCannotFreeObjectInUse = u"Cannot free an object while its event is running";
inline constexpr std::u16string_view SEventTargetGone = u"The script procedure of this event is no longer available";
inline constexpr std::u16string_view SObjectNotOfClass = u"Object of class %s is not a %s";

// Raised by the adapters for object references that must not be followed;
// the importer reports it as a custom script error.
class EPSObjectError : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// Kinds of registered members, as numbered in the import tables.
enum TPSClassItemKind : uint8_t {
  ckMethod = 0,
  ckVirtualMethod = 1,
  ckPropertyHelper = 3,
  ckConstructor = 4,
  ckVirtualConstructor = 5,
  ckEventPropertyHelper = 6,
  ckPropertyHelperName = 7,
};

// What a member's code sees of one call.
struct TPSMemberCall {
  TPSExec& Exec;
  TPSStack& Stack;
  rtl::TObject* Self;       // live object of methods and properties; nil for constructors
  int SelfIndex;            // stack index of Self (constructors: of the class type number)
  int ResultIndex;          // -1 when the call has no result
  TPSRuntimeClass* Target;  // constructors: the class to instantiate
  TPSRuntimeClassImporter* Importer;
  rtl::IUnknown* Interface = nullptr;  // interface methods: the interface called
};
using TPSMemberCode = std::function<void(TPSMemberCall& call)>;
using TPSMemberCodePtr = std::shared_ptr<const TPSMemberCode>;

struct TPSRuntimeClassItem {
  std::string FName;  // upper case
  uint32_t FNameHash = 0;
  TPSClassItemKind FKind = ckMethod;
  TPSMemberCodePtr FCode;   // method or constructor code, or the read helper
  TPSMemberCodePtr FWrite;  // the write helper of property kinds
  int FParamCount = -1;     // constructors: declared parameters (-1 unknown)
};

// An interface an object can be asked for, by GUID.
struct TPSInterfaceProvider {
  uint8_t FGuid[16] = {};
  // Gives a new reference to the object's interface (nil: not supported).
  std::function<rtl::IUnknown*(rtl::TObject& object)> FGet;
};

// --- Object references at the host boundary -----------------------------------------------

// The object a class slot refers to: nil for nil; raises EPSObjectError
// when the slot holds anything but a live object.
rtl::TObject* ObjectFromSlot(const uint8_t* p, const TPSTypeRec* t);
// The object as a T; raises EPSObjectError when it is of another class.
template <class T>
T* ObjectAs(rtl::TObject* object) {
  if (!object) return nullptr;
  // An object of exactly the class (the common case) needs no walk of the
  // class hierarchy.
  if (typeid(*object) == typeid(T)) return static_cast<T*>(object);
  if (auto* typed = dynamic_cast<T*>(object)) return typed;
  if constexpr (requires { T::StaticClass(); })
    throw EPSObjectError(rtl::FormatText(SObjectNotOfClass, {object->ClassName(), T::StaticClass()->ClassName()}));
  else
    throw EPSObjectError(rtl::UnicodeString(SInvalidCast));
}

// Value traits of member arguments: those of the host functions, except that
// object pointers are checked against the registry of live objects.
template <class T>
struct TPSMemberTraits : TPSValueTraits<T> {};

// clang-format 14 lays requires-clauses and called template lambdas out wrongly.
// clang-format off
template <class T>
  requires std::is_base_of_v<rtl::TObject, T>
struct TPSMemberTraits<T*> {
  static T* Get(const uint8_t* p, const TPSTypeRec* t) { return ObjectAs<T>(ObjectFromSlot(p, t)); }
  static void Set(uint8_t* p, const TPSTypeRec* t, T* v) {
    TPSValueTraits<void*>::Set(p, t, static_cast<rtl::TObject*>(v));
  }
};
// clang-format on

// Event handlers (procedure values) at the host boundary.
rtl::TNotifyEvent NotifyEventFromSlot(TPSExec& exec, const uint8_t* p, const TPSTypeRec* t);
void NotifyEventToSlot(TPSExec& exec, uint8_t* p, const TPSTypeRec* t, const rtl::TNotifyEvent& handler);
// A handler that runs the script procedure (one TObject parameter) nested on
// the executor; once the executor is gone, calling it raises.
rtl::TNotifyEvent ScriptProcNotifyEvent(TPSExec& exec, uint32_t procNo);

// The executor whose member call is running (nil outside one): procedure
// values passed to host members become handlers on it.
TPSExec* CurrentMemberExec();

// A script procedure passed to a TNotifyEvent parameter reaches the host as a
// handler that runs it; a handler given back to the script reads as itself.
template <>
struct TPSMemberTraits<rtl::TNotifyEvent> {
  static rtl::TNotifyEvent Get(const uint8_t* p, const TPSTypeRec* t) {
    TPSExec* exec = CurrentMemberExec();
    if (!exec) RaiseTypeMismatch();
    return NotifyEventFromSlot(*exec, p, t);
  }
  static void Set(uint8_t* p, const TPSTypeRec* t, const rtl::TNotifyEvent& v) {
    TPSExec* exec = CurrentMemberExec();
    if (!exec) RaiseTypeMismatch();
    NotifyEventToSlot(*exec, p, t, v);
  }
};

namespace detail {

template <class A>
struct TMemberArg {
  using V = std::remove_cv_t<std::remove_reference_t<A>>;
  static constexpr bool IsVar = std::is_lvalue_reference_v<A> && !std::is_const_v<std::remove_reference_t<A>>;
  V Value{};
  void Load(TPSStack& stack, int index) {
    Value = TPSMemberTraits<V>::Get(stack.EntryValue(index), stack.EntryType(index));
  }
  void WriteBack(TPSStack& stack, int index) {
    if constexpr (IsVar) TPSMemberTraits<V>::Set(stack.EntryValue(index), stack.EntryType(index), Value);
  }
};

template <class A>
A PassMemberArg(TMemberArg<A>& h) {
  if constexpr (std::is_lvalue_reference_v<A>)
    return h.Value;
  else
    return std::move(h.Value);
}

[[noreturn]] void RaiseNotEnoughParameters();

// Calls `fn` with parameter j read from stack index `firstParam - j`; stores
// the result at `resultIndex` and writes var parameters back. Entries are
// addressed by index after the call: a nested run may have moved the block.
// clang-format 14 lays requires-clauses and called template lambdas out wrongly.
// clang-format off
template <class R, class... A, class F>
void InvokeMember(TPSStack& stack, int firstParam, int resultIndex, F&& fn) {
  constexpr int paramCount = sizeof...(A);
  if (firstParam + 1 < paramCount) RaiseNotEnoughParameters();
  std::tuple<TMemberArg<A>...> args;
  [&]<size_t... I>(std::index_sequence<I...>) {
    (std::get<I>(args).Load(stack, firstParam - static_cast<int>(I)), ...);
  }(std::index_sequence_for<A...>{});
  auto call = [&]<size_t... I>(std::index_sequence<I...>) -> decltype(auto) {
    return fn(PassMemberArg<A>(std::get<I>(args))...);
  };
  if constexpr (!std::is_void_v<R>) {
    decltype(auto) result = call(std::index_sequence_for<A...>{});
    if (resultIndex >= 0)
      TPSMemberTraits<std::remove_cvref_t<R>>::Set(stack.EntryValue(resultIndex), stack.EntryType(resultIndex), result);
  } else {
    call(std::index_sequence_for<A...>{});
  }
  [&]<size_t... I>(std::index_sequence<I...>) {
    (std::get<I>(args).WriteBack(stack, firstParam - static_cast<int>(I)), ...);
  }(std::index_sequence_for<A...>{});
}

// A member function pointer or a callable taking the object first, as a
// std::function over (S*, A...).
template <class T, class R, class C, class... A>
  requires std::is_base_of_v<C, T>
std::function<R(T*, A...)> AsMember(R (C::*m)(A...)) {
  return [m](T* self, A... a) -> R { return (self->*m)(std::forward<A>(a)...); };
}
template <class T, class R, class C, class... A>
  requires std::is_base_of_v<C, T>
std::function<R(T*, A...)> AsMember(R (C::*m)(A...) const) {
  return [m](T* self, A... a) -> R { return (self->*m)(std::forward<A>(a)...); };
}
template <class T, class F>
  requires(!std::is_member_function_pointer_v<F>)
auto AsMember(F f) {
  return std::function(f);
}
// clang-format on

// The code of a method, property read or property write helper.
template <class R, class S, class... A>
TPSMemberCode MethodCode(std::function<R(S*, A...)> fn) {
  return [fn = std::move(fn)](TPSMemberCall& c) {
    S* self = ObjectAs<S>(c.Self);
    InvokeMember<R, A...>(c.Stack, c.SelfIndex - 1, c.ResultIndex,
                          [&](A... a) -> R { return fn(self, std::forward<A>(a)...); });
  };
}

// The code of a constructor: `fn` makes the object from the declared
// parameters; the new object belongs to the script.
template <class S, class... A>
TPSMemberCode ConstructorCode(std::function<S*(A...)> fn) {
  return [fn = std::move(fn)](TPSMemberCall& c) {
    InvokeMember<rtl::TObject*, A...>(c.Stack, c.SelfIndex - 1, c.ResultIndex, [&](A... a) -> rtl::TObject* {
      S* made = fn(std::forward<A>(a)...);
      if (made) made->SetOwnedByHost(false);
      return made;
    });
  };
}

// The code of an interface method: `fn` is a member of the C++ interface S.
template <class R, class S, class... A>
TPSMemberCode InterfaceMethodCode(std::function<R(S*, A...)> fn) {
  return [fn = std::move(fn)](TPSMemberCall& c) {
    S* self = dynamic_cast<S*>(c.Interface);
    if (!self) throw EPSObjectError(rtl::UnicodeString(SCannotCastInterface));
    InvokeMember<R, A...>(c.Stack, c.SelfIndex - 1, c.ResultIndex,
                          [&](A... a) -> R { return fn(self, std::forward<A>(a)...); });
  };
}

// Read and write codes of an event property over TNotifyEvent accessors.
template <class S, class G>
TPSMemberCode EventReadCode(std::function<G(S*)> get) {
  return [get = std::move(get)](TPSMemberCall& c) {
    rtl::TNotifyEvent handler = get(ObjectAs<S>(c.Self));
    NotifyEventToSlot(c.Exec, c.Stack.EntryValue(c.ResultIndex), c.Stack.EntryType(c.ResultIndex), handler);
  };
}
template <class S, class V>
TPSMemberCode EventWriteCode(std::function<void(S*, V)> set) {
  return [set = std::move(set)](TPSMemberCall& c) {
    if (c.SelfIndex < 1) RaiseNotEnoughParameters();
    rtl::TNotifyEvent handler = NotifyEventFromSlot(c.Exec, c.Stack.EntryValue(c.SelfIndex - 1),
                                                    c.Stack.EntryType(c.SelfIndex - 1));
    set(ObjectAs<S>(c.Self), std::move(handler));
  };
}

}  // namespace detail

// --- Runtime classes ---------------------------------------------------------------------------

class TPSRuntimeClass {
 public:
  TPSRuntimeClass(rtl::TClass cls, std::string_view name);
  virtual ~TPSRuntimeClass() = default;
  TPSRuntimeClass(const TPSRuntimeClass&) = delete;
  TPSRuntimeClass& operator=(const TPSRuntimeClass&) = delete;

  rtl::TClass FClass;      // not owned (class metadata is static)
  std::string FClassName;  // upper case
  uint32_t FClassNameHash;
  std::vector<TPSRuntimeClassItem> FClassItems;
  // Virtual slots do not exist here: C++ member pointers dispatch virtually,
  // so a virtual member calls the overriding implementation by itself.
  int FEndOfVmt = INT32_MAX;
  std::vector<TPSInterfaceProvider> FInterfaces;

  // The registration kinds with type-erased code.
  void RegisterMethod(TPSMemberCode code, std::string_view name);
  void RegisterVirtualMethod(TPSMemberCode code, std::string_view name);
  void RegisterVirtualAbstractMethod(rtl::TClass cls, TPSMemberCode code, std::string_view name);
  void RegisterConstructor(TPSMemberCode code, std::string_view name, int paramCount = -1);
  void RegisterVirtualConstructor(TPSMemberCode code, std::string_view name, int paramCount = -1);
  // Either helper may be empty (a read-only or write-only property).
  void RegisterPropertyHelper(TPSMemberCode read, TPSMemberCode write, std::string_view name);
  void RegisterEventPropertyHelper(TPSMemberCode read, TPSMemberCode write, std::string_view name);
  void RegisterPropertyHelperName(TPSMemberCode read, TPSMemberCode write, std::string_view name);
  void RegisterInterface(std::string_view guid, std::function<rtl::IUnknown*(rtl::TObject&)> get);

  // The newest member of that upper-case name, or nil.
  const TPSRuntimeClassItem* FindItem(std::string_view upperName) const;
  // A new reference to the object's interface of that GUID, looking in this
  // class's registrations; nil when there is none.
  rtl::IUnknown* QueryInterface(rtl::TObject& object, const uint8_t guid[16]) const;

 protected:
  void AddItem(TPSClassItemKind kind, std::string_view name, TPSMemberCode code, TPSMemberCode write,
               int paramCount = -1);
};

// A runtime class with typed registrations for the host class T.
template <class T>
class TPSRuntimeClassT : public TPSRuntimeClass {
 public:
  using TPSRuntimeClass::TPSRuntimeClass;

  // A method: a member function of T (or of an ancestor) or a callable
  // taking T* first.
  template <class M>
  TPSRuntimeClassT& Method(std::string_view name, M method) {
    RegisterMethod(detail::MethodCode(detail::AsMember<T>(method)), name);
    return *this;
  }
  template <class M>
  TPSRuntimeClassT& VirtualMethod(std::string_view name, M method) {
    RegisterVirtualMethod(detail::MethodCode(detail::AsMember<T>(method)), name);
    return *this;
  }
  // A constructor from T's own C++ constructor with these parameter types.
  template <class... A>
  TPSRuntimeClassT& Constructor(std::string_view name = "Create") {
    RegisterConstructor(
        detail::ConstructorCode(std::function<T*(A...)>([](A... a) { return new T(std::forward<A>(a)...); })), name,
        sizeof...(A));
    return *this;
  }
  // A constructor through a factory callable returning the new T*.
  template <class F>
  TPSRuntimeClassT& ConstructorFn(std::string_view name, F factory) {
    auto fn = std::function(factory);
    RegisterConstructor(detail::ConstructorCode(fn), name, FunctionArity(fn));
    return *this;
  }
  // The same for a constructor the script language declares virtual.
  template <class F>
  TPSRuntimeClassT& VirtualConstructorFn(std::string_view name, F factory) {
    auto fn = std::function(factory);
    RegisterVirtualConstructor(detail::ConstructorCode(fn), name, FunctionArity(fn));
    return *this;
  }
  // Properties through getters and setters; indexed ones take the index
  // values first (getter: indexes; setter: indexes, then the value).
  template <class G>
  TPSRuntimeClassT& ReadProperty(std::string_view name, G get) {
    RegisterPropertyHelper(detail::MethodCode(detail::AsMember<T>(get)), {}, name);
    return *this;
  }
  template <class S>
  TPSRuntimeClassT& WriteProperty(std::string_view name, S set) {
    RegisterPropertyHelper({}, detail::MethodCode(detail::AsMember<T>(set)), name);
    return *this;
  }
  template <class G, class S>
  TPSRuntimeClassT& Property(std::string_view name, G get, S set) {
    RegisterPropertyHelper(detail::MethodCode(detail::AsMember<T>(get)), detail::MethodCode(detail::AsMember<T>(set)),
                           name);
    return *this;
  }
  // A property whose helpers also receive the property's name (as written
  // here) as their last argument.
  template <class G, class S>
  TPSRuntimeClassT& NamedProperty(std::string_view name, G get, S set) {
    rtl::UnicodeString propName = rtl::Utf8ToUnicode(name);
    RegisterPropertyHelperName(CurryName(detail::AsMember<T>(get), propName),
                               CurryName(detail::AsMember<T>(set), propName), name);
    return *this;
  }
  // An event property over TNotifyEvent accessors.
  template <class G, class S>
  TPSRuntimeClassT& EventProperty(std::string_view name, G get, S set) {
    RegisterEventPropertyHelper(detail::EventReadCode(detail::AsMember<T>(get)),
                                detail::EventWriteCode(detail::AsMember<T>(set)), name);
    return *this;
  }
  // An interface the objects hand out: `get` gives the object's I (or nil).
  template <class F>
  TPSRuntimeClassT& Interface(std::string_view guid, F get) {
    auto fn = detail::AsMember<T>(get);
    RegisterInterface(guid, [fn](rtl::TObject& object) -> rtl::IUnknown* {
      rtl::IUnknown* intf = fn(ObjectAs<T>(&object));
      if (intf) intf->AddRef();
      return intf;
    });
    return *this;
  }

 private:
  template <class R, class... A>
  static int FunctionArity(const std::function<R(A...)>&) {
    return sizeof...(A);
  }
  // The last C++ parameter takes the name; the others come from the stack.
  template <class R, class S, class... A>
  static TPSMemberCode CurryName(std::function<R(S*, A...)> fn, rtl::UnicodeString name) {
    static_assert(sizeof...(A) >= 1, "a named property helper takes the name last");
    return DropLast<R, S, A...>(std::move(fn), std::move(name), std::make_index_sequence<sizeof...(A) - 1>{});
  }
  template <class R, class S, class... A, size_t... I>
  static TPSMemberCode DropLast(std::function<R(S*, A...)> fn, rtl::UnicodeString name, std::index_sequence<I...>) {
    using Args = std::tuple<A...>;
    std::function<R(S*, std::tuple_element_t<I, Args>...)> curried =
        [fn, name](S* self, std::tuple_element_t<I, Args>... a) -> R {
      return fn(self, std::forward<std::tuple_element_t<I, Args>>(a)..., name);
    };
    return detail::MethodCode(std::move(curried));
  }
};

// --- Runtime interfaces -----------------------------------------------------------------------

// The methods of a host interface by their place in its method table, which
// counts the inherited methods first, as the compiler numbers them.
class TPSRuntimeInterface {
 public:
  TPSRuntimeInterface(const uint8_t guid[16], const TPSRuntimeInterface* inheritedFrom, int inheritedMethods);
  virtual ~TPSRuntimeInterface() = default;
  TPSRuntimeInterface(const TPSRuntimeInterface&) = delete;
  TPSRuntimeInterface& operator=(const TPSRuntimeInterface&) = delete;

  uint8_t FGuid[16];
  const TPSRuntimeInterface* FInheritedFrom;  // not owned; nil for a root
  int FFirstMethod;                           // place of the first own method
  std::vector<TPSMemberCodePtr> FMethods;     // own methods in declared order

  // Appends the next method of the table.
  void RegisterMethod(TPSMemberCode code);
  // The code at that place, looking through the inherited interfaces; nil
  // when nothing is registered there.
  const TPSMemberCode* FindMethod(int methodNo) const;
};

// A runtime interface with typed registrations for the C++ interface I.
template <class I>
class TPSRuntimeInterfaceT : public TPSRuntimeInterface {
 public:
  using TPSRuntimeInterface::TPSRuntimeInterface;

  // The next method: a member function of I (or of an ancestor) or a
  // callable taking I* first.
  template <class M>
  TPSRuntimeInterfaceT& Method(M method) {
    RegisterMethod(detail::InterfaceMethodCode(detail::AsMember<I>(method)));
    return *this;
  }
};

// --- The importer -------------------------------------------------------------------------------

class TPSRuntimeClassImporter {
 public:
  TPSRuntimeClassImporter() = default;
  TPSRuntimeClassImporter(const TPSRuntimeClassImporter&) = delete;
  TPSRuntimeClassImporter& operator=(const TPSRuntimeClassImporter&) = delete;

  // The runtime class of T (under T's class name unless a name is given),
  // created and appended when no class of that name exists yet.
  template <class T>
  TPSRuntimeClassT<T>& Add(std::string_view name = {}) {
    std::string className = name.empty() ? rtl::UnicodeToUtf8(T::StaticClass()->ClassName()) : std::string(name);
    if (TPSRuntimeClass* existing = FindClass(className)) {
      if (existing->FClass == T::StaticClass()) return static_cast<TPSRuntimeClassT<T>&>(*existing);
    }
    FClasses.push_back(std::make_unique<TPSRuntimeClassT<T>>(T::StaticClass(), className));
    return static_cast<TPSRuntimeClassT<T>&>(*FClasses.back());
  }
  template <class T>
  TPSRuntimeClassT<T>& Add2(std::string_view name) {
    return Add<T>(name);
  }
  // Untyped: a class known only by its metadata.
  TPSRuntimeClass& Add(rtl::TClass cls, std::string_view name = {});

  // The newest runtime class of that name (letter case ignored), or nil.
  TPSRuntimeClass* FindClass(std::string_view name) const;
  // The runtime class registered for the object's class or its nearest
  // ancestor, or nil.
  TPSRuntimeClass* FindClassOf(rtl::TClass cls) const;
  void Clear() { FClasses.clear(); }
  int Count() const { return static_cast<int>(FClasses.size()); }
  TPSRuntimeClass& Items(int i) const { return *FClasses[i]; }

  // A new reference to the object's interface of that GUID from the
  // registrations of its class and ancestors; nil when it has none.
  rtl::IUnknown* QueryInterface(rtl::TObject& object, const uint8_t guid[16]) const;

  // The methods scripts may call on the host interface I of that GUID. Its
  // table continues the one of `inheritedFrom` (a GUID registered before);
  // without one it follows IUnknown's three methods, which scripts cannot
  // call, since the engine counts the references itself.
  template <class I>
  TPSRuntimeInterfaceT<I>& AddInterface(std::string_view guid, std::string_view inheritedFrom = {}) {
    uint8_t bytes[16];
    const TPSRuntimeInterface* parent = nullptr;
    PrepareInterface(guid, inheritedFrom, bytes, parent);
    FInterfaces.push_back(std::make_unique<TPSRuntimeInterfaceT<I>>(
        bytes, parent, parent ? parent->FFirstMethod + static_cast<int>(parent->FMethods.size()) : 3));
    return static_cast<TPSRuntimeInterfaceT<I>&>(*FInterfaces.back());
  }
  // The newest runtime interface of that GUID, or nil.
  const TPSRuntimeInterface* FindInterface(const uint8_t guid[16]) const;

 private:
  // Checks the texts (raising for a malformed or unknown GUID).
  void PrepareInterface(std::string_view guid, std::string_view inheritedFrom, uint8_t bytes[16],
                        const TPSRuntimeInterface*& parent) const;

  std::vector<std::unique_ptr<TPSRuntimeClass>> FClasses;
  std::vector<std::unique_ptr<TPSRuntimeInterface>> FInterfaces;
};

// Installs the importer in the executor: the "class:" and "intf:" import
// kinds, the class check of "is" and "as", host method values and interface
// queries. The
// importer must outlive the module loaded into `exec`.
void RegisterClassLibraryRuntime(TPSExec& exec, TPSRuntimeClassImporter& importer);

// Parses "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" into the 16 bytes of a GUID
// as stored in modules; false when the text is not a GUID.
bool ParseGuidText(std::string_view text, uint8_t guid[16]);

}  // namespace ps
