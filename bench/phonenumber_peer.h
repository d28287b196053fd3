// Google's libphonenumber as the peer of the lookup: a number as written is
// parsed (a national number in the home region) and its area described in
// English by the offline geocoder, whose data stays in memory after its first
// use. Only for the comparison benchmarks.
#pragma once

#include <string>

namespace bench {

// The geocoder's description of `number`, or the empty text when it cannot
// be parsed or has none.
std::string peerArea(const std::string& number, const std::string& homeRegion);

// A number of `region` whose national significant number begins with
// `prefix`, filled up with `fill` digits to the length of the region's
// example fixed-line number; the empty text when the region has none.
std::string peerNationalNumberLike(const std::string& region, const std::string& prefix,
                                   unsigned fill);

}  // namespace bench
