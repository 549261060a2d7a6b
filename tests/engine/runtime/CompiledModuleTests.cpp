// Modules written by the compiler load and run in the executor.
#include "engine/uPSCompiler.h"
#include "engine/uPSDebugger.h"
#include "tests/engine/runtime/TestSupport.h"

using namespace ps;

namespace {
const char* const Script =
    "program Demo;\r\n"
    "type\r\n"
    "  TColor = (cRed, cGreen);\r\n"
    "  [Info(1)] TPoint = record X, Y: Integer; C: TColor; end;\r\n"
    "  TList = array [0..9] of array of String;\r\n"
    "  TSet = set of TColor;\r\n"
    "  TCall = function(const a: Integer; var b: TPoint): Boolean;\r\n"
    "  IThing = interface(IUnknown) ['{01234567-89AB-CDEF-0123-456789ABCDEF}']\r\n"
    "    function Ping(a: Integer): Integer;\r\n"
    "  end;\r\n"
    "var Total, Count: Integer; P: TPoint; L: TList; S: TSet; V: Variant;\r\n"
    "function Twice(x: Integer): Int64;\r\n"
    "var tmp: Byte;\r\n"
    "begin end;\r\n"
    "procedure Later(x: Byte); begin end;\r\n"
    "begin\r\n"
    "end.\r\n";
}  // namespace

TEST(CompiledModules, TheCompilersModuleAndDebugInformationLoadAndRun) {
  TPSPascalCompiler c;
  c.FOnUses = [](TPSPascalCompiler* comp, const std::string& name) {
    if (name == "SYSTEM") {
      compiletime::TPSAttributeType* info = comp->AddAttributeType();
      info->SetName("Info");
      info->AddField("Level", comp->FindType("Integer"));
    }
    return true;
  };
  ASSERT_TRUE(c.Compile(Script));
  std::string module, debug;
  ASSERT_TRUE(c.GetOutput(module));
  ASSERT_TRUE(c.GetDebugOutput(debug));
  TPSDebugExec exec;
  ASSERT_TRUE(exec.LoadData(module)) << rtl::UnicodeToUtf8(
      TPSErrorToString(exec.ExceptionCode(), exec.ExceptionString()));
  exec.LoadDebugData(debug);
  EXPECT_TRUE(exec.RunScript());
  EXPECT_GE(exec.GetVarCount(), 6);
  EXPECT_GE(exec.GetProc("TWICE"), 0);
  EXPECT_GE(exec.GetProc("LATER"), 0);
  EXPECT_GE(exec.ProcNames().Count(), 3);
  // Procedures run from the host with variant arguments.
  rtl::Variant r = exec.RunProcPN({rtl::Variant(int32_t(4))}, "Twice");
  EXPECT_EQ(r.AsInt64(), 0);  // the body is empty
}
