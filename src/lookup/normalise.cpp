#include "lookup/normalise.h"

#include <algorithm>
#include <array>

#include "host/foundation/messages.h"
#include "lookup/country_tables.h"

namespace {

bool formatting(char16_t c) {
  return c == u' ' || c == u'(' || c == u')' || c == u'-';
}

// The codes of callingCodeTrunkList in ascending order, and the length of
// the longest.
struct SortedCodes {
  std::array<std::u16string_view, callingCodeTrunkList.size()> codes{};
  size_t longest = 0;
};

const SortedCodes& sortedListedCodes() {
  static const SortedCodes sorted = [] {
    SortedCodes built;
    std::transform(callingCodeTrunkList.begin(), callingCodeTrunkList.end(), built.codes.begin(),
                   [](std::u16string_view entry) { return callingCodeOfEntry(entry); });
    std::sort(built.codes.begin(), built.codes.end());
    for (std::u16string_view code : built.codes)
      built.longest = std::max(built.longest, code.size());
    return built;
  }();
  return sorted;
}

// The code of callingCodeTrunkList that begins `digits`. The list is
// prefix-free, so at most one code begins them, and finding it by halves among
// the sorted codes gives what walking the list in its order gives.
std::optional<std::u16string_view> listedCallingCodeAt(std::u16string_view digits) {
  const SortedCodes& sorted = sortedListedCodes();
  for (size_t length = 1; length <= sorted.longest && length <= digits.size(); ++length) {
    const std::u16string_view head = digits.substr(0, length);
    auto found = std::lower_bound(sorted.codes.begin(), sorted.codes.end(), head);
    if (found != sorted.codes.end() && *found == head) return *found;
  }
  return std::nullopt;
}

}  // namespace

NumberParts splitNumber(std::u16string_view number, const HomeCountry& home) {
  std::u16string digits;
  digits.reserve(number.size() + (home.callingCode ? home.callingCode->size() : 0));
  for (char16_t c : number) {
    if (!formatting(c)) digits += c;
  }

  NumberParts parts;
  if (!digits.empty() && digits.front() == u'+') {
    parts.international = true;
    std::erase(digits, u'+');
    std::optional<std::u16string_view> code = listedCallingCodeAt(digits);
    if (!code) code = longestCountryCallingCodeAt(digits);
    if (!code) return parts;
    parts.callingCode = std::u16string(*code);
  } else {
    if (!home.callingCode) return parts;
    parts.callingCode = *home.callingCode;
    digits.insert(0, *home.callingCode);
    // Only a home calling code written with "+" brings a "+" back in front.
    if (digits.front() == u'+') std::erase(digits, u'+');
  }

  if (digits.size() < parts.callingCode.size()) return NumberParts{parts.international, {}, {}};
  // The digits after the calling code become the national number in place.
  digits.erase(0, parts.callingCode.size());
  parts.nationalNumber = std::move(digits);
  if (!parts.international) {
    const std::u16string& trunk = ns::units(home.trunkPrefix);
    if (parts.nationalNumber.starts_with(trunk)) parts.nationalNumber.erase(0, trunk.size());
  }
  return parts;
}

bool isFileSafeCallingCode(std::u16string_view callingCode) {
  if (!callingCode.empty() && callingCode.front() == u'+') callingCode.remove_prefix(1);
  return !callingCode.empty() && std::all_of(callingCode.begin(), callingCode.end(),
                                             [](char16_t c) { return c >= u'0' && c <= u'9'; });
}
