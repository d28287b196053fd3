// A growable array of trivially copyable values, kept in blocks of a fixed
// number of values, for the large arrays an index is built into.
//
// Growing adds a block and never moves the values already held, so building
// an array touches no more memory than it finally holds, however large it
// grows; and as each block is small, freed blocks go back to the heap for
// the next array instead of back to the system. trim() gives back the unused
// end of the last block. A SegmentedArray owns its blocks and frees them when
// destroyed; it can be moved, not copied. Growing throws std::bad_alloc when
// no memory is left (the array is then as it was).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

// The first position in [from, to) whose value (`at(position)`) is not less
// than `value`, or `to`; the values there must be ascending.
template <typename T, typename At>
size_t lowerBoundOf(size_t from, size_t to, const T& value, At at) {
  while (from < to) {
    const size_t middle = from + (to - from) / 2;
    if (at(middle) < value) {
      from = middle + 1;
    } else {
      to = middle;
    }
  }
  return from;
}

template <typename T>
class SegmentedArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  // Values a block holds: blocks of at most 64 KiB stay below the size at
  // which the C library maps memory of its own for an allocation.
  static constexpr size_t kBlockShift = 13;
  static constexpr size_t kBlockValues = size_t{1} << kBlockShift;

  SegmentedArray() = default;
  SegmentedArray(SegmentedArray&& other) noexcept { *this = std::move(other); }
  SegmentedArray& operator=(SegmentedArray&& other) noexcept {
    if (this != &other) {
      blocks_ = std::move(other.blocks_);
      other.blocks_.clear();
      size_ = std::exchange(other.size_, 0);
      lastBlockValues_ = std::exchange(other.lastBlockValues_, 0);
      tail_ = std::exchange(other.tail_, nullptr);
      room_ = std::exchange(other.room_, 0);
    }
    return *this;
  }

  void push_back(T value) {
    if (room_ == 0) makeRoom();
    tail_[size_ & (kBlockValues - 1)] = value;
    --room_;
    ++size_;
  }

  // Gives back the unused end of the last block.
  void trim() {
    const size_t used = size_ & (kBlockValues - 1);
    if (used == 0) return;
    resizeLastBlock(used);
  }

  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& back() { return (*this)[size_ - 1]; }
  T& operator[](size_t at) { return blocks_[at >> kBlockShift].get()[at & (kBlockValues - 1)]; }
  const T& operator[](size_t at) const {
    return blocks_[at >> kBlockShift].get()[at & (kBlockValues - 1)];
  }

  // The first position in [from, to) whose value is not less than `value`,
  // or `to`; the values there must be ascending.
  size_t lowerBound(size_t from, size_t to, T value) const {
    return lowerBoundOf(from, to, value, [this](size_t at) { return (*this)[at]; });
  }

  // The heap bytes held.
  size_t heldBytes() const {
    if (blocks_.empty()) return 0;
    return (blocks_.size() - 1) * kBlockValues * sizeof(T) + lastBlockValues_ * sizeof(T) +
           blocks_.capacity() * sizeof(blocks_[0]);
  }

 private:
  struct Free {
    void operator()(T* block) const { std::free(block); }
  };

  // A new block when the last is full, else the last block's whole room
  // again after a trim.
  void makeRoom() {
    const size_t used = size_ & (kBlockValues - 1);
    if (used == 0) {
      std::unique_ptr<T, Free> block(static_cast<T*>(std::malloc(kBlockValues * sizeof(T))));
      if (!block) throw std::bad_alloc();
      blocks_.push_back(std::move(block));
      tail_ = blocks_.back().get();
      lastBlockValues_ = kBlockValues;
    } else {
      resizeLastBlock(kBlockValues);
    }
    room_ = kBlockValues - used;
  }

  // Shrinking a block from the heap happens in place: nothing is copied.
  void resizeLastBlock(size_t values) {
    void* resized = std::realloc(blocks_.back().get(), values * sizeof(T));
    if (!resized) {
      if (values > lastBlockValues_) throw std::bad_alloc();
      return;  // kept as it was, whole
    }
    (void)blocks_.back().release();
    blocks_.back().reset(static_cast<T*>(resized));
    tail_ = blocks_.back().get();
    lastBlockValues_ = values;
    room_ = values - (size_ & (kBlockValues - 1));
  }

  std::vector<std::unique_ptr<T, Free>> blocks_;
  size_t size_ = 0;
  size_t lastBlockValues_ = 0;  // values the last block has room for
  T* tail_ = nullptr;           // the last block
  size_t room_ = 0;             // values that still fit in it
};
