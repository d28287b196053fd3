#include "host/foundation/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host {

std::optional<FileBytes> readFileBytes(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return std::nullopt;
  }
  // One spare byte lets the end of the file show without growing the buffer;
  // should the file have grown since it was measured, the buffer doubles.
  size_t capacity = static_cast<size_t>(info.st_size) + 1;
  FileBytes bytes;
  bytes.data_.reset(new char[capacity]);
  size_t filled = 0;
  for (;;) {
    if (filled == capacity) {
      std::unique_ptr<char[]> larger(new char[capacity * 2]);
      std::memcpy(larger.get(), bytes.data_.get(), filled);
      bytes.data_ = std::move(larger);
      capacity *= 2;
    }
    ssize_t got = ::read(fd, bytes.data_.get() + filled, capacity - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  ::close(fd);
  bytes.size_ = filled;
  return bytes;
}

bool readWholeFile(const std::string& path, std::string& contents) {
  std::optional<FileBytes> bytes = readFileBytes(path);
  if (!bytes) {
    contents.clear();
    return false;
  }
  contents.assign(bytes->view());
  return true;
}

}  // namespace host
