// Runs a script file through TPSScript with the two default plug-ins, for
// the psrun program and for script tests. Scripts write lines to `out` with
// Writeln and read their arguments with ParamCount and ParamStr; everything
// the runner itself says goes to `err`, so `out` holds the script's output alone.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ps {

// Compiles and runs the file. Hints and warnings of a successful compile,
// and the report of a failed compile or run (engine/ScriptReport.h), are
// written to `err`; the result is 0 when the script ran to its end, 1
// otherwise.
int RunScriptFile(const std::string& fileName, const std::vector<std::string>& args, std::ostream& out,
                  std::ostream& err);

}  // namespace ps
