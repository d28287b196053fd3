// Another process holding the preference lock, as one stopped while it
// writes would: lookups answer at once, storing them later; commands that
// must store wait as long as --wait allows, say after a second that they
// wait, then give up with status 1 and store nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "support/temp_device.h"

namespace {

using e2e::Texts;

// The test process holds the lock, as long as the object lives.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX) == 0;
  }
  ~HeldLock() { release(); }
  bool held() const { return held_; }
  void release() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool held_ = false;
};

// Nothing stored yet, so every lookup derives the home country and would
// store it. Each command may wait 60 s for the lock, so one that waited
// would not end within the 15 s it is given.
TEST(HeldLock, LookupsAnswerAtOnceAndStoringWaitsOnlyAsLongAsAllowed) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  const std::string lockPath = device.path(e2e::kPreferences) + ".lock";
  HeldLock lock(lockPath);
  ASSERT_TRUE(lock.held());

  struct Lookup {
    Texts arguments;
    std::string input, answer;
  } const lookups[] = {
      {{"lookup", "+44 20 7946 0000"}, "", "+44 20 7946 0000\tLondon\n"},
      {{"lookup", "020 7946 0000"}, "", "020 7946 0000\tLondon\n"},
      {{"lookup", "-"}, "020 7946 0000\n", "020 7946 0000\tLondon\n"},
      {{"call", "020 7946 0000"}, "", "London"},
      {{"recents", "020 7946 0000"}, "", "020 7946 0000"},
  };
  for (const Lookup& l : lookups) {
    SCOPED_TRACE(l.arguments.front());
    Texts arguments{"--region", "GB", "--wait", "60"};
    arguments.insert(arguments.end(), l.arguments.begin(), l.arguments.end());
    e2e::Outcome outcome = e2e::zelvoraWithin(15, root, arguments, l.input);
    ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
    EXPECT_NE(outcome.out.find(l.answer), std::string::npos) << outcome.out;
    EXPECT_EQ(outcome.err, "");
  }

  // Storing gives up at the limit; the announcement comes after a second.
  struct Store {
    Texts arguments;
    bool announced;
  } const stores[] = {
      {{"--wait", "0.3", "home"}, false},
      {{"--wait", "1.2", "settings", "set", "recents", "3"}, true},
      {{"--wait", "0", "settings", "set", "trunkPrefixx", "0"}, false},
  };
  for (const Store& s : stores) {
    SCOPED_TRACE(s.arguments[2]);
    Texts arguments{"--region", "GB"};
    arguments.insert(arguments.end(), s.arguments.begin(), s.arguments.end());
    e2e::Outcome outcome = e2e::zelvoraWithin(15, root, arguments);
    EXPECT_EQ(outcome.status, 1) << e2e::describe(outcome);
    EXPECT_EQ(outcome.out, "");
    const std::string waiting = "zelvora: waiting for the lock " + lockPath +
                                ", which another process holds, to store the preferences; "
                                "giving up after 1.2 s (--wait SECONDS)\n";
    const std::string gaveUp = "zelvora: could not store the preferences in " +
                               device.path(e2e::kPreferences) + ": the lock " + lockPath +
                               (s.arguments[1] == "0" ? " is held by another process\n"
                                                      : " is still held by another process after " +
                                                            s.arguments[1] + " s\n");
    EXPECT_EQ(outcome.err, (s.announced ? waiting : "") + gaveUp);
  }
  lock.release();
  EXPECT_EQ(e2e::setting(root, "recents"), "(absent)");
  EXPECT_EQ(e2e::setting(root, "countryCode"), "(absent)");
  e2e::Outcome home = e2e::zelvora(root, {"--region", "GB", "home"});
  EXPECT_EQ(home.out, "44\t0\n") << e2e::describe(home);
  EXPECT_EQ(e2e::setting(root, "countryCode"), "44\n");
}

// Guards against the home command giving up on a held lock as a lookup does:
// it waits, says so after a second, and once the lock is free stores what it
// derived. The lock is let go only after the command said it waits, so no
// timing decides the outcome.
TEST(HeldLock, HomeWaitsForTheLockAndThenStores) {
  testing_support::TempDevice device;
  const std::string lockPath = device.path(e2e::kPreferences) + ".lock";
  HeldLock lock(lockPath);
  ASSERT_TRUE(lock.held());
  e2e::Child home({e2e::program("zelvora"), "--root", device.root(), "--region", "GB", "--wait",
                   "600", "home"});
  const bool announced = home.waitFor("zelvora: waiting for the lock " + lockPath, true);
  lock.release();
  const e2e::Outcome outcome = home.finishWithin(120);
  EXPECT_TRUE(announced) << e2e::describe(outcome);
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.out, "44\t0\n");
  EXPECT_EQ(e2e::setting(device.root(), "trunkPrefixx"), "0\n");
  EXPECT_EQ(e2e::setting(device.root(), "countryCode"), "44\n");
}

}  // namespace
