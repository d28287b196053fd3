// The folder watch: every kind of change at a covered path moves the
// generation on, including changes made by another process, and paths it
// cannot see are not covered.
#include "host/foundation/folder_watch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

namespace {

namespace fs = std::filesystem;

class FolderWatchTest : public ::testing::Test {
 protected:
  FolderWatchTest() {
    std::string pattern = (fs::temp_directory_path() / "zelvora-watch-XXXXXX").string();
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

}  // namespace
