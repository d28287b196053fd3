// The indexed area-code files: every change to a file is seen at the next
// lookup, files that cannot be used fall back to the bundled copy without
// blocking, and only a few files stay indexed.
#include "lookup/area_cache.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "host/foundation/device.h"
#include "host/foundation/folder_watch.h"
#include "host/foundation/values.h"
#include "lookup/area_file.h"
#include "lookup/country_tables.h"
#include "lookup/preference_keys.h"
#include "support/file_clock.h"
#include "support/lookup_fixture.h"

namespace {

namespace fs = std::filesystem;
using testing_support::LookupTest;

class AreaCache : public testing_support::BundledLondonTest {
 protected:
  std::string codesPath(const char* code = "44") const {
    return device.path(std::string(kAreaCodeFolder) + code + ".txt");
  }

  static constexpr int64_t kSecond = host::kFileClockSecond;

  // Plays "a second later" for every file written so far, so that an
  // unchanged file is not read again: waits (a tick of the system's file
  // clock at most) until a change made now is dated after all of them, so
  // that a later change shows in a stat, and from then on takes versions on
  // a clock set a second past that, which moves only as the test says.
  void letFilesSettle() {
    const std::string mark = device.path("/clock-mark");
    device.writeFile("/clock-mark", "");
    const int64_t written = testing_support::FakeFileClock::changeTimeOf(mark);
    int64_t now = written;
    for (int tries = 0; tries < 10000000 && now <= written; ++tries) {
      ASSERT_EQ(::utimensat(AT_FDCWD, mark.c_str(), nullptr, 0), 0);
      now = testing_support::FakeFileClock::changeTimeOf(mark);
    }
    ASSERT_GT(now, written) << "the file clock never moved on";
    if (!clock) clock.emplace(0);
    clock->set(now + kSecond);
  }

  // Lets the file settle and looks it up until only the folder watch is
  // asked: the first lookup reads it, the next covers its paths, the next
  // confirms them.
  void warmUp(const char* expected) {
    letFilesSettle();
    for (int i = 0; i < 4; ++i) EXPECT_EQ(lookUp("020 7946"), expected);
  }

  // The file clock once letFilesSettle() has set it.
  std::optional<testing_support::FakeFileClock> clock;
};

TEST_F(AreaCache, SameSizeRewriteInPlaceIsSeenAtOnce) {
  writeCodes("44", "4420|Town A\n");
  const int fd = ::open(codesPath().c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  for (int round = 0; round < 300; ++round) {
    const char* text = round % 2 ? "4420|Town B\n" : "4420|Town C\n";
    ASSERT_EQ(::pwrite(fd, text, 12, 0), 12);
    ASSERT_EQ(lookUp("020 7946"), std::string(text).substr(5, 6)) << "round " << round;
  }
  ::close(fd);
}

TEST_F(AreaCache, EveryKindOfChangeIsSeenAtTheNextLookup) {
  writeCodes("44", "4420|London\n44161|Manchester\n");
  letFilesSettle();
  EXPECT_EQ(lookUp("020 7946"), "London");
  EXPECT_EQ(lookUp("0161 496"), "Manchester");

  // Replaced by rename.
  device.writeFile("/new.txt", "4420|Renamed London\n");
  fs::rename(device.path("/new.txt"), codesPath());
  EXPECT_EQ(lookUp("020 7946"), "Renamed London");

  // Truncated, even to a prefix of what it held.
  writeCodes("44", "4420|London\n44161|Manchester\n");
  letFilesSettle();
  EXPECT_EQ(lookUp("0161 496"), "Manchester");
  ASSERT_EQ(::truncate(codesPath().c_str(), 12), 0);
  EXPECT_EQ(lookUp("0161 496"), std::nullopt);
  EXPECT_EQ(lookUp("020 7946"), "London");
  ASSERT_EQ(::truncate(codesPath().c_str(), 0), 0);
  EXPECT_EQ(lookUp("020 7946"), std::nullopt);  // empty but readable: no fallback

  // Removed: the bundled copy.
  fs::remove(codesPath());
  EXPECT_EQ(lookUp("020 7946"), "Bundled London");
  // And back.
  writeCodes("44", "4420|London\n");
  EXPECT_EQ(lookUp("020 7946"), "London");

  // The bundled copy in use changes too.
  fs::remove(codesPath());
  letFilesSettle();
  EXPECT_EQ(lookUp("020 7946"), "Bundled London");
  device.writeFile("/app-resources/codes/44.txt", "4420|New Bundled London\n");
  EXPECT_EQ(lookUp("020 7946"), "New Bundled London");
}

TEST_F(AreaCache, ChangesAreSeenWhetherTheFolderCanBeWatchedOrNot) {
  // Behind a symbolic link the folder is not watched, and every lookup takes
  // its stats; either way each change shows at the next lookup.
  const fs::path folder = fs::path(codesPath()).parent_path();
  for (const bool linked : {false, true}) {
    if (linked) {
      fs::rename(folder, folder.string() + ".real");
      fs::create_directory_symlink(folder.string() + ".real", folder);
    }
    writeCodes("44", "4420|London\n");
    struct stat written {};
    ASSERT_EQ(::stat(codesPath().c_str(), &written), 0);
    fs::create_hard_link(codesPath(), device.path("/link.txt"));
    warmUp("London");
    const int fd = ::open(device.path("/link.txt").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    for (const char* text : {"4420|Lund\n", "4420|Leed\n"}) {
      // Through the other name, in the same size, its times put back as
      // "touch -r" would: only the change time tells.
      ASSERT_EQ(::pwrite(fd, text, 10, 0), 10);
      const timespec times[2] = {written.st_atim, written.st_mtim};
      ASSERT_EQ(::futimens(fd, times), 0);
      EXPECT_EQ(lookUp("020 7946"), std::string(text).substr(5, 4)) << linked;
      warmUp(std::string(text).substr(5, 4).c_str());
    }
    ::close(fd);
    fs::remove(device.path("/link.txt"));
    warmUp("Leed");
    // The data folder itself moved aside: the bundled copy answers.
    fs::rename(folder, device.path("/moved"));
    EXPECT_EQ(lookUp("020 7946"), "Bundled London") << linked;
    warmUp("Bundled London");
    fs::rename(device.path("/moved"), folder);
    EXPECT_EQ(lookUp("020 7946"), "Leed") << linked;
  }
}

TEST_F(AreaCache, AChangeMadeOnlyThroughAMemoryMappingIsSeenWithinASecond) {
  writeCodes("44", "4420|London\n");
  warmUp("London");
  const int fd = ::open(codesPath().c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  void* mapped = ::mmap(nullptr, 12, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ASSERT_NE(mapped, MAP_FAILED);
  std::memcpy(static_cast<char*>(mapped) + 5, "Lisbon", 6);
  ::munmap(mapped, 12);
  ::close(fd);
  clock->advance(kSecond);
  EXPECT_EQ(lookUp("020 7946"), "Lisbon");
}

TEST_F(AreaCache, FilesThatCannotBeReadFallBackToTheBundledCopy) {
  // Running as root, a mode of 000 does not stop reading, so the file is made
  // unreadable by putting something other than a regular file in its place:
  // a folder, a FIFO (which must not block the lookup) and a dangling link.
  // An unprivileged run checks mode 000 too.
  writeCodes("44", "4420|London\n");
  letFilesSettle();
  EXPECT_EQ(lookUp("020 7946"), "London");

  fs::remove(codesPath());
  fs::create_directory(codesPath());
  EXPECT_EQ(lookUp("020 7946"), "Bundled London");

  fs::remove(codesPath());
  ASSERT_EQ(::mkfifo(codesPath().c_str(), 0644), 0);
  EXPECT_EQ(lookUp("020 7946"), "Bundled London");
  // Even with a writer holding the FIFO open, nothing is read from it.
  const int writer = ::open(codesPath().c_str(), O_RDWR | O_NONBLOCK);
  ASSERT_GE(writer, 0);
  ASSERT_EQ(::write(writer, "4420|Fifo\n", 10), 10);
  EXPECT_EQ(lookUp("020 7946"), "Bundled London");
  ::close(writer);

  fs::remove(codesPath());
  fs::create_symlink(device.path("/missing.txt"), codesPath());
  EXPECT_EQ(lookUp("020 7946"), "Bundled London");
  fs::remove(codesPath());

  writeCodes("44", "4420|London\n");
  EXPECT_EQ(lookUp("020 7946"), "London");
  if (::geteuid() != 0) {
    fs::permissions(codesPath(), fs::perms::none);
    EXPECT_EQ(lookUp("020 7946"), "Bundled London");
    fs::permissions(codesPath(), fs::perms::owner_read);
    EXPECT_EQ(lookUp("020 7946"), "London");
  }
}

TEST_F(AreaCache, AnotherResourceFolderIsUsedAtTheNextLookup) {
  // Settled, so an index kept under the old folder would still look current.
  letFilesSettle();
  EXPECT_EQ(lookUp("020 7946"), "Bundled London");
  fs::create_directories(device.root() + "/other-resources/codes");
  device.writeFile("/other-resources/codes/44.txt", "4420|Other London\n");
  host::setMainBundleResourcePath(device.root() + "/other-resources");
  EXPECT_EQ(lookUp("020 7946"), "Other London");
  host::setMainBundleResourcePath(device.root() + "/app-resources");
  EXPECT_EQ(lookUp("020 7946"), "Bundled London");
}

// Guards what the watch of a new process's first lookup costs: the watch the
// preferences opened stays (closing one that holds paths costs more than the
// lookup), and goes only with indexes kept under places that moved.
TEST_F(AreaCache, OnlyIndexesOfPlacesThatMovedLetTheWatchGo) {
  clearAreaCache();
  host::FolderWatch& watch = host::processFolderWatch();
  watch.check();
  const uint64_t opened = watch.layout();
  EXPECT_EQ(lookUpArea(u"44", u"2079460000"), u"Bundled London");
  EXPECT_EQ(watch.layout(), opened);
  fs::create_directories(device.root() + "/other-resources/codes");
  host::setMainBundleResourcePath(device.root() + "/other-resources");
  lookUpArea(u"44", u"2079460000");
  EXPECT_NE(watch.layout(), opened);
  host::setMainBundleResourcePath(device.root() + "/app-resources");
}

TEST_F(AreaCache, FilesOverTheSizeLimitCountAsUnreadable) {
  writeCodes("44", "4420|Huge London\n");
  // Sparse: the size is there without the disk space.
  ASSERT_EQ(::truncate(codesPath().c_str(), static_cast<off_t>(kAreaCodeFileSizeLimit + 1)), 0);
  EXPECT_EQ(lookUp("020 7946"), "Bundled London");
  ASSERT_EQ(::truncate(codesPath().c_str(), static_cast<off_t>(kAreaCodeFileSizeLimit)), 0);
  // At the limit it is read; its NUL bytes are one long line of no use.
  EXPECT_EQ(lookUp("020 7946"), "Huge London");
}

// Calling codes of the trunk-prefix list, one more than are kept, each with
// a one-line file; the international number that reads it.
struct CodeFile {
  std::string code, number;
};
std::vector<CodeFile> codeFiles(size_t count) {
  std::vector<CodeFile> files;
  for (std::u16string_view entry : callingCodeTrunkList) {
    if (files.size() == count) break;
    const std::string code = toUtf8(callingCodeOfEntry(entry));
    files.push_back({code, "+" + code + " 5 000"});
  }
  return files;
}

TEST_F(AreaCache, SettledFilesAreReadOnceAndTheLeastRecentlyUsedGoes) {
  const std::vector<CodeFile> files = codeFiles(kCachedAreaFiles + 1);
  for (const CodeFile& file : files) writeCodes(file.code, file.code + "5|Area " + file.code);
  letFilesSettle();
  const uint64_t before = areaFilesRead();
  auto readsFor = [&](size_t which) {
    const uint64_t start = areaFilesRead();
    EXPECT_EQ(lookUp(files[which].number), "Area " + files[which].code);
    return areaFilesRead() - start;
  };
  const size_t last = kCachedAreaFiles;  // the one more
  for (size_t i = 0; i < last; ++i) EXPECT_EQ(readsFor(i), 1u) << files[i].code;
  for (int round = 0; round < 3; ++round) {
    for (size_t i = 0; i < last; ++i) EXPECT_EQ(readsFor(i), 0u) << files[i].code;
  }
  EXPECT_EQ(readsFor(0), 0u);     // the first is now the most recent, the second the least
  EXPECT_EQ(readsFor(last), 1u);  // the one more comes in, the second goes
  EXPECT_EQ(readsFor(0), 0u);
  for (size_t i = 2; i < last; ++i) EXPECT_EQ(readsFor(i), 0u) << files[i].code;
  EXPECT_EQ(readsFor(1), 1u);  // read again; the one more goes now
  EXPECT_EQ(readsFor(last), 1u);
  EXPECT_EQ(areaFilesRead() - before, last + 3);
  clearAreaCache();
  EXPECT_EQ(readsFor(0), 1u);
}

TEST_F(AreaCache, IndexesHoldNoMoreThanTheBudget) {
  // Files whose indexes each take about a third of the budget.
  const std::vector<CodeFile> files = codeFiles(5);
  for (const CodeFile& file : files) {
    std::string text;
    for (int key = 0; key < 250000; ++key) {
      text +=
          file.code + std::to_string(5000000 + key) + "|Town " + std::to_string(key % 50) + "\n";
    }
    writeCodes(file.code, text);
  }
  letFilesSettle();
  for (const CodeFile& file : files) {
    EXPECT_EQ(lookUp(file.number + "002"), "Town 2") << file.code;
    EXPECT_LE(areaCacheBytes(), kAreaCacheBudget + 4096);
    EXPECT_GT(areaCacheBytes(), kAreaCacheBudget / 4);
  }
  // The oldest went; the newest stayed.
  const uint64_t start = areaFilesRead();
  EXPECT_EQ(lookUp(files[4].number + "002"), "Town 2");
  EXPECT_EQ(areaFilesRead(), start);
  EXPECT_EQ(lookUp(files[0].number + "002"), "Town 2");
  EXPECT_EQ(areaFilesRead(), start + 1);
}

TEST_F(AreaCache, FilesWrittenJustNowAreReadAgainUntilTheySettle) {
  writeCodes("44", "4420|London\n");
  clock.emplace(testing_support::FakeFileClock::changeTimeOf(codesPath()));  // a file dated now
  const uint64_t start = areaFilesRead();
  EXPECT_EQ(lookUp("020 7946"), "London");
  EXPECT_EQ(lookUp("020 7946"), "London");
  EXPECT_EQ(areaFilesRead() - start, 2u);
  clock->advance(kSecond);
  EXPECT_EQ(lookUp("020 7946"), "London");
  EXPECT_EQ(lookUp("020 7946"), "London");
  EXPECT_EQ(areaFilesRead() - start, 3u);
}

// Guards the times a file is judged by, on a clock the test sets: its change
// time against the moment it was read, never its modification time. A file
// dated in the future is read once, not at every lookup; one whose change
// time is ahead of the clock (set back) is read again at most once a second;
// one changed in the tick it was read is read until it settles.
TEST_F(AreaCache, ReadsFollowTheChangeTimeAgainstTheClock) {
  struct Step {
    int64_t advance;  // the clock moves on by this much before the lookup
    uint64_t reads;   // then the lookup reads the file this many times
  };
  struct Case {
    const char* what;
    bool modifiedIn2030;
    bool wholeSeconds;  // a file system whose times are whole seconds
    int64_t clockFromChange;
    std::vector<Step> steps;
  } const cases[] = {
      {"a file dated now",
       false,
       false,
       0,
       {{0, 1}, {0, 1}, {kSecond / 100, 1}, {kSecond, 1}, {0, 0}, {3600 * kSecond, 0}}},
      {"modified in 2030, changed a second ago", true, false, kSecond, {{0, 1}, {0, 0}, {0, 0}}},
      {"changed an hour ahead of the clock",
       false,
       false,
       -3600 * kSecond,
       {{0, 1}, {0, 0}, {kSecond / 2, 0}, {kSecond / 2, 1}, {0, 0}, {kSecond, 1}}},
      {"whole seconds, changed a second ago",
       false,
       true,
       kSecond,
       {{0, 1}, {0, 1}, {kSecond + kSecond / 2, 1}, {0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    clearAreaCache();
    writeCodes("44", "4420|London\n");
    if (c.modifiedIn2030) {
      const timespec times[2] = {{0, UTIME_OMIT}, {1893456000, 0}};
      ASSERT_EQ(::utimensat(AT_FDCWD, codesPath().c_str(), times, 0), 0);
    }
    int64_t changed = testing_support::FakeFileClock::changeTimeOf(codesPath());
    testing_support::FakeFileClock clock(0);
    if (c.wholeSeconds) {
      clock.wholeSecondChangeTimes();
      changed -= changed % kSecond;
    }
    clock.set(changed + c.clockFromChange);
    for (size_t i = 0; i < c.steps.size(); ++i) {
      clock.advance(c.steps[i].advance);
      const uint64_t before = areaFilesRead();
      EXPECT_EQ(lookUp("020 7946"), "London") << "step " << i;
      EXPECT_EQ(areaFilesRead() - before, c.steps[i].reads) << "step " << i;
    }
  }
}

}  // namespace
