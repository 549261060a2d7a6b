// psrun FILE: compiles and runs one script with the compiler's declarations
// and Print(s: string); prints the report on failure. Exit 0 on success, 1
// on failure.
#include <cstdio>
#include <fstream>
#include <sstream>

#include "tests/engine/compiler/ScriptRunner.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: psrun FILE\n", stderr);
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
  return run.Ok ? 0 : 1;
}
