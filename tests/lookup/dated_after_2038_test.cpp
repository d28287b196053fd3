// Files dated after 2038. Where time_t has 32 bits (the older 32-bit
// devices), stat() cannot describe such a file and fails with EOVERFLOW: the
// file counts as unreadable, and the lookup falls back as for any unreadable
// file, never writing over it. Everywhere else it is read as usual.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>

#include "host/foundation/preferences.h"
#include "lookup/area_file.h"
#include "lookup/preference_keys.h"
#include "support/lookup_fixture.h"

namespace {

constexpr bool kTime32 = sizeof(time_t) < 8;
constexpr int64_t k2040 = 2208988800;  // 2040-01-01 00:00:00 UTC
constexpr int64_t k2030 = 1893456000;  // 2030-01-01 00:00:00 UTC

// Sets both times of the file at `path` to `seconds`, through the 64-bit-time
// system call where time_t cannot hold them.
bool setFileTime(const std::string& path, int64_t seconds) {
#ifdef __NR_utimensat_time64
  if constexpr (kTime32) {
    struct {
      int64_t seconds;
      int64_t nanoseconds;
    } times[2] = {{seconds, 0}, {seconds, 0}};
    return ::syscall(__NR_utimensat_time64, AT_FDCWD, path.c_str(), times, 0) == 0;
  }
#endif
  const timespec times[2] = {{static_cast<time_t>(seconds), 0}, {static_cast<time_t>(seconds), 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

// Whether stat() fails on the file exactly where it must: with EOVERFLOW
// where time_t has 32 bits, and nowhere else.
::testing::AssertionResult statAnswersAsTheBuildCan(const std::string& path) {
  struct stat info {};
  errno = 0;
  const bool stated = ::stat(path.c_str(), &info) == 0;
  if (kTime32 ? !stated && errno == EOVERFLOW
              : stated && static_cast<int64_t>(info.st_mtime) == k2040) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "stat gave " << (stated ? "success" : "failure") << ", errno " << errno;
}

std::string bytesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using DatedAfter2038 = testing_support::LookupTest;

// Guards against a device file that cannot be stat'ed being taken for a
// readable one (or hanging on to the bundled answer once it can be): the
// bundled copy answers while it cannot be described, the file itself once it
// can, and everywhere else the file answers at once.
TEST_F(DatedAfter2038, AreaFileFallsBackToTheBundledCopyWhereItCannotBeStated) {
  writeCodes("44", "4420|Dated 2040\n");
  const std::string file = device.path(areaCodeFilePath(u"44"));
  ASSERT_TRUE(setFileTime(file, k2040));
  ASSERT_TRUE(statAnswersAsTheBuildCan(file));
  EXPECT_EQ(lookUp("+44 20 7946 0000"), kTime32 ? "London" : "Dated 2040");

  ASSERT_TRUE(setFileTime(file, k2030));
  EXPECT_EQ(lookUp("+44 20 7946 0000"), "Dated 2040");
}

// Guards against a preference file that cannot be stat'ed being read as empty
// and then replaced: its setting is out of reach, so the home comes from the
// device region, and the file keeps every byte; elsewhere its setting holds.
TEST_F(DatedAfter2038, PreferenceFileIsUnreadableAndKeptWhereItCannotBeStated) {
  writeCodes("49", "4930|Berlin\n");
  writeCodes("44", "4420|London\n");
  device.setRegion("GB");
  setPref(kCountryCodeKey, "49");
  const std::string file = host::preferencesPath(kPrefsDomain);
  const std::string before = bytesOf(file);
  ASSERT_FALSE(before.empty());
  ASSERT_TRUE(setFileTime(file, k2040));
  ASSERT_TRUE(statAnswersAsTheBuildCan(file));

  if (kTime32) {
    EXPECT_EQ(lookUp("020 7946 0000"), "London");
    EXPECT_EQ(bytesOf(file), before);
    const host::PreferencesFile state = host::preferencesFile(kPrefsDomain);
    EXPECT_EQ(state.state, host::PreferencesFile::State::unreadable);
    EXPECT_EQ(state.reason, std::strerror(EOVERFLOW));
  } else {
    EXPECT_EQ(lookUp("030 1234567"), "Berlin");
  }
}

}  // namespace
