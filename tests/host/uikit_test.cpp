// UI objects through messages, as the library uses them, and the text drawing
// of a window.

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/ui/uikit.h"
#include "state/ns_exception.h"

namespace {

class UIKit : public ::testing::Test {
 protected:
  void SetUp() override { host::registerUIKitClasses(); }

  static id make(const char* cls, CGRect frame) {
    return msg<id(CGRect)>(msg<id()>(objc_getClass(cls), "alloc"), "initWithFrame:", frame);
  }
  static id text(const char* utf8) { return NSString::fromUtf8(utf8); }
  static id color(const char* name) { return msg<id()>(objc_getClass("UIColor"), name); }
  static std::vector<id> subviews(const id& view) {
    return objectAs<NSArray>(msg<id()>(view, "subviews"))->items();
  }
};

void expectRect(const CGRect& r, CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
  EXPECT_EQ(r.origin.x, x);
  EXPECT_EQ(r.origin.y, y);
  EXPECT_EQ(r.size.width, w);
  EXPECT_EQ(r.size.height, h);
}

TEST_F(UIKit, FrameAndBoundsGeometry) {
  id view = make("UIView", CGRectMake(0.1, 0.2, 320.5, 479.75));
  expectRect(msg<CGRect()>(view, "frame"), 0.1, 0.2, 320.5, 479.75);
  expectRect(msg<CGRect()>(view, "bounds"), 0, 0, 320.5, 479.75);

  msg<void(CGRect)>(view, "setBounds:", CGRectMake(5, 6, 320.5, 479.75));
  expectRect(msg<CGRect()>(view, "frame"), 0.1, 0.2, 320.5, 479.75);  // same size: untouched

  msg<void(CGRect)>(view, "setFrame:", CGRectMake(-10, 20, 100, 50));
  expectRect(msg<CGRect()>(view, "bounds"), 5, 6, 100, 50);  // keeps its origin

  msg<void(CGRect)>(view, "setBounds:", CGRectMake(0, 0, 60, 10));
  expectRect(msg<CGRect()>(view, "frame"), 10, 40, 60, 10);  // about the centre (40, 45)

  id plain = msg<id()>(msg<id()>(objc_getClass("UIView"), "alloc"), "init");
  expectRect(msg<CGRect()>(plain, "frame"), 0, 0, 0, 0);
}

TEST_F(UIKit, SubviewsKeepOrderAndMoveBetweenSuperviews) {
  id window = make("UIWindow", CGRectMake(0, 0, 320, 480));
  id other = make("UIView", CGRectMake(0, 0, 10, 10));
  id a = make("UILabel", CGRectMake(0, 0, 1, 1));
  id b = make("UIView", CGRectMake(0, 0, 1, 1));

  msg<void(id)>(window, "addSubview:", a);
  msg<void(id)>(window, "addSubview:", b);
  EXPECT_EQ(subviews(window), (std::vector<id>{a, b}));
  EXPECT_EQ(msg<id()>(a, "superview"), window);

  msg<void(id)>(window, "addSubview:", a);  // again: to the top
  EXPECT_EQ(subviews(window), (std::vector<id>{b, a}));

  msg<void(id)>(other, "addSubview:", a);  // to another view: moves
  EXPECT_EQ(subviews(window), (std::vector<id>{b}));
  EXPECT_EQ(subviews(other), (std::vector<id>{a}));
  EXPECT_EQ(msg<id()>(a, "superview"), other);

  msg<void()>(a, "removeFromSuperview");
  EXPECT_TRUE(subviews(other).empty());
  EXPECT_EQ(msg<id()>(a, "superview"), nil);
  EXPECT_NO_THROW(msg<void()>(a, "removeFromSuperview"));

  EXPECT_NO_THROW(msg<void(id)>(window, "addSubview:", nil));
  EXPECT_EQ(subviews(window).size(), 1u);
}

TEST_F(UIKit, AddingSomethingThatCannotBeASubviewRaises) {
  id outer = make("UIView", CGRectMake(0, 0, 10, 10));
  id inner = make("UIView", CGRectMake(0, 0, 5, 5));
  id innermost = make("UILabel", CGRectMake(0, 0, 1, 1));
  msg<void(id)>(outer, "addSubview:", inner);
  msg<void(id)>(inner, "addSubview:", innermost);

  EXPECT_THROW(msg<void(id)>(outer, "addSubview:", outer), NSException);
  EXPECT_THROW(msg<void(id)>(innermost, "addSubview:", outer), NSException);
  EXPECT_THROW(msg<void(id)>(outer, "addSubview:", text("not a view")), NSException);
  // Nothing moved.
  EXPECT_EQ(subviews(outer), (std::vector<id>{inner}));
  EXPECT_EQ(msg<id()>(innermost, "superview"), inner);
  EXPECT_EQ(msg<id()>(outer, "superview"), nil);
}

TEST_F(UIKit, SuperviewHoldsSubviewsButNotTheOtherWayRound) {
  id window = make("UIWindow", CGRectMake(0, 0, 320, 480));
  std::weak_ptr<Object> watched;
  {
    id label = make("UILabel", CGRectMake(0, 458, 320, 22));
    watched = label;
    msg<void(id)>(window, "addSubview:", label);
  }
  EXPECT_FALSE(watched.expired()) << "the window keeps its label alive";
  {
    id label = watched.lock();
    msg<void()>(label, "removeFromSuperview");
    EXPECT_FALSE(watched.expired()) << "the caller still holds it";
  }
  EXPECT_TRUE(watched.expired()) << "freed with the last id";

  id orphan = make("UILabel", CGRectMake(0, 0, 1, 1));
  std::weak_ptr<Object> parent;
  {
    id view = make("UIView", CGRectMake(0, 0, 10, 10));
    parent = view;
    msg<void(id)>(view, "addSubview:", orphan);
  }
  EXPECT_TRUE(parent.expired()) << "a subview does not keep its superview alive";
  EXPECT_EQ(msg<id()>(orphan, "superview"), nil);
}

TEST_F(UIKit, LabelPropertiesAndWrongKindValues) {
  id label = make("UILabel", CGRectMake(0, 0, 100, 22));
  EXPECT_EQ(msg<id()>(label, "text"), nil);
  EXPECT_EQ(msg<id()>(label, "textColor"), nil);
  EXPECT_EQ(msg<id()>(label, "backgroundColor"), nil);
  EXPECT_EQ(msg<id()>(label, "font"), nil);
  EXPECT_EQ(msg<NSInteger()>(label, "textAlignment"), NSTextAlignmentLeft);

  id area = text("Area Unknown ");
  msg<void(id)>(label, "setText:", area);
  msg<void(id)>(label, "setTextColor:", color("whiteColor"));
  msg<void(id)>(label, "setBackgroundColor:", color("clearColor"));
  msg<void(NSInteger)>(label, "setTextAlignment:", NSTextAlignmentCenter);
  EXPECT_TRUE(valuesEqual(msg<id()>(label, "text"), text("Area Unknown ")));
  EXPECT_EQ(msg<id()>(label, "textColor"), color("whiteColor"));
  EXPECT_EQ(msg<id()>(label, "backgroundColor"), color("clearColor"));
  EXPECT_EQ(msg<NSInteger()>(label, "textAlignment"), NSTextAlignmentCenter);

  EXPECT_THROW(msg<void(id)>(label, "setText:", NSNumber::integer(5)), NSException);
  EXPECT_THROW(msg<void(id)>(label, "setText:", color("whiteColor")), NSException);
  EXPECT_THROW(msg<void(id)>(label, "setTextColor:", text("white")), NSException);
  EXPECT_THROW(msg<void(id)>(label, "setBackgroundColor:", NSNumber::integer(0)), NSException);
  EXPECT_TRUE(valuesEqual(msg<id()>(label, "text"), area)) << "a refused value changes nothing";
  EXPECT_EQ(msg<id()>(label, "textColor"), color("whiteColor"));

  msg<void(id)>(label, "setText:", nil);
  EXPECT_EQ(msg<id()>(label, "text"), nil);

  // Label messages are not views' messages.
  id view = make("UIView", CGRectMake(0, 0, 1, 1));
  EXPECT_THROW(msg<void(id)>(view, "setText:", area), NSException);
  EXPECT_THROW(msg<void(double)>(label, "setTextAlignment:", 1.0), NSException);
}

TEST_F(UIKit, ColoursAreSharedInstances) {
  id white = color("whiteColor");
  ASSERT_NE(white, nil);
  EXPECT_EQ(color("whiteColor"), white);
  EXPECT_EQ(color("clearColor"), color("clearColor"));
  EXPECT_NE(color("clearColor"), white);
  EXPECT_NE(color("blackColor"), white);
  EXPECT_EQ(object_getClass(white), objc_getClass("UIColor"));
}

TEST_F(UIKit, IndexPaths) {
  Class cls = objc_getClass("NSIndexPath");
  id path = msg<id(NSInteger, NSInteger)>(cls, "indexPathForRow:inSection:", 3, 1);
  EXPECT_EQ(msg<NSInteger()>(path, "row"), 3);
  EXPECT_EQ(msg<NSInteger()>(path, "section"), 1);
  EXPECT_EQ(object_getClass(path), cls);

  const NSInteger big = NSInteger(1) << 40;
  id far = msg<id(NSInteger, NSInteger)>(cls, "indexPathForRow:inSection:", big, -2);
  EXPECT_EQ(msg<NSInteger()>(far, "row"), big);
  EXPECT_EQ(msg<NSInteger()>(far, "section"), -2);
  EXPECT_EQ(msg<NSInteger()>(nil, "row"), 0);
}

TEST_F(UIKit, HostSubclassesGetTheStateOfTheirSuperclass) {
  Class alertWindow = objc_registerClass("UiTestAlertWindow", objc_getClass("UIWindow"));
  Class cell = objc_registerClass("UiTestCell", objc_getClass("UIView"));
  class_addIvar(cell, "_callerNameLabel");

  id window = make("UiTestAlertWindow", CGRectMake(0, 0, 320, 480));
  EXPECT_EQ(object_getClass(window), alertWindow);
  expectRect(msg<CGRect()>(window, "bounds"), 0, 0, 320, 480);

  id row = make("UiTestCell", CGRectMake(0, 0, 320, 44));
  id name = make("UILabel", CGRectMake(0, 0, 100, 20));
  object_setIvar(row, class_getInstanceVariable(object_getClass(row), "_callerNameLabel"), name);
  msg<void(id)>(row, "addSubview:", name);
  EXPECT_EQ(object_getIvar(row, class_getInstanceVariable(cell, "_callerNameLabel")), name);
  EXPECT_EQ(msg<id()>(name, "superview"), row);
}

// ---- drawing -----------------------------------------------------------------

std::vector<std::string> lines(const std::string& drawing) {
  std::vector<std::string> out;
  std::istringstream in(drawing);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string boxLine(const std::string& inside) {
  return "|" + inside + "|";
}

TEST_F(UIKit, DrawingPlacesTheLabelAndRecordsItExactly) {
  id window = make("UIWindow", CGRectMake(0, 0, 320, 480));
  id label = make("UILabel", CGRectMake(0, 458, 320, 22));
  msg<void(id)>(label, "setTextColor:", color("whiteColor"));
  msg<void(id)>(label, "setBackgroundColor:", color("clearColor"));
  msg<void(NSInteger)>(label, "setTextAlignment:", NSTextAlignmentCenter);
  msg<void(id)>(window, "addSubview:", label);
  msg<void(id)>(label, "setText:", text("Area Unknown "));

  std::string drawing = host::drawWindow(window);
  std::vector<std::string> rows = lines(drawing);
  // Title, top edge, 22 rows of 40 columns, bottom edge, then the legend.
  ASSERT_GE(rows.size(), 26u) << drawing;
  EXPECT_EQ(rows[1], "+" + std::string(40, '-') + "+");
  EXPECT_EQ(rows[2], boxLine(std::string(40, ' ')));
  EXPECT_EQ(rows[23], boxLine(std::string(13, ' ') + "Area Unknown " + std::string(14, ' ')));
  EXPECT_EQ(rows[24], rows[1]);
  EXPECT_NE(drawing.find("UILabel frame (0, 458, 320, 22) textColor white backgroundColor clear "
                         "alignment 1 (centred) text \"Area Unknown \""),
            std::string::npos)
      << drawing;
}

TEST_F(UIKit, DrawingAlignsCutsAndNestsLabels) {
  id window = make("UIWindow", CGRectMake(0, 0, 80, 66));  // 10 x 3 cells
  id left = make("UILabel", CGRectMake(0, 0, 80, 22));
  msg<void(id)>(left, "setText:", text("ab"));
  id right = make("UILabel", CGRectMake(0, 22, 80, 22));
  msg<void(id)>(right, "setText:", text("cd"));
  msg<void(NSInteger)>(right, "setTextAlignment:", NSTextAlignmentRight);
  id holder = make("UIView", CGRectMake(16, 44, 64, 22));
  id nested = make("UILabel", CGRectMake(8, 0, 32, 22));  // 4 cells at column 3
  msg<void(id)>(nested, "setText:", text("long text"));
  for (const id& view : {left, right, holder}) msg<void(id)>(window, "addSubview:", view);
  msg<void(id)>(holder, "addSubview:", nested);

  std::vector<std::string> rows = lines(host::drawWindow(window));
  ASSERT_GE(rows.size(), 6u);
  EXPECT_EQ(rows[2], boxLine("ab        "));
  EXPECT_EQ(rows[3], boxLine("        cd"));
  EXPECT_EQ(rows[4], boxLine("   long   "));
}

TEST_F(UIKit, DrawingLegendShowsFractionsNilAndEscapes) {
  id window = make("UIWindow", CGRectMake(0, 0, 320, 480));
  id quoted = make("UILabel", CGRectMake(0.5, 457.25, 319.75, 22));
  msg<void(id)>(quoted, "setText:", text("say \"hi\"\n"));
  id empty = make("UILabel", CGRectMake(0, 0, 10, 10));
  msg<void(id)>(window, "addSubview:", quoted);
  msg<void(id)>(window, "addSubview:", empty);

  std::string drawing = host::drawWindow(window);
  EXPECT_NE(drawing.find("1. UILabel frame (0.5, 457.25, 319.75, 22) textColor default "
                         "backgroundColor default alignment 0 (left) text \"say \\\"hi\\\"\\n\""),
            std::string::npos)
      << drawing;
  EXPECT_NE(drawing.find("2. UILabel frame (0, 0, 10, 10)"), std::string::npos) << drawing;
  EXPECT_NE(drawing.find("text nil"), std::string::npos) << drawing;
}

TEST_F(UIKit, DrawingSurvivesDegenerateWindows) {
  for (CGRect frame : {CGRectMake(0, 0, 0, 0), CGRectMake(0, 0, -320, -480),
                       CGRectMake(0, 0, 320, 0), CGRectMake(0, 0, 1e300, 1e300)}) {
    id window = make("UIWindow", frame);
    id label = make("UILabel", CGRectMake(0, frame.size.height - 22, frame.size.width, 22));
    msg<void(id)>(label, "setText:", text("Area Unknown "));
    msg<void(id)>(window, "addSubview:", label);
    std::string drawing;
    ASSERT_NO_THROW(drawing = host::drawWindow(window, 8, 22));
    EXPECT_NE(drawing.find("\"Area Unknown \""), std::string::npos) << drawing;
  }
  EXPECT_EQ(lines(host::drawWindow(make("UIWindow", CGRectMake(0, 0, -1, 5))))[1], "++");
  EXPECT_NO_THROW(host::drawWindow(make("UIWindow", CGRectMake(0, 0, 80, 22)), 0, -1));
  EXPECT_NO_THROW(host::drawWindow(nil));
  EXPECT_NO_THROW(host::drawWindow(text("not a window")));
}

}  // namespace
