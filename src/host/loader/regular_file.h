// Opening a file that is meant to be a regular file without ever blocking on
// something else put in its place. Opening a FIFO for reading waits for a
// writer, and reading a device or a FIFO may wait for ever; here such a file
// is opened without blocking, looked at, and refused with a reason.
#pragma once

#include <cstdint>
#include <string>

namespace host {

// A file opened for reading. Owns its descriptor and closes it when destroyed;
// it can be moved but not copied.
class RegularFile {
 public:
  // Opens `path` (following symbolic links) without blocking. The result is
  // open only when `path` is a regular file; otherwise problem() says why, in
  // words that follow the file's name: "is a folder", "is a FIFO", "is a
  // socket", "is a device", "cannot be opened (<reason>)". Never raises but
  // std::bad_alloc.
  static RegularFile open(const std::string& path);

  RegularFile(RegularFile&& other) noexcept;
  RegularFile& operator=(RegularFile&& other) noexcept;
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;
  ~RegularFile();

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }                           // -1 when not open
  uint64_t size() const { return size_; }                  // as measured when opened
  const std::string& problem() const { return problem_; }  // empty when open
  bool missing() const { return missing_; }  // nothing (or a dangling link) at the path

  // Reads the whole file into `contents`, replacing what it held. Returns an
  // empty text, or a reason with `contents` left empty: the file's own
  // problem, "is larger than <limit>" when it holds more than `limit` bytes
  // (checked before reading, and again while reading should it grow), or
  // "cannot be read (<reason>)". Raises only std::bad_alloc.
  std::string readAll(uint64_t limit, std::string& contents) const;

 private:
  RegularFile() = default;
  int fd_ = -1;
  uint64_t size_ = 0;
  std::string problem_;
  bool missing_ = false;
};

}  // namespace host
