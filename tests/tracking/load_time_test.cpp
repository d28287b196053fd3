// Load-time setup: the observers that ctor_observers registers, the hooks that
// ctor_hooks installs in a home-screen-like process (SpringBoard and
// SBAlertWindow present, PHRecentsViewController absent), the home screen's
// launch replacement and the settings-changed callback.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "host/notify/darwin.h"
#include "host/notify/run_loop.h"
#include "host/notify/telephony.h"
#include "host/runtime/objc.h"
#include "host/ui/uikit.h"
#include "lookup/preference_keys.h"
#include "state/ns_exception.h"
#include "state/state.h"
#include "support/lookup_fixture.h"
#include "tracking/load_time.h"

namespace {

using testing_support::LookupTest;
using testing_support::textOf;

id text(const char* utf8) {
  return NSString::fromUtf8(utf8);
}

// ---- the host's own methods -------------------------------------------------

struct Launch {
  id self;
  SEL selector;
  id application;
  id countryCodeSeen;  // this process's view of "countryCode" when the host ran
  int32_t recentsSeen;
};
std::vector<Launch> launches;
bool launchRaises = false;

void hostLaunch(id self, SEL selector, id application) {
  launches.push_back({self, selector, application,
                      CFPreferencesCopyAppValue(kCountryCodeKey, kPrefsDomain), recentsToShow});
  if (launchRaises) throw NSException("NSInternalInconsistencyException", "launch failed");
}

id hostStackedAlerts(id, SEL, BOOL) {
  static const id alerts = NSArray::make({text("alert")});
  return alerts;
}

// The classes of a home-screen process, then the hooks, once for the program
// as the loader would do it.
void loadIntoHomeScreen() {
  static const bool loaded = [] {
    host::registerUIKitClasses();
    Class springBoard = objc_registerClass("SpringBoard", NSObjectClass());
    class_addMethod(springBoard, sel_registerName("applicationDidFinishLaunching:"), &hostLaunch);
    Class alertWindow = objc_registerClass("SBAlertWindow", objc_getClass("UIWindow"));
    class_addMethod(alertWindow, sel_registerName("stackedAlertsIncludingActiveAlert:"),
                    &hostStackedAlerts);
    ctor_hooks();
    return true;
  }();
  (void)loaded;
}

id makeInstance(const char* className) {
  return msg<id()>(objc_getClass(className), "alloc");
}

// Plays another process writing the preferences: a child process that starts
// with fresh views, stores `value` under `key` and, if asked, posts the
// settings-changed notification.
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

class LoadTime : public LookupTest {
 protected:
  void SetUp() override {
    loadIntoHomeScreen();
    launches.clear();
    launchRaises = false;
  }
  void TearDown() override {
    launches.clear();
    launchRaises = false;
  }

  // This process's view of a preference, without synchronising.
  static std::optional<std::string> viewed(std::string_view key) {
    return textOf(CFPreferencesCopyAppValue(key, kPrefsDomain));
  }
};

// ---- ctor_hooks ----------------------------------------------------------------

TEST_F(LoadTime, HooksOnlyTheClassesTheProcessHas) {
  ASSERT_EQ(objc_getClass("PHRecentsViewController"), nullptr);
  EXPECT_EQ(orig_viewDidAppear, nullptr);
  EXPECT_EQ(orig_willDisplayCell, nullptr);
  // The slots of the present classes hold the host's own implementations.
  EXPECT_EQ(orig_applicationDidFinishLaunching, &hostLaunch);
  EXPECT_EQ(orig_stackedAlerts, &hostStackedAlerts);

  // The alert window now runs the replacement, which hands on to the host.
  id window =
      msg<id(CGRect)>(makeInstance("SBAlertWindow"), "initWithFrame:", CGRectMake(0, 0, 320, 480));
  callInProgress = 1;
  id result = msg<id(BOOL)>(window, "stackedAlertsIncludingActiveAlert:", false);
  EXPECT_EQ(result, hostStackedAlerts(nil, nullptr, false));
  EXPECT_EQ(objectAs<NSArray>(msg<id()>(window, "subviews"))->items().size(), 1u);
}

// ---- the home screen's launch -----------------------------------------------

TEST_F(LoadTime, LaunchRunsTheHostFirstThenSettlesTheHomeCountry) {
  device.setRegion("GB");
  setPref("recents", "5");
  id springBoard = makeInstance("SpringBoard");
  id application = makeInstance("NSObject");
  msg<void(id)>(springBoard, "applicationDidFinishLaunching:", application);

  ASSERT_EQ(launches.size(), 1u);
  EXPECT_EQ(launches[0].self, springBoard);
  EXPECT_EQ(launches[0].selector, sel_registerName("applicationDidFinishLaunching:"));
  EXPECT_EQ(launches[0].application, application);
  // When the host ran, nothing had been derived or loaded yet.
  EXPECT_EQ(launches[0].countryCodeSeen, nil);
  EXPECT_EQ(launches[0].recentsSeen, 0);

  EXPECT_TRUE(storedText("countryCode", "44"));
  EXPECT_TRUE(storedText("trunkPrefixx", "0"));
  EXPECT_EQ(recentsToShow, 5);
  // No number yet: nothing to look up.
  EXPECT_EQ(phoneNumber, nil);
  EXPECT_EQ(area, nil);
}

TEST_F(LoadTime, LaunchLooksUpACallAlreadyRecorded) {
  device.setRegion("GB");
  writeCodes("44", "4420|London\n");
  phoneNumber = text("020 7946 0000");
  msg<void(id)>(makeInstance("SpringBoard"), "applicationDidFinishLaunching:", nil);
  EXPECT_EQ(launches.size(), 1u);
  EXPECT_EQ(textOf(area), "London");
}

TEST_F(LoadTime, HostLaunchFailureReachesTheCallerAndNothingIsSettled) {
  device.setRegion("GB");
  setPref("recents", "5");
  launchRaises = true;
  EXPECT_THROW(msg<void(id)>(makeInstance("SpringBoard"), "applicationDidFinishLaunching:", nil),
               NSException);
  EXPECT_EQ(launches.size(), 1u);
  EXPECT_EQ(storedPref("countryCode"), nil);
  EXPECT_EQ(storedPref("trunkPrefixx"), nil);
  EXPECT_EQ(recentsToShow, 0);
}

TEST_F(LoadTime, LookupFailureDuringLaunchIsDropped) {
  setPref("countryCode", NSNumber::integer(44));  // not a text: the lookup fails on it
  id springBoard = makeInstance("SpringBoard");
  EXPECT_NO_THROW(msg<void(id)>(springBoard, "applicationDidFinishLaunching:", nil));
  EXPECT_EQ(launches.size(), 1u);
  EXPECT_EQ(storedPref("trunkPrefixx"), nil);
}

// ---- settings changed ----------------------------------------------------------

TEST_F(LoadTime, SettingsChangedOnlySynchronises) {
  setPref("countryCode", "44");
  setPref("trunkPrefixx", "0");
  writeCodes("44", "441|Somewhere in the UK\n");
  writeCodes("33", "331|Paris\n");
  ASSERT_EQ(viewed("countryCode"), "44");

  // Every state variable holds something of its own.
  phoneNumber = text("number");
  area = text("area");
  label = text("label");
  callInProgress = 1;
  callingCodePrefs = text("99");
  trunkPrefixPrefs = text("9");
  recentsToShow = 7;
  internationalFormat = 1;
  const id before[] = {phoneNumber, area, label, callingCodePrefs, trunkPrefixPrefs};

  otherProcessSets("countryCode", "33", false);
  EXPECT_EQ(viewed("countryCode"), "44");  // not seen before synchronising
  cb_settingschanged(CFNotificationCenterGetDarwinNotifyCenter(), nullptr,
                     NSString::fromUtf8(kSettingsChangedName), nullptr, nil);
  EXPECT_EQ(viewed("countryCode"), "33");

  const id after[] = {phoneNumber, area, label, callingCodePrefs, trunkPrefixPrefs};
  for (size_t i = 0; i < std::size(before); ++i) EXPECT_EQ(after[i], before[i]) << i;
  EXPECT_EQ(callInProgress, 1);
  EXPECT_EQ(recentsToShow, 7);
  EXPECT_EQ(internationalFormat, 1);

  // The next lookup uses the new home country.
  EXPECT_EQ(lookUp("01 23 45 67 89"), "Paris");
}

// ---- ctor_observers --------------------------------------------------------------

// The only test that calls ctor_observers: its registrations last for the
// life of the process.
TEST_F(LoadTime, ObserversHearCallsAndSettingsChanges) {
  setPref("countryCode", "44");
  host::removeTelephonyObservers();
  ctor_observers();

  // The call-status observer.
  id call = host::makeCall(text("+44 20 7946 0000"));
  host::postCallStatus(call, kCTCallStatusIncoming);
  EXPECT_EQ(callInProgress, 1);
  EXPECT_EQ(textOf(phoneNumber), "+44 20 7946 0000");
  host::postCallStatus(call, kCTCallStatusDisconnected);
  EXPECT_EQ(callInProgress, 0);
  EXPECT_EQ(textOf(phoneNumber), "");

  // The settings observer: another process writes and posts; this process's
  // view follows once its run loop delivers the notification.
  ASSERT_EQ(viewed("countryCode"), "44");
  otherProcessSets("countryCode", "49", true);
  EXPECT_EQ(viewed("countryCode"), "44");
  for (int turn = 0; turn < 50 && viewed("countryCode") != "49"; ++turn) {
    host::RunLoop::main().runOnce(100);
  }
  EXPECT_EQ(viewed("countryCode"), "49");
  EXPECT_EQ(callingCodePrefs, nil);  // synchronised only, not loaded
  host::removeTelephonyObservers();
}

}  // namespace
