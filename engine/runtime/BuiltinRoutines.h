// The run-time side of the routines the compiler declares for every script.
#pragma once

#include "engine/uPSRuntime.h"

namespace ps {

// Binds the standard routines (IntToStr ... SizeOf, Assigned) by name.
void RegisterStandardRoutines(TPSExec& exec);

}  // namespace ps
