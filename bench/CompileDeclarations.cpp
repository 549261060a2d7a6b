// Compiles a generated script of 100,000 declaration lines (constants, record
// types, variables and procedures with empty bodies) and reports the time.
#include <chrono>
#include <cstdio>
#include <string>

#include "engine/uPSCompiler.h"

int main() {
  constexpr int lines = 100000;
  std::string script;
  script.reserve(lines * 48);
  for (int i = 0; i < lines; ++i) {
    std::string n = std::to_string(i);
    switch (i % 4) {
      case 0: script += "const C" + n + " = " + n + " * 2 + $10;\r\n"; break;
      case 1: script += "type T" + n + " = record A, B: Integer; S: String; end;\r\n"; break;
      case 2: script += "var V" + n + ": T" + std::to_string(i - 1) + ";\r\n"; break;
      default:
        script += "procedure P" + n + "(a: Integer; var b: T" + std::to_string(i - 2) + "); begin end;\r\n";
        break;
    }
  }
  script += "begin end.\r\n";

  ps::TPSPascalCompiler compiler;
  compiler.FOnUses = [](ps::TPSPascalCompiler*, const std::string&) { return true; };
  double best = 1e9;
  for (int run = 0; run < 5; ++run) {
    auto start = std::chrono::steady_clock::now();
    bool ok = compiler.Compile(script);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (!ok) {
      std::printf("compile failed: %s\n",
                  rtl::UnicodeToUtf8(compiler.Msg(compiler.MsgCount() - 1)->MessageToString()).c_str());
      return 1;
    }
    if (ms < best) best = ms;
  }
  std::string module;
  compiler.GetOutput(module);
  std::printf("CompileDeclarations: %d lines, %zu bytes of source, %zu bytes of module, %d messages\n", lines,
              script.size(), module.size(), compiler.MsgCount());
  std::printf("best of 5: %.1f ms (%.0f lines/s)\n", best, lines / (best / 1000));
  return 0;
}
