#include "host/foundation/folder_watch.h"
#include "host/foundation/messages.h"
#include "host/foundation/values.h"
#include "lookup/area_file.h"
#include "lookup/home_country.h"
#include "lookup/lookup.h"
#include "lookup/lookup_trace.h"
#include "lookup/normalise.h"
#include "state/guard.h"
#include "state/state.h"

void initVals() {
  guarded([] {
    // The preference check and the area-code file check ask the folder watch
    // once between them.
    host::FolderWatch::Moment moment(host::processFolderWatch());
    LookupTrace* const trace = lookupTrace();
    if (trace) *trace = LookupTrace{};
    const HomeCountry& home = settleHomeCountry();
    if (trace) trace->home = home;

    // The lookup works on its own copy of the number: phoneNumber stays as the
    // caller stored it, so looking the same number up again gives the same
    // area.
    const id number = phoneNumber;
    if (!number || ns::isNull(number) || ns::length(number) == 0) return;
    // A number holding U+0000 was cut or garbled on its way (a C string ends
    // there): whatever it held, it has no area, however it came in.
    if (ns::units(number).find(u'\0') != std::u16string::npos) {
      if (trace) trace->stage = LookupTrace::Stage::refusedNul;
      return;
    }

    NumberParts parts = splitNumber(ns::units(number), trace ? trace->home : home);
    internationalFormat = parts.international ? 1 : 0;
    if (trace) {
      trace->parts = parts;
      trace->stage = parts.lookedUp() ? LookupTrace::Stage::lookedUp : LookupTrace::Stage::noLookup;
    }
    if (!parts.lookedUp()) return;

    std::optional<std::u16string> found =
        findArea(parts.callingCode, parts.nationalNumber, trace ? &trace->area : nullptr);
    if (trace) trace->found = found;
    if (found) area = NSString::make(std::move(*found));
  });
}
