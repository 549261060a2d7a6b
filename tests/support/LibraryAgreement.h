// What a library declares to the compiler against what it binds in the
// executor, as sets of entries ("TSTRINGS.ADD method", "TSTRINGS.COUNT read",
// "INTTOSTR routine"), so a test can show every declaration has its binding
// and every binding its declaration.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>

#include "engine/runtime/ClassImporter.h"
#include "engine/uPSCompiler.h"
#include "engine/uPSRuntime.h"

namespace ps::test {

struct TLibrarySides {
  std::set<std::string> Declared, Bound;
};

// Declarations: classes with their members and routines, as the compiler
// holds them after `declare` ran in the uses hook of the System unit.
inline std::set<std::string> DeclaredEntries(const std::function<void(TPSPascalCompiler*)>& declare, bool withClasses) {
  std::set<std::string> out;
  TPSPascalCompiler compiler;
  compiler.FOnUses = [&](TPSPascalCompiler* c, const std::string& unit) {
    if (unit != "SYSTEM") return true;
    declare(c);
    for (int i = 0; i < c->GetClassCount(); ++i) {
      TPSCompileTimeClass* cls = c->GetClass(i);
      if (withClasses) out.insert(cls->FClassName + " class");
      for (auto& item : cls->FClassItems) {
        const std::string key = cls->FClassName + "." + item->FName;
        if (auto* prop = dynamic_cast<TPSNativeClassItemProperty*>(item.get())) {
          if (prop->FAccessType != iptW) out.insert(key + " read");
          if (prop->FAccessType != iptR) out.insert(key + " write");
        } else if (dynamic_cast<TPSNativeClassItemConstructor*>(item.get())) {
          out.insert(key + " constructor");
        } else {
          out.insert(key + " method");
        }
      }
    }
    for (int i = 0; i < c->GetRegProcCount(); ++i) out.insert(c->GetRegProc(i)->FName + " routine");
    return true;
  };
  EXPECT_TRUE(compiler.Compile("begin end.")) << "the declarations compile";
  return out;
}

// Bindings: the importer's classes and members and the executor's routines.
// A declared property without a helper counts as bound when the host class
// publishes it with that access, as the executor then reaches it by name.
inline std::set<std::string> BoundEntries(const TPSRuntimeClassImporter& importer, const TPSExec& exec,
                                          const std::set<std::string>& declared, bool withClasses) {
  std::set<std::string> out;
  for (int i = 0; i < importer.Count(); ++i) {
    const TPSRuntimeClass& cls = importer.Items(i);
    if (withClasses) out.insert(cls.FClassName + " class");
    for (const TPSRuntimeClassItem& item : cls.FClassItems) {
      const std::string key = cls.FClassName + "." + item.FName;
      switch (item.FKind) {
        case ckMethod:
        case ckVirtualMethod: out.insert(key + " method"); break;
        case ckConstructor:
        case ckVirtualConstructor: out.insert(key + " constructor"); break;
        case ckPropertyHelper:
        case ckEventPropertyHelper:
        case ckPropertyHelperName:
          if (item.FCode) out.insert(key + " read");
          if (item.FWrite) out.insert(key + " write");
          break;
      }
    }
  }
  for (const std::string& entry : declared) {
    const size_t dot = entry.find('.'), blank = entry.rfind(' ');
    if (dot == std::string::npos) continue;
    const std::string className = entry.substr(0, dot), member = entry.substr(dot + 1, blank - dot - 1);
    const bool write = entry.ends_with(" write");
    if (!write && !entry.ends_with(" read")) continue;
    const TPSRuntimeClass* cls = importer.FindClass(className);
    if (!cls || !cls->FClass) continue;
    bool helper = false;  // a helper here or on an ancestor hides the published property
    for (const TPSRuntimeClass* c = cls; c && !helper;) {
      helper = c->FindItem(member) != nullptr;
      c = c->FClass && c->FClass->ClassParent() ? importer.FindClassOf(c->FClass->ClassParent()) : nullptr;
    }
    if (helper) continue;
    const rtl::TPropInfo* prop = cls->FClass->FindProperty(rtl::Utf8ToUnicode(member));
    if (prop && (write ? prop->IsWritable() : prop->IsReadable())) out.insert(entry);
  }
  for (const auto& proc : exec.RegisteredFunctions()) out.insert(proc->Name + " routine");
  return out;
}

// The entries only one side has, each marked with the side that has it.
inline std::string Disagreement(const std::set<std::string>& declared, const std::set<std::string>& bound) {
  std::string out;
  for (const std::string& d : declared)
    if (!bound.count(d)) out += "declared, not bound: " + d + "\n";
  for (const std::string& b : bound)
    if (!declared.count(b)) out += "bound, not declared: " + b + "\n";
  return out;
}

}  // namespace ps::test
