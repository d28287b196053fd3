// Reading whole files, safely: nothing blocks, nothing unbounded is read.
//
// Every read opens the path with O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY,
// so that a FIFO, a device or a terminal standing where a file is expected
// cannot block the caller, then fstat()s the open descriptor and refuses
// anything that is not a regular file before a single byte is read. A file
// whose size is over the caller's limit is refused without being read; one
// that grows past the limit while it is read is refused too, after at most
// `maxBytes` + 1 bytes. A failure says why (FileProblem), so a caller can tell
// a file that is absent from one that is there but cannot be read.
//
// Nothing here raises but std::bad_alloc. The functions are thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "host/foundation/file_version.h"

namespace host {

// The limit used when a caller gives none: far above any file the system
// reads, far below what would exhaust memory.
inline constexpr size_t kDefaultMaxFileBytes = size_t{64} << 20;  // 64 MiB

// Why a file could not be read.
struct FileProblem {
  enum class Kind {
    none,              // read whole
    missing,           // no such file (or a path component is not a folder)
    folder,            // a folder stands there
    notRegularFile,    // a FIFO, socket, device or other special file
    permissionDenied,  // the file exists but this process may not read it
    tooLarge,          // over the caller's size limit
    ioError,           // open, fstat or read failed otherwise (`error` says how)
  };
  Kind kind = Kind::none;
  int error = 0;      // the errno value behind ioError (and behind the others, when any)
  unsigned mode = 0;  // the st_mode of what stands there, for folder and notRegularFile

  bool failed() const { return kind != Kind::none; }
  // Whether the file is absent, as opposed to present but unreadable.
  bool missing() const { return kind == Kind::missing; }
  // A few words for a message: "a folder, not a regular file", "permission
  // denied", "too large", and so on; "" for none.
  std::string describe() const;
};

// Opens `path` for reading without blocking and returns the descriptor, which
// the caller then owns and closes; `size` gets the file's size as measured.
// Returns -1, with `problem` set to why, when the path is not a regular file
// (it is looked at first, so that a device is never even opened, and again
// through the open descriptor, which is what counts should the path change) or
// cannot be opened. `seen`, when given, is what a stat of `path` the caller
// took just before showed, and stands for the first look: a file it shows
// present but not regular is refused unopened.
int openRegularFile(const std::string& path, FileProblem& problem, uint64_t& size,
                    const FileVersion* seen = nullptr);

// The bytes of a whole file in a buffer of its own size (plus one spare byte),
// without first clearing the buffer, for large files. The buffer belongs to
// the object and lives as long as it.
class FileBytes {
 public:
  std::string_view view() const { return {data_.get(), size_}; }

 private:
  friend std::optional<FileBytes> readOpenFile(int fd, uint64_t size, size_t maxBytes,
                                               FileProblem* problem);
  std::unique_ptr<char[]> data_;
  size_t size_ = 0;
};

// The file's bytes, or none when it is missing, not a regular file, over
// `maxBytes`, or cannot be read; `problem`, when given, is set to why (to
// Kind::none on success).
std::optional<FileBytes> readFileBytes(const std::string& path,
                                       size_t maxBytes = kDefaultMaxFileBytes,
                                       FileProblem* problem = nullptr,
                                       const FileVersion* seen = nullptr);

// The same for a regular file the caller has opened (openRegularFile) and
// measured at `size` bytes: reads it whole, from its first byte whatever the
// descriptor's position, which is left as it was; a file that has grown
// beyond `maxBytes` since is too large. The caller keeps and closes `fd`.
std::optional<FileBytes> readOpenFile(int fd, uint64_t size, size_t maxBytes = kDefaultMaxFileBytes,
                                      FileProblem* problem = nullptr);

// Reads the whole file at `path` into `contents`, replacing what it held: a
// copy of what readFileBytes gives, for the small files (property lists) that
// are then parsed. Returns false, leaving `contents` empty, on the same
// failures, and sets `problem`, when given, as readFileBytes does.
bool readWholeFile(const std::string& path, std::string& contents,
                   size_t maxBytes = kDefaultMaxFileBytes, FileProblem* problem = nullptr,
                   const FileVersion* seen = nullptr);

}  // namespace host
