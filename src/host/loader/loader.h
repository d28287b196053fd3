// The extension loader: what the hooking host does when a process starts.
//
// loadExtensions(bundleIdentifier) looks at every "<name>.dylib" in
// "<device root>/Library/MobileSubstrate/DynamicLibraries/", reads the filter
// property list "<name>.plist" beside it, and loads (dlopen) each library whose
// filter names the bundle identifier in Filter/Bundles (an XML or binary
// property list: a dictionary whose "Filter" dictionary holds a "Bundles"
// array of texts). Libraries are visited in sorted file-name order, and each
// loaded one has run its load-time initialisers before the next is visited.
//
// A filter that names other bundles, or no bundles, passes its library over
// quietly. A library without a filter, with a filter that cannot be read (not
// a regular file, larger than 4 MiB, unreadable), that is not a property list
// with a dictionary at its root or that lacks the Filter/Bundles array of
// texts, whose file is not a regular file holding a whole ELF shared object
// (elf_check.h), or that cannot be loaded is passed over too, as is a filter
// meant for this program whose library is missing; each such problem is
// described in one line of the report, starting with the library's file name.
// Filters and libraries are opened without blocking and checked to be regular
// files before they are read or loaded, so a FIFO or a device in their place
// never holds up the host.
// A missing folder or an unset device root gives an empty report. Libraries
// stay loaded for the life of the process. It never raises and never stops the
// host, as long as the libraries' own initialisers do not throw.
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
