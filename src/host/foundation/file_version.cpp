#include "host/foundation/file_version.h"

#include <ctime>
#include <limits>

namespace host {
namespace {

int64_t nanoseconds(const timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * kFileClockSecond + t.tv_nsec;
}

int64_t systemNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return nanoseconds(now);
}

int systemStat(const char* path, struct stat* info) {
  return ::stat(path, info);
}

int systemFstat(int fd, struct stat* info) {
  return ::fstat(fd, info);
}

FileVersionSource& currentSource() {
  static FileVersionSource source = systemFileVersionSource();
  return source;
}

}  // namespace

FileVersionSource systemFileVersionSource() {
  return {&systemNow, &systemStat, &systemFstat};
}

FileVersionSource setFileVersionSource(const FileVersionSource& source) {
  const FileVersionSource previous = currentSource();
  currentSource() = source;
  return previous;
}

FileVersion fileVersionOf(const struct stat& info) {
  return {true,
          info.st_dev,
          info.st_ino,
          info.st_mode,
          info.st_size,
          nanoseconds(info.st_mtim),
          nanoseconds(info.st_ctim)};
}

FileVersion statFileVersion(const std::string& path) {
  struct stat info {};
  if (path.empty() || currentSource().stat(path.c_str(), &info) != 0) return {};
  return fileVersionOf(info);
}

FileVersion fstatFileVersion(int fd) {
  struct stat info {};
  if (currentSource().fstat(fd, &info) != 0) return {};
  return fileVersionOf(info);
}

int64_t fileClockNow() {
  return currentSource().now();
}

int64_t trustedUntil(const FileVersion& version, int64_t readAt) {
  constexpr int64_t kForEver = std::numeric_limits<int64_t>::max();
  if (!version.present) return kForEver;
  const bool wholeSeconds = version.changedNs % kFileClockSecond == 0;
  const int64_t margin = wholeSeconds ? 2 * kFileClockSecond : kFileClockSecond / 20;
  if (version.changedNs < readAt - margin) return kForEver;
  // Within the margin of the read, a change in the same tick may not show.
  if (version.changedNs <= readAt + margin) return readAt;
  return readAt + kFileClockSecond;
}

bool stillTrusted(int64_t trustedUntilNs) {
  return trustedUntilNs == std::numeric_limits<int64_t>::max() || fileClockNow() < trustedUntilNs;
}

}  // namespace host
