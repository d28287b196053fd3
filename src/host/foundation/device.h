// The simulated device: where its filesystem lies, its region, and the host
// application's own resources.
//
// The program that hosts the library sets these once at start, before the
// library is loaded; the library only reads them. They are process-wide and,
// like the rest of the platform, used from the main thread only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/foundation/object.h"

namespace host {

// The device root: a directory under which every absolute device path
// resolves. "/Library/Application Support/ZelvoraPro/44.txt" becomes
// "<root>/Library/Application Support/ZelvoraPro/44.txt". Until a root is set,
// devicePath gives the empty text, which names no file.
void setDeviceRoot(std::string root);
const std::string& deviceRoot();
std::string devicePath(std::string_view absoluteDevicePath);

// The device's region: two capital letters such as "GB", or none.
void setDeviceRegion(std::optional<std::string> region);
const std::optional<std::string>& deviceRegion();

// The folder that holds the host application's resources; empty for none.
void setMainBundleResourcePath(std::string folder);
const std::string& mainBundleResourcePath();

}  // namespace host

// [[NSLocale currentLocale] objectForKey:NSLocaleCountryCode]: the device
// region as a text, or nil when the device has none.
id NSLocaleCurrentCountryCode();

// [[NSBundle mainBundle] pathForResource:name ofType:type inDirectory:folder]:
// the path of an existing resource file, or none.
std::optional<std::string> NSBundlePathForResource(std::string_view name, std::string_view type,
                                                   std::string_view folder);
