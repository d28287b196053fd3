#include "host/loader/loader.h"

#include <dlfcn.h>
#include <plist/plist.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string_view>

#include "host/foundation/device.h"
#include "host/foundation/files.h"
#include "host/loader/elf_check.h"

namespace fs = std::filesystem;

namespace host {
namespace {

constexpr std::string_view kLibrarySuffix = ".dylib";
constexpr std::string_view kFilterSuffix = ".plist";

enum class Filter { matches, other, missing, notPropertyList };

bool namesBundle(plist_t root, const std::string& bundleIdentifier) {
  if (plist_get_node_type(root) != PLIST_DICT) return false;
  plist_t filter = plist_dict_get_item(root, "Filter");
  if (!filter || plist_get_node_type(filter) != PLIST_DICT) return false;
  plist_t bundles = plist_dict_get_item(filter, "Bundles");
  if (!bundles || plist_get_node_type(bundles) != PLIST_ARRAY) return false;
  for (uint32_t i = 0, n = plist_array_get_size(bundles); i < n; ++i) {
    plist_t item = plist_array_get_item(bundles, i);
    if (!item || plist_get_node_type(item) != PLIST_STRING) continue;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(item, &length);
    if (text && std::string_view(text, length) == bundleIdentifier) return true;
  }
  return false;
}

Filter readFilter(const std::string& path, const std::string& bundleIdentifier) {
  std::string contents;
  if (!readWholeFile(path, contents)) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 ? Filter::notPropertyList : Filter::missing;
  }
  if (contents.empty() || contents.size() > UINT32_MAX) return Filter::notPropertyList;
  plist_t root = nullptr;
  plist_from_memory(contents.data(), static_cast<uint32_t>(contents.size()), &root);
  if (!root) return Filter::notPropertyList;
  std::unique_ptr<void, void (*)(plist_t)> owned(root, plist_free);
  return namesBundle(root, bundleIdentifier) ? Filter::matches : Filter::other;
}

// The names of the regular files in `folder` that end in `suffix`, sorted;
// none when the folder is missing.
std::vector<std::string> namesEndingIn(const std::string& folder, std::string_view suffix) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    std::error_code ignored;
    if (name.size() <= suffix.size() || !name.ends_with(suffix) || !it->is_regular_file(ignored)) {
      continue;
    }
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::string extensionsFolder() {
  return devicePath("/Library/MobileSubstrate/DynamicLibraries/");
}

LoadReport loadExtensions(const std::string& bundleIdentifier) {
  LoadReport report;
  std::string folder = extensionsFolder();
  if (folder.empty()) return report;
  const std::vector<std::string> libraries = namesEndingIn(folder, kLibrarySuffix);
  for (const std::string& name : libraries) {
    std::string filterName =
        name.substr(0, name.size() - kLibrarySuffix.size()) + std::string(kFilterSuffix);
    std::string problem = name + ": not loaded: ";
    switch (readFilter(folder + filterName, bundleIdentifier)) {
      case Filter::missing:
        report.problems.push_back(problem + "no filter " + filterName);
        continue;
      case Filter::notPropertyList:
        report.problems.push_back(problem + "filter is not a property list");
        continue;
      case Filter::other:
        continue;
      case Filter::matches:
        break;
    }
    std::string path = folder + name;
    if (std::string damage = elfProblem(path); !damage.empty()) {
      report.problems.push_back(problem + damage);
      continue;
    }
    if (::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
      report.loaded.push_back(name);
    } else {
      const char* reason = ::dlerror();
      report.problems.push_back(problem + (reason ? reason : "cannot be loaded"));
    }
  }
  // A filter meant for this program whose library is missing.
  for (const std::string& filterName : namesEndingIn(folder, kFilterSuffix)) {
    std::string library = filterName.substr(0, filterName.size() - kFilterSuffix.size()) +
                          std::string(kLibrarySuffix);
    if (std::binary_search(libraries.begin(), libraries.end(), library)) continue;
    if (readFilter(folder + filterName, bundleIdentifier) == Filter::matches) {
      report.problems.push_back(library + ": not loaded: missing beside its filter " + filterName);
    }
  }
  return report;
}

}  // namespace host
