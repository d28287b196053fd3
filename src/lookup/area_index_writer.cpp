#include "lookup/area_index_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <thread>

#include "host/foundation/file_version.h"
#include "host/foundation/files.h"
#include "host/foundation/values.h"
#include "lookup/area_index_layout.h"

namespace fs = std::filesystem;

namespace {

// Appends arrays to an index file, each at a multiple of 8 bytes, after the
// header and room for `blocks` block checksums.
struct Layout {
  explicit Layout(size_t blocks)
      : words((sizeof(AreaIndexHeader) + blocks * 8) / 8, 0), size(words.size() * 8) {}
  AreaIndexBytes words;
  size_t size;

  unsigned char* bytes() { return reinterpret_cast<unsigned char*>(words.data()); }

  // Appends `count` values that `at(i)` gives.
  template <typename T, typename At>
  AreaIndexExtent append(size_t count, At at) {
    const size_t offset = size;
    size += count * sizeof(T);
    words.resize((size + 7) / 8, 0);
    for (size_t i = 0; i < count; ++i) {
      const T value = at(i);
      std::memcpy(bytes() + offset + i * sizeof(T), &value, sizeof(T));
    }
    size = words.size() * 8;
    return {static_cast<uint32_t>(offset), static_cast<uint32_t>(count)};
  }
  template <typename Array>
  AreaIndexExtent appendArray(const Array& array) {
    using T = std::remove_cvref_t<decltype(array[0])>;
    return append<T>(array.size(), [&](size_t i) { return array[i]; });
  }
};

class DescriptorSource : public AreaTextSource {
 public:
  explicit DescriptorSource(int fd) : fd_(fd) {}
  ptrdiff_t read(char* into, size_t capacity) override {
    for (;;) {
      const ssize_t got = ::read(fd_, into, capacity);
      if (got < 0 && errno == EINTR) continue;
      return got;
    }
  }
  bool rewind() override { return ::lseek(fd_, 0, SEEK_SET) == 0; }

 private:
  int fd_;
};

struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

std::optional<host::FileVersion> versionOf(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return host::fileVersionOf(info);
}

}  // namespace

namespace {

// Lays out `index` after room for `blocks` block checksums, which must be as
// many as there are blocks after the head.
AreaIndexBytes encodeWithBlocks(const AreaIndex& index, const AreaIndexStamp& stamp,
                                size_t blocks) {
  Layout layout(blocks);
  AreaIndexHeader header{};
  bool wideAreas = false;
  // The starts of every group first: they are small, and every search reads
  // one of them before its keys, so in the head (which is read anyway) they
  // spare a first lookup a block read each.
  for (size_t digits = 0; digits < index.groups.size(); ++digits) {
    const AreaIndex::Group& group = index.groups[digits];
    header.groups[digits].starts =
        digits <= kShortDigits ? layout.appendArray(group.shortStarts)
                               : layout.append<uint32_t>(0, [](size_t) { return uint32_t{0}; });
  }
  // The index holds all its area numbers in one width.
  for (const AreaIndex::Group& group : index.groups) wideAreas = wideAreas || !group.areas.empty();
  // Each group's area numbers right after its keys: the few keys of short
  // prefixes (a country's cities) and their areas then lie together, most of
  // them in the head, and a search that ends there reads no block for them.
  for (size_t digits = 0; digits < index.groups.size(); ++digits) {
    const AreaIndex::Group& group = index.groups[digits];
    AreaIndexGroupExtents& extents = header.groups[digits];
    if (digits <= kShortDigits) {
      extents.keys = layout.appendArray(group.shortKeys);
    } else if (digits <= kNarrowDigits) {
      extents.keys = layout.appendArray(group.narrowKeys);
    } else {
      extents.keys = layout.appendArray(group.wideKeys);
    }
    extents.areas =
        wideAreas ? layout.appendArray(group.areas) : layout.appendArray(group.smallAreas);
  }
  header.textKeyCount = static_cast<uint32_t>(index.textKeys.size());
  header.longestTextKey = static_cast<uint32_t>(index.longestTextKey);
  uint32_t unitCount = 0;
  header.textKeyStarts = layout.append<uint32_t>(index.textKeys.size() + 1, [&](size_t i) {
    const uint32_t start = unitCount;
    if (i < index.textKeys.size()) unitCount += static_cast<uint32_t>(index.textKeys[i].size());
    return start;
  });
  std::u16string units;
  for (const std::u16string& key : index.textKeys) units += key;
  header.textKeyUnits = layout.appendArray(units);
  header.textAreas = layout.appendArray(index.textAreas);
  // A built index ends its starts with the end of the last text; an empty
  // one may have none.
  header.areaCount =
      index.areaStarts.empty() ? 0 : static_cast<uint32_t>(index.areaStarts.size() - 1);
  header.areaStarts = index.areaStarts.empty()
                          ? layout.append<uint32_t>(1, [](size_t) { return uint32_t{0}; })
                          : layout.appendArray(index.areaStarts);
  header.areaTexts = layout.appendArray(std::string_view(index.areaTexts));

  std::memcpy(header.magic, kAreaIndexMagic, sizeof header.magic);
  header.byteOrder = kByteOrderMark;
  header.version = kAreaIndexFormatVersion;
  header.fileSize = layout.size;
  header.textDevice = stamp.device;
  header.textInode = stamp.inode;
  header.textMode = stamp.mode;
  header.skippedUnits = static_cast<uint32_t>(stamp.skippedUnits);
  header.textSize = stamp.size;
  header.textModifiedNs = stamp.modifiedNs;
  header.textChangedNs = stamp.changedNs;
  header.madeAtNs = stamp.madeAtNs;
  header.flags = wideAreas ? kWideAreas : 0;
  header.blockChecksums = {static_cast<uint32_t>(sizeof(AreaIndexHeader)),
                           static_cast<uint32_t>(blocks)};
  std::memcpy(layout.bytes(), &header, sizeof header);
  return std::move(layout.words);
}

}  // namespace

AreaIndexBytes encodeAreaIndex(const AreaIndex& index, const AreaIndexStamp& stamp) {
  // The table's own size moves the blocks after it: lay out again until the
  // count it has room for is the count of blocks (a few rounds at most, as
  // each checksum takes 8 bytes of a 4096-byte block).
  size_t blocks = 0;
  for (;;) {
    AreaIndexBytes words = encodeWithBlocks(index, stamp, blocks);
    auto needed = [&] {
      const size_t size = words.size() * 8;
      return areaIndexBlocksAfterHead(size, areaIndexHeadBytes(size, blocks));
    };
    if (needed() > blocks) {
      blocks = needed();
      continue;
    }
    // A table that grew the head by a block leaves one block too few after
    // it: zeros at the end make it up.
    while (needed() < blocks) words.resize(words.size() + kAreaIndexBlockBytes / 8, 0);
    AreaIndexHeader header;
    std::memcpy(&header, words.data(), sizeof header);
    header.fileSize = words.size() * 8;
    std::memcpy(words.data(), &header, sizeof header);
    sealAreaIndex(words.data(), words.size() * 8);
    return words;
  }
}

AreaIndexClock systemAreaIndexClock() {
  return {host::fileClockNow,
          [](int64_t ns) { std::this_thread::sleep_for(std::chrono::nanoseconds(ns)); }};
}

std::string makeAreaIndex(const std::string& textPath, size_t skippedUnits,
                          const AreaIndexClock& clock, AreaIndexBytes& bytes) {
  bytes.clear();
  constexpr int64_t kPoll = 10 * 1000 * 1000;
  int64_t waited = 0;
  for (int attempt = 0; attempt < 16;) {
    const int64_t madeAt = clock.now();
    host::FileProblem problem;
    uint64_t size = 0;
    const Descriptor text{host::openRegularFile(textPath, problem, size)};
    if (text.fd < 0) return "cannot read " + textPath + ": " + problem.describe();
    const std::optional<host::FileVersion> before = versionOf(text.fd);
    if (!before) return "cannot read " + textPath + ": " + std::strerror(errno);
    if (static_cast<uint64_t>(before->size) > kIndexedFileSizeLimit) {
      return textPath + " is too large to index";
    }
    if (host::trustedUntil(*before, madeAt) != INT64_MAX) {
      // Written too recently for its times to tell a later change: read it
      // again once they are old enough.
      if (waited >= kSettleWaitLimitNs) {
        return "cannot index " + textPath + ": its times do not settle (set in the future?)";
      }
      clock.sleepForNs(kPoll);
      waited += kPoll;
      continue;
    }
    DescriptorSource source(text.fd);
    AreaIndex index;
    switch (buildAreaIndex(source, skippedUnits, index)) {
      case AreaIndexBuild::built:
        break;
      case AreaIndexBuild::notUtf8:
        return "cannot index " + textPath + ": not UTF-8";
      case AreaIndexBuild::readFailed:
        return "cannot read " + textPath + ": " + std::strerror(errno);
    }
    if (versionOf(text.fd) != before) {
      ++attempt;  // changed while read: again
      continue;
    }
    const AreaIndexStamp stamp = stampOf(*before, madeAt, skippedUnits);
    bytes = encodeAreaIndex(index, stamp);
    if (bytes.size() * 8 > kIndexedFileSizeLimit) {
      bytes.clear();
      return "the index of " + textPath + " would be too large";
    }
    return {};
  }
  return "cannot index " + textPath + ": it keeps changing";
}

std::string writeAreaIndexBeside(const std::string& textPath, const AreaIndexClock& clock) {
  const fs::path text(textPath);
  std::string code = text.filename().string();
  if (code.ends_with(".txt")) code.resize(code.size() - 4);
  AreaIndexBytes bytes;
  if (std::string problem = makeAreaIndex(textPath, toUtf16(code).size(), clock, bytes);
      !problem.empty()) {
    return problem;
  }
  const fs::path target = areaIndexPathOf(textPath);
  const fs::path temporary = target.parent_path() / ("." + target.filename().string() + "." +
                                                     std::to_string(::getpid()) + ".tmp");
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return "cannot write " + temporary.string() + ": " + std::strerror(errno);
  const char* data = reinterpret_cast<const char*>(bytes.data());
  size_t left = bytes.size() * 8;
  int error = 0;
  while (left > 0 && error == 0) {
    const ssize_t wrote = ::write(fd, data, left);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      error = wrote < 0 ? errno : EIO;
      break;
    }
    data += wrote;
    left -= static_cast<size_t>(wrote);
  }
  if (::close(fd) != 0 && error == 0) error = errno;
  std::error_code renamed;
  if (error == 0) fs::rename(temporary, target, renamed);
  if (error != 0 || renamed) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    return "cannot write " + target.string() + ": " +
           (error != 0 ? std::strerror(error) : renamed.message());
  }
  return {};
}

std::string removeAreaIndexBeside(const std::string& textPath) {
  const std::string target = areaIndexPathOf(textPath);
  std::error_code error;
  fs::remove(target, error);
  if (error) return "cannot remove " + target + ": " + error.message();
  return {};
}

bool areaIndexBesideIsCurrent(const std::string& textPath) {
  std::string code = fs::path(textPath).filename().string();
  if (code.ends_with(".txt")) code.resize(code.size() - 4);
  PrebuiltAreaIndex loaded;
  if (!loadPrebuiltAreaIndex(areaIndexPathOf(textPath), host::statFileVersion(textPath),
                             toUtf16(code).size(), kIndexedFileSizeLimit, loaded) ||
      !loaded.pages->ensureAll()) {
    return false;
  }
  // Read whole, it must also pass every check of the whole file.
  FlatAreaIndex whole;
  AreaIndexStamp stamp;
  return openAreaIndexBytes(loaded.pages->bytes(), loaded.bytes, whole, stamp);
}
