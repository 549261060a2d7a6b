// The types, constants, interfaces and routines every compilation starts
// with, declared in a fixed order before the host's OnUses.
#include "engine/runtime/BuiltinRoutines.h"
#include "engine/uPSCompiler.h"

namespace ps {

namespace {

struct TVarTypeConstant {
  std::string_view Name;
  int32_t Value;
};
constexpr TVarTypeConstant VarTypeConstants[] = {
    {"varEmpty", 0},     {"varNull", 1},     {"varSmallInt", 2},    {"varInteger", 3},  {"varSingle", 4},
    {"varDouble", 5},    {"varCurrency", 6}, {"varDate", 7},        {"varOleStr", 8},   {"varDispatch", 9},
    {"varError", 10},    {"varBoolean", 11}, {"varVariant", 12},    {"varUnknown", 13}, {"varShortInt", 16},
    {"varByte", 17},     {"varWord", 18},    {"varLongWord", 19},   {"varInt64", 20},   {"varStrArg", 72},
    {"varAny", 257},     {"varString", 256}, {"varTypeMask", 4095}, {"varArray", 8192}, {"varByRef", 16384},
    {"varUString", 258},
};

constexpr std::string_view TIFExceptionDecl =
    "(ErNoError, erCannotImport, erInvalidType, ErInternalError, erInvalidHeader, erInvalidOpcode, "
    "erInvalidOpcodeParameter, erNoMainProc, erOutOfGlobalVarsRange, erOutOfProcRange, ErOutOfRange, "
    "erOutOfStackRange, ErTypeMismatch, erUnexpectedEof, erVersionError, ErDivideByZero, ErMathError,"
    "erCouldNotCallProc, erOutofRecordRange, erOutOfMemory, erException, erNullPointerException, "
    "erNullVariantError, erInterfaceNotSupported, erCustomError)";

constexpr std::string_view IUnknownGuid = "{00000000-0000-0000-C000-000000000046}";
constexpr std::string_view IDispatchGuid = "{00020400-0000-0000-C000-000000000046}";

// Adds the untyped parameters of a row ("var arr; count: Integer") to its
// declaration.
void AddUntypedParams(TPSRegProc* proc, std::string_view params, TPSType* integer) {
  while (!params.empty()) {
    size_t end = params.find(';');
    std::string_view param = params.substr(0, end);
    params = end == std::string_view::npos ? std::string_view() : params.substr(end + 1);
    while (!param.empty() && param.front() == ' ') param.remove_prefix(1);
    const bool isVar = param.starts_with("var ");
    if (isVar) param.remove_prefix(4);
    size_t colon = param.find(':');
    std::string_view name = param.substr(0, colon);
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    const TPSParameterMode mode = isVar ? pmInOut : pmIn;
    proc->FDecl.AddParam(name, mode, colon == std::string_view::npos ? nullptr : integer);
    proc->FImportDecl.push_back(isVar ? 1 : 0);
  }
}

}  // namespace

void TPSPascalCompiler::DefineStandardTypes() {
  auto plain = [&](std::string_view name, TPSBaseType bt) { return AddType(name, bt); };
  auto boolean = [&](std::string_view name, uint32_t high) {
    auto* e = static_cast<TPSEnumType*>(AddType(name, btEnum));
    e->FHighValue = high;
    return e;
  };
  plain("Byte", btU8);
  FDefaultBoolType = AddTypeS("Boolean", "(False, True)");
  FDefaultBoolType->FExportName = true;
  boolean("LongBool", 2147483647);
  boolean("WordBool", 65535);
  boolean("ByteBool", 255);
  FStd.Char = plain("Char", btChar);
  FStd.WideChar = plain("WideChar", btWideChar);
  plain("WideString", btWideString);
  FStd.UnicodeString = plain("UnicodeString", btUnicodeString);
  FStd.AnsiString = plain("AnsiString", btString);
  plain("String", btUnicodeString);
  plain("NativeString", btUnicodeString);
  FAnyString = plain("AnyString", btString);
  plain("ShortInt", btS8);
  plain("Word", btU16);
  plain("SmallInt", btS16);
  FStd.LongInt = plain("LongInt", btS32);
  FStd.Pointer = plain("___Pointer", btPointer);
  FStd.LongWord = plain("LongWord", btU32);
  AddTypeCopyN("Integer", "LONGINT");
  AddTypeCopyN("Cardinal", "LONGWORD");
  plain("tbtString", btString);
  FStd.Int64 = plain("Int64", btS64);
  plain("Single", btSingle);
  plain("Double", btDouble);
  FStd.Extended = plain("Extended", btExtended);
  plain("Currency", btCurrency);
  plain("PChar", btPChar);
  FStd.Variant = plain("Variant", btVariant);
  plain("!NotificationVariant", btVariant);
  auto* variantArray = static_cast<TPSArrayType*>(plain("TVariantArray", btArray));
  variantArray->FArrayTypeNo = FStd.Variant;
  // Every predefined type is in the module, whether the script names it or not.
  for (auto& t : FTypes) {
    t->FExportName = t.get() == FDefaultBoolType;
    UseType(t.get());
  }
}

TPSRegProc* TPSPascalCompiler::AddInternalFunction(std::string_view decl, std::string_view key) {
  TPSRegProc* proc = AddNativeFunction(decl);
  FRegProcIndex.erase(proc->FName);
  proc->SetName(key);
  FRegProcIndex[proc->FName] = static_cast<int32_t>(FRegProcs.size() - 1);
  return proc;
}

void TPSPascalCompiler::DefineStandardProcedures() {
  for (const TPSRoutineRow& r : InternalRoutineRows()) AddInternalFunction(r.Decl, r.Key);

  TPSType* varType = AddTypeCopyN("TVarType", "Word");
  for (auto& c : VarTypeConstants) AddConstant(c.Name, varType)->SetInt(c.Value);
  AddTypeS("TIFException", TIFExceptionDecl);

  TPSInterface* unknown = AddInterface(nullptr, IUnknownGuid, "IUnknown");
  unknown->RegisterMethod("function QueryInterface(IID: String; var Obj: IUnknown): LongInt", cdStdCall);
  unknown->RegisterMethod("function _AddRef: LongInt", cdStdCall);
  unknown->RegisterMethod("function _Release: LongInt", cdStdCall);
  TPSInterface* iinterface = AddInterface(nullptr, IUnknownGuid, "IInterface");
  iinterface->RegisterMethod("function QueryInterface(IID: String; var Obj: IUnknown): LongInt", cdStdCall);
  iinterface->RegisterMethod("function _AddRef: LongInt", cdStdCall);
  iinterface->RegisterMethod("function _Release: LongInt", cdStdCall);
  TPSInterface* dispatch = AddInterface(unknown, IDispatchGuid, "IDispatch");
  dispatch->RegisterMethod("function GetTypeInfoCount(var Count: Integer): LongInt", cdStdCall);
  dispatch->RegisterMethod("function GetTypeInfo(Index, LocaleID: Integer; var TypeInfo: IUnknown): LongInt",
                           cdStdCall);
  dispatch->RegisterMethod(
      "function GetIDsOfNames(IID: String; Names: LongWord; NameCount, LocaleID: Integer; DispIDs: LongWord): LongInt",
      cdStdCall);
  dispatch->RegisterMethod(
      "function Invoke(DispID: Integer; IID: String; LocaleID: Integer; Flags: Word; Params, VarResult, ExcepInfo, "
      "ArgErr: LongWord): LongInt",
      cdStdCall);
  // Host values of this type are passed in by name, so the module always has it.
  dispatch->FType->FExportName = true;
  UseType(dispatch->FType);

  TPSType* integer = FindTypeUpper("INTEGER");
  for (const TPSRoutineRow& r : StandardRoutineRows()) AddUntypedParams(AddNativeFunction(r.Decl), r.Untyped, integer);
}

}  // namespace ps
