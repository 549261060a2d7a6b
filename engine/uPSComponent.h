// TPSScript: the one object through which a host uses the script engine,
// with its plug-ins. It owns the compiler, the debugging executor, the
// runtime class importer, the preprocessor and the script text.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/runtime/ClassImporter.h"
#include "engine/runtime/HostCalls.h"
#include "engine/uPSCompiler.h"
#include "engine/uPSDebugger.h"
#include "engine/uPSPreProcessor.h"
#include "rtl/Collections.h"
#include "rtl/Components.h"
#include "rtl/StringList.h"

namespace ps {

class TPSScript;

// Messages of the component, spelled once.
inline constexpr std::u16string_view SScriptEngineAlreadyRunning = u"Script engine already running";
inline constexpr std::u16string_view SScriptNotCompiled = u"Script is not compiled";
inline constexpr std::u16string_view SNotRunning = u"Not running";
inline constexpr std::u16string_view SUnableToFindVariable = u"Unable to find variable";
inline constexpr std::u16string_view SUnableToReadVariant = u"Unable to read variant";
inline constexpr std::u16string_view SUnableToWriteVariant = u"Unable to write variant";

enum TPSCompOption : uint8_t { icAllowNoBegin = 1, icAllowUnit = 2, icAllowNoEnd = 4, icBooleanShortCircuit = 8 };
using TPSCompOptions = uint8_t;

// --- Plug-ins ------------------------------------------------------------------------------------

// A library of declarations: compile-time declarations and run-time
// bindings through six hooks, all doing nothing here.
class TPSPlugin : public rtl::TComponent {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }
  explicit TPSPlugin(rtl::TComponent* AOwner = nullptr) : TComponent(AOwner) {}

  virtual void CompOnUses(TPSScript* CompExec) {}
  virtual void ExecOnUses(TPSScript* CompExec) {}
  virtual void CompileImport1(TPSScript* CompExec) {}
  virtual void CompileImport2(TPSScript* CompExec) {}
  virtual void ExecImport1(TPSScript* CompExec, TPSRuntimeClassImporter& ri) {}
  virtual void ExecImport2(TPSScript* CompExec, TPSRuntimeClassImporter& ri) {}
};

class TPSPluginItem : public rtl::TCollectionItem {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }
  TPSPluginItem() = default;

  TPSPlugin* Plugin() const { return FPlugin; }
  // Stores the plug-in (not owned) and asks it to tell the owning script
  // when it is destroyed.
  void SetPlugin(TPSPlugin* value);
  rtl::UnicodeString DisplayName() const override;
  void Assign(const rtl::TPersistent* source) override;

 private:
  TPSPlugin* FPlugin = nullptr;  // not owned
};

class TPSPlugins : public rtl::TCollection {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }
  explicit TPSPlugins(TPSScript* CompExec);
  TPersistent* Owner() const override;
  TPSPluginItem* Items(int index) const { return static_cast<TPSPluginItem*>(TCollection::Items(index)); }
  // A new item holding the plug-in.
  TPSPluginItem* Add(TPSPlugin* plugin);

  TPSScript* FCompExec;  // not owned: the owner
};

// --- Events --------------------------------------------------------------------------------------

using TPSEvent = std::function<void(TPSScript* Sender)>;
using TPSOnCompImportEvent = std::function<void(rtl::TObject* Sender, TPSPascalCompiler* x)>;
using TPSOnExecImportEvent = std::function<void(rtl::TObject* Sender, TPSExec* se, TPSRuntimeClassImporter* x)>;
using TPSOnNeedFile = std::function<bool(rtl::TObject* Sender, const std::string& OrginFileName, std::string& FileName,
                                         std::string& Output)>;
using TPSVerifyProc =
    std::function<void(TPSScript* Sender, TPSInternalProcedure* Proc, const std::string& Decl, bool& Error)>;
using TPSOnProcessDirective =
    std::function<void(TPSPreProcessor* Sender, TPSPascalPreProcessorParser* Parser, bool Active,
                       const std::string& DirectiveName, const std::string& DirectiveParam, bool& Continue)>;
using TPSOnGetNotificationVariant = std::function<rtl::Variant(TPSScript* Sender, const std::string& VarName)>;
using TPSOnSetNotificationVariant =
    std::function<void(TPSScript* Sender, const std::string& VarName, const rtl::Variant& Value)>;

// --- The component ---------------------------------------------------------------------------------

// The executor of a TPSScript: a debugging executor whose error the
// component can reset before a compile.
class TPSScriptExec : public TPSDebugExec {
 public:
  void ResetError() {
    ExEx = ErNoError;
    ExParam.clear();
    ExProc = -1;
    ExPos = -1;
    ExObject = nullptr;
  }
};

class TPSScript : public rtl::TComponent {
 public:
  static rtl::TClass StaticClass();
  rtl::TClass ClassType() const override { return StaticClass(); }

  explicit TPSScript(rtl::TComponent* AOwner = nullptr);
  ~TPSScript() override;

  // --- Virtual operations, in slot order ---
  virtual void FireOnLine();
  virtual void SetMainFileName(const std::string& value) { FMainFileName = value; }
  virtual bool FireOnNeedFile(const std::string& OrginFileName, std::string& FileName, std::string& Output);
  virtual bool FireOnFindUnknownFile(const std::string& OrginFileName, std::string& FileName, std::string& Output);
  virtual void FireOnCompImport();
  virtual void FireOnCompile();
  virtual bool FireOnVerifyProc(TPSInternalProcedure* Proc, const std::string& Decl);
  virtual void FireOnExecImport(TPSRuntimeClassImporter& ri);
  virtual void FireOnExecute();
  virtual void FireOnAfterExecute();
  virtual rtl::Variant FireOnGetNotificationVariant(const std::string& Name);
  virtual void FireOnSetNotificationVariant(const std::string& Name, const rtl::Variant& V);
  virtual void FireOnProcessDirective(TPSPreProcessor* Sender, TPSPascalPreProcessorParser* Parser, bool Active,
                                      const std::string& DirectiveName, const std::string& DirectiveParam,
                                      bool& Continue);
  virtual void FireOnProcessUnknowDirective(TPSPreProcessor* Sender, TPSPascalPreProcessorParser* Parser, bool Active,
                                            const std::string& DirectiveName, const std::string& DirectiveParam,
                                            bool& Continue);
  // Stops a running or paused script; raises "Not running" otherwise.
  virtual void Stop();
  virtual bool Compile();
  virtual bool Execute();

  void Notification(rtl::TComponent* AComponent, rtl::TOperation Operation) override;

  // --- Compiler messages ---
  int CompilerMessageCount() const { return FComp->MsgCount(); }
  TPSPascalCompilerMessage* CompilerMessages(int i) const { return FComp->Msg(i); }
  rtl::UnicodeString CompilerErrorToStr(int i) const { return FComp->Msg(i)->MessageToString(); }

  // --- Registration (only while the window is open: from the compile hooks) ---
  // A typed host function: any function pointer, std::function or lambda.
  template <class F>
  bool AddFunction(F fn, std::string_view decl, TPSCallingConvention cc = cdRegister) {
    return AddFunctionEx(std::move(fn), decl, cc);
  }
  template <class F>
  bool AddFunctionEx(F fn, std::string_view decl, TPSCallingConvention cc) {
    TPSRegProc* proc = DeclareFunction(decl);
    if (!proc) return false;
    RegisterNativeFunction(*FExec, proc->FName, std::function(std::move(fn)))->CallingConvention = cc;
    return true;
  }
  // A host method bound to its object.
  template <class C, class M>
  bool AddMethod(C* Slf, M method, std::string_view decl, TPSCallingConvention cc = cdRegister) {
    return AddMethodEx(Slf, method, decl, cc);
  }
  template <class C, class M>
  bool AddMethodEx(C* Slf, M method, std::string_view decl, TPSCallingConvention cc) {
    TPSRegProc* proc = DeclareFunction(decl);
    if (!proc) return false;
    RegisterNativeMethod(*FExec, Slf, method, proc->FName)->CallingConvention = cc;
    return true;
  }
  bool AddRegisteredVariable(std::string_view VarName, std::string_view VarType);
  bool AddRegisteredPTRVariable(std::string_view VarName, std::string_view VarType);
  bool AddNotificationVariant(std::string_view VarName);

  // --- Variables and types of the loaded module ---
  uint8_t* GetVariable(std::string_view Name) const;
  bool SetVarToInstance(std::string_view VarName, rtl::TObject* cl);
  void SetPointerToData(std::string_view VarName, void* Data, TPSTypeRec* aType);
  TPSTypeRec* FindNamedType(std::string_view Name) const;
  TPSTypeRec* FindBaseType(TPSBaseType Bt) const;

  // --- Compiled module ---
  void GetCompiled(std::string& data) const;
  void SetCompiled(std::string_view Data);
  bool LoadExec();
  // Runs one named script routine (loading first when SuppressLoadData).
  rtl::Variant ExecuteFunction(const std::vector<rtl::Variant>& Params, std::string_view ProcName);
  // A handler that calls the named script procedure (one TObject parameter);
  // empty when there is none.
  rtl::TNotifyEvent GetProcMethod(std::string_view ProcName);

  // --- Positions ---
  bool TranslatePositionPos(int32_t Proc, uint32_t Position, uint32_t& Pos, std::string& fn) const;
  bool TranslatePositionRC(int32_t Proc, uint32_t Position, uint32_t& Row, uint32_t& Col, std::string& fn) const;

  // --- Errors of the last run ---
  TPSError ExecErrorCode() const { return FExec->ExceptionCode(); }
  rtl::UnicodeString ExecErrorParam() const { return FExec->ExceptionString(); }
  rtl::UnicodeString ExecErrorToString() const { return TPSErrorToString(ExecErrorCode(), ExecErrorParam()); }
  int32_t ExecErrorProcNo() const { return FExec->ExceptionProcNo(); }
  int32_t ExecErrorByteCodePosition() const { return FExec->ExceptionPos(); }
  uint32_t ExecErrorPosition() const;
  uint32_t ExecErrorRow() const;
  uint32_t ExecErrorCol() const;
  std::string ExecErrorFileName() const;

  // --- Properties ---
  static constexpr std::string_view About = "Korva Pascal Script engine";
  rtl::TStringList& Script() { return *FScript; }
  void SetScript(const rtl::TStrings& value) { FScript->Assign(value); }
  TPSCompOptions CompilerOptions() const { return FCompOptions; }
  void SetCompilerOptions(TPSCompOptions value) { FCompOptions = value; }
  bool UseDebugInfo() const { return FUseDebugInfo; }
  void SetUseDebugInfo(bool value) { FUseDebugInfo = value; }
  TPSPlugins& Plugins() { return *FPlugins; }
  const std::string& MainFileName() const { return FMainFileName; }
  bool UsePreProcessor() const { return FUsePreProcessor; }
  void SetUsePreProcessor(bool value) { FUsePreProcessor = value; }
  rtl::TStringList& Defines() { return *FDefines; }
  void SetDefines(const rtl::TStrings& value) { FDefines->Assign(value); }
  bool SuppressLoadData() const { return FSuppressLoadData; }
  void SetSuppressLoadData(bool value) { FSuppressLoadData = value; }
  // True from the start of Execute until it returns, and while the executor runs.
  bool Running() const;
  bool CanAdd() const { return FCanAdd; }
  TPSPascalCompiler* Comp() const { return FComp.get(); }
  TPSDebugExec* Exec() const { return FExec.get(); }
  TPSRuntimeClassImporter* RuntimeImporter() const { return RI.get(); }

  TPSEvent OnLine, OnCompile, OnExecute, OnAfterExecute;
  TPSOnCompImportEvent OnCompImport;
  TPSOnExecImportEvent OnExecImport;
  TPSOnNeedFile OnNeedFile, OnFindUnknownFile;
  TPSVerifyProc OnVerifyProc;
  TPSOnGetNotificationVariant OnGetNotificationVariant;
  TPSOnSetNotificationVariant OnSetNotificationVariant;
  TPSOnProcessDirective OnProcessDirective, OnProcessUnknowDirective;

 private:
  // Steps 1 to 7 of Compile: a fresh executor with every plug-in's bindings.
  void PrepareExec(bool resetError);
  void StartFromTheBeginning();
  // The compiler's uses hook: the unit SYSTEM runs the compile-time imports.
  bool CompilerUses(TPSPascalCompiler* sender, const std::string& name);
  // A unit named in a uses clause whose text OnFindUnknownFile supplies.
  bool CompileUsedUnit(TPSPascalCompiler* sender, const std::string& name);
  // Defines, directive events and include files, for the program and units alike.
  void ConnectPreProcessor(TPSPreProcessor& pp);
  static TPSPascalCompiler::TPSOnTranslateLineInfo LineTranslation(TPSPreProcessor& pp);
  TPSRegProc* DeclareFunction(std::string_view decl);
  template <class F>
  void ForEachPlugin(F f) {
    for (int i = 0; i < FPlugins->Count(); ++i)
      if (TPSPlugin* p = FPlugins->Items(i)->Plugin()) f(p);
  }

  bool FCanAdd = false;
  std::unique_ptr<TPSPascalCompiler> FComp;
  TPSCompOptions FCompOptions = 0;
  std::unique_ptr<TPSScriptExec> FExec;
  bool FSuppressLoadData = false;
  std::unique_ptr<rtl::TStringList> FScript;
  bool FUseDebugInfo = true;
  std::unique_ptr<TPSRuntimeClassImporter> RI;
  std::unique_ptr<TPSPlugins> FPlugins;
  std::unique_ptr<TPSPreProcessor> FPP;
  std::string FMainFileName;
  bool FUsePreProcessor = false;
  std::unique_ptr<rtl::TStringList> FDefines;
  bool FExecuting = false;
  // Used units of the current compile (upper-case names), the file whose
  // uses clause is being read, and the messages already placed in a unit's text.
  std::vector<std::string> FUnitsCompiled, FUnitsInProgress;
  std::string FCurrentFileName;
  std::vector<bool> FPlacedMessages;
};

}  // namespace ps
