// Finding the area of a national number in the text of an area-code file, in
// one pass over its bytes.
//
// The text is UTF-8, one record per line; a byte-order mark (EF BB BF) at its
// very start, as some editors save one, is not part of the first line. Lines end at LF, CR, CR LF,
// U+0085, U+2028 and U+2029. A record's key is its text before the first "|" and its area text the
// text after the last "|" (a line without "|" is both). A key is the calling code (its first
// `skippedUnits` UTF-16 code units, which are not compared) followed by an area prefix; it matches
// when the national number begins with that prefix. Nothing is trimmed.
//
// Of all matching keys the longest wins, so the most specific area is found;
// among matching keys of the same length the first in the file wins, and when
// one key occurs on several lines its last line gives the area text. A key
// shorter than `skippedUnits` (an empty line, say) never matches.
//
// The scan makes no heap allocation and keeps no table: it remembers only the
// best match so far, as positions within `text`.
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

struct AreaScan {
  enum class Result { noMatch, match, notUtf8 };
  Result result = Result::noMatch;
  // On a match: the area text and the whole key, views into the scanned text.
  std::string_view areaText;
  std::string_view key;
};

AreaScan scanAreaCodes(std::string_view text, size_t skippedUnits,
                       std::u16string_view nationalNumber);
