#include "engine/uPSComponent.h"

#include <algorithm>
#include <utility>

#include "engine/runtime/Values.h"

namespace ps {

namespace {

constexpr std::string_view SystemUnit = "SYSTEM";
constexpr std::string_view NotificationVariantType = "!NOTIFICATIONVARIANT";
constexpr std::u16string_view SNoPlugin = u"<nil>";
constexpr size_t MaxUnitNesting = 64;
constexpr std::string_view SUnitsTooDeep = "Units nested too deeply";

// Restores a flag when the scope ends, however it ends.
class TFlagScope {
 public:
  explicit TFlagScope(bool& flag) : FFlag(flag) { FFlag = true; }
  ~TFlagScope() { FFlag = false; }
  TFlagScope(const TFlagScope&) = delete;
  TFlagScope& operator=(const TFlagScope&) = delete;

 private:
  bool& FFlag;
};

}  // namespace

// --- Plug-ins ------------------------------------------------------------------------------------

rtl::TClass TPSPlugin::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSPlugin", rtl::TComponent::StaticClass(), nullptr);
  return &meta;
}

rtl::TClass TPSPluginItem::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSPluginItem", rtl::TCollectionItem::StaticClass(),
                                    &rtl::CreateInstance<TPSPluginItem>);
  return &meta;
}

void TPSPluginItem::SetPlugin(TPSPlugin* value) {
  FPlugin = value;
  auto* plugins = dynamic_cast<TPSPlugins*>(Collection());
  if (value && plugins && plugins->FCompExec) value->FreeNotification(plugins->FCompExec);
}

rtl::UnicodeString TPSPluginItem::DisplayName() const {
  if (!FPlugin || FPlugin->Name().empty()) return rtl::UnicodeString(SNoPlugin);
  return FPlugin->Name();
}

void TPSPluginItem::Assign(const rtl::TPersistent* source) {
  if (auto* item = dynamic_cast<const TPSPluginItem*>(source)) {
    SetPlugin(item->FPlugin);
    return;
  }
  TCollectionItem::Assign(source);
}

rtl::TClass TPSPlugins::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSPlugins", rtl::TCollection::StaticClass(), nullptr);
  return &meta;
}

TPSPlugins::TPSPlugins(TPSScript* CompExec) : TCollection(TPSPluginItem::StaticClass()), FCompExec(CompExec) {}

rtl::TPersistent* TPSPlugins::Owner() const { return FCompExec; }

TPSPluginItem* TPSPlugins::Add(TPSPlugin* plugin) {
  auto* item = static_cast<TPSPluginItem*>(TCollection::Add());
  item->SetOwnedByHost(true);
  item->SetPlugin(plugin);
  return item;
}

// --- Construction ------------------------------------------------------------------------------------

rtl::TClass TPSScript::StaticClass() {
  static const rtl::TMetaClass meta(u"TPSScript", rtl::TComponent::StaticClass(), &rtl::CreateInstance<TPSScript>);
  return &meta;
}

TPSScript::TPSScript(rtl::TComponent* AOwner)
    : TComponent(AOwner),
      FComp(std::make_unique<TPSPascalCompiler>()),
      FExec(std::make_unique<TPSScriptExec>()),
      FScript(std::make_unique<rtl::TStringList>()),
      FPlugins(std::make_unique<TPSPlugins>(this)),
      FPP(std::make_unique<TPSPreProcessor>()),
      FDefines(std::make_unique<rtl::TStringList>()) {
  FComp->FOnUses = [this](TPSPascalCompiler* sender, const std::string& name) { return CompilerUses(sender, name); };
  FComp->FOnExportCheck = [this](TPSPascalCompiler*, TPSInternalProcedure* proc, const std::string& decl) {
    return FireOnVerifyProc(proc, decl);
  };
  FExec->SetOnGetNVariant(
      [this](TPSExec*, const std::string& name, rtl::Variant& value) { value = FireOnGetNotificationVariant(name); });
  FExec->SetOnSetNVariant([this](TPSExec*, const std::string& name, const rtl::Variant& value) {
    FireOnSetNotificationVariant(name, value);
  });
  ConnectPreProcessor(*FPP);
}

TPSScript::~TPSScript() {
  // The executor goes first: its bindings refer to the importer.
  if (FExec) FExec->Clear();
  FDefines.reset();
  FPP.reset();
  RI.reset();
  FPlugins.reset();
  FScript.reset();
  FExec.reset();
  FComp.reset();
}

void TPSScript::Notification(rtl::TComponent* AComponent, rtl::TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != rtl::opRemove || !FPlugins) return;
  for (int i = FPlugins->Count() - 1; i >= 0; --i)
    if (FPlugins->Items(i)->Plugin() == AComponent) FPlugins->Delete(i);
}

// --- Events ----------------------------------------------------------------------------------------

void TPSScript::FireOnLine() {
  if (OnLine) OnLine(this);
}
bool TPSScript::FireOnNeedFile(const std::string& OrginFileName, std::string& FileName, std::string& Output) {
  return OnNeedFile && OnNeedFile(this, OrginFileName, FileName, Output);
}
bool TPSScript::FireOnFindUnknownFile(const std::string& OrginFileName, std::string& FileName, std::string& Output) {
  return OnFindUnknownFile && OnFindUnknownFile(this, OrginFileName, FileName, Output);
}
void TPSScript::FireOnCompImport() {
  if (OnCompImport) OnCompImport(this, FComp.get());
}
void TPSScript::FireOnCompile() {
  if (OnCompile) OnCompile(this);
}
bool TPSScript::FireOnVerifyProc(TPSInternalProcedure* Proc, const std::string& Decl) {
  bool error = false;
  if (OnVerifyProc) OnVerifyProc(this, Proc, Decl, error);
  return !error;
}
void TPSScript::FireOnExecImport(TPSRuntimeClassImporter& ri) {
  if (OnExecImport) OnExecImport(this, FExec.get(), &ri);
}
void TPSScript::FireOnExecute() {
  if (OnExecute) OnExecute(this);
}
void TPSScript::FireOnAfterExecute() {
  if (OnAfterExecute) OnAfterExecute(this);
}
rtl::Variant TPSScript::FireOnGetNotificationVariant(const std::string& Name) {
  if (!OnGetNotificationVariant) throw rtl::Exception(rtl::UnicodeString(SUnableToReadVariant));
  return OnGetNotificationVariant(this, Name);
}
void TPSScript::FireOnSetNotificationVariant(const std::string& Name, const rtl::Variant& V) {
  if (!OnSetNotificationVariant) throw rtl::Exception(rtl::UnicodeString(SUnableToWriteVariant));
  OnSetNotificationVariant(this, Name, V);
}
void TPSScript::FireOnProcessDirective(TPSPreProcessor* Sender, TPSPascalPreProcessorParser* Parser, bool Active,
                                       const std::string& DirectiveName, const std::string& DirectiveParam,
                                       bool& Continue) {
  if (OnProcessDirective) OnProcessDirective(Sender, Parser, Active, DirectiveName, DirectiveParam, Continue);
}
void TPSScript::FireOnProcessUnknowDirective(TPSPreProcessor* Sender, TPSPascalPreProcessorParser* Parser, bool Active,
                                             const std::string& DirectiveName, const std::string& DirectiveParam,
                                             bool& Continue) {
  if (OnProcessUnknowDirective)
    OnProcessUnknowDirective(Sender, Parser, Active, DirectiveName, DirectiveParam, Continue);
}

// --- Compile ----------------------------------------------------------------------------------------

void TPSScript::PrepareExec(bool resetError) {
  FExec->Clear();
  if (resetError) FExec->ResetError();
  FExec->ClearspecialProcImports();
  FExec->ClearFunctionList();
  RI = std::make_unique<TPSRuntimeClassImporter>();
  ForEachPlugin([&](TPSPlugin* p) { p->ExecImport1(this, *RI); });
  FireOnExecImport(*RI);
  ForEachPlugin([&](TPSPlugin* p) { p->ExecImport2(this, *RI); });
  RegisterClassLibraryRuntime(*FExec, *RI);
  ForEachPlugin([&](TPSPlugin* p) { p->ExecOnUses(this); });
}

bool TPSScript::CompilerUses(TPSPascalCompiler* sender, const std::string& name) {
  if (name == SystemUnit) {
    ForEachPlugin([&](TPSPlugin* p) { p->CompOnUses(this); });
    ForEachPlugin([&](TPSPlugin* p) { p->CompileImport1(this); });
    FireOnCompImport();
    ForEachPlugin([&](TPSPlugin* p) { p->CompileImport2(this); });
    FireOnCompile();
    for (int i = 0; i < sender->MsgCount(); ++i)
      if (dynamic_cast<TPSPascalCompilerError*>(sender->Msg(i))) return false;
    return true;
  }
  return CompileUsedUnit(sender, name);
}

void TPSScript::ConnectPreProcessor(TPSPreProcessor& pp) {
  pp.Clear();
  for (int i = 0; i < FDefines->Count(); ++i) pp.AddDefine(rtl::UnicodeToUtf8(FDefines->Get(i)));
  pp.FOnProcessDirective = [this](TPSPreProcessor* s, TPSPascalPreProcessorParser* p, bool active, const std::string& n,
                                  const std::string& v,
                                  bool& cont) { FireOnProcessDirective(s, p, active, n, v, cont); };
  pp.FOnProcessUnknowDirective = [this](TPSPreProcessor* s, TPSPascalPreProcessorParser* p, bool active,
                                        const std::string& n, const std::string& v,
                                        bool& cont) { FireOnProcessUnknowDirective(s, p, active, n, v, cont); };
  pp.FOnNeedFile = [this](TPSPreProcessor*, const std::string& callingFile, std::string& fileName,
                          std::string& output) { return FireOnNeedFile(callingFile, fileName, output); };
}

TPSPascalCompiler::TPSOnTranslateLineInfo TPSScript::LineTranslation(TPSPreProcessor& pp) {
  return [&pp](TPSPascalCompiler*, uint32_t& pos, uint32_t& row, uint32_t& col, std::string& name) {
    TPSLineInfoResults res;
    if (pp.CurrentLineInfo().GetLineInfo(name, pos, res)) {
      pos = res.Pos;
      row = res.Row;
      col = res.Col;
      name = res.Name;
    }
  };
}

bool TPSScript::CompileUsedUnit(TPSPascalCompiler* sender, const std::string& name) {
  // A unit named again (by the program and by another unit) is compiled once.
  if (std::find(FUnitsCompiled.begin(), FUnitsCompiled.end(), name) != FUnitsCompiled.end()) return true;
  if (std::find(FUnitsInProgress.begin(), FUnitsInProgress.end(), name) != FUnitsInProgress.end()) {
    sender->MakeError("", ecCustomError, "Circular unit reference to '" + name + "'");
    return false;
  }
  // Each unit in progress holds a compilation's worth of stack.
  if (FUnitsInProgress.size() >= MaxUnitNesting) {
    sender->MakeError("", ecCustomError, SUnitsTooDeep);
    return false;
  }
  std::string fileName = name, text;
  if (!FireOnFindUnknownFile(FCurrentFileName, fileName, text)) {
    sender->MakeError("", ecUnknownIdentifier, name);
    return false;
  }
  const int firstMessage = sender->MsgCount();
  std::unique_ptr<TPSPreProcessor> pp;
  std::string source = std::move(text);
  if (FUsePreProcessor) {
    pp = std::make_unique<TPSPreProcessor>();
    ConnectPreProcessor(*pp);
    pp->FMainFile = std::move(source);
    pp->FMainFileName = fileName;
    source.clear();
    try {
      pp->PreProcess(fileName, source);
    } catch (const EPSPreProcessor& e) {
      sender->MakeError("", ecCustomError, rtl::UnicodeToUtf8(e.Message()))->FModuleName = fileName;
      return false;
    }
  }
  // Debug positions and messages of the unit name the unit's file.
  TPSPascalCompiler::TPSOnTranslateLineInfo programTranslation = std::move(sender->FOnTranslateLineInfo);
  if (pp)
    sender->FOnTranslateLineInfo = LineTranslation(*pp);
  else
    sender->FOnTranslateLineInfo = [fileName](TPSPascalCompiler*, uint32_t&, uint32_t&, uint32_t&, std::string& file) {
      file = fileName;
    };
  bool ok;
  {
    // The file being read and its translation come back however the unit ends.
    struct TUnitScope {
      TPSScript& Script;
      TPSPascalCompiler& Comp;
      std::string ProgramFile;
      TPSPascalCompiler::TPSOnTranslateLineInfo ProgramTranslation;
      ~TUnitScope() {
        Script.FUnitsInProgress.pop_back();
        Script.FCurrentFileName = std::move(ProgramFile);
        Comp.FOnTranslateLineInfo = std::move(ProgramTranslation);
      }
    } scope{*this, *sender, std::exchange(FCurrentFileName, fileName), std::move(programTranslation)};
    FUnitsInProgress.push_back(name);
    ok = sender->CompileUnitText(source);
  }
  if (ok) FUnitsCompiled.push_back(name);
  // Place the unit's own messages in its text; those of units it used are
  // placed already.
  FPlacedMessages.resize(static_cast<size_t>(sender->MsgCount()), false);
  for (int i = firstMessage; i < sender->MsgCount(); ++i) {
    if (FPlacedMessages[i]) continue;
    TPSPascalCompilerMessage& msg = *sender->Msg(i);
    if (pp) pp->AdjustMessage(msg);
    if (msg.FModuleName.empty()) msg.FModuleName = fileName;
    FPlacedMessages[i] = true;
  }
  return ok;
}

bool TPSScript::Compile() {
  PrepareExec(true);
  FUnitsCompiled.clear();
  FUnitsInProgress.clear();
  FPlacedMessages.clear();
  FCurrentFileName = FMainFileName;
  FCanAdd = true;
  FComp->FBooleanShortCircuit = (FCompOptions & icBooleanShortCircuit) != 0;
  FComp->FAllowNoBegin = (FCompOptions & icAllowNoBegin) != 0;
  FComp->FAllowUnit = (FCompOptions & icAllowUnit) != 0;
  FComp->FAllowNoEnd = (FCompOptions & icAllowNoEnd) != 0;
  // On this system the 8-bit form of the text is its UTF-8 bytes.
  std::string text = rtl::UnicodeToUtf8(FScript->Text());
  if (!FScript->Items().empty() && text.size() >= 2) text.resize(text.size() - 2);  // no line end after the last line
  bool ok;
  if (!FUsePreProcessor) {
    FComp->FOnTranslateLineInfo = nullptr;
    ok = FComp->Compile(text);
  } else {
    ConnectPreProcessor(*FPP);
    FComp->FOnTranslateLineInfo = LineTranslation(*FPP);
    FPP->FMainFile = text;
    FPP->FMainFileName = FMainFileName;
    std::string output;
    try {
      FPP->PreProcess(FMainFileName, output);
      ok = FComp->Compile(output);
      FPlacedMessages.resize(static_cast<size_t>(FComp->MsgCount()), false);
      for (int i = 0; i < FComp->MsgCount(); ++i)
        if (!FPlacedMessages[i]) FPP->AdjustMessage(*FComp->Msg(i));
    } catch (const EPSPreProcessor& e) {
      FComp->Clear();
      FComp->MakeError("", ecCustomError, rtl::UnicodeToUtf8(e.Message()));
      ok = false;
    }
  }
  // The window closes after a failed compile too: the compiler accepts no
  // registration outside a compilation.
  FCanAdd = false;
  if (!ok) return false;
  if (FUsePreProcessor && FSuppressLoadData) return true;
  return LoadExec();
}

TPSRegProc* TPSScript::DeclareFunction(std::string_view decl) {
  if (!FCanAdd) return nullptr;
  return FComp->AddNativeFunction(decl);
}

bool TPSScript::AddRegisteredVariable(std::string_view VarName, std::string_view VarType) {
  if (!FCanAdd) return false;
  TPSVar* v = FComp->AddUsedVariableN(VarName, VarType);
  if (!v) return false;
  v->FExportName = true;
  return true;
}

bool TPSScript::AddRegisteredPTRVariable(std::string_view VarName, std::string_view VarType) {
  if (!FCanAdd) return false;
  TPSVar* v = FComp->AddUsedPtrVariableN(VarName, VarType);
  if (!v) return false;
  v->FExportName = true;
  return true;
}

bool TPSScript::AddNotificationVariant(std::string_view VarName) {
  return AddRegisteredVariable(VarName, NotificationVariantType);
}

// --- Loading and running ------------------------------------------------------------------------------

bool TPSScript::LoadExec() {
  std::string module;
  if (!FComp->GetOutput(module) || module.empty()) return false;
  if (!FExec->LoadData(module)) return false;
  if (FUseDebugInfo) {
    std::string debug;
    if (FComp->GetDebugOutput(debug)) FExec->LoadDebugData(debug);
  }
  return true;
}

void TPSScript::GetCompiled(std::string& data) const {
  if (!FComp->GetOutput(data) || data.empty()) throw rtl::Exception(rtl::UnicodeString(SScriptNotCompiled));
}

void TPSScript::SetCompiled(std::string_view Data) {
  PrepareExec(false);
  if (!FExec->LoadData(Data)) throw rtl::Exception(ExecErrorToString());
}

bool TPSScript::Running() const { return FExecuting || FExec->Status() == isRunning; }

// The executor stays paused on the failing instruction after an unhandled
// error, so that a debugger can look at it; a new run must not resume there
// but start over, with the failed frames gone.
void TPSScript::StartFromTheBeginning() {
  if (FExec->Status() == isPaused && FExec->ExceptionCode() != ErNoError) FExec->Stop();
}

bool TPSScript::Execute() {
  if (Running()) throw rtl::Exception(rtl::UnicodeString(SScriptEngineAlreadyRunning));
  // Counts as running from here on, so OnExecute cannot start it again.
  TFlagScope running(FExecuting);
  if (FSuppressLoadData && !LoadExec()) return false;
  FireOnExecute();
  StartFromTheBeginning();
  FExec->SetDebugEnabled(FUseDebugInfo);
  // The line hook costs a call per instruction: installed only when wanted.
  if (OnLine)
    FExec->SetOnRunLine([this](TPSExec*) { FireOnLine(); });
  else
    FExec->SetOnRunLine(nullptr);
  bool ok = FExec->RunScript() && FExec->ExceptionCode() == ErNoError;
  FireOnAfterExecute();
  return ok;
}

rtl::Variant TPSScript::ExecuteFunction(const std::vector<rtl::Variant>& Params, std::string_view ProcName) {
  if (Running()) throw rtl::Exception(rtl::UnicodeString(SScriptEngineAlreadyRunning));
  TFlagScope running(FExecuting);
  if (FSuppressLoadData && !LoadExec()) throw rtl::Exception(ExecErrorToString());
  FireOnExecute();
  StartFromTheBeginning();
  rtl::Variant result;
  try {
    result = FExec->RunProcPN(Params, ProcName);
  } catch (...) {
    FireOnAfterExecute();
    throw;
  }
  FireOnAfterExecute();
  return result;
}

rtl::TNotifyEvent TPSScript::GetProcMethod(std::string_view ProcName) {
  int no = FExec->GetProc(ProcName);
  if (no < 0) return {};
  return ScriptProcNotifyEvent(*FExec, static_cast<uint32_t>(no));
}

void TPSScript::Stop() {
  if (FExec->Status() == isRunning || FExec->Status() == isPaused)
    FExec->Stop();
  else
    throw rtl::Exception(rtl::UnicodeString(SNotRunning));
}

// --- Variables and types ------------------------------------------------------------------------------

uint8_t* TPSScript::GetVariable(std::string_view Name) const { return FExec->GetVar2(Name); }

bool TPSScript::SetVarToInstance(std::string_view VarName, rtl::TObject* cl) {
  return FExec->SetVarToInstance(VarName, cl);
}

void TPSScript::SetPointerToData(std::string_view VarName, void* Data, TPSTypeRec* aType) {
  int no = FExec->GetVar(VarName);
  TPSTypeRec* t = FExec->GetVarType(no);
  if (no < 0 || !aType || !t || t->FBaseType != btPointer)
    throw rtl::Exception(rtl::UnicodeString(SUnableToFindVariable));
  Store(FExec->GetVarNo(no), TPSPointerValue{Data, aType, 0});
}

TPSTypeRec* TPSScript::FindNamedType(std::string_view Name) const { return FExec->GetTypeNo(FExec->GetType(Name)); }

TPSTypeRec* TPSScript::FindBaseType(TPSBaseType Bt) const { return FExec->FindType2(Bt); }

// --- Positions ------------------------------------------------------------------------------------------

bool TPSScript::TranslatePositionPos(int32_t Proc, uint32_t Position, uint32_t& Pos, std::string& fn) const {
  uint32_t row, col;
  rtl::UnicodeString file;
  if (!FExec->TranslatePositionEx(Proc, Position, Pos, row, col, file)) return false;
  fn = rtl::UnicodeToUtf8(file);
  return true;
}

bool TPSScript::TranslatePositionRC(int32_t Proc, uint32_t Position, uint32_t& Row, uint32_t& Col,
                                    std::string& fn) const {
  uint32_t pos;
  rtl::UnicodeString file;
  if (!FExec->TranslatePositionEx(Proc, Position, pos, Row, Col, file)) return false;
  fn = rtl::UnicodeToUtf8(file);
  return true;
}

uint32_t TPSScript::ExecErrorPosition() const {
  uint32_t pos = 0;
  std::string fn;
  return TranslatePositionPos(ExecErrorProcNo(), static_cast<uint32_t>(ExecErrorByteCodePosition()), pos, fn) ? pos : 0;
}

uint32_t TPSScript::ExecErrorRow() const {
  uint32_t row = 0, col = 0;
  std::string fn;
  return TranslatePositionRC(ExecErrorProcNo(), static_cast<uint32_t>(ExecErrorByteCodePosition()), row, col, fn) ? row
                                                                                                                  : 0;
}

uint32_t TPSScript::ExecErrorCol() const {
  uint32_t row = 0, col = 0;
  std::string fn;
  return TranslatePositionRC(ExecErrorProcNo(), static_cast<uint32_t>(ExecErrorByteCodePosition()), row, col, fn) ? col
                                                                                                                  : 0;
}

std::string TPSScript::ExecErrorFileName() const {
  uint32_t row = 0, col = 0;
  std::string fn;
  return TranslatePositionRC(ExecErrorProcNo(), static_cast<uint32_t>(ExecErrorByteCodePosition()), row, col, fn)
             ? fn
             : std::string();
}

}  // namespace ps
