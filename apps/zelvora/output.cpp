#include "output.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <streambuf>

namespace zelvora {
namespace {

class OutputBuffer : public std::streambuf {
 public:
  OutputBuffer() { setp(buffer_, buffer_ + sizeof buffer_); }

 protected:
  int_type overflow(int_type c) override {
    writeBuffered();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override {
    writeBuffered();
    return 0;
  }

 private:
  void writeBuffered() {
    const size_t size = static_cast<size_t>(pptr() - pbase());
    setp(buffer_, buffer_ + sizeof buffer_);
    if (int error = writeOutput(buffer_, size); error != 0) endAfterOutputFailure(error);
  }

  char buffer_[8192];
};

}  // namespace

void guardStandardOutput() {
  // Never destroyed: std::cout is flushed once more after static objects are
  // gone.
  static OutputBuffer* buffer = new OutputBuffer;
  std::cout.rdbuf(buffer);
}

int writeOutput(const char* data, size_t size) {
  while (size > 0) {
    ssize_t count = ::write(STDOUT_FILENO, data, size);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0) return errno;
    if (count == 0) return EIO;
    data += count;
    size -= static_cast<size_t>(count);
  }
  return 0;
}

void endAfterOutputFailure(int error) {
  if (error == EPIPE) {
    std::raise(SIGPIPE);
  } else {
    std::cerr << "zelvora: cannot write the output: " << std::strerror(error) << "\n";
  }
  ::_exit(1);
}

}  // namespace zelvora
