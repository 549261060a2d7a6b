// The executor loads what the compiler writes: a cross-check of the two
// sides of the module format, debug information included.
#include <gtest/gtest.h>

#include "CompilerTestSupport.h"
#include "engine/uPSDebugger.h"

namespace ps {
namespace {

using test::CompileScript;

const char* const Script =
    "type\r\n"
    "  TColor = (cRed, cGreen, cBlue);\r\n"
    "  TPoint = record X, Y: Integer; Tag: TColor; Name: String; end;\r\n"
    "  TNumbers = array [1..3] of Byte;\r\n"
    "  TColors = set of TColor;\r\n"
    "  TProc = procedure(a: Integer; var b: String);\r\n"
    "  TList = array of TPoint;\r\n"
    "const Limit = 10;\r\n"
    "var Counter: Integer; Origin: TPoint; Numbers: TNumbers; Colors: TColors; Callback: TProc; List: TList;\r\n"
    "procedure Later(a: Integer; var s: String); forward;\r\n"
    "function Twice(x: Integer): Int64;\r\n"
    "var tmp: Byte;\r\n"
    "begin end;\r\n"
    "procedure Later(a: Integer; var s: String); begin end;\r\n"
    "begin\r\n"
    "end.\r\n";

TEST(ExecutorLoad, ACompiledModuleLoadsRunsAndMapsPositionsBack) {
  auto r = CompileScript(Script, [](TPSPascalCompiler& c) {
    c.AddUsedVariableN("Shared", "Integer")->FExportName = true;
    c.AddClassN(nullptr, "TObject");
    c.AddUsedVariableN("Obj", "TObject")->FExportName = true;
  });
  ASSERT_TRUE(r.ok) << r.Messages();
  TPSDebugExec exec;
  ASSERT_TRUE(exec.LoadData(r.module)) << static_cast<int>(exec.ExceptionCode());
  exec.LoadDebugData(r.debug);
  EXPECT_EQ(exec.GetProcCount(), 3);
  EXPECT_EQ(exec.GetVarCount(), 8);
  EXPECT_EQ(exec.GetVar("SHARED"), 0);
  EXPECT_EQ(exec.GetVar("OBJ"), 1);
  EXPECT_GE(exec.GetType("TPOINT"), 0);
  EXPECT_GE(exec.GetType("BOOLEAN"), 0);
  EXPECT_GE(exec.GetProc("TWICE"), 0);
  EXPECT_TRUE(exec.RunScript()) << static_cast<int>(exec.ExceptionCode());
  // A function with a local runs: the result slot and argument are pushed by the caller.
  TPSTypeRec* longInt = exec.FindType2(btS32);
  TPSTypeRec* int64 = exec.FindType2(btS64);
  int32_t arg = 21;
  int64_t result = 0;
  ASSERT_TRUE(longInt && int64);
  EXPECT_TRUE(exec.RunProc({{int64, reinterpret_cast<uint8_t*>(&result)}, {longInt, reinterpret_cast<uint8_t*>(&arg)}},
                           exec.GetProc("TWICE")))
      << static_cast<int>(exec.ExceptionCode());
  uint32_t pos = 0, row = 0, col = 0;
  rtl::UnicodeString file;
  ASSERT_TRUE(exec.TranslatePositionEx(0, 0, pos, row, col, file));
  EXPECT_EQ(row, 16u);
  EXPECT_EQ(col, 1u);
  ASSERT_TRUE(exec.TranslatePositionEx(2, 5, pos, row, col, file));
  EXPECT_EQ(row, 13u);
  EXPECT_EQ(exec.ProcNames().Count(), 3);
  EXPECT_EQ(rtl::UnicodeToUtf8(exec.ProcNames()[1]), "Later");
}

TEST(ExecutorLoad, UsedRoutinesBindByTheirUpperCaseNames) {
  auto r = CompileScript("begin end.", [](TPSPascalCompiler& c) {
    c.AddNativeFunction("function HostTwice(x: Integer): Integer;");
    c.AddNativeFunction("function HostOther: Integer;");
    for (const char* name : {"HostTwice", "IntToStr", "Copy", "HostOther"}) c.UseRegProc(c.FindRegProc(name));
  });
  ASSERT_TRUE(r.ok) << r.Messages();
  TPSProcPtr nothing = [](TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack*) { return true; };
  TPSExec exec;
  for (const char* name : {"HOSTTWICE", "INTTOSTR", "COPY"}) exec.RegisterFunctionName(name, nothing, nullptr, nullptr);
  // One routine is left unbound: the load names it.
  EXPECT_FALSE(exec.LoadData(r.module));
  EXPECT_EQ(exec.ExceptionCode(), erCannotImport);
  EXPECT_EQ(rtl::UnicodeToUtf8(exec.ExceptionString()), "HOSTOTHER");
  exec.RegisterFunctionName("HOSTOTHER", nothing, nullptr, nullptr);
  EXPECT_TRUE(exec.LoadData(r.module)) << rtl::UnicodeToUtf8(exec.ExceptionString());
}

TEST(ExecutorLoad, AttributesAndHostPointerVariablesLoad) {
  auto r = CompileScript(
      "type [Info(5, 'ab', 2.5)] TThing = record A: Byte; end;\n[Info(6, 'c', 1)] procedure P; begin end;\n"
      "var T: TThing;\nbegin end.",
      [](TPSPascalCompiler& c) {
        auto* info = c.AddAttributeType();
        info->SetName("Info");
        info->AddField("Level", c.FindType("Word"));
        info->AddField("Text", c.FindType("String"));
        info->AddField("Scale", c.FindType("Double"));
        c.AddUsedPtrVariableN("Host", "String")->FExportName = true;
      });
  ASSERT_TRUE(r.ok) << r.Messages();
  TPSExec exec;
  ASSERT_TRUE(exec.LoadData(r.module)) << static_cast<int>(exec.ExceptionCode());
  EXPECT_EQ(exec.GetVarType(exec.GetVar("HOST"))->BaseType(), btPointer);
  TPSTypeRec* thing = exec.GetTypeNo(exec.GetType("TTHING"));
  ASSERT_TRUE(thing);
  TPSRuntimeAttribute* attr = thing->Attributes().FindAttribute("Info");
  ASSERT_TRUE(attr);
}

}  // namespace
}  // namespace ps
