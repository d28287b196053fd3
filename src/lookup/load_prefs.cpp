#include "host/foundation/messages.h"
#include "host/foundation/preferences.h"
#include "lookup/lookup.h"
#include "lookup/preference_keys.h"
#include "state/guard.h"
#include "state/state.h"

void loadPrefs() {
  guarded([] {
    CFPreferencesAppSynchronize(kPrefsDomain);
    callingCodePrefs = CFPreferencesCopyAppValue(kCountryCodeKey, kPrefsDomain);
    trunkPrefixPrefs = CFPreferencesCopyAppValue(kTrunkPrefixKey, kPrefsDomain);
    // intValue raises for a value that is neither a number nor a text, so the
    // count is stored only once the conversion has succeeded.
    int32_t count = ns::intValue(CFPreferencesCopyAppValue(kRecentsKey, kPrefsDomain));
    recentsToShow = count;
  });
}
