// Locks between processes, waited for with a bound: a held lock is waited
// for no longer than allowed and never in silence, the wait leaves the
// process's signals as they were, and a lock file replaced while waited for
// is not held in vain.
#include "host/foundation/file_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "support/temp_device.h"

namespace fs = std::filesystem;

namespace {

constexpr int64_t kMillisecond = 1000000;

// Whether another open file can take the lock on `path` at once.
bool freeElsewhere(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const bool taken = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  if (fd >= 0) ::close(fd);
  return taken;
}

// A child that takes the lock on `path`, says so, waits 0.1 s, runs
// `then` and ends with its answer (the lock goes with the process). Gives
// the child's pid once it holds the lock; -1 when it could not take it.
template <class Then>
pid_t holdInChild(const std::string& path, Then then) {
  int ready[2];
  if (::pipe(ready) != 0) return -1;
  const pid_t holder = ::fork();
  if (holder == 0) {
    host::FileLock held(path, {});
    char byte = held.held() ? 'y' : 'n';
    (void)!::write(ready[1], &byte, 1);
    ::usleep(100000);
    ::_exit(then() ? 0 : 1);
  }
  char byte = 0;
  const bool held = ::read(ready[0], &byte, 1) == 1 && byte == 'y';
  ::close(ready[0]);
  ::close(ready[1]);
  return held ? holder : -1;
}

TEST(FileLock, AHeldLockIsWaitedForNoLongerThanAllowedAndTheWaitIsAnnounced) {
  testing_support::TempDevice device;
  const std::string path = device.path("/folder/made/for/it.lock");
  // flock locks belong to an open file, so a second one plays the other process.
  host::FileLock first(path, {});
  ASSERT_TRUE(first.held()) << first.error();
  struct {
    int64_t limit, announceAfter;
    int announcements;
    const char* error;
  } const cases[] = {
      {0, 0, 0, " is held by another process"},
      {300 * kMillisecond, 100 * kMillisecond, 1, " is still held by another process after 0.3 s"},
      {200 * kMillisecond, 1000 * kMillisecond, 0, " is still held by another process after 0.2 s"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    int announced = 0;
    host::FileLock second(path, {c.limit, c.announceAfter, [&announced] { ++announced; }});
    EXPECT_FALSE(second.held());
    EXPECT_TRUE(second.busy());
    EXPECT_EQ(second.error(), "the lock " + path + c.error);
    EXPECT_EQ(announced, c.announcements);
    // The timer's signal is back to what it was, and none is left pending.
    struct sigaction action = {};
    ::sigaction(SIGRTMIN + 2, nullptr, &action);
    EXPECT_EQ(action.sa_handler, SIG_DFL);
    sigset_t pending;
    ::sigpending(&pending);
    EXPECT_FALSE(sigismember(&pending, SIGRTMIN + 2));
  }
}

TEST(FileLock, ALockLetGoWhileWaitedForIsTaken) {
  testing_support::TempDevice device;
  const std::string path = device.path("/it.lock");
  const pid_t holder = holdInChild(path, [] { return true; });
  ASSERT_GT(holder, 0);
  host::FileLock waiter(path, {30000 * kMillisecond, 30000 * kMillisecond, nullptr});
  EXPECT_TRUE(waiter.held()) << waiter.error();
  EXPECT_FALSE(freeElsewhere(path));
  int status = 0;
  ::waitpid(holder, &status, 0);
}

// Guards against holding a lock on a file that no longer has the lock's
// name: the waiter must end up with the lock the others see.
TEST(FileLock, ALockFileReplacedWhileWaitedForIsLockedUnderItsNewFile) {
  testing_support::TempDevice device;
  const std::string path = device.path("/it.lock");
  // Another file takes the name, then the old one's lock goes.
  const pid_t holder = holdInChild(path, [&path] {
    const int fresh = ::open((path + ".new").c_str(), O_RDWR | O_CREAT, 0644);
    return fresh >= 0 && ::rename((path + ".new").c_str(), path.c_str()) == 0;
  });
  ASSERT_GT(holder, 0);
  host::FileLock waiter(path, {30000 * kMillisecond, 30000 * kMillisecond, nullptr});
  int status = 0;
  ::waitpid(holder, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(waiter.held()) << waiter.error();
  EXPECT_FALSE(freeElsewhere(path)) << "held a lock on the file the name no longer names";
}

TEST(FileLock, AFolderIsLockedAsItIs) {
  testing_support::TempDevice device;
  const std::string folder = device.path("/data");
  fs::create_directories(folder);
  {
    host::FileLock lock(folder, {});
    ASSERT_TRUE(lock.held()) << lock.error();
    EXPECT_TRUE(fs::is_directory(folder));
    EXPECT_TRUE(host::FileLock(folder, {}).busy());
  }
  EXPECT_TRUE(host::FileLock(folder, {}).held());
}

}  // namespace
