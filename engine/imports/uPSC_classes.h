// Compile-time declarations of the classes library: string lists, streams,
// TBits, TParser and collections, with their types and constants.
#pragma once

#include "engine/uPSCompiler.h"

namespace ps {

void SIRegister_Classes_TypesAndConsts(TPSPascalCompiler* cl);
void SIRegisterTStrings(TPSPascalCompiler* cl, bool streams);
void SIRegisterTStringList(TPSPascalCompiler* cl);
void SIRegisterTBits(TPSPascalCompiler* cl);
void SIRegisterTStream(TPSPascalCompiler* cl);
void SIRegisterTHandleStream(TPSPascalCompiler* cl);
void SIRegisterTFileStream(TPSPascalCompiler* cl);
void SIRegisterTCustomMemoryStream(TPSPascalCompiler* cl);
void SIRegisterTMemoryStream(TPSPascalCompiler* cl);
void SIRegisterTResourceStream(TPSPascalCompiler* cl);
void SIRegisterTParser(TPSPascalCompiler* cl);
void SIRegisterTCollection(TPSPascalCompiler* cl);
// The whole library (the standard classes must be declared already); the
// stream classes and the string lists' file and stream methods only when
// `streams` is true.
void SIRegister_Classes(TPSPascalCompiler* cl, bool streams);

}  // namespace ps
