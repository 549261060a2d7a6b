// What golden scripts cannot show: the debug records written with the code,
// the module's pointer type, and member access on host classes, interfaces
// and variants compiling into the right imports.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/compiler/CompilerTestSupport.h"
#include "engine/compiler/ModuleReader.h"

namespace ps::test {
namespace {

bool HasImport(const ReadModule& m, const std::string& text) {
  return std::any_of(m.procs.begin(), m.procs.end(), [&](const ReadProc& p) {
    return (p.flags & 1) && (p.name == text || p.decl.rfind(text, 0) == 0);
  });
}

TEST(DebugRecords, PositionsAtStatementStartsUntilAndReturn) {
  auto r = CompileScript(
      "var i: Integer;\n"   // 1
      "begin\n"             // 2
      "  i := 1;\n"         // 3
      "  repeat\n"          // 4
      "    i := i + 1\n"    // 5
      "  until i > 3;\n"    // 6
      "  while i > 0 do\n"  // 7
      "    i := i - 1;\n"   // 8
      "end.\n");            // 9
  ASSERT_TRUE(r.ok) << r.Messages();
  DebugRecords d = ReadDebug(r.debug);
  std::vector<uint32_t> rows;
  uint32_t last = 0;
  for (auto& p : d.positions) {
    EXPECT_EQ(p.proc, 0u);
    EXPECT_GE(p.codePos, last) << "positions increase";
    last = p.codePos;
    rows.push_back(p.row);
  }
  // Statements, the until, the while's backward jump (at the token after its
  // body) and the final return.
  EXPECT_EQ(rows, (std::vector<uint32_t>{3, 4, 5, 6, 7, 8, 8, 9}));
  EXPECT_EQ(d.positions.front().col, 3u);
  ASSERT_GE(d.tags.size(), 2u);
  EXPECT_EQ(d.tags[d.tags.size() - 2], 0) << "procedure names come last, then the variable names";
  EXPECT_EQ(d.tags.back(), 1);
}

TEST(DebugRecords, ParameterAndLocalNamesOfEachProcedure) {
  auto r = CompileScript(
      "function Twice(X: Integer; var Y: string): Integer;\n"
      "var Tmp, Other: Integer;\n"
      "begin Tmp := X; Other := Tmp; Result := Other * 2; Y := ''; end;\n"
      "procedure Nothing; begin end;\n"
      "begin end.\n");
  ASSERT_TRUE(r.ok) << r.Messages();
  DebugRecords d = ReadDebug(r.debug);
  ASSERT_EQ(d.params.size(), 2u);
  EXPECT_EQ(d.params[0].first, 1u);
  EXPECT_EQ(d.params[0].second, (std::vector<std::string>{"Result", "X", "Y"}));
  EXPECT_EQ(d.locals[0].second, (std::vector<std::string>{"Tmp", "Other"}));
  EXPECT_TRUE(d.params[1].second.empty());
  EXPECT_EQ(d.procNames, (std::vector<std::string>{"", "Twice", "Nothing"}));
}

TEST(ModuleCode, PointerTypeForVarParametersAndResults) {
  auto r = CompileScript(
      "procedure Inc2(var x: Integer); begin x := x + 2; end;\n"
      "var i: Integer;\nbegin Inc2(i); i := Length('abc'); end.\n");
  ASSERT_TRUE(r.ok) << r.Messages();
  ReadModule m = ReadModuleBytes(r.module);
  EXPECT_TRUE(std::any_of(m.types.begin(), m.types.end(), [](const ReadType& t) { return t.code == btPointer; }));
  ASSERT_GE(m.procs.size(), 2u);
  const std::string& main = m.procs[0].code;
  EXPECT_NE(main.find(static_cast<char>(OpPushVarRef)), std::string::npos);
  EXPECT_EQ(main.back(), static_cast<char>(OpReturn));
}

Registration HostClass() {
  return [](TPSPascalCompiler& c) {
    TPSCompileTimeClass* obj = c.AddClassN(nullptr, "TObject");
    obj->RegisterMethod("constructor Create");
    obj->RegisterMethod("procedure Free");
    TPSCompileTimeClass* list = c.AddClassN(obj, "TList");
    list->RegisterMethod("constructor Create(Size: Integer)");
    list->RegisterMethod("function Add(S: string): Integer");
    list->RegisterMethod("procedure Swap(var A, B: Integer)");
    list->RegisterProperty("Count", "Integer", iptR);
    list->RegisterProperty("Sink", "Integer", iptW);
    list->RegisterProperty("Items", "string Integer", iptRW);
    list->SetDefaultPropery("Items");
    list->RegisterProperty("Names", "string string", iptRW);
  };
}

TEST(MemberAccess, HostClassMembersCompileIntoClassImports) {
  auto r = CompileScript(
      "var L: TList; n, a, b: Integer; s: string;\n"
      "begin\n"
      "  L := TList.Create(3);\n"
      "  n := L.Add('x') + L.Count;\n"
      "  L.Items[0] := 'y';\n"
      "  L[1] := L[0] + L.Items[0];\n"
      "  L.Names['k'] := 'v';\n"
      "  s := L.Names['k'];\n"
      "  L.Sink := 5;\n"
      "  L.Swap(a, b);\n"
      "  L.Free;\n"
      "end.\n",
      HostClass());
  ASSERT_TRUE(r.ok) << r.Messages();
  ReadModule m = ReadModuleBytes(r.module);
  for (const char* text :
       {"class:TLIST|CREATE|", "class:TLIST|ADD|", "class:TLIST|COUNT|", "class:TLIST|ITEMS|", "class:TLIST|ITEMS@|",
        "class:TLIST|NAMES@|", "class:TLIST|SINK@|", "class:TLIST|SWAP|", "class:TOBJECT|FREE|"})
    EXPECT_TRUE(HasImport(m, text)) << text;
}

struct TMemberError {
  const char* Statement;
  const char* Message;
};

TEST(MemberAccess, ErrorsAtTheMember) {
  const TMemberError cases[] = {
      {"n := L.Sink;", "[Error] (3:9): Write-only property"},
      {"L.Count := 1;", "[Error] (3:4): Read-only property"},
      {"L.Nothing;", "[Error] (3:5): Unknown identifier 'Nothing'"},
      {"L := TList.Make;", "[Error] (3:14): Unknown identifier 'Make'"},
      {"n := Integer.Create;", "[Error] (3:15): Class type expected"},
      {"L.Add(1);", "[Error] (3:9): Type mismatch"},
      {"L.Swap(1, n);", "[Error] (3:10): Variable Expected"},
  };
  for (auto& c : cases) {
    auto r = CompileScript(std::string("var L: TList; n: Integer;\nbegin\n  ") + c.Statement + "\nend.\n", HostClass());
    EXPECT_FALSE(r.ok) << c.Statement;
    ASSERT_FALSE(r.messages.empty()) << c.Statement;
    EXPECT_EQ(r.messages.back(), c.Message) << c.Statement;
  }
}

TEST(MemberAccess, VariantMembersCallIDispatchInvoke) {
  auto r = CompileScript(
      "var V, W: Variant;\n"
      "begin\n"
      "  W := V.Workbooks.Open('a.xlsx', 1);\n"
      "  V.Visible := True;\n"
      "  V.Cells[1, 2] := 'x';\n"
      "  V.Quit;\n"
      "end.\n");
  ASSERT_TRUE(r.ok) << r.Messages();
  ReadModule m = ReadModuleBytes(r.module);
  EXPECT_TRUE(HasImport(m, "IDISPATCHINVOKE"));
}

TEST(MemberAccess, InterfaceMethodsCallBySlot) {
  auto r = CompileScript("var U: IUnknown; n: Integer;\nbegin\n  n := U._AddRef;\nend.\n");
  ASSERT_TRUE(r.ok) << r.Messages();
  EXPECT_TRUE(HasImport(ReadModuleBytes(r.module), "intf:.1"));
}

}  // namespace
}  // namespace ps::test

namespace ps::test {
namespace {

TEST(NotificationVariables, ReadsAndWritesCallTheHostAccessors) {
  auto r = CompileScript("var v: Variant;\nbegin\n  Note := 5;\n  v := Note + 1;\nend.\n",
                         [](TPSPascalCompiler& c) { c.AddUsedVariableN("Note", "!NotificationVariant"); });
  ASSERT_TRUE(r.ok) << r.Messages();
  ReadModule m = ReadModuleBytes(r.module);
  EXPECT_TRUE(HasImport(m, "!NOTIFICATIONVARIANTSET"));
  EXPECT_TRUE(HasImport(m, "!NOTIFICATIONVARIANTGET"));
}

}  // namespace
}  // namespace ps::test
