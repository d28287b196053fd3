// The extension loader: what the hooking host does when a process starts.
//
// loadExtensions(bundleIdentifier) looks at every "<name>.dylib" in
// "<device root>/Library/MobileSubstrate/DynamicLibraries/", reads the filter
// property list "<name>.plist" beside it, and loads (dlopen) each library whose
// filter names the bundle identifier in Filter/Bundles. Loading runs the
// library's load-time initialisers. A library without a filter, with a filter
// that is not a property list, or that cannot be loaded is passed over; each
// such problem is described in one line of the report. Libraries stay loaded
// for the life of the process. It never raises and never stops the host.
#pragma once

#include <string>
#include <vector>

namespace host {

struct LoadReport {
  std::vector<std::string> loaded;    // file names of the libraries loaded
  std::vector<std::string> problems;  // one line each
};

LoadReport loadExtensions(const std::string& bundleIdentifier);

// The folder the loader looks in, under the current device root.
std::string extensionsFolder();

}  // namespace host
