// The measure of a property-list file's nesting and values, taken on the raw
// bytes, XML and binary, before any parser (libplist recurses) sees them:
// nothing can be hidden from it. It needs no libplist, so it runs on every
// architecture the library is built for.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/foundation/plist_codec.h"
#include "host/foundation/plist_depth.h"
#include "support/plist_samples.h"

using host::plist::kMaxDepth;
using host::plist::Nesting;
using namespace testing_support;

namespace {

Nesting measure(std::string_view bytes) {
  return host::plist::checkNesting(bytes, kMaxDepth, host::plist::kMaxValues);
}

// Guards the limit itself in both forms: the deepest allowed file passes, one
// level more does not, and 200,000 levels (which crash libplist) are refused
// without a crash.
TEST(PlistDepth, DepthIsRefusedAtTheLimitInBothForms) {
  EXPECT_EQ(measure(nestedXml(kMaxDepth)), Nesting::fits);
  EXPECT_EQ(measure(nestedXml(kMaxDepth + 1)), Nesting::tooDeep);
  EXPECT_EQ(measure(nestedXml(200000)), Nesting::tooDeep);
  EXPECT_EQ(measure(kHead + repeat("<dict>", 300000)), Nesting::tooDeep);

  // An array chain at the top measures as deep as any other.
  EXPECT_EQ(measure(binaryPlist(chain(kMaxDepth))), Nesting::fits);
  EXPECT_EQ(measure(binaryPlist(chain(kMaxDepth + 1))), Nesting::tooDeep);
  EXPECT_EQ(measure(binaryPlist(chain(200000))), Nesting::tooDeep);
}

// Guards against closing tags that libplist does not take for closing tags
// (in comments, quoted attributes, processing instructions, CDATA, a document
// type) being counted, which would let deep nesting through.
TEST(PlistDepth, ClosingTagsCannotBeHiddenFromTheMeasure) {
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
    EXPECT_EQ(measure(text), Nesting::tooDeep);
  }
  // Wide is not deep: many siblings with comments and attributes still read.
  std::string wide = kHead + "<dict>" +
                     repeat("<!-- <dict> --><key>k</key><array><dict/><true/></array>", 5000) +
                     "</dict></plist>";
  EXPECT_EQ(measure(wide), Nesting::fits);
}

// Guards against a binary file that refers to itself (endless depth), one whose
// shared references would expand to billions of values, and references or
// offsets that lead outside the file.
TEST(PlistDepth, BinaryGraphsAreBounded) {
  EXPECT_EQ(measure(binaryPlist({{0}})), Nesting::tooDeep);
  EXPECT_EQ(measure(binaryPlist({{1}, {2}, {1}})), Nesting::tooDeep);
  std::vector<std::vector<uint32_t>> doubling;
  for (uint32_t i = 0; i < 30; ++i) doubling.push_back({i + 1, i + 1});
  doubling.push_back({});
  EXPECT_EQ(measure(binaryPlist(doubling)), Nesting::tooManyValues);
  EXPECT_EQ(measure(binaryPlist({{7}})), Nesting::malformed);
  std::string truncated = binaryPlist(chain(3));
  truncated[truncated.size() - 1] = char(0x7F);  // offset table beyond the end
  EXPECT_EQ(measure(truncated), Nesting::malformed);
  // A UTF-16 key holding U+0000 stops libplist on an assertion: refused before
  // it is parsed, while the same key without it passes.
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
  EXPECT_EQ(measure(utf16Nul), Nesting::malformed);
  EXPECT_EQ(measure(utf16), Nesting::fits);
}

// Guards the limit where the walk cannot follow the text and counts every
// opening that follows: the file still fits at exactly kMaxDepth levels and
// is refused at one more, whatever made the walk lose its way.
TEST(PlistDepth, TheLimitHoldsWhereTheWalkLosesItsWay) {
  const std::string losing[] = {"<unknown/>", "<!ELEMENT x>", "text outside any tag"};
  for (const std::string& lost : losing) {
    SCOPED_TRACE(lost);
    for (int levels : {kMaxDepth, kMaxDepth + 1}) {
      // The root dictionary is level 1; the arrays after the lost part are
      // counted on top of it.
      const std::string text = kHead + "<dict><key>k</key>" + lost +
                               repeat("<array>", size_t(levels - 1)) +
                               repeat("</array>", size_t(levels - 1)) + "</dict></plist>";
      EXPECT_EQ(measure(text), levels > kMaxDepth ? Nesting::tooDeep : Nesting::fits) << levels;
    }
  }
}

}  // namespace
