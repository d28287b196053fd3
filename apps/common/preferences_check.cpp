#include "common/preferences_check.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "host/foundation/preferences.h"
#include "lookup/preference_keys.h"

namespace fs = std::filesystem;

namespace apps {

std::string preferencesProblem() {
  const fs::path file = host::preferencesPath(kPrefsDomain);
  if (file.empty()) return "no device root";
  std::error_code error;
  fs::create_directories(file.parent_path(), error);
  if (error) return "cannot create " + file.parent_path().string() + ": " + error.message();
  if (::access(file.parent_path().c_str(), W_OK) != 0) {
    return "cannot write preferences in " + file.parent_path().string() + ": permission denied";
  }
  if (fs::exists(file, error) && ::access(file.c_str(), R_OK | W_OK) != 0) {
    return "cannot read and write " + file.string();
  }
  return {};
}

}  // namespace apps
