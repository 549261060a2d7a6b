// Every routine and member the standard libraries declare to the compiler
// has its binding in the executor, and every binding its declaration: a name
// on one side only would surface as "Cannot Import" when a script loads.
#include <gtest/gtest.h>

#include "engine/imports/uPSC_classes.h"
#include "engine/imports/uPSC_dateutils.h"
#include "engine/imports/uPSC_std.h"
#include "engine/imports/uPSR_classes.h"
#include "engine/imports/uPSR_dateutils.h"
#include "engine/imports/uPSR_std.h"
#include "tests/support/LibraryAgreement.h"

using namespace ps;
using namespace ps::test;

namespace {

struct TLibraryCase {
  const char* Name;
  std::function<void(TPSPascalCompiler*)> Declare;
  std::function<void(TPSRuntimeClassImporter&, TPSExec&)> Bind;
  bool WithClasses;  // compare the class lists too
};

const TLibraryCase LibraryCases[] = {
    // A bare compiler and executor: the internal and standard routines.
    {"standard routines", [](TPSPascalCompiler*) {}, [](TPSRuntimeClassImporter&, TPSExec&) {}, true},
    {"standard classes and classes library",
     [](TPSPascalCompiler* c) {
       SIRegister_Std(c);
       SIRegister_Classes(c, true);
     },
     [](TPSRuntimeClassImporter& ri, TPSExec&) {
       RIRegister_Std(ri);
       RIRegister_Classes(ri, true);
     },
     true},
    // Without streams the compiler still names TStream (TParser reads one),
    // which the executor has no class for: only the members are compared.
    {"classes library without streams",
     [](TPSPascalCompiler* c) {
       SIRegister_Std(c);
       SIRegister_Classes(c, false);
     },
     [](TPSRuntimeClassImporter& ri, TPSExec&) {
       RIRegister_Std(ri);
       RIRegister_Classes(ri, false);
     },
     false},
    {"date and time routines", [](TPSPascalCompiler* c) { RegisterDateTimeLibrary_C(c); },
     [](TPSRuntimeClassImporter&, TPSExec& exec) { RegisterDateTimeLibrary_R(exec); }, true},
};

}  // namespace

TEST(LibraryTables, EveryDeclarationHasItsBindingAndEveryBindingItsDeclaration) {
  for (const TLibraryCase& lib : LibraryCases) {
    SCOPED_TRACE(lib.Name);
    std::set<std::string> declared = DeclaredEntries(lib.Declare, lib.WithClasses);
    TPSRuntimeClassImporter importer;
    TPSExec exec;
    lib.Bind(importer, exec);
    std::set<std::string> bound = BoundEntries(importer, exec, declared, lib.WithClasses);
    EXPECT_EQ(Disagreement(declared, bound), "");
    EXPECT_GT(declared.size(), 50u);
  }
}
