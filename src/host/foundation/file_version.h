// Telling whether a file is still the version that was read, with one stat.
//
// A FileVersion is what one stat of a path shows: device, inode, mode, size,
// and the modification and change times to the nanosecond. Two versions are
// the same file unchanged when every field agrees (all absent versions
// agree).
//
// Every change to a file (its contents, its times through utime() included,
// its permissions, its links) sets its change time to the moment of the
// change, as the file clock gives it, and nothing sets the change time
// otherwise. So a version whose change time is safely older than the moment
// it was read stays provably the same while a stat shows it unchanged. The
// modification time plays no part: a program may set it to anything, a date
// years ahead included. The file clock is coarser than the one a reader
// reads, so a write within the same tick can leave the change time as it
// was: a version read at a moment its change time is not safely older than
// is "racily clean" (as git calls it) and must be read again each time,
// until it has settled. A change time ahead of the clock (the clock was set
// back) would not settle for as long as the clock lags; such a version is
// trusted for a second at a time and then read again.
//
// The clock and the stat calls come from a FileVersionSource, the system's
// unless a test installs its own to play "now", "a second later" or "a file
// dated now" without waiting; the folder watch's "less than a second ago"
// (folder_watch.h) is read off the same clock. Plain values otherwise;
// nothing else here keeps state.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace host {

struct FileVersion {
  bool present = false;
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0;
  off_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;

  bool operator==(const FileVersion&) const = default;
};

inline constexpr int64_t kFileClockSecond = 1000000000;

// The wall clock and the two stat calls every version is taken with.
// Process-wide, main thread only. The functions must not throw, and must act
// as clock_gettime(CLOCK_REALTIME), stat() and fstat() do: return 0 and fill
// `info`, or return -1 with errno set.
struct FileVersionSource {
  int64_t (*now)();  // ns since the epoch
  int (*stat)(const char* path, struct stat* info);
  int (*fstat)(int fd, struct stat* info);
};

// The system's clock and stat calls.
FileVersionSource systemFileVersionSource();

// Makes `source` the one versions are taken with, and returns the one it
// replaces, for putting it back.
FileVersionSource setFileVersionSource(const FileVersionSource& source);

// The version that `info` describes.
FileVersion fileVersionOf(const struct stat& info);

// The version at `path` (following symbolic links), absent when the path is
// empty or cannot be stat'ed.
FileVersion statFileVersion(const std::string& path);

// The version of the file open at `fd`, absent when it cannot be stat'ed.
FileVersion fstatFileVersion(int fd);

// The file clock now, in ns.
int64_t fileClockNow();

// Until when a version read at `readAt` (fileClockNow() taken just before
// the file was read) may be taken for the file as it is, while a stat shows
// the same version: for ever (INT64_MAX) when its change time is safely older
// than `readAt`, not at all (`readAt`) when it is racily clean, and one second
// past `readAt` when the change time lies ahead of the clock. Absent versions
// are settled. The margin is a scheduler tick's worth on file systems with
// fine times, and two seconds where change times are whole seconds.
int64_t trustedUntil(const FileVersion& version, int64_t readAt);

// Whether a version read at `readAt` and found unchanged by a stat may still
// be taken for the file: before trustedUntil, checked against the clock only
// when that is not for ever.
bool stillTrusted(int64_t trustedUntilNs);

}  // namespace host
