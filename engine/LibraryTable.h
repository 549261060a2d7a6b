// One table per library: each row carries the declaration the compiler reads
// and the binding the executor calls, so the two cannot drift apart. The
// compile-time and run-time hooks of a library stay separate functions (a
// module may be compiled in one process and run in another); each walks the
// same rows, in the same order.
//
// Tables are built once per process, on first use; the compile-time walk only
// reads their texts and never calls a binder.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "rtl/Objects.h"

namespace ps {

class TPSPascalCompiler;
class TPSExec;
class TPSRuntimeClass;
class TPSRuntimeClassImporter;

// --- Routines ----------------------------------------------------------------------------------

// Registers the implementation with the executor under `key` (upper case).
using TPSRoutineBinder = std::function<void(TPSExec& exec, std::string_view key)>;

struct TPSRoutineRow {
  std::string_view Decl;  // "function Name(...): Type;" as the compiler reads it
  TPSRoutineBinder Bind;
  // Parameters of any type, which a declaration cannot spell, added after
  // the declared ones: "var arr; count: Integer" (untyped unless Integer).
  std::string_view Untyped = {};
  std::string_view Key = {};  // the executor's name when it is not the declared one ("!ASSIGNED")
};

// The routine's name in a declaration: the word after "function"/"procedure".
std::string_view DeclaredName(std::string_view decl);
// The upper-case name the executor knows the routine by.
std::string RoutineKey(const TPSRoutineRow& row);

// Compile-time walk: every row's declaration, in order.
void DeclareRoutines(TPSPascalCompiler* compiler, std::span<const TPSRoutineRow> rows);
// Run-time walk: every row's binding under its key.
void BindRoutines(TPSExec& exec, std::span<const TPSRoutineRow> rows);

// --- Classes -----------------------------------------------------------------------------------

enum class TPSMemberKind : uint8_t {
  Method,     // Decl: the method or constructor header
  Property,   // Decl: the name; Type: value type, then index types; Access
  Published,  // Decl: the name; type and access come from the host class's published property,
              // which also serves the run time (no binder)
};

enum class TPSAccess : uint8_t { Read, ReadWrite, Write };

struct TPSMemberRow {
  TPSMemberKind Kind = TPSMemberKind::Method;
  std::string_view Decl;
  std::string_view Type;
  TPSAccess Access = TPSAccess::ReadWrite;
  bool Default = false;  // the class's default array property
  uint32_t Option = 0;   // declared and bound only when this option of the library is on (0: always)
  // Registers the implementation on the runtime class under `name`.
  std::function<void(TPSRuntimeClass& cls, std::string_view name)> Bind;

  // The member's script name.
  std::string_view Name() const;
};

struct TPSClassRow {
  std::string_view Ancestor;  // empty for a root class
  std::string_view Name;
  rtl::TClass HostClass = nullptr;  // not owned (class metadata is static)
  bool Abstract = false;
  // The class is declared by another library; these rows only bind members
  // it declares again at run time (the compile-time walk skips the class).
  bool Rebinds = false;
  // Makes (or finds) the runtime class of the host type.
  TPSRuntimeClass& (*AddRuntime)(TPSRuntimeClassImporter& importer) = nullptr;
  std::vector<TPSMemberRow> Members;
};

// The row of that class name (the first one); raises for a name not in the table.
const TPSClassRow& FindClassRow(std::span<const TPSClassRow> rows, std::string_view name);

// Compile-time walk of one class: the class, then its members in order.
void DeclareClass(TPSPascalCompiler* compiler, const TPSClassRow& row, uint32_t options = 0);
// Run-time walk of one class.
void BindClass(TPSRuntimeClassImporter& importer, const TPSClassRow& row, uint32_t options = 0);
// Both walks over a whole table.
void DeclareClasses(TPSPascalCompiler* compiler, std::span<const TPSClassRow> rows, uint32_t options = 0);
void BindClasses(TPSRuntimeClassImporter& importer, std::span<const TPSClassRow> rows, uint32_t options = 0);

}  // namespace ps
