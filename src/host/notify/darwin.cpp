#include "host/notify/darwin.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "host/foundation/device.h"
#include "host/foundation/values.h"
#include "host/loader/regular_file.h"
#include "host/notify/run_loop.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kAnnouncementFolder = "/var/run/notify/";
// Every socket address starts with this, in the abstract namespace (the
// leading NUL byte is not part of it). The rest is "<pid>-<nonce>", which is
// also the announcement's file name.
constexpr std::string_view kAddressPrefix = "zelvora-notify/";
// How long one post may wait, in all, for receivers whose queue is full.
constexpr int kFullQueueWaitMs = 200;
// The longest announcement file: an address and a line break.
constexpr uint64_t kAnnouncementLimit = 256;
// Datagrams read in one turn of the loop, so that a flood cannot hold it.
constexpr int kDrainLimit = 1024;

class DarwinNotifyCenter final : public Object {
 public:
  const char* kindName() const override { return "CFNotificationCenter"; }
};

struct Registration {
  const void* observer;
  CFNotificationCallback callback;
  std::string name;  // UTF-8
};

// This process's receiving socket and its announcement.
struct Endpoint {
  pid_t owner = 0;  // after fork() the child finds its parent's socket here
  int fd = -1;
  std::string address;       // without the leading NUL
  std::string announcement;  // the file, empty when not announced
};

struct Centre {
  id object = std::make_shared<DarwinNotifyCenter>();
  std::vector<Registration> registrations;
  Endpoint endpoint;
  // Names posted by this process to itself, or received, not yet delivered;
  // each name once, in order of arrival.
  std::vector<std::string> pending;
  // Receivers whose queue stayed full for a whole wait: posts to them are not
  // held up again until one gets through.
  std::set<std::string> stalled;
  bool exitHookInstalled = false;
};

Centre& centre() {
  static Centre* shared = new Centre;  // never destroyed: used by the exit hook
  return *shared;
}

bool isDarwinCentre(const CFNotificationCenterRef& center) {
  return center && center == centre().object;
}

std::optional<std::string> nameBytes(const CFStringRef& name) {
  const NSString* text = objectAs<NSString>(name);
  if (!text || text->units().empty()) return std::nullopt;
  std::string bytes = toUtf8(text->units());
  if (bytes.size() > kDarwinNameLimit) return std::nullopt;
  return bytes;
}

socklen_t socketAddress(const std::string& address, sockaddr_un& result) {
  result = {};
  result.sun_family = AF_UNIX;
  if (address.empty() || address.size() + 1 > sizeof(result.sun_path)) return 0;
  std::copy(address.begin(), address.end(), result.sun_path + 1);
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + address.size());
}

void addPending(const std::string& name) {
  std::vector<std::string>& pending = centre().pending;
  if (std::find(pending.begin(), pending.end(), name) == pending.end()) pending.push_back(name);
}

// Calls the observers of every pending name, each name once. Observers
// registered by a callback hear only later deliveries.
void deliverPending() {
  Centre& c = centre();
  std::vector<std::string> names;
  names.swap(c.pending);
  const std::vector<Registration> registrations = c.registrations;
  for (const std::string& name : names) {
    id text;
    for (const Registration& r : registrations) {
      if (r.name != name) continue;
      if (!text) text = NSString::fromUtf8(name);
      r.callback(c.object, const_cast<void*>(r.observer), text, nullptr, nil);
    }
  }
}

void removeAnnouncementAtExit() {
  const Endpoint& endpoint = centre().endpoint;
  if (endpoint.owner == getpid() && !endpoint.announcement.empty()) {
    ::unlink(endpoint.announcement.c_str());
  }
}

void ensureEndpoint();

void onReadable() {
  Centre& c = centre();
  if (c.endpoint.owner != getpid()) {
    // A socket inherited across fork(): it is the parent's to read.
    ensureEndpoint();
    return;
  }
  char buffer[kDarwinNameLimit + 1];
  for (int i = 0; i < kDrainLimit; ++i) {
    ssize_t got = ::recv(c.endpoint.fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) break;
    // Posters send only names within the limit; anything else is not ours.
    if (got == 0 || static_cast<size_t>(got) > kDarwinNameLimit) continue;
    addPending(std::string(buffer, static_cast<size_t>(got)));
  }
  deliverPending();
}

// Drops a socket inherited from the parent process without touching the
// parent's announcement.
void forgetInheritedEndpoint() {
  Endpoint& endpoint = centre().endpoint;
  host::RunLoop::main().removeSource(endpoint.fd);
  ::close(endpoint.fd);
  endpoint = {};
  centre().stalled.clear();
}

bool openEndpoint() {
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  for (int attempt = 0; attempt < 8; ++attempt) {
    unsigned long long nonce = 0;
    if (::getrandom(&nonce, sizeof nonce, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof nonce)) {
      nonce ^= static_cast<unsigned long long>(Clock::now().time_since_epoch().count()) + attempt;
    }
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "%ld-%016llx", static_cast<long>(getpid()), nonce);
    std::string address = std::string(kAddressPrefix) + suffix;
    sockaddr_un where;
    socklen_t length = socketAddress(address, where);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&where), length) == 0) {
      Endpoint& endpoint = centre().endpoint;
      endpoint = {getpid(), fd, std::move(address), {}};
      host::RunLoop::main().addSource(fd, onReadable);
      return true;
    }
    if (errno != EADDRINUSE) break;
  }
  ::close(fd);
  return false;
}

// Writes the announcement file for the current device root, moving it there
// from another root if need be. Leaves the process unannounced on failure.
void announce() {
  Endpoint& endpoint = centre().endpoint;
  std::string folder = host::devicePath(kAnnouncementFolder);
  std::string file =
      folder.empty() ? std::string() : folder + endpoint.address.substr(kAddressPrefix.size());
  std::error_code ignored;
  if (!file.empty() && file == endpoint.announcement && fs::exists(file, ignored)) return;
  if (!endpoint.announcement.empty() && endpoint.announcement != file) {
    ::unlink(endpoint.announcement.c_str());
  }
  endpoint.announcement.clear();
  if (file.empty()) return;

  fs::create_directories(folder, ignored);
  // Written under a hidden name and renamed, so posters never read half a file.
  std::string temporary = folder + "." + endpoint.address.substr(kAddressPrefix.size());
  // O_NONBLOCK: a FIFO left at that name must not hold up the process.
  int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return;
  std::string contents = endpoint.address + "\n";
  bool written =
      ::write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
  written = (::close(fd) == 0) && written;
  if (!written || ::rename(temporary.c_str(), file.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return;
  }
  endpoint.announcement = file;
  if (!centre().exitHookInstalled) {
    centre().exitHookInstalled = std::atexit(removeAnnouncementAtExit) == 0;
  }
}

void ensureEndpoint() {
  Centre& c = centre();
  if (c.endpoint.fd >= 0 && c.endpoint.owner != getpid()) forgetInheritedEndpoint();
  if (c.endpoint.fd < 0 && !openEndpoint()) return;
  announce();
}

// The address an announcement file gives, or none when it holds anything else.
// The file is opened without blocking and must be a small regular file: a FIFO
// or a device among the announcements must not hold up a poster.
std::optional<std::string> readAnnouncement(const std::string& file) {
  std::string contents;
  if (!host::RegularFile::open(file).readAll(kAnnouncementLimit, contents).empty()) {
    return std::nullopt;
  }
  if (!contents.empty() && contents.back() == '\n') contents.pop_back();
  sockaddr_un unused;
  if (contents.compare(0, kAddressPrefix.size(), kAddressPrefix) != 0 ||
      contents.find('\0') != std::string::npos || socketAddress(contents, unused) == 0) {
    return std::nullopt;
  }
  return contents;
}

enum class Sent { delivered, gone, dropped };

Sent sendName(const std::string& address, const std::string& name, Clock::time_point waitUntil) {
  sockaddr_un where;
  socklen_t length = socketAddress(address, where);
  int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return Sent::dropped;
  Sent result = Sent::dropped;
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&where), length) != 0) {
    result = (errno == ECONNREFUSED || errno == ENOENT) ? Sent::gone : Sent::dropped;
    ::close(fd);
    return result;
  }
  bool mayWait = centre().stalled.count(address) == 0;
  for (;;) {
    if (::send(fd, name.data(), name.size(), MSG_DONTWAIT | MSG_NOSIGNAL) >= 0) {
      result = Sent::delivered;
      break;
    }
    if (errno == EINTR) continue;
    if (errno == ECONNREFUSED) {
      result = Sent::gone;
      break;
    }
    if (errno != EAGAIN && errno != EWOULDBLOCK) break;
    // The receiver's queue is full. A connected datagram socket becomes
    // writable when the receiver reads, so wait for that, within the budget.
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(waitUntil - Clock::now());
    if (!mayWait || left.count() <= 0) {
      centre().stalled.insert(address);
      break;
    }
    pollfd writable{fd, POLLOUT, 0};
    ::poll(&writable, 1, static_cast<int>(left.count()));
  }
  ::close(fd);
  if (result == Sent::delivered) centre().stalled.erase(address);
  return result;
}

}  // namespace

CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter() {
  return centre().object;
}

void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                     CFNotificationCallback callback, CFStringRef name,
                                     const void* /*object*/,
                                     CFNotificationSuspensionBehavior /*behavior*/) {
  if (!isDarwinCentre(center) || !callback) return;
  std::optional<std::string> bytes = nameBytes(name);
  if (!bytes) return;
  std::vector<Registration>& registrations = centre().registrations;
  bool known = std::any_of(registrations.begin(), registrations.end(), [&](const Registration& r) {
    return r.observer == observer && r.callback == callback && r.name == *bytes;
  });
  if (!known) registrations.push_back({observer, callback, std::move(*bytes)});
  ensureEndpoint();
}

void CFNotificationCenterPostNotification(CFNotificationCenterRef center, CFStringRef name,
                                          const void* /*object*/, CFDictionaryRef /*userInfo*/,
                                          bool /*deliverImmediately*/) {
  if (!isDarwinCentre(center)) return;
  std::optional<std::string> bytes = nameBytes(name);
  if (!bytes) return;
  std::string folder = host::devicePath(kAnnouncementFolder);
  if (folder.empty()) return;

  Centre& c = centre();
  // This process hears its own posts without going through its socket, so a
  // full queue can never cost it a name.
  const Endpoint& own = c.endpoint;
  bool announcedHere = own.owner == getpid() && !own.announcement.empty() &&
                       own.announcement.compare(0, folder.size(), folder) == 0 &&
                       own.announcement.find('/', folder.size()) == std::string::npos;
  if (announcedHere) {
    if (c.pending.empty()) host::RunLoop::main().perform(deliverPending);
    addPending(*bytes);
  }

  std::vector<std::string> files;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::string file = it->path().string();
    if (it->path().filename().string().front() == '.') continue;
    if (announcedHere && file == own.announcement) continue;
    files.push_back(std::move(file));
  }
  Clock::time_point waitUntil = Clock::now() + std::chrono::milliseconds(kFullQueueWaitMs);
  for (const std::string& file : files) {
    std::optional<std::string> address = readAnnouncement(file);
    if (!address) continue;
    if (sendName(*address, *bytes, waitUntil) == Sent::gone) ::unlink(file.c_str());
  }
}
