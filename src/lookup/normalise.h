// Turning a telephone number as written into the calling code it is looked up
// under and its national digits.
//
// First the layout goes: blanks (U+0020, tabs, the no-break and narrow spaces
// U+00A0, U+2007 and U+202F), brackets, the dashes "-", U+2010 to U+2015 and
// U+2212, the invisible direction marks that phones wrap numbers in (U+200E,
// U+200F, U+202A to U+202E, U+2066 to U+2069), and dots and slashes that
// stand between two digits with nothing but blanks, dashes and direction
// marks around them. Anything else stays: a number holding "*", "#", "," or
// letters is not a plain number, and its leading digits are all that a key
// can match.
//
// A number that then begins with "+" is international: every "+" is removed,
// and its calling code is the one calling code of the tables that begins it;
// without one it has no area. A number that begins with one of the home
// region's international call prefixes ("00" in Germany, "011" in the United
// States, "0011" in Australia), followed by a digit other than 0 and a known
// calling code, is international too: "0044 20 7946 0000" dialled in Germany
// is "+44 20 7946 0000". Of several prefixes that begin it the shortest is
// tried first: the plain prefix before the forms that select a carrier. An international number
// written with its country's trunk prefix in brackets straight after the calling code ("+44 (0)20
// 7946 0000") loses that prefix; an unbracketed one is part of the number ("+39 06 ...").
//
// Any other number is national: it is looked up under the home calling code,
// and its national digits lose the home trunk prefix when they begin with it;
// where the home has other national prefixes as well ("8 0152 ..." in
// Belarus, whose trunk prefix is "8"), the longest that begins them.
//
// Lengths and positions count UTF-16 code units. Splitting allocates only the
// two texts it gives.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lookup/home_country.h"

struct NumberParts {
  // Whether the number is international: it began with "+" or with one of the
  // home region's international call prefixes.
  bool international = false;
  // The international call prefix it began with ("00"), a view into the
  // country tables; empty for every other number.
  std::u16string_view internationalPrefix;
  // The trunk prefix or other national prefix that was dropped: the home
  // one in front of a national number, or a bracketed one after the calling
  // code of an international number; empty when none was. A view into the
  // country tables or into the home trunk prefix's text, valid while the
  // HomeCountry the number was split with lives.
  std::u16string_view droppedPrefix;
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
