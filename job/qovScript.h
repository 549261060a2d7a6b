// The program's script runner: one engine component with the program's
// plug-ins, the host functions and the variables DOCUMENT, DATA and
// PARAMETERS, and the reports that compile and run-time failures become.
#pragma once

#include <memory>

#include "engine/ScriptReport.h"
#include "engine/uPSComponent.h"
#include "rtl/StringList.h"

namespace data {
class TqovData;
}
namespace workbook {
class TqovDocument;
}
namespace spreadsheet {
class ISpreadsheetServer;
}
namespace bindings {
class TPSImport_qovDocument;
}

namespace job {

using rtl::UnicodeString;

class TqovScript {
 public:
  // The report texts, shared with every program that runs scripts.
  static constexpr std::u16string_view SCompileErrors = ps::SCompileErrors;
  static constexpr std::u16string_view SRuntimeError = ps::SRuntimeError;
  static constexpr std::u16string_view SRuntimePosition = ps::SRuntimePosition;
  static constexpr std::u16string_view SSourceLinePrefix = ps::SSourceLinePrefix;

  TqovScript();
  virtual ~TqovScript();
  TqovScript(const TqovScript&) = delete;
  TqovScript& operator=(const TqovScript&) = delete;

  // Compiles and runs the script; raises an rtl::Exception whose message is
  // the compile or run-time report (each line ended by CR LF).
  void Execute();
  // The two halves of Execute. Compile raises the compile report; Run the
  // run-time report, also when the script was stopped (its time limit, an
  // interrupt): then the reason stands in the error text's place and the
  // position is the statement it was running.
  void Compile();
  void Run();
  // The compiler's hints and warnings of the last compile, one line each.
  rtl::TStringList CompilerMessages() const;
  // Seconds the script may run; 0, the default: no limit.
  void SetTimeout(int seconds) { FTimeout = seconds; }

  workbook::TqovDocument* Document() const { return FDocument; }
  void SetDocument(workbook::TqovDocument* value) { FDocument = value; }
  data::TqovData* Data() const { return FData; }
  void SetData(data::TqovData* value) { FData = value; }
  // The server that starts the workbooks the script opens itself; not
  // owned, and must outlive the runs.
  void SetServer(spreadsheet::ISpreadsheetServer* value);
  const rtl::TStringList& Parameters() const { return *FParameters; }
  void SetParameters(const rtl::TStrings& value) { FParameters->Assign(value); }
  const rtl::TStringList& ScriptText() const { return FPScript->Script(); }
  void SetScriptText(const rtl::TStrings& value) { FPScript->SetScript(value); }

  ps::TPSScript& Engine() const { return *FPScript; }

 protected:
  // Called from the constructor, where C++ does not dispatch to a
  // subclass: the component is always the base TPSScript.
  virtual std::unique_ptr<ps::TPSScript> CreateScriptEngine();
  virtual void HandleCompile(ps::TPSScript* Sender);
  virtual void HandleExecute(ps::TPSScript* Sender);
  // The script's OutputDebugString: Linux has no debugger channel, so the
  // text goes to standard error, where a script's log belongs.
  virtual void HandleDebugOutput(const UnicodeString& s);

 private:
  [[noreturn]] void RaiseCompileReport() const;
  [[noreturn]] void RaiseRuntimeReport() const;

  workbook::TqovDocument* FDocument = nullptr;  // not owned: the job's
  data::TqovData* FData = nullptr;              // not owned: the job's
  std::unique_ptr<ps::TPSScript> FPScript;
  bindings::TPSImport_qovDocument* FDocumentPlugin = nullptr;  // owned by the plug-in list
  std::unique_ptr<rtl::TStringList> FParameters;
  int FTimeout = 0;
};

}  // namespace job
