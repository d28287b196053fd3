// Following the current call through the telephony service's call-status
// notifications.
//
// cb_telephony is registered for every notification of the telephony centre.
// It acts only on kCTCallStatusChangeNotification:
//   - status 3 (a call being placed) or 4 (a call ringing in): phoneNumber
//     becomes the call's number, then callInProgress becomes 1; the area label
//     and area are left alone;
//   - any other status (a missing one reads as 0): callInProgress becomes 0,
//     phoneNumber "", the area label is emptied and taken off its window,
//     label nil and area "", in that order.
// It does no lookup itself. An NSException raised on the way is dropped, and
// what was assigned before it stays. Main thread only.
#pragma once

#include "host/notify/notification_types.h"

void cb_telephony(CFNotificationCenterRef center, void* observer, CFStringRef name,
                  const void* object, CFDictionaryRef userInfo);
