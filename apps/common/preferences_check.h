// Whether ZelvoraPro's preferences can be stored on the current device: the
// tool checks before it writes, and the host programs warn when they cannot.
#pragma once

#include <string>

namespace apps {

// Empty when the preferences of ZelvoraPro can be stored on the current
// device (creating the preferences folder when missing), else a one-line
// description of what is wrong.
std::string preferencesProblem();

}  // namespace apps
