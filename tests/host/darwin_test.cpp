#include "host/notify/darwin.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "host/foundation/device.h"
#include "host/foundation/values.h"
#include "host/notify/run_loop.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using host::RunLoop;
using testing_support::TempDevice;
using Clock = std::chrono::steady_clock;

// Generous limit for anything that should happen promptly; only reached when
// something is broken.
constexpr auto kGuard = std::chrono::seconds(20);

CFNotificationCenterRef darwinCentre() {
  return CFNotificationCenterGetDarwinNotifyCenter();
}

void post(const std::string& name) {
  CFNotificationCenterPostNotification(darwinCentre(), NSString::fromUtf8(name), nullptr, nil,
                                       true);
}

std::string utf8(const CFStringRef& name) {
  const NSString* text = objectAs<NSString>(name);
  return text ? toUtf8(text->units()) : "<not a text>";
}

// What one observer heard: every name, and the other arguments of the last
// call. Registrations last for the life of the process, so these are never
// freed.
struct Heard {
  std::vector<std::string> names;
  CFNotificationCenterRef centre;
  const void* object = &names;
  id userInfo;
};

Heard& newHeard() {
  static std::vector<std::unique_ptr<Heard>> all;
  return *all.emplace_back(std::make_unique<Heard>());
}

void record(CFNotificationCenterRef center, void* observer, CFStringRef name, const void* object,
            CFDictionaryRef userInfo) {
  Heard& heard = *static_cast<Heard*>(observer);
  heard.names.push_back(utf8(name));
  heard.centre = center;
  heard.object = object;
  heard.userInfo = userInfo;
}

Heard& observe(const std::string& name) {
  Heard& heard = newHeard();
  CFNotificationCenterAddObserver(darwinCentre(), &heard, record, NSString::fromUtf8(name), nullptr,
                                  CFNotificationSuspensionBehaviorCoalesce);
  return heard;
}

// Turns the main loop until `done` holds; false if it never does.
bool turnUntil(const std::function<bool()>& done) {
  auto deadline = Clock::now() + kGuard;
  while (!done()) {
    if (Clock::now() > deadline) return false;
    RunLoop::main().runOnce(50);
  }
  return true;
}

// The announcements of the current device root, by file name.
std::set<std::string> announcements() {
  std::set<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(host::devicePath("/var/run/notify"), error), end;
       !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (name.front() != '.') names.insert(name);
  }
  return names;
}

// ---- a second process --------------------------------------------------------

void writeLine(int fd, const std::string& line) {
  std::string data = line + "\n";
  if (::write(fd, data.data(), data.size()) != static_cast<ssize_t>(data.size())) _exit(3);
}

// The child's observer: reports each name it hears as a line.
void reportHeard(CFNotificationCenterRef, void* observer, CFStringRef name, const void*,
                 CFDictionaryRef) {
  writeLine(*static_cast<int*>(observer), utf8(name));
}

void childObserves(int report, const std::vector<std::string>& names) {
  int* fd = new int(report);
  for (const std::string& name : names) {
    CFNotificationCenterAddObserver(darwinCentre(), fd, reportHeard, NSString::fromUtf8(name),
                                    nullptr, CFNotificationSuspensionBehaviorCoalesce);
  }
  writeLine(report, "ready");
}

char readControl(int control) {
  char byte = 0;
  return ::read(control, &byte, 1) == 1 ? byte : '\0';
}

void runUntilControlCloses(int control) {
  RunLoop& loop = RunLoop::main();
  loop.addSource(control, [&loop, control] {
    if (readControl(control) == '\0') loop.stop();
  });
  loop.run();
}

// A forked copy of this process running `body(control, report)`: the parent
// writes to `control` and reads lines the child writes to `report`.
class Child {
 public:
  explicit Child(const std::function<void(int control, int report)>& body) {
    int toChild[2], fromChild[2];
    if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe failed");
    }
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      ::close(toChild[1]);
      ::close(fromChild[0]);
      try {
        body(toChild[0], fromChild[1]);
      } catch (...) {
        _exit(2);
      }
      _exit(0);
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    control_ = toChild[1];
    report_ = fromChild[0];
  }

  ~Child() {
    closeControl();
    if (pid_ > 0) wait();
    ::close(report_);
  }

  // The next line the child wrote; none at end of file or when the guard
  // runs out.
  std::optional<std::string> readLine() {
    std::string line;
    for (auto deadline = Clock::now() + kGuard;;) {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      pollfd readable{report_, POLLIN, 0};
      char byte;
      if (::poll(&readable, 1, static_cast<int>(std::max<long>(left.count(), 0))) <= 0 ||
          ::read(report_, &byte, 1) != 1) {
        return std::nullopt;
      }
      if (byte == '\n') return line;
      line += byte;
    }
  }

  void send(char byte) { ASSERT_EQ(::write(control_, &byte, 1), 1); }

  void closeControl() {
    if (control_ >= 0) ::close(control_);
    control_ = -1;
  }

  // Waits for the child to end and gives its exit code; a child that does
  // not end within the guard is killed.
  int wait() {
    int status = 0;
    pid_t ended = 0;
    for (auto deadline = Clock::now() + kGuard; (ended = ::waitpid(pid_, &status, WNOHANG)) == 0;) {
      if (Clock::now() > deadline) ::kill(pid_, SIGKILL);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
  int control_ = -1;
  int report_ = -1;
};

// ---- within one process -----------------------------------------------------

TEST(DarwinCentre, OwnPostArrivesThroughTheLoopWithPlatformArguments) {
  TempDevice device;
  const std::string name = "org.tarnwick.test/own-post";
  Heard& first = observe(name);
  Heard& second = observe(name);

  post(name);
  EXPECT_TRUE(first.names.empty()) << "delivered during the post instead of through the loop";
  ASSERT_TRUE(turnUntil([&] { return !first.names.empty() && !second.names.empty(); }));

  EXPECT_EQ(first.names, std::vector<std::string>{name});
  EXPECT_EQ(second.names, std::vector<std::string>{name});
  EXPECT_NE(first.centre, nil);
  EXPECT_EQ(first.centre, darwinCentre());
  EXPECT_EQ(first.object, nullptr);
  EXPECT_EQ(first.userInfo, nil);
}

TEST(DarwinCentre, PostsBeforeTheLoopRunsArriveOnceAndOnlyToTheirObservers) {
  TempDevice device;
  const std::string name = "org.tarnwick.test/coalesced";
  const std::string other = "org.tarnwick.test/coalesced-other";
  Heard& heard = observe(name);
  // Registering the same observer, callback and name again changes nothing.
  CFNotificationCenterAddObserver(darwinCentre(), &heard, record, NSString::fromUtf8(name), nullptr,
                                  CFNotificationSuspensionBehaviorCoalesce);
  Heard& otherHeard = observe(other);

  for (int i = 0; i < 5; ++i) post(name);
  ASSERT_TRUE(turnUntil([&] { return !heard.names.empty(); }));
  for (int i = 0; i < 3; ++i) RunLoop::main().runOnce(0);
  EXPECT_EQ(heard.names.size(), 1u);
  EXPECT_TRUE(otherHeard.names.empty());

  // Coalescing only joins posts that wait together: a later post arrives again.
  post(name);
  ASSERT_TRUE(turnUntil([&] { return heard.names.size() >= 2; }));
  EXPECT_EQ(heard.names.size(), 2u);
}

TEST(DarwinCentre, InvalidNamesAndOtherCentresAreIgnored) {
  TempDevice device;
  const std::string marker = "org.tarnwick.test/invalid-marker";
  const std::string viaOtherCentre = "org.tarnwick.test/invalid-other-centre";
  const std::string tooLong(kDarwinNameLimit + 1, 'n');
  Heard& markerHeard = observe(marker);
  Heard& longHeard = observe(tooLong);
  Heard& otherCentreHeard = newHeard();
  CFNotificationCenterAddObserver(nil, &otherCentreHeard, record,
                                  NSString::fromUtf8(viaOtherCentre), nullptr,
                                  CFNotificationSuspensionBehaviorCoalesce);

  CFNotificationCenterPostNotification(darwinCentre(), nil, nullptr, nil, true);
  CFNotificationCenterPostNotification(darwinCentre(), NSString::fromUtf8(""), nullptr, nil, true);
  CFNotificationCenterPostNotification(darwinCentre(), NSNumber::integer(7), nullptr, nil, true);
  post(tooLong);
  post(std::string(100000, 'x'));
  post(viaOtherCentre);
  CFNotificationCenterPostNotification(nil, NSString::fromUtf8(marker), nullptr, nil, true);
  post(marker);

  ASSERT_TRUE(turnUntil([&] { return !markerHeard.names.empty(); }));
  EXPECT_EQ(markerHeard.names.size(), 1u);
  EXPECT_TRUE(longHeard.names.empty());
  EXPECT_TRUE(otherCentreHeard.names.empty());
}

TEST(DarwinCentre, UnwritableDeviceRootRegistersSilently) {
  TempDevice device;
  device.writeFile("/var/run", "a file where the folder should be");
  const std::string name = "org.tarnwick.test/unwritable";
  Heard& heard = observe(name);
  post(name);
  for (int i = 0; i < 3; ++i) RunLoop::main().runOnce(0);
  EXPECT_TRUE(heard.names.empty());
  EXPECT_TRUE(announcements().empty());
}

// ---- between processes --------------------------------------------------------

TEST(DarwinCentre, PostReachesAnotherProcessOfTheSameDevice) {
  TempDevice device;
  const std::string name = "org.tarnwick.test/cross";
  Child child([&](int control, int report) {
    childObserves(report, {name});
    runUntilControlCloses(control);
  });
  ASSERT_EQ(child.readLine(), "ready");
  post(name);
  EXPECT_EQ(child.readLine(), name);
  child.closeControl();
  EXPECT_EQ(child.wait(), 0);
}

TEST(DarwinCentre, ProcessNotRunningItsLoopGetsOneDeliveryAndDoesNotBlockPosters) {
  TempDevice device;
  const std::string name = "org.tarnwick.test/burst";
  const std::string marker = "org.tarnwick.test/burst-marker";
  const std::string unwanted = "org.tarnwick.test/burst-unwanted";
  Child child([&](int control, int report) {
    childObserves(report, {name, marker});
    if (readControl(control) != 'g') _exit(4);
    runUntilControlCloses(control);
  });
  ASSERT_EQ(child.readLine(), "ready");

  // Far more posts than the receiver's queue holds; each must return.
  post(unwanted);
  for (int i = 0; i < 500; ++i) post(name);
  child.send('g');
  // Everything that reached the child was queued before it began to read, so
  // it comes in a single delivery.
  EXPECT_EQ(child.readLine(), name);
  // The receiver has drained its queue: posts get through again.
  post(marker);
  EXPECT_EQ(child.readLine(), marker);
  child.closeControl();
  EXPECT_EQ(child.readLine(), std::nullopt);
  EXPECT_EQ(child.wait(), 0);
}

TEST(DarwinCentre, DifferentDeviceRootsDoNotHearEachOther) {
  TempDevice first;
  const std::string name = "org.tarnwick.test/roots";
  const std::string marker = "org.tarnwick.test/roots-marker";
  Child child([&](int control, int report) {
    childObserves(report, {name, marker});
    runUntilControlCloses(control);
  });
  ASSERT_EQ(child.readLine(), "ready");

  TempDevice second;  // now the current root
  Heard& heard = observe(name);
  post(name);
  ASSERT_TRUE(turnUntil([&] { return !heard.names.empty(); }));

  host::setDeviceRoot(first.root());
  post(marker);
  // Had the first post crossed roots, its name would have arrived first.
  EXPECT_EQ(child.readLine(), marker);
  child.closeControl();
  EXPECT_EQ(child.readLine(), std::nullopt);
  EXPECT_EQ(child.wait(), 0);
}

TEST(DarwinCentre, AnnouncementsFollowTheirProcesses) {
  TempDevice device;
  observe("org.tarnwick.test/announcements");
  const std::set<std::string> own = announcements();
  ASSERT_EQ(own.size(), 1u);

  // A process that exits normally takes its announcement with it.
  {
    Child child([&](int control, int report) {
      childObserves(report, {"org.tarnwick.test/announcements-child"});
      readControl(control);
      std::exit(0);
    });
    ASSERT_EQ(child.readLine(), "ready");
    EXPECT_EQ(announcements().size(), 2u);
    child.send('x');
    EXPECT_EQ(child.wait(), 0);
    EXPECT_EQ(announcements(), own);
  }

  // One that dies leaves it behind, and the next post clears it away, along
  // with any announcement of a socket that no longer exists.
  {
    Child child([&](int control, int report) {
      childObserves(report, {"org.tarnwick.test/announcements-child"});
      readControl(control);
      _exit(0);
    });
    ASSERT_EQ(child.readLine(), "ready");
    child.send('k');
    EXPECT_EQ(child.wait(), 0);
  }
  device.writeFile("/var/run/notify/1-00000000deadbeef", "zelvora-notify/1-00000000deadbeef\n");
  EXPECT_EQ(announcements().size(), 3u);
  post("org.tarnwick.test/announcements");
  EXPECT_EQ(announcements(), own);
}

}  // namespace
