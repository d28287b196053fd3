// Settling the user's home calling code and trunk prefix at the start of a
// lookup.
//
// settleHomeCountry() runs loadPrefs (which synchronises the preferences) and takes
// each home value from the preferences when they hold it, otherwise derives it
// (the calling code from the device region, the trunk prefix from the calling
// code) and writes it back. Only derived values are written, and each only
// over the value it was derived from (host::setAppValueIfStill), so a value
// stored meanwhile by another process is never reverted:
// - "countryCode", when missing (absent, null or empty), takes the calling code
//   of the region; an empty or null one is removed when the region gives none;
// - "trunkPrefixx", when absent or null, takes the trunk prefix of the home
//   calling code. Without a home calling code the trunk prefix is empty and
//   nothing is stored.
// The home region, whose international call prefixes mark a number dialled
// abroad, is the device region when its calling code is the home calling
// code, else the main country of the home calling code ("44" set by hand on a
// device in Germany dials from Great Britain).
// It finishes by synchronising again. While neither the preferences (as their
// view's generation tells) nor the device region changed since, the home
// country settled last time is given again without deriving or writing.
// The reference given stays valid until the next call.
//
// A preference value of the wrong kind raises NSException where it is first
// tested (a "countryCode" that is not a text), leaving what was written so far.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "host/foundation/object.h"
#include "lookup/country_data.h"
#include "lookup/country_tables.h"

struct HomeCountry {
  // The home calling code, or none when neither the preferences nor the device
  // region give one.
  std::optional<std::u16string> callingCode;
  // The home trunk prefix as stored: a text (possibly empty) when derived, or
  // whatever value the preference holds. Its kind is checked only where a
  // lookup needs it.
  id trunkPrefix;
  // The home region ("GB"), or empty when the home calling code belongs to no
  // known country.
  std::u16string region;
  // The home region's international call prefixes, ascending; empty without a
  // home region.
  InternationalPrefixes internationalPrefixes;
  // While the trunk prefix is the one the tables give for the home calling
  // code, every national prefix that the code's numbers may begin with in its
  // place, longest first; empty when the trunk prefix alone applies.
  std::span<const country_data::NationalPrefix> nationalPrefixes;
};

const HomeCountry& settleHomeCountry();
