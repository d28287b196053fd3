#include "host/ui/uikit.h"

#include <algorithm>
#include <string>

#include "host/foundation/messages.h"
#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/ui/ui_objects.h"
#include "state/ns_exception.h"

namespace host {
namespace {

using ui::Color;
using ui::IndexPath;
using ui::Label;
using ui::View;

// The receiver's native state. An implementation reached with a receiver of
// another kind (a hooked slot called on the wrong object, say) raises as the
// platform does for a message the receiver does not understand.
template <class T>
T& native(const id& self, SEL selector) {
  if (!self) {
    throw NSException(NSInvalidArgumentException,
                      std::string(sel_getName(selector)) + " implementation called on nil");
  }
  auto* state = objectAs<T>(self);
  if (!state) ns::raiseUnrecognized(self, sel_getName(selector));
  return *state;
}

// Raises unless `value` is nil or of kind T, as the platform does when a
// property is given a value of the wrong kind.
template <class T>
void requireKind(const id& value, const char* kind, SEL selector) {
  if (value && !objectAs<T>(value)) {
    throw NSException(NSInvalidArgumentException, std::string(sel_getName(selector)) + " expects " +
                                                      kind + " or nil, not " + value->kindName());
  }
}

// Takes `child` out of its superview's subviews, if it has a superview. The
// caller holds `childId`, so the view survives its removal from the list.
void detach(View& child, const id& childId) {
  if (id parent = child.superview.lock()) {
    if (auto* parentView = objectAs<View>(parent)) {
      auto& list = parentView->subviews;
      list.erase(std::remove(list.begin(), list.end(), childId), list.end());
    }
  }
  child.superview.reset();
}

// ---- UIView ----------------------------------------------------------------

id viewInitWithFrame(id self, SEL selector, CGRect frame) {
  View& view = native<View>(self, selector);
  view.frame = frame;
  view.bounds = CGRect{{0, 0}, frame.size};
  return self;
}

CGRect viewFrame(id self, SEL selector) {
  return native<View>(self, selector).frame;
}

void viewSetFrame(id self, SEL selector, CGRect frame) {
  View& view = native<View>(self, selector);
  view.frame = frame;
  view.bounds.size = frame.size;
}

CGRect viewBounds(id self, SEL selector) {
  return native<View>(self, selector).bounds;
}

// A new bounds size resizes the frame about its centre; a bounds change that
// keeps the size leaves the frame exactly as it was.
void viewSetBounds(id self, SEL selector, CGRect bounds) {
  View& view = native<View>(self, selector);
  CGSize old = view.frame.size;
  view.bounds = bounds;
  if (old.width == bounds.size.width && old.height == bounds.size.height) return;
  CGFloat centreX = view.frame.origin.x + old.width / 2;
  CGFloat centreY = view.frame.origin.y + old.height / 2;
  view.frame = CGRectMake(centreX - bounds.size.width / 2, centreY - bounds.size.height / 2,
                          bounds.size.width, bounds.size.height);
}

id viewBackgroundColor(id self, SEL selector) {
  return native<View>(self, selector).backgroundColor;
}

void viewSetBackgroundColor(id self, SEL selector, id color) {
  View& view = native<View>(self, selector);
  requireKind<Color>(color, "a UIColor", selector);
  view.backgroundColor = std::move(color);
}

void viewAddSubview(id self, SEL selector, id subview) {
  View& parent = native<View>(self, selector);
  if (!subview) return;
  auto* child = objectAs<View>(subview);
  if (!child) {
    throw NSException(NSInvalidArgumentException,
                      std::string("-[UIView addSubview:]: not a view: ") + subview->kindName());
  }
  for (id up = self; up; up = objectAs<View>(up) ? objectAs<View>(up)->superview.lock() : nil) {
    if (up == subview) {
      throw NSException(NSInvalidArgumentException,
                        "-[UIView addSubview:]: a view cannot be added to itself or to one of "
                        "its own subviews");
    }
  }
  detach(*child, subview);
  parent.subviews.push_back(subview);
  child->superview = self;
}

void viewRemoveFromSuperview(id self, SEL selector) {
  detach(native<View>(self, selector), self);
}

id viewSubviews(id self, SEL selector) {
  return NSArray::make(native<View>(self, selector).subviews);
}

id viewSuperview(id self, SEL selector) {
  return native<View>(self, selector).superview.lock();
}

// ---- UILabel ---------------------------------------------------------------

id labelText(id self, SEL selector) {
  return native<Label>(self, selector).text;
}

void labelSetText(id self, SEL selector, id text) {
  Label& label = native<Label>(self, selector);
  requireKind<NSString>(text, "a text", selector);
  label.text = std::move(text);
}

id labelTextColor(id self, SEL selector) {
  return native<Label>(self, selector).textColor;
}

void labelSetTextColor(id self, SEL selector, id color) {
  Label& label = native<Label>(self, selector);
  requireKind<Color>(color, "a UIColor", selector);
  label.textColor = std::move(color);
}

NSInteger labelTextAlignment(id self, SEL selector) {
  return native<Label>(self, selector).textAlignment;
}

void labelSetTextAlignment(id self, SEL selector, NSInteger alignment) {
  native<Label>(self, selector).textAlignment = alignment;
}

id labelFont(id self, SEL selector) {
  native<Label>(self, selector);
  return nil;
}

// ---- UIColor ---------------------------------------------------------------

id sharedColor(const char* name, double r, double g, double b, double a) {
  return std::make_shared<Color>(objc_getClass("UIColor"), name, r, g, b, a);
}

id whiteColor(Class, SEL) {
  static const id white = sharedColor("white", 1, 1, 1, 1);
  return white;
}

id clearColor(Class, SEL) {
  static const id clear = sharedColor("clear", 0, 0, 0, 0);
  return clear;
}

id blackColor(Class, SEL) {
  static const id black = sharedColor("black", 0, 0, 0, 1);
  return black;
}

id colorWithRed(Class cls, SEL, CGFloat red, CGFloat green, CGFloat blue, CGFloat alpha) {
  return std::make_shared<Color>(cls, std::string(), red, green, blue, alpha);
}

// ---- NSIndexPath -------------------------------------------------------------

id indexPathForRow(Class cls, SEL, NSInteger row, NSInteger section) {
  auto path = std::make_shared<IndexPath>(cls);
  path->row = row;
  path->section = section;
  return path;
}

NSInteger indexPathRow(id self, SEL selector) {
  return native<IndexPath>(self, selector).row;
}

NSInteger indexPathSection(id self, SEL selector) {
  return native<IndexPath>(self, selector).section;
}

// ---- registration ----------------------------------------------------------

template <class T>
Factory factoryOf() {
  return [](Class cls) -> id { return std::make_shared<T>(cls); };
}

void registerAll() {
  Class object = NSObjectClass();

  Class view = objc_registerClass("UIView", object, factoryOf<View>());
  class_addMethod(view, sel_registerName("initWithFrame:"), &viewInitWithFrame);
  class_addMethod(view, sel_registerName("frame"), &viewFrame);
  class_addMethod(view, sel_registerName("setFrame:"), &viewSetFrame);
  class_addMethod(view, sel_registerName("bounds"), &viewBounds);
  class_addMethod(view, sel_registerName("setBounds:"), &viewSetBounds);
  class_addMethod(view, sel_registerName("backgroundColor"), &viewBackgroundColor);
  class_addMethod(view, sel_registerName("setBackgroundColor:"), &viewSetBackgroundColor);
  class_addMethod(view, sel_registerName("addSubview:"), &viewAddSubview);
  class_addMethod(view, sel_registerName("removeFromSuperview"), &viewRemoveFromSuperview);
  class_addMethod(view, sel_registerName("subviews"), &viewSubviews);
  class_addMethod(view, sel_registerName("superview"), &viewSuperview);

  objc_registerClass("UIWindow", view);

  Class label = objc_registerClass("UILabel", view, factoryOf<Label>());
  class_addMethod(label, sel_registerName("text"), &labelText);
  class_addMethod(label, sel_registerName("setText:"), &labelSetText);
  class_addMethod(label, sel_registerName("textColor"), &labelTextColor);
  class_addMethod(label, sel_registerName("setTextColor:"), &labelSetTextColor);
  class_addMethod(label, sel_registerName("textAlignment"), &labelTextAlignment);
  class_addMethod(label, sel_registerName("setTextAlignment:"), &labelSetTextAlignment);
  class_addMethod(label, sel_registerName("font"), &labelFont);

  Class color = objc_registerClass("UIColor", object, factoryOf<Color>());
  class_addClassMethod(color, sel_registerName("whiteColor"), &whiteColor);
  class_addClassMethod(color, sel_registerName("clearColor"), &clearColor);
  class_addClassMethod(color, sel_registerName("blackColor"), &blackColor);
  class_addClassMethod(color, sel_registerName("colorWithRed:green:blue:alpha:"), &colorWithRed);

  Class indexPath = objc_registerClass("NSIndexPath", object, factoryOf<IndexPath>());
  class_addClassMethod(indexPath, sel_registerName("indexPathForRow:inSection:"), &indexPathForRow);
  class_addMethod(indexPath, sel_registerName("row"), &indexPathRow);
  class_addMethod(indexPath, sel_registerName("section"), &indexPathSection);
}

}  // namespace

void registerUIKitClasses() {
  static const bool registered = (registerAll(), true);
  (void)registered;
}

}  // namespace host
