// The compiling half of the script runner (the compiler and the executor
// headers are kept apart: each names its own attribute type).
#include "engine/imports/uPSC_classes.h"
#include "engine/imports/uPSC_std.h"
#include "engine/uPSCompiler.h"
#include "tests/engine/compiler/ScriptRunner.h"

namespace ps::testing {

bool CompileScriptSource(const std::string& source, bool shortCircuit, std::string& module, std::string& debug,
                         std::vector<std::string>& messages) {
  TPSPascalCompiler compiler;
  compiler.FBooleanShortCircuit = shortCircuit;
  compiler.FOnUses = [](TPSPascalCompiler* c, const std::string& name) {
    if (name != "SYSTEM") {
      c->MakeError("", ecUnknownIdentifier, name);
      return false;
    }
    SIRegister_Std(c);
    SIRegister_Classes(c, true);
    c->AddFunction("procedure Print(s: string);");
    return true;
  };
  bool ok = compiler.Compile(source);
  for (int i = 0; i < compiler.MsgCount(); ++i)
    messages.push_back(rtl::UnicodeToUtf8(compiler.Msg(i)->MessageToString()));
  if (ok) {
    compiler.GetOutput(module);
    compiler.GetDebugOutput(debug);
  }
  return ok;
}

}  // namespace ps::testing
