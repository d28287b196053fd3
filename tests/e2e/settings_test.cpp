// Settings end to end: a change stored by the zelvora tool reaches a running
// home screen, the home screen's launch stores the home country it derives,
// and the tool's usage errors leave the stored settings alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "support/temp_device.h"

namespace {

using e2e::cleanExit;
using e2e::describe;
using e2e::Outcome;
using e2e::setting;
using e2e::storeSetting;
using Texts = std::vector<std::string>;

// The windows printed so far for `command`.
std::vector<e2e::Window> windowsFor(const std::string& out, const std::string& command) {
  std::vector<e2e::Window> found;
  for (auto& window : e2e::windowsOf(out)) {
    if (window.command == command) found.push_back(window);
  }
  return found;
}

size_t count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(LiveSettings, ChangeByAnotherProcessReachesARunningHomeScreen) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  e2e::Child home({e2e::program("zelvora"), "--root", root, "--region", "GB", "springboard"});
  ASSERT_TRUE(home.readUntilText("home screen up")) << home.out() << home.err();
  EXPECT_NE(home.out().find("ZelvoraPro.dylib loaded"), std::string::npos) << home.out();
  // The library listens for settings changes: the home screen has announced
  // itself to the Darwin centre of this device.
  std::error_code error;
  EXPECT_FALSE(std::filesystem::is_empty(root + "/var/run/notify", error) || error)
      << error.message();

  const std::string call = "call 030 1234567";
  // Each window is complete once the next command's header follows it.
  ASSERT_TRUE(home.send(call + "\nanswer\n"));
  ASSERT_TRUE(home.readUntilText("-- answer\n")) << home.out() << home.err();
  auto before = windowsFor(home.out(), call);
  ASSERT_EQ(before.size(), 1u) << home.out();
  // Home 44 (from region GB): 30 is no British area.
  EXPECT_EQ(e2e::areaTexts(before[0]), Texts{"Area Unknown "}) << home.out();
  EXPECT_EQ(setting(root, "countryCode"), "44\n");

  // Several changes in a row; only the last value matters.
  for (const char* code : {"33", "1", "49"}) {
    ASSERT_NO_FATAL_FAILURE(storeSetting(root, "countryCode", code));
  }

  ASSERT_TRUE(home.send(call + "\nanswer\n"));
  ASSERT_TRUE(home.readUntil([](const std::string& out) { return count(out, "-- answer\n") == 2; }))
      << home.out() << home.err();
  auto after = windowsFor(home.out(), call);
  ASSERT_EQ(after.size(), 2u) << home.out();
  EXPECT_EQ(e2e::areaTexts(after[1]), Texts{"Berlin"}) << home.out();

  ASSERT_TRUE(home.send("quit\n"));
  Outcome outcome = home.finish();
  EXPECT_TRUE(cleanExit(outcome)) << describe(outcome);
  EXPECT_EQ(outcome.err, "");
  // The home screen's lookups did not put its older view of the settings back.
  EXPECT_EQ(setting(root, "countryCode"), "49\n");
  EXPECT_EQ(setting(root, "trunkPrefixx"), "0\n");
}

// ---- the home screen's launch

struct LaunchCase {
  std::string region;
  Texts settingsBefore;  // KEY VALUE pairs stored before the launch
  std::string countryCode;
  std::string trunkPrefix;
};

TEST(Launch, HomeScreenStoresTheHomeCountryItDerives) {
  const std::vector<LaunchCase> cases = {
      {"RU", {}, "7\n", "8\n"},
      {"GB", {}, "44\n", "0\n"},
      {"US", {}, "1\n", "1\n"},
      {"IT", {}, "39\n", "\n"},
      // A stored calling code is kept; only the missing trunk prefix is derived from it.
      {"RU", {"countryCode", "49"}, "49\n", "0\n"},
      // Both stored: nothing changes, the empty trunk prefix included.
      {"RU", {"countryCode", "44", "trunkPrefixx", ""}, "44\n", "\n"},
  };
  for (const auto& c : cases) {
    testing_support::TempDevice device;
    const std::string root = device.root();
    SCOPED_TRACE("region " + c.region + " with " + std::to_string(c.settingsBefore.size() / 2) +
                 " settings stored");
    e2e::installLibrary(root);
    for (size_t i = 0; i + 1 < c.settingsBefore.size(); i += 2) {
      ASSERT_NO_FATAL_FAILURE(storeSetting(root, c.settingsBefore[i], c.settingsBefore[i + 1]));
    }
    if (c.settingsBefore.empty()) {
      ASSERT_FALSE(e2e::readFile(e2e::preferencesFile(root)));
    }

    Outcome outcome =
        e2e::run({e2e::program("SpringBoard"), "--root", root, "--region", c.region}, "quit\n");
    ASSERT_TRUE(cleanExit(outcome)) << describe(outcome);
    EXPECT_EQ(outcome.out, "SpringBoard: home screen up, ZelvoraPro.dylib loaded\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(setting(root, "countryCode"), c.countryCode);
    EXPECT_EQ(setting(root, "trunkPrefixx"), c.trunkPrefix);
    EXPECT_EQ(setting(root, "recents"), "(absent)");
  }
}

// ---- the tool's usage errors

struct FileState {
  std::string contents;
  ino_t inode = 0;
  struct timespec modified = {};
};

FileState stateOf(const std::string& path) {
  FileState state;
  state.contents = e2e::readFile(path).value_or("(missing)");
  struct stat info = {};
  if (::stat(path.c_str(), &info) == 0) {
    state.inode = info.st_ino;
    state.modified = info.st_mtim;
  }
  return state;
}

TEST(UsageErrors, OneLineStatusTwoAndTheSettingsUntouched) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  for (auto [key, value] :
       {std::pair{"countryCode", "44"}, {"trunkPrefixx", "0"}, {"recents", "3"}}) {
    ASSERT_NO_FATAL_FAILURE(storeSetting(root, key, value));
  }
  const std::string file = e2e::preferencesFile(root);
  const FileState before = stateOf(file);
  ASSERT_NE(before.contents, "(missing)");
  const std::string listed = e2e::zelvora(root, {"settings"}).out;

  const std::vector<Texts> mistakes = {
      {"frobnicate"},
      {"call"},
      {"call", "--outgoing"},
      {"call", "1", "2"},
      {"recents"},
      {"recents", "1", "--outgoing"},
      {"springboard", "now"},
      {"settings", "set", "recents", "abc"},
      {"settings", "set", "recents", "2.5"},
      {"settings", "set", "recents", "99999999999"},
      {"settings", "set", "countryCode", "+44"},
      {"settings", "set", "countryCode", ""},
      {"settings", "set", "trunkPrefixx", "0x"},
      {"settings", "set", "foo", "1"},
      {"settings", "set", "recents"},
      {"settings", "unset", "foo"},
      {"settings", "frob"},
      {"--region", "GBR", "settings", "set", "recents", "5"},
      {"--region", "GBR", "call", "+44 20 7946 0000"},
      {"--region", "GBR", "recents", "+44 20 7946 0000"},
      {"--region", "GBR", "home"},
      {"--region"},
      {"--colour", "home"},
  };
  for (const auto& arguments : mistakes) {
    std::string shown;
    for (const auto& argument : arguments) shown += " \"" + argument + "\"";
    SCOPED_TRACE("zelvora" + shown);
    Outcome outcome = e2e::zelvora(root, arguments);
    EXPECT_TRUE(outcome.exited && outcome.status == 2) << describe(outcome);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(e2e::linesOf(outcome.err).size(), 1u) << outcome.err;
    EXPECT_TRUE(outcome.err.ends_with("\n")) << outcome.err;

    const FileState after = stateOf(file);
    EXPECT_EQ(after.contents, before.contents);
    EXPECT_EQ(after.inode, before.inode);
    EXPECT_EQ(after.modified.tv_sec, before.modified.tv_sec);
    EXPECT_EQ(after.modified.tv_nsec, before.modified.tv_nsec);
  }
  EXPECT_EQ(e2e::zelvora(root, {"settings"}).out, listed);
}

}  // namespace
