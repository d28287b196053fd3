// The area-code files of the last few calling codes looked up, each kept as
// an index of the file version it was built from.
//
// Every lookup first checks that the file is still the version that was
// indexed: same device, inode, size, and modification and change times to the
// nanosecond, as one stat of the device file shows (plus one stat of the
// bundled copy when that was the one used). Anything else (a file rewritten,
// renamed over, truncated, removed, made unreadable or replaced by something
// that is not a regular file, or one that appeared) makes the lookup read the
// file again. Every change sets a file's change time, from a coarse clock, so
// a file whose change time is not safely older than the moment it was read
// may have changed since within the same tick; such a version is read again
// at every lookup until it has settled, as git treats "racily clean" index
// entries. A modification time in the future plays no part; a change time in
// the future (the clock was set back) makes the file be read again at most
// once a second (host/foundation/file_version.h).
//
// The stats are skipped while a host::FolderWatch, asked once per lookup,
// reports that nothing changed at either path since they were last taken;
// then the check is that one question. Paths the watch cannot cover (behind
// a symbolic link, on a network file system) are stat'ed at every lookup, and
// covered ones at least once a second, since two changes go unreported: one
// made only through a shared memory mapping, and new permissions on a folder
// above the file's own.
//
// The files are chosen as before: the device folder's file, and when that
// cannot be read as UTF-8 the host application's bundled copy. A file with a
// prebuilt index beside it that belongs to its current version
// (lookup/area_index_file.h) is not read: the index is read instead, and kept
// as the file's index. A file that is
// not a regular file, or larger than kAreaCodeFileSizeLimit, counts as
// unreadable. Files are opened without blocking and read with read(), never
// mapped, so a file truncated while in use cannot fault the host; a file to
// be indexed is read a piece at a time into the index builder, never held
// whole.
//
// The two paths of a calling code are formed when its file is first read and
// kept with its index; when the device root or the application's resource
// folder changes, every index is dropped, so a warm lookup forms no path and
// its only system calls are the watch's question and, when needed, its stats.
//
// At most kCachedAreaFiles indexes are kept, holding together at most
// kAreaCacheBudget bytes (one index larger than that is kept alone); the least
// recently used goes first. Nothing else is kept between lookups but the
// watch. Process-wide, main thread only; lookUpArea allocates and may throw
// std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr size_t kCachedAreaFiles = 16;
inline constexpr size_t kAreaCacheBudget = size_t{3} << 20;
inline constexpr uint64_t kAreaCodeFileSizeLimit = uint64_t{64} << 20;

// Where an answer of lookUpArea came from, for a caller that explains it.
struct AreaLookupDetail {
  // The file whose text answered: the device's, the bundled copy, or none
  // when neither could be read as UTF-8 text.
  enum class File { none, device, bundled };
  File file = File::none;
  std::string path;  // of that file; empty for none
  // What became of the device file.
  enum class DeviceFile {
    used,      // read, and it answered
    missing,   // there is none
    unusable,  // not a regular file, too large, or not allowed to be read
    notUtf8,   // read, but not valid UTF-8 text
    failed,    // reading it failed in passing; tried again at the next lookup
  };
  DeviceFile device = DeviceFile::missing;
  bool prebuiltIndex = false;  // the answer came from a prebuilt index
  // With a match: how many units of the national number the matched key
  // compares (the key is the calling code followed by them).
  size_t matchedUnits = 0;
};

// The area text for `nationalNumber` under `callingCode` (which must pass
// isFileSafeCallingCode), or none when no file can be read or no key matches.
// With `detail`, also says where the answer came from; without it, nothing
// more is done than the answer needs.
std::optional<std::u16string> lookUpArea(std::u16string_view callingCode,
                                         std::u16string_view nationalNumber,
                                         AreaLookupDetail* detail = nullptr);

// Forgets every index and the watch, as a fresh process starts.
void clearAreaCache();

// How many times a file has been read and indexed since the process began.
uint64_t areaFilesRead();

// How many times a prebuilt index (lookup/area_index_file.h) was read and
// used instead of a file since the process began.
uint64_t prebuiltAreaIndexesRead();

// The heap bytes the kept indexes hold.
size_t areaCacheBytes();
