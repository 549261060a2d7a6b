// The job's script host as the script and module fuzzers run it: every
// declaration a job makes, DATA bound to a small table, DOCUMENT to a copy
// of the example workbook when the script names it, and a budget of
// instructions after which the run is stopped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace fuzz {

// Enough for every script of the engine's tests; an endless loop stops
// after a fraction of a second.
constexpr uint64_t InstructionBudget = 200000;

// Once per process: locale, the spreadsheet server, the example workbook.
void InitScriptHost();

// Compiles and runs the script text (file bytes, decoded as the job decodes
// a script file). Compile and run-time failures are refusals.
void RunScript(std::string_view source);
// Loads the module bytes into an executor prepared (once per process) by a
// compile with the job's declarations, and runs the module when it loads.
void RunModule(std::string_view module);
// The module the script compiles to; empty when it does not compile.
std::string CompileScript(std::string_view source);

}  // namespace fuzz
