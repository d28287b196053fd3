// ctor_hooks in a phone-application-like process: PHRecentsViewController is
// there, SpringBoard and SBAlertWindow are not. Its own program, since classes
// cannot be unregistered.
#include <gtest/gtest.h>

#include <vector>

#include "state/state.h"
#include "support/hook_fixture.h"
#include "support/lookup_fixture.h"
#include "tracking/load_time.h"

namespace {

using namespace testing_support;

std::vector<BOOL> appeared;
std::vector<id> displayedCells;

void hostViewDidAppear(id, SEL, BOOL animated) {
  appeared.push_back(animated);
}
void hostWillDisplayCell(id, SEL, id, id cell, id) {
  displayedCells.push_back(cell);
}

class PhoneHooks : public LookupTest {
 protected:
  void SetUp() override {
    static const bool loaded = [] {
      registerRecentsController(&hostViewDidAppear, &hostWillDisplayCell);
      ctor_hooks();
      return true;
    }();
    (void)loaded;
  }
};

// Guards against hooking absent classes, and against the Recents methods not
// being hooked (the list then runs the host's methods only) or losing the
// host's own methods.
TEST_F(PhoneHooks, OnlyTheRecentsMethodsAreHookedAndRun) {
  ASSERT_EQ(objc_getClass("SpringBoard"), nullptr);
  ASSERT_EQ(objc_getClass("SBAlertWindow"), nullptr);
  EXPECT_EQ(orig_applicationDidFinishLaunching, nullptr);
  EXPECT_EQ(orig_stackedAlerts, nullptr);
  EXPECT_EQ(orig_viewDidAppear, &hostViewDidAppear);
  EXPECT_EQ(orig_willDisplayCell, &hostWillDisplayCell);

  setPref("countryCode", "44");
  setPref("trunkPrefixx", "0");
  setPref("recents", "1");
  writeCodes("44", "4420|London\n");
  id controller = msg<id()>(objc_getClass("PHRecentsViewController"), "alloc");
  msg<void(BOOL)>(controller, "viewDidAppear:", true);
  EXPECT_EQ(appeared, std::vector<BOOL>{true});
  EXPECT_EQ(recentsToShow, 1);

  id cell = makeCell("020 7946 0000", "mobile");
  msg<void(id, id, id)>(controller,
                        "tableView:willDisplayCell:forRowAtIndexPath:", makeView("UIView"), cell,
                        indexPath(0));
  EXPECT_EQ(displayedCells, std::vector<id>{cell});
  EXPECT_EQ(labelText(kindLabel(cell)), "mobile: London");
}

}  // namespace
