// Property-list decoding as the preference store and the filter files use it:
// arbitrary bytes, XML or binary, into host::plist::decode.
//
// Besides not crashing, hanging or exhausting memory, what decodes must hold
// what the store relies on:
//   - nesting no deeper than kMaxDepth;
//   - what the store writes of it (encodeXml) reads back, or the store would
//     move its own file aside as unreadable;
//   - a second trip through a file changes nothing, or every synchronisation
//     would find a change and write the file again;
//   - a trip adds no key.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "host/foundation/plist_codec.h"
#include "host/foundation/values.h"

namespace {

void check(bool holds, const char* what) {
  if (!holds) {
    fprintf(stderr, "broken: %s\n", what);
    std::abort();
  }
}

// The nesting of arrays and dictionaries in `value`: 0 for a scalar.
int depth(const id& value) {
  int deepest = 0;
  if (auto* array = objectAs<NSArray>(value)) {
    for (const id& item : array->items()) deepest = std::max(deepest, depth(item));
    return deepest + 1;
  }
  if (auto* dictionary = objectAs<NSDictionary>(value)) {
    for (const auto& entry : dictionary->entries())
      deepest = std::max(deepest, depth(entry.second));
    return deepest + 1;
  }
  return 0;
}

bool sameEntries(const NSDictionary::Entries& a, const NSDictionary::Entries& b) {
  return valuesEqual(NSDictionary::make(a), NSDictionary::make(b));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(bytes), size);
  std::optional<NSDictionary::Entries> read = host::plist::decode(input);
  if (!read) return 0;
  // The root dictionary is one level.
  check(depth(NSDictionary::make(*read)) <= host::plist::kMaxDepth, "nested beyond the limit");

  const std::string written = host::plist::encodeXml(*read);
  std::optional<NSDictionary::Entries> stored = host::plist::decode(written);
  check(stored.has_value(), "what was written does not read back");
  for (const auto& entry : *stored) check(read->count(entry.first) == 1, "a trip added a key");

  std::optional<NSDictionary::Entries> again = host::plist::decode(host::plist::encodeXml(*stored));
  check(again.has_value() && sameEntries(*stored, *again), "a second trip changed the values");
  return 0;
}
