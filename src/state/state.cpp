#include "state/state.h"

id phoneNumber;
id area;
id label;
uint8_t callInProgress = 0;
id callingCodePrefs;
id trunkPrefixPrefs;
int32_t recentsToShow = 0;
uint8_t internationalFormat = 0;

void (*orig_applicationDidFinishLaunching)(id, SEL, id) = nullptr;
void (*orig_viewDidAppear)(id, SEL, BOOL) = nullptr;
void (*orig_willDisplayCell)(id, SEL, id, id, id) = nullptr;
id (*orig_stackedAlerts)(id, SEL, BOOL) = nullptr;
