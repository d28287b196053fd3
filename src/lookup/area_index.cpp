#include "lookup/area_index.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstring>
#include <unordered_map>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "host/foundation/unicode.h"

namespace {

using Byte = unsigned char;

constexpr size_t kChunk = 64;

constexpr auto kPowersOfTen = [] {
  std::array<uint64_t, kMaxNumericDigits + 1> powers{};
  powers[0] = 1;
  for (size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
  return powers;
}();

uint64_t numericKey(uint64_t value, size_t digits) {
  return ((value * kPowersOfTen[kMaxNumericDigits - digits]) << 5) | digits;
}

// The value of up to eight decimal digits, one a byte, the first in the
// lowest byte.
uint64_t eightDigits(uint64_t digitBytes, size_t count) {
  if (count == 0) return 0;
  // Leading zeros in front, so that the digits fill all eight bytes.
  uint64_t value = digitBytes << (8 * (8 - count));
  value = (value * 2561) >> 8;
  value = ((value & 0x00FF00FF00FF00FFull) * 6553601) >> 16;
  return ((value & 0x0000FFFF0000FFFFull) * 42949672960001ull) >> 32;
}

bool isDigit(char32_t c) {
  return c >= '0' && c <= '9';
}

// Bit i of `ends` is set when byte i of the 64-byte chunk is LF or CR, of
// `bars` when it is "|", of `high` when it is not ASCII.
void classifyChunk(const Byte* chunk, uint64_t& ends, uint64_t& bars, uint64_t& high) {
  ends = bars = high = 0;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  const __m128i bar = _mm_set1_epi8('|');
  for (int part = 0; part < 4; ++part) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 16 * part));
    const uint64_t lineEnds = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr))));
    const uint64_t barBytes = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, bar)));
    const uint64_t nonAscii = static_cast<uint32_t>(_mm_movemask_epi8(bytes));
    ends |= lineEnds << (16 * part);
    bars |= barBytes << (16 * part);
    high |= nonAscii << (16 * part);
  }
#else
  for (size_t i = 0; i < kChunk; ++i) {
    const uint64_t bit = uint64_t{1} << i;
    if (chunk[i] == '\n' || chunk[i] == '\r') ends |= bit;
    if (chunk[i] == '|') bars |= bit;
    if (chunk[i] >= 0x80) high |= bit;
  }
#endif
}

// A record waiting to be sorted into the index. Records keep file order.
// A numeric record's skipped part is `skipped` bytes long, unless it is
// listed in the builder's unusualHeads. The offset `head` also gives the
// record's place in the file.
struct NumericRecord {
  uint64_t key;
  uint32_t area;
  uint32_t head;  // offset of the line, where its skipped part begins
};

// An area text as the interning table compares it: its length and three words
// of its bytes (see areaSlotOf), which for texts of up to 24 bytes (nearly
// all) hold every byte, so that comparing them compares the texts.
struct AreaWords {
  uint64_t words[3] = {0, 0, 0};
  uint64_t length = 0;
};

constexpr size_t kWordBytes = 3 * sizeof(uint64_t);

struct TextRecord {
  std::u16string prefix;
  uint32_t area;
  uint32_t head;
  uint32_t headLength;
};

struct Builder {
  Builder(const Byte* base, size_t size, size_t skipped, AreaIndex& index)
      : base(base), size(size), skipped(skipped), index(index) {}

  const Byte* base;
  size_t size;
  size_t skipped;
  AreaIndex& index;
  // Differs from build to build: the clock and where the builder lies.
  const uint64_t seed =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) *
          0x9E3779B97F4A7C15ull ^
      reinterpret_cast<uintptr_t>(this);
  // Whether numeric keys are expected in ascending order (as real files have
  // them), and go straight into `groups` by digit count, each group then
  // ascending; the offset of the last key's first line is lastWinnerHead. A
  // key out of order sets outOfOrder and ends the reading; the text is then
  // read again with `ordered` false, every numeric key becoming a record in
  // `numeric` to be sorted and settled at the end.
  bool ordered = true;
  bool outOfOrder = false;
  struct Group {
    std::vector<uint64_t> values;  // the numbers the keys' digits spell
    std::vector<uint32_t> areas;   // the area number of each
  };
  std::array<Group, kMaxNumericDigits + 1> groups;
  bool anyKey = false;
  uint64_t lastKey = 0;  // the last one as numericKey gives it
  size_t lastDigits = 0;
  uint32_t lastWinnerHead = 0;
  std::vector<NumericRecord> numeric;
  std::vector<TextRecord> texts;
  // Numeric records whose skipped part has non-ASCII characters: the byte
  // length of that part, by the record's offset.
  std::unordered_map<uint32_t, uint32_t> unusualHeads;
  // The interning table: each slot the upper half of a text's hash and its
  // area number plus one (0 marks an empty slot); the texts' words by area
  // number in areaWords. Both stay small enough for the first-level cache.
  std::vector<uint64_t> areaSlots;
  std::vector<AreaWords> areaWords;
  uint32_t areaCount = 0;

  uint32_t offset(const Byte* p) const { return static_cast<uint32_t>(p - base); }

  // The number of an area text, adding it when new: open addressing, at most
  // a quarter full, so that nearly every text is found at its first slot.
  uint32_t areaNumber(const Byte* begin, const Byte* end) {
    const std::string_view text(reinterpret_cast<const char*>(begin),
                                static_cast<size_t>(end - begin));
    if (4 * (static_cast<size_t>(areaCount) + 1) > areaSlots.size()) growAreaSlots();
    const AreaWords key = areaWordsOf(text);
    const uint64_t hash = hashOf(key, text);
    const uint64_t tag = hash & ~uint64_t{0xFFFFFFFF};
    const size_t mask = areaSlots.size() - 1;
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      const uint64_t held = areaSlots[slot];
      if (held == 0) {
        areaSlots[slot] = tag | ++areaCount;
        areaWords.push_back(key);
        index.areaStarts.push_back(static_cast<uint32_t>(index.areaTexts.size()));
        index.areaTexts.append(text);
        return areaCount - 1;
      }
      if ((held & ~uint64_t{0xFFFFFFFF}) != tag) continue;
      const uint32_t area = static_cast<uint32_t>(held) - 1;
      const AreaWords& words = areaWords[area];
      const uint64_t differ = (words.words[0] ^ key.words[0]) | (words.words[1] ^ key.words[1]) |
                              (words.words[2] ^ key.words[2]) | (words.length ^ key.length);
      if (differ == 0 && (text.size() <= kWordBytes || storedArea(area) == text)) return area;
    }
  }

  [[gnu::noinline]] void growAreaSlots() {
    std::vector<uint64_t> grown(areaSlots.empty() ? 2048 : areaSlots.size() * 2, 0);
    const size_t mask = grown.size() - 1;
    for (uint32_t area = 0; area < areaCount; ++area) {
      const uint64_t hash = hashOf(areaWords[area], storedArea(area));
      size_t slot = hash & mask;
      while (grown[slot] != 0) slot = (slot + 1) & mask;
      grown[slot] = (hash & ~uint64_t{0xFFFFFFFF}) | (area + 1);
    }
    areaSlots = std::move(grown);
  }

  std::string_view storedArea(uint32_t area) const {
    const uint32_t begin = index.areaStarts[area];
    const uint32_t end = area + 1 < index.areaStarts.size()
                             ? index.areaStarts[area + 1]
                             : static_cast<uint32_t>(index.areaTexts.size());
    return std::string_view(index.areaTexts).substr(begin, end - begin);
  }

  // The length and three words of a text: of 16 bytes or more its first,
  // second and last eight bytes; of 8 to 15 its first and last eight; of
  // fewer its bytes in the first word.
  static AreaWords areaWordsOf(std::string_view text) {
    const char* p = text.data();
    const size_t size = text.size();
    AreaWords key;
    key.length = size;
    if (size >= 8) {
      std::memcpy(&key.words[0], p, 8);
      std::memcpy(&key.words[size >= 16 ? 2 : 1], p + size - 8, 8);
      if (size >= 16) std::memcpy(&key.words[1], p + 8, 8);
    } else if (size > 0) {
      std::memcpy(&key.words[0], p, size);
    }
    return key;
  }

  // A hash of every byte (the words when they hold the whole text, else each
  // word of it in turn) under this build's own seed, so that a crafted file
  // cannot make many texts collide and the interning slow.
  uint64_t hashOf(const AreaWords& key, std::string_view text) const {
    uint64_t hash = (key.words[0] + key.length + seed) * 0x9E3779B97F4A7C15ull ^
                    std::rotl(key.words[1] * 0xFF51AFD7ED558CCDull, 29) ^
                    std::rotl(key.words[2] * 0xC4CEB9FE1A85EC53ull, 47);
    if (text.size() > kWordBytes) {
      for (size_t at = 0; at + 8 < text.size(); at += 8) {
        uint64_t word;
        std::memcpy(&word, text.data() + at, 8);
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 32;
      }
    }
    hash ^= hash >> 32;
    hash *= 0xC4CEB9FE1A85EC53ull;
    return hash ^ (hash >> 29);
  }

  // One record, without its terminator; `firstBar` and `lastBar` are its
  // first and last "|", or null.
  void line(const Byte* begin, const Byte* end, const Byte* firstBar, const Byte* lastBar) {
    const Byte* keyEnd = firstBar ? firstBar : end;
    const Byte* area = lastBar ? lastBar + 1 : begin;
    // A key has at most as many UTF-16 code units as bytes.
    if (static_cast<size_t>(keyEnd - begin) < skipped) return;
    bool asciiHead = true;
    for (size_t i = 0; i < skipped; ++i) asciiHead &= begin[i] < 0x80;
    const size_t digits = static_cast<size_t>(keyEnd - begin) - skipped;
    if (asciiHead && digits <= 8 && keyEnd - digits + 8 <= base + size) {
      // Up to eight digits at once: the bytes past the key are masked off.
      uint64_t word;
      std::memcpy(&word, begin + skipped, 8);
      if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
      const uint64_t keep = digits == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * digits)) - 1;
      // Each kept byte must be 0x30 to 0x39.
      const uint64_t low = word & 0x0F0F0F0F0F0F0F0Full;
      const bool allDigits =
          (((word & 0xF0F0F0F0F0F0F0F0ull) ^ 0x3030303030303030ull) & keep) == 0 &&
          ((low + 0x0606060606060606ull) & 0x1010101010101010ull & keep) == 0;
      if (allDigits) {
        addNumeric(eightDigits(low & keep, digits), digits, areaNumber(area, end), offset(begin));
        return;
      }
    } else if (asciiHead && digits <= kMaxNumericDigits) {
      uint64_t value = 0;
      const Byte* p = begin + skipped;
      for (; p < keyEnd; ++p) {
        const unsigned digit = static_cast<unsigned>(*p) - '0';
        if (digit > 9) break;
        value = value * 10 + digit;
      }
      if (p == keyEnd) {
        addNumeric(value, digits, areaNumber(area, end), offset(begin));
        return;
      }
    }
    otherKey(begin, keyEnd, area, end);
  }

  // A key with a non-ASCII skipped part, or a compared part that is not a
  // short run of digits: counted and compared in UTF-16 code units. Such keys
  // are rare.
  [[gnu::noinline]] void otherKey(const Byte* begin, const Byte* keyEnd, const Byte* area,
                                  const Byte* end) {
    std::u16string prefix;
    size_t units = 0;
    const Byte* headEnd = begin;
    for (const Byte* p = begin; p < keyEnd;) {
      char32_t codePoint;
      const size_t sequence = host::decodeUtf8(p, keyEnd, codePoint);
      if (sequence == 0) return;  // cannot happen in a validated text
      char16_t pair[2];
      const size_t count = host::encodeUtf16(codePoint, pair);
      // A code point that begins within the skipped part belongs to it, even
      // when its second unit is compared.
      if (units < skipped) headEnd = p + sequence;
      for (size_t k = 0; k < count; ++k, ++units) {
        if (units >= skipped) prefix += pair[k];
      }
      p += sequence;
    }
    if (units < skipped) return;
    const uint32_t headLength = static_cast<uint32_t>(headEnd - begin);
    if (prefix.size() <= kMaxNumericDigits &&
        std::all_of(prefix.begin(), prefix.end(), [](char16_t c) { return isDigit(c); })) {
      uint64_t value = 0;
      for (char16_t c : prefix) value = value * 10 + (c - u'0');
      if (headLength != skipped) unusualHeads[offset(begin)] = headLength;
      addNumeric(value, prefix.size(), areaNumber(area, end), offset(begin));
      return;
    }
    texts.push_back({std::move(prefix), areaNumber(area, end), offset(begin), headLength});
  }

  // Adds a record with a numeric key. In ascending order each goes straight
  // into the index: a key equal to the one before is a repeat, whose area
  // text counts only when its skipped part is the same as the first's.
  void addNumeric(uint64_t value, size_t digits, uint32_t area, uint32_t head) {
    const uint64_t key = numericKey(value, digits);
    const NumericRecord record{key, area, head};
    if (ordered) {
      if (anyKey && lastKey == key) {
        if (sameHead(NumericRecord{key, 0, lastWinnerHead}, record)) {
          groups[lastDigits].areas.back() = area;
        }
        if (head != lastWinnerHead) unusualHeads.erase(head);
        return;
      }
      if (!anyKey || lastKey < key) {
        groups[digits].values.push_back(value);
        groups[digits].areas.push_back(area);
        anyKey = true;
        lastKey = key;
        lastDigits = digits;
        lastWinnerHead = head;
        return;
      }
      outOfOrder = true;
      return;
    }
    // Lines in a row with the same key need only one record: the first line's
    // place with the last line's area text.
    if (!numeric.empty() && numeric.back().key == key && sameHead(numeric.back(), record)) {
      numeric.back().area = area;
      unusualHeads.erase(head);
      return;
    }
    numeric.push_back(record);
  }

  uint32_t headLength(const NumericRecord& record) const {
    if (unusualHeads.empty()) return static_cast<uint32_t>(skipped);
    auto found = unusualHeads.find(record.head);
    return found == unusualHeads.end() ? static_cast<uint32_t>(skipped) : found->second;
  }

  bool sameHead(const NumericRecord& a, const NumericRecord& b) const {
    const uint32_t length = headLength(a);
    return length == headLength(b) && std::memcmp(base + a.head, base + b.head, length) == 0;
  }
  bool sameHead(const TextRecord& a, const TextRecord& b) const {
    return a.headLength == b.headLength &&
           std::memcmp(base + a.head, base + b.head, a.headLength) == 0;
  }

  // Cuts the text into records as the scan does. False when it is not UTF-8.
  bool readRecords() {
    const Byte* end = base + size;
    const Byte* lineStart = base;
    const Byte* firstBar = nullptr;
    const Byte* lastBar = nullptr;
    const Byte* validatedTo = base;
    Byte padded[kChunk];
    for (size_t offset = 0; offset < size; offset += kChunk) {
      const size_t length = std::min(kChunk, size - offset);
      const Byte* chunkStart = base + offset;
      const Byte* chunk = chunkStart;
      if (length < kChunk) {
        // NUL padding is neither a line end, a bar nor non-ASCII.
        std::memset(padded, 0, kChunk);
        std::memcpy(padded, chunkStart, length);
        chunk = padded;
      }
      uint64_t ends;
      uint64_t bars;
      uint64_t high;
      classifyChunk(chunk, ends, bars, high);
      if (high != 0) {
        // Validate, finishing a sequence that runs on into the next chunk,
        // and mark U+0085, U+2028 and U+2029 by their first byte.
        const Byte* chunkEnd = chunkStart + length;
        const Byte* p = std::max(validatedTo, chunkStart);
        while (p < chunkEnd) {
          if (*p < 0x80) {
            ++p;
            continue;
          }
          char32_t codePoint;
          const size_t sequence = host::decodeUtf8(p, end, codePoint);
          if (sequence == 0) return false;
          if (codePoint == 0x85 || codePoint == 0x2028 || codePoint == 0x2029) {
            ends |= uint64_t{1} << (p - chunkStart);
          }
          p += sequence;
        }
        validatedTo = p;
      }
      // Each line end in turn; the bars of a line are the bars between its
      // start and its end (those of earlier chunks carried in firstBar and
      // lastBar).
      uint64_t done = 0;  // the bits of lines already ended
      while (ends != 0) {
        const int position = std::countr_zero(ends);
        ends &= ends - 1;
        const Byte* at = chunkStart + position;
        const Byte c = *at;
        const uint64_t through = position == 63 ? ~uint64_t{0} : (uint64_t{2} << position) - 1;
        // The LF of a CR LF pair ends nothing: the CR already ended the line.
        if (c == '\n' && at == lineStart && at != base && at[-1] == '\r') {
          lineStart = at + 1;
          done = through;
          continue;
        }
        const uint64_t lineBars = bars & ~done & (through >> 1);
        const Byte* first = firstBar;
        const Byte* last = lastBar;
        if (lineBars != 0) {
          if (!first) first = chunkStart + std::countr_zero(lineBars);
          last = chunkStart + 63 - std::countl_zero(lineBars);
        }
        line(lineStart, at, first, last);
        if (outOfOrder) return true;
        firstBar = lastBar = nullptr;
        lineStart = at + (c == 0xC2 ? 2 : c == 0xE2 ? 3 : 1);
        done = through;
      }
      if (const uint64_t rest = bars & ~done; rest != 0) {
        if (!firstBar) firstBar = chunkStart + std::countr_zero(rest);
        lastBar = chunkStart + 63 - std::countl_zero(rest);
      }
    }
    if (lineStart < end) line(lineStart, end, firstBar, lastBar);
    return true;
  }

  // Of the records with one prefix (a run in an array sorted by prefix, then
  // file order), the first
  // gives the key, and the last with that same key gives the area text.
  template <typename Record, typename SamePrefix, typename Emit>
  void settle(const std::vector<Record>& records, SamePrefix samePrefix, Emit emit) const {
    for (size_t first = 0; first < records.size();) {
      const Record& winner = records[first];
      uint32_t area = winner.area;
      size_t next = first + 1;
      for (; next < records.size() && samePrefix(records[next], winner); ++next) {
        if (sameHead(records[next], winner)) area = records[next].area;
      }
      emit(winner, area);
      first = next;
    }
  }

  // Moves the numeric keys into the index's compact form: the groups back
  // to back, as 32-bit numbers up to nine digits, and with 16-bit area
  // numbers when there are few enough area texts.
  void storeNumericKeys() {
    size_t count = 0;
    size_t narrow = 0;
    for (size_t n = 0; n < groups.size(); ++n) {
      index.keyStarts[n] = static_cast<uint32_t>(count);
      count += groups[n].values.size();
      if (n <= kNarrowDigits) narrow = count;
      if (!groups[n].values.empty()) index.numericLengths |= uint32_t{1} << n;
    }
    index.keyStarts[groups.size()] = static_cast<uint32_t>(count);
    index.narrowKeys.reserve(narrow);
    index.wideKeys.reserve(count - narrow);
    const bool smallAreas = areaCount <= 0x10000;
    (smallAreas ? index.smallAreas.reserve(count) : index.areas.reserve(count));
    for (size_t n = 0; n < groups.size(); ++n) {
      Group& group = groups[n];
      if (n <= kNarrowDigits) {
        index.narrowKeys.insert(index.narrowKeys.end(), group.values.begin(), group.values.end());
      } else {
        index.wideKeys.insert(index.wideKeys.end(), group.values.begin(), group.values.end());
      }
      if (smallAreas) {
        index.smallAreas.insert(index.smallAreas.end(), group.areas.begin(), group.areas.end());
      } else {
        index.areas.insert(index.areas.end(), group.areas.begin(), group.areas.end());
      }
      group = Group{};
    }
  }

  void finish() {
    if (!ordered) {
      std::sort(numeric.begin(), numeric.end(), [](const NumericRecord& a, const NumericRecord& b) {
        return a.key != b.key ? a.key < b.key : a.head < b.head;
      });
      settle(
          numeric, [](const NumericRecord& a, const NumericRecord& b) { return a.key == b.key; },
          [&](const NumericRecord& record, uint32_t area) {
            const size_t digits = record.key & 31;
            groups[digits].values.push_back((record.key >> 5) /
                                            kPowersOfTen[kMaxNumericDigits - digits]);
            groups[digits].areas.push_back(area);
          });
      numeric = {};
    }
    storeNumericKeys();
    std::stable_sort(texts.begin(), texts.end(),
                     [](const TextRecord& a, const TextRecord& b) { return a.prefix < b.prefix; });
    settle(
        texts, [](const TextRecord& a, const TextRecord& b) { return a.prefix == b.prefix; },
        [&](const TextRecord& record, uint32_t area) {
          index.textKeys.push_back(record.prefix);
          index.textAreas.push_back(area);
          index.longestTextKey = std::max(index.longestTextKey, record.prefix.size());
        });
    index.areaStarts.push_back(static_cast<uint32_t>(index.areaTexts.size()));
    index.textKeys.shrink_to_fit();
    index.textAreas.shrink_to_fit();
    index.areaTexts.shrink_to_fit();
    index.areaStarts.shrink_to_fit();
  }
};

std::string_view areaText(const AreaIndex& index, uint32_t area) {
  const uint32_t begin = index.areaStarts[area];
  return std::string_view(index.areaTexts).substr(begin, index.areaStarts[area + 1] - begin);
}

}  // namespace

bool buildAreaIndex(std::string_view text, size_t skippedUnits, AreaIndex& index) {
  index = AreaIndex{};
  const Byte* bytes = reinterpret_cast<const Byte*>(text.data());
  {
    Builder builder(bytes, text.size(), skippedUnits, index);
    if (!builder.readRecords()) {
      index = AreaIndex{};
      return false;
    }
    if (!builder.outOfOrder) {
      builder.finish();
      return true;
    }
  }
  index = AreaIndex{};
  Builder builder(bytes, text.size(), skippedUnits, index);
  builder.ordered = false;
  if (!builder.readRecords()) {
    index = AreaIndex{};
    return false;
  }
  builder.finish();
  return true;
}

std::optional<std::string_view> findInAreaIndex(const AreaIndex& index,
                                                std::u16string_view nationalNumber) {
  // The number's leading digits, read as numbers of each length.
  uint64_t values[kMaxNumericDigits + 1];
  values[0] = 0;
  size_t digits = 0;
  while (digits < kMaxNumericDigits && digits < nationalNumber.size() &&
         isDigit(nationalNumber[digits])) {
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
    size_t at = index.keyStarts[length];
    size_t end = index.keyStarts[length + 1];
    bool present;
    if (length <= kNarrowDigits) {
      const auto* keys = index.narrowKeys.data();
      at = static_cast<size_t>(
          std::lower_bound(keys + at, keys + end, static_cast<uint32_t>(values[length])) - keys);
      present = at < end && keys[at] == values[length];
    } else {
      const size_t narrow = index.narrowKeys.size();
      const auto* keys = index.wideKeys.data();
      at = static_cast<size_t>(
               std::lower_bound(keys + at - narrow, keys + end - narrow, values[length]) - keys) +
           narrow;
      present = at < end && keys[at - narrow] == values[length];
    }
    if (present) {
      found = index.smallAreas.empty() ? index.areas[at] : index.smallAreas[at];
      foundLength = length;
      break;
    }
  }

  // Prefixes held as text are never empty, and are rare.
  const size_t longest = std::min(nationalNumber.size(), index.longestTextKey);
  for (size_t length = longest; length > foundLength; --length) {
    const std::u16string_view wanted = nationalNumber.substr(0, length);
    auto at = std::lower_bound(index.textKeys.begin(), index.textKeys.end(), wanted,
                               [](const std::u16string& key, std::u16string_view value) {
                                 return std::u16string_view(key) < value;
                               });
    if (at != index.textKeys.end() && *at == wanted) {
      found = index.textAreas[static_cast<size_t>(at - index.textKeys.begin())];
      break;
    }
  }
  if (!found) return std::nullopt;
  return areaText(index, *found);
}

size_t areaIndexBytes(const AreaIndex& index) {
  size_t bytes = index.narrowKeys.capacity() * sizeof(uint32_t) +
                 index.wideKeys.capacity() * sizeof(uint64_t) +
                 index.smallAreas.capacity() * sizeof(uint16_t) +
                 index.areas.capacity() * sizeof(uint32_t) +
                 index.textKeys.capacity() * sizeof(std::u16string) +
                 index.textAreas.capacity() * sizeof(uint32_t) + index.areaTexts.capacity() +
                 index.areaStarts.capacity() * sizeof(uint32_t);
  for (const std::u16string& key : index.textKeys) {
    // Short texts live inside the string object itself.
    if (key.capacity() > std::u16string().capacity()) bytes += (key.capacity() + 1) * 2;
  }
  return bytes;
}
