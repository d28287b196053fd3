#include "host/notify/telephony.h"

#include <memory>
#include <string>
#include <vector>

#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "state/ns_exception.h"

const CFStringRef kCTCallStatusChangeNotification =
    NSString::fromUtf8("kCTCallStatusChangeNotification");
const CFStringRef kCTCallStatus = NSString::fromUtf8("kCTCallStatus");

namespace {

class TelephonyCenter final : public Object {
 public:
  struct Registration {
    const void* observer;
    CFNotificationCallback callback;
    CFStringRef name;    // nil: every notification
    const void* object;  // nullptr: any object
  };

  const char* kindName() const override { return "CTTelephonyCenter"; }

  std::vector<Registration> registrations;
};

// A call: an instance of the runtime class "CTCall" that keeps the other
// party's number as the telephony service gave it.
class Call final : public RuntimeObject {
 public:
  using RuntimeObject::RuntimeObject;
  id address;  // an NSString or nil
};

Class callClass() {
  static const Class cls = objc_registerClass(
      "CTCall", NSObjectClass(), [](Class c) -> id { return std::make_shared<Call>(c); });
  return cls;
}

// The class exists as soon as the platform is loaded, as it does on the phone.
[[maybe_unused]] const Class registeredCallClass = callClass();

const id& defaultCenter() {
  static const id center = std::make_shared<TelephonyCenter>();
  return center;
}

TelephonyCenter& centerState() {
  return *objectAs<TelephonyCenter>(defaultCenter());
}

}  // namespace

CFNotificationCenterRef CTTelephonyCenterGetDefault() {
  return defaultCenter();
}

void CTTelephonyCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                  CFNotificationCallback callback, CFStringRef name,
                                  const void* object, CFNotificationSuspensionBehavior) {
  if (!center) return;
  auto* telephony = objectAs<TelephonyCenter>(center);
  if (!telephony) {
    throw NSException(NSInvalidArgumentException,
                      std::string("CTTelephonyCenterAddObserver: not the telephony center: ") +
                          center->kindName());
  }
  if (name && !objectAs<NSString>(name)) {
    throw NSException(
        NSInvalidArgumentException,
        std::string("CTTelephonyCenterAddObserver: name is not a text: ") + name->kindName());
  }
  if (!callback) return;
  telephony->registrations.push_back({observer, callback, name, object});
}

CFStringRef CTCallCopyAddress(CFAllocatorRef, id call) {
  if (!call) return nil;
  auto* state = objectAs<Call>(call);
  if (!state) {
    throw NSException(NSInvalidArgumentException,
                      std::string("CTCallCopyAddress: not a call: ") + call->kindName());
  }
  auto* address = objectAs<NSString>(state->address);
  return address ? NSString::make(address->units()) : nil;
}

namespace host {

id makeCall(CFStringRef address) {
  if (address && !objectAs<NSString>(address)) {
    throw NSException(NSInvalidArgumentException,
                      std::string("makeCall: address is not a text: ") + address->kindName());
  }
  auto call = std::make_shared<Call>(callClass());
  call->address = address;
  return call;
}

void postTelephonyNotification(CFStringRef name, CFDictionaryRef userInfo) {
  // Observers added by a callback hear from the next notification on.
  const std::vector<TelephonyCenter::Registration> current = centerState().registrations;
  for (const auto& r : current) {
    if (r.object) continue;  // telephony notifications carry no object
    if (r.name && !valuesEqual(r.name, name)) continue;
    r.callback(defaultCenter(), const_cast<void*>(r.observer), name, nullptr, userInfo);
  }
}

void postCallStatus(const id& call, int status) {
  NSDictionary::Entries info{{"kCTCallStatus", NSNumber::integer(status)}};
  if (call) info.emplace("kCTCall", call);
  postTelephonyNotification(kCTCallStatusChangeNotification, NSDictionary::make(std::move(info)));
}

void removeTelephonyObservers() {
  centerState().registrations.clear();
}

}  // namespace host
