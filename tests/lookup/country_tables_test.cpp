// The calling-code tables and their lookups. Well-formed entries, prefix-free
// list codes and sorted unique keys are checked at compile time; these tests
// restate the contents in other shapes (grouping by trunk prefix, counts per
// first digit, shared codes) and check the lookups' edge cases.
#include "lookup/country_tables.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>

namespace {

using Cases = std::pair<const char*, const char*>[];

// The tables' texts are ASCII; narrowed they make failures readable. "-" is
// no text at all.
std::string ascii(std::optional<std::u16string_view> text) {
  return text ? std::string(text->begin(), text->end()) : "-";
}

std::u16string wide(std::string_view text) {
  return std::u16string(text.begin(), text.end());
}

// Guards against a wrong, missing or extra trunk prefix in the list: every
// entry against the list grouped by trunk prefix, and each code through the
// lookup itself.
TEST(CallingCodeTrunkList, AgreesWithTheGroupingByTrunkPrefix) {
  const Cases groups = {
      {"1", "1"},
      {"0",
       "20 212 213 218 232 233 234 243 249 251 254 256 260 261 263 264 27 31 32 33 353 355 358 "
       "359 373 374 381 385 389 40 41 421 43 44 46 49 51 53 54 55 56 57 58 507 591 599 61 62 64 "
       "66 81 82 84 86 886 90 91 92 93 94 961 962 966 972 98 996"},
      {"",
       "216 220 221 222 224 225 226 228 229 230 237 238 239 241 242 244 245 247 252 257 258 266 "
       "267 268 269 290 299 30 34 351 352 354 357 371 372 39 420 47 48 686 965"},
      {"6", "36"},
      {"8", "7 370 993"},
      {"80", "375"},
  };
  std::map<std::string, std::string> expected;  // code -> trunk prefix
  for (const auto& [trunk, codes] : groups) {
    std::istringstream in(codes);
    for (std::string code; in >> code;) {
      expected[code] = trunk;
      EXPECT_EQ(ascii(trunkPrefixByCallingCode(wide(code))), trunk) << "code " << code;
    }
  }
  ASSERT_EQ(expected.size(), 113u);
  ASSERT_EQ(callingCodeTrunkList.size(), 113u);
  for (std::u16string_view entry : callingCodeTrunkList) {
    const std::string code = ascii(callingCodeOfEntry(entry));
    ASSERT_TRUE(expected.count(code)) << "unexpected code " << code;
    EXPECT_EQ(ascii(trunkPrefixOfEntry(entry)), expected[code]) << "code " << code;
  }
  EXPECT_EQ(ascii(callingCodeTrunkList.front()), "1|1");
  EXPECT_EQ(ascii(callingCodeTrunkList.back()), "996|0");
}

// Guards against matching by prefix ("45" is not listed, "77" begins with the
// listed "7", "4" begins "44"), trimming or ignoring "+" instead of comparing
// whole texts, and against a wrong result for an absent code.
TEST(TrunkPrefixByCallingCode, GivesThePrefixOfAWholeListedCodeOnly) {
  const Cases cases = {
      {"1", "1"},    {"44", "0"},  {"39", ""},  {"7", "8"}, {"36", "6"}, {"370", "8"},
      {"375", "80"}, {"993", "8"}, {"45", ""},  {"77", ""}, {"4", ""},   {"440", ""},
      {"+44", ""},   {" 44", ""},  {"44|", ""}, {"", ""},
  };
  for (const auto& [code, trunk] : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ascii(trunkPrefixByCallingCode(wide(code))), trunk);
  }
  EXPECT_EQ(ascii(trunkPrefixByCallingCode(std::nullopt)), "");
}

// Guards against a country with a wrong, dropped or added calling code (the
// counts per first digit of the code, the codes that countries share) and
// against codes moved between the tables: "247" is listed for no country (so
// 94 values are not listed) and only "77" and "345" begin with a listed code.
TEST(CallingCodeByCountry, HasItsCountsSharedCodesAndOverlapWithTheList) {
  ASSERT_EQ(callingCodeByCountry.size(), 239u);
  std::map<char, int> byFirstDigit;
  std::map<std::string, int> byCode;
  for (const CountryCallingCode& entry : callingCodeByCountry) {
    ++byFirstDigit[static_cast<char>(entry.callingCode.front())];
    ++byCode[ascii(entry.callingCode)];
  }
  EXPECT_EQ(byCode.size(), 206u);
  const std::map<char, int> expectedByFirstDigit = {
      {'1', 23}, {'2', 60}, {'3', 35}, {'4', 16}, {'5', 31},
      {'6', 30}, {'7', 2},  {'8', 12}, {'9', 30},
  };
  EXPECT_EQ(byFirstDigit, expectedByFirstDigit);
  std::set<std::string> listed;
  for (std::u16string_view entry : callingCodeTrunkList) {
    listed.insert(ascii(callingCodeOfEntry(entry)));
  }
  std::map<std::string, int> shared;
  std::set<std::pair<std::string, std::string>> beginWithListed;
  for (const auto& [value, count] : byCode) {
    if (count > 1) shared[value] = count;
    for (const std::string& code : listed) {
      if (value != code && value.starts_with(code)) beginWithListed.emplace(value, code);
    }
  }
  const std::map<std::string, int> expectedShared = {
      {"1", 23}, {"262", 2}, {"44", 4}, {"47", 2}, {"500", 2}, {"590", 3}, {"595", 2}, {"61", 3},
  };
  EXPECT_EQ(shared, expectedShared);
  std::erase_if(listed, [&](const std::string& code) { return byCode.count(code) != 0; });
  EXPECT_EQ(listed, std::set<std::string>{"247"});
  EXPECT_EQ(beginWithListed,
            (std::set<std::pair<std::string, std::string>>{{"77", "7"}, {"345", "34"}}));
}

// Guards against a faulty search by halves (every key, the first "AD" and last
// "ZW" included, finds its entry) and against inexact key comparison ("SS",
// South Sudan's code, is no key).
TEST(CallingCodeForCountry, FindsExactKeysOnly) {
  const Cases cases = {
      {"GB", "44"},  {"US", "1"},   {"CA", "1"},   {"IL", "972"}, {"KZ", "77"},
      {"KY", "345"}, {"GY", "595"}, {"PY", "595"}, {"PN", "872"}, {"AN", "599"},
      {"AD", "376"}, {"ZW", "263"}, {"SS", "-"},   {"gb", "-"},   {"GBR", "-"},
      {"G", "-"},    {" GB", "-"},  {"AA", "-"},   {"ZZ", "-"},   {"", "-"},
  };
  for (const auto& [country, code] : cases) {
    SCOPED_TRACE(country);
    EXPECT_EQ(ascii(callingCodeForCountry(wide(country))), code);
  }
  EXPECT_EQ(ascii(callingCodeForCountry(std::nullopt)), "-");
  for (const CountryCallingCode& entry : callingCodeByCountry) {
    EXPECT_EQ(callingCodeForCountry(entry.country), entry.callingCode) << ascii(entry.country);
  }
}

// Guards against taking the first or shortest code that begins the digits,
// against codes that only begin the digits' start ("38"), and against listed
// codes that no country has ("247").
TEST(LongestCountryCallingCodeAt, PrefersTheLongestCountryCode) {
  const Cases cases = {
      {"38044", "380"}, {"7701", "77"},  {"7495", "7"},  {"1212", "1"},
      {"34512", "345"}, {"34912", "34"}, {"872", "872"}, {"2470", "-"},
      {"38", "-"},      {"+4412", "-"},  {"", "-"},
  };
  for (const auto& [digits, code] : cases) {
    SCOPED_TRACE(digits);
    EXPECT_EQ(ascii(longestCountryCallingCodeAt(wide(digits))), code);
  }
}

}  // namespace
