// psrun: runs a Pascal Script file through the script engine with the
// standard classes and date libraries. Usage: psrun SCRIPT [ARGS...]
// Standard output carries what the script writes and nothing else; hints,
// warnings and the report of a failure go to standard error.
#include <iostream>

#include "engine/ScriptRunner.h"
#include "rtl/Locale.h"

int main(int argc, char** argv) {
  rtl::LoadFormatSettingsFromLocale();
  if (argc < 2) {
    std::cerr << "Usage: psrun SCRIPT [ARGS...]\n";
    return 1;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  return ps::RunScriptFile(argv[1], args, std::cout, std::cerr);
}
