// Compile-time declarations of the date and time library.
#pragma once

#include "engine/uPSCompiler.h"

namespace ps {

void RegisterDateTimeLibrary_C(TPSPascalCompiler* S);

}  // namespace ps
