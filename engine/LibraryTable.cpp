#include "engine/LibraryTable.h"

#include "engine/runtime/ClassImporter.h"
#include "engine/uPSCompiler.h"
#include "engine/uPSRuntime.h"

namespace ps {

namespace {

constexpr std::u16string_view SNoClassRow = u"The library has no class %s";
constexpr std::u16string_view SNoPublishedProperty = u"Class %s publishes no property %s";

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

bool Enabled(const TPSMemberRow& row, uint32_t options) { return row.Option == 0 || (row.Option & options) != 0; }

TPSPropType PropType(TPSAccess access) {
  switch (access) {
    case TPSAccess::Read: return iptR;
    case TPSAccess::Write: return iptW;
    case TPSAccess::ReadWrite: break;
  }
  return iptRW;
}

const rtl::TPropInfo& PublishedProperty(const TPSClassRow& cls, std::string_view name) {
  rtl::UnicodeString wide = rtl::Utf8ToUnicode(name);
  const rtl::TPropInfo* info = cls.HostClass ? cls.HostClass->FindProperty(wide) : nullptr;
  if (!info) throw rtl::Exception(rtl::FormatText(SNoPublishedProperty, {rtl::Utf8ToUnicode(cls.Name), wide}));
  return *info;
}

}  // namespace

std::string_view DeclaredName(std::string_view decl) {
  size_t i = 0;
  while (i < decl.size() && IsBlank(decl[i])) ++i;
  while (i < decl.size() && IsNameChar(decl[i])) ++i;  // function, procedure, constructor
  while (i < decl.size() && IsBlank(decl[i])) ++i;
  size_t start = i;
  while (i < decl.size() && IsNameChar(decl[i])) ++i;
  return decl.substr(start, i - start);
}

std::string RoutineKey(const TPSRoutineRow& row) {
  return row.Key.empty() ? FastUpperCase(DeclaredName(row.Decl)) : std::string(row.Key);
}

void DeclareRoutines(TPSPascalCompiler* compiler, std::span<const TPSRoutineRow> rows) {
  for (const TPSRoutineRow& row : rows) compiler->AddFunction(row.Decl);
}

void BindRoutines(TPSExec& exec, std::span<const TPSRoutineRow> rows) {
  for (const TPSRoutineRow& row : rows)
    if (row.Bind) row.Bind(exec, RoutineKey(row));
}

std::string_view TPSMemberRow::Name() const { return Kind == TPSMemberKind::Method ? DeclaredName(Decl) : Decl; }

const TPSClassRow& FindClassRow(std::span<const TPSClassRow> rows, std::string_view name) {
  for (const TPSClassRow& row : rows)
    if (row.Name == name) return row;
  throw rtl::Exception(rtl::FormatText(SNoClassRow, {rtl::Utf8ToUnicode(name)}));
}

void DeclareClass(TPSPascalCompiler* compiler, const TPSClassRow& row, uint32_t options) {
  if (row.Rebinds) return;
  TPSCompileTimeClass* cls = compiler->AddClassN(row.Ancestor.empty() ? nullptr : compiler->FindClass(row.Ancestor),
                                                 row.Name);
  if (row.Abstract) cls->FIsAbstract = true;
  for (const TPSMemberRow& m : row.Members) {
    if (!Enabled(m, options)) continue;
    switch (m.Kind) {
      case TPSMemberKind::Method: cls->RegisterMethod(m.Decl); break;
      case TPSMemberKind::Property: cls->RegisterProperty(m.Decl, m.Type, PropType(m.Access)); break;
      case TPSMemberKind::Published: {
        const rtl::TPropInfo& info = PublishedProperty(row, m.Decl);
        cls->RegisterProperty(m.Decl, rtl::UnicodeToUtf8(info.TypeName), info.IsWritable() ? iptRW : iptR);
        break;
      }
    }
    if (m.Default) cls->SetDefaultPropery(m.Decl);
  }
}

void BindClass(TPSRuntimeClassImporter& importer, const TPSClassRow& row, uint32_t options) {
  TPSRuntimeClass& cls = row.AddRuntime(importer);
  for (const TPSMemberRow& m : row.Members)
    if (m.Bind && Enabled(m, options)) m.Bind(cls, m.Name());
}

void DeclareClasses(TPSPascalCompiler* compiler, std::span<const TPSClassRow> rows, uint32_t options) {
  for (const TPSClassRow& row : rows) DeclareClass(compiler, row, options);
}

void BindClasses(TPSRuntimeClassImporter& importer, std::span<const TPSClassRow> rows, uint32_t options) {
  for (const TPSClassRow& row : rows) BindClass(importer, row, options);
}

}  // namespace ps
