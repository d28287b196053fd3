// The platform's messages to values whose kind the caller does not know.
//
// Each function behaves like sending the message of the same name to `object`
// on the phone platform: a nil receiver answers nil, 0 or false and raises
// nothing; a receiver of a kind that does not understand the message raises
// NSException (NSInvalidArgumentException, "unrecognized selector"), as does a
// nil argument where the platform requires an object. Nothing else raises.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/foundation/object.h"
#include "host/foundation/values.h"

namespace ns {

// -[NSString length]: the number of UTF-16 code units.
uint64_t length(const id& object);

// -[NSString intValue] and -[NSNumber intValue]. A text gives the decimal
// integer at its start (leading blanks and a sign allowed, saturated at the
// 32-bit limits), 0 when it does not begin with one.
int32_t intValue(const id& object);

// -[NSDictionary objectForKey:], with the key as UTF-8 or as a text value. A
// key value that is not a text raises.
id objectForKey(const id& dictionary, std::string_view key);
id objectForKey(const id& dictionary, const id& key);

// -[NSString stringByAppendingString:]. A nil receiver gives nil; a nil or
// non-text argument raises.
id stringByAppendingString(const id& text, const id& suffix);

// -[NSObject isEqual:] against the null marker: true only for the NSNull
// instance itself.
bool isNull(const id& object);

// The code units of a text, raising as `length` does for another kind. A nil
// receiver gives the empty text.
const std::u16string& units(const id& object);

// Raises the platform's "unrecognized selector" exception for `selector` sent
// to `receiver`.
[[noreturn]] void raiseUnrecognized(const id& receiver, std::string_view selector);

}  // namespace ns
