// Run-time bindings of the classes library to the rtl classes.
#pragma once

#include "engine/runtime/ClassImporter.h"

namespace ps {

void RIRegisterTStrings(TPSRuntimeClassImporter& cl, bool streams);
void RIRegisterTStringList(TPSRuntimeClassImporter& cl);
void RIRegisterTBits(TPSRuntimeClassImporter& cl);
void RIRegisterTStream(TPSRuntimeClassImporter& cl);
void RIRegisterTHandleStream(TPSRuntimeClassImporter& cl);
void RIRegisterTFileStream(TPSRuntimeClassImporter& cl);
void RIRegisterTCustomMemoryStream(TPSRuntimeClassImporter& cl);
void RIRegisterTMemoryStream(TPSRuntimeClassImporter& cl);
void RIRegisterTResourceStream(TPSRuntimeClassImporter& cl);
void RIRegisterTParser(TPSRuntimeClassImporter& cl);
void RIRegisterTCollection(TPSRuntimeClassImporter& cl);
// The whole library, as declared by SIRegister_Classes with the same flag.
void RIRegister_Classes(TPSRuntimeClassImporter& cl, bool streams);

}  // namespace ps
