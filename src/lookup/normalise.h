// Turning a telephone number as written into the calling code it is looked up
// under and its national digits.
//
// The number is stripped of blanks (U+0020), "(", ")" and "-", and of nothing
// else. A number that then begins with "+" is international: every "+" is
// removed, and its calling code is the first code of callingCodeTrunkList that
// begins it; failing that, the longest calling code of a country that begins
// it; failing that, it has no calling code and no area. Any other number is
// national: it is looked up under the home calling code, and its national
// digits lose the home trunk prefix when they begin with it.
//
// Lengths and positions count UTF-16 code units.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lookup/home_country.h"

struct NumberParts {
  // Whether the number, once stripped, began with "+".
  bool international = false;
  // Both empty when the number has no area to look for: a national number
  // without a home calling code, or an international number whose calling
  // code is unknown.
  std::u16string callingCode;
  std::u16string nationalNumber;
  bool lookedUp() const { return !callingCode.empty(); }
};

// The parts of `number`. Raises NSException when a national number meets a
// home trunk prefix that is not a text.
NumberParts splitNumber(std::u16string_view number, const HomeCountry& home);

// Whether `callingCode` may name an area-code file: ASCII digits, at least one,
// with at most one "+" in front. Anything else (a path, a blank) names none.
bool isFileSafeCallingCode(std::u16string_view callingCode);
