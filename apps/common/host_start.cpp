#include "common/host_start.h"

#include <iostream>

#include "common/preferences_check.h"
#include "host/loader/loader.h"

namespace apps {

int startHost(const char* program, const CommonOptions& options) {
  std::string error = options.error.empty() ? setUpDevice(options) : options.error;
  if (!error.empty()) {
    std::cerr << program << ": " << error << "\n";
    return 2;
  }
  if (std::string problem = preferencesProblem(); !problem.empty()) {
    std::cerr << program << ": " << problem << "; going on without storing settings\n";
  }
  return 0;
}

std::vector<std::string> loadHostExtensions(const char* program, const char* bundleIdentifier) {
  host::LoadReport report = host::loadExtensions(bundleIdentifier);
  for (const auto& problem : report.problems) std::cerr << program << ": " << problem << "\n";
  if (report.loaded.empty() && report.problems.empty()) {
    std::cerr << program << ": no extension is installed for " << bundleIdentifier
              << "; running without\n";
  }
  return report.loaded;
}

}  // namespace apps
