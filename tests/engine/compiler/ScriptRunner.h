// Compiles and runs one script with the compiler's own declarations, the
// standard classes (TObject ... TStringList) and a host procedure
// Print(s: string), the way the psrun harness and the golden
// script tests use it. Failures come back as the report users see.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace ps {
class TPSExec;
}

namespace ps::testing {

struct TScriptRun {
  bool Ok = false;
  std::string Output;     // the Print lines; lines end with "\n"
  std::string Report;     // the report of a failure (engine/ScriptReport.h), else empty
  int RegisterForms = 0;  // procedures left with a register form they ran in
  int LoopForms = 0;      // procedures with loops in the register form
  // Both, as a user reading the two streams of psrun_codegen together sees them.
  std::string Text() const { return Output + Report; }
};

TScriptRun RunScriptSource(const std::string& source, bool shortCircuit = false);

struct TScriptOptions {
  bool ShortCircuit = false;
  bool General = false;                   // a run-line hook keeps the executor in its general loop
  uint64_t StackLimit = 0;                // bytes; 0 for the default
  std::function<void(TPSExec&)> Prepare;  // called just before the run
};
TScriptRun RunScriptSource(const std::string& source, const TScriptOptions& options);

// Compiles with the same declarations; the messages as users see them.
bool CompileScriptSource(const std::string& source, bool shortCircuit, std::string& module, std::string& debug,
                         std::vector<std::string>& messages);

}  // namespace ps::testing
