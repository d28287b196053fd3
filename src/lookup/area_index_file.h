// A prebuilt index of an area-code file: the index the lookup would build
// from the text (lookup/area_index.h), made ahead of time by the build and by
// `zelvora data install` and kept beside the text, "86.idx" beside "86.txt"
// (areaIndexPathOf). When a lookup would read and index a text, it reads the
// text's index file instead, with one read() into a buffer of its own (never a
// mapping, so a file cut short meanwhile cannot fault the host), and searches
// it where it lies. It answers exactly as the index built from the text does:
// same keys, same area texts. The library only reads these files; it never
// writes one (lookup/area_index_writer.h makes them).
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
// An index file that is shorter or longer than its header says, damaged
// anywhere (its checksum covers every byte after the checksum itself), of
// another format version or byte order, made for another calling code's
// length, or whose arrays do not lie within it in the shapes the search needs,
// is not used either: the only effect of a bad index is the time the lookup
// spends reading the text instead.
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

#include "host/foundation/file_version.h"
#include "lookup/area_index.h"

// A packed array inside a loaded index file.
template <typename T>
struct FlatArray {
  const T* values = nullptr;
  size_t count = 0;

  size_t size() const { return count; }
  bool empty() const { return count == 0; }
  const T& operator[](size_t at) const { return values[at]; }
  // As SegmentedArray::lowerBound.
  size_t lowerBound(size_t from, size_t to, T value) const {
    while (from < to) {
      const size_t middle = from + (to - from) / 2;
      if (values[middle] < value) {
        from = middle + 1;
      } else {
        to = middle;
      }
    }
    return from;
  }
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
  const char16_t* textKeyUnits = nullptr;
  FlatArray<uint32_t> textAreas;
  size_t longestTextKey = 0;
  FlatArray<uint32_t> areaStarts;
  const char* areaTexts = nullptr;
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

// An index file read into memory; it owns its bytes (from malloc), which do
// not move when it is moved. For a large file, the pages of memory the
// process has not used yet are all made by one system call before the read,
// rather than one page fault at a time as the read fills them, which costs a
// new process more. The index file itself is never mapped.
struct PrebuiltIndexFree {
  void operator()(void* bytes) const;
};
struct PrebuiltAreaIndex {
  std::unique_ptr<void, PrebuiltIndexFree> storage;
  size_t bytes = 0;
  FlatAreaIndex index;
};

// Reads the index file at `indexPath` (a regular file of at most `maxBytes`,
// opened without blocking, read with one read()) and keeps it in `into` when
// it is sound and belongs to the text whose current version is `text`.
// Returns false, leaving `into` empty, for a missing, unreadable, unsound or
// foreign index.
bool loadPrebuiltAreaIndex(const std::string& indexPath, const host::FileVersion& text,
                           size_t skippedUnits, size_t maxBytes, PrebuiltAreaIndex& into);

// As findInAreaIndex, for a loaded index.
std::optional<std::string_view> findInAreaIndex(const FlatAreaIndex& index,
                                                std::u16string_view nationalNumber,
                                                size_t* matchedUnits = nullptr);
