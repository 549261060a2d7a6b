// The types, constants, interfaces and routines every compilation starts
// with, declared in a fixed order before the host's OnUses.
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

// The standard routines, in declaration order. Routines whose parameters
// accept any type are declared without them; AddedParams adds them untyped.
struct TStandardRoutine {
  std::string_view Decl;
  struct {
    std::string_view Name;
    TPSParameterMode Mode;
    bool Integer;  // typed Integer rather than untyped
  } Added[2];
};
constexpr TStandardRoutine StandardRoutines[] = {
    {"function IntToStr(i: Int64): String;", {}},
    {"function StrToInt(s: String): Longint;", {}},
    {"function StrToIntDef(s: String; def: Longint): Longint;", {}},
    {"function Copy(s: AnyString; iFrom, iCount: Longint): AnyString;", {}},
    {"function Pos(SubStr, S: AnyString): Longint;", {}},
    {"procedure Delete(var s: AnyString; ifrom, icount: Longint);", {}},
    {"procedure Insert(s: AnyString; var s2: AnyString; iPos: Longint);", {}},
    {"function GetArrayLength: integer;", {{"arr", pmInOut, false}}},
    {"procedure SetArrayLength;", {{"arr", pmInOut, false}, {"count", pmIn, true}}},
    {"Function StrGet(var S : String; I : Integer) : Char;", {}},
    {"Function StrGet2(S : String; I : Integer) : Char;", {}},
    {"procedure StrSet(c : Char; I : Integer; var s : String);", {}},
    {"Function WStrGet(var S : AnyString; I : Integer) : WideChar;", {}},
    {"procedure WStrSet(c : AnyString; I : Integer; var s : AnyString);", {}},
    {"Function VarArrayGet(var S : Variant; I : Integer) : Variant;", {}},
    {"procedure VarArraySet(c : Variant; I : Integer; var s : Variant);", {}},
    {"Function AnsiUppercase(s : String) : String;", {}},
    {"Function AnsiLowercase(s : String) : String;", {}},
    {"Function Uppercase(s : AnyString) : AnyString;", {}},
    {"Function Lowercase(s : AnyString) : AnyString;", {}},
    {"Function Trim(s : AnyString) : AnyString;", {}},
    {"function Length: Integer;", {{"s", pmIn, false}}},
    {"procedure SetLength;", {{"s", pmInOut, false}, {"NewLength", pmIn, true}}},
    {"function Low: Int64;", {{"x", pmIn, false}}},
    {"function High: Int64;", {{"x", pmIn, false}}},
    {"procedure Dec;", {{"x", pmInOut, false}}},
    {"procedure Inc;", {{"x", pmInOut, false}}},
    {"Function Sin(e : Extended) : Extended;", {}},
    {"Function Cos(e : Extended) : Extended;", {}},
    {"Function Sqrt(e : Extended) : Extended;", {}},
    {"Function Round(e : Extended) : Longint;", {}},
    {"Function Trunc(e : Extended) : Longint;", {}},
    {"Function Int(e : Extended) : Extended;", {}},
    {"Function Pi : Extended;", {}},
    {"Function Abs(e : Extended) : Extended;", {}},
    {"function StrToFloat(s: String): Extended;", {}},
    {"Function FloatToStr(e : Extended) : String;", {}},
    {"Function Padl(s : AnyString;I : longInt) : AnyString;", {}},
    {"Function Padr(s : AnyString;I : longInt) : AnyString;", {}},
    {"Function Padz(s : AnyString;I : longInt) : AnyString;", {}},
    {"Function Replicate(c : char;I : longInt) : String;", {}},
    {"Function StringOfChar(c : char;I : longInt) : String;", {}},
    {"function Unassigned: Variant;", {}},
    {"function VarIsEmpty(const V: Variant): Boolean;", {}},
    {"function Null: Variant;", {}},
    {"function VarIsNull(const V: Variant): Boolean;", {}},
    {"function VarType(const V: Variant): TVarType;", {}},
    {"procedure RaiseLastException;", {}},
    {"procedure RaiseException(Ex: TIFException; Param: String);", {}},
    {"function ExceptionType: TIFException;", {}},
    {"function ExceptionParam: String;", {}},
    {"function ExceptionProc: Cardinal;", {}},
    {"function ExceptionPos: Cardinal;", {}},
    {"function ExceptionToString(er: TIFException; Param: String): String;", {}},
    {"function StrToInt64(s: String): int64;", {}},
    {"function Int64ToStr(i: Int64): String;", {}},
    {"function SizeOf: Longint;", {{"Data", pmIn, false}}},
    {"function IDispatchInvoke(Self: IDispatch; PropertySet: Boolean; const Name: String; Par: array of variant): "
     "variant;",
     {}},
};

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
  AddInternalFunction("function Assigned(I: Longint): Boolean;", "!ASSIGNED");
  AddInternalFunction("procedure _T(Name: tbtString; v: Variant);", "!NOTIFICATIONVARIANTSET");
  AddInternalFunction("function _T(Name: tbtString): Variant;", "!NOTIFICATIONVARIANTGET");

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
  for (auto& r : StandardRoutines) {
    TPSRegProc* proc = AddNativeFunction(r.Decl);
    for (auto& added : r.Added) {
      if (added.Name.empty()) break;
      proc->FDecl.AddParam(added.Name, added.Mode, added.Integer ? integer : nullptr);
      proc->FImportDecl.push_back(added.Mode == pmIn ? 0 : 1);
    }
  }
}

}  // namespace ps
