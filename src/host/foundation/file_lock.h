// An exclusive lock on a file or folder between processes, waited for with a
// bound and never in silence.
//
// A FileLock takes flock(LOCK_EX) on what `path` names: a file (made empty
// when missing, with the folders above it) or a folder. The lock belongs to
// the object's own descriptor and goes when the object goes, or when the
// process ends however it ends, so a process killed while it held a lock
// never keeps it from the others.
//
// The wait is the kernel's own blocking wait, which every process waiting
// for the lock shares, so no waiter is passed over for ever; a timer
// interrupts it a few times a second (a signal sent to the waiting thread
// alone, with a handler installed only while it waits) to see how long it
// has waited. After `announceAfterNs` the caller's announce() is called once,
// so that a person waiting is told why; after `limitNs` the wait gives up,
// busy() is true and error() says what is held and for how long. A lock taken
// while the path was removed or replaced by another name is let go and taken
// again on what the path names now, within the same bound. Where the timer
// cannot be set up, the lock is tried every few milliseconds instead, within
// the same bound.
//
// Nothing here throws but std::bad_alloc, or reports but through announce()
// and error(). Main thread only: the wait and the timer belong to the thread
// that constructs the lock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace host {

struct LockWait {
  int64_t limitNs = 0;  // how long another process's lock is waited for; 0: not at all
  int64_t announceAfterNs = 0;
  std::function<void()> announce;  // called once, when the wait has lasted announceAfterNs
};

class FileLock {
 public:
  FileLock(const std::string& path, const LockWait& wait);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool held() const { return held_; }
  // Not held because another process held the lock for as long as the wait
  // allowed.
  bool busy() const { return busy_; }
  // Why the lock is not held, in a few words; empty while it is.
  const std::string& error() const { return error_; }

 private:
  void open(const std::string& path);
  bool samePath(const std::string& path) const;

  int fd_ = -1;
  bool held_ = false;
  bool busy_ = false;
  std::string error_;
};

// "2 s", "0.5 s": a wait in seconds, for messages.
std::string describeSeconds(int64_t ns);

}  // namespace host
