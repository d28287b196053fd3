// Finding a national number's area in an index, whichever way the index is
// held: built in memory (AreaIndex, lookup/area_index.h) or read from a
// prebuilt index file (FlatAreaIndex, lookup/area_index_file.h). Both hold the
// same arrays, so one search serves both and they cannot answer differently.
//
// An index type I provides `numericLengths`, `groups[n]` (whose members the
// search reads by the names AreaIndex::Group gives them, through operator[],
// size(), empty() and lowerBound()), `longestTextKey`, and the overloads
// textKeyCount(I), textKeyAt(I, i), textAreaAt(I, i) and areaTextAt(I, area),
// the last giving none for an area number the index does not hold. Internal
// to the lookup; nothing here allocates or throws.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "lookup/area_index.h"

namespace area_index_search {

// The area number of the key of `length` digits whose value is `value`, if
// the group holds it.
template <typename Group>
std::optional<uint32_t> findInGroup(const Group& group, size_t length, uint64_t value) {
  size_t at;
  bool present;
  if (length <= kShortDigits) {
    const uint64_t high = value >> 16;
    if (high + 1 >= group.shortStarts.size()) return std::nullopt;
    const uint16_t wanted = static_cast<uint16_t>(value);
    const size_t end = group.shortStarts[high + 1];
    at = group.shortKeys.lowerBound(group.shortStarts[high], end, wanted);
    present = at != end && group.shortKeys[at] == wanted;
  } else if (length <= kNarrowDigits) {
    const uint32_t wanted = static_cast<uint32_t>(value);
    at = group.narrowKeys.lowerBound(0, group.keyCount, wanted);
    present = at != group.keyCount && group.narrowKeys[at] == wanted;
  } else {
    at = group.wideKeys.lowerBound(0, group.keyCount, value);
    present = at != group.keyCount && group.wideKeys[at] == value;
  }
  if (!present) return std::nullopt;
  return group.smallAreas.empty() ? group.areas[at] : group.smallAreas[at];
}

// The area text of the longest key whose compared part begins
// `nationalNumber`, and with `matchedUnits` the length of that part.
template <typename Index>
std::optional<std::string_view> find(const Index& index, std::u16string_view nationalNumber,
                                     size_t* matchedUnits = nullptr) {
  // The number's leading digits, read as numbers of each length.
  uint64_t values[kMaxNumericDigits + 1];
  values[0] = 0;
  size_t digits = 0;
  while (digits < kMaxNumericDigits && digits < nationalNumber.size() &&
         nationalNumber[digits] >= u'0' && nationalNumber[digits] <= u'9') {
    values[digits + 1] = values[digits] * 10 + (nationalNumber[digits] - u'0');
    ++digits;
  }

  // Longest first.
  std::optional<uint32_t> found;
  size_t foundLength = 0;
  uint32_t lengths = index.numericLengths & ((uint32_t{2} << digits) - 1);
  while (lengths != 0) {
    const size_t length = static_cast<size_t>(31 - std::countl_zero(lengths));
    lengths &= ~(uint32_t{1} << length);
    found = findInGroup(index.groups[length], length, values[length]);
    if (found) {
      foundLength = length;
      break;
    }
  }

  // Prefixes held as text are never empty, and are rare.
  const size_t count = textKeyCount(index);
  const size_t longest = std::min(nationalNumber.size(), size_t{index.longestTextKey});
  for (size_t length = longest; length > foundLength; --length) {
    const std::u16string_view wanted = nationalNumber.substr(0, length);
    const size_t from =
        lowerBoundOf(size_t{0}, count, wanted, [&](size_t at) { return textKeyAt(index, at); });
    if (from != count && textKeyAt(index, from) == wanted) {
      found = textAreaAt(index, from);
      foundLength = length;
      break;
    }
  }
  if (!found) return std::nullopt;
  if (matchedUnits) *matchedUnits = foundLength;
  return areaTextAt(index, *found);
}

}  // namespace area_index_search
