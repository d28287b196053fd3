// The racily-clean rule: a version is taken for the file while a stat shows
// it unchanged only once its change time is safely older than the moment it
// was read; a change time ahead of the clock, for a second at a time.
#include "host/foundation/file_version.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr int64_t kSecond = host::kFileClockSecond;
constexpr int64_t kForEver = std::numeric_limits<int64_t>::max();

TEST(FileVersion, TrustedByItsChangeTimeAgainstTheRead) {
  const int64_t readAt = 100 * kSecond;
  struct {
    const char* what;
    bool present;
    int64_t modified, changed;
    int64_t trustedUntil;
  } const cases[] = {
      {"absent", false, 0, 0, kForEver},
      {"fine times, a second old", true, readAt - kSecond + 7, readAt - kSecond + 7, kForEver},
      {"fine times, changed within a tick", true, readAt - kSecond + 7, readAt - kSecond / 100 + 7,
       readAt},
      {"fine times, changed a hair after the read", true, readAt, readAt + 7, readAt},
      {"whole seconds, one second old", true, readAt - kSecond, readAt - kSecond, readAt},
      {"whole seconds, three seconds old", true, readAt - 3 * kSecond, readAt - 3 * kSecond,
       kForEver},
      {"modified in 2030, changed a second ago", true, 1893456000 * kSecond + 7,
       readAt - kSecond + 7, kForEver},
      {"changed an hour ahead of the clock", true, readAt + 3600 * kSecond + 7,
       readAt + 3600 * kSecond + 7, readAt + kSecond},
  };
  for (const auto& c : cases) {
    host::FileVersion version;
    version.present = c.present;
    version.modifiedNs = c.modified;
    version.changedNs = c.changed;
    EXPECT_EQ(host::trustedUntil(version, readAt), c.trustedUntil) << c.what;
  }
}

}  // namespace
