#include "lookup/area_scan.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "host/foundation/unicode.h"

namespace {

using Byte = unsigned char;

constexpr size_t kChunk = 64;

bool unicodeLineEnd(char32_t c) {
  return c == 0x85 || c == 0x2028 || c == 0x2029;
}

// Bit i of `terminators` is set when byte i of the 64-byte chunk is LF or CR;
// bit i of `high` when byte i is not ASCII.
void classifyChunk(const Byte* chunk, uint64_t& terminators, uint64_t& high) {
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  const __m128i cr = _mm_set1_epi8('\r');
  terminators = 0;
  high = 0;
  for (int part = 0; part < 4; ++part) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + 16 * part));
    uint64_t ends = static_cast<uint32_t>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr))));
    uint64_t nonAscii = static_cast<uint32_t>(_mm_movemask_epi8(bytes));
    terminators |= ends << (16 * part);
    high |= nonAscii << (16 * part);
  }
#else
  terminators = 0;
  high = 0;
  for (size_t i = 0; i < kChunk; ++i) {
    if (chunk[i] == '\n' || chunk[i] == '\r') terminators |= uint64_t{1} << i;
    if (chunk[i] >= 0x80) high |= uint64_t{1} << i;
  }
#endif
}

constexpr uint64_t kHighBits = 0x8080808080808080ull;

// Eight bytes from `p`, the first in the lowest position.
uint64_t load64(const Byte* p) {
  uint64_t word;
  std::memcpy(&word, p, sizeof word);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// The bytes at which a key can end, or which need a closer look: "|", LF,
// CR, NUL and every non-ASCII byte.
constexpr auto kEndsKeyOrUnusual = [] {
  std::array<bool, 256> table{};
  table['|'] = table['\n'] = table['\r'] = table[0] = true;
  for (int b = 0x80; b < 0x100; ++b) table[b] = true;
  return table;
}();

class Scanner {
 public:
  Scanner(std::string_view text, size_t skippedUnits, std::u16string_view nationalNumber)
      : base_(reinterpret_cast<const Byte*>(text.data())),
        size_(text.size()),
        skipped_(skippedUnits),
        national_(nationalNumber) {
    // The number's first eight code units packed as bytes, zeros beyond its
    // end, for comparing eight key bytes at once: only when they are ASCII
    // and the calling code fits in one word too.
    wordsUsable_ = skipped_ <= 8;
    for (size_t k = 0; k < 8 && k < national_.size(); ++k) {
      const char16_t unit = national_[k];
      if (unit >= 0x80 || kEndsKeyOrUnusual[unit]) wordsUsable_ = false;
      nationalWord_ |= static_cast<uint64_t>(unit & 0x7F) << (8 * k);
    }
    // Non-ASCII bytes within the calling-code part shift the count of code
    // units, so such lines go the byte-by-byte way.
    if (skipped_ > 0 && skipped_ <= 8) headHighBits_ = kHighBits >> (8 * (8 - skipped_));
  }

  AreaScan run() {
    const Byte* end = base_ + size_;
    const Byte* lineStart = base_;
    const Byte* validatedTo = base_;  // every byte before this is valid UTF-8
    Byte padded[kChunk];
    for (size_t offset = 0; offset < size_; offset += kChunk) {
      const size_t length = std::min(kChunk, size_ - offset);
      const Byte* chunkStart = base_ + offset;
      const Byte* chunk = chunkStart;
      if (length < kChunk) {
        // The last, short chunk is padded with NULs, which are neither line
        // ends nor non-ASCII.
        std::memset(padded, 0, kChunk);
        std::memcpy(padded, chunkStart, length);
        chunk = padded;
      }
      uint64_t terminators;
      uint64_t high;
      classifyChunk(chunk, terminators, high);
      if (high != 0) {
        // Validate the non-ASCII stretch, finishing a sequence that runs on
        // into the next chunk, and mark the Unicode line ends by their first
        // byte. LF and CR never occur inside a multi-byte sequence.
        const Byte* chunkEnd = chunkStart + length;
        const Byte* p = std::max(validatedTo, chunkStart);
        while (p < chunkEnd) {
          if (*p < 0x80) {
            ++p;
            continue;
          }
          char32_t codePoint;
          size_t sequence = host::decodeUtf8(p, end, codePoint);
          if (sequence == 0) return {AreaScan::Result::notUtf8, {}, {}};
          if (unicodeLineEnd(codePoint)) terminators |= uint64_t{1} << (p - chunkStart);
          p += sequence;
        }
        validatedTo = p;
      }
      if (high == 0 && skipped_ > 0) {
        // The common case: an ASCII stretch, so every line ends at one LF or
        // CR byte. The empty "line" between the CR and LF of a pair is shorter
        // than the calling code and is passed over like any empty line.
        while (terminators != 0) {
          const Byte* terminator = chunkStart + __builtin_ctzll(terminators);
          terminators &= terminators - 1;
          const Byte* begin = lineStart;
          lineStart = terminator + 1;
          if (static_cast<size_t>(terminator - begin) >= skipped_) line(begin, terminator);
        }
        continue;
      }
      while (terminators != 0) {
        const Byte* terminator = chunkStart + __builtin_ctzll(terminators);
        terminators &= terminators - 1;
        // The LF of a CR LF pair ends nothing: the CR already ended the line.
        if (*terminator == '\n' && terminator == lineStart && terminator != base_ &&
            terminator[-1] == '\r') {
          lineStart = terminator + 1;
          continue;
        }
        line(lineStart, terminator);
        lineStart = terminator + (*terminator == 0xC2 ? 2 : *terminator == 0xE2 ? 3 : 1);
      }
    }
    if (lineStart < end) line(lineStart, end);
    if (!found_) return {};
    return {AreaScan::Result::match,
            std::string_view(reinterpret_cast<const char*>(bestArea_), bestAreaLength_),
            std::string_view(reinterpret_cast<const char*>(bestKey_), bestKeyLength_)};
  }

 private:
  // One record, without its terminator. Nearly every line is turned away
  // here after one comparison of eight bytes: the key's first bytes after the
  // calling code against the number's first bytes. Where they first differ,
  // the key has not ended (the number holds no "|" or line end, and the
  // zeros past its end match no key byte), so an ordinary character there
  // means the key is not a prefix of the number. Only the rare line where they
  // differ at "|", a line end, a NUL or a non-ASCII byte, or not at all, is
  // examined byte by byte.
  [[gnu::always_inline]] void line(const Byte* begin, const Byte* end) {
    if (!wordsUsable_ || begin + skipped_ + 8 > base_ + size_) return lineByBytes(begin, end);
    if (load64(begin) & headHighBits_) return lineByBytes(begin, end);
    const uint64_t difference = load64(begin + skipped_) ^ nationalWord_;
    if (difference != 0 &&
        !kEndsKeyOrUnusual[begin[skipped_ +
                                 static_cast<size_t>(__builtin_ctzll(difference)) / 8]]) {
      return;
    }
    lineByBytes(begin, end);
  }

  // The same, a byte at a time.
  [[gnu::noinline]] void lineByBytes(const Byte* begin, const Byte* end) {
    const size_t length = static_cast<size_t>(end - begin);
    if (length < skipped_) return;
    for (size_t i = 0; i < skipped_; ++i) {
      if (begin[i] == '|') return;  // key shorter than the calling code
      if (begin[i] >= 0x80) return lineWithUnicodeKey(begin, end);
    }
    size_t i = skipped_;
    for (; i < length; ++i) {
      const Byte c = begin[i];
      if (c == '|') break;
      if (c >= 0x80) return lineWithUnicodeKey(begin, end);
      const size_t compared = i - skipped_;
      if (compared >= national_.size() || national_[compared] != c) return;
    }
    candidate(begin, begin + i, i, end);
  }

  // The same for a key with non-ASCII characters, counting UTF-16 code units.
  [[gnu::noinline]] void lineWithUnicodeKey(const Byte* begin, const Byte* end) {
    const Byte* p = begin;
    size_t units = 0;
    size_t compared = 0;
    while (p < end && *p != '|') {
      char32_t codePoint;
      size_t sequence = host::decodeUtf8(p, end, codePoint);
      if (sequence == 0) return;
      char16_t pair[2];
      const size_t count = host::encodeUtf16(codePoint, pair);
      for (size_t k = 0; k < count; ++k, ++units) {
        if (units < skipped_) continue;
        if (compared >= national_.size() || national_[compared] != pair[k]) return;
        ++compared;
      }
      p += sequence;
    }
    if (units < skipped_) return;
    candidate(begin, p, units, end);
  }

  [[gnu::noinline]] void candidate(const Byte* begin, const Byte* keyEnd, size_t keyUnits,
                                   const Byte* end) {
    const Byte* area = begin;
    if (keyEnd != end) {
      const void* lastBar = memrchr(keyEnd, '|', static_cast<size_t>(end - keyEnd));
      area = static_cast<const Byte*>(lastBar) + 1;
    }
    const size_t keyLength = static_cast<size_t>(keyEnd - begin);
    if (found_ && keyUnits == bestUnits_) {
      // Same length: only a repeat of the same key replaces the area text.
      if (keyLength != bestKeyLength_ || std::memcmp(begin, bestKey_, keyLength) != 0) return;
    } else if (found_ && keyUnits < bestUnits_) {
      return;
    }
    found_ = true;
    bestUnits_ = keyUnits;
    bestKey_ = begin;
    bestKeyLength_ = keyLength;
    bestArea_ = area;
    bestAreaLength_ = static_cast<size_t>(end - area);
  }

  const Byte* base_;
  size_t size_;
  size_t skipped_;
  std::u16string_view national_;
  uint64_t nationalWord_ = 0;
  uint64_t headHighBits_ = 0;
  bool wordsUsable_ = false;

  bool found_ = false;
  size_t bestUnits_ = 0;
  const Byte* bestKey_ = nullptr;
  size_t bestKeyLength_ = 0;
  const Byte* bestArea_ = nullptr;
  size_t bestAreaLength_ = 0;
};

}  // namespace

AreaScan scanAreaCodes(std::string_view text, size_t skippedUnits,
                       std::u16string_view nationalNumber) {
  if (text.starts_with(kUtf8ByteOrderMark)) text.remove_prefix(kUtf8ByteOrderMark.size());
  return Scanner(text, skippedUnits, nationalNumber).run();
}
