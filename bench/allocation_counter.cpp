#include "allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {

// Each block carries its size in front, so delete can give the bytes back.
constexpr size_t kHeader = alignof(std::max_align_t);

size_t allocations = 0;
size_t currentBytes = 0;
size_t baseBytes = 0;
size_t peakBytes = 0;

void* allocate(size_t size) {
  void* block = std::malloc(size + kHeader);
  if (!block) throw std::bad_alloc();
  *static_cast<size_t*>(block) = size;
  ++allocations;
  currentBytes += size;
  if (currentBytes > peakBytes) peakBytes = currentBytes;
  return static_cast<char*>(block) + kHeader;
}

void release(void* pointer) {
  if (!pointer) return;
  void* block = static_cast<char*>(pointer) - kHeader;
  currentBytes -= *static_cast<size_t*>(block);
  std::free(block);
}

}  // namespace

void* operator new(size_t size) {
  return allocate(size);
}
void* operator new[](size_t size) {
  return allocate(size);
}
void operator delete(void* pointer) noexcept {
  release(pointer);
}
void operator delete[](void* pointer) noexcept {
  release(pointer);
}
void operator delete(void* pointer, size_t) noexcept {
  release(pointer);
}
void operator delete[](void* pointer, size_t) noexcept {
  release(pointer);
}

namespace bench {

void resetAllocationCount() {
  allocations = 0;
  baseBytes = currentBytes;
  peakBytes = currentBytes;
}

AllocationCount allocationCount() {
  return {allocations, peakBytes - baseBytes,
          static_cast<long>(currentBytes) - static_cast<long>(baseBytes)};
}

}  // namespace bench
