// Run-time bindings of the standard classes TObject, TPersistent and
// TComponent.
#pragma once

#include "engine/runtime/ClassImporter.h"

namespace ps {

inline constexpr std::u16string_view SNilObjectArgument = u"Object argument is nil";

// The object an argument refers to; raises "Object argument is nil" for nil.
template <class T>
T& Required(T* object) {
  if (!object) throw rtl::Exception(rtl::UnicodeString(SNilObjectArgument));
  return *object;
}

// Frees an object for a script: only objects the script made, and not while
// their own event handler runs.
void ScriptFreeObject(rtl::TObject* object);

void RIRegisterTObject(TPSRuntimeClassImporter& cl);
void RIRegisterTPersistent(TPSRuntimeClassImporter& cl);
void RIRegisterTComponent(TPSRuntimeClassImporter& cl);
void RIRegister_Std(TPSRuntimeClassImporter& cl);

}  // namespace ps
