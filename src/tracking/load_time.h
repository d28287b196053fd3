// What runs when the library is loaded, and the two small entry points that
// belong to no other part.
//
// The loader runs ctor_observers and then ctor_hooks, once, before anything
// else of the library runs; in the built library they are load-time
// initialisers with fixed priorities, so the order holds whatever the link
// order. Nothing runs at unload: observers and hooks last for the life of the
// process.
//
// ctor_observers registers cb_telephony for every notification of the
// telephony centre (delivered immediately) and cb_settingschanged for
// kSettingsChangedName on the Darwin centre (coalesced), under the guard.
//
// ctor_hooks replaces, in this order: -[SpringBoard
// applicationDidFinishLaunching:], -[PHRecentsViewController viewDidAppear:],
// -[PHRecentsViewController tableView:willDisplayCell:forRowAtIndexPath:] and
// -[SBAlertWindow stackedAlertsIncludingActiveAlert:], keeping each host
// implementation in its orig_ slot. A class the process lacks is simply not
// hooked, so the library needs no idea of which process it is in.
#pragma once

#include "host/foundation/object.h"
#include "host/notify/notification_types.h"

void ctor_observers();
void ctor_hooks();

// After the host's own launch, settles the home country (initVals) so the
// settings show it as soon as the home screen is up.
void hook_SB_appDidFinishLaunching(id self, SEL _cmd, id application);

// Synchronises the preferences domain, so the next lookup sees what the
// settings editor wrote. It changes no state of its own.
void cb_settingschanged(CFNotificationCenterRef center, void* observer, CFStringRef name,
                        const void* object, CFDictionaryRef userInfo);
