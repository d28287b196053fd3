// The file format of the preference store (preferences.h), apart from the
// store itself: how a domain's values become the bytes of its file and back.
//
// The store asks preferenceCodec() for the format and knows nothing else of
// it. Exactly one codec is linked into a program, and it defines
// preferenceCodec(): every product program links the property-list codec
// (plist_preference_codec.cpp, which needs libplist). The cross-built tests,
// for targets without libplist, link a test double of their own instead.
//
// A codec is a constant object that lives until exit. Its functions are
// pure, thread-safe, and raise nothing but std::bad_alloc.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "host/foundation/object.h"
#include "host/foundation/values.h"

namespace host {

// Why the bytes of a file did not decode.
enum class DecodeProblem {
  none,
  tooLarge,         // over the codec's size limit, or over its count of values
  tooDeep,          // nested deeper than the codec holds (or a cycle)
  notPropertyList,  // not a readable file of the format
  notDictionary,    // a readable file whose root is not a dictionary
};

// A few words for a message: "too large", "nested too deeply", ...; "" for none.
std::string_view describe(DecodeProblem problem);

// Whether a file that failed for `problem` was read whole and found to be no
// file of the format with a dictionary root (as opposed to refused by a limit).
inline bool isCorrupt(DecodeProblem problem) {
  return problem == DecodeProblem::notPropertyList || problem == DecodeProblem::notDictionary;
}

class PreferenceCodec {
 public:
  virtual ~PreferenceCodec() = default;

  // A larger file is not read at all: it is unreadable.
  virtual size_t maxBytes() const = 0;

  // The file whose root dictionary holds `entries`; what the format cannot
  // hold is left out (see storedForm).
  virtual std::string encode(const NSDictionary::Entries& entries) const = 0;

  // The entries of the root dictionary of a file; none when `bytes` is over
  // the codec's limits, is no file of the format, or its root is not a
  // dictionary. `problem`, when given, is set to why (to none on success).
  // Any bytes at all may be given.
  virtual std::optional<NSDictionary::Entries> decode(std::string_view bytes,
                                                      DecodeProblem* problem = nullptr) const = 0;

  // What a reader of a file written with `value` gets back: the value itself,
  // a changed one where the format cannot hold it as is, or nil where it
  // cannot hold it at all.
  virtual id storedForm(const id& value) const = 0;
};

// The codec linked into this program.
const PreferenceCodec& preferenceCodec();

}  // namespace host
