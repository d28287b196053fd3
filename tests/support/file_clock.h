// A file clock a test sets, so that "now", "a second later" or "a file dated
// now" need no waiting: while a FakeFileClock lives, every file version is
// taken at the moment it says (host/foundation/file_version.h). The stat
// calls stay the system's unless wholeSecondChangeTimes() is asked for.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "host/foundation/file_version.h"

namespace testing_support {

class FakeFileClock {
 public:
  explicit FakeFileClock(int64_t now) {
    nowNs() = now;
    previous_ =
        host::setFileVersionSource({[] { return nowNs(); }, host::systemFileVersionSource().stat,
                                    host::systemFileVersionSource().fstat});
  }
  ~FakeFileClock() { host::setFileVersionSource(previous_); }
  FakeFileClock(const FakeFileClock&) = delete;
  FakeFileClock& operator=(const FakeFileClock&) = delete;

  void set(int64_t now) { nowNs() = now; }
  void advance(int64_t by) { nowNs() += by; }

  // Plays a file system whose times are whole seconds: stat and fstat cut
  // the nanoseconds off.
  void wholeSecondChangeTimes() {
    host::setFileVersionSource({[] { return nowNs(); }, &statWhole, &fstatWhole});
  }

  // The change time of the file at `path` as the system has it, in ns.
  static int64_t changeTimeOf(const std::string& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return static_cast<int64_t>(info.st_ctim.tv_sec) * host::kFileClockSecond +
           info.st_ctim.tv_nsec;
  }

 private:
  static int64_t& nowNs() {
    static int64_t now = 0;
    return now;
  }
  static void cut(struct stat* info) {
    info->st_mtim.tv_nsec = 0;
    info->st_ctim.tv_nsec = 0;
  }
  static int statWhole(const char* path, struct stat* info) {
    const int result = ::stat(path, info);
    if (result == 0) cut(info);
    return result;
  }
  static int fstatWhole(int fd, struct stat* info) {
    const int result = ::fstat(fd, info);
    if (result == 0) cut(info);
    return result;
  }

  host::FileVersionSource previous_{};
};

}  // namespace testing_support
