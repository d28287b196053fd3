// The area label on the call alert window, driven through the runtime the way
// the home screen drives it: an SBAlertWindow class with its own
// stackedAlertsIncludingActiveAlert:, hooked once for the whole program.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/runtime/substrate.h"
#include "host/ui/uikit.h"
#include "lookup/preference_keys.h"
#include "presentation/alert_label.h"
#include "state/ns_exception.h"
#include "state/state.h"
#include "support/lookup_fixture.h"

namespace {

using testing_support::LookupTest;
using testing_support::textOf;

id text(const char* utf8) {
  return NSString::fromUtf8(utf8);
}

std::vector<id> subviewsOf(const id& view) {
  return objectAs<NSArray>(msg<id()>(view, "subviews"))->items();
}

bool isLabel(const id& view) {
  return std::string(class_getName(object_getClass(view))) == "UILabel";
}

// ---- the host's window ---------------------------------------------------------

// What the host's own implementation was called with, and what it found on the
// window at that moment.
struct HostCall {
  id self;
  SEL selector;
  BOOL includingActiveAlert;
  size_t subviews;
  std::optional<std::string> topLabelText;
};
std::vector<HostCall> hostCalls;
bool hostRaises = false;

const id& hostResult() {
  static const id alerts = NSArray::make({text("the host's alerts")});
  return alerts;
}

id hostStackedAlerts(id self, SEL selector, BOOL includingActiveAlert) {
  std::vector<id> views = subviewsOf(self);
  std::optional<std::string> top;
  if (!views.empty() && isLabel(views.back())) top = textOf(msg<id()>(views.back(), "text"));
  hostCalls.push_back({self, selector, includingActiveAlert, views.size(), top});
  if (hostRaises) throw NSException(NSInvalidArgumentException, "the host's own failure");
  return hostResult();
}

// A window on which adding a subview fails the way a platform call does.
void addSubviewRaises(id, SEL, id) {
  throw NSException(NSInvalidArgumentException, "addSubview: failed");
}

void hookAlertWindowOnce() {
  static const bool hooked = [] {
    host::registerUIKitClasses();
    Class alertWindow = objc_registerClass("SBAlertWindow", objc_getClass("UIWindow"));
    class_addMethod(alertWindow, sel_registerName("stackedAlertsIncludingActiveAlert:"),
                    &hostStackedAlerts);
    MSHookMessageEx(alertWindow, sel_registerName("stackedAlertsIncludingActiveAlert:"),
                    &hook_SBAlertWindow_stackedAlerts, &orig_stackedAlerts);
    Class failing = objc_registerClass("FailingAlertWindow", alertWindow);
    class_addMethod(failing, sel_registerName("addSubview:"), &addSubviewRaises);
    return true;
  }();
  (void)hooked;
}

id makeView(CGRect frame, const char* className = "SBAlertWindow") {
  id made = msg<id()>(objc_getClass(className), "alloc");
  return msg<id(CGRect)>(made, "initWithFrame:", frame);
}

::testing::AssertionResult frameIs(const id& view, CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
  CGRect f = msg<CGRect()>(view, "frame");
  if (f.origin.x == x && f.origin.y == y && f.size.width == w && f.size.height == h) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "frame is (" << f.origin.x << ", " << f.origin.y << ", "
                                       << f.size.width << ", " << f.size.height << ")";
}

class AlertLabel : public LookupTest {
 protected:
  void SetUp() override {
    hookAlertWindowOnce();
    hostCalls.clear();
    hostRaises = false;
    setPref("countryCode", "44");
    setPref("trunkPrefixx", "0");
    writeCodes("44", "4420|London\n44161|Manchester\n");
    writeCodes("1", "1305|Miami\n");
    window = makeView(CGRectMake(0, 0, 320, 480));
  }
  void TearDown() override {
    hostCalls.clear();
    hostRaises = false;
  }

  // A call ringing from `number`, as the call-state observer leaves it.
  static void ringing(const char* number) {
    phoneNumber = text(number);
    callInProgress = 1;
  }

  id refresh(const id& on, BOOL includingActiveAlert = true) {
    return msg<id(BOOL)>(on, "stackedAlertsIncludingActiveAlert:", includingActiveAlert);
  }
  id refresh() { return refresh(window); }

  static std::optional<std::string> textOfLabel(const id& view) {
    return textOf(msg<id()>(view, "text"));
  }

  id window;
};

// ---- the label -------------------------------------------------------------------

TEST_F(AlertLabel, SitsAlongTheBottomWhateverTheBoundsOrigin) {
  ringing("020 7946 0000");
  for (CGPoint origin : {CGPoint{0, 0}, CGPoint{50, -30}, CGPoint{-7.5, 1000}}) {
    SCOPED_TRACE(testing::Message() << origin.x << ", " << origin.y);
    id w = makeView(CGRectMake(0, 0, 320, 480));
    msg<void(CGRect)>(w, "setBounds:", CGRectMake(origin.x, origin.y, 320, 480));
    refresh(w);
    ASSERT_NE(label, nil);
    EXPECT_TRUE(frameIs(label, 0, 458, 320, 22));
  }
  // Only the size counts, not the window's place on the screen.
  id moved = makeView(CGRectMake(12, 34, 375, 667.5));
  refresh(moved);
  EXPECT_TRUE(frameIs(label, 0, 645.5, 375, 22));
}

TEST_F(AlertLabel, WhiteCentredTextOnClearBackground) {
  ringing("020 7946 0000");
  refresh();
  ASSERT_NE(label, nil);
  EXPECT_TRUE(isLabel(label));
  Class colours = objc_getClass("UIColor");
  EXPECT_EQ(msg<id()>(label, "textColor"), msg<id()>(colours, "whiteColor"));
  EXPECT_EQ(msg<id()>(label, "backgroundColor"), msg<id()>(colours, "clearColor"));
  EXPECT_EQ(msg<NSInteger()>(label, "textAlignment"), NSTextAlignmentCenter);
  EXPECT_EQ(msg<id()>(label, "font"), nil);
  std::vector<id> views = subviewsOf(window);
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0], label);
  EXPECT_EQ(msg<id()>(label, "superview"), window);
}

TEST_F(AlertLabel, ShowsTheAreaFound) {
  for (const char* number : {"020 7946 0000", "+44 20 7946 0000", "(020) 7946-0000"}) {
    SCOPED_TRACE(number);
    area = nil;
    ringing(number);
    refresh();
    EXPECT_EQ(textOfLabel(label), "London");
    EXPECT_EQ(textOf(area), "London");
  }
}

TEST_F(AlertLabel, AreaUnknownWhenNothingIsFound) {
  struct Case {
    const char* number;  // nullptr: no number recorded
    id areaBefore;
  };
  for (const Case& c : {Case{"0113 496 0000", nil}, Case{"0113 496 0000", text("")},
                        Case{"+1 212 555 0100", nil}, Case{nullptr, nil}}) {
    SCOPED_TRACE(c.number ? c.number : "(none)");
    area = c.areaBefore;
    phoneNumber = c.number ? text(c.number) : nil;
    callInProgress = 1;
    refresh();
    EXPECT_EQ(textOfLabel(label), "Area Unknown ");
    EXPECT_EQ(textOf(area), "Area Unknown ");  // stays until the call ends
  }
}

TEST_F(AlertLabel, NoMatchShowsWhatAnEarlierLookupLeft) {
  area = text("Bristol");
  ringing("0113 496 0000");
  refresh();
  EXPECT_EQ(textOfLabel(label), "Bristol");
}

TEST_F(AlertLabel, NothingHappensUnlessACallIsInProgress) {
  setPref("recents", "3");  // a lookup would load it
  for (uint8_t flag : {uint8_t{0}, uint8_t{2}, uint8_t{255}}) {
    SCOPED_TRACE(int(flag));
    hostCalls.clear();
    phoneNumber = text("020 7946 0000");
    area = nil;
    label = nil;
    callInProgress = flag;
    EXPECT_EQ(refresh(), hostResult());
    EXPECT_EQ(area, nil);
    EXPECT_EQ(label, nil);
    EXPECT_TRUE(subviewsOf(window).empty());
    EXPECT_EQ(hostCalls.size(), 1u);
  }
  EXPECT_EQ(recentsToShow, 0);
}

// ---- the host's implementation ------------------------------------------------

TEST_F(AlertLabel, HostGetsTheSameArgumentsLastAndItsResultComesBack) {
  for (uint8_t flag : {uint8_t{0}, uint8_t{1}}) {
    for (BOOL including : {true, false}) {
      SCOPED_TRACE(testing::Message() << int(flag) << " " << including);
      hostCalls.clear();
      callInProgress = flag;
      phoneNumber = text("0161 496 0000");
      id w = makeView(CGRectMake(0, 0, 320, 480));
      EXPECT_EQ(refresh(w, including), hostResult());
      ASSERT_EQ(hostCalls.size(), 1u);
      EXPECT_EQ(hostCalls[0].self, w);
      EXPECT_EQ(hostCalls[0].selector, sel_registerName("stackedAlertsIncludingActiveAlert:"));
      EXPECT_EQ(hostCalls[0].includingActiveAlert, including);
      if (flag == 1) {
        // The label was up, with its text, before the host ran.
        EXPECT_EQ(hostCalls[0].subviews, 1u);
        EXPECT_EQ(hostCalls[0].topLabelText, "Manchester");
      } else {
        EXPECT_EQ(hostCalls[0].subviews, 0u);
      }
    }
  }
}

TEST_F(AlertLabel, FailureWhileAddingLeavesTheLabelAsFarAsItGot) {
  ringing("020 7946 0000");
  id failing = makeView(CGRectMake(0, 0, 320, 480), "FailingAlertWindow");
  EXPECT_EQ(refresh(failing), hostResult());
  EXPECT_EQ(hostCalls.size(), 1u);
  ASSERT_NE(label, nil);
  EXPECT_TRUE(frameIs(label, 0, 458, 320, 22));
  EXPECT_EQ(msg<NSInteger()>(label, "textAlignment"), NSTextAlignmentCenter);
  EXPECT_EQ(msg<id()>(label, "superview"), nil);
  EXPECT_EQ(msg<id()>(label, "text"), nil);
  EXPECT_EQ(textOf(area), "London");  // the lookup, before the failure, stays done
}

TEST_F(AlertLabel, FailureWhileSettingTheTextLeavesAnEmptyLabelOnTheWindow) {
  callInProgress = 1;
  phoneNumber = nil;
  area = NSNumber::integer(7);  // not a text: its length cannot be taken
  EXPECT_EQ(refresh(), hostResult());
  EXPECT_EQ(hostCalls.size(), 1u);
  std::vector<id> views = subviewsOf(window);
  ASSERT_EQ(views.size(), 1u);
  EXPECT_EQ(views[0], label);
  EXPECT_EQ(msg<id()>(label, "text"), nil);
}

TEST_F(AlertLabel, HostFailureReachesTheCaller) {
  ringing("020 7946 0000");
  hostRaises = true;
  EXPECT_THROW(refresh(), NSException);
  // The own work was done before the host ran.
  EXPECT_EQ(subviewsOf(window).size(), 1u);
  EXPECT_EQ(textOfLabel(label), "London");
}

// ---- one label per window ----------------------------------------------------------

TEST_F(AlertLabel, RefreshesReplaceTheLabel) {
  id content = makeView(CGRectMake(0, 0, 320, 400), "UIView");  // the host's own view
  msg<void(id)>(window, "addSubview:", content);
  ringing("020 7946 0000");
  refresh();
  const id first = label;
  refresh();
  ASSERT_NE(label, first);
  std::vector<id> views = subviewsOf(window);
  ASSERT_EQ(views.size(), 2u);
  EXPECT_EQ(views[0], content);
  EXPECT_EQ(views[1], label);
  EXPECT_EQ(textOfLabel(label), "London");
  EXPECT_EQ(msg<id()>(first, "superview"), nil);
  EXPECT_EQ(textOfLabel(first), "London");  // taken off, not otherwise changed
}

TEST_F(AlertLabel, LabelOfAnotherWindowIsTakenOff) {
  ringing("020 7946 0000");
  refresh();
  const id first = label;
  id other = makeView(CGRectMake(0, 0, 320, 480));
  refresh(other);
  EXPECT_TRUE(subviewsOf(window).empty());
  ASSERT_EQ(subviewsOf(other).size(), 1u);
  EXPECT_EQ(subviewsOf(other)[0], label);
  EXPECT_NE(label, first);
}

// ---- odd input ---------------------------------------------------------------------

TEST_F(AlertLabel, DegenerateWindowsAndNumbers) {
  ringing("020 7946 0000");
  id empty = makeView(CGRectMake(0, 0, 0, 0));
  EXPECT_EQ(refresh(empty), hostResult());
  EXPECT_TRUE(frameIs(label, 0, -22, 0, 22));
  id negative = makeView(CGRectMake(0, 0, -10, -40));
  EXPECT_EQ(refresh(negative), hostResult());
  EXPECT_TRUE(frameIs(label, 0, -62, -10, 22));
  EXPECT_EQ(textOfLabel(label), "London");

  for (const char* number : {"-", "()", "( ) - -", "+", "++", " "}) {
    SCOPED_TRACE(number);
    area = nil;
    ringing(number);
    EXPECT_EQ(refresh(), hostResult());
    EXPECT_EQ(textOfLabel(label), "Area Unknown ");
  }
}

}  // namespace
