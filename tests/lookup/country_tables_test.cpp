// The expectations here restate the tables in other shapes than their source
// (entry positions, the grouping by trunk prefix, counts per first digit,
// shared codes), so a slip in either shows up as a disagreement between them.
#include "lookup/country_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// All texts in these tables are ASCII; narrowing them makes failures readable.
std::string ascii(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return out;
}

std::string ascii(std::optional<std::u16string_view> text) {
  return text ? ascii(*text) : std::string("<none>");
}

std::u16string wide(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

std::string trunkOf(std::string_view code) {
  const std::u16string wideCode = wide(code);
  return ascii(trunkPrefixByCallingCode(std::u16string_view(wideCode)));
}

std::string countryCode(std::string_view country) {
  const std::u16string wideCountry = wide(country);
  return ascii(callingCodeForCountry(std::u16string_view(wideCountry)));
}

std::string longestAt(std::string_view digits) {
  return ascii(longestCountryCallingCodeAt(wide(digits)));
}

std::vector<std::string> listCodes() {
  std::vector<std::string> codes;
  for (std::u16string_view entry : callingCodeTrunkList) {
    codes.push_back(ascii(callingCodeOfEntry(entry)));
  }
  return codes;
}

std::set<std::string> countryValues() {
  std::set<std::string> values;
  for (const CountryCallingCode& entry : callingCodeByCountry) {
    values.insert(ascii(entry.callingCode));
  }
  return values;
}

// The list grouped by trunk prefix.
const std::vector<std::pair<std::string, std::vector<std::string>>>& codesByTrunkPrefix() {
  static const std::vector<std::pair<std::string, std::vector<std::string>>> groups = {
      {"1", {"1"}},
      {"0", {"20",  "212", "213", "218", "232", "233", "234", "243", "249", "251", "254",
             "256", "260", "261", "263", "264", "27",  "31",  "32",  "33",  "353", "355",
             "358", "359", "373", "374", "381", "385", "389", "40",  "41",  "421", "43",
             "44",  "46",  "49",  "51",  "53",  "54",  "55",  "56",  "57",  "58",  "507",
             "591", "599", "61",  "62",  "64",  "66",  "81",  "82",  "84",  "86",  "886",
             "90",  "91",  "92",  "93",  "94",  "961", "962", "966", "972", "98",  "996"}},
      {"", {"216", "220", "221", "222", "224", "225", "226", "228", "229", "230", "237",
            "238", "239", "241", "242", "244", "245", "247", "252", "257", "258", "266",
            "267", "268", "269", "290", "299", "30",  "34",  "351", "352", "354", "357",
            "371", "372", "39",  "420", "47",  "48",  "686", "965"}},
      {"6", {"36"}},
      {"8", {"7", "370", "993"}},
      {"80", {"375"}},
  };
  return groups;
}

TEST(CallingCodeTrunkList, HasItsEntriesAtTheirPositions) {
  ASSERT_EQ(callingCodeTrunkList.size(), 113u);
  // 1-based: the first and last of each run of fifteen, plus two places where
  // the list is not in text order.
  const std::vector<std::pair<std::size_t, std::string>> positions = {
      {1, "1|1"},   {15, "230|"},  {16, "232|0"},  {30, "252|"},   {31, "254|0"},
      {45, "299|"}, {46, "30|"},   {60, "370|8"},  {61, "371|"},   {75, "44|0"},
      {76, "46|0"}, {86, "58|0"},  {87, "507|0"},  {90, "61|0"},   {91, "62|0"},
      {95, "7|8"},  {105, "94|0"}, {106, "961|0"}, {113, "996|0"},
  };
  for (const auto& [position, entry] : positions) {
    EXPECT_EQ(ascii(callingCodeTrunkList[position - 1]), entry) << "position " << position;
  }
}

TEST(CallingCodeTrunkList, AgreesWithTheGroupingByTrunkPrefix) {
  const std::map<std::string, std::size_t> expectedCounts = {{"1", 1}, {"0", 66}, {"", 41},
                                                             {"6", 1}, {"8", 3},  {"80", 1}};
  std::map<std::string, std::size_t> counts;
  for (std::u16string_view entry : callingCodeTrunkList) ++counts[ascii(trunkPrefixOfEntry(entry))];
  EXPECT_EQ(counts, expectedCounts);

  std::map<std::string, std::string> expectedTrunk;
  for (const auto& [trunk, codes] : codesByTrunkPrefix()) {
    EXPECT_EQ(codes.size(), expectedCounts.at(trunk)) << "group \"" << trunk << "\"";
    for (const std::string& code : codes) expectedTrunk[code] = trunk;
  }
  ASSERT_EQ(expectedTrunk.size(), 113u);
  for (std::u16string_view entry : callingCodeTrunkList) {
    const std::string code = ascii(callingCodeOfEntry(entry));
    ASSERT_TRUE(expectedTrunk.count(code)) << "unexpected code " << code;
    EXPECT_EQ(ascii(trunkPrefixOfEntry(entry)), expectedTrunk[code]) << "code " << code;
  }
}

TEST(CallingCodeTrunkList, CodesAreDistinctDigitsAndNoneBeginsAnother) {
  const std::vector<std::string> codes = listCodes();
  for (std::u16string_view entry : callingCodeTrunkList) {
    EXPECT_EQ(std::count(entry.begin(), entry.end(), u'|'), 1) << ascii(entry);
  }
  for (const std::string& code : codes) {
    EXPECT_FALSE(code.empty());
    EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << code;
  }
  for (std::size_t i = 0; i < codes.size(); ++i) {
    for (std::size_t j = 0; j < codes.size(); ++j) {
      if (i == j) continue;
      EXPECT_FALSE(codes[j].starts_with(codes[i])) << codes[i] << " begins " << codes[j];
    }
  }
}

TEST(EntryParts, SplitAtTheFirstBar) {
  EXPECT_EQ(ascii(callingCodeOfEntry(u"375|80")), "375");
  EXPECT_EQ(ascii(trunkPrefixOfEntry(u"375|80")), "80");
  EXPECT_EQ(ascii(callingCodeOfEntry(u"216|")), "216");
  EXPECT_EQ(ascii(trunkPrefixOfEntry(u"216|")), "");
  EXPECT_EQ(ascii(callingCodeOfEntry(u"1|2|3")), "1");
  EXPECT_EQ(ascii(trunkPrefixOfEntry(u"1|2|3")), "2|3");
  EXPECT_EQ(ascii(callingCodeOfEntry(u"44")), "44");
  EXPECT_EQ(ascii(trunkPrefixOfEntry(u"44")), "");
  EXPECT_EQ(ascii(callingCodeOfEntry(u"")), "");
  EXPECT_EQ(ascii(trunkPrefixOfEntry(u"")), "");
}

TEST(TrunkPrefixByCallingCode, GivesThePrefixOfListedCodes) {
  EXPECT_EQ(trunkOf("1"), "1");
  EXPECT_EQ(trunkOf("44"), "0");
  EXPECT_EQ(trunkOf("39"), "");
  EXPECT_EQ(trunkOf("7"), "8");
  EXPECT_EQ(trunkOf("36"), "6");
  EXPECT_EQ(trunkOf("370"), "8");
  EXPECT_EQ(trunkOf("375"), "80");
  EXPECT_EQ(trunkOf("993"), "8");
  EXPECT_EQ(trunkOf("247"), "");
  EXPECT_EQ(trunkOf("996"), "0");
  // Every code of the grouping through the lookup itself.
  for (const auto& [trunk, codes] : codesByTrunkPrefix()) {
    for (const std::string& code : codes) EXPECT_EQ(trunkOf(code), trunk) << "code " << code;
  }
}

TEST(TrunkPrefixByCallingCode, GivesEmptyTextForAnythingButAWholeListedCode) {
  EXPECT_EQ(trunkOf("45"), "");   // a country's code, not listed
  EXPECT_EQ(trunkOf("77"), "");   // begins with the listed "7"
  EXPECT_EQ(trunkOf("4"), "");    // the beginning of a listed code
  EXPECT_EQ(trunkOf("440"), "");  // a listed code with more digits
  EXPECT_EQ(trunkOf("+44"), "");
  EXPECT_EQ(trunkOf(" 44"), "");
  EXPECT_EQ(trunkOf("44|"), "");
  EXPECT_EQ(trunkOf(""), "");
  EXPECT_EQ(ascii(trunkPrefixByCallingCode(std::nullopt)), "");
}

TEST(CallingCodeByCountry, IsSortedByUniqueTwoLetterKeys) {
  ASSERT_EQ(callingCodeByCountry.size(), 239u);
  for (std::size_t i = 0; i < callingCodeByCountry.size(); ++i) {
    const std::string country = ascii(callingCodeByCountry[i].country);
    const std::string code = ascii(callingCodeByCountry[i].callingCode);
    EXPECT_TRUE(country.size() == 2 && std::all_of(country.begin(), country.end(),
                                                   [](char c) { return c >= 'A' && c <= 'Z'; }))
        << country;
    EXPECT_TRUE(!code.empty() && code.find_first_not_of("0123456789") == std::string::npos)
        << country << " -> " << code;
    if (i > 0) {
      EXPECT_LT(callingCodeByCountry[i - 1].country, callingCodeByCountry[i].country)
          << ascii(callingCodeByCountry[i - 1].country) << " before " << country;
    }
  }
}

TEST(CallingCodeByCountry, HasItsCountsAndSharedCodes) {
  EXPECT_EQ(countryValues().size(), 206u);

  std::map<char, int> byFirstDigit;
  std::map<std::string, int> byCode;
  for (const CountryCallingCode& entry : callingCodeByCountry) {
    ++byFirstDigit[static_cast<char>(entry.callingCode.front())];
    ++byCode[ascii(entry.callingCode)];
  }
  const std::map<char, int> expectedByFirstDigit = {{'1', 23}, {'2', 60}, {'3', 35},
                                                    {'4', 16}, {'5', 31}, {'6', 30},
                                                    {'7', 2},  {'8', 12}, {'9', 30}};
  EXPECT_EQ(byFirstDigit, expectedByFirstDigit);

  // The codes that several countries share, with how many share each.
  std::map<std::string, int> shared;
  for (const auto& [code, count] : byCode) {
    if (count > 1) shared[code] = count;
  }
  const std::map<std::string, int> expectedShared = {{"1", 23},  {"262", 2}, {"44", 4},  {"47", 2},
                                                     {"500", 2}, {"590", 3}, {"595", 2}, {"61", 3}};
  EXPECT_EQ(shared, expectedShared);
}

TEST(CallingCodeByCountry, CoversTheListButFor247) {
  const std::vector<std::string> codes = listCodes();
  const std::set<std::string> listed(codes.begin(), codes.end());
  const std::set<std::string> values = countryValues();

  std::set<std::string> unlisted;
  for (const std::string& value : values) {
    if (!listed.count(value)) unlisted.insert(value);
  }
  EXPECT_EQ(unlisted.size(), 94u);
  for (const char* code :
       {"45", "52", "60", "63", "65", "77", "95", "345", "376", "380", "852", "880", "971"}) {
    EXPECT_TRUE(unlisted.count(code)) << code;
  }

  std::set<std::string> listedWithoutCountry;
  for (const std::string& code : listed) {
    if (!values.count(code)) listedWithoutCountry.insert(code);
  }
  EXPECT_EQ(listedWithoutCountry, std::set<std::string>{"247"});

  // Values that a listed code begins without being that code.
  std::set<std::pair<std::string, std::string>> beginWithListed;
  for (const std::string& value : values) {
    for (const std::string& code : listed) {
      if (value != code && value.starts_with(code)) beginWithListed.emplace(value, code);
    }
  }
  const std::set<std::pair<std::string, std::string>> expected = {{"77", "7"}, {"345", "34"}};
  EXPECT_EQ(beginWithListed, expected);
}

TEST(CallingCodeForCountry, FindsExactKeys) {
  EXPECT_EQ(countryCode("GB"), "44");
  EXPECT_EQ(countryCode("US"), "1");
  EXPECT_EQ(countryCode("CA"), "1");
  EXPECT_EQ(countryCode("IL"), "972");
  EXPECT_EQ(countryCode("KZ"), "77");
  EXPECT_EQ(countryCode("RU"), "7");
  EXPECT_EQ(countryCode("KY"), "345");
  EXPECT_EQ(countryCode("GY"), "595");
  EXPECT_EQ(countryCode("PY"), "595");
  EXPECT_EQ(countryCode("PN"), "872");
  EXPECT_EQ(countryCode("AN"), "599");
  // The first and last keys, where a search by halves goes wrong most easily.
  EXPECT_EQ(countryCode("AD"), "376");
  EXPECT_EQ(countryCode("ZW"), "263");
  // Every key finds its own entry.
  for (const CountryCallingCode& entry : callingCodeByCountry) {
    EXPECT_EQ(callingCodeForCountry(entry.country), entry.callingCode) << ascii(entry.country);
  }
}

TEST(CallingCodeForCountry, GivesNothingForAnythingElse) {
  EXPECT_EQ(countryCode("SS"), "<none>");  // South Sudan is not a key
  EXPECT_EQ(countryCode("gb"), "<none>");
  EXPECT_EQ(countryCode("Gb"), "<none>");
  EXPECT_EQ(countryCode("GBR"), "<none>");
  EXPECT_EQ(countryCode("G"), "<none>");
  EXPECT_EQ(countryCode(" GB"), "<none>");
  EXPECT_EQ(countryCode("AA"), "<none>");  // before the first key
  EXPECT_EQ(countryCode("ZZ"), "<none>");  // after the last key
  EXPECT_EQ(countryCode(""), "<none>");
  EXPECT_EQ(ascii(callingCodeForCountry(std::nullopt)), "<none>");
}

TEST(LongestCountryCallingCodeAt, PrefersTheLongestCodeThatBeginsTheDigits) {
  EXPECT_EQ(longestAt("380441234567"), "380");
  EXPECT_EQ(longestAt("77012345678"), "77");
  EXPECT_EQ(longestAt("74951234567"), "7");
  EXPECT_EQ(longestAt("12125550100"), "1");
  EXPECT_EQ(longestAt("34512345"), "345");
  EXPECT_EQ(longestAt("34912345678"), "34");
  EXPECT_EQ(longestAt("9981234"), "998");
  EXPECT_EQ(longestAt("872"), "872");
  EXPECT_EQ(longestAt("1"), "1");
}

TEST(LongestCountryCallingCodeAt, GivesNothingWhenNoCodeBeginsTheDigits) {
  EXPECT_EQ(longestAt("2470000"), "<none>");  // listed, but no country has it
  EXPECT_EQ(longestAt("38"), "<none>");       // only the beginning of codes
  EXPECT_EQ(longestAt("0441234"), "<none>");
  EXPECT_EQ(longestAt("+441234"), "<none>");
  EXPECT_EQ(longestAt(""), "<none>");
}

}  // namespace
