// The Darwin notification centre: named notifications that cross processes.
//
// A name posted by any process reaches the observers of that name in every
// process of the same device root, the poster included. Delivery is never
// immediate: a notification arrives through the receiving process's main run
// loop (run_loop.h), and when several posts of one name arrive before the loop
// runs they are delivered once (coalesced). Darwin notifications carry no
// object and no user information; observers get nil for both.
//
// Mechanism: each process with an observer binds a Unix datagram socket and
// announces it with a file under "<device root>/var/run/notify/"; posting
// sends the name to every announced socket and removes announcements of
// processes that are gone. No server is involved. Registration fails silently
// when the device root is not writable; posting never raises.
#pragma once

#include "host/notify/notification_types.h"

CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter();

void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                     CFNotificationCallback callback, CFStringRef name,
                                     const void* object, CFNotificationSuspensionBehavior behavior);

void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name,
                                          const void* object, CFDictionaryRef userInfo,
                                          bool deliverImmediately);
