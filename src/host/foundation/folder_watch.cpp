#include "host/foundation/folder_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "host/foundation/file_version.h"

namespace host {
namespace {

// What shows in the watch of a folder above a covered file: entries created,
// removed or renamed, the folder itself moved or removed. Not its
// permissions: a folder's watch that reports those reports its entries'
// too, and setting that up walks every name the kernel has cached for the
// folder (milliseconds for a busy /tmp).
constexpr uint32_t kFolderMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                 IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_MASK_ADD;
// The folder above the one holding a covered file also reports permission
// changes: its own and its entries', the file's folder among them. Asked of
// the file's folder itself, they would make the kernel walk every name it
// has cached there, hundreds in a folder of area-code files, where the
// folder above holds a few.
constexpr uint32_t kFileFolderMask = kFolderMask | IN_ATTRIB;
// The file's own watch sees it written, truncated, given other permissions or
// times, whichever name it was reached by.
constexpr uint32_t kFileMask =
    IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_DONT_FOLLOW | IN_MASK_ADD;
// Reports after which a cover may no longer hold.
constexpr uint32_t kLayoutChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                    IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT |
                                    IN_Q_OVERFLOW;

// Local file systems, whose every change passes through this kernel and so
// is reported. Network and user-space file systems may change underneath.
bool reportsEveryChange(const std::string& path) {
  struct statfs info {};
  if (::statfs(path.c_str(), &info) != 0) return false;
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0xEF53:      // ext2, ext3, ext4
    case 0x58465342:  // xfs
    case 0x9123683E:  // btrfs
    case 0xF2F52010:  // f2fs
    case 0x01021994:  // tmpfs
    case 0x858458F6:  // ramfs
    case 0x794C7630:  // overlayfs
      return true;
    default:
      return false;
  }
}

}  // namespace

FolderWatch* FolderWatch::live_ = nullptr;

// What identifies `fd` now: a host that closed one of the watch's
// descriptors may have opened something else under its number.
FolderWatch::Descriptor FolderWatch::describe(int fd) {
  Descriptor described;
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) return described;
  const int flags = ::fcntl(fd, F_GETFL);
  described.fd = fd;
  described.device = static_cast<uint64_t>(info.st_dev);
  described.inode = static_cast<uint64_t>(info.st_ino);
  described.nonBlocking = flags >= 0 && (flags & O_NONBLOCK) != 0;
  return described;
}

bool FolderWatch::stillOurs(const Descriptor& ours) {
  const Descriptor now = describe(ours.fd);
  return now.fd >= 0 && now.device == ours.device && now.inode == ours.inode &&
         now.nonBlocking == ours.nonBlocking;
}

// Closes `ours` unless its number now holds something else.
void FolderWatch::closeOwn(Descriptor& ours) {
  if (ours.fd >= 0 && stillOurs(ours)) ::close(ours.fd);
  ours = {};
}

void FolderWatch::dropAllInChild() {
  for (FolderWatch* watch = live_; watch; watch = watch->next_) watch->drop();
}

FolderWatch::FolderWatch() {
  static const int registered = ::pthread_atfork(nullptr, nullptr, &FolderWatch::dropAllInChild);
  (void)registered;
  next_ = live_;
  live_ = this;
}

FolderWatch::~FolderWatch() {
  for (FolderWatch** link = &live_; *link; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
  drop();
}

void FolderWatch::drop() {
  closeOwn(inotify_);
  closeOwn(mounts_);
  broken_ = false;
  momentPolled_ = false;
  ++generation_;
  ++layout_;
}

void FolderWatch::open() {
  inotify_ = describe(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
  // The mount table reports a mount or unmount anywhere as POLLPRI, once.
  mounts_ = describe(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (inotify_.fd < 0 || mounts_.fd < 0) {
    closeOwn(inotify_);
    closeOwn(mounts_);
    broken_ = true;
  }
  ++generation_;
  ++layout_;
}

FolderWatch::Moment::Moment(FolderWatch& watch) : watch_(watch) {
  ++watch_.moments_;
}

FolderWatch::Moment::~Moment() {
  if (--watch_.moments_ == 0) watch_.momentPolled_ = false;
}

uint64_t FolderWatch::check() {
  if (broken_) return 0;
  if (momentPolled_) return generation_;
  momentPolled_ = moments_ > 0;
  if (inotify_.fd < 0) open();
  if (broken_) return 0;
  pollfd ready[2] = {{inotify_.fd, POLLIN, 0}, {mounts_.fd, POLLPRI, 0}};
  const int count = ::poll(ready, 2, 0);
  if (count == 0) return generation_;
  ++generation_;
  if (count < 0) {
    ++layout_;  // nothing known (interrupted): all may have changed
    return generation_;
  }
  // Before reading, make sure the descriptors are still the watch's own; if
  // the host closed one, the watch starts afresh and leaves that number alone.
  if (!stillOurs(inotify_) || !stillOurs(mounts_) ||
      ((ready[0].revents | ready[1].revents) & (POLLNVAL | POLLHUP))) {
    drop();
    return check();
  }
  if (ready[1].revents) ++layout_;  // a mount or unmount
  if (ready[0].revents & POLLIN) takeReports();
  return generation_;
}

void FolderWatch::takeReports() {
  alignas(inotify_event) char buffer[4096];
  // A folder written to without pause could keep the queue from ever running
  // dry. What is left stays queued, so the next check() moves the generation
  // on again.
  for (int reads = 0; reads < 64; ++reads) {
    const ssize_t got = ::read(inotify_.fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got < 0 && errno != EAGAIN) ++layout_;
      return;
    }
    for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= got;) {
      inotify_event event;
      std::memcpy(&event, buffer + at, sizeof event);
      if (event.mask & kLayoutChanges) ++layout_;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event.len);
    }
  }
}

void FolderWatch::forgetStaleWatches() {
  if (watchesLayout_ == layout_) return;
  watches_.clear();
  devices_.clear();
  watchesLayout_ = layout_;
}

const FolderWatch::Watched* FolderWatch::watched(const std::string& path, uint32_t mask) const {
  for (const Watched& known : watches_) {
    if ((known.mask & mask) == mask && known.path == path) return &known;
  }
  return nullptr;
}

bool FolderWatch::onLocalFileSystem(const std::string& path, std::optional<uint64_t> device) {
  // One statfs per file system: a device number names the same one until
  // something is mounted or unmounted, which moves the layout on.
  if (!device) return reportsEveryChange(path);
  for (const auto& [known, local] : devices_) {
    if (known == *device) return local;
  }
  const bool local = reportsEveryChange(path);
  devices_.emplace_back(*device, local);
  return local;
}

bool FolderWatch::watch(const std::string& path, uint32_t mask, std::optional<uint64_t> device) {
  if (watched(path, mask)) return true;
  if (!onLocalFileSystem(path, device) ||
      ::inotify_add_watch(inotify_.fd, path.c_str(), mask) < 0) {
    return false;
  }
  watches_.push_back({path, mask, device});
  return true;
}

uint64_t FolderWatch::cover(const std::string& path) {
  if (broken_ || inotify_.fd < 0 || path.empty() || path.front() != '/') return 0;
  forgetStaleWatches();
  size_t names = 0;
  for (size_t at = 0;; ++names) {
    while (at < path.size() && path[at] == '/') ++at;
    if (at >= path.size()) break;
    at = std::min(path.find('/', at), path.size());
  }
  // How many names deep the folder lies whose watch reports the permissions
  // of the file's folder: the one above that, or the root, which has none
  // above it.
  const size_t permissionsAt = names >= 2 ? names - 2 : 0;
  std::string folder = "/";
  size_t depth = 0;  // of `folder`
  // The folder's device, known once it was stat'ed (the root is not).
  std::optional<uint64_t> device;
  size_t start = 1;
  for (;;) {
    while (start < path.size() && path[start] == '/') ++start;
    if (start >= path.size()) return 0;  // a path that ends in "/" names no file
    const size_t end = std::min(path.find('/', start), path.size());
    const std::string_view name(path.data() + start, end - start);
    const bool last = end == path.size();
    if (name == "." || name == "..") return 0;
    if (!watch(folder, depth == permissionsAt ? kFileFolderMask : kFolderMask, device)) return 0;
    const std::string entry = folder + (folder.size() > 1 ? "/" : "") + std::string(name);
    // A folder watched in this layout is there as it was: had it been
    // removed or replaced, the watch of the folder above would have moved
    // the layout on.
    if (const Watched* known = last ? nullptr : watched(entry, kFolderMask)) {
      folder = entry;
      ++depth;
      device = known->device;
      start = end + 1;
      continue;
    }
    struct stat info {};
    if (::lstat(entry.c_str(), &info) != 0) {
      // Missing: its appearing shows in the folder just watched.
      return errno == ENOENT || errno == ENOTDIR ? layout_ : 0;
    }
    if (S_ISLNK(info.st_mode)) return 0;
    device = static_cast<uint64_t>(info.st_dev);
    // The file may be a mount of its own, from another file system.
    if (last) return watch(entry, kFileMask, device) ? layout_ : 0;
    // A file where a folder should be names nothing below it; its
    // replacement shows in the folder just watched.
    if (!S_ISDIR(info.st_mode)) return layout_;
    folder = entry;
    ++depth;
    start = end + 1;
  }
}

FolderWatch& processFolderWatch() {
  // Never destroyed: lookups may run from other objects' destructors at exit.
  static FolderWatch* const watch = new FolderWatch;
  return *watch;
}

bool WatchedPaths::unchanged(uint64_t generation) const {
  if (generation == 0 || confirmedIn_ != generation || coveredIn_ != processFolderWatch().layout())
    return false;
  // A clock set back since counts as a second gone by.
  const int64_t since = fileClockNow() - confirmedAt_;
  return since >= 0 && since < kFileClockSecond;
}

void WatchedPaths::confirm(uint64_t generation, const std::string& first,
                           const std::string& second) {
  confirmedIn_ = 0;
  if (generation == 0 || uncoverable_) return;
  FolderWatch& watch = processFolderWatch();
  if (coveredIn_ == 0 || coveredIn_ != watch.layout()) {
    if (!foundAsTheyWere_) {
      foundAsTheyWere_ = true;
      return;
    }
    uint64_t layout = watch.cover(first);
    if (layout != 0 && !second.empty() && watch.cover(second) != layout) layout = 0;
    coveredIn_ = layout;
    // Paths the watch cannot see are stat'ed from now on, not walked again
    // at every lookup.
    uncoverable_ = layout == 0;
    return;
  }
  confirmedIn_ = generation;
  confirmedAt_ = fileClockNow();
}

}  // namespace host
