// psrun: runs a Pascal Script file through the script engine with the
// standard classes and date libraries. Usage: psrun SCRIPT [ARGS...]
#include <iostream>

#include "engine/ScriptRunner.h"
#include "rtl/Locale.h"

int main(int argc, char** argv) {
  rtl::LoadFormatSettingsFromLocale();
  if (argc < 2) {
    std::cout << "Usage: psrun SCRIPT [ARGS...]\n";
    return 1;
  }
  std::vector<std::string> args(argv + 2, argv + argc);
  return ps::RunScriptFile(argv[1], args, std::cout);
}
