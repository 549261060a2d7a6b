// Host registration: the declarations a host makes from OnUses before the
// script is compiled (types, routines, classes, interfaces, constants,
// variables), and the import texts written for class members.
#include <algorithm>
#include <cstring>

#include "engine/uPSCompiler.h"

namespace ps {

namespace {

constexpr std::u16string_view SUnableToRegisterType = u"Unable to register type %s";
constexpr std::u16string_view SUnableToRegisterFunction = u"Unable to register function %s";
constexpr std::u16string_view SUnableToRegisterConstant = u"Unable to register constant %s";
constexpr std::u16string_view SInvalidTypeForVariable = u"Invalid type for variable %s";
constexpr std::u16string_view SDuplicateIdentifier = u"Duplicate identifier '%s'";
constexpr std::u16string_view SInvalidType = u"Invalid Type";
constexpr std::u16string_view SNotAProperty = u"Not a property";
constexpr std::u16string_view SNotAnArrayProperty = u"Not an array property";
constexpr std::u16string_view SUnknownProperty = u"Unknown Property";
constexpr std::string_view SInvalidGuid = "'%s' is not a valid GUID value";

[[noreturn]] void Fail(std::u16string_view text, std::string_view param) {
  throw EPSCompilerException(rtl::FormatText(text, {rtl::Utf8ToUnicode(param)}));
}

// Swaps in a parser for a registration text and restores the compiler's own.
class TActiveParserScope {
 public:
  TActiveParserScope(TPSPascalParser*& slot, TPSPascalParser* parser) : FSlot(slot), FSaved(slot) { slot = parser; }
  ~TActiveParserScope() { FSlot = FSaved; }

 private:
  TPSPascalParser*& FSlot;
  TPSPascalParser* FSaved;
};

}  // namespace

// --- Types ------------------------------------------------------------------------

TPSType* TPSPascalCompiler::AddType(std::string_view name, TPSBaseType baseType) {
  CheckCompiling();
  std::unique_ptr<TPSType> type;
  switch (baseType) {
    case btRecord: type = std::make_unique<TPSRecordType>(); break;
    case btArray: type = std::make_unique<TPSArrayType>(); break;
    case btVariant: type = std::make_unique<TPSVariantType>(); break;
    case btProcPtr: type = std::make_unique<TPSProceduralType>(); break;
    case btStaticArray: type = std::make_unique<TPSStaticArrayType>(); break;
    case btClass: type = std::make_unique<TPSClassType>(); break;
    case btInterface: type = std::make_unique<TPSInterfaceType>(); break;
    case btEnum: type = std::make_unique<TPSEnumType>(); break;
    case btExtClass: type = std::make_unique<TPSUndefinedClassType>(); break;
    case btTypeLink: type = std::make_unique<TPSTypeLink>(); break;
    case btSet: type = std::make_unique<TPSSetType>(); break;
    default: type = std::make_unique<TPSType>(baseType); break;
  }
  type->SetName(name);
  return AddTypeToList(std::move(type));
}

TPSType* TPSPascalCompiler::AddTypeS(std::string_view name, std::string_view decl) {
  CheckCompiling();
  TPSPascalParser parser;
  parser.SetText(decl);
  TPSType* type = nullptr;
  size_t messages = FMessages.size();
  size_t types = FTypes.size(), constants = FConstants.size(), interfaces = FInterfaces.size();
  {
    TActiveParserScope scope(FActiveParser, &parser);
    bool lexerFailed = parser.CurrTokenID() == CSTI_EOF;
    if (!lexerFailed) type = ReadType(name);
    if (type && parser.CurrTokenID() != CSTI_EOF && parser.CurrTokenID() != CSTI_SemiColon) type = nullptr;
  }
  // A registration text that fails is reported by the exception alone.
  FMessages.resize(messages);
  if (!type) {
    // A host may go on after the failure; no half-made type may stay behind.
    RollbackDeclarations(types, constants, interfaces);
    Fail(SUnableToRegisterType, name);
  }
  type->FDeclarePos = -1;
  type->FDeclareRow = type->FDeclareCol = 0;
  type->FExportName = true;
  return type;
}

TPSType* TPSPascalCompiler::AddTypeCopy(std::string_view name, TPSType* type) {
  CheckCompiling();
  if (!type) throw EPSCompilerException(rtl::UnicodeString(SInvalidType));
  auto link = std::make_unique<TPSTypeLink>();
  link->SetName(name);
  link->FLinkTypeNo = type;
  return AddTypeToList(std::move(link));
}

TPSType* TPSPascalCompiler::AddTypeCopyN(std::string_view name, std::string_view typeName) {
  return AddTypeCopy(name, FindType(typeName));
}

void TPSPascalCompiler::AddToFreeList(std::unique_ptr<TPSType> obj) { FAutoFreeList.push_back(std::move(obj)); }

// --- Routine headings ---------------------------------------------------------------------

bool TPSPascalCompiler::ParseMethodHeader(std::string_view decl, std::string_view className, std::string& orgName,
                                          TPSParametersDecl& out) {
  TPSPascalParser p;
  p.SetText(decl);
  TPSParametersDecl result;
  TPSPasToken kind = p.CurrTokenID();
  if (kind != CSTII_function && kind != CSTII_procedure && !(kind == CSTII_constructor && !className.empty()))
    return false;
  p.Next();
  if (p.CurrTokenID() != CSTI_Identifier) return false;
  orgName = p.OriginalToken();
  p.Next();
  if (p.CurrTokenID() == CSTI_OpenRound) {
    p.Next();
    if (p.CurrTokenID() == CSTI_CloseRound) {
      p.Next();
    } else {
      while (true) {
        TPSParameterMode mode = ReadParameterMode(p);
        size_t groupStart = result.FParams.size();
        while (true) {
          if (p.CurrTokenID() != CSTI_Identifier) return false;
          TPSParameterDecl& d = result.AddParam(p.OriginalToken(), mode, nullptr);
          SetDeclarePosition(d, p.Position());
          p.Next();
          if (p.CurrTokenID() != CSTI_Comma) break;
          p.Next();
        }
        if (p.CurrTokenID() != CSTI_Colon) return false;
        p.Next();
        TPSType* type = nullptr;
        if (p.CurrTokenID() == CSTII_array) {
          p.Next();
          if (p.CurrTokenID() != CSTII_of) return false;
          p.Next();
          if (p.CurrTokenID() == CSTII_const) {
            type = FindTypeUpper("!OPENARRAYOFCONST");
            if (!type) {
              auto arr = std::make_unique<TPSArrayType>();
              arr->SetName("!OPENARRAYOFCONST");
              // Variant elements: an argument list literal assigns each
              // value to its element, and a variant keeps the value's kind.
              arr->FArrayTypeNo = FStd.Variant;
              type = AddTypeToList(std::move(arr));
            }
          } else if (p.CurrTokenID() == CSTI_Identifier) {
            TPSType* element = FindType(p.GetToken());
            type = element ? GetOpenArrayType(element) : nullptr;
          }
        } else if (p.CurrTokenID() == CSTI_Identifier) {
          type = FindType(p.GetToken());
        }
        if (!type) return false;
        p.Next();
        for (size_t i = groupStart; i < result.FParams.size(); ++i) result.FParams[i].FType = type;
        if (p.CurrTokenID() == CSTI_CloseRound) break;
        if (p.CurrTokenID() != CSTI_SemiColon) return false;
        p.Next();
      }
      p.Next();
    }
  }
  if (kind == CSTII_function) {
    if (p.CurrTokenID() != CSTI_Colon) return false;
    p.Next();
    if (p.CurrTokenID() != CSTI_Identifier) return false;
    result.FResult = FindType(p.GetToken());
    if (!result.FResult) return false;
  } else if (kind == CSTII_constructor) {
    result.FResult = FindType(className);
    if (!result.FResult) return false;
  }
  out = std::move(result);
  return true;
}

TPSRegProc* TPSPascalCompiler::AddNativeFunction(std::string_view decl) {
  std::string orgName;
  TPSParametersDecl parsed;
  // The module stores a routine's name behind a one-byte length.
  if (!ParseMethodHeader(decl, "", orgName, parsed) || orgName.size() > 255) Fail(SUnableToRegisterFunction, decl);
  auto proc = std::make_unique<TPSRegProc>();
  proc->SetName(orgName);
  proc->FExportName = true;
  proc->FDecl = std::move(parsed);
  proc->FImportDecl.push_back(proc->FDecl.FResult ? 1 : 0);
  for (auto& prm : proc->FDecl.FParams) proc->FImportDecl.push_back(prm.FMode == pmIn ? 0 : 1);
  TPSRegProc* raw = proc.get();
  FRegProcIndex[raw->FName] = static_cast<int32_t>(FRegProcs.size());
  FRegProcs.push_back(std::move(proc));
  return raw;
}

int32_t TPSPascalCompiler::UseRegProc(TPSRegProc* proc) {
  if (proc->FProcNo < 0) {
    auto ext = std::make_unique<TPSExternalProcedure>();
    ext->FRegProc = proc;
    proc->FProcNo = static_cast<int32_t>(FProcs.size());
    FProcs.push_back(std::move(ext));
  }
  return proc->FProcNo;
}

int32_t TPSPascalCompiler::AddUsedFunctionImport(const std::string& importDecl, const TPSParametersDecl& decl) {
  auto reg = std::make_unique<TPSRegProc>();
  reg->FDecl = decl;
  reg->FImportDecl = importDecl;
  TPSRegProc* raw = reg.get();
  FRegProcs.push_back(std::move(reg));
  return UseRegProc(raw);
}

// --- Classes ----------------------------------------------------------------------------------

TPSCompileTimeClass::TPSCompileTimeClass(TPSPascalCompiler* owner, std::string_view orgName, TPSType* type)
    : FClassName(FastUpperCase(orgName)), FClassNameHash(MakeHash(FClassName)), FType(type), FOwner(owner) {}

TPSCompileTimeClass* TPSPascalCompiler::FindClass(std::string_view name) const {
  if (!FCompiling) return nullptr;
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (auto& c : FClasses)
    if (c->FClassNameHash == hash && c->FClassName == upper) return c.get();
  return nullptr;
}

TPSCompileTimeClass* TPSPascalCompiler::AddClassN(TPSCompileTimeClass* ancestor, std::string_view name) {
  CheckCompiling();
  if (TPSCompileTimeClass* existing = FindClass(name)) {
    if (ancestor) existing->FInheritsFrom = ancestor;
    return existing;
  }
  auto* type = static_cast<TPSClassType*>(AddType(name, btClass));
  auto cls = std::make_unique<TPSCompileTimeClass>(this, name, type);
  cls->FInheritsFrom = ancestor;
  type->FCL = cls.get();
  // The executor matches class types to host classes by this name.
  type->FExportName = true;
  FClasses.push_back(std::move(cls));
  return FClasses.back().get();
}

TPSCompileTimeClass* TPSPascalCompiler::AddClass(TPSCompileTimeClass* ancestor, const void* hostClass,
                                                 std::string_view name) {
  TPSCompileTimeClass* cls = AddClassN(ancestor, name);
  cls->FClass = hostClass;
  return cls;
}

bool TPSCompileTimeClass::RegisterMethod(std::string_view decl) {
  std::string orgName;
  TPSParametersDecl parsed;
  if (!FOwner->ParseMethodHeader(decl, FClassName, orgName, parsed)) return false;
  TPSPascalParser first;
  first.SetText(decl);
  std::unique_ptr<TPSNativeClassItemMethod> item;
  if (first.CurrTokenID() == CSTII_constructor)
    item = std::make_unique<TPSNativeClassItemConstructor>();
  else
    item = std::make_unique<TPSNativeClassItemMethod>();
  item->SetName(orgName);
  item->FOwner = this;
  item->FDecl = std::move(parsed);
  FClassItems.push_back(std::move(item));
  return true;
}

void TPSCompileTimeClass::RegisterProperty(std::string_view propertyName, std::string_view propertyType,
                                           TPSPropType propAC) {
  auto item = std::make_unique<TPSNativeClassItemProperty>();
  item->SetName(propertyName);
  item->FOwner = this;
  item->FAccessType = propAC;
  size_t start = 0;
  int index = 0;
  while (true) {
    size_t blank = propertyType.find(' ', start);
    std::string_view word = propertyType.substr(start, blank == std::string_view::npos ? blank : blank - start);
    TPSType* type = FOwner->FindType(word);
    // A property naming an unknown type is dropped without a word, as hosts expect.
    if (!type) return;
    if (index == 0)
      item->FDecl.FResult = type;
    else
      item->FDecl.AddParam("param" + std::to_string(index), pmIn, type);
    ++index;
    if (blank == std::string_view::npos) break;
    start = blank + 1;
  }
  FClassItems.push_back(std::move(item));
}

void TPSCompileTimeClass::SetDefaultPropery(std::string_view name) {
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (int i = static_cast<int>(FClassItems.size()) - 1; i >= 0; --i) {
    if (!FClassItems[i]->Is(upper, hash)) continue;
    auto* prop = dynamic_cast<TPSNativeClassItemProperty*>(FClassItems[i].get());
    if (!prop) throw EPSCompilerException(rtl::UnicodeString(SNotAProperty));
    if (prop->FDecl.ParamCount() == 0) throw EPSCompilerException(rtl::UnicodeString(SNotAnArrayProperty));
    FDefaultProperty = i;
    return;
  }
  throw EPSCompilerException(rtl::UnicodeString(SUnknownProperty));
}

template <class Item>
Item* TPSCompileTimeClass::FindItem(std::string_view name) const {
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (const TPSCompileTimeClass* cls = this; cls; cls = cls->FInheritsFrom) {
    for (auto it = cls->FClassItems.rbegin(); it != cls->FClassItems.rend(); ++it) {
      if (!(*it)->Is(upper, hash)) continue;
      if (auto* item = dynamic_cast<Item*>(it->get())) return item;
    }
  }
  return nullptr;
}

TPSNativeClassItemProperty* TPSCompileTimeClass::Property_Find(std::string_view name) const {
  if (name.empty()) {
    for (const TPSCompileTimeClass* cls = this; cls; cls = cls->FInheritsFrom)
      if (cls->FDefaultProperty >= 0)
        return static_cast<TPSNativeClassItemProperty*>(cls->FClassItems[cls->FDefaultProperty].get());
    return nullptr;
  }
  return FindItem<TPSNativeClassItemProperty>(name);
}

TPSNativeClassItemMethod* TPSCompileTimeClass::Func_Find(std::string_view name) const {
  return FindItem<TPSNativeClassItemMethod>(name);
}

TPSNativeClassItemConstructor* TPSCompileTimeClass::ClassFunc_Find(std::string_view name) const {
  return FindItem<TPSNativeClassItemConstructor>(name);
}

int32_t TPSCompileTimeClass::Func_Call(TPSNativeClassItemMethod* method) {
  if (method->FMethodNo < 0) {
    std::string text = "class:" + FClassName + "|" + method->FName + "|";
    text.push_back(static_cast<char>(cdRegister));
    text.push_back(method->FDecl.FResult ? 1 : 0);
    for (auto& prm : method->FDecl.FParams) text.push_back(prm.FMode == pmIn ? 0 : 1);
    method->FMethodNo = FOwner->AddUsedFunctionImport(text, method->FDecl);
  }
  return method->FMethodNo;
}

int32_t TPSCompileTimeClass::Property_Get(TPSNativeClassItemProperty* prop) {
  if (prop->FAccessType == iptW) return -1;
  if (prop->FReadProcNo < 0) {
    std::string text = "class:" + FClassName + "|" + prop->FName + "|";
    AppendUInt32(text, static_cast<uint32_t>(prop->FDecl.ParamCount() + 1));
    prop->FReadProcNo = FOwner->AddUsedFunctionImport(text, prop->FDecl);
  }
  return prop->FReadProcNo;
}

int32_t TPSCompileTimeClass::Property_Set(TPSNativeClassItemProperty* prop) {
  if (prop->FAccessType == iptR) return -1;
  if (prop->FWriteProcNo < 0) {
    std::string text = "class:" + FClassName + "|" + prop->FName + "@|";
    AppendUInt32(text, static_cast<uint32_t>(prop->FDecl.ParamCount() + 1));
    // The assigned value follows the index arguments.
    TPSParametersDecl decl = prop->FDecl;
    decl.FResult = nullptr;
    decl.AddParam("Value", pmIn, prop->FDecl.FResult);
    prop->FWriteProcNo = FOwner->AddUsedFunctionImport(text, decl);
  }
  return prop->FWriteProcNo;
}

int32_t TPSCompileTimeClass::CastToType(TPSType* target) {
  TPSType* t = ResolveTypeLink(target);
  if (!t || (t->FBaseType != btClass && t->FBaseType != btInterface)) return -1;
  if (FCastProc < 0) {
    TPSParametersDecl decl;
    decl.AddParam("Org", pmIn, FType);
    decl.AddParam("TypeNo", pmIn, FOwner->FStd.LongWord);
    decl.FResult = t;
    FCastProc = FOwner->AddUsedFunctionImport("class:+", decl);
  }
  return FCastProc;
}

int32_t TPSCompileTimeClass::SetNil() {
  if (FNilProc < 0) {
    TPSParametersDecl decl;
    decl.AddParam("VarNo", pmInOut, FType);
    FNilProc = FOwner->AddUsedFunctionImport("class:-", decl);
  }
  return FNilProc;
}

bool TPSCompileTimeClass::IsCompatibleWith(TPSType* type) const {
  TPSType* t = ResolveTypeLink(type);
  if (!t || t->FBaseType != btClass) return false;
  for (const TPSCompileTimeClass* cls = static_cast<TPSClassType*>(t)->FCL; cls; cls = cls->FInheritsFrom)
    if (cls == this) return true;
  return false;
}

// --- Interfaces -------------------------------------------------------------------------------

bool ParseGuid(std::string_view text, uint8_t out[16], std::string& reason) {
  // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}: Data1 and the two words little-endian, then 8 bytes.
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  static constexpr int groups[] = {8, 4, 4, 4, 12};
  bool ok = text.size() == 38 && text.front() == '{' && text.back() == '}';
  std::vector<uint8_t> bytes;
  size_t pos = 1;
  for (int g = 0; ok && g < 5; ++g) {
    for (int i = 0; ok && i < groups[g]; i += 2) {
      int hi = hex(text[pos + i]), lo = hex(text[pos + i + 1]);
      ok = hi >= 0 && lo >= 0;
      bytes.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    pos += groups[g];
    if (ok && g < 4) ok = text[pos++] == '-';
  }
  if (!ok) {
    reason = rtl::UnicodeToUtf8(rtl::FormatText(rtl::Utf8ToUnicode(SInvalidGuid), {rtl::Utf8ToUnicode(text)}));
    return false;
  }
  // Text order is big-endian per field; the module stores the first three fields little-endian.
  uint8_t le[16] = {bytes[3], bytes[2], bytes[1], bytes[0], bytes[5], bytes[4], bytes[7], bytes[6]};
  std::copy(bytes.begin() + 8, bytes.end(), le + 8);
  std::memcpy(out, le, 16);
  return true;
}

TPSInterface::TPSInterface(TPSPascalCompiler* owner, TPSInterface* inheritedFrom, const uint8_t guid[16],
                           std::string_view name, TPSType* type)
    : FOwner(owner),
      FInheritedFrom(inheritedFrom),
      FName(FastUpperCase(name)),
      FNameHash(MakeHash(FName)),
      FType(type),
      FMethodCount(inheritedFrom ? inheritedFrom->FMethodCount : 0) {
  std::memcpy(FGuid, guid, 16);
}

bool TPSInterface::RegisterMethod(std::string_view decl, TPSCallingConvention cc) {
  std::string orgName;
  TPSParametersDecl parsed;
  if (!FOwner->ParseMethodHeader(decl, "", orgName, parsed)) return false;
  auto m = std::make_unique<TPSInterfaceMethod>();
  m->SetName(orgName);
  m->FDecl = std::move(parsed);
  m->FCC = cc;
  m->FMethodNo = FMethodCount++;
  FItems.push_back(std::move(m));
  return true;
}

TPSInterfaceMethod* TPSInterface::Func_Find(std::string_view name) const {
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (const TPSInterface* i = this; i; i = i->FInheritedFrom)
    for (auto it = i->FItems.rbegin(); it != i->FItems.rend(); ++it)
      if ((*it)->Is(upper, hash)) return it->get();
  return nullptr;
}

bool TPSInterface::IsCompatibleWith(const TPSInterface* other) const {
  for (const TPSInterface* i = this; i; i = i->FInheritedFrom)
    if (i == other) return true;
  return false;
}

TPSInterface* TPSPascalCompiler::AddInterface(TPSInterface* inheritedFrom, std::string_view guid,
                                              std::string_view name) {
  CheckCompiling();
  uint8_t bytes[16];
  std::string reason;
  if (!ParseGuid(guid, bytes, reason)) throw EPSCompilerException(rtl::Utf8ToUnicode(reason));
  auto* type = static_cast<TPSInterfaceType*>(AddType(name, btInterface));
  // Run-time messages about the interface's methods name it.
  type->FExportName = true;
  FInterfaces.push_back(std::make_unique<TPSInterface>(this, inheritedFrom, bytes, name, type));
  type->FIntf = FInterfaces.back().get();
  return type->FIntf;
}

TPSInterface* TPSPascalCompiler::FindInterface(std::string_view name) const {
  if (!FCompiling) return nullptr;
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (auto& i : FInterfaces)
    if (i->FNameHash == hash && i->FName == upper) return i.get();
  return nullptr;
}

// --- Attribute types ------------------------------------------------------------------------------

compiletime::TPSAttributeType* TPSPascalCompiler::AddAttributeType() {
  CheckCompiling();
  FAttributeTypes.push_back(std::make_unique<compiletime::TPSAttributeType>());
  return FAttributeTypes.back().get();
}

compiletime::TPSAttributeType* TPSPascalCompiler::FindAttributeType(std::string_view name) const {
  if (!FCompiling) return nullptr;
  std::string upper = FastUpperCase(name);
  uint32_t hash = MakeHash(upper);
  for (auto it = FAttributeTypes.rbegin(); it != FAttributeTypes.rend(); ++it)
    if ((*it)->Is(upper, hash)) return it->get();
  return nullptr;
}

TPSAttributeTypeField* compiletime::TPSAttributeType::AddField(std::string_view name, TPSType* type, bool hidden) {
  auto f = std::make_unique<TPSAttributeTypeField>();
  f->FFieldOrgName.assign(name);
  f->FFieldName = FastUpperCase(name);
  f->FFieldNameHash = MakeHash(f->FFieldName);
  f->FFieldType = type;
  f->FHidden = hidden;
  f->FDefaultValue.FType = type;
  FFields.push_back(std::move(f));
  return FFields.back().get();
}

// --- Constants ------------------------------------------------------------------------------------

TPSConstant* TPSPascalCompiler::AddConstant(std::string_view name, TPSType* type) {
  CheckCompiling();
  if (!type) Fail(SUnableToRegisterConstant, name);
  return NewConstant(name, type);
}

TPSConstant* TPSPascalCompiler::AddConstantN(std::string_view name, std::string_view typeName) {
  CheckCompiling();
  return AddConstant(name, FindType(typeName));
}

void TPSConstant::SetInt(int32_t v) { SetInt64(v); }
void TPSConstant::SetUInt(uint32_t v) { SetInt64(v); }
void TPSConstant::SetInt64(int64_t v) {
  FValue.FInt = v;
  FValue.FReal = static_cast<long double>(v);
}
void TPSConstant::SetString(std::string_view v) {
  FValue.FString.assign(v);
  FValue.FWideString = rtl::Utf8ToUnicode(v);
  if (v.size() == 1) FValue.FInt = static_cast<uint8_t>(v[0]);
}
void TPSConstant::SetChar(char v) {
  FValue.FInt = static_cast<uint8_t>(v);
  FValue.FString.assign(1, v);
}
void TPSConstant::SetWideChar(char16_t v) {
  FValue.FInt = v;
  FValue.FWideString.assign(1, v);
}
void TPSConstant::SetWideString(std::u16string_view v) {
  FValue.FWideString.assign(v);
  FValue.FString = rtl::UnicodeToUtf8(v);
}
void TPSConstant::SetUnicodeString(std::u16string_view v) { SetWideString(v); }
void TPSConstant::SetExtended(long double v) {
  FValue.FReal = v;
  FValue.FInt = static_cast<int64_t>(v);
}
void TPSConstant::SetSet(std::string_view bits) { FValue.FString.assign(bits); }

// --- Variables ------------------------------------------------------------------------------------

TPSVar* TPSPascalCompiler::AddVariable(std::string_view name, TPSType* type) {
  CheckCompiling();
  if (!type) Fail(SInvalidTypeForVariable, name);
  std::string upper = FastUpperCase(name);
  if (IsDuplicate(upper, true, true, true, true, nullptr)) Fail(SDuplicateIdentifier, name);
  return NewVariable(name, type);
}

TPSVar* TPSPascalCompiler::AddVariableN(std::string_view name, std::string_view typeName) {
  CheckCompiling();
  return AddVariable(name, FindType(typeName));
}

TPSVar* TPSPascalCompiler::AddUsedVariable(std::string_view name, TPSType* type) {
  TPSVar* v = AddVariable(name, type);
  v->FUsed = true;
  return v;
}

TPSVar* TPSPascalCompiler::AddUsedVariableN(std::string_view name, std::string_view typeName) {
  CheckCompiling();
  return AddUsedVariable(name, FindType(typeName));
}

TPSVar* TPSPascalCompiler::AddUsedPtrVariable(std::string_view name, TPSType* type) {
  TPSVar* v = AddUsedVariable(name, type);
  v->FSaveAsPointer = true;
  return v;
}

TPSVar* TPSPascalCompiler::AddUsedPtrVariableN(std::string_view name, std::string_view typeName) {
  CheckCompiling();
  return AddUsedPtrVariable(name, FindType(typeName));
}

}  // namespace ps
