#include "lookup/area_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "host/foundation/device.h"
#include "host/foundation/file_version.h"
#include "host/foundation/files.h"
#include "host/foundation/folder_watch.h"
#include "host/foundation/values.h"
#include "lookup/area_file.h"
#include "lookup/area_index.h"
#include "lookup/area_index_file.h"
#include "lookup/area_scan.h"

namespace {

using host::FileVersion;
using host::statFileVersion;

constexpr int64_t kForEver = std::numeric_limits<int64_t>::max();

bool tooLarge(const FileVersion& version) {
  return static_cast<uint64_t>(version.size) > kAreaCodeFileSizeLimit;
}

// A candidate file, opened for reading.
struct OpenedFile {
  enum class Outcome {
    opened,    // `fd` is open on a regular file of no more than the size limit
    unusable,  // missing, not a regular file, too large or not allowed: shown by its stat
    failed,    // a passing failure (I/O error, out of descriptors): try again next time
  };
  Outcome outcome = Outcome::unusable;
  FileVersion version;  // of the file opened, or as stat showed it
  int fd = -1;

  OpenedFile() = default;
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;
  ~OpenedFile() {
    if (fd >= 0) ::close(fd);
  }
};

// Opens the file at `path`, which `seen` describes. It is opened without
// blocking (a FIFO put in its place since the stat cannot hold the lookup)
// and checked again through the open descriptor.
void openCandidate(const std::string& path, const FileVersion& seen, OpenedFile& file) {
  file.version = seen;
  if (!seen.present || !S_ISREG(seen.mode) || tooLarge(seen)) return;
  file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (file.fd < 0) {
    const bool lasting = errno == EACCES || errno == EPERM || errno == ENOENT || errno == ENOTDIR ||
                         errno == ELOOP || errno == ENXIO || errno == EISDIR;
    if (!lasting) file.outcome = OpenedFile::Outcome::failed;
    return;
  }
  file.version = host::fstatFileVersion(file.fd);
  if (!file.version.present) {
    file.outcome = OpenedFile::Outcome::failed;
    return;
  }
  if (!S_ISREG(file.version.mode) || tooLarge(file.version)) return;
  file.outcome = OpenedFile::Outcome::opened;
}

// An opened file read from its beginning, at most up to the size limit: a
// file that grew beyond it while read counts as too large.
class FileSource : public AreaTextSource {
 public:
  explicit FileSource(int fd) : fd_(fd) {}
  ptrdiff_t read(char* into, size_t capacity) override {
    for (;;) {
      const ssize_t got = ::read(fd_, into, capacity);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return -1;
      total_ += static_cast<uint64_t>(got);
      if (total_ > kAreaCodeFileSizeLimit) {
        tooLarge_ = true;
        return -1;
      }
      return got;
    }
  }
  bool rewind() override {
    total_ = 0;
    return ::lseek(fd_, 0, SEEK_SET) == 0;
  }
  bool tooLarge() const { return tooLarge_; }

 private:
  int fd_;
  uint64_t total_ = 0;
  bool tooLarge_ = false;
};

// One calling code's area-code file as last read.
struct CachedFile {
  std::u16string callingCode;
  std::string devicePath;
  std::string bundledPath;  // where the bundled copy lies; empty without resources
  FileVersion device;
  bool usedBundled = false;  // the device file could not be used
  // What became of the device file when it was read, for explaining answers.
  AreaLookupDetail::DeviceFile deviceState = AreaLookupDetail::DeviceFile::missing;
  FileVersion bundled;
  // Until when the versions above, while a stat shows them unchanged, are
  // known to be the ones read (host::trustedUntil): for ever once settled,
  // 0 when the file is read again at the next lookup.
  int64_t trustedUntil = 0;
  bool hasText = false;
  // The index, once the text has one: built from the text, or, when the
  // text has a prebuilt index that belongs to it, that index as read. Each
  // kind's tables take some kilobytes, so only the one in use is made.
  std::unique_ptr<AreaIndex> index;
  std::unique_ptr<PrebuiltAreaIndex> prebuilt;
  // The prebuilt index turned out unusable in a search: the text is read
  // instead until it changes.
  bool prebuiltRefused = false;
  size_t indexBytes = 0;
  uint64_t lastUse = 0;
  // While the process's folder watch reports nothing changed at the paths
  // since the versions were last confirmed, no stat is taken.
  host::WatchedPaths watched;
};

// Records that `entry`'s versions, just stat'ed or read, are the current ones.
void confirm(CachedFile& entry, uint64_t generation) {
  if (entry.trustedUntil != kForEver) return;
  static const std::string noPath;  // so that neither path is copied
  entry.watched.confirm(generation, entry.devicePath,
                        entry.usedBundled ? entry.bundledPath : noPath);
}

// Sets `refused` when the entry's prebuilt index turned out unusable; the
// answer is then none, and the entry is to be read again.
std::optional<std::string_view> findInEntry(CachedFile& entry, std::u16string_view nationalNumber,
                                            AreaLookupDetail* detail, bool& refused) {
  size_t* matched = detail ? &detail->matchedUnits : nullptr;
  refused = false;
  if (entry.prebuilt) {
    return findInPrebuiltAreaIndex(*entry.prebuilt, nationalNumber, matched, refused);
  }
  if (!entry.index) return std::nullopt;
  return findInAreaIndex(*entry.index, nationalNumber, matched);
}

// Says in `detail` which of `entry`'s files answers.
void describeEntry(const CachedFile& entry, AreaLookupDetail* detail) {
  if (!detail) return;
  detail->device = entry.deviceState;
  detail->prebuiltIndex = entry.prebuilt != nullptr;
  detail->file = !entry.hasText      ? AreaLookupDetail::File::none
                 : entry.usedBundled ? AreaLookupDetail::File::bundled
                                     : AreaLookupDetail::File::device;
  detail->path = detail->file == AreaLookupDetail::File::none ? std::string()
                 : entry.usedBundled                          ? entry.bundledPath
                                                              : entry.devicePath;
}

// Each entry lies on the heap, where it stays while it is read and kept:
// with its index's tables it is some kilobytes, which would otherwise be
// moved about and take that much of the caller's stack.
std::vector<std::unique_ptr<CachedFile>> cachedFiles;
uint64_t useCount = 0;
uint64_t filesRead = 0;
uint64_t prebuiltRead = 0;

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
  // With no index kept, no path of the old places is watched for them: the
  // watch stays, and with it what the preferences watch (closing a watch
  // that holds many paths costs a new process more than its first lookup).
  if (!cachedFiles.empty()) {
    cachedFiles.clear();
    host::processFolderWatch().drop();  // the watches of the old places go with them
  }
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
    for (const auto& file : cachedFiles) bytes += file->indexBytes;
    return bytes;
  };
  while (cachedFiles.size() > 1 &&
         (cachedFiles.size() > kCachedAreaFiles || held() > kAreaCacheBudget)) {
    cachedFiles.erase(
        std::min_element(cachedFiles.begin(), cachedFiles.end(),
                         [](const auto& a, const auto& b) { return a->lastUse < b->lastUse; }));
  }
}

// The answer for one file: an index, or for a file too large to index a
// direct scan of the number.
struct Answer {
  bool usable = false;  // the file was read as UTF-8 text
  bool failed = false;  // reading it failed in passing: try again next time
  std::optional<std::u16string> area;
  size_t matchedUnits = 0;  // of the key that gave the area
};

Answer useFile(const std::string& path, OpenedFile& file, size_t skipped,
               std::u16string_view nationalNumber, CachedFile& entry, bool& cacheable) {
  Answer answer;
  if (file.outcome != OpenedFile::Outcome::opened) {
    answer.failed = file.outcome == OpenedFile::Outcome::failed;
    return answer;
  }
  std::unique_ptr<PrebuiltAreaIndex> prebuilt;
  if (static_cast<uint64_t>(file.version.size) <= kIndexedFileSizeLimit && !entry.prebuiltRefused) {
    prebuilt = std::make_unique<PrebuiltAreaIndex>();
    if (!loadPrebuiltAreaIndex(areaIndexPathOf(path), file.version, skipped, kIndexedFileSizeLimit,
                               *prebuilt)) {
      prebuilt.reset();
    }
  }
  if (prebuilt) {
    // Made from this very version of the text, which therefore was UTF-8:
    // the text itself is not read, unless the index fails the search.
    ++prebuiltRead;
    bool refused = false;
    const std::optional<std::string_view> found =
        findInPrebuiltAreaIndex(*prebuilt, nationalNumber, &answer.matchedUnits, refused);
    if (!refused) {
      entry.hasText = true;
      entry.indexBytes = prebuilt->bytes;
      entry.prebuilt = std::move(prebuilt);
      answer.usable = true;
      if (found) answer.area = toUtf16(*found);
      return answer;
    }
    prebuilt.reset();
    entry.prebuiltRefused = true;
    answer.matchedUnits = 0;
  }
  ++filesRead;
  if (static_cast<uint64_t>(file.version.size) > kIndexedFileSizeLimit) {
    cacheable = false;
    host::FileProblem problem;
    std::optional<host::FileBytes> text = host::readOpenFile(
        file.fd, static_cast<uint64_t>(file.version.size), kAreaCodeFileSizeLimit, &problem);
    if (!text) {
      // Grown beyond the limit while read, it is too large; anything else
      // failed in passing.
      answer.failed = problem.kind != host::FileProblem::Kind::tooLarge;
      return answer;
    }
    AreaScan scan = scanAreaCodes(text->view(), skipped, nationalNumber);
    if (scan.result == AreaScan::Result::notUtf8) return answer;
    answer.usable = true;
    if (scan.result == AreaScan::Result::match) {
      answer.area = toUtf16(scan.areaText);
      const size_t keyUnits = toUtf16(scan.key).size();
      answer.matchedUnits = keyUnits - std::min(skipped, keyUnits);
    }
    return answer;
  }
  FileSource source(file.fd);
  auto index = std::make_unique<AreaIndex>();
  switch (buildAreaIndex(source, skipped, *index)) {
    case AreaIndexBuild::built:
      break;
    case AreaIndexBuild::notUtf8:
      return answer;
    case AreaIndexBuild::readFailed:
      answer.failed = !source.tooLarge();
      return answer;
  }
  entry.hasText = true;
  entry.indexBytes = areaIndexBytes(*index);
  answer.usable = true;
  if (auto found = findInAreaIndex(*index, nationalNumber, &answer.matchedUnits))
    answer.area = toUtf16(*found);
  entry.index = std::move(index);
  return answer;
}

// Reads the file of a calling code with its fallback, indexes it, and
// answers. Keeps the index unless the file was too large to index.
std::optional<std::u16string> loadAndLookUp(const std::string& code,
                                            std::unique_ptr<CachedFile> kept,
                                            std::u16string_view nationalNumber, uint64_t generation,
                                            AreaLookupDetail* detail) {
  CachedFile& entry = *kept;
  const size_t skipped = code.size();
  const int64_t readAt = host::fileClockNow();
  bool cacheable = true;
  Answer answer;
  {
    OpenedFile deviceFile;
    openCandidate(entry.devicePath, entry.device, deviceFile);
    entry.device = deviceFile.version;
    answer = useFile(entry.devicePath, deviceFile, skipped, nationalNumber, entry, cacheable);
    using DeviceFile = AreaLookupDetail::DeviceFile;
    entry.deviceState = answer.usable                                       ? DeviceFile::used
                        : answer.failed                                     ? DeviceFile::failed
                        : deviceFile.outcome == OpenedFile::Outcome::opened ? DeviceFile::notUtf8
                        : deviceFile.version.present                        ? DeviceFile::unusable
                                                                            : DeviceFile::missing;
  }
  bool settled = !answer.failed;
  if (!answer.usable) {
    // The device file cannot be read as UTF-8: the application's copy is
    // read instead, and if that fails too there is no text.
    entry.usedBundled = true;
    entry.bundled = statFileVersion(entry.bundledPath);
    std::optional<std::string> resource = NSBundlePathForResource(code, "txt", "codes");
    if (resource && *resource != entry.bundledPath) settled = false;
    if (resource) {
      OpenedFile bundledFile;
      openCandidate(*resource, entry.bundled, bundledFile);
      entry.bundled = bundledFile.version;
      answer = useFile(*resource, bundledFile, skipped, nationalNumber, entry, cacheable);
      settled = settled && !answer.failed;
    }
  }
  entry.trustedUntil = 0;
  if (settled) {
    entry.trustedUntil = host::trustedUntil(entry.device, readAt);
    if (entry.usedBundled) {
      entry.trustedUntil = std::min(entry.trustedUntil, host::trustedUntil(entry.bundled, readAt));
    }
  }
  describeEntry(entry, detail);
  if (detail) {
    if (!answer.usable) detail->file = AreaLookupDetail::File::none;
    detail->matchedUnits = answer.matchedUnits;
  }
  if (cacheable) {
    confirm(entry, generation);
    entry.lastUse = ++useCount;
    cachedFiles.push_back(std::move(kept));
    evictBeyondLimits();
  }
  return std::move(answer.area);
}

}  // namespace

std::optional<std::u16string> lookUpArea(std::u16string_view callingCode,
                                         std::u16string_view nationalNumber,
                                         AreaLookupDetail* detail) {
  forgetIfMoved();
  // Taken before any stat, so that a change made after it shows in the next.
  const uint64_t generation = host::processFolderWatch().check();
  auto found = std::find_if(cachedFiles.begin(), cachedFiles.end(),
                            [&](const auto& file) { return file->callingCode == callingCode; });
  CachedFile* const cached = found != cachedFiles.end() ? found->get() : nullptr;
  FileVersion device;
  bool refused = false;
  if (cached) {
    bool current = cached->watched.unchanged(generation);
    if (!current) {
      // The paths were formed when the file was first read; the stats are
      // taken now.
      device = statFileVersion(cached->devicePath);
      current = cached->device == device;
      if (current && cached->usedBundled) {
        current = cached->bundled == statFileVersion(cached->bundledPath);
      }
      current = current && host::stillTrusted(cached->trustedUntil);
      if (current) confirm(*cached, generation);
    }
    if (current) {
      cached->lastUse = ++useCount;
      describeEntry(*cached, detail);
      if (!cached->hasText) return std::nullopt;
      std::optional<std::string_view> found = findInEntry(*cached, nationalNumber, detail, refused);
      if (!refused) {
        if (!found) return std::nullopt;
        return toUtf16(*found);
      }
      // The prebuilt index failed the search: read as the text changed.
      if (detail) detail->matchedUnits = 0;
      device = cached->device;
    }
  }
  const std::string code = toUtf8(callingCode);
  auto wanted = std::make_unique<CachedFile>();
  wanted->device = device;
  if (cached) {
    // A stale index goes before the file is read again, so two are never held.
    wanted->callingCode = std::move(cached->callingCode);
    wanted->devicePath = std::move(cached->devicePath);
    wanted->bundledPath = std::move(cached->bundledPath);
    // Refused for this version of the text; a changed text may have a sound
    // index again.
    wanted->prebuiltRefused = refused;
    cachedFiles.erase(found);
  } else {
    wanted->callingCode = callingCode;
    wanted->devicePath = host::devicePath(areaCodeFilePath(callingCode));
    wanted->bundledPath = bundledPathOf(code);
    wanted->device = statFileVersion(wanted->devicePath);
  }
  try {
    return loadAndLookUp(code, std::move(wanted), nationalNumber, generation, detail);
  } catch (const std::bad_alloc&) {
    // Not enough memory to read or index the file: no area, and the host
    // goes on.
    return std::nullopt;
  }
}

void clearAreaCache() {
  cachedFiles.clear();
  host::processFolderWatch().drop();
  cachedFiles.shrink_to_fit();
  formedUnder = Places{};
}

uint64_t areaFilesRead() {
  return filesRead;
}

uint64_t prebuiltAreaIndexesRead() {
  return prebuiltRead;
}

size_t areaCacheBytes() {
  size_t bytes = cachedFiles.capacity() * sizeof(cachedFiles[0]);
  for (const auto& file : cachedFiles) {
    bytes += sizeof(CachedFile) + (file->index ? sizeof(AreaIndex) : 0) +
             (file->prebuilt ? sizeof(PrebuiltAreaIndex) : 0) + file->indexBytes +
             file->devicePath.capacity() + file->bundledPath.capacity() +
             file->callingCode.capacity() * sizeof(char16_t);
  }
  return bytes;
}
