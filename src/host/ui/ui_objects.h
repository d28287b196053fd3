// The native state behind the UI classes of uikit.h.
//
// Internal to the UI objects and their drawing: the library and the host
// programs reach these objects only through messages. Each class is the
// instance type that the runtime class's factory makes, so a host subclass
// registered without a factory of its own (an alert window, a table cell) gets
// the same state. A view holds its subviews strongly and its superview weakly.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/runtime/objc.h"
#include "host/ui/uikit.h"

namespace host::ui {

// UIView, UIWindow and their subclasses.
class View : public RuntimeObject {
 public:
  using RuntimeObject::RuntimeObject;

  CGRect frame;              // in the superview's coordinates
  CGRect bounds;             // the view's own coordinates
  id backgroundColor;        // a UIColor or nil (the default)
  std::vector<id> subviews;  // bottom to top, never nil
  std::weak_ptr<Object> superview;
};

// UILabel and its subclasses.
class Label : public View {
 public:
  using View::View;

  id text;       // an NSString or nil
  id textColor;  // a UIColor or nil (the default)
  NSInteger textAlignment = NSTextAlignmentLeft;
};

// UIColor. The named colours are shared instances; `name` is empty for a
// colour made with alloc.
class Color : public RuntimeObject {
 public:
  explicit Color(Class cls, std::string colorName = {}, double r = 0, double g = 0, double b = 0,
                 double a = 0)
      : RuntimeObject(cls), name(std::move(colorName)), red(r), green(g), blue(b), alpha(a) {}

  std::string name;
  double red, green, blue, alpha;
};

// NSIndexPath with a section and a row.
class IndexPath : public RuntimeObject {
 public:
  using RuntimeObject::RuntimeObject;

  NSInteger section = 0;
  NSInteger row = 0;
};

}  // namespace host::ui
