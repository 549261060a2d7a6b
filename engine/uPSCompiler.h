// The script compiler: turns Pascal Script text into the module the executor
// loads. Declarations, types, host registration and module writing live in
// engine/compiler/; this header is the one public view of the compiler.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "PSModuleFormat.h"
#include "rtl/SysUtils.h"
#include "uPSUtils.h"

namespace ps {

// Compile-time kinds beside the module's base type codes; the module writer
// maps each to a loadable code.
constexpr TPSBaseType btEnum = 129;      // enumeration; written as U8/U16/U32 by its high value
constexpr TPSBaseType btType = 130;      // a type used as a value (right side of is/as)
constexpr TPSBaseType btExtClass = 131;  // host class placeholder
constexpr TPSBaseType btTypeLink = 255;  // alias of another type; never written

enum TPSParameterMode : uint8_t { pmIn = 0, pmOut = 1, pmInOut = 2 };
enum TPSPropType : uint8_t { iptRW = 0, iptR = 1, iptW = 2 };
enum TPSVariableType : uint8_t { ivtGlobal, ivtParam, ivtVariable };
enum TPSSubOptType : uint8_t { tMainBegin, tProcBegin, tSubBegin, tOneLiner, tifOneliner, tRepeat, tTry, tTryEnd };

enum TPSPascalCompilerErrorType : uint8_t {
  ecUnknownIdentifier,
  ecIdentifierExpected,
  ecCommentError,
  ecStringError,
  ecCharError,
  ecSyntaxError,
  ecUnexpectedEndOfFile,
  ecSemicolonExpected,
  ecBeginExpected,
  ecPeriodExpected,
  ecDuplicateIdentifier,
  ecColonExpected,
  ecUnknownType,
  ecCloseRoundExpected,
  ecTypeMismatch,
  ecInternalError,
  ecAssignmentExpected,
  ecThenExpected,
  ecDoExpected,
  ecNoResult,
  ecOpenRoundExpected,
  ecCommaExpected,
  ecToExpected,
  ecIsExpected,
  ecOfExpected,
  ecCloseBlockExpected,
  ecVariableExpected,
  ecStringExpected,
  ecEndExpected,
  ecUnSetLabel,
  ecNotInLoop,
  ecInvalidJump,
  ecOpenBlockExpected,
  ecWriteOnlyProperty,
  ecReadOnlyProperty,
  ecClassTypeExpected,
  ecCustomError,
  ecDivideByZero,
  ecMathError,
  ecUnsatisfiedForward,
  ecForwardParameterMismatch,
  ecInvalidnumberOfParameters,
};
enum TPSPascalCompilerWarningType : uint8_t {
  ewCalculationAlwaysEvaluatesTo,
  ewIsNotNeeded,
  ewAbstractClass,
  ewCustomWarning,
};
enum TPSPascalCompilerHintType : uint8_t { ehVariableNotUsed, ehFunctionNotUsed, ehCustomHint };

class TPSPascalCompiler;
class TPSType;
class TPSCompileTimeClass;
class TPSInterface;
// The executor keeps a record of the same name for attribute types it is
// given at run time; the compiler's declaration-side class has a namespace
// of its own so that both link into one program.
namespace compiletime {
class TPSAttributeType;
}
class TPSValue;  // expression tree node, owned by the code generator

// A failure of a host registration call; its message is the system's text.
class EPSCompilerException : public rtl::Exception {
 public:
  using rtl::Exception::Exception;
};

// Stores the name as written and its upper-case key with the key's hash.
struct TPSName {
  std::string FOrgName;
  std::string FName;
  uint32_t FNameHash = 0;
  void SetName(std::string_view orgName) {
    FOrgName.assign(orgName);
    FName = FastUpperCase(orgName);
    FNameHash = MakeHash(FName);
  }
  bool Is(std::string_view upperName, uint32_t hash) const { return FNameHash == hash && FName == upperName; }
};

// A typed constant value: constants, folded expressions, attribute values.
struct TIfRVariant {
  TPSType* FType = nullptr;
  int64_t FInt = 0;            // integers, Char, WideChar, enumerations; Currency scaled by 10000
  long double FReal = 0;       // Single, Double, Extended
  std::string FString;         // AnsiString and PChar bytes; the bits of a set
  std::u16string FWideString;  // WideString and UnicodeString
};

// --- Attributes -------------------------------------------------------------
struct TPSAttributeTypeField {
  std::string FFieldOrgName, FFieldName;
  uint32_t FFieldNameHash = 0;
  TPSType* FFieldType = nullptr;
  bool FHidden = false;  // not written by scripts; takes FDefaultValue
  TIfRVariant FDefaultValue;
};

class TPSAttribute {
 public:
  explicit TPSAttribute(compiletime::TPSAttributeType* type) : FAttribType(type) {}
  compiletime::TPSAttributeType* FAttribType;  // not owned
  std::vector<TIfRVariant> FValues;
};

class TPSAttributes {
 public:
  TPSAttribute* Add(compiletime::TPSAttributeType* type);
  int Count() const { return static_cast<int>(FItems.size()); }
  TPSAttribute* Items(int i) const { return FItems[i].get(); }
  // The first attribute of that type name, or none.
  TPSAttribute* FindAttribute(std::string_view name) const;
  std::vector<std::unique_ptr<TPSAttribute>> FItems;
};

using TPSApplyAttributeToType = std::function<bool(TPSPascalCompiler*, TPSAttribute*, TPSType*)>;
using TPSApplyAttributeToProc = std::function<bool(TPSPascalCompiler*, TPSAttribute*, class TPSProcedure*)>;

namespace compiletime {
class TPSAttributeType : public TPSName {
 public:
  TPSAttributeTypeField* AddField(std::string_view name, TPSType* type, bool hidden = false);
  int FieldCount() const { return static_cast<int>(FFields.size()); }
  std::vector<std::unique_ptr<TPSAttributeTypeField>> FFields;
  TPSApplyAttributeToType FOnApplyAttributeToType;
  TPSApplyAttributeToProc FOnApplyAttributeToProc;
};
}  // namespace compiletime

// The script position a type, parameter, routine or variable was declared
// at, as its FDeclarePos/FDeclareRow/FDeclareCol hold it; a host's
// declaration (FDeclarePos -1) reads as the start of the text.
template <class T>
TPSSourcePos DeclarePosition(const T& item) {
  return {item.FDeclarePos == -1 ? 0u : static_cast<uint32_t>(item.FDeclarePos), item.FDeclareRow, item.FDeclareCol};
}
template <class T>
void SetDeclarePosition(T& item, const TPSSourcePos& at) {
  item.FDeclarePos = static_cast<int32_t>(at.Pos);
  item.FDeclareRow = at.Row;
  item.FDeclareCol = at.Col;
}

// --- Parameters -------------------------------------------------------------
struct TPSParameterDecl {
  std::string FName, FOrgName;
  TPSParameterMode FMode = pmIn;
  TPSType* FType = nullptr;  // none for an untyped parameter of a host routine
  int32_t FDeclarePos = -1;
  uint32_t FDeclareRow = 0, FDeclareCol = 0;
};

class TPSParametersDecl {
 public:
  TPSParameterDecl& AddParam(std::string_view orgName, TPSParameterMode mode, TPSType* type);
  bool Same(const TPSParametersDecl& other) const;
  int ParamCount() const { return static_cast<int>(FParams.size()); }
  std::vector<TPSParameterDecl> FParams;
  TPSType* FResult = nullptr;
};

// --- Types ------------------------------------------------------------------
class TPSType {
 public:
  explicit TPSType(TPSBaseType baseType) : FBaseType(baseType) {}
  virtual ~TPSType() = default;
  void SetName(std::string_view orgName);

  uint32_t FNameHash = 0;
  std::string FName;  // upper case; empty for anonymous types
  TPSBaseType FBaseType;
  int32_t FDeclarePos = -1;
  uint32_t FDeclareRow = 0, FDeclareCol = 0;
  bool FUsed = false;
  bool FExportName = false;
  std::string FOriginalName;
  TPSAttributes FAttributes;
  int32_t FFinalTypeNo = -1;
};

class TPSVariantType : public TPSType {
 public:
  TPSVariantType() : TPSType(btVariant) {}
};

struct TPSRecordFieldTypeDef {
  std::string FFieldOrgName, FFieldName;
  uint32_t FFieldNameHash = 0;
  TPSType* FType = nullptr;
};

class TPSRecordType : public TPSType {
 public:
  TPSRecordType() : TPSType(btRecord) {}
  TPSRecordFieldTypeDef& AddRecVal(std::string_view orgName, TPSType* type);
  int RecValCount() const { return static_cast<int>(FRecordSubVals.size()); }
  // The field's number, or -1.
  int FindField(std::string_view upperName) const;
  std::vector<TPSRecordFieldTypeDef> FRecordSubVals;
};

class TPSClassType : public TPSType {
 public:
  TPSClassType() : TPSType(btClass) {}
  TPSCompileTimeClass* FCL = nullptr;  // owned by the compiler's class list
};

class TPSUndefinedClassType : public TPSType {
 public:
  TPSUndefinedClassType() : TPSType(btExtClass) {}
  void* FExtClass = nullptr;  // host placeholder, not owned
};

class TPSInterfaceType : public TPSType {
 public:
  TPSInterfaceType() : TPSType(btInterface) {}
  TPSInterface* FIntf = nullptr;  // owned by the compiler's interface list
};

class TPSProceduralType : public TPSType {
 public:
  TPSProceduralType() : TPSType(btProcPtr) {}
  TPSParametersDecl FProcDef;
};

class TPSArrayType : public TPSType {
 public:
  TPSArrayType() : TPSType(btArray) {}
  TPSType* FArrayTypeNo = nullptr;  // element type

 protected:
  explicit TPSArrayType(TPSBaseType bt) : TPSType(bt) {}
};

class TPSStaticArrayType : public TPSArrayType {
 public:
  TPSStaticArrayType() : TPSArrayType(btStaticArray) {}
  int32_t FStartOffset = 0;
  uint32_t FLength = 0;
};

class TPSSetType : public TPSType {
 public:
  TPSSetType() : TPSType(btSet) {}
  TPSType* FSetType = nullptr;
  uint32_t BitSize() const;
  uint32_t ByteSize() const { return (BitSize() + 7) / 8; }
};

class TPSTypeLink : public TPSType {
 public:
  TPSTypeLink() : TPSType(btTypeLink) {}
  TPSType* FLinkTypeNo = nullptr;
};

class TPSEnumType : public TPSType {
 public:
  TPSEnumType() : TPSType(btEnum) {}
  uint32_t FHighValue = 0;
};

// Follows alias links to the type they stand for.
TPSType* ResolveTypeLink(TPSType* type);

// --- Procedures, variables, constants ---------------------------------------
// A host routine declared by text.
class TPSRegProc : public TPSName {
 public:
  TPSParametersDecl FDecl;
  bool FExportName = false;
  std::string FImportDecl;
  int32_t FProcNo = -1;  // module procedure number once used
};

class TPSProcedure {
 public:
  virtual ~TPSProcedure() = default;
  TPSAttributes FAttributes;
};

class TPSProcVar : public TPSName {
 public:
  TPSType* FType = nullptr;
  bool FUsed = false;
  int32_t FDeclarePos = -1;
  uint32_t FDeclareRow = 0, FDeclareCol = 0;
};

struct TPSLabel {
  int32_t FPosition = -1;  // code position; -1 until placed
  uint32_t FNameHash = 0;
  std::string FName;
};
struct TPSGoto {
  uint32_t FPosition;  // of the jump offset to patch
  uint32_t FLabelIndex;
};

class TPSInternalProcedure : public TPSProcedure {
 public:
  void SetName(std::string_view orgName);
  bool FForwarded = false;
  std::string FData;  // code bytes
  uint32_t FNameHash = 0;
  std::string FName;
  TPSParametersDecl FDecl;
  std::vector<std::unique_ptr<TPSProcVar>> FProcVars;
  bool FUsed = false;
  int32_t FOutputDeclPosition = -1;
  bool FResultUsed = false;
  std::vector<TPSLabel> FLabels;
  std::vector<TPSGoto> FGotos;
  uint32_t FDeclareRow = 0;
  int32_t FDeclarePos = -1;
  uint32_t FDeclareCol = 0;
  std::string FOriginalName;
};

class TPSExternalProcedure : public TPSProcedure {
 public:
  TPSRegProc* FRegProc = nullptr;  // owned by the registered-procedure list
};

class TPSVar : public TPSName {
 public:
  TPSType* FType = nullptr;
  bool FUsed = false;
  bool FExportName = false;
  uint32_t FDeclareRow = 0;
  int32_t FDeclarePos = -1;
  uint32_t FDeclareCol = 0;
  bool FSaveAsPointer = false;
};

class TPSConstant : public TPSName {
 public:
  void SetInt(int32_t v);
  void SetUInt(uint32_t v);
  void SetInt64(int64_t v);
  void SetString(std::string_view v);
  void SetChar(char v);
  void SetWideChar(char16_t v);
  void SetWideString(std::u16string_view v);
  void SetUnicodeString(std::u16string_view v);
  void SetExtended(long double v);
  // Sets the ordinals in `bits` (a set constant's bit bytes).
  void SetSet(std::string_view bits);
  TPSSourcePos FDeclPos;  // where the script declares it; zeros for a host's constant
  TIfRVariant FValue;
};

// --- Host classes -----------------------------------------------------------
class TPSNativeClassItem : public TPSName {
 public:
  virtual ~TPSNativeClassItem() = default;
  TPSCompileTimeClass* FOwner = nullptr;
  TPSParametersDecl FDecl;
};
class TPSNativeClassItemMethod : public TPSNativeClassItem {
 public:
  int32_t FMethodNo = -1;
};
class TPSNativeClassItemConstructor : public TPSNativeClassItemMethod {};
class TPSNativeClassItemProperty : public TPSNativeClassItem {
 public:
  int32_t FReadProcNo = -1, FWriteProcNo = -1;
  TPSPropType FAccessType = iptRW;
};

class TPSCompileTimeClass {
 public:
  TPSCompileTimeClass(TPSPascalCompiler* owner, std::string_view orgName, TPSType* type);

  // False, adding nothing, when the text does not parse.
  bool RegisterMethod(std::string_view decl);
  void RegisterProperty(std::string_view propertyName, std::string_view propertyType, TPSPropType propAC);
  void SetDefaultPropery(std::string_view name);

  // Searches this class's members from the newest back, then the ancestors'.
  // An empty name finds the first default array property of the chain.
  TPSNativeClassItemProperty* Property_Find(std::string_view name) const;
  TPSNativeClassItemMethod* Func_Find(std::string_view name) const;
  TPSNativeClassItemConstructor* ClassFunc_Find(std::string_view name) const;
  // Procedure numbers of the imports, created on first use; -1 when refused.
  int32_t Property_Get(TPSNativeClassItemProperty* prop);
  int32_t Property_Set(TPSNativeClassItemProperty* prop);
  int32_t Func_Call(TPSNativeClassItemMethod* method);
  int32_t ClassFunc_Call(TPSNativeClassItemConstructor* ctor) { return Func_Call(ctor); }
  int32_t CastToType(TPSType* target);
  int32_t SetNil();
  // The property's result type and index parameters.
  void Property_GetHeader(TPSNativeClassItemProperty* prop, TPSParametersDecl& out) const { out = prop->FDecl; }
  bool IsCompatibleWith(TPSType* type) const;

  TPSCompileTimeClass* FInheritsFrom = nullptr;
  const void* FClass = nullptr;  // host class reference, when registered from one
  std::string FClassName;
  uint32_t FClassNameHash = 0;
  std::vector<std::unique_ptr<TPSNativeClassItem>> FClassItems;
  int32_t FDefaultProperty = -1;
  bool FIsAbstract = false;
  int32_t FCastProc = -1;
  int32_t FNilProc = -1;
  TPSType* FType = nullptr;
  TPSPascalCompiler* FOwner;

 private:
  template <class Item>
  Item* FindItem(std::string_view name) const;
};

// --- Interfaces -------------------------------------------------------------
struct TPSInterfaceMethod : TPSName {
  TPSParametersDecl FDecl;
  TPSCallingConvention FCC = cdStdCall;
  int32_t FMethodNo = -1;  // position in the interface's method table
  int32_t FScriptProcNo = -1;
};

class TPSInterface {
 public:
  TPSInterface(TPSPascalCompiler* owner, TPSInterface* inheritedFrom, const uint8_t guid[16], std::string_view name,
               TPSType* type);
  // False, adding nothing, when the heading does not parse.
  bool RegisterMethod(std::string_view decl, TPSCallingConvention cc);
  TPSInterfaceMethod* Func_Find(std::string_view name) const;
  // True when this interface is `other` or inherits from it.
  bool IsCompatibleWith(const TPSInterface* other) const;

  TPSPascalCompiler* FOwner;
  TPSInterface* FInheritedFrom;
  uint8_t FGuid[16];
  std::string FName;
  uint32_t FNameHash;
  TPSType* FType;
  std::vector<std::unique_ptr<TPSInterfaceMethod>> FItems;
  int32_t FMethodCount;  // including the ancestors'
  int32_t FCastProc = -1, FNilProc = -1;
};

// Parses "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" into the module's 16 bytes;
// false, with a reason, when the text is not a GUID.
bool ParseGuid(std::string_view text, uint8_t out[16], std::string& reason);

// --- Messages ---------------------------------------------------------------
class TPSPascalCompilerMessage {
 public:
  virtual ~TPSPascalCompilerMessage() = default;
  // "Error", "Warning" or "Hint".
  virtual std::string_view ErrorType() const = 0;
  // The message text with its parameter filled in.
  virtual rtl::UnicodeString ShortMessageToString() const = 0;
  // "[Kind] module(row:col): text".
  rtl::UnicodeString MessageToString() const;
  void SetCustomPos(uint32_t pos, uint32_t row, uint32_t col) {
    FPosition = pos;
    FRow = row;
    FCol = col;
  }
  void SetCustomPos(const TPSSourcePos& at) { SetCustomPos(at.Pos, at.Row, at.Col); }
  uint32_t FRow = 0, FCol = 0;
  std::string FModuleName;
  std::string FParam;
  uint32_t FPosition = 0;
};

class TPSPascalCompilerError : public TPSPascalCompilerMessage {
 public:
  std::string_view ErrorType() const override;
  rtl::UnicodeString ShortMessageToString() const override;
  TPSPascalCompilerErrorType FError = ecCustomError;
};
class TPSPascalCompilerWarning : public TPSPascalCompilerMessage {
 public:
  std::string_view ErrorType() const override;
  rtl::UnicodeString ShortMessageToString() const override;
  TPSPascalCompilerWarningType FWarning = ewCustomWarning;
};
class TPSPascalCompilerHint : public TPSPascalCompilerMessage {
 public:
  std::string_view ErrorType() const override;
  rtl::UnicodeString ShortMessageToString() const override;
  TPSPascalCompilerHintType FHint = ehCustomHint;
};

// --- Blocks ---------------------------------------------------------------------
class TPSBlockInfo {
 public:
  TPSBlockInfo(TPSBlockInfo* owner, TPSSubOptType subType, int32_t procNo, TPSInternalProcedure* proc)
      : FOwner(owner), FProcNo(procNo), FProc(proc), FSubType(subType) {}
  TPSBlockInfo* FOwner;              // enclosing block, not owned
  std::vector<TPSValue*> FWithList;  // active with-expressions of this block
  int32_t FProcNo;
  TPSInternalProcedure* FProc;  // not owned
  TPSSubOptType FSubType;
};

// What an identifier names in statements and expressions, in the order the
// lookup tries them (members of active with-expressions come first and are
// resolved by the expression compiler itself).
enum class TPSIdentifierKind : uint8_t { None, Result, Param, Local, Global, Type, Proc, RegProc, Constant };
struct TPSIdentifier {
  TPSIdentifierKind Kind = TPSIdentifierKind::None;
  int32_t Index = -1;       // parameter, local, variable, procedure, constant index
  TPSType* Type = nullptr;  // for Type, and the type of a variable, parameter or constant
  TPSRegProc* RegProc = nullptr;
};

// Name tables are keyed by the upper-case name and hashed with MakeHash.
struct TPSNameHasher {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return MakeHash(s); }
};
using TPSNameIndex = std::unordered_map<std::string, int32_t, TPSNameHasher, std::equal_to<>>;

// --- The compiler -------------------------------------------------------------
// Limits of the recursive descent: deeper texts are refused with a message
// instead of running the compiler out of stack. The type limit is the one
// the executor accepts when loading a module.
inline constexpr int MaxExpressionNesting = 200;      // parentheses, unary operators, arguments
inline constexpr uint32_t MaxExpressionDepth = 1000;  // operations in one expression's tree
inline constexpr int MaxStatementNesting = 200;
inline constexpr int MaxTypeNesting = 64;
inline constexpr std::string_view SExpressionTooComplex = "Expression too complex";
inline constexpr std::string_view SStatementsTooDeep = "Statements nested too deeply";
inline constexpr std::string_view STypeTooDeep = "Type nested too deeply";

// One level of a recursive descent, counted for as long as it lives.
class TPSNestingLevel {
 public:
  explicit TPSNestingLevel(int& depth) : FDepth(depth) { ++FDepth; }
  ~TPSNestingLevel() { --FDepth; }
  TPSNestingLevel(const TPSNestingLevel&) = delete;
  TPSNestingLevel& operator=(const TPSNestingLevel&) = delete;
  int Depth() const { return FDepth; }

 private:
  int& FDepth;
};

class TPSPascalCompiler {
 public:
  using TPSOnUses = std::function<bool(TPSPascalCompiler*, const std::string& name)>;
  using TPSOnExportCheck = std::function<bool(TPSPascalCompiler*, TPSInternalProcedure*, const std::string& decl)>;
  // Returns the routine for an `external` declaration (the compiler takes it over), or none.
  using TPSOnExternalProc = std::function<std::unique_ptr<TPSRegProc>(
      TPSPascalCompiler*, TPSParametersDecl*, const std::string& name, const std::string& text)>;
  using TPSOnNotify = std::function<bool(TPSPascalCompiler*)>;
  using TPSOnUseVariable = std::function<void(TPSPascalCompiler*, TPSVariableType, int32_t varNo, int32_t procNo,
                                              uint32_t position, const std::string& propData)>;
  using TPSOnWriteLine = std::function<bool(TPSPascalCompiler*, uint32_t position)>;
  using TPSOnFunction =
      std::function<void(TPSPascalCompiler*, const std::string& name, uint32_t pos, uint32_t row, uint32_t col)>;
  using TPSOnTranslateLineInfo =
      std::function<void(TPSPascalCompiler*, uint32_t& pos, uint32_t& row, uint32_t& col, std::string& name)>;

  TPSPascalCompiler();
  ~TPSPascalCompiler();
  TPSPascalCompiler(const TPSPascalCompiler&) = delete;
  TPSPascalCompiler& operator=(const TPSPascalCompiler&) = delete;

  bool Compile(std::string_view s);
  // Compiles the text of a used unit in the middle of a compilation (from
  // OnUses): its declarations join the program's, and its initialisation
  // part runs before the main program's statements. Messages point into the
  // unit's text.
  bool CompileUnitText(std::string_view text);
  bool GetOutput(std::string& s) const;
  bool GetDebugOutput(std::string& s) const;
  void Clear();

  int MsgCount() const { return static_cast<int>(FMessages.size()); }
  TPSPascalCompilerMessage* Msg(int i) const { return FMessages[i].get(); }
  TPSPascalCompilerMessage* MakeError(std::string_view module, TPSPascalCompilerErrorType e, std::string_view param);
  TPSPascalCompilerMessage* MakeWarning(std::string_view module, TPSPascalCompilerWarningType e,
                                        std::string_view param);
  TPSPascalCompilerMessage* MakeHint(std::string_view module, TPSPascalCompilerHintType e, std::string_view param);

  // --- Host registration (valid only while compiling, from OnUses) ---
  TPSType* FindType(std::string_view name);
  TPSType* AddType(std::string_view name, TPSBaseType baseType);
  TPSType* AddTypeS(std::string_view name, std::string_view decl);
  TPSType* AddTypeCopy(std::string_view name, TPSType* type);
  TPSType* AddTypeCopyN(std::string_view name, std::string_view typeName);
  TPSRegProc* AddNativeFunction(std::string_view decl);
  TPSRegProc* AddFunction(std::string_view decl) { return AddNativeFunction(decl); }
  TPSCompileTimeClass* AddClassN(TPSCompileTimeClass* ancestor, std::string_view name);
  // `hostClass` identifies the host class; `name` is its class name.
  TPSCompileTimeClass* AddClass(TPSCompileTimeClass* ancestor, const void* hostClass, std::string_view name);
  TPSCompileTimeClass* FindClass(std::string_view name) const;
  TPSInterface* AddInterface(TPSInterface* inheritedFrom, std::string_view guid, std::string_view name);
  TPSInterface* FindInterface(std::string_view name) const;
  compiletime::TPSAttributeType* AddAttributeType();
  compiletime::TPSAttributeType* FindAttributeType(std::string_view name) const;
  TPSConstant* AddConstant(std::string_view name, TPSType* type);
  TPSConstant* AddConstantN(std::string_view name, std::string_view typeName);
  TPSConstant* GetConstant(std::string_view name) const;
  TPSVar* AddVariable(std::string_view name, TPSType* type);
  TPSVar* AddVariableN(std::string_view name, std::string_view typeName);
  TPSVar* AddUsedVariable(std::string_view name, TPSType* type);
  TPSVar* AddUsedVariableN(std::string_view name, std::string_view typeName);
  TPSVar* AddUsedPtrVariable(std::string_view name, TPSType* type);
  TPSVar* AddUsedPtrVariableN(std::string_view name, std::string_view typeName);
  // Resolves an upper-case identifier inside `proc` (the main procedure for the main block).
  TPSIdentifier FindIdentifier(std::string_view upperName, const TPSInternalProcedure* proc) const;
  // Index of a script procedure or used registered routine, or -1 (no import is made).
  int32_t FindProc(std::string_view name) const;
  TPSRegProc* FindRegProc(std::string_view name) const;
  // The module procedure number of a registered routine, adding its import on first use.
  int32_t UseRegProc(TPSRegProc* proc);
  // An external procedure with an empty name for a class member import.
  int32_t AddUsedFunctionImport(const std::string& importDecl, const TPSParametersDecl& decl);
  void AddToFreeList(std::unique_ptr<TPSType> obj);

  int GetTypeCount() const { return static_cast<int>(FTypes.size()); }
  TPSType* GetType(int i) const { return FTypes[i].get(); }
  int GetVarCount() const { return static_cast<int>(FVars.size()); }
  TPSVar* GetVar(int i) const { return FVars[i].get(); }
  int GetProcCount() const { return static_cast<int>(FProcs.size()); }
  TPSProcedure* GetProc(int i) const { return FProcs[i].get(); }
  int GetConstCount() const { return static_cast<int>(FConstants.size()); }
  TPSConstant* GetConst(int i) const { return FConstants[i].get(); }
  int GetRegProcCount() const { return static_cast<int>(FRegProcs.size()); }
  TPSRegProc* GetRegProc(int i) const { return FRegProcs[i].get(); }
  int GetClassCount() const { return static_cast<int>(FClasses.size()); }
  TPSCompileTimeClass* GetClass(int i) const { return FClasses[i].get(); }

  // Gives the type (and its parts) a module type number on first use.
  void UseType(TPSType* type);
  // The assignment and parameter compatibility rules.
  bool IsCompatibleType(TPSType* target, TPSType* source, bool cast) const;
  // Parses a routine heading ("function Name(...): T") into a declaration;
  // `className` non-empty allows constructors. No messages are made.
  bool ParseMethodHeader(std::string_view decl, std::string_view className, std::string& orgName,
                         TPSParametersDecl& out);

  TPSType* FAnyString = nullptr;
  std::string FUnitName;
  bool FIsUnit = false;
  TPSOnExportCheck FOnExportCheck;
  TPSOnUses FOnUses;
  TPSOnExternalProc FOnExternalProc;
  TPSOnUseVariable FOnUseVariable;
  TPSOnNotify FOnBeforeOutput;
  TPSOnNotify FOnBeforeCleanup;
  TPSOnWriteLine FOnWriteLine;
  TPSOnTranslateLineInfo FOnTranslateLineInfo;
  TPSOnFunction FOnFunctionStart;
  TPSOnFunction FOnFunctionEnd;
  TPSType* FDefaultBoolType = nullptr;
  bool FUtf8Decode = false;
  bool FAllowNoBegin = false, FAllowNoEnd = false, FAllowUnit = false, FBooleanShortCircuit = false;

 private:
  friend class TPSCompileTimeClass;
  friend class TPSInterface;
  friend class TPSCodeGen;  // statement and expression compiler (engine/compiler/CodeGen.h)

  // --- set-up (StandardDeclarations.cpp) ---
  void DefineStandardTypes();
  void DefineStandardProcedures();
  TPSRegProc* AddInternalFunction(std::string_view decl, std::string_view key);
  void CheckCompiling() const;

  // --- declarations (Declarations.cpp) ---
  bool CallUses(const std::string& upperName);
  bool ParseProgram();
  bool ProcessUnitInitialization();
  // A program of declarations only still runs the initialisation of its units.
  void InitialiseUnitsWithoutMainBlock();
  bool FinishCompile();
  bool CheckLabels(TPSInternalProcedure* proc);
  bool ProcessUses();
  bool DoConstBlock();
  bool DoTypeBlock();
  bool DoVarBlock(TPSInternalProcedure* proc);
  bool DoLabelBlock(TPSInternalProcedure* proc);
  bool ProcessFunction(bool interfaceSection);
  bool ReadAttributes(TPSAttributes& dest);
  bool ApplyAttributesToType(TPSType* type);
  bool ApplyAttributesToProc(TPSProcedure* proc);
  void CheckUnusedGlobals();
  // Reads a parameter list after "("; `fullTypes` allows type definitions, not only names.
  bool ReadParameters(TPSParametersDecl& decl, const std::string& procName, bool fullTypes);
  bool IsDuplicate(std::string_view upperName, bool types, bool procs, bool vars, bool consts,
                   TPSInternalProcedure* proc) const;

  // --- types (Types.cpp) ---
  // Reads a type definition; a non-empty name makes a named type (or alias).
  TPSType* ReadType(std::string_view orgName);
  TPSType* ReadProceduralType(std::string_view orgName, bool isFunction);
  TPSType* ReadInterfaceType(std::string_view orgName);
  TPSType* FindTypeUpper(std::string_view upperName);
  template <class T>
  T* NewType(std::string_view orgName);
  TPSType* AddTypeToList(std::unique_ptr<TPSType> type);
  TPSType* GetOpenArrayType(TPSType* elementType);
  // Drops types, constants and interfaces made after the given counts.
  void RollbackDeclarations(size_t typeCount, size_t constCount, size_t interfaceCount);

  // --- constant expressions (ConstExpressions.cpp) ---
  bool ReadConstant(TIfRVariant& out);
  bool ReadConstRelational(TIfRVariant& v);
  bool ReadConstAdditive(TIfRVariant& v);
  bool ReadConstMultiplicative(TIfRVariant& v);
  bool ReadConstFactor(TIfRVariant& v);
  bool ReadStringLiteral(TIfRVariant& v);
  bool FoldBinary(TIfRVariant& left, const TIfRVariant& right, TPSPasToken op, TPSSourcePos at);
  bool ConvertConstant(TIfRVariant& v, TPSType* target);

  // --- statements (Statements.cpp) ---
  bool ProcessSub(TPSBlockInfo* block);
  void WriteDebugPosition(TPSInternalProcedure* proc, int32_t procNo);
  void WriteDebugNames(TPSInternalProcedure* proc, int32_t procNo);

  // --- module (ModuleWriter.cpp) ---
  bool MakeOutput();
  void WriteAttributes(std::string& out, const TPSAttributes& attributes);
  static void WriteConstantValue(std::string& out, const TIfRVariant& value);
  std::string MakeExportDecl(const TPSParametersDecl& decl);

  // --- helpers ---
  // Steps over the expected token, or reports `e` at the token found.
  bool Expect(TPSPasToken token, TPSPascalCompilerErrorType e);
  // Reads an optional parameter mode word: const, var or out.
  static TPSParameterMode ReadParameterMode(TPSPascalParser& p);
  void OnParserError(TPSPascalParser* parser, TPSParserErrorKind kind);
  int32_t IndexOfProcUpper(std::string_view upperName) const;
  int32_t IndexOfVarUpper(std::string_view upperName) const;
  int32_t IndexOfConstUpper(std::string_view upperName) const;
  TPSRegProc* FindRegProcUpper(std::string_view upperName) const;
  void AddProcToIndex(const std::string& upperName, int32_t index);
  TPSVar* NewVariable(std::string_view name, TPSType* type);
  TPSConstant* NewConstant(std::string_view name, TPSType* type);
  void ClearTables();

  std::vector<std::unique_ptr<TPSRegProc>> FRegProcs;
  std::vector<std::unique_ptr<TPSConstant>> FConstants;
  std::vector<std::unique_ptr<TPSProcedure>> FProcs;
  std::vector<std::unique_ptr<TPSType>> FTypes;
  std::vector<std::unique_ptr<compiletime::TPSAttributeType>> FAttributeTypes;
  std::vector<std::unique_ptr<TPSVar>> FVars;
  std::string FOutput;
  std::string FDebugOutput;
  std::unique_ptr<TPSPascalParser> FParser;
  // The parser being read: FParser, or one made for a registration text.
  TPSPascalParser* FActiveParser = nullptr;
  bool FParserHadError = false;
  std::vector<std::unique_ptr<TPSPascalCompilerMessage>> FMessages;
  // Errors that follow a lexer error are made here and dropped.
  std::vector<std::unique_ptr<TPSPascalCompilerMessage>> FDiscardedMessages;
  std::vector<uint32_t>* FContinueOffsets = nullptr;
  std::vector<uint32_t>* FBreakOffsets = nullptr;
  std::vector<std::unique_ptr<TPSType>> FAutoFreeList;
  std::vector<std::unique_ptr<TPSCompileTimeClass>> FClasses;
  int FWithCount = 0, FTryCount = 0, FExceptFinallyCount = 0;
  int FTypeNesting = 0, FConstNesting = 0;
  std::vector<std::unique_ptr<TPSInterface>> FInterfaces;
  int32_t FCurrUsedTypeNo = 0;
  std::unique_ptr<TPSBlockInfo> FGlobalBlock;
  // Used units being compiled inside this compilation, and the procedures
  // holding the initialisation parts of those compiled, in order.
  int FUnitNesting = 0;
  std::vector<int32_t> FUnitInitProcs;

  bool FCompiling = false;
  // Predefined types the compiler itself needs (literals, results, pointers).
  struct {
    TPSType *LongInt, *LongWord, *Int64, *Extended, *AnsiString, *Char, *WideChar, *UnicodeString, *Pointer, *Variant;
  } FStd{};
  // Types, in order of their module numbers.
  std::vector<TPSType*> FUsedTypes;
  TPSNameIndex FTypeIndex, FProcIndex, FRegProcIndex, FVarIndex, FConstIndex;
  // Attributes read before a declaration, handed to what follows.
  std::unique_ptr<TPSAttributes> FPendingAttributes;
  std::unordered_map<TPSType*, TPSType*> FDynArrayOf;
};

}  // namespace ps
