#include "host/foundation/plist_depth.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace host::plist {
namespace {

// ---- XML

// A cursor over XML text that moves the way libplist's reader moves. Each
// step gives false where the reader would stop with an error.
class XmlCursor {
 public:
  explicit XmlCursor(std::string_view text) : pos_(text.data()), end_(text.data() + text.size()) {}

  bool atEnd() const { return pos_ >= end_; }
  char peek() const { return *pos_; }
  const char* position() const { return pos_; }
  const char* end() const { return end_; }
  void advance(size_t count) { pos_ = std::min(end_, pos_ + count); }
  bool startsWith(std::string_view text) const {
    return size_t(end_ - pos_) >= text.size() && std::memcmp(pos_, text.data(), text.size()) == 0;
  }

  void skipWhiteSpace() {
    while (pos_ < end_ && (*pos_ == ' ' || *pos_ == '\t' || *pos_ == '\r' || *pos_ == '\n')) ++pos_;
  }

  // Moves to the next `c`; false when there is none.
  bool findChar(char c) {
    while (pos_ < end_ && *pos_ != c) ++pos_;
    return pos_ < end_;
  }

  // Moves past a quoted text that starts at the cursor ('"'), onto its closing
  // quote; false when it is not closed.
  bool skipQuoted() {
    ++pos_;
    return findChar('"');
  }

  // Moves to the start of `text`, optionally stepping over quoted texts; false
  // when it does not occur.
  bool findText(std::string_view text, bool skipQuotes) {
    while (pos_ < end_) {
      if (startsWith(text)) return true;
      if (skipQuotes && *pos_ == '"' && !skipQuoted()) return false;
      ++pos_;
    }
    return false;
  }

  // Moves to the next of `chars`, optionally stepping over quoted texts.
  bool findAny(std::string_view chars, bool skipQuotes) {
    while (pos_ < end_) {
      if (skipQuotes && *pos_ == '"' && !skipQuoted()) return false;
      if (chars.find(*pos_) != std::string_view::npos) return true;
      ++pos_;
    }
    return false;
  }

 private:
  const char* pos_;
  const char* end_;
};

// How many "<dict" and "<array" there are from `from` on: the most levels the
// rest of the text could add.
size_t openingsFrom(const char* from, const char* end) {
  size_t count = 0;
  for (const char* p = from; p < end; ++p) {
    if (*p != '<') continue;
    std::string_view rest(p + 1, size_t(end - p - 1));
    if (rest.starts_with("dict") || rest.starts_with("array")) ++count;
  }
  return count;
}

// The text of a value tag (a key, string, number, date, data or boolean), up
// to and past its closing tag `</name>`. Comments and CDATA sections inside
// are skipped; any other tag inside stops the reader.
bool skipValueText(XmlCursor& in, std::string_view name) {
  for (;;) {
    if (!in.findChar('<')) return false;
    in.advance(1);
    if (in.startsWith("!--")) {
      in.advance(3);
      if (!in.findText("-->", false)) return false;
      in.advance(3);
    } else if (in.startsWith("![CDATA[")) {
      in.advance(8);
      if (!in.findText("]]>", false)) return false;
      in.advance(3);
    } else if (in.startsWith("/")) {
      in.advance(1);
      if (!in.startsWith(name)) return false;
      in.advance(name.size());
      in.skipWhiteSpace();
      if (in.atEnd() || in.peek() != '>') return false;
      in.advance(1);
      return true;
    } else {
      return false;
    }
  }
}

// A document type declaration, from just after "<!DOCTYPE".
bool skipDocumentType(XmlCursor& in) {
  for (;;) {
    if (!in.findAny(" \t\r\n[>", true)) return false;
    if (in.peek() == '[') {
      if (!in.findText("]>", true)) return false;
      in.advance(2);
      return true;
    }
    if (in.peek() == '>') {
      in.advance(1);
      return true;
    }
    in.skipWhiteSpace();
  }
}

bool isValueTag(std::string_view name) {
  for (std::string_view known :
       {"key", "string", "integer", "real", "true", "false", "data", "date"})
    if (name == known) return true;
  return false;
}

Nesting checkXml(std::string_view text, int maxDepth) {
  XmlCursor in(text);
  int depth = 0;
  // Where the walk cannot follow the text, every opening from there on counts.
  auto lost = [&] {
    size_t more = openingsFrom(in.position(), in.end());
    return size_t(depth) + more > size_t(maxDepth) ? Nesting::tooDeep : Nesting::fits;
  };
  for (;;) {
    in.skipWhiteSpace();
    if (in.atEnd()) return Nesting::fits;
    if (in.peek() != '<') return lost();
    in.advance(1);
    if (in.atEnd()) return Nesting::fits;
    if (in.peek() == '?') {
      if (!in.findText("?>", true)) return lost();
      in.advance(2);
      continue;
    }
    if (in.peek() == '!') {
      if (in.startsWith("!--")) {
        in.advance(3);
        if (!in.findText("-->", false)) return lost();
        in.advance(3);
      } else if (in.startsWith("!DOCTYPE")) {
        in.advance(8);
        if (!skipDocumentType(in)) return lost();
      } else {
        return lost();
      }
      continue;
    }
    const char* nameStart = in.position();
    if (!in.findAny(" \r\n\t<>", false)) return lost();
    std::string_view name(nameStart, size_t(in.position() - nameStart));
    if (in.peek() != '>' && !in.findAny("<>", true)) return lost();
    if (in.peek() != '>') return lost();
    const bool empty = in.position()[-1] == '/';
    if (empty && name.ends_with('/')) name.remove_suffix(1);
    in.advance(1);
    if (name == "dict" || name == "array") {
      if (!empty && ++depth > maxDepth) return Nesting::tooDeep;
    } else if (name == "/dict" || name == "/array") {
      if (depth > 0) --depth;
    } else if (isValueTag(name)) {
      if (!empty && !skipValueText(in, name)) return lost();
    } else if (name != "plist" && name != "/plist") {
      return lost();
    }
  }
}

// ---- binary

// The header fields of a binary property list that the walk needs.
struct BinaryLayout {
  std::string_view bytes;
  unsigned offsetSize = 0;
  unsigned refSize = 0;
  uint64_t objectCount = 0;
  uint64_t topObject = 0;
  uint64_t offsetTable = 0;
};

uint64_t bigEndian(const char* p, unsigned size) {
  uint64_t value = 0;
  for (unsigned i = 0; i < size; ++i) value = (value << 8) | uint8_t(p[i]);
  return value;
}

std::optional<BinaryLayout> binaryLayout(std::string_view bytes) {
  constexpr size_t kHeader = 8, kTrailer = 32;
  if (bytes.size() < kHeader + kTrailer) return std::nullopt;
  const char* trailer = bytes.data() + bytes.size() - kTrailer;
  BinaryLayout layout;
  layout.bytes = bytes;
  layout.offsetSize = uint8_t(trailer[6]);
  layout.refSize = uint8_t(trailer[7]);
  layout.objectCount = bigEndian(trailer + 8, 8);
  layout.topObject = bigEndian(trailer + 16, 8);
  layout.offsetTable = bigEndian(trailer + 24, 8);
  if (layout.offsetSize < 1 || layout.offsetSize > 8 || layout.refSize < 1 || layout.refSize > 8 ||
      layout.objectCount == 0 || layout.topObject >= layout.objectCount ||
      layout.offsetTable >= bytes.size() ||
      layout.objectCount > (bytes.size() - layout.offsetTable) / layout.offsetSize) {
    return std::nullopt;
  }
  return layout;
}

// Where the references of a container object begin and how many there are
// (keys and values both, for a dictionary); none for an object that is not a
// container, or that does not fit in the file.
struct Children {
  uint64_t first = 0;  // offset of the first reference
  uint64_t count = 0;
};

// The length in the marker of the object at `at` (its low four bits, or the
// integer after it when they are all set) and where the object's contents
// begin; false when that integer does not fit in the file.
bool objectLength(std::string_view bytes, uint64_t at, uint64_t& count, uint64_t& next) {
  count = uint8_t(bytes[at]) & 0x0F;
  next = at + 1;
  if (count != 0x0F) return true;
  if (next >= bytes.size() || (uint8_t(bytes[next]) >> 4) != 0x1) return false;
  unsigned size = 1u << (uint8_t(bytes[next]) & 0x0F);
  if (size > 8 || next + 1 + size > bytes.size()) return false;
  count = bigEndian(bytes.data() + next + 1, size);
  next += 1 + size;
  return true;
}

std::optional<Children> childrenOf(const BinaryLayout& layout, uint64_t object, bool& malformed) {
  const std::string_view bytes = layout.bytes;
  uint64_t at =
      bigEndian(bytes.data() + layout.offsetTable + object * layout.offsetSize, layout.offsetSize);
  if (at >= bytes.size()) {
    malformed = true;
    return std::nullopt;
  }
  const uint8_t marker = uint8_t(bytes[at]);
  const uint8_t kind = marker >> 4;
  if (kind != 0xA && kind != 0xB && kind != 0xC && kind != 0xD) return std::nullopt;
  uint64_t count = 0;
  uint64_t next = 0;
  if (!objectLength(bytes, at, count, next)) {
    malformed = true;
    return std::nullopt;
  }
  if (kind == 0xD) {
    if (count > UINT64_MAX / 2) {
      malformed = true;
      return std::nullopt;
    }
    count *= 2;
  }
  if (count > (bytes.size() - next) / layout.refSize) {
    malformed = true;
    return std::nullopt;
  }
  return Children{next, count};
}

// Whether `object` is a UTF-16 string holding the code unit U+0000. libplist
// 2.2 cannot hand such a string out (as a dictionary key it stops the process
// on a failed assertion), so a file with one is refused as malformed before
// libplist sees it. Sets `malformed` when the string does not fit in the file.
bool utf16StringHoldsNul(const BinaryLayout& layout, uint64_t object, bool& malformed) {
  const std::string_view bytes = layout.bytes;
  uint64_t at =
      bigEndian(bytes.data() + layout.offsetTable + object * layout.offsetSize, layout.offsetSize);
  if (at >= bytes.size() || (uint8_t(bytes[at]) >> 4) != 0x6) return false;
  uint64_t count = 0;
  uint64_t next = 0;
  if (!objectLength(bytes, at, count, next)) {
    malformed = true;
    return false;
  }
  if (count > (bytes.size() - next) / 2) {
    malformed = true;
    return false;
  }
  for (uint64_t unit = 0; unit < count; ++unit) {
    if (bytes[next + 2 * unit] == 0 && bytes[next + 2 * unit + 1] == 0) return true;
  }
  return false;
}

Nesting checkBinary(std::string_view bytes, int maxDepth, size_t maxValues) {
  std::optional<BinaryLayout> found = binaryLayout(bytes);
  if (!found) return Nesting::malformed;
  const BinaryLayout& layout = *found;
  const size_t objects = size_t(layout.objectCount);

  enum : uint8_t { unseen, open, done };
  std::vector<uint8_t> state(objects, unseen);
  std::vector<uint8_t> depthOf(objects, 0);    // container levels, capped at maxDepth + 1
  std::vector<uint32_t> valuesOf(objects, 0);  // values built, capped at maxValues + 1
  const uint32_t valueCap = uint32_t(std::min<size_t>(maxValues, UINT32_MAX - 1) + 1);

  struct Frame {
    uint64_t object;
    Children children;
    uint64_t nextChild;
    uint8_t depth;
    uint32_t values;
  };
  std::vector<Frame> stack;
  bool malformed = false;

  // Enters `object`, or settles it at once when it is no container. Gives
  // false when the walk must stop.
  auto enter = [&](uint64_t object) -> bool {
    std::optional<Children> children = childrenOf(layout, object, malformed);
    if (malformed) return false;
    if (!children) {
      if (utf16StringHoldsNul(layout, object, malformed)) malformed = true;
      if (malformed) return false;
      state[object] = done;
      depthOf[object] = 0;
      valuesOf[object] = 1;
      return true;
    }
    state[object] = open;
    stack.push_back({object, *children, 0, 1, 1});
    return true;
  };

  if (!enter(layout.topObject)) return Nesting::malformed;
  while (!stack.empty()) {
    if (stack.size() > size_t(maxDepth)) return Nesting::tooDeep;
    Frame& frame = stack.back();
    if (frame.nextChild == frame.children.count) {
      const Frame finished = frame;
      stack.pop_back();
      state[finished.object] = done;
      depthOf[finished.object] = finished.depth;
      valuesOf[finished.object] = finished.values;
      if (finished.depth > maxDepth) return Nesting::tooDeep;
      if (finished.values >= valueCap) return Nesting::tooManyValues;
      if (!stack.empty()) {
        Frame& parent = stack.back();
        parent.depth =
            uint8_t(std::max<int>(parent.depth, std::min(finished.depth + 1, maxDepth + 1)));
        parent.values = std::min<uint32_t>(valueCap, parent.values + finished.values);
      }
      continue;
    }
    const uint64_t child =
        bigEndian(layout.bytes.data() + frame.children.first + frame.nextChild * layout.refSize,
                  layout.refSize);
    ++frame.nextChild;
    if (child >= layout.objectCount) return Nesting::malformed;
    if (state[child] == open) return Nesting::tooDeep;  // a cycle
    if (state[child] == done) {
      frame.depth = uint8_t(std::max<int>(frame.depth, std::min(depthOf[child] + 1, maxDepth + 1)));
      frame.values = std::min<uint32_t>(valueCap, frame.values + valuesOf[child]);
      if (frame.depth > maxDepth) return Nesting::tooDeep;
      if (frame.values >= valueCap) return Nesting::tooManyValues;
      continue;
    }
    const size_t before = stack.size();
    if (!enter(child)) return Nesting::malformed;
    if (stack.size() == before) {  // a value that is no container
      Frame& parent = stack.back();
      parent.values = std::min<uint32_t>(valueCap, parent.values + 1);
      if (parent.values >= valueCap) return Nesting::tooManyValues;
    }
  }
  return Nesting::fits;
}

}  // namespace

Nesting checkNesting(std::string_view bytes, int maxDepth, size_t maxValues) {
  if (maxDepth < 1) maxDepth = 1;
  if (maxDepth > 250) maxDepth = 250;  // the binary walk keeps levels in a byte
  if (bytes.starts_with("bplist00")) return checkBinary(bytes, maxDepth, maxValues);
  return checkXml(bytes, maxDepth);
}

}  // namespace host::plist
