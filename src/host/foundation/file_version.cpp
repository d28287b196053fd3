#include "host/foundation/file_version.h"

#include <ctime>

#include <algorithm>

namespace host {
namespace {

int64_t nanoseconds(const timespec& t) {
  return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

}  // namespace

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
  if (path.empty() || ::stat(path.c_str(), &info) != 0) return {};
  return fileVersionOf(info);
}

int64_t fileClockNow() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return nanoseconds(now);
}

bool settledBefore(const FileVersion& version, int64_t readAt) {
  if (!version.present) return true;
  constexpr int64_t kSecond = 1000000000;
  const bool wholeSeconds = version.modifiedNs % kSecond == 0 && version.changedNs % kSecond == 0;
  const int64_t margin = wholeSeconds ? 2 * kSecond : kSecond / 20;
  return std::max(version.modifiedNs, version.changedNs) < readAt - margin;
}

}  // namespace host
