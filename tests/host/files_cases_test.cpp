// Reading whole files (files.h), case by case: a file that grew since it was
// measured, descriptors that cannot be read, paths the system refuses, and
// the words each problem is told in.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/foundation/files.h"
#include "support/temp_device.h"
#include "support/unprivileged.h"

namespace fs = std::filesystem;
using host::FileProblem;
using Kind = host::FileProblem::Kind;

namespace {

struct Folder {
  Folder() {
    fs::permissions(device.root(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
  }
  std::string path(const std::string& name) const { return device.root() + "/" + name; }
  std::string write(const std::string& name, const std::string& contents) const {
    std::ofstream(path(name), std::ios::binary) << contents;
    return path(name);
  }
  testing_support::TempDevice device;
};

// Guards the buffer growing past the measured size (the file may grow
// between fstat and read): all of it is read from its first byte, up to the
// limit and no further, and the descriptor's position stays where it was.
TEST(FilesCases, AFileLargerThanMeasuredIsReadWholeOrRefused) {
  Folder folder;
  std::string contents;
  for (int i = 0; i < 100; ++i) contents += char('a' + i % 26);
  const int fd = ::open(folder.write("grown", contents).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::lseek(fd, 10, SEEK_SET), 10);
  struct Case {
    uint64_t measured;
    size_t limit;
    bool read;
  };
  const Case cases[] = {
      {0, 1000, true}, {1, 1000, true}, {3, 100, true},  {0, 100, true},
      {0, 99, false},  {1, 50, false},  {99, 99, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.measured << " measured, limit " << c.limit);
    FileProblem problem{Kind::ioError, 5};
    auto bytes = host::readOpenFile(fd, c.measured, c.limit, &problem);
    EXPECT_EQ(bool(bytes), c.read);
    EXPECT_EQ(problem.kind, c.read ? Kind::none : Kind::tooLarge);
    if (bytes) {
      EXPECT_EQ(bytes->view(), contents);
    }
    EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 10);
  }
  ::close(fd);
}

// Guards the reason given when a descriptor cannot be read, and when the
// system refuses a path for a reason other than the usual ones.
TEST(FilesCases, EachSystemErrorGivesItsReason) {
  Folder folder;
  const std::string plain = folder.write("plain", "x");
  fs::create_directory(folder.path("folder"));
  fs::create_symlink("loop", folder.path("loop"));
  const int writeOnly = ::open(plain.c_str(), O_WRONLY | O_CLOEXEC);
  const int directory = ::open(folder.path("folder").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ASSERT_GE(writeOnly, 0);
  ASSERT_GE(directory, 0);
  struct ReadCase {
    int fd;
    Kind kind;
    int error;
  };
  for (const ReadCase& c :
       {ReadCase{writeOnly, Kind::ioError, EBADF}, ReadCase{directory, Kind::folder, EISDIR},
        ReadCase{-1, Kind::ioError, EBADF}}) {
    SCOPED_TRACE(c.fd);
    FileProblem problem;
    EXPECT_FALSE(host::readOpenFile(c.fd, 1, 100, &problem));
    EXPECT_EQ(problem.kind, c.kind);
    EXPECT_EQ(problem.error, c.error);
  }
  ::close(writeOnly);
  ::close(directory);

  struct PathCase {
    std::string path;
    Kind kind;
    int error;
  };
  const PathCase paths[] = {
      {folder.path("loop"), Kind::ioError, ELOOP},
      {folder.path(std::string(5000, 'n')), Kind::ioError, ENAMETOOLONG},
      {"", Kind::missing, ENOENT},
      {plain + "/below", Kind::missing, ENOTDIR},
  };
  for (const PathCase& c : paths) {
    SCOPED_TRACE(c.path.substr(0, 80));
    FileProblem problem;
    std::string contents = "stale";
    EXPECT_FALSE(host::readWholeFile(c.path, contents, 100, &problem));
    EXPECT_EQ(contents, "");
    EXPECT_EQ(problem.kind, c.kind);
    EXPECT_EQ(problem.error, c.error);
    EXPECT_FALSE(host::readFileBytes(c.path));  // no problem asked for: still refused
  }
}

TEST(FilesCases, EachProblemIsToldInItsOwnWords) {
  struct Case {
    FileProblem problem;
    std::string words;
  };
  const Case cases[] = {
      {{Kind::none}, ""},
      {{Kind::missing, ENOENT}, "no such file"},
      {{Kind::folder}, "a folder, not a regular file"},
      {{Kind::notRegularFile}, "not a regular file"},
      {{Kind::permissionDenied}, "permission denied"},
      {{Kind::tooLarge}, "too large"},
      {{Kind::ioError, 0}, "I/O error"},
      {{Kind::ioError, ELOOP}, std::strerror(ELOOP)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.problem.describe(), c.words);
    EXPECT_EQ(c.problem.failed(), c.problem.kind != Kind::none);
    EXPECT_EQ(c.problem.missing(), c.problem.kind == Kind::missing);
  }
}

// Guards against a file in a folder that may not be searched being taken for
// absent. Root searches every folder, so the check runs unprivileged.
TEST(FilesCases, AFileInAFolderThatMayNotBeSearchedIsPermissionDenied) {
  Folder folder;
  fs::create_directory(folder.path("closed"));
  folder.write("closed/file", "secret");
  fs::permissions(folder.path("closed"), fs::perms::none);
  int status = testing_support::runUnprivileged([&] {
    FileProblem problem;
    std::string contents;
    return !host::readWholeFile(folder.path("closed/file"), contents, 100, &problem) &&
           problem.kind == Kind::permissionDenied && problem.error == EACCES;
  });
  fs::permissions(folder.path("closed"), fs::perms::owner_all);
  if (status == testing_support::kCannotDropPrivileges)
    GTEST_SKIP() << "cannot become unprivileged";
  EXPECT_EQ(status, 0);
}

}  // namespace
