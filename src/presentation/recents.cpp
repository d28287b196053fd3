#include "presentation/recents.h"

#include "host/foundation/messages.h"
#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/ui/uikit.h"
#include "lookup/lookup.h"
#include "state/guard.h"
#include "state/state.h"

namespace {

// Whether `text` already ends with ": " followed by `found`.
bool alreadyAnnotated(const id& text, const id& found) {
  if (!text) return false;
  const std::u16string suffix = std::u16string(kAreaSeparator) + ns::units(found);
  return ns::units(text).ends_with(suffix);
}

}  // namespace

void hook_Recents_viewDidAppear(id self, SEL _cmd, BOOL animated) {
  if (orig_viewDidAppear) orig_viewDidAppear(self, _cmd, animated);
  guarded([] { loadPrefs(); });
}

void hook_Recents_willDisplayCell(id self, SEL _cmd, id tableView, id cell, id indexPath) {
  if (orig_willDisplayCell) orig_willDisplayCell(self, _cmd, tableView, cell, indexPath);
  guarded([&] {
    const NSInteger row = msg<NSInteger()>(indexPath, "row");
    if (row < static_cast<NSInteger>(recentsToShow)) {
      Class cellClass = object_getClass(cell);
      Ivar nameVariable = class_getInstanceVariable(cellClass, "_callerNameLabel");
      Ivar kindVariable = class_getInstanceVariable(cellClass, "_callerLabelLabel");
      if (nameVariable && kindVariable) {
        phoneNumber = msg<id()>(object_getIvar(cell, nameVariable), "text");
        initVals();
        id kindLabel = object_getIvar(cell, kindVariable);
        if (ns::length(area) != 0 && !alreadyAnnotated(msg<id()>(kindLabel, "text"), area)) {
          id text = msg<id()>(kindLabel, "text");
          msg<void(id)>(kindLabel, "setText:",
                        ns::stringByAppendingString(text, NSString::make(kAreaSeparator)));
          text = msg<id()>(kindLabel, "text");
          msg<void(id)>(kindLabel, "setText:", ns::stringByAppendingString(text, area));
        }
      }
    }
    phoneNumber = NSString::make(u"");
    area = NSString::make(u"");
  });
}
