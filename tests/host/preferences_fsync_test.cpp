// The preference store without flushing: the same files and the same merging,
// only no fsync. Programs that keep their files in a tmpfs folder rely on it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "support/temp_device.h"

namespace {

constexpr const char* kDomain = "com.zelvora.fsync";
constexpr const char* kFile = "/var/mobile/Library/Preferences/com.zelvora.fsync.plist";

TEST(PreferencesFsync, UnflushedStoresAreWholeFilesThatOtherProcessesRead) {
  testing_support::TempDevice device;
  for (bool flush : {false, true, false}) {
    SCOPED_TRACE(flush ? "flushed" : "not flushed");
    host::setPreferencesFsync(flush);
    const std::string value = flush ? "on" : "off";
    // A second process's key is kept beside this one's.
    host::resetPreferenceViews();
    CFPreferencesSetAppValue("other", NSString::fromUtf8("kept"), kDomain);
    ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
    host::resetPreferenceViews();
    CFPreferencesSetAppValue("mode", NSString::fromUtf8(value), kDomain);
    ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));

    host::resetPreferenceViews();
    EXPECT_TRUE(valuesEqual(CFPreferencesCopyAppValue("mode", kDomain), NSString::fromUtf8(value)));
    EXPECT_TRUE(
        valuesEqual(CFPreferencesCopyAppValue("other", kDomain), NSString::fromUtf8("kept")));
    EXPECT_FALSE(std::filesystem::exists(device.path(std::string(kFile) + ".tmp")));
  }
  host::setPreferencesFsync(true);
}

// What each flush was given: the path its descriptor names at that moment and
// the size of what it names.
std::vector<std::pair<std::string, int64_t>>& flushed() {
  static std::vector<std::pair<std::string, int64_t>> calls;
  return calls;
}
int recordFlush(int fd) {
  struct stat info {};
  ::fstat(fd, &info);
  flushed().emplace_back(std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd)),
                         S_ISREG(info.st_mode) ? int64_t(info.st_size) : -1);
  return ::fsync(fd);
}

// Guards against a file counted as stored before its bytes are on the disk:
// the temporary file is flushed whole while it is still the temporary, before
// the rename makes it the file, and then the folder that holds the rename;
// with flushing off, nothing is.
TEST(PreferencesFsync, TheTemporaryFileIsFlushedWholeBeforeItIsRenamed) {
  testing_support::TempDevice device;
  const std::string file = std::filesystem::weakly_canonical(device.path(kFile));
  for (bool flush : {true, false}) {
    SCOPED_TRACE(flush ? "flushed" : "not flushed");
    host::setPreferencesFsync(flush);
    flushed().clear();
    const host::FlushCall previous = host::setPreferencesFlushCall(&recordFlush);
    CFPreferencesSetAppValue("mode", NSString::fromUtf8(flush ? "on" : "off"), kDomain);
    const bool stored = CFPreferencesAppSynchronize(kDomain);
    host::setPreferencesFlushCall(previous);
    host::setPreferencesFsync(true);
    ASSERT_TRUE(stored);
    std::vector<std::pair<std::string, int64_t>> expected;
    if (flush) {
      expected = {{file + ".tmp", int64_t(std::filesystem::file_size(file))},
                  {std::filesystem::path(file).parent_path(), -1}};
    }
    EXPECT_EQ(flushed(), expected);
  }
}

// How the next flush of a regular file goes wrong: failing with `flushError`,
// or taking the file away so that the rename that follows fails.
int flushError = 0;
bool takeAway = false;
int faultyFlush(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    if (takeAway)
      ::unlink(std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd)).c_str());
    if (flushError) {
      errno = flushError;
      return -1;
    }
  }
  return ::fsync(fd);
}

// Guards against a store counted as done when its bytes may not be on the disk
// or never became the file: a failed flush or rename gives false with the
// reason, leaves the file as it was and no temporary behind, and the change
// stays pending for the next try.
TEST(PreferencesFsync, AFailedFlushOrRenameLeavesTheFileAndKeepsTheChange) {
  testing_support::TempDevice device;
  const std::string file = host::preferencesPath(kDomain);
  struct Case {
    int error;
    bool takeAway;
    std::string reason;
  };
  const Case cases[] = {
      {EIO, false, "cannot write " + file + ".tmp: " + std::strerror(EIO)},
      {EACCES, false, "cannot write " + file + ".tmp: permission denied"},
      {0, true, "cannot replace " + file + ": " + std::strerror(ENOENT)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    host::resetPreferenceViews();
    CFPreferencesSetAppValue("mode", NSString::fromUtf8("old"), kDomain);
    ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
    const std::optional<std::string> before = device.readFile(kFile);
    CFPreferencesSetAppValue("mode", NSString::fromUtf8("new"), kDomain);
    flushError = c.error;
    takeAway = c.takeAway;
    const host::FlushCall previous = host::setPreferencesFlushCall(&faultyFlush);
    EXPECT_FALSE(CFPreferencesAppSynchronize(kDomain));
    host::setPreferencesFlushCall(previous);
    EXPECT_EQ(host::preferencesStoreError(kDomain), c.reason);
    EXPECT_EQ(device.readFile(kFile), before);
    EXPECT_FALSE(std::filesystem::exists(file + ".tmp"));
    ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain)) << "the change was kept";
    host::resetPreferenceViews();
    EXPECT_TRUE(valuesEqual(CFPreferencesCopyAppValue("mode", kDomain), NSString::fromUtf8("new")));
  }
}

}  // namespace
