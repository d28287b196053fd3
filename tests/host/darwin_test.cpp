// The Darwin notification centre, within one process and between forked
// processes of one device root.
#include "host/notify/darwin.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
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

void post(const std::string& name) {
  CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(),
                                       NSString::fromUtf8(name), nullptr, nil, true);
}
void observe(const void* observer, CFNotificationCallback callback, const std::string& name) {
  CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), observer, callback,
                                  NSString::fromUtf8(name), nullptr,
                                  CFNotificationSuspensionBehaviorCoalesce);
}
std::string utf8(const CFStringRef& name) {
  return objectAs<NSString>(name) ? toUtf8(objectAs<NSString>(name)->units()) : "<not a text>";
}

// What one observer heard, and whether every call had the platform's other
// arguments: the Darwin centre, no object, no user info. Registrations last
// for the life of the process, so these never go.
struct Heard {
  std::vector<std::string> names;
  bool platformArguments = true;
};
void record(CFNotificationCenterRef center, void* observer, CFStringRef name, const void* object,
            CFDictionaryRef userInfo) {
  auto& heard = *static_cast<Heard*>(observer);
  heard.names.push_back(utf8(name));
  heard.platformArguments &=
      center == CFNotificationCenterGetDarwinNotifyCenter() && !object && !userInfo;
}
Heard& observe(const std::string& name) {
  static std::vector<std::unique_ptr<Heard>> all;
  Heard& heard = *all.emplace_back(std::make_unique<Heard>());
  observe(&heard, record, name);
  return heard;
}

// Turns the main loop until `done` holds; false if it never does.
bool turnUntil(const std::function<bool()>& done) {
  for (auto giveUp = Clock::now() + std::chrono::seconds(20); !done();) {
    if (Clock::now() > giveUp) return false;
    RunLoop::main().runOnce(50);
  }
  return true;
}

// The number of announcement files of the current device root.
long announcements() {
  std::error_code error;
  fs::directory_iterator files(host::devicePath("/var/run/notify"), error);
  return std::distance(begin(files), end(files));
}

// ---- a second process ----------------------------------------------------------

void writeLine(int fd, const std::string& line) {
  if (::write(fd, (line + "\n").data(), line.size() + 1) != ssize_t(line.size() + 1)) _exit(3);
}
char readControl(int fd) {
  char byte = 0;
  return ::read(fd, &byte, 1) == 1 ? byte : '\0';
}
// The next line read from `fd`; none at end of file.
std::optional<std::string> readLine(int fd) {
  std::string line;
  for (char byte; ::read(fd, &byte, 1) == 1; line += byte) {
    if (byte == '\n') return line;
  }
  return std::nullopt;
}

// In a forked child: observes `names`, writing each name heard as a line to
// `fd`, writes "ready", waits for a 'g', runs its loop until the parent closes
// its side of `fd`, then exits normally. An alarm ends it should it hang, so
// that the parent reads end of file.
[[noreturn]] void runChild(int fd, const std::vector<std::string>& names) {
  ::alarm(20);
  auto report = [](CFNotificationCenterRef, void* to, CFStringRef name, const void*,
                   CFDictionaryRef) { writeLine(*static_cast<int*>(to), utf8(name)); };
  for (const std::string& name : names) observe(new int(fd), report, name);
  writeLine(fd, "ready");
  if (readControl(fd) != 'g') _exit(4);
  RunLoop::main().addSource(fd, [fd] {
    if (readControl(fd) == '\0') RunLoop::main().stop();
  });
  RunLoop::main().run();
  std::exit(0);  // runs the exit handlers, which take the announcement away
}

// ---- tests ---------------------------------------------------------------------

// Guards against delivery during the post instead of through the loop, posts
// waiting together arriving more than once, a repeated registration being
// called twice, other names reaching an observer, and wrong callback arguments.
TEST(DarwinCentre, OwnPostsArriveThroughTheLoopCoalescedAndOnlyToTheirObservers) {
  TempDevice device;
  const std::string name = "org.tarnwick.test/own";
  Heard& heard = observe(name);
  observe(&heard, record, name);  // the same registration again
  Heard& other = observe("org.tarnwick.test/own-other");

  for (int i = 0; i < 5; ++i) post(name);
  EXPECT_TRUE(heard.names.empty()) << "delivered during the post";
  ASSERT_TRUE(turnUntil([&] { return !heard.names.empty(); }));
  for (int i = 0; i < 3; ++i) RunLoop::main().runOnce(0);
  EXPECT_EQ(heard.names, std::vector<std::string>{name});
  EXPECT_TRUE(heard.platformArguments);
  EXPECT_TRUE(other.names.empty());

  post(name);  // a later post arrives again
  ASSERT_TRUE(turnUntil([&] { return heard.names.size() >= 2; }));
  EXPECT_EQ(heard.names.size(), 2u);
}

// Guards against posts not crossing processes or crossing device roots, a
// receiver that is not running its loop blocking posters, a burst arriving
// as many deliveries, unobserved names being delivered, and an announcement
// outliving its process's normal exit.
TEST(DarwinCentre, PostReachesAnotherProcessOfTheSameRootOnce) {
  TempDevice device;
  const std::string name = "org.tarnwick.test/burst";
  const std::string marker = "org.tarnwick.test/burst-marker";
  int ends[2] = {-1, -1};
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(ends[0]);
    runChild(ends[1], {name, marker});
  }
  ::close(ends[1]);
  const int fd = ends[0];
  ASSERT_EQ(readLine(fd), "ready");

  auto start = Clock::now();
  post("org.tarnwick.test/burst-unobserved");
  for (int i = 0; i < 500; ++i) post(name);  // far more than the receiver's queue holds
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "posting waited on the receiver";
  ASSERT_EQ(::send(fd, "g", 1, MSG_NOSIGNAL), 1);
  EXPECT_EQ(readLine(fd), name);
  {
    TempDevice other;  // now the current root
    post(marker);
  }
  host::setDeviceRoot(device.root());
  post(name);  // the receiver has drained: posts get through again
  EXPECT_EQ(readLine(fd), name) << "the post to another root arrived";
  ::shutdown(fd, SHUT_WR);
  EXPECT_EQ(readLine(fd), std::nullopt) << "more than one delivery";
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(fd);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(announcements(), 0);
}

// Guards against a FIFO or a folder among the announcements holding up a
// poster (which would stop the tool after it stored a setting), keeping the
// post from a real receiver, or being removed. A hang ends the test program by
// the alarm instead of holding up the run.
TEST(DarwinCentre, SpecialFilesAmongAnnouncementsDoNotHoldUpPosts) {
  TempDevice device;
  const std::string name = "org.tarnwick.test/special";
  const std::string fifo = host::devicePath("/var/run/notify/1-fifo");
  const std::string folder = host::devicePath("/var/run/notify/2-folder");
  int ends[2] = {-1, -1};
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  pid_t child = ::fork();
  if (child == 0) {
    ::close(ends[0]);
    runChild(ends[1], {name});
  }
  ::close(ends[1]);
  ASSERT_EQ(readLine(ends[0]), "ready");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  fs::create_directories(folder);

  ::alarm(20);
  post(name);
  ::alarm(0);
  ASSERT_EQ(::send(ends[0], "g", 1, MSG_NOSIGNAL), 1);
  EXPECT_EQ(readLine(ends[0]), name);
  ::shutdown(ends[0], SHUT_WR);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(ends[0]);
  EXPECT_TRUE(fs::is_fifo(fifo) && fs::is_directory(folder));
}

// Guards against announcements of processes or sockets now gone staying
// behind after a post.
TEST(DarwinCentre, StaleAnnouncementsAreCleanedAway) {
  TempDevice device;
  observe("org.tarnwick.test/stale");
  device.writeFile("/var/run/notify/1-00000000deadbeef", "zelvora-notify/1-00000000deadbeef\n");
  ASSERT_EQ(announcements(), 2);
  post("org.tarnwick.test/stale");
  EXPECT_EQ(announcements(), 1);
}

}  // namespace
