// Load-time setup in a home-screen-like process (SpringBoard and SBAlertWindow
// present, PHRecentsViewController absent): the hooks ctor_hooks installs, the
// observers ctor_observers registers, the home screen's launch replacement and
// the settings-changed callback.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "host/notify/darwin.h"
#include "host/notify/run_loop.h"
#include "host/notify/telephony.h"
#include "lookup/preference_keys.h"
#include "state/ns_exception.h"
#include "state/state.h"
#include "support/hook_fixture.h"
#include "support/lookup_fixture.h"
#include "tracking/load_time.h"

namespace {

using namespace testing_support;

struct Launch {
  id self;
  SEL selector;
  id application;
  id countryCodeSeen;  // this process's view of "countryCode" when the host ran
};
std::vector<Launch> launches;
bool launchRaises = false;

void hostLaunch(id self, SEL selector, id application) {
  launches.push_back(
      {self, selector, application, CFPreferencesCopyAppValue(kCountryCodeKey, kPrefsDomain)});
  if (launchRaises) throw NSException("NSInternalInconsistencyException", "launch failed");
}

id hostStackedAlerts(id, SEL, BOOL) {
  return nil;
}

// The classes of a home-screen process, then the hooks, as the loader does it.
void loadIntoHomeScreenOnce() {
  static const bool loaded = [] {
    registerAlertWindow(&hostStackedAlerts);
    class_addMethod(objc_registerClass("SpringBoard", NSObjectClass()),
                    sel_registerName("applicationDidFinishLaunching:"), &hostLaunch);
    ctor_hooks();
    return true;
  }();
  (void)loaded;
}

// Plays the settings editor: another process, starting with fresh views,
// stores `value` under `key` and, if asked, posts the settings-changed
// notification.
void otherProcessSets(std::string_view key, std::string_view value, bool post) {
  pid_t child = fork();
  ASSERT_NE(child, -1);
  if (child == 0) {
    host::resetPreferenceViews();
    CFPreferencesSetAppValue(key, NSString::fromUtf8(value), kPrefsDomain);
    bool stored = CFPreferencesAppSynchronize(kPrefsDomain);
    if (post) {
      CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(),
                                           NSString::fromUtf8(kSettingsChangedName), nullptr, nil,
                                           true);
    }
    _exit(stored ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// This process's view of a preference, without synchronising.
std::optional<std::string> viewed(std::string_view key) {
  return textOf(CFPreferencesCopyAppValue(key, kPrefsDomain));
}

void launch(const id& springBoard, const id& application) {
  msg<void(id)>(springBoard, "applicationDidFinishLaunching:", application);
}

class LoadTime : public LookupTest {
 protected:
  void SetUp() override {
    loadIntoHomeScreenOnce();
    launches.clear();
    launchRaises = false;
    device.setRegion("GB");
    springBoard = msg<id()>(objc_getClass("SpringBoard"), "alloc");
  }
  id springBoard;
};

// Guards against hooking a class the process lacks (or failing on it) and
// against not hooking, or not keeping the host's method of, a present one.
TEST_F(LoadTime, HooksOnlyTheClassesTheProcessHas) {
  ASSERT_EQ(objc_getClass("PHRecentsViewController"), nullptr);
  EXPECT_EQ(orig_viewDidAppear, nullptr);
  EXPECT_EQ(orig_willDisplayCell, nullptr);
  EXPECT_EQ(orig_applicationDidFinishLaunching, &hostLaunch);
  EXPECT_EQ(orig_stackedAlerts, &hostStackedAlerts);
}

// Guards against settling the home country before (or instead of) the host's
// launch, and against changing its arguments.
TEST_F(LoadTime, LaunchRunsTheHostFirstThenSettlesTheHomeCountry) {
  setPref("recents", "5");
  id application = msg<id()>(NSObjectClass(), "alloc");
  launch(springBoard, application);
  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].self, springBoard);
  EXPECT_EQ(launches[0].selector, sel_registerName("applicationDidFinishLaunching:"));
  EXPECT_EQ(launches[0].application, application);
  EXPECT_EQ(launches[0].countryCodeSeen, nil);  // nothing derived yet when the host ran
  EXPECT_TRUE(storedText("countryCode", "44"));
  EXPECT_TRUE(storedText("trunkPrefixx", "0"));
  EXPECT_EQ(recentsToShow, 5);
}

// Guards against swallowing the host's own failure or settling anything after it.
TEST_F(LoadTime, HostLaunchFailureReachesTheCaller) {
  setPref("recents", "5");
  launchRaises = true;
  EXPECT_THROW(launch(springBoard, nil), NSException);
  EXPECT_EQ(launches.size(), 1u);
  EXPECT_EQ(storedPref("countryCode"), nil);
  EXPECT_EQ(recentsToShow, 0);
}

// Guards against the settings callback not synchronising, or touching state.
TEST_F(LoadTime, SettingsChangedOnlySynchronises) {
  setPref("countryCode", "44");
  setPref("trunkPrefixx", "0");
  writeCodes("44", "441|Somewhere in the UK\n");
  writeCodes("33", "331|Paris\n");
  phoneNumber = text("number");
  area = text("area");
  label = text("label");
  callInProgress = 1;
  callingCodePrefs = text("99");
  trunkPrefixPrefs = text("9");
  recentsToShow = 7;
  internationalFormat = 1;
  const std::vector<id> before{phoneNumber, area, label, callingCodePrefs, trunkPrefixPrefs};

  otherProcessSets("countryCode", "33", false);
  EXPECT_EQ(viewed("countryCode"), "44");  // not seen before synchronising
  cb_settingschanged(CFNotificationCenterGetDarwinNotifyCenter(), nullptr,
                     NSString::fromUtf8(kSettingsChangedName), nullptr, nil);
  EXPECT_EQ(viewed("countryCode"), "33");
  EXPECT_EQ((std::vector<id>{phoneNumber, area, label, callingCodePrefs, trunkPrefixPrefs}),
            before);
  EXPECT_EQ(callInProgress, 1);
  EXPECT_EQ(recentsToShow, 7);
  EXPECT_EQ(internationalFormat, 1);
  EXPECT_EQ(lookUp("01 23 45 67 89"), "Paris");  // the next lookup uses the new setting
}

// Guards against either observer not being registered. The only test that
// calls ctor_observers: its registrations last for the life of the process.
TEST_F(LoadTime, ObserversHearCallsAndSettingsChanges) {
  setPref("countryCode", "44");
  host::removeTelephonyObservers();
  ctor_observers();

  host::postCallStatus(host::makeCall(text("+44 20 7946 0000")), kCTCallStatusIncoming);
  EXPECT_EQ(callInProgress, 1);
  EXPECT_EQ(textOf(phoneNumber), "+44 20 7946 0000");

  // Another process writes and posts; this process's view follows once its
  // run loop delivers the notification.
  otherProcessSets("countryCode", "49", true);
  EXPECT_EQ(viewed("countryCode"), "44");
  for (int turn = 0; turn < 50 && viewed("countryCode") != "49"; ++turn) {
    host::RunLoop::main().runOnce(100);
  }
  EXPECT_EQ(viewed("countryCode"), "49");
  host::removeTelephonyObservers();
}

}  // namespace
