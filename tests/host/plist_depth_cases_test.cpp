// The measure of nesting (plist_depth.h) on hostile bytes, case by case: XML
// the walk must follow or must give up on (counting what follows), and binary
// files whose trailer, offsets, lengths or strings are wrong. It needs no
// libplist.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/foundation/plist_depth.h"

using host::plist::checkNesting;
using host::plist::Nesting;

namespace {

constexpr size_t kManyValues = 1000000;

// ---- XML

// Text the walk follows, so the two closed arrays after it make two levels
// under the root dictionary: within a limit of 2. Where the walk has to give
// up, every "<array" after counts as a level: 3, over the limit.
const std::string kAfter = "<array></array><array></array></dict>";

TEST(PlistDepthCases, XmlTheWalkFollowsOrGivesUpOn) {
  struct Case {
    const char* text;
    Nesting expected;
  };
  const Case cases[] = {
      // Followed: value texts with comments, CDATA, spacing, empty tags.
      {"<key>k</key>", Nesting::fits},
      {"<key>k</key \n>", Nesting::fits},
      {"<key>a<!--<array><array>-->b</key>", Nesting::fits},
      {"<key>a<![CDATA[<array><array>]]>b</key>", Nesting::fits},
      {"<true/><string></string><array  ></array><dict/><array />", Nesting::fits},
      {"<?pi a=\"?><array><array>\"?>", Nesting::fits},
      {"<!DOCTYPE plist [<!ENTITY a \"]><array><array>\">]>", Nesting::fits},
      {"<!DOCTYPE plist\nSYSTEM \"x>\">", Nesting::fits},
      {"<plist></plist>", Nesting::fits},
      // Given up on: what libplist's reader refuses.
      {"<key>k</string>", Nesting::tooDeep},
      {"<key>k</keyx>", Nesting::tooDeep},
      {"<key>k<b/></key>", Nesting::tooDeep},
      {"<unknown>", Nesting::tooDeep},
      {"<!ELEMENT x>", Nesting::tooDeep},
      {"text", Nesting::tooDeep},
      {"<array x <dict/>", Nesting::tooDeep},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(checkNesting("<dict>" + std::string(c.text) + kAfter, 2, kManyValues), c.expected);
  }
}

// Text cut short inside a construct swallows the rest: no "<array" in it
// counts (two levels before it, within a limit of 2).
TEST(PlistDepthCases, XmlCutShortCountsNothingItSwallows) {
  const char* unclosed[] = {
      "<key>k<!-- <array>",  "<key>k<![CDATA[ <array>",
      "<key>k</key",         "<?pi \"<array>",
      "<!-- <array>",        "<!DOCTYPE [ <array>",
      "<!DOCTYPE \"<array>", "<array",
      "<array a=\"<array>",  "<",
  };
  for (const char* text : unclosed) {
    SCOPED_TRACE(text);
    EXPECT_EQ(checkNesting(std::string("<dict><array>") + text, 2, kManyValues), Nesting::fits);
  }
}

// Closing tags with nothing open do not make room for deeper nesting later.
TEST(PlistDepthCases, XmlSurplusClosingTagsGiveNoCredit) {
  const std::string text = "</array></dict></array><array><array><array></array></array></array>";
  EXPECT_EQ(checkNesting(text, 2, kManyValues), Nesting::tooDeep);
  EXPECT_EQ(checkNesting(text, 3, kManyValues), Nesting::fits);
}

// ---- binary

// A binary property list of `objects` (markers and contents, as written),
// laid out one after the other from byte 8 and followed by `pad` unused
// bytes, with 1-byte offsets and references and object 0 at the top.
std::string binary(const std::vector<std::string>& objects, size_t pad = 0) {
  std::string out = "bplist00";
  std::string table;
  for (const std::string& object : objects) {
    table += char(out.size());
    out += object;
  }
  out += std::string(pad, '\0');
  const size_t tableAt = out.size();
  out += table;
  out += std::string(6, '\0') + '\x01' + '\x01';
  auto field = [&out](uint64_t value) {
    for (int i = 7; i >= 0; --i) out += char((value >> (8 * i)) & 0xFF);
  };
  field(objects.size());
  field(0);
  field(tableAt);
  return out;
}

// The file of `objects` objects with offset `index` set to `value`.
std::string withOffset(std::string file, size_t objects, size_t index, size_t value) {
  file[file.size() - 32 - objects + index] = char(value);
  return file;
}

// The file with the trailer's field at `fromEnd` bytes before the end (26:
// offset size, 25: reference size, 24: object count, 16: top object, 8:
// offset table) set to `value`, on `size` bytes.
std::string patched(std::string file, size_t fromEnd, uint64_t value, int size) {
  for (int i = 0; i < size; ++i)
    file[file.size() - fromEnd + size_t(i)] = char((value >> (8 * (size - 1 - i))) & 0xFF);
  return file;
}

TEST(PlistDepthCases, BinaryFilesThatLeadOutsideThemselvesAreMalformed) {
  const std::string good = binary({"\xA1\x01", "\x09"});  // [true]
  const std::string eightFF(8, '\xFF');
  // An object whose marker says "length follows" on the file's last byte: the
  // offset table is placed at 0xAF, which the trailer ends with.
  std::string markerLast = binary({"\xA1\x01", "\x09"}, 0xAF - 8 - 3);
  markerLast = withOffset(markerLast, 2, 1, markerLast.size() - 1);
  struct Case {
    const char* what;
    std::string file;
    Nesting expected;
  };
  const Case cases[] = {
      {"well formed", good, Nesting::fits},
      {"shorter than header and trailer", good.substr(0, 8) + std::string(31, '\0'),
       Nesting::malformed},
      {"offset size 0", patched(good, 26, 0, 1), Nesting::malformed},
      {"offset size 9", patched(good, 26, 9, 1), Nesting::malformed},
      {"reference size 0", patched(good, 25, 0, 1), Nesting::malformed},
      {"reference size 9", patched(good, 25, 9, 1), Nesting::malformed},
      {"no objects", patched(good, 24, 0, 8), Nesting::malformed},
      {"top object past the last", patched(good, 16, 2, 8), Nesting::malformed},
      {"offset table past the end", patched(good, 8, good.size(), 8), Nesting::malformed},
      {"more objects than offsets", patched(good, 24, 100, 8), Nesting::malformed},
      {"offset past the end", withOffset(good, 2, 1, 0xF0), Nesting::malformed},
      {"length marker on the last byte", markerLast, Nesting::malformed},
      {"length that is no integer", binary({std::string("\xAF\x00\x01\x01", 4), "\x09"}),
       Nesting::malformed},
      {"length of 16 bytes", binary({"\xAF\x14\x01", "\x09"}), Nesting::malformed},
      {"1-byte length", binary({"\xAF\x10\x02\x01\x01", "\x09"}), Nesting::fits},
      {"2-byte length", binary({std::string("\xAF\x11\x00\x02\x01\x01", 6), "\x09"}),
       Nesting::fits},
      {"more references than bytes", binary({"\xAF\x11\x10\x00", "\x09"}), Nesting::malformed},
      {"dictionary of 2^63 pairs", binary({"\xDF\x13" + eightFF, "\x09"}), Nesting::malformed},
      {"dictionary", binary({"\xD1\x01\x02", "\x51k", "\x09"}), Nesting::fits},
      {"set", binary({"\xC1\x01", "\x09"}), Nesting::fits},
      {"reference past the objects", binary({"\xA1\x02", "\x09"}), Nesting::malformed},
      {"UTF-16 with a zero byte", binary({"\xA1\x01", std::string("\x62\x00\x41\x41\x00", 5)}),
       Nesting::fits},
      {"UTF-16 length that is no integer", binary({"\xA1\x01", "\x6F\x20"}), Nesting::malformed},
      {"UTF-16 longer than the file", binary({"\xA1\x01", "\x6F\x13" + eightFF}),
       Nesting::malformed},
      {"UTF-16 U+0000 at the top", binary({std::string("\x61\x00\x00", 3)}), Nesting::malformed},
      {"top offset past the end", withOffset(binary({"\x09"}), 1, 0, 0xF0), Nesting::malformed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(checkNesting(c.file, 8, kManyValues), c.expected);
  }
}

// The depth and the values of shared objects count wherever they are
// referred to, each limit exactly at its bound.
TEST(PlistDepthCases, BinarySharedObjectsCountEachTimeTheyAreReferredTo) {
  struct Case {
    const char* what;
    std::string file;
    int maxDepth;
    size_t maxValues;
    Nesting expected;
  };
  // 0 = [1, 2], 1 = [3] (two levels), 2 = [4], 4 = [1]: 1 also at level 4,
  // so the file is 5 levels deep although 1 was first met at level 2.
  const std::string sharedDeep =
      binary({"\xA2\x01\x02", "\xA1\x03", "\xA1\x04", "\xA0", "\xA1\x01"});
  // 0 = [1, 1], 1 = [2, 3]: 1 + 3 + 3 values.
  const std::string sharedWide = binary({"\xA2\x01\x01", "\xA2\x02\x03", "\x08", "\x09"});
  // 0 = [1], 1 = [2, 3]: 1 + 3 values, counted as 1 finishes.
  const std::string nested = binary({"\xA1\x01", "\xA2\x02\x03", "\x08", "\x09"});
  // 0 = [1, 2, 3]: 4 values, counted one by one.
  const std::string flat = binary({"\xA3\x01\x02\x03", "\x08", "\x09", "\x10\x01"});
  const Case cases[] = {
      {"shared deep, at the limit", sharedDeep, 5, kManyValues, Nesting::fits},
      {"shared deep, over", sharedDeep, 4, kManyValues, Nesting::tooDeep},
      {"shared wide, at the limit", sharedWide, 8, 7, Nesting::fits},
      {"shared wide, over", sharedWide, 8, 6, Nesting::tooManyValues},
      {"nested, at the limit", nested, 8, 4, Nesting::fits},
      {"nested, over", nested, 8, 3, Nesting::tooManyValues},
      {"flat, at the limit", flat, 8, 4, Nesting::fits},
      {"flat, over", flat, 8, 3, Nesting::tooManyValues},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(checkNesting(c.file, c.maxDepth, c.maxValues), c.expected);
  }
}

}  // namespace
