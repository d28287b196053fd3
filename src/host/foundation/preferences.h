// The preference store: one property-list file per application domain, kept as
// the phone platform keeps them, at
//   <device root>/var/mobile/Library/Preferences/<domain>.plist
//
// Each process has its own view of a domain: the values read from the file the
// last time it synchronised, plus the changes it made since. The view is loaded
// from the file on first use.
//
// CFPreferencesAppSynchronize(domain) stores this process's pending changes and
// picks up what other processes stored since. Under an exclusive lock on
// "<file>.lock" it re-reads the file, applies the pending changes key by key on
// top of what is there (so keys set by other processes survive), writes the
// result atomically (temporary file, fsync, rename) only when it differs from
// the file, and makes the result this process's view. It returns false, keeping
// the pending changes for a later try, when the file cannot be written.
//
// A file that is not a readable property list (XML or binary) reads as an empty
// domain. Before such a file is replaced it is renamed to "<file>.corrupt", so
// nothing unreadable is silently destroyed.
//
// Values are platform values (values.h): texts, numbers (integer, real,
// boolean), arrays, dictionaries, data and dates are stored as such. The null
// marker can be set in a process's view, where every reader sees it, but a
// property-list file has no null: it is stored as the key's absence.
//
// None of these functions raises. They are not thread-safe and are meant for
// the main thread.
#pragma once

#include <string>
#include <string_view>

#include "host/foundation/object.h"

// Stores pending changes and re-reads the domain; false when they could not be
// stored.
bool CFPreferencesAppSynchronize(std::string_view domain);

// The value of `key` in this process's view of `domain`, or nil when absent.
id CFPreferencesCopyAppValue(std::string_view key, std::string_view domain);

// Sets `key` to `value` in this process's view; nil removes the key. The
// change reaches the file at the next CFPreferencesAppSynchronize.
void CFPreferencesSetAppValue(std::string_view key, const id& value, std::string_view domain);

namespace host {

// The file that holds `domain` under the current device root.
std::string preferencesPath(std::string_view domain);

// Forgets every domain's in-memory view and pending changes, as a fresh process
// would start. For tests that play several processes in one.
void resetPreferenceViews();

}  // namespace host
