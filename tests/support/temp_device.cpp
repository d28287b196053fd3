#include "support/temp_device.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "host/foundation/device.h"
#include "host/foundation/preferences.h"

namespace fs = std::filesystem;

namespace testing_support {

TempDevice::TempDevice() {
  std::string pattern = (fs::temp_directory_path() / "zelvora-device-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
  host::setDeviceRoot(root_);
  host::setDeviceRegion(std::nullopt);
  host::setMainBundleResourcePath(bundleDir());
  host::resetPreferenceViews();
}

TempDevice::~TempDevice() {
  host::resetPreferenceViews();
  host::setDeviceRoot({});
  std::error_code ignored;
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(root_, ignored);
}

std::string TempDevice::path(std::string_view devicePath) const {
  return root_ + (devicePath.empty() || devicePath.front() != '/' ? "/" : "") +
         std::string(devicePath);
}

void TempDevice::writeFile(std::string_view devicePath, std::string_view contents) const {
  fs::path file = path(devicePath);
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
}

std::optional<std::string> TempDevice::readFile(std::string_view devicePath) const {
  std::ifstream in(path(devicePath), std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

void TempDevice::setRegion(std::optional<std::string> region) const {
  host::setDeviceRegion(std::move(region));
}

std::string sourceDataDir() {
  return ZELVORA_SOURCE_DATA_DIR;
}
std::string bundleDir() {
  return ZELVORA_BUNDLE_DIR;
}
std::string binDir() {
  return ZELVORA_BIN_DIR;
}

}  // namespace testing_support
