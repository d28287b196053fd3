// The caller-location lookup's two entry points.
//
// Both take no arguments and return nothing: they work on the process-wide
// state (state/state.h). The number to look up is handed over in phoneNumber
// and the result comes back in area, which is written only on a match, so
// callers empty area when they are done with a number. Neither lets an
// NSException out: each drops a failure of its own work and returns.
// The preference file and the area-code file are checked for changes before
// every call and read again only when they changed (the store's own check,
// lookup/area_cache.h), so an edited setting or file takes effect at the next
// call while an unchanged one costs a stat.
// Main thread only.
#pragma once

// Re-reads the preferences domain into callingCodePrefs, trunkPrefixPrefs and
// recentsToShow. A "recents" value that is neither a number nor a text stops
// it there and leaves recentsToShow as it was.
void loadPrefs();

// Settles the home calling code and trunk prefix (writing what it derived
// back to the preferences), then, when phoneNumber holds a number, finds its
// area and puts it into area. A number holding U+0000 is refused: it finds no
// area. phoneNumber itself is left as the caller stored it.
void initVals();
