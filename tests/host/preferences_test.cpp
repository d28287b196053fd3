// The preference store: files, per-process views, merging between processes,
// atomic replacement, unreadable files and unwritable folders.
#include "host/foundation/preferences.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/foundation/device.h"
#include "host/foundation/plist_codec.h"
#include "host/foundation/values.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;
using testing_support::TempDevice;

namespace {

constexpr const char* kDomain = "com.zelvora.test";
constexpr const char* kFile = "/var/mobile/Library/Preferences/com.zelvora.test.plist";
constexpr const char* kFolder = "/var/mobile/Library/Preferences";

id text(std::string_view utf8) {
  return NSString::fromUtf8(utf8);
}

// Plays a new process: its views start from the files.
void freshProcess() {
  host::resetPreferenceViews();
}

void expectValue(const char* key, const id& expected) {
  id actual = CFPreferencesCopyAppValue(key, kDomain);
  EXPECT_TRUE(valuesEqual(actual, expected)) << "key " << key;
}

std::set<std::string> folderListing(const std::string& folder) {
  std::set<std::string> names;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(folder, ignored)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

struct FileStamp {
  ino_t inode = 0;
  int64_t modifiedNs = 0;
  bool operator==(const FileStamp&) const = default;
};

FileStamp stampOf(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return {};
  return {info.st_ino, int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// Runs `body` in a child process and gives its exit status (0 when `body`
// returned true). The child leaves without running destructors, so it does not
// remove the test's device.
template <class Body>
pid_t startChild(Body body) {
  pid_t pid = ::fork();
  if (pid == 0) {
    bool ok = false;
    try {
      host::resetPreferenceViews();
      ok = body();
    } catch (...) {
    }
    ::_exit(ok ? 0 : 1);
  }
  return pid;
}

int waitChild(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Kills and reaps a child that is still running when the test leaves early.
class ChildGuard {
 public:
  explicit ChildGuard(pid_t pid) : pid_(pid) {}
  ~ChildGuard() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      waitChild(pid_);
    }
  }
  ChildGuard(const ChildGuard&) = delete;
  ChildGuard& operator=(const ChildGuard&) = delete;
  // Kills the child now and gives its status.
  int kill() {
    ::kill(pid_, SIGKILL);
    int status = waitChild(pid_);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_;
};

bool exitedCleanly(int status) {
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool fileParses(const TempDevice& device) {
  auto bytes = device.readFile(kFile);
  return bytes && host::plist::decode(*bytes).has_value();
}

}  // namespace

TEST(Preferences, PathOfADomain) {
  TempDevice device;
  EXPECT_EQ(host::preferencesPath(kDomain), device.path(kFile));
}

TEST(Preferences, EveryKindRoundTripsThroughTheFile) {
  TempDevice device;
  std::vector<uint8_t> allBytes;
  for (int i = 0; i < 256; ++i) allBytes.push_back(static_cast<uint8_t>(i));

  const std::vector<std::pair<std::string, id>> values = {
      {"zero", NSNumber::integer(0)},
      {"minusOne", NSNumber::integer(-1)},
      {"negative", NSNumber::integer(-123456789)},
      {"int64Min", NSNumber::integer(std::numeric_limits<int64_t>::min())},
      {"int64Max", NSNumber::integer(std::numeric_limits<int64_t>::max())},
      {"large", NSNumber::integer(int64_t(1) << 53)},
      {"real", NSNumber::real(0.1)},
      {"realWhole", NSNumber::real(3.0)},
      {"realNegativeTiny", NSNumber::real(-2.5e-300)},
      {"realHuge", NSNumber::real(1.7976931348623157e308)},
      {"realInfinity", NSNumber::real(-std::numeric_limits<double>::infinity())},
      {"realNaN", NSNumber::real(std::numeric_limits<double>::quiet_NaN())},
      {"yes", NSNumber::boolean(true)},
      {"no", NSNumber::boolean(false)},
      {"one", NSNumber::integer(1)},
      {"text", text("plain")},
      {"emptyText", text("")},
      {"markup", text("<key>&amp;</key> \"quoted\" 'single'")},
      {"unicode", text("Zürich — 東京 😀 Ελλάδα")},
      {"spaces", text("  leading\tand trailing\n  ")},
      {"data", NSData::make(allBytes)},
      {"emptyData", NSData::make({})},
      {"date", NSDate::make(700000000.0)},
      {"dateBefore2001", NSDate::make(-86400.0 * 365)},
      {"emptyArray", NSArray::make({})},
      {"emptyDictionary", NSDictionary::make({})},
      {"nested",
       NSDictionary::make({
           {"list", NSArray::make({NSNumber::integer(-7), text("é"), NSNumber::boolean(false),
                                   NSArray::make({NSNumber::real(-0.5), NSDate::make(1.0)})})},
           {"inner", NSDictionary::make({{"deeper", NSDictionary::make({{"k", text("v")}})},
                                         {"bytes", NSData::make({1, 2, 3})}})},
           {"ключ", text("значение")},
       })},
  };
  for (const auto& [key, value] : values) CFPreferencesSetAppValue(key, value, kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));

  auto file = device.readFile(kFile);
  ASSERT_TRUE(file);
  EXPECT_EQ(file->rfind("<?xml", 0), 0u) << "written as XML";

  freshProcess();
  for (const auto& [key, value] : values) expectValue(key.c_str(), value);

  // Booleans and integers stay apart.
  auto* yes = objectAs<NSNumber>(CFPreferencesCopyAppValue("yes", kDomain));
  auto* one = objectAs<NSNumber>(CFPreferencesCopyAppValue("one", kDomain));
  ASSERT_TRUE(yes && one);
  EXPECT_EQ(yes->kind(), NSNumber::Kind::boolean);
  EXPECT_EQ(one->kind(), NSNumber::Kind::integer);
  auto* whole = objectAs<NSNumber>(CFPreferencesCopyAppValue("realWhole", kDomain));
  ASSERT_TRUE(whole);
  EXPECT_EQ(whole->kind(), NSNumber::Kind::real);
  auto* tiny = objectAs<NSNumber>(CFPreferencesCopyAppValue("int64Min", kDomain));
  ASSERT_TRUE(tiny);
  EXPECT_EQ(tiny->integerValue(), std::numeric_limits<int64_t>::min());
}

TEST(Preferences, WhatTheFileCannotHoldAsIsTakesTheFormTheFileGivesBack) {
  TempDevice device;
  CFPreferencesSetAppValue("fraction", NSDate::make(12.75), kDomain);
  CFPreferencesSetAppValue("lone", NSString::make(u"a\xD800z"), kDomain);
  CFPreferencesSetAppValue(
      "withNulls",
      NSArray::make({NSNumber::integer(1), NSNull::null(),
                     NSDictionary::make({{"gone", NSNull::null()}}), NSNumber::integer(2)}),
      kDomain);
  // Before synchronising, this process reads what it set.
  expectValue("fraction", NSDate::make(12.75));
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));

  const id fraction = NSDate::make(12.0);  // the XML form holds whole seconds
  const id lone = NSString::make(u"a\xFFFDz");
  const id withNulls =
      NSArray::make({NSNumber::integer(1), NSDictionary::make({}), NSNumber::integer(2)});
  // The view after synchronising is what the file holds...
  expectValue("fraction", fraction);
  expectValue("lone", lone);
  expectValue("withNulls", withNulls);
  // ...which is what the next process reads...
  freshProcess();
  expectValue("fraction", fraction);
  expectValue("lone", lone);
  expectValue("withNulls", withNulls);
  // ...and setting the value again is no change.
  FileStamp before = stampOf(device.path(kFile));
  CFPreferencesSetAppValue("fraction", NSDate::make(12.75), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  EXPECT_EQ(stampOf(device.path(kFile)), before);
}

TEST(Preferences, NilRemovesAKey) {
  TempDevice device;
  CFPreferencesSetAppValue("kept", text("yes"), kDomain);
  CFPreferencesSetAppValue("removed", text("soon"), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));

  freshProcess();
  CFPreferencesSetAppValue("removed", nil, kDomain);
  EXPECT_EQ(CFPreferencesCopyAppValue("removed", kDomain), nil);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));

  freshProcess();
  EXPECT_EQ(CFPreferencesCopyAppValue("removed", kDomain), nil);
  expectValue("kept", text("yes"));
  EXPECT_EQ(device.readFile(kFile).value_or("").find("removed"), std::string::npos);

  // Removing every key leaves a readable, empty domain.
  CFPreferencesSetAppValue("kept", nil, kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  EXPECT_TRUE(fileParses(device));
  freshProcess();
  EXPECT_EQ(CFPreferencesCopyAppValue("kept", kDomain), nil);
}

TEST(Preferences, TheNullMarkerIsSeenInTheViewAndStoredAsAbsence) {
  TempDevice device;
  CFPreferencesSetAppValue("marker", text("before"), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));

  CFPreferencesSetAppValue("marker", NSNull::null(), kDomain);
  EXPECT_EQ(CFPreferencesCopyAppValue("marker", kDomain), NSNull::null());
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  // The view becomes what the file holds: no such key.
  EXPECT_EQ(CFPreferencesCopyAppValue("marker", kDomain), nil);
  freshProcess();
  EXPECT_EQ(CFPreferencesCopyAppValue("marker", kDomain), nil);

  // On a key that is not there, it writes nothing.
  FileStamp before = stampOf(device.path(kFile));
  CFPreferencesSetAppValue("never", NSNull::null(), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  EXPECT_EQ(stampOf(device.path(kFile)), before);
}

TEST(Preferences, ChangesReachOtherProcessesOnlyThroughSynchronisation) {
  TempDevice device;
  CFPreferencesSetAppValue("mine", text("old"), kDomain);
  CFPreferencesSetAppValue("shared", NSNumber::integer(1), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));

  // This process changes a key without synchronising; another process then
  // stores keys of its own, one of them also known here.
  CFPreferencesSetAppValue("mine", text("new"), kDomain);
  pid_t other = startChild([] {
    if (!valuesEqual(CFPreferencesCopyAppValue("mine", kDomain), text("old"))) return false;
    CFPreferencesSetAppValue("theirs", text("from the other process"), kDomain);
    CFPreferencesSetAppValue("shared", NSNumber::integer(2), kDomain);
    return CFPreferencesAppSynchronize(kDomain);
  });
  ASSERT_TRUE(exitedCleanly(waitChild(other)));

  // Not seen before synchronising...
  EXPECT_EQ(CFPreferencesCopyAppValue("theirs", kDomain), nil);
  expectValue("shared", NSNumber::integer(1));
  // ...and after it both sides' changes are there, and a key this process did
  // not change takes the other's value rather than this view's stale one.
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  expectValue("mine", text("new"));
  expectValue("theirs", text("from the other process"));
  expectValue("shared", NSNumber::integer(2));
  freshProcess();
  expectValue("mine", text("new"));
  expectValue("theirs", text("from the other process"));
  expectValue("shared", NSNumber::integer(2));
}

TEST(Preferences, TwoProcessesWritingAtOnceLoseNothing) {
  TempDevice device;
  constexpr int kIterations = 200;
  auto writer = [](std::string name) {
    return [name] {
      for (int i = 0; i < kIterations; ++i) {
        CFPreferencesSetAppValue(name + ".count", NSNumber::integer(i), kDomain);
        CFPreferencesSetAppValue(name + "." + std::to_string(i), NSNumber::integer(i), kDomain);
        if (!CFPreferencesAppSynchronize(kDomain)) return false;
        // Its own changes are in the view the synchronisation left.
        if (!valuesEqual(CFPreferencesCopyAppValue(name + "." + std::to_string(i), kDomain),
                         NSNumber::integer(i))) {
          return false;
        }
      }
      return true;
    };
  };
  pid_t first = startChild(writer("first"));
  pid_t second = startChild(writer("second"));
  ASSERT_GT(first, 0);
  ASSERT_GT(second, 0);
  EXPECT_TRUE(exitedCleanly(waitChild(first)));
  EXPECT_TRUE(exitedCleanly(waitChild(second)));
  // (Each child stops by itself after its iterations, or at its first failure.)

  freshProcess();
  for (std::string name : {"first", "second"}) {
    expectValue((name + ".count").c_str(), NSNumber::integer(kIterations - 1));
    for (int i = 0; i < kIterations; ++i) {
      expectValue((name + "." + std::to_string(i)).c_str(), NSNumber::integer(i));
    }
  }
  EXPECT_FALSE(fs::exists(device.path(kFile) + ".corrupt"));
}

TEST(Preferences, AWriterKilledMidWriteLeavesAReadableFile) {
  TempDevice device;
  std::mt19937 random(12345);
  int reads = 0;
  for (int round = 0; round < 25; ++round) {
    pid_t writer = startChild([round] {
      std::mt19937_64 bytes(static_cast<unsigned>(round));
      for (int i = 0;; ++i) {
        std::vector<uint8_t> blob(512 * 1024);
        for (size_t at = 0; at < blob.size(); at += 8) {
          uint64_t word = bytes();
          std::memcpy(blob.data() + at, &word, 8);
        }
        CFPreferencesSetAppValue("blob", NSData::make(std::move(blob)), kDomain);
        CFPreferencesSetAppValue("round", NSNumber::integer(round), kDomain);
        CFPreferencesSetAppValue("counter", NSNumber::integer(i), kDomain);
        if (!CFPreferencesAppSynchronize(kDomain)) return false;
      }
    });
    ASSERT_GT(writer, 0);
    ChildGuard guard(writer);
    // Reads the file, which must always parse, and tells whether this round's
    // writer has stored at least once.
    auto check = [&] {
      auto bytes = device.readFile(kFile);
      if (!bytes) return false;
      ++reads;
      auto entries = host::plist::decode(*bytes);
      EXPECT_TRUE(entries) << "round " << round << ", " << bytes->size() << " bytes";
      if (!entries) return false;
      auto found = entries->find("round");
      return found != entries->end() && valuesEqual(found->second, NSNumber::integer(round));
    };
    // Wait for the writer to be under way, read while it replaces the file,
    // then kill it at a random point.
    auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!check()) {
      ASSERT_LT(std::chrono::steady_clock::now(), giveUp)
          << "the writer never stored, round " << round;
      if (::testing::Test::HasFailure()) return;
    }
    auto until = std::chrono::steady_clock::now() +
                 std::chrono::milliseconds(std::uniform_int_distribution<int>(1, 60)(random));
    while (std::chrono::steady_clock::now() < until && !::testing::Test::HasFailure()) check();
    int status = guard.kill();
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed on its own, round " << round;
    ASSERT_TRUE(fileParses(device)) << "after the kill, round " << round;
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_GT(reads, 0);
  EXPECT_FALSE(fs::exists(device.path(kFile) + ".corrupt"));

  // The lock died with the writer: this process still stores and reads.
  freshProcess();
  CFPreferencesSetAppValue("after", text("kill"), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  freshProcess();
  expectValue("after", text("kill"));
  expectValue("round", NSNumber::integer(24));
  auto* blob = objectAs<NSData>(CFPreferencesCopyAppValue("blob", kDomain));
  ASSERT_TRUE(blob);
  EXPECT_EQ(blob->bytes().size(), 512u * 1024);
}

TEST(Preferences, AnUnchangedValueWritesNothing) {
  TempDevice device;
  const id list = NSArray::make({text("a"), NSNumber::integer(-3), NSNumber::real(0.25)});
  CFPreferencesSetAppValue("list", list, kDomain);
  CFPreferencesSetAppValue("flag", NSNumber::boolean(true), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));

  const std::string folder = device.path(kFolder);
  const FileStamp file = stampOf(device.path(kFile));
  const FileStamp folderStamp = stampOf(folder);
  const auto listing = folderListing(folder);
  ASSERT_NE(file.inode, 0u);

  auto expectUntouched = [&] {
    EXPECT_EQ(stampOf(device.path(kFile)), file);
    EXPECT_EQ(stampOf(folder), folderStamp) << "something was created or renamed in the folder";
    EXPECT_EQ(folderListing(folder), listing);
  };
  for (int i = 0; i < 5; ++i) {
    // Equal values in new objects, as a lookup sets them on each run.
    CFPreferencesSetAppValue(
        "list", NSArray::make({text("a"), NSNumber::integer(-3), NSNumber::real(0.25)}), kDomain);
    CFPreferencesSetAppValue("flag", NSNumber::boolean(true), kDomain);
    ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
    ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
    expectUntouched();
  }
  freshProcess();
  CFPreferencesSetAppValue("flag", NSNumber::boolean(true), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  expectUntouched();

  // A boolean where an integer of the same value was is a change.
  CFPreferencesSetAppValue("flag", NSNumber::integer(1), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  EXPECT_NE(stampOf(device.path(kFile)), file);
}

TEST(Preferences, AReadOnlyFolderStillSynchronisesWhenNothingChanged) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
  TempDevice device;
  CFPreferencesSetAppValue("key", text("value"), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  const std::string folder = device.path(kFolder);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);

  CFPreferencesSetAppValue("key", text("value"), kDomain);
  EXPECT_TRUE(CFPreferencesAppSynchronize(kDomain));
  CFPreferencesSetAppValue("key", text("changed"), kDomain);
  EXPECT_FALSE(CFPreferencesAppSynchronize(kDomain));
  expectValue("key", text("changed"));

  fs::permissions(folder, fs::perms::owner_all);
  EXPECT_TRUE(CFPreferencesAppSynchronize(kDomain)) << "the pending change was kept";
  freshProcess();
  expectValue("key", text("changed"));
}

TEST(Preferences, AnUnreadableFileReadsAsEmptyAndIsKeptAsideWhenReplaced) {
  TempDevice device;
  const std::string garbage = "this is not a property list \x01\x02\xff";
  device.writeFile(kFile, garbage);
  device.writeFile(std::string(kFile) + ".corrupt", "an older one");

  EXPECT_EQ(CFPreferencesCopyAppValue("anything", kDomain), nil);
  // Synchronising without a change leaves the file as it is.
  EXPECT_TRUE(CFPreferencesAppSynchronize(kDomain));
  EXPECT_EQ(device.readFile(kFile), garbage);
  CFPreferencesSetAppValue("gone", nil, kDomain);
  EXPECT_TRUE(CFPreferencesAppSynchronize(kDomain));
  EXPECT_EQ(device.readFile(kFile), garbage);

  // A change replaces it, and the unreadable file is kept aside.
  CFPreferencesSetAppValue("fresh", text("start"), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  EXPECT_EQ(device.readFile(std::string(kFile) + ".corrupt"), garbage);
  EXPECT_TRUE(fileParses(device));
  freshProcess();
  expectValue("fresh", text("start"));
}

TEST(Preferences, APropertyListWhoseRootIsNotADictionaryIsUnreadable) {
  TempDevice device;
  const std::string arrayRoot =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
      "<array><string>a</string></array>\n</plist>\n";
  device.writeFile(kFile, arrayRoot);
  EXPECT_EQ(CFPreferencesCopyAppValue("a", kDomain), nil);
  CFPreferencesSetAppValue("key", NSNumber::integer(5), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  EXPECT_EQ(device.readFile(std::string(kFile) + ".corrupt"), arrayRoot);
  freshProcess();
  expectValue("key", NSNumber::integer(5));
}

TEST(Preferences, ATruncatedFileReadsAsEmpty) {
  TempDevice device;
  CFPreferencesSetAppValue("key", text("value"), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  std::string whole = device.readFile(kFile).value_or("");
  size_t end = whole.rfind("</dict>");
  ASSERT_NE(end, std::string::npos);
  // (Only the closing "</plist>" may be missing: libplist reads such a file
  // whole, with nothing lost.)
  for (size_t cut : {size_t(0), size_t(10), whole.find("value") + 2, end}) {
    device.writeFile(kFile, whole.substr(0, cut));
    freshProcess();
    EXPECT_EQ(CFPreferencesCopyAppValue("key", kDomain), nil) << "cut at " << cut;
  }
}

TEST(Preferences, ABinaryPropertyListIsRead) {
  TempDevice device;
  // Written by libplist's plist_to_bin from the dictionary
  //   name = "Zelvora é" (stored as UTF-16), count = -42, ratio = 2.5,
  //   on = true, blob = <00 01 fe ff>, when = 600000000.5 seconds since 2001,
  //   list = (7, "x").
  const unsigned char binary[] = {
      0x62, 0x70, 0x6c, 0x69, 0x73, 0x74, 0x30, 0x30, 0xd7, 0x01, 0x03, 0x05, 0x07, 0x09, 0x0b,
      0x0d, 0x02, 0x04, 0x06, 0x08, 0x0a, 0x0c, 0x0e, 0x54, 0x6e, 0x61, 0x6d, 0x65, 0x69, 0x00,
      0x5a, 0x00, 0x65, 0x00, 0x6c, 0x00, 0x76, 0x00, 0x6f, 0x00, 0x72, 0x00, 0x61, 0x00, 0x20,
      0x00, 0xe9, 0x55, 0x63, 0x6f, 0x75, 0x6e, 0x74, 0x13, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff,
      0xff, 0xd6, 0x55, 0x72, 0x61, 0x74, 0x69, 0x6f, 0x22, 0x40, 0x20, 0x00, 0x00, 0x52, 0x6f,
      0x6e, 0x09, 0x54, 0x62, 0x6c, 0x6f, 0x62, 0x44, 0x00, 0x01, 0xfe, 0xff, 0x54, 0x77, 0x68,
      0x65, 0x6e, 0x33, 0x41, 0xc1, 0xe1, 0xa3, 0x00, 0x40, 0x00, 0x00, 0x54, 0x6c, 0x69, 0x73,
      0x74, 0xa2, 0x0f, 0x10, 0x10, 0x07, 0x51, 0x78, 0x08, 0x17, 0x1c, 0x2f, 0x35, 0x3e, 0x44,
      0x49, 0x4c, 0x4d, 0x52, 0x57, 0x5c, 0x65, 0x6a, 0x6d, 0x6f, 0x00, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x11, 0x00, 0x00, 0x00, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x71,
  };
  device.writeFile(kFile, std::string_view(reinterpret_cast<const char*>(binary), sizeof binary));

  auto expectAll = [] {
    expectValue("name", text("Zelvora é"));
    expectValue("count", NSNumber::integer(-42));
    expectValue("ratio", NSNumber::real(2.5));
    expectValue("on", NSNumber::boolean(true));
    expectValue("blob", NSData::make({0x00, 0x01, 0xfe, 0xff}));
    expectValue("list", NSArray::make({NSNumber::integer(7), text("x")}));
  };
  expectAll();
  expectValue("when", NSDate::make(600000000.5));

  // Storing a change rewrites it as XML, keeping what was there.
  CFPreferencesSetAppValue("added", text("later"), kDomain);
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  EXPECT_FALSE(fs::exists(device.path(kFile) + ".corrupt"));
  EXPECT_EQ(device.readFile(kFile).value_or("").rfind("<?xml", 0), 0u);
  freshProcess();
  expectAll();
  expectValue("when", NSDate::make(600000000.0));  // XML holds whole seconds
  expectValue("added", text("later"));
}

TEST(Preferences, AFileThatCannotBeWrittenGivesFalseAndKeepsTheChange) {
  TempDevice device;
  // Something that is not a file stands where the file goes.
  fs::create_directories(device.path(kFile));
  EXPECT_EQ(CFPreferencesCopyAppValue("key", kDomain), nil);
  CFPreferencesSetAppValue("key", text("waiting"), kDomain);
  EXPECT_FALSE(CFPreferencesAppSynchronize(kDomain));
  expectValue("key", text("waiting"));
  EXPECT_TRUE(fs::is_directory(device.path(kFile)));
  EXPECT_FALSE(fs::exists(device.path(kFile) + ".corrupt"));

  fs::remove(device.path(kFile));
  EXPECT_TRUE(CFPreferencesAppSynchronize(kDomain));
  freshProcess();
  expectValue("key", text("waiting"));
}

TEST(Preferences, AnUnwritableDeviceRootGivesFalse) {
  TempDevice device;
  // A device root below a plain file: no folder can be made there, not even by
  // root.
  device.writeFile("/plain-file", "not a folder");
  host::setDeviceRoot(device.path("/plain-file/device"));
  host::resetPreferenceViews();

  EXPECT_EQ(CFPreferencesCopyAppValue("key", kDomain), nil);
  EXPECT_TRUE(CFPreferencesAppSynchronize(kDomain)) << "nothing to store";
  CFPreferencesSetAppValue("key", NSNumber::integer(9), kDomain);
  EXPECT_FALSE(CFPreferencesAppSynchronize(kDomain));
  EXPECT_FALSE(CFPreferencesAppSynchronize(kDomain));
  expectValue("key", NSNumber::integer(9));

  // With no device root at all, no file is named.
  host::setDeviceRoot({});
  EXPECT_EQ(host::preferencesPath(kDomain), "");
  CFPreferencesSetAppValue("key", NSNumber::integer(1), kDomain);
  EXPECT_EQ(CFPreferencesCopyAppValue("key", kDomain), nil);
  EXPECT_FALSE(CFPreferencesAppSynchronize(kDomain));
  host::setDeviceRoot(device.root());
}

TEST(Preferences, ADomainCannotNameAFileOutsideThePreferencesFolder) {
  TempDevice device;
  const std::vector<std::string> domains = {
      "", ".", "..", "../escape", "a/b", "/abs", std::string("nul\0x", 5)};
  for (const std::string& domain : domains) {
    SCOPED_TRACE("domain \"" + domain + "\"");
    EXPECT_EQ(host::preferencesPath(domain), "");
    CFPreferencesSetAppValue("key", text("value"), domain);
    EXPECT_EQ(CFPreferencesCopyAppValue("key", domain), nil);
    EXPECT_FALSE(CFPreferencesAppSynchronize(domain));
  }
  // Nothing at all was created on the device.
  EXPECT_TRUE(fs::is_empty(device.root()));
}

TEST(Preferences, DomainsAreSeparateFiles) {
  TempDevice device;
  CFPreferencesSetAppValue("key", text("one"), "com.zelvora.one");
  CFPreferencesSetAppValue("key", text("two"), "com.zelvora.two");
  ASSERT_TRUE(CFPreferencesAppSynchronize("com.zelvora.one"));
  EXPECT_FALSE(fs::exists(device.path("/var/mobile/Library/Preferences/com.zelvora.two.plist")));
  ASSERT_TRUE(CFPreferencesAppSynchronize("com.zelvora.two"));
  freshProcess();
  EXPECT_TRUE(valuesEqual(CFPreferencesCopyAppValue("key", "com.zelvora.one"), text("one")));
  EXPECT_TRUE(valuesEqual(CFPreferencesCopyAppValue("key", "com.zelvora.two"), text("two")));
}

TEST(Preferences, TheKeyListIsTheKeysOfTheView) {
  TempDevice device;
  EXPECT_EQ(CFPreferencesCopyKeyList(kDomain), nil);
  CFPreferencesSetAppValue("b", NSNumber::integer(2), kDomain);
  CFPreferencesSetAppValue("a", text("1"), kDomain);
  CFPreferencesSetAppValue("marker", NSNull::null(), kDomain);
  EXPECT_TRUE(valuesEqual(CFPreferencesCopyKeyList(kDomain),
                          NSArray::make({text("a"), text("b"), text("marker")})));
  ASSERT_TRUE(CFPreferencesAppSynchronize(kDomain));
  freshProcess();
  EXPECT_TRUE(
      valuesEqual(CFPreferencesCopyKeyList(kDomain), NSArray::make({text("a"), text("b")})));
  EXPECT_EQ(CFPreferencesCopyKeyList(".."), nil);
}
