// The main run loop: queued work, descriptor sources and changes made by
// handlers.
#include "host/notify/run_loop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace {

using host::RunLoop;
using Calls = std::vector<std::string>;

// A pipe whose read end `end[0]` is made readable on demand. Its source is
// removed from the loop before it closes.
struct Pipe {
  Pipe() { EXPECT_EQ(::pipe2(end, O_CLOEXEC | O_NONBLOCK), 0); }
  ~Pipe() {
    RunLoop::main().removeSource(end[0]);
    ::close(end[0]);
    ::close(end[1]);
  }
  void signal() const { ASSERT_EQ(::write(end[1], "x", 1), 1); }
  void drain() const {
    for (char buffer[64]; ::read(end[0], buffer, sizeof buffer) > 0;) {
    }
  }
  int end[2] = {-1, -1};
};

// Every test leaves the process-wide loop empty for the next one.
class RunLoopTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_FALSE(loop.runOnce(0)) << "test left work behind"; }
  RunLoop& loop = RunLoop::main();
};

// Guards against work running at once instead of on the loop, out of order,
// or in the same turn as the work that queued it, and against an exception
// losing the work not yet run.
TEST_F(RunLoopTest, QueuedWorkRunsInOrderOnTheNextTurn) {
  EXPECT_FALSE(loop.runOnce(0)) << "nothing to wait for";
  Calls ran;
  loop.perform([&] {
    ran.push_back("first");
    loop.perform([&] { ran.push_back("queued by first"); });
  });
  loop.perform([&] { ran.push_back("second"); });
  EXPECT_TRUE(ran.empty());
  EXPECT_TRUE(loop.runOnce(-1));  // must not wait: there are no sources
  EXPECT_EQ(ran, (Calls{"first", "second"}));
  loop.run();  // returns once nothing is left
  EXPECT_EQ(ran.back(), "queued by first");

  loop.perform([] { throw std::runtime_error("work failed"); });
  loop.perform([&] { ran.push_back("after the throw"); });
  EXPECT_THROW(loop.runOnce(0), std::runtime_error);
  EXPECT_TRUE(loop.runOnce(0));
  EXPECT_EQ(ran.back(), "after the throw");
}

// Guards against a handler running when its descriptor is not readable, a
// replaced handler still running, and a removed or closed source being
// waited for or called.
TEST_F(RunLoopTest, SourceHandlerRunsOnlyWhileReadableAndUntilRemoved) {
  Pipe pipe;
  Calls calls;
  loop.addSource(pipe.end[0], [&] { calls.push_back("replaced"); });
  loop.addSource(pipe.end[0], [&] {
    calls.push_back("handler");
    pipe.drain();
  });
  EXPECT_TRUE(loop.runOnce(0));
  EXPECT_TRUE(calls.empty());
  pipe.signal();
  pipe.signal();
  EXPECT_TRUE(loop.runOnce(5000));
  EXPECT_TRUE(loop.runOnce(0));
  EXPECT_EQ(calls, Calls{"handler"});

  loop.removeSource(pipe.end[0]);
  pipe.signal();
  EXPECT_FALSE(loop.runOnce(0));
  loop.addSource(pipe.end[0], [&] { calls.push_back("closed"); });
  ::close(std::exchange(pipe.end[0], -1));
  EXPECT_TRUE(loop.runOnce(5000));
  EXPECT_FALSE(loop.runOnce(0)) << "the closed source is still being waited for";
  EXPECT_EQ(calls, Calls{"handler"});
}

// Guards against calling a source removed earlier in the same turn (or the
// new handler put on its descriptor), and against losing sources added by a
// handler.
TEST_F(RunLoopTest, HandlersMayAddAndRemoveSourcesDuringATurn) {
  Pipe first, second, added;
  Calls calls;
  // Both are readable in one turn; whichever runs first removes both, puts a
  // new handler on the other's descriptor and adds a new source.
  auto handlerFor = [&](const char* name, int other) {
    return [&, name, other] {
      calls.push_back(name);
      loop.removeSource(first.end[0]);
      loop.removeSource(second.end[0]);
      for (int fd : {other, added.end[0]}) {
        loop.addSource(fd, [&, fd, other] {
          calls.push_back(fd == other ? "replaced" : "added");
          loop.removeSource(fd);
        });
      }
    };
  };
  loop.addSource(first.end[0], handlerFor("first", second.end[0]));
  loop.addSource(second.end[0], handlerFor("second", first.end[0]));
  for (Pipe* pipe : {&first, &second, &added}) pipe->signal();
  EXPECT_TRUE(loop.runOnce(5000));
  ASSERT_EQ(calls.size(), 1u) << "a new handler ran for the earlier poll";
  EXPECT_TRUE(loop.runOnce(5000));
  std::sort(calls.begin() + 1, calls.end());
  EXPECT_EQ(calls, (Calls{calls[0], "added", "replaced"}));
}

}  // namespace
