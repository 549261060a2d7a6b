// The value stack: one block of entries that grows and shrinks in 4,096-byte
// steps, moving pointer targets that lie inside it.
#include <cstdlib>

#include "engine/runtime/Values.h"

namespace ps {

namespace {
constexpr uint32_t Align(uint32_t n) { return (n + 7u) & ~7u; }
constexpr uint32_t RoundToStep(uint64_t n) {
  return static_cast<uint32_t>((n + TPSStack::BlockStep - 1) / TPSStack::BlockStep * TPSStack::BlockStep);
}
}  // namespace

TPSStack::TPSStack() {
  FDataPtr = static_cast<uint8_t*>(std::malloc(BlockStep));
  if (!FDataPtr) throw std::bad_alloc();
  FCapacity = BlockStep;
  FEntries.reserve(256);
}

TPSStack::~TPSStack() {
  Clear();
  std::free(FDataPtr);
}


void* TPSStack::GetClass(int index) const {
  const uint8_t* p = EntryValue(index);
  const TPSTypeRec* t = EntryType(index);
  Deref(p, t);
  if (t->FBaseType != btClass) RaiseTypeMismatch();
  return Load<void*>(p);
}

void TPSStack::SetClass(int index, void* v) {
  SetTarget(index, [&](uint8_t* p, TPSTypeRec* t) {
    if (t->FBaseType != btClass) RaiseTypeMismatch();
    Store(p, v);
  });
}

void TPSStack::Relocate(uint8_t* newBlock, uint32_t newCapacity) {
  uint8_t* old = FDataPtr;
  std::memcpy(newBlock, old, FLength);
  auto lo = reinterpret_cast<uintptr_t>(old), hi = lo + FLength;
  auto fix = [&](uint8_t* base, const std::vector<uint32_t>& entries) {
    for (uint32_t off : entries) {
      uint8_t* e = base + off;
      TPSTypeRec* t = Load<TPSTypeRec*>(e);
      if (!t || t->FBaseType != btPointer) continue;
      auto pv = Load<TPSPointerValue>(e + EntryHeader);
      auto target = reinterpret_cast<uintptr_t>(pv.Target);
      if (target >= lo && target < hi) {
        pv.Target = newBlock + (target - lo);
        Store(e + EntryHeader, pv);
      }
    }
  };
  fix(newBlock, FEntries);
  if (FLinked) fix(FLinked->FDataPtr, FLinked->FEntries);
  std::free(old);
  FDataPtr = newBlock;
  FCapacity = newCapacity;
}

void TPSStack::SetCapacity(uint32_t capacity) {
  if (capacity < FLength) throw rtl::Exception(rtl::UnicodeString(SCapacityLessThanLength));
  if (capacity == 0) capacity = BlockStep;
  auto* block = static_cast<uint8_t*>(std::malloc(capacity));
  if (!block) throw std::bad_alloc();
  Relocate(block, capacity);
}

uint8_t* TPSStack::Push(uint32_t totalSize) {
  uint64_t size = Align(totalSize);
  uint64_t needed = uint64_t(FLength) + size;
  if (totalSize > 0xFFFFFFF0u || needed > FMaxLength) return nullptr;
  if (needed > FCapacity) {
    // Grow at least geometrically, so that deep recursion costs amortised
    // constant time per push (moving the block walks every entry).
    uint64_t cap = std::max<uint64_t>(RoundToStep(needed + 1), uint64_t(FCapacity) * 2);
    cap = std::min<uint64_t>(cap, RoundToStep(FMaxLength));
    auto* block = static_cast<uint8_t*>(std::malloc(cap));
    if (!block) return nullptr;
    Relocate(block, static_cast<uint32_t>(cap));
  }
  uint8_t* e = FDataPtr + FLength;
  FEntries.push_back(FLength);
  FLength = static_cast<uint32_t>(needed);
  return e;
}

uint8_t* TPSStack::PushType(TPSTypeRec* type) {
  uint8_t* e = Push(EntryHeader + type->FRealSize);
  if (!e) return nullptr;
  Store(e, type);
  // Small plain values (integers, Booleans, pointers) are most temporaries:
  // one store clears the entry, whose value is eight bytes after alignment
  // (an empty record has none).
  if (!type->FManaged && type->FRealSize - 1u < 8u)
    Store<uint64_t>(e + EntryHeader, 0);
  else
    InitializeValue(e + EntryHeader, type);
  return e + EntryHeader;
}

void TPSStack::ShrinkIfLoose() {
  // Keep half the block free after shrinking, so that alternating pushes and
  // pops at a boundary do not move the block every time.
  if (FCapacity - FLength <= ShrinkSlack || FLength > FCapacity / 4) return;
  uint32_t cap = std::max(BlockStep, RoundToStep(uint64_t(FLength) * 2 + 1));
  if (cap >= FCapacity) return;
  auto* block = static_cast<uint8_t*>(std::malloc(cap));
  if (!block) return;  // keeping the larger block is harmless
  Relocate(block, cap);
}

void TPSStack::Pop() {
  if (FEntries.empty()) return;
  uint32_t off = FEntries.back();
  uint8_t* e = FDataPtr + off;
  TPSTypeRec* t = Load<TPSTypeRec*>(e);
  if (t && t->FManaged) FinalizeValue(e + EntryHeader, t);
  FEntries.pop_back();
  FLength = off;
  if (FCapacity - FLength > ShrinkSlack) ShrinkIfLoose();
}

void TPSStack::Clear() {
  while (!FEntries.empty()) {
    uint8_t* e = FDataPtr + FEntries.back();
    TPSTypeRec* t = Load<TPSTypeRec*>(e);
    if (t && t->FManaged) FinalizeValue(e + EntryHeader, t);
    FEntries.pop_back();
  }
  FLength = 0;
  if (FCapacity > BlockStep) {
    auto* block = static_cast<uint8_t*>(std::malloc(BlockStep));
    if (block) {
      std::free(FDataPtr);
      FDataPtr = block;
      FCapacity = BlockStep;
    }
  }
}

}  // namespace ps
