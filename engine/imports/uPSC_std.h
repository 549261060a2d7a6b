// Compile-time declarations of the standard classes TObject, TPersistent and
// TComponent.
#pragma once

#include "engine/uPSCompiler.h"

namespace ps {

void SIRegister_Std_TypesAndConsts(TPSPascalCompiler* cl);
void SIRegisterTObject(TPSPascalCompiler* cl);
void SIRegisterTPersistent(TPSPascalCompiler* cl);
void SIRegisterTComponent(TPSPascalCompiler* cl);
// All of the above, in that order.
void SIRegister_Std(TPSPascalCompiler* cl);

}  // namespace ps
