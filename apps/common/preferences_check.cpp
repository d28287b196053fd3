#include "common/preferences_check.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "host/foundation/messages.h"
#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
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
  host::PreferencesFile state = host::preferencesFile(kPrefsDomain);
  if (state.state == host::PreferencesFile::State::unreadable) {
    return "could not store the preferences in " + file.string() + ": " + state.reason;
  }
  return {};
}

std::string storeFailure() {
  std::string message = "could not store the preferences in " + host::preferencesPath(kPrefsDomain);
  std::string reason = host::preferencesStoreError(kPrefsDomain);
  return reason.empty() ? message : message + ": " + reason;
}

std::string homeCountryProblem() {
  id code = CFPreferencesCopyAppValue(kCountryCodeKey, kPrefsDomain);
  if (code && !ns::isNull(code) && (!objectAs<NSString>(code) || ns::length(code) != 0)) return {};
  return "no home country: countryCode is not set and the device region gives no calling code; "
         "give one with --region XX or with zelvora settings set countryCode CODE";
}

}  // namespace apps
