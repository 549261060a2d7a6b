// Every member and routine Korva's bindings declare to the compiler has its
// binding in the executor, and every binding its declaration; each library
// is checked over the standard classes it builds on, as hosts register them.
#include <gtest/gtest.h>

#include "bindings/uPSI_DatumskeFunkcije.h"
#include "bindings/uPSI_PerlRegEx.h"
#include "bindings/uPSI_qovData.h"
#include "bindings/uPSI_qovDocument.h"
#include "engine/imports/uPSC_classes.h"
#include "engine/imports/uPSC_std.h"
#include "engine/imports/uPSR_classes.h"
#include "engine/imports/uPSR_std.h"
#include "tests/support/LibraryAgreement.h"

using namespace ps;
using namespace ps::test;

namespace {

struct TBindingCase {
  const char* Name;
  void (*Declare)(TPSPascalCompiler*);
  void (*BindClasses)(TPSRuntimeClassImporter&);
  void (*BindRoutines)(TPSExec&);
};

const TBindingCase BindingCases[] = {
    {"qovData", &bindings::SIRegister_qovData, &bindings::RIRegister_qovData, nullptr},
    {"qovDocument", &bindings::SIRegister_qovDocument,
     [](TPSRuntimeClassImporter& ri) { bindings::RIRegister_qovDocument(ri); }, nullptr},
    {"PerlRegEx", &bindings::SIRegister_PerlRegEx, &bindings::RIRegister_PerlRegEx, nullptr},
    {"DatumskeFunkcije", &bindings::SIRegister_DatumskeFunkcije, nullptr, &bindings::RIRegister_DatumskeFunkcije},
};

}  // namespace

TEST(BindingTables, EveryDeclarationHasItsBindingAndEveryBindingItsDeclaration) {
  for (const TBindingCase& lib : BindingCases) {
    SCOPED_TRACE(lib.Name);
    std::set<std::string> base = DeclaredEntries(
        [](TPSPascalCompiler* c) {
          SIRegister_Std(c);
          SIRegister_Classes(c, true);
        },
        true);
    std::set<std::string> declared = DeclaredEntries(
        [&](TPSPascalCompiler* c) {
          SIRegister_Std(c);
          SIRegister_Classes(c, true);
          lib.Declare(c);
        },
        true);
    EXPECT_GT(declared.size(), base.size()) << "the library declares something";
    TPSRuntimeClassImporter importer;
    TPSExec exec;
    RIRegister_Std(importer);
    RIRegister_Classes(importer, true);
    if (lib.BindClasses) lib.BindClasses(importer);
    if (lib.BindRoutines) lib.BindRoutines(exec);
    EXPECT_EQ(Disagreement(declared, BoundEntries(importer, exec, declared, true)), "");
  }
}
