#include "host/foundation/values.h"

#include <cmath>
#include <limits>

#include "host/foundation/unicode.h"

id NSString::make(std::u16string units) {
  return std::make_shared<NSString>(std::move(units));
}

id NSString::fromUtf8(std::string_view utf8) {
  return make(toUtf16(utf8));
}

id NSNumber::integer(int64_t value) {
  return std::make_shared<NSNumber>(Kind::integer, value, double(value));
}

id NSNumber::real(double value) {
  return std::make_shared<NSNumber>(Kind::real, 0, value);
}

id NSNumber::boolean(bool value) {
  return std::make_shared<NSNumber>(Kind::boolean, value ? 1 : 0, value ? 1.0 : 0.0);
}

int32_t NSNumber::int32Value() const {
  if (kind_ != Kind::real) return static_cast<int32_t>(static_cast<uint32_t>(integer_));
  if (std::isnan(real_)) return 0;
  double truncated = std::trunc(real_);
  int64_t whole;
  if (truncated >= 9223372036854775807.0) {
    whole = std::numeric_limits<int64_t>::max();
  } else if (truncated <= -9223372036854775808.0) {
    whole = std::numeric_limits<int64_t>::min();
  } else {
    whole = static_cast<int64_t>(truncated);
  }
  return static_cast<int32_t>(static_cast<uint32_t>(whole));
}

const id& NSNull::null() {
  static const id instance = std::make_shared<NSNull>();
  return instance;
}

id NSArray::make(std::vector<id> items) {
  return std::make_shared<NSArray>(std::move(items));
}

id NSDictionary::make(Entries entries) {
  return std::make_shared<NSDictionary>(std::move(entries));
}

id NSData::make(std::vector<uint8_t> bytes) {
  return std::make_shared<NSData>(std::move(bytes));
}

id NSDate::make(double seconds) {
  return std::make_shared<NSDate>(seconds);
}

bool valuesEqual(const id& a, const id& b) {
  if (a == b) return true;
  if (!a || !b) return false;
  if (auto* x = objectAs<NSString>(a)) {
    auto* y = objectAs<NSString>(b);
    return y && x->units() == y->units();
  }
  if (auto* x = objectAs<NSNumber>(a)) {
    auto* y = objectAs<NSNumber>(b);
    if (!y || x->kind() != y->kind()) return false;
    if (x->kind() == NSNumber::Kind::real) {
      return x->realValue() == y->realValue() ||
             (std::isnan(x->realValue()) && std::isnan(y->realValue()));
    }
    return x->integerValue() == y->integerValue();
  }
  if (auto* x = objectAs<NSArray>(a)) {
    auto* y = objectAs<NSArray>(b);
    if (!y || x->items().size() != y->items().size()) return false;
    for (size_t i = 0; i < x->items().size(); ++i) {
      if (!valuesEqual(x->items()[i], y->items()[i])) return false;
    }
    return true;
  }
  if (auto* x = objectAs<NSDictionary>(a)) {
    auto* y = objectAs<NSDictionary>(b);
    if (!y || x->entries().size() != y->entries().size()) return false;
    auto i = x->entries().begin();
    auto j = y->entries().begin();
    for (; i != x->entries().end(); ++i, ++j) {
      if (i->first != j->first || !valuesEqual(i->second, j->second)) return false;
    }
    return true;
  }
  if (auto* x = objectAs<NSData>(a)) {
    auto* y = objectAs<NSData>(b);
    return y && x->bytes() == y->bytes();
  }
  if (auto* x = objectAs<NSDate>(a)) {
    auto* y = objectAs<NSDate>(b);
    return y && x->secondsSinceReferenceDate() == y->secondsSinceReferenceDate();
  }
  return false;  // NSNull is a singleton, handled by the identity test above
}

namespace {

void appendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace

std::string toUtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (size_t i = 0, length; i < units.size(); i += length) {
    char32_t c = host::codePointAt(units, i, length);
    appendUtf8(out, host::isSurrogate(c) ? 0xFFFD : c);
  }
  return out;
}

std::u16string toUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
  const auto* end = p + utf8.size();
  while (p < end) {
    char32_t c = 0;
    size_t length = host::decodeUtf8(p, end, c);
    if (length == 0) {
      out += u'\uFFFD';  // each byte that starts no valid sequence
      ++p;
      continue;
    }
    char16_t units[2];
    out.append(units, host::encodeUtf16(c, units));
    p += length;
  }
  return out;
}
