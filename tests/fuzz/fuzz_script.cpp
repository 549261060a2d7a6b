// Script source: compiled with the job's declarations and run within an
// instruction budget, as a job runs it.
#include "FuzzSupport.h"
#include "ScriptHost.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::InitScriptHost();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::RunScript(fuzz::Bytes(data, size));
  return 0;
}
