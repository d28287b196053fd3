// Whether ZelvoraPro's preferences can be read and stored on the current
// device, and whether they give a home country: the tool checks before it
// writes, and the host programs warn when they cannot.
#pragma once

#include <string>

namespace apps {

// Empty when the preferences of ZelvoraPro can be stored on the current
// device (creating the preferences folder when missing), else a one-line
// description of what is wrong: a folder that cannot be made or written, or a
// preferences file that is there but cannot be read ("could not store the
// preferences in PATH: REASON", since such a file is never written over).
std::string preferencesProblem();

// "could not store the preferences in PATH: REASON", for a synchronisation of
// ZelvoraPro's domain that has just failed.
std::string storeFailure();

// Empty when the preferences, as this process last read them, hold a home
// calling code ("countryCode", derived from the region by the last lookup when
// it was missing); else a one-line message saying there is none and how to
// give one.
std::string homeCountryProblem();

}  // namespace apps
