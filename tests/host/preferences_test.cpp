// The preference store: files, per-process views, merging between processes,
// atomic replacement, unreadable files and unwritable folders.
#include "host/foundation/preferences.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "host/foundation/device.h"
#include "host/foundation/plist_codec.h"
#include "host/foundation/values.h"
#include "support/file_clock.h"
#include "support/temp_device.h"
#include "support/unprivileged.h"

namespace fs = std::filesystem;
using testing_support::TempDevice;
using namespace std::string_literals;

namespace {

constexpr const char* kDomain = "com.zelvora.test";
constexpr const char* kFile = "/var/mobile/Library/Preferences/com.zelvora.test.plist";
const std::string kCorrupt = std::string(kFile) + ".corrupt";

id text(std::string_view utf8) {
  return NSString::fromUtf8(utf8);
}
void set(const std::string& key, const id& value) {
  CFPreferencesSetAppValue(key, value, kDomain);
}
bool store() {
  return CFPreferencesAppSynchronize(kDomain);
}
void expectValue(const std::string& key, const id& expected) {
  EXPECT_TRUE(valuesEqual(CFPreferencesCopyAppValue(key, kDomain), expected)) << "key " << key;
}
// Plays a new process: its views start from the files.
void freshProcess() {
  host::resetPreferenceViews();
}

// A forked process with fresh views running `body`; it exits 0 when `body`
// gives true, without running destructors (it leaves the device alone).
template <class Body>
pid_t spawn(Body body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    host::resetPreferenceViews();
    ::_exit(body() ? 0 : 1);
  }
  return pid;
}
int reap(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return status;
}

// The inode and modification time: any write, creation or rename changes one.
std::pair<ino_t, int64_t> stampOf(const std::string& path) {
  struct stat info {};
  ::stat(path.c_str(), &info);
  return {info.st_ino, int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

}  // namespace

// Guards against any value kind being lost, changed or taken for another kind
// (a boolean read back as an integer, a negative integer as unsigned), and
// against a removal not reaching the file.
TEST(Preferences, EveryKindRoundTripsThroughTheFile) {
  TempDevice device;
  std::vector<uint8_t> allBytes;
  for (int i = 0; i < 256; ++i) allBytes.push_back(static_cast<uint8_t>(i));
  const std::vector<std::pair<std::string, id>> values = {
      {"int64Min", NSNumber::integer(std::numeric_limits<int64_t>::min())},
      {"int64Max", NSNumber::integer(std::numeric_limits<int64_t>::max())},
      {"negative", NSNumber::integer(-42)},
      {"one", NSNumber::integer(1)},
      {"yes", NSNumber::boolean(true)},
      {"no", NSNumber::boolean(false)},
      {"real", NSNumber::real(0.1)},
      {"realWhole", NSNumber::real(3.0)},
      {"infinity", NSNumber::real(-std::numeric_limits<double>::infinity())},
      {"text", text("<key>&amp;</key> \"Zürich\" 東京 😀")},
      {"data", NSData::make(allBytes)},
      {"date", NSDate::make(-86400.0 * 365)},
      {"nested", NSDictionary::make({{"list", NSArray::make({NSNumber::integer(-7), text("é"),
                                                             NSDictionary::make({})})}})},
  };
  for (const auto& [key, value] : values) set(key, value);
  ASSERT_TRUE(store());
  EXPECT_EQ(device.readFile(kFile).value_or("").rfind("<?xml", 0), 0u) << "written as XML";
  freshProcess();
  for (const auto& [key, value] : values) expectValue(key, value);

  // Removal, by nil or by the null marker a file cannot hold, is stored too.
  set("one", nil);
  set("no", NSNull::null());
  EXPECT_EQ(CFPreferencesCopyAppValue("no", kDomain), NSNull::null()) << "seen in the view";
  ASSERT_TRUE(store());
  freshProcess();
  EXPECT_EQ(CFPreferencesCopyAppValue("one", kDomain), nil);
  EXPECT_EQ(CFPreferencesCopyAppValue("no", kDomain), nil);
  id keys = CFPreferencesCopyKeyList(kDomain);
  ASSERT_NE(objectAs<NSArray>(keys), nullptr);
  EXPECT_EQ(objectAs<NSArray>(keys)->items().size(), values.size() - 2);
}

// Guards against lost updates when two processes store at once (a missing or
// ineffective lock, a merge that drops the other's keys), against a process
// storing its whole, stale view rather than only its own changes, and against
// another's changes showing before this process synchronises.
TEST(Preferences, ProcessesWritingAtOnceLoseNothing) {
  TempDevice device;
  set("shared", NSNumber::integer(1));
  ASSERT_TRUE(store());
  set("mine", text("new"));  // not yet stored
  constexpr int kIterations = 200;
  auto writer = [](std::string name) {
    return [name] {
      set("shared", NSNumber::integer(2));
      for (int i = 0; i < kIterations; ++i) {
        set(name + ".count", NSNumber::integer(i));
        set(name + "." + std::to_string(i), NSNumber::integer(i));
        if (!store()) return false;
      }
      return true;
    };
  };
  pid_t first = spawn(writer("first"));
  pid_t second = spawn(writer("second"));
  EXPECT_EQ(reap(first), 0);
  EXPECT_EQ(reap(second), 0);
  expectValue("shared", NSNumber::integer(1));
  ASSERT_TRUE(store());
  freshProcess();
  expectValue("mine", text("new"));
  expectValue("shared", NSNumber::integer(2));
  for (std::string name : {"first", "second"}) {
    expectValue(name + ".count", NSNumber::integer(kIterations - 1));
    for (int i = 0; i < kIterations; ++i) {
      expectValue(name + "." + std::to_string(i), NSNumber::integer(i));
    }
  }
}

// Guards against writing the file in place: a reader, or a writer killed at
// any moment, must always find a whole file, and the lock must die with it.
TEST(Preferences, AWriterKilledMidWriteLeavesAReadableFile) {
  TempDevice device;
  using Clock = std::chrono::steady_clock;
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    pid_t writer = spawn([round] {
      for (uint8_t i = 0;; ++i) {
        set("blob", NSData::make(std::vector<uint8_t>(512 * 1024, i)));
        set("round", NSNumber::integer(round));
        if (!store()) return false;
      }
    });
    // Reads the file, which must parse whenever it exists, until it holds this
    // round and then for a few milliseconds more, a different time each round.
    int unreadable = 0;
    bool stored = false;
    for (auto until = Clock::now() + std::chrono::seconds(30); Clock::now() < until;) {
      auto bytes = device.readFile(kFile);
      auto entries = bytes ? host::plist::decode(*bytes) : std::nullopt;
      unreadable += bytes && !entries;
      if (!stored && entries && valuesEqual((*entries)["round"], NSNumber::integer(round))) {
        stored = true;
        until = Clock::now() + std::chrono::milliseconds(1 + 6 * round);
      }
    }
    ::kill(writer, SIGKILL);
    ASSERT_TRUE(WIFSIGNALED(reap(writer))) << "the writer failed on its own";
    ASSERT_TRUE(stored);
    ASSERT_EQ(unreadable, 0);
    ASSERT_TRUE(host::plist::decode(device.readFile(kFile).value_or("")));
  }
  freshProcess();
  set("after", text("kill"));
  ASSERT_TRUE(store());
  freshProcess();
  expectValue("after", text("kill"));
  expectValue("round", NSNumber::integer(9));
}

// Guards against writing, locking or creating temporaries when no value
// changed, including values the file holds in another form (a null left out
// of an array, a date cut to whole seconds) and keys it cannot hold at all.
TEST(Preferences, AnUnchangedValueWritesNothing) {
  TempDevice device;
  EXPECT_EQ(CFPreferencesCopyKeyList(kDomain), nil);  // no file: no keys
  auto setAll = [] {  // equal values in new objects, as a lookup sets them
    set("list", NSArray::make({text("a"), NSNumber::integer(-3), NSNull::null()}));
    set("nul\0key"s, text("a key no file holds"));
    set("when", NSDate::make(12.75));
    set("flag", NSNumber::boolean(true));
  };
  setAll();
  ASSERT_TRUE(store());
  expectValue("list", NSArray::make({text("a"), NSNumber::integer(-3)}));
  expectValue("when", NSDate::make(12.0));

  const std::string folder = fs::path(device.path(kFile)).parent_path();
  const auto file = stampOf(device.path(kFile));
  const auto folderStamp = stampOf(folder);
  for (bool fresh : {false, true}) {
    if (fresh) freshProcess();
    setAll();
    ASSERT_TRUE(store());
    EXPECT_EQ(stampOf(device.path(kFile)), file) << "fresh process " << fresh;
    EXPECT_EQ(stampOf(folder), folderStamp) << "something was created or renamed";
  }
  set("flag", NSNumber::integer(1));  // an integer where a boolean was is a change
  ASSERT_TRUE(store());
  EXPECT_NE(stampOf(device.path(kFile)), file);
}

// Guards against crashing on, or silently destroying, an unreadable file: it
// reads as empty, is left alone until a change, then is kept aside under the
// first ".corrupt" name not taken, never over one kept earlier.
TEST(Preferences, AnUnreadableFileReadsAsEmptyAndIsKeptAsideWhenReplaced) {
  const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n";
  for (const std::string& contents :
       {"not a property list \x01\x02\xff"s, head + "<array><string>a</string></array>\n</plist>\n",
        head + "<dict><key>key</key><string>va"}) {
    SCOPED_TRACE(contents);
    TempDevice device;
    device.writeFile(kFile, contents);
    device.writeFile(kCorrupt, "an older one");
    EXPECT_EQ(CFPreferencesCopyAppValue("key", kDomain), nil);
    set("absent", nil);  // no change
    EXPECT_TRUE(store());
    EXPECT_EQ(device.readFile(kFile), contents);
    set("fresh", text("start"));
    ASSERT_TRUE(store());
    EXPECT_EQ(device.readFile(kCorrupt), "an older one");
    EXPECT_EQ(device.readFile(kCorrupt + ".1"), contents);
    freshProcess();
    expectValue("fresh", text("start"));
    // Corrupt once more: the two kept so far stay as they are.
    device.writeFile(kFile, contents + "again");
    set("fresh", text("again"));
    ASSERT_TRUE(store());
    EXPECT_EQ(device.readFile(kCorrupt), "an older one");
    EXPECT_EQ(device.readFile(kCorrupt + ".1"), contents);
    EXPECT_EQ(device.readFile(kCorrupt + ".2"), contents + "again");
    EXPECT_FALSE(device.readFile(kCorrupt + ".3"));
  }
}

// Guards against a corrupt file lost when it cannot be kept aside: the last
// free ".corrupt" name is still used, but with every name taken, or the name
// impossible (too long for the folder), the store is refused with the reason
// and the corrupt file stays where it is.
TEST(Preferences, ACorruptFileThatCannotBeKeptAsideIsNotReplaced) {
  const std::string longDomain(244, 'd');  // its ".lock" fits, its ".corrupt" does not
  struct Case {
    std::string domain;
    int taken;           // ".corrupt" names taken already
    std::string reason;  // why the store fails; empty: it succeeds
  };
  const Case cases[] = {
      {kDomain, 999, ""},
      {kDomain, 1000, "cannot keep the corrupt file aside: % and 999 numbered ones are taken"},
      {longDomain, 0, "cannot keep the corrupt file aside as %: "s + std::strerror(ENAMETOOLONG)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.taken);
    TempDevice device;
    const std::string file = host::preferencesPath(c.domain);
    const std::string corrupt = file + ".corrupt";
    fs::create_directories(fs::path(file).parent_path());
    std::ofstream(file) << "corrupt";
    for (int n = 0; n < c.taken; ++n) std::ofstream(corrupt + (n ? "." + std::to_string(n) : ""));
    CFPreferencesSetAppValue("key", text("value"), c.domain);
    const bool stored = CFPreferencesAppSynchronize(c.domain);
    std::string reason = c.reason;
    if (size_t at = reason.find('%'); at != std::string::npos) reason.replace(at, 1, corrupt);
    EXPECT_EQ(stored, reason.empty());
    EXPECT_EQ(host::preferencesStoreError(c.domain), reason);
    const std::string keptAs = reason.empty() ? corrupt + "." + std::to_string(c.taken) : file;
    std::ifstream kept(keptAs);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "corrupt") << keptAs;
    EXPECT_FALSE(fs::exists(file + ".tmp"));
    freshProcess();
  }
}

// Guards against binary property lists, as the phone writes them, reading as
// unreadable or with values changed.
TEST(Preferences, ABinaryPropertyListIsRead) {
  TempDevice device;
  // plist_to_bin of {name = "Zelvora é" (as UTF-16), count = -42, ratio = 2.5,
  // on = true, blob = <00 01 fe ff>, when = 600000000.5, list = (7, "x")}.
  device.writeFile(
      kFile,
      std::string_view(
          "\x62\x70\x6c\x69\x73\x74\x30\x30\xd7\x01\x03\x05\x07\x09\x0b\x0d\x02\x04\x06\x08\x0a\x0c"
          "\x0e\x54\x6e\x61\x6d\x65\x69\x00\x5a\x00\x65\x00\x6c\x00\x76\x00\x6f\x00\x72\x00\x61\x00"
          "\x20\x00\xe9\x55\x63\x6f\x75\x6e\x74\x13\xff\xff\xff\xff\xff\xff\xff\xd6\x55\x72\x61\x74"
          "\x69\x6f\x22\x40\x20\x00\x00\x52\x6f\x6e\x09\x54\x62\x6c\x6f\x62\x44\x00\x01\xfe\xff\x54"
          "\x77\x68\x65\x6e\x33\x41\xc1\xe1\xa3\x00\x40\x00\x00\x54\x6c\x69\x73\x74\xa2\x0f\x10\x10"
          "\x07\x51\x78\x08\x17\x1c\x2f\x35\x3e\x44\x49\x4c\x4d\x52\x57\x5c\x65\x6a\x6d\x6f\x00\x00"
          "\x00\x00\x00\x00\x01\x01\x00\x00\x00\x00\x00\x00\x00\x11\x00\x00\x00\x00\x00\x00\x00\x00"
          "\x00\x00\x00\x00\x00\x00\x00\x71",
          162));
  expectValue("name", text("Zelvora é"));
  expectValue("count", NSNumber::integer(-42));
  expectValue("ratio", NSNumber::real(2.5));
  expectValue("on", NSNumber::boolean(true));
  expectValue("blob", NSData::make({0x00, 0x01, 0xfe, 0xff}));
  expectValue("when", NSDate::make(600000000.5));
  expectValue("list", NSArray::make({NSNumber::integer(7), text("x")}));
}

// Guards against crashing, or dropping the change, when the file cannot be
// written: synchronising gives false and keeps the change for a later try.
TEST(Preferences, AFileThatCannotBeWrittenGivesFalseAndKeepsTheChange) {
  TempDevice device;
  // A folder where the file, or its temporary, goes (permissions do not stop
  // root): the first is never replaced, the second makes the write fail.
  for (const std::string& blocked : {std::string(kFile), std::string(kFile) + ".tmp"}) {
    SCOPED_TRACE(blocked);
    fs::create_directories(device.path(blocked));
    set("key", text(blocked));
    EXPECT_FALSE(store());
    EXPECT_TRUE(fs::is_directory(device.path(blocked)));
    fs::remove(device.path(blocked));
    EXPECT_TRUE(store()) << "the pending change was kept";
    freshProcess();
    expectValue("key", text(blocked));
  }

  // A device root below a plain file: no folder can be made there, even by root.
  device.writeFile("/plain-file", "not a folder");
  host::setDeviceRoot(device.path("/plain-file/device"));
  freshProcess();
  EXPECT_TRUE(store()) << "nothing to store";
  set("key", NSNumber::integer(9));
  EXPECT_FALSE(store());
  expectValue("key", NSNumber::integer(9));
  host::setDeviceRoot(device.root());
}

// Guards against a domain naming a file outside the preferences folder.
TEST(Preferences, ADomainCannotNameAFileOutsideThePreferencesFolder) {
  TempDevice device;
  EXPECT_EQ(host::preferencesPath(kDomain), device.path(kFile));
  for (const std::string& domain : {""s, "."s, ".."s, "../escape"s, "a/b"s, "nul\0x"s}) {
    CFPreferencesSetAppValue("key", text("value"), domain);
    EXPECT_FALSE(CFPreferencesAppSynchronize(domain)) << domain;
    EXPECT_EQ(CFPreferencesCopyAppValue("key", domain), nil) << domain;
    EXPECT_EQ(CFPreferencesCopyKeyList(domain), nil) << domain;
    EXPECT_EQ(host::preferencesStoreError(domain), "no such domain") << domain;
    EXPECT_EQ(host::preferencesFile(domain).state, host::PreferencesFile::State::unreadable);
    EXPECT_EQ(host::preferencesGeneration(domain), 0u) << domain;
  }
  EXPECT_TRUE(fs::is_empty(device.root()));
}

namespace {

// Makes the folders from the device root down to the preferences folder
// traversable by other users, for the unprivileged checks.
void openFoldersToOthers(const TempDevice& device) {
  fs::path folder = fs::path(device.path(kFile)).parent_path();
  for (fs::path p = folder; p.string().size() >= device.root().size(); p = p.parent_path()) {
    ::chmod(p.c_str(), 0755);
    if (p == p.parent_path()) break;
  }
}

}  // namespace

// Guards against taking a file that is there but cannot be read for an empty or
// corrupt one: it must never be renamed, replaced or written over (that loses
// every setting in it), must not block the process (a FIFO), and every store
// must fail with the reason while the process goes on with its own view.
TEST(Preferences, AnUnreadableFileIsNeverReplacedAndStoresSayWhy) {
  const std::string head = "<?xml version=\"1.0\"?><plist><dict><key>countryCode</key>";
  struct Case {
    const char* name;
    std::function<void(const TempDevice&)> make;
    const char* reason;
  };
  const Case cases[] = {
      {"fifo",
       [](const TempDevice& d) {
         fs::create_directories(fs::path(d.path(kFile)).parent_path());
         ::mkfifo(d.path(kFile).c_str(), 0644);
       },
       "not a regular file"},
      {"folder", [](const TempDevice& d) { fs::create_directories(d.path(kFile)); },
       "a folder, not a regular file"},
      {"too large",
       [&](const TempDevice& d) {
         d.writeFile(kFile, head + "<string>" + std::string(host::plist::kMaxBytes, '4') +
                                "</string></dict></plist>");
       },
       "too large"},
      {"nested too deeply",
       [&](const TempDevice& d) {
         std::string deep;
         for (int i = 0; i < 100000; ++i) deep += "<array>";
         d.writeFile(kFile, head + "<string>49</string><key>x</key>" + deep);
       },
       "nested too deeply"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDevice device;
    c.make(device);
    struct stat before {};
    ::lstat(device.path(kFile).c_str(), &before);
    std::optional<std::string> contents;  // (a test read of a FIFO would block)
    if (S_ISREG(before.st_mode)) contents = device.readFile(kFile);

    EXPECT_EQ(CFPreferencesCopyAppValue("countryCode", kDomain), nil);
    EXPECT_EQ(host::preferencesFile(kDomain).state, host::PreferencesFile::State::unreadable);
    EXPECT_EQ(host::preferencesFile(kDomain).reason, c.reason);
    EXPECT_TRUE(store()) << "nothing to store";
    set("countryCode", text("44"));
    set("recents", nil);
    for (int attempt = 0; attempt < 2; ++attempt) {
      EXPECT_FALSE(store());
      EXPECT_EQ(host::preferencesStoreError(kDomain), c.reason);
    }
    expectValue("countryCode", text("44"));  // the process goes on with its own view
    const id keyList = CFPreferencesCopyKeyList(kDomain);
    const auto* keys = objectAs<NSArray>(keyList);
    EXPECT_EQ(keys ? keys->items().size() : 0u, 1u) << "a removed key is no key";

    struct stat after {};
    ::lstat(device.path(kFile).c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mode, before.st_mode);
    if (S_ISREG(before.st_mode)) {
      EXPECT_EQ(device.readFile(kFile), contents);
    }
    EXPECT_FALSE(fs::exists(device.path(kCorrupt)));
  }
}

// Guards the case the user meets: a file the process may not read (mode 000,
// or owned by another user) holding "countryCode" 49 and "recents" 7 must keep
// both, and storing must say "permission denied". Root reads any file, so the
// check runs as an unprivileged user.
TEST(Preferences, AFileThatMayNotBeReadKeepsItsSettings) {
  TempDevice device;
  set("countryCode", text("49"));
  set("recents", NSNumber::integer(7));
  ASSERT_TRUE(store());
  freshProcess();
  const auto contents = device.readFile(kFile);
  ASSERT_EQ(::chmod(device.path(kFile).c_str(), 0), 0);
  openFoldersToOthers(device);
  ::chmod(fs::path(device.path(kFile)).parent_path().c_str(),
          0777);  // writable: only the file is locked
  int status = testing_support::runUnprivileged([] {
    host::resetPreferenceViews();
    if (CFPreferencesCopyAppValue("countryCode", kDomain) != nil) return false;
    set("countryCode", text("44"));
    set("recents", nil);
    return !store() && host::preferencesStoreError(kDomain) == "permission denied" && !store();
  });
  if (status == testing_support::kCannotDropPrivileges) {
    GTEST_SKIP() << "cannot become an unprivileged user, and root may read any file";
  }
  EXPECT_EQ(status, 0);
  ::chmod(device.path(kFile).c_str(), 0644);
  EXPECT_EQ(device.readFile(kFile), contents);
  EXPECT_FALSE(fs::exists(device.path(kCorrupt)));
}

// Guards against a derived value overwriting a newer one: a change made with
// setAppValueIfStill is stored only while the file still holds the value it
// was derived from.
TEST(Preferences, AConditionalChangeYieldsToANewerValue) {
  struct Case {
    id onDisk;     // what the file holds when this process reads it
    id meanwhile;  // what another process stores before this one does
    bool stored;   // whether this process's change is stored
  };
  const Case cases[] = {
      {nil, nil, true},        {text(""), text(""), true},
      {nil, text("7"), false}, {text(""), text("5"), false},
      {text("5"), nil, false},
  };
  for (const Case& c : cases) {
    TempDevice device;
    set("key", c.onDisk);
    ASSERT_TRUE(store());
    freshProcess();
    id read = CFPreferencesCopyAppValue("key", kDomain);
    host::setAppValueIfStill("key", text("derived"), read, kDomain);
    ASSERT_EQ(reap(spawn([&c] {
                set("key", c.meanwhile);
                return store();
              })),
              0);
    EXPECT_TRUE(store());
    id expected = c.stored ? text("derived") : c.meanwhile;
    expectValue("key", expected);
    freshProcess();
    expectValue("key", expected);
  }
}

// A lookup stores only derived values; another process holding the lock for
// ever (stopped mid-write, say) must not hang it, and nothing is lost.
TEST(Preferences, ADerivedValueNeverWaitsForALockHeldElsewhere) {
  TempDevice device;
  fs::create_directories(fs::path(device.path(kFile)).parent_path());
  // flock locks belong to an open file, so a second one plays the other process.
  const int holder = ::open((device.path(kFile) + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  host::setAppValueIfStill("key", text("derived"), nil, kDomain);
  ::alarm(30);  // a regression fails here instead of hanging
  EXPECT_FALSE(store());
  ::alarm(0);
  EXPECT_NE(host::preferencesStoreError(kDomain).find("held by another process"),
            std::string::npos);
  // A program that asks derived values to wait waits for the holder.
  host::setPreferencesDerivedWait(true);
  const pid_t releaser = spawn([holder] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return ::close(holder) == 0;
  });
  ::close(holder);  // the child's copy still holds the lock
  EXPECT_TRUE(store());
  host::setPreferencesDerivedWait(false);
  EXPECT_EQ(reap(releaser), 0);
  freshProcess();
  expectValue("key", text("derived"));
}

// Guards against a view left stale while derived values wait: a failed
// synchronisation still takes in what the file holds now.
TEST(Preferences, WhileDerivedValuesWaitForTheLockTheFileIsStillTakenIn) {
  TempDevice device;
  set("trunk", text("0"));
  ASSERT_TRUE(store());
  const int holder = ::open((device.path(kFile) + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  host::setAppValueIfStill("code", text("44"), nil, kDomain);
  device.writeFile(kFile, host::plist::encodeXml({{"trunk", text("9")}}));  // changed meanwhile
  EXPECT_FALSE(store());
  expectValue("trunk", text("9"));
  expectValue("code", text("44"));  // still pending, on top
  ::close(holder);
  EXPECT_TRUE(store());
  freshProcess();
  expectValue("trunk", text("9"));
  expectValue("code", text("44"));
}

// Guards against a setting waiting for ever, or in silence, for a lock held
// elsewhere: it waits as long as allowed, says so once, and stores nothing.
TEST(Preferences, ASettingWaitsForAHeldLockOnlyAsLongAsAllowed) {
  TempDevice device;
  fs::create_directories(fs::path(device.path(kFile)).parent_path());
  const int holder = ::open((device.path(kFile) + ".lock").c_str(), O_RDWR | O_CREAT, 0644);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  int announced = 0;
  host::setPreferencesLockWait({200000000, 100000000, [&announced] { ++announced; }});
  set("key", text("value"));
  ::alarm(30);  // a regression fails here instead of hanging
  EXPECT_FALSE(store());
  ::alarm(0);
  host::setPreferencesLockWait({10000000000, 1000000000, nullptr});  // the default again
  EXPECT_EQ(announced, 1);
  EXPECT_NE(host::preferencesStoreError(kDomain).find("still held by another process after 0.2 s"),
            std::string::npos)
      << host::preferencesStoreError(kDomain);
  EXPECT_FALSE(device.readFile(kFile));
  ::close(holder);
  EXPECT_TRUE(store());
  freshProcess();
  expectValue("key", text("value"));
}

// Guards the fairness of the wait: four processes storing a thousand times
// each, all at once, must each get the lock every time within the default
// limit and lose nothing.
TEST(Preferences, FourProcessesStoringAThousandTimesEachAllGetTheLock) {
  TempDevice device;
  constexpr int kStores = 1000;
  constexpr int kKeys = 5;
  std::vector<pid_t> writers;
  for (int w = 0; w < 4; ++w) {
    writers.push_back(spawn([w] {
      host::setPreferencesFsync(false);  // the lock is what is measured, not the disk
      const std::string name = "writer" + std::to_string(w);
      for (int i = 0; i < kStores; ++i) {
        set(name + ".count", NSNumber::integer(i));
        set(name + "." + std::to_string(i % kKeys), NSNumber::integer(i));
        if (!store()) return false;
      }
      return true;
    }));
  }
  for (pid_t writer : writers) EXPECT_EQ(reap(writer), 0);
  freshProcess();
  for (int w = 0; w < 4; ++w) {
    const std::string name = "writer" + std::to_string(w);
    expectValue(name + ".count", NSNumber::integer(kStores - 1));
    for (int k = 0; k < kKeys; ++k) {
      expectValue(name + "." + std::to_string(k), NSNumber::integer(kStores - kKeys + k));
    }
  }
}

// Guards the re-reading of a file only when it may have changed: every change
// by another process must be seen at the next synchronisation, a same-size
// rewrite in place within one tick of the coarse file clock included.
TEST(Preferences, EveryChangeIsSeenAtTheNextSynchronisation) {
  TempDevice device;
  auto fileWith = [](const std::string& value) {
    return host::plist::encodeXml({{"key", text(value)}});
  };
  // In place: same inode, same size, quite likely the same file times.
  fs::create_directories(fs::path(device.path(kFile)).parent_path());
  for (int i = 0; i < 200; ++i) {
    std::string value = std::to_string(i % 10);
    std::ofstream(device.path(kFile), std::ios::binary | std::ios::trunc) << fileWith(value);
    ASSERT_TRUE(store());
    ASSERT_TRUE(valuesEqual(CFPreferencesCopyAppValue("key", kDomain), text(value))) << i;
  }
  // Replaced by rename.
  device.writeFile("/elsewhere.plist", fileWith("renamed"));
  fs::rename(device.path("/elsewhere.plist"), device.path(kFile));
  ASSERT_TRUE(store());
  expectValue("key", text("renamed"));
  // Truncated: corrupt, so an empty domain.
  fs::resize_file(device.path(kFile), 0);
  ASSERT_TRUE(store());
  EXPECT_EQ(CFPreferencesCopyAppValue("key", kDomain), nil);
  // Written again, then removed.
  device.writeFile(kFile, fileWith("back"));
  ASSERT_TRUE(store());
  expectValue("key", text("back"));
  fs::remove(device.path(kFile));
  ASSERT_TRUE(store());
  EXPECT_EQ(CFPreferencesCopyAppValue("key", kDomain), nil);
  // Replaced by something unreadable.
  device.writeFile(kFile, fileWith("again"));
  ASSERT_TRUE(store());
  fs::remove(device.path(kFile));
  ::mkfifo(device.path(kFile).c_str(), 0644);
  ASSERT_TRUE(store());
  EXPECT_EQ(CFPreferencesCopyAppValue("key", kDomain), nil);
  EXPECT_EQ(host::preferencesFile(kDomain).state, host::PreferencesFile::State::unreadable);
}

// Once a file has settled and been found unchanged, synchronisations stop
// looking at it while the folder watch reports nothing; each change must still
// show at the next one.
TEST(Preferences, ChangesToASettledFileAreSeenAtTheNextSynchronisation) {
  TempDevice device;
  const std::string file = device.path(kFile);
  const std::function<void(const std::string&)> changes[] = {
      [&](const std::string& bytes) {  // same size, in place
        const int fd = ::open(file.c_str(), O_WRONLY);
        ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), ssize_t(bytes.size()));
        ::close(fd);
      },
      [&](const std::string& bytes) {  // replaced by rename
        device.writeFile("/elsewhere.plist", bytes);
        fs::rename(device.path("/elsewhere.plist"), file);
      },
  };
  for (int round = 0; round < 6; ++round) {
    device.writeFile(kFile, host::plist::encodeXml({{"key", text("old")}}));
    std::this_thread::sleep_for(std::chrono::milliseconds(120));
    for (int quiet = 0; quiet < 3; ++quiet) ASSERT_TRUE(store());
    expectValue("key", text("old"));
    changes[round % 2](host::plist::encodeXml({{"key", text(std::to_string(round) + "ld")}}));
    ASSERT_TRUE(store());
    expectValue("key", text(std::to_string(round) + "ld"));
  }
}

// Guards against a synchronisation that trusts the quiet folder watch while
// changes are pending: once the file has settled and the watch spares even
// the stat, a change that cannot be stored (the lock held elsewhere) still
// gives false and stays pending, and one that can is stored.
TEST(Preferences, AChangeToASettledFileIsStoredOrKeptPending) {
  TempDevice device;
  set("key", text("old"));
  ASSERT_TRUE(store());  // makes the file and the lock file
  // Long after the file's change time, so that its version settles at once.
  testing_support::FakeFileClock clock(
      testing_support::FakeFileClock::changeTimeOf(device.path(kFile)) +
      10 * host::kFileClockSecond);
  for (int quiet = 0; quiet < 4; ++quiet) ASSERT_TRUE(store());
  // Taking a lock on a file that is there changes nothing the watch sees.
  const int holder = ::open((device.path(kFile) + ".lock").c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  host::setPreferencesLockWait({0, 0, nullptr});
  set("key", text("new"));
  const bool stored = store();
  host::setPreferencesLockWait({10000000000, 1000000000, nullptr});  // the default again
  EXPECT_FALSE(stored);
  EXPECT_NE(host::preferencesStoreError(kDomain).find("held by another process"), std::string::npos)
      << host::preferencesStoreError(kDomain);
  expectValue("key", text("new"));
  auto onDisk = host::plist::decode(device.readFile(kFile).value_or(""));
  ASSERT_TRUE(onDisk);
  EXPECT_TRUE(valuesEqual((*onDisk)["key"], text("old")));
  ::close(holder);
  EXPECT_TRUE(store()) << "the change was kept pending";
  freshProcess();
  expectValue("key", text("new"));
}
