#include "engine/runtime/ObjectHandles.h"

#include "rtl/Objects.h"

namespace ps {

namespace {
constexpr uint32_t HandleFlag = 0x80000000u;
}

uint32_t ObjectToHandle(void* object) {
  auto address = reinterpret_cast<uintptr_t>(object);
  if (!object) return 0;
  if (rtl::TObjectRegistry::IsLive(object)) {
    uint32_t id = static_cast<rtl::TObject*>(object)->ObjectId();
    if (id < HandleFlag) return id | HandleFlag;
  }
  // A number cast to a class earlier: its own value.
  if (address <= UINT32_MAX) return static_cast<uint32_t>(address);
  // A dead 64-bit reference has no number; it stays non-nil.
  uint32_t low = static_cast<uint32_t>(address);
  return low ? low : 1;
}

void* HandleToObject(uint32_t handle) {
  if (handle & HandleFlag)
    if (rtl::TObject* object = rtl::TObjectRegistry::Find(handle & ~HandleFlag)) return object;
  return reinterpret_cast<void*>(static_cast<uintptr_t>(handle));
}

}  // namespace ps
