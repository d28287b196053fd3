// Preparing a device root for the simulated phone: the library and its filter
// are installed where the extension loader looks, as the package manager would
// install them on a phone, and the area-code data folder is created.
#pragma once

#include <string>

namespace zelvora {

// Installs (or updates, when the built library changed) ZelvoraPro.dylib and
// ZelvoraPro.plist from beside the tool into
// "<root>/Library/MobileSubstrate/DynamicLibraries/". Each file is replaced
// atomically, so a process that has the old one loaded is not disturbed.
// Returns an error text, or empty on success.
std::string installExtension(const std::string& root);

}  // namespace zelvora
