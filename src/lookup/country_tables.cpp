#include "lookup/country_tables.h"

#include <algorithm>

namespace {

using country_data::kCallingCodeTrunkEntries;
using country_data::kInternationalPrefixStarts;
using country_data::kNationalPrefixes;
using country_data::kRegions;

constexpr bool isDigits(std::u16string_view text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

constexpr bool isCountryKey(std::u16string_view text) {
  return text.size() == 2 &&
         std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= u'A' && c <= u'Z'; });
}

constexpr std::array<CountryCallingCode, kRegions.size()> countriesOfRegions() {
  std::array<CountryCallingCode, kRegions.size()> countries{};
  for (std::size_t i = 0; i < kRegions.size(); ++i)
    countries[i] = {kRegions[i].country, kRegions[i].callingCode};
  return countries;
}

// The matching of numbers relies on these properties of the list: every entry
// is digits, "|", digits; no code begins with 0, so a 0 after an international
// call prefix never starts one; the codes ascend, so they can be searched by halves;
// and since no code begins another, at most one code can be found at the start
// of a number. Sorted, a code that begins another sorts right before it or
// before codes that also begin with it, so comparing neighbours is enough.
constexpr bool listIsWellFormed() {
  for (std::size_t i = 0; i < kCallingCodeTrunkEntries.size(); ++i) {
    const std::u16string_view entry = kCallingCodeTrunkEntries[i];
    const std::u16string_view code = callingCodeOfEntry(entry);
    if (code.empty() || code.size() > 3 || code.front() == u'0' || code.size() == entry.size() ||
        !isDigits(code) || !isDigits(trunkPrefixOfEntry(entry))) {
      return false;
    }
    if (i > 0) {
      const std::u16string_view before = callingCodeOfEntry(kCallingCodeTrunkEntries[i - 1]);
      if (!(before < code) || code.starts_with(before)) return false;
    }
  }
  return true;
}

// The trunk prefix of a code of the list, or none for a code it lacks; found
// by halves, as the codes ascend (listIsWellFormed).
constexpr std::optional<std::u16string_view> trunkOfListedCode(std::u16string_view code) {
  const auto found =
      std::lower_bound(kCallingCodeTrunkEntries.begin(), kCallingCodeTrunkEntries.end(), code,
                       [](std::u16string_view entry, std::u16string_view key) {
                         return callingCodeOfEntry(entry) < key;
                       });
  if (found == kCallingCodeTrunkEntries.end() || callingCodeOfEntry(*found) != code)
    return std::nullopt;
  return trunkPrefixOfEntry(*found);
}

// The search by halves needs strictly ascending keys, which also means each
// country appears once; every country's code is one the list recognises, and
// its international call prefixes are digits, ascending, within the pool.
constexpr bool regionsAreWellFormed() {
  for (std::size_t i = 0; i < kRegions.size(); ++i) {
    const country_data::Region& region = kRegions[i];
    if (!isCountryKey(region.country) || std::u16string_view(region.callingCode).empty())
      return false;
    if (i > 0 && !(kRegions[i - 1].country < std::u16string_view(region.country))) return false;
    if (!trunkOfListedCode(region.callingCode)) return false;
    if (region.prefixCount == 0 ||
        std::size_t{region.firstPrefix} + region.prefixCount >= kInternationalPrefixStarts.size()) {
      return false;
    }
    const InternationalPrefixes prefixes(region.firstPrefix, region.prefixCount);
    for (std::size_t k = 0; k < prefixes.size(); ++k) {
      if (prefixes[k].empty() || !isDigits(prefixes[k])) return false;
      if (k > 0 && !(prefixes[k - 1] < prefixes[k])) return false;
    }
  }
  return true;
}

// The national prefixes are searched by halves by calling code, and each
// code's are tried longest first; every code is one the list knows, and its
// trunk prefix is among its national prefixes.
constexpr bool nationalPrefixesAreWellFormed() {
  for (std::size_t i = 0; i < kNationalPrefixes.size(); ++i) {
    const country_data::NationalPrefix& entry = kNationalPrefixes[i];
    if (entry.prefix.empty() || !isDigits(entry.prefix)) return false;
    if (i > 0) {
      const country_data::NationalPrefix& before = kNationalPrefixes[i - 1];
      if (before.callingCode > entry.callingCode) return false;
      if (before.callingCode == entry.callingCode && before.prefix.size() < entry.prefix.size())
        return false;
    }
    bool trunkListed = false;
    for (std::size_t k = 0; k < kNationalPrefixes.size(); ++k) {
      trunkListed =
          trunkListed || (kNationalPrefixes[k].callingCode == entry.callingCode &&
                          kNationalPrefixes[k].prefix == trunkOfListedCode(entry.callingCode));
    }
    if (!trunkListed) return false;
  }
  return true;
}

static_assert(listIsWellFormed());
static_assert(nationalPrefixesAreWellFormed());
// The pool's offsets ascend and end with its units.
constexpr bool prefixPoolIsWellFormed() {
  for (std::size_t k = 1; k < kInternationalPrefixStarts.size(); ++k) {
    if (kInternationalPrefixStarts[k] < kInternationalPrefixStarts[k - 1]) return false;
  }
  return kInternationalPrefixStarts.front() == 0 &&
         kInternationalPrefixStarts.back() ==
             std::size(country_data::kInternationalPrefixUnits) - 1;
}

static_assert(prefixPoolIsWellFormed());
static_assert(regionsAreWellFormed());

const country_data::Region* regionOf(std::u16string_view country) {
  const auto found = std::lower_bound(kRegions.begin(), kRegions.end(), country,
                                      [](const country_data::Region& entry,
                                         std::u16string_view key) { return entry.country < key; });
  if (found == kRegions.end() || found->country != country) return nullptr;
  return &*found;
}

// The list entry whose code is `callingCode`, or null.
const std::u16string_view* entryOf(std::u16string_view callingCode) {
  const auto found =
      std::lower_bound(kCallingCodeTrunkEntries.begin(), kCallingCodeTrunkEntries.end(),
                       callingCode, [](std::u16string_view entry, std::u16string_view key) {
                         return callingCodeOfEntry(entry) < key;
                       });
  if (found == kCallingCodeTrunkEntries.end() || callingCodeOfEntry(*found) != callingCode)
    return nullptr;
  return &*found;
}

}  // namespace

const std::array<std::u16string_view, kCallingCodeTrunkEntries.size()> callingCodeTrunkList =
    kCallingCodeTrunkEntries;

const std::array<CountryCallingCode, kRegions.size()> callingCodeByCountry = countriesOfRegions();

std::u16string_view trunkPrefixByCallingCode(
    std::optional<std::u16string_view> callingCode) noexcept {
  if (!callingCode) return {};
  const std::u16string_view* entry = entryOf(*callingCode);
  return entry ? trunkPrefixOfEntry(*entry) : std::u16string_view();
}

std::span<const country_data::NationalPrefix> nationalPrefixesOf(
    std::u16string_view callingCode) noexcept {
  const auto [first, last] = std::equal_range(
      kNationalPrefixes.begin(), kNationalPrefixes.end(),
      country_data::NationalPrefix{callingCode, {}},
      [](const country_data::NationalPrefix& a, const country_data::NationalPrefix& b) {
        return a.callingCode < b.callingCode;
      });
  return {first, last};
}

bool isKnownCallingCode(std::u16string_view callingCode) noexcept {
  return entryOf(callingCode) != nullptr;
}

std::optional<std::u16string_view> callingCodeAt(std::u16string_view digits) noexcept {
  for (std::size_t length = 1; length <= 3 && length <= digits.size(); ++length) {
    if (const std::u16string_view* entry = entryOf(digits.substr(0, length)))
      return callingCodeOfEntry(*entry);
  }
  return std::nullopt;
}

std::optional<std::u16string_view> callingCodeForCountry(
    std::optional<std::u16string_view> country) noexcept {
  if (!country) return std::nullopt;
  const country_data::Region* region = regionOf(*country);
  if (!region) return std::nullopt;
  return region->callingCode;
}

std::optional<std::u16string_view> mainCountryOfCallingCode(
    std::u16string_view callingCode) noexcept {
  for (const country_data::Region& region : kRegions) {
    if (region.mainForCode && region.callingCode == callingCode) return region.country;
  }
  return std::nullopt;
}

InternationalPrefixes internationalPrefixesOf(std::u16string_view country) noexcept {
  const country_data::Region* region = regionOf(country);
  if (!region) return {};
  return InternationalPrefixes(region->firstPrefix, region->prefixCount);
}
