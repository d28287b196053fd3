#include "support/lookup_fixture.h"

#include <unistd.h>

#include <filesystem>

#include "host/foundation/device.h"
#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "lookup/area_cache.h"
#include "lookup/area_file.h"
#include "lookup/lookup.h"
#include "lookup/preference_keys.h"
#include "state/state.h"

namespace testing_support {
namespace {

void resetState() {
  phoneNumber = nil;
  area = nil;
  label = nil;
  callInProgress = 0;
  callingCodePrefs = nil;
  trunkPrefixPrefs = nil;
  recentsToShow = 0;
  internationalFormat = 0;
}

}  // namespace

LookupTest::LookupTest() {
  resetState();
}

LookupTest::~LookupTest() {
  resetState();
}

void LookupTest::setPref(std::string_view key, const id& value) {
  CFPreferencesSetAppValue(key, value, kPrefsDomain);
  EXPECT_TRUE(CFPreferencesAppSynchronize(kPrefsDomain));
}

void LookupTest::setPref(std::string_view key, std::string_view text) {
  setPref(key, NSString::fromUtf8(text));
}

id LookupTest::storedPref(std::string_view key) {
  host::resetPreferenceViews();
  return CFPreferencesCopyAppValue(key, kPrefsDomain);
}

::testing::AssertionResult LookupTest::storedText(std::string_view key, std::string_view text) {
  auto stored = textOf(storedPref(key));
  if (stored == std::string(text)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << key << " is " << (stored ? "\"" + *stored + "\"" : "absent") << ", expected \"" << text
         << "\"";
}

void LookupTest::writeCodes(std::string_view callingCode, std::string_view contents) {
  device.writeFile(std::string(kAreaCodeFolder) + std::string(callingCode) + ".txt", contents);
}

std::optional<std::string> LookupTest::lookUp(std::string_view number) {
  phoneNumber = NSString::fromUtf8(number);
  area = nil;
  initVals();
  return textOf(area);
}

std::optional<std::string> textOf(const id& value) {
  if (!value) return std::nullopt;
  if (auto* text = objectAs<NSString>(value)) return toUtf8(text->units());
  return std::string("<") + value->kindName() + ">";
}

BundledLondonTest::BundledLondonTest() {
  clearAreaCache();
  setPref(kCountryCodeKey, "44");
  setPref(kTrunkPrefixKey, "0");
  std::filesystem::create_directories(device.root() + "/app-resources/codes");
  host::setMainBundleResourcePath(device.root() + "/app-resources");
  device.writeFile("/app-resources/codes/44.txt", "4420|Bundled London\n");
  ::alarm(60);
}

BundledLondonTest::~BundledLondonTest() {
  ::alarm(0);
  clearAreaCache();
}

}  // namespace testing_support
