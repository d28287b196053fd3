#include "host/notify/run_loop.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

using host::RunLoop;

// A pipe whose read end can be made readable on demand. Removes its source
// from the loop before closing.
class Pipe {
 public:
  Pipe() {
    if (::pipe2(ends_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe failed");
  }
  ~Pipe() {
    RunLoop::main().removeSource(ends_[0]);
    closeReadEnd();
    ::close(ends_[1]);
  }
  int readEnd() const { return ends_[0]; }
  void signal() const { ASSERT_EQ(::write(ends_[1], "x", 1), 1); }
  void drain() const {
    char buffer[64];
    while (::read(ends_[0], buffer, sizeof buffer) > 0) {
    }
  }
  void closeReadEnd() {
    if (ends_[0] >= 0) ::close(ends_[0]);
    ends_[0] = -1;
  }

 private:
  int ends_[2] = {-1, -1};
};

// Every test must leave the process-wide loop empty for the next one.
class RunLoopTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_FALSE(RunLoop::main().runOnce(0)) << "test left work behind"; }
};

TEST_F(RunLoopTest, QueuedWorkRunsInOrderOnTheNextTurnOnly) {
  RunLoop& loop = RunLoop::main();
  EXPECT_FALSE(loop.runOnce(0));

  std::vector<std::string> ran;
  loop.perform([&] {
    ran.push_back("first");
    loop.perform([&] { ran.push_back("queued by first"); });
  });
  loop.perform([&] { ran.push_back("second"); });
  EXPECT_TRUE(ran.empty());

  EXPECT_TRUE(loop.runOnce(-1));  // must not wait: there are no sources
  EXPECT_EQ(ran, (std::vector<std::string>{"first", "second"}));
  loop.run();  // returns once nothing is left
  EXPECT_EQ(ran.back(), "queued by first");
}

TEST_F(RunLoopTest, SourceHandlerRunsOnlyWhileReadable) {
  RunLoop& loop = RunLoop::main();
  Pipe pipe;
  int calls = 0;
  loop.addSource(pipe.readEnd(), [&] {
    ++calls;
    pipe.drain();
  });

  EXPECT_TRUE(loop.runOnce(0));
  EXPECT_EQ(calls, 0);
  pipe.signal();
  pipe.signal();
  EXPECT_TRUE(loop.runOnce(5000));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(loop.runOnce(0));
  EXPECT_EQ(calls, 1);

  // Adding again for the same descriptor replaces the handler.
  int replacementCalls = 0;
  loop.addSource(pipe.readEnd(), [&] {
    ++replacementCalls;
    pipe.drain();
  });
  pipe.signal();
  EXPECT_TRUE(loop.runOnce(5000));
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(replacementCalls, 1);

  loop.removeSource(pipe.readEnd());
  pipe.signal();
  EXPECT_FALSE(loop.runOnce(0));
  EXPECT_EQ(replacementCalls, 1);
}

TEST_F(RunLoopTest, HandlersMayChangeSourcesDuringATurn) {
  RunLoop& loop = RunLoop::main();
  Pipe first, second, added;
  std::vector<std::string> calls;
  // Both are readable in the same turn; whichever runs first removes itself
  // and the other, which must then not be called, and adds a new source.
  auto handlerFor = [&](Pipe& self, Pipe& other, const char* name) {
    return [&, name] {
      calls.push_back(name);
      self.drain();
      loop.removeSource(self.readEnd());
      loop.removeSource(other.readEnd());
      loop.addSource(added.readEnd(), [&] {
        calls.push_back("added");
        added.drain();
      });
    };
  };
  loop.addSource(first.readEnd(), handlerFor(first, second, "first"));
  loop.addSource(second.readEnd(), handlerFor(second, first, "second"));
  first.signal();
  second.signal();
  added.signal();

  EXPECT_TRUE(loop.runOnce(5000));
  ASSERT_EQ(calls.size(), 1u);  // the added source waits for the next poll
  EXPECT_TRUE(loop.runOnce(5000));
  EXPECT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls.back(), "added");
}

TEST_F(RunLoopTest, SourceClosedWithoutRemovalIsDropped) {
  RunLoop& loop = RunLoop::main();
  Pipe pipe;
  int calls = 0;
  loop.addSource(pipe.readEnd(), [&] { ++calls; });
  pipe.closeReadEnd();
  EXPECT_TRUE(loop.runOnce(5000));
  EXPECT_FALSE(loop.runOnce(0)) << "the closed source is still being waited for";
  EXPECT_EQ(calls, 0);
}

TEST_F(RunLoopTest, StopEndsRunAfterTheCurrentTurn) {
  RunLoop& loop = RunLoop::main();
  Pipe pipe;
  int turns = 0;
  loop.addSource(pipe.readEnd(), [&] {
    pipe.drain();
    if (++turns < 3) {
      pipe.signal();
    } else {
      loop.stop();
    }
  });
  loop.stop();  // outside run(): no effect on the next run
  pipe.signal();
  loop.run();
  EXPECT_EQ(turns, 3);
  loop.removeSource(pipe.readEnd());
}

TEST_F(RunLoopTest, ExceptionsLeaveTheLoopUsable) {
  RunLoop& loop = RunLoop::main();
  bool laterRan = false;
  loop.perform([] { throw std::runtime_error("work failed"); });
  loop.perform([&] { laterRan = true; });
  EXPECT_THROW(loop.runOnce(0), std::runtime_error);
  EXPECT_FALSE(laterRan);
  EXPECT_TRUE(loop.runOnce(0));
  EXPECT_TRUE(laterRan);

  Pipe pipe;
  int calls = 0;
  loop.addSource(pipe.readEnd(), [&] {
    pipe.drain();
    if (++calls == 1) throw std::runtime_error("handler failed");
  });
  pipe.signal();
  EXPECT_THROW(loop.runOnce(5000), std::runtime_error);
  pipe.signal();
  EXPECT_TRUE(loop.runOnce(5000));
  EXPECT_EQ(calls, 2);
  loop.removeSource(pipe.readEnd());
}

}  // namespace
