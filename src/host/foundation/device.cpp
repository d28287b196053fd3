#include "host/foundation/device.h"

#include <sys/stat.h>

#include "host/foundation/values.h"

namespace host {
namespace {

std::string& rootSetting() {
  static std::string root;
  return root;
}

std::optional<std::string>& regionSetting() {
  static std::optional<std::string> region;
  return region;
}

std::string& resourceSetting() {
  static std::string folder;
  return folder;
}

}  // namespace

void setDeviceRoot(std::string root) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  rootSetting() = std::move(root);
}

const std::string& deviceRoot() {
  return rootSetting();
}

std::string devicePath(std::string_view absoluteDevicePath) {
  if (rootSetting().empty()) return {};
  std::string path = rootSetting();
  if (absoluteDevicePath.empty() || absoluteDevicePath.front() != '/') path += '/';
  path += absoluteDevicePath;
  return path;
}

void setDeviceRegion(std::optional<std::string> region) {
  regionSetting() = std::move(region);
}

const std::optional<std::string>& deviceRegion() {
  return regionSetting();
}

void setMainBundleResourcePath(std::string folder) {
  resourceSetting() = std::move(folder);
}

const std::string& mainBundleResourcePath() {
  return resourceSetting();
}

}  // namespace host

id NSLocaleCurrentCountryCode() {
  const auto& region = host::deviceRegion();
  return region ? NSString::fromUtf8(*region) : nil;
}

std::optional<std::string> NSBundlePathForResource(std::string_view name, std::string_view type,
                                                   std::string_view folder) {
  const std::string& base = host::mainBundleResourcePath();
  if (base.empty()) return std::nullopt;
  std::string path = base;
  if (!folder.empty()) (path += '/') += folder;
  (path += '/') += name;
  if (!type.empty()) (path += '.') += type;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return path;
}
