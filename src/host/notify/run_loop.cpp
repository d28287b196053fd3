#include "host/notify/run_loop.h"

#include <poll.h>

#include <cerrno>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace host {

struct RunLoop::State {
  struct Source {
    // Tells a source apart from a later one on the same descriptor number, so
    // that a handler removed and replaced during a turn is not called for the
    // earlier poll.
    uint64_t generation = 0;
    // Shared so that a handler that removes its own source stays alive until
    // it returns.
    std::shared_ptr<std::function<void()>> handler;
  };

  std::map<int, Source> sources;
  std::deque<std::function<void()>> work;
  uint64_t nextGeneration = 1;
  bool stopRequested = false;
};

RunLoop& RunLoop::main() {
  static RunLoop* loop = new RunLoop;  // never destroyed: handlers may run at exit
  return *loop;
}

RunLoop::State& RunLoop::state() {
  static State* shared = new State;  // one loop per process, see main()
  return *shared;
}

void RunLoop::addSource(int fd, std::function<void()> onReadable) {
  if (fd < 0 || !onReadable) return;
  State& s = state();
  s.sources[fd] = {s.nextGeneration++,
                   std::make_shared<std::function<void()>>(std::move(onReadable))};
}

void RunLoop::removeSource(int fd) {
  state().sources.erase(fd);
}

void RunLoop::perform(std::function<void()> work) {
  if (work) state().work.push_back(std::move(work));
}

namespace {

// Runs the work queued before this turn. Work it queues waits for the next
// turn. Should a piece of work throw, what was not run yet goes back to the
// front of the queue.
bool runQueuedWork(std::deque<std::function<void()>>& queue) {
  if (queue.empty()) return false;
  std::deque<std::function<void()>> batch;
  batch.swap(queue);
  try {
    while (!batch.empty()) {
      std::function<void()> job = std::move(batch.front());
      batch.pop_front();
      job();
    }
  } catch (...) {
    queue.insert(queue.begin(), std::make_move_iterator(batch.begin()),
                 std::make_move_iterator(batch.end()));
    throw;
  }
  return true;
}

}  // namespace

bool RunLoop::runOnce(int timeoutMs) {
  State& s = state();
  bool ranWork = runQueuedWork(s.work);
  if (s.sources.empty()) return ranWork || !s.work.empty();

  std::vector<pollfd> polled;
  std::vector<uint64_t> generations;
  polled.reserve(s.sources.size());
  generations.reserve(s.sources.size());
  for (const auto& [fd, source] : s.sources) {
    polled.push_back({fd, POLLIN, 0});
    generations.push_back(source.generation);
  }
  int wait = (ranWork || !s.work.empty()) ? 0 : timeoutMs;
  if (::poll(polled.data(), polled.size(), wait) < 0) return errno == EINTR;

  for (size_t i = 0; i < polled.size(); ++i) {
    if (polled[i].revents == 0) continue;
    auto found = s.sources.find(polled[i].fd);
    if (found == s.sources.end() || found->second.generation != generations[i]) continue;
    if (polled[i].revents & POLLNVAL) {
      s.sources.erase(found);  // closed without being removed: nothing to wait for
      continue;
    }
    std::shared_ptr<std::function<void()>> handler = found->second.handler;
    (*handler)();
  }
  return true;
}

void RunLoop::run() {
  State& s = state();
  s.stopRequested = false;
  while (!s.stopRequested && runOnce(-1)) {
  }
  s.stopRequested = false;
}

void RunLoop::stop() {
  state().stopRequested = true;
}

}  // namespace host
