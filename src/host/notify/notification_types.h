// Types shared by the notification centres.
#pragma once

#include "host/foundation/object.h"

using CFStringRef = id;      // a text (NSString) or nil
using CFDictionaryRef = id;  // a dictionary (NSDictionary) or nil
using CFNotificationCenterRef = id;
using CFAllocatorRef = const void*;
inline constexpr CFAllocatorRef kCFAllocatorDefault = nullptr;

// The callback every notification centre calls: the centre, the observer
// pointer given at registration, the notification's name, its object and its
// user information.
using CFNotificationCallback = void (*)(CFNotificationCenterRef center, void* observer,
                                        CFStringRef name, const void* object,
                                        CFDictionaryRef userInfo);

enum CFNotificationSuspensionBehavior : long {
  CFNotificationSuspensionBehaviorDrop = 1,
  CFNotificationSuspensionBehaviorCoalesce = 2,
  CFNotificationSuspensionBehaviorHold = 3,
  CFNotificationSuspensionBehaviorDeliverImmediately = 4,
};
