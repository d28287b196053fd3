// The index program that the build, the install and the package run: usage,
// which files it indexes, what --check reports, and what --mirror copies,
// keeps and removes.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "e2e/e2e_process.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using e2e::Texts;

e2e::Outcome indexProgram(Texts arguments) {
  arguments.insert(arguments.begin(), e2e::program("zelvora-index"));
  return e2e::run(arguments);
}

ino_t inodeOf(const std::string& path) {
  struct stat status {};
  return ::stat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

// Guards the usage rules: anything but FOLDER, --check FOLDER or
// --mirror SOURCE FOLDER is refused with status 2 and touches nothing.
TEST(IndexProgram, UsageErrorsAreRefused) {
  testing_support::TempDevice device;
  device.writeFile("/data/codes/44.txt", "4420|London\n");
  const std::string folder = device.path("/data");
  const Texts cases[] = {{},
                         {"--help"},
                         {"--check"},
                         {"--mirror", folder},
                         {"-x", folder},
                         {folder, folder},
                         {"--check", folder, folder},
                         {"--mirror", folder, folder, folder}};
  for (const Texts& arguments : cases) {
    SCOPED_TRACE(testing::PrintToString(arguments));
    const e2e::Outcome outcome = indexProgram(arguments);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.err, "usage: zelvora-index [--mirror SOURCE | --check] FOLDER\n");
  }
  EXPECT_FALSE(fs::exists(folder + "/codes/44.idx"));
}

// Guards which files get an index and when --check calls one current: only
// texts named by a calling code, orphaned indexes removed, a changed text
// reported until it is indexed again, a text that cannot be indexed named.
TEST(IndexProgram, IndexesCallingCodeTextsAndChecksThem) {
  testing_support::TempDevice device;
  device.writeFile("/data/codes/44.txt", "4420|London\n");
  device.writeFile("/data/codes/1.txt", "1212|New York\n");
  device.writeFile("/data/codes/notes.txt", "not a calling code\n");
  device.writeFile("/data/codes/999.idx", "an index whose text has gone");
  const std::string folder = device.path("/data");
  const std::string codes = folder + "/codes/";

  e2e::Outcome outcome = indexProgram({"--check", folder});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out,
            codes + "1.txt: no current index\n" + codes + "44.txt: no current index\n");
  EXPECT_TRUE(fs::exists(codes + "999.idx")) << "--check changes nothing";

  outcome = indexProgram({folder});
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_TRUE(fs::exists(codes + "44.idx"));
  EXPECT_TRUE(fs::exists(codes + "1.idx"));
  EXPECT_FALSE(fs::exists(codes + "notes.idx"));
  EXPECT_FALSE(fs::exists(codes + "999.idx"));
  outcome = indexProgram({"--check", folder});
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.out, "");

  device.writeFile("/data/codes/44.txt", "4420|Londres\n");
  outcome = indexProgram({"--check", folder});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.out, codes + "44.txt: no current index\n");

  device.writeFile("/data/codes/1.txt", "1212|New York \xff\n");  // not UTF-8
  outcome = indexProgram({folder});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_NE(outcome.err.find("zelvora-index: "), std::string::npos) << outcome.err;
  EXPECT_NE(outcome.err.find("1.txt"), std::string::npos) << outcome.err;
  EXPECT_EQ(indexProgram({"--check", folder}).out, codes + "1.txt: no current index\n")
      << "44.txt is indexed although 1.txt failed";

  fs::remove_all(codes);
  outcome = indexProgram({folder});
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err, "zelvora-index: no area-code files in " + folder + "/codes\n");
}

// Guards the build's copy of the bundled data: changed files are replaced
// (not written over), unchanged ones kept with their current index, files
// the source no longer has removed with their index.
TEST(IndexProgram, MirrorCopiesChangesKeepsTheUnchangedAndRemovesTheGone) {
  testing_support::TempDevice device;
  device.writeFile("/source/codes/44.txt", "4420|London\n");
  device.writeFile("/source/codes/1.txt", "1212|New York\n");
  device.writeFile("/source/codes/33.txt", "331|Paris\n");
  device.writeFile("/source/README", "the data\n");
  const std::string source = device.path("/source");
  const std::string folder = device.path("/copy");
  ASSERT_EQ(indexProgram({"--mirror", source, folder}).status, 0);
  EXPECT_EQ(device.readFile("/copy/README"), "the data\n");
  EXPECT_EQ(device.readFile("/copy/codes/33.txt"), "331|Paris\n");
  const ino_t kept = inodeOf(folder + "/codes/44.txt");
  const ino_t keptIndex = inodeOf(folder + "/codes/44.idx");
  fs::create_hard_link(folder + "/codes/1.txt", device.path("/old-1.txt"));

  device.writeFile("/source/codes/1.txt", "1212|Manhattan\n");
  fs::remove(source + "/codes/33.txt");
  const e2e::Outcome outcome = indexProgram({"--mirror", source, folder});
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(device.readFile("/copy/codes/1.txt"), "1212|Manhattan\n");
  EXPECT_EQ(device.readFile("/old-1.txt"), "1212|New York\n") << "written over, not replaced";
  EXPECT_EQ(inodeOf(folder + "/codes/44.txt"), kept);
  EXPECT_EQ(inodeOf(folder + "/codes/44.idx"), keptIndex);
  EXPECT_FALSE(fs::exists(folder + "/codes/33.txt"));
  EXPECT_FALSE(fs::exists(folder + "/codes/33.idx"));
  EXPECT_EQ(indexProgram({"--check", folder}).status, 0);

  const e2e::Outcome missing = indexProgram({"--mirror", source + "/nothing", folder});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("zelvora-index: cannot read " + source + "/nothing"),
            std::string::npos)
      << missing.err;
}

}  // namespace
