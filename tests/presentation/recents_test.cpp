// The Recents annotation, driven as the phone application drives it: a
// PHRecentsViewController with its own methods, hooked once for the program.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/foundation/values.h"
#include "host/runtime/substrate.h"
#include "presentation/recents.h"
#include "state/ns_exception.h"
#include "state/state.h"
#include "support/hook_fixture.h"
#include "support/lookup_fixture.h"

namespace {

using namespace testing_support;

// What the host's methods were called with, and the state they found.
struct HostCall {
  SEL selector;
  std::vector<id> objects;  // the receiver and the object arguments
  BOOL animated;
  int32_t recentsSeen;
  id phoneNumberSeen;
};
std::vector<HostCall> hostCalls;

void hostViewDidAppear(id self, SEL selector, BOOL animated) {
  hostCalls.push_back({selector, {self}, animated, recentsToShow, phoneNumber});
}
void hostWillDisplayCell(id self, SEL selector, id tableView, id cell, id indexPath) {
  hostCalls.push_back(
      {selector, {self, tableView, cell, indexPath}, false, recentsToShow, phoneNumber});
}

// Every setText: that reaches a CountingLabel, in order.
std::vector<std::optional<std::string>> textsSet;
void (*labelSetText)(id, SEL, id) = nullptr;
void countingSetText(id self, SEL selector, id newText) {
  textsSet.push_back(textOf(newText));
  labelSetText(self, selector, newText);
}

void registerHostClassesOnce() {
  static const bool registered = [] {
    Class controller = registerRecentsController(&hostViewDidAppear, &hostWillDisplayCell);
    MSHookMessageEx(controller, sel_registerName("viewDidAppear:"), &hook_Recents_viewDidAppear,
                    &orig_viewDidAppear);
    MSHookMessageEx(controller, sel_registerName("tableView:willDisplayCell:forRowAtIndexPath:"),
                    &hook_Recents_willDisplayCell, &orig_willDisplayCell);
    Class counting = objc_registerClass("CountingLabel", objc_getClass("UILabel"));
    MSHookMessageEx(counting, sel_registerName("setText:"), &countingSetText, &labelSetText);
    Class view = objc_getClass("UIView");
    class_addIvar(objc_registerClass("KindOnlyCell", view), "_callerLabelLabel");
    objc_registerClass("PlainCell", view);
    return true;
  }();
  (void)registered;
}

class Recents : public LookupTest {
 protected:
  void SetUp() override {
    registerHostClassesOnce();
    hostCalls.clear();
    setPref("countryCode", "44");
    setPref("trunkPrefixx", "0");
    writeCodes("44", "4420|London\n44161|Manchester\n");
    controller = msg<id()>(objc_getClass("PHRecentsViewController"), "alloc");
    tableView = makeView("UIView");
    showRecents(1);
  }

  // A cell whose kind label counts its setText: calls from now on.
  static id cell(const char* number, const char* kind) {
    id made = makeCell(number, kind, "CountingLabel");
    textsSet.clear();
    return made;
  }

  void display(const id& cell, const id& path = indexPath(0)) {
    msg<void(id, id, id)>(controller, "tableView:willDisplayCell:forRowAtIndexPath:", tableView,
                          cell, path);
  }

  // The count as the settings hold it and as the list last loaded it.
  void showRecents(int32_t count) {
    setPref("recents", NSNumber::integer(count));
    recentsToShow = count;
  }

  // After every row that completes: nothing left over for the next one.
  static ::testing::AssertionResult rowFinished() {
    if (textOf(phoneNumber) == "" && textOf(area) == "") return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "phoneNumber " << textOf(phoneNumber).value_or("(nil)")
                                         << ", area " << textOf(area).value_or("(nil)");
  }

  id controller, tableView;
};

// Guards against annotating rows at or past the count (or any row for a count
// of 0 or below), against looking at the section, and against leaving the
// row's number or area behind.
TEST_F(Recents, OnlyRowsBelowTheCountAreAnnotatedInAnySection) {
  for (int32_t count : {0, -1, 3}) {
    showRecents(count);
    for (NSInteger section : {0, 1}) {
      for (NSInteger row = 0; row < 4; ++row) {
        SCOPED_TRACE(testing::Message() << count << " section " << section << " row " << row);
        id c = cell(row == 1 ? "0161 496 0000" : "020 7946 0000", "mobile");
        phoneNumber = text("left over");
        area = text("left over");
        display(c, indexPath(row, section));
        const char* expected = row == 1 ? "mobile: Manchester" : "mobile: London";
        EXPECT_EQ(labelText(kindLabel(c)), row < count ? expected : "mobile");
        EXPECT_TRUE(rowFinished());
      }
    }
  }
}

// Guards against reloading the count before the host's method, or not at all,
// and against changing the host's arguments.
TEST_F(Recents, ViewDidAppearRunsTheHostThenReloadsTheCount) {
  recentsToShow = 0;
  setPref("recents", "4");
  msg<void(BOOL)>(controller, "viewDidAppear:", false);
  ASSERT_EQ(hostCalls.size(), 1u);
  EXPECT_EQ(hostCalls[0].selector, sel_registerName("viewDidAppear:"));
  EXPECT_EQ(hostCalls[0].objects, std::vector<id>{controller});
  EXPECT_EQ(hostCalls[0].animated, false);
  EXPECT_EQ(hostCalls[0].recentsSeen, 0);
  EXPECT_EQ(recentsToShow, 4);
}

// Guards against a wrong joining of text and area: other than two setText:
// calls ("T: " then "T: A"), a missing separator for an empty text, a nil
// text not left nil, touching the label when no area is found, and annotating
// again a row shown twice (only ": A" at the end counts as done).
TEST_F(Recents, AppendsSeparatorAndAreaOnce) {
  struct Case {
    const char* number;
    const char* kind;  // nullptr: nil text
    std::optional<std::string> shown;
    std::vector<std::optional<std::string>> texts;  // all setText: calls of both displays
  };
  for (const Case& c :
       {Case{"020 7946 0000", "mobile", "mobile: London", {"mobile: ", "mobile: London"}},
        Case{"020 7946 0000", "", ": London", {": ", ": London"}},
        Case{"020 7946 0000", "London", "London: London", {"London: ", "London: London"}},
        Case{"020 7946 0000", nullptr, std::nullopt, {}}, Case{"0113 496 0000", "work", "work", {}},
        Case{"()-", "work", "work", {}}}) {
    SCOPED_TRACE(testing::Message() << c.number << " / " << (c.kind ? c.kind : "(nil)"));
    id row = cell(c.number, c.kind);
    display(row);
    display(row);
    EXPECT_EQ(labelText(kindLabel(row)), c.shown);
    if (c.kind) {
      EXPECT_EQ(textsSet, c.texts);
    }
    EXPECT_TRUE(rowFinished());
  }
}

// Guards against clearing number and area after a platform failure mid-row.
TEST_F(Recents, FailureLeavesNumberAndAreaAsTheyWere) {
  id row = cell("020 7946 0000", "mobile");
  object_setIvar(row, ivarOf(row, "_callerNameLabel"), text("a text, not a label"));
  phoneNumber = text("earlier number");
  area = text("earlier area");
  EXPECT_NO_THROW(display(row));
  EXPECT_EQ(textOf(phoneNumber), "earlier number");
  EXPECT_EQ(textOf(area), "earlier area");
  EXPECT_EQ(labelText(kindLabel(row)), "mobile");
}

// Guards against reaching into cells whose class lacks either variable.
TEST_F(Recents, CellsWithoutTheVariablesAreLeftAlone) {
  for (const char* className : {"PlainCell", "KindOnlyCell"}) {
    SCOPED_TRACE(className);
    id row = makeView(className);
    id second = makeView("CountingLabel");
    msg<void(id)>(second, "setText:", text("mobile"));
    if (Ivar kind = ivarOf(row, "_callerLabelLabel")) object_setIvar(row, kind, second);
    textsSet.clear();
    area = text("London");
    EXPECT_NO_THROW(display(row));
    EXPECT_EQ(labelText(second), "mobile");
    EXPECT_TRUE(textsSet.empty());
    EXPECT_TRUE(rowFinished());
  }
}

// Guards against annotating before the host has set the cell up, and against
// changing or dropping any of the host's five arguments.
TEST_F(Recents, HostDisplaysTheCellFirstWithTheSameArguments) {
  id row = cell("020 7946 0000", "mobile");
  id path = indexPath(0, 2);
  phoneNumber = text("before");
  display(row, path);
  ASSERT_EQ(hostCalls.size(), 1u);
  EXPECT_EQ(hostCalls[0].selector,
            sel_registerName("tableView:willDisplayCell:forRowAtIndexPath:"));
  EXPECT_EQ(hostCalls[0].objects, (std::vector<id>{controller, tableView, row, path}));
  EXPECT_EQ(textOf(hostCalls[0].phoneNumberSeen), "before");
  EXPECT_EQ(labelText(kindLabel(row)), "mobile: London");
}

}  // namespace
