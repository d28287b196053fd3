// Property-list decoding under its limits: nesting is measured on the raw
// bytes, XML and binary, before libplist (which recurses) sees them, and
// nothing can be hidden from the measure.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/foundation/plist_codec.h"
#include "host/foundation/plist_depth.h"
#include "host/foundation/values.h"

using host::plist::DecodeProblem;
using host::plist::kMaxBytes;
using host::plist::kMaxDepth;

namespace {

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";

std::string repeat(const std::string& text, size_t times) {
  std::string out;
  out.reserve(text.size() * times);
  for (size_t i = 0; i < times; ++i) out += text;
  return out;
}

// A root dictionary holding arrays nested so that the deepest container is
// at level `levels`; `between` goes after every closing tag.
std::string nestedXml(size_t levels, const std::string& between = "") {
  return kHead + "<dict><key>k</key>" + repeat("<array>", levels - 1) +
         repeat("</array>" + between, levels - 1) + "</dict></plist>";
}

DecodeProblem problemOf(std::string_view bytes) {
  DecodeProblem problem = DecodeProblem::none;
  host::plist::decode(bytes, &problem);
  return problem;
}

// A binary property list of `objects`, each an array of references to the
// objects listed (4-byte references and offsets), object 0 at the top.
std::string binaryPlist(const std::vector<std::vector<uint32_t>>& objects) {
  auto bigEndian = [](std::string& out, uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out += char((value >> (8 * i)) & 0xFF);
  };
  std::string out = "bplist00";
  std::vector<uint64_t> offsets;
  for (const auto& refs : objects) {
    offsets.push_back(out.size());
    if (refs.size() < 15) {
      out += char(0xA0 | refs.size());
    } else {
      out += char(0xAF);
      out += char(0x12);
      bigEndian(out, refs.size(), 4);
    }
    for (uint32_t ref : refs) bigEndian(out, ref, 4);
  }
  uint64_t table = out.size();
  for (uint64_t offset : offsets) bigEndian(out, offset, 4);
  out += std::string(6, '\0');
  out += char(4);  // offset size
  out += char(4);  // reference size
  bigEndian(out, objects.size(), 8);
  bigEndian(out, 0, 8);
  bigEndian(out, table, 8);
  return out;
}

// A chain of arrays, each holding the next, `levels` deep, under a dictionary.
std::vector<std::vector<uint32_t>> chain(uint32_t levels) {
  std::vector<std::vector<uint32_t>> objects;
  for (uint32_t i = 0; i + 1 < levels; ++i) objects.push_back({i + 1});
  objects.push_back({});
  return objects;
}

// Guards the limit itself in both forms: the deepest allowed file reads, one
// level more does not, and 200,000 levels (which crash libplist) are refused
// without a crash.
TEST(PlistLimits, DepthIsRefusedAtTheLimitInBothForms) {
  EXPECT_EQ(problemOf(nestedXml(kMaxDepth)), DecodeProblem::none);
  EXPECT_EQ(problemOf(nestedXml(kMaxDepth + 1)), DecodeProblem::tooDeep);
  EXPECT_EQ(problemOf(nestedXml(200000)), DecodeProblem::tooDeep);
  EXPECT_EQ(problemOf(kHead + repeat("<dict>", 300000)), DecodeProblem::tooDeep);

  // The binary top object must be a dictionary to decode; an array chain
  // measures the depth all the same.
  EXPECT_EQ(problemOf(binaryPlist(chain(kMaxDepth))), DecodeProblem::notDictionary);
  EXPECT_EQ(problemOf(binaryPlist(chain(kMaxDepth + 1))), DecodeProblem::tooDeep);
  EXPECT_EQ(problemOf(binaryPlist(chain(200000))), DecodeProblem::tooDeep);
}

// Guards against closing tags that libplist does not take for closing tags
// (in comments, quoted attributes, processing instructions, CDATA, a document
// type) being counted, which would let deep nesting through.
TEST(PlistLimits, ClosingTagsCannotBeHiddenFromTheMeasure) {
  const std::string closes = repeat("</array>", 400);
  const std::string hiding[] = {
      "<!--" + closes + "-->",
      "<true a=\"" + closes + "\"/>",
      "<?pi \"" + closes + "\" ?>",
      "<string><![CDATA[" + closes + "]]></string>",
      "<!DOCTYPE plist [" + closes + "]>",
      "<string>" + closes + "</string>",
      "junk" + closes,
  };
  for (const std::string& hidden : hiding) {
    SCOPED_TRACE(hidden.substr(0, 30));
    // Each closing tag is followed by something that libplist skips but that
    // holds closing tags of its own, then come 200 more levels.
    std::string text = kHead + "<dict><key>k</key>" + repeat("<array>", 100) + hidden +
                       repeat("<array>", 200) + "</dict></plist>";
    EXPECT_EQ(problemOf(text), DecodeProblem::tooDeep);
  }
  // Wide is not deep: many siblings with comments and attributes still read.
  std::string wide = kHead + "<dict>" +
                     repeat("<!-- <dict> --><key>k</key><array><dict/><true/></array>", 5000) +
                     "</dict></plist>";
  EXPECT_EQ(problemOf(wide), DecodeProblem::none);
}

// Guards against a binary file that refers to itself (endless depth), one whose
// shared references would expand to billions of values, and references or
// offsets that lead outside the file.
TEST(PlistLimits, BinaryGraphsAreBounded) {
  EXPECT_EQ(problemOf(binaryPlist({{0}})), DecodeProblem::tooDeep);
  EXPECT_EQ(problemOf(binaryPlist({{1}, {2}, {1}})), DecodeProblem::tooDeep);
  std::vector<std::vector<uint32_t>> doubling;
  for (uint32_t i = 0; i < 30; ++i) doubling.push_back({i + 1, i + 1});
  doubling.push_back({});
  EXPECT_EQ(problemOf(binaryPlist(doubling)), DecodeProblem::tooLarge);
  EXPECT_EQ(problemOf(binaryPlist({{7}})), DecodeProblem::notPropertyList);
  std::string truncated = binaryPlist(chain(3));
  truncated[truncated.size() - 1] = char(0x7F);  // offset table beyond the end
  EXPECT_EQ(problemOf(truncated), DecodeProblem::notPropertyList);
  // A UTF-16 key holding U+0000 stops libplist on an assertion: refused before
  // it is parsed, while the same key without it reads.
  const std::string utf16Nul(
      "\x62\x70\x6c\x69\x73\x74\x30\x30\xd1\x01\x02\x63\x00\xe9\x00\x00\x00\x62\x10\x01\x08\x0b\x12"
      "\x00\x00\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x00\x00\x00\x00\x00\x00\x14",
      55);
  const std::string utf16(
      "\x62\x70\x6c\x69\x73\x74\x30\x30\xd1\x01\x02\x62\x00\xe9\x00\x62\x10\x01\x08\x0b\x10\x00\x00"
      "\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00"
      "\x00\x00\x00\x00\x00\x00\x12",
      53);
  EXPECT_EQ(problemOf(utf16Nul), DecodeProblem::notPropertyList);
  EXPECT_EQ(problemOf(utf16), DecodeProblem::none);
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
