// Whole scripts compiled and run as the program runs them: compiler, then
// TPSDebugExec with debug information. Prints the run time of each script.
#include <cstdio>
#include <ctime>
#include <string>

// The compiler and the executor each declare an attribute type of the same
// name; this program needs neither, so the compiler's is renamed here.
#define TPSAttributeType TPSCompilerAttributeType
#include "engine/uPSCompiler.h"
#undef TPSAttributeType
#include "engine/runtime/HostCalls.h"
#include "engine/uPSDebugger.h"

namespace {

struct TBenchScript {
  const char* Name;
  const char* Source;
  const char* Expected;
};

const TBenchScript Scripts[] = {
    {"recursive fib(30)",
     "function Fib(n: Integer): Integer;\n"
     "begin\n  if n < 2 then Result := n else Result := Fib(n - 1) + Fib(n - 2);\nend;\n"
     "begin\n  Print(IntToStr(Fib(30)));\nend.\n",
     "832040"},
    {"sieve up to 10,000,000",
     "var s: array of Boolean; i, j, n, count: Integer;\n"
     "begin\n  n := 10000000;\n  SetLength(s, n + 1);\n  count := 0;\n"
     "  for i := 2 to n do\n    if not s[i] then\n    begin\n      count := count + 1;\n      j := i + i;\n"
     "      while j <= n do begin s[j] := True; j := j + i; end;\n    end;\n"
     "  Print(IntToStr(count));\nend.\n",
     "664579"},
    {"string building of 1,000,000 characters",
     "var s: string; i: Integer;\n"
     "begin\n  s := '';\n  for i := 1 to 100000 do s := s + Copy('0123456789abc', 1, 10);\n"
     "  Print(IntToStr(Length(s)));\nend.\n",
     "1000000"},
    {"nested integer loops, 100,000,000 turns",
     "var i, j, sum: Integer;\n"
     "begin\n  sum := 0;\n  for i := 1 to 10000 do\n    for j := 1 to 10000 do\n      sum := sum + 1;\n"
     "  Print(IntToStr(sum));\nend.\n",
     "100000000"},
    {"bubble sort of 5,000 integers",
     "var a: array of Integer; i, j, t, seed: Integer; ok: Boolean;\n"
     "begin\n  SetLength(a, 5000);\n  seed := 1;\n"
     "  for i := 0 to 4999 do begin seed := (seed * 1103515245 + 12345) and $7FFFFFFF; a[i] := seed mod 100000; end;\n"
     "  for i := 0 to 4998 do\n    for j := 0 to 4998 - i do\n"
     "      if a[j] > a[j + 1] then begin t := a[j]; a[j] := a[j + 1]; a[j + 1] := t; end;\n"
     "  ok := True;\n  for i := 0 to 4998 do if a[i] > a[i + 1] then ok := False;\n"
     "  if ok then Print('sorted') else Print('unsorted');\nend.\n",
     "sorted"},
};

}  // namespace

int main() {
  for (const TBenchScript& script : Scripts) {
    ps::TPSPascalCompiler compiler;
    compiler.FOnUses = [](ps::TPSPascalCompiler* c, const std::string& name) {
      if (name == "SYSTEM") c->AddFunction("procedure Print(s: string);");
      return name == "SYSTEM";
    };
    std::clock_t start = std::clock();
    if (!compiler.Compile(script.Source)) {
      std::printf("%s: compile failed: %s\n", script.Name,
                  compiler.MsgCount() ? rtl::UnicodeToUtf8(compiler.Msg(0)->MessageToString()).c_str() : "");
      return 1;
    }
    double compileSeconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    std::string module, debug;
    compiler.GetOutput(module);
    compiler.GetDebugOutput(debug);
    ps::TPSDebugExec exec;
    std::string printed;
    ps::RegisterNativeFunction(exec, "PRINT", std::function<void(rtl::UnicodeString)>([&](rtl::UnicodeString s) {
                                 printed = rtl::UnicodeToUtf8(s);
                               }));
    if (!exec.LoadData(module)) {
      std::printf("%s: load failed\n", script.Name);
      return 1;
    }
    exec.LoadDebugData(debug);
    start = std::clock();  // processor time: the machine may be shared
    bool ok = exec.RunScript();
    double runSeconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    if (!ok || printed != script.Expected) {
      std::printf("%s: failed (%s / %s)\n", script.Name, rtl::UnicodeToUtf8(exec.ExceptionString()).c_str(),
                  printed.c_str());
      return 1;
    }
    std::printf("%-45s run %7.3f s  (compile %.4f s)\n", script.Name, runSeconds, compileSeconds);
  }
  return 0;
}
