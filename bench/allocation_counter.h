// Counts the program's heap allocations made through operator new, and the
// peak of the bytes they hold, so a benchmark can tell how much one operation
// allocates. Only for the benchmark program, which replaces the global
// operator new and delete with counting ones.
#pragma once

#include <cstddef>

namespace bench {

struct AllocationCount {
  size_t allocations = 0;  // calls of operator new since the last reset
  size_t peakBytes = 0;    // most bytes held at once above the level at reset
  long heldBytes = 0;      // bytes held now above the level at reset
};

void resetAllocationCount();
AllocationCount allocationCount();

}  // namespace bench
