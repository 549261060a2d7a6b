// Runs a script file through TPSScript with the two default plug-ins, for
// the psrun program and for script tests. Scripts write lines to `out` with
// Writeln and read their arguments with ParamCount and ParamStr.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ps {

// Compiles and runs the file. Compiler messages and a run-time error are
// written to `out` ("Runtime error (row:col): text"); the result is 0 when
// the script ran to its end, 1 otherwise.
int RunScriptFile(const std::string& fileName, const std::vector<std::string>& args, std::ostream& out);

}  // namespace ps
