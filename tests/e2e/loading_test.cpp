// Loading end to end: the host programs on devices where the library, its
// filter, the preferences or the device root are missing, broken or
// read-only, and a host program without the hooked classes. A host always
// goes on, tells in at most one line of standard error what went wrong, and
// exits 0.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using e2e::Texts;

const std::string kLondon = "+44 20 7946 0000";
const std::string kMoscow = "+7 495 123 45 67";

// Runs SpringBoard (a call rings and is answered) or MobilePhone (two Recents
// rows) on `root` with region GB, after `prefix` (a program to run it with),
// checks that it ended normally and did its own work, with `homeArea` on the
// call alert or the rows annotated when `recentsArea`, and the library reported
// loaded when `loaded`; gives what it printed.
e2e::Outcome runHost(const std::string& host, const std::string& root, bool loaded,
                     const Texts& homeArea, bool recentsArea, Texts prefix = {}) {
  prefix.insert(prefix.end(), {e2e::program(host), "--root", root, "--region", "GB"});
  e2e::Outcome outcome;
  if (host == "SpringBoard") {
    prefix.push_back("--verbose");
    outcome = e2e::run(prefix, "call " + kLondon + "\nanswer\nquit\n");
    const e2e::Areas areas = {{"call " + kLondon, homeArea}, {"answer", {}}};
    EXPECT_EQ(e2e::areasOf(outcome.out), areas) << outcome.out;
  } else {
    prefix.insert(prefix.end(), {"--", kLondon, kMoscow});
    outcome = e2e::run(prefix);
    const Texts kinds =
        recentsArea ? Texts{"mobile: London", "home: Moscow"} : Texts{"mobile", "home"};
    EXPECT_EQ(e2e::recentsKinds(outcome.out, "Recents"), kinds) << outcome.out;
  }
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.out.find("ZelvoraPro.dylib loaded") != std::string::npos, loaded);
  return outcome;
}

// A property list holding `entries`.
std::string plist(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries +
         "</dict></plist>\n";
}

const std::string kBareHostFilter = plist(
    "<key>Filter</key><dict><key>Bundles</key><array><string>org.tarnwick.BareHost"
    "</string></array></dict>");

// Guards the loader and the hosts against every kind of bad install: the host
// goes on without the library, says why in one line (or, with nothing to
// report, that it runs without), and still does its own work; a loaded
// library survives broken or wrongly typed preferences.
TEST(Loading, HostsGoOnWhateverIsInstalled) {
  const std::string dylib = e2e::kExtensions + "ZelvoraPro.dylib";
  const std::string filter = e2e::kExtensions + "ZelvoraPro.plist";
  const std::string notLoaded = "ZelvoraPro.dylib: not loaded: ";
  const std::string without = "no extension is installed for com.apple.";
  struct Case {
    const char* what;
    std::optional<std::string> file;   // changed after the install; none: nothing installed
    std::optional<std::string> bytes;  // its new contents; none: removed
    std::string complaint;             // how the one line of standard error begins after "<host>: "
    bool loaded = false;
    Texts homeArea = {};  // the area labels on the call alert
    bool recentsArea = false;
  };
  const Case cases[] = {
      {"the library and its filter", "", "", "", true, {"London"}, true},
      {"an empty device root", std::nullopt, "", without},
      {"a filter naming another program", filter, kBareHostFilter, without},
      {"a filter without its library", dylib, std::nullopt,
       notLoaded + "missing beside its filter ZelvoraPro.plist"},
      {"a library without a filter", filter, std::nullopt,
       notLoaded + "no filter ZelvoraPro.plist"},
      {"a filter that is not a property list", filter, "Filter = { Bundles = ( x ); }\n\001\377",
       notLoaded + "filter is not a property list"},
      {"a corrupt library", dylib, "\177ELF" + std::string(4000, '\245'), notLoaded},
      // Cut off inside its loadable segments, as an interrupted copy leaves it.
      {"a cut-off library", dylib, e2e::builtFile("ZelvoraPro.dylib").substr(0, 20000), notLoaded},
      {"corrupt preferences",
       e2e::kPreferences,
       "bplist00\001\002\377",
       "",
       true,
       {"London"},
       false},
      {"preferences of the wrong kinds",
       e2e::kPreferences,
       plist("<key>countryCode</key><integer>49</integer><key>recents</key><array/>"
             "<key>trunkPrefixx</key><true/>"),
       "",
       true,
       {"Area Unknown "},
       false},
  };
  for (const Case& c : cases) {
    for (const std::string host : {"SpringBoard", "MobilePhone"}) {
      SCOPED_TRACE(host + " on " + c.what);
      testing_support::TempDevice device;
      if (c.file) {
        e2e::installLibrary(device);
        device.writeFile(e2e::kPreferences, plist("<key>recents</key><integer>2</integer>"));
        if (!c.bytes) fs::remove(device.path(*c.file));
        if (c.bytes && !c.file->empty()) device.writeFile(*c.file, *c.bytes);
      }
      const std::string err = runHost(host, device.root(), c.loaded, c.homeArea, c.recentsArea).err;
      if (c.complaint.empty()) {
        EXPECT_EQ(err, "");
      } else {
        EXPECT_TRUE(e2e::oneLine(err) && err.starts_with(host + ": " + c.complaint)) << err;
      }
    }
  }
}

// Runs a program under a time limit, so that one that hangs is killed and
// fails the test (status minus SIGKILL) instead of holding up the run.
const Texts kTimeLimit = {"/usr/bin/timeout", "-s", "KILL", "60"};

// Guards the hosts against hanging at start on a FIFO in place of the filter
// or the library, and against a filter of the wrong shape being told as "no
// extension is installed"; each gets its one line of standard error.
TEST(Loading, SpecialFilesAndWrongShapesAreReportedWithoutHanging) {
  const std::string notLoaded = "ZelvoraPro.dylib: not loaded: ";
  struct Case {
    const char* what;
    std::string file;   // replaced by a FIFO, or written with `bytes`
    std::string bytes;  // empty: a FIFO
    std::string complaint;
  };
  const Case cases[] = {
      {"a FIFO as the filter", e2e::kExtensions + "ZelvoraPro.plist", "",
       notLoaded + "filter is a FIFO\n"},
      {"a FIFO as the library", e2e::kExtensions + "ZelvoraPro.dylib", "",
       notLoaded + "the library is a FIFO\n"},
      {"a filter without Filter", e2e::kExtensions + "ZelvoraPro.plist",
       plist("<key>Bundles</key><array><string>com.apple.springboard</string></array>"),
       notLoaded + "filter has no \"Filter\" dictionary\n"},
  };
  for (const Case& c : cases) {
    for (const std::string host : {"SpringBoard", "MobilePhone"}) {
      SCOPED_TRACE(host + " on " + c.what);
      testing_support::TempDevice device;
      e2e::installLibrary(device);
      fs::remove(device.path(c.file));
      if (c.bytes.empty()) {
        ASSERT_EQ(::mkfifo(device.path(c.file).c_str(), 0644), 0);
      } else {
        device.writeFile(c.file, c.bytes);
      }
      EXPECT_EQ(runHost(host, device.root(), false, {}, false, kTimeLimit).err,
                host + ": " + c.complaint);
    }
  }
}

// Guards the tool against hanging on a FIFO among the notification
// announcements after it stored a setting, and against losing that setting.
TEST(Loading, SettingIsStoredAndToldPastAFifoAmongTheAnnouncements) {
  testing_support::TempDevice device;
  fs::create_directories(device.path("/var/run/notify"));
  ASSERT_EQ(::mkfifo(device.path("/var/run/notify/1-fifo").c_str(), 0644), 0);
  Texts command = kTimeLimit;
  command.insert(command.end(), {e2e::program("zelvora"), "--root", device.root(), "settings",
                                 "set", "recents", "3"});
  e2e::Outcome outcome = e2e::run(command);
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(e2e::setting(device.root(), "recents"), "3\n");
}

// Guards the home screen's input reader: a command line of up to 4096 bytes
// runs, a longer one (several megabytes without a line break included) is
// skipped with one message that names the bound, and the commands after it
// still run.
TEST(Loading, HomeScreenSkipsOverlongCommandLines) {
  testing_support::TempDevice device;
  e2e::installLibrary(device);
  const std::string longest = "refresh" + std::string(4096 - 7, ' ');
  const std::string input = longest + "\n" + longest + " \n" + std::string(5 << 20, 'x') +
                            "\ncall " + kLondon + "\nanswer\nquit\n";
  Texts command = kTimeLimit;
  command.insert(command.end(), {e2e::program("SpringBoard"), "--root", device.root(), "--region",
                                 "GB", "--verbose"});
  e2e::Outcome outcome = e2e::run(command, input);
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome).substr(0, 2000);
  // The blanks that fill the longest line are not part of its command.
  const e2e::Areas areas = {{"refresh", {}}, {"call " + kLondon, {"London"}}, {"answer", {}}};
  EXPECT_EQ(e2e::areasOf(outcome.out), areas);
  const std::string skipped = "SpringBoard: command line skipped: longer than 4096 bytes\n";
  size_t first = outcome.out.find(skipped);
  ASSERT_NE(first, std::string::npos) << outcome.out.substr(0, 2000);
  EXPECT_NE(outcome.out.find(skipped, first + 1), std::string::npos);
  EXPECT_LT(outcome.out.size(), 100000u) << "an overlong line was echoed";
}

// Guards a library that cannot store anything: on a read-only device root the
// hosts load it and the home screen still finds the area from the region,
// while the tool refuses to store a setting in one line. Run as an ordinary
// user, since the superuser writes anywhere.
TEST(Loading, ReadOnlyDeviceRoot) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  e2e::installLibrary(device);
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    fs::permissions(entry.path(), fs::perms::others_read | fs::perms::others_exec,
                    fs::perm_options::add);
  }
  fs::permissions(root, fs::perms::others_read | fs::perms::others_exec | fs::perms::owner_read |
                            fs::perms::owner_exec);
  Texts asUser;
  if (::geteuid() == 0) {
    asUser = e2e::asNobody();
    Texts probe = asUser;
    probe.push_back("/bin/true");
    if (e2e::run(probe).status != 0) {
      GTEST_SKIP() << "cannot run a program as user 65534";
    }
  }

  for (const std::string host : {"SpringBoard", "MobilePhone"}) {
    SCOPED_TRACE(host);
    const std::string err = runHost(host, root, true, {"London"}, false, asUser).err;
    EXPECT_LE(std::count(err.begin(), err.end(), '\n'), 1) << err;
  }
  EXPECT_FALSE(device.readFile(e2e::kPreferences));

  asUser.insert(asUser.end(),
                {e2e::program("zelvora"), "--root", root, "settings", "set", "recents", "2"});
  e2e::Outcome outcome = e2e::run(asUser);
  EXPECT_EQ(outcome.status, 1);
  EXPECT_TRUE(e2e::oneLine(outcome.err)) << outcome.err;
}

// Guards a host program without the hooked classes: the library installs no
// hooks (creates none of the classes), leaves the host's own telephony and
// Darwin observers working, and looks nothing up without the home screen's
// launch.
TEST(Loading, BareHostRunsWithTheLibraryLoaded) {
  testing_support::TempDevice device;
  e2e::installLibrary(device);
  device.writeFile(e2e::kExtensions + "ZelvoraPro.plist", kBareHostFilter);
  e2e::Outcome outcome = e2e::run({ZELVORA_BARE_HOST, "--root", device.root(), "--region", "GB"});
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out,
            "bare host up, ZelvoraPro.dylib loaded\n"
            "SpringBoard absent\nSBAlertWindow absent\nPHRecentsViewController absent\n"
            "call status 4 +44 20 7946 0000\ncall status 1 +44 20 7946 0000\n"
            "call status 5 +44 20 7946 0000\n"
            "heard org.tarnwick.ZelvoraPrefs/settingschanged\ndone\n");
  EXPECT_FALSE(device.readFile(e2e::kPreferences));
}

}  // namespace
