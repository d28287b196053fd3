// A compact index of one area-code file's text, built once and then asked
// for the area of many national numbers.
//
// It answers exactly as scanAreaCodes (lookup/area_scan.h) answers on the same
// text: the same lines, records, keys and area texts; the longest matching key
// wins; among keys of the same length the first in the text wins; a key on
// several lines takes its area text from the last of them; a key shorter than
// the calling code never matches. A text that is not valid UTF-8 anywhere
// gives no index, as the scan gives notUtf8.
//
// Keys whose compared part is made of at most kMaxNumericDigits ASCII digits
// (nearly all keys of real files) are held as 64-bit numbers in one sorted
// array; any other key is held as its UTF-16 code units in a second, sorted
// array. Every distinct area text is stored once. The index owns all it holds
// and keeps no reference to the text it was built from. Building allocates
// (it may throw std::bad_alloc); finding neither allocates nor throws.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The longest digit prefix held as a number; longer ones are held as text.
inline constexpr size_t kMaxNumericDigits = 17;

// Prefixes of up to this many digits are held in 32 bits.
inline constexpr size_t kNarrowDigits = 9;

struct AreaIndex {
  // Prefixes of digits, as the numbers they spell, grouped by digit count n
  // and ascending within each group: positions keyStarts[n] to
  // keyStarts[n + 1] of the narrow keys followed by the wide ones (n up to
  // kNarrowDigits in narrowKeys, longer ones in wideKeys). The area number
  // of the key at each position is in smallAreas, or in areas when there are
  // more than 65,536 area texts.
  std::vector<uint32_t> narrowKeys;
  std::vector<uint64_t> wideKeys;
  std::array<uint32_t, kMaxNumericDigits + 2> keyStarts{};
  std::vector<uint16_t> smallAreas;
  std::vector<uint32_t> areas;
  // Bit n is set when some numeric key has n digits.
  uint32_t numericLengths = 0;
  // Every other prefix, as UTF-16 code units; ascending.
  std::vector<std::u16string> textKeys;
  std::vector<uint32_t> textAreas;
  size_t longestTextKey = 0;
  // The distinct area texts back to back, in UTF-8; area n is the bytes from
  // areaStarts[n] to areaStarts[n + 1].
  std::string areaTexts;
  std::vector<uint32_t> areaStarts;
};

// Builds the index of `text`, the bytes of an area-code file whose keys begin
// with `skippedUnits` UTF-16 code units that are not compared (the calling
// code). Returns false, leaving `index` empty, when the text is not valid
// UTF-8. Texts of 4 GiB or more are not supported (the caller bounds the size
// of what it reads far below that).
bool buildAreaIndex(std::string_view text, size_t skippedUnits, AreaIndex& index);

// The area text (UTF-8, a view into `index`, valid while it is unchanged) of
// the longest key whose compared part begins `nationalNumber`, or none.
std::optional<std::string_view> findInAreaIndex(const AreaIndex& index,
                                                std::u16string_view nationalNumber);

// The heap bytes the index holds.
size_t areaIndexBytes(const AreaIndex& index);
