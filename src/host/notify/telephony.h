// The telephony notification centre, call objects and the call-status
// notification.
//
// The centre lives within one process. An observer registered with a nil name
// receives every notification posted to the centre; one registered with a
// name only those of that name (compared as text). Posting calls each matching
// observer at once, on the caller's thread (the main thread), in the order they
// registered, with the centre, the observer pointer, the notification's name,
// a null object and the user information (so an observer registered for a
// particular object never hears anything); the suspension behaviour is
// accepted and plays no part. Each registration counts, a repeated one too. An
// observer that registers during a post hears from the next post on. An
// exception thrown by a callback travels out of the post, and the observers
// after it are not called. Observers stay registered for the life of the
// process (tests may drop them with host::removeTelephonyObservers).
//
// A call object is an instance of the runtime class "CTCall" (registered when
// the platform library loads). It carries the other party's number as the
// telephony service gave it, unnormalised.
//
// What raises NSException (NSInvalidArgumentException): CTCallCopyAddress of
// an object that is no call; CTTelephonyCenterAddObserver with a centre other
// than the telephony centre or a name that is no text; host::makeCall with an
// address that is no text. A nil centre or a null callback registers nothing.
#pragma once

#include "host/notify/notification_types.h"

// The name of the call-status change and the key of its status number in the
// user information. The key of the call object is the literal text "kCTCall".
extern const CFStringRef kCTCallStatusChangeNotification;
extern const CFStringRef kCTCallStatus;

// Call statuses as the telephony service numbers them.
inline constexpr int kCTCallStatusAnswered = 1;
inline constexpr int kCTCallStatusDialing = 3;   // an outgoing call being placed
inline constexpr int kCTCallStatusIncoming = 4;  // an incoming call ringing
inline constexpr int kCTCallStatusDisconnected = 5;

CFNotificationCenterRef CTTelephonyCenterGetDefault();

void CTTelephonyCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                  CFNotificationCallback callback, CFStringRef name,
                                  const void* object, CFNotificationSuspensionBehavior behavior);

// The number of `call` as a new text, or nil when `call` is nil. Raises
// NSException when `call` is not a call object.
CFStringRef CTCallCopyAddress(CFAllocatorRef allocator, id call);

namespace host {

// The telephony service's side: a new call object for `address` (a text or
// nil), and posting a notification to the centre.
id makeCall(CFStringRef address);
void postTelephonyNotification(CFStringRef name, CFDictionaryRef userInfo);
// Posts kCTCallStatusChangeNotification with kCTCallStatus = status (an
// integer NSNumber) and "kCTCall" = call; a nil call leaves "kCTCall" out.
void postCallStatus(const id& call, int status);

// Drops every observer, as a fresh process would start. For tests.
void removeTelephonyObservers();

}  // namespace host
