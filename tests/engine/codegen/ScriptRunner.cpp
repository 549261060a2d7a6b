#include "engine/codegen/ScriptRunner.h"

#include "engine/imports/uPSR_classes.h"
#include "engine/imports/uPSR_std.h"
#include "engine/runtime/HostCalls.h"
#include "engine/uPSDebugger.h"
#include "rtl/StringList.h"

namespace ps::testing {

namespace {

constexpr std::u16string_view SCompileErrors = u"Compile error(s):";
constexpr std::u16string_view SRuntimeError = u"Runtime error";
constexpr std::u16string_view SRuntimePosition = u"%s at line %d, column %d, bytecode(%d:%d)";

std::string Line(const rtl::UnicodeString& text) { return rtl::UnicodeToUtf8(text) + "\n"; }

}  // namespace

TScriptRun RunScriptSource(const std::string& source, bool shortCircuit) {
  TScriptRun run;
  std::string module, debug;
  std::vector<std::string> messages;
  bool compiled = CompileScriptSource(source, shortCircuit, module, debug, messages);
  TPSRuntimeClassImporter importer;  // outlives the executor that uses it
  TPSCustomDebugExec exec;
  RIRegister_Std(importer);
  RIRegister_Classes(importer, true);
  RegisterClassLibraryRuntime(exec, importer);
  RegisterNativeFunction(exec, "PRINT", std::function<void(rtl::UnicodeString)>([&run](rtl::UnicodeString s) {
                           run.Output += rtl::UnicodeToUtf8(s) + "\n";
                         }));
  if (!compiled || !exec.LoadData(module)) {
    run.Output += Line(rtl::UnicodeString(SCompileErrors));
    for (auto& m : messages) run.Output += m + "\n";
    if (compiled) run.Output += Line(TPSErrorToString(exec.ExceptionCode(), exec.ExceptionString()));
    return run;
  }
  exec.LoadDebugData(debug);
  if (exec.RunScript()) {
    run.Ok = true;
    return run;
  }
  uint32_t pos = 0, row = 0, col = 0;
  rtl::UnicodeString file;
  exec.TranslatePositionEx(exec.ExceptionProcNo(), static_cast<uint32_t>(exec.ExceptionPos()), pos, row, col, file);
  run.Output += Line(rtl::UnicodeString(SRuntimeError));
  run.Output += Line(rtl::FormatText(
      SRuntimePosition, {TPSErrorToString(exec.ExceptionCode(), exec.ExceptionString()), rtl::IntToStr(row),
                         rtl::IntToStr(col), rtl::IntToStr(exec.ExceptionProcNo()), rtl::IntToStr(exec.ExceptionPos())}));
  rtl::TStringList lines;
  lines.SetText(rtl::Utf8ToUnicode(source));
  rtl::UnicodeString text = row >= 1 && static_cast<int>(row) <= lines.Count() ? lines[static_cast<int>(row) - 1] : u"";
  run.Output += Line(u"::" + text);
  return run;
}

}  // namespace ps::testing
