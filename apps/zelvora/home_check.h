// Checks the tool makes before it lets the library write preferences.
#pragma once

#include <string>

namespace zelvora {

// Empty when the preferences of ZelvoraPro can be stored on the current
// device (creating the preferences folder when missing), else a one-line
// description of what is wrong.
std::string preferencesProblem();

}  // namespace zelvora
