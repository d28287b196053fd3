// A test double of the preference store's file format, for the cross-built
// tests: the targets have no libplist, so the store (preference_codec.h)
// writes its files in this trivial text format there. It is no product file
// format: no product program links it, and no file a user keeps is ever
// written in it.
//
// A file is the line "zelvora-test-preferences" and one value, the root
// dictionary, each value a letter and its contents:
//   s<n>:<n bytes of UTF-8>      text        i<decimal>;       integer
//   r<16 hex digits>;            real (bits) b0 b1             boolean
//   x<n>:<n bytes>               data        t<decimal>;       date (seconds)
//   a<n>:<n values>              array       d<n>:<n entries>  dictionary
// where a dictionary entry is <n>:<n bytes of key> and a value.
//
// It holds what a property-list file holds, in the same form (plist_codec.h):
// texts cut at their first U+0000, dates to whole seconds within the range of
// 32-bit seconds since 2001, no null marker, no runtime objects, no keys with
// U+0000, and at most the same depth; the same size limit applies. So the
// lookup behaves the same over either format.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/foundation/preference_codec.h"
#include "host/foundation/values.h"

namespace host {
namespace {

constexpr std::string_view kHead = "zelvora-test-preferences\n";
constexpr size_t kMaxBytes = size_t{4} << 20;  // as property-list files
constexpr int kMaxDepth = 32;

void writeBytes(std::string& out, char kind, std::string_view bytes) {
  out += kind;
  out += std::to_string(bytes.size());
  out += ':';
  out += bytes;
}

double storedDate(double seconds) {
  const double whole = std::trunc(seconds);
  return std::fmin(std::fmax(whole, double(INT32_MIN)), double(INT32_MAX));
}

// Appends `value` as the file holds it; false when the file cannot hold it.
bool encodeValue(std::string& out, const id& value, int depth) {
  if (auto* text = objectAs<NSString>(value)) {
    std::string utf8 = toUtf8(text->units());
    writeBytes(out, 's', utf8.substr(0, utf8.find('\0')));
  } else if (auto* number = objectAs<NSNumber>(value)) {
    switch (number->kind()) {
      case NSNumber::Kind::integer:
        out += 'i' + std::to_string(number->integerValue()) + ';';
        break;
      case NSNumber::Kind::boolean:
        out += number->boolValue() ? "b1" : "b0";
        break;
      case NSNumber::Kind::real: {
        const double real = number->realValue() == 0 ? 0.0 : number->realValue();
        uint64_t bits = 0;
        std::memcpy(&bits, &real, sizeof bits);
        static constexpr char kHex[] = "0123456789abcdef";
        out += 'r';
        for (int shift = 60; shift >= 0; shift -= 4) out += kHex[(bits >> shift) & 0xF];
        out += ';';
        break;
      }
    }
  } else if (auto* data = objectAs<NSData>(value)) {
    writeBytes(out, 'x',
               {reinterpret_cast<const char*>(data->bytes().data()), data->bytes().size()});
  } else if (auto* date = objectAs<NSDate>(value)) {
    if (std::isnan(date->secondsSinceReferenceDate())) return false;
    out += 't' + std::to_string(int64_t(storedDate(date->secondsSinceReferenceDate()))) + ';';
  } else if (auto* array = objectAs<NSArray>(value)) {
    if (depth > kMaxDepth) return false;
    std::string items;
    size_t count = 0;
    for (const id& item : array->items()) count += encodeValue(items, item, depth + 1);
    out += 'a' + std::to_string(count) + ':' + items;
  } else if (auto* dictionary = objectAs<NSDictionary>(value)) {
    if (depth > kMaxDepth) return false;
    std::string entries;
    size_t count = 0;
    for (const auto& [key, item] : dictionary->entries()) {
      if (key.find('\0') != std::string::npos) continue;
      std::string entry = std::to_string(key.size()) + ':' + key;
      if (encodeValue(entry, item, depth + 1)) {
        entries += entry;
        ++count;
      }
    }
    out += 'd' + std::to_string(count) + ':' + entries;
  } else {
    return false;  // nil, the null marker, runtime objects
  }
  return true;
}

class Reader {
 public:
  explicit Reader(std::string_view bytes) : rest_(bytes) {}
  bool atEnd() const { return rest_.empty(); }
  bool take(char c) {
    if (rest_.empty() || rest_.front() != c) return false;
    rest_.remove_prefix(1);
    return true;
  }
  // Decimal digits (with an optional "-") up to `end`.
  std::optional<int64_t> number(char end) {
    const bool negative = take('-');
    uint64_t magnitude = 0;
    size_t digits = 0;
    while (!rest_.empty() && rest_.front() >= '0' && rest_.front() <= '9' && digits < 19) {
      magnitude = magnitude * 10 + uint64_t(rest_.front() - '0');
      rest_.remove_prefix(1);
      ++digits;
    }
    if (digits == 0 || !take(end)) return std::nullopt;
    return int64_t(negative ? 0 - magnitude : magnitude);  // modulo 2^64, as C++20 converts
  }
  // A length, then ':' and that many bytes.
  std::optional<std::string_view> counted() {
    std::optional<int64_t> size = number(':');
    if (!size || *size < 0 || uint64_t(*size) > rest_.size()) return std::nullopt;
    std::string_view bytes = rest_.substr(0, size_t(*size));
    rest_.remove_prefix(size_t(*size));
    return bytes;
  }
  std::optional<uint64_t> hex(size_t digits) {
    if (rest_.size() < digits) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = 0; i < digits; ++i) {
      const char c = rest_[i];
      const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (digit < 0) return std::nullopt;
      value = value << 4 | uint64_t(digit);
    }
    rest_.remove_prefix(digits);
    return value;
  }
  size_t left() const { return rest_.size(); }

 private:
  std::string_view rest_;
};

// The next value, or nil when the bytes do not hold one; `problem` says why.
id decodeValue(Reader& in, int depth, DecodeProblem& problem) {
  auto fail = [&](DecodeProblem why) {
    if (problem == DecodeProblem::none) problem = why;
    return id();
  };
  if (in.take('s')) {
    auto bytes = in.counted();
    return bytes ? NSString::fromUtf8(*bytes) : fail(DecodeProblem::notPropertyList);
  }
  if (in.take('x')) {
    auto bytes = in.counted();
    if (!bytes) return fail(DecodeProblem::notPropertyList);
    return NSData::make(std::vector<uint8_t>(bytes->begin(), bytes->end()));
  }
  if (in.take('i')) {
    auto value = in.number(';');
    return value ? NSNumber::integer(*value) : fail(DecodeProblem::notPropertyList);
  }
  if (in.take('t')) {
    auto value = in.number(';');
    return value ? NSDate::make(double(*value)) : fail(DecodeProblem::notPropertyList);
  }
  if (in.take('b')) {
    if (in.take('0')) return NSNumber::boolean(false);
    if (in.take('1')) return NSNumber::boolean(true);
    return fail(DecodeProblem::notPropertyList);
  }
  if (in.take('r')) {
    auto bits = in.hex(16);
    if (!bits || !in.take(';')) return fail(DecodeProblem::notPropertyList);
    double real = 0;
    std::memcpy(&real, &*bits, sizeof real);
    return NSNumber::real(real);
  }
  const bool isArray = in.take('a');
  if (!isArray && !in.take('d')) return fail(DecodeProblem::notPropertyList);
  if (depth > kMaxDepth) return fail(DecodeProblem::tooDeep);
  auto count = in.number(':');
  // Every item takes two bytes at least, so a count cannot ask for more.
  if (!count || *count < 0 || uint64_t(*count) > in.left() / 2) {
    return fail(DecodeProblem::notPropertyList);
  }
  std::vector<id> items;
  NSDictionary::Entries entries;
  for (int64_t i = 0; i < *count; ++i) {
    std::optional<std::string_view> key;
    if (!isArray && !(key = in.counted())) return fail(DecodeProblem::notPropertyList);
    id item = decodeValue(in, depth + 1, problem);
    if (!item) return nil;
    if (isArray) {
      items.push_back(std::move(item));
    } else {
      entries[std::string(*key)] = std::move(item);
    }
  }
  return isArray ? NSArray::make(std::move(items)) : NSDictionary::make(std::move(entries));
}

class TestPreferenceCodec final : public PreferenceCodec {
 public:
  size_t maxBytes() const override { return kMaxBytes; }

  std::string encode(const NSDictionary::Entries& entries) const override {
    std::string out(kHead);
    encodeValue(out, NSDictionary::make(entries), 1);
    return out;
  }

  std::optional<NSDictionary::Entries> decode(std::string_view bytes,
                                              DecodeProblem* problem) const override {
    DecodeProblem unused;
    DecodeProblem& why = problem ? *problem : unused;
    why = DecodeProblem::none;
    if (bytes.size() > kMaxBytes) {
      why = DecodeProblem::tooLarge;
      return std::nullopt;
    }
    if (bytes.substr(0, kHead.size()) != kHead) {
      why = DecodeProblem::notPropertyList;
      return std::nullopt;
    }
    Reader in(bytes.substr(kHead.size()));
    id root = decodeValue(in, 1, why);
    if (root && !in.atEnd()) why = DecodeProblem::notPropertyList;
    if (why != DecodeProblem::none) return std::nullopt;
    auto* dictionary = objectAs<NSDictionary>(root);
    if (!dictionary) {
      why = DecodeProblem::notDictionary;
      return std::nullopt;
    }
    return dictionary->entries();
  }

  id storedForm(const id& value) const override {
    auto entries = decode(encode({{"v", value}}), nullptr);
    if (!entries) return nil;
    auto found = entries->find("v");
    return found == entries->end() ? nil : found->second;
  }
};

}  // namespace

const PreferenceCodec& preferenceCodec() {
  static const TestPreferenceCodec codec;
  return codec;
}

}  // namespace host
