#include "tracking/load_time.h"

#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "host/notify/darwin.h"
#include "host/notify/telephony.h"
#include "host/runtime/objc.h"
#include "host/runtime/substrate.h"
#include "lookup/lookup.h"
#include "lookup/preference_keys.h"
#include "presentation/alert_label.h"
#include "presentation/recents.h"
#include "state/guard.h"
#include "state/state.h"
#include "tracking/call_state.h"

// In the loadable library the two initialisers run at load, observers first.
// Elsewhere (the tests) they are plain functions called by hand.
#if defined(ZELVORA_LOAD_TIME)
#define ZELVORA_INITIALISER(priority) __attribute__((constructor(priority)))
#else
#define ZELVORA_INITIALISER(priority)
#endif

ZELVORA_INITIALISER(101) void ctor_observers() {
  guarded([] {
    CTTelephonyCenterAddObserver(CTTelephonyCenterGetDefault(), nullptr, &cb_telephony, nil,
                                 nullptr, CFNotificationSuspensionBehaviorDeliverImmediately);
    CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), nullptr,
                                    &cb_settingschanged, NSString::fromUtf8(kSettingsChangedName),
                                    nullptr, CFNotificationSuspensionBehaviorCoalesce);
  });
}

ZELVORA_INITIALISER(102) void ctor_hooks() {
  MSHookMessageEx(objc_getClass("SpringBoard"), sel_registerName("applicationDidFinishLaunching:"),
                  &hook_SB_appDidFinishLaunching, &orig_applicationDidFinishLaunching);
  Class recents = objc_getClass("PHRecentsViewController");
  MSHookMessageEx(recents, sel_registerName("viewDidAppear:"), &hook_Recents_viewDidAppear,
                  &orig_viewDidAppear);
  MSHookMessageEx(recents, sel_registerName("tableView:willDisplayCell:forRowAtIndexPath:"),
                  &hook_Recents_willDisplayCell, &orig_willDisplayCell);
  MSHookMessageEx(objc_getClass("SBAlertWindow"),
                  sel_registerName("stackedAlertsIncludingActiveAlert:"),
                  &hook_SBAlertWindow_stackedAlerts, &orig_stackedAlerts);
}

void hook_SB_appDidFinishLaunching(id self, SEL _cmd, id application) {
  if (orig_applicationDidFinishLaunching)
    orig_applicationDidFinishLaunching(self, _cmd, application);
  guarded([] { initVals(); });
}

void cb_settingschanged(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) {
  CFPreferencesAppSynchronize(kPrefsDomain);
}
