// The block array the index is built into: values across block boundaries,
// adding after a trim, searching, and moving.
#include "lookup/segmented_array.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>

namespace {

constexpr size_t kBlock = SegmentedArray<uint32_t>::kBlockValues;

TEST(SegmentedArray, KeepsEveryValueThroughTrimsMovesAndSearches) {
  // Sizes around block boundaries; each array is trimmed halfway and filled on.
  for (size_t size : {size_t{1}, kBlock - 1, kBlock, kBlock + 1, 3 * kBlock + 5}) {
    SegmentedArray<uint32_t> values;
    for (size_t i = 0; i < size; ++i) {
      values.push_back(static_cast<uint32_t>(3 * i));
      if (i == size / 2) values.trim();
    }
    values.trim();
    SegmentedArray<uint32_t> moved = std::move(values);
    EXPECT_TRUE(values.empty());
    ASSERT_EQ(moved.size(), size);
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(moved[i], 3 * i) << size << " at " << i;
    EXPECT_EQ(moved.lowerBound(0, size, static_cast<uint32_t>(3 * (size - 1))), size - 1);
    if (size > 1) {
      EXPECT_EQ(moved.lowerBound(0, size, static_cast<uint32_t>(3 * (size / 2) - 1)), size / 2);
    }
    EXPECT_EQ(moved.lowerBound(0, size, static_cast<uint32_t>(3 * size)), size);
    // A trimmed array holds no more than its values and the block list.
    EXPECT_LE(moved.heldBytes(), size * sizeof(uint32_t) + 64 * sizeof(void*));
  }
}

}  // namespace
