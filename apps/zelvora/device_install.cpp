#include "device_install.h"

#include "atomic_file.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "common/host_setup.h"
#include "host/foundation/files.h"
#include "lookup/area_file.h"

namespace fs = std::filesystem;

namespace zelvora {
namespace {

std::string installFile(const fs::path& from, const fs::path& folder) {
  std::string wanted;
  if (!host::readWholeFile(from.string(), wanted)) return "cannot read " + from.string();
  const fs::path target = folder / from.filename();
  std::string present;
  if (host::readWholeFile(target.string(), present) && present == wanted) return {};
  return writeFileAtomically(target, wanted);
}

}  // namespace

std::string installExtension(const std::string& root) {
  const fs::path folder = fs::path(root) / "Library/MobileSubstrate/DynamicLibraries";
  std::error_code error;
  fs::create_directories(folder, error);
  if (error && !fs::is_directory(folder)) {
    return "cannot create " + folder.string() + ": " + error.message();
  }
  // The data folder is where a user puts area-code files of their own; the
  // bundled ones are found without it, so a device that cannot take it still
  // works.
  std::error_code ignored;
  fs::create_directories(fs::path(root) / std::string(kAreaCodeFolder).substr(1), ignored);
  const fs::path built = apps::helperDir();
  for (const char* name : {"ZelvoraPro.dylib", "ZelvoraPro.plist"}) {
    if (std::string problem = installFile(built / name, folder); !problem.empty()) return problem;
  }
  return {};
}

}  // namespace zelvora
