// What a simulated host program does first: set up the device from its
// options and let the extension loader load what is meant for it, telling the
// user on standard error what went wrong, one line each, prefixed with the
// program's name.
#pragma once

#include <string>
#include <vector>

#include "common/host_setup.h"

namespace apps {

// Sets up the device (see setUpDevice). Returns 0, or 2 after printing the
// usage or device error. A device whose preferences cannot be stored is used
// all the same, after a one-line warning.
int startHost(const char* program, const CommonOptions& options);

// Loads the extensions for `bundleIdentifier` and prints each problem, or,
// when nothing was loaded and nothing went wrong, that the program runs
// without extensions. Gives the file names of the libraries loaded.
std::vector<std::string> loadHostExtensions(const char* program, const char* bundleIdentifier);

}  // namespace apps
