// Loading modules: every check of the loader and its error code.
#include <gtest/gtest.h>

#include "engine/uPSRuntime.h"
#include "tests/engine/runtime/ModuleBuilder.h"

using namespace ps;
using namespace ps::test;

namespace {

std::string Header(uint32_t version, uint32_t types = 0, uint32_t procs = 0, uint32_t vars = 0,
                   uint32_t main = PSNoMainProc) {
  using B = TModuleBuilder;
  return B::U32s(PSValidHeader) + B::U32s(version) + B::U32s(types) + B::U32s(procs) + B::U32s(vars) + B::U32s(main) +
         B::U32s(0);
}

TPSError LoadError(const std::string& module) {
  TPSExec exec;
  EXPECT_FALSE(exec.LoadData(module));
  EXPECT_EQ(exec.Status(), isNotLoaded);
  return exec.ExceptionCode();
}

}  // namespace

TEST(Loader, EmptyModuleOf28BytesLoadsAndRunsDoingNothing) {
  std::string module = Header(23);
  ASSERT_EQ(module.size(), 28u);
  TPSExec exec;
  ASSERT_TRUE(exec.LoadData(module));
  EXPECT_EQ(exec.Status(), isLoaded);
  EXPECT_FALSE(exec.RunScript());  // no main procedure: nothing runs
  EXPECT_EQ(exec.ExceptionCode(), ErNoError);
  EXPECT_EQ(exec.Status(), isLoaded);
}

TEST(Loader, HeaderChecksReportInvalidHeader) {
  EXPECT_EQ(LoadError(Header(11)), erInvalidHeader);
  EXPECT_EQ(LoadError(Header(24)), erInvalidHeader);
  EXPECT_EQ(LoadError(Header(23).substr(0, 27)), erInvalidHeader);
  std::string badMagic = Header(23);
  badMagic[0] = 'X';
  EXPECT_EQ(LoadError(badMagic), erInvalidHeader);
  TPSExec exec;
  EXPECT_TRUE(exec.LoadData(Header(12)));
  EXPECT_EQ(TPSErrorToString(erInvalidHeader, {}), u"Invalid Header");
}

TEST(Loader, TypeTableChecks) {
  struct Case {
    const char* name;
    std::string entry;
    TPSError expected;
  };
  using B = TModuleBuilder;
  // Entries after one plain U8 type (index 0); version 23 entries end with an attribute count.
  const std::string noAttrs = B::U32s(0);
  std::vector<Case> cases = {
      {"invalid code 0", std::string(1, '\0') + noAttrs, erInvalidType},
      {"invalid code 15", std::string(1, '\x0f') + noAttrs, erInvalidType},
      {"invalid code 27", std::string(1, '\x1b') + noAttrs, erInvalidType},
      {"invalid code 29", std::string(1, '\x1d') + noAttrs, erInvalidType},
      {"record without fields", std::string(1, char(btRecord)) + B::U32s(0) + noAttrs, erUnexpectedEof},
      {"record field out of range", std::string(1, char(btRecord)) + B::U32s(1) + B::U32s(1) + noAttrs, ErOutOfRange},
      {"record truncated", std::string(1, char(btRecord)) + B::U32s(2) + B::U32s(0), erUnexpectedEof},
      {"array element out of range", std::string(1, char(btArray)) + B::U32s(5) + noAttrs, ErTypeMismatch},
      {"static array element out of range",
       std::string(1, char(btStaticArray)) + B::U32s(1) + B::U32s(3) + B::U32s(0) + noAttrs, ErTypeMismatch},
      {"static array too long",
       std::string(1, char(btStaticArray)) + B::U32s(0) + B::U32s(0x20000000) + B::U32s(0) + noAttrs, erUnexpectedEof},
      {"set of 257 bits", std::string(1, char(btSet)) + B::U32s(257) + noAttrs, ErTypeMismatch},
      {"procedure pointer info of 256 bytes", std::string(1, char(btProcPtr)) + B::U32s(256) + std::string(256, '\0'),
       erUnexpectedEof},
      {"class name of 256 bytes", std::string(1, char(btClass)) + B::U32s(256) + std::string(256, 'A'),
       erUnexpectedEof},
      {"export name too long", std::string(1, char(btU8 | 0x80)) + B::U32s(0x40000001), erInvalidType},
      {"export name missing", std::string(1, char(btU8 | 0x80)) + B::U32s(10) + "ABC", erUnexpectedEof},
      {"attribute count missing", std::string(1, char(btU8)), ErOutOfRange},
      {"attribute value type out of range",
       std::string(1, char(btU8)) + B::U32s(1) + B::U32s(1) + "A" + B::U32s(1) + B::U32s(9), ErOutOfRange},
      {"attribute value of the type being defined",
       std::string(1, char(btS32)) + B::U32s(1) + B::U32s(1) + "A" + B::U32s(1) + B::U32s(1), ErOutOfRange},
  };
  for (const auto& c : cases) {
    std::string module = Header(23, 2) + std::string(1, char(btU8)) + noAttrs + c.entry;
    EXPECT_EQ(LoadError(module), c.expected) << c.name;
  }
  // A value whose type has no attribute encoding (a variant).
  std::string module = Header(23, 2) + std::string(1, char(btVariant)) + noAttrs + std::string(1, char(btU8)) +
                       B::U32s(1) + B::U32s(1) + "A" + B::U32s(1) + B::U32s(0);
  EXPECT_EQ(LoadError(module), erInvalidType);
}

TEST(Loader, SetSizesAndEmptyExportNames) {
  TModuleBuilder b;
  uint32_t s256 = b.Set(256), s9 = b.Set(9), s8 = b.Set(8);
  std::string empty;
  uint32_t named = b.Type(btU8, {}, &empty);
  TPSExec exec;
  ASSERT_TRUE(exec.LoadData(b.Build()));
  EXPECT_EQ(exec.GetTypeNo(s256)->RealSize(), 32u);
  EXPECT_EQ(exec.GetTypeNo(s9)->RealSize(), 2u);
  EXPECT_EQ(exec.GetTypeNo(s8)->RealSize(), 1u);
  EXPECT_EQ(exec.GetTypeNo(named)->ExportName(), "");
}

TEST(Loader, RecordFieldsArePackedAndSizesComputed) {
  TModuleBuilder b;
  uint32_t u8 = b.Type(btU8), s32 = b.Type(btS32), ext = b.Type(btExtended), str = b.Type(btUnicodeString);
  uint32_t rec = b.Record({u8, s32, ext, str});
  uint32_t arr = b.StaticArray(rec, 3, 5);
  uint32_t nested = b.Record({arr, u8});
  TPSExec exec;
  ASSERT_TRUE(exec.LoadData(b.Build()));
  auto* r = static_cast<TPSTypeRec_Record*>(exec.GetTypeNo(rec));
  EXPECT_EQ(r->FRealFieldOffsets, (std::vector<uint32_t>{0, 1, 5, 15}));
  EXPECT_EQ(r->RealSize(), 15u + sizeof(void*));
  EXPECT_TRUE(r->FManaged);
  EXPECT_EQ(exec.GetTypeNo(arr)->RealSize(), 3 * r->RealSize());
  EXPECT_EQ(static_cast<TPSTypeRec_StaticArray*>(exec.GetTypeNo(arr))->FStartOffset, 5);
  EXPECT_EQ(exec.GetTypeNo(nested)->RealSize(), 3 * r->RealSize() + 1);
}

TEST(Loader, ProcedureTableChecks) {
  using B = TModuleBuilder;
  std::string h = Header(23, 0, 1);
  // Offsets are absolute; the module is 28 header bytes plus the entry.
  EXPECT_EQ(LoadError(h + std::string(1, '\0') + B::U32s(0) + B::U32s(0)), erUnexpectedEof) << "empty code";
  EXPECT_EQ(LoadError(h + std::string(1, '\0') + B::U32s(100) + B::U32s(1)), erUnexpectedEof) << "offset";
  EXPECT_EQ(LoadError(h + std::string(1, '\0') + B::U32s(0) + B::U32s(100)), erUnexpectedEof) << "length";
  EXPECT_EQ(LoadError(h + std::string(1, '\0') + B::U32s(0)), erUnexpectedEof) << "truncated";
  EXPECT_EQ(LoadError(h + std::string(1, '\x02') + B::U32s(0) + B::U32s(1) + B::U32s(5)), erUnexpectedEof)
      << "export name truncated";
  EXPECT_EQ(LoadError(h + std::string(1, '\x03') + std::string(1, '\0') + B::U32s(500)), erUnexpectedEof)
      << "external declaration longer than the module";
  // A valid internal procedure with code at offset 0 (the header bytes) loads.
  TPSExec exec;
  EXPECT_TRUE(exec.LoadData(h + std::string(1, '\0') + B::U32s(0) + B::U32s(1)));
}

TEST(Loader, ExternalProceduresBindByNameOrFailWithTheName) {
  TModuleBuilder b;
  b.External("HOSTFN");
  TPSExec exec;
  EXPECT_FALSE(exec.LoadData(b.Build()));
  EXPECT_EQ(exec.ExceptionCode(), erCannotImport);
  EXPECT_EQ(exec.ExceptionString(), u"HOSTFN");
  EXPECT_EQ(TPSErrorToString(exec.ExceptionCode(), exec.ExceptionString()), u"Cannot Import HOSTFN");

  exec.RegisterFunctionName(
      "hostfn", [](TPSExec*, TPSExternalProcRec*, TPSStack*, TPSStack*) { return true; }, nullptr, nullptr);
  EXPECT_TRUE(exec.LoadData(b.Build()));

  TModuleBuilder c;
  c.External("", "class:TFoo|Bar");
  EXPECT_FALSE(exec.LoadData(c.Build()));
  EXPECT_EQ(exec.ExceptionString(), u"class:TFoo|Bar");
  static int tagSeen = 0;
  static int sevenTag = 7;
  exec.AddSpecialProcImport(
      "CLASS",
      [](TPSExec*, TPSExternalProcRec* p, void* tag) {
        tagSeen = *static_cast<int*>(tag);
        return p->FDecl == "class:TFoo|Bar";
      },
      &sevenTag);
  EXPECT_TRUE(exec.LoadData(c.Build()));
  EXPECT_EQ(tagSeen, 7);
}

TEST(Loader, VariableTableChecks) {
  using B = TModuleBuilder;
  std::string typeU8 = std::string(1, char(btU8)) + B::U32s(0);
  EXPECT_EQ(LoadError(Header(23, 1, 0, 1) + typeU8 + B::U32s(1) + std::string(1, '\0')), erInvalidType);
  EXPECT_EQ(LoadError(Header(23, 1, 0, 1) + typeU8 + B::U32s(0)), erUnexpectedEof);
  EXPECT_EQ(LoadError(Header(23, 1, 0, 1) + typeU8 + B::U32s(0) + "\x01" + B::U32s(5) + "AB"), erUnexpectedEof);
  EXPECT_EQ(LoadError(Header(23, 0, 0, 0, 0)), erNoMainProc);
}

TEST(Loader, GetVarFindsTheNamedVariableAfterUnexportedOnes) {
  TModuleBuilder b;
  uint32_t s32 = b.Type(btS32);
  uint32_t cls = b.Class("TOBJECT");
  b.Var(s32);
  b.Var(s32);
  uint32_t doc = b.Var(cls, "DOCUMENT");
  b.Var(s32, "COUNT");
  TPSExec exec;
  ASSERT_TRUE(exec.LoadData(b.Build()));
  EXPECT_EQ(exec.GetVar("document"), static_cast<int>(doc));
  EXPECT_EQ(exec.GetVar("Count"), 3);
  EXPECT_EQ(exec.GetVar("missing"), -1);
  int object = 0;
  EXPECT_TRUE(exec.SetVarToInstance("Document", &object));
  void* stored;
  std::memcpy(&stored, exec.GetVar2("DOCUMENT"), sizeof stored);
  EXPECT_EQ(stored, &object);
  EXPECT_FALSE(exec.SetVarToInstance("NOPE", &object));
}

TEST(Loader, LoadingASecondModuleDiscardsTheFirstAndFreesResources) {
  TModuleBuilder b;
  b.Type(btS32);
  b.Var(0, "X");
  TPSExec exec;
  ASSERT_TRUE(exec.LoadData(b.Build()));
  static int freed = 0;
  static int three = 3;
  exec.AddResource([](TPSExec*, void* p) { freed += *static_cast<int*>(p); }, &three);
  ASSERT_TRUE(exec.LoadData(TModuleBuilder().Build()));
  EXPECT_EQ(freed, 3);
  EXPECT_EQ(exec.GetVarCount(), 0);
  EXPECT_EQ(exec.GetVar("X"), -1);
}

TEST(Loader, AttributesAreReadAndOfferedToRegisteredTypes) {
  using B = TModuleBuilder;
  // Types 0 and 1: U8 and S32; type 2 carries attribute "MYATTR" with values (U8 5, S32 -2).
  std::string module = Header(23, 3) + std::string(1, char(btU8)) + B::U32s(0) + std::string(1, char(btS32)) +
                       B::U32s(0) + std::string(1, char(btString)) + B::U32s(1) + B::U32s(6) + "MYATTR" + B::U32s(2) +
                       B::U32s(0) + "\x05" + B::U32s(1) + B::U32s(static_cast<uint32_t>(-2));
  TPSExec exec;
  ASSERT_TRUE(exec.LoadData(module));
  TPSRuntimeAttribute* a = exec.GetTypeNo(2)->Attributes().FindAttribute("myattr");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->ValueCount(), 2);
  EXPECT_EQ(a->Values().GetInt(0), 5);
  EXPECT_EQ(a->Values().GetInt(1), -2);
  EXPECT_THROW(a->DeleteValue(0), rtl::Exception);

  exec.RegisterAttributeType(
      [](TPSExec* e, const std::string&, TPSRuntimeAttribute*) {
        e->CMD_Err2(erCustomError, u"attribute refused");
        return false;
      },
      "MyAttr");
  EXPECT_FALSE(exec.LoadData(module));
  EXPECT_EQ(exec.ExceptionCode(), erCustomError);
  EXPECT_EQ(exec.ExceptionString(), u"attribute refused");
}

TEST(Loader, DeeplyNestedTypesAreRefused) {
  TModuleBuilder b;
  uint32_t t = b.Type(btU8);
  for (int i = 0; i < 100; ++i) t = b.Record({t});
  TPSExec exec;
  EXPECT_FALSE(exec.LoadData(b.Build()));
  EXPECT_EQ(exec.ExceptionCode(), erInvalidType);
}
