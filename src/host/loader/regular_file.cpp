#include "host/loader/regular_file.h"

#include "host/foundation/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace host {
namespace {

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "is a folder";
  if (S_ISFIFO(mode)) return "is a FIFO";
  if (S_ISSOCK(mode)) return "is a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "is a device";
  return "is not a regular file";
}

std::string because(const char* what, int error) {
  return std::string(what) + " (" + std::strerror(error) + ")";
}

std::string sizeText(uint64_t bytes) {
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  return bytes % kMiB == 0 ? std::to_string(bytes / kMiB) + " MiB"
                           : std::to_string(bytes) + " bytes";
}

}  // namespace

RegularFile RegularFile::open(const std::string& path) {
  RegularFile file;
  FileProblem problem;
  uint64_t size = 0;
  int fd = openRegularFile(path, problem, size);
  if (fd >= 0) {
    file.fd_ = fd;
    file.size_ = size;
  } else if (problem.mode != 0) {
    file.problem_ = kindOf(problem.mode);
  } else {
    file.missing_ = problem.missing();
    file.problem_ = because("cannot be opened", problem.error);
  }
  return file;
}

RegularFile::RegularFile(RegularFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      size_(other.size_),
      problem_(std::move(other.problem_)),
      missing_(other.missing_) {}

RegularFile& RegularFile::operator=(RegularFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    size_ = other.size_;
    problem_ = std::move(other.problem_);
    missing_ = other.missing_;
  }
  return *this;
}

RegularFile::~RegularFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::string RegularFile::readAll(uint64_t limit, std::string& contents) const {
  contents.clear();
  if (!isOpen()) return problem_;
  const std::string tooLarge = "is larger than " + sizeText(limit);
  if (size_ > limit) return tooLarge;
  // One byte beyond the limit shows a file that grew past it since it was measured.
  contents.resize(static_cast<size_t>(limit < size_ + 1 ? limit + 1 : size_ + 1));
  size_t filled = 0;
  for (;;) {
    if (filled == contents.size()) {
      if (filled > limit) {
        contents.clear();
        return tooLarge;
      }
      contents.resize(static_cast<size_t>(std::min<uint64_t>(limit + 1, filled * 2 + 1)));
    }
    ssize_t got = ::pread(fd_, contents.data() + filled, contents.size() - filled,
                          static_cast<off_t>(filled));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      contents.clear();
      return because("cannot be read", errno);
    }
    if (got == 0) break;
    filled += static_cast<size_t>(got);
  }
  if (filled > limit) {
    contents.clear();
    return tooLarge;
  }
  contents.resize(filled);
  return {};
}

}  // namespace host
