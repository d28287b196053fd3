#include "lookup/normalise.h"

#include <algorithm>

#include "host/foundation/messages.h"
#include "lookup/country_tables.h"

namespace {

bool formatting(char16_t c) {
  return c == u' ' || c == u'(' || c == u')' || c == u'-';
}

std::optional<std::u16string_view> listedCallingCodeAt(std::u16string_view digits) {
  for (std::u16string_view entry : callingCodeTrunkList) {
    std::u16string_view code = callingCodeOfEntry(entry);
    if (digits.size() >= code.size() && digits.substr(0, code.size()) == code) return code;
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
  parts.nationalNumber = digits.substr(parts.callingCode.size());
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
