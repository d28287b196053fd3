#include "host/loader/loader.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>

#include "host/foundation/device.h"
#include "host/foundation/plist_codec.h"
#include "host/foundation/values.h"
#include "host/loader/elf_check.h"
#include "host/loader/regular_file.h"

namespace fs = std::filesystem;

namespace host {
namespace {

constexpr std::string_view kLibrarySuffix = ".dylib";
constexpr std::string_view kFilterSuffix = ".plist";

// Filter files are a few hundred bytes; this is the platform's own warning
// threshold for property lists, far beyond any real one.
constexpr uint64_t kFilterSizeLimit = uint64_t{4} << 20;

enum class Filter { matches, other, missing, broken };

struct FilterReading {
  Filter filter;
  std::string problem;  // for Filter::broken: what is wrong, after "filter "
};

// Whether the root dictionary of a filter names `bundleIdentifier` in
// Filter/Bundles, or what is wrong with its shape.
FilterReading namesBundle(const NSDictionary::Entries& root, const std::string& bundleIdentifier) {
  auto filter = root.find("Filter");
  const auto* filterEntries =
      filter == root.end() ? nullptr : objectAs<NSDictionary>(filter->second);
  if (!filterEntries) return {Filter::broken, "has no \"Filter\" dictionary"};
  auto bundles = filterEntries->entries().find("Bundles");
  const auto* list =
      bundles == filterEntries->entries().end() ? nullptr : objectAs<NSArray>(bundles->second);
  if (!list) return {Filter::broken, "has no \"Bundles\" array in its \"Filter\""};
  bool named = false;
  for (const id& item : list->items()) {
    const NSString* text = objectAs<NSString>(item);
    if (!text) return {Filter::broken, "lists something other than texts in its \"Bundles\""};
    named = named || toUtf8(text->units()) == bundleIdentifier;
  }
  return {named ? Filter::matches : Filter::other, {}};
}

FilterReading readFilter(const std::string& path, const std::string& bundleIdentifier) {
  RegularFile file = RegularFile::open(path);
  if (file.missing()) return {Filter::missing, {}};
  std::string contents;
  if (std::string problem = file.readAll(kFilterSizeLimit, contents); !problem.empty()) {
    return {Filter::broken, problem};
  }
  plist::DecodeProblem problem = plist::DecodeProblem::none;
  std::optional<NSDictionary::Entries> root = plist::decode(contents, &problem);
  if (!root && plist::isCorrupt(problem)) {
    return {Filter::broken, "is not a property list with a dictionary at its root"};
  }
  if (!root) return {Filter::broken, "is " + std::string(plist::describe(problem))};
  return namesBundle(*root, bundleIdentifier);
}

// The names of the entries in `folder` that end in `suffix`, sorted; none when
// the folder is missing. Entries of every kind are listed, so that a folder or
// a FIFO in place of a file is reported rather than passed over.
std::vector<std::string> namesEndingIn(const std::string& folder, std::string_view suffix) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (name.size() <= suffix.size() || !name.ends_with(suffix)) continue;
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
    FilterReading reading = readFilter(folder + filterName, bundleIdentifier);
    switch (reading.filter) {
      case Filter::missing:
        report.problems.push_back(problem + "no filter " + filterName);
        continue;
      case Filter::broken:
        report.problems.push_back(problem + "filter " + reading.problem);
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
    if (readFilter(folder + filterName, bundleIdentifier).filter == Filter::matches) {
      report.problems.push_back(library + ": not loaded: missing beside its filter " + filterName);
    }
  }
  return report;
}

}  // namespace host
