// The preferences domain of ZelvoraPro and its keys.
//
// The settings editor writes the domain and then posts kSettingsChangedName;
// the library reads all three keys and writes back the two home values it
// derives ("countryCode" holds a calling code such as "44", not a country).
#pragma once

#include <string_view>

inline constexpr std::string_view kPrefsDomain = "org.tarnwick.ZelvoraPrefs";
inline constexpr std::string_view kSettingsChangedName =
    "org.tarnwick.ZelvoraPrefs/settingschanged";

inline constexpr std::string_view kCountryCodeKey = "countryCode";
inline constexpr std::string_view kTrunkPrefixKey = "trunkPrefixx";  // spelled with two x
inline constexpr std::string_view kRecentsKey = "recents";
