// The call-state observer: which notifications it acts on, what a call and the
// end of a call do to the state and to the area label, and what is left after
// a platform failure or a user information of the wrong kind. The last group
// follows whole calls through the telephony centre and the hooked call alert
// window.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/foundation/values.h"
#include "host/notify/telephony.h"
#include "host/runtime/objc.h"
#include "host/runtime/substrate.h"
#include "host/ui/uikit.h"
#include "presentation/alert_label.h"
#include "state/ns_exception.h"
#include "state/state.h"
#include "support/lookup_fixture.h"
#include "tracking/call_state.h"

namespace {

using testing_support::LookupTest;
using testing_support::textOf;

id text(const char* utf8) {
  return NSString::fromUtf8(utf8);
}

// ---- host classes ----------------------------------------------------------

// A label whose removal from its window fails the way a platform call does.
void removalRaises(id, SEL) {
  throw NSException(NSInvalidArgumentException, "removeFromSuperview failed");
}

// A label whose setText: fails with an exception that is not the platform's.
void setTextThrowsOther(id, SEL, id) {
  throw std::runtime_error("not a platform exception");
}

// The call alert window's own stackedAlertsIncludingActiveAlert:.
id hostStackedAlerts(id, SEL, BOOL) {
  static const id alerts = NSArray::make({});
  return alerts;
}

// Registers the UI classes and the host classes of this program, and hooks the
// alert window, once for the whole program.
void registerHostClasses() {
  static const bool registered = [] {
    host::registerUIKitClasses();
    Class uiLabel = objc_getClass("UILabel");
    class_addMethod(objc_registerClass("StuckLabel", uiLabel),
                    sel_registerName("removeFromSuperview"), &removalRaises);
    class_addMethod(objc_registerClass("ForeignFailureLabel", uiLabel),
                    sel_registerName("setText:"), &setTextThrowsOther);
    Class alertWindow = objc_registerClass("SBAlertWindow", objc_getClass("UIWindow"));
    class_addMethod(alertWindow, sel_registerName("stackedAlertsIncludingActiveAlert:"),
                    &hostStackedAlerts);
    MSHookMessageEx(alertWindow, sel_registerName("stackedAlertsIncludingActiveAlert:"),
                    &hook_SBAlertWindow_stackedAlerts, &orig_stackedAlerts);
    return true;
  }();
  (void)registered;
}

id makeView(const char* className, CGRect frame) {
  id made = msg<id()>(objc_getClass(className), "alloc");
  return msg<id(CGRect)>(made, "initWithFrame:", frame);
}

std::vector<id> subviewsOf(const id& view) {
  return objectAs<NSArray>(msg<id()>(view, "subviews"))->items();
}

id textOfLabel(const id& view) {
  return msg<id()>(view, "text");
}

// ---- notifications ---------------------------------------------------------

// A call-status user information; nil entries are left out.
id statusInfo(const id& status, const id& call = nil) {
  NSDictionary::Entries entries;
  if (status) entries.emplace("kCTCallStatus", status);
  if (call) entries.emplace("kCTCall", call);
  return NSDictionary::make(std::move(entries));
}

void notify(const id& name, const id& userInfo) {
  cb_telephony(CTTelephonyCenterGetDefault(), nullptr, name, nullptr, userInfo);
}

void notifyStatus(const id& status, const id& call = nil) {
  notify(kCTCallStatusChangeNotification, statusInfo(status, call));
}

// ---- the state -------------------------------------------------------------

struct Snapshot {
  id number;
  id found;
  id areaLabel;
  uint8_t flag;
};

Snapshot snapshot() {
  return {phoneNumber, area, label, callInProgress};
}

// The very same objects, not only equal ones: the observer must not have
// written any of the variables.
::testing::AssertionResult unchanged(const Snapshot& before) {
  if (phoneNumber != before.number) return ::testing::AssertionFailure() << "phoneNumber written";
  if (area != before.found) return ::testing::AssertionFailure() << "area written";
  if (label != before.areaLabel) return ::testing::AssertionFailure() << "label written";
  if (callInProgress != before.flag) {
    return ::testing::AssertionFailure() << "callInProgress is " << int(callInProgress);
  }
  return ::testing::AssertionSuccess();
}

class CallState : public LookupTest {
 protected:
  void SetUp() override { registerHostClasses(); }

  // A call ringing with its area label on the alert window, as the
  // alert-window replacement leaves it.
  void ringing() {
    window = makeView("SBAlertWindow", CGRectMake(0, 0, 320, 480));
    shown = makeView("UILabel", CGRectMake(0, 458, 320, 22));
    msg<void(id)>(shown, "setText:", text("London"));
    msg<void(id)>(window, "addSubview:", shown);
    label = shown;
    area = text("London");
    phoneNumber = text("020 7946 0000");
    callInProgress = 1;
  }

  // After a reset: flag down, number and area empty texts, no label.
  static void expectCleared() {
    EXPECT_EQ(callInProgress, 0);
    EXPECT_EQ(textOf(phoneNumber), "");
    EXPECT_EQ(textOf(area), "");
    EXPECT_EQ(label, nil);
  }

  id window;
  id shown;
};

// ---- which notifications count ---------------------------------------------

TEST_F(CallState, OtherNotificationsChangeNothing) {
  ringing();
  const Snapshot before = snapshot();
  const id resetInfo = statusInfo(NSNumber::integer(0));
  for (const id& name : {text("kCTCallIdentificationChangeNotification"),
                         text("kctcallstatuschangenotification"),  // case counts
                         text("kCTCallStatusChangeNotification "), text(""), nil}) {
    notify(name, resetInfo);
    EXPECT_TRUE(unchanged(before)) << textOf(name).value_or("(nil)");
  }
  // A name that is not a text at all.
  notify(NSNumber::integer(4), statusInfo(NSNumber::integer(4), host::makeCall(text("1"))));
  EXPECT_TRUE(unchanged(before));
  EXPECT_EQ(textOf(textOfLabel(shown)), "London");
  EXPECT_EQ(msg<id()>(shown, "superview"), window);
}

TEST_F(CallState, NameIsComparedAsText) {
  // An equal text that is not the platform's own constant object.
  notify(text("kCTCallStatusChangeNotification"),
         statusInfo(NSNumber::integer(4), host::makeCall(text("+44 20 7946 0000"))));
  EXPECT_EQ(callInProgress, 1);
  EXPECT_EQ(textOf(phoneNumber), "+44 20 7946 0000");
}

// ---- the status --------------------------------------------------------------

TEST_F(CallState, DialingAndIncomingStartACall) {
  for (int status : {kCTCallStatusDialing, kCTCallStatusIncoming}) {
    SCOPED_TRACE(status);
    phoneNumber = nil;
    callInProgress = 0;
    // The number is kept as the telephony service gave it.
    notifyStatus(NSNumber::integer(status), host::makeCall(text("+44 (20) 7946-0000")));
    EXPECT_EQ(callInProgress, 1);
    EXPECT_EQ(textOf(phoneNumber), "+44 (20) 7946-0000");
  }
}

TEST_F(CallState, EveryOtherStatusEndsTheCall) {
  for (int64_t status : {int64_t{0}, int64_t{1}, int64_t{2}, int64_t{5}, int64_t{6}, int64_t{-1},
                         int64_t{-3}, int64_t{-4}, int64_t{INT32_MIN}, int64_t{INT32_MAX}}) {
    SCOPED_TRACE(status);
    ringing();
    notifyStatus(NSNumber::integer(status), host::makeCall(text("+1 212 555 0100")));
    expectCleared();
    EXPECT_EQ(subviewsOf(window).size(), 0u);
  }
}

TEST_F(CallState, StatusIsTheLow32BitsOfWhatIntValueGives) {
  struct Case {
    const char* what;
    id status;
    bool call;
  };
  const Case cases[] = {
      {"2^32 + 4", NSNumber::integer((int64_t{1} << 32) + 4), true},
      {"-2^32 + 3", NSNumber::integer(-(int64_t{1} << 32) + 3), true},
      {"2^32", NSNumber::integer(int64_t{1} << 32), false},
      {"2^32 + 5", NSNumber::integer((int64_t{1} << 32) + 5), false},
      {"text 4", text("4"), true},
      {"text ' +3 rings'", text(" +3 rings"), true},
      {"text -4", text("-4"), false},
      {"text four", text("four"), false},
      {"real 4.9", NSNumber::real(4.9), true},
      {"boolean true", NSNumber::boolean(true), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ringing();
    callInProgress = 0;
    notifyStatus(c.status, host::makeCall(text("0161 496 0000")));
    if (c.call) {
      EXPECT_EQ(callInProgress, 1);
      EXPECT_EQ(textOf(phoneNumber), "0161 496 0000");
      EXPECT_EQ(label, shown);
    } else {
      expectCleared();
    }
  }
}

TEST_F(CallState, MissingStatusReadsAsZero) {
  ringing();
  notifyStatus(nil, host::makeCall(text("0161 496 0000")));
  expectCleared();

  ringing();
  notify(kCTCallStatusChangeNotification, nil);  // no user information at all
  expectCleared();
}

// ---- a call, and the end of a call -------------------------------------------

TEST_F(CallState, SecondCallNotificationKeepsTheSecondNumberOnly) {
  ringing();
  notifyStatus(NSNumber::integer(4), host::makeCall(text("0161 496 0000")));
  const id areaBefore = area;
  notifyStatus(NSNumber::integer(3), host::makeCall(text("+33 1 23 45 67 89")));
  EXPECT_EQ(callInProgress, 1);
  EXPECT_EQ(textOf(phoneNumber), "+33 1 23 45 67 89");
  // The label and area of the first call are not the observer's to touch.
  EXPECT_EQ(label, shown);
  EXPECT_EQ(area, areaBefore);
  EXPECT_EQ(textOf(textOfLabel(shown)), "London");
  EXPECT_EQ(msg<id()>(shown, "superview"), window);
}

TEST_F(CallState, EndOfCallEmptiesAndRemovesTheLabel) {
  ringing();
  // Something else of the host's on the same window stays.
  id other = makeView("UILabel", CGRectMake(0, 0, 320, 22));
  msg<void(id)>(other, "setText:", text("Incoming call"));
  msg<void(id)>(window, "addSubview:", other);

  notifyStatus(NSNumber::integer(kCTCallStatusAnswered), host::makeCall(text("0161 496 0000")));
  expectCleared();
  EXPECT_EQ(textOf(textOfLabel(shown)), "");
  EXPECT_EQ(msg<id()>(shown, "superview"), nil);
  ASSERT_EQ(subviewsOf(window).size(), 1u);
  EXPECT_EQ(subviewsOf(window)[0], other);
  EXPECT_EQ(textOf(textOfLabel(other)), "Incoming call");
}

TEST_F(CallState, EndOfCallWithoutLabelStillClearsTheRest) {
  phoneNumber = text("0161 496 0000");
  area = text("Manchester");
  callInProgress = 1;
  notifyStatus(NSNumber::integer(kCTCallStatusDisconnected));
  expectCleared();

  // Straight after loading: nothing set yet at all.
  phoneNumber = nil;
  area = nil;
  notifyStatus(NSNumber::integer(0));
  expectCleared();
}

TEST_F(CallState, TwoResetsLeaveWhatOneLeaves) {
  ringing();
  notifyStatus(NSNumber::integer(kCTCallStatusAnswered));
  expectCleared();
  // The detached label is no longer the observer's business.
  msg<void(id)>(shown, "setText:", text("kept"));
  notifyStatus(NSNumber::integer(kCTCallStatusDisconnected));
  expectCleared();
  EXPECT_EQ(textOf(textOfLabel(shown)), "kept");
  EXPECT_EQ(subviewsOf(window).size(), 0u);
}

// ---- failures ------------------------------------------------------------

TEST_F(CallState, FailureWhileEmptyingTheLabelLeavesLabelAndArea) {
  ringing();
  label = text("not a label");  // setText: is not understood
  const id heldLabel = label;
  const id heldArea = area;
  EXPECT_NO_THROW(notifyStatus(NSNumber::integer(5)));
  EXPECT_EQ(callInProgress, 0);
  EXPECT_EQ(textOf(phoneNumber), "");
  EXPECT_EQ(label, heldLabel);
  EXPECT_EQ(area, heldArea);
}

TEST_F(CallState, FailureWhileRemovingTheLabelLeavesItEmptiedOnTheWindow) {
  ringing();
  id stuck = makeView("StuckLabel", CGRectMake(0, 458, 320, 22));
  msg<void(id)>(stuck, "setText:", text("London"));
  msg<void(id)>(window, "addSubview:", stuck);
  label = stuck;
  const id heldArea = area;
  EXPECT_NO_THROW(notifyStatus(NSNumber::integer(0)));
  EXPECT_EQ(callInProgress, 0);
  EXPECT_EQ(textOf(phoneNumber), "");
  EXPECT_EQ(textOf(textOfLabel(stuck)), "");  // emptied before the removal failed
  EXPECT_EQ(msg<id()>(stuck, "superview"), window);
  EXPECT_EQ(label, stuck);
  EXPECT_EQ(area, heldArea);
}

TEST_F(CallState, UserInfoOfTheWrongKindIsDropped) {
  ringing();
  const Snapshot before = snapshot();
  // Not a dictionary: reading the status fails before anything is written.
  EXPECT_NO_THROW(notify(kCTCallStatusChangeNotification, NSArray::make({NSNumber::integer(4)})));
  EXPECT_TRUE(unchanged(before));
  EXPECT_NO_THROW(notify(kCTCallStatusChangeNotification, text("kCTCallStatus=0")));
  EXPECT_TRUE(unchanged(before));
  // A status that is neither a number nor a text.
  EXPECT_NO_THROW(notifyStatus(NSArray::make({NSNumber::integer(0)})));
  EXPECT_TRUE(unchanged(before));
  EXPECT_NO_THROW(notifyStatus(NSDictionary::make({})));
  EXPECT_TRUE(unchanged(before));
  EXPECT_EQ(msg<id()>(shown, "superview"), window);
}

TEST_F(CallState, CallObjectThatIsNoCallChangesNothing) {
  phoneNumber = text("previous");
  const Snapshot before = snapshot();
  EXPECT_NO_THROW(notifyStatus(NSNumber::integer(4), text("+44 20 7946 0000")));
  EXPECT_TRUE(unchanged(before));
  EXPECT_EQ(callInProgress, 0);
}

TEST_F(CallState, CallWithoutANumberStoresNone) {
  phoneNumber = text("previous");
  notifyStatus(NSNumber::integer(4));  // no call object
  EXPECT_EQ(callInProgress, 1);
  EXPECT_EQ(phoneNumber, nil);

  phoneNumber = text("previous");
  callInProgress = 0;
  notifyStatus(NSNumber::integer(3), host::makeCall(nil));  // a call without an address
  EXPECT_EQ(callInProgress, 1);
  EXPECT_EQ(phoneNumber, nil);
}

TEST_F(CallState, OtherExceptionsAreNotSwallowed) {
  ringing();
  id failing = makeView("ForeignFailureLabel", CGRectMake(0, 458, 320, 22));
  msg<void(id)>(window, "addSubview:", failing);
  label = failing;
  const id heldArea = area;
  EXPECT_THROW(notifyStatus(NSNumber::integer(1)), std::runtime_error);
  EXPECT_EQ(callInProgress, 0);
  EXPECT_EQ(textOf(phoneNumber), "");
  EXPECT_EQ(label, failing);
  EXPECT_EQ(area, heldArea);
}

// ---- whole calls -------------------------------------------------------------

// The observer registered with the telephony centre as the library registers
// it, the alert window's hooked method called as the home screen calls it.
class WholeCall : public CallState {
 protected:
  void SetUp() override {
    CallState::SetUp();
    host::removeTelephonyObservers();
    CTTelephonyCenterAddObserver(CTTelephonyCenterGetDefault(), nullptr, &cb_telephony, nil,
                                 nullptr, CFNotificationSuspensionBehaviorDeliverImmediately);
    setPref("countryCode", "44");
    setPref("trunkPrefixx", "0");
    writeCodes("44", "4420|London\n44161|Manchester\n");
    window = makeView("SBAlertWindow", CGRectMake(0, 0, 320, 480));
    content = makeView("UIView", CGRectMake(0, 0, 320, 400));  // the host's own content
    msg<void(id)>(window, "addSubview:", content);
  }
  void TearDown() override { host::removeTelephonyObservers(); }

  void refresh() { msg<id(BOOL)>(window, "stackedAlertsIncludingActiveAlert:", true); }

  // The window's subviews other than the host's own content.
  std::vector<id> areaLabels() {
    std::vector<id> found;
    for (const id& view : subviewsOf(window)) {
      if (view != content) found.push_back(view);
    }
    return found;
  }

  id content;
};

TEST_F(WholeCall, OneAreaLabelWhileRingingNoneAfterwards) {
  id call = host::makeCall(text("020 7946 0000"));
  host::postCallStatus(call, kCTCallStatusIncoming);
  refresh();
  refresh();  // the home screen refreshes the alert
  std::vector<id> labels = areaLabels();
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0], label);
  EXPECT_EQ(textOf(textOfLabel(labels[0])), "London");
  // The same number looked up twice gives the same area.
  EXPECT_EQ(textOf(area), "London");

  const id last = label;
  host::postCallStatus(call, kCTCallStatusAnswered);
  EXPECT_TRUE(areaLabels().empty());
  EXPECT_EQ(subviewsOf(window).size(), 1u);
  EXPECT_EQ(textOf(textOfLabel(last)), "");
  expectCleared();

  // Refreshes after the call add nothing.
  refresh();
  EXPECT_TRUE(areaLabels().empty());
}

TEST_F(WholeCall, AnotherCallEndingTakesTheRingingCallsLabelToo) {
  host::postCallStatus(host::makeCall(text("+44 161 496 0000")), kCTCallStatusIncoming);
  refresh();
  ASSERT_EQ(areaLabels().size(), 1u);
  EXPECT_EQ(textOf(textOfLabel(label)), "Manchester");

  host::postCallStatus(host::makeCall(text("+1 212 555 0100")), kCTCallStatusDisconnected);
  EXPECT_TRUE(areaLabels().empty());
  expectCleared();

  // The next call starts from an empty area: nothing left of Manchester.
  host::postCallStatus(host::makeCall(text("0113 496 0000")), kCTCallStatusDialing);
  refresh();
  ASSERT_EQ(areaLabels().size(), 1u);
  EXPECT_EQ(textOf(textOfLabel(label)), "Area Unknown ");
  host::postCallStatus(host::makeCall(text("0113 496 0000")), kCTCallStatusDisconnected);
  EXPECT_TRUE(areaLabels().empty());
}

}  // namespace
