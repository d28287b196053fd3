// The folder watch: every kind of change at a covered path moves the
// generation on, including changes made by another process; lost reports and
// mounts move the layout on; paths it cannot see are not covered. What a
// cache keeps of the paths it watches is covered when it is confirmed the
// second time, and holds from the call after that, for a second of the file
// clock.
#include "host/foundation/folder_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/inotify.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "support/file_clock.h"

namespace {

namespace fs = std::filesystem;

class FolderWatchTest : public ::testing::Test {
 protected:
  explicit FolderWatchTest(const fs::path& base = fs::temp_directory_path()) {
    std::string pattern = (base / "zelvora-watch-XXXXXX").string();
    EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
    root = pattern;
    fs::create_directories(root / "a" / "b");
    write(file(), "4420|London\n");
  }
  ~FolderWatchTest() override { fs::remove_all(root); }

  fs::path file() const { return root / "a" / "b" / "44.txt"; }
  static void write(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
  }

  fs::path root;
};

// Where other programs rarely create or remove anything, so that a test
// that needs a quiet moment in the folders above its files finds one soon:
// the shared memory folder, which compilers and tests leave alone, unlike
// /tmp.
class QuietFolderWatchTest : public FolderWatchTest {
 protected:
  QuietFolderWatchTest()
      : FolderWatchTest(fs::is_directory("/dev/shm") ? fs::path("/dev/shm")
                                                     : fs::temp_directory_path()) {}
};

// Tells whether anything that moves a watch's layout on, other than what a
// test does, happened while it lived: an entry created, removed or renamed
// in a folder on the way to `path`, or (unless `mounts` is false) a mount.
// Programs running alongside, other tests among them, do that in /tmp at
// any moment; a test that relies on the layout staying put repeats until an
// attempt went by quietly.
class Quiet {
 public:
  explicit Quiet(const fs::path& path, bool mounts = true)
      : inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
        mounts_(mounts ? ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC) : -1) {
    constexpr uint32_t kEntries = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                  IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
    for (fs::path folder = path.parent_path();; folder = folder.parent_path()) {
      EXPECT_GE(::inotify_add_watch(inotify_, folder.c_str(), kEntries), 0) << folder;
      if (folder == folder.root_path()) break;
    }
  }
  ~Quiet() {
    ::close(inotify_);
    if (mounts_ >= 0) ::close(mounts_);
  }
  Quiet(const Quiet&) = delete;
  Quiet& operator=(const Quiet&) = delete;

  // Whether nothing happened since it was made.
  bool quiet() const {
    pollfd ready[2] = {{inotify_, POLLIN, 0}, {mounts_, POLLPRI, 0}};
    return ::poll(ready, mounts_ >= 0 ? 2 : 1, 0) == 0;
  }

 private:
  int inotify_;
  int mounts_;
};

TEST_F(FolderWatchTest, EveryChangeAtACoveredPathShows) {
  const struct {
    const char* what;
    std::function<void(const fs::path& file)> change;
  } changes[] = {
      {"same-size rewrite in place",
       [](const fs::path& f) {
         const int fd = ::open(f.c_str(), O_WRONLY);
         ASSERT_EQ(::pwrite(fd, "4420|Lund", 9, 0), 9);
         ::close(fd);
       }},
      {"truncation", [](const fs::path& f) { fs::resize_file(f, 3); }},
      {"times only",
       [](const fs::path& f) { ASSERT_EQ(::utimensat(AT_FDCWD, f.c_str(), nullptr, 0), 0); }},
      {"made unreadable", [](const fs::path& f) { fs::permissions(f, fs::perms::none); }},
      {"replaced by rename",
       [](const fs::path& f) {
         write(f.parent_path() / "new", "x");
         fs::rename(f.parent_path() / "new", f);
       }},
      {"removed", [](const fs::path& f) { fs::remove(f); }},
      {"written through its hard link in an unwatched folder",
       [](const fs::path& f) {
         write(f.parent_path().parent_path().parent_path() / "x" / "link", "y");
       }},
      {"its folder renamed and another put in place",
       [](const fs::path& f) {
         const fs::path folder = f.parent_path();
         fs::rename(folder, folder.parent_path() / "old");
         fs::create_directory(folder);
       }},
      {"its folder made unreachable",
       [](const fs::path& f) { fs::permissions(f.parent_path(), fs::perms::none); }},
  };
  for (const auto& c : changes) {
    fs::remove_all(root / "a");
    fs::remove_all(root / "x");
    fs::create_directories(root / "a" / "b");
    fs::create_directories(root / "x");
    write(file(), "4420|London\n");
    fs::create_hard_link(file(), root / "x" / "link");
    host::FolderWatch watch;
    ASSERT_NE(watch.check(), 0u);
    const uint64_t layout = watch.cover(file());
    ASSERT_NE(layout, 0u) << c.what;
    const uint64_t before = watch.check();
    c.change(file());
    EXPECT_NE(watch.check(), before) << c.what;
    fs::permissions(root / "a" / "b", fs::perms::owner_all);
  }
}

// The events the process's inotify watches of the folder or file at `path`
// ask for, all of them together, as the kernel lists them.
uint32_t watchedEvents(const fs::path& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return 0;
  char inode[32];
  std::snprintf(inode, sizeof inode, " ino:%llx ", static_cast<unsigned long long>(info.st_ino));
  uint32_t events = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fdinfo")) {
    std::ifstream fdinfo(entry.path());
    for (std::string line; std::getline(fdinfo, line);) {
      const size_t mask = line.find(" mask:");
      if (line.starts_with("inotify wd:") && line.find(inode) != std::string::npos &&
          mask != std::string::npos) {
        events |= static_cast<uint32_t>(std::stoul(line.substr(mask + 6), nullptr, 16));
      }
    }
  }
  return events;
}

// The permissions of a file's folder are reported through the folder above
// it: asked of a folder, they make the kernel walk every name cached there,
// and a file's folder may hold hundreds (the area-code files).
TEST_F(FolderWatchTest, AFilesFolderPermissionsAreWatchedFromTheFolderAbove) {
  const struct {
    fs::path file;
    fs::path folder;  // the file's, watched without its entries' attributes
    fs::path above;   // which reports them
  } cases[] = {
      {root / "a" / "b" / "44.txt", root / "a" / "b", root / "a"},
      {root / "a" / "45.txt", root / "a", root},
  };
  for (const auto& c : cases) {
    write(c.file, "4420|London\n");
    host::FolderWatch watch;
    ASSERT_NE(watch.check(), 0u);
    ASSERT_NE(watch.cover(c.file.string()), 0u) << c.file;
    EXPECT_NE(watchedEvents(c.folder) & IN_CREATE, 0u) << c.file;
    EXPECT_EQ(watchedEvents(c.folder) & IN_ATTRIB, 0u) << c.file;
    EXPECT_NE(watchedEvents(c.above) & IN_ATTRIB, 0u) << c.file;
  }
}

TEST_F(FolderWatchTest, AFileUnderAMissingFolderIsSeenWhenItAppears) {
  host::FolderWatch watch;
  ASSERT_NE(watch.check(), 0u);
  const fs::path later = root / "a" / "c" / "d" / "1.txt";
  const uint64_t layout = watch.cover(later);
  ASSERT_NE(layout, 0u);
  const uint64_t before = watch.check();
  fs::create_directories(later.parent_path());
  EXPECT_NE(watch.check(), before);
  EXPECT_NE(watch.layout(), layout);  // so the new folders are covered next
  ASSERT_NE(watch.cover(later), 0u);
  const uint64_t folders = watch.check();
  write(later, "1212|New York\n");
  EXPECT_NE(watch.check(), folders);
}

TEST_F(FolderWatchTest, NothingChangedKeepsTheGeneration) {
  host::FolderWatch watch;
  ASSERT_NE(watch.check(), 0u);
  ASSERT_NE(watch.cover(file()), 0u);
  // Other programs may create files in a folder above at any moment, so one
  // quiet pair of checks out of a few is enough.
  bool kept = false;
  for (int attempt = 0; attempt < 20 && !kept; ++attempt) {
    const uint64_t first = watch.check();
    kept = watch.check() == first;
  }
  EXPECT_TRUE(kept);
}

TEST_F(FolderWatchTest, PathsItCannotSeeAreNotCovered) {
  fs::create_directory_symlink(root / "a", root / "link");
  host::FolderWatch watch;
  ASSERT_NE(watch.check(), 0u);
  EXPECT_EQ(watch.cover((root / "link" / "b" / "44.txt").string()), 0u);
  EXPECT_EQ(watch.cover("a/b/44.txt"), 0u);
  EXPECT_EQ(watch.cover((root / "a" / "b" / "").string()), 0u);
  EXPECT_EQ(watch.cover(""), 0u);
  EXPECT_EQ(watch.cover((root / "a" / "." / "b" / "44.txt").string()), 0u);
  EXPECT_EQ(watch.cover((root / "a" / ".." / "a" / "b" / "44.txt").string()), 0u);
  EXPECT_NE(watch.cover("//" + file().string()), 0u);
  // A file where a folder should be: its replacement shows in its folder.
  EXPECT_NE(watch.cover(file().string() + "/below"), 0u);
  EXPECT_NE(watch.cover(file()), 0u);
}

TEST_F(FolderWatchTest, AForkedChildTakesNoReportsFromItsParent) {
  host::FolderWatch watch;
  ASSERT_NE(watch.check(), 0u);
  ASSERT_NE(watch.cover(file()), 0u);
  const uint64_t before = watch.check();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // Had the child kept its parent's queue, this check would take the
    // report of the write away from the parent.
    write(file(), "4420|Changed\n");
    watch.check();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_NE(watch.check(), before);
}

TEST_F(FolderWatchTest, ADescriptorTheHostReusedIsNeitherReadNorClosed) {
  host::FolderWatch watch;
  ASSERT_NE(watch.check(), 0u);
  ASSERT_NE(watch.cover(file()), 0u);
  const uint64_t before = watch.check();
  // The host closes the watch's inotify descriptor and puts a pipe, blocking
  // and holding data, under its number.
  int watchFd = -1;
  for (const auto& link : fs::directory_iterator("/proc/self/fd")) {
    std::error_code failed;
    if (fs::read_symlink(link.path(), failed).string() == "anon_inode:inotify") {
      watchFd = std::stoi(link.path().filename().string());
    }
  }
  ASSERT_GE(watchFd, 0);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  ASSERT_EQ(::dup2(pipeFds[0], watchFd), watchFd);
  ASSERT_EQ(::write(pipeFds[1], "host", 4), 4);
  ::alarm(30);  // a read of the pipe would block: fail rather than hang
  EXPECT_NE(watch.check(), before);
  watch.drop();
  ::alarm(0);
  char got[8] = {};
  EXPECT_EQ(::read(watchFd, got, sizeof got), 4);  // still open, data untouched
  EXPECT_STREQ(got, "host");
  for (int fd : {pipeFds[0], pipeFds[1], watchFd}) ::close(fd);
}

TEST_F(QuietFolderWatchTest, ReportsLostMoveTheLayoutOn) {
  // More reports than the kernel queues: a write and a change of mode, turn
  // about so that none is merged with the one before.
  std::ifstream limit("/proc/sys/fs/inotify/max_queued_events");
  int queued = 0;
  ASSERT_TRUE(limit >> queued);
  bool decided = false;
  for (int attempt = 0; attempt < 50 && !decided; ++attempt) {
    host::FolderWatch watch;
    ASSERT_NE(watch.check(), 0u);
    ASSERT_NE(watch.cover(file()), 0u);
    Quiet quiet(file());
    watch.check();
    const uint64_t layout = watch.layout();
    const int fd = ::open(file().c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    for (int i = 0; i <= queued / 2; ++i) {
      ASSERT_EQ(::pwrite(fd, "4", 1, 0), 1);
      ASSERT_EQ(::fchmod(fd, i % 2 ? 0644 : 0600), 0);
    }
    ::close(fd);
    for (int drain = 0; drain < 8; ++drain) watch.check();
    EXPECT_NE(watch.layout(), layout);
    decided = quiet.quiet();
  }
  EXPECT_TRUE(decided) << "no attempt went by without other changes in the folders above";
}

TEST_F(QuietFolderWatchTest, AMountOverAWatchedFolderMovesTheLayoutOn) {
  // Mounted in a mount namespace of a child's own, which no other process
  // sees and whose mounts none of theirs reach.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::unshare(CLONE_NEWNS) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      ::_exit(77);
    }
    // 0: each mount and unmount moved the layout on; 1: one did not; 2: no
    // attempt went by quietly.
    for (int attempt = 0; attempt < 50; ++attempt) {
      host::FolderWatch watch;
      if (watch.check() == 0 || watch.cover(file()) == 0) ::_exit(3);
      Quiet quiet(file(), false);
      watch.check();
      const uint64_t before = watch.layout();
      if (::mount("zelvora", (root / "a").c_str(), "tmpfs", 0, nullptr) != 0) ::_exit(77);
      watch.check();
      const uint64_t mounted = watch.layout();
      if (::umount((root / "a").c_str()) != 0) ::_exit(3);
      watch.check();
      if (mounted == before || watch.layout() == mounted) ::_exit(1);
      if (quiet.quiet()) ::_exit(0);
    }
    ::_exit(2);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no mount namespace of its own: not privileged";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

// A cover that meets folders an earlier cover watched skips them only while
// they are watched as it needs them: for the reports it needs, and in the
// same layout (a folder put in place of a watched one is watched anew).
TEST_F(QuietFolderWatchTest, CoversThatShareFoldersSeeWhatEachAloneWould) {
  const fs::path a = root / "a";
  const fs::path c = root / "c";  // beside a, with a file of its own
  const struct {
    const char* what;
    fs::path second;                      // covered after file()
    std::function<void()> betweenCovers;  // then check(), then `second` covered
    std::function<void()> change;         // must show
  } cases[] = {
      {"a folder on the way comes to report the permissions of a file's folder", c / "45.txt",
       [] {}, [&] { fs::permissions(c, fs::perms::owner_read | fs::perms::owner_exec); }},
      {"the same file again, after its folder was replaced", root / "a" / "b" / "44.txt",
       [&] {
         fs::rename(a / "b", a / "old");
         fs::create_directory(a / "b");
         write(file(), "4420|London\n");
       },
       [&] { write(file(), "4420|Lund\n"); }},
  };
  for (const auto& k : cases) {
    std::error_code absent;  // before the first case
    fs::permissions(c, fs::perms::owner_all, absent);
    fs::remove_all(a);
    fs::create_directories(a / "b");
    fs::create_directories(c);
    write(file(), "4420|London\n");
    write(c / "45.txt", "4420|London\n");
    host::FolderWatch watch;
    ASSERT_NE(watch.check(), 0u);
    ASSERT_NE(watch.cover(file()), 0u) << k.what;
    k.betweenCovers();
    watch.check();
    ASSERT_NE(watch.cover(k.second), 0u) << k.what;
    const uint64_t before = watch.check();
    k.change();
    EXPECT_NE(watch.check(), before) << k.what;
  }
  fs::permissions(c, fs::perms::owner_all);
}

TEST_F(FolderWatchTest, AFileSystemThatMayChangeUnseenIsNotCoveredBelowALocalOne) {
  host::FolderWatch watch;
  ASSERT_NE(watch.check(), 0u);
  ASSERT_NE(watch.cover(file()), 0u);  // the root's file system is known local now
  EXPECT_EQ(watch.cover("/proc/version"), 0u);
  EXPECT_NE(watch.cover(file()), 0u);
}

// The process's watch, dropped so that it starts afresh, and a clock the
// test sets.
class WatchedPathsTest : public FolderWatchTest {
 protected:
  WatchedPathsTest() { host::processFolderWatch().drop(); }
  ~WatchedPathsTest() override { host::processFolderWatch().drop(); }

  // Confirms `paths` until a confirmation holds, which takes three calls
  // while the folders above stay put.
  static void confirm(host::WatchedPaths& paths, const fs::path& path, uint64_t& generation) {
    for (int attempt = 0; attempt < 50; ++attempt) {
      generation = host::processFolderWatch().check();
      ASSERT_NE(generation, 0u);
      paths.confirm(generation, path);
      if (paths.unchanged(generation)) return;
    }
    FAIL() << "never confirmed";
  }

  static constexpr int64_t kSecond = host::kFileClockSecond;
  testing_support::FakeFileClock clock{1000 * kSecond};
};

// The inotify watches this process holds, as the kernel lists them.
size_t inotifyWatches() {
  size_t watches = 0;
  for (const auto& entry : fs::directory_iterator("/proc/self/fdinfo")) {
    std::ifstream info(entry.path());
    for (std::string line; std::getline(info, line);) watches += line.starts_with("inotify wd:");
  }
  return watches;
}

TEST_F(WatchedPathsTest, PathsAreCoveredAtTheirSecondConfirmationAndTrustedOnlyAfterIt) {
  // The first call adds no watch: a path looked at once is not worth twenty
  // system calls. A change made between the look at the file and its watch
  // being added goes unreported, so the call that covers a path cannot
  // confirm it either.
  host::WatchedPaths paths;
  uint64_t generation = host::processFolderWatch().check();
  ASSERT_NE(generation, 0u);
  const size_t before = inotifyWatches();
  paths.confirm(generation, file());
  EXPECT_FALSE(paths.unchanged(generation));
  EXPECT_EQ(inotifyWatches(), before);
  generation = host::processFolderWatch().check();
  paths.confirm(generation, file());
  EXPECT_FALSE(paths.unchanged(generation));
  EXPECT_GT(inotifyWatches(), before);
  confirm(paths, file(), generation);
}

TEST_F(WatchedPathsTest, AConfirmationHoldsForASecondOfTheFileClock) {
  const struct {
    const char* what;
    int64_t later;  // the clock at unchanged(), from the confirmation
    bool unchanged;
  } cases[] = {
      {"now", 0, true},
      {"a hair short of a second later", kSecond - 1, true},
      {"a second later", kSecond, false},
      {"an hour later", 3600 * kSecond, false},
      {"the clock set back", -1, false},
  };
  for (const auto& c : cases) {
    host::WatchedPaths paths;
    clock.set(1000 * kSecond);
    uint64_t generation = 0;
    confirm(paths, file(), generation);
    clock.set(1000 * kSecond + c.later);
    EXPECT_EQ(paths.unchanged(generation), c.unchanged) << c.what;
  }
}

// Guards against a lookup trusting the watch for a file it cannot see: when
// either of the two paths cannot be covered (a symbolic link on the way, a
// relative path), no call confirms them, however often it is made.
TEST_F(WatchedPathsTest, PathsTheWatchCannotSeeAreNeverConfirmed) {
  fs::create_directory_symlink(root / "a", root / "link");
  const std::string linked = (root / "link" / "b" / "44.txt").string();
  const struct {
    std::string first;
    std::string second;
  } cases[] = {{linked, ""}, {file(), linked}, {file(), "a/b/44.txt"}};
  for (const auto& c : cases) {
    host::WatchedPaths paths;
    for (int call = 0; call < 3; ++call) {
      const uint64_t generation = host::processFolderWatch().check();
      paths.confirm(generation, c.first, c.second);
      EXPECT_FALSE(paths.unchanged(generation)) << c.first << " and " << c.second;
    }
  }
}

}  // namespace
