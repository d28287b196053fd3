// Pictures of windows: where the area label's pixels land, fonts for other
// scripts, the ellipsis, PNG files, and windows that cannot be drawn.
#include "host/ui/draw_png.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/ui/uikit.h"
#include "support/temp_device.h"

namespace {

class Picture : public ::testing::Test {
 protected:
  void SetUp() override { host::registerUIKitClasses(); }
};

id make(const char* cls, CGRect frame) {
  return msg<id(CGRect)>(msg<id()>(objc_getClass(cls), "alloc"), "initWithFrame:", frame);
}
id colour(const char* name) {
  return msg<id()>(objc_getClass("UIColor"), name);
}
id label(CGRect frame, const char* text, NSInteger alignment = NSTextAlignmentCenter) {
  id made = make("UILabel", frame);
  msg<void(id)>(made, "setText:", NSString::fromUtf8(text));
  msg<void(id)>(made, "setTextColor:", colour("whiteColor"));
  msg<void(NSInteger)>(made, "setTextAlignment:", alignment);
  return made;
}
void add(const id& parent, const id& child) {
  msg<void(id)>(parent, "addSubview:", child);
}

// A dark call alert window with the host's title and number labels.
id alertWindow(CGFloat width, CGFloat height) {
  id window = make("UIWindow", CGRectMake(0, 0, width, height));
  msg<void(id)>(
      window, "setBackgroundColor:",
      msg<id(CGFloat, CGFloat, CGFloat, CGFloat)>(
          objc_getClass("UIColor"), "colorWithRed:green:blue:alpha:", 0.1, 0.1, 0.2, 1.0));
  add(window, label(CGRectMake(0, 176, width, 22), "Incoming call"));
  add(window, label(CGRectMake(0, 220, width, 22), "+44 20 7946 0000"));
  return window;
}

// Pixels that differ between two pictures of one size (in the columns from
// `first` up to `end` only, when given), and where they lie.
struct Difference {
  long count = 0;
  int top = std::numeric_limits<int>::max();
  int bottom = -1;
  int left = std::numeric_limits<int>::max();
  int right = -1;
};
Difference compare(const host::Picture& a, const host::Picture& b, int first = 0,
                   int end = std::numeric_limits<int>::max()) {
  Difference d;
  for (int y = 0; y < a.height; ++y) {
    for (int x = first; x < std::min(a.width, end); ++x) {
      if (a.at(x, y) == b.at(x, y)) continue;
      ++d.count;
      d.top = std::min(d.top, y);
      d.bottom = std::max(d.bottom, y);
      d.left = std::min(d.left, x);
      d.right = std::max(d.right, x);
    }
  }
  return d;
}

// Guards the area label's place in the picture: drawn with the label's frame
// (0, H - 22, W, 22), its text leaves ink (real glyphs, not nothing, for Latin
// with diacritics and for Chinese) only inside the bottom 22-point band, and
// without it that band is bare window background.
TEST_F(Picture, AreaLabelInkLiesInTheBottomBand) {
  struct Case {
    CGFloat width, height;
    double scale;
    const char* area;
  };
  const Case cases[] = {
      {320, 480, 2, "London"},
      {320, 480, 1, "Area Unknown "},
      {375, 667, 3, "北京市"},
      {320, 480, 2, "Köln"},
      {320, 480, 2, "Llanfairpwllgwyngyllgogerychwyrndrobwllllantysiliogogogoch, Anglesey"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.area);
    id window = alertWindow(c.width, c.height);
    const host::Picture bare = host::drawPicture(window, c.scale);
    add(window, label(CGRectMake(0, c.height - 22, c.width, 22), c.area));
    const host::Picture withArea = host::drawPicture(window, c.scale);
    ASSERT_EQ(bare.width, std::lround(c.width * c.scale));
    ASSERT_EQ(bare.height, std::lround(c.height * c.scale));
    ASSERT_EQ(withArea.pixels.size(), bare.pixels.size());

    const int band = static_cast<int>(std::lround((c.height - 22) * c.scale));
    const uint32_t background = bare.at(0, bare.height - 1);
    long bandInk = 0;
    for (int y = band; y < bare.height; ++y) {
      for (int x = 0; x < bare.width; ++x) bandInk += bare.at(x, y) != background;
    }
    EXPECT_EQ(bandInk, 0) << "something is drawn in the band without a label";

    const Difference ink = compare(bare, withArea);
    EXPECT_GT(ink.count, 15 * c.scale * c.scale) << "the text left (almost) no ink";
    EXPECT_GE(ink.top, band);
    EXPECT_LT(ink.bottom, withArea.height);
  }
}

// Guards the ellipsis: inside a narrow frame, a text wider than it is drawn
// differently from the same text in a wide frame (a text merely cut at the
// frame would look the same there), and stays inside the frame, while a text
// that fits is drawn the same in both.
TEST_F(Picture, TextsWiderThanTheirFrameEndWithAnEllipsis) {
  struct Case {
    const char* text;
    bool fits;
  };
  for (const Case& c : {Case{"Llanfairpwllgwyngyll", false}, Case{"Bath", true}}) {
    SCOPED_TRACE(c.text);
    auto render = [&](CGFloat width) {
      id window = alertWindow(320, 480);
      add(window, label(CGRectMake(20, 300, width, 22), c.text, NSTextAlignmentLeft));
      return host::drawPicture(window, 2);
    };
    const host::Picture bare = host::drawPicture(alertWindow(320, 480), 2);
    const host::Picture narrow = render(100);
    const host::Picture wide = render(280);
    const Difference ink = compare(bare, narrow);
    EXPECT_GE(ink.left, 40);
    EXPECT_LE(ink.right, 240);
    EXPECT_EQ(compare(narrow, wide, 40, 240).count == 0, c.fits);
  }
}

// Guards files and bad windows: a picture survives a PNG round trip, an
// unwritable path or a window without area is reported, and nil, non-views,
// absurd frames, huge windows and bad scales neither crash nor draw junk.
TEST_F(Picture, FilesAndWindowsThatCannotBeDrawn) {
  testing_support::TempDevice device;
  const std::string path = device.root() + "/call.png";
  id window = alertWindow(320, 480);
  EXPECT_EQ(host::writeWindowPng(window, path, 1), "");
  host::Picture read;
  ASSERT_EQ(host::readPng(path, read), "");
  EXPECT_EQ(compare(read, host::drawPicture(window, 1)).count, 0);
  EXPECT_EQ(read.width, 320);

  EXPECT_NE(host::writeWindowPng(window, device.root() + "/no/such/folder/x.png"), "");
  EXPECT_NE(host::readPng(device.root() + "/none.png", read), "");
  EXPECT_TRUE(read.pixels.empty());

  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (CGRect frame :
       {CGRectMake(0, 0, 0, 480), CGRectMake(0, 0, -320, 480), CGRectMake(0, 0, nan, 480)}) {
    EXPECT_TRUE(host::drawPicture(make("UIWindow", frame)).pixels.empty());
    EXPECT_NE(host::writeWindowPng(make("UIWindow", frame), path), "");
  }
  EXPECT_TRUE(host::drawPicture(nil).pixels.empty());
  EXPECT_TRUE(host::drawPicture(NSString::fromUtf8("not a view")).pixels.empty());

  id huge = make("UIWindow", CGRectMake(0, 0, 1e300, 1e300));
  for (CGRect frame : {CGRectMake(nan, 0, 10, 10), CGRectMake(-1e300, -1e300, 2e300, 2e300),
                       CGRectMake(0, 0, 1e12, 22), CGRectMake(0, 0, 100, 1e300)}) {
    add(huge, label(frame, "Area\n\t\x01"));
  }
  const host::Picture capped = host::drawPicture(huge, nan);
  EXPECT_EQ(capped.width, host::kMaxPictureSide);
  EXPECT_EQ(capped.height, host::kMaxPictureSide);
  EXPECT_EQ(std::count(capped.pixels.begin(), capped.pixels.end(), 0u),
            static_cast<long>(capped.pixels.size()));
}

}  // namespace
