#include "engine/imports/uPSC_dateutils.h"

#include "engine/imports/Libraries.h"

namespace ps {

void RegisterDateTimeLibrary_C(TPSPascalCompiler* S) {
  // Exported by name: the executor turns a value of this type into a date
  // variant (type 7), so it reaches a cell as a date, not as a number.
  if (!S->FindType("TDateTime")) S->AddType("TDateTime", btDouble)->FExportName = true;
  DeclareRoutines(S, DateTimeRoutineRows());
}

}  // namespace ps
