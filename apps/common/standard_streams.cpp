#include "common/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace apps {

void guardStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    const int opened = ::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY);
    // Descriptors are given lowest first, so this one took the free place;
    // should it not have, it is moved there.
    if (opened >= 0 && opened != fd) {
      ::dup2(opened, fd);
      ::close(opened);
    }
  }
}

std::string describeInputFailure(int error) {
  if (error == EBADF) return "standard input is closed";
  if (error == EISDIR) return "standard input is a folder";
  return std::string("cannot read standard input: ") + std::strerror(error);
}

}  // namespace apps
