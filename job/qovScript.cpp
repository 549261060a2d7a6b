#include "job/qovScript.h"

#include <iostream>

#include "bindings/DecimalRounding.h"
#include "bindings/ScriptFunctions.h"
#include "bindings/UtilityFunctions.h"
#include "bindings/uPSI_DatumskeFunkcije.h"
#include "bindings/uPSI_PerlRegEx.h"
#include "bindings/uPSI_qovData.h"
#include "bindings/uPSI_qovDocument.h"
#include "data/qovData.h"
#include "engine/uPSComponent_Default.h"
#include "engine/uPSDebugger.h"
#include "job/ScriptStop.h"
#include "workbook/qovDocument.h"

namespace job {

TqovScript::TqovScript() {
  FPScript = CreateScriptEngine();
  FPScript->SetUsePreProcessor(false);
  FPScript->OnExecute = [this](ps::TPSScript* sender) { HandleExecute(sender); };
  FPScript->OnCompile = [this](ps::TPSScript* sender) { HandleCompile(sender); };
  // The order is the order of declaration: later plug-ins name classes of
  // earlier ones (TStrings in Split, TObject everywhere).
  FPScript->Plugins().Add(new ps::TPSImport_Classes());
  FPScript->Plugins().Add(new ps::TPSImport_DateUtils());
  FPScript->Plugins().Add(new bindings::TPSImport_PerlRegEx());
  FDocumentPlugin = new bindings::TPSImport_qovDocument();
  FPScript->Plugins().Add(FDocumentPlugin);
  FPScript->Plugins().Add(new bindings::TPSImport_qovData());
  FPScript->Plugins().Add(new bindings::TPSImport_DatumskeFunkcije());
  // No script value outlives the run: globals are released when it ends.
  FPScript->Exec()->SetCallCleanup(true);
  FParameters = std::make_unique<rtl::TStringList>();
}

void TqovScript::SetServer(spreadsheet::ISpreadsheetServer* value) { FDocumentPlugin->SetServer(value); }

TqovScript::~TqovScript() {
  // Freeing a plug-in removes its item from the list.
  auto& plugins = FPScript->Plugins();
  while (plugins.Count() > 0) {
    if (ps::TPSPlugin* plugin = plugins.Items(0)->Plugin())
      delete plugin;
    else
      plugins.Delete(0);
  }
  FPScript.reset();
  FParameters.reset();
}

std::unique_ptr<ps::TPSScript> TqovScript::CreateScriptEngine() { return std::make_unique<ps::TPSScript>(nullptr); }

void TqovScript::HandleCompile(ps::TPSScript* Sender) {
  using namespace bindings;
  Sender->AddFunction(&RoundToEx, "function RoundToEx(Value : double; Znamenke : Integer): Double;");
  Sender->AddFunction(&ScriptFormat, "function Format( const Format : string; const Args : array of const) : string");
  Sender->AddFunction(&StrToFloatEx, "function StrToFloatEx(const s : string): Double;");
  Sender->AddFunction(&StrToFloatDefEx, "function StrToFloatDefEx(const s : string; Default : double): Double;");
  Sender->AddFunction(&ReplaceStr, "function ReplaceStr(const AText, AFromText, AToText: string): string;");
  Sender->AddFunction(&ScriptFormatFloat, "function FormatFloat(const Format: string; Value: Extended): string;");
  Sender->AddFunction(&LeftStr, "function LeftStr(const AText: AnsiString; const ACount: Integer): AnsiString;");
  Sender->AddFunction(&RightStr, "function RightStr(const AText: AnsiString; const ACount: Integer): AnsiString;");
  Sender->AddFunction(&MidStr, "function MidStr(const AText: AnsiString; const AStart, ACount: Integer): AnsiString;");
  Sender->AddMethod(this, &TqovScript::HandleDebugOutput, "procedure OutputDebugString(s: string)");
  Sender->AddFunction(&ApplicationDir, "function ApplicationDir: string;");
  Sender->AddFunction(&ApplicationName, "function ApplicationName: string;");
  Sender->AddRegisteredVariable("DOCUMENT", "TQOVDOCUMENT");
  Sender->AddRegisteredVariable("DATA", "TQOVDATA");
  Sender->AddRegisteredVariable("PARAMETERS", "TSTRINGLIST");
}

void TqovScript::HandleExecute(ps::TPSScript* Sender) {
  Sender->SetVarToInstance("DOCUMENT", FDocument);
  Sender->SetVarToInstance("DATA", FData);
  Sender->SetVarToInstance("PARAMETERS", FParameters.get());
}

void TqovScript::HandleDebugOutput(const UnicodeString& s) {
  std::cerr << rtl::UnicodeToUtf8(s) << "\r\n" << std::flush;
}

void TqovScript::Execute() {
  Compile();
  Run();
}

void TqovScript::Compile() {
  if (!FPScript->Compile()) RaiseCompileReport();
}

void TqovScript::Run() {
  ps::TPSDebugExec* exec = FPScript->Exec();
  UnicodeString stopped;
  bool ok;
  {
    TScriptStop stop(exec, FTimeout);
    ok = FPScript->Execute();
    stopped = stop.Reason();
  }
  if (!stopped.empty()) {
    // The executor still knows where it was when the stop came.
    ps::TRuntimeFailure failure{stopped};
    failure.ProcNo = exec->CurrentProcNo();
    failure.Position = static_cast<int32_t>(exec->CurrentPosition());
    uint32_t pos = 0;
    UnicodeString file;
    if (failure.ProcNo >= 0)
      exec->TranslatePositionEx(failure.ProcNo, exec->CurrentPosition(), pos, failure.Row, failure.Col, file);
    throw rtl::Exception(ps::RuntimeReport(failure, FPScript->Script()).Text());
  }
  if (!ok) RaiseRuntimeReport();
}

rtl::TStringList TqovScript::CompilerMessages() const {
  rtl::TStringList lines;
  for (int i = 0; i < FPScript->CompilerMessageCount(); ++i) lines.Add(FPScript->CompilerErrorToStr(i));
  return lines;
}

void TqovScript::RaiseCompileReport() const { throw rtl::Exception(ps::CompileReport(*FPScript).Text()); }

void TqovScript::RaiseRuntimeReport() const { throw rtl::Exception(ps::RuntimeReport(*FPScript).Text()); }

}  // namespace job
