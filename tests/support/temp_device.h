// A throw-away device for a test: a fresh device root in a temporary folder,
// no region, the build's bundled data (with its prebuilt indexes) as the
// application's resources, and empty
// preference views. The folder and everything in it is removed when the
// object goes away.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace testing_support {

class TempDevice {
 public:
  TempDevice();
  ~TempDevice();
  TempDevice(const TempDevice&) = delete;
  TempDevice& operator=(const TempDevice&) = delete;

  const std::string& root() const { return root_; }
  // The host path of an absolute device path.
  std::string path(std::string_view devicePath) const;
  // Writes `contents` to the device path, creating folders as needed.
  void writeFile(std::string_view devicePath, std::string_view contents) const;
  // Reads a device file; none when missing.
  std::optional<std::string> readFile(std::string_view devicePath) const;
  void setRegion(std::optional<std::string> region) const;

 private:
  std::string root_;
};

// The bundled data folder (with its "codes" folder) as committed; the build's
// copy of it, each area-code file with its prebuilt index beside it; and the
// folder of the built programs.
std::string sourceDataDir();
std::string bundleDir();
std::string binDir();

}  // namespace testing_support
