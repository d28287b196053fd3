#include "lookup/home_country.h"

#include "host/foundation/device.h"
#include "host/foundation/messages.h"
#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "lookup/country_tables.h"
#include "lookup/lookup.h"
#include "lookup/preference_keys.h"
#include "state/state.h"

namespace {

// A preference value counts as missing when absent or the null marker.
bool missing(const id& value) {
  return !value || ns::isNull(value);
}

}  // namespace

HomeCountry settleHomeCountry() {
  CFPreferencesAppSynchronize(kPrefsDomain);
  loadPrefs();

  HomeCountry home;
  if (!missing(callingCodePrefs) && ns::length(callingCodePrefs) != 0) {
    home.callingCode = ns::units(callingCodePrefs);
  } else {
    id region = NSLocaleCurrentCountryCode();
    std::optional<std::u16string_view> derived =
        region ? callingCodeForCountry(ns::units(region)) : std::nullopt;
    if (derived) home.callingCode = std::u16string(*derived);
    CFPreferencesSetAppValue(
        kCountryCodeKey, derived ? NSString::make(std::u16string(*derived)) : nil, kPrefsDomain);
  }

  if (!missing(trunkPrefixPrefs)) {
    home.trunkPrefix = trunkPrefixPrefs;
  } else {
    std::optional<std::u16string_view> code;
    if (home.callingCode) code = *home.callingCode;
    home.trunkPrefix = NSString::make(std::u16string(trunkPrefixByCallingCode(code)));
  }
  CFPreferencesSetAppValue(kTrunkPrefixKey, home.trunkPrefix, kPrefsDomain);
  CFPreferencesAppSynchronize(kPrefsDomain);
  return home;
}
