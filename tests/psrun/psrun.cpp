// psrun_codegen FILE: compiles and runs one script with the compiler's
// declarations and Print(s: string). As psrun does, it writes the script's
// lines to standard output and the report of a failure to standard error.
// Exit 0 on success, 1 on failure.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/engine/compiler/ScriptRunner.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: psrun_codegen FILE\n", stderr);
    return 1;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  std::stringstream text;
  text << in.rdbuf();
  ps::testing::TScriptRun run = ps::testing::RunScriptSource(text.str());
  std::fwrite(run.Output.data(), 1, run.Output.size(), stdout);
  std::fflush(stdout);
  std::fwrite(run.Report.data(), 1, run.Report.size(), stderr);
  return run.Ok ? 0 : 1;
}
