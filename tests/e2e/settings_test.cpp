// Settings end to end: a change stored by the zelvora tool reaches a running
// home screen, the home screen's launch stores the home country it derives,
// and the tool's usage errors leave the stored settings alone.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "support/temp_device.h"

namespace {

using e2e::Texts;

// Guards the settings-changed notification and the rereading of the
// preferences: a running home screen uses a calling code set by another
// process at its next lookup, and its lookups do not write its older view of
// the settings back.
TEST(LiveSettings, ChangeByAnotherProcessReachesARunningHomeScreen) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  const std::string call = "call 030 1234567";
  e2e::Child home(
      {e2e::program("zelvora"), "--root", root, "--region", "GB", "springboard", "--verbose"});
  home.send(call + "\nanswer\n");
  ASSERT_TRUE(home.waitFor("-- answer\n")) << home.finish().err;
  EXPECT_EQ(e2e::setting(root, "countryCode"), "44\n");

  for (const char* code : {"33", "49"}) ASSERT_TRUE(e2e::storeSetting(root, "countryCode", code));
  home.send(call + "\nanswer\nquit\n");
  e2e::Outcome outcome = home.finish();
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.err, "");
  // Home 44 (region GB): 30 is no British area; home 49: Berlin.
  const e2e::Areas expected = {
      {call, {"Area Unknown "}}, {"answer", {}}, {call, {"Berlin"}}, {"answer", {}}};
  EXPECT_EQ(e2e::areasOf(outcome.out), expected) << outcome.out;
  EXPECT_EQ(e2e::setting(root, "countryCode"), "49\n");
  EXPECT_EQ(e2e::setting(root, "trunkPrefixx"), "0\n");
}

// Guards the home screen's launch: it derives the missing calling code from
// the region and the missing trunk prefix from the calling code in use, stores
// them, and keeps what is stored (an empty trunk prefix included).
TEST(Launch, HomeScreenStoresTheHomeCountryItDerives) {
  struct Case {
    std::string region;
    Texts stored;  // KEY VALUE pairs stored before the launch
    std::string countryCode, trunkPrefix;
  };
  const Case cases[] = {
      {"RU", {}, "7\n", "8\n"},
      {"IT", {}, "39\n", "\n"},
      {"RU", {"countryCode", "49"}, "49\n", "0\n"},
      {"RU", {"countryCode", "44", "trunkPrefixx", ""}, "44\n", "\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("region " + c.region + ", " + std::to_string(c.stored.size() / 2) + " stored");
    testing_support::TempDevice device;
    const std::string root = device.root();
    e2e::installLibrary(device);
    for (size_t i = 0; i < c.stored.size(); i += 2) {
      ASSERT_TRUE(e2e::storeSetting(root, c.stored[i], c.stored[i + 1]));
    }
    e2e::Outcome outcome =
        e2e::run({e2e::program("SpringBoard"), "--root", root, "--region", c.region}, "quit\n");
    ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
    EXPECT_EQ(outcome.out, "SpringBoard: home screen up, ZelvoraPro.dylib loaded\n");
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(e2e::setting(root, "countryCode"), c.countryCode);
    EXPECT_EQ(e2e::setting(root, "trunkPrefixx"), c.trunkPrefix);
    EXPECT_EQ(e2e::setting(root, "recents"), "(absent)");
  }
}

// Guards the tool's checks: a usage error gives one line on standard error and
// exit status 2 before anything is stored or rewritten.
TEST(UsageErrors, OneLineStatusTwoAndTheSettingsUntouched) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  ASSERT_TRUE(e2e::storeSetting(root, "recents", "3"));
  auto state = [&device] {
    struct stat info = {};
    ::stat(device.path(e2e::kPreferences).c_str(), &info);
    return device.readFile(e2e::kPreferences).value_or("(missing)") + "|" +
           std::to_string(info.st_ino) + "|" + std::to_string(info.st_mtim.tv_sec) + "." +
           std::to_string(info.st_mtim.tv_nsec);
  };
  const std::string before = state();
  ASSERT_TRUE(device.readFile(e2e::kPreferences));

  const Texts mistakes[] = {
      {"frobnicate"},
      {"call"},
      {"settings", "set", "recents", "abc"},
      {"settings", "set", "recents", "-5"},
      {"settings", "get", "nosuchkey"},
      {"settings", "set", "countryCode", "+44"},
      {"settings", "set", "foo", "1"},
      {"settings", "unset", "foo"},
      {"--region", "GBR", "settings", "set", "recents", "5"},
      {"--region", "GBR", "call", "+44 20 7946 0000"},
  };
  for (const Texts& arguments : mistakes) {
    std::string shown;
    for (const auto& argument : arguments) shown += " \"" + argument + "\"";
    SCOPED_TRACE("zelvora" + shown);
    e2e::Outcome outcome = e2e::zelvora(root, arguments);
    EXPECT_EQ(outcome.status, 2);
    EXPECT_EQ(outcome.out, "");
    EXPECT_TRUE(e2e::oneLine(outcome.err)) << outcome.err;
    EXPECT_EQ(state(), before);
  }
}

}  // namespace
