// The process's main run loop: the one thread on which the host's calls and
// every notification callback run.
//
// Sources are file descriptors with a handler called on the main thread when
// the descriptor is readable. Work can also be queued to run on the next turn.
// Nothing here raises; an exception thrown by a handler travels out of run().
#pragma once

#include <functional>

namespace host {

class RunLoop {
 public:
  // The process's main run loop.
  static RunLoop& main();

  // Calls `onReadable` whenever `fd` is readable, until removed. The caller
  // keeps owning the descriptor.
  void addSource(int fd, std::function<void()> onReadable);
  void removeSource(int fd);

  // Queues `work` to run on the next turn of the loop.
  void perform(std::function<void()> work);

  // Runs queued work, then waits up to `timeoutMs` (-1: no limit) for a source
  // to become readable and handles every readable source once. Returns false
  // when there was nothing to wait for (no source and no work).
  bool runOnce(int timeoutMs);

  // Turns the loop until stop() is called or nothing is left to wait for.
  void run();
  void stop();

 private:
  RunLoop() = default;
  struct State;
  State& state();
};

}  // namespace host
