// The racily-clean rule: a version is taken for the file while a stat shows
// it unchanged only once its change time is safely older than the moment it
// was read; a change time ahead of the clock, for a second at a time.
#include "host/foundation/file_version.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

namespace {

constexpr int64_t kSecond = host::kFileClockSecond;
constexpr int64_t kForEver = std::numeric_limits<int64_t>::max();

TEST(FileVersion, TrustedByItsChangeTimeAgainstTheRead) {
  const int64_t readAt = 100 * kSecond;
  struct {
    const char* what;
    bool present;
    int64_t modified, changed;
    int64_t trustedUntil;
  } const cases[] = {
      {"absent", false, 0, 0, kForEver},
      {"fine times, a second old", true, readAt - kSecond + 7, readAt - kSecond + 7, kForEver},
      {"fine times, changed within a tick", true, readAt - kSecond + 7, readAt - kSecond / 100 + 7,
       readAt},
      {"fine times, changed a hair after the read", true, readAt, readAt + 7, readAt},
      {"whole seconds, one second old", true, readAt - kSecond, readAt - kSecond, readAt},
      {"whole seconds, three seconds old", true, readAt - 3 * kSecond, readAt - 3 * kSecond,
       kForEver},
      {"modified in 2030, changed a second ago", true, 1893456000 * kSecond + 7,
       readAt - kSecond + 7, kForEver},
      {"changed an hour ahead of the clock", true, readAt + 3600 * kSecond + 7,
       readAt + 3600 * kSecond + 7, readAt + kSecond},
  };
  for (const auto& c : cases) {
    host::FileVersion version;
    version.present = c.present;
    version.modifiedNs = c.modified;
    version.changedNs = c.changed;
    EXPECT_EQ(host::trustedUntil(version, readAt), c.trustedUntil) << c.what;
  }
}

TEST(FileVersion, AnyFieldThatDiffersMakesAnotherVersion) {
  host::FileVersion base;
  base.present = true;
  base.device = 8;
  base.inode = 1234;
  base.mode = S_IFREG | 0644;
  base.size = 12;
  base.modifiedNs = 100 * kSecond + 7;
  base.changedNs = 100 * kSecond + 9;
  const struct {
    const char* what;
    void (*change)(host::FileVersion&);
  } cases[] = {
      {"absent", [](host::FileVersion& v) { v.present = false; }},
      {"another device", [](host::FileVersion& v) { ++v.device; }},
      {"another inode (replaced by rename)", [](host::FileVersion& v) { ++v.inode; }},
      {"another mode", [](host::FileVersion& v) { v.mode = S_IFREG; }},
      {"another size", [](host::FileVersion& v) { ++v.size; }},
      {"modified a nanosecond later", [](host::FileVersion& v) { ++v.modifiedNs; }},
      {"changed a nanosecond later", [](host::FileVersion& v) { ++v.changedNs; }},
  };
  for (const auto& c : cases) {
    host::FileVersion other = base;
    c.change(other);
    EXPECT_FALSE(other == base) << c.what;
  }
}

TEST(FileVersion, ASameSizeRewriteWithItsModificationTimePutBackIsAnotherVersion) {
  std::string folder = (std::filesystem::temp_directory_path() / "zelvora-version-XXXXXX").string();
  ASSERT_NE(::mkdtemp(folder.data()), nullptr);
  const std::string path = folder + "/44.txt";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::pwrite(fd, "4420|London\n", 12, 0), 12);
  struct stat before {};
  ASSERT_EQ(::fstat(fd, &before), 0);
  const host::FileVersion read = host::statFileVersion(path);
  // Written again, as "touch -r" would leave it, until the file clock has
  // moved on from the first write (a tick at most).
  host::FileVersion rewritten = read;
  for (int tries = 0; tries < 10000000 && rewritten.changedNs == read.changedNs; ++tries) {
    ASSERT_EQ(::pwrite(fd, "4420|Lisbon\n", 12, 0), 12);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::futimens(fd, times), 0);
    rewritten = host::statFileVersion(path);
  }
  ::close(fd);
  std::filesystem::remove_all(folder);
  ASSERT_NE(rewritten.changedNs, read.changedNs) << "the file clock never moved on";
  EXPECT_EQ(rewritten.modifiedNs, read.modifiedNs);
  EXPECT_EQ(rewritten.size, read.size);
  EXPECT_FALSE(rewritten == read);
}

}  // namespace
