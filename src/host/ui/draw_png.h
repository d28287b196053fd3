// Pictures of windows: the same views, labels, frames, colours and text
// alignment that drawWindow (uikit.h) writes as text, drawn with cairo and
// pango into pixels and PNG files.
//
// A picture covers the window's bounds at `scale` pixels per point (the
// window's bounds origin is its top left corner). The window's background
// colour fills it (nil leaves it transparent); then every subview, bottom to
// top and nested ones inside their superviews, fills its frame with its
// background colour, and every label with a text draws that text on one line
// in the default font (17-point Noto Sans, with the system's fallback fonts
// for scripts it lacks), in its text colour (black when nil), vertically
// centred in its frame, aligned as the label says (0 left, 1 centred, 2
// right; any other value left) and clipped to its frame. A text wider than its
// frame ends with "…". Control characters show as blanks. Colour components
// are clamped to 0...1, NaN counting as 0. A view whose frame is not a
// positive size draws nothing itself, but its subviews are drawn; one whose
// frame is not finite draws nothing, subviews included; a label further than
// a million points from the window, or larger than that, shows no text.
//
// Only host programs, tools and tests use this file; it links cairo and
// pango, which the library and the lookup never need. Everything is for the
// main thread only and nothing raises: a failure is given back as a message.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/foundation/object.h"

namespace host {

// Pixels, row by row from the top, each 0xAARRGGBB with the colour
// premultiplied by its alpha (cairo's ARGB32). Empty when there was nothing to
// draw. A picture owns its pixels and keeps no link to the window it shows.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  uint32_t at(int x, int y) const {
    return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

// The largest picture drawn, in pixels each way; larger windows are cut.
inline constexpr int kMaxPictureSide = 4096;

// Draws `window` at `scale` pixels per point (not a positive finite number:
// 2). The picture is empty when `window` is nil, no view, or has bounds that
// are not a positive size.
Picture drawPicture(const id& window, double scale = 2);

// Draws `window` as drawPicture does and writes it to `path` as a PNG file,
// replacing what is there. Gives an empty text when done, else why not.
std::string writeWindowPng(const id& window, const std::string& path, double scale = 2);

// Reads the PNG file at `path` into `picture`. Gives an empty text when done,
// else why not (and leaves `picture` empty).
std::string readPng(const std::string& path, Picture& picture);

}  // namespace host
