#include "BindingScript.h"

#include "bindings/DecimalRounding.h"
#include "bindings/ScriptFunctions.h"
#include "bindings/UtilityFunctions.h"
#include "bindings/uPSI_DatumskeFunkcije.h"
#include "bindings/uPSI_PerlRegEx.h"
#include "bindings/uPSI_qovData.h"
#include "bindings/uPSI_qovDocument.h"
#include "engine/imports/uPSC_classes.h"
#include "engine/imports/uPSC_dateutils.h"
#include "engine/imports/uPSC_std.h"
#include "engine/imports/uPSR_classes.h"
#include "engine/imports/uPSR_dateutils.h"
#include "engine/imports/uPSR_std.h"
#include "engine/uPSDebugger.h"

namespace bindings::testing {

using namespace ps;

namespace {

std::string Line(const rtl::UnicodeString& text) { return rtl::UnicodeToUtf8(text) + "\n"; }

const char* const HostDeclarations[] = {
    "function RoundToEx(Value : double; Znamenke : Integer): Double;",
    "function Format( const Format : string; const Args : array of const) : string",
    "function StrToFloatEx(const s : string): Double;",
    "function StrToFloatDefEx(const s : string; Default : double): Double;",
    "function ReplaceStr(const AText, AFromText, AToText: string): string;",
    "function FormatFloat(const Format: string; Value: Extended): string;",
    "function LeftStr(const AText: AnsiString; const ACount: Integer): AnsiString;",
    "function RightStr(const AText: AnsiString; const ACount: Integer): AnsiString;",
    "function MidStr(const AText: AnsiString; const AStart, ACount: Integer): AnsiString;",
    "function ApplicationDir: string;",
    "function ApplicationName: string;",
    "procedure Print(s: string)",
};

}  // namespace

TBindingRun RunBindingScript(const std::string& source, const TBindingObjects& objects) {
  TBindingRun run;
  TPSPascalCompiler comp;
  comp.FOnUses = [](TPSPascalCompiler* c, const std::string& name) {
    if (name != "SYSTEM") return false;
    SIRegister_Std(c);
    SIRegister_Classes(c, true);
    RegisterDateTimeLibrary_C(c);
    SIRegister_PerlRegEx(c);
    SIRegister_qovDocument(c);
    SIRegister_qovData(c);
    SIRegister_DatumskeFunkcije(c);
    for (const char* decl : HostDeclarations) c->AddNativeFunction(decl);
    for (auto [n, t] : {std::pair{"DOCUMENT", "TQOVDOCUMENT"}, {"DATA", "TQOVDATA"}, {"PARAMETERS", "TSTRINGLIST"}})
      c->AddUsedVariableN(n, t)->FExportName = true;
    return true;
  };
  bool compiled = comp.Compile(source);
  std::string module, debug;
  comp.GetOutput(module);
  comp.GetDebugOutput(debug);

  TPSRuntimeClassImporter ri;
  RIRegister_Std(ri);
  RIRegister_Classes(ri, true);
  RIRegister_PerlRegEx(ri);
  RIRegister_qovDocument(ri);
  RIRegister_qovData(ri);
  TPSDebugExec exec;
  RegisterClassLibraryRuntime(exec, ri);
  RegisterDateTimeLibrary_R(exec);
  RIRegister_DatumskeFunkcije(exec);
  RegisterNativeFunction(exec, "ROUNDTOEX", &RoundToEx);
  RegisterNativeFunction(exec, "FORMAT", &ScriptFormat);
  RegisterNativeFunction(exec, "STRTOFLOATEX", &StrToFloatEx);
  RegisterNativeFunction(exec, "STRTOFLOATDEFEX", &StrToFloatDefEx);
  RegisterNativeFunction(exec, "REPLACESTR", &ReplaceStr);
  RegisterNativeFunction(exec, "FORMATFLOAT", &ScriptFormatFloat);
  RegisterNativeFunction(exec, "LEFTSTR", &LeftStr);
  RegisterNativeFunction(exec, "RIGHTSTR", &RightStr);
  RegisterNativeFunction(exec, "MIDSTR", &MidStr);
  RegisterNativeFunction(exec, "APPLICATIONDIR", &ApplicationDir);
  RegisterNativeFunction(exec, "APPLICATIONNAME", &ApplicationName);
  RegisterNativeFunction(exec, "PRINT", std::function<void(rtl::UnicodeString)>([&run](rtl::UnicodeString s) {
                           run.Output += rtl::UnicodeToUtf8(s) + "\n";
                         }));
  if (!compiled || !exec.LoadData(module)) {
    run.Output += "Compile error(s):\n";
    for (int i = 0; i < comp.MsgCount(); ++i) run.Output += Line(comp.Msg(i)->MessageToString());
    if (compiled) run.Output += Line(TPSErrorToString(exec.ExceptionCode(), exec.ExceptionString()));
    return run;
  }
  exec.LoadDebugData(debug);
  exec.SetVarToInstance("DOCUMENT", objects.Document);
  exec.SetVarToInstance("DATA", objects.Data);
  exec.SetVarToInstance("PARAMETERS", objects.Parameters);
  if (exec.RunScript()) {
    run.Ok = true;
    return run;
  }
  uint32_t pos = 0, row = 0, col = 0;
  rtl::UnicodeString file;
  exec.TranslatePositionEx(exec.ExceptionProcNo(), static_cast<uint32_t>(exec.ExceptionPos()), pos, row, col, file);
  run.Output += "Runtime error\n";
  run.Output += Line(TPSErrorToString(exec.ExceptionCode(), exec.ExceptionString())) + "line " + std::to_string(row) +
                "\n";
  return run;
}

}  // namespace bindings::testing
