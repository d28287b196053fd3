// The Recents annotation, driven through the runtime the way the phone
// application drives it: a PHRecentsViewController class with its own
// viewDidAppear: and tableView:willDisplayCell:forRowAtIndexPath:, hooked once
// for the whole program, and cells that keep their two labels in the
// instance variables the host's cells have.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/runtime/substrate.h"
#include "host/ui/uikit.h"
#include "presentation/recents.h"
#include "state/ns_exception.h"
#include "state/state.h"
#include "support/lookup_fixture.h"

namespace {

using testing_support::LookupTest;
using testing_support::textOf;

id text(const char* utf8) {
  return NSString::fromUtf8(utf8);
}

// ---- the host's classes ------------------------------------------------------

struct Appeared {
  id self;
  SEL selector;
  BOOL animated;
  int32_t recentsSeen;
};
std::vector<Appeared> appearances;

struct Displayed {
  id self;
  SEL selector;
  id tableView;
  id cell;
  id indexPath;
  id phoneNumberSeen;
};
std::vector<Displayed> displays;

bool hostRaises = false;

void hostViewDidAppear(id self, SEL selector, BOOL animated) {
  appearances.push_back({self, selector, animated, recentsToShow});
  if (hostRaises) throw NSException(NSInvalidArgumentException, "the host's own failure");
}

void hostWillDisplayCell(id self, SEL selector, id tableView, id cell, id indexPath) {
  displays.push_back({self, selector, tableView, cell, indexPath, phoneNumber});
  if (hostRaises) throw NSException(NSInvalidArgumentException, "the host's own failure");
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
    host::registerUIKitClasses();
    Class view = objc_getClass("UIView");

    Class controller = objc_registerClass("PHRecentsViewController", NSObjectClass());
    class_addMethod(controller, sel_registerName("viewDidAppear:"), &hostViewDidAppear);
    class_addMethod(controller, sel_registerName("tableView:willDisplayCell:forRowAtIndexPath:"),
                    &hostWillDisplayCell);
    MSHookMessageEx(controller, sel_registerName("viewDidAppear:"), &hook_Recents_viewDidAppear,
                    &orig_viewDidAppear);
    MSHookMessageEx(controller, sel_registerName("tableView:willDisplayCell:forRowAtIndexPath:"),
                    &hook_Recents_willDisplayCell, &orig_willDisplayCell);

    Class counting = objc_registerClass("CountingLabel", objc_getClass("UILabel"));
    MSHookMessageEx(counting, sel_registerName("setText:"), &countingSetText, &labelSetText);

    Class cell = objc_registerClass("PHRecentCallCell", view);
    class_addIvar(cell, "_callerNameLabel");
    class_addIvar(cell, "_callerLabelLabel");
    Class kindOnly = objc_registerClass("KindOnlyCell", view);
    class_addIvar(kindOnly, "_callerLabelLabel");
    objc_registerClass("PlainCell", view);
    return true;
  }();
  (void)registered;
}

id makeView(const char* className) {
  id made = msg<id()>(objc_getClass(className), "alloc");
  return msg<id(CGRect)>(made, "initWithFrame:", CGRectMake(0, 0, 320, 44));
}

Ivar ivarOf(const id& object, const char* name) {
  return class_getInstanceVariable(object_getClass(object), name);
}

id indexPath(NSInteger row, NSInteger section = 0) {
  return msg<id(NSInteger, NSInteger)>(objc_getClass("NSIndexPath"),
                                       "indexPathForRow:inSection:", row, section);
}

class Recents : public LookupTest {
 protected:
  void SetUp() override {
    registerHostClassesOnce();
    appearances.clear();
    displays.clear();
    textsSet.clear();
    hostRaises = false;
    setPref("countryCode", "44");
    setPref("trunkPrefixx", "0");
    writeCodes("44", "4420|London\n44161|Manchester\n");
    controller = msg<id()>(objc_getClass("PHRecentsViewController"), "alloc");
    tableView = makeView("UIView");
  }
  void TearDown() override {
    appearances.clear();
    displays.clear();
    textsSet.clear();
    hostRaises = false;
  }

  // A cell as the host sets it up: the caller's number, and the kind of
  // number in the second label (nullptr: no text at all).
  id makeCell(const char* number, const char* kind) {
    id cell = makeView("PHRecentCallCell");
    id name = makeView("UILabel");
    id second = makeView("CountingLabel");
    msg<void(id)>(name, "setText:", number ? text(number) : nil);
    msg<void(id)>(second, "setText:", kind ? text(kind) : nil);
    msg<void(id)>(cell, "addSubview:", name);
    msg<void(id)>(cell, "addSubview:", second);
    object_setIvar(cell, ivarOf(cell, "_callerNameLabel"), name);
    object_setIvar(cell, ivarOf(cell, "_callerLabelLabel"), second);
    textsSet.clear();
    return cell;
  }

  static id secondLabel(const id& cell) {
    return object_getIvar(cell, ivarOf(cell, "_callerLabelLabel"));
  }
  static std::optional<std::string> secondText(const id& cell) {
    return textOf(msg<id()>(secondLabel(cell), "text"));
  }

  void display(const id& cell, const id& path) {
    msg<void(id, id, id)>(controller, "tableView:willDisplayCell:forRowAtIndexPath:", tableView,
                          cell, path);
  }
  void display(const id& cell, NSInteger row = 0, NSInteger section = 0) {
    display(cell, indexPath(row, section));
  }

  // The count as the settings editor stores it and as the list last loaded it.
  void showRecents(int32_t count) {
    setPref("recents", NSNumber::integer(count));
    recentsToShow = count;
  }

  // After every row that completes: nothing left over for the next one.
  static ::testing::AssertionResult rowFinished() {
    if (textOf(phoneNumber) != "" || textOf(area) != "") {
      return ::testing::AssertionFailure()
             << "phoneNumber " << textOf(phoneNumber).value_or("(nil)") << ", area "
             << textOf(area).value_or("(nil)");
    }
    return ::testing::AssertionSuccess();
  }

  id controller;
  id tableView;
};

// ---- which rows --------------------------------------------------------------------

TEST_F(Recents, NoRowIsAnnotatedWithoutAPositiveCount) {
  for (int32_t count : {0, -1, INT32_MIN}) {
    SCOPED_TRACE(count);
    showRecents(count);
    for (NSInteger row = 0; row < 3; ++row) {
      id cell = makeCell("020 7946 0000", "mobile");
      phoneNumber = text("left over");
      area = text("left over");
      display(cell, row);
      EXPECT_EQ(secondText(cell), "mobile");
      EXPECT_TRUE(textsSet.empty());
      EXPECT_TRUE(rowFinished());
    }
  }
}

TEST_F(Recents, TheFirstRowsOfEverySectionAreAnnotated) {
  showRecents(3);
  const char* numbers[] = {"020 7946 0000", "0161 496 0000", "+44 20 7946 0001", "020 7946 0002"};
  const char* expected[] = {"mobile: London", "mobile: Manchester", "mobile: London", "mobile"};
  for (NSInteger section : {0, 1}) {
    for (NSInteger row = 0; row < 4; ++row) {
      SCOPED_TRACE(testing::Message() << "section " << section << " row " << row);
      id cell = makeCell(numbers[row], "mobile");
      display(cell, row, section);
      EXPECT_EQ(secondText(cell), expected[row]);
      EXPECT_TRUE(rowFinished());
    }
  }
  id far = makeCell("020 7946 0000", "home");
  display(far, 100000);
  EXPECT_EQ(secondText(far), "home");
  EXPECT_EQ(recentsToShow, 3);
}

TEST_F(Recents, EachLookupReloadsTheCount) {
  // The list loaded 3, the settings now say 1: the first lookup loads 1.
  setPref("recents", "1");
  recentsToShow = 3;
  id first = makeCell("020 7946 0000", "mobile");
  display(first, 0);
  EXPECT_EQ(secondText(first), "mobile: London");
  id second = makeCell("020 7946 0000", "mobile");
  display(second, 1);
  EXPECT_EQ(secondText(second), "mobile");
}

// ---- the list comes on screen ---------------------------------------------------------

TEST_F(Recents, ViewDidAppearRunsTheHostThenReloadsTheCount) {
  for (BOOL animated : {true, false}) {
    appearances.clear();
    recentsToShow = 0;
    setPref("recents", animated ? "4" : "2");
    msg<void(BOOL)>(controller, "viewDidAppear:", animated);
    ASSERT_EQ(appearances.size(), 1u);
    EXPECT_EQ(appearances[0].self, controller);
    EXPECT_EQ(appearances[0].selector, sel_registerName("viewDidAppear:"));
    EXPECT_EQ(appearances[0].animated, animated);
    EXPECT_EQ(appearances[0].recentsSeen, 0);
    EXPECT_EQ(recentsToShow, animated ? 4 : 2);
  }
}

TEST_F(Recents, ViewDidAppearFailures) {
  // A count of the wrong kind: dropped, the count stays.
  setPref("recents", NSArray::make({NSNumber::integer(5)}));
  recentsToShow = 2;
  EXPECT_NO_THROW(msg<void(BOOL)>(controller, "viewDidAppear:", true));
  EXPECT_EQ(recentsToShow, 2);

  // The host's own failure reaches the caller, and nothing is reloaded.
  setPref("recents", "6");
  hostRaises = true;
  EXPECT_THROW(msg<void(BOOL)>(controller, "viewDidAppear:", true), NSException);
  EXPECT_EQ(recentsToShow, 2);
}

// ---- the annotation ----------------------------------------------------------------------

TEST_F(Recents, AreaIsAppendedInTwoSteps) {
  showRecents(1);
  id cell = makeCell("020 7946 0000", "mobile");
  display(cell);
  EXPECT_EQ(secondText(cell), "mobile: London");
  EXPECT_EQ(textsSet, (std::vector<std::optional<std::string>>{"mobile: ", "mobile: London"}));
  // The caller's number itself is not touched.
  EXPECT_EQ(textOf(msg<id()>(object_getIvar(cell, ivarOf(cell, "_callerNameLabel")), "text")),
            "020 7946 0000");
}

TEST_F(Recents, EmptySecondTextGetsTheSeparatorToo) {
  showRecents(1);
  id cell = makeCell("0161 496 0000", "");
  display(cell);
  EXPECT_EQ(secondText(cell), ": Manchester");
  EXPECT_EQ(textsSet, (std::vector<std::optional<std::string>>{": ", ": Manchester"}));
}

TEST_F(Recents, AbsentSecondTextStaysAbsent) {
  showRecents(1);
  id cell = makeCell("020 7946 0000", nullptr);
  display(cell);
  EXPECT_EQ(msg<id()>(secondLabel(cell), "text"), nil);
  EXPECT_TRUE(rowFinished());
}

TEST_F(Recents, NoAreaLeavesTheLabelAlone) {
  showRecents(2);
  for (const char* number : std::vector<const char*>{"0113 496 0000", "", nullptr, "()-"}) {
    SCOPED_TRACE(number ? number : "(nil)");
    id cell = makeCell(number, "work");
    display(cell);
    EXPECT_EQ(secondText(cell), "work");
    EXPECT_TRUE(textsSet.empty());
    EXPECT_TRUE(rowFinished());
  }
}

TEST_F(Recents, ARowShownAgainIsNotAnnotatedTwice) {
  showRecents(1);
  id cell = makeCell("020 7946 0000", "mobile");
  display(cell);
  display(cell);
  EXPECT_EQ(secondText(cell), "mobile: London");
  EXPECT_EQ(textsSet.size(), 2u);
  EXPECT_TRUE(rowFinished());

  // Set up anew by the host, it is annotated anew.
  msg<void(id)>(secondLabel(cell), "setText:", text("mobile"));
  display(cell);
  EXPECT_EQ(secondText(cell), "mobile: London");

  // A cell reused for another caller shows that caller's area after the old one.
  msg<void(id)>(object_getIvar(cell, ivarOf(cell, "_callerNameLabel")),
                "setText:", text("0161 496 0000"));
  display(cell);
  EXPECT_EQ(secondText(cell), "mobile: London: Manchester");

  // Ending with the area alone is not an earlier annotation.
  id greater = makeCell("020 7946 0000", "Greater London");
  display(greater);
  EXPECT_EQ(secondText(greater), "Greater London: London");
}

// ---- failures and odd cells -------------------------------------------------------------

TEST_F(Recents, FailureLeavesNumberAndAreaAsTheyWere) {
  showRecents(1);
  // The name variable holds a text, not a label: reading its text fails at once.
  id cell = makeCell("020 7946 0000", "mobile");
  object_setIvar(cell, ivarOf(cell, "_callerNameLabel"), text("020 7946 0000"));
  phoneNumber = text("earlier number");
  area = text("earlier area");
  const id numberBefore = phoneNumber;
  const id areaBefore = area;
  EXPECT_NO_THROW(display(cell));
  EXPECT_EQ(phoneNumber, numberBefore);
  EXPECT_EQ(area, areaBefore);
  EXPECT_EQ(secondText(cell), "mobile");

  // The second variable holds a text: the lookup is done, the row is not.
  id other = makeCell("020 7946 0000", "mobile");
  object_setIvar(other, ivarOf(other, "_callerLabelLabel"), text("mobile"));
  EXPECT_NO_THROW(display(other));
  EXPECT_EQ(textOf(phoneNumber), "020 7946 0000");  // as the row gave it
  EXPECT_EQ(textOf(area), "London");

  // The next completed row clears them.
  display(makeCell("0113 496 0000", "home"));
  EXPECT_TRUE(rowFinished());
}

TEST_F(Recents, CellsWithoutTheVariablesAreLeftAlone) {
  showRecents(1);
  for (const char* className : {"PlainCell", "KindOnlyCell"}) {
    SCOPED_TRACE(className);
    id cell = makeView(className);
    id second = makeView("CountingLabel");
    msg<void(id)>(second, "setText:", text("mobile"));
    msg<void(id)>(cell, "addSubview:", second);
    if (Ivar kind = ivarOf(cell, "_callerLabelLabel")) object_setIvar(cell, kind, second);
    textsSet.clear();
    phoneNumber = text("left over");
    area = text("London");
    EXPECT_NO_THROW(display(cell));
    ASSERT_FALSE(displays.empty());
    EXPECT_EQ(displays.back().cell, cell);
    EXPECT_EQ(textOf(msg<id()>(second, "text")), "mobile");
    EXPECT_TRUE(textsSet.empty());
    EXPECT_TRUE(rowFinished());
  }
}

// ---- the host's implementation ----------------------------------------------------------

TEST_F(Recents, HostDisplaysTheCellFirstWithTheSameArguments) {
  showRecents(1);
  id cell = makeCell("020 7946 0000", "mobile");
  id path = indexPath(0, 2);
  phoneNumber = text("before");
  display(cell, path);
  ASSERT_EQ(displays.size(), 1u);
  const Displayed& d = displays[0];
  EXPECT_EQ(d.self, controller);
  EXPECT_EQ(d.selector, sel_registerName("tableView:willDisplayCell:forRowAtIndexPath:"));
  EXPECT_EQ(d.tableView, tableView);
  EXPECT_EQ(d.cell, cell);
  EXPECT_EQ(d.indexPath, path);
  EXPECT_EQ(textOf(d.phoneNumberSeen), "before");  // the row's work had not begun
  EXPECT_EQ(secondText(cell), "mobile: London");

  // Rows past the count reach the host all the same.
  display(cell, 5);
  EXPECT_EQ(displays.size(), 2u);
}

TEST_F(Recents, HostFailureReachesTheCallerBeforeAnyAnnotation) {
  showRecents(1);
  id cell = makeCell("020 7946 0000", "mobile");
  phoneNumber = text("before");
  hostRaises = true;
  EXPECT_THROW(display(cell), NSException);
  EXPECT_EQ(secondText(cell), "mobile");
  EXPECT_EQ(textOf(phoneNumber), "before");
}

}  // namespace
