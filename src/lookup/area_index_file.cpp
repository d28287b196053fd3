#include "lookup/area_index_file.h"

#include <sys/mman.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cstdlib>
#include <cstring>

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
// believed.
bool readHeader(const void* bytes, size_t size, AreaIndexHeader& header) {
  if (size < sizeof(AreaIndexHeader) || size % 8 != 0 ||
      reinterpret_cast<uintptr_t>(bytes) % 8 != 0) {
    return false;
  }
  std::memcpy(&header, bytes, sizeof header);
  return std::memcmp(header.magic, kAreaIndexMagic, sizeof header.magic) == 0 &&
         header.byteOrder == kByteOrderMark && header.version == kAreaIndexFormatVersion &&
         header.fileSize == size;
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
  Placer(const void* bytes, size_t size)
      : base_(static_cast<const unsigned char*>(bytes)), size_(size) {}

  // The array `extent` describes, if it lies within the file after the
  // header, aligned for its values, and holds `count` of them.
  template <typename T>
  bool place(const AreaIndexExtent& extent, uint64_t count, FlatArray<T>& array) {
    const uint64_t end = uint64_t{extent.offset} + uint64_t{extent.count} * sizeof(T);
    if (extent.count != count || extent.offset < sizeof(AreaIndexHeader) ||
        extent.offset % alignof(T) != 0 || end > size_) {
      return false;
    }
    array.values = reinterpret_cast<const T*>(base_ + extent.offset);
    array.count = extent.count;
    return true;
  }

 private:
  const unsigned char* base_;
  size_t size_;
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
           placer.place(extents.starts, starts, group.shortStarts) &&
           rising(group.shortStarts, keys);
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

// From this size on, the pages of the buffer are all made by one system call
// (see PrebuiltAreaIndex).
constexpr size_t kPopulatedFrom = size_t{64} << 10;

std::unique_ptr<void, PrebuiltIndexFree> allocate(size_t size) {
  std::unique_ptr<void, PrebuiltIndexFree> bytes(std::malloc(size));
#if defined(MADV_POPULATE_WRITE)
  if (bytes && size >= kPopulatedFrom) {
    // Only whole pages inside the buffer; a kernel without the advice
    // refuses it, and the read then makes the pages as it fills them.
    const uintptr_t page = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    const uintptr_t begin = reinterpret_cast<uintptr_t>(bytes.get());
    const uintptr_t from = (begin + page - 1) & ~(page - 1);
    const uintptr_t to = (begin + size) & ~(page - 1);
    if (to > from) ::madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
  }
#endif
  return bytes;
}

// Closes the descriptor when it goes.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

void PrebuiltIndexFree::operator()(void* bytes) const {
  std::free(bytes);
}

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

bool openAreaIndexBytes(const void* bytes, size_t size, FlatAreaIndex& index,
                        AreaIndexStamp& stamp) {
  index = FlatAreaIndex{};
  AreaIndexHeader header;
  if (!readHeader(bytes, size, header)) return false;
  const auto* words = static_cast<const uint64_t*>(bytes);
  if (areaIndexChecksum(words + kChecksummedFrom / 8, (size - kChecksummedFrom) / 8) !=
      header.checksum) {
    return false;
  }
  if ((header.flags & ~kWideAreas) != 0) return false;
  const bool wideAreas = (header.flags & kWideAreas) != 0;

  Placer placer(bytes, size);
  FlatAreaIndex placed;
  for (size_t digits = 0; digits < placed.groups.size(); ++digits) {
    if (!placeGroup(placer, header.groups[digits], digits, wideAreas, placed.groups[digits])) {
      return false;
    }
    if (placed.groups[digits].keyCount > 0) placed.numericLengths |= uint32_t{1} << digits;
  }

  FlatArray<char16_t> units;
  FlatArray<char> texts;
  if (!placer.place(header.textKeyStarts, uint64_t{header.textKeyCount} + 1,
                    placed.textKeyStarts) ||
      !placer.place(header.textKeyUnits, header.textKeyUnits.count, units) ||
      !rising(placed.textKeyStarts, units.count) ||
      !placer.place(header.textAreas, header.textKeyCount, placed.textAreas) ||
      !placer.place(header.areaStarts, uint64_t{header.areaCount} + 1, placed.areaStarts) ||
      !placer.place(header.areaTexts, header.areaTexts.count, texts) ||
      !rising(placed.areaStarts, texts.count)) {
    return false;
  }
  // Each area text is UTF-8 on its own, as the text it came from was.
  for (size_t area = 0; area < header.areaCount; ++area) {
    const uint32_t begin = placed.areaStarts[area];
    if (!validUtf8(texts.values + begin, placed.areaStarts[area + 1] - begin)) return false;
  }
  placed.textKeyUnits = units.values;
  placed.areaTexts = texts.values;
  placed.longestTextKey = header.longestTextKey;
  index = placed;
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

bool loadPrebuiltAreaIndex(const std::string& indexPath, const host::FileVersion& text,
                           size_t skippedUnits, size_t maxBytes, PrebuiltAreaIndex& into) {
  into = PrebuiltAreaIndex{};
  host::FileProblem problem;
  uint64_t size = 0;
  const Descriptor file{host::openRegularFile(indexPath, problem, size)};
  if (file.fd < 0 || size < sizeof(AreaIndexHeader) || size > maxBytes) return false;
  PrebuiltAreaIndex loaded;
  loaded.storage = allocate(static_cast<size_t>(size));
  if (!loaded.storage) return false;
  loaded.bytes = static_cast<size_t>(size);
  ssize_t got;
  do {
    got = ::read(file.fd, loaded.storage.get(), loaded.bytes);
  } while (got < 0 && errno == EINTR);
  if (got < 0 || static_cast<size_t>(got) != loaded.bytes) return false;
  // The cheap checks first: an index of another text version is common
  // (the text was edited), and needs no checksum to be refused.
  AreaIndexHeader header;
  if (!readHeader(loaded.storage.get(), loaded.bytes, header) ||
      !stampMatchesText(stampOf(header), text, skippedUnits)) {
    return false;
  }
  AreaIndexStamp stamp;
  if (!openAreaIndexBytes(loaded.storage.get(), loaded.bytes, loaded.index, stamp)) return false;
  into = std::move(loaded);
  return true;
}

// How the search reads a loaded index.
size_t textKeyCount(const FlatAreaIndex& index) {
  return index.textAreas.count;
}
std::u16string_view textKeyAt(const FlatAreaIndex& index, size_t at) {
  const uint32_t begin = index.textKeyStarts[at];
  return {index.textKeyUnits + begin, index.textKeyStarts[at + 1] - begin};
}
uint32_t textAreaAt(const FlatAreaIndex& index, size_t at) {
  return index.textAreas[at];
}
std::optional<std::string_view> areaTextAt(const FlatAreaIndex& index, uint32_t area) {
  // Area numbers are not checked when the file is read: here, at the one
  // place they are used.
  if (uint64_t{area} + 1 >= index.areaStarts.count) return std::nullopt;
  const uint32_t begin = index.areaStarts[area];
  return std::string_view(index.areaTexts + begin, index.areaStarts[area + 1] - begin);
}

std::optional<std::string_view> findInAreaIndex(const FlatAreaIndex& index,
                                                std::u16string_view nationalNumber,
                                                size_t* matchedUnits) {
  return area_index_search::find(index, nationalNumber, matchedUnits);
}
