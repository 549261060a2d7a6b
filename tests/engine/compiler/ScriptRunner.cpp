#include "tests/engine/compiler/ScriptRunner.h"

#include "engine/ScriptReport.h"
#include "engine/imports/uPSR_classes.h"
#include "engine/imports/uPSR_std.h"
#include "engine/runtime/HostCalls.h"
#include "engine/runtime/RegisterCode.h"
#include "engine/uPSDebugger.h"
#include "rtl/StringList.h"

namespace ps::testing {

namespace {

std::string Lines(const rtl::TStrings& lines) {
  std::string text;
  for (int i = 0; i < lines.Count(); ++i) text += rtl::UnicodeToUtf8(lines[i]) + "\n";
  return text;
}

}  // namespace

TScriptRun RunScriptSource(const std::string& source, bool shortCircuit) {
  TScriptOptions options;
  options.ShortCircuit = shortCircuit;
  return RunScriptSource(source, options);
}

TScriptRun RunScriptSource(const std::string& source, const TScriptOptions& options) {
  TScriptRun run;
  std::string module, debug;
  std::vector<std::string> messages;
  bool compiled = CompileScriptSource(source, options.ShortCircuit, module, debug, messages);
  TPSRuntimeClassImporter importer;  // outlives the executor that uses it
  TPSCustomDebugExec exec;
  RIRegister_Std(importer);
  RIRegister_Classes(importer, true);
  RegisterClassLibraryRuntime(exec, importer);
  RegisterNativeFunction(exec, "PRINT", std::function<void(rtl::UnicodeString)>([&run](rtl::UnicodeString s) {
                           run.Output += rtl::UnicodeToUtf8(s) + "\n";
                         }));
  if (!compiled || !exec.LoadData(module)) {
    rtl::TStringList lines;
    for (auto& m : messages) lines.Add(rtl::Utf8ToUnicode(m));
    run.Report = Lines(CompileReport(lines, compiled ? TPSErrorToString(exec.ExceptionCode(), exec.ExceptionString())
                                                     : rtl::UnicodeString()));
    return run;
  }
  exec.LoadDebugData(debug);
  if (options.General) exec.SetOnRunLine([](TPSExec*) {});
  if (options.StackLimit) exec.Stack().SetMaxLength(options.StackLimit);
  if (options.Prepare) options.Prepare(exec);
  const bool ok = exec.RunScript();
  for (int i = 0; i < exec.GetProcCount(); ++i)
    if (auto* p = dynamic_cast<TPSInternalProcRec*>(exec.GetProcNo(i))) {
      run.RegisterForms += p->FRegister && p->FRegister->Ready;
      run.LoopForms += p->FLoops != nullptr;
    }
  if (ok) {
    run.Ok = true;
    return run;
  }
  uint32_t pos = 0, row = 0, col = 0;
  rtl::UnicodeString file;
  exec.TranslatePositionEx(exec.ExceptionProcNo(), static_cast<uint32_t>(exec.ExceptionPos()), pos, row, col, file);
  rtl::TStringList lines;
  lines.SetText(rtl::Utf8ToUnicode(source));
  run.Report = Lines(RuntimeReport({TPSErrorToString(exec.ExceptionCode(), exec.ExceptionString()), row, col,
                                    exec.ExceptionProcNo(), static_cast<int32_t>(exec.ExceptionPos())},
                                   lines));
  return run;
}

}  // namespace ps::testing
