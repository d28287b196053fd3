// A prebuilt index of an area-code file: the index the lookup would build
// from the text (lookup/area_index.h), made ahead of time by the build and by
// `zelvora data install` and kept beside the text, "86.idx" beside "86.txt"
// (areaIndexPathOf). When a lookup would read and index a text, it uses the
// text's index file instead, read with pread() into a buffer of its own
// (never a mapping, so a file cut short meanwhile cannot fault the host), and
// searches it where it lies. Only the head (the header and the small arrays
// after it) is read at first; every other block of the file is read when a
// search first touches it, so a new process's first lookup reads a few pages
// rather than the whole index. It answers exactly as the index built from the
// text does: same keys, same area texts. The library only reads these files;
// it never writes one (lookup/area_index_writer.h makes them).
//
// Which text an index belongs to. The index records the version of the text
// it was made from: device, inode, mode, size, and modification and change
// times to the nanosecond, as fstat showed them on the descriptor the text was
// read through both before and after the reading, and the file clock read just
// before the first fstat. A lookup uses the index only when the text's version
// (the stat the lookup takes anyway) is exactly the recorded one and the
// recorded times were settled at the recorded moment (host::trustedUntil).
// This cannot pass for a text changed since the index was made:
//   - every change to a file's bytes (write, truncate) or to its metadata sets
//     its change time to the current time, and no program can set it to any
//     other value;
//   - a text replaced by a copy, or renamed over from elsewhere, is another
//     inode, and a file made later on a reused inode number has the change
//     time of its making;
//   - a change within the same clock tick as the reading could leave the times
//     unchanged, but settled times are older than the recorded moment by more
//     than a tick of the clock file times come from, so a change made after
//     that moment gets a later change time, and one made before it shows in
//     the fstat taken after it.
// What it cannot see is what the area cache cannot see either: the wall
// clock set back, and writes through a shared mapping opened before the index
// was made, which show in the times only once the kernel has written the page
// back. Size and a fingerprint of the content were not chosen: proving them
// means reading and hashing the whole text, the very work the index saves.
// Any other text (an edit, a copy, a same-size rewrite, a touch) makes the
// lookup ignore the index and read the text as before.
//
// An index file that is shorter or longer than its header says, of another
// format version or byte order, made for another calling code's length, or
// whose arrays do not lie within it in the shapes the search needs, is not
// used either. Damage is found when the damaged block is read (each block has
// its checksum, the head is covered by the header's), and so is an index file
// replaced or changed after its head was read (its version, as fstat shows it,
// must stay the one first read), as are values that point outside their
// arrays and area texts that are not UTF-8: the search that meets any of them
// gives up, and the lookup drops the index and reads the text instead. The
// only effect of a bad index is the time that costs.
//
// Nothing here raises; loading gives up when it cannot allocate.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/foundation/file_version.h"
#include "lookup/area_index.h"
#include "lookup/area_index_layout.h"

class AreaIndexPages;

// The most blocks a search range may span to be read in whole.
inline constexpr size_t kDirectSearchBlocks = 4;

// A packed array inside a loaded index file. When the file is read block by
// block (`pages` set), each value is read in before it is used; a value that
// cannot be (a damaged block, a changed file) reads as zero and marks the
// pages failed, as does a range outside the array.
template <typename T>
struct FlatArray {
  const T* values = nullptr;
  size_t count = 0;
  AreaIndexPages* pages = nullptr;
  size_t offset = 0;  // of values[0] in the file

  size_t size() const { return count; }
  bool empty() const { return count == 0; }
  const T& operator[](size_t at) const;
  // As SegmentedArray::lowerBound. A range of at most kDirectSearchBlocks
  // blocks (a bucket of keys) is read in whole and searched without asking
  // at each value, as warm lookups then do; a longer one is read in along
  // the search's path.
  size_t lowerBound(size_t from, size_t to, T value) const;
  // The values from `begin` to `end`, read in; none when the range is outside
  // the array or cannot be read.
  std::optional<std::basic_string_view<T>> range(size_t begin, size_t end) const;

 private:
  // operator[] for a value not read in yet or outside the array.
  const T& readIn(size_t at) const;
  void failed() const;
};

// The arrays of AreaIndex, as they lie in a loaded index file.
struct FlatAreaIndex {
  struct Group {
    FlatArray<uint16_t> shortKeys;
    FlatArray<uint32_t> shortStarts;
    FlatArray<uint32_t> narrowKeys;
    FlatArray<uint64_t> wideKeys;
    FlatArray<uint16_t> smallAreas;
    FlatArray<uint32_t> areas;
    size_t keyCount = 0;
  };
  std::array<Group, kMaxNumericDigits + 1> groups;
  uint32_t numericLengths = 0;
  FlatArray<uint32_t> textKeyStarts;
  FlatArray<char16_t> textKeyUnits;
  FlatArray<uint32_t> textAreas;
  size_t longestTextKey = 0;
  FlatArray<uint32_t> areaStarts;
  FlatArray<char> areaTexts;
};

// What an index file records of the text it was made from (see
// AreaIndexHeader).
struct AreaIndexStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  uint32_t mode = 0;
  int64_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;
  int64_t madeAtNs = 0;
  size_t skippedUnits = 0;
};

// The stamp of an index made at `madeAtNs` from the text version `text`,
// whose keys skip `skippedUnits` units.
AreaIndexStamp stampOf(const host::FileVersion& text, int64_t madeAtNs, size_t skippedUnits);

// The index file's path for the text at `textPath`: its ".txt" replaced by
// ".idx" (or ".idx" added to a name without ".txt").
std::string areaIndexPathOf(std::string_view textPath);

// Checks the `size` bytes at `bytes` (8-aligned) as an index file: magic,
// byte order, format version, size, checksum, and that every array lies
// within the bytes in the shape the search relies on. On success points
// `index` into the bytes (valid while they are) and fills `stamp`.
bool openAreaIndexBytes(const void* bytes, size_t size, FlatAreaIndex& index,
                        AreaIndexStamp& stamp);

// Whether `stamp` proves that its index was made from the text whose current
// stat is `text`, for keys that skip `skippedUnits` UTF-16 units (see above).
bool stampMatchesText(const AreaIndexStamp& stamp, const host::FileVersion& text,
                      size_t skippedUnits);

// The blocks of an index file read so far, into a buffer of the file's size
// (anonymous memory whose pages the process makes only where blocks are
// read; block-aligned, so that a block read in makes one page; a large one is
// mapped from the system, and the last one dropped is kept for the next, its
// pages with it).
// Reading a block opens the file again unless it is open, and checks that it
// is still the version (fstat) whose head was read; the file stays open until
// release(), so that no descriptor is held between lookups. Not copyable; it
// does not move, as the arrays point to it.
class AreaIndexPages {
 public:
  AreaIndexPages(std::string path, const host::FileVersion& version, size_t size);
  ~AreaIndexPages();
  AreaIndexPages(const AreaIndexPages&) = delete;
  AreaIndexPages& operator=(const AreaIndexPages&) = delete;

  // The buffer, null when it could not be allocated.
  unsigned char* bytes() const { return bytes_; }
  size_t size() const { return size_; }
  // Reads the head through `fd` (the open file, left open) and checks it;
  // afterwards the arrays may be placed.
  bool readHead(int fd);
  // Reads in every block of [offset, offset + length); false, and failed()
  // from then on, when one cannot be read or is damaged.
  bool ensure(size_t offset, size_t length) {
    if (length == 0) return !failed_;
    if (failed_ || offset > size_ || length > size_ - offset) {
      failed_ = true;
      return false;
    }
    const size_t first = offset / kAreaIndexBlockBytes;
    const size_t last = (offset + length - 1) / kAreaIndexBlockBytes;
    for (size_t block = first; block <= last; ++block) {
      if (!present(block) && !readBlock(block)) return false;
    }
    return !failed_;
  }
  // Whether the block that holds the byte at `offset` (inside the file) has
  // been read in.
  bool has(size_t offset) const { return present(offset / kAreaIndexBlockBytes); }
  // Whether every block of [offset, offset + length) (inside the file) has
  // been read in; false also for a range of more than kDirectSearchBlocks
  // blocks, not worth asking.
  bool hasAll(size_t offset, size_t length) const {
    if (length == 0) return true;
    const size_t first = offset / kAreaIndexBlockBytes;
    const size_t last = (offset + length - 1) / kAreaIndexBlockBytes;
    if (last - first > kDirectSearchBlocks) return false;
    for (size_t block = first; block <= last; ++block) {
      if (!present(block)) return false;
    }
    return true;
  }
  // Whether the area text numbered `area` was found UTF-8 before; marking
  // it so.
  bool areaChecked(uint32_t area) const {
    return area / 64 < checkedAreas_.size() && (checkedAreas_[area / 64] >> (area % 64) & 1) != 0;
  }
  void markAreaChecked(uint32_t area);
  // Reads in every block: a check of the whole file.
  bool ensureAll() { return size_ == 0 || ensure(0, size_); }
  void fail() { failed_ = true; }
  bool failed() const { return failed_; }
  // How many blocks have been read in, the head's included.
  size_t blocksRead() const;
  // Closes the file, if open.
  void release();

 private:
  bool present(size_t block) const { return (present_[block / 64] >> (block % 64) & 1) != 0; }
  void markPresent(size_t block) { present_[block / 64] |= uint64_t{1} << (block % 64); }
  bool readBlock(size_t block);
  bool readAt(size_t offset, size_t length);

  std::string path_;
  host::FileVersion version_;
  size_t size_;
  size_t mapped_ = 0;  // the bytes mapped for the buffer; 0: from the C library
  unsigned char* bytes_;
  std::vector<uint64_t> present_;
  std::vector<uint64_t> checkedAreas_;
  size_t headBytes_ = 0;
  int fd_ = -1;
  bool failed_ = false;
};

template <typename T>
inline const T& FlatArray<T>::operator[](size_t at) const {
  // Values are aligned to their size, so one never spans two blocks.
  if (at < count && (!pages || pages->has(offset + at * sizeof(T)))) [[likely]] {
    return values[at];
  }
  return readIn(at);
}

template <typename T>
size_t FlatArray<T>::lowerBound(size_t from, size_t to, T value) const {
  // A range of a few blocks (a bucket of keys) is read in whole and searched
  // directly, so that warm lookups do not ask at each value; a longer one is
  // read along the search's path.
  bool direct = from <= to && to <= count;
  if (direct && pages) {
    const size_t begin = offset + from * sizeof(T);
    const size_t length = (to - from) * sizeof(T);
    direct = pages->hasAll(begin, length) ||
             (length <= kDirectSearchBlocks * kAreaIndexBlockBytes && pages->ensure(begin, length));
  }
  if (direct) return lowerBoundOf(from, to, value, [this](size_t at) { return values[at]; });
  return lowerBoundOf(from, to, value, [this](size_t at) { return (*this)[at]; });
}

template <typename T>
[[gnu::noinline]] const T& FlatArray<T>::readIn(size_t at) const {
  static constexpr T kZero{};
  if (at >= count || !pages || !pages->ensure(offset + at * sizeof(T), sizeof(T))) {
    failed();
    return kZero;
  }
  return values[at];
}

template <typename T>
std::optional<std::basic_string_view<T>> FlatArray<T>::range(size_t begin, size_t end) const {
  if (begin > end || end > count) {
    failed();
    return std::nullopt;
  }
  if (begin == end) return std::basic_string_view<T>(values + begin, 0);
  if (pages && !pages->ensure(offset + begin * sizeof(T), (end - begin) * sizeof(T))) {
    return std::nullopt;
  }
  return std::basic_string_view<T>(values + begin, end - begin);
}

template <typename T>
void FlatArray<T>::failed() const {
  if (pages) pages->fail();
}

// An index file as read so far: its pages and the arrays placed in them.
struct PrebuiltAreaIndex {
  std::unique_ptr<AreaIndexPages> pages;
  size_t bytes = 0;  // the file's size
  FlatAreaIndex index;
};

// Opens the index file at `indexPath` (a regular file of at most `maxBytes`,
// opened without blocking), reads its head and keeps it in `into` when the
// head is sound, with its stamp in `stamp`; the rest is read as searches need
// it. The file is left open for the first search (see
// findInPrebuiltAreaIndex). Returns false, leaving `into` empty, for a
// missing, unreadable or unsound index.
bool openAreaIndexFile(const std::string& indexPath, size_t maxBytes, PrebuiltAreaIndex& into,
                       AreaIndexStamp& stamp);

// The same for the index of the text whose current version is `text`, with
// keys that skip `skippedUnits` units: false also for a foreign index.
bool loadPrebuiltAreaIndex(const std::string& indexPath, const host::FileVersion& text,
                           size_t skippedUnits, size_t maxBytes, PrebuiltAreaIndex& into);

// Searches a loaded index as findInAreaIndex does, then closes its file.
// Sets `failed` when the index turned out unusable (see above): the answer
// is then none, and the index is to be dropped.
std::optional<std::string_view> findInPrebuiltAreaIndex(PrebuiltAreaIndex& prebuilt,
                                                        std::u16string_view nationalNumber,
                                                        size_t* matchedUnits, bool& failed);

// As findInAreaIndex, for a loaded index.
std::optional<std::string_view> findInAreaIndex(const FlatAreaIndex& index,
                                                std::u16string_view nationalNumber,
                                                size_t* matchedUnits = nullptr);
