// Run-time bindings of the date and time library.
#pragma once

#include "engine/uPSRuntime.h"

namespace ps {

void RegisterDateTimeLibrary_R(TPSExec& S);

}  // namespace ps
