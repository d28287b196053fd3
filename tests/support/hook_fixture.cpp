#include "support/hook_fixture.h"

#include "host/foundation/values.h"
#include "host/runtime/substrate.h"
#include "presentation/alert_label.h"
#include "state/state.h"
#include "support/lookup_fixture.h"

namespace testing_support {

id text(const char* utf8) {
  return NSString::fromUtf8(utf8);
}

id makeView(const char* className, CGRect frame) {
  return msg<id(CGRect)>(msg<id()>(objc_getClass(className), "alloc"), "initWithFrame:", frame);
}

std::vector<id> subviewsOf(const id& view) {
  return objectAs<NSArray>(msg<id()>(view, "subviews"))->items();
}

std::optional<std::string> labelText(const id& label) {
  return textOf(msg<id()>(label, "text"));
}

::testing::AssertionResult frameIs(const id& view, CGRect e) {
  const CGRect f = msg<CGRect()>(view, "frame");
  if (f.origin.x == e.origin.x && f.origin.y == e.origin.y && f.size.width == e.size.width &&
      f.size.height == e.size.height) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "frame is (" << f.origin.x << ", " << f.origin.y << ", "
                                       << f.size.width << ", " << f.size.height << ")";
}

Class registerAlertWindow(id (*host)(id, SEL, BOOL)) {
  host::registerUIKitClasses();
  Class window = objc_registerClass("SBAlertWindow", objc_getClass("UIWindow"));
  class_addMethod(window, sel_registerName("stackedAlertsIncludingActiveAlert:"), host);
  return window;
}

Class hookAlertWindow(id (*host)(id, SEL, BOOL)) {
  Class window = registerAlertWindow(host);
  MSHookMessageEx(window, sel_registerName("stackedAlertsIncludingActiveAlert:"),
                  &hook_SBAlertWindow_stackedAlerts, &orig_stackedAlerts);
  return window;
}

Class registerRecentsController(void (*viewDidAppear)(id, SEL, BOOL),
                                void (*willDisplayCell)(id, SEL, id, id, id)) {
  host::registerUIKitClasses();
  Class controller = objc_registerClass("PHRecentsViewController", NSObjectClass());
  class_addMethod(controller, sel_registerName("viewDidAppear:"), viewDidAppear);
  class_addMethod(controller, sel_registerName("tableView:willDisplayCell:forRowAtIndexPath:"),
                  willDisplayCell);
  Class cell = objc_registerClass("PHRecentCallCell", objc_getClass("UIView"));
  class_addIvar(cell, "_callerNameLabel");
  class_addIvar(cell, "_callerLabelLabel");
  return controller;
}

Ivar ivarOf(const id& object, const char* name) {
  return class_getInstanceVariable(object_getClass(object), name);
}

id indexPath(NSInteger row, NSInteger section) {
  return msg<id(NSInteger, NSInteger)>(objc_getClass("NSIndexPath"),
                                       "indexPathForRow:inSection:", row, section);
}

id makeCell(const char* number, const char* kind, const char* kindClass) {
  id cell = makeView("PHRecentCallCell");
  id name = makeView("UILabel");
  id second = makeView(kindClass);
  msg<void(id)>(name, "setText:", number ? text(number) : nil);
  msg<void(id)>(second, "setText:", kind ? text(kind) : nil);
  object_setIvar(cell, ivarOf(cell, "_callerNameLabel"), name);
  object_setIvar(cell, ivarOf(cell, "_callerLabelLabel"), second);
  return cell;
}

id kindLabel(const id& cell) {
  return object_getIvar(cell, ivarOf(cell, "_callerLabelLabel"));
}

}  // namespace testing_support
