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

namespace {

// The last home country settled, with what it was settled from.
struct SettledHome {
  uint64_t generation = 0;
  std::optional<std::string> region;
  HomeCountry home;
};
std::optional<SettledHome> lastSettled;

}  // namespace

const HomeCountry& settleHomeCountry() {
  // loadPrefs synchronises the domain before it reads, which both stores any
  // change still pending and picks up what other processes stored; a second
  // synchronisation straight before it would only repeat that work.
  loadPrefs();

  // While the preferences and the region are as they were, so is the home
  // country: it is settled again only when one of them changed.
  const uint64_t generation = host::preferencesGeneration(kPrefsDomain);
  if (lastSettled && generation != 0 && lastSettled->generation == generation &&
      lastSettled->region == host::deviceRegion()) {
    return lastSettled->home;
  }
  lastSettled.reset();

  // Only what is derived because a key is missing is written back, and only
  // over the value it was derived from: a value just read is never written
  // again, so a newer one stored meanwhile by another process stays.
  HomeCountry home;
  // The device region and its calling code; empty when it has none. Read
  // without making a value, as every settling needs it for the home region.
  const std::optional<std::string>& device = host::deviceRegion();
  const std::u16string region = device ? toUtf16(*device) : std::u16string();
  const std::u16string_view regionCode = callingCodeForCountry(region).value_or(u"");
  if (!missing(callingCodePrefs) && ns::length(callingCodePrefs) != 0) {
    home.callingCode = ns::units(callingCodePrefs);
  } else {
    id localeRegion = NSLocaleCurrentCountryCode();
    const std::u16string_view derived =
        localeRegion ? callingCodeForCountry(ns::units(localeRegion)).value_or(u"") : u"";
    if (!derived.empty()) {
      home.callingCode = std::u16string(derived);
      host::setAppValueIfStill(kCountryCodeKey, NSString::make(std::u16string(derived)),
                               callingCodePrefs, kPrefsDomain);
    } else if (callingCodePrefs) {
      // An empty or null value that nothing replaces is removed.
      host::setAppValueIfStill(kCountryCodeKey, nil, callingCodePrefs, kPrefsDomain);
    }
  }

  if (!missing(trunkPrefixPrefs)) {
    home.trunkPrefix = trunkPrefixPrefs;
  } else if (home.callingCode) {
    home.trunkPrefix = NSString::make(std::u16string(trunkPrefixByCallingCode(*home.callingCode)));
    host::setAppValueIfStill(kTrunkPrefixKey, home.trunkPrefix, trunkPrefixPrefs, kPrefsDomain);
  } else {
    // Without a home calling code there is nothing to derive a trunk prefix
    // from: none is used, and none is stored that would outlive a later home.
    home.trunkPrefix = NSString::make(u"");
  }
  if (home.callingCode) {
    if (!regionCode.empty() && regionCode == *home.callingCode) {
      home.region = region;
    } else if (auto main = mainCountryOfCallingCode(*home.callingCode)) {
      home.region = *main;
    }
    home.internationalPrefixes = internationalPrefixesOf(home.region);
    const NSString* trunk = objectAs<NSString>(home.trunkPrefix);
    if (trunk && trunk->units() == trunkPrefixByCallingCode(*home.callingCode))
      home.nationalPrefixes = nationalPrefixesOf(*home.callingCode);
  }
  CFPreferencesAppSynchronize(kPrefsDomain);
  lastSettled =
      SettledHome{host::preferencesGeneration(kPrefsDomain), host::deviceRegion(), std::move(home)};
  return lastSettled->home;
}
