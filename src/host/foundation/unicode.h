// The UTF-8 and UTF-16 encodings as the platform's texts and files use them.
// Small inline functions, so that the lookup's scan of a file can use them on
// its hot path. None of them raises or allocates.
#pragma once

#include <cstddef>
#include <string_view>

namespace host {

inline bool isSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

// Decodes the UTF-8 sequence at `p`, which lies before `end`: its length in
// bytes, or 0 when it is not a valid, shortest-form sequence of a Unicode
// scalar value (so overlong forms, surrogates and values above U+10FFFF are
// refused).
inline size_t decodeUtf8(const unsigned char* p, const unsigned char* end, char32_t& codePoint) {
  const unsigned char lead = *p;
  if (lead < 0x80) {
    codePoint = lead;
    return 1;
  }
  size_t length;
  char32_t value;
  char32_t minimum;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, minimum = 0x10000;
  } else {
    return 0;
  }
  if (static_cast<size_t>(end - p) < length) return 0;
  for (size_t k = 1; k < length; ++k) {
    if ((p[k] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (p[k] & 0x3F);
  }
  if (value < minimum || value > 0x10FFFF || isSurrogate(value)) return 0;
  codePoint = value;
  return length;
}

// Writes `codePoint` as UTF-16 code units: one, or a surrogate pair. Gives how
// many it wrote.
inline size_t encodeUtf16(char32_t codePoint, char16_t (&units)[2]) {
  if (codePoint < 0x10000) {
    units[0] = static_cast<char16_t>(codePoint);
    return 1;
  }
  codePoint -= 0x10000;
  units[0] = static_cast<char16_t>(0xD800 + (codePoint >> 10));
  units[1] = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
  return 2;
}

// The code point that starts at units[i]: a surrogate pair joined (`length`
// 2), anything else, a lone surrogate included, as it stands (`length` 1).
inline char32_t codePointAt(std::u16string_view units, size_t i, size_t& length) {
  const char32_t c = units[i];
  length = 1;
  if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
      units[i + 1] <= 0xDFFF) {
    length = 2;
    return 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
  }
  return c;
}

}  // namespace host
