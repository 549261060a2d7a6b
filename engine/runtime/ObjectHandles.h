// Object references as 32-bit integers. A reference is 64 bits wide here, so
// casting an object to an Integer cannot keep its address: a live object
// becomes its handle (its registry number with the top bit set), and the
// handle casts back to the same object. Numbers that are not handles of
// live objects keep their value both ways, so the idiom of storing numbers
// in Objects[] works; calling a member on such a number is refused by the
// live-object check.
#pragma once

#include <cstdint>

namespace ps {

// Never 0 for a non-nil reference, so Assigned stays true for any object.
uint32_t ObjectToHandle(void* object);
void* HandleToObject(uint32_t handle);

}  // namespace ps
