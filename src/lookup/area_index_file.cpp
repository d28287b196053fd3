#include "lookup/area_index_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include "host/foundation/files.h"
#include "host/foundation/unicode.h"
#include "lookup/area_index_layout.h"
#include "lookup/area_index_search.h"

namespace {

constexpr uint64_t kPrime1 = 0x9E3779B185EBCA87ull;
constexpr uint64_t kPrime2 = 0xC2B2AE3D27D4EB4Full;
constexpr uint64_t kPrime3 = 0x165667B19E3779F9ull;
constexpr uint64_t kPrime4 = 0x85EBCA77C2B2AE63ull;

uint64_t round(uint64_t lane, uint64_t word) {
  return std::rotl(lane + word * kPrime2, 31) * kPrime1;
}

// The header's fields that say what the bytes are, before anything else is
// believed, for a file of `size` bytes whose first `available` are at
// `bytes` (8-aligned): at least the header. Gives where the head ends.
bool readHeader(const void* bytes, size_t available, size_t size, AreaIndexHeader& header,
                size_t& headBytes) {
  if (available < sizeof(AreaIndexHeader) || size % 8 != 0 ||
      reinterpret_cast<uintptr_t>(bytes) % 8 != 0) {
    return false;
  }
  std::memcpy(&header, bytes, sizeof header);
  if (std::memcmp(header.magic, kAreaIndexMagic, sizeof header.magic) != 0 ||
      header.byteOrder != kByteOrderMark || header.version != kAreaIndexFormatVersion ||
      header.fileSize != size || header.blockChecksums.offset != sizeof(AreaIndexHeader) ||
      uint64_t{header.blockChecksums.count} * kAreaIndexBlockBytes > size) {
    return false;
  }
  headBytes = areaIndexHeadBytes(size, header.blockChecksums.count);
  return sizeof(AreaIndexHeader) + size_t{header.blockChecksums.count} * 8 <= headBytes &&
         areaIndexBlocksAfterHead(size, headBytes) == header.blockChecksums.count;
}

uint64_t headChecksum(const void* bytes, size_t headBytes) {
  return areaIndexChecksum(static_cast<const uint64_t*>(bytes) + kChecksummedFrom / 8,
                           (headBytes - kChecksummedFrom) / 8);
}

// The checksum block `block` (counted from the head's end) must have.
uint64_t recordedBlockChecksum(const void* bytes, size_t block) {
  uint64_t recorded;
  std::memcpy(&recorded,
              static_cast<const unsigned char*>(bytes) + sizeof(AreaIndexHeader) + block * 8,
              sizeof recorded);
  return recorded;
}

uint64_t blockChecksum(const void* bytes, size_t size, size_t headBytes, size_t block) {
  const size_t from = headBytes + block * kAreaIndexBlockBytes;
  const size_t to = std::min(size, from + kAreaIndexBlockBytes);
  return areaIndexChecksum(static_cast<const uint64_t*>(bytes) + from / 8, (to - from) / 8);
}

}  // namespace

AreaIndexStamp stampOf(const host::FileVersion& text, int64_t madeAtNs, size_t skippedUnits) {
  AreaIndexStamp stamp;
  stamp.device = static_cast<uint64_t>(text.device);
  stamp.inode = static_cast<uint64_t>(text.inode);
  stamp.mode = static_cast<uint32_t>(text.mode);
  stamp.size = static_cast<int64_t>(text.size);
  stamp.modifiedNs = text.modifiedNs;
  stamp.changedNs = text.changedNs;
  stamp.madeAtNs = madeAtNs;
  stamp.skippedUnits = skippedUnits;
  return stamp;
}

namespace {

AreaIndexStamp stampOf(const AreaIndexHeader& header) {
  AreaIndexStamp stamp;
  stamp.device = header.textDevice;
  stamp.inode = header.textInode;
  stamp.mode = header.textMode;
  stamp.size = header.textSize;
  stamp.modifiedNs = header.textModifiedNs;
  stamp.changedNs = header.textChangedNs;
  stamp.madeAtNs = header.madeAtNs;
  stamp.skippedUnits = header.skippedUnits;
  return stamp;
}

// Places the arrays of an index file whose header has been read, checking
// each one's place and shape.
class Placer {
 public:
  Placer(const void* bytes, size_t size, size_t from, AreaIndexPages* pages)
      : base_(static_cast<const unsigned char*>(bytes)), size_(size), from_(from), pages_(pages) {}

  // The array `extent` describes, if it lies within the file after the
  // header and the block checksums, aligned for its values, and holds
  // `count` of them.
  template <typename T>
  bool place(const AreaIndexExtent& extent, uint64_t count, FlatArray<T>& array) {
    const uint64_t end = uint64_t{extent.offset} + uint64_t{extent.count} * sizeof(T);
    if (extent.count != count || extent.offset < from_ || extent.offset % alignof(T) != 0 ||
        end > size_) {
      return false;
    }
    array.values = reinterpret_cast<const T*>(base_ + extent.offset);
    array.count = extent.count;
    array.pages = pages_;
    array.offset = extent.offset;
    return true;
  }

 private:
  const unsigned char* base_;
  size_t size_;
  size_t from_;
  AreaIndexPages* pages_;
};

// Whether the values are ascending or equal, the last at most `limit`.
bool rising(const FlatArray<uint32_t>& values, uint64_t limit) {
  for (size_t i = 0; i < values.count; ++i) {
    if (values[i] > limit || (i > 0 && values[i] < values[i - 1])) return false;
  }
  return true;
}

bool placeGroup(Placer& placer, const AreaIndexGroupExtents& extents, size_t digits, bool wideAreas,
                FlatAreaIndex::Group& group) {
  const uint32_t keys = extents.keys.count;
  group.keyCount = keys;
  const bool areasPlaced = wideAreas ? placer.place(extents.areas, keys, group.areas)
                                     : placer.place(extents.areas, keys, group.smallAreas);
  if (!areasPlaced) return false;
  if (digits <= kShortDigits) {
    // The table of where each value of the upper bits begins: none without
    // keys, else at least one value of the bits and the end.
    const uint32_t starts = extents.starts.count;
    if ((keys == 0) != (starts == 0) || starts == 1) return false;
    return placer.place(extents.keys, keys, group.shortKeys) &&
           placer.place(extents.starts, starts, group.shortStarts);
  }
  if (extents.starts.count != 0) return false;
  if (digits <= kNarrowDigits) return placer.place(extents.keys, keys, group.narrowKeys);
  return placer.place(extents.keys, keys, group.wideKeys);
}

bool validUtf8(const char* text, size_t size) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  const auto* end = p + size;
  while (p < end) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    char32_t codePoint;
    const size_t length = host::decodeUtf8(p, end, codePoint);
    if (length == 0) return false;
    p += length;
  }
  return true;
}

// Places every array of the index whose header is `header`, in the `size`
// bytes at `bytes`, read in as `pages` reads them (none: all there). With
// `whole`, also checks what only the whole file shows: that the start
// tables rise and every area text is UTF-8; read block by block, the search
// checks those where it meets them. Stops at the first that does not fit.
bool placeEachArray(const AreaIndexHeader& header, const void* bytes, size_t size,
                    AreaIndexPages* pages, bool whole, FlatAreaIndex& index) {
  if ((header.flags & ~kWideAreas) != 0) return false;
  const bool wideAreas = (header.flags & kWideAreas) != 0;

  Placer placer(bytes, size, sizeof(AreaIndexHeader) + size_t{header.blockChecksums.count} * 8,
                pages);
  // Placed where it is kept: the tables are some kilobytes.
  FlatAreaIndex& placed = index;
  placed = {};
  for (size_t digits = 0; digits < placed.groups.size(); ++digits) {
    if (!placeGroup(placer, header.groups[digits], digits, wideAreas, placed.groups[digits]) ||
        (whole && !rising(placed.groups[digits].shortStarts, placed.groups[digits].keyCount))) {
      return false;
    }
    if (placed.groups[digits].keyCount > 0) placed.numericLengths |= uint32_t{1} << digits;
  }
  if (!placer.place(header.textKeyStarts, uint64_t{header.textKeyCount} + 1,
                    placed.textKeyStarts) ||
      !placer.place(header.textKeyUnits, header.textKeyUnits.count, placed.textKeyUnits) ||
      !placer.place(header.textAreas, header.textKeyCount, placed.textAreas) ||
      !placer.place(header.areaStarts, uint64_t{header.areaCount} + 1, placed.areaStarts) ||
      !placer.place(header.areaTexts, header.areaTexts.count, placed.areaTexts)) {
    return false;
  }
  if (whole) {
    if (!rising(placed.textKeyStarts, placed.textKeyUnits.count) ||
        !rising(placed.areaStarts, placed.areaTexts.count)) {
      return false;
    }
    // Each area text is UTF-8 on its own, as the text it came from was.
    for (size_t area = 0; area < header.areaCount; ++area) {
      const uint32_t begin = placed.areaStarts[area];
      if (!validUtf8(placed.areaTexts.values + begin, placed.areaStarts[area + 1] - begin)) {
        return false;
      }
    }
  }
  placed.longestTextKey = header.longestTextKey;
  return true;
}

// As placeEachArray, leaving `index` empty when the arrays do not fit.
bool placeArrays(const AreaIndexHeader& header, const void* bytes, size_t size,
                 AreaIndexPages* pages, bool whole, FlatAreaIndex& index) {
  if (placeEachArray(header, bytes, size, pages, whole, index)) return true;
  index = {};
  return false;
}

}  // namespace

uint64_t areaIndexChecksum(const uint64_t* data, size_t words) {
  uint64_t lanes[4] = {kPrime1 + kPrime2, kPrime2, 0, 0 - kPrime1};
  size_t at = 0;
  for (; at + 4 <= words; at += 4) {
    for (size_t lane = 0; lane < 4; ++lane) lanes[lane] = round(lanes[lane], data[at + lane]);
  }
  uint64_t hash = std::rotl(lanes[0], 1) + std::rotl(lanes[1], 7) + std::rotl(lanes[2], 12) +
                  std::rotl(lanes[3], 18);
  for (uint64_t lane : lanes) hash = (hash ^ round(0, lane)) * kPrime1 + kPrime4;
  hash += static_cast<uint64_t>(words) * 8;
  for (; at < words; ++at) hash = std::rotl(hash ^ round(0, data[at]), 27) * kPrime1 + kPrime4;
  hash ^= hash >> 33;
  hash *= kPrime2;
  hash ^= hash >> 29;
  hash *= kPrime3;
  return hash ^ (hash >> 32);
}

std::string areaIndexPathOf(std::string_view textPath) {
  if (textPath.ends_with(".txt")) textPath.remove_suffix(4);
  return std::string(textPath) + ".idx";
}

void sealAreaIndex(uint64_t* words, size_t size) {
  AreaIndexHeader header;
  std::memcpy(&header, words, sizeof header);
  const size_t headBytes = areaIndexHeadBytes(size, header.blockChecksums.count);
  for (size_t block = 0; block < header.blockChecksums.count; ++block) {
    words[sizeof(AreaIndexHeader) / 8 + block] = blockChecksum(words, size, headBytes, block);
  }
  words[offsetof(AreaIndexHeader, checksum) / 8] = headChecksum(words, headBytes);
}

bool openAreaIndexBytes(const void* bytes, size_t size, FlatAreaIndex& index,
                        AreaIndexStamp& stamp) {
  index = {};
  AreaIndexHeader header;
  size_t headBytes = 0;
  if (!readHeader(bytes, size, size, header, headBytes) ||
      headChecksum(bytes, headBytes) != header.checksum) {
    return false;
  }
  for (size_t block = 0; block < header.blockChecksums.count; ++block) {
    if (blockChecksum(bytes, size, headBytes, block) != recordedBlockChecksum(bytes, block)) {
      return false;
    }
  }
  if (!placeArrays(header, bytes, size, nullptr, true, index)) return false;
  stamp = stampOf(header);
  return true;
}

bool stampMatchesText(const AreaIndexStamp& stamp, const host::FileVersion& text,
                      size_t skippedUnits) {
  host::FileVersion recorded;
  recorded.present = true;
  recorded.modifiedNs = stamp.modifiedNs;
  recorded.changedNs = stamp.changedNs;
  return text.present && stamp.skippedUnits == skippedUnits &&
         stamp.device == static_cast<uint64_t>(text.device) &&
         stamp.inode == static_cast<uint64_t>(text.inode) &&
         stamp.mode == static_cast<uint32_t>(text.mode) &&
         stamp.size == static_cast<int64_t>(text.size) && stamp.modifiedNs == text.modifiedNs &&
         stamp.changedNs == text.changedNs &&
         host::trustedUntil(recorded, stamp.madeAtNs) == INT64_MAX;
}

namespace {

// Buffers are block-aligned, each block on a page of its own (on a system
// with pages of 4 KB or more): reading one in then makes one new page of
// memory, not two.
size_t bufferBytes(size_t size) {
  return (size + kAreaIndexBlockBytes - 1) / kAreaIndexBlockBytes * kAreaIndexBlockBytes;
}

// From this size on, a buffer is mapped from the system rather than taken
// from the C library, which maps one this large too (until it has learnt to
// keep such sizes) but writes its bookkeeping in front of it: one more page
// of memory, which no block needs.
constexpr size_t kMappedBufferBytes = 64 * kAreaIndexBlockBytes;

// The mapped buffer of the last index dropped, kept with the pages it made
// for the next large index read in, as the C library keeps memory it gets
// back: a long-running process that reads an index again (its text changed,
// or the cache let it go) then makes no new pages for it. One buffer at
// most, the largest.
struct SpareBuffer {
  unsigned char* bytes = nullptr;
  size_t mapped = 0;
};
std::mutex spareLock;
SpareBuffer spare;

// A buffer for `size` bytes; `mapped` gets the bytes mapped for it, 0 when
// it comes from the C library. Null when there is no memory.
unsigned char* allocateBuffer(size_t size, size_t& mapped) {
  const size_t bytes = bufferBytes(size);
  mapped = 0;
  if (bytes < kMappedBufferBytes) {
    return static_cast<unsigned char*>(std::aligned_alloc(kAreaIndexBlockBytes, bytes));
  }
  SpareBuffer kept;
  {
    std::lock_guard<std::mutex> hold(spareLock);
    if (spare.mapped >= bytes) std::swap(kept, spare);
  }
  if (kept.bytes) {
    mapped = kept.mapped;
    return kept.bytes;
  }
  void* fresh = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (fresh == MAP_FAILED) return nullptr;
  mapped = bytes;
  return static_cast<unsigned char*>(fresh);
}

void freeBuffer(unsigned char* buffer, size_t mapped) {
  if (!buffer) return;
  if (mapped == 0) {
    std::free(buffer);
    return;
  }
  SpareBuffer dropped{buffer, mapped};
  {
    // The larger of the two is kept.
    std::lock_guard<std::mutex> hold(spareLock);
    if (dropped.mapped > spare.mapped) std::swap(dropped, spare);
  }
  if (dropped.bytes) ::munmap(dropped.bytes, dropped.mapped);
}

}  // namespace

AreaIndexPages::AreaIndexPages(std::string path, const host::FileVersion& version, size_t size)
    : path_(std::move(path)),
      version_(version),
      size_(size),
      bytes_(allocateBuffer(size, mapped_)),
      present_((size + 64 * kAreaIndexBlockBytes - 1) / (64 * kAreaIndexBlockBytes), 0) {}

AreaIndexPages::~AreaIndexPages() {
  release();
  freeBuffer(bytes_, mapped_);
}

size_t AreaIndexPages::blocksRead() const {
  size_t count = 0;
  for (uint64_t word : present_) count += static_cast<size_t>(std::popcount(word));
  return count;
}

void AreaIndexPages::markAreaChecked(uint32_t area) {
  if (area / 64 >= checkedAreas_.size()) checkedAreas_.resize(area / 64 + 1, 0);
  checkedAreas_[area / 64] |= uint64_t{1} << (area % 64);
}

void AreaIndexPages::release() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool AreaIndexPages::readAt(size_t offset, size_t length) {
  if (fd_ < 0) {
    // Opened again for this search: it must still be the file whose head
    // was read, or its blocks could belong to another index.
    host::FileProblem problem;
    uint64_t size = 0;
    fd_ = host::openRegularFile(path_, problem, size);
    if (fd_ < 0 || !(host::fstatFileVersion(fd_) == version_)) return false;
  }
  size_t filled = 0;
  while (filled < length) {
    const ssize_t got = ::pread(fd_, bytes_ + offset + filled, length - filled,
                                static_cast<off_t>(offset + filled));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    filled += static_cast<size_t>(got);
  }
  return true;
}

bool AreaIndexPages::readHead(int fd) {
  fd_ = fd;
  if (!bytes_ || size_ < sizeof(AreaIndexHeader)) return false;
  // The first block holds the header, which says how long the head is.
  const size_t first = std::min(size_, kAreaIndexBlockBytes);
  AreaIndexHeader header;
  if (!readAt(0, first) || !readHeader(bytes_, first, size_, header, headBytes_) ||
      (headBytes_ > first && !readAt(first, headBytes_ - first)) ||
      headChecksum(bytes_, headBytes_) != header.checksum) {
    return false;
  }
  for (size_t block = 0; block * kAreaIndexBlockBytes < headBytes_; ++block) {
    markPresent(block);
  }
  return true;
}

bool AreaIndexPages::readBlock(size_t block) {
  const size_t from = block * kAreaIndexBlockBytes;
  const size_t length = std::min(size_ - from, kAreaIndexBlockBytes);
  // Blocks after the head begin at whole blocks (the head is whole blocks
  // unless it is the whole file).
  const size_t counted = (from - headBytes_) / kAreaIndexBlockBytes;
  if (!readAt(from, length) ||
      blockChecksum(bytes_, size_, headBytes_, counted) != recordedBlockChecksum(bytes_, counted)) {
    failed_ = true;
    return false;
  }
  markPresent(block);
  return true;
}

namespace {

// Empties `prebuilt` in place (it is some kilobytes, not to be made anew on
// the stack).
void clearPrebuiltAreaIndex(PrebuiltAreaIndex& prebuilt) {
  prebuilt.pages.reset();
  prebuilt.bytes = 0;
  prebuilt.index = {};
}

}  // namespace

bool openAreaIndexFile(const std::string& indexPath, size_t maxBytes, PrebuiltAreaIndex& into,
                       AreaIndexStamp& stamp) {
  clearPrebuiltAreaIndex(into);
  host::FileProblem problem;
  uint64_t size = 0;
  const int fd = host::openRegularFile(indexPath, problem, size);
  if (fd < 0) return false;
  if (size < sizeof(AreaIndexHeader) || size > maxBytes) {
    ::close(fd);
    return false;
  }
  auto pages = std::make_unique<AreaIndexPages>(indexPath, host::fstatFileVersion(fd),
                                                static_cast<size_t>(size));
  // The pages own the descriptor from here on.
  AreaIndexHeader header;
  if (!pages->readHead(fd)) return false;
  std::memcpy(&header, pages->bytes(), sizeof header);
  if (!placeArrays(header, pages->bytes(), pages->size(), pages.get(), false, into.index)) {
    return false;
  }
  stamp = stampOf(header);
  into.bytes = pages->size();
  into.pages = std::move(pages);
  return true;
}

bool loadPrebuiltAreaIndex(const std::string& indexPath, const host::FileVersion& text,
                           size_t skippedUnits, size_t maxBytes, PrebuiltAreaIndex& into) {
  AreaIndexStamp stamp;
  if (openAreaIndexFile(indexPath, maxBytes, into, stamp) &&
      stampMatchesText(stamp, text, skippedUnits)) {
    return true;
  }
  clearPrebuiltAreaIndex(into);
  return false;
}

// How the search reads a loaded index.
size_t textKeyCount(const FlatAreaIndex& index) {
  return index.textAreas.count;
}
std::u16string_view textKeyAt(const FlatAreaIndex& index, size_t at) {
  return index.textKeyUnits.range(index.textKeyStarts[at], index.textKeyStarts[at + 1])
      .value_or(std::u16string_view());
}
uint32_t textAreaAt(const FlatAreaIndex& index, size_t at) {
  return index.textAreas[at];
}
std::optional<std::string_view> areaTextAt(const FlatAreaIndex& index, uint32_t area) {
  // Area numbers are not checked when the file is read: here, at the one
  // place they are used; so is the text, which a file read block by block
  // has not shown whole.
  if (uint64_t{area} + 1 >= index.areaStarts.count) return std::nullopt;
  std::optional<std::string_view> text =
      index.areaTexts.range(index.areaStarts[area], index.areaStarts[area + 1]);
  AreaIndexPages* pages = index.areaTexts.pages;
  if (text && pages && !pages->areaChecked(area)) {
    if (!validUtf8(text->data(), text->size())) {
      pages->fail();
      return std::nullopt;
    }
    pages->markAreaChecked(area);
  }
  return text;
}

std::optional<std::string_view> findInAreaIndex(const FlatAreaIndex& index,
                                                std::u16string_view nationalNumber,
                                                size_t* matchedUnits) {
  return area_index_search::find(index, nationalNumber, matchedUnits);
}

std::optional<std::string_view> findInPrebuiltAreaIndex(PrebuiltAreaIndex& prebuilt,
                                                        std::u16string_view nationalNumber,
                                                        size_t* matchedUnits, bool& failed) {
  std::optional<std::string_view> found =
      area_index_search::find(prebuilt.index, nationalNumber, matchedUnits);
  failed = !prebuilt.pages || prebuilt.pages->failed();
  if (prebuilt.pages) prebuilt.pages->release();
  if (failed) return std::nullopt;
  return found;
}
