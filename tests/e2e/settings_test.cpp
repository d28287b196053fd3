// Settings end to end: a change stored by the zelvora tool reaches a running
// home screen, the home screen's launch stores the home country it derives,
// and the tool's usage errors leave the stored settings alone.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
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

// Guards against a store that cannot be shown being shown as empty, and
// against a failed store not saying why: `settings` and `settings get` say on
// standard error that the store is corrupt or unreadable and exit 1; `settings
// set` names the reason, and never replaces what it could not read.
TEST(BrokenStore, ReadingSaysWhyAndStoringNeverReplacesWhatCannotBeRead) {
  struct Case {
    std::string name;
    std::function<void(const testing_support::TempDevice&)> make;
    std::string reason;
    bool storable;  // a corrupt file is kept aside and replaced
  };
  auto deep = [](const testing_support::TempDevice& device) {
    std::string text = "<?xml version=\"1.0\"?><plist><dict><key>k</key>";
    for (int i = 0; i < 200000; ++i) text += "<array>";
    device.writeFile(e2e::kPreferences, text);
  };
  const Case cases[] = {
      {"corrupt", [](auto& d) { d.writeFile(e2e::kPreferences, "recents = 3"); },
       "not a property list", true},
      {"fifo",
       [](auto& d) {
         d.writeFile(e2e::kPreferences, "");
         std::filesystem::remove(d.path(e2e::kPreferences));
         ::mkfifo(d.path(e2e::kPreferences).c_str(), 0644);
       },
       "not a regular file", false},
      {"folder", [](auto& d) { std::filesystem::create_directories(d.path(e2e::kPreferences)); },
       "a folder, not a regular file", false},
      {"deep", deep, "nested too deeply", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDevice device;
    const std::string root = device.root();
    c.make(device);
    for (const Texts& reading : {Texts{"settings"}, Texts{"settings", "get", "recents"}}) {
      e2e::Outcome outcome = e2e::zelvora(root, reading);
      EXPECT_EQ(outcome.status, 1);
      EXPECT_EQ(outcome.out, "");
      EXPECT_TRUE(e2e::oneLine(outcome.err)) << outcome.err;
      EXPECT_NE(outcome.err.find(c.reason), std::string::npos) << outcome.err;
    }
    e2e::Outcome stored = e2e::zelvora(root, {"settings", "set", "recents", "3"});
    if (c.storable) {
      EXPECT_EQ(stored.status, 0) << e2e::describe(stored);
      EXPECT_EQ(device.readFile(std::string(e2e::kPreferences) + ".corrupt"), "recents = 3");
      EXPECT_EQ(e2e::setting(root, "recents"), "3\n");
    } else {
      EXPECT_EQ(stored.status, 1);
      EXPECT_EQ(stored.err, "zelvora: could not store the preferences in " +
                                device.path(e2e::kPreferences) + ": " + c.reason + "\n");
      EXPECT_FALSE(std::filesystem::exists(device.path(e2e::kPreferences) + ".corrupt"));
    }
  }
  // Only an absent key is silent.
  testing_support::TempDevice device;
  ASSERT_TRUE(e2e::storeSetting(device.root(), "recents", "3"));
  e2e::Outcome absent = e2e::zelvora(device.root(), {"settings", "get", "countryCode"});
  EXPECT_EQ(absent.status, 1);
  EXPECT_EQ(absent.out + absent.err, "");
}

// Guards the listing of a store that holds values of every kind, as another
// program or an older version may have written them: each shown in one line
// with its kind, collections with what they hold, dates in UTC; a listing
// longer than the output buffer is written whole; an empty store lists nothing.
TEST(Listing, EveryKindOfValueInOneLine) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  e2e::Outcome empty = e2e::zelvora(root, {"settings"});
  EXPECT_EQ(empty.status, 0) << e2e::describe(empty);
  EXPECT_EQ(empty.out + empty.err, "");

  std::string many, manyShown;
  for (int i = 0; i < 3000; ++i) {
    many += "<integer>" + std::to_string(i) + "</integer>";
    manyShown += (i ? ", " : "") + std::to_string(i);
  }
  device.writeFile(e2e::kPreferences,
                   "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                   "<key>a</key><array><string>x</string><true/><array/></array>"
                   "<key>b</key><false/>"
                   "<key>countryCode</key><integer>44</integer>"
                   "<key>d</key><dict><key>k</key><real>2.5</real><key>l</key><dict/></dict>"
                   "<key>e</key><data>AAEC</data>"
                   "<key>f</key><date>2021-03-04T05:06:07Z</date>"
                   "<key>many</key><array>" +
                       many +
                       "</array>"
                       "<key>r</key><real>-0.125</real>"
                       "<key>trunkPrefixx</key><string></string>"
                       "</dict></plist>\n");
  e2e::Outcome listed = e2e::zelvora(root, {"settings"});
  EXPECT_EQ(listed.status, 0) << e2e::describe(listed);
  EXPECT_EQ(listed.err, "");
  EXPECT_EQ(listed.out,
            "a\t[x, true, []]\tarray\n"
            "b\tfalse\tboolean\n"
            "countryCode\t44\tinteger\n"
            "d\t{k: 2.5, l: {}}\tdictionary\n"
            "e\t3 bytes\tdata\n"
            "f\t2021-03-04T05:06:07Z\tdate\n"
            "many\t[" +
                manyShown +
                "]\tarray\n"
                "r\t-0.125\treal\n"
                "trunkPrefixx\t\ttext\n");
}

// Guards the attack the user meets: a preferences file the home screen may not
// read (mode 000) holding countryCode 49 and recents 7. Started as an
// unprivileged user, the home screen must warn and keep the file as it is,
// not move it aside and store values derived from the region. Root reads any
// file, so the programs run as "nobody" through setpriv.
TEST(BrokenStore, AHomeScreenThatMayNotReadTheSettingsKeepsThem) {
  if (::geteuid() != 0 || ::access("/usr/bin/setpriv", X_OK) != 0) {
    GTEST_SKIP() << "needs root and setpriv to run the home screen as an unprivileged user";
  }
  testing_support::TempDevice device;
  const std::string root = device.root();
  e2e::installLibrary(device);
  ASSERT_TRUE(e2e::storeSetting(root, "countryCode", "49"));
  ASSERT_TRUE(e2e::storeSetting(root, "recents", "7"));
  const std::string file = device.path(e2e::kPreferences);
  const auto before = device.readFile(e2e::kPreferences);
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  for (std::filesystem::path p = std::filesystem::path(file).parent_path();
       p.string().size() >= root.size(); p = p.parent_path()) {
    ::chmod(p.c_str(), 0777);
  }
  const Texts asNobody = e2e::asNobody();
  Texts springBoard = asNobody;
  for (std::string part : {e2e::program("SpringBoard"), std::string("--root"), root,
                           std::string("--region"), std::string("GB")}) {
    springBoard.push_back(part);
  }
  e2e::Outcome outcome = e2e::run(springBoard, "quit\n");
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_NE(outcome.err.find("permission denied"), std::string::npos) << outcome.err;

  Texts home = asNobody;
  for (std::string part : {e2e::program("zelvora"), std::string("--root"), root,
                           std::string("--region"), std::string("GB"), std::string("home")}) {
    home.push_back(part);
  }
  outcome = e2e::run(home);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_EQ(outcome.err,
            "zelvora: could not store the preferences in " + file + ": permission denied\n");

  ::chmod(file.c_str(), 0644);
  EXPECT_EQ(device.readFile(e2e::kPreferences), before);
  EXPECT_FALSE(std::filesystem::exists(file + ".corrupt"));
}

// Guards the first run without a home country: no region and no countryCode.
// The tool says so once, with how to give one; `home` exits 1 with that
// message; nothing derived from nothing is stored, so a later run with a
// region finds the area of a national number.
TEST(NoHomeCountry, SaidOnceAndNothingStored) {
  ::setenv("LANG", "C.UTF-8", 1);
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  ::unsetenv("ZELVORA_REGION");
  testing_support::TempDevice device;
  const std::string root = device.root();
  e2e::Outcome lookup =
      e2e::zelvora(root, {"lookup", "(0161) 496 0000", "+44 161 496 0000", "-"}, "0161 496 0000\n");
  EXPECT_EQ(lookup.status, 0) << e2e::describe(lookup);
  EXPECT_TRUE(e2e::oneLine(lookup.err)) << lookup.err;
  EXPECT_NE(lookup.err.find("no home country"), std::string::npos);
  EXPECT_NE(lookup.err.find("--region XX"), std::string::npos);
  EXPECT_NE(lookup.err.find("settings set countryCode"), std::string::npos);
  EXPECT_EQ(lookup.out, "(0161) 496 0000\t\n+44 161 496 0000\tManchester\n0161 496 0000\t\n");

  e2e::Outcome home = e2e::zelvora(root, {"home"});
  EXPECT_EQ(home.status, 1);
  EXPECT_EQ(home.out, "");
  EXPECT_EQ(home.err, lookup.err);
  for (const char* command : {"call", "recents"}) {
    e2e::Outcome phone = e2e::zelvora(root, {command, "0161 496 0000"});
    EXPECT_EQ(phone.status, 0) << e2e::describe(phone);
    EXPECT_EQ(phone.err, lookup.err) << command;
  }
  EXPECT_EQ(e2e::setting(root, "trunkPrefixx"), "(absent)");
  EXPECT_EQ(e2e::setting(root, "countryCode"), "(absent)");

  lookup = e2e::zelvora(root, {"--region", "GB", "lookup", "(0161) 496 0000"});
  EXPECT_EQ(lookup.out, "(0161) 496 0000\tManchester\n");
  EXPECT_EQ(lookup.err, "");
}

// Guards against a stored calling code that the tables do not know (an old
// "77" for Kazakhstan) being rewritten, or kept without a word: `settings`,
// `settings set` and `home` say so on standard error and how to derive it
// again, and unsetting it derives the region's code.
TEST(UnknownCallingCode, KeptAndNamedWithTheWayBack) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  const Texts kz = {"--region", "KZ"};
  auto run = [&](Texts arguments) {
    arguments.insert(arguments.begin(), kz.begin(), kz.end());
    return e2e::zelvora(root, arguments);
  };
  const e2e::Outcome set = run({"settings", "set", "countryCode", "77"});
  EXPECT_EQ(set.status, 0) << e2e::describe(set);
  for (const Texts& command : {Texts{"settings"}, Texts{"home"}, Texts{"settings", "get", "x"}}) {
    SCOPED_TRACE(command.front());
    const e2e::Outcome outcome = run(command);
    const bool says =
        outcome.err.find("countryCode \"77\" is no calling code") != std::string::npos;
    EXPECT_EQ(says, command.size() == 1) << outcome.err;
  }
  EXPECT_NE(set.err.find("zelvora settings unset countryCode"), std::string::npos) << set.err;
  EXPECT_EQ(run({"lookup", "+7 727 312 83 00"}).out, "+7 727 312 83 00\tAlmaty\n");
  EXPECT_EQ(e2e::setting(root, "countryCode"), "77\n");

  EXPECT_EQ(run({"settings", "unset", "countryCode"}).status, 0);
  const e2e::Outcome home = run({"home"});
  EXPECT_EQ(home.out, "7\t\n");  // the trunk prefix stored with "77" stays
  EXPECT_EQ(home.err, "");
  EXPECT_EQ(run({"settings", "set", "countryCode", "7"}).err, "");
}

// Guards against blocking on a FIFO where the system reads a file: one among
// the notification announcements must not hang `settings set` after it has
// stored the value, and one as the device's area-code file must not hang the
// lookup, which falls back to the bundled copy. (A hang ends in the test's
// time limit.)
TEST(SpecialFiles, AFifoNeverBlocks) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  device.writeFile("/var/run/notify/placeholder", "");
  ASSERT_EQ(::mkfifo(device.path("/var/run/notify/fifo").c_str(), 0644), 0);
  device.writeFile("/Library/Application Support/ZelvoraPro/placeholder", "");
  ASSERT_EQ(::mkfifo(device.path("/Library/Application Support/ZelvoraPro/44.txt").c_str(), 0644),
            0);
  e2e::Outcome stored = e2e::zelvora(root, {"settings", "set", "recents", "4"});
  EXPECT_EQ(stored.status, 0) << e2e::describe(stored);
  EXPECT_EQ(e2e::setting(root, "recents"), "4\n");
  e2e::Outcome lookup = e2e::zelvora(root, {"--region", "GB", "lookup", "0161 496 0000"});
  EXPECT_EQ(lookup.out, "0161 496 0000\tManchester\n") << e2e::describe(lookup);
}

}  // namespace
