// The preference store without flushing: the same files and the same merging,
// only no fsync. Programs that keep their files in a tmpfs folder rely on it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

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

}  // namespace
