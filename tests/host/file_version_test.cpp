// The racily-clean rule: a version counts as settled only when its times are
// safely older than the moment it was read.
#include "host/foundation/file_version.h"

#include <gtest/gtest.h>

namespace {

TEST(FileVersion, SettledOnlyWhenSafelyOlderThanTheRead) {
  constexpr int64_t kSecond = 1000000000;
  const int64_t readAt = 100 * kSecond;
  struct {
    const char* what;
    bool present;
    int64_t modified, changed;
    bool settled;
  } const cases[] = {
      {"absent", false, 0, 0, true},
      {"fine times, a second old", true, readAt - kSecond + 7, readAt - kSecond + 7, true},
      {"fine times, within a tick", true, readAt - kSecond / 100 + 7, readAt - kSecond + 7, false},
      {"whole seconds, one second old", true, readAt - kSecond, readAt - kSecond, false},
      {"whole seconds, three seconds old", true, readAt - 3 * kSecond, readAt - 3 * kSecond, true},
  };
  for (const auto& c : cases) {
    host::FileVersion version;
    version.present = c.present;
    version.modifiedNs = c.modified;
    version.changedNs = c.changed;
    EXPECT_EQ(host::settledBefore(version, readAt), c.settled) << c.what;
  }
}

}  // namespace
