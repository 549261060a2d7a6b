// The declarations of the standard imports compile, and every member they
// declare is listed for the binding check of the runtime side.
#include <gtest/gtest.h>
#include "engine/imports/uPSC_classes.h"
#include "engine/imports/uPSC_dateutils.h"
#include "engine/imports/uPSC_std.h"
#include "tests/engine/compiler/CompilerTestSupport.h"
#include "tests/engine/imports/ImportTexts.h"

using namespace ps;
using namespace ps::test;

namespace ps::test {

std::string MethodImport(const std::string& cls, const std::string& member, bool result,
                         std::initializer_list<uint8_t> params) {
  std::string s = "class:" + cls + "|" + member + "|";
  s.push_back(0);
  s.push_back(result ? 1 : 0);
  for (uint8_t p : params) s.push_back(static_cast<char>(p));
  return s;
}

std::string PropertyImport(const std::string& cls, const std::string& member, uint32_t indexes, bool write) {
  std::string s = "class:" + cls + "|" + member + (write ? "@|" : "|");
  uint32_t n = indexes + 1;
  s.append(reinterpret_cast<const char*>(&n), 4);
  return s;
}

std::vector<std::string> StandardClassImportTexts() {
  TPSPascalCompiler compiler;
  std::vector<std::string> imports;
  auto r = CompileScript(
      "begin end.",
      [&](TPSPascalCompiler& comp) {
        SIRegister_Std(&comp);
        SIRegister_Classes(&comp, true);
        for (const char* name : {"TObject", "TPersistent", "TComponent", "TStrings", "TStringList", "TBits", "TStream",
                                 "THandleStream", "TFileStream", "TCustomMemoryStream", "TMemoryStream",
                                 "TResourceStream", "TParser", "TCollectionItem", "TCollection"}) {
          TPSCompileTimeClass* cls = comp.FindClass(name);
          if (!cls) {
            imports.push_back(std::string("missing class ") + name);
            continue;
          }
          for (auto& item : cls->FClassItems) {
            if (auto* prop = dynamic_cast<TPSNativeClassItemProperty*>(item.get())) {
              uint32_t n = static_cast<uint32_t>(prop->FDecl.ParamCount());
              if (prop->FAccessType != iptW) imports.push_back(PropertyImport(cls->FClassName, item->FName, n, false));
              if (prop->FAccessType != iptR) imports.push_back(PropertyImport(cls->FClassName, item->FName, n, true));
            } else {
              imports.push_back(MethodImport(cls->FClassName, item->FName, item->FDecl.FResult != nullptr, {}));
            }
          }
        }
      },
      &compiler);
  if (!r.ok) imports.push_back("compile failed: " + r.Messages());
  return imports;
}

}  // namespace ps::test

TEST(StandardImports, DeclarationsCompileWithAndWithoutStreams) {
  for (bool streams : {true, false}) {
    auto r = CompileScript(
        "var L: TStringList; S: TStrings; B: TBits; P: TParser; C: TCollection; I: TCollectionItem; O: TOwnedCollection;\n"
        "  Cm: TComponent; D: TDateTime; A: TAlignment; N: TNotifyEvent; Dup: TDuplicates; R: TRect;\n"
        "  St: TComponentState; H: THANDLE;\n"
        "const X = fmOpenReadWrite + fmShareDenyNone + soFromEnd + SecsPerDay;\n"
        "begin end.",
        [streams](TPSPascalCompiler& c) {
          SIRegister_Std(&c);
          SIRegister_Classes(&c, streams);
          RegisterDateTimeLibrary_C(&c);
        });
    EXPECT_TRUE(r.ok) << r.Messages();
  }
  TPSPascalCompiler c;
  bool checked = false;
  auto r = CompileScript(
      "begin end.",
      [&](TPSPascalCompiler& comp) {
        SIRegister_Std(&comp);
        SIRegister_Classes(&comp, false);
        RegisterDateTimeLibrary_C(&comp);
        TPSCompileTimeClass* strings = comp.FindClass("TStrings");
        ASSERT_NE(strings, nullptr);
        EXPECT_EQ(strings->Func_Find("LoadFromFile"), nullptr) << "no file methods without streams";
        EXPECT_NE(strings->Func_Find("IndexOfName"), nullptr);
        EXPECT_NE(strings->Property_Find(""), nullptr) << "Strings is the default property";
        EXPECT_EQ(comp.FindClass("TStringList")->FInheritsFrom, strings);
        EXPECT_EQ(comp.FindClass("TMemoryStream"), nullptr) << "no stream classes without streams";
        EXPECT_NE(comp.FindRegProc("DateTimeToUnix"), nullptr);
        checked = true;
      },
      &c);
  EXPECT_TRUE(r.ok) << r.Messages();
  EXPECT_TRUE(checked);
}
