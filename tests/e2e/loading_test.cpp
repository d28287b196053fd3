// Loading end to end: which host programs get the library and what it does
// there, and host programs started on devices where the library, its filter,
// the preferences or the device root itself are missing, broken or read-only.
// A host always goes on, with or without the library, tells in at most one
// line of standard error what went wrong, and ends normally.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
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

const std::string kLondon = "+44 20 7946 0000";
const std::string kMoscow = "+7 495 123 45 67";

// ---- the two host programs, driven the same way on any device root

struct HostRun {
  Outcome outcome;
  bool loaded = false;     // the host reported the library loaded
  bool annotated = false;  // the area showed up
  bool worked = false;     // the host did its own work in full
};

HostRun runSpringBoard(const std::string& root) {
  HostRun run;
  run.outcome = e2e::run({e2e::program("SpringBoard"), "--root", root, "--region", "GB"},
                         "call " + kLondon + "\nanswer\nquit\n");
  auto windows = e2e::windowsOf(run.outcome.out);
  e2e::Window ringing = e2e::windowFor(windows, "call " + kLondon);
  e2e::Window answered = e2e::windowFor(windows, "answer");
  run.loaded =
      run.outcome.out.starts_with("SpringBoard: home screen up, ZelvoraPro.dylib loaded\n");
  run.annotated = e2e::areaTexts(ringing) == Texts{"London"};
  run.worked = run.outcome.out.starts_with("SpringBoard: home screen up") && windows.size() == 2 &&
               ringing.drawing.find("\"Incoming call\"") != std::string::npos &&
               answered.drawing.find("\"Connected\"") != std::string::npos &&
               e2e::areaTexts(answered).empty();
  return run;
}

HostRun runMobilePhone(const std::string& root) {
  HostRun run;
  run.outcome = e2e::run(
      {e2e::program("MobilePhone"), "--root", root, "--region", "GB", "--", kLondon, kMoscow});
  auto rows = e2e::recentsRows(run.outcome.out, "Recents");
  run.loaded = run.outcome.out.starts_with("Recents (ZelvoraPro.dylib loaded)\n");
  run.annotated = e2e::kindsOf(rows) == Texts{"mobile: London", "home: Moscow"};
  run.worked = rows.size() == 2 && rows[0].name == kLondon && rows[1].name == kMoscow &&
               (run.annotated || e2e::kindsOf(rows) == Texts{"mobile", "home"});
  return run;
}

struct Host {
  const char* name;
  std::function<HostRun(const std::string&)> run;
};

const Host kHosts[] = {{"SpringBoard", runSpringBoard}, {"MobilePhone", runMobilePhone}};

// ---- hosts and their classes

TEST(Loading, BothHostsGetTheLibraryThroughItsFilter) {
  for (const Host& host : kHosts) {
    SCOPED_TRACE(host.name);
    testing_support::TempDevice device;
    e2e::installLibrary(device.root());
    ASSERT_NO_FATAL_FAILURE(storeSetting(device.root(), "recents", "2"));
    HostRun run = host.run(device.root());
    ASSERT_TRUE(cleanExit(run.outcome)) << describe(run.outcome);
    EXPECT_EQ(run.outcome.err, "");
    EXPECT_TRUE(run.loaded) << run.outcome.out;
    EXPECT_TRUE(run.worked) << run.outcome.out;
    EXPECT_TRUE(run.annotated) << run.outcome.out;
  }
}

TEST(Loading, PhoneAppWithoutTheHomeScreenClassSettlesTheHomeCountryOnlyAtItsFirstLookup) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  e2e::installLibrary(root);

  // No row to annotate: no lookup, so nothing is derived or stored.
  Outcome quiet = e2e::run(
      {e2e::program("MobilePhone"), "--root", root, "--region", "RU", "--", kLondon, kMoscow});
  ASSERT_TRUE(cleanExit(quiet)) << describe(quiet);
  EXPECT_EQ(e2e::kindsOf(e2e::recentsRows(quiet.out, "Recents")), (Texts{"mobile", "home"}));
  EXPECT_EQ(setting(root, "countryCode"), "(absent)");
  EXPECT_EQ(setting(root, "trunkPrefixx"), "(absent)");

  // The first row's lookup derives the home country from the region: the
  // national number "8 495 ..." is then a Moscow number.
  ASSERT_NO_FATAL_FAILURE(storeSetting(root, "recents", "1"));
  Outcome looked = e2e::run({e2e::program("MobilePhone"), "--root", root, "--region", "RU", "--",
                             "8 495 123 45 67", kLondon});
  ASSERT_TRUE(cleanExit(looked)) << describe(looked);
  EXPECT_EQ(looked.err, "");
  EXPECT_EQ(e2e::kindsOf(e2e::recentsRows(looked.out, "Recents")),
            (Texts{"mobile: Moscow", "home"}));
  EXPECT_EQ(setting(root, "countryCode"), "7\n");
  EXPECT_EQ(setting(root, "trunkPrefixx"), "8\n");
}

TEST(Loading, HostWithNoneOfTheHookedClassesRunsWithTheLibraryLoaded) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  const std::string folder = e2e::extensionsFolder(root);
  e2e::installLibrary(root, /*withFilter=*/false);
  e2e::writeFile(folder + "/ZelvoraPro.plist", e2e::filterFor({"org.tarnwick.BareHost"}));

  Outcome outcome = e2e::run({ZELVORA_BARE_HOST, "--root", root, "--region", "GB", kLondon});
  ASSERT_TRUE(cleanExit(outcome)) << describe(outcome);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(outcome.out,
            "bare host up, ZelvoraPro.dylib loaded\n"
            "SpringBoard absent\n"
            "SBAlertWindow absent\n"
            "PHRecentsViewController absent\n"
            "call status 4 " +
                kLondon +
                "\n"
                "call status 1 " +
                kLondon +
                "\n"
                "call status 5 " +
                kLondon +
                "\n"
                "heard org.tarnwick.ZelvoraPrefs/settingschanged\n"
                "done\n");
  // Without the home screen's launch nothing looked anything up.
  EXPECT_FALSE(e2e::readFile(e2e::preferencesFile(root)));

  // The filter names the bare host only: the home screen goes without the
  // library, and says so.
  HostRun home = runSpringBoard(root);
  ASSERT_TRUE(cleanExit(home.outcome)) << describe(home.outcome);
  EXPECT_EQ(home.outcome.err,
            "SpringBoard: no extension is installed for com.apple.springboard; running without\n");
  EXPECT_FALSE(home.loaded) << home.outcome.out;
  EXPECT_FALSE(home.annotated) << home.outcome.out;
  EXPECT_TRUE(home.worked) << home.outcome.out;
}

// ---- broken devices

struct BrokenDevice {
  const char* what;
  std::function<void(const std::string& root)> prepare;
  bool reported;  // the loader names the library's problem; otherwise the host says it runs
                  // without extensions
  bool withSettings = true;  // "recents" stored, so that rows would be annotated
};

std::string garbage(size_t size) {
  std::string bytes;
  unsigned state = 12345;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    bytes.push_back(static_cast<char>(state >> 16));
  }
  return bytes;
}

const BrokenDevice kBrokenDevices[] = {
    {"an empty device root", [](const std::string&) {}, false, false},
    {"a filter without its library",
     [](const std::string& root) {
       e2e::writeFile(e2e::extensionsFolder(root) + "/ZelvoraPro.plist",
                      e2e::filterFor({"com.apple.springboard", "com.apple.mobilephone"}));
     },
     true},
    {"garbage bytes as the library",
     [](const std::string& root) {
       e2e::installLibrary(root);
       e2e::writeFile(e2e::extensionsFolder(root) + "/ZelvoraPro.dylib", garbage(8192));
     },
     true},
    {"an empty library file",
     [](const std::string& root) {
       e2e::installLibrary(root);
       e2e::writeFile(e2e::extensionsFolder(root) + "/ZelvoraPro.dylib", "");
     },
     true},
    {"a library without a filter",
     [](const std::string& root) { e2e::installLibrary(root, /*withFilter=*/false); }, true},
    {"a filter that is not a property list",
     [](const std::string& root) {
       e2e::installLibrary(root);
       e2e::writeFile(e2e::extensionsFolder(root) + "/ZelvoraPro.plist",
                      "Filter = { Bundles = ( com.apple.springboard ); }\n" + garbage(64));
     },
     true},
    {"a filter naming no bundles",
     [](const std::string& root) {
       e2e::installLibrary(root);
       e2e::writeFile(e2e::extensionsFolder(root) + "/ZelvoraPro.plist", e2e::filterFor({}));
     },
     false},
};

TEST(BrokenDevice, HostsGoOnWithoutTheLibrary) {
  for (const BrokenDevice& broken : kBrokenDevices) {
    for (const Host& host : kHosts) {
      SCOPED_TRACE(std::string(host.name) + " on " + broken.what);
      testing_support::TempDevice device;
      broken.prepare(device.root());
      // Rows to annotate, were the library there.
      if (broken.withSettings) {
        ASSERT_NO_FATAL_FAILURE(storeSetting(device.root(), "recents", "2"));
      }
      HostRun run = host.run(device.root());
      ASSERT_TRUE(cleanExit(run.outcome)) << describe(run.outcome);
      EXPECT_TRUE(run.worked) << run.outcome.out;
      EXPECT_FALSE(run.loaded) << run.outcome.out;
      EXPECT_FALSE(run.annotated) << run.outcome.out;
      Texts complaints = e2e::linesOf(run.outcome.err);
      ASSERT_EQ(complaints.size(), 1u) << run.outcome.err;
      const std::string expected =
          std::string(host.name) + (broken.reported ? ": ZelvoraPro.dylib: not loaded: "
                                                    : ": no extension is installed for ");
      EXPECT_TRUE(complaints[0].starts_with(expected)) << complaints[0];
    }
  }
}

// A library cut off inside its loadable segments, as an interrupted copy
// leaves it.
TEST(BrokenDevice, CutOffLibraryIsPassedOver) {
  const std::string library = e2e::readFile(e2e::program("ZelvoraPro.dylib")).value();
  for (size_t length : {size_t{64}, size_t{1000}, size_t{4096}, size_t{20000}}) {
    for (const Host& host : kHosts) {
      SCOPED_TRACE(std::string(host.name) + " with the first " + std::to_string(length) +
                   " bytes of the library");
      testing_support::TempDevice device;
      e2e::installLibrary(device.root());
      e2e::writeFile(e2e::extensionsFolder(device.root()) + "/ZelvoraPro.dylib",
                     library.substr(0, length));
      HostRun run = host.run(device.root());
      if (!cleanExit(run.outcome)) {
        ADD_FAILURE() << describe(run.outcome);
        continue;
      }
      EXPECT_TRUE(run.worked) << run.outcome.out;
      EXPECT_FALSE(run.loaded) << run.outcome.out;
      Texts complaints = e2e::linesOf(run.outcome.err);
      ASSERT_EQ(complaints.size(), 1u) << run.outcome.err;
      EXPECT_TRUE(complaints[0].starts_with(std::string(host.name) + ": ZelvoraPro.dylib"))
          << complaints[0];
    }
  }
}

TEST(BrokenDevice, UnreadablePreferencesGiveWayToTheDefaults) {
  for (const Host& host : kHosts) {
    SCOPED_TRACE(host.name);
    testing_support::TempDevice device;
    const std::string root = device.root();
    e2e::installLibrary(root);
    e2e::writeFile(e2e::preferencesFile(root), "bplist00" + garbage(200));
    HostRun run = host.run(root);
    ASSERT_TRUE(cleanExit(run.outcome)) << describe(run.outcome);
    EXPECT_LE(e2e::linesOf(run.outcome.err).size(), 1u) << run.outcome.err;
    EXPECT_TRUE(run.loaded) << run.outcome.out;
    EXPECT_TRUE(run.worked) << run.outcome.out;
    // The home screen still finds the area with the home country of region
    // GB; the phone app annotates no row (no count stored).
    EXPECT_EQ(run.annotated, std::string(host.name) == "SpringBoard") << run.outcome.out;
  }
}

TEST(BrokenDevice, SettingsOfTheWrongKindChangeNothingAndStopNoHost) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  e2e::installLibrary(root);
  e2e::writeFile(e2e::preferencesFile(root),
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
                 "<key>countryCode</key><integer>49</integer>"
                 "<key>recents</key><array/>"
                 "<key>trunkPrefixx</key><true/>"
                 "</dict></plist>\n");
  for (const Host& host : kHosts) {
    SCOPED_TRACE(host.name);
    HostRun run = host.run(root);
    ASSERT_TRUE(cleanExit(run.outcome)) << describe(run.outcome);
    EXPECT_EQ(run.outcome.err, "");
    EXPECT_TRUE(run.loaded) << run.outcome.out;
    EXPECT_TRUE(run.worked) << run.outcome.out;
    EXPECT_FALSE(run.annotated) << run.outcome.out;
  }
  EXPECT_EQ(setting(root, "countryCode"), "49\n");
  EXPECT_EQ(setting(root, "trunkPrefixx"), "true\n");
}

TEST(BrokenDevice, ReadOnlyDeviceRoot) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  e2e::installLibrary(root);
  ASSERT_EQ(::chmod(root.c_str(), 0555), 0);
  const std::string probe = root + "/.write-probe";
  if (int fd = ::open(probe.c_str(), O_CREAT | O_WRONLY, 0600); fd >= 0) {
    ::close(fd);
    ::unlink(probe.c_str());
    ::chmod(root.c_str(), 0755);
    GTEST_SKIP() << "this process may write to a folder with mode 0555 (it runs as root or "
                    "with CAP_DAC_OVERRIDE), so the device root cannot be made read-only";
  }

  for (const Host& host : kHosts) {
    SCOPED_TRACE(host.name);
    HostRun run = host.run(root);
    ASSERT_TRUE(cleanExit(run.outcome)) << describe(run.outcome);
    EXPECT_LE(e2e::linesOf(run.outcome.err).size(), 1u) << run.outcome.err;
    EXPECT_TRUE(run.loaded) << run.outcome.out;
    EXPECT_TRUE(run.worked) << run.outcome.out;
    // Nothing can be stored, but the lookup works from the region.
    EXPECT_EQ(run.annotated, std::string(host.name) == "SpringBoard") << run.outcome.out;
  }
  EXPECT_FALSE(e2e::readFile(e2e::preferencesFile(root)));

  Outcome set = e2e::zelvora(root, {"settings", "set", "recents", "2"});
  EXPECT_TRUE(set.exited && set.status == 1) << describe(set);
  EXPECT_EQ(e2e::linesOf(set.err).size(), 1u) << set.err;

  // The tool finds the library already in place and rings a call all the same.
  Outcome call = e2e::zelvora(root, {"--region", "GB", "call", kLondon});
  ASSERT_TRUE(cleanExit(call)) << describe(call);
  EXPECT_EQ(e2e::areaTexts(e2e::windowFor(e2e::windowsOf(call.out), "call " + kLondon)),
            Texts{"London"})
      << call.out;
  ::chmod(root.c_str(), 0755);
}

}  // namespace
