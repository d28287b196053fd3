// UI objects through messages, as the library uses them, and the text drawing
// of a window.
#include <gtest/gtest.h>

#include <limits>
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
};

id make(const char* cls, CGRect frame) {
  return msg<id(CGRect)>(msg<id()>(objc_getClass(cls), "alloc"), "initWithFrame:", frame);
}
id label(CGRect frame, const char* text) {
  id made = make("UILabel", frame);
  msg<void(id)>(made, "setText:", NSString::fromUtf8(text));
  return made;
}
id color(const char* name) {
  return msg<id()>(objc_getClass("UIColor"), name);
}
void add(const id& parent, const id& child) {
  msg<void(id)>(parent, "addSubview:", child);
}
std::vector<id> subviews(const id& view) {
  return objectAs<NSArray>(msg<id()>(view, "subviews"))->items();
}
void expectRect(const CGRect& r, CGFloat x, CGFloat y, CGFloat w, CGFloat h) {
  EXPECT_EQ(std::vector<CGFloat>({r.origin.x, r.origin.y, r.size.width, r.size.height}),
            std::vector<CGFloat>({x, y, w, h}));
}

// Guards against frame and bounds losing fractions or not following each
// other: bounds take the frame's size, a new bounds size resizes the frame
// about its centre, the same size leaves it.
TEST_F(UIKit, FrameAndBoundsGeometry) {
  id view = make("UIView", CGRectMake(0.1, 0.2, 320.5, 479.75));
  expectRect(msg<CGRect()>(view, "frame"), 0.1, 0.2, 320.5, 479.75);
  expectRect(msg<CGRect()>(view, "bounds"), 0, 0, 320.5, 479.75);
  msg<void(CGRect)>(view, "setBounds:", CGRectMake(5, 6, 320.5, 479.75));
  expectRect(msg<CGRect()>(view, "frame"), 0.1, 0.2, 320.5, 479.75);
  msg<void(CGRect)>(view, "setFrame:", CGRectMake(-10, 20, 100, 50));
  expectRect(msg<CGRect()>(view, "bounds"), 5, 6, 100, 50);
  msg<void(CGRect)>(view, "setBounds:", CGRectMake(0, 0, 60, 10));
  expectRect(msg<CGRect()>(view, "frame"), 10, 40, 60, 10);  // about the centre (40, 45)
}

// Guards against wrong subview order, a view left in its old superview when
// moved or removed, cycles or non-views being accepted, and a strong link up
// to the superview (a removed label and its superview must be freed).
TEST_F(UIKit, SubviewsAndSuperviews) {
  id window = make("UIWindow", CGRectMake(0, 0, 320, 480));
  id other = make("UIView", CGRectMake(0, 0, 10, 10));
  id a = make("UILabel", CGRectMake(0, 0, 1, 1));
  id b = make("UIView", CGRectMake(0, 0, 1, 1));
  add(window, a);
  add(window, b);
  add(window, nil);
  EXPECT_EQ(subviews(window), (std::vector<id>{a, b}));
  add(window, a);  // again: to the top
  EXPECT_EQ(subviews(window), (std::vector<id>{b, a}));
  add(other, a);
  add(window, other);
  EXPECT_EQ(subviews(window), (std::vector<id>{b, other}));
  EXPECT_EQ(msg<id()>(a, "superview"), other);
  EXPECT_THROW(add(window, window), NSException);
  EXPECT_THROW(add(a, window), NSException);
  EXPECT_THROW(add(window, NSString::fromUtf8("not a view")), NSException);
  EXPECT_EQ(subviews(window), (std::vector<id>{b, other}));

  std::weak_ptr<Object> label = a, parent = other;
  a = other = nil;
  EXPECT_FALSE(label.expired()) << "a superview keeps its subviews alive";
  msg<void()>(parent.lock(), "removeFromSuperview");
  EXPECT_EQ(subviews(window), (std::vector<id>{b}));
  EXPECT_TRUE(parent.expired() && label.expired()) << "a subview kept its superview alive";
}

// Guards against label properties accepting values of the wrong kind (or a
// refused value changing what was there), named colours made anew on each
// call, and index paths mixing up row and section.
TEST_F(UIKit, LabelsColoursAndIndexPaths) {
  id view = make("UILabel", CGRectMake(0, 0, 100, 22));
  id area = NSString::fromUtf8("Area Unknown ");
  msg<void(id)>(view, "setText:", area);
  msg<void(id)>(view, "setTextColor:", color("whiteColor"));
  for (const char* setter : {"setText:", "setTextColor:", "setBackgroundColor:"}) {
    EXPECT_THROW(msg<void(id)>(view, setter, NSNumber::integer(5)), NSException) << setter;
  }
  EXPECT_THROW(msg<void(id)>(view, "setTextColor:", area), NSException);
  EXPECT_THROW(msg<void(id)>(make("UIView", CGRectMake(0, 0, 1, 1)), "setText:", area),
               NSException);
  EXPECT_EQ(msg<id()>(view, "text"), area);
  EXPECT_EQ(msg<id()>(view, "textColor"), color("whiteColor"));
  EXPECT_NE(color("clearColor"), color("whiteColor"));
  msg<void(id)>(view, "setText:", nil);
  EXPECT_EQ(msg<id()>(view, "text"), nil);

  // The largest row there is: 2^63 - 1 on 64-bit devices, 2^31 - 1 on 32-bit ones.
  const NSInteger big = std::numeric_limits<NSInteger>::max();
  id path = msg<id(NSInteger, NSInteger)>(objc_getClass("NSIndexPath"),
                                          "indexPathForRow:inSection:", big, -2);
  EXPECT_EQ(msg<NSInteger()>(path, "row"), big);
  EXPECT_EQ(msg<NSInteger()>(path, "section"), -2);
}

// ---- drawing -----------------------------------------------------------------

std::vector<std::string> lines(const std::string& drawing) {
  std::vector<std::string> out;
  std::istringstream in(drawing);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// Guards against the drawing misplacing labels (the alert window's bottom
// line; alignment, the ellipsis at the frame, nesting) or misrecording their
// frames, colours, alignment and text.
TEST_F(UIKit, DrawingShowsLabelTextAndFrames) {
  id window = make("UIWindow", CGRectMake(0, 0, 320, 480));  // 40 x 22 cells
  id bottom = label(CGRectMake(0, 458, 320, 22), "Area Unknown ");
  msg<void(id)>(bottom, "setTextColor:", color("whiteColor"));
  msg<void(id)>(bottom, "setBackgroundColor:", color("clearColor"));
  msg<void(NSInteger)>(bottom, "setTextAlignment:", NSTextAlignmentCenter);
  id right = label(CGRectMake(0, 0, 80, 22), "cd");
  msg<void(NSInteger)>(right, "setTextAlignment:", NSTextAlignmentRight);
  id holder = make("UIView", CGRectMake(16, 22, 64, 22));
  add(holder, label(CGRectMake(8, 0, 32, 22), "long text"));  // 4 cells from column 3
  for (const id& view :
       {bottom, right, holder, label(CGRectMake(0.5, 0.25, 0, 0), "say \"hi\"\n")}) {
    add(window, view);
  }

  std::string drawing = host::drawWindow(window, {.subviews = true});
  std::vector<std::string> rows = lines(drawing);
  ASSERT_GE(rows.size(), 26u) << drawing;
  EXPECT_EQ(rows[1], "+" + std::string(40, '-') + "+");
  EXPECT_EQ(rows[2], "|        cd" + std::string(30, ' ') + "|");
  EXPECT_EQ(rows[3], "|   lon…   " + std::string(30, ' ') + "|");
  EXPECT_EQ(rows[4], "|" + std::string(40, ' ') + "|");
  EXPECT_EQ(rows[23], "|" + std::string(13, ' ') + "Area Unknown " + std::string(14, ' ') + "|");
  EXPECT_EQ(rows[24], rows[1]);
  for (const char* entry : {"1. UILabel frame (0, 458, 320, 22) textColor white backgroundColor "
                            "clear alignment 1 (centred) text \"Area Unknown \"",
                            "4. UILabel frame (0.5, 0.25, 0, 0) textColor default backgroundColor "
                            "default alignment 0 (left) text \"say \\\"hi\\\"\\n\""}) {
    EXPECT_NE(drawing.find(entry), std::string::npos) << entry << "\n" << drawing;
  }
}

// Guards the compact default (the box only) against losing or misplacing the
// window, and --verbose against losing the window's line or the legend; a
// colour made from components keeps them.
TEST_F(UIKit, DrawingIsCompactUnlessSubviewsAreAsked) {
  id window = make("UIWindow", CGRectMake(0, 0, 80, 44));  // 10 x 2 cells
  id area = label(CGRectMake(0, 22, 80, 22), "Köln");
  msg<void(id)>(
      area, "setTextColor:",
      msg<id(CGFloat, CGFloat, CGFloat, CGFloat)>(
          objc_getClass("UIColor"), "colorWithRed:green:blue:alpha:", 0.5, 0.25, 1.0, 1.0));
  add(window, area);
  const std::string box = "+----------+\n|          |\n|Köln      |\n+----------+\n";
  EXPECT_EQ(host::drawWindow(window), box);
  EXPECT_EQ(host::drawWindow(window, {.subviews = true}),
            "UIWindow frame (0, 0, 80, 44) bounds (0, 0, 80, 44)\n" + box +
                "subviews, bottom to top:\n  1. UILabel frame (0, 22, 80, 22) textColor rgba(0.5, "
                "0.25, 1, 1) "
                "backgroundColor default alignment 0 (left) text \"Köln\"\n");
}

// Guards the ellipsis: a text that does not fit its frame, or the box, ends
// with "…" in its last cell whatever the alignment, wide characters are never
// cut in half, and a text that fits gets none.
TEST_F(UIKit, DrawingEndsTextsThatDoNotFitWithAnEllipsis) {
  struct Case {
    CGRect frame;
    NSInteger alignment;
    const char* text;
    const char* row;  // the one row of a 10-cell box
  };
  const Case cases[] = {
      {CGRectMake(0, 0, 80, 22), NSTextAlignmentLeft, "Llanfairpwll", "Llanfairp…"},
      {CGRectMake(0, 0, 80, 22), NSTextAlignmentCenter, "Llanfairpwll", "Llanfairp…"},
      {CGRectMake(0, 0, 80, 22), NSTextAlignmentRight, "Llanfairpwll", "Llanfairp…"},
      {CGRectMake(0, 0, 80, 22), NSTextAlignmentCenter, "Newport", " Newport  "},
      {CGRectMake(16, 0, 48, 22), NSTextAlignmentCenter, "Manchester", "  Manch…  "},
      {CGRectMake(0, 0, 56, 22), NSTextAlignmentLeft, "北京市海淀", "北京市…   "},
      {CGRectMake(0, 0, 48, 22), NSTextAlignmentLeft, "北京市海淀", "北京…     "},
      {CGRectMake(40, 0, 400, 22), NSTextAlignmentLeft, "Llanfairpwll", "     Llan…"},
      {CGRectMake(0, 0, 8, 22), NSTextAlignmentLeft, "Bath", "…         "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    id window = make("UIWindow", CGRectMake(0, 0, 80, 22));
    id area = label(c.frame, c.text);
    msg<void(NSInteger)>(area, "setTextAlignment:", c.alignment);
    add(window, area);
    EXPECT_EQ(lines(host::drawWindow(window))[1], std::string("|") + c.row + "|");
  }
}

// Guards against degenerate windows (empty, negative, huge) or bad scales
// crashing the drawing or losing the legend.
TEST_F(UIKit, DrawingSurvivesDegenerateWindows) {
  for (CGRect frame :
       {CGRectMake(0, 0, 0, 0), CGRectMake(0, 0, -320, -480), CGRectMake(0, 0, 1e300, 1e300)}) {
    id window = make("UIWindow", frame);
    add(window, label(CGRectMake(0, frame.size.height - 22, frame.size.width, 22), "Area"));
    EXPECT_NE(host::drawWindow(window, {.subviews = true, .pointsPerColumn = 0, .pointsPerRow = -1})
                  .find("text \"Area\""),
              std::string::npos);
  }
  EXPECT_NO_THROW(host::drawWindow(NSString::fromUtf8("not a window")));
}

}  // namespace
