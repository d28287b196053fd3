#include "host/loader/regular_file.h"

#include "host/foundation/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
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
  FileProblem problem;
  const std::optional<FileBytes> bytes =
      readOpenFile(fd_, size_, static_cast<size_t>(std::min<uint64_t>(limit, SIZE_MAX)), &problem);
  if (!bytes) {
    if (problem.kind == FileProblem::Kind::tooLarge) return "is larger than " + sizeText(limit);
    return because("cannot be read", problem.error);
  }
  contents.assign(bytes->view());
  return {};
}

}  // namespace host
