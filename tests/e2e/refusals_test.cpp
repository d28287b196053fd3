// What the zelvora tool refuses, end to end: setting values of the wrong
// kind, and devices it cannot use. Each refusal is one line on standard error
// that says what is wrong, with a status other than 0, and changes nothing;
// the values next to them in range are taken.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "lookup/area_file.h"
#include "support/temp_device.h"

namespace {

using e2e::Texts;
namespace fs = std::filesystem;

std::string quoted(const std::string& text) {
  return "\"" + text + "\"";
}

// Guards the check of each setting's value: the bounds of the Recents count
// (0 and 2^31 - 1 are taken, -1 and 2^31 are not), and everything that only
// looks like a number; a refused value leaves the stored one as it was.
TEST(SettingValues, OnlyValuesOfTheSettingsKindAreStored) {
  const std::string rows = "recents takes a whole number of rows, 0 or more, such as 5; got ";
  const std::string code =
      "countryCode takes a calling code of decimal digits without \"+\", such as 44; got ";
  const std::string trunk = "trunkPrefixx takes decimal digits or nothing, such as 0; got ";
  struct Case {
    std::string key, value;
    std::string refusal;  // the message, before the value; empty when taken
  };
  const Case cases[] = {
      {"recents", "3", ""},
      {"recents", "-1", rows},
      {"recents", "0", ""},
      {"recents", "2147483647", ""},
      {"recents", "2147483648", rows},
      {"recents", "99999999999999999999", rows},
      {"recents", "abc", rows},
      {"recents", "", rows},
      {"recents", "5x", rows},
      {"recents", "1.5", rows},
      {"recents", "+5", rows},
      {"recents", " 5", rows},
      {"recents", "12", ""},
      {"countryCode", "44", ""},
      {"countryCode", "+44", code},
      {"countryCode", "", code},
      {"countryCode", "4 4", code},
      {"countryCode", "٤٤", code},  // Arabic-Indic digits
      {"trunkPrefixx", "8", ""},
      {"trunkPrefixx", "0-", trunk},
      {"trunkPrefixx", "o", trunk},
      {"trunkPrefixx", "", ""},
  };
  testing_support::TempDevice device;
  const std::string root = device.root();
  std::map<std::string, std::string> stored;  // key -> what `settings get` prints
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key + " " + quoted(c.value));
    e2e::Outcome outcome = e2e::zelvora(root, {"settings", "set", c.key, c.value});
    if (c.refusal.empty()) {
      EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
      EXPECT_EQ(outcome.err, "");
      stored[c.key] = c.value + "\n";
    } else {
      EXPECT_EQ(outcome.status, 2) << e2e::describe(outcome);
      EXPECT_EQ(outcome.err, "zelvora: " + c.refusal + quoted(c.value) + "\n");
    }
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(e2e::setting(root, c.key), stored[c.key]);
  }
}

// Guards each command's report of a device it cannot use: the root, the
// folder the library is installed into, the preferences, a setting of the
// wrong kind and the data folder; and a number the phone cannot show.
TEST(DeviceProblems, EachCommandSaysWhatStandsInItsWay) {
  struct Case {
    std::string what;
    std::function<void(const testing_support::TempDevice&)> make;
    Texts arguments;  // after --root ROOT --region GB; {ROOT} is the root
    int status;
    std::string error;  // the one line, without "zelvora: "; {ROOT} is the root
  };
  const std::string preferences = "{ROOT}" + e2e::kPreferences;
  const std::string substrate = "{ROOT}/Library/MobileSubstrate";
  const std::string dataFolder = "{ROOT}" + std::string(kAreaCodeFolder);
  auto makeFile = [](std::string name) {
    return [name](const testing_support::TempDevice& device) { device.writeFile(name, ""); };
  };
  auto makeFolder = [](std::string name) {
    return [name](const testing_support::TempDevice& device) {
      fs::create_directories(device.path(name));
    };
  };
  auto nothing = [](const testing_support::TempDevice&) {};
  const std::string notText =
      "countryCode holds integer, not a text; fix it with zelvora "
      "settings set or unset";
  const std::string integerCode =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "<key>countryCode</key>\n<integer>44</integer>\n</dict>\n</plist>\n";
  const Case cases[] = {
      {"empty root",
       nothing,
       {"--root", "", "lookup", "1"},
       2,
       "the device root must not be empty"},
      {"root a file",
       makeFile("/file"),
       {"--root", "{ROOT}/file", "lookup", "1"},
       2,
       "cannot use device root {ROOT}/file: Not a directory"},
      {"root a file",
       makeFile("/file"),
       {"--root", "{ROOT}/file", "call", "1"},
       1,
       "cannot use device root {ROOT}/file: Not a directory"},
      {"no library folder",
       makeFile("/Library/MobileSubstrate"),
       {"call", "1"},
       1,
       "cannot create " + substrate + "/DynamicLibraries: Not a directory"},
      {"no library folder",
       makeFile("/Library/MobileSubstrate"),
       {"recents", "1"},
       1,
       "cannot create " + substrate + "/DynamicLibraries: Not a directory"},
      {"no library folder",
       makeFile("/Library/MobileSubstrate"),
       {"springboard"},
       1,
       "cannot create " + substrate + "/DynamicLibraries: Not a directory"},
      {"preferences a folder",
       makeFolder(e2e::kPreferences),
       {"lookup", "1"},
       1,
       "could not store the preferences in " + preferences + ": a folder, not a regular file"},
      {"preferences a folder",
       makeFolder(e2e::kPreferences),
       {"home"},
       1,
       "could not store the preferences in " + preferences + ": a folder, not a regular file"},
      {"calling code a number",
       [&](const testing_support::TempDevice& device) {
         device.writeFile(e2e::kPreferences, integerCode);
       },
       {"home"},
       1,
       notText},
      {"data folder a file",
       makeFile(std::string(kAreaCodeFolder, 0, kAreaCodeFolder.size() - 1)),
       {"data", "install"},
       1,
       "cannot create " + dataFolder},
      {"line break", nothing, {"call", "1\n2"}, 2, "the number must not contain a line break"},
      {"line break in a row",
       nothing,
       {"recents", "1", "2\r3"},
       2,
       "a number must not contain a line break"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what + ": " + c.arguments.front());
    testing_support::TempDevice device;
    c.make(device);
    auto rooted = [&device](std::string text) {
      for (size_t at; (at = text.find("{ROOT}")) != std::string::npos;)
        text.replace(at, 6, device.root());
      return text;
    };
    Texts arguments = {"--region", "GB"};
    for (const std::string& argument : c.arguments) arguments.push_back(rooted(argument));
    e2e::Outcome outcome = e2e::zelvora(device.root(), arguments);
    EXPECT_EQ(outcome.status, c.status) << e2e::describe(outcome);
    EXPECT_EQ(outcome.out, "");
    EXPECT_EQ(outcome.err, "zelvora: " + rooted(c.error) + "\n");
  }
}

// Guards the last way of finding a device root: without --root,
// ZELVORA_ROOT, XDG_DATA_HOME or HOME the tool says how to give one.
TEST(DeviceProblems, NoRootAtAllIsAUsageError) {
  std::map<std::string, std::string> saved;
  for (const char* name : {"ZELVORA_ROOT", "XDG_DATA_HOME", "HOME"}) {
    if (const char* value = std::getenv(name)) saved[name] = value;
    ::unsetenv(name);
  }
  e2e::Outcome outcome = e2e::run({e2e::program("zelvora"), "--region", "GB", "home"});
  for (const auto& [name, value] : saved) ::setenv(name.c_str(), value.c_str(), 1);
  EXPECT_EQ(outcome.status, 2) << e2e::describe(outcome);
  EXPECT_EQ(outcome.err, "zelvora: no device root: give --root DIR or set ZELVORA_ROOT\n");
}

}  // namespace
