// The process's main run loop: the one thread on which the host's calls and
// every notification callback run.
//
// Sources are file descriptors with a handler called on the main thread when
// the descriptor is readable (end of file and errors count as readable: the
// handler finds out when it reads). Work can also be queued to run on the next
// turn. Handlers and work may add or remove sources and queue more work; a
// source removed during a turn is not called later in that turn.
//
// The loop is for the main thread only; nothing here is synchronised. Nothing
// here raises; an exception thrown by a handler or by queued work travels out
// of runOnce() and run(), and the loop stays usable (work not yet run stays
// queued).
#pragma once

#include <functional>

namespace host {

class RunLoop {
 public:
  // The process's main run loop. It lives for the life of the process.
  static RunLoop& main();

  // Calls `onReadable` whenever `fd` is readable, until removed. The caller
  // keeps owning the descriptor and removes the source before closing it; a
  // source whose descriptor was closed anyway is dropped. Adding a source for
  // a descriptor that already has one replaces its handler.
  void addSource(int fd, std::function<void()> onReadable);
  void removeSource(int fd);

  // Queues `work` to run on the next turn of the loop.
  void perform(std::function<void()> work);

  // Runs queued work, then waits up to `timeoutMs` (-1: no limit) for a source
  // to become readable and handles every readable source once. It does not
  // wait when it ran work or more work is queued. Returns false when there was
  // nothing to wait for (no source and no work).
  bool runOnce(int timeoutMs);

  // Turns the loop until stop() is called or nothing is left to wait for.
  // stop() ends the run() in progress after the current turn; outside run()
  // it does nothing.
  void run();
  void stop();

 private:
  RunLoop() = default;
  struct State;
  State& state();
};

}  // namespace host
