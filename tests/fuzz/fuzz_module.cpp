// Module bytes: the executor loading a compiled module, and running it
// within an instruction budget when it loads.
#include "FuzzSupport.h"
#include "ScriptHost.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::InitScriptHost();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::RunModule(fuzz::Bytes(data, size));
  return 0;
}
