// Property-list files: platform values (values.h) to and from the bytes of a
// property-list file, using libplist.
//
// What a file holds, and so what survives a trip through one:
//   NSString            <string>, as UTF-8. A text is cut at its first U+0000
//                       (the library keeps C strings); lone surrogates become
//                       U+FFFD, as toUtf8 writes them.
//   NSNumber integer    <integer>, any int64_t (negative ones included).
//   NSNumber real       <real>, to the last bit; NaN and the infinities too
//                       (-0.0 comes back as 0.0).
//   NSNumber boolean    <true/> or <false/>; kept apart from the integers.
//   NSArray             <array>.
//   NSDictionary        <dict>.
//   NSData              <data>.
//   NSDate              <date>. The XML form holds whole seconds (truncated
//                       toward zero), and libplist 2.2 holds dates from
//                       1932-12-13 to 2069-01-19 (seconds since 2001 that fit
//                       in 32 bits); earlier or later dates are clamped to
//                       those bounds.
// What a file cannot hold is left out: the null marker, runtime objects, a
// date that is NaN, dictionary keys containing U+0000, and containers nested
// more than kMaxDepth deep (the root dictionary being level 1). Left out means: a dictionary entry
// is omitted, an array item is omitted, and a top-level value is absent.
//
// Reading takes XML or binary property lists of at most kMaxBytes bytes,
// nested at most kMaxDepth levels deep. Both are checked on the raw bytes
// before libplist sees them (plist_depth.h), so no input can exhaust the stack
// or memory of a reader. Real preference and filter files are 2 or 3 levels
// deep and a few hundred bytes long.
// libplist 2.2 has one unsigned
// integer type; an <integer> is read as the int64_t of the same bits, so the
// values written here (and every integer in int64_t's range) come back as they
// were, while an integer above 2^63-1 in a foreign file reads as a negative
// number. Binary-only kinds (UIDs) are left out.
//
// Nothing here raises but std::bad_alloc.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "host/foundation/object.h"
#include "host/foundation/preference_codec.h"
#include "host/foundation/values.h"

namespace host::plist {

// Deeper nesting of arrays and dictionaries than this is not stored, and a file
// holding deeper nesting does not read.
inline constexpr int kMaxDepth = 32;

// A larger file does not read (the platform warns at this size too).
inline constexpr size_t kMaxBytes = size_t{4} << 20;  // 4 MiB

// A binary file whose references, each read as a copy, would give more values
// than this does not read (XML files are held to fewer by kMaxBytes).
inline constexpr size_t kMaxValues = size_t{1} << 19;  // 524,288

// Why bytes did not decode, a few words for it, and whether the file was read
// whole but is no property list (preference_codec.h).
using DecodeProblem = host::DecodeProblem;
using host::describe;
using host::isCorrupt;

// The XML property-list file whose root dictionary holds `entries`.
std::string encodeXml(const NSDictionary::Entries& entries);

// The entries of the root dictionary of an XML or binary property-list file;
// none when `bytes` is over the limits, is not a readable property list, or
// its root is not a dictionary. `problem`, when given, is set to why (to none
// on success). Any bytes at all may be given.
std::optional<NSDictionary::Entries> decode(std::string_view bytes,
                                            DecodeProblem* problem = nullptr);

// What a reader of a file written with `value` gets back (see above): the
// value itself for most values, a changed one where the file cannot hold it as
// is, and nil where it cannot hold it at all.
id storedForm(const id& value);

}  // namespace host::plist
