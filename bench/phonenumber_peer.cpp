#include "phonenumber_peer.h"

#include <phonenumbers/geocoding/phonenumber_offline_geocoder.h>
#include <phonenumbers/phonenumberutil.h>
#include <unicode/locid.h>

namespace bench {
namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberOfflineGeocoder;
using i18n::phonenumbers::PhoneNumberUtil;

PhoneNumberOfflineGeocoder& geocoder() {
  static PhoneNumberOfflineGeocoder instance;
  return instance;
}

const icu::Locale& english() {
  static const icu::Locale locale("en");
  return locale;
}

}  // namespace

std::string peerArea(const std::string& number, const std::string& homeRegion) {
  PhoneNumber parsed;
  if (PhoneNumberUtil::GetInstance()->Parse(number, homeRegion, &parsed) !=
      PhoneNumberUtil::NO_PARSING_ERROR) {
    return {};
  }
  return geocoder().GetDescriptionForNumber(parsed, english());
}

std::string peerNationalNumberLike(const std::string& region, const std::string& prefix,
                                   unsigned fill) {
  PhoneNumberUtil* util = PhoneNumberUtil::GetInstance();
  PhoneNumber example;
  if (!util->GetExampleNumberForType(region, PhoneNumberUtil::FIXED_LINE, &example)) return {};
  std::string national;
  util->GetNationalSignificantNumber(example, &national);
  std::string number = prefix.substr(0, national.size());
  while (number.size() < national.size()) {
    number += static_cast<char>('0' + fill % 10);
    fill /= 10;
    if (fill == 0) fill = 7;
  }
  return number;
}

}  // namespace bench
