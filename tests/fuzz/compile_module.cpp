// compile_module OUT SCRIPT: writes the module the script compiles to with
// the fuzzers' host, for the module fuzzer's seeds.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "FuzzSupport.h"
#include "ScriptHost.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: compile_module OUT SCRIPT\n");
    return 2;
  }
  fuzz::InitScriptHost();
  std::ifstream in(argv[2], std::ios::binary);
  std::string source(std::istreambuf_iterator<char>(in), {});
  std::string module = fuzz::CompileScript(source);
  if (module.empty()) {
    std::fprintf(stderr, "%s does not compile\n", argv[2]);
    return 1;
  }
  fuzz::WriteFile(argv[1], module);
  return 0;
}
