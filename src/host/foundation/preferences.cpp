#include "host/foundation/preferences.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/foundation/device.h"
#include "host/foundation/file_lock.h"
#include "host/foundation/file_move.h"
#include "host/foundation/file_version.h"
#include "host/foundation/files.h"
#include "host/foundation/folder_watch.h"
#include "host/foundation/preference_codec.h"
#include "host/foundation/values.h"

namespace {

constexpr std::string_view kPreferencesFolder = "/var/mobile/Library/Preferences/";

// A change this process made and has not stored yet.
struct Pending {
  id value;  // the new value; nil removes the key
  // When set, the change is stored only if the file still holds `expected`
  // for the key (nil: the key is absent).
  bool conditional = false;
  id expected;
};

// What the file of a domain held when it was last read.
struct DiskState {
  enum class Kind {
    missing,     // no file: an empty domain
    readable,    // a property list with a dictionary at its root
    corrupt,     // read whole, but no such property list: kept aside before it is replaced
    unreadable,  // there, but not read (see `reason`): never replaced or written over
  };
  Kind kind = Kind::missing;
  std::string reason;  // why it is corrupt or unreadable
  NSDictionary::Entries entries;
};

// A version of a preference file is read again next time unless its times
// were safely older than the moment it was read (see file_version.h).
using host::FileVersion;

// One process's view of one domain.
struct View {
  NSDictionary::Entries values;
  // The file as last read, reused while its version is unchanged and trusted
  // (host::trustedUntil; 0: read again next time).
  DiskState lastDisk;
  FileVersion lastVersion;
  int64_t trustedUntil = 0;
  // Whether `values` are exactly what `lastDisk` holds: nothing was set since
  // and the last synchronisation wrote nothing.
  bool valuesAsRead = false;
  // Changes whenever the values may have changed (see preferencesGeneration).
  uint64_t generation = 0;
  // Changes since the last synchronisation, by key.
  std::map<std::string, Pending> pending;
  DiskState::Kind fileKind = DiskState::Kind::missing;
  std::string fileReason;  // why the file is corrupt or unreadable
  std::string storeError;  // why the last synchronisation failed; empty when it did not
  host::WatchedPaths watched;
};

// Views by file path, so that a change of device root starts afresh.
std::map<std::string, View>& views() {
  static std::map<std::string, View> all;
  return all;
}

bool usableDomain(std::string_view domain) {
  return !domain.empty() && domain != "." && domain != ".." &&
         domain.find('/') == std::string_view::npos && domain.find('\0') == std::string_view::npos;
}

// The last domain asked for, with its file's path under the device root of
// that moment and, once found, its view. A lookup asks for one domain several
// times in a row; forming the path and searching the views each time would
// cost more than the stat that checks the file.
struct LastDomain {
  bool valid = false;
  std::string domain;
  std::string root;
  std::string path;      // empty when the domain names no file
  View* view = nullptr;  // views() keeps its nodes until resetPreferenceViews
};

LastDomain& lastDomain() {
  static LastDomain last;
  return last;
}

// The file of `domain` (the empty text when it names none), formed again only
// when the domain or the device root changed. The reference stays valid until
// another domain or root is asked for.
const std::string& pathOf(std::string_view domain) {
  LastDomain& last = lastDomain();
  if (last.valid && last.domain == domain && last.root == host::deviceRoot()) return last.path;
  last.valid = false;
  last.view = nullptr;
  last.domain.assign(domain);
  last.root = host::deviceRoot();
  last.path.clear();
  if (usableDomain(domain)) {
    std::string devicePathOfFile(kPreferencesFolder);
    devicePathOfFile += domain;
    devicePathOfFile += ".plist";
    last.path = host::devicePath(devicePathOfFile);
  }
  last.valid = true;
  return last.path;
}

// The view kept for `path` when it is the last domain's, else nullptr.
View* lastView(const std::string& path) {
  const LastDomain& last = lastDomain();
  // Callers mostly pass the kept path itself, which needs no comparing.
  return last.valid && last.view && (&path == &last.path || last.path == path) ? last.view
                                                                               : nullptr;
}

// Remembers `view` as the last domain's when `path` is its file.
View& rememberView(const std::string& path, View& view) {
  LastDomain& last = lastDomain();
  if (last.valid && last.path == path) last.view = &view;
  return view;
}

// Reads the file without ever blocking on it (a FIFO is unreadable, not a
// wait) and without reading more than a property list may hold; `seen` is
// its stat taken just before.
DiskState readDisk(const std::string& path, const FileVersion& seen) {
  DiskState state;
  std::string bytes;
  host::FileProblem problem;
  if (!host::readWholeFile(path, bytes, host::preferenceCodec().maxBytes(), &problem, &seen)) {
    if (problem.missing()) return state;
    state.kind = DiskState::Kind::unreadable;
    state.reason = problem.describe();
    return state;
  }
  host::DecodeProblem decodeProblem;
  if (auto entries = host::preferenceCodec().decode(bytes, &decodeProblem)) {
    state.kind = DiskState::Kind::readable;
    state.entries = std::move(*entries);
  } else {
    state.kind =
        host::isCorrupt(decodeProblem) ? DiskState::Kind::corrupt : DiskState::Kind::unreadable;
    state.reason = host::describe(decodeProblem);
  }
  return state;
}

// Gives the view a generation no view has had before.
void touch(View& view) {
  static uint64_t lastGeneration = 0;
  view.generation = ++lastGeneration;
}

// Whether the file, whose version is now `version`, is provably the version
// `view` read last time.
bool unchangedSinceRead(const View& view, const FileVersion& version) {
  return version == view.lastVersion && host::stillTrusted(view.trustedUntil);
}

// The file as it is now, `before` being its version taken just now: what `view`
// read last time when the file is provably the same version, else read afresh
// (and remembered for next time).
DiskState currentDisk(const std::string& path, View& view, const FileVersion& before) {
  if (unchangedSinceRead(view, before)) return view.lastDisk;
  const int64_t readAt = host::fileClockNow();
  touch(view);
  DiskState disk = readDisk(path, before);
  const FileVersion after = host::statFileVersion(path);
  view.lastDisk = disk;
  view.lastVersion = after;
  view.trustedUntil = before == after ? host::trustedUntil(after, readAt) : 0;
  return disk;
}

void noteDisk(View& view, const DiskState& disk) {
  view.fileKind = disk.kind;
  view.fileReason = disk.reason;
}

// The view of the domain whose file is `path`, read from the file on first use.
View& viewFor(const std::string& path) {
  if (View* known = lastView(path)) return *known;
  auto found = views().find(path);
  if (found != views().end()) return rememberView(path, found->second);
  View& view = views()[path];
  DiskState disk = currentDisk(path, view, host::statFileVersion(path));
  noteDisk(view, disk);
  view.values = std::move(disk.entries);
  view.valuesAsRead = true;
  return rememberView(path, view);
}

// A few words for a failed system call, in the words of host::FileProblem.
std::string reasonOf(int error) {
  return host::FileProblem{error == EACCES || error == EPERM
                               ? host::FileProblem::Kind::permissionDenied
                               : host::FileProblem::Kind::ioError,
                           error}
      .describe();
}

bool writeAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<size_t>(wrote);
  }
  return true;
}

// Whether written files are flushed to the disk; see setPreferencesFsync.
bool flushWrites = true;
// What flushes them; see setPreferencesFlushCall.
host::FlushCall flushCall = ::fsync;
// Whether derived changes wait for the lock; see setPreferencesDerivedWait.
bool derivedWait = false;
// How long changes wait for the lock; see setPreferencesLockWait.
host::LockWait& lockWait() {
  static host::LockWait wait{10 * host::kFileClockSecond, host::kFileClockSecond, nullptr};
  return wait;
}

void syncFolder(const std::string& path) {
  if (!flushWrites) return;
  std::string folder = std::filesystem::path(path).parent_path().string();
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  flushCall(fd);
  ::close(fd);
}

// Moves the corrupt file at `path` to the first of "<file>.corrupt",
// "<file>.corrupt.1", "<file>.corrupt.2", ... not yet taken, so a file kept
// aside earlier is never replaced. Gives why it failed, or the empty text (a
// file gone meanwhile needs no keeping).
std::string keepCorruptAside(const std::string& path) {
  constexpr int kMostKeptAside = 1000;
  for (int n = 0; n < kMostKeptAside; ++n) {
    const std::string aside = path + ".corrupt" + (n ? "." + std::to_string(n) : "");
    const int error = host::moveWithoutReplacing(path, aside);
    if (error == 0 || error == ENOENT) return {};
    if (error != EEXIST) {
      return "cannot keep the corrupt file aside as " + aside + ": " + reasonOf(error);
    }
  }
  return "cannot keep the corrupt file aside: " + path + ".corrupt and " +
         std::to_string(kMostKeptAside - 1) + " numbered ones are taken";
}

// Replaces the file at `path` with `bytes` so that a reader sees either the old
// file or the new one, never a part. Called with the domain's lock held, which
// makes the one temporary name "<file>.tmp" safe; one left by a writer that was
// killed is simply replaced. A corrupt file is first kept aside
// (keepCorruptAside). Gives why it failed, or the empty text.
std::string replaceFile(const std::string& path, const std::string& bytes, bool keepAside) {
  std::string temporary = path + ".tmp";
  auto failed = [&](const std::string& what) {
    std::string reason = what + ": " + reasonOf(errno);
    ::unlink(temporary.c_str());
    return reason;
  };
  ::unlink(temporary.c_str());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return failed("cannot create " + temporary);
  bool written = writeAll(fd, bytes) && (!flushWrites || flushCall(fd) == 0);
  int writeError = errno;
  written = (::close(fd) == 0) && written;
  if (!written) {
    errno = writeError ? writeError : errno;
    return failed("cannot write " + temporary);
  }
  if (keepAside) {
    if (std::string problem = keepCorruptAside(path); !problem.empty()) {
      ::unlink(temporary.c_str());
      return problem;
    }
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    return failed("cannot replace " + path);
  }
  syncFolder(path);
  return {};
}

// This process's pending changes on top of what `disk` holds, each in the form
// the file gives back. `changed` tells whether any of them changes the file.
NSDictionary::Entries merge(const DiskState& disk, const View& view, bool& changed) {
  NSDictionary::Entries merged = disk.entries;
  changed = false;
  for (const auto& [key, change] : view.pending) {
    if (key.find('\0') != std::string::npos) continue;  // a file cannot hold this key
    auto found = merged.find(key);
    if (change.conditional) {
      // Stored only over the value it was derived from: a newer value set by
      // another process meanwhile wins.
      const id current = found == merged.end() ? nil : found->second;
      const id expected = host::preferenceCodec().storedForm(change.expected);
      if (!(current ? expected && valuesEqual(current, expected) : !expected)) continue;
    }
    id stored = host::preferenceCodec().storedForm(change.value);
    if (!stored) {
      if (found != merged.end()) {
        merged.erase(found);
        changed = true;
      }
    } else if (found == merged.end() || !valuesEqual(found->second, stored)) {
      merged[key] = std::move(stored);
      changed = true;
    }
  }
  return merged;
}

// A file that is there but cannot be read is never replaced or written over.
// The view is an empty domain with this process's changes on top, which stay
// pending; storing them fails, with the reason, for as long as the file stays
// unreadable.
bool keepUnreadable(View& view, const DiskState& disk) {
  noteDisk(view, disk);
  view.values.clear();
  for (const auto& [key, change] : view.pending) {
    if (change.value) view.values[key] = change.value;
  }
  if (view.pending.empty()) {
    view.valuesAsRead = true;
    return true;
  }
  view.storeError = disk.reason;
  return false;
}

// Stores the pending changes of the view of `path` and re-reads the file; on
// failure the reason is left in the view's storeError.
bool synchronize(const std::string& path) {
  // No need to read the file for the view first: it is read below.
  View* known = lastView(path);
  View& view = known ? *known : rememberView(path, views()[path]);
  view.storeError.clear();

  // Nothing to store and the file provably the version read last time: the
  // view already holds what the file holds, and one stat was all the work.
  // The process's folder watch spares even that while it reports nothing
  // changed at the file's path since a stat last found it unchanged. This is
  // what a lookup meets while nothing changed.
  const uint64_t generation = host::processFolderWatch().check();
  const bool asRead = view.pending.empty() && view.valuesAsRead;
  if (asRead && view.watched.unchanged(generation)) return true;
  const FileVersion version = host::statFileVersion(path);
  if (asRead && unchangedSinceRead(view, version)) {
    view.watched.confirm(generation, path);
    return true;
  }
  view.watched.forget();
  view.valuesAsRead = false;

  // A first look without the lock (files are only ever replaced whole): when
  // nothing would change, there is nothing to lock, create or write.
  DiskState disk = currentDisk(path, view, version);
  if (disk.kind == DiskState::Kind::unreadable) return keepUnreadable(view, disk);
  bool changed = false;
  NSDictionary::Entries merged = merge(disk, view, changed);
  if (changed) {
    // Values derived from others (all that a lookup stores) are stored only
    // when the lock is free: a process that holds it and never lets go, one
    // stopped while writing say, must not hang the host. They stay pending
    // and are tried again at the next synchronisation. Settings someone set
    // wait for the lock, for a while, so that none is lost to a busy moment.
    const bool onlyDerived =
        std::all_of(view.pending.begin(), view.pending.end(),
                    [](const auto& change) { return change.second.conditional; });
    host::FileLock lock(path + ".lock",
                        derivedWait || !onlyDerived ? lockWait() : host::LockWait{});
    if (!lock.held()) {
      // What the file holds now is taken in all the same, this process's
      // changes still on top, so a change another process made shows at once.
      noteDisk(view, disk);
      view.values = std::move(merged);
      view.storeError = lock.error();
      return false;
    }
    view.trustedUntil = 0;  // read afresh under the lock
    disk = currentDisk(path, view, host::statFileVersion(path));
    merged = merge(disk, view, changed);
    if (changed) {
      if (disk.kind == DiskState::Kind::unreadable) return keepUnreadable(view, disk);
      std::string bytes = host::preferenceCodec().encode(merged);
      std::string error = replaceFile(path, bytes, disk.kind == DiskState::Kind::corrupt);
      if (!error.empty()) {
        noteDisk(view, disk);
        view.storeError = error;
        return false;
      }
      // The view is what the file now holds.
      if (auto written = host::preferenceCodec().decode(bytes)) merged = std::move(*written);
      disk = DiskState{DiskState::Kind::readable, {}, {}};
      view.trustedUntil = 0;  // this version is read once more next time
    }
  }
  noteDisk(view, disk);
  view.values = std::move(merged);
  view.pending.clear();
  // Without a write the merge changed nothing: the values are the file's.
  view.valuesAsRead = !changed;
  return true;
}

}  // namespace

bool CFPreferencesAppSynchronize(std::string_view domain) {
  const std::string* path = nullptr;
  try {
    path = &pathOf(domain);
    if (path->empty()) return false;
    return synchronize(*path);
  } catch (...) {
    auto found = path ? views().find(*path) : views().end();
    if (found != views().end()) {
      found->second.storeError = "out of memory";
    }
    return false;
  }
}

id CFPreferencesCopyAppValue(std::string_view key, std::string_view domain) {
  try {
    const std::string& path = pathOf(domain);
    if (path.empty()) return nil;
    const View& view = viewFor(path);
    auto found = view.values.find(std::string(key));
    return found == view.values.end() ? nil : found->second;
  } catch (...) {
    return nil;
  }
}

id CFPreferencesCopyKeyList(std::string_view domain) {
  try {
    const std::string& path = pathOf(domain);
    if (path.empty()) return nil;
    const View& view = viewFor(path);
    if (view.values.empty()) return nil;
    std::vector<id> keys;
    keys.reserve(view.values.size());
    for (const auto& entry : view.values) keys.push_back(NSString::fromUtf8(entry.first));
    return NSArray::make(std::move(keys));
  } catch (...) {
    return nil;
  }
}

namespace {

// Sets `key` in this process's view and records the change for the next
// synchronisation; `conditional` changes are stored only while the file still
// holds `expected`.
void setPending(std::string_view key, const id& value, bool conditional, const id& expected,
                std::string_view domain) {
  try {
    const std::string& path = pathOf(domain);
    if (path.empty()) return;
    View& view = viewFor(path);
    std::string name(key);
    if (value) {
      view.values[name] = value;
    } else {
      view.values.erase(name);
    }
    view.valuesAsRead = false;
    view.pending[name] = Pending{value, conditional, expected};
    touch(view);
  } catch (...) {
  }
}

}  // namespace

void CFPreferencesSetAppValue(std::string_view key, const id& value, std::string_view domain) {
  setPending(key, value, false, nil, domain);
}

namespace host {

std::string preferencesPath(std::string_view domain) {
  try {
    return pathOf(domain);
  } catch (...) {
    return {};
  }
}

void setAppValueIfStill(std::string_view key, const id& value, const id& expected,
                        std::string_view domain) {
  setPending(key, value, true, expected, domain);
}

PreferencesFile preferencesFile(std::string_view domain) {
  try {
    const std::string& path = pathOf(domain);
    if (path.empty()) return {PreferencesFile::State::unreadable, "no such domain"};
    const View& view = viewFor(path);
    switch (view.fileKind) {
      case DiskState::Kind::missing:
      case DiskState::Kind::readable:
        return {};
      case DiskState::Kind::corrupt:
        return {PreferencesFile::State::corrupt, view.fileReason};
      case DiskState::Kind::unreadable:
        return {PreferencesFile::State::unreadable, view.fileReason};
    }
    return {};
  } catch (...) {
    return {PreferencesFile::State::unreadable, "out of memory"};
  }
}

uint64_t preferencesGeneration(std::string_view domain) {
  try {
    const std::string& path = pathOf(domain);
    return path.empty() ? 0 : viewFor(path).generation;
  } catch (...) {
    return 0;
  }
}

std::string preferencesStoreError(std::string_view domain) {
  try {
    const std::string& path = pathOf(domain);
    if (path.empty()) return "no such domain";
    auto found = views().find(path);
    return found == views().end() ? std::string() : found->second.storeError;
  } catch (...) {
    return "out of memory";
  }
}

void resetPreferenceViews() {
  lastDomain().view = nullptr;
  views().clear();
}

void setPreferencesFsync(bool enabled) {
  flushWrites = enabled;
}

FlushCall setPreferencesFlushCall(FlushCall call) {
  return std::exchange(flushCall, call ? call : ::fsync);
}

void setPreferencesDerivedWait(bool enabled) {
  derivedWait = enabled;
}

void setPreferencesLockWait(LockWait wait) {
  lockWait() = std::move(wait);
}

}  // namespace host
