// host::drawWindow: a window and its labels as plain text.
//
// The box is a grid of character cells; each label is written into the row
// that holds its vertical centre, across the columns its frame covers, and
// clipped to the window; a text that does not fit ends with "…". The legend
// below the box (on request) is the exact record: frames in shortest
// round-trip notation, colours, alignment and the text quoted and escaped, so
// that blanks and control characters can be seen.

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "host/foundation/unicode.h"
#include "host/foundation/values.h"
#include "host/ui/ui_objects.h"
#include "host/ui/uikit.h"

namespace host {
namespace {

using ui::Color;
using ui::Label;
using ui::View;

// Larger windows are cut to this many cells each way.
constexpr long kMaxCells = 512;

// One character of a label's text and the number of cells it takes.
struct Glyph {
  std::string utf8;
  int width;
};

// The terminal cells: each holds one character's UTF-8, or "" for the second
// half of a wide character.
class Grid {
 public:
  Grid(long rows, long columns)
      : rows_(rows), columns_(columns), cells_(static_cast<size_t>(rows * columns), " ") {}

  // Writes `glyph` at (row, column) when all of it falls inside the grid. A
  // wide character that would be cut in half is not written.
  void put(long row, long column, const Glyph& glyph) {
    if (row < 0 || row >= rows_ || column < 0 || column + glyph.width > columns_) return;
    for (long c = column; c < column + glyph.width; ++c) clear(row, c);
    at(row, column) = glyph.utf8;
    if (glyph.width == 2) at(row, column + 1).clear();
  }

  long columns() const { return columns_; }

  std::string line(long row) const {
    std::string out;
    for (long c = 0; c < columns_; ++c) out += cells_[static_cast<size_t>(row * columns_ + c)];
    return out;
  }

 private:
  std::string& at(long row, long column) {
    return cells_[static_cast<size_t>(row * columns_ + column)];
  }

  // Empties one cell, blanking the other half of a wide character it belongs to.
  void clear(long row, long column) {
    if (at(row, column).empty() && column > 0) at(row, column - 1).assign(1, ' ');
    if (column + 1 < columns_ && at(row, column + 1).empty()) at(row, column + 1).assign(1, ' ');
    at(row, column).assign(1, ' ');
  }

  long rows_;
  long columns_;
  std::vector<std::string> cells_;
};

bool isWide(char32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
         (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
         (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) ||
         (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F900 && c <= 0x1F9FF) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

// The characters of a text as cells. Control characters show as blanks and
// lone surrogates as U+FFFD.
std::vector<Glyph> glyphsOf(const std::u16string& units) {
  std::vector<Glyph> glyphs;
  for (size_t i = 0, length; i < units.size(); i += length) {
    const char32_t c = codePointAt(units, i, length);
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) {
      glyphs.push_back({" ", 1});
    } else {
      glyphs.push_back({toUtf8(units.substr(i, length)), isWide(c) ? 2 : 1});
    }
  }
  return glyphs;
}

// A count of cells from a length in points: rounded, 0 for anything not
// positive (NaN included), at most kMaxCells.
long cellCount(CGFloat cells) {
  if (!(cells > 0)) return 0;
  if (cells >= kMaxCells) return kMaxCells;
  return std::lround(cells);
}

// A cell position, kept within a range that cannot overflow.
long cellIndex(CGFloat position) {
  if (std::isnan(position)) return -1;
  if (position > 4 * kMaxCells) return 4 * kMaxCells;
  if (position < -4 * kMaxCells) return -4 * kMaxCells;
  return std::lround(position);
}

struct Scale {
  CGFloat column;
  CGFloat row;
};

void drawLabel(const Label& label, CGPoint offset, Scale scale, Grid& grid) {
  const CGRect& f = label.frame;
  auto* text = objectAs<NSString>(label.text);
  if (!text || !(f.size.width > 0) || !(f.size.height > 0)) return;
  CGFloat x = offset.x + f.origin.x;
  CGFloat y = offset.y + f.origin.y;
  if (!std::isfinite(x) || !std::isfinite(y)) return;
  long first = cellIndex(x / scale.column);
  long last = cellIndex((x + f.size.width) / scale.column);
  long row = cellIndex(std::floor((y + f.size.height / 2) / scale.row));
  long span = last - first;
  if (span <= 0) return;

  // Only the columns inside the box count, so that a label running past the
  // window's edge also shows that its text goes on.
  const long visibleFirst = std::max(first, 0L);
  const long visibleLast = std::min(last, grid.columns());
  std::vector<Glyph> glyphs = glyphsOf(text->units());
  long total = 0;
  for (const Glyph& glyph : glyphs) total += glyph.width;
  const long room = std::max(0L, visibleLast - visibleFirst);
  if (total > room) {
    // Keeps what fits in front of the ellipsis, which takes one cell.
    long width = 0;
    size_t shown = 0;
    while (shown < glyphs.size() && width + glyphs[shown].width <= room - 1) {
      width += glyphs[shown++].width;
    }
    glyphs.resize(shown);
    if (room > 0) glyphs.push_back({"\u2026", 1});
    total = width + (room > 0 ? 1 : 0);
    first = visibleFirst;
    last = visibleLast;
    span = room;
  }
  long column = first;
  if (label.textAlignment == NSTextAlignmentCenter) column = first + (span - total) / 2;
  if (label.textAlignment == NSTextAlignmentRight) column = last - total;
  for (const Glyph& glyph : glyphs) {
    grid.put(row, column, glyph);
    column += glyph.width;
  }
}

// Draws every label under `view`, bottom to top, so that upper labels cover
// lower ones. `offset` is where the view's bounds origin lies in the window.
void drawLabels(const View& view, CGPoint offset, Scale scale, Grid& grid) {
  for (const id& child : view.subviews) {
    auto* sub = objectAs<View>(child);
    if (!sub) continue;
    if (auto* label = objectAs<Label>(child)) drawLabel(*label, offset, scale, grid);
    CGPoint inner{offset.x + sub->frame.origin.x - sub->bounds.origin.x,
                  offset.y + sub->frame.origin.y - sub->bounds.origin.y};
    drawLabels(*sub, inner, scale, grid);
  }
}

// ---- the legend ------------------------------------------------------------

std::string number(CGFloat value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, result.ptr);
}

std::string rect(const CGRect& r) {
  std::string out(1, '(');
  for (CGFloat value : {r.origin.x, r.origin.y, r.size.width, r.size.height}) {
    if (out.size() > 1) out += ", ";
    out += number(value);
  }
  out += ')';
  return out;
}

std::string colour(const id& value) {
  if (!value) return "default";
  auto* c = objectAs<Color>(value);
  if (!c) return value->kindName();
  if (!c->name.empty()) return c->name;
  return "rgba(" + number(c->red) + ", " + number(c->green) + ", " + number(c->blue) + ", " +
         number(c->alpha) + ")";
}

std::string alignment(NSInteger value) {
  switch (value) {
    case NSTextAlignmentLeft:
      return "0 (left)";
    case NSTextAlignmentCenter:
      return "1 (centred)";
    case NSTextAlignmentRight:
      return "2 (right)";
    default:
      return std::to_string(value);
  }
}

// A text in double quotes, with quotes, backslashes, control characters and
// lone surrogates escaped; nil as nil.
std::string quoted(const id& text) {
  auto* string = objectAs<NSString>(text);
  if (!string) return "nil";
  const std::u16string& units = string->units();
  std::string out = "\"";
  for (size_t i = 0, length; i < units.size(); i += length) {
    const char32_t c = codePointAt(units, i, length);
    if (length == 2) {
      out += toUtf8(units.substr(i, 2));
    } else if (c == u'"' || c == u'\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == u'\n') {
      out += "\\n";
    } else if (c == u'\t') {
      out += "\\t";
    } else if (c == u'\r') {
      out += "\\r";
    } else if (c < 0x20 || (c >= 0x7F && c < 0xA0) || isSurrogate(c)) {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
      out += buffer;
    } else {
      out += toUtf8(units.substr(i, 1));
    }
  }
  return out + "\"";
}

void describeSubviews(const View& view, const std::string& prefix, std::string& out) {
  int index = 0;
  for (const id& child : view.subviews) {
    std::string number = prefix + std::to_string(++index);
    std::string indent(2 * (1 + std::count(prefix.begin(), prefix.end(), '.')), ' ');
    out += indent + number + ". " + child->kindName();
    if (auto* sub = objectAs<View>(child)) {
      out += " frame " + rect(sub->frame);
      if (auto* label = objectAs<Label>(child)) {
        out += " textColor " + colour(label->textColor) + " backgroundColor " +
               colour(label->backgroundColor) + " alignment " + alignment(label->textAlignment) +
               " text " + quoted(label->text);
      } else {
        out += " backgroundColor " + colour(sub->backgroundColor);
      }
      out += "\n";
      describeSubviews(*sub, number + ".", out);
    } else {
      out += "\n";
    }
  }
}

}  // namespace

std::string drawWindow(const id& window, const DrawOptions& options) {
  if (!window) return "(no window)\n";
  auto* root = objectAs<View>(window);
  if (!root) return std::string("(not a view: ") + window->kindName() + ")\n";
  CGFloat pointsPerColumn = options.pointsPerColumn;
  CGFloat pointsPerRow = options.pointsPerRow;
  if (!(pointsPerColumn > 0) || !std::isfinite(pointsPerColumn)) pointsPerColumn = 8;
  if (!(pointsPerRow > 0) || !std::isfinite(pointsPerRow)) pointsPerRow = 22;

  const CGRect& bounds = root->bounds;
  long columns = cellCount(bounds.size.width / pointsPerColumn);
  long rows = cellCount(bounds.size.height / pointsPerRow);
  Grid grid(rows, columns);
  drawLabels(*root, {-bounds.origin.x, -bounds.origin.y}, {pointsPerColumn, pointsPerRow}, grid);

  std::string out;
  if (options.subviews) {
    out += std::string(window->kindName()) + " frame " + rect(root->frame) + " bounds " +
           rect(bounds) + "\n";
  }
  std::string edge(static_cast<size_t>(columns) + 2, '-');
  edge.front() = edge.back() = '+';
  edge += '\n';
  out += edge;
  for (long r = 0; r < rows; ++r) {
    out += '|';
    out += grid.line(r);
    out += "|\n";
  }
  out += edge;
  if (!options.subviews) return out;
  if (root->subviews.empty()) {
    out += "no subviews\n";
  } else {
    out += "subviews, bottom to top:\n";
    describeSubviews(*root, "", out);
  }
  return out;
}

}  // namespace host
