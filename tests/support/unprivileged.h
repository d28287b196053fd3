// Running part of a test as an unprivileged user, for checks that root would
// pass regardless (a file of mode 000 is readable by root).
#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

// The exit status a child gives when it could not drop its privileges.
inline constexpr int kCannotDropPrivileges = 77;

// Runs `body` in a forked child as user and group "nobody" (65534) when the
// test runs as root, or as the current user otherwise. Gives the child's exit
// status: 0 when `body` gave true, 1 when it gave false, kCannotDropPrivileges
// when it could not become unprivileged. The child leaves without running
// destructors.
template <class Body>
int runUnprivileged(Body body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) {
      ::_exit(kCannotDropPrivileges);
    }
    ::_exit(body() ? 0 : 1);
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace testing_support
