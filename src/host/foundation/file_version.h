// Telling whether a file is still the version that was read, with one stat.
//
// A FileVersion is what one stat of a path shows: device, inode, mode, size,
// and the modification and change times to the nanosecond. Two versions are
// the same file unchanged when every field agrees (all absent versions
// agree). File times come from a clock coarser than the one a reader can
// read, so a write within the same tick can leave them as they were: a
// version read at a moment its times are not safely older than is "racily
// clean" (as git calls it) and must be read again next time, until it has
// settled. Plain values; nothing here keeps state.
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

// The version that `info` describes.
FileVersion fileVersionOf(const struct stat& info);

// The version at `path` (following symbolic links), absent when the path is
// empty or cannot be stat'ed.
FileVersion statFileVersion(const std::string& path);

// The wall clock in ns, the clock file times are taken from.
int64_t fileClockNow();

// Whether `version`'s times are safely older than `readAt` (fileClockNow()
// taken just before the file was read), so that any later change must show in
// them. Absent versions are settled. The margin is a scheduler tick's worth
// on file systems with fine times, and two seconds where every time is a whole
// second.
bool settledBefore(const FileVersion& version, int64_t readAt);

}  // namespace host
