#include "lookup/area_index.h"

#include <algorithm>
#include <array>
#include <bit>
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

// What tells area texts apart quickly; see Builder::areaKeyOf.
struct AreaKey {
  uint64_t hash = 0;
  uint64_t first = 0;
  uint64_t last = 0;
};

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
  // Whether numeric keys are expected in ascending order (as real files have
  // them), and go straight into `keys` with their area numbers in keyAreas;
  // the offset of the last key's first line is lastWinnerHead. A key out of
  // order sets outOfOrder and ends the reading; the text is then read again
  // with `ordered` false, every numeric key becoming a record in `numeric`
  // to be sorted and settled at the end.
  bool ordered = true;
  bool outOfOrder = false;
  std::vector<uint64_t> keys;  // each the number its digits spell * 32 + digit count
  uint64_t lastKey = 0;        // the last one as numericKey gives it
  std::vector<uint32_t> keyAreas;
  uint32_t lastWinnerHead = 0;
  std::vector<NumericRecord> numeric;
  std::vector<TextRecord> texts;
  // Numeric records whose skipped part has non-ASCII characters: the byte
  // length of that part, by the record's offset.
  std::unordered_map<uint32_t, uint32_t> unusualHeads;
  std::vector<uint32_t> areaSlots;
  std::vector<AreaKey> areaKeys;  // of each area text, by number
  uint32_t lastAreaNumber = UINT32_MAX;

  uint32_t offset(const Byte* p) const { return static_cast<uint32_t>(p - base); }

  uint32_t areaNumber(const Byte* begin, const Byte* end) {
    const std::string_view text(reinterpret_cast<const char*>(begin),
                                static_cast<size_t>(end - begin));
    const AreaKey key = areaKeyOf(text);
    // Neighbouring lines often share their area text.
    if (lastAreaNumber != UINT32_MAX && sameArea(lastAreaNumber, text, key)) return lastAreaNumber;
    lastAreaNumber = internArea(text, key);
    return lastAreaNumber;
  }

  // The number of an area text, adding it when new: open addressing over
  // area numbers plus one, at most half full.
  uint32_t internArea(std::string_view text, const AreaKey& key) {
    if (areaSlots.empty() || 2 * (areaKeys.size() + 1) > areaSlots.size()) {
      std::vector<uint32_t> grown(areaSlots.empty() ? 256 : areaSlots.size() * 2, 0);
      for (uint32_t area = 0; area < areaKeys.size(); ++area) {
        size_t slot = areaKeys[area].hash & (grown.size() - 1);
        while (grown[slot] != 0) slot = (slot + 1) & (grown.size() - 1);
        grown[slot] = area + 1;
      }
      areaSlots = std::move(grown);
    }
    size_t slot = key.hash & (areaSlots.size() - 1);
    for (; areaSlots[slot] != 0; slot = (slot + 1) & (areaSlots.size() - 1)) {
      if (sameArea(areaSlots[slot] - 1, text, key)) return areaSlots[slot] - 1;
    }
    const uint32_t area = static_cast<uint32_t>(areaKeys.size());
    areaSlots[slot] = area + 1;
    areaKeys.push_back(key);
    index.areaStarts.push_back(static_cast<uint32_t>(index.areaTexts.size()));
    index.areaTexts.append(text);
    return area;
  }

  std::string_view storedArea(uint32_t area) const {
    const uint32_t begin = index.areaStarts[area];
    const uint32_t end = area + 1 < index.areaStarts.size()
                             ? index.areaStarts[area + 1]
                             : static_cast<uint32_t>(index.areaTexts.size());
    return std::string_view(index.areaTexts).substr(begin, end - begin);
  }

  bool sameArea(uint32_t area, std::string_view text, const AreaKey& key) const {
    const AreaKey& stored = areaKeys[area];
    if (stored.hash != key.hash) return false;
    const std::string_view storedText = storedArea(area);
    if (storedText.size() != text.size()) return false;
    // Two words hold every byte of a text of 8 to 16 bytes.
    if (text.size() >= 8 && text.size() <= 16) {
      return stored.first == key.first && stored.last == key.last;
    }
    return storedText == text;
  }

  // A text's hash; for texts of 8 to 16 bytes (most area texts) also its
  // first and last eight bytes, which together hold every byte, hashed side
  // by side. Longer texts are hashed a word at a time, the last overlapping.
  static AreaKey areaKeyOf(std::string_view text) {
    const char* p = text.data();
    const size_t size = text.size();
    AreaKey key;
    uint64_t hash = size * 0x9E3779B97F4A7C15ull;
    if (size >= 8 && size <= 16) {
      std::memcpy(&key.first, p, 8);
      std::memcpy(&key.last, p + size - 8, 8);
      hash = ((key.first + size) * 0x9E3779B97F4A7C15ull) ^
             std::rotl(key.last * 0xFF51AFD7ED558CCDull, 29);
    } else {
      auto mix = [&hash](uint64_t word) {
        hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
        hash ^= hash >> 32;
      };
      if (size >= 8) {
        uint64_t word;
        for (size_t at = 0; at + 8 < size; at += 8) {
          std::memcpy(&word, p + at, 8);
          mix(word);
        }
        std::memcpy(&word, p + size - 8, 8);
        mix(word);
      } else if (size >= 4) {
        uint32_t first;
        uint32_t last;
        std::memcpy(&first, p, 4);
        std::memcpy(&last, p + size - 4, 4);
        mix((uint64_t{first} << 32) | last);
      } else if (size > 0) {
        mix(uint64_t{static_cast<Byte>(p[0])} << 16 |
            uint64_t{static_cast<Byte>(p[size / 2])} << 8 | static_cast<Byte>(p[size - 1]));
      }
    }
    hash ^= hash >> 32;
    hash *= 0xC4CEB9FE1A85EC53ull;
    key.hash = hash ^ (hash >> 29);
    return key;
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
      if (!keys.empty() && lastKey == key) {
        if (sameHead(NumericRecord{key, 0, lastWinnerHead}, record)) keyAreas.back() = area;
        if (head != lastWinnerHead) unusualHeads.erase(head);
        return;
      }
      if (keys.empty() || lastKey < key) {
        keys.push_back(value << 5 | digits);
        lastKey = key;
        keyAreas.push_back(area);
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

  // Moves the numeric keys, sorted as digit strings, into the index's compact
  // form: grouped by digit count (a counting sort, which keeps each group
  // sorted), as 32-bit numbers up to nine digits, and with 16-bit area
  // numbers when there are few enough area texts.
  void storeNumericKeys() {
    std::array<uint32_t, kMaxNumericDigits + 2> starts{};
    for (uint64_t key : keys) ++starts[(key & 31) + 1];
    for (size_t n = 1; n < starts.size(); ++n) starts[n] += starts[n - 1];
    index.keyStarts = starts;
    index.narrowKeys.resize(starts[kNarrowDigits + 1]);
    index.wideKeys.resize(keys.size() - starts[kNarrowDigits + 1]);
    const bool smallAreas = areaKeys.size() <= 0x10000;
    if (smallAreas) {
      index.smallAreas.resize(keys.size());
    } else {
      index.areas.resize(keys.size());
    }
    for (size_t i = 0; i < keys.size(); ++i) {
      const size_t digits = keys[i] & 31;
      const uint32_t at = starts[digits]++;
      const uint64_t value = keys[i] >> 5;
      if (digits <= kNarrowDigits) {
        index.narrowKeys[at] = static_cast<uint32_t>(value);
      } else {
        index.wideKeys[at - index.narrowKeys.size()] = value;
      }
      if (smallAreas) {
        index.smallAreas[at] = static_cast<uint16_t>(keyAreas[i]);
      } else {
        index.areas[at] = keyAreas[i];
      }
      index.numericLengths |= uint32_t{1} << digits;
    }
    keys = {};
    keyAreas = {};
  }

  void finish() {
    if (!ordered) {
      std::sort(numeric.begin(), numeric.end(), [](const NumericRecord& a, const NumericRecord& b) {
        return a.key != b.key ? a.key < b.key : a.head < b.head;
      });
      keys.reserve(numeric.size());
      keyAreas.reserve(numeric.size());
      settle(
          numeric, [](const NumericRecord& a, const NumericRecord& b) { return a.key == b.key; },
          [&](const NumericRecord& record, uint32_t area) {
            const size_t digits = record.key & 31;
            keys.push_back((record.key >> 5) / kPowersOfTen[kMaxNumericDigits - digits] << 5 |
                           digits);
            keyAreas.push_back(area);
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
    // Roughly one key per 24 bytes in real files.
    builder.keys.reserve(text.size() / 24 + 1);
    builder.keyAreas.reserve(text.size() / 24 + 1);
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
