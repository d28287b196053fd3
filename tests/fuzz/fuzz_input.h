// Reading a fuzzer's input as lines of text, so that seeds can be written by
// hand and mutations stay readable. Header-only; shared by the targets here.
#pragma once

#include <string>
#include <string_view>

#include "host/foundation/values.h"

namespace fuzz_input {

// The text before the first LF of `rest`, which loses it and the LF; all of
// `rest` when it holds no LF.
inline std::string_view nextLine(std::string_view& rest) {
  const size_t end = rest.find('\n');
  const std::string_view line = rest.substr(0, end);
  rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
  return line;
}

// `text` as UTF-16 code units: UTF-8, except that a byte 0xFF and the two
// bytes after it stand for one code unit (high byte first), so that a line can
// hold lone surrogates and other units that UTF-8 cannot.
inline std::u16string unitsOf(std::string_view text) {
  std::u16string units;
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (static_cast<unsigned char>(text[i]) != 0xFF) continue;
    units += toUtf16(text.substr(start, i - start));
    if (i + 2 < text.size()) {
      units += static_cast<char16_t>(static_cast<unsigned char>(text[i + 1]) << 8 |
                                     static_cast<unsigned char>(text[i + 2]));
    }
    i += 2;
    start = i + 1;
  }
  if (start < text.size()) units += toUtf16(text.substr(start));
  return units;
}

}  // namespace fuzz_input
