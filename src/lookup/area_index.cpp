#include "lookup/area_index.h"

#include <algorithm>
#include <array>
#include <bit>
#include <chrono>
#include <cstring>
#include <memory>
#include <unordered_map>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "host/foundation/unicode.h"
#include "lookup/area_index_search.h"
#include "lookup/area_scan.h"

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

// An area text as the interning table compares it: its length and three words
// of its bytes (see areaWordsOf), which for texts of up to 24 bytes (nearly
// all) hold every byte, so that comparing them compares the texts.
struct AreaWords {
  uint64_t words[3] = {0, 0, 0};
  uint64_t length = 0;
};

constexpr size_t kWordBytes = 3 * sizeof(uint64_t);

// A numeric key waiting to be sorted into the index, when the keys of a text
// are not in ascending order. `head` names the key's skipped part (see
// Builder::headId); `order` is the record's place in the text.
struct NumericRecord {
  uint64_t key;
  uint32_t area;
  uint32_t head;
  uint32_t order;
};

struct TextRecord {
  std::u16string prefix;
  uint32_t area;
  uint32_t head;
};

// How a text is read: with the numeric keys taken as they come, in
// ascending order (as real files have them), or gathered and sorted at the
// end; with 16-bit area numbers, or 32-bit ones for texts with more than
// 65,536 area texts.
struct BuildMode {
  bool ordered = true;
  bool wideAreas = false;
};

struct Builder {
  Builder(size_t skipped, AreaIndex& index, BuildMode mode)
      : skipped(skipped), index(index), mode(mode) {}

  size_t skipped;
  AreaIndex& index;
  BuildMode mode;
  // Set when the text needs another mode than `mode`; the reading stops.
  bool outOfOrder = false;
  bool tooManyAreas = false;

  // The last numeric key taken (as numericKey gives it), its digit count and
  // the skipped part of its first line, while reading in order.
  bool anyKey = false;
  uint64_t lastKey = 0;
  size_t lastDigits = 0;
  uint32_t lastWinnerHead = 0;
  std::vector<NumericRecord> numeric;
  std::vector<TextRecord> texts;

  // The distinct skipped parts of keys (nearly always one: the calling code),
  // numbered as they are met; the last one met, to find it again at once.
  std::unordered_map<std::string, uint32_t> heads;
  std::string lastHead;
  uint32_t lastHeadId = 0;

  // The interning table: each slot the upper half of a text's hash and its
  // area number plus one (0 marks an empty slot); the texts' words by area
  // number in areaWords. Both stay small enough for the first-level cache.
  std::vector<uint64_t> areaSlots;
  std::vector<AreaWords> areaWords;
  uint32_t areaCount = 0;
  // Differs from build to build: the clock and where the builder lies.
  const uint64_t seed =
      static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) *
          0x9E3779B97F4A7C15ull ^
      reinterpret_cast<uintptr_t>(this);

  // The number of a skipped part of `skipped` ASCII bytes at `begin`, when
  // eight bytes can be read there: those of at most eight bytes are told
  // apart by one word, compared with the last one's.
  uint32_t shortHeadId(const Byte* begin) {
    if (skipped > 8) return headId(begin, skipped);
    uint64_t word;
    std::memcpy(&word, begin, 8);
    if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
    word &= skipped == 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * skipped)) - 1;
    if (!knownShortHead || word != shortHead) {
      shortHeadNumber = headId(begin, skipped);
      shortHead = word;
      knownShortHead = true;
    }
    return shortHeadNumber;
  }
  bool knownShortHead = false;
  uint64_t shortHead = 0;
  uint32_t shortHeadNumber = 0;

  // The number of the skipped part [begin, begin + length).
  uint32_t headId(const Byte* begin, size_t length) {
    // Skipped parts are a few bytes: compared here byte by byte.
    if (length == lastHead.size() && !heads.empty()) {
      size_t same = 0;
      while (same < length && begin[same] == static_cast<Byte>(lastHead[same])) ++same;
      if (same == length) return lastHeadId;
    }
    const std::string_view head(reinterpret_cast<const char*>(begin), length);
    auto [at, added] = heads.emplace(head, static_cast<uint32_t>(heads.size()));
    lastHead = at->first;
    lastHeadId = at->second;
    return lastHeadId;
  }

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
  // cannot make many texts collide and the interning slow. Its low bits pick
  // the slot, its high ones are kept as the slot's tag.
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
    return hash ^ (hash >> 32) ^ (hash >> 41);
  }

  // One record, without its terminator; `firstBar` and `lastBar` are its
  // first and last "|", or null. Bytes up to `readable` may be read past its
  // end.
  [[gnu::always_inline]] void line(const Byte* begin, const Byte* end, const Byte* firstBar,
                                   const Byte* lastBar, const Byte* readable) {
    const Byte* keyEnd = firstBar ? firstBar : end;
    const Byte* area = lastBar ? lastBar + 1 : begin;
    // A key has at most as many UTF-16 code units as bytes.
    if (static_cast<size_t>(keyEnd - begin) < skipped) return;
    bool asciiHead = true;
    for (size_t i = 0; i < skipped; ++i) asciiHead &= begin[i] < 0x80;
    const size_t digits = static_cast<size_t>(keyEnd - begin) - skipped;
    if (asciiHead && digits <= 8 && keyEnd - digits + 8 <= readable) {
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
        addNumeric(eightDigits(low & keep, digits), digits, areaNumber(area, end),
                   shortHeadId(begin));
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
        addNumeric(value, digits, areaNumber(area, end), headId(begin, skipped));
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
    const uint32_t head = headId(begin, static_cast<size_t>(headEnd - begin));
    if (prefix.size() <= kMaxNumericDigits &&
        std::all_of(prefix.begin(), prefix.end(), [](char16_t c) { return isDigit(c); })) {
      uint64_t value = 0;
      for (char16_t c : prefix) value = value * 10 + (c - u'0');
      addNumeric(value, prefix.size(), areaNumber(area, end), head);
      return;
    }
    texts.push_back({std::move(prefix), areaNumber(area, end), head});
  }

  // Puts a key with its area number at the end of its group.
  void take(uint64_t value, size_t digits, uint32_t area) {
    AreaIndex::Group& group = index.groups[digits];
    if (digits <= kShortDigits) {
      // Values come in ascending order: each new value of the upper bits
      // begins at the current count.
      const uint64_t high = value >> 16;
      while (group.shortStarts.size() <= high) {
        group.shortStarts.push_back(static_cast<uint32_t>(group.keyCount));
      }
      group.shortKeys.push_back(static_cast<uint16_t>(value));
    } else if (digits <= kNarrowDigits) {
      group.narrowKeys.push_back(static_cast<uint32_t>(value));
    } else {
      group.wideKeys.push_back(value);
    }
    if (mode.wideAreas) {
      group.areas.push_back(area);
    } else {
      group.smallAreas.push_back(static_cast<uint16_t>(area));
    }
    ++group.keyCount;
  }

  // Adds a record with a numeric key. In ascending order each goes straight
  // into the index: a key equal to the one before is a repeat, whose area
  // text counts only when its skipped part is the same as the first's.
  void addNumeric(uint64_t value, size_t digits, uint32_t area, uint32_t head) {
    const uint64_t key = numericKey(value, digits);
    if (mode.ordered) {
      if (!mode.wideAreas && area > 0xFFFF) {
        tooManyAreas = true;
        return;
      }
      if (anyKey && lastKey == key) {
        if (head == lastWinnerHead) {
          AreaIndex::Group& group = index.groups[lastDigits];
          if (mode.wideAreas) {
            group.areas.back() = area;
          } else {
            group.smallAreas.back() = static_cast<uint16_t>(area);
          }
        }
        return;
      }
      if (!anyKey || lastKey < key) {
        take(value, digits, area);
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
    if (!numeric.empty() && numeric.back().key == key && numeric.back().head == head) {
      numeric.back().area = area;
      return;
    }
    numeric.push_back({key, area, head, static_cast<uint32_t>(numeric.size())});
  }

  bool stopped() const { return outOfOrder || tooManyAreas; }

  // Cuts the text into records as the scan does, reading it through a buffer
  // of `readSize` bytes. Lines are taken from the buffer as they are
  // complete; what is left of an unfinished line moves to the buffer's front
  // before more is read, and the buffer grows only when one line fills it.
  // Classifying 64 bytes at a time, a block is taken once the three bytes
  // after it are read too, so that a character begun in it can be checked
  // whole.
  AreaIndexBuild readRecords(AreaTextSource& source, size_t readSize) {
    size_t capacity = std::max<size_t>(readSize, 1);
    std::unique_ptr<Byte[]> buffer(new Byte[capacity]);
    size_t filled = 0;     // bytes in the buffer
    size_t scanned = 0;    // bytes classified
    size_t lineStart = 0;  // where the unfinished line begins
    // Its first and last "|" so far, as offsets plus one (0: none).
    size_t firstBar = 0;
    size_t lastBar = 0;
    size_t validatedTo = 0;            // bytes up to here are known to be valid UTF-8
    bool afterCarriageReturn = false;  // the last line ended with CR just before lineStart
    bool atEnd = false;
    bool startLooked = false;  // whether a byte-order mark was looked for
    Byte padded[kChunk];
    for (;;) {
      // Moves what is not done to the front, and reads on.
      const size_t done = std::min(lineStart, scanned);
      if (done > 0) {
        std::memmove(buffer.get(), buffer.get() + done, filled - done);
        filled -= done;
        scanned -= done;
        lineStart -= done;
        if (firstBar) firstBar -= done;
        if (lastBar) lastBar -= done;
        validatedTo = validatedTo > done ? validatedTo - done : 0;
      }
      if (filled == capacity) {
        const size_t larger = capacity * 2;
        std::unique_ptr<Byte[]> grown(new Byte[larger]);
        std::memcpy(grown.get(), buffer.get(), filled);
        buffer = std::move(grown);
        capacity = larger;
      }
      while (filled < capacity) {
        const ptrdiff_t got =
            source.read(reinterpret_cast<char*>(buffer.get()) + filled, capacity - filled);
        if (got < 0) return AreaIndexBuild::readFailed;
        if (got == 0) {
          atEnd = true;
          break;
        }
        filled += static_cast<size_t>(got);
      }

      const Byte* base = buffer.get();
      const Byte* dataEnd = base + filled;
      // A byte-order mark at the very start is not part of the first line,
      // as for the scan. Nothing was taken from the buffer before it is
      // looked for, so it begins the buffer.
      if (!startLooked && (filled >= kUtf8ByteOrderMark.size() || atEnd)) {
        startLooked = true;
        if (std::string_view(reinterpret_cast<const char*>(base), filled)
                .starts_with(kUtf8ByteOrderMark)) {
          lineStart = scanned = validatedTo = kUtf8ByteOrderMark.size();
        }
      }
      if (!startLooked) continue;
      while (atEnd ? scanned < filled : scanned + kChunk + 3 <= filled) {
        const size_t length = std::min(kChunk, filled - scanned);
        const Byte* chunkStart = base + scanned;
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
          const Byte* p = std::max(base + validatedTo, chunkStart);
          while (p < chunkEnd) {
            if (*p < 0x80) {
              ++p;
              continue;
            }
            char32_t codePoint;
            const size_t sequence = host::decodeUtf8(p, dataEnd, codePoint);
            if (sequence == 0) return AreaIndexBuild::notUtf8;
            if (codePoint == 0x85 || codePoint == 0x2028 || codePoint == 0x2029) {
              ends |= uint64_t{1} << (p - chunkStart);
            }
            p += sequence;
          }
          validatedTo = static_cast<size_t>(p - base);
        }
        // Each line end in turn; the bars of a line are the bars between its
        // start and its end (those of earlier chunks carried in firstBar and
        // lastBar).
        uint64_t ended = 0;  // the bits of lines already ended
        while (ends != 0) {
          const int position = std::countr_zero(ends);
          ends &= ends - 1;
          const size_t at = scanned + static_cast<size_t>(position);
          const Byte c = base[at];
          const uint64_t through = position == 63 ? ~uint64_t{0} : (uint64_t{2} << position) - 1;
          // The LF of a CR LF pair ends nothing: the CR already ended the line.
          if (c == '\n' && at == lineStart && afterCarriageReturn) {
            lineStart = at + 1;
            afterCarriageReturn = false;
            ended = through;
            continue;
          }
          const uint64_t lineBars = bars & ~ended & (through >> 1);
          size_t first = firstBar;
          size_t last = lastBar;
          if (lineBars != 0) {
            if (!first) first = scanned + std::countr_zero(lineBars) + 1;
            last = scanned + 63 - std::countl_zero(lineBars) + 1;
          }
          line(base + lineStart, base + at, first ? base + first - 1 : nullptr,
               last ? base + last - 1 : nullptr, dataEnd);
          if (stopped()) return AreaIndexBuild::built;
          firstBar = lastBar = 0;
          afterCarriageReturn = c == '\r';
          lineStart = at + (c == 0xC2 ? 2 : c == 0xE2 ? 3 : 1);
          ended = through;
        }
        if (const uint64_t rest = bars & ~ended; rest != 0) {
          if (!firstBar) firstBar = scanned + std::countr_zero(rest) + 1;
          lastBar = scanned + 63 - std::countl_zero(rest) + 1;
        }
        scanned += length;
      }
      if (atEnd) {
        if (lineStart < filled) {
          line(base + lineStart, dataEnd, firstBar ? base + firstBar - 1 : nullptr,
               lastBar ? base + lastBar - 1 : nullptr, dataEnd);
        }
        return AreaIndexBuild::built;
      }
    }
  }

  // Of the records with one prefix (a run in an array sorted by prefix, then
  // text order), the first gives the key, and the last with that same key
  // gives the area text.
  template <typename Record, typename SamePrefix, typename Emit>
  void settle(const std::vector<Record>& records, SamePrefix samePrefix, Emit emit) const {
    for (size_t first = 0; first < records.size();) {
      const Record& winner = records[first];
      uint32_t area = winner.area;
      size_t next = first + 1;
      for (; next < records.size() && samePrefix(records[next], winner); ++next) {
        if (records[next].head == winner.head) area = records[next].area;
      }
      emit(winner, area);
      first = next;
    }
  }

  void finish() {
    if (!mode.ordered) {
      std::sort(numeric.begin(), numeric.end(), [](const NumericRecord& a, const NumericRecord& b) {
        return a.key != b.key ? a.key < b.key : a.order < b.order;
      });
      mode.wideAreas = areaCount > 0x10000;
      settle(
          numeric, [](const NumericRecord& a, const NumericRecord& b) { return a.key == b.key; },
          [&](const NumericRecord& record, uint32_t area) {
            const size_t digits = record.key & 31;
            take((record.key >> 5) / kPowersOfTen[kMaxNumericDigits - digits], digits, area);
          });
      numeric = {};
    }
    for (size_t n = 0; n < index.groups.size(); ++n) {
      AreaIndex::Group& group = index.groups[n];
      if (group.keyCount > 0 && n <= kShortDigits) {
        group.shortStarts.push_back(static_cast<uint32_t>(group.keyCount));
      }
      group.shortKeys.trim();
      group.shortStarts.shrink_to_fit();
      group.narrowKeys.trim();
      group.wideKeys.trim();
      group.smallAreas.trim();
      group.areas.trim();
      if (group.keyCount > 0) {
        index.numericLengths |= uint32_t{1} << n;
      }
    }
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

// A text in memory, given in pieces.
class MemorySource : public AreaTextSource {
 public:
  explicit MemorySource(std::string_view text) : text_(text) {}
  ptrdiff_t read(char* into, size_t capacity) override {
    const size_t count = std::min(capacity, text_.size() - at_);
    if (count == 0) return 0;  // an empty view may have no bytes at all to copy from
    std::memcpy(into, text_.data() + at_, count);
    at_ += count;
    return static_cast<ptrdiff_t>(count);
  }
  bool rewind() override {
    at_ = 0;
    return true;
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
};

}  // namespace

AreaIndexBuild buildAreaIndex(AreaTextSource& source, size_t skippedUnits, AreaIndex& index,
                              size_t readSize) {
  // In order with small area numbers first, as real files are read; a text
  // that needs more is read again in the mode it needs.
  BuildMode mode;
  for (;;) {
    index = AreaIndex{};
    Builder builder(skippedUnits, index, mode);
    const AreaIndexBuild result = builder.readRecords(source, readSize);
    if (result != AreaIndexBuild::built) {
      index = AreaIndex{};
      return result;
    }
    if (!builder.stopped()) {
      builder.finish();
      return AreaIndexBuild::built;
    }
    if (builder.outOfOrder) mode.ordered = false;
    if (builder.tooManyAreas) mode.wideAreas = true;
    if (!source.rewind()) {
      index = AreaIndex{};
      return AreaIndexBuild::readFailed;
    }
  }
}

bool buildAreaIndex(std::string_view text, size_t skippedUnits, AreaIndex& index, size_t readSize) {
  MemorySource source(text);
  return buildAreaIndex(source, skippedUnits, index, readSize) == AreaIndexBuild::built;
}

// How the search reads an index built in memory.
size_t textKeyCount(const AreaIndex& index) {
  return index.textKeys.size();
}
std::u16string_view textKeyAt(const AreaIndex& index, size_t at) {
  return index.textKeys[at];
}
uint32_t textAreaAt(const AreaIndex& index, size_t at) {
  return index.textAreas[at];
}
std::optional<std::string_view> areaTextAt(const AreaIndex& index, uint32_t area) {
  return areaText(index, area);
}

std::optional<std::string_view> findInAreaIndex(const AreaIndex& index,
                                                std::u16string_view nationalNumber,
                                                size_t* matchedUnits) {
  return area_index_search::find(index, nationalNumber, matchedUnits);
}

size_t areaIndexBytes(const AreaIndex& index) {
  size_t bytes = index.textKeys.capacity() * sizeof(std::u16string) +
                 index.textAreas.capacity() * sizeof(uint32_t) + index.areaTexts.capacity() +
                 index.areaStarts.capacity() * sizeof(uint32_t);
  for (const AreaIndex::Group& group : index.groups) {
    bytes += group.shortKeys.heldBytes() + group.shortStarts.capacity() * sizeof(uint32_t) +
             group.narrowKeys.heldBytes() + group.wideKeys.heldBytes() +
             group.smallAreas.heldBytes() + group.areas.heldBytes();
  }
  for (const std::u16string& key : index.textKeys) {
    // Short texts live inside the string object itself.
    if (key.capacity() > std::u16string().capacity()) bytes += (key.capacity() + 1) * 2;
  }
  return bytes;
}
