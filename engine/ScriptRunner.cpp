#include "engine/ScriptRunner.h"

#include "engine/ScriptReport.h"
#include "engine/uPSComponent_Default.h"
#include "rtl/TextFile.h"

namespace ps {

namespace {

void WriteLines(const rtl::TStrings& lines, std::ostream& to) {
  for (int i = 0; i < lines.Count(); ++i) to << rtl::UnicodeToUtf8(lines[i]) << "\n";
}

}  // namespace

int RunScriptFile(const std::string& fileName, const std::vector<std::string>& args, std::ostream& out,
                  std::ostream& err) {
  TPSImport_Classes classes;
  TPSImport_DateUtils dates;
  TPSScript script;
  script.Plugins().Add(&classes);
  script.Plugins().Add(&dates);
  try {
    rtl::TStringList lines(rtl::ReadTextFileLines(rtl::Utf8ToUnicode(fileName)));
    script.SetScript(lines);
  } catch (const rtl::Exception& e) {
    err << rtl::UnicodeToUtf8(e.Message()) << "\n";
    return 1;
  }
  script.SetMainFileName(fileName);
  script.OnCompile = [&](TPSScript* s) {
    auto writeLine = [&out](const rtl::UnicodeString& text) { out << rtl::UnicodeToUtf8(text) << "\n"; };
    s->AddFunction(writeLine, "procedure Writeln(s: String);");
    s->AddFunction(writeLine, "procedure Print(s: String);");
    s->AddFunction([&args]() { return static_cast<int32_t>(args.size()); }, "function ParamCount: Integer;");
    s->AddFunction(
        [&args](int32_t i) {
          return i >= 1 && static_cast<size_t>(i) <= args.size() ? rtl::Utf8ToUnicode(args[i - 1])
                                                                 : rtl::UnicodeString();
        },
        "function ParamStr(i: Integer): String;");
  };
  if (!script.Compile()) {
    WriteLines(CompileReport(script), err);
    return 1;
  }
  for (int i = 0; i < script.CompilerMessageCount(); ++i)
    err << rtl::UnicodeToUtf8(script.CompilerErrorToStr(i)) << "\n";
  if (script.Execute()) return 0;
  WriteLines(RuntimeReport(script), err);
  return 1;
}

}  // namespace ps
