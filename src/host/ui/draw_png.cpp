// host::drawPicture: a window and its views as pixels, drawn with cairo and
// laid out with pango.
//
// The view tree is walked as drawWindow walks it, with each view's place in
// the window worked out here rather than through cairo's transformation, so
// that absurd frames cannot put the cairo context into an error state: a
// rectangle is clamped to a little beyond the picture before it is filled, and
// a label whose frame lies more than a million points away is not laid out.

#include "host/ui/draw_png.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>

#include "host/foundation/unicode.h"
#include "host/foundation/values.h"
#include "host/ui/ui_objects.h"

namespace host {
namespace {

using ui::Color;
using ui::Label;
using ui::View;

constexpr double kDefaultScale = 2;
constexpr double kFontPoints = 17;  // UIKit's default label font size
constexpr const char* kFontFamily = "Noto Sans";
constexpr double kFarAway = 1e6;  // points

struct SurfaceDeleter {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct ContextDeleter {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
struct LayoutDeleter {
  void operator()(PangoLayout* layout) const { g_object_unref(layout); }
};
struct FontDeleter {
  void operator()(PangoFontDescription* font) const { pango_font_description_free(font); }
};
using Surface = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;
using Context = std::unique_ptr<cairo_t, ContextDeleter>;
using Layout = std::unique_ptr<PangoLayout, LayoutDeleter>;
using Font = std::unique_ptr<PangoFontDescription, FontDeleter>;

double unit(double component) {
  if (!(component > 0)) return 0;
  return std::min(component, 1.0);
}

// Sets `value`'s colour on `cr`; false for nil (nothing to draw).
bool setColour(cairo_t* cr, const id& value, bool blackWhenNil) {
  auto* colour = objectAs<Color>(value);
  if (!colour) {
    if (!blackWhenNil) return false;
    cairo_set_source_rgba(cr, 0, 0, 0, 1);
    return true;
  }
  cairo_set_source_rgba(cr, unit(colour->red), unit(colour->green), unit(colour->blue),
                        unit(colour->alpha));
  return true;
}

bool finiteRect(double x, double y, double width, double height) {
  return std::isfinite(x) && std::isfinite(y) && std::isfinite(width) && std::isfinite(height);
}

// The text as pango takes it: valid UTF-8 on one line, control characters as
// blanks.
std::string oneLine(const std::u16string& units) {
  std::string out;
  for (size_t i = 0, length; i < units.size(); i += length) {
    const char32_t c = codePointAt(units, i, length);
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029) {
      out += ' ';
    } else {
      out += toUtf8(units.substr(i, length));
    }
  }
  return out;
}

class Painter {
 public:
  Painter(cairo_t* cr, CGSize size) : cr_(cr), size_(size) {
    font_.reset(pango_font_description_new());
    pango_font_description_set_family(font_.get(), kFontFamily);
    pango_font_description_set_absolute_size(font_.get(), kFontPoints * PANGO_SCALE);
  }

  // Fills a rectangle of the window's coordinates, clamped to just beyond the
  // picture.
  void fill(double x, double y, double width, double height) {
    double left = std::max(x, -1.0);
    double top = std::max(y, -1.0);
    double right = std::min(x + width, size_.width + 1);
    double bottom = std::min(y + height, size_.height + 1);
    if (!(right > left) || !(bottom > top)) return;
    cairo_rectangle(cr_, left, top, right - left, bottom - top);
    cairo_fill(cr_);
  }

  void drawText(const Label& label, double x, double y) {
    auto* text = objectAs<NSString>(label.text);
    const CGSize& size = label.frame.size;
    if (!text || text->units().empty()) return;
    if (std::abs(x) > kFarAway || std::abs(y) > kFarAway || size.width > kFarAway ||
        size.height > kFarAway) {
      return;
    }
    Layout layout(pango_cairo_create_layout(cr_));
    const std::string utf8 = oneLine(text->units());
    pango_layout_set_font_description(layout.get(), font_.get());
    pango_layout_set_single_paragraph_mode(layout.get(), TRUE);
    pango_layout_set_text(layout.get(), utf8.data(), static_cast<int>(utf8.size()));
    pango_layout_set_width(layout.get(), static_cast<int>(size.width * PANGO_SCALE));
    pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_END);
    pango_layout_set_alignment(layout.get(),
                               label.textAlignment == NSTextAlignmentCenter  ? PANGO_ALIGN_CENTER
                               : label.textAlignment == NSTextAlignmentRight ? PANGO_ALIGN_RIGHT
                                                                             : PANGO_ALIGN_LEFT);
    PangoRectangle logical;
    pango_layout_get_extents(layout.get(), nullptr, &logical);
    const double lineHeight = static_cast<double>(logical.height) / PANGO_SCALE;

    cairo_save(cr_);
    cairo_rectangle(cr_, x, y, size.width, size.height);
    cairo_clip(cr_);
    setColour(cr_, label.textColor, true);
    cairo_move_to(cr_, x, y + (size.height - lineHeight) / 2);
    pango_cairo_show_layout(cr_, layout.get());
    cairo_restore(cr_);
  }

  // Draws the subviews of a view whose bounds origin lies at (x, y) in the
  // window, bottom to top.
  void drawSubviews(const View& view, double x, double y) {
    for (const id& child : view.subviews) {
      auto* sub = objectAs<View>(child);
      if (!sub) continue;
      const CGRect& f = sub->frame;
      const double left = x + f.origin.x;
      const double top = y + f.origin.y;
      if (!finiteRect(left, top, f.size.width, f.size.height)) continue;
      if (f.size.width > 0 && f.size.height > 0) {
        if (setColour(cr_, sub->backgroundColor, false)) {
          fill(left, top, f.size.width, f.size.height);
        }
        if (auto* label = objectAs<Label>(child)) drawText(*label, left, top);
      }
      const double innerX = left - sub->bounds.origin.x;
      const double innerY = top - sub->bounds.origin.y;
      if (std::isfinite(innerX) && std::isfinite(innerY)) drawSubviews(*sub, innerX, innerY);
    }
  }

 private:
  cairo_t* cr_;
  CGSize size_;
  Font font_;
};

// A side of the picture in pixels: 0 for a size that is not positive.
int pixels(double points, double scale) {
  const double value = std::ceil(points * scale);
  if (!(value >= 1)) return 0;
  return static_cast<int>(std::min(value, static_cast<double>(kMaxPictureSide)));
}

Picture pictureOf(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  Picture picture;
  picture.width = cairo_image_surface_get_width(surface);
  picture.height = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  picture.pixels.resize(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height));
  for (int y = 0; y < picture.height; ++y) {
    std::memcpy(&picture.pixels[static_cast<size_t>(y) * static_cast<size_t>(picture.width)],
                data + static_cast<ptrdiff_t>(y) * stride,
                static_cast<size_t>(picture.width) * sizeof(uint32_t));
  }
  return picture;
}

cairo_status_t appendTo(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

}  // namespace

// fontconfig, which pango asks for fonts, keeps its configuration and font
// caches until the process ends. In sanitized builds the leak checker is told
// not to count them, for every program that draws pictures.
#if defined(__SANITIZE_ADDRESS__)
#define ZELVORA_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELVORA_LEAK_CHECKED 1
#endif
#endif
#ifdef ZELVORA_LEAK_CHECKED
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\n";
}
#endif

Picture drawPicture(const id& window, double scale) {
  auto* root = objectAs<View>(window);
  if (!root) return {};
  if (!(scale > 0) || !std::isfinite(scale)) scale = kDefaultScale;
  const CGRect& bounds = root->bounds;
  const int width = pixels(bounds.size.width, scale);
  const int height = pixels(bounds.size.height, scale);
  if (width == 0 || height == 0) return {};

  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  Context cr(cairo_create(surface.get()));
  if (cairo_status(cr.get()) != CAIRO_STATUS_SUCCESS) return {};
  cairo_scale(cr.get(), scale, scale);
  const CGSize size{width / scale, height / scale};
  Painter painter(cr.get(), size);
  if (setColour(cr.get(), root->backgroundColor, false))
    painter.fill(0, 0, size.width, size.height);
  painter.drawSubviews(*root, -bounds.origin.x, -bounds.origin.y);
  return pictureOf(surface.get());
}

std::string writeWindowPng(const id& window, const std::string& path, double scale) {
  Picture picture = drawPicture(window, scale);
  if (picture.pixels.empty()) return "nothing to draw: the window has no area";
  Surface surface(cairo_image_surface_create_for_data(
      reinterpret_cast<unsigned char*>(picture.pixels.data()), CAIRO_FORMAT_ARGB32, picture.width,
      picture.height, picture.width * static_cast<int>(sizeof(uint32_t))));
  std::string png;
  cairo_status_t status = cairo_surface_write_to_png_stream(surface.get(), &appendTo, &png);
  if (status != CAIRO_STATUS_SUCCESS) {
    return std::string("cannot encode the picture: ") + cairo_status_to_string(status);
  }
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return "cannot write " + path + ": " + std::strerror(errno);
  const bool written = std::fwrite(png.data(), 1, png.size(), file) == png.size();
  const int writeError = errno;
  if (std::fclose(file) != 0 || !written) {
    return "cannot write " + path + ": " + std::strerror(written ? errno : writeError);
  }
  return {};
}

std::string readPng(const std::string& path, Picture& picture) {
  picture = {};
  Surface loaded(cairo_image_surface_create_from_png(path.c_str()));
  cairo_status_t status = cairo_surface_status(loaded.get());
  if (status != CAIRO_STATUS_SUCCESS) {
    return "cannot read " + path + ": " + cairo_status_to_string(status);
  }
  // Brings any PNG (grey, without alpha, ...) to premultiplied ARGB32.
  const int width = cairo_image_surface_get_width(loaded.get());
  const int height = cairo_image_surface_get_height(loaded.get());
  Surface argb(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height));
  Context cr(cairo_create(argb.get()));
  cairo_set_operator(cr.get(), CAIRO_OPERATOR_SOURCE);
  cairo_set_source_surface(cr.get(), loaded.get(), 0, 0);
  cairo_paint(cr.get());
  picture = pictureOf(argb.get());
  return {};
}

}  // namespace host
