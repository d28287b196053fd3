#include "lookup/area_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "host/foundation/device.h"
#include "host/foundation/values.h"
#include "lookup/area_file.h"
#include "lookup/area_index.h"
#include "lookup/area_scan.h"

namespace {

// Files larger than this are not indexed but read and scanned at each lookup,
// as before: a far larger index than any real file needs would be held.
constexpr uint64_t kIndexedFileSizeLimit = uint64_t{16} << 20;

// What one stat of a path showed. Two versions are the same file unchanged
// when every field agrees.
struct FileVersion {
  bool present = false;
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
  off_t size = 0;
  timespec modified{};
  timespec changed{};
};

bool sameTime(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool sameVersion(const FileVersion& a, const FileVersion& b) {
  if (a.present != b.present) return false;
  if (!a.present) return true;
  return a.device == b.device && a.inode == b.inode && a.mode == b.mode && a.size == b.size &&
         sameTime(a.modified, b.modified) && sameTime(a.changed, b.changed);
}

FileVersion versionOf(const struct stat& info) {
  return {true, info.st_dev, info.st_ino, info.st_mode, info.st_size, info.st_mtim, info.st_ctim};
}

FileVersion statVersion(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return {};
  return versionOf(info);
}

int64_t nanoseconds(const timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Whether a version's times are safely older than `readAt`, the moment just
// before it was opened, so that any later change must show in its times.
// File times are taken from a clock coarser than the one read here, by up to
// a scheduler tick on file systems with fine times; file systems with whole
// seconds (every time a multiple of a second) may round down by up to two.
bool settledBefore(const FileVersion& version, int64_t readAt) {
  if (!version.present) return true;
  const bool wholeSeconds = version.modified.tv_nsec == 0 && version.changed.tv_nsec == 0;
  const int64_t margin = wholeSeconds ? int64_t{2000000000} : int64_t{50000000};
  const int64_t latest = std::max(nanoseconds(version.modified), nanoseconds(version.changed));
  return latest < readAt - margin;
}

int64_t clockNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return nanoseconds(now);
}

// The outcome of reading one candidate file.
struct FileRead {
  enum class Outcome {
    text,      // read whole; `bytes` holds it
    unusable,  // missing, not a regular file, too large or not allowed: shown by its stat
    failed,    // a passing failure (I/O error, out of descriptors): try again next time
  };
  Outcome outcome = Outcome::unusable;
  FileVersion version;  // of the file read, or as stat showed it
  std::unique_ptr<char[]> bytes;
  size_t size = 0;
  std::string_view view() const { return {bytes.get(), size}; }
};

bool tooLarge(const FileVersion& version) {
  return static_cast<uint64_t>(version.size) > kAreaCodeFileSizeLimit;
}

// Reads the file at `path`, which `seen` describes. It is opened without
// blocking (a FIFO put in its place since the stat cannot hold the lookup)
// and checked again through the open descriptor.
FileRead readCandidate(const std::string& path, const FileVersion& seen) {
  FileRead read;
  read.version = seen;
  if (!seen.present || !S_ISREG(seen.mode) || tooLarge(seen)) return read;
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    const bool lasting = errno == EACCES || errno == EPERM || errno == ENOENT || errno == ENOTDIR ||
                         errno == ELOOP || errno == ENXIO || errno == EISDIR;
    if (!lasting) read.outcome = FileRead::Outcome::failed;
    return read;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    ::close(fd);
    read.outcome = FileRead::Outcome::failed;
    return read;
  }
  read.version = versionOf(info);
  if (!S_ISREG(info.st_mode) || tooLarge(read.version)) {
    ::close(fd);
    return read;
  }
  // One spare byte shows the end of the file; a file that grew since it was
  // measured is read on, up to the limit.
  size_t capacity = static_cast<size_t>(info.st_size) + 1;
  read.bytes.reset(new char[capacity]);
  for (;;) {
    if (read.size == capacity) {
      if (capacity > kAreaCodeFileSizeLimit) {
        ::close(fd);
        read.bytes.reset();
        read.size = 0;
        return read;  // grew beyond the limit while read: too large
      }
      const size_t larger = std::min<size_t>(capacity * 2, kAreaCodeFileSizeLimit + 1);
      std::unique_ptr<char[]> grown(new char[larger]);
      std::copy(read.bytes.get(), read.bytes.get() + read.size, grown.get());
      read.bytes = std::move(grown);
      capacity = larger;
    }
    const ssize_t got = ::read(fd, read.bytes.get() + read.size, capacity - read.size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      read.bytes.reset();
      read.size = 0;
      read.outcome = FileRead::Outcome::failed;
      return read;
    }
    if (got == 0) break;
    read.size += static_cast<size_t>(got);
  }
  ::close(fd);
  read.outcome = FileRead::Outcome::text;
  return read;
}

// One calling code's area-code file as last read.
struct CachedFile {
  std::u16string callingCode;
  std::string devicePath;
  std::string bundledPath;  // where the bundled copy lies; empty without resources
  FileVersion device;
  bool usedBundled = false;  // the device file could not be used
  FileVersion bundled;
  // Whether the versions above are known to be the ones read; otherwise the
  // file is read again at the next lookup.
  bool settled = false;
  bool hasText = false;
  AreaIndex index;
  size_t indexBytes = 0;
  uint64_t lastUse = 0;
};

std::vector<CachedFile> cachedFiles;
uint64_t useCount = 0;
uint64_t filesRead = 0;

// The device root and resource folder under which the kept paths were formed.
struct Places {
  std::string root;
  std::string resources;
};
Places formedUnder;

// Drops every index when the device root or the resource folder changed since
// the kept paths were formed, so a kept path is always the one the calling
// code names now and a warm lookup need not form it again.
void forgetIfMoved() {
  if (host::deviceRoot() == formedUnder.root &&
      host::mainBundleResourcePath() == formedUnder.resources) {
    return;
  }
  cachedFiles.clear();
  formedUnder = Places{host::deviceRoot(), host::mainBundleResourcePath()};
}

// The bundled copy's path, formed as the application's resource lookup forms
// it, whether or not a file is there.
std::string bundledPathOf(const std::string& code) {
  const std::string& resources = host::mainBundleResourcePath();
  if (resources.empty()) return {};
  return resources + "/codes/" + code + ".txt";
}

// Drops the least recently used indexes while there are too many or they
// hold too much; the one used last always stays.
void evictBeyondLimits() {
  auto held = [] {
    size_t bytes = 0;
    for (const CachedFile& file : cachedFiles) bytes += file.indexBytes;
    return bytes;
  };
  while (cachedFiles.size() > 1 &&
         (cachedFiles.size() > kCachedAreaFiles || held() > kAreaCacheBudget)) {
    cachedFiles.erase(std::min_element(
        cachedFiles.begin(), cachedFiles.end(),
        [](const CachedFile& a, const CachedFile& b) { return a.lastUse < b.lastUse; }));
  }
}

// The answer for one file: an index, or for a file too large to index a
// direct scan of the number.
struct Answer {
  bool usable = false;  // the file was read as UTF-8 text
  std::optional<std::u16string> area;
};

Answer useText(const FileRead& read, size_t skipped, std::u16string_view nationalNumber,
               CachedFile& entry, bool& cacheable) {
  if (read.outcome != FileRead::Outcome::text) return {};
  ++filesRead;
  if (read.size > kIndexedFileSizeLimit) {
    cacheable = false;
    AreaScan scan = scanAreaCodes(read.view(), skipped, nationalNumber);
    if (scan.result == AreaScan::Result::notUtf8) return {};
    Answer answer{true, std::nullopt};
    if (scan.result == AreaScan::Result::match) answer.area = toUtf16(scan.areaText);
    return answer;
  }
  if (!buildAreaIndex(read.view(), skipped, entry.index)) return {};
  entry.hasText = true;
  entry.indexBytes = areaIndexBytes(entry.index);
  Answer answer{true, std::nullopt};
  if (auto found = findInAreaIndex(entry.index, nationalNumber)) answer.area = toUtf16(*found);
  return answer;
}

// Reads the file of a calling code with its fallback, indexes it, and
// answers. Keeps the index unless the file was too large to index.
std::optional<std::u16string> loadAndLookUp(const std::string& code, CachedFile entry,
                                            std::u16string_view nationalNumber) {
  const size_t skipped = code.size();
  const int64_t readAt = clockNow();
  bool cacheable = true;
  FileRead deviceRead = readCandidate(entry.devicePath, entry.device);
  entry.device = deviceRead.version;
  bool settled = deviceRead.outcome != FileRead::Outcome::failed;
  Answer answer = useText(deviceRead, skipped, nationalNumber, entry, cacheable);
  deviceRead = {};
  if (!answer.usable) {
    // The device file cannot be read as UTF-8: the application's copy is
    // read instead, and if that fails too there is no text.
    entry.usedBundled = true;
    entry.bundled = statVersion(entry.bundledPath);
    std::optional<std::string> resource = NSBundlePathForResource(code, "txt", "codes");
    if (resource && *resource != entry.bundledPath) settled = false;
    if (resource) {
      FileRead bundledRead = readCandidate(*resource, entry.bundled);
      entry.bundled = bundledRead.version;
      settled = settled && bundledRead.outcome != FileRead::Outcome::failed;
      answer = useText(bundledRead, skipped, nationalNumber, entry, cacheable);
    }
  }
  entry.settled = settled && settledBefore(entry.device, readAt) &&
                  (!entry.usedBundled || settledBefore(entry.bundled, readAt));
  if (cacheable) {
    entry.lastUse = ++useCount;
    cachedFiles.push_back(std::move(entry));
    evictBeyondLimits();
  }
  return std::move(answer.area);
}

}  // namespace

std::optional<std::u16string> lookUpArea(std::u16string_view callingCode,
                                         std::u16string_view nationalNumber) {
  forgetIfMoved();
  auto cached = std::find_if(cachedFiles.begin(), cachedFiles.end(), [&](const CachedFile& file) {
    return file.callingCode == callingCode;
  });
  FileVersion device;
  if (cached != cachedFiles.end()) {
    // The paths were formed when the file was first read; the stats are
    // taken now, as every lookup takes them.
    device = statVersion(cached->devicePath);
    bool current = cached->settled && sameVersion(cached->device, device);
    if (current && cached->usedBundled) {
      current = sameVersion(cached->bundled, statVersion(cached->bundledPath));
    }
    if (current) {
      cached->lastUse = ++useCount;
      if (!cached->hasText) return std::nullopt;
      std::optional<std::string_view> found = findInAreaIndex(cached->index, nationalNumber);
      if (!found) return std::nullopt;
      return toUtf16(*found);
    }
  }
  const std::string code = toUtf8(callingCode);
  CachedFile wanted;
  wanted.device = device;
  if (cached != cachedFiles.end()) {
    // A stale index goes before the file is read again, so two are never held.
    wanted.callingCode = std::move(cached->callingCode);
    wanted.devicePath = std::move(cached->devicePath);
    wanted.bundledPath = std::move(cached->bundledPath);
    cachedFiles.erase(cached);
  } else {
    wanted.callingCode = callingCode;
    wanted.devicePath = host::devicePath(areaCodeFilePath(callingCode));
    wanted.bundledPath = bundledPathOf(code);
    wanted.device = statVersion(wanted.devicePath);
  }
  try {
    return loadAndLookUp(code, std::move(wanted), nationalNumber);
  } catch (const std::bad_alloc&) {
    // Not enough memory to read or index the file: no area, and the host
    // goes on.
    return std::nullopt;
  }
}

void clearAreaCache() {
  cachedFiles.clear();
  cachedFiles.shrink_to_fit();
  formedUnder = Places{};
}

uint64_t areaFilesRead() {
  return filesRead;
}

size_t areaCacheBytes() {
  size_t bytes = cachedFiles.capacity() * sizeof(CachedFile);
  for (const CachedFile& file : cachedFiles) {
    bytes += areaIndexBytes(file.index) + file.devicePath.capacity() + file.bundledPath.capacity() +
             file.callingCode.capacity() * sizeof(char16_t);
  }
  return bytes;
}
