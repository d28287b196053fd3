// Reading whole files: special files never block, limits are kept without
// reading the whole file, and every failure says why.
#include "host/foundation/files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "support/temp_device.h"
#include "support/unprivileged.h"

namespace fs = std::filesystem;
using host::FileProblem;
using Kind = host::FileProblem::Kind;

namespace {

struct Folder {
  Folder() {
    fs::permissions(device.root(),
                    fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
  }
  std::string path(const std::string& name) const { return device.root() + "/" + name; }
  testing_support::TempDevice device;
};

void write(const std::string& path, const std::string& contents) {
  std::ofstream(path, std::ios::binary) << contents;
}

// Guards against blocking on a FIFO (the read would wait for a writer for
// ever), reading a device or folder as if it were a file, and losing the
// reason a caller needs to tell "absent" from "there but unreadable".
TEST(Files, EachKindOfPathGivesItsReason) {
  Folder folder;
  write(folder.path("plain"), "contents\n");
  write(folder.path("empty"), "");
  ASSERT_EQ(::mkfifo(folder.path("fifo").c_str(), 0644), 0);
  fs::create_directory(folder.path("folder"));
  int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::string socketPath = folder.path("socket");
  ASSERT_LT(socketPath.size(), sizeof address.sun_path);
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  struct Case {
    std::string path;
    Kind kind;
    const char* contents;
  };
  const Case cases[] = {
      {folder.path("plain"), Kind::none, "contents\n"},
      {folder.path("empty"), Kind::none, ""},
      {folder.path("absent"), Kind::missing, nullptr},
      {folder.path("plain/below"), Kind::missing, nullptr},
      {folder.path("fifo"), Kind::notRegularFile, nullptr},
      {folder.path("socket"), Kind::notRegularFile, nullptr},
      {"/dev/zero", Kind::notRegularFile, nullptr},
      {folder.path("folder"), Kind::folder, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    FileProblem problem{Kind::ioError, 5};
    std::string contents = "stale";
    bool read = host::readWholeFile(c.path, contents, 1024, &problem);
    EXPECT_EQ(problem.kind, c.kind) << problem.describe();
    EXPECT_EQ(read, c.contents != nullptr);
    EXPECT_EQ(contents, c.contents ? c.contents : "");
  }
  ::close(sock);
  EXPECT_EQ(FileProblem{Kind::folder}.describe(), "a folder, not a regular file");
  EXPECT_EQ(FileProblem{Kind::permissionDenied}.describe(), "permission denied");
}

// Guards against reading a huge file whole before noticing that it is too
// large: a sparse file of many gigabytes is refused at once, and a file exactly
// at the limit is still read.
TEST(Files, TheSizeLimitHoldsWithoutReadingTheFile) {
  Folder folder;
  const std::string huge = folder.path("huge");
  { std::ofstream create(huge); }
  fs::resize_file(huge, uint64_t{64} << 30);  // sparse: no blocks written
  FileProblem problem;
  EXPECT_FALSE(host::readFileBytes(huge, host::kDefaultMaxFileBytes, &problem));
  EXPECT_EQ(problem.kind, Kind::tooLarge);
  EXPECT_FALSE(host::readFileBytes(huge));  // the default limit applies too

  write(folder.path("limit"), std::string(100, 'x'));
  auto atLimit = host::readFileBytes(folder.path("limit"), 100, &problem);
  ASSERT_TRUE(atLimit);
  EXPECT_EQ(atLimit->view().size(), 100u);
  EXPECT_FALSE(host::readFileBytes(folder.path("limit"), 99, &problem));
  EXPECT_EQ(problem.kind, Kind::tooLarge);
}

// Guards against a file that exists but may not be read being reported as
// absent (a caller would then take it for an empty one and write over it).
// Root reads every file, so the check runs as an unprivileged user.
TEST(Files, AFileThatMayNotBeReadIsPermissionDenied) {
  Folder folder;
  const std::string locked = folder.path("locked");
  write(locked, "secret");
  ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
  int status = testing_support::runUnprivileged([&] {
    FileProblem problem;
    std::string contents;
    return !host::readWholeFile(locked, contents, 1024, &problem) &&
           problem.kind == Kind::permissionDenied && !problem.missing();
  });
  if (status == testing_support::kCannotDropPrivileges) {
    GTEST_SKIP() << "cannot become an unprivileged user, and root may read any file";
  }
  EXPECT_EQ(status, 0);
}

// A line of /proc/<pid>/`name`.
std::string procLine(pid_t pid, const std::string& name) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/" + name);
  std::string line;
  std::getline(file, line);
  return line;
}

// Whether process `pid` sleeps in the open of a FIFO, waiting for a reader.
// Its state shows 'R' from the moment a reader's open wakes it.
bool waitsForAReader(pid_t pid) {
  const std::string stat = procLine(pid, "stat");
  const size_t name = stat.rfind(')');
  const std::string wchan = procLine(pid, "wchan");
  return name != std::string::npos && stat.compare(name, 3, ") S") == 0 &&
         (wchan == "wait_for_partner" || wchan == "fifo_open");
}

// Guards against opening what stands at the path before looking at it: even
// without blocking, opening a FIFO for reading lets go a writer that waits on
// it for a reader, which then writes to nobody. After each read the writer,
// seen waiting in its open beforehand, must wait still.
TEST(Files, AFifoIsNotOpenedSoAWriterWaitingOnItWaitsStill) {
  Folder folder;
  const std::string fifo = folder.path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const pid_t writer = ::fork();
  if (writer == 0) ::_exit(::open(fifo.c_str(), O_WRONLY) >= 0 ? 0 : 1);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!waitsForAReader(writer) && std::chrono::steady_clock::now() < until) ::usleep(1000);
  const bool waiting = waitsForAReader(writer);

  const std::function<bool()> reads[] = {
      [&] {
        std::string contents;
        return host::readWholeFile(fifo, contents);
      },
      [&] { return host::readFileBytes(fifo).has_value(); },
      [&] {
        FileProblem problem;
        uint64_t size = 0;
        const int fd = host::openRegularFile(fifo, problem, size);
        if (fd >= 0) ::close(fd);
        return fd >= 0 || problem.kind != Kind::notRegularFile;
      },
      // The look the caller took stands for the reader's own.
      [&] {
        const host::FileVersion seen = host::statFileVersion(fifo);
        std::string contents;
        return host::readWholeFile(fifo, contents, 1024, nullptr, &seen);
      },
  };
  for (size_t i = 0; waiting && i < std::size(reads); ++i) {
    EXPECT_FALSE(reads[i]()) << "read " << i;
    EXPECT_TRUE(waitsForAReader(writer)) << "read " << i << " let the writer go";
  }
  // A reader of our own lets it go, so that it ends.
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  int status = -1;
  ::waitpid(writer, &status, 0);
  ::close(reader);
  ASSERT_TRUE(waiting) << "the writer was never seen waiting in its open";
  EXPECT_EQ(status, 0);
}

}  // namespace
