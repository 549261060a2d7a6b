#include "engine/ScriptReport.h"

#include "engine/uPSComponent.h"
#include "rtl/SysUtils.h"

namespace ps {

rtl::TStringList CompileReport(const rtl::TStrings& messages, const rtl::UnicodeString& loadError) {
  rtl::TStringList lines;
  lines.Add(rtl::UnicodeString(SCompileErrors));
  lines.AddStrings(messages);
  if (!loadError.empty()) lines.Add(loadError);
  return lines;
}

rtl::TStringList RuntimeReport(const TRuntimeFailure& failure, const rtl::TStrings& source) {
  rtl::TStringList lines;
  lines.Add(rtl::UnicodeString(SRuntimeError));
  lines.Add(rtl::FormatText(SRuntimePosition, {failure.Text, rtl::IntToStr(failure.Row), rtl::IntToStr(failure.Col),
                                               rtl::IntToStr(failure.ProcNo), rtl::IntToStr(failure.Position)}));
  // A position the debug information cannot translate has row 0: there is
  // no source line to show, and the two lines above still say what failed.
  if (failure.Row >= 1 && static_cast<int64_t>(failure.Row) <= source.Count())
    lines.Add(rtl::UnicodeString(SSourceLinePrefix) + source[static_cast<int>(failure.Row) - 1]);
  return lines;
}

rtl::TStringList CompileReport(TPSScript& script) {
  rtl::TStringList messages;
  for (int i = 0; i < script.CompilerMessageCount(); ++i) messages.Add(script.CompilerErrorToStr(i));
  return CompileReport(messages,
                       script.ExecErrorCode() != ErNoError ? script.ExecErrorToString() : rtl::UnicodeString());
}

rtl::TStringList RuntimeReport(TPSScript& script) {
  return RuntimeReport({script.ExecErrorToString(), script.ExecErrorRow(), script.ExecErrorCol(),
                        script.ExecErrorProcNo(), script.ExecErrorByteCodePosition()},
                       script.Script());
}

}  // namespace ps
