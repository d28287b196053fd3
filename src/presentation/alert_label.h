// The caller's area along the bottom edge of the call alert window.
//
// hook_SBAlertWindow_stackedAlerts replaces
// -[SBAlertWindow stackedAlertsIncludingActiveAlert:], which the home screen
// calls whenever it shows or refreshes the call alert. While callInProgress is
// exactly 1 it looks the call's number up (initVals) and puts a 22-point label
// with white, centred text on a clear background across the bottom of the
// window: the area, or kAreaUnknown when none was found (which then stays in
// area). The window carries one such label at a time: the one `label` still
// refers to is taken off first. Then, always, and outside its own guarded
// work, it calls the host's implementation with the same arguments and returns
// its result unchanged.
#pragma once

#include "host/foundation/object.h"

// The text shown when no area is known; the trailing blank is part of it.
inline constexpr char16_t kAreaUnknown[] = u"Area Unknown ";

// The height of the area label, in points.
inline constexpr double kAreaLabelHeight = 22.0;

id hook_SBAlertWindow_stackedAlerts(id self, SEL _cmd, BOOL includingActiveAlert);
