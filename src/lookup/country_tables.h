// The constant tables of international calling codes.
//
// callingCodeTrunkList names every calling code that the lookup recognises at
// the start of a number given in international form, each with the trunk
// prefix that numbers carry when dialled within that country.
// callingCodeByCountry turns the two-letter country code of the device's
// region into a calling code. A calling code also names the area-code file
// that the lookup reads, so the values decide which file a country uses.
//
// Calling codes are texts of decimal digits without "+" ("1", "44", "375");
// trunk prefixes are digits and may be empty; country codes are two capital
// letters. All texts are UTF-16 and compared exactly, case-sensitively.
//
// Both tables are built at compile time and never change. The functions below
// are pure, never throw and allocate nothing; the views they return point into
// the tables (or into the argument, for the entry helpers) and never dangle
// while those live.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

// The calling codes with their trunk prefixes, in the order in which numbers
// are matched against them. Each entry is the code, "|", and the trunk prefix
// ("216|" has the empty trunk prefix). No code occurs twice and none is the
// beginning of another code in the list.
extern const std::array<std::u16string_view, 113> callingCodeTrunkList;

// One country of callingCodeByCountry.
struct CountryCallingCode {
  std::u16string_view country;      // "GB"
  std::u16string_view callingCode;  // "44"
};

// Every known country with its calling code, one entry per country, sorted by
// country so that it can be searched by halves. Several countries share a
// code ("US" and "CA" both have "1").
extern const std::array<CountryCallingCode, 239> callingCodeByCountry;

// The calling-code part of a list entry: the text before the first "|", or the
// whole entry when it has none.
constexpr std::u16string_view callingCodeOfEntry(std::u16string_view entry) noexcept {
  return entry.substr(0, entry.find(u'|'));
}

// The trunk-prefix part of a list entry: the text after the first "|", or the
// empty text when it has none.
constexpr std::u16string_view trunkPrefixOfEntry(std::u16string_view entry) noexcept {
  const std::size_t bar = entry.find(u'|');
  return bar == std::u16string_view::npos ? std::u16string_view() : entry.substr(bar + 1);
}

// The trunk prefix of the list entry whose code equals `callingCode` as a
// whole text. Every entry is examined and the last equal one wins. Gives the
// empty text when no entry is equal or no code is given, so "+44" or " 44"
// find nothing.
std::u16string_view trunkPrefixByCallingCode(
    std::optional<std::u16string_view> callingCode) noexcept;

// The calling code of `country`, an exact key of callingCodeByCountry ("gb"
// is not "GB"). Gives nothing when the key is absent or no country is given.
std::optional<std::u16string_view> callingCodeForCountry(
    std::optional<std::u16string_view> country) noexcept;

// The longest calling code among the values of callingCodeByCountry with which
// `digits` begins: "380441234567" gives "380", "77012345678" gives "77",
// "12125550100" gives "1". Gives nothing when no value begins `digits`.
std::optional<std::u16string_view> longestCountryCallingCodeAt(std::u16string_view digits) noexcept;
