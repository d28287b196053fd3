// Putting an install's files in place: a file that is not the installer's is
// never replaced or removed, nothing temporary is left behind, and what a
// killed installer left is known by its name.
#include "file_placement.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "atomic_file.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;

namespace {

using Outcome = zelvora::Placement::Outcome;

class Placement : public ::testing::Test {
 protected:
  fs::path folder() const { return device.path("/data"); }
  fs::path target() const { return folder() / "44.txt"; }
  std::string contents() const {
    if (fs::is_directory(target())) return "(folder)";
    return device.readFile("/data/44.txt").value_or("(none)");
  }

  testing_support::TempDevice device;
};

TEST_F(Placement, OnlyTheInstallersOwnFileIsReplacedOrRemoved) {
  const std::string old = "4420|Old\n";
  const std::string next = "4420|New\n";
  struct Case {
    const char* what;
    const char* standing;  // nullptr: nothing; "/": a folder
    bool replaceable;      // the old contents may be replaced and removed
    Outcome placed;
    std::string after;
    Outcome removed;
    std::string afterRemoval;
  } const cases[] = {
      {"a free name", nullptr, false, Outcome::done, next, Outcome::someones, next},
      {"the user's file, nothing of ours", "4420|Mine\n", false, Outcome::someones, "4420|Mine\n",
       Outcome::someones, "4420|Mine\n"},
      {"our old file", "4420|Old\n", true, Outcome::done, next, Outcome::someones, next},
      {"the user's file where ours was", "4420|Mine\n", true, Outcome::someones, "4420|Mine\n",
       Outcome::someones, "4420|Mine\n"},
      {"a folder where ours was", "/", true, Outcome::someones, "(folder)", Outcome::someones,
       "(folder)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(folder());
    fs::create_directories(folder());
    if (c.standing && std::string(c.standing) == "/") {
      fs::create_directories(target());
    } else if (c.standing) {
      device.writeFile("/data/44.txt", c.standing);
    }
    std::set<std::string> ours;
    if (c.replaceable) ours.insert(zelvora::contentChecksum(old));
    zelvora::Placement placed = zelvora::placeFile(target(), next, ours);
    EXPECT_EQ(placed.outcome, c.placed) << placed.error;
    EXPECT_EQ(contents(), c.after);
    // Removing with the old contents as the installer's: the new ones are not.
    zelvora::Placement removed = zelvora::removePlacedFile(target(), ours);
    EXPECT_EQ(removed.outcome, c.removed) << removed.error;
    EXPECT_EQ(contents(), c.afterRemoval);
    EXPECT_EQ(zelvora::findTemporaryFiles(folder()).files, 0u);
  }
  // The new contents as the installer's: removed; a second time there is
  // nothing left to remove.
  fs::remove_all(target());
  ASSERT_EQ(zelvora::placeFile(target(), next, {}).outcome, Outcome::done);
  const std::set<std::string> newOnes{zelvora::contentChecksum(next)};
  EXPECT_EQ(zelvora::removePlacedFile(target(), newOnes).outcome, Outcome::done);
  EXPECT_FALSE(fs::exists(target()));
  EXPECT_EQ(zelvora::removePlacedFile(target(), newOnes).outcome, Outcome::done);
}

TEST_F(Placement, TemporaryFilesAreKnownByTheirNamesAlone) {
  struct {
    const char* name;
    bool temporary;
  } const names[] = {
      {".44.txt.123.tmp", true},  {".zelvora-data-manifest.99.tmp", true},
      {".a.1.tmp", true},         {"44.txt", false},
      {".44.txt.tmp", false},     {"..123.tmp", false},
      {".44.txt.12a.tmp", false}, {"x.44.txt.1.tmp", false},
      {".44.txt.1.tmpx", false},  {".notes", false},
      {".44.txt..tmp", false},
  };
  fs::create_directories(folder());
  for (const auto& n : names) {
    EXPECT_EQ(zelvora::isTemporaryName(n.name), n.temporary) << n.name;
    device.writeFile(std::string("/data/") + n.name, "12345");
  }
  EXPECT_TRUE(zelvora::isTemporaryName(zelvora::temporaryNameFor(target()).filename().string()));
  fs::create_directories(folder() / ".folder.7.tmp");  // not a file: left alone
  const zelvora::LeftOver found = zelvora::findTemporaryFiles(folder());
  EXPECT_EQ(found.files, 3u);
  EXPECT_EQ(found.bytes, 15u);
  std::string error;
  const zelvora::LeftOver removed = zelvora::removeTemporaryFiles(folder(), error);
  EXPECT_EQ(error, "");
  EXPECT_EQ(removed.files, 3u);
  for (const auto& n : names) {
    EXPECT_EQ(fs::exists(folder() / n.name), !n.temporary) << n.name;
  }
  EXPECT_TRUE(fs::is_directory(folder() / ".folder.7.tmp"));
}

// A write or removal that cannot be made says what and why, leaves nothing
// temporary behind and leaves what stands at the name alone.
TEST_F(Placement, FailuresAreReportedAndLeaveNothingBehind) {
  fs::create_directories(folder() / "full" / "44.txt" / "x");
  device.writeFile("/data/plain", "x");
  const std::string tmp = ".44.txt." + std::to_string(::getpid()) + ".tmp";
  const fs::path missing = folder() / "missing" / "44.txt";
  struct {
    const char* what;
    zelvora::Placement got;
    std::string error;
  } const cases[] = {
      {"place in a missing folder", zelvora::placeFile(missing, "x", {}),
       "cannot write " + (folder() / "missing" / tmp).string()},
      {"remove under a plain file", zelvora::removePlacedFile(folder() / "plain" / "44.txt", {}),
       "cannot remove " + (folder() / "plain" / "44.txt").string() + ": Not a directory"},
      {"replace a folder atomically",
       {Outcome::failed, zelvora::writeFileAtomically(folder() / "full" / "44.txt", "x"), {}},
       "cannot write " + (folder() / "full" / "44.txt").string() + ": Is a directory"},
      {"atomically in a missing folder",
       {Outcome::failed, zelvora::writeFileAtomically(missing, "x"), {}},
       "cannot write " + (folder() / "missing" / tmp).string()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.got.outcome, Outcome::failed);
    EXPECT_EQ(c.got.error, c.error);
  }
  EXPECT_FALSE(fs::exists(folder() / "missing"));
  EXPECT_TRUE(fs::is_directory(folder() / "full" / "44.txt" / "x"));
  EXPECT_EQ(zelvora::findTemporaryFiles(folder() / "full").files, 0u);
}

}  // namespace
