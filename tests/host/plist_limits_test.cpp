// Property-list decoding under its limits: what the measure of the raw bytes
// refuses (plist_depth_test.cpp) never reaches libplist, files over the size
// limit neither, and what is written can be read back.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/foundation/plist_codec.h"
#include "host/foundation/values.h"
#include "support/plist_samples.h"

using host::plist::DecodeProblem;
using host::plist::kMaxBytes;
using host::plist::kMaxDepth;
using namespace testing_support;

namespace {

DecodeProblem problemOf(std::string_view bytes) {
  DecodeProblem problem = DecodeProblem::none;
  host::plist::decode(bytes, &problem);
  return problem;
}

// Guards against decoding what the measure refuses, or refusing for the
// wrong reason: too deep, too many values, malformed; one level less reads.
TEST(PlistLimits, WhatTheMeasureRefusesDoesNotDecode) {
  std::vector<std::vector<uint32_t>> doubling;
  for (uint32_t i = 0; i < 30; ++i) doubling.push_back({i + 1, i + 1});
  doubling.push_back({});
  EXPECT_EQ(problemOf(nestedXml(kMaxDepth)), DecodeProblem::none);
  EXPECT_EQ(problemOf(nestedXml(kMaxDepth + 1)), DecodeProblem::tooDeep);
  EXPECT_EQ(problemOf(binaryPlist(chain(kMaxDepth))), DecodeProblem::notDictionary);
  EXPECT_EQ(problemOf(binaryPlist(chain(kMaxDepth + 1))), DecodeProblem::tooDeep);
  EXPECT_EQ(problemOf(binaryPlist(doubling)), DecodeProblem::tooLarge);
  EXPECT_EQ(problemOf(binaryPlist({{7}})), DecodeProblem::notPropertyList);
}

// Guards the size limit, and the tell-tale between corrupt files (read whole,
// no property list) and refused ones (kept, never replaced).
TEST(PlistLimits, SizeAndTheKindsOfFailure) {
  std::string padded =
      kHead + "<dict><key>k</key><string>" + std::string(kMaxBytes - kHead.size() - 100, 'x');
  std::string tail = "</string></dict></plist>";
  std::string atLimit = padded + std::string(kMaxBytes - padded.size() - tail.size(), 'y') + tail;
  ASSERT_EQ(atLimit.size(), kMaxBytes);
  EXPECT_EQ(problemOf(atLimit), DecodeProblem::none);
  EXPECT_EQ(problemOf(atLimit + "\n"), DecodeProblem::tooLarge);

  EXPECT_EQ(problemOf("not a property list"), DecodeProblem::notPropertyList);
  EXPECT_EQ(problemOf(""), DecodeProblem::notPropertyList);
  EXPECT_EQ(problemOf(kHead + "<array/></plist>"), DecodeProblem::notDictionary);
  EXPECT_TRUE(host::plist::isCorrupt(DecodeProblem::notDictionary));
  EXPECT_FALSE(host::plist::isCorrupt(DecodeProblem::tooDeep));
  EXPECT_FALSE(host::plist::isCorrupt(DecodeProblem::tooLarge));
}

// Guards against writing what cannot be read back: values nested deeper than
// the limit are left out when stored.
TEST(PlistLimits, WritingLeavesOutWhatReadingWouldRefuse) {
  id value = NSArray::make({});
  for (int level = 2; level < kMaxDepth; ++level) value = NSArray::make({value});
  // `value` is kMaxDepth - 1 levels deep: under the root it just fits.
  auto fits = host::plist::decode(host::plist::encodeXml({{"v", value}}));
  ASSERT_TRUE(fits);
  EXPECT_TRUE(valuesEqual((*fits)["v"], value));
  // One level more: the innermost array, now beyond the limit, is left out,
  // which gives the shape of `value` again.
  auto cut = host::plist::decode(host::plist::encodeXml({{"v", NSArray::make({value})}}));
  ASSERT_TRUE(cut);
  EXPECT_TRUE(valuesEqual((*cut)["v"], value));
}

}  // namespace
