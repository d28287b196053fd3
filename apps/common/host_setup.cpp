#include "common/host_setup.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "host/foundation/device.h"
#include "host/foundation/region.h"

namespace fs = std::filesystem;

namespace apps {

CommonOptions parseCommonOptions(const std::vector<std::string>& arguments,
                                 const std::vector<std::string>& flags) {
  CommonOptions options;
  bool optionsEnded = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (optionsEnded) {
      options.rest.push_back(argument);
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    std::optional<std::string>* target = nullptr;
    std::string name = argument;
    std::optional<std::string> value;
    if (size_t equals = argument.find('=');
        argument.starts_with("--") && equals != std::string::npos) {
      name = argument.substr(0, equals);
      value = argument.substr(equals + 1);
    }
    if (name == "--root") target = &options.root;
    if (name == "--region") target = &options.region;
    if (target) {
      if (!value) {
        if (i + 1 >= arguments.size()) {
          options.error = name + " needs a value";
          return options;
        }
        value = arguments[++i];
      }
      *target = *value;
      continue;
    }
    bool knownFlag = false;
    for (const auto& flag : flags) knownFlag = knownFlag || argument == flag;
    if (argument.starts_with("--") && !knownFlag) {
      options.error = "unknown option " + argument;
      return options;
    }
    options.rest.push_back(argument);
  }
  return options;
}

RootChoice chooseDeviceRoot(const std::optional<std::string>& explicitRoot) {
  std::string root;
  if (explicitRoot) {
    root = *explicitRoot;
  } else if (const char* env = std::getenv("ZELVORA_ROOT"); env && *env) {
    root = env;
  } else if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
    // Only an absolute XDG_DATA_HOME counts; a relative one is ignored, as
    // the XDG rules say, rather than put the device under whatever folder
    // the tool happens to run in.
    root = std::string(data) + "/zelvora/device";
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    root = std::string(home) + "/.local/share/zelvora/device";
  } else {
    return {{}, "no device root: give --root DIR or set ZELVORA_ROOT"};
  }
  if (root.empty()) return {{}, "the device root must not be empty"};
  std::error_code error;
  fs::create_directories(root, error);
  if (error || !fs::is_directory(root)) {
    return {{},
            "cannot use device root " + root + ": " +
                (error ? error.message() : std::string("not a directory"))};
  }
  return {fs::absolute(root).lexically_normal().string(), {}};
}

std::string programDir() {
  std::error_code error;
  fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string(".") : self.parent_path().string();
}

namespace {

bool inBuildTree() {
  std::error_code error;
  return fs::equivalent(programDir(), ZELVORA_BUILD_BIN_DIR, error);
}

}  // namespace

std::string helperDir() {
  const std::string here = programDir();
  if (inBuildTree()) return here;
  // The tool lies in bin/, the host programs in the helper folder itself.
  const fs::path fromTool = fs::path(here) / ZELVORA_BIN_TO_HELPERS;
  std::error_code error;
  if (fs::exists(fromTool / "ZelvoraPro.plist", error)) return fromTool.lexically_normal().string();
  return here;
}

std::string bundledDataDir() {
  if (inBuildTree()) return ZELVORA_BUNDLE_DIR;
  return (fs::path(helperDir()) / ZELVORA_HELPERS_TO_DATA).lexically_normal().string();
}

std::string setUpDevice(const CommonOptions& options) {
  RootChoice root = chooseDeviceRoot(options.root);
  if (!root.error.empty()) return root.error;
  host::RegionChoice region = host::chooseRegion(options.region);
  if (!region.error.empty()) return region.error;
  host::setDeviceRoot(root.root);
  host::setDeviceRegion(region.region);
  host::setMainBundleResourcePath(bundledDataDir());
  return {};
}

}  // namespace apps
