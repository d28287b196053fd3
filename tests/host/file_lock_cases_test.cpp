// Locks that cannot be taken for reasons other than another process (file_lock.h),
// and the seconds that messages tell.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/foundation/file_lock.h"
#include "support/temp_device.h"
#include "support/unprivileged.h"

namespace fs = std::filesystem;

namespace {

TEST(FileLockCases, SecondsAreToldWithoutTrailingZeros) {
  struct Case {
    int64_t ns;
    const char* text;
  };
  const Case cases[] = {
      {0, "0 s"},
      {2000000000, "2 s"},
      {10000000000, "10 s"},
      {500000000, "0.5 s"},
      {1250000000, "1.25 s"},
      {1234567, "0.001 s"},
      {100000000000, "100 s"},
  };
  for (const Case& c : cases) EXPECT_EQ(host::describeSeconds(c.ns), c.text);
}

// Guards against a lock that could not even be opened being reported as held,
// or as busy (a caller would then wait and retry in vain), and against the
// reason being lost.
TEST(FileLockCases, ALockThatCannotBeOpenedSaysWhy) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  fs::permissions(root, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  std::ofstream(root + "/file") << "x";
  fs::create_directory(root + "/shut");
  std::ofstream(root + "/shut/existing") << "";
  fs::permissions(root + "/shut/existing", fs::perms::none);
  fs::permissions(root + "/shut", fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_exec | fs::perms::others_exec);
  const host::LockWait wait{};

  host::FileLock underFile(root + "/file/sub/lock", wait);
  EXPECT_FALSE(underFile.held());
  EXPECT_FALSE(underFile.busy());
  EXPECT_EQ(underFile.error().rfind("cannot create " + root + "/file/sub: ", 0), 0u)
      << underFile.error();
  // A name the folder cannot hold: opening fails for a reason other than a
  // missing file, and that reason is the one told.
  const std::string tooLong = root + "/" + std::string(256, 'n');
  host::FileLock unnamable(tooLong, wait);
  EXPECT_FALSE(unnamable.held() || unnamable.busy());
  EXPECT_EQ(unnamable.error(),
            "cannot open the lock " + tooLong + ": " + std::strerror(ENAMETOOLONG));

  // Unprivileged, in a folder that may not be written: neither a new lock
  // file nor an existing one of mode 000 opens, and both say so.
  struct Case {
    std::string path;
    std::string error;
  };
  const Case cases[] = {
      {root + "/shut/new", "cannot open the lock " + root + "/shut/new: permission denied"},
      {root + "/shut/existing",
       "cannot open the lock " + root + "/shut/existing: permission denied"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    int status = testing_support::runUnprivileged([&] {
      host::FileLock lock(c.path, wait);
      return !lock.held() && !lock.busy() && lock.error() == c.error;
    });
    if (status == testing_support::kCannotDropPrivileges)
      GTEST_SKIP() << "cannot become unprivileged";
    EXPECT_EQ(status, 0);
  }
  fs::permissions(root + "/shut", fs::perms::owner_all);
}

}  // namespace
