// Typed rows of library tables: a routine or class member is written once,
// with its declaration text beside the C++ it binds to, and the adapters of
// HostCalls and ClassImporter do the marshalling:
//
//   TPSClassRows<rtl::TBits>("TObject", "TBits")
//       .Method("function OpenBit:Integer", &TBits::OpenBit)
//       .Property("Bits", "Boolean Integer", &TBits::Bits, &TBits::SetBits)
//       .Published("Size");
#pragma once

#include <utility>

#include "engine/LibraryTable.h"
#include "engine/runtime/ClassImporter.h"
#include "engine/runtime/HostCalls.h"

namespace ps {

// A typed host function (a function pointer or a callable) as a routine binding.
template <class F>
TPSRoutineBinder Native(F fn) {
  return [fn](TPSExec& exec, std::string_view key) { RegisterNativeFunction(exec, key, std::function(fn)); };
}

// A handler that reads its arguments from the stack itself.
inline TPSRoutineBinder Raw(TPSProcPtr proc) {
  return [proc](TPSExec& exec, std::string_view key) { exec.RegisterFunctionName(key, proc, nullptr, nullptr); };
}

// The rows of the host class T, added member by member in declaration order.
template <class T>
class TPSClassRows {
 public:
  TPSClassRows(std::string_view ancestor, std::string_view name) {
    FRow.Ancestor = ancestor;
    FRow.Name = name;
    FRow.HostClass = T::StaticClass();
    FRow.AddRuntime = [](TPSRuntimeClassImporter& importer) -> TPSRuntimeClass& { return importer.Add<T>(); };
  }

  TPSClassRows& Abstract() {
    FRow.Abstract = true;
    return *this;
  }
  TPSClassRows& Rebinds() {
    FRow.Rebinds = true;
    return *this;
  }
  // The last row is declared and bound only when the library's option is on.
  TPSClassRows& Needs(uint32_t option) {
    FRow.Members.back().Option = option;
    return *this;
  }
  // The last row is the class's default array property.
  TPSClassRows& Default() {
    FRow.Members.back().Default = true;
    return *this;
  }

  template <class M>
  TPSClassRows& Method(std::string_view decl, M method) {
    return Add(TPSMemberKind::Method, decl, {}, TPSAccess::ReadWrite,
               [method](TPSRuntimeClass& c, std::string_view name) { Typed(c).Method(name, method); });
  }
  // A method whose code reads the stack itself.
  TPSClassRows& RawMethod(std::string_view decl, TPSMemberCode code) {
    return Add(TPSMemberKind::Method, decl, {}, TPSAccess::ReadWrite,
               [code](TPSRuntimeClass& c, std::string_view name) { c.RegisterMethod(code, name); });
  }
  // A constructor from T's own C++ constructor with these parameter types.
  template <class... A>
  TPSClassRows& Constructor(std::string_view decl) {
    return Add(TPSMemberKind::Method, decl, {}, TPSAccess::ReadWrite,
               [](TPSRuntimeClass& c, std::string_view name) { Typed(c).template Constructor<A...>(name); });
  }
  template <class F>
  TPSClassRows& ConstructorFn(std::string_view decl, F factory) {
    return Add(TPSMemberKind::Method, decl, {}, TPSAccess::ReadWrite,
               [factory](TPSRuntimeClass& c, std::string_view name) { Typed(c).ConstructorFn(name, factory); });
  }
  template <class F>
  TPSClassRows& VirtualConstructorFn(std::string_view decl, F factory) {
    return Add(TPSMemberKind::Method, decl, {}, TPSAccess::ReadWrite,
               [factory](TPSRuntimeClass& c, std::string_view name) { Typed(c).VirtualConstructorFn(name, factory); });
  }

  template <class G>
  TPSClassRows& ReadProperty(std::string_view name, std::string_view type, G get) {
    return Add(TPSMemberKind::Property, name, type, TPSAccess::Read,
               [get](TPSRuntimeClass& c, std::string_view n) { Typed(c).ReadProperty(n, get); });
  }
  template <class G, class S>
  TPSClassRows& Property(std::string_view name, std::string_view type, G get, S set) {
    return Add(TPSMemberKind::Property, name, type, TPSAccess::ReadWrite,
               [get, set](TPSRuntimeClass& c, std::string_view n) { Typed(c).Property(n, get, set); });
  }
  template <class G, class S>
  TPSClassRows& EventProperty(std::string_view name, std::string_view type, G get, S set) {
    return Add(TPSMemberKind::Property, name, type, TPSAccess::ReadWrite,
               [get, set](TPSRuntimeClass& c, std::string_view n) { Typed(c).EventProperty(n, get, set); });
  }
  // An event property whose helpers read and write the stack themselves.
  TPSClassRows& RawEventProperty(std::string_view name, std::string_view type, TPSMemberCode read,
                                 TPSMemberCode write) {
    return Add(
        TPSMemberKind::Property, name, type, TPSAccess::ReadWrite,
        [read, write](TPSRuntimeClass& c, std::string_view n) { c.RegisterEventPropertyHelper(read, write, n); });
  }
  // A property the compiler declares only when a host has declared its
  // type; it has no binding, so a host that declares the type must bind it.
  TPSClassRows& UnboundProperty(std::string_view name, std::string_view type, TPSAccess access) {
    return Add(TPSMemberKind::Property, name, type, access, nullptr);
  }
  // A published property of the host class: its declaration and its binding
  // are the published one.
  TPSClassRows& Published(std::string_view name) {
    return Add(TPSMemberKind::Published, name, {}, TPSAccess::ReadWrite, nullptr);
  }

  // The finished row; the builder is left empty.
  operator TPSClassRow() { return std::move(FRow); }

 private:
  static TPSRuntimeClassT<T>& Typed(TPSRuntimeClass& c) { return static_cast<TPSRuntimeClassT<T>&>(c); }

  TPSClassRows& Add(TPSMemberKind kind, std::string_view decl, std::string_view type, TPSAccess access,
                    std::function<void(TPSRuntimeClass&, std::string_view)> bind) {
    TPSMemberRow& row = FRow.Members.emplace_back();
    row.Kind = kind;
    row.Decl = decl;
    row.Type = type;
    row.Access = access;
    row.Bind = std::move(bind);
    return *this;
  }

  TPSClassRow FRow;
};

}  // namespace ps
