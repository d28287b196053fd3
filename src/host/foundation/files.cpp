#include "host/foundation/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace host {
namespace {

FileProblem problemFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
      return {FileProblem::Kind::missing, error};
    case EACCES:
    case EPERM:
      return {FileProblem::Kind::permissionDenied, error};
    case EISDIR:
      return {FileProblem::Kind::folder, error};
    case ENXIO:  // a socket, or a device with nothing behind it
    case ENODEV:
      return {FileProblem::Kind::notRegularFile, error};
    case EFBIG:
    case EOVERFLOW:
      return {FileProblem::Kind::tooLarge, error};
    default:
      return {FileProblem::Kind::ioError, error};
  }
}

// Closes the descriptor when it goes.
struct Descriptor {
  int fd;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

}  // namespace

std::string FileProblem::describe() const {
  switch (kind) {
    case Kind::none:
      return {};
    case Kind::missing:
      return "no such file";
    case Kind::folder:
      return "a folder, not a regular file";
    case Kind::notRegularFile:
      return "not a regular file";
    case Kind::permissionDenied:
      return "permission denied";
    case Kind::tooLarge:
      return "too large";
    case Kind::ioError:
      return error ? std::strerror(error) : "I/O error";
  }
  return {};
}

int openRegularFile(const std::string& path, FileProblem& problem, uint64_t& size,
                    const FileVersion* seen) {
  problem = {};
  size = 0;
  auto refuse = [&problem](unsigned mode) {
    problem = {S_ISDIR(mode) ? FileProblem::Kind::folder : FileProblem::Kind::notRegularFile, 0,
               mode};
    return -1;
  };
  struct stat info {};
  if (seen) {
    if (seen->present && !S_ISREG(seen->mode)) return refuse(seen->mode);
  } else if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
    return refuse(info.st_mode);
  }
  // O_NONBLOCK: opening a FIFO with no writer returns at once, and nothing
  // read from a special file can wait. It changes nothing for regular files.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    problem = problemFromErrno(errno);
    return -1;
  }
  if (::fstat(fd, &info) != 0) {
    // EOVERFLOW: the stat of an older 32-bit system cannot hold something of
    // the file. When its end lies within reach of the file offsets, that is a
    // time (a file dated after 2038) or an inode number, and the file is
    // unreadable rather than too large.
    const int error = errno;
    problem = error == EOVERFLOW && ::lseek(fd, 0, SEEK_END) >= 0
                  ? FileProblem{FileProblem::Kind::ioError, error}
                  : problemFromErrno(error);
    ::close(fd);
    return -1;
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(fd);
    return refuse(info.st_mode);
  }
  size = static_cast<uint64_t>(info.st_size);
  return fd;
}

std::optional<FileBytes> readFileBytes(const std::string& path, size_t maxBytes,
                                       FileProblem* problem, const FileVersion* seen) {
  FileProblem unused;
  FileProblem& why = problem ? *problem : unused;
  uint64_t size = 0;
  Descriptor file{openRegularFile(path, why, size, seen)};
  if (file.fd < 0) return std::nullopt;
  return readOpenFile(file.fd, size, maxBytes, &why);
}

std::optional<FileBytes> readOpenFile(int fd, uint64_t size, size_t maxBytes,
                                      FileProblem* problem) {
  FileProblem unused;
  FileProblem& why = problem ? *problem : unused;
  why = {};
  maxBytes = std::min(maxBytes, SIZE_MAX / 2);  // so that one byte more still fits
  if (size > maxBytes) {
    why = {FileProblem::Kind::tooLarge, 0};
    return std::nullopt;
  }
  // One spare byte lets the end of the file show without growing the buffer;
  // should the file have grown since it was measured, the buffer doubles, up
  // to one byte over the limit, which is enough to know it is too large.
  size_t capacity = static_cast<size_t>(size) + 1;
  FileBytes bytes;
  bytes.data_.reset(new char[capacity]);
  size_t filled = 0;
  for (;;) {
    if (filled == capacity) {
      if (filled > maxBytes) {
        why = {FileProblem::Kind::tooLarge, 0};
        return std::nullopt;
      }
      size_t larger = capacity > maxBytes / 2 ? maxBytes + 1 : capacity * 2;
      std::unique_ptr<char[]> grown(new char[larger]);
      std::memcpy(grown.get(), bytes.data_.get(), filled);
      bytes.data_ = std::move(grown);
      capacity = larger;
    }
    ssize_t got =
        ::pread(fd, bytes.data_.get() + filled, capacity - filled, static_cast<off_t>(filled));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      why = problemFromErrno(errno);
      return std::nullopt;
    }
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  if (filled > maxBytes) {
    why = {FileProblem::Kind::tooLarge, 0};
    return std::nullopt;
  }
  bytes.size_ = filled;
  return bytes;
}

bool readWholeFile(const std::string& path, std::string& contents, size_t maxBytes,
                   FileProblem* problem, const FileVersion* seen) {
  std::optional<FileBytes> bytes = readFileBytes(path, maxBytes, problem, seen);
  if (!bytes) {
    contents.clear();
    return false;
  }
  contents.assign(bytes->view());
  return true;
}

}  // namespace host
