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
// (nearly all keys of real files) are held as numbers, in one sorted array
// for each digit count; any other key is held as its UTF-16 code units in a
// sorted array of its own. Every distinct area text is stored once. The index
// owns all it holds and keeps no reference to the text it was built from.
//
// The text is read in pieces through a buffer of a fixed size (grown only for
// a line longer than it), so a file is never held whole; the arrays grow in
// blocks that never move, so building touches little more memory than the
// index finally holds. Building allocates (it may throw std::bad_alloc); finding
// neither allocates nor throws.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "lookup/segmented_array.h"

// The longest digit prefix held as a number; longer ones are held as text.
inline constexpr size_t kMaxNumericDigits = 17;

// Prefixes of up to this many digits are held as their low 16 bits, under a
// table of where each value of the bits above begins.
inline constexpr size_t kShortDigits = 8;

// Prefixes of up to this many digits are held in 32 bits.
inline constexpr size_t kNarrowDigits = 9;

// Texts larger than this are not indexed but read and scanned at each lookup:
// a far larger index than any real file needs would be held. Index files are
// held to the same limit.
inline constexpr uint64_t kIndexedFileSizeLimit = uint64_t{16} << 20;

// How much of a text is read at a time.
inline constexpr size_t kAreaReadSize = size_t{64} << 10;

struct AreaIndex {
  // The keys of one digit count n, as the numbers they spell, ascending. For
  // n up to kShortDigits their low 16 bits are in shortKeys, those with the
  // bits above them equal to h from shortStarts[h] to shortStarts[h + 1]
  // (shortStarts has one entry more than the highest h); for n up to
  // kNarrowDigits they are in narrowKeys, for larger n in wideKeys. The area
  // number of each is at the same place in smallAreas, or in areas when the
  // text has more than 65,536 area texts.
  struct Group {
    SegmentedArray<uint16_t> shortKeys;
    std::vector<uint32_t> shortStarts;
    SegmentedArray<uint32_t> narrowKeys;
    SegmentedArray<uint64_t> wideKeys;
    SegmentedArray<uint16_t> smallAreas;
    SegmentedArray<uint32_t> areas;
    size_t keyCount = 0;  // how many keys the group holds
  };
  std::array<Group, kMaxNumericDigits + 1> groups;
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

// Where a text comes from: read from its beginning, a piece at a time.
class AreaTextSource {
 public:
  virtual ~AreaTextSource() = default;
  // Reads up to `capacity` bytes into `into`: how many were read, 0 at the end
  // of the text, or -1 when reading failed.
  virtual ptrdiff_t read(char* into, size_t capacity) = 0;
  // Goes back to the beginning of the text; false when it cannot.
  virtual bool rewind() = 0;
};

enum class AreaIndexBuild {
  built,
  notUtf8,     // the text is not valid UTF-8 somewhere; no index
  readFailed,  // the source failed; no index
};

// Builds the index of the text `source` gives, the bytes of an area-code file
// whose keys begin with `skippedUnits` UTF-16 code units that are not compared
// (the calling code), reading `readSize` bytes at a time. The source is read
// once; a text whose keys are not in ascending order (no real file) is read a
// second time after a rewind. Unless it is built, `index` is left empty.
// Texts of 4 GiB or more are not supported (callers bound the size of what
// they read far below that).
AreaIndexBuild buildAreaIndex(AreaTextSource& source, size_t skippedUnits, AreaIndex& index,
                              size_t readSize = kAreaReadSize);

// The same for a text in memory; false when it is not valid UTF-8.
bool buildAreaIndex(std::string_view text, size_t skippedUnits, AreaIndex& index,
                    size_t readSize = kAreaReadSize);

// The area text (UTF-8, a view into `index`, valid while it is unchanged) of
// the longest key whose compared part begins `nationalNumber`, or none.
// With `matchedUnits`, also the length of the compared part of that key.
std::optional<std::string_view> findInAreaIndex(const AreaIndex& index,
                                                std::u16string_view nationalNumber,
                                                size_t* matchedUnits = nullptr);

// The heap bytes the index holds.
size_t areaIndexBytes(const AreaIndex& index);
