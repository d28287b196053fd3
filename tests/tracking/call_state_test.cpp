// The call-state observer: which notifications it acts on, what the start and
// end of a call do to the state and the area label, what survives a failure,
// and a whole call through the telephony centre and the hooked alert window.
#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/foundation/values.h"
#include "host/notify/telephony.h"
#include "host/runtime/substrate.h"
#include "presentation/alert_label.h"
#include "state/ns_exception.h"
#include "state/state.h"
#include "support/hook_fixture.h"
#include "support/lookup_fixture.h"
#include "tracking/call_state.h"

namespace {

using namespace testing_support;

void removalRaises(id, SEL) {
  throw NSException(NSInvalidArgumentException, "removeFromSuperview failed");
}
void setTextThrowsOther(id, SEL, id) {
  throw std::runtime_error("not a platform exception");
}
id hostStackedAlerts(id, SEL, BOOL) {
  return nil;
}

// A call-status user information; nil entries are left out.
id statusInfo(const id& status, const id& call = nil) {
  NSDictionary::Entries entries;
  if (status) entries.emplace("kCTCallStatus", status);
  if (call) entries.emplace("kCTCall", call);
  return NSDictionary::make(std::move(entries));
}

// Delivers a notification as the telephony centre does. The default name is
// an equal text, not the platform's own constant object.
void notify(const id& userInfo, const id& name = text("kCTCallStatusChangeNotification")) {
  cb_telephony(CTTelephonyCenterGetDefault(), nullptr, name, nullptr, userInfo);
}

class CallState : public LookupTest {
 protected:
  void SetUp() override {
    static const bool registered = [] {
      hookAlertWindow(&hostStackedAlerts);
      class_addMethod(objc_registerClass("StuckLabel", objc_getClass("UILabel")),
                      sel_registerName("removeFromSuperview"), &removalRaises);
      class_addMethod(objc_registerClass("ForeignFailureLabel", objc_getClass("UILabel")),
                      sel_registerName("setText:"), &setTextThrowsOther);
      return true;
    }();
    (void)registered;
    newWindow();
  }

  // A fresh alert window carrying only the host's own view.
  void newWindow() {
    window = makeView("SBAlertWindow", CGRectMake(0, 0, 320, 480));
    content = makeView("UIView", CGRectMake(0, 0, 320, 400));
    msg<void(id)>(window, "addSubview:", content);
  }

  // A call ringing, its area label (of `shownClass`) on a fresh alert window.
  void ringing(const char* shownClass = "UILabel") {
    newWindow();
    shown = makeView(shownClass, CGRectMake(0, 458, 320, 22));
    if (std::string(shownClass) == "UILabel") msg<void(id)>(shown, "setText:", text("London"));
    msg<void(id)>(window, "addSubview:", shown);
    label = shown;
    area = text("London");
    phoneNumber = text("020 7946 0000");
    callInProgress = 1;
  }

  // Label and area as ringing() left them, flag and number as given.
  ::testing::AssertionResult ringingWith(uint8_t flag = 1, const char* number = "020 7946 0000") {
    if (callInProgress == flag && label == shown && textOf(phoneNumber) == number &&
        textOf(area) == "London" && msg<id()>(shown, "superview") == window) {
      return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "flag " << int(callInProgress) << ", number " << textOf(phoneNumber).value_or("(nil)")
           << ", area " << textOf(area).value_or("(nil)");
  }

  // After the end of a call: flag down, number and area empty texts, no
  // label, and only the host's own view left on the window.
  void expectCleared() {
    EXPECT_EQ(callInProgress, 0);
    EXPECT_EQ(textOf(phoneNumber), "");
    EXPECT_EQ(textOf(area), "");
    EXPECT_EQ(label, nil);
    EXPECT_EQ(subviewsOf(window), std::vector<id>{content});
  }

  id window, content, shown;
};

// Guards against acting on notifications other than the call-status change
// (names differing in case or spacing, nil, or no text at all).
TEST_F(CallState, OtherNotificationsChangeNothing) {
  ringing();
  for (const id& name :
       {text("kCTCallIdentificationChangeNotification"), text("kctcallstatuschangenotification"),
        text("kCTCallStatusChangeNotification "), text(""), id(), NSNumber::integer(4)}) {
    SCOPED_TRACE(textOf(name).value_or("(nil)"));
    notify(statusInfo(NSNumber::integer(0)), name);
    EXPECT_TRUE(ringingWith());
  }
}

// Guards against the wrong statuses starting or ending a call (a signed range
// test lets negatives in), a missing status not reading as 0, and the end of
// a call leaving anything behind.
TEST_F(CallState, StatusesThreeAndFourStartACallEveryOtherEndsIt) {
  const id number = text("+44 (20) 7946-0001");
  for (int status : {3, 4}) {
    SCOPED_TRACE(status);
    ringing();
    callInProgress = 0;
    notify(statusInfo(NSNumber::integer(status), host::makeCall(number)));
    EXPECT_TRUE(ringingWith(1, "+44 (20) 7946-0001"));  // the number as the service gave it
  }
  for (int status : {0, 1, 2, 5, -1, -4, INT32_MIN}) {
    SCOPED_TRACE(status);
    ringing();
    notify(statusInfo(NSNumber::integer(status), host::makeCall(number)));
    expectCleared();
    EXPECT_EQ(labelText(shown), "");  // emptied before it was taken off
  }
  // A missing status, or no user information at all, reads as 0.
  for (const id& info : {statusInfo(nil, host::makeCall(number)), id(nil)}) {
    ringing();
    notify(info);
    expectCleared();
  }
}

// Guards against a second call notification keeping the first number or
// touching the first call's label and area.
TEST_F(CallState, SecondCallNotificationKeepsOnlyTheSecondNumber) {
  ringing();
  notify(statusInfo(NSNumber::integer(4), host::makeCall(text("0161 496 0000"))));
  notify(statusInfo(NSNumber::integer(3), host::makeCall(text("+33 1 23 45 67 89"))));
  EXPECT_TRUE(ringingWith(1, "+33 1 23 45 67 89"));
}

// Guards against the end of a call failing without a label (nothing set yet,
// or the label already gone) and against a second end touching the old label.
TEST_F(CallState, EndWithoutALabelAndTwoEnds) {
  notify(statusInfo(NSNumber::integer(kCTCallStatusDisconnected)));  // straight after loading
  expectCleared();

  ringing();
  notify(statusInfo(NSNumber::integer(kCTCallStatusAnswered)));
  msg<void(id)>(shown, "setText:", text("kept"));
  notify(statusInfo(NSNumber::integer(kCTCallStatusDisconnected)));
  expectCleared();
  EXPECT_EQ(labelText(shown), "kept");
}

// Guards against clearing label or area before the label is safely taken
// down: a platform failure while removing it leaves both as they were.
TEST_F(CallState, FailureWhileRemovingTheLabelLeavesLabelAndArea) {
  ringing("StuckLabel");
  EXPECT_NO_THROW(notify(statusInfo(NSNumber::integer(0))));
  EXPECT_TRUE(ringingWith(0, ""));
}

// Guards against a crash on contents of the wrong kind, and against raising
// the flag before the call's number has been read.
TEST_F(CallState, WrongKindOfContentsIsDropped) {
  ringing();
  callInProgress = 0;
  for (const id& info : {NSArray::make({NSNumber::integer(4)}), text("kCTCallStatus=4"),
                         statusInfo(NSArray::make({NSNumber::integer(0)})),
                         statusInfo(NSNumber::integer(4), text("+44 20 7946 0000"))}) {
    SCOPED_TRACE(textOf(info).value_or("(nil)"));
    EXPECT_NO_THROW(notify(info));
    EXPECT_TRUE(ringingWith(0));
  }
}

// Guards against the guard swallowing exceptions that are not the platform's.
TEST_F(CallState, OtherExceptionsAreNotSwallowed) {
  ringing("ForeignFailureLabel");
  EXPECT_THROW(notify(statusInfo(NSNumber::integer(1))), std::runtime_error);
}

// Guards against area labels piling up over refreshes or outliving the call,
// with the observer registered and called as the library does it.
TEST_F(CallState, WholeCallShowsOneAreaLabelAndNoneAfterwards) {
  host::removeTelephonyObservers();
  CTTelephonyCenterAddObserver(CTTelephonyCenterGetDefault(), nullptr, &cb_telephony, nil, nullptr,
                               CFNotificationSuspensionBehaviorDeliverImmediately);
  setPref("countryCode", "44");
  writeCodes("44", "4420|London\n");
  auto refresh = [&] { msg<id(BOOL)>(window, "stackedAlertsIncludingActiveAlert:", true); };

  id call = host::makeCall(text("+44 20 7946 0000"));
  host::postCallStatus(call, kCTCallStatusIncoming);
  refresh();
  refresh();
  EXPECT_EQ(subviewsOf(window), (std::vector<id>{content, label}));
  EXPECT_EQ(labelText(label), "London");

  host::postCallStatus(call, kCTCallStatusAnswered);
  expectCleared();
  refresh();
  EXPECT_EQ(subviewsOf(window), std::vector<id>{content});
  host::removeTelephonyObservers();
}

}  // namespace
