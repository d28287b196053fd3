// The one-pass matcher over an area-code file's text, checked case by case and
// against a plain reference that cuts the text into lines and fields first.
#include "lookup/area_scan.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "host/foundation/values.h"

namespace {

std::optional<std::string> scan(std::string_view text, size_t skipped,
                                std::u16string_view national) {
  AreaScan result = scanAreaCodes(text, skipped, national);
  EXPECT_NE(result.result, AreaScan::Result::notUtf8) << "text: " << text;
  if (result.result != AreaScan::Result::match) return std::nullopt;
  return std::string(result.areaText);
}

TEST(AreaScan, LongestMatchingKeyWins) {
  const std::string text = "1201|New Jersey\n1201200|Jersey City\n12|Short\n";
  EXPECT_EQ(scan(text, 1, u"2012001234"), "Jersey City");
  EXPECT_EQ(scan(text, 1, u"2019991234"), "New Jersey");
  EXPECT_EQ(scan(text, 1, u"2999"), "Short");
  EXPECT_EQ(scan(text, 1, u"3000"), std::nullopt);
  // A key whose area part fills the eight bytes compared at once.
  EXPECT_EQ(scan("4420794600|Long\n", 2, u"2079460000"), "Long");
  // The order of the lines does not change which is the most specific.
  EXPECT_EQ(scan("1201200|Jersey City\n1201|New Jersey\n", 1, u"2012001234"), "Jersey City");
}

TEST(AreaScan, SameKeyLaterLineWinsButFirstOfDifferentKeysOfSameLength) {
  EXPECT_EQ(scan("44207|Old\n44207|New\n", 2, u"2079460000"), "New");
  // "xx207" and "44207" compare the same digits; the first in the file wins and a
  // later repeat of the second does not take over.
  EXPECT_EQ(scan("xx207|First\n44207|Second\n44207|Third\n", 2, u"2079"), "First");
  EXPECT_EQ(scan("44207|First\nxx207|Second\n44207|Third\n", 2, u"2079"), "Third");
}

TEST(AreaScan, FieldsAreTakenWithoutTrimming) {
  EXPECT_EQ(scan("4420|middle|London\n", 2, u"20"), "London");
  EXPECT_EQ(scan("4420\n", 2, u"2079"), "4420");                // no bar: the line is key and area
  EXPECT_EQ(scan("4420|\n", 2, u"2079"), "");                   // empty area text is a match
  EXPECT_EQ(scan("4420 |London\n", 2, u"2079"), std::nullopt);  // the blank is part of the key
  EXPECT_EQ(scan("4420| London \n", 2, u"2079"), " London ");
}

TEST(AreaScan, ShortKeysAndShortNumbers) {
  // A key shorter than the calling code never matches and does not stop the scan.
  EXPECT_EQ(scan("\n4|x\n|y\n4420|London\n", 2, u"2079"), "London");
  // A key exactly as long as the calling code matches any national number.
  EXPECT_EQ(scan("44|Anywhere\n", 2, u"7"), "Anywhere");
  EXPECT_EQ(scan("44|Anywhere\n", 2, u""), "Anywhere");
  // The number must begin with the compared part, whatever follows it.
  EXPECT_EQ(scan("4420|London\n", 2, u"20"), "London");
  EXPECT_EQ(scan("4420|London\n", 2, u"2"), std::nullopt);
  EXPECT_EQ(scan("3906698|Vatican City\n3906|Rome\n", 2, u"066984"), "Vatican City");
}

TEST(AreaScan, EveryLineTerminator) {
  for (std::string end : {"\n", "\r", "\r\n", "\xC2\x85", "\xE2\x80\xA8", "\xE2\x80\xA9"}) {
    std::string text = "4420|London" + end + "44161|Manchester" + end;
    EXPECT_EQ(scan(text, 2, u"2079"), "London") << "terminator bytes " << end.size();
    EXPECT_EQ(scan(text, 2, u"1612"), "Manchester") << "terminator bytes " << end.size();
    // No terminator after the last line.
    EXPECT_EQ(scan(text.substr(0, text.size() - end.size()), 2, u"1612"), "Manchester");
  }
  EXPECT_EQ(scan("", 2, u"20"), std::nullopt);
}

TEST(AreaScan, NonAsciiKeysCountUtf16Units) {
  // "ä" is one code unit, "😀" two: the skipped part is counted in units.
  EXPECT_EQ(scan("ä20|A\n", 1, u"20"), "A");
  EXPECT_EQ(scan("😀20|B\n", 2, u"20"), "B");
  EXPECT_EQ(scan("😀20|B\n", 1,
                 u"\xDE00"
                 u"20"),
            "B");  // the low surrogate is compared
  EXPECT_EQ(scan("44ä|C\n", 2, u"ä1"), "C");
  EXPECT_EQ(scan("44\xC2\xA0"
                 "20|D\n",
                 2,
                 u"\u00A0"
                 u"20"),
            "D");
  EXPECT_EQ(scan("4420|Zürich\n", 2, u"20"), "Zürich");
}

TEST(AreaScan, InvalidUtf8AnywhereMakesTheTextUnusable) {
  for (std::string bad :
       {"\xFF", "\xC0\xAF", "\xED\xA0\x80", "\xE2\x80", "\xF4\x90\x80\x80", "\x80"}) {
    std::string text = "4420|London\n" + std::string(200, 'x') + bad + "\n";
    EXPECT_EQ(scanAreaCodes(text, 2, u"2079").result, AreaScan::Result::notUtf8);
    EXPECT_EQ(scanAreaCodes(bad, 2, u"2079").result, AreaScan::Result::notUtf8);
  }
}

// ---- against a reference ------------------------------------------------------

// Cuts the text into lines and fields first and builds the whole table, then
// picks the longest matching key, the first such key in file order.
std::optional<std::u16string> reference(const std::string& text, size_t skipped,
                                        const std::u16string& national) {
  std::u16string units = toUtf16(text);
  std::vector<std::u16string> lines;
  std::u16string current;
  bool pending = false;
  for (size_t i = 0; i < units.size(); ++i) {
    char16_t c = units[i];
    if (c == u'\n' || c == u'\r' || c == u'\u0085' || c == u'\u2028' || c == u'\u2029') {
      lines.push_back(current);
      current.clear();
      pending = false;
      if (c == u'\r' && i + 1 < units.size() && units[i + 1] == u'\n') ++i;
    } else {
      current += c;
      pending = true;
    }
  }
  if (pending) lines.push_back(current);
  std::map<std::u16string, std::u16string> table;
  std::vector<std::u16string> order;
  for (const auto& line : lines) {
    auto first = line.find(u'|');
    auto last = line.rfind(u'|');
    std::u16string key = line.substr(0, first);
    std::u16string text2 = first == std::u16string::npos ? line : line.substr(last + 1);
    if (!table.count(key)) order.push_back(key);
    table[key] = text2;
  }
  std::optional<std::u16string> best;
  size_t bestLength = 0;
  for (const auto& key : order) {
    if (key.size() < skipped) continue;
    std::u16string prefix = key.substr(skipped);
    if (national.compare(0, prefix.size(), prefix) != 0 || national.size() < prefix.size())
      continue;
    if (!best || key.size() > bestLength) {
      best = table[key];
      bestLength = key.size();
    }
  }
  return best;
}

TEST(AreaScan, AgreesWithReferenceOnRandomFiles) {
  std::mt19937 random(20261208);
  // Mostly key digits and bars, with every line end, non-ASCII text and NUL.
  const std::vector<std::string> pieces = {"4",
                                           "4",
                                           "2",
                                           "0",
                                           "1",
                                           "7",
                                           "|",
                                           "|",
                                           "\n",
                                           "\r",
                                           "a",
                                           " ",
                                           "\r\n",
                                           "4420",
                                           "ä",
                                           "😀",
                                           "\xC2\x85",
                                           "\xE2\x80\xA8",
                                           std::string(1, '\0')};
  // Numbers are mostly digits, sometimes with what the eight-byte comparison
  // must not be used for.
  const std::u16string numberUnits = std::u16string(u"0124012401240124|ä\n") + char16_t(0);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    int length = static_cast<int>(random() % 300);
    for (int i = 0; i < length; ++i) text += pieces[random() % pieces.size()];
    std::u16string national;
    int digits = static_cast<int>(random() % 12);
    for (int i = 0; i < digits; ++i) national += numberUnits[random() % numberUnits.size()];
    size_t skipped = random() % 3;
    AreaScan result = scanAreaCodes(text, skipped, national);
    ASSERT_NE(result.result, AreaScan::Result::notUtf8);
    auto expected = reference(text, skipped, national);
    std::optional<std::u16string> got;
    if (result.result == AreaScan::Result::match) got = toUtf16(result.areaText);
    ASSERT_EQ(got, expected) << "round " << round << " skipped " << skipped << " text [" << text
                             << "] national [" << toUtf8(national) << "]";
  }
}

TEST(AreaScan, LinesAcrossChunkBoundaries) {
  // Shift a Unicode-terminated record across every position of a 64-byte block.
  for (size_t pad = 0; pad < 70; ++pad) {
    std::string text = std::string(pad, 'z') +
                       "\n4420|Lon\xE2\x80\xA8"
                       "44161|Man\xC2\x85"
                       "4499|Ends";
    EXPECT_EQ(scan(text, 2, u"2079"), "Lon") << pad;
    EXPECT_EQ(scan(text, 2, u"1610"), "Man") << pad;
    EXPECT_EQ(scan(text, 2, u"99"), "Ends") << pad;
  }
}

}  // namespace
