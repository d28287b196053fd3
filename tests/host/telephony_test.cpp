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

struct Heard {
  std::string observer;
  CFNotificationCenterRef center;
  CFStringRef name;
  const void* object;
  CFDictionaryRef userInfo;
};
std::vector<Heard> heard;

// Observers are named by the text their observer pointer points at.
void record(CFNotificationCenterRef center, void* observer, CFStringRef name, const void* object,
            CFDictionaryRef userInfo) {
  heard.push_back({*static_cast<const std::string*>(observer), center, name, object, userInfo});
}

const std::string first = "first", second = "second", third = "third", late = "late";

void registerLate(CFNotificationCenterRef center, void* observer, CFStringRef name,
                  const void* object, CFDictionaryRef userInfo) {
  record(center, observer, name, object, userInfo);
  CTTelephonyCenterAddObserver(CTTelephonyCenterGetDefault(), &late, &record, nil, nullptr,
                               CFNotificationSuspensionBehaviorDeliverImmediately);
}

void throwing(CFNotificationCenterRef, void*, CFStringRef, const void*, CFDictionaryRef) {
  throw NSException(NSInvalidArgumentException, "from an observer");
}

class Telephony : public ::testing::Test {
 protected:
  void SetUp() override {
    host::removeTelephonyObservers();
    heard.clear();
  }
  void TearDown() override { host::removeTelephonyObservers(); }

  static void observe(const std::string& who, CFStringRef name,
                      CFNotificationCallback callback = &record) {
    CTTelephonyCenterAddObserver(CTTelephonyCenterGetDefault(), &who, callback, name, nullptr,
                                 CFNotificationSuspensionBehaviorDeliverImmediately);
  }
  static id text(const char* utf8) { return NSString::fromUtf8(utf8); }
  static std::vector<std::string> who() {
    std::vector<std::string> out;
    for (const auto& h : heard) out.push_back(h.observer);
    return out;
  }
};

TEST_F(Telephony, ConstantsAreTheServicesTexts) {
  EXPECT_TRUE(
      valuesEqual(kCTCallStatusChangeNotification, text("kCTCallStatusChangeNotification")));
  EXPECT_TRUE(valuesEqual(kCTCallStatus, text("kCTCallStatus")));
}

TEST_F(Telephony, ObserverWithoutANameHearsEverythingWithNameAndUserInfo) {
  observe(first, nil);
  id call = host::makeCall(text("+1 (555) 123-4567"));
  host::postCallStatus(call, kCTCallStatusIncoming);
  id other = text("kCTCallIdentificationChangeNotification");
  id info = NSDictionary::make({{"x", NSNumber::integer(1)}});
  host::postTelephonyNotification(other, info);
  host::postTelephonyNotification(nil, nil);

  ASSERT_EQ(heard.size(), 3u);
  EXPECT_EQ(heard[0].observer, "first");
  EXPECT_EQ(heard[0].center, CTTelephonyCenterGetDefault());
  EXPECT_EQ(heard[0].object, nullptr);
  EXPECT_TRUE(valuesEqual(heard[0].name, kCTCallStatusChangeNotification));
  id status = ns::objectForKey(heard[0].userInfo, "kCTCallStatus");
  ASSERT_NE(objectAs<NSNumber>(status), nullptr);
  EXPECT_EQ(objectAs<NSNumber>(status)->kind(), NSNumber::Kind::integer);
  EXPECT_EQ(objectAs<NSNumber>(status)->integerValue(), 4);
  EXPECT_EQ(ns::objectForKey(heard[0].userInfo, "kCTCall"), call);

  EXPECT_EQ(heard[1].name, other);
  EXPECT_EQ(heard[1].userInfo, info);
  EXPECT_EQ(heard[2].name, nil);
  EXPECT_EQ(heard[2].userInfo, nil);
}

TEST_F(Telephony, NamedObserverHearsOnlyItsName) {
  observe(first, text("kCTCallStatusChangeNotification"));  // equal text, other object
  host::postTelephonyNotification(text("kCTCallStatusChangeNotificationX"), nil);
  host::postTelephonyNotification(text("kctcallstatuschangenotification"), nil);
  host::postTelephonyNotification(nil, nil);
  EXPECT_TRUE(heard.empty());

  host::postCallStatus(host::makeCall(nil), -1);
  ASSERT_EQ(heard.size(), 1u);
  EXPECT_EQ(objectAs<NSNumber>(ns::objectForKey(heard[0].userInfo, "kCTCallStatus"))->int32Value(),
            -1);
}

TEST_F(Telephony, DeliveryFollowsRegistrationOrder) {
  observe(second, nil);
  observe(first, kCTCallStatusChangeNotification);
  observe(third, nil);
  host::postCallStatus(nil, 0);
  EXPECT_EQ(who(), (std::vector<std::string>{"second", "first", "third"}));
  EXPECT_EQ(ns::objectForKey(heard[0].userInfo, "kCTCall"), nil) << "no call, no entry";

  // A repeated registration counts twice.
  heard.clear();
  observe(first, kCTCallStatusChangeNotification);
  host::postCallStatus(nil, 0);
  EXPECT_EQ(who(), (std::vector<std::string>{"second", "first", "third", "first"}));
}

TEST_F(Telephony, ObserverAddedDuringAPostHearsFromTheNextOne) {
  observe(first, nil, &registerLate);
  host::postTelephonyNotification(text("one"), nil);
  EXPECT_EQ(who(), (std::vector<std::string>{"first"}));
  heard.clear();
  observe(second, nil);
  host::postTelephonyNotification(text("two"), nil);
  EXPECT_EQ(who(), (std::vector<std::string>{"first", "late", "second"}));
}

TEST_F(Telephony, ExceptionInAnObserverStopsThePost) {
  observe(first, nil);
  observe(second, nil, &throwing);
  observe(third, nil);
  EXPECT_THROW(host::postCallStatus(nil, 4), NSException);
  EXPECT_EQ(who(), (std::vector<std::string>{"first"}));
}

TEST_F(Telephony, RegistrationsThatRegisterNothingOrRaise) {
  CTTelephonyCenterAddObserver(nil, &first, &record, nil, nullptr,
                               CFNotificationSuspensionBehaviorDeliverImmediately);
  CTTelephonyCenterAddObserver(CTTelephonyCenterGetDefault(), &second, nullptr, nil, nullptr,
                               CFNotificationSuspensionBehaviorDeliverImmediately);
  // Telephony notifications carry no object, so this one never matches.
  static const int someObject = 0;
  CTTelephonyCenterAddObserver(CTTelephonyCenterGetDefault(), &third, &record, nil, &someObject,
                               CFNotificationSuspensionBehaviorDeliverImmediately);
  host::postCallStatus(nil, 4);
  EXPECT_TRUE(heard.empty());

  EXPECT_THROW(CTTelephonyCenterAddObserver(text("not a centre"), &first, &record, nil, nullptr,
                                            CFNotificationSuspensionBehaviorDeliverImmediately),
               NSException);
  EXPECT_THROW(CTTelephonyCenterAddObserver(CTTelephonyCenterGetDefault(), &first, &record,
                                            NSNumber::integer(1), nullptr,
                                            CFNotificationSuspensionBehaviorDeliverImmediately),
               NSException);
  EXPECT_EQ(CTTelephonyCenterGetDefault(), CTTelephonyCenterGetDefault());
}

TEST_F(Telephony, CopyAddressOfCallsAndOfWhatIsNoCall) {
  id number = text("+44 20 7946 0958");
  id call = host::makeCall(number);
  EXPECT_EQ(object_getClass(call), objc_getClass("CTCall"));
  ASSERT_NE(objc_getClass("CTCall"), nullptr);

  id copy = CTCallCopyAddress(kCFAllocatorDefault, call);
  EXPECT_TRUE(valuesEqual(copy, number));
  EXPECT_NE(copy, number) << "a new text, owned by the caller";
  EXPECT_EQ(CTCallCopyAddress(kCFAllocatorDefault, host::makeCall(nil)), nil);
  EXPECT_EQ(CTCallCopyAddress(kCFAllocatorDefault, nil), nil);

  EXPECT_THROW(CTCallCopyAddress(kCFAllocatorDefault, number), NSException);
  EXPECT_THROW(CTCallCopyAddress(kCFAllocatorDefault, msg<id()>(NSObjectClass(), "alloc")),
               NSException);
  EXPECT_THROW(host::makeCall(NSNumber::integer(5551234)), NSException);
}

}  // namespace
