#include "tracking/call_state.h"

#include <cstdint>

#include "host/foundation/messages.h"
#include "host/foundation/values.h"
#include "host/notify/telephony.h"
#include "host/runtime/objc.h"
#include "state/guard.h"
#include "state/state.h"

void cb_telephony(CFNotificationCenterRef, void*, CFStringRef name, const void*,
                  CFDictionaryRef userInfo) {
  guarded([&] {
    if (!name || ns::units(name) != ns::units(kCTCallStatusChangeNotification)) return;

    const int32_t status = ns::intValue(ns::objectForKey(userInfo, kCTCallStatus));
    if (static_cast<uint32_t>(status) - 3u <= 1u) {
      // The number is stored before the flag, so a failure while reading the
      // call changes nothing.
      phoneNumber = CTCallCopyAddress(kCFAllocatorDefault, ns::objectForKey(userInfo, "kCTCall"));
      callInProgress = 1;
      return;
    }

    // The flag and the number are cleared before the label is touched, so a
    // failure while taking the label down leaves label and area as they were.
    callInProgress = 0;
    phoneNumber = NSString::make(u"");
    if (label) msg<void(id)>(label, "setText:", NSString::make(u""));
    if (label) msg<void()>(label, "removeFromSuperview");
    label = nil;
    area = NSString::make(u"");
  });
}
