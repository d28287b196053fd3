// The telephony notification centre, call objects and the call-status
// notification.
//
// The centre lives within one process. An observer registered with a nil name
// receives every notification posted to the centre; one registered with a
// name only those of that name. Posting calls each matching observer at once,
// on the caller's thread (the main thread), in the order they registered, with
// the notification's name and user information. Observers stay registered for
// the life of the process.
//
// A call object carries the other party's number as the telephony service
// gave it, unnormalised.
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
// Posts kCTCallStatusChangeNotification with kCTCallStatus = status and
// "kCTCall" = call.
void postCallStatus(const id& call, int status);

}  // namespace host
