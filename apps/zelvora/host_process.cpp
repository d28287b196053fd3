#include "host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>

#include "commands.h"
#include "common/host_setup.h"
#include "output.h"

namespace zelvora {
namespace {

void closeEnd(int& descriptor) {
  if (descriptor >= 0) ::close(descriptor);
  descriptor = -1;
}

// Copies the program's output to the tool's standard output and `input` to
// the program, whichever is ready, until the program has closed its output.
// Gives 0, or the errno of the first failed write of the standard output
// (both pipes are closed then).
int relay(int fromProgram, int toProgram, const std::string* input) {
  size_t written = 0;
  if (toProgram >= 0 && input->empty()) closeEnd(toProgram);
  while (fromProgram >= 0) {
    pollfd ends[2] = {{fromProgram, POLLIN, 0}, {toProgram, POLLOUT, 0}};
    if (::poll(ends, toProgram >= 0 ? 2 : 1, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (toProgram >= 0 && ends[1].revents != 0) {
      ssize_t count = ::write(toProgram, input->data() + written, input->size() - written);
      if (count > 0) written += static_cast<size_t>(count);
      // A program that stops reading early does not stop the tool.
      if ((count < 0 && errno != EAGAIN && errno != EINTR) || written == input->size()) {
        closeEnd(toProgram);
      }
    }
    if (ends[0].revents != 0) {
      char buffer[65536];
      ssize_t count = ::read(fromProgram, buffer, sizeof buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) break;
      if (int error = writeOutput(buffer, static_cast<size_t>(count)); error != 0) {
        closeEnd(fromProgram);
        closeEnd(toProgram);
        return error;
      }
    }
  }
  closeEnd(fromProgram);
  closeEnd(toProgram);
  return 0;
}

}  // namespace

int runHostProgram(const std::string& program, std::vector<std::string> arguments,
                   const std::string* input) {
  const std::string path = apps::helperDir() + "/" + program;
  arguments.insert(arguments.begin(), path);
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int output[2] = {-1, -1};
  int feed[2] = {-1, -1};
  if (::pipe2(output, O_CLOEXEC) != 0 || (input && ::pipe2(feed, O_CLOEXEC) != 0)) {
    return fail(1, "cannot start " + program + ": " + std::strerror(errno));
  }
  std::cout << std::flush;
  pid_t child = ::fork();
  if (child < 0) return fail(1, "cannot start " + program + ": " + std::strerror(errno));
  if (child == 0) {
    if (input) ::dup2(feed[0], STDIN_FILENO);
    ::dup2(output[1], STDOUT_FILENO);
    std::signal(SIGPIPE, SIG_DFL);
    ::execv(path.c_str(), argv.data());
    std::cerr << "zelvora: cannot start " << path << ": " << std::strerror(errno) << "\n";
    ::_exit(127);
  }
  ::close(output[1]);
  if (input) {
    ::close(feed[0]);
    ::fcntl(feed[1], F_SETFL, O_NONBLOCK);
  }
  // Failed writes to the program or the standard output come back as errors
  // while the output is copied.
  struct sigaction ignore = {}, previous = {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGPIPE, &ignore, &previous);
  const int outputError = relay(output[0], feed[1], input);
  int status = 0;
  if (outputError != 0) {
    // Without its output and input the program ends at its next write or
    // read; one that waits on the terminal (springboard) is stopped after a
    // second. It stores its settings atomically, so nothing is left half
    // written.
    for (int tries = 0; ::waitpid(child, &status, WNOHANG) == 0; ++tries) {
      if (tries == 100) ::kill(child, SIGTERM);
      if (tries == 300) ::kill(child, SIGKILL);
      ::usleep(10000);
    }
  } else {
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  ::sigaction(SIGPIPE, &previous, nullptr);
  // The program may have died of the closed pipe; the failed output says why.
  if (outputError != 0) endAfterOutputFailure(outputError);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return fail(1, program + " stopped by signal " + std::to_string(WTERMSIG(status)));
}

}  // namespace zelvora
