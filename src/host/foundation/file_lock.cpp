#include "host/foundation/file_lock.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <system_error>

#include "host/foundation/files.h"

namespace host {
namespace {

constexpr int64_t kMillisecond = 1000000;

int64_t monotonicNow() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

std::string reasonOf(int error) {
  return FileProblem{error == EACCES || error == EPERM ? FileProblem::Kind::permissionDenied
                                                       : FileProblem::Kind::ioError,
                     error}
      .describe();
}

void onWake(int) {}

// Interrupts the calling thread's blocking system calls every `periodNs`
// while it lives: a timer sends a signal to this thread alone, whose handler
// does nothing and does not restart the call. What was there before (the
// signal's action, whether the thread blocked it) is put back, and a signal
// still pending is taken first.
class WakeTimer {
 public:
  explicit WakeTimer(int64_t periodNs) : signal_(SIGRTMIN + 2) {
    struct sigaction action = {};
    action.sa_handler = &onWake;
    sigemptyset(&action.sa_mask);
    if (::sigaction(signal_, &action, &previousAction_) != 0) return;
    actionSet_ = true;
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, signal_);
    ::pthread_sigmask(SIG_UNBLOCK, &wake, &previousMask_);
    sigevent event = {};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = signal_;
#ifdef sigev_notify_thread_id
    event.sigev_notify_thread_id = ::gettid();
#else
    event._sigev_un._tid = ::gettid();
#endif
    if (::timer_create(CLOCK_MONOTONIC, &event, &timer_) != 0) return;
    timerMade_ = true;
    const timespec period{static_cast<time_t>(periodNs / 1000000000),
                          static_cast<long>(periodNs % 1000000000)};
    const itimerspec interval{period, period};
    armed_ = ::timer_settime(timer_, 0, &interval, nullptr) == 0;
  }
  ~WakeTimer() {
    if (!actionSet_) return;
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, signal_);
    ::pthread_sigmask(SIG_BLOCK, &wake, nullptr);
    if (timerMade_) ::timer_delete(timer_);
    const timespec none{0, 0};
    while (::sigtimedwait(&wake, nullptr, &none) == signal_) {
    }
    ::sigaction(signal_, &previousAction_, nullptr);
    ::pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
  }
  WakeTimer(const WakeTimer&) = delete;
  WakeTimer& operator=(const WakeTimer&) = delete;

  bool armed() const {
    return armed_;
  }

 private:
  int signal_;
  struct sigaction previousAction_ = {};
  sigset_t previousMask_{};
  timer_t timer_{};
  bool actionSet_ = false;
  bool timerMade_ = false;
  bool armed_ = false;
};

}  // namespace

std::string describeSeconds(int64_t ns) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", static_cast<double>(ns) / 1e9);
  std::string seconds = text;
  while (seconds.back() == '0') seconds.pop_back();
  if (seconds.back() == '.') seconds.pop_back();
  return seconds + " s";
}

void FileLock::open(const std::string& path) {
  constexpr int kFlags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0644);
  // A folder, or an existing lock file in a folder this process may not
  // write, still locks when opened for reading.
  int error = errno;
  if (fd_ < 0 && error != ENOENT) {
    fd_ = ::open(path.c_str(), O_RDONLY | kFlags);
    // No file to open for reading: the reason is why it could not be made.
    if (fd_ < 0 && errno != ENOENT) error = errno;
  }
  if (fd_ < 0) error_ = "cannot open the lock " + path + ": " + reasonOf(error);
}

bool FileLock::samePath(const std::string& path) const {
  struct stat named {};
  struct stat locked {};
  return ::stat(path.c_str(), &named) == 0 && ::fstat(fd_, &locked) == 0 &&
         named.st_dev == locked.st_dev && named.st_ino == locked.st_ino;
}

FileLock::FileLock(const std::string& path, const LockWait& wait) {
  std::error_code folderError;
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (!folder.empty()) std::filesystem::create_directories(folder, folderError);
  if (folderError) {
    error_ = "cannot create " + folder.string() + ": " + folderError.message();
    return;
  }
  const int64_t start = monotonicNow();
  const int64_t limit = std::max<int64_t>(wait.limitNs, 0);
  bool announced = false;
  // Made only once the lock is found held elsewhere.
  std::optional<WakeTimer> timer;
  for (;;) {
    if (fd_ < 0) open(path);
    if (fd_ < 0) return;
    int result = ::flock(fd_, LOCK_EX | LOCK_NB);
    if (result != 0 && errno == EWOULDBLOCK && limit > 0) {
      if (!timer) timer.emplace(std::clamp<int64_t>(limit / 4, kMillisecond, 100 * kMillisecond));
      if (timer->armed()) {
        result = ::flock(fd_, LOCK_EX);
      } else {
        ::usleep(5000);
        errno = EINTR;
      }
    }
    if (result == 0) {
      if (samePath(path)) {
        held_ = true;
        return;
      }
      // Taken on a file that is no longer the one the path names: let go,
      // and wait for the one it names now.
      ::close(fd_);
      fd_ = -1;
      continue;
    }
    const int error = errno;
    if (error != EINTR && error != EWOULDBLOCK) {
      error_ = "cannot lock " + path + ": " + reasonOf(error);
      return;
    }
    const int64_t waited = monotonicNow() - start;
    if (!announced && limit > 0 && wait.announce && waited >= wait.announceAfterNs) {
      announced = true;
      wait.announce();
    }
    if (waited >= limit) {
      busy_ = true;
      error_ = limit == 0 ? "the lock " + path + " is held by another process"
                          : "the lock " + path + " is still held by another process after " +
                                describeSeconds(limit);
      return;
    }
  }
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);  // closing lets the lock go
}

}  // namespace host
