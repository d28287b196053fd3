#include "host/foundation/preferences.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/foundation/device.h"
#include "host/foundation/files.h"
#include "host/foundation/plist_codec.h"
#include "host/foundation/values.h"

namespace {

constexpr std::string_view kPreferencesFolder = "/var/mobile/Library/Preferences/";

// One process's view of one domain.
struct View {
  NSDictionary::Entries values;
  // Changes since the last synchronisation: key -> new value, nil to remove.
  std::map<std::string, id> pending;
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

// What the file of a domain holds.
struct DiskState {
  enum class Kind {
    missing,     // no file: an empty domain
    readable,    // a property list with a dictionary at its root
    unreadable,  // a file that is not one: an empty domain, kept aside before it is replaced
    blocked,     // something that is not a regular file, or cannot be examined: never replaced
  };
  Kind kind = Kind::missing;
  NSDictionary::Entries entries;
};

DiskState readDisk(const std::string& path) {
  DiskState state;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) {
    state.kind =
        (errno == ENOENT || errno == ENOTDIR) ? DiskState::Kind::missing : DiskState::Kind::blocked;
    return state;
  }
  if (!S_ISREG(info.st_mode)) {
    state.kind = DiskState::Kind::blocked;
    return state;
  }
  std::string bytes;
  if (!host::readWholeFile(path, bytes)) {
    // It may have been replaced between the two looks; look again once.
    if (::stat(path.c_str(), &info) != 0 && errno == ENOENT) return state;
    state.kind = DiskState::Kind::unreadable;
    return state;
  }
  if (auto entries = host::plist::decode(bytes)) {
    state.kind = DiskState::Kind::readable;
    state.entries = std::move(*entries);
  } else {
    state.kind = DiskState::Kind::unreadable;
  }
  return state;
}

// The view of the domain whose file is `path`, read from the file on first use.
View& viewFor(const std::string& path) {
  auto found = views().find(path);
  if (found != views().end()) return found->second;
  View view;
  view.values = readDisk(path).entries;
  return views().emplace(path, std::move(view)).first->second;
}

// An exclusive lock on "<file>.lock", held while the object lives. Folders are
// made as needed. `held` is false when the lock file could not be opened or
// locked.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    std::string lockPath = path + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    // An existing lock file in a folder this process may not write still locks.
    if (fd_ < 0) fd_ = ::open(lockPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return;
    int result;
    do {
      result = ::flock(fd_, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    held_ = result == 0;
  }
  ~FileLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  bool held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

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

void syncFolder(const std::string& path) {
  if (!flushWrites) return;
  std::string folder = std::filesystem::path(path).parent_path().string();
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// Replaces the file at `path` with `bytes` so that a reader sees either the old
// file or the new one, never a part. Called with the domain's lock held, which
// makes the one temporary name "<file>.tmp" safe; one left by a writer that was
// killed is simply replaced. An unreadable file is first renamed to
// "<file>.corrupt".
bool replaceFile(const std::string& path, const std::string& bytes, bool keepAside) {
  std::string temporary = path + ".tmp";
  ::unlink(temporary.c_str());
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool written = writeAll(fd, bytes) && (!flushWrites || ::fsync(fd) == 0);
  written = (::close(fd) == 0) && written;
  if (!written) {
    ::unlink(temporary.c_str());
    return false;
  }
  if (keepAside && ::rename(path.c_str(), (path + ".corrupt").c_str()) != 0 && errno != ENOENT) {
    ::unlink(temporary.c_str());
    return false;
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  syncFolder(path);
  return true;
}

// This process's pending changes on top of what `disk` holds, each in the form
// the file gives back. `changed` tells whether any of them changes the file.
NSDictionary::Entries merge(const DiskState& disk, const View& view, bool& changed) {
  NSDictionary::Entries merged = disk.entries;
  changed = false;
  for (const auto& [key, value] : view.pending) {
    if (key.find('\0') != std::string::npos) continue;  // a file cannot hold this key
    id stored = host::plist::storedForm(value);
    auto found = merged.find(key);
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

bool synchronize(const std::string& path) {
  // No need to read the file for the view first: it is read below.
  View& view = views()[path];

  // A first look without the lock (files are only ever replaced whole): when
  // nothing would change, there is nothing to lock, create or write.
  bool changed = false;
  NSDictionary::Entries merged = merge(readDisk(path), view, changed);
  if (changed) {
    FileLock lock(path);
    if (!lock.held()) return false;
    DiskState disk = readDisk(path);
    merged = merge(disk, view, changed);
    if (changed) {
      if (disk.kind == DiskState::Kind::blocked) return false;
      std::string bytes = host::plist::encodeXml(merged);
      if (!replaceFile(path, bytes, disk.kind == DiskState::Kind::unreadable)) return false;
      // The view is what the file now holds.
      if (auto written = host::plist::decode(bytes)) merged = std::move(*written);
    }
  }
  view.values = std::move(merged);
  view.pending.clear();
  return true;
}

}  // namespace

bool CFPreferencesAppSynchronize(std::string_view domain) {
  try {
    std::string path = host::preferencesPath(domain);
    if (path.empty()) return false;
    return synchronize(path);
  } catch (...) {
    return false;
  }
}

id CFPreferencesCopyAppValue(std::string_view key, std::string_view domain) {
  try {
    std::string path = host::preferencesPath(domain);
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
    std::string path = host::preferencesPath(domain);
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

void CFPreferencesSetAppValue(std::string_view key, const id& value, std::string_view domain) {
  try {
    std::string path = host::preferencesPath(domain);
    if (path.empty()) return;
    View& view = viewFor(path);
    std::string name(key);
    if (value) {
      view.values[name] = value;
    } else {
      view.values.erase(name);
    }
    view.pending[name] = value;
  } catch (...) {
  }
}

namespace host {

std::string preferencesPath(std::string_view domain) {
  try {
    if (!usableDomain(domain)) return {};
    std::string devicePathOfFile(kPreferencesFolder);
    devicePathOfFile += domain;
    devicePathOfFile += ".plist";
    return devicePath(devicePathOfFile);
  } catch (...) {
    return {};
  }
}

void resetPreferenceViews() {
  views().clear();
}

void setPreferencesFsync(bool enabled) {
  flushWrites = enabled;
}

}  // namespace host
