// zelvora home: the home screen's launch-time lookup. Runs initVals with no
// number, which settles the home calling code and trunk prefix and stores what
// it derived, then prints them: calling code, a tab, trunk prefix. Without a
// home calling code it says so, and how to give one, and exits 1; a stored
// calling code that the country tables do not know is printed with a note on
// standard error.
#include <iostream>

#include "commands.h"
#include "common/preferences_check.h"
#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "lookup/lookup.h"
#include "lookup/preference_keys.h"
#include "settings_values.h"
#include "state/state.h"

namespace zelvora {

int runHome(const Arguments& arguments) {
  if (!arguments.empty()) return fail(2, "home takes no arguments");
  if (std::string problem = apps::preferencesProblem(); !problem.empty()) return fail(1, problem);
  phoneNumber = nil;
  initVals();
  // The lookup stores what it derived only when the lock is free; this
  // command is there to store it, so it waits for the lock as settings do.
  host::setPreferencesDerivedWait(true);
  const bool stored = CFPreferencesAppSynchronize(kPrefsDomain);
  host::setPreferencesDerivedWait(false);
  if (!stored) return fail(1, apps::storeFailure());
  if (std::string problem = apps::homeCountryProblem(); !problem.empty()) return fail(1, problem);
  std::string fields[2];
  const std::string_view keys[2] = {kCountryCodeKey, kTrunkPrefixKey};
  for (int i = 0; i < 2; ++i) {
    id value = CFPreferencesCopyAppValue(keys[i], kPrefsDomain);
    if (value && !objectAs<NSString>(value)) {
      return fail(1, std::string(keys[i]) + " holds " + describeKind(value) +
                         ", not a text; fix it with zelvora settings set or unset");
    }
    if (value) fields[i] = toUtf8(objectAs<NSString>(value)->units());
  }
  std::cout << fields[0] << '\t' << fields[1] << '\n';
  if (std::string note = unknownCallingCodeNote(); !note.empty()) std::cerr << note << '\n';
  return 0;
}

}  // namespace zelvora
