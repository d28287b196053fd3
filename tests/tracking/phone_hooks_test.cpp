// ctor_hooks in a phone-application-like process: PHRecentsViewController is
// there, SpringBoard and SBAlertWindow are not. Its own program, since classes
// cannot be unregistered.
#include <gtest/gtest.h>

#include <vector>

#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/ui/uikit.h"
#include "state/state.h"
#include "support/lookup_fixture.h"
#include "tracking/load_time.h"

namespace {

using testing_support::LookupTest;
using testing_support::textOf;

std::vector<BOOL> appeared;
std::vector<id> displayedCells;

void hostViewDidAppear(id, SEL, BOOL animated) {
  appeared.push_back(animated);
}
void hostWillDisplayCell(id, SEL, id, id cell, id) {
  displayedCells.push_back(cell);
}

void loadIntoPhoneApplication() {
  static const bool loaded = [] {
    host::registerUIKitClasses();
    Class controller = objc_registerClass("PHRecentsViewController", NSObjectClass());
    class_addMethod(controller, sel_registerName("viewDidAppear:"), &hostViewDidAppear);
    class_addMethod(controller, sel_registerName("tableView:willDisplayCell:forRowAtIndexPath:"),
                    &hostWillDisplayCell);
    Class cell = objc_registerClass("PHRecentCallCell", objc_getClass("UIView"));
    class_addIvar(cell, "_callerNameLabel");
    class_addIvar(cell, "_callerLabelLabel");
    ctor_hooks();
    return true;
  }();
  (void)loaded;
}

id make(const char* className) {
  return msg<id(CGRect)>(msg<id()>(objc_getClass(className), "alloc"),
                         "initWithFrame:", CGRectMake(0, 0, 320, 44));
}

class PhoneHooks : public LookupTest {
 protected:
  void SetUp() override {
    loadIntoPhoneApplication();
    appeared.clear();
    displayedCells.clear();
  }
  void TearDown() override {
    appeared.clear();
    displayedCells.clear();
  }
};

TEST_F(PhoneHooks, OnlyTheRecentsMethodsAreHooked) {
  ASSERT_EQ(objc_getClass("SpringBoard"), nullptr);
  ASSERT_EQ(objc_getClass("SBAlertWindow"), nullptr);
  EXPECT_EQ(orig_applicationDidFinishLaunching, nullptr);
  EXPECT_EQ(orig_stackedAlerts, nullptr);
  EXPECT_EQ(orig_viewDidAppear, &hostViewDidAppear);
  EXPECT_EQ(orig_willDisplayCell, &hostWillDisplayCell);
}

TEST_F(PhoneHooks, TheRecentsListRunsTheReplacements) {
  setPref("countryCode", "44");
  setPref("trunkPrefixx", "0");
  setPref("recents", "1");
  writeCodes("44", "4420|London\n");
  id controller = msg<id()>(objc_getClass("PHRecentsViewController"), "alloc");

  msg<void(BOOL)>(controller, "viewDidAppear:", true);
  EXPECT_EQ(appeared, std::vector<BOOL>{true});
  EXPECT_EQ(recentsToShow, 1);

  id cell = make("PHRecentCallCell");
  id name = make("UILabel");
  id kind = make("UILabel");
  msg<void(id)>(name, "setText:", NSString::fromUtf8("020 7946 0000"));
  msg<void(id)>(kind, "setText:", NSString::fromUtf8("mobile"));
  object_setIvar(cell, class_getInstanceVariable(object_getClass(cell), "_callerNameLabel"), name);
  object_setIvar(cell, class_getInstanceVariable(object_getClass(cell), "_callerLabelLabel"), kind);
  id path = msg<id(NSInteger, NSInteger)>(objc_getClass("NSIndexPath"),
                                          "indexPathForRow:inSection:", 0, 0);
  msg<void(id, id, id)>(controller, "tableView:willDisplayCell:forRowAtIndexPath:", make("UIView"),
                        cell, path);
  ASSERT_EQ(displayedCells.size(), 1u);
  EXPECT_EQ(displayedCells[0], cell);
  EXPECT_EQ(textOf(msg<id()>(kind, "text")), "mobile: London");
}

}  // namespace
