// The library's process-wide state.
//
// The library keeps no objects of its own: its parts talk to each other
// through these variables. They start as nil, 0 or empty when the library is
// loaded and are never persisted. There is no lock: every reader and writer
// runs on the host's main thread.
//
// Texts are held as the state's own references, so a value stays valid for as
// long as a variable holds it, whatever happens to the object it came from.
// A nil text and the empty text mean the same to every reader: no number, or
// no area.
#pragma once

#include <cstdint>

#include "host/foundation/object.h"

// The number to look up (a text, or nil). Set by the call-state observer when a
// call starts and by the Recents annotation before each row's lookup.
extern id phoneNumber;

// The area found for phoneNumber (a text, or nil). Written by the lookup only
// on a match; the alert-window label puts "Area Unknown " here when empty.
extern id area;

// The call alert window's area label made most recently, or nil. It is the
// only way back to that label once the alert-window replacement has returned.
extern id label;

// 1 while a call is being placed or rings in, else 0.
extern uint8_t callInProgress;

// The preference values of "countryCode" and "trunkPrefixx" as loadPrefs read
// them (of whatever kind the store holds), or nil.
extern id callingCodePrefs;
extern id trunkPrefixPrefs;

// How many rows at the top of the Recents list are annotated.
extern int32_t recentsToShow;

// 1 when the number of the current lookup began with "+". Set and read within
// one run of initVals only.
extern uint8_t internationalFormat;

// The host implementations that the hooks replaced; empty until hooked.
extern void (*orig_applicationDidFinishLaunching)(id self, SEL _cmd, id application);
extern void (*orig_viewDidAppear)(id self, SEL _cmd, BOOL animated);
extern void (*orig_willDisplayCell)(id self, SEL _cmd, id tableView, id cell, id indexPath);
extern id (*orig_stackedAlerts)(id self, SEL _cmd, BOOL includingActiveAlert);
