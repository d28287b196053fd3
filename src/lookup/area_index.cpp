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
  std::vector<NumericRecord> numeric;
  std::vector<TextRecord> texts;
  // Numeric records whose skipped part has non-ASCII characters: the byte
  // length of that part, by the record's offset.
  std::unordered_map<uint32_t, uint32_t> unusualHeads;
  std::unordered_map<std::string_view, uint32_t> areaNumbers;
  std::string_view lastArea;
  uint32_t lastAreaNumber = UINT32_MAX;

  uint32_t offset(const Byte* p) const { return static_cast<uint32_t>(p - base); }

  uint32_t areaNumber(const Byte* begin, const Byte* end) {
    const std::string_view text(reinterpret_cast<const char*>(begin),
                                static_cast<size_t>(end - begin));
    // Neighbouring lines often share their area text.
    if (lastAreaNumber != UINT32_MAX && text == lastArea) return lastAreaNumber;
    auto [entry, added] =
        areaNumbers.try_emplace(text, static_cast<uint32_t>(index.areaStarts.size()));
    if (added) {
      index.areaStarts.push_back(static_cast<uint32_t>(index.areaTexts.size()));
      index.areaTexts.append(text);
    }
    lastArea = text;
    lastAreaNumber = entry->second;
    return entry->second;
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
    if (asciiHead && static_cast<size_t>(keyEnd - begin) - skipped <= kMaxNumericDigits) {
      uint64_t value = 0;
      const Byte* p = begin + skipped;
      for (; p < keyEnd; ++p) {
        const unsigned digit = static_cast<unsigned>(*p) - '0';
        if (digit > 9) break;
        value = value * 10 + digit;
      }
      if (p == keyEnd) {
        const size_t digits = static_cast<size_t>(keyEnd - begin) - skipped;
        addNumeric(numericKey(value, digits), areaNumber(area, end), offset(begin));
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
      addNumeric(numericKey(value, prefix.size()), areaNumber(area, end), offset(begin));
      return;
    }
    texts.push_back({std::move(prefix), areaNumber(area, end), offset(begin), headLength});
  }

  // Lines in a row with the same key need only one record: the first line's
  // place with the last line's area text. This keeps a file of one key
  // repeated from growing the records.
  void addNumeric(uint64_t key, uint32_t area, uint32_t head) {
    const NumericRecord record{key, area, head};
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
      uint64_t events = ends | bars;
      while (events != 0) {
        const Byte* at = chunkStart + std::countr_zero(events);
        events &= events - 1;
        const Byte c = *at;
        if (c == '|') {
          if (!firstBar) firstBar = at;
          lastBar = at;
          continue;
        }
        // The LF of a CR LF pair ends nothing: the CR already ended the line.
        if (c == '\n' && at == lineStart && at != base && at[-1] == '\r') {
          lineStart = at + 1;
          continue;
        }
        line(lineStart, at, firstBar, lastBar);
        firstBar = lastBar = nullptr;
        lineStart = at + (c == 0xC2 ? 2 : c == 0xE2 ? 3 : 1);
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

  void finish() {
    auto byKey = [](const NumericRecord& a, const NumericRecord& b) {
      return a.key != b.key ? a.key < b.key : a.head < b.head;
    };
    // Real files are sorted already; then there is nothing to do.
    if (!std::is_sorted(numeric.begin(), numeric.end(), byKey)) {
      std::sort(numeric.begin(), numeric.end(), byKey);
    }
    settle(
        numeric, [](const NumericRecord& a, const NumericRecord& b) { return a.key == b.key; },
        [&](const NumericRecord& record, uint32_t area) {
          index.numericKeys.push_back(record.key);
          index.numericAreas.push_back(area);
          index.numericLengths |= uint32_t{1} << (record.key & 31);
        });
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
    index.numericKeys.shrink_to_fit();
    index.numericAreas.shrink_to_fit();
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
  Builder builder{reinterpret_cast<const Byte*>(text.data()), text.size(), skippedUnits, index};
  // Roughly one record per 24 bytes in real files.
  builder.numeric.reserve(text.size() / 24 + 1);
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

  // Longest first. A shorter prefix sorts before a longer one that it
  // begins, so each search can stop where the previous one ended.
  std::optional<uint32_t> found;
  size_t foundLength = 0;
  uint32_t lengths = index.numericLengths & ((uint32_t{2} << digits) - 1);
  auto upper = index.numericKeys.end();
  while (lengths != 0) {
    const size_t length = static_cast<size_t>(31 - std::countl_zero(lengths));
    lengths &= ~(uint32_t{1} << length);
    const uint64_t key = numericKey(values[length], length);
    auto at = std::lower_bound(index.numericKeys.begin(), upper, key);
    if (at != upper && *at == key) {
      found = index.numericAreas[static_cast<size_t>(at - index.numericKeys.begin())];
      foundLength = length;
      break;
    }
    upper = at;
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
  size_t bytes = index.numericKeys.capacity() * sizeof(uint64_t) +
                 index.numericAreas.capacity() * sizeof(uint32_t) +
                 index.textKeys.capacity() * sizeof(std::u16string) +
                 index.textAreas.capacity() * sizeof(uint32_t) + index.areaTexts.capacity() +
                 index.areaStarts.capacity() * sizeof(uint32_t);
  for (const std::u16string& key : index.textKeys) {
    // Short texts live inside the string object itself.
    if (key.capacity() > std::u16string().capacity()) bytes += (key.capacity() + 1) * 2;
  }
  return bytes;
}
