// The written module and debug information, decoded by the test's own reader.
#include <gtest/gtest.h>

#include "CompilerTestSupport.h"
#include "ModuleReader.h"

namespace ps {
namespace {

using test::CompileScript;

int IndexOfExported(const test::ReadModule& m, const std::string& name) {
  for (size_t i = 0; i < m.types.size(); ++i)
    if (m.types[i].exportName == name) return static_cast<int>(i);
  return -1;
}

int FirstOfCode(const test::ReadModule& m, uint8_t code) {
  for (size_t i = 0; i < m.types.size(); ++i)
    if (m.types[i].code == code) return static_cast<int>(i);
  return -1;
}

TEST(ModuleWriter, EmptyProgramHasHeaderPredefinedTypesAndMainProcedure) {
  auto r = CompileScript("begin end.");
  ASSERT_TRUE(r.ok) << r.Messages();
  auto m = test::ReadModuleBytes(r.module);
  EXPECT_EQ(m.magic, 0x53504649u);
  EXPECT_EQ(r.module.substr(0, 4), "IFPS");
  EXPECT_EQ(m.version, 23u);
  EXPECT_EQ(m.mainProc, 0u);
  EXPECT_EQ(m.reserved, 0u);
  ASSERT_GE(m.types.size(), 20u);
  EXPECT_EQ(m.types[0].code, btU8);  // Byte
  EXPECT_EQ(m.types[1].code, btU8);  // Boolean, an enumeration of two
  EXPECT_EQ(m.types[1].exportName, "BOOLEAN");
  EXPECT_EQ(m.types[2].code, btU32);  // LongBool
  EXPECT_EQ(m.types[3].code, btU16);  // WordBool
  EXPECT_EQ(m.types[4].code, btU8);   // ByteBool
  int variantArray = FirstOfCode(m, btArray);
  ASSERT_GE(variantArray, 0);
  EXPECT_EQ(m.types[m.types[variantArray].fields[0]].code, btVariant);
  ASSERT_EQ(m.procs.size(), 1u);
  EXPECT_EQ(m.procs[0].flags, PSProcExported);
  EXPECT_EQ(m.procs[0].name, "!MAIN");
  EXPECT_EQ(m.procs[0].decl, "-1");
  EXPECT_EQ(m.procs[0].code, std::string(1, static_cast<char>(OpReturn)));
  EXPECT_EQ(m.procs[0].offset + m.procs[0].length, r.module.size());
}

TEST(ModuleWriter, TypesVariablesConstantsAndForwardProceduresAreWritten) {
  const char* script =
      "type\n"
      "  TColor = (cRed, cGreen, cBlue);\n"
      "  TPoint = record X, Y: Integer; Tag: TColor; end;\n"
      "  TNumbers = array [1..3] of Byte;\n"
      "  TColors = set of TColor;\n"
      "  TProc = procedure(a: Integer; var b: String);\n"
      "  TUnused = record Z: Double; end;\n"
      "const Limit = 10;\n"
      "var Counter: Integer; Origin: TPoint; Numbers: TNumbers; Colors: TColors; Callback: TProc;\n"
      "procedure Later(a: Integer; var s: String); forward;\n"
      "function Twice(x: Integer): Int64;\n"
      "var tmp: Byte;\n"
      "begin end;\n"
      "procedure Later(a: Integer; var s: String); begin end;\n"
      "begin\n"
      "end.";
  auto r = CompileScript(script, [](TPSPascalCompiler& c) {
    c.AddUsedPtrVariableN("Host", "String")->FExportName = true;
    TPSCompileTimeClass* cls = c.AddClassN(nullptr, "TObject");
    c.AddUsedVariableN("Obj", "TObject");
    (void)cls;
  });
  ASSERT_TRUE(r.ok) << r.Messages();
  auto m = test::ReadModuleBytes(r.module);

  int longInt = FirstOfCode(m, btS32), int64 = FirstOfCode(m, btS64), byte = 0;
  // Predefined types are numbered in their declaration order; String is the eleventh.
  int unicode = 10, pointer = FirstOfCode(m, btPointer);
  EXPECT_EQ(m.types[unicode].code, btUnicodeString);
  int point = IndexOfExported(m, "TPOINT"), numbers = IndexOfExported(m, "TNUMBERS");
  int colors = IndexOfExported(m, "TCOLORS"), proc = IndexOfExported(m, "TPROC"), color = IndexOfExported(m, "TCOLOR");
  ASSERT_GE(point, 0);
  ASSERT_GE(color, 0);
  EXPECT_EQ(m.types[color].code, btU8);
  EXPECT_EQ(m.types[point].code, btRecord);
  EXPECT_EQ(m.types[point].fields, (std::vector<uint32_t>{uint32_t(longInt), uint32_t(longInt), uint32_t(color)}));
  EXPECT_EQ(m.types[numbers].code, btStaticArray);
  EXPECT_EQ(m.types[numbers].fields[0], uint32_t(byte));
  EXPECT_EQ(m.types[numbers].count, 3u);
  EXPECT_EQ(m.types[numbers].start, 1);
  EXPECT_EQ(m.types[colors].code, btSet);
  EXPECT_EQ(m.types[colors].count, 3u);
  EXPECT_EQ(m.types[proc].code, btProcPtr);
  EXPECT_EQ(m.types[proc].info, std::string("\0\0\1", 3));
  EXPECT_EQ(IndexOfExported(m, "TUNUSED"), -1) << "unused types are not written";
  int object = IndexOfExported(m, "TOBJECT");
  ASSERT_GE(object, 0);
  EXPECT_EQ(m.types[object].code, btClass);
  EXPECT_EQ(m.types[object].info, "TOBJECT");
  int dispatch = IndexOfExported(m, "IDISPATCH");
  ASSERT_GE(dispatch, 0);
  EXPECT_EQ(m.types[dispatch].info,
            std::string("\x00\x04\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16));

  ASSERT_EQ(m.procs.size(), 3u);
  EXPECT_EQ(m.procs[1].name, "LATER");
  EXPECT_EQ(m.procs[1].decl, "-1 @" + std::to_string(longInt) + " !" + std::to_string(unicode));
  EXPECT_EQ(m.procs[2].name, "TWICE");
  EXPECT_EQ(m.procs[2].decl, std::to_string(int64) + " @" + std::to_string(longInt));
  EXPECT_EQ(m.procs[0].code, std::string(1, static_cast<char>(OpReturn)));
  EXPECT_EQ(m.procs[1].code, std::string(1, static_cast<char>(OpReturn)));
  // Twice's local tmp (a Byte, type 0) is pushed before the body.
  EXPECT_EQ(m.procs[2].code, std::string("\x0B\0\0\0\0\x09", 6));
  EXPECT_LT(m.procs[1].offset, m.procs[2].offset) << "code in table order";

  ASSERT_EQ(m.vars.size(), 7u);
  EXPECT_EQ(m.vars[0].type, uint32_t(pointer)) << "a host pointer variable is written as a pointer";
  EXPECT_TRUE(m.vars[0].exported);
  EXPECT_EQ(m.vars[0].name, "HOST");
  EXPECT_EQ(m.vars[1].type, uint32_t(object));
  EXPECT_FALSE(m.vars[1].exported);
  EXPECT_EQ(m.vars[2].type, uint32_t(longInt));
  EXPECT_EQ(m.vars[3].type, uint32_t(point));

  auto d = test::ReadDebug(r.debug);
  EXPECT_EQ(d.procNames, (std::vector<std::string>{"", "Later", "Twice"}));
  EXPECT_EQ(d.varNames,
            (std::vector<std::string>{"Host", "Obj", "Counter", "Origin", "Numbers", "Colors", "Callback"}));
  ASSERT_EQ(d.params.size(), 2u);
  EXPECT_EQ(d.params[0].first, 2u);
  EXPECT_EQ(d.params[0].second, (std::vector<std::string>{"Result", "x"}));
  EXPECT_EQ(d.params[1].second, (std::vector<std::string>{"a", "s"}));
  EXPECT_EQ(d.locals[0].second, (std::vector<std::string>{"tmp"}));
  ASSERT_EQ(d.positions.size(), 3u);
  EXPECT_EQ(d.positions[2].proc, 0u);
  EXPECT_EQ(d.positions[2].row, 16u);
  EXPECT_EQ(d.positions[2].col, 1u);
  EXPECT_EQ(d.positions[2].codePos, 0u);
  EXPECT_EQ(d.positions[0].proc, 2u);
  EXPECT_EQ(d.positions[0].row, 13u);
  EXPECT_EQ(d.positions[0].codePos, 5u) << "the final return follows the local's push";
  EXPECT_EQ(d.tags.back(), DebugVarNames);
  EXPECT_EQ(d.tags[d.tags.size() - 2], DebugProcNames);
}

TEST(ModuleWriter, UsedRegisteredRoutinesAndMemberImportsBecomeExternalEntries) {
  auto r = CompileScript("begin end.", [](TPSPascalCompiler& c) {
    TPSRegProc* f = c.AddNativeFunction("function Twice(x: Integer; var y: Byte): Integer;");
    c.UseRegProc(f);
    TPSCompileTimeClass* cls = c.AddClassN(nullptr, "TList");
    cls->RegisterMethod("procedure Clear");
    cls->Func_Call(cls->Func_Find("Clear"));
  });
  ASSERT_TRUE(r.ok) << r.Messages();
  auto m = test::ReadModuleBytes(r.module);
  ASSERT_EQ(m.procs.size(), 3u);
  EXPECT_EQ(m.procs[1].flags, PSProcExternal | PSProcExported);
  EXPECT_EQ(m.procs[1].name, "TWICE");
  EXPECT_EQ(m.procs[1].decl, std::string("\1\0\1", 3));
  EXPECT_EQ(m.procs[2].name, "");
  EXPECT_EQ(m.procs[2].decl, std::string("class:TLIST|CLEAR|\0\0", 20));
  auto d = test::ReadDebug(r.debug);
  EXPECT_EQ(d.procNames, (std::vector<std::string>{"", "Twice", ""}));
}

TEST(ModuleWriter, AttributesAreWrittenForTypesAndProcedures) {
  auto r = CompileScript(
      "type [Info(5, 'ab')] TThing = record A: Byte; end;\n[Info(6, 'c')] procedure P; begin end;\n"
      "var T: TThing;\nbegin end.",
      [](TPSPascalCompiler& c) {
        auto* info = c.AddAttributeType();
        info->SetName("Info");
        info->AddField("Level", c.FindType("Word"));
        info->AddField("Text", c.FindType("AnsiString"));
      });
  ASSERT_TRUE(r.ok) << r.Messages();
  auto m = test::ReadModuleBytes(r.module);
  int thing = IndexOfExported(m, "TTHING");
  ASSERT_GE(thing, 0);
  ASSERT_EQ(m.types[thing].attributes.size(), 1u);
  auto& a = m.types[thing].attributes[0];
  EXPECT_EQ(a.name, "INFO");
  ASSERT_EQ(a.values.size(), 2u);
  EXPECT_EQ(a.values[0].second, std::string("\5\0", 2));
  EXPECT_EQ(a.values[1].second, "ab");
  EXPECT_LT(a.values[0].first, uint32_t(thing));
  ASSERT_EQ(m.procs.size(), 2u);
  EXPECT_EQ(m.procs[1].flags, PSProcExported | PSProcAttributes);
  ASSERT_EQ(m.procs[1].attributes.size(), 1u);
  EXPECT_EQ(m.procs[1].attributes[0].values[1].second, "c");
}

TEST(ModuleWriter, AFailedCompileLeavesNoOutput) {
  TPSPascalCompiler c;
  EXPECT_TRUE(CompileScript("begin end.", {}, &c).ok);
  auto r = CompileScript("begin", {}, &c);
  EXPECT_FALSE(r.ok);
  EXPECT_TRUE(r.module.empty());
  EXPECT_TRUE(r.debug.empty());
}

}  // namespace
}  // namespace ps
