// The preference store: one property-list file per application domain, kept as
// the phone platform keeps them, at
//   <device root>/var/mobile/Library/Preferences/<domain>.plist
// A domain that is empty, "." or "..", or holds "/" or U+0000 names no file:
// it reads nothing, takes no values, and never synchronises. So does every
// domain while no device root is set.
//
// Each process has its own view of a domain: the values read from the file the
// last time it synchronised, plus the changes it made since. The view is loaded
// from the file on first use.
//
// CFPreferencesAppSynchronize(domain) stores this process's pending changes and
// picks up what other processes stored since. The file is parsed again only
// when it may have changed: one stat() compares device, inode, size and the
// modification and change times (ns) with those of the version last read,
// and a version whose change time was not safely older than the moment it
// was read (file times come from a coarse clock) counts as possibly changed
// (one whose change time lies ahead of the clock, for a second at a time;
// file_version.h). So every
// change, even a same-size rewrite in place within one clock tick, is seen at
// the next synchronisation, and an unchanged file with nothing pending costs
// one stat and nothing else (the domain's path and view are kept from the
// previous call while the domain and device root stay the same). Once that
// stat has found the file unchanged, not even the stat is taken while the
// process's folder watch (folder_watch.h) reports nothing changed at its path,
// for at most a second at a time. Under an exclusive lock on "<file>.lock"
// (file_lock.h; folders are made as needed) it re-reads the file, applies the
// pending changes key by key on top of what is there (so keys set by other
// processes survive), writes the result atomically (temporary file
// "<file>.tmp", fsync, rename) only when it differs from the file, and makes
// the result, as the file holds it, this process's view. When no pending change
// would change the file, it only re-reads the file: nothing is locked, created
// or written. It returns false, keeping the pending changes for a later try,
// when the file cannot be read or written or the lock file cannot be opened,
// when another process holds the lock longer than setPreferencesLockWait
// allows (10 s unless set), or at once when every pending change is a derived
// one (setAppValueIfStill) and another process holds the lock: those do not
// wait for it unless setPreferencesDerivedWait says so, so a lock held for
// ever cannot hang a host. preferencesStoreError() then says why. Even then
// the view takes in what the file holds now, with the pending changes on
// top, so what another process stored is seen at the next lookup.
//
// The file format is the linked codec's (preference_codec.h): property lists,
// with the limits of plist_codec.h, in every product program.
// Files are read without blocking (files.h) and only when they are regular
// files of at most plist::kMaxBytes, nested at most plist::kMaxDepth deep.
// - A file that is there but cannot be read (permission denied, an I/O error,
//   too large, nested too deeply, a FIFO, a folder or anything else that is not
//   a regular file) is unreadable. It is never renamed, replaced or written
//   over: the view is an empty domain plus this process's own changes, and
//   every synchronisation with a change pending fails, with the reason.
// - A file read whole that is not a property list (XML or binary) with a
//   dictionary at its root is corrupt: it reads as an empty domain, and before
//   it is replaced it is moved to the first of "<file>.corrupt",
//   "<file>.corrupt.1", "<file>.corrupt.2", ... that is not taken, never over
//   one kept earlier, so nothing is silently destroyed.
// Files are written as XML.
//
// Values are platform values (values.h): texts, numbers (integer, real,
// boolean), arrays, dictionaries, data and dates are stored as such; the
// details of what a file holds are in plist_codec.h (dates, for one, keep whole
// seconds). The null marker can be set in a process's view, where every reader
// of that view sees it until the next synchronisation, but a property-list
// file has no null: it is stored as the key's absence, and the view after
// synchronising has no such key. The same holds for anything else a file
// cannot hold, and for keys containing U+0000.
//
// None of these functions raises. They are not thread-safe and are meant for
// the main thread; separate processes may use one domain at once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/foundation/file_lock.h"
#include "host/foundation/object.h"

// Stores pending changes and re-reads the domain; false when they could not be
// stored.
bool CFPreferencesAppSynchronize(std::string_view domain);

// The value of `key` in this process's view of `domain`, or nil when absent.
id CFPreferencesCopyAppValue(std::string_view key, std::string_view domain);

// The keys of this process's view of `domain`, as an NSArray of NSString in
// the byte order of their UTF-8 form, or nil when the view has none.
id CFPreferencesCopyKeyList(std::string_view domain);

// Sets `key` to `value` in this process's view; nil removes the key. The
// change reaches the file at the next CFPreferencesAppSynchronize.
void CFPreferencesSetAppValue(std::string_view key, const id& value, std::string_view domain);

namespace host {

// The file that holds `domain` under the current device root; the empty text
// when the domain names no file (see above).
std::string preferencesPath(std::string_view domain);

// Like CFPreferencesSetAppValue, for a value derived from what the view held
// for `key` (`expected`, nil for absent): at the next synchronisation the
// change is stored only when the file still holds `expected` for the key.
// When another process has stored a newer value meanwhile, that value wins
// and the change is dropped: nothing this process read is ever written back
// over a newer value.
void setAppValueIfStill(std::string_view key, const id& value, const id& expected,
                        std::string_view domain);

// What the domain's file held when it was last read (loading the view first
// when it has not been yet): fine (a property list, or no file at all),
// corrupt or unreadable, with the reason in a few words ("permission denied",
// "nested too deeply", "not a property list", ...).
struct PreferencesFile {
  enum class State { fine, corrupt, unreadable };
  State state = State::fine;
  std::string reason;
};
PreferencesFile preferencesFile(std::string_view domain);

// A number that stays the same for as long as this process's view of `domain`
// certainly holds the same values: it changes whenever the file is read again
// or a value is set, and a new view (another device root, say) never takes a
// number an earlier view had. For callers that keep what they derived from
// the preferences until they change. 0 for a domain that names no file.
uint64_t preferencesGeneration(std::string_view domain);

// Why the last CFPreferencesAppSynchronize of `domain` gave false, in a few
// words; the empty text when it gave true.
std::string preferencesStoreError(std::string_view domain);

// Forgets every domain's in-memory view and pending changes, as a fresh process
// would start. For tests that play several processes in one.
void resetPreferenceViews();

// Whether a synchronisation flushes what it writes to the disk (fsync of the
// file and of its folder) before it counts the file as stored: on by default.
// Off, a file is still replaced whole by rename, so other processes never see
// a part of it, but a power loss may lose it. Only for programs whose files are
// thrown away anyway, such as fuzzing in a tmpfs folder. Process-wide; takes
// effect at the next synchronisation.
void setPreferencesFsync(bool enabled);

// The call that flushes a written file, and then its folder, to the disk while
// setPreferencesFsync is on: fsync() unless set otherwise. It must act as
// fsync() does: 0, or -1 with errno set. For tests that watch what is flushed
// and when; nullptr puts fsync() back. Gives the call it replaces.
// Process-wide.
using FlushCall = int (*)(int fd);
FlushCall setPreferencesFlushCall(FlushCall call);

// Whether a synchronisation whose pending changes are all derived ones
// (setAppValueIfStill) waits for a lock another process holds, as other
// changes do. Off by default, so that a lock held for ever cannot hang a host
// process: the changes stay pending and the synchronisation gives false. A
// command-line program that must store what it derived turns it on for that
// synchronisation. Process-wide.
void setPreferencesDerivedWait(bool enabled);

// How long a synchronisation that waits for the lock waits, and what it says
// meanwhile (file_lock.h): 10 s, with nothing said, unless set. A program
// that a person waits for says after a second that it is waiting. A limit of
// 0 waits not at all. Process-wide.
void setPreferencesLockWait(LockWait wait);

}  // namespace host
