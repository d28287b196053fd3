// UI objects: views, windows, labels, colours and index paths.
//
// These are runtime classes (objc.h), registered by registerUIKitClasses() and
// used through messages, the way the library and the host programs use them:
//
//   UIView : NSObject
//     -initWithFrame:(CGRect) -> id        the receiver, with frame and bounds set
//     -frame -> CGRect, -setFrame:(CGRect) the bounds keep their origin and take
//                                          the frame's size
//     -bounds -> CGRect, -setBounds:(CGRect)
//                                          a new size resizes the frame about its
//                                          centre; the same size leaves the frame
//     -backgroundColor, -setBackgroundColor:(id)
//                                          a UIColor or nil; any other kind raises
//     -addSubview:(id)                     adds on top, first removing the view from
//                                          its old superview; nil does nothing; an
//                                          object that is no view, or a view added
//                                          to itself or to one of its own subviews,
//                                          raises
//     -removeFromSuperview                 does nothing without a superview
//     -subviews -> id (NSArray)            bottom to top
//     -superview -> id                     or nil
//   UIWindow : UIView
//   UILabel : UIView
//     -text -> id, -setText:(id)           a text or nil; any other kind raises
//     -textColor, -setTextColor:(id)       a UIColor or nil; any other kind raises
//     -textAlignment -> NSInteger, -setTextAlignment:(NSInteger)
//                                          0 left (the default), 1 centred, 2 right
//     -font -> id                          nil: the default font, never set here
//   UIColor : NSObject
//     +whiteColor, +clearColor, +blackColor -> id   one shared instance each
//     +colorWithRed:(CGFloat) green:(CGFloat) blue:(CGFloat) alpha:(CGFloat) -> id
//       (selector "colorWithRed:green:blue:alpha:") a new colour, components
//       kept as given; drawings clamp them to 0...1 (NaN counts as 0)
//   NSIndexPath : NSObject
//     +indexPathForRow:(NSInteger) inSection:(NSInteger) -> id
//       (selector "indexPathForRow:inSection:")
//     -row -> NSInteger, -section -> NSInteger
//
// Colours are nil (the default) until set. Values are kept as given: a label
// holds the very text it was handed, which is safe as texts are immutable.
// The exceptions raised are NSException (NSInvalidArgumentException); a method
// reached with a receiver of the wrong kind raises as for an unknown message.
//
// Ownership: a view keeps its subviews alive; its link to its superview is
// weak, so a view removed from its superview lives only as long as some other
// `id` holds it. A host class registered as a subclass of one of these without
// a factory of its own gets the same state and methods. Everything is for the
// main thread only.
#pragma once

#include <cstdint>
#include <string>

#include "host/foundation/object.h"

using CGFloat = double;
using NSInteger = long;
struct CGPoint {
  CGFloat x = 0;
  CGFloat y = 0;
};
struct CGSize {
  CGFloat width = 0;
  CGFloat height = 0;
};
struct CGRect {
  CGPoint origin;
  CGSize size;
};
inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat width, CGFloat height) {
  return CGRect{{x, y}, {width, height}};
}

inline constexpr NSInteger NSTextAlignmentLeft = 0;
inline constexpr NSInteger NSTextAlignmentCenter = 1;
inline constexpr NSInteger NSTextAlignmentRight = 2;

namespace host {

// Registers the classes above with the runtime. Safe to call more than once.
void registerUIKitClasses();

// How drawWindow draws: `subviews` adds the line naming the window's class,
// frame and bounds above the box and the list of subviews below it; the
// scales give the points that one character cell covers across and down.
struct DrawOptions {
  bool subviews = false;
  CGFloat pointsPerColumn = 8;
  CGFloat pointsPerRow = 22;
};

// Draws a window and its labels as text for a terminal: a box of the window's
// bounds size, one character cell per `pointsPerColumn` points across and
// `pointsPerRow` down, rounded, at most 512 each way; a zero, negative or NaN
// size gives an empty box. Each label under the window (nested ones too) with
// a text and a positive size is written into the row that holds its vertical
// centre, across the columns its frame covers (a wide East Asian character
// takes two), aligned as the label says, upper labels over lower ones. A text
// too long for its frame (or for the box) ends with "…" in the last cell that
// fits. With `subviews`, a first line names the window's class, frame and
// bounds, and a legend below the box lists every subview as a numbered tree,
// bottom to top: class and exact frame, and for a label its text colour,
// background colour, alignment and its text in double quotes with '"', '\'
// and control characters escaped (nil when it has none). Scales that are not
// positive numbers fall back to the defaults. For the command-line tools;
// never raises.
std::string drawWindow(const id& window, const DrawOptions& options = {});

}  // namespace host
