// The run-time bindings of the standard imports reach the rtl classes and
// the date library.
#include <cstdio>
#include <filesystem>

#include "engine/imports/uPSR_classes.h"
#include "engine/imports/uPSR_dateutils.h"
#include "engine/imports/uPSR_std.h"
#include "rtl/Streams.h"
#include "rtl/StringList.h"
#include "tests/engine/imports/ImportTexts.h"
#include "tests/engine/runtime/TestSupport.h"

using namespace ps;
using namespace ps::test;

namespace {

struct TStdRuntime {
  TPSRuntimeClassImporter RI;
  TPSExec Exec;
  explicit TStdRuntime(bool streams = true) {
    RIRegister_Std(RI);
    RIRegister_Classes(RI, streams);
    RegisterClassLibraryRuntime(Exec, RI);
    RegisterDateTimeLibrary_R(Exec);
  }
  std::string Text() const {
    return rtl::UnicodeToUtf8(TPSErrorToString(Exec.ExceptionCode(), Exec.ExceptionString()));
  }
};

}  // namespace

TEST(StandardImports, EveryDeclaredMemberHasARuntimeBinding) {
  // Each method and property the compile side declares must bind at load,
  // or a script using it would fail with "Cannot Import".
  std::vector<std::string> imports = StandardClassImportTexts();
  ASSERT_GT(imports.size(), 100u);
  for (const auto& decl : imports) {
    TModuleBuilder b;
    b.Type(btS32);
    TCode c;
    c.Ret();
    b.Main(c);
    b.External("", decl);
    TStdRuntime rt;
    EXPECT_TRUE(rt.Exec.LoadData(b.Build())) << rt.Text();
  }
}

namespace {

// Globals: 0 list, 1 Integer, 2 String, 3 Boolean, 4 stream.
struct TListModule {
  TModuleBuilder B;
  uint32_t List, S32, U32, Str, Bool, Stream, Ansi;
  std::vector<std::string> Imports;
  TCode C;
  TListModule() {
    List = B.Named(btClass, "TSTRINGLIST", TModuleBuilder::U32s(11) + "TSTRINGLIST");
    S32 = B.Type(btS32);
    U32 = B.Type(btU32);
    Str = B.Type(btUnicodeString);
    Bool = B.Named(btU8, "BOOLEAN");
    Stream = B.Named(btClass, "TMEMORYSTREAM", TModuleBuilder::U32s(13) + "TMEMORYSTREAM");
    Ansi = B.Type(btString);
    B.Type(btPointer);
    for (uint32_t t : {List, S32, Str, Bool, Stream, Str}) B.Var(t);
  }
  uint32_t Import(const std::string& decl) {
    Imports.push_back(decl);
    return static_cast<uint32_t>(Imports.size());  // procedure 0 is the main procedure
  }
  void Build() {
    C.Ret();
    B.Main(C);
    for (const auto& i : Imports) B.External("", i);
  }
};

}  // namespace

TEST(StandardImports, StringListThroughItsBindings) {
  TListModule m;
  uint32_t create = m.Import(MethodImport("TSTRINGLIST", "CREATE", true));
  uint32_t add = m.Import(MethodImport("TSTRINGS", "ADD", true, {0}));
  uint32_t setComma = m.Import(PropertyImport("TSTRINGS", "COMMATEXT", 0, true));
  uint32_t getComma = m.Import(PropertyImport("TSTRINGS", "COMMATEXT", 0, false));
  uint32_t getValue = m.Import(PropertyImport("TSTRINGS", "VALUES", 1, false));
  uint32_t find = m.Import(MethodImport("TSTRINGLIST", "FIND", true, {0, 1}));
  uint32_t sort = m.Import(MethodImport("TSTRINGLIST", "SORT", false));
  uint32_t setObject = m.Import(PropertyImport("TSTRINGS", "OBJECTS", 1, true));
  uint32_t getObject = m.Import(PropertyImport("TSTRINGS", "OBJECTS", 1, false));
  auto& c = m.C;
  c.Push().Const<uint32_t>(m.U32, m.List).PushVarRef().Var(G(0)).Call(create).Pop().Pop();
  for (const char16_t* item : {u"b=2", u"a x=\"1\"", u""})
    c.Push().ConstWide(m.Str, item).Push().Var(G(0)).PushVarRef().Var(G(1)).Call(add).Pop().Pop().Pop();
  c.Push().Var(G(0)).PushVarRef().Var(G(2)).Call(getComma).Pop().Pop();  // G2 := CommaText
  c.Push().ConstWide(m.Str, u"B").Push().Var(G(0)).PushVarRef().Var(G(5)).Call(getValue).Pop().Pop().Pop();
  c.Push().Var(G(0)).Call(sort).Pop();
  c.PushVarRef().Var(G(1)).Push().ConstWide(m.Str, u"B=2").Push().Var(G(0)).PushVarRef().Var(G(3)).Call(find);
  c.Pop().Pop().Pop().Pop();
  // Objects[0] := TObject(77); G1 := Integer(Objects[0]) through a class local
  c.PushType(m.List);  // local 1: an object reference
  c.Assign().Var(L(1)).Const<int32_t>(m.S32, 77);
  c.Push().Var(L(1)).Push().Const<int32_t>(m.S32, 0).Push().Var(G(0)).Call(setObject).Pop().Pop().Pop();
  c.Assign().Var(L(1)).Const<int32_t>(m.S32, 0);
  c.Push().Const<int32_t>(m.S32, 0).Push().Var(G(0)).PushVarRef().Var(L(1)).Call(getObject).Pop().Pop().Pop();
  c.Assign().Var(G(1)).Var(L(1));
  c.Pop();
  c.Push().ConstWide(m.Str, u"x,\"y z\"").Push().Var(G(0)).Call(setComma).Pop().Pop();
  m.Build();
  TStdRuntime rt;
  ASSERT_TRUE(rt.Exec.LoadData(m.B.Build())) << rt.Text();
  ASSERT_TRUE(rt.Exec.RunScript()) << rt.Text();
  auto& g = rt.Exec.GlobalVars();
  EXPECT_EQ(g.GetUnicodeString(2), u"b=2,\"a x=\"\"1\"\"\",");
  EXPECT_EQ(g.GetUnicodeString(5), u"2");
  EXPECT_EQ(g.GetUInt(3), 1u);
  EXPECT_EQ(g.GetInt(1), 77) << "a number stored in Objects[] comes back unchanged";
  auto* list = static_cast<rtl::TStringList*>(g.GetClass(0));
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->Count(), 2);
  EXPECT_EQ(list->Get(1), u"y z");
  delete list;
}

TEST(StandardImports, StreamBuffersAreLimitedToTheStringAndSharedStringsStayUnchanged) {
  TListModule m;
  uint32_t create = m.Import(MethodImport("TMEMORYSTREAM", "CREATE", true));
  uint32_t write = m.Import(MethodImport("TSTREAM", "WRITE", true, {0, 0}));
  uint32_t seek = m.Import(MethodImport("TSTREAM", "SEEK", true, {0, 0}));
  uint32_t read = m.Import(MethodImport("TSTREAM", "READ", true, {0, 0}));
  uint32_t readBuffer = m.Import(MethodImport("TSTREAM", "READBUFFER", false, {0, 0}));
  auto& c = m.C;
  c.Push().Const<uint32_t>(m.U32, m.Stream).PushVarRef().Var(G(4)).Call(create).Pop().Pop();
  // G1 := S.Write('abc', 1000): only the three characters are written.
  c.Assign().Var(G(2)).ConstWide(m.Str, u"abc");
  c.Push().Const<int32_t>(m.S32, 1000).Push().Var(G(2)).Push().Var(G(4)).PushVarRef().Var(G(1)).Call(write);
  c.Pop().Pop().Pop().Pop();
  c.Push().Const<uint16_t>(m.B.Type(btU16), 0).Push().Const<int32_t>(m.S32, 0).Push().Var(G(4)).PushVarRef().Var(G(3));
  c.Call(seek).Pop().Pop().Pop().Pop();
  // G5 := 'xy'; G2 := G5 (shared); S.Read(G2, 50) must leave G5 alone.
  c.Assign().Var(G(5)).ConstWide(m.Str, u"xy");
  c.Assign().Var(G(2)).Var(G(5));
  c.PushType(m.S32);  // local 1: result
  c.Push().Const<int32_t>(m.S32, 50).Push().Var(G(2)).Push().Var(G(4)).PushVarRef().Var(L(1)).Call(read);
  c.Pop().Pop().Pop().Pop();
  c.Pop();
  // A private buffer is filled in place: G2 := 'zzz' made unique, then read 3 more bytes (only 1 left).
  c.Push().Const<int32_t>(m.S32, 3).Push().Var(G(2)).Push().Var(G(4)).Call(readBuffer).Pop().Pop().Pop();
  m.Build();
  TStdRuntime rt;
  ASSERT_TRUE(rt.Exec.LoadData(m.B.Build())) << rt.Text();
  EXPECT_FALSE(rt.Exec.RunScript());
  EXPECT_EQ(rt.Exec.ExceptionString(), u"Stream read error") << rt.Text();
  auto& g = rt.Exec.GlobalVars();
  EXPECT_EQ(g.GetInt(1), 3);
  EXPECT_EQ(g.GetUnicodeString(5), u"xy");
  auto* stream = static_cast<rtl::TMemoryStream*>(g.GetClass(4));
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(stream->Size(), 3);
  delete stream;
}

TEST(StandardImports, DatesThroughTheDateLibrary) {
  TModuleBuilder b;
  uint32_t word = b.Type(btU16), dbl = b.Type(btDouble), s64 = b.Type(btS64);
  b.Type(btPointer);
  for (uint32_t t : {dbl, s64, word}) b.Var(t);
  TCode c;
  c.Push().Const<uint16_t>(word, 1).Push().Const<uint16_t>(word, 1).Push().Const<uint16_t>(word, 1970);
  c.PushVarRef().Var(G(0)).Call(1).Pop().Pop().Pop().Pop();
  c.Push().Var(G(0)).PushVarRef().Var(G(1)).Call(2).Pop().Pop();
  c.Push().Var(G(0)).PushVarRef().Var(G(2)).Call(3).Pop().Pop();
  c.Push().Const<uint16_t>(word, 30).Push().Const<uint16_t>(word, 2).Push().Const<uint16_t>(word, 2023);
  c.PushVarRef().Var(G(0)).Call(1).Pop().Pop().Pop().Pop();
  c.Ret();
  b.Main(c);
  b.External("ENCODEDATE");
  b.External("DATETIMETOUNIX");
  b.External("DAYOFWEEK");
  TStdRuntime rt;
  ASSERT_TRUE(rt.Exec.LoadData(b.Build())) << rt.Text();
  EXPECT_FALSE(rt.Exec.RunScript());
  EXPECT_EQ(rt.Exec.ExceptionString(), u"Invalid argument to date encode");
  EXPECT_EQ(rt.Exec.GlobalVars().GetInt64(1), 0);
  EXPECT_EQ(rt.Exec.GlobalVars().GetInt(2), 5);
}
