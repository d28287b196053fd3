// The bytes of a prebuilt index file (see lookup/area_index_file.h for what
// it is and when it is used), shared by its reader and its writer.
//
// A file is a header followed by sections, each of them a packed array of one
// of the types below beginning at a multiple of 8 bytes; the file's length is
// a multiple of 8 too. The header says where each section lies, so their
// order is the writer's to choose (it puts the small ones every search needs
// first, into the head, and each group's area numbers after its keys) and
// changes nothing for the reader. Every number is in the byte order of the
// machine that wrote it, which kByteOrderMark records, so that the reader
// uses the arrays where they lie, without converting anything; an index of
// the other byte order is not read. The layout is the same on 32- and 64-bit
// machines.
//
// The file is read in blocks of kAreaIndexBlockBytes, each checked on its own,
// so that a lookup reads only the blocks its search touches. The head, from
// the start to the end of the block that holds the end of the block checksum
// table (right after the header), is read first and covered by the header's
// checksum (every byte of it after the checksum itself); each later block has
// its own checksum in the table. A file damaged anywhere is thus refused as
// soon as the damaged block is read. Change kAreaIndexFormatVersion with
// any change to these bytes or to what the index builder makes of a text (the
// records it takes, their keys and texts), so that no index made before is
// read with another meaning.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "lookup/area_index.h"

inline constexpr char kAreaIndexMagic[8] = {'Z', 'l', 'v', 'A', 'r', 'e', 'a', 'X'};
inline constexpr uint32_t kByteOrderMark = 0x01020304;
inline constexpr uint32_t kAreaIndexFormatVersion = 2;
inline constexpr size_t kAreaIndexBlockBytes = 4096;

// Where an array lies: its first byte from the start of the file, and how
// many values it holds.
struct AreaIndexExtent {
  uint32_t offset;
  uint32_t count;
};

// The arrays of the keys of one digit count n (AreaIndex::Group): `keys` holds
// 16-bit values for n up to kShortDigits (with `starts`, 32-bit), 32-bit ones
// up to kNarrowDigits and 64-bit ones above; `areas` holds 16-bit area numbers,
// or 32-bit ones when the header's kWideAreas flag is set.
struct AreaIndexGroupExtents {
  AreaIndexExtent keys;
  AreaIndexExtent starts;
  AreaIndexExtent areas;
};

inline constexpr uint32_t kWideAreas = 1;

struct AreaIndexHeader {
  char magic[8];
  uint32_t byteOrder;  // kByteOrderMark as the writer's machine stores it
  uint32_t version;    // kAreaIndexFormatVersion
  uint64_t fileSize;   // of the whole file
  uint64_t checksum;   // areaIndexChecksum of the head's bytes from `textDevice` on

  // The text the index was made from, as an fstat of the descriptor it was
  // read through showed it before and after the reading, and the file clock
  // (host::fileClockNow) read just before that first fstat.
  uint64_t textDevice;
  uint64_t textInode;
  uint32_t textMode;
  uint32_t skippedUnits;  // the keys' skipped part (the calling code), in UTF-16 units
  int64_t textSize;
  int64_t textModifiedNs;
  int64_t textChangedNs;
  int64_t madeAtNs;

  uint32_t flags;
  uint32_t areaCount;     // distinct area texts
  uint32_t textKeyCount;  // prefixes held as text
  uint32_t longestTextKey;
  AreaIndexGroupExtents groups[kMaxNumericDigits + 1];
  AreaIndexExtent textKeyStarts;  // uint32 × (textKeyCount + 1), in units of textKeyUnits
  AreaIndexExtent textKeyUnits;   // char16_t: the prefixes back to back, ascending
  AreaIndexExtent textAreas;      // uint32 × textKeyCount
  AreaIndexExtent areaStarts;     // uint32 × (areaCount + 1), in bytes of areaTexts
  AreaIndexExtent areaTexts;      // the distinct area texts back to back, UTF-8
  // uint64 × the blocks after the head: the checksum of each; it lies right
  // after the header, before every array.
  AreaIndexExtent blockChecksums;
};
static_assert(std::is_trivially_copyable_v<AreaIndexHeader>);
static_assert(sizeof(AreaIndexHeader) % 8 == 0);
static_assert(offsetof(AreaIndexHeader, textDevice) == 32);

// Where the header's checksum starts.
inline constexpr size_t kChecksummedFrom = offsetof(AreaIndexHeader, textDevice);

// Where the head of a file of `fileSize` bytes whose block checksum table
// holds `blocks` checksums ends, and how many blocks follow it.
inline constexpr size_t areaIndexHeadBytes(size_t fileSize, size_t blocks) {
  const size_t tableEnd = sizeof(AreaIndexHeader) + blocks * 8;
  const size_t rounded = (tableEnd + kAreaIndexBlockBytes - 1) / kAreaIndexBlockBytes;
  return rounded * kAreaIndexBlockBytes < fileSize ? rounded * kAreaIndexBlockBytes : fileSize;
}
inline constexpr size_t areaIndexBlocksAfterHead(size_t fileSize, size_t headBytes) {
  return (fileSize - headBytes + kAreaIndexBlockBytes - 1) / kAreaIndexBlockBytes;
}

// A checksum of `words` 8-byte words at `data` (8-aligned), as the writer's
// machine reads them: four lanes of multiply-rotate rounds, so that it runs
// at memory speed and any change of any bit changes it.
uint64_t areaIndexChecksum(const uint64_t* data, size_t words);

// Sets the header's checksum and every block's in the `size` bytes of an
// index file at `words` whose header and block checksum table are filled in
// (the writer's last step; tests use it to get a change past the checks).
void sealAreaIndex(uint64_t* words, size_t size);
