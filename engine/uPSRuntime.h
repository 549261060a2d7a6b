// The script executor: runtime type records, value slots, the value stack,
// the module loader, the instruction loop, calls, try blocks and errors.
//
// References (strings, arrays, objects, the words of pointer, procedure and
// return-address values) are 64 bits wide throughout; nothing in a module
// stores these sizes, so every slot and record offset is computed at load.
#pragma once

#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/PSModuleFormat.h"
#include "rtl/SysUtils.h"
#include "rtl/Variant.h"

namespace ps {

class TPSExec;
class TPSStack;
class TPSTypeRec;
class TPSProcRec;
class TPSInternalProcRec;
class TPSExternalProcRec;
struct TPSFastCode;
struct TPSRegisterCode;

// --- Error codes -------------------------------------------------------------------
enum TPSError : uint8_t {
  ErNoError = 0,
  erCannotImport = 1,
  erInvalidType = 2,
  ErInternalError = 3,
  erInvalidHeader = 4,
  erInvalidOpcode = 5,
  erInvalidOpcodeParameter = 6,
  erNoMainProc = 7,
  erOutOfGlobalVarsRange = 8,
  erOutOfProcRange = 9,
  ErOutOfRange = 10,
  erOutOfStackRange = 11,
  ErTypeMismatch = 12,
  erUnexpectedEof = 13,
  erVersionError = 14,
  ErDivideByZero = 15,
  ErMathError = 16,
  erCouldNotCallProc = 17,
  erOutofRecordRange = 18,
  erOutOfMemory = 19,
  erException = 20,
  erNullPointerException = 21,
  erNullVariantError = 22,
  erInterfaceNotSupported = 23,
  erCustomError = 24,
};

// The message hosts print for an error code and its parameter.
rtl::UnicodeString TPSErrorToString(TPSError code, const rtl::UnicodeString& param);

enum TPSStatus : uint8_t { isNotLoaded, isLoaded, isRunning, isPaused };

// Carries a script error out to the host (and back in through nested runs).
class EScriptException : public rtl::Exception {
 public:
  EScriptException(rtl::UnicodeString message, int32_t procNo, int32_t procPos, TPSExec* exec)
      : Exception(std::move(message)), FProcNo(procNo), FProcPos(procPos), FExec(exec) {}
  int32_t ProcNo() const { return FProcNo; }
  int32_t ProcPos() const { return FProcPos; }
  TPSExec* Exec() const { return FExec; }

 private:
  int32_t FProcNo, FProcPos;
  TPSExec* FExec;  // not owned
};

// Host errors of the runtime, spelled once.
inline constexpr std::u16string_view STypeMismatch = u"Type Mismatch";
inline constexpr std::u16string_view SInvalidArray = u"Invalid array";
inline constexpr std::u16string_view SCapacityLessThanLength = u"Capacity < Length";
inline constexpr std::u16string_view SCanOnlyRemoveLastItem = u"Can only remove last item from stack";
inline constexpr std::u16string_view SUnknownProcedure = u"Unknown procedure";
inline constexpr std::u16string_view SNotEnoughParameters = u"Not enough parameters";
inline constexpr std::u16string_view STooManyParameters = u"Too many parameters";
inline constexpr std::u16string_view SInvalidParameter = u"Invalid parameter";
inline constexpr std::u16string_view SInvalidCast = u"Invalid class typecast";

[[noreturn]] void RaiseTypeMismatch();

// --- Slot layouts of the reference kinds ----------------------------------------------
struct TPSPointerValue {
  void* Target;
  TPSTypeRec* Type;
  uintptr_t Owning;  // not 0: Target is a private copy destroyed with the pointer
};
struct TPSProcPtrValue {
  uint32_t ProcNo;
  uint32_t Reserved;
  void* Code;  // host method code and data; nil for script procedures
  void* Data;
};
struct TPSReturnAddress {
  TPSInternalProcRec* Proc;  // nil for a frame opened by the host (RunProc)
  uint32_t Position;
  int32_t BasePtr;
};

// --- Attributes ---------------------------------------------------------------------------
class TPSRuntimeAttribute {
 public:
  explicit TPSRuntimeAttribute(void* owner);
  ~TPSRuntimeAttribute();
  // Pushes a new initialised value of the type; returns its slot.
  uint8_t* AddValue(TPSTypeRec* type);
  // Only the last value may be removed.
  void DeleteValue(int index);
  int ValueCount() const;
  TPSStack& Values() { return *FValues; }

  std::string FAttribType;
  uint32_t FAttribTypeHash = 0;
  void* FOwner;  // the type or procedure record; not owned
  std::unique_ptr<TPSStack> FValues;
};

class TPSRuntimeAttributes {
 public:
  explicit TPSRuntimeAttributes(void* owner) : FOwner(owner) {}
  TPSRuntimeAttribute* Add();
  void Delete(int index);
  int Count() const { return static_cast<int>(FItems.size()); }
  TPSRuntimeAttribute* Items(int index) { return FItems[index].get(); }
  TPSRuntimeAttribute* FindAttribute(std::string_view name);

 private:
  void* FOwner;
  std::vector<std::unique_ptr<TPSRuntimeAttribute>> FItems;
};

// --- Runtime type records -------------------------------------------------------------
class TPSTypeRec {
 public:
  explicit TPSTypeRec(TPSBaseType baseType) : FBaseType(baseType), FAttributes(this) {}
  virtual ~TPSTypeRec() = default;
  TPSTypeRec(const TPSTypeRec&) = delete;
  TPSTypeRec& operator=(const TPSTypeRec&) = delete;

  // Works out FRealSize (and FManaged) from the kind and its parts.
  virtual void CalcSize();
  TPSBaseType BaseType() const { return FBaseType; }
  uint32_t RealSize() const { return FRealSize; }
  const std::string& ExportName() const { return FExportName; }
  void SetExportName(std::string name);
  TPSRuntimeAttributes& Attributes() { return FAttributes; }

  TPSBaseType FBaseType;
  uint32_t FRealSize = 0;
  bool FManaged = false;  // slots need finalising before reuse
  std::string FExportName;
  uint32_t FExportNameHash = 0;
  TPSRuntimeAttributes FAttributes;
};

class TPSTypeRec_Record : public TPSTypeRec {
 public:
  TPSTypeRec_Record() : TPSTypeRec(btRecord) {}
  void CalcSize() override;
  size_t FieldCount() const { return FFieldTypes.size(); }
  std::vector<TPSTypeRec*> FFieldTypes;  // not owned (the executor's type list owns them)
  std::vector<uint32_t> FRealFieldOffsets;
};

class TPSTypeRec_Array : public TPSTypeRec {
 public:
  explicit TPSTypeRec_Array(TPSTypeRec* elem = nullptr) : TPSTypeRec(btArray), FArrayType(elem) {}
  TPSTypeRec* FArrayType;  // not owned
};

class TPSTypeRec_StaticArray : public TPSTypeRec {
 public:
  TPSTypeRec_StaticArray() : TPSTypeRec(btStaticArray) {}
  void CalcSize() override;
  TPSTypeRec* FArrayType = nullptr;  // not owned
  uint32_t FSize = 0;
  int32_t FStartOffset = 0;
};

class TPSTypeRec_Set : public TPSTypeRec {
 public:
  TPSTypeRec_Set() : TPSTypeRec(btSet) {}
  void CalcSize() override {
    FRealSize = FByteSize;
    FManaged = false;
  }
  uint32_t FBitSize = 0;
  uint32_t FByteSize = 0;
};

class TPSTypeRec_ProcPtr : public TPSTypeRec {
 public:
  TPSTypeRec_ProcPtr() : TPSTypeRec(btProcPtr) {}
  std::string FParamInfo;  // result byte, then one mode byte per parameter
};

class TPSTypeRec_Class : public TPSTypeRec {
 public:
  TPSTypeRec_Class() : TPSTypeRec(btClass) {}
  std::string FCN;
};

class TPSTypeRec_Interface : public TPSTypeRec {
 public:
  TPSTypeRec_Interface() : TPSTypeRec(btInterface) {}
  uint8_t FGuid[16] = {};
};

// Fixed value size of a base type (0 for kinds whose size depends on parts).
uint32_t BaseTypeSize(TPSBaseType baseType);
// Whether slots of the kind need finalisation.
bool IsManagedBaseType(TPSBaseType baseType);

// --- Value primitives -----------------------------------------------------------------------
void InitializeValue(uint8_t* slot, const TPSTypeRec* type);
void FinalizeValue(uint8_t* slot, const TPSTypeRec* type);
// Copies `count` consecutive values; false when any part cannot be copied.
bool CopyValues(uint8_t* dst, const uint8_t* src, const TPSTypeRec* type, size_t count = 1);
// A heap value of the type, initialised; free it with DestroyValue.
uint8_t* CreateValue(const TPSTypeRec* type);
void DestroyValue(uint8_t* slot, const TPSTypeRec* type);

// Dynamic arrays: raise "Invalid array" for slots of another kind.
uint32_t PSDynArrayGetLength(const uint8_t* slot, const TPSTypeRec* type);
void PSDynArraySetLength(uint8_t* slot, const TPSTypeRec* type, uint32_t length);
// Address of element `index` (no range check).
uint8_t* PSDynArrayElement(const uint8_t* slot, const TPSTypeRec* type, uint32_t index);

// String slots. 8-bit strings hold UTF-8; the 16-bit kinds UTF-16.
std::string_view PSAnsiView(const uint8_t* slot);
void PSAnsiAssign(uint8_t* slot, std::string_view text);
std::u16string_view PSUnicodeView(const uint8_t* slot);  // tcUnicodeString and tcWideString
void PSUnicodeAssign(uint8_t* slot, std::u16string_view text);

// Typed getters; a tcPointer source is read through its target. They raise
// "Type Mismatch" (a host error) for kinds they do not accept.
uint32_t PSGetUInt(const uint8_t* src, const TPSTypeRec* type);
int32_t PSGetInt(const uint8_t* src, const TPSTypeRec* type);
int64_t PSGetInt64(const uint8_t* src, const TPSTypeRec* type);
long double PSGetReal(const uint8_t* src, const TPSTypeRec* type);
int64_t PSGetCurrency(const uint8_t* src, const TPSTypeRec* type);
rtl::AnsiString PSGetAnsiString(const uint8_t* src, const TPSTypeRec* type);
rtl::UnicodeString PSGetUnicodeString(const uint8_t* src, const TPSTypeRec* type);

// Setters used by host code: store a value converted to the slot's kind.
void PSSetInt(uint8_t* dst, const TPSTypeRec* type, int64_t value);
void PSSetReal(uint8_t* dst, const TPSTypeRec* type, long double value);
void PSSetCurrency(uint8_t* dst, const TPSTypeRec* type, int64_t value);
void PSSetAnsiString(uint8_t* dst, const TPSTypeRec* type, std::string_view value);
void PSSetUnicodeString(uint8_t* dst, const TPSTypeRec* type, std::u16string_view value);

// --- Stack -------------------------------------------------------------------------------------
// One memory block of entries, each a type record reference followed by the
// value. The block moves when it grows or shrinks; entries are kept as
// offsets, and pointer entries whose targets lay inside the old block (or in a
// linked stack's block) are moved with it.
class TPSStack {
 public:
  static constexpr uint32_t BlockStep = 4096;
  static constexpr uint32_t EntryHeader = sizeof(void*);
  // Runaway recursion stops here instead of exhausting memory.
  static constexpr uint64_t DefaultMaxLength = 256ull * 1024 * 1024;

  TPSStack();
  ~TPSStack();
  TPSStack(const TPSStack&) = delete;
  TPSStack& operator=(const TPSStack&) = delete;

  int Count() const { return static_cast<int>(FEntries.size()); }
  uint32_t Length() const { return FLength; }
  uint32_t Capacity() const { return FCapacity; }
  void SetCapacity(uint32_t capacity);
  void SetMaxLength(uint64_t maxLength) { FMaxLength = maxLength; }
  // Pointer entries of `other` that point into this block move with it.
  void LinkPointerOwner(TPSStack* other) { FLinked = other; }

  // Entry `index`: its type record and its value. Negative counts from the top.
  TPSTypeRec* EntryType(int index) const {
    TPSTypeRec* t;
    std::memcpy(&t, Items(index), sizeof t);
    return t;
  }
  uint8_t* EntryValue(int index) const { return Items(index) + EntryHeader; }
  uint8_t* Items(int index) const { return FDataPtr + FEntries[Normalize(index)]; }
  bool Contains(const void* p) const { return p >= FDataPtr && p < FDataPtr + FLength; }

  // Appends an uninitialised entry of `totalSize` bytes (header included);
  // nil when the stack would pass its bound.
  uint8_t* Push(uint32_t totalSize);
  // Pushes an initialised value of the type; returns the value (nil at the bound).
  uint8_t* PushType(TPSTypeRec* type);
  void Pop();
  // The executor's quick forms of PushType and Pop for plain values (and
  // pointers that own nothing): nil or false, having done nothing, when the
  // general form must do the work.
  uint8_t* PushPlain(const TPSTypeRec* type) {
    const uint64_t needed = uint64_t(FLength) + ((EntryHeader + type->FRealSize + 7u) & ~7u);
    if ((type->FManaged && type->FBaseType != btPointer) || type->FRealSize > 32 || needed > FCapacity ||
        needed > FMaxLength)
      return nullptr;
    uint8_t* e = FDataPtr + FLength;
    FEntries.push_back(FLength);
    FLength = static_cast<uint32_t>(needed);
    std::memcpy(e, &type, sizeof type);
    std::memset(e + EntryHeader, 0, type->FRealSize);
    return e + EntryHeader;
  }
  bool PopPlain() {
    if (FEntries.empty()) return false;
    const uint32_t off = FEntries.back();
    TPSTypeRec* t;
    std::memcpy(&t, FDataPtr + off, sizeof t);
    if (!t) return false;
    if (t->FManaged) {
      if (t->FBaseType != btPointer) return false;
      TPSPointerValue pv;
      std::memcpy(&pv, FDataPtr + off + EntryHeader, sizeof pv);
      if (pv.Owning) return false;
    }
    FEntries.pop_back();
    FLength = off;
    if (FCapacity - FLength > ShrinkSlack) ShrinkIfLoose();
    return true;
  }
  // More free bytes than this let a pop shrink the block.
  static constexpr uint32_t ShrinkSlack = 0x2FFF;
  void PopTo(int count) {
    while (Count() > count) Pop();
  }
  void Clear();

  // Typed access for host code (see the value getters).
  int32_t GetInt(int index) const { return PSGetInt(EntryValue(index), EntryType(index)); }
  uint32_t GetUInt(int index) const { return PSGetUInt(EntryValue(index), EntryType(index)); }
  int64_t GetInt64(int index) const { return PSGetInt64(EntryValue(index), EntryType(index)); }
  long double GetReal(int index) const { return PSGetReal(EntryValue(index), EntryType(index)); }
  int64_t GetCurrency(int index) const { return PSGetCurrency(EntryValue(index), EntryType(index)); }
  bool GetBool(int index) const { return GetUInt(index) != 0; }
  void* GetClass(int index) const;
  rtl::AnsiString GetAnsiString(int index) const { return PSGetAnsiString(EntryValue(index), EntryType(index)); }
  rtl::UnicodeString GetString(int index) const { return GetUnicodeString(index); }
  rtl::UnicodeString GetWideString(int index) const { return GetUnicodeString(index); }
  rtl::UnicodeString GetUnicodeString(int index) const {
    return PSGetUnicodeString(EntryValue(index), EntryType(index));
  }
  void SetInt(int index, int32_t v) {
    SetTarget(index, [&](uint8_t* p, TPSTypeRec* t) { PSSetInt(p, t, v); });
  }
  void SetUInt(int index, uint32_t v) {
    SetTarget(index, [&](uint8_t* p, TPSTypeRec* t) { PSSetInt(p, t, v); });
  }
  void SetInt64(int index, int64_t v) {
    SetTarget(index, [&](uint8_t* p, TPSTypeRec* t) { PSSetInt(p, t, v); });
  }
  void SetReal(int index, long double v) {
    SetTarget(index, [&](uint8_t* p, TPSTypeRec* t) { PSSetReal(p, t, v); });
  }
  void SetCurrency(int index, int64_t v) {
    SetTarget(index, [&](uint8_t* p, TPSTypeRec* t) { PSSetCurrency(p, t, v); });
  }
  void SetBool(int index, bool v) { SetUInt(index, v ? 1 : 0); }
  void SetClass(int index, void* v);
  void SetAnsiString(int index, std::string_view v) {
    SetTarget(index, [&](uint8_t* p, TPSTypeRec* t) { PSSetAnsiString(p, t, v); });
  }
  void SetString(int index, std::u16string_view v) { SetUnicodeString(index, v); }
  void SetWideString(int index, std::u16string_view v) { SetUnicodeString(index, v); }
  void SetUnicodeString(int index, std::u16string_view v) {
    SetTarget(index, [&](uint8_t* p, TPSTypeRec* t) { PSSetUnicodeString(p, t, v); });
  }

 private:
  friend struct TPSFastRunner;
  friend struct TPSRegisterRunner;
  int Normalize(int index) const { return index < 0 ? Count() + index : index; }
  void Relocate(uint8_t* newBlock, uint32_t newCapacity);
  void ShrinkIfLoose();
  // Resolves a pointer entry to its target before calling `store`.
  template <class F>
  void SetTarget(int index, F store) {
    uint8_t* p = EntryValue(index);
    TPSTypeRec* t = EntryType(index);
    if (t->FBaseType == btPointer) {
      TPSPointerValue pv;
      std::memcpy(&pv, p, sizeof pv);
      if (!pv.Target || !pv.Type) RaiseTypeMismatch();
      p = static_cast<uint8_t*>(pv.Target);
      t = pv.Type;
    }
    store(p, t);
  }

  uint8_t* FDataPtr = nullptr;
  uint32_t FCapacity = 0;
  uint32_t FLength = 0;
  uint64_t FMaxLength = DefaultMaxLength;
  std::vector<uint32_t> FEntries;  // byte offsets of the entries
  TPSStack* FLinked = nullptr;     // not owned
};

// --- Procedure records ---------------------------------------------------------------------
class TPSProcRec {
 public:
  TPSProcRec(TPSExec* owner, bool external) : FOwner(owner), FAttributes(this), FExternal(external) {}
  virtual ~TPSProcRec() = default;
  bool IsExternal() const { return FExternal; }
  TPSExec* FOwner;  // not owned
  TPSRuntimeAttributes FAttributes;

 private:
  bool FExternal;
};

class TPSInternalProcRec : public TPSProcRec {
 public:
  explicit TPSInternalProcRec(TPSExec* owner);
  ~TPSInternalProcRec() override;
  // String constants of the code, made once per code position as blocks that
  // are never freed while the module is loaded (negative reference count),
  // so running a constant allocates nothing.
  std::unordered_map<uint32_t, void*> FConstStrings;
  std::vector<uint8_t> FData;  // private copy of the code
  uint32_t FLength = 0;
  std::string FExportName;
  uint32_t FExportNameHash = 0;
  std::string FExportDecl;
  uint32_t FProcNo = 0;                // index in the procedure table
  std::unique_ptr<TPSFastCode> FFast;  // the code pre-decoded at load
  // The register form, made at the first call (nil until then).
  std::unique_ptr<TPSRegisterCode> FRegister;
  std::unique_ptr<TPSRegisterCode> FLoops;  // its loops in the register form, made at load
};

// Host entry point of an external procedure: reads its arguments from the
// top of `stack`; false reports "Could not call proc" unless it recorded an
// error itself.
using TPSProcPtr = bool (*)(TPSExec* caller, TPSExternalProcRec* proc, TPSStack* globals, TPSStack* stack);

class TPSExternalProcRec : public TPSProcRec {
 public:
  explicit TPSExternalProcRec(TPSExec* owner) : TPSProcRec(owner, true) {}
  std::string FName;
  std::string FDecl;
  TPSProcPtr FProcPtr = nullptr;
  void* FExt1 = nullptr;
  void* FExt2 = nullptr;
  uint32_t FProcNo = 0;
};

struct TProcRec;
using TPSFreeProc = void (*)(TPSExec* exec, TProcRec* rec);
// A host function registered by name.
struct TProcRec {
  std::string Name;  // upper case
  uint32_t Hash = 0;
  TPSProcPtr ProcPtr = nullptr;
  TPSFreeProc FreeProc = nullptr;
  void* Ext1 = nullptr;
  void* Ext2 = nullptr;
  std::shared_ptr<void> Keep;  // data the entry point needs (adapters), owned
  // As registered. Every convention reaches the same typed C++ function on
  // this platform: the adapters read the arguments in declared order.
  TPSCallingConvention CallingConvention = cdRegister;
};

using TPSOnSpecialProcImport = bool (*)(TPSExec* sender, TPSExternalProcRec* proc, void* tag);
struct TSpecialProc {
  std::string Name;
  uint32_t namehash = 0;
  TPSOnSpecialProcImport P = nullptr;
  void* tag = nullptr;
};

// Accepts (or refuses, reporting its own error) an attribute of the module.
using TPSAttributeUseProc = bool (*)(TPSExec* sender, const std::string& attribType, TPSRuntimeAttribute* attr);
// An attribute type registered with the executor (the compiler's attribute
// type of the same namespace is another class, hence the longer name).
struct TPSRuntimeAttributeType {
  std::string FTypeName;
  uint32_t FTypeNameHash = 0;
  TPSAttributeUseProc FUseProc = nullptr;
};

struct TPSExportedVar {
  std::string FName;
  uint32_t FNameHash = 0;
  uint32_t FVarNo = 0;  // the variable's own number
};

using TPSResourceFreeProc = void (*)(TPSExec* sender, void* p);

// An open try block.
struct TPSExceptionHandler {
  TPSInternalProcRec* CurrProc = nullptr;  // nil: the boundary of a host-started run
  int32_t BasePtr = -1;
  int32_t StackSize = 0;
  int64_t FinallyOffset = -1;
  int64_t ExceptOffset = -1;  // -2 while the except part runs
  int64_t Finally2Offset = -1;
  int64_t EndOfBlock = -1;
  TPSError ExceptionData = ErNoError;
  int32_t ExceptionPos = -1;
  std::exception_ptr ExceptionObject;
  rtl::UnicodeString ExceptionParam;
  // What the running finally part interrupted, resumed when it ends. Kept
  // here rather than on the executor so that nothing the finally part does
  // (calls, returns, errors handled inside it, nested blocks) can lose it.
  int64_t ExitPoint = -1;             // position of the pending OpReturn, -1 for none
  TPSError PendingError = ErNoError;  // the error to raise again, with its details
  int32_t PendingProc = -1;
  int32_t PendingPos = -1;
  std::exception_ptr PendingObject;
  rtl::UnicodeString PendingParam;
};

// A parameter of RunProc: a type record and its value (not owned).
struct TPSVariableRef {
  TPSTypeRec* Type;
  uint8_t* Value;
};

using TPSOnLineEvent = std::function<void(TPSExec* sender)>;
using TPSOnException = std::function<void(TPSExec* sender, TPSError exError, const rtl::UnicodeString& exParam,
                                          std::exception_ptr exObject, int32_t procNo, int32_t position)>;
// Whether `object` is an instance of the class named by the type record (the
// host class importer answers this).
using TPSClassCheck = std::function<bool(TPSExec* sender, void* object, const TPSTypeRec_Class* cls)>;

// Reads and writes of the compiler's notification variables.
using TPSOnGetNVariant = std::function<void(TPSExec* sender, const std::string& name, rtl::Variant& value)>;
using TPSOnSetNVariant = std::function<void(TPSExec* sender, const std::string& name, const rtl::Variant& value)>;

// Asks a host object for the interface with the GUID; nil when it has none.
// The interface returned carries a new reference for the caller.
using TPSInterfaceQuery = std::function<void*(TPSExec* sender, void* object, const uint8_t (&guid)[16])>;

// Calls a host method held in a procedure value (the host class importer
// provides it); the arguments lie on the stack as for any call.
using TPSHostMethodCall =
    std::function<bool(TPSExec* sender, const TPSTypeRec_ProcPtr* type, void* code, void* data, TPSStack* stack)>;

// --- The executor ----------------------------------------------------------------------------
class TPSExec {
 public:
  // Nested runs started by host calls into scripts stop here.
  static constexpr int MaxNestedRuns = 200;

  TPSExec();
  virtual ~TPSExec();
  TPSExec(const TPSExec&) = delete;
  TPSExec& operator=(const TPSExec&) = delete;

  // Virtual operations, in slot order.
  virtual void InstructionHook();
  virtual bool BindExternalProc(TPSExternalProcRec* proc);
  virtual void RaiseScriptError(int32_t procNo, int32_t position, std::exception_ptr exObject,
                                const rtl::UnicodeString& param, TPSError code);
  virtual bool LoadData(std::string_view module);
  virtual void Clear();
  virtual void Cleanup();
  virtual void Stop();
  virtual void Pause();

  bool RunScript();
  bool RunProc(const std::vector<TPSVariableRef>& params, int procNo);
  // Calls a script procedure with variant arguments (in declaration order)
  // and returns its result as a variant; raises the script's error.
  rtl::Variant RunProcP(const std::vector<rtl::Variant>& params, int procNo);
  // The same, writing the final values of all parameters back.
  rtl::Variant RunProcPVar(std::vector<rtl::Variant>& params, int procNo);
  rtl::Variant RunProcPN(const std::vector<rtl::Variant>& params, std::string_view procName);

  // Errors at the current position.
  void CMD_Err(TPSError code) { CMD_Err3(code, {}, nullptr); }
  void CMD_Err2(TPSError code, const rtl::UnicodeString& param) { CMD_Err3(code, param, nullptr); }
  void CMD_Err3(TPSError code, const rtl::UnicodeString& param, std::exception_ptr exObject);
  // Raises the pending error as a host exception.
  void RaiseCurrentException();

  TPSError LastEx() const;
  rtl::UnicodeString LastExParam() const;
  int32_t LastExProc() const;
  int32_t LastExPos() const;
  std::exception_ptr LastExObject() const;

  // Lookups.
  int GetProc(std::string_view name) const;
  TPSProcRec* GetProcNo(int no) const;
  int GetProcCount() const { return static_cast<int>(FProcs.size()); }
  int GetType(std::string_view name) const;
  TPSTypeRec* GetTypeNo(int no) const;
  int GetTypeCount() const { return static_cast<int>(FTypes.size()); }
  TPSTypeRec* FindType(int startAt, TPSBaseType baseType, int& no) const;
  TPSTypeRec* FindType2(TPSBaseType baseType) const {
    int no;
    return FindType(0, baseType, no);
  }
  // The number of the global variable exported under the name, or -1.
  int GetVar(std::string_view name) const;
  // The value of the exported variable (nil when there is none); its type is
  // GetVarType(GetVar(name)).
  uint8_t* GetVar2(std::string_view name) const;
  uint8_t* GetVarNo(int no) const;
  TPSTypeRec* GetVarType(int no) const;
  int GetVarCount() const { return FGlobalVars.Count(); }
  // Stores the object in the named exported class variable; false when there is none.
  bool SetVarToInstance(std::string_view name, void* object);

  // Host bindings.
  TProcRec* RegisterFunctionName(std::string_view name, TPSProcPtr procPtr, void* ext1, void* ext2,
                                 TPSFreeProc freeProc = nullptr);
  void AddSpecialProcImport(std::string_view name, TPSOnSpecialProcImport p, void* tag);
  void ClearspecialProcImports() { FSpecialProcList.clear(); }
  void RegisterAttributeType(TPSAttributeUseProc useProc, std::string_view typeName);
  void ClearFunctionList();
  const std::vector<std::unique_ptr<TProcRec>>& RegisteredFunctions() const { return FRegProcs; }

  // Resources owned by host bindings for the executor's life.
  void AddResource(TPSResourceFreeProc proc, void* p);
  void DeleteResource(void* p);
  void* FindProcResource(TPSResourceFreeProc proc) const;
  void* FindProcResource2(TPSResourceFreeProc proc, int& startAt) const;
  bool IsValidResource(TPSResourceFreeProc proc, void* p) const;

  // Properties.
  TPSStatus Status() const { return FStatus; }
  bool CallCleanup() const { return FCallCleanup; }
  void SetCallCleanup(bool v) { FCallCleanup = v; }
  void SetOnRunLine(TPSOnLineEvent e) {
    FOnRunLine = std::move(e);
    UpdateHookState();
  }
  void SetOnException(TPSOnException e) { FOnException = std::move(e); }
  void SetOnGetNVariant(TPSOnGetNVariant e) { FOnGetNVariant = std::move(e); }
  void SetOnSetNVariant(TPSOnSetNVariant e) { FOnSetNVariant = std::move(e); }
  bool HasOnGetNVariant() const { return static_cast<bool>(FOnGetNVariant); }
  bool HasOnSetNVariant() const { return static_cast<bool>(FOnSetNVariant); }
  void FireGetNVariant(const std::string& name, rtl::Variant& v) { FOnGetNVariant(this, name, v); }
  void FireSetNVariant(const std::string& name, const rtl::Variant& v) { FOnSetNVariant(this, name, v); }
  void SetClassCheck(TPSClassCheck c) { FClassCheck = std::move(c); }
  void SetHostMethodCall(TPSHostMethodCall c) { FHostMethodCall = std::move(c); }
  void SetInterfaceQuery(TPSInterfaceQuery q) { FInterfaceQuery = std::move(q); }
  // The object's interface of the type (a new reference), nil when it has none.
  void* QueryInterface(void* object, const TPSTypeRec_Interface* type);
  TPSError ExceptionCode() const { return ExEx; }
  const rtl::UnicodeString& ExceptionString() const { return ExParam; }
  int32_t ExceptionProcNo() const { return ExProc; }
  int32_t ExceptionPos() const { return ExPos; }
  std::exception_ptr ExceptionObject() const { return ExObject; }

  TPSStack& GlobalVars() { return FGlobalVars; }
  TPSStack& Stack() { return FStack; }
  TPSTypeRec* ReturnAddressType() const { return FReturnAddressType.get(); }
  TPSTypeRec* VariantType() const { return FVariantType.get(); }
  TPSTypeRec* VariantArrayType() const { return FVariantArrayType.get(); }
  TPSProcRec* CurrentProc() const { return FCurrProc; }
  int32_t CurrentProcNo() const;
  uint32_t CurrentPosition() const { return FCurrentPosition; }
  int32_t CurrentStackBase() const { return FCurrStackBase; }
  // The class check the host class importer provides; false without one.
  bool IsInstanceOf(void* object, const TPSTypeRec_Class* cls);

 protected:
  // Recomputes whether the per-instruction hook must run.
  virtual void UpdateHookState() { FHookActive = static_cast<bool>(FOnRunLine); }

  friend class TPSRunner;
  friend struct TPSLoader;
  friend struct TPSFastRunner;
  friend struct TPSTranslator;
  friend struct TPSRegisterTranslator;
  friend struct TPSRegisterRunner;

  std::vector<std::unique_ptr<TPSTypeRec>> FTypes;
  std::vector<std::unique_ptr<TPSProcRec>> FProcs;
  TPSStack FGlobalVars;
  // Address and type of every global, fixed once loaded (the globals block
  // only grows while loading).
  struct TGlobalRef {
    uint8_t* P;
    TPSTypeRec* T;
    TPSBaseType BaseType;
  };
  std::vector<TGlobalRef> FGlobalRefs;
  uint32_t FGlobalRefCount = 0;        // FGlobalRefs.size(), read by every operand
  TPSTypeRec* FPointerType = nullptr;  // the module's first pointer type: every var argument takes it
  TPSStack FStack;
  TPSStack FTempVars;
  int64_t FMainProc = -1;
  TPSStatus FStatus = isNotLoaded;
  TPSInternalProcRec* FCurrProc = nullptr;
  const uint8_t* FData = nullptr;
  uint32_t FDataLength = 0;
  uint32_t FCurrentPosition = 0;
  int32_t FCurrStackBase = -1;
  bool FJumpFlag = false;
  bool FHookActive = false;
  int FNestedRuns = 0;
  uint64_t FErrorSerial = 0;  // counts reported errors (a host call's false needs no second report)
  TPSStatus FRunStartStatus = isNotLoaded;
  std::vector<TPSExceptionHandler> FExceptionStack;
  std::unique_ptr<TPSTypeRec> FReturnAddressType, FVariantType, FVariantArrayType;
  std::vector<TPSExportedVar> FExportedVars;
  std::vector<std::unique_ptr<TProcRec>> FRegProcs;
  std::vector<TSpecialProc> FSpecialProcList;
  std::vector<TPSRuntimeAttributeType> FAttributeTypes;
  std::vector<std::pair<TPSResourceFreeProc, void*>> FResources;
  bool FCallCleanup = false;
  TPSOnLineEvent FOnRunLine;
  TPSOnException FOnException;
  TPSOnGetNVariant FOnGetNVariant;
  TPSOnSetNVariant FOnSetNVariant;
  TPSClassCheck FClassCheck;
  TPSHostMethodCall FHostMethodCall;
  TPSInterfaceQuery FInterfaceQuery;

  TPSError ExEx = ErNoError;
  rtl::UnicodeString ExParam;
  int32_t ExProc = -1;
  int32_t ExPos = -1;
  std::exception_ptr ExObject;

 private:
  void RegisterBuiltInFunctions();
  rtl::Variant RunProcVariants(std::vector<rtl::Variant>& params, int procNo, bool writeBack);
  // Reports a caught host exception as a script error.
  void ReportHostException(std::exception_ptr e);
  void RunLoop();
  // Runs pre-decoded instructions until one needs the general loop (false,
  // at FCurrentPosition) or the run state changed (true).
  bool RunFast(int tempBase);
  // Calls a host entry point, converting what it raises.
  bool CallExternal(TPSExternalProcRec* proc);
  void SwitchToProc(TPSInternalProcRec* proc, uint32_t position) {
    FCurrProc = proc;
    FData = proc->FData.data();
    FDataLength = proc->FLength;
    FCurrentPosition = position;
  }
};

}  // namespace ps
