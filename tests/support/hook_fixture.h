// Host classes, views and cells shared by the tests of the hooks: building the
// objects the home screen and the phone application hand to the library.
#pragma once

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "host/foundation/object.h"
#include "host/runtime/objc.h"
#include "host/ui/uikit.h"

namespace testing_support {

id text(const char* utf8);

// A new view of `className`, set up with initWithFrame:.
id makeView(const char* className, CGRect frame = CGRectMake(0, 0, 320, 44));
std::vector<id> subviewsOf(const id& view);
// The text of a label, as textOf gives it.
std::optional<std::string> labelText(const id& label);
::testing::AssertionResult frameIs(const id& view, CGRect expected);

// Registers the UI classes and an SBAlertWindow (a UIWindow) whose own
// stackedAlertsIncludingActiveAlert: is `host`. Call once per program.
Class registerAlertWindow(id (*host)(id, SEL, BOOL));
// The same, with the library's alert-window replacement hooked over `host`.
Class hookAlertWindow(id (*host)(id, SEL, BOOL));

// Registers a PHRecentsViewController with the two host methods, and the
// host's cell class PHRecentCallCell with its two label variables. Call once
// per program.
Class registerRecentsController(void (*viewDidAppear)(id, SEL, BOOL),
                                void (*willDisplayCell)(id, SEL, id, id, id));

Ivar ivarOf(const id& object, const char* name);
id indexPath(NSInteger row, NSInteger section = 0);
// A PHRecentCallCell as the host sets it up: a UILabel with the caller's
// number and a `kindClass` label with the kind of number (nullptr: nil text).
id makeCell(const char* number, const char* kind, const char* kindClass = "UILabel");
// The cell's _callerLabelLabel.
id kindLabel(const id& cell);

}  // namespace testing_support
