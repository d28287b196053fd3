// The platform values' own rules, case by case: intValue of a real, deep
// equality across kinds and shapes, and UTF-8 <-> UTF-16 with bad input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "host/foundation/values.h"

namespace {

// Guards truncation toward zero, the cut to the low 32 bits, NaN, and the
// saturation of reals beyond int64_t before the cut.
TEST(ValuesCases, IntValueOfARealTruncatesSaturatesAndCuts) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct Case {
    double real;
    int32_t expected;
  };
  const Case cases[] = {
      {3.9, 3},
      {-3.9, -3},
      {4294967297.0, 1},  // 2^32 + 1: low 32 bits
      {2147483648.0, INT32_MIN},
      {nan, 0},
      {1e30, -1},  // saturated at 2^63-1, whose low 32 bits are all set
      {inf, -1},
      {-1e30, 0},  // saturated at -2^63, whose low 32 bits are clear
      {-inf, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.real);
    EXPECT_EQ(objectAs<NSNumber>(NSNumber::real(c.real))->int32Value(), c.expected);
  }
  EXPECT_EQ(objectAs<NSNumber>(NSNumber::integer(0x1'8000'0002))->int32Value(), INT32_MIN + 2);
}

TEST(ValuesCases, EqualityLooksAtKindAndEveryPart) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  auto text = [](const char* utf8) { return NSString::fromUtf8(utf8); };
  auto array = [](std::vector<id> items) { return NSArray::make(std::move(items)); };
  auto dict = [](NSDictionary::Entries entries) { return NSDictionary::make(std::move(entries)); };
  auto data = [](std::vector<uint8_t> bytes) { return NSData::make(std::move(bytes)); };
  const id one = NSNumber::integer(1);
  struct Case {
    const char* what;
    id a, b;
    bool equal;
  };
  const Case cases[] = {
      {"nil and nil", nil, nil, true},
      {"nil and a value", nil, one, false},
      {"a value and nil", one, nil, false},
      {"null and nil", NSNull::null(), nil, false},
      {"null and null", NSNull::null(), NSNull::null(), true},
      {"null and a text", NSNull::null(), text(""), false},
      {"same texts", text("a"), text("a"), true},
      {"texts", text("a"), text("b"), false},
      {"text and number", text("1"), one, false},
      {"integer and real of one value", one, NSNumber::real(1.0), false},
      {"integer and boolean", one, NSNumber::boolean(true), false},
      {"integers", one, NSNumber::integer(2), false},
      {"NaN and NaN", NSNumber::real(nan), NSNumber::real(nan), true},
      {"NaN and a real", NSNumber::real(nan), NSNumber::real(1), false},
      {"a real and NaN", NSNumber::real(1), NSNumber::real(nan), false},
      {"0 and -0", NSNumber::real(0.0), NSNumber::real(-0.0), true},
      {"number and array", one, array({}), false},
      {"same arrays", array({one, text("a")}), array({NSNumber::integer(1), text("a")}), true},
      {"arrays of two lengths", array({one}), array({one, one}), false},
      {"arrays differing last", array({one, one}), array({one, text("a")}), false},
      {"array and dictionary", array({}), dict({}), false},
      {"same dictionaries", dict({{"k", one}}), dict({{"k", NSNumber::integer(1)}}), true},
      {"dictionaries of two sizes", dict({{"k", one}}), dict({}), false},
      {"dictionaries, other key", dict({{"k", one}}), dict({{"j", one}}), false},
      {"dictionaries, other value", dict({{"k", one}}), dict({{"k", text("1")}}), false},
      {"dictionary and data", dict({}), data({}), false},
      {"same data", data({1, 2}), data({1, 2}), true},
      {"data", data({1, 2}), data({1, 3}), false},
      {"data and date", data({}), NSDate::make(0), false},
      {"same dates", NSDate::make(1.5), NSDate::make(1.5), true},
      {"dates", NSDate::make(1.5), NSDate::make(2), false},
      {"date and text", NSDate::make(0), text(""), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(valuesEqual(c.a, c.b), c.equal);
    EXPECT_EQ(valuesEqual(c.b, c.a), c.equal);
  }
}

TEST(ValuesCases, BadUnicodeBecomesReplacementCharacters) {
  struct Case {
    std::u16string units;
    std::string utf8;
  };
  const Case toUtf8Cases[] = {
      {u"a\xD800", "a\xEF\xBF\xBD"},          // lone high surrogate at the end
      {u"\xDC00z", "\xEF\xBF\xBDz"},          // lone low surrogate
      {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},  // a pair: U+1F600
      {u"\x7F\x80\x7FF\x800", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80"},  // each length's edge
  };
  for (const Case& c : toUtf8Cases) EXPECT_EQ(toUtf8(c.units), c.utf8);
  const Case toUtf16Cases[] = {
      {u"\xFFFD\xFFFD", "\xC0\xAF"},            // overlong '/': each byte replaced
      {u"a\xFFFD\xFFFD", "a\xE2\x82"},          // cut short: each byte replaced
      {u"\xFFFD\xFFFD\xFFFD", "\xED\xA0\x80"},  // an encoded surrogate
      {u"\xFFFDz", "\xFFz"},                    // no UTF-8 byte at all
      {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},    // beyond U+FFFF: a surrogate pair
  };
  for (const Case& c : toUtf16Cases) EXPECT_EQ(toUtf16(c.utf8), c.units);
}

}  // namespace
