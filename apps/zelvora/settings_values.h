// Showing and checking the values of the settings.
#pragma once

#include <string>
#include <string_view>

#include "host/foundation/object.h"

namespace zelvora {

// "text", "integer", "real", "boolean", "null", "array", "dictionary", "data"
// or "date".
std::string describeKind(const id& value);
// The value in one line: a text as it is, numbers in decimal, booleans as
// true/false, collections in brackets, data as its length, dates in UTC.
std::string describeValue(const id& value);

// Checks `text` for `key` and gives the value to store, or an error naming the
// problem: "countryCode" takes decimal digits without "+", "trunkPrefixx"
// digits or nothing, "recents" a whole number of 0 or more (stored as a number).
struct CheckedValue {
  id value;
  std::string error;
};
CheckedValue checkSetting(std::string_view key, std::string_view text);

// Whether `key` is one of the three settings.
bool knownSetting(std::string_view key);

// Empty unless the stored home calling code ("countryCode") is a text that is
// no calling code the country tables know, such as an old "77"; then a
// one-line note saying so and how to derive it again from the region. Such a
// value is kept as the user stored it: national numbers are looked up under
// it and find no area.
std::string unknownCallingCodeNote();

}  // namespace zelvora
