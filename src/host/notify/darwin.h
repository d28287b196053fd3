// The Darwin notification centre: named notifications that cross processes.
//
// A name posted by any process reaches the observers of that name in every
// process of the same device root, the poster included. Delivery is never
// immediate: a notification arrives through the receiving process's main run
// loop (run_loop.h), and when several posts of one name arrive before the loop
// runs they are delivered once (coalesced). Darwin notifications carry no
// object and no user information; observers get nil for both, and the name as
// a text. Every registration is kept for the life of the process.
//
// Names are non-empty texts of at most kDarwinNameLimit bytes in UTF-8. A nil,
// empty or longer name registers nothing and posts nothing. A centre other
// than the Darwin centre is ignored by both calls.
//
// Mechanism: each process with an observer binds a Unix datagram socket and
// announces it with a file under "<device root>/var/run/notify/", under the
// device root current at its latest registration; posting sends the name to
// every announced socket and removes announcements of processes that are
// gone. A process hears its own posts directly, not through its socket. A
// process's announcement is removed when it exits normally. No server is
// involved. Anything in the announcement folder that is not a small regular
// file (a FIFO, a folder, a device) is passed over without being opened for
// blocking reads, and left where it is.
//
// Failures are silent. Registration fails silently when the device root is
// not writable (the observer then hears nothing). Posting never raises and
// waits at most a fifth of a second in all for receivers whose queue is full;
// a receiver that does not run its loop stops taking names once its queue is
// full, and posts to it are dropped until it drains.
// An exception thrown by an observer's callback travels out of the run loop.
#pragma once

#include <cstddef>

#include "host/notify/notification_types.h"

// The longest name, in UTF-8 bytes, that the centre carries.
inline constexpr size_t kDarwinNameLimit = 1024;

// The Darwin centre: one object for the life of the process.
CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter();

// Registers `callback` for `name`. The callback gets `observer` back as its
// observer argument. `object` and `behavior` are accepted for the platform's
// signature and do not change anything: the centre always coalesces. The same
// observer, callback and name registered twice are called once.
void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                     CFNotificationCallback callback, CFStringRef name,
                                     const void* object, CFNotificationSuspensionBehavior behavior);

// Posts `name`. `object`, `userInfo` and `deliverImmediately` are ignored.
void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name,
                                          const void* object, CFDictionaryRef userInfo,
                                          bool deliverImmediately);
