#include "presentation/alert_label.h"

#include "host/foundation/messages.h"
#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/ui/uikit.h"
#include "lookup/lookup.h"
#include "state/guard.h"
#include "state/state.h"

id hook_SBAlertWindow_stackedAlerts(id self, SEL _cmd, BOOL includingActiveAlert) {
  if (callInProgress == 1) {
    guarded([&] {
      initVals();

      const CGRect bounds = msg<CGRect()>(self, "bounds");
      const CGFloat height = bounds.size.height;
      const CGFloat width = bounds.size.width;

      // An earlier run during this call left its label on the window; take it
      // off so that only the newest area is shown and the end of the call
      // removes every area label.
      if (label) msg<void()>(label, "removeFromSuperview");

      id made = msg<id()>(objc_getClass("UILabel"), "alloc");
      label = msg<id(CGRect)>(made, "initWithFrame:",
                              CGRectMake(0, height + -kAreaLabelHeight, width, kAreaLabelHeight));
      Class colours = objc_getClass("UIColor");
      msg<void(id)>(label, "setTextColor:", msg<id()>(colours, "whiteColor"));
      msg<void(id)>(label, "setBackgroundColor:", msg<id()>(colours, "clearColor"));
      msg<void(NSInteger)>(label, "setTextAlignment:", NSTextAlignmentCenter);
      msg<void(id)>(self, "addSubview:", label);

      if (ns::length(area) == 0) area = NSString::make(kAreaUnknown);
      msg<void(id)>(label, "setText:", area);
    });
  }
  return orig_stackedAlerts ? orig_stackedAlerts(self, _cmd, includingActiveAlert) : nil;
}
