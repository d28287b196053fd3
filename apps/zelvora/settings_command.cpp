// zelvora settings: the settings editor of ZelvoraPro.
//
//   settings                  every stored key with its value and kind
//   settings get KEY          the value (exit 1, nothing printed, when absent)
//   settings set KEY VALUE    checks the value, stores it, tells running processes
//   settings unset KEY        removes the key, tells running processes
//
// Listing and get say on standard error, and exit 1, when the stored
// preferences are corrupt or cannot be read, rather than showing them as
// empty. A change that cannot be stored says why.
//
// A change is stored and then announced with the Darwin notification that the
// library listens for, so a running home screen uses it at its next lookup.
// A value that fails its check changes nothing. A home calling code that the
// country tables do not know is stored all the same, as a user may mean it,
// but listing and setting say so on standard error.
#include <iostream>

#include "commands.h"
#include "common/preferences_check.h"
#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "host/notify/darwin.h"
#include "lookup/preference_keys.h"
#include "settings_values.h"

namespace zelvora {
namespace {

int store(std::string_view key, const id& value) {
  if (std::string problem = apps::preferencesProblem(); !problem.empty()) return fail(1, problem);
  CFPreferencesSetAppValue(key, value, kPrefsDomain);
  if (!CFPreferencesAppSynchronize(kPrefsDomain)) return fail(1, apps::storeFailure());
  CFNotificationCenterPostNotification(CFNotificationCenterGetDarwinNotifyCenter(),
                                       NSString::fromUtf8(kSettingsChangedName), nullptr, nil,
                                       true);
  return 0;
}

// Empty when the stored preferences were read (or there are none); else why
// they cannot be shown.
std::string unreadableStore() {
  host::PreferencesFile file = host::preferencesFile(kPrefsDomain);
  const std::string path = host::preferencesPath(kPrefsDomain);
  switch (file.state) {
    case host::PreferencesFile::State::fine:
      return {};
    case host::PreferencesFile::State::corrupt:
      return "the preferences in " + path + " are corrupt (" + file.reason +
             "); the next change keeps them aside as " + path +
             ".corrupt (or .corrupt.1, .corrupt.2, ...: the first name not taken)";
    case host::PreferencesFile::State::unreadable:
      return "cannot read the preferences in " + path + ": " + file.reason;
  }
  return {};
}

int list() {
  CFPreferencesAppSynchronize(kPrefsDomain);
  if (std::string problem = unreadableStore(); !problem.empty()) return fail(1, problem);
  id keys = CFPreferencesCopyKeyList(kPrefsDomain);
  if (auto* names = objectAs<NSArray>(keys)) {
    for (const id& name : names->items()) {
      std::string key = toUtf8(objectAs<NSString>(name)->units());
      id value = CFPreferencesCopyAppValue(key, kPrefsDomain);
      std::cout << key << '\t' << describeValue(value) << '\t' << describeKind(value) << '\n';
    }
  }
  if (std::string note = unknownCallingCodeNote(); !note.empty()) std::cerr << note << '\n';
  return 0;
}

}  // namespace

int runSettings(const Arguments& arguments) {
  if (arguments.empty()) return list();
  const std::string& verb = arguments[0];
  if (verb == "get") {
    if (arguments.size() != 2) return fail(2, "usage: zelvora settings get KEY");
    CFPreferencesAppSynchronize(kPrefsDomain);
    if (std::string problem = unreadableStore(); !problem.empty()) return fail(1, problem);
    id value = CFPreferencesCopyAppValue(arguments[1], kPrefsDomain);
    if (!value) return 1;
    std::cout << describeValue(value) << '\n';
    return 0;
  }
  if (verb == "set") {
    if (arguments.size() != 3) return fail(2, "usage: zelvora settings set KEY VALUE");
    CheckedValue checked = checkSetting(arguments[1], arguments[2]);
    if (!checked.error.empty()) return fail(2, checked.error);
    const int status = store(arguments[1], checked.value);
    if (std::string note = unknownCallingCodeNote(); status == 0 && !note.empty())
      std::cerr << note << '\n';
    return status;
  }
  if (verb == "unset") {
    if (arguments.size() != 2) return fail(2, "usage: zelvora settings unset KEY");
    if (!knownSetting(arguments[1])) {
      return fail(2, "unknown setting \"" + arguments[1] +
                         "\" (the settings are countryCode, trunkPrefixx and recents)");
    }
    return store(arguments[1], nil);
  }
  return fail(2, "unknown settings command \"" + verb + "\" (get, set, unset)");
}

}  // namespace zelvora
