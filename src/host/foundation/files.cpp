#include "host/foundation/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {
namespace {

// Reads an open regular file into a buffer from `allocate(size)`, growing it
// (through `grow(newSize)`, which must keep the bytes read) should the file
// have grown since it was measured. Gives the number of bytes read, or -1.
template <class Allocate, class Grow>
ssize_t readOpenFile(int fd, Allocate allocate, Grow grow) {
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  // One spare byte lets the end of file show without growing the buffer.
  size_t capacity = static_cast<size_t>(info.st_size) + 1;
  char* buffer = allocate(capacity);
  size_t filled = 0;
  for (;;) {
    if (filled == capacity) {
      capacity *= 2;
      buffer = grow(capacity);
    }
    ssize_t got = ::read(fd, buffer + filled, capacity - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) return static_cast<ssize_t>(filled);
    filled += static_cast<size_t>(got);
  }
}

}  // namespace

bool readWholeFile(const std::string& path, std::string& contents) {
  contents.clear();
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  ssize_t size = readOpenFile(
      fd,
      [&](size_t capacity) {
        contents.resize(capacity);
        return contents.data();
      },
      [&](size_t capacity) {
        contents.resize(capacity);
        return contents.data();
      });
  ::close(fd);
  if (size < 0) {
    contents.clear();
    return false;
  }
  contents.resize(static_cast<size_t>(size));
  return true;
}

std::optional<FileBytes> readFileBytes(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  FileBytes bytes;
  size_t held = 0;
  ssize_t size = readOpenFile(
      fd,
      [&](size_t capacity) {
        bytes.data_.reset(new char[capacity]);
        held = capacity;
        return bytes.data_.get();
      },
      [&](size_t capacity) {
        std::unique_ptr<char[]> larger(new char[capacity]);
        std::memcpy(larger.get(), bytes.data_.get(), held);
        bytes.data_ = std::move(larger);
        held = capacity;
        return bytes.data_.get();
      });
  ::close(fd);
  if (size < 0) return std::nullopt;
  bytes.size_ = static_cast<size_t>(size);
  return bytes;
}

}  // namespace host
