// Property-list files (plist_codec.h), case by case: what a file makes of
// dates at and beyond its bounds, of keys it cannot hold, of nesting deeper
// than it keeps, and of values it reads but does not keep.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "host/foundation/plist_codec.h"
#include "host/foundation/values.h"

using host::plist::DecodeProblem;

namespace {

double storedDate(double seconds) {
  const id stored = host::plist::storedForm(NSDate::make(seconds));
  auto* date = objectAs<NSDate>(stored);
  return date ? date->secondsSinceReferenceDate() : -1.5;  // -1.5: no date came back
}

// Guards the clamping to what libplist holds, and the carry of a fraction
// that rounds to a whole second (without it, 0.9999999 would read as 0).
TEST(PlistCodecCases, DatesAreClampedAndRoundedToWholeSeconds) {
  struct Case {
    double seconds;
    double stored;
  };
  const Case cases[] = {
      {1e12, 2147483647.0}, {-1e12, -2147483648.0}, {0.9999999, 1.0},
      {-0.9999999, -1.0},   {12.75, 12.0},          {-12.75, -12.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.seconds);
    EXPECT_EQ(storedDate(c.seconds), c.stored);
  }
  EXPECT_EQ(host::plist::storedForm(NSDate::make(std::numeric_limits<double>::quiet_NaN())), nil);
}

// A chain of `dictionaries` nested dictionaries, each under the key "d".
id chain(int dictionaries) {
  id value = NSDictionary::make({});
  for (int i = 1; i < dictionaries; ++i) value = NSDictionary::make({{"d", value}});
  return value;
}

// Guards what a file leaves out at any level: keys with U+0000, and
// dictionaries nested deeper than kMaxDepth (the root being level 1, a value
// stored under it has kMaxDepth - 1 levels of its own at most).
TEST(PlistCodecCases, WhatAFileCannotHoldIsLeftOutAtAnyLevel) {
  const id one = NSNumber::integer(1);
  const id withNul = NSDictionary::make({{std::string("a\0b", 3), one}, {"k", one}});
  EXPECT_TRUE(valuesEqual(host::plist::storedForm(NSArray::make({withNul})),
                          NSArray::make({NSDictionary::make({{"k", one}})})));
  auto topLevel =
      host::plist::decode(host::plist::encodeXml({{std::string("a\0b", 3), one}, {"k", one}}));
  ASSERT_TRUE(topLevel);
  EXPECT_EQ(topLevel->size(), 1u);
  EXPECT_EQ(topLevel->count("k"), 1u);
  const int kept = host::plist::kMaxDepth - 1;
  EXPECT_TRUE(valuesEqual(host::plist::storedForm(chain(kept)), chain(kept)));
  EXPECT_TRUE(valuesEqual(host::plist::storedForm(chain(kept + 1)), chain(kept)));
  EXPECT_TRUE(valuesEqual(host::plist::storedForm(chain(kept + 9)), chain(kept)));
}

// Guards the reading of values a file holds but the platform does not keep
// (a UID), or holds empty, and of bytes that are no property list at all.
TEST(PlistCodecCases, DecodingKeepsWhatThePlatformKeeps) {
  // bplist00 { "k": UID 1, "e": <empty data> }
  const std::string binary(
      "bplist00\xD2\x01\x02\x03\x04\x51k\x51"
      "e\x80\x01\x40"
      "\x08\x0D\x0F\x11\x13"
      "\x00\x00\x00\x00\x00\x00\x01\x01"
      "\x00\x00\x00\x00\x00\x00\x00\x05"
      "\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x00\x00\x00\x00\x00\x14",
      20 + 5 + 32);
  DecodeProblem problem = DecodeProblem::tooLarge;
  auto entries = host::plist::decode(binary, &problem);
  ASSERT_TRUE(entries);
  EXPECT_EQ(problem, DecodeProblem::none);
  EXPECT_EQ(entries->count("k"), 0u);
  ASSERT_EQ(entries->count("e"), 1u);
  EXPECT_TRUE(valuesEqual(entries->at("e"), NSData::make({})));

  struct Case {
    std::string bytes;
    DecodeProblem problem;
  };
  const Case cases[] = {
      {"", DecodeProblem::notPropertyList},
      {"<plist><array></array></plist>", DecodeProblem::notDictionary},
      {"bplist00", DecodeProblem::notPropertyList},
      {"<plist><dict><key>k</key><string>s</dict></plist>", DecodeProblem::notPropertyList},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_FALSE(host::plist::decode(c.bytes, &problem));
    EXPECT_EQ(problem, c.problem);
  }
}

}  // namespace
