// What one lookup did, for a tool that explains an answer.
//
// While a trace is set, every run of initVals fills it anew from its own
// steps: the home country it settled, how it read the number, and which file
// and key gave the area. Nothing is recorded while no trace is set, so a
// lookup then costs what it always costs. The trace belongs to the caller and
// must outlive its setting. Main thread only; nothing here throws.
#pragma once

#include <optional>
#include <string>

#include "lookup/area_cache.h"
#include "lookup/home_country.h"
#include "lookup/normalise.h"

struct LookupTrace {
  // How far the run went.
  enum class Stage {
    noNumber,    // phoneNumber was absent or empty: only the home country settled
    refusedNul,  // the number held U+0000, which no number holds
    noLookup,    // no calling code to look it up under (see parts)
    lookedUp,    // the area-code file of parts.callingCode was asked
  };
  Stage stage = Stage::noNumber;
  HomeCountry home;   // as settled; the spans point into the constant tables
  NumberParts parts;  // droppedPrefix points into `home` or the tables
  AreaLookupDetail area;
  std::optional<std::u16string> found;
};

// Makes initVals fill `trace` (none: stop recording).
void setLookupTrace(LookupTrace* trace);

// The trace set now, or none; initVals' own accessor.
LookupTrace* lookupTrace();
