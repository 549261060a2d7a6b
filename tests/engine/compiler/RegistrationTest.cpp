// Host registration: declaration texts, classes and their members, import
// texts, and the failures a host can meet.
#include <gtest/gtest.h>

#include <cstring>

#include "CompilerTestSupport.h"
#include "ModuleReader.h"

namespace ps {
namespace {

using test::CompileScript;

std::string ThrownBy(const std::function<void()>& f) {
  try {
    f();
  } catch (const EPSCompilerException& e) {
    return e.what();
  }
  return "";
}

// Runs `body` inside OnUses of a compile of an empty program.
void DuringCompile(const std::function<void(TPSPascalCompiler&)>& body, std::string_view script = "begin end.") {
  bool ran = false;
  auto r = CompileScript(script, [&](TPSPascalCompiler& c) {
    body(c);
    ran = true;
  });
  EXPECT_TRUE(ran) << r.Messages();
}

TEST(Registration, OutsideACompileCreationFailsAndLookupsFindNothing) {
  TPSPascalCompiler c;
  const std::string only = "This function can only be called from within the OnUses event";
  EXPECT_EQ(ThrownBy([&] { c.AddType("T", btU8); }), only);
  EXPECT_EQ(ThrownBy([&] { c.AddTypeS("T", "Integer"); }), only);
  EXPECT_EQ(ThrownBy([&] { c.AddClassN(nullptr, "TFoo"); }), only);
  EXPECT_EQ(ThrownBy([&] { c.AddConstantN("C", "Integer"); }), only);
  EXPECT_EQ(ThrownBy([&] { c.AddUsedVariableN("V", "Integer"); }), only);
  EXPECT_EQ(ThrownBy([&] { c.AddNativeFunction("function F: Integer;"); }),
            "Unable to register function function F: Integer;");
  EXPECT_EQ(c.FindType("Integer"), nullptr);
  EXPECT_EQ(c.FindClass("TObject"), nullptr);
  // After a compile the window is closed again.
  CompileScript("begin end.", {}, &c);
  EXPECT_EQ(ThrownBy([&] { c.AddType("T", btU8); }), only);
}

TEST(Registration, FailuresCarryTheirTexts) {
  DuringCompile([](TPSPascalCompiler& c) {
    EXPECT_EQ(ThrownBy([&] { c.AddTypeS("TBad", "record end;"); }), "Unable to register type TBad");
    EXPECT_EQ(ThrownBy([&] { c.AddTypeCopyN("TCopy", "Missing"); }), "Invalid Type");
    EXPECT_EQ(ThrownBy([&] { c.AddConstantN("Limit", "Missing"); }), "Unable to register constant Limit");
    EXPECT_EQ(ThrownBy([&] { c.AddVariableN("Doc", "Missing"); }), "Invalid type for variable Doc");
    c.AddUsedVariableN("Doc", "Integer");
    EXPECT_EQ(ThrownBy([&] { c.AddVariableN("DOC", "Integer"); }), "Duplicate identifier 'DOC'");
    EXPECT_EQ(ThrownBy([&] { c.AddNativeFunction("function F(a: Missing): Integer;"); }),
              "Unable to register function function F(a: Missing): Integer;");
    EXPECT_EQ(ThrownBy([&] { c.AddNativeFunction("unit F;"); }), "Unable to register function unit F;");
    // Failed texts leave no compiler messages behind.
    EXPECT_EQ(c.MsgCount(), 0);
  });
}

TEST(Registration, NativeFunctionsRecordImportBytesAndNames) {
  DuringCompile([](TPSPascalCompiler& c) {
    TPSRegProc* p = c.AddNativeFunction(
        "function Check(a: Integer; var b: String; out c: Byte; const d: Char): Boolean");
    EXPECT_EQ(p->FOrgName, "Check");
    EXPECT_EQ(p->FName, "CHECK");
    EXPECT_TRUE(p->FExportName);
    EXPECT_EQ(p->FImportDecl, std::string("\x01\x00\x01\x01\x00", 5));
    ASSERT_EQ(p->FDecl.ParamCount(), 4);
    EXPECT_EQ(p->FDecl.FParams[1].FMode, pmInOut);
    EXPECT_EQ(p->FDecl.FParams[2].FMode, pmOut);
    EXPECT_EQ(p->FDecl.FParams[3].FMode, pmIn);
    TPSRegProc* q = c.AddNativeFunction("procedure Check;");
    EXPECT_EQ(c.FindRegProc("check"), q) << "the newest registration wins";
    TPSRegProc* f = c.AddNativeFunction(
        "function Format( const Format : string; const Args : array of const) : string");
    EXPECT_EQ(f->FDecl.FParams[1].FType->FName, "!OPENARRAYOFCONST");
    TPSRegProc* g = c.AddNativeFunction("function Sum(Values: array of Integer; Names: array of String): Int64;");
    EXPECT_EQ(g->FDecl.FParams[0].FType->FName, "!OPENARRAYOFS32");
    EXPECT_EQ(g->FDecl.FParams[1].FType->FName, "!OPENARRAYOFUNICODESTRING");
    EXPECT_EQ(ThrownBy([&] { c.AddNativeFunction("procedure Bad(a: array of Boolean);"); }),
              "Unable to register function procedure Bad(a: array of Boolean);");
  });
}

TEST(Registration, ClassesAreFoundByNameAndCanBeRedeclared) {
  DuringCompile([](TPSPascalCompiler& c) {
    TPSCompileTimeClass* obj = c.AddClassN(nullptr, "TObject");
    EXPECT_EQ(c.FindClass("TOBJECT"), obj);
    EXPECT_EQ(c.FindClass("tobject"), obj);
    TPSCompileTimeClass* a = c.AddClassN(obj, "TA");
    TPSCompileTimeClass* b = c.AddClassN(obj, "TB");
    EXPECT_EQ(c.AddClassN(nullptr, "TA"), a);
    EXPECT_EQ(a->FInheritsFrom, obj) << "no ancestor given keeps the old one";
    EXPECT_EQ(c.AddClassN(b, "ta"), a);
    EXPECT_EQ(a->FInheritsFrom, b);
    EXPECT_EQ(a->FType->FBaseType, btClass);
    EXPECT_TRUE(a->FType->FExportName);
    EXPECT_EQ(static_cast<TPSClassType*>(a->FType)->FCL, a);
    EXPECT_TRUE(b->IsCompatibleWith(a->FType));
    EXPECT_FALSE(a->IsCompatibleWith(b->FType));
    static int hostClass;
    EXPECT_EQ(c.AddClass(obj, &hostClass, "THosted")->FClass, &hostClass);
  });
}

TEST(Registration, MethodsPropertiesAndTheirImports) {
  DuringCompile([](TPSPascalCompiler& c) {
    TPSCompileTimeClass* obj = c.AddClassN(nullptr, "TObject");
    TPSCompileTimeClass* sheet = c.AddClassN(obj, "TqovSheet");
    EXPECT_TRUE(sheet->RegisterMethod("Procedure InsertRow( Index : Integer)"));
    EXPECT_FALSE(sheet->RegisterMethod("Procedure Broken( Index : Nothing)"));
    EXPECT_FALSE(sheet->RegisterMethod("property X: Integer"));
    EXPECT_TRUE(sheet->RegisterMethod("Constructor Create( AFileName : string)"));
    ASSERT_EQ(sheet->FClassItems.size(), 2u);

    TPSNativeClassItemMethod* insert = sheet->Func_Find("insertrow");
    ASSERT_TRUE(insert);
    EXPECT_EQ(insert->FDecl.FResult, nullptr);
    ASSERT_EQ(insert->FDecl.ParamCount(), 1);
    EXPECT_EQ(insert->FDecl.FParams[0].FMode, pmIn);
    EXPECT_EQ(ResolveTypeLink(insert->FDecl.FParams[0].FType)->FName, "LONGINT");
    int32_t no = sheet->Func_Call(insert);
    EXPECT_EQ(sheet->Func_Call(insert), no) << "one import per member";
    auto* ext = dynamic_cast<TPSExternalProcedure*>(c.GetProc(no));
    ASSERT_TRUE(ext);
    EXPECT_EQ(ext->FRegProc->FImportDecl, std::string("class:TQOVSHEET|INSERTROW|\0\0\0", 29));
    EXPECT_FALSE(ext->FRegProc->FExportName);

    TPSNativeClassItemConstructor* create = sheet->ClassFunc_Find("Create");
    ASSERT_TRUE(create);
    EXPECT_EQ(create->FDecl.FResult, sheet->FType);
    EXPECT_EQ(sheet->ClassFunc_Find("InsertRow"), nullptr);

    sheet->RegisterProperty("CellLocked", "Boolean Integer Integer", iptRW);
    sheet->RegisterProperty("Name", "string", iptR);
    sheet->RegisterProperty("Secret", "string", iptW);
    sheet->RegisterProperty("Ghost", "Variant Nothing", iptRW);
    EXPECT_EQ(sheet->Property_Find("Ghost"), nullptr);
    TPSNativeClassItemProperty* locked = sheet->Property_Find("celllocked");
    ASSERT_TRUE(locked);
    ASSERT_EQ(locked->FDecl.ParamCount(), 2);
    EXPECT_EQ(locked->FDecl.FParams[0].FOrgName, "param1");
    EXPECT_EQ(locked->FDecl.FParams[1].FOrgName, "param2");
    int32_t get = sheet->Property_Get(locked);
    auto* getter = static_cast<TPSExternalProcedure*>(c.GetProc(get))->FRegProc;
    EXPECT_EQ(getter->FImportDecl, std::string("class:TQOVSHEET|CELLLOCKED|\x03\0\0\0", 31));
    int32_t set = sheet->Property_Set(locked);
    EXPECT_NE(set, get);
    auto* setter = static_cast<TPSExternalProcedure*>(c.GetProc(set))->FRegProc;
    EXPECT_EQ(setter->FImportDecl, std::string("class:TQOVSHEET|CELLLOCKED@|\x03\0\0\0", 32));
    EXPECT_EQ(sheet->Property_Set(sheet->Property_Find("Name")), -1);
    EXPECT_EQ(sheet->Property_Get(sheet->Property_Find("Secret")), -1);

    int32_t cast = sheet->CastToType(sheet->FType);
    EXPECT_EQ(static_cast<TPSExternalProcedure*>(c.GetProc(cast))->FRegProc->FImportDecl, "class:+");
    EXPECT_EQ(sheet->CastToType(c.FindType("Integer")), -1);
    int32_t nil = sheet->SetNil();
    EXPECT_EQ(static_cast<TPSExternalProcedure*>(c.GetProc(nil))->FRegProc->FImportDecl, "class:-");
    EXPECT_EQ(sheet->SetNil(), nil);
  });
}

TEST(Registration, MembersAreFoundThroughAncestorsAndLaterOnesHideEarlier) {
  DuringCompile([](TPSPascalCompiler& c) {
    TPSCompileTimeClass* base = c.AddClassN(nullptr, "TBase");
    TPSCompileTimeClass* derived = c.AddClassN(base, "TDerived");
    base->RegisterMethod("procedure Free");
    base->RegisterProperty("Items", "String Integer", iptR);
    base->SetDefaultPropery("Items");
    derived->RegisterMethod("function Count: Integer");
    derived->RegisterMethod("function Count: Byte");
    EXPECT_EQ(derived->Func_Find("Free")->FOwner, base);
    EXPECT_EQ(ResolveTypeLink(derived->Func_Find("COUNT")->FDecl.FResult)->FName, "BYTE");
    EXPECT_EQ(derived->Property_Find(""), base->Property_Find("Items"));
    EXPECT_EQ(base->Func_Find("Count"), nullptr);
    derived->RegisterProperty("Free", "Integer", iptR);
    EXPECT_EQ(derived->Func_Find("Free")->FOwner, base) << "a property does not hide a method";
  });
}

TEST(Registration, DefaultPropertyRules) {
  DuringCompile([](TPSPascalCompiler& c) {
    TPSCompileTimeClass* cls = c.AddClassN(nullptr, "TList");
    cls->RegisterMethod("procedure Clear");
    cls->RegisterProperty("Count", "Integer", iptR);
    cls->RegisterProperty("Items", "String Integer", iptRW);
    EXPECT_EQ(ThrownBy([&] { cls->SetDefaultPropery("Clear"); }), "Not a property");
    EXPECT_EQ(ThrownBy([&] { cls->SetDefaultPropery("Count"); }), "Not an array property");
    EXPECT_EQ(ThrownBy([&] { cls->SetDefaultPropery("Nothing"); }), "Unknown Property");
    cls->SetDefaultPropery("items");
    EXPECT_EQ(cls->FDefaultProperty, 2);
  });
}

TEST(Registration, TypesConstantsAndVariables) {
  TPSPascalCompiler c;
  auto r = CompileScript(
      "const Next = MAX_SUBEXPRESSIONS + 1; Tab = TabChar; Name = Greeting + '!';\nbegin end.",
      [](TPSPascalCompiler& comp) {
        comp.AddConstantN("MAX_SUBEXPRESSIONS", "LongInt")->SetInt(99);
        comp.AddConstantN("TabChar", "Char")->SetChar('\t');
        comp.AddConstantN("Greeting", "AnsiString")->SetString("hi");
        TPSType* copy = comp.AddTypeCopyN("THANDLE", "Longint");
        EXPECT_EQ(ResolveTypeLink(copy)->FName, "LONGINT");
        TPSType* alias = comp.AddTypeS("TMyInt", "Integer");
        EXPECT_EQ(ResolveTypeLink(alias)->FName, "LONGINT");
        TPSType* plain = comp.AddType("TCode", btU16);
        EXPECT_EQ(plain->FDeclarePos, -1);
        EXPECT_EQ(plain->FDeclareRow, 0u);
        TPSVar* v = comp.AddVariableN("Plain", "Integer");
        EXPECT_FALSE(v->FUsed);
        EXPECT_TRUE(comp.AddUsedVariableN("Used", "Integer")->FUsed);
        TPSVar* ptr = comp.AddUsedPtrVariableN("Ptr", "String");
        EXPECT_TRUE(ptr->FUsed);
        EXPECT_TRUE(ptr->FSaveAsPointer);
      },
      &c);
  ASSERT_TRUE(r.ok) << r.Messages();
  // Only the variable the host did not mark used draws a hint.
  ASSERT_EQ(r.messages.size(), 1u) << r.Messages();
  EXPECT_EQ(r.messages[0], "[Hint] (0:0): Variable 'PLAIN' never used");
  for (int i = 0; i < c.GetConstCount(); ++i) {
    TPSConstant* k = c.GetConst(i);
    if (k->FName == "NEXT") {
      EXPECT_EQ(k->FValue.FInt, 100);
    } else if (k->FName == "TAB") {
      EXPECT_EQ(k->FValue.FString, "\t");
    } else if (k->FName == "NAME") {
      EXPECT_EQ(k->FValue.FString, "hi!");
    }
  }
}

TEST(Registration, InterfacesAndTheirMethods) {
  DuringCompile([](TPSPascalCompiler& c) {
    TPSInterface* unknown = c.FindInterface("iunknown");
    ASSERT_TRUE(unknown);
    TPSInterface* mine = c.AddInterface(unknown, "{11111111-2222-3333-4455-66778899AABB}", "IMine");
    EXPECT_TRUE(mine->RegisterMethod("function Ping(a: Integer): Integer", cdStdCall));
    EXPECT_FALSE(mine->RegisterMethod("function Ping(a: Nothing): Integer", cdStdCall));
    EXPECT_EQ(mine->Func_Find("PING")->FMethodNo, 3) << "after the three IUnknown methods";
    EXPECT_EQ(mine->Func_Find("_AddRef")->FMethodNo, 1);
    EXPECT_TRUE(mine->IsCompatibleWith(unknown));
    EXPECT_FALSE(unknown->IsCompatibleWith(mine));
    const uint8_t guid[16] = {0x11, 0x11, 0x11, 0x11, 0x22, 0x22, 0x33, 0x33,
                              0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xAA, 0xBB};
    EXPECT_EQ(std::memcmp(mine->FGuid, guid, 16), 0);
    EXPECT_EQ(ThrownBy([&] { c.AddInterface(nullptr, "{nope}", "IBad"); }), "'{nope}' is not a valid GUID value");
    EXPECT_EQ(c.FindInterface("IDispatch")->FInheritedFrom, unknown);
  });
}

TEST(Registration, AttributeTypesApplyToTypesAndProcedures) {
  std::vector<std::string> applied;
  auto r = CompileScript("type [Info(1, 'x')] TThing = Integer;\n[Info(2, 'y')] procedure P; begin end;\nbegin end.",
                         [&](TPSPascalCompiler& c) {
                           auto* info = c.AddAttributeType();
                           info->SetName("Info");
                           info->AddField("Level", c.FindType("Integer"));
                           info->AddField("Text", c.FindType("String"));
                           info->AddField("Hidden", c.FindType("Byte"), true)->FDefaultValue.FInt = 7;
                           info->FOnApplyAttributeToType = [&](TPSPascalCompiler*, TPSAttribute* a, TPSType* t) {
                             applied.push_back(t->FName + ":" + std::to_string(a->FValues[0].FInt) + ":" +
                                               std::to_string(a->FValues[2].FInt));
                             return true;
                           };
                           info->FOnApplyAttributeToProc = [&](TPSPascalCompiler*, TPSAttribute* a, TPSProcedure*) {
                             applied.push_back("proc:" + rtl::UnicodeToUtf8(a->FValues[1].FWideString));
                             return true;
                           };
                         });
  EXPECT_TRUE(r.ok) << r.Messages();
  EXPECT_EQ(applied, (std::vector<std::string>{"TTHING:1:7", "proc:y"}));
}

}  // namespace
}  // namespace ps

namespace ps {
namespace {

TEST(Registration, BareClassAndInterfaceTypesFromAddTypeAreSafeToUse) {
  auto r = CompileScript("var A: TBare; B: IBare; C: TBare2; begin end.", [](TPSPascalCompiler& c) {
    TPSType* bare = c.AddType("TBare", btClass);
    TPSType* bare2 = c.AddType("TBare2", btClass);
    TPSType* intf = c.AddType("IBare", btInterface);
    EXPECT_TRUE(c.IsCompatibleType(bare, bare, false));
    EXPECT_FALSE(c.IsCompatibleType(bare, bare2, false));
    EXPECT_FALSE(c.IsCompatibleType(intf, c.FindType("IUnknown"), false));
    EXPECT_FALSE(c.IsCompatibleType(c.FindType("IUnknown"), intf, false));
  });
  ASSERT_TRUE(r.ok) << r.Messages();
  auto m = test::ReadModuleBytes(r.module);
  EXPECT_EQ(m.types[m.vars[0].type].info, "TBARE");
}

TEST(Registration, TypesAddedWithoutTheirPartsFailTheCompileInsteadOfTheLoad) {
  for (TPSBaseType bt : {btArray, btStaticArray, btSet, btRecord}) {
    auto r = CompileScript("var X: THalf; begin end.", [bt](TPSPascalCompiler& c) { c.AddType("THalf", bt); });
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.messages.back(), "[Error] (1:25): Internal error (incomplete type THalf)") << int(bt);
  }
}

TEST(Registration, AFailedTypeTextLeavesNothingBehind) {
  DuringCompile([](TPSPascalCompiler& c) {
    size_t types = static_cast<size_t>(c.GetTypeCount()), constants = static_cast<size_t>(c.GetConstCount());
    EXPECT_EQ(ThrownBy([&] { c.AddTypeS("TBroken", "(one, two"); }), "Unable to register type TBroken");
    EXPECT_EQ(ThrownBy([&] { c.AddTypeS("TBroken", "record A: Integer; B: Nothing; end"); }),
              "Unable to register type TBroken");
    EXPECT_EQ(static_cast<size_t>(c.GetTypeCount()), types);
    EXPECT_EQ(static_cast<size_t>(c.GetConstCount()), constants);
    EXPECT_EQ(c.FindType("TBroken"), nullptr);
    EXPECT_EQ(c.GetConstant("one"), nullptr);
    // The name is free for a later, correct declaration.
    EXPECT_TRUE(c.AddTypeS("TBroken", "(one, two)"));
    EXPECT_EQ(c.GetConstant("two")->FValue.FInt, 1);
  });
}

}  // namespace
}  // namespace ps
