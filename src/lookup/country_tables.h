// The constant tables of international calling codes.
//
// callingCodeTrunkList names every calling code that the lookup recognises at
// the start of a number given in international form, each with the trunk
// prefix that numbers carry when dialled within that country.
// callingCodeByCountry turns the two-letter country code of the device's
// region into a calling code, and each country also has the international
// call prefixes that its people dial before a calling code ("00", "011",
// "0011", ...). A calling code also names the area-code file that the lookup
// reads, so the values decide which file a country uses.
//
// The tables are libphonenumber's, generated into lookup/country_data.h by
// tools/gen_country_tables.py: every calling code and every region it knows.
// Calling codes are prefix-free, so at most one begins a number.
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
#include <iterator>
#include <optional>
#include <span>
#include <string_view>

#include "lookup/country_data.h"

// The calling codes with their trunk prefixes, ascending by code. Each entry
// is the code, "|", and the trunk prefix ("216|" has the empty trunk prefix).
// No code occurs twice and none is the beginning of another code in the list.
extern const std::array<std::u16string_view, country_data::kCallingCodeTrunkEntries.size()>
    callingCodeTrunkList;

// One country of callingCodeByCountry.
struct CountryCallingCode {
  std::u16string_view country;      // "GB"
  std::u16string_view callingCode;  // "44"
};

// Every known country with its calling code, one entry per country, sorted by
// country so that it can be searched by halves. Several countries share a
// code ("US" and "CA" both have "1").
extern const std::array<CountryCallingCode, country_data::kRegions.size()> callingCodeByCountry;

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
// whole text. Gives the empty text when no entry is equal or no code is given,
// so "+44" or " 44" find nothing.
std::u16string_view trunkPrefixByCallingCode(
    std::optional<std::u16string_view> callingCode) noexcept;

// The national prefixes that numbers of `callingCode` may begin with when
// written within the country, longest first, for a code that has other forms
// than its trunk prefix ("375": "80", "0", "8"); empty for any other code.
std::span<const country_data::NationalPrefix> nationalPrefixesOf(
    std::u16string_view callingCode) noexcept;

// Whether `callingCode` is a code of the list, as a whole text.
bool isKnownCallingCode(std::u16string_view callingCode) noexcept;

// The code of the list that begins `digits` ("442079460000" gives "44"), or
// none.
std::optional<std::u16string_view> callingCodeAt(std::u16string_view digits) noexcept;

// The calling code of `country`, an exact key of callingCodeByCountry ("gb"
// is not "GB"). Gives nothing when the key is absent or no country is given.
std::optional<std::u16string_view> callingCodeForCountry(
    std::optional<std::u16string_view> country) noexcept;

// The main country of `callingCode` ("1" gives "US", "44" "GB", "7" "RU"):
// the one whose rules the code's numbers follow when nothing tells the
// country. None for a code of no country ("800") or an unknown one.
std::optional<std::u16string_view> mainCountryOfCallingCode(
    std::u16string_view callingCode) noexcept;

// A run of the tables' international call prefixes: a plain value, valid for
// ever, whose elements are views into the tables.
class InternationalPrefixes {
 public:
  constexpr InternationalPrefixes() = default;
  // The `count` prefixes from number `first` of the tables' pool, all of
  // which lie within it.
  constexpr InternationalPrefixes(std::size_t first, std::size_t count)
      : first_(first), count_(count) {}

  constexpr std::size_t size() const { return count_; }
  constexpr bool empty() const { return count_ == 0; }
  // The prefix at `at`, which is below size().
  constexpr std::u16string_view operator[](std::size_t at) const {
    const std::size_t k = first_ + at;
    const std::size_t start = country_data::kInternationalPrefixStarts[k];
    return std::u16string_view(country_data::kInternationalPrefixUnits + start,
                               country_data::kInternationalPrefixStarts[k + 1] - start);
  }

  // Walks the prefixes in order (a forward iterator).
  class Iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = std::u16string_view;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = std::u16string_view;

    constexpr Iterator() = default;
    constexpr Iterator(const InternationalPrefixes* list, std::size_t at) : list_(list), at_(at) {}
    constexpr std::u16string_view operator*() const { return (*list_)[at_]; }
    constexpr Iterator& operator++() {
      ++at_;
      return *this;
    }
    constexpr Iterator operator++(int) {
      Iterator before = *this;
      ++at_;
      return before;
    }
    constexpr bool operator==(const Iterator& other) const { return at_ == other.at_; }

   private:
    const InternationalPrefixes* list_ = nullptr;
    std::size_t at_ = 0;
  };
  constexpr Iterator begin() const { return Iterator(this, 0); }
  constexpr Iterator end() const { return Iterator(this, count_); }

 private:
  std::size_t first_ = 0;
  std::size_t count_ = 0;
};

// The international call prefixes of `country`, ascending ("DE" gives "00";
// "AU" "0011", "0014", ... "14880011"), or none for an unknown country.
InternationalPrefixes internationalPrefixesOf(std::u16string_view country) noexcept;
