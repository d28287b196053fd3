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
//     -addSubview:(id)                     adds on top, first removing the view from
//                                          its old superview; a view added to itself
//                                          or to one of its own subviews raises
//     -removeFromSuperview                 does nothing without a superview
//     -subviews -> id (NSArray)            bottom to top
//     -superview -> id                     or nil
//   UIWindow : UIView
//   UILabel : UIView
//     -text -> id, -setText:(id)           a text or nil; any other kind raises
//     -textColor, -setTextColor:(id)       a UIColor or nil; any other kind raises
//     -backgroundColor, -setBackgroundColor:(id)
//     -textAlignment -> NSInteger, -setTextAlignment:(NSInteger)
//                                          0 left (the default), 1 centred, 2 right
//     -font -> id                          nil: the default font, never set here
//   UIColor : NSObject
//     +whiteColor, +clearColor, +blackColor -> id   one shared instance each
//   NSIndexPath : NSObject
//     +indexPathForRow:(NSInteger) inSection:(NSInteger) -> id
//       (selector "indexPathForRow:inSection:")
//     -row -> NSInteger, -section -> NSInteger
//
// Ownership: a view keeps its subviews alive; its link to its superview is
// weak. Everything is for the main thread only.
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

// Draws a window and its labels as text for a terminal: a frame of the
// window's size (one character cell per `pointsPerColumn` points across and
// `pointsPerRow` down) with each visible label's text placed at its frame,
// aligned as the label says, and a legend below naming each label's frame,
// colours and text exactly. For the command-line tools; never raises.
std::string drawWindow(const id& window, CGFloat pointsPerColumn = 8, CGFloat pointsPerRow = 22);

}  // namespace host
