// The calling-code tables and their lookups. Well-formed entries, prefix-free
// ascending codes, sorted unique countries and well-formed prefix lists are
// checked at compile time, and the regeneration test keeps the tables equal to
// what the metadata gives; these tests pin the values that users met wrong in
// older tables, and the lookups' edge cases.
#include "lookup/country_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <utility>
#include <vector>

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

// Guards against a stale or missing country: codes that countries share or
// moved to (KZ under 7, KY and SX under 1, VA under 39), codes once given to
// the wrong country (GY), regions older tables lacked, codes that no longer
// exist (AN, PN), and a faulty search by halves or inexact key comparison.
TEST(CallingCodeForCountry, GivesEachCountryItsCurrentCode) {
  const Cases cases = {
      {"GB", "44"},  {"US", "1"},   {"CA", "1"},   {"KZ", "7"},   {"RU", "7"},   {"KY", "1"},
      {"SX", "1"},   {"GY", "592"}, {"PY", "595"}, {"VA", "39"},  {"SS", "211"}, {"XK", "383"},
      {"CW", "599"}, {"BQ", "599"}, {"AX", "358"}, {"EH", "212"}, {"AC", "247"}, {"TA", "290"},
      {"IL", "972"}, {"AD", "376"}, {"ZW", "263"}, {"AN", "-"},   {"PN", "-"},   {"gb", "-"},
      {"GBR", "-"},  {"G", "-"},    {" GB", "-"},  {"ZZ", "-"},   {"", "-"},
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

// Guards against a missing or wrong trunk prefix (the countries whose people
// dial "0" before the area code, Hungary's "06", Belarus' "8"), and against
// matching by prefix or trimming instead of comparing whole texts.
TEST(TrunkPrefixByCallingCode, GivesThePrefixOfAWholeKnownCode) {
  const Cases cases = {
      {"1", "1"},   {"44", "0"},  {"39", ""},   {"7", "8"},   {"36", "06"}, {"375", "8"},
      {"380", "0"}, {"60", "0"},  {"63", "0"},  {"971", "0"}, {"880", "0"}, {"95", "0"},
      {"995", "0"}, {"994", "0"}, {"387", "0"}, {"382", "0"}, {"255", "0"}, {"262", "0"},
      {"595", "0"}, {"593", "0"}, {"850", "0"}, {"967", "0"}, {"970", "0"}, {"599", ""},
      {"800", ""},  {"4", ""},    {"440", ""},  {"+44", ""},  {" 44", ""},  {"44|", ""},
      {"", ""},
  };
  for (const auto& [code, trunk] : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ascii(trunkPrefixByCallingCode(wide(code))), trunk);
  }
  EXPECT_EQ(ascii(trunkPrefixByCallingCode(std::nullopt)), "");
}

// Guards against a code found by a part of it or by a longer non-code ("345"
// is Cayman's area code under 1, not a calling code), and against codes of no
// country (+800) or three-digit codes being skipped.
TEST(CallingCodeAt, FindsTheOneCodeThatBeginsTheDigits) {
  const Cases cases = {
      {"442079460000", "44"},
      {"12125550100", "1"},
      {"380441234567", "380"},
      {"3451234", "34"},
      {"2476412", "247"},
      {"5922201234", "592"},
      {"80012345678", "800"},
      {"77012345678", "7"},
      {"38", "-"},
      {"28", "-"},
      {"+44", "-"},
      {"", "-"},
  };
  for (const auto& [digits, code] : cases) {
    SCOPED_TRACE(digits);
    EXPECT_EQ(ascii(callingCodeAt(wide(digits))), code);
    EXPECT_EQ(isKnownCallingCode(wide(digits)), std::string(code) == digits);
  }
}

// Guards against the wrong region standing for a shared code, whose prefixes
// then mark numbers dialled abroad.
TEST(MainCountryOfCallingCode, IsTheCountryWhoseRulesTheCodeFollows) {
  const Cases cases = {
      {"1", "US"},  {"44", "GB"}, {"7", "RU"},  {"262", "RE"}, {"599", "CW"},
      {"61", "AU"}, {"49", "DE"}, {"800", "-"}, {"28", "-"},   {"", "-"},
  };
  for (const auto& [code, country] : cases) {
    SCOPED_TRACE(code);
    EXPECT_EQ(ascii(mainCountryOfCallingCode(wide(code))), country);
  }
}

// Guards against a pattern left unexpanded or cut short (Australia's carrier
// forms, Korea's and Brazil's carrier selection), a list of the wrong region,
// and an unknown region getting one.
TEST(InternationalPrefixesOf, ListsEveryPrefixTheCountryDials) {
  const std::pair<const char*, std::vector<const char*>> cases[] = {
      {"DE", {"00"}},
      {"US", {"011"}},
      {"JP", {"010"}},
      {"RU", {"810"}},
      {"IL", {"00", "012", "019"}},
      {"AU", {"0011", "0014", "14880011"}},
      {"KR", {"001", "002", "00700", "00727"}},
      {"BR", {"0012", "0021", "0099"}},
      {"SC", {"00", "01", "010"}},
  };
  for (const auto& [country, expected] : cases) {
    SCOPED_TRACE(country);
    const InternationalPrefixes prefixes = internationalPrefixesOf(wide(country));
    for (const char* prefix : expected) {
      EXPECT_TRUE(std::binary_search(prefixes.begin(), prefixes.end(), wide(prefix))) << prefix;
    }
    if (expected.size() == 1) {
      EXPECT_EQ(prefixes.size(), 1u);
    }
  }
  EXPECT_TRUE(internationalPrefixesOf(u"ZZ").empty());
  EXPECT_TRUE(internationalPrefixesOf(u"de").empty());
}

}  // namespace
