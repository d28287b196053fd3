// The index of an area-code file against the one-pass scan, which stays the
// reference: both must give the same answer for every text and number, and so
// must the same index written as a prebuilt index file and read back.
#include "lookup/area_index.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "host/foundation/files.h"
#include "host/foundation/values.h"
#include "lookup/area_index_file.h"
#include "lookup/area_index_writer.h"
#include "lookup/area_scan.h"

namespace {

// "notUtf8", "none", or the area text.
std::string byScan(std::string_view text, size_t skipped, std::u16string_view national) {
  AreaScan scan = scanAreaCodes(text, skipped, national);
  if (scan.result == AreaScan::Result::notUtf8) return "notUtf8";
  if (scan.result == AreaScan::Result::noMatch) return "none";
  return "=" + std::string(scan.areaText);
}

std::string byIndex(std::string_view text, size_t skipped, std::u16string_view national,
                    size_t readSize = kAreaReadSize) {
  AreaIndex index;
  if (!buildAreaIndex(text, skipped, index, readSize)) return "notUtf8";
  std::optional<std::string_view> found = findInAreaIndex(index, national);
  return found ? "=" + std::string(*found) : "none";
}

// The same through the index laid out as an index file and read back.
std::string byPrebuilt(std::string_view text, size_t skipped, std::u16string_view national) {
  AreaIndex index;
  if (!buildAreaIndex(text, skipped, index)) return "notUtf8";
  const AreaIndexBytes bytes = encodeAreaIndex(index, {});
  FlatAreaIndex flat;
  AreaIndexStamp stamp;
  if (!openAreaIndexBytes(bytes.data(), bytes.size() * 8, flat, stamp)) return "unreadable";
  std::optional<std::string_view> found = findInAreaIndex(flat, national);
  return found ? "=" + std::string(*found) : "none";
}

struct Case {
  const char* what;
  std::string text;
  size_t skipped;
  std::u16string national;
  const char* expected;
};

TEST(AreaIndex, AnswersAsTheScanDoes) {
  const std::u16string twenty = u"20";
  const Case cases[] = {
      {"longest wins", "4420|London\n44207|Inner\n442079|Innermost\n", 2, u"2079460000",
       "=Innermost"},
      {"shorter when the longer does not match", "4420|London\n44207|Inner\n", 2, u"2089",
       "=London"},
      {"later line of a key", "4420|Old\n4420|New\n", 2, u"20", "=New"},
      {"first of keys of equal length", "xx20|First\n4420|Second\n4420|Third\n", 2, u"20",
       "=First"},
      {"repeat of the first", "4420|First\nxx20|Second\n4420|Third\n", 2, u"20", "=Third"},
      {"unsorted lines", "44207|Inner\n4420|London\n4420|Later\n", 2, u"209", "=Later"},
      {"key is the calling code", "44|Anywhere\n", 2, u"", "=Anywhere"},
      {"short keys never match", "\n4|x\n|y\n4420|London\n", 2, u"2079", "=London"},
      {"number shorter than the prefix", "4420|London\n", 2, u"2", "none"},
      {"middle field ignored", "4420|middle|London\n", 2, u"20", "=London"},
      {"no bar: line is key and area", "4420\n", 2, u"2079", "=4420"},
      {"empty area", "4420|\n", 2, u"20", "="},
      {"blank in key", "4420 |London\n", 2, u"20", "none"},
      {"blank in number", "4420 |London\n", 2, u"20 1", "=London"},
      {"CR LF", "4420|London\r\n44161|Manchester\r\n", 2, u"161", "=Manchester"},
      {"CR alone", "4420|London\r44161|Manchester", 2, u"161", "=Manchester"},
      {"NEL",
       "4420|London\xC2\x85"
       "44161|Manchester",
       2, u"161", "=Manchester"},
      {"line separator",
       "4420|London\xE2\x80\xA8"
       "44161|M",
       2, u"161", "=M"},
      {"paragraph separator",
       "4420|London\xE2\x80\xA9"
       "44161|M",
       2, u"161", "=M"},
      {"not UTF-8 after a match", "4420|London\n\xFF\n", 2, u"20", "notUtf8"},
      {"overlong", "4420|\xC0\xAF\n", 2, u"20", "notUtf8"},
      {"surrogate", "4420|\xED\xA0\x80\n", 2, u"20", "notUtf8"},
      {"non-ASCII calling code part", "ä20|A\n", 1, u"20", "=A"},
      {"non-ASCII and ASCII heads tie", "ä20|A\nx20|B\n", 1, u"20", "=A"},
      {"ASCII and non-ASCII heads tie", "x20|B\nä20|A\n", 1, u"20", "=B"},
      {"repeat of a non-ASCII head", "ä20|A\nx20|B\nä20|C\n", 1, u"20", "=C"},
      {"surrogate pair split by the calling code", "😀20|B\n", 1,
       u"\xDE00"
       u"20",
       "=B"},
      {"non-digit prefix", "44ä|C\n", 2, u"ä1", "=C"},
      {"no-break space",
       "44\xC2\xA0"
       "20|D\n",
       2,
       u"\u00A0"
       u"20",
       "=D"},
      {"18 digits held as text", "44123456789012345678|Long\n4412|Short\n", 2,
       u"123456789012345678", "=Long"},
      {"17 digits", "4412345678901234567|Seventeen\n", 2, u"12345678901234567", "=Seventeen"},
      {"leading zeros differ", "440|Zero\n4400|Two zeros\n", 2, u"01", "=Zero"},
      {"NUL in the key",
       std::string("44\0"
                   "2|N\n",
                   7),
       2,
       std::u16string(u"\0"
                      u"2",
                      2),
       "=N"},
      {"calling code 0 units", "|Empty key\n5|Five\n", 0, u"7", "=Empty key"},
      {"byte-order mark before the first record",
       "\xEF\xBB\xBF"
       "4420|London\n",
       2, u"20", "=London"},
      {"byte-order mark before an empty key", "\xEF\xBB\xBF|Empty key\n", 0, u"7", "=Empty key"},
      {"byte-order mark alone", "\xEF\xBB\xBF", 0, u"7", "none"},
      {"byte-order mark further on is text",
       "4420|London\n\xEF\xBB\xBF"
       "|Not empty\n",
       0, u"7", "none"},
      {"empty text", "", 2, twenty, "none"},
      {"eight digits, upper bits apart", "4400000001|Low\n4499999999|High\n", 2, u"99999999",
       "=High"},
      {"eight digits, between upper bits", "4400000001|Low\n4499999999|High\n", 2, u"50000000",
       "none"},
      {"eight digits, above the highest", "4400000001|Low\n4450000000|Mid\n", 2, u"99999999",
       "none"},
      {"nine digits", "44123456789|Nine\n4412345678|Eight\n", 2, u"1234567891", "=Nine"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(byScan(c.text, c.skipped, c.national), c.expected) << c.what << " (scan)";
    EXPECT_EQ(byIndex(c.text, c.skipped, c.national), c.expected) << c.what << " (index)";
    EXPECT_EQ(byPrebuilt(c.text, c.skipped, c.national), c.expected) << c.what << " (prebuilt)";
    // Read a byte or a few at a time: lines, characters and CR LF pairs cut
    // between reads.
    for (size_t readSize : {1, 3, 7}) {
      EXPECT_EQ(byIndex(c.text, c.skipped, c.national, readSize), c.expected)
          << c.what << " (index, reading " << readSize << " at a time)";
    }
  }
}

// A view of no bytes at all (a null pointer) is an empty text, read without
// copying from it.
TEST(AreaIndex, AViewWithNoBytesIsAnEmptyText) {
  AreaIndex index;
  ASSERT_TRUE(buildAreaIndex(std::string_view(), 2, index));
  EXPECT_EQ(findInAreaIndex(index, u"20"), std::nullopt);
}

TEST(AreaIndex, AreaTextsAreStoredOnce) {
  std::string text;
  for (int i = 0; i < 1000; ++i) text += "44" + std::to_string(1000 + i) + "|Same town\n";
  AreaIndex index;
  ASSERT_TRUE(buildAreaIndex(text, 2, index));
  EXPECT_EQ(index.groups[4].keyCount, 1000u);
  EXPECT_EQ(index.areaTexts, "Same town");
  EXPECT_LT(areaIndexBytes(index), 1000u * 7);
}

// Area texts are interned by their length and first, second and last eight
// bytes, which hold the whole of a text of up to 24 bytes only. Guards against
// two texts alike in those bytes but not between them (or, under 24 bytes,
// in the second eight) being taken for one, in the index and in the index
// file written from it; and against a text met again not being found.
TEST(AreaIndex, AreaTextsAlikeAtTheirEndsStayApart) {
  const struct {
    const char* first;
    const char* second;
  } pairs[] = {
      {"Ascension Island, north (south)", "Ascension Island, south (south)"},  // 31 bytes
      {"Ascension Island: (north)", "Ascension Island, (north)"},              // 25 bytes
      {"Ascension Island, Two Boats Village", "Ascension Island, Wideawake Village"},
      {"Ascensio north sland", "Ascensio south sland"},  // 20: the second word differs
  };
  for (const auto& pair : pairs) {
    SCOPED_TRACE(pair.first);
    const std::string first = pair.first, second = pair.second;
    ASSERT_EQ(first.size(), second.size());
    const std::string text = "4420|" + first + "\n4421|" + second + "\n4422|" + first + "\n";
    for (const char16_t* national : {u"2079460000", u"2179460000", u"2279460000"}) {
      const std::string expected = "=" + (national[1] == u'1' ? second : first);
      EXPECT_EQ(byIndex(text, 2, national), expected);
      EXPECT_EQ(byPrebuilt(text, 2, national), expected);
    }
    AreaIndex index;
    ASSERT_TRUE(buildAreaIndex(text, 2, index));
    EXPECT_EQ(index.areaTexts, first + second);
  }
}

// Random texts made mostly of what real files hold, with everything the
// matching must get right mixed in; numbers likewise.
std::string randomText(std::mt19937& random) {
  static const std::vector<std::string> pieces = {"4",
                                                  "4",
                                                  "2",
                                                  "0",
                                                  "1",
                                                  "7",
                                                  "0",
                                                  "9",
                                                  "|",
                                                  "|",
                                                  "\n",
                                                  "\n",
                                                  "\r",
                                                  "\r\n",
                                                  "a",
                                                  " ",
                                                  "4420",
                                                  "44",
                                                  "ä",
                                                  "😀",
                                                  "\xC2\x85",
                                                  "\xE2\x80\xA8",
                                                  "\xE2\x80\xA9",
                                                  std::string(1, '\0'),
                                                  "12345678901234567890",
                                                  "\xFF"};
  std::string text;
  const int length = static_cast<int>(random() % 400);
  // Invalid bytes only now and then, so most texts are UTF-8.
  const size_t usable = random() % 8 == 0 ? pieces.size() : pieces.size() - 1;
  for (int i = 0; i < length; ++i) text += pieces[random() % usable];
  return text;
}

std::u16string randomNumber(std::mt19937& random) {
  static const std::u16string units =
      std::u16string(u"0124012401240124790|ä \n\xDE00") + char16_t(0);
  std::u16string number;
  const int length = static_cast<int>(random() % 22);
  for (int i = 0; i < length; ++i) number += units[random() % units.size()];
  return number;
}

TEST(AreaIndex, AgreesWithTheScanOnRandomTexts) {
  for (uint32_t seed : {1u, 2u, 3u, 20261208u, 44u, 86u}) {
    std::mt19937 random(seed);
    for (int round = 0; round < 3000; ++round) {
      const std::string text = randomText(random);
      const size_t skipped = random() % 4;
      AreaIndex index;
      const size_t readSize = round % 2 ? kAreaReadSize : 1 + random() % 100;
      const bool built = buildAreaIndex(text, skipped, index, readSize);
      for (int number = 0; number < 8; ++number) {
        const std::u16string national = randomNumber(random);
        const std::string expected = byScan(text, skipped, national);
        std::string got = "notUtf8";
        if (built) {
          auto found = findInAreaIndex(index, national);
          got = found ? "=" + std::string(*found) : "none";
        }
        ASSERT_EQ(got, expected) << "seed " << seed << " round " << round << " skipped " << skipped
                                 << " national [" << toUtf8(national) << "]";
        if (number == 0) {
          ASSERT_EQ(byPrebuilt(text, skipped, national), expected) << "prebuilt, round " << round;
        }
      }
    }
  }
}

TEST(AreaIndex, AgreesWithTheScanOnTheBundledFiles) {
  std::mt19937 random(10);
  for (const char* code : {"86", "1", "44", "61"}) {
    std::string text;
    ASSERT_TRUE(host::readWholeFile(
        std::string(ZELVORA_SOURCE_DATA_DIR) + "/codes/" + code + ".txt", text));
    AreaIndex index;
    ASSERT_TRUE(buildAreaIndex(text, std::string_view(code).size(), index, 1000 + random() % 1000));
    for (int i = 0; i < 300; ++i) {
      std::u16string national;
      const int digits = 4 + static_cast<int>(random() % 8);
      for (int d = 0; d < digits; ++d) national += char16_t(u'0' + random() % 10);
      auto found = findInAreaIndex(index, national);
      ASSERT_EQ(found ? "=" + std::string(*found) : "none",
                byScan(text, std::string_view(code).size(), national))
          << code << " " << toUtf8(national);
    }
  }
}

// A source that gives `good` bytes of its text, then fails; or that cannot
// go back to its beginning.
class FailingSource : public AreaTextSource {
 public:
  FailingSource(std::string text, size_t good, bool canRewind)
      : text_(std::move(text)), good_(good), canRewind_(canRewind) {}
  ptrdiff_t read(char* into, size_t capacity) override {
    if (at_ >= good_ && at_ < text_.size()) return -1;
    const size_t count = std::min(capacity, std::min(good_, text_.size()) - at_);
    text_.copy(into, count, at_);
    at_ += count;
    return static_cast<ptrdiff_t>(count);
  }
  bool rewind() override {
    at_ = 0;
    return canRewind_;
  }

 private:
  std::string text_;
  size_t good_;
  size_t at_ = 0;
  bool canRewind_;
};

TEST(AreaIndex, SourcesThatFailGiveNoIndex) {
  struct {
    const char* what;
    std::string text;
    size_t good;
    bool canRewind;
    AreaIndexBuild expected;
  } const cases[] = {
      {"read whole", "4420|London\n", 100, true, AreaIndexBuild::built},
      {"fails midway", "4420|London\n4421|Other\n", 14, true, AreaIndexBuild::readFailed},
      {"unsorted, cannot go back", "4421|B\n4420|A\n", 100, false, AreaIndexBuild::readFailed},
      {"unsorted, goes back", "4421|B\n4420|A\n", 100, true, AreaIndexBuild::built},
  };
  for (const auto& c : cases) {
    FailingSource source(c.text, c.good, c.canRewind);
    AreaIndex index;
    EXPECT_EQ(buildAreaIndex(source, 2, index, 4), c.expected) << c.what;
    EXPECT_EQ(findInAreaIndex(index, u"20").has_value(), c.expected == AreaIndexBuild::built)
        << c.what;
  }
}

}  // namespace
