// The telephony centre: who hears which notification, in what order and with
// what, and the call objects.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/foundation/messages.h"
#include "host/foundation/values.h"
#include "host/notify/telephony.h"
#include "host/runtime/objc.h"
#include "state/ns_exception.h"

namespace {

// What observers heard, in order. An observer is named by the C text its
// observer pointer points at.
struct Heard {
  std::string observer;
  CFNotificationCenterRef center;
  CFStringRef name;
  const void* object;
  CFDictionaryRef userInfo;
};
std::vector<Heard> heard;

void record(CFNotificationCenterRef center, void* observer, CFStringRef name, const void* object,
            CFDictionaryRef userInfo) {
  heard.push_back({static_cast<const char*>(observer), center, name, object, userInfo});
}
void observe(const char* who, CFStringRef name, const void* object = nullptr) {
  CTTelephonyCenterAddObserver(CTTelephonyCenterGetDefault(), who, &record, name, object,
                               CFNotificationSuspensionBehaviorDeliverImmediately);
}
std::vector<std::string> who() {
  std::vector<std::string> out;
  for (const auto& h : heard) out.push_back(h.observer);
  return out;
}
id text(const char* utf8) {
  return NSString::fromUtf8(utf8);
}

class Telephony : public ::testing::Test {
 protected:
  void SetUp() override {
    host::removeTelephonyObservers();
    heard.clear();
  }
};

// Guards against an observer without a name missing notifications or getting
// a wrong name, user info, centre or object, and against observers being
// called out of registration order.
TEST_F(Telephony, ObserverWithoutANameHearsEverythingWithNameAndUserInfo) {
  observe("first", nil);
  id call = host::makeCall(text("+1 (555) 123-4567"));
  host::postCallStatus(call, kCTCallStatusIncoming);
  id other = text("kCTCallIdentificationChangeNotification");
  id info = NSDictionary::make({{"x", NSNumber::integer(1)}});
  host::postTelephonyNotification(other, info);

  ASSERT_EQ(heard.size(), 2u);
  EXPECT_EQ(heard[0].center, CTTelephonyCenterGetDefault());
  EXPECT_EQ(heard[0].object, nullptr);
  EXPECT_TRUE(valuesEqual(heard[0].name, text("kCTCallStatusChangeNotification")));
  EXPECT_TRUE(valuesEqual(ns::objectForKey(heard[0].userInfo, "kCTCallStatus"),
                          NSNumber::integer(kCTCallStatusIncoming)));
  EXPECT_EQ(ns::objectForKey(heard[0].userInfo, "kCTCall"), call);
  EXPECT_EQ(heard[1].name, other);
  EXPECT_EQ(heard[1].userInfo, info);

  heard.clear();
  observe("second", kCTCallStatusChangeNotification);
  observe("third", nil);
  observe("second", kCTCallStatusChangeNotification);  // a repeated registration counts
  host::postCallStatus(nil, kCTCallStatusDisconnected);
  EXPECT_EQ(who(), (std::vector<std::string>{"first", "second", "third", "second"}));
  EXPECT_EQ(ns::objectForKey(heard[0].userInfo, "kCTCall"), nil) << "no call, no entry";
}

// Guards against a named observer hearing other names (near misses, other
// case, nil), against names being compared by object rather than as text,
// and against an observer for an object ever hearing anything.
TEST_F(Telephony, NamedObserverHearsOnlyItsName) {
  observe("first", text("kCTCallStatusChangeNotification"));  // equal text, other object
  static const int someObject = 0;
  observe("second", nil, &someObject);
  for (const id& name :
       {text("kCTCallStatusChangeNotificationX"), text("kctcallstatuschangenotification"), id()}) {
    host::postTelephonyNotification(name, nil);
  }
  EXPECT_TRUE(heard.empty());
  host::postCallStatus(nil, kCTCallStatusAnswered);
  EXPECT_EQ(who(), std::vector<std::string>{"first"});
}

// Guards against the call's number being lost or shared rather than copied,
// and against anything that is no call being accepted.
TEST_F(Telephony, CopyAddressOfCallsAndOfWhatIsNoCall) {
  id number = text("+44 20 7946 0958");
  id call = host::makeCall(number);
  EXPECT_EQ(object_getClass(call), objc_getClass("CTCall"));
  id copy = CTCallCopyAddress(kCFAllocatorDefault, call);
  EXPECT_TRUE(valuesEqual(copy, number));
  EXPECT_NE(copy, number) << "a new text, owned by the caller";
  EXPECT_EQ(CTCallCopyAddress(kCFAllocatorDefault, host::makeCall(nil)), nil);
  EXPECT_EQ(CTCallCopyAddress(kCFAllocatorDefault, nil), nil);
  EXPECT_THROW(CTCallCopyAddress(kCFAllocatorDefault, number), NSException);
  EXPECT_THROW(CTCallCopyAddress(kCFAllocatorDefault, msg<id()>(NSObjectClass(), "alloc")),
               NSException);
}

}  // namespace
