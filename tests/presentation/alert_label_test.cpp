// The area label on the call alert window, driven as the home screen drives
// it: an SBAlertWindow with its own method, hooked once for the program.
#include <gtest/gtest.h>

#include <vector>

#include "host/foundation/values.h"
#include "host/runtime/substrate.h"
#include "presentation/alert_label.h"
#include "state/ns_exception.h"
#include "state/state.h"
#include "support/hook_fixture.h"
#include "support/lookup_fixture.h"

namespace {

using namespace testing_support;

// What the host's own implementation was called with, and what it found on
// the window then.
struct HostCall {
  id self;
  SEL selector;
  BOOL includingActiveAlert;
  std::vector<id> subviews;
};
std::vector<HostCall> hostCalls;
bool hostRaises = false;

const id& hostResult() {
  static const id alerts = NSArray::make({text("the host's alerts")});
  return alerts;
}

id hostStackedAlerts(id self, SEL selector, BOOL includingActiveAlert) {
  hostCalls.push_back({self, selector, includingActiveAlert, subviewsOf(self)});
  if (hostRaises) throw NSException(NSInvalidArgumentException, "the host's own failure");
  return hostResult();
}

void addSubviewRaises(id, SEL, id) {
  throw NSException(NSInvalidArgumentException, "addSubview: failed");
}

class AlertLabel : public LookupTest {
 protected:
  void SetUp() override {
    static const bool hooked = [] {
      Class window = hookAlertWindow(&hostStackedAlerts);
      class_addMethod(objc_registerClass("FailingAlertWindow", window),
                      sel_registerName("addSubview:"), &addSubviewRaises);
      return true;
    }();
    (void)hooked;
    hostCalls.clear();
    hostRaises = false;
    setPref("countryCode", "44");
    setPref("trunkPrefixx", "0");
    writeCodes("44", "4420|London\n");
    window = makeView("SBAlertWindow", CGRectMake(0, 0, 320, 480));
    phoneNumber = text("020 7946 0000");
    callInProgress = 1;
  }

  id refresh(const id& on, BOOL includingActiveAlert = true) {
    return msg<id(BOOL)>(on, "stackedAlertsIncludingActiveAlert:", includingActiveAlert);
  }

  id window;
};

// Guards against a wrong frame (the bounds origin or a swapped size used, a
// crash on a zero or negative size) and a wrong look of the label.
TEST_F(AlertLabel, WhiteCentredLabelAlongTheBottom) {
  struct Case {
    CGRect bounds, frame;
  };
  for (const Case& c : {Case{CGRectMake(0, 0, 320, 480), CGRectMake(0, 458, 320, 22)},
                        Case{CGRectMake(50, -30, 320, 480), CGRectMake(0, 458, 320, 22)},
                        Case{CGRectMake(-7.5, 1000, 320, 480), CGRectMake(0, 458, 320, 22)},
                        Case{CGRectMake(0, 0, 0, 0), CGRectMake(0, -22, 0, 22)},
                        Case{CGRectMake(0, 0, -10, -40), CGRectMake(0, -62, -10, 22)}}) {
    SCOPED_TRACE(testing::Message() << c.bounds.origin.x << ", " << c.bounds.origin.y << ", "
                                    << c.bounds.size.width << ", " << c.bounds.size.height);
    id w = makeView("SBAlertWindow", CGRectMake(0, 0, 320, 480));
    msg<void(CGRect)>(w, "setBounds:", c.bounds);
    EXPECT_EQ(refresh(w), hostResult());
    ASSERT_NE(label, nil);
    EXPECT_TRUE(frameIs(label, c.frame));
    EXPECT_EQ(subviewsOf(w), std::vector<id>{label});
    EXPECT_EQ(labelText(label), "London");
  }
  EXPECT_STREQ(class_getName(object_getClass(label)), "UILabel");
  Class colours = objc_getClass("UIColor");
  EXPECT_EQ(msg<id()>(label, "textColor"), msg<id()>(colours, "whiteColor"));
  EXPECT_EQ(msg<id()>(label, "backgroundColor"), msg<id()>(colours, "clearColor"));
  EXPECT_EQ(msg<NSInteger()>(label, "textAlignment"), NSTextAlignmentCenter);
}

// Guards against showing something other than the area found, against losing
// the trailing blank of "Area Unknown " or not keeping it in area, and against
// a crash on numbers of punctuation only.
TEST_F(AlertLabel, ShowsTheAreaOrAreaUnknown) {
  struct Case {
    const char* number;
    id areaBefore;
    const char* shown;
  };
  for (const Case& c :
       {Case{"+44 20 7946 0000", nil, "London"}, Case{"0113 496 0000", nil, "Area Unknown "},
        Case{"0113 496 0000", text(""), "Area Unknown "},
        Case{"0113 496 0000", text("Bristol"), "Bristol"}, Case{"()", nil, "Area Unknown "},
        Case{"+", nil, "Area Unknown "}, Case{"( ) - -", nil, "Area Unknown "}}) {
    SCOPED_TRACE(c.number);
    phoneNumber = text(c.number);
    area = c.areaBefore;
    EXPECT_EQ(refresh(window), hostResult());
    EXPECT_EQ(labelText(label), c.shown);
    EXPECT_EQ(textOf(area), c.shown);
  }
}

// Guards against doing any work unless callInProgress is exactly 1.
TEST_F(AlertLabel, NothingHappensUnlessACallIsInProgress) {
  setPref("recents", "3");  // a lookup would load it
  for (uint8_t flag : {uint8_t{0}, uint8_t{2}}) {
    SCOPED_TRACE(int(flag));
    callInProgress = flag;
    EXPECT_EQ(refresh(window), hostResult());
    EXPECT_EQ(area, nil);
    EXPECT_EQ(label, nil);
    EXPECT_TRUE(subviewsOf(window).empty());
  }
  EXPECT_EQ(hostCalls.size(), 2u);
  EXPECT_EQ(recentsToShow, 0);
}

// Guards against calling the host before the label is up, with other
// arguments, or not at all; against replacing its result; and against
// swallowing the host's own failure.
TEST_F(AlertLabel, HostRunsLastWithTheSameArgumentsAndItsResultComesBack) {
  for (uint8_t flag : {uint8_t{0}, uint8_t{1}}) {
    for (BOOL including : {true, false}) {
      SCOPED_TRACE(testing::Message() << int(flag) << " " << including);
      hostCalls.clear();
      callInProgress = flag;
      id w = makeView("SBAlertWindow", CGRectMake(0, 0, 320, 480));
      EXPECT_EQ(refresh(w, including), hostResult());
      ASSERT_EQ(hostCalls.size(), 1u);
      EXPECT_EQ(hostCalls[0].self, w);
      EXPECT_EQ(hostCalls[0].selector, sel_registerName("stackedAlertsIncludingActiveAlert:"));
      EXPECT_EQ(hostCalls[0].includingActiveAlert, including);
      EXPECT_EQ(hostCalls[0].subviews.size(), flag);  // the label was up before the host ran
    }
  }
  hostRaises = true;
  EXPECT_THROW(refresh(window), NSException);
}

// Guards against undoing or skipping the host after a platform failure in
// the middle of setting the label up.
TEST_F(AlertLabel, FailureMidSetupLeavesTheLabelAsFarAsItGot) {
  id failing = makeView("FailingAlertWindow", CGRectMake(0, 0, 320, 480));
  EXPECT_EQ(refresh(failing), hostResult());
  EXPECT_EQ(hostCalls.size(), 1u);
  ASSERT_NE(label, nil);
  EXPECT_TRUE(frameIs(label, CGRectMake(0, 458, 320, 22)));
  EXPECT_EQ(msg<NSInteger()>(label, "textAlignment"), NSTextAlignmentCenter);
  EXPECT_EQ(msg<id()>(label, "superview"), nil);
  EXPECT_EQ(msg<id()>(label, "text"), nil);
  EXPECT_EQ(textOf(area), "London");
}

// Guards against labels piling up when the home screen refreshes the alert.
TEST_F(AlertLabel, OneLabelAcrossRefreshes) {
  id content = makeView("UIView", CGRectMake(0, 0, 320, 400));  // the host's own view
  msg<void(id)>(window, "addSubview:", content);
  refresh(window);
  const id first = label;
  refresh(window);
  EXPECT_NE(label, first);
  EXPECT_EQ(subviewsOf(window), (std::vector<id>{content, label}));
  EXPECT_EQ(labelText(label), "London");
  EXPECT_EQ(msg<id()>(first, "superview"), nil);
}

}  // namespace
