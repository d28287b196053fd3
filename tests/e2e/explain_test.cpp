// `zelvora lookup --explain` and `--json`: each way a number is read says so,
// from the lookup's own steps, and the JSON lines parse with the same facts.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "lookup/area_file.h"
#include "support/temp_device.h"

namespace {

using e2e::Texts;

std::string dataFile(const std::string& name) {
  return std::string(kAreaCodeFolder) + name;
}

// The lines of `text` below the line that is exactly `number`, up to the
// next line that is not indented.
std::vector<std::string> stepsOf(const std::string& text, const std::string& number) {
  std::vector<std::string> steps;
  std::istringstream in(text);
  bool inside = false;
  for (std::string line; std::getline(in, line);) {
    if (inside && !line.starts_with("  ")) break;
    if (inside) steps.push_back(line.substr(2));
    inside = inside || line == number;
  }
  return steps;
}

bool hasStep(const std::vector<std::string>& steps, const std::string& wanted) {
  for (const std::string& step : steps) {
    if (step.find(wanted) != std::string::npos) return true;
  }
  return false;
}

// Guards against a way of reading that --explain does not name, or names
// wrongly: each number's steps hold the lines that tell its way, and its area.
TEST(LookupExplain, NamesEachWayOfReading) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  device.writeFile(dataFile("33.txt"), "331|Paris\xff\n");  // not UTF-8: the bundled copy answers
  device.writeFile(dataFile("36.txt"), "361|Mine\n");       // the user's own file
  struct Case {
    const char* region;
    const char* number;
    std::vector<const char*> steps;
  };
  const Case cases[] = {
      {"DE",
       "0044 20 7946 0000",
       {"national number beginning with DE's international call prefix 00",
        "calling code 44, national number 2079460000", "key 4420 in the bundled 44.txt",
        "area: London"}},
      {"DE",
       "+44 (0)20 7946 0000",
       {"with \"+\"", "the trunk prefix 0 in brackets after calling code 44 is left out",
        "area: London"}},
      {"GB", "020 7946 0000", {"the home calling code 44", "the trunk prefix 0 is dropped"}},
      {"GB", "7946 0000", {"does not begin with the trunk prefix 0: every digit is kept"}},
      {"BY",
       "8 0152 45-09-11",
       {"the national prefix 80 is dropped in place of the trunk prefix 8", "area: Grodno"}},
      {"DE", "+999 123", {"no calling code that the tables know", "area: none"}},
      {"DE",
       "+33 1 42 68 53 00",
       {"the device's 33.txt is not valid UTF-8, so the bundled copy is read",
        "key 33 in the bundled 33.txt (language en): the country line of FR", "area: France"}},
      {"DE", "+36 1 234 5678", {"key 361 in the device's 36.txt (your own file)", "area: Mine"}},
      {"DE",
       "+44 7700 900123",
       {"no key of the bundled 44.txt (language en) begins 7700900123", "area: none"}},
      {"DE", "+1 876 555 1234", {"the country line of JM", "area: Jamaica"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.number);
    e2e::Outcome outcome =
        e2e::zelvora(root, {"--region", c.region, "lookup", "--explain", "--", c.number});
    ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
    const std::vector<std::string> steps = stepsOf(outcome.out, c.number);
    ASSERT_FALSE(steps.empty()) << outcome.out;
    for (const char* step : c.steps)
      EXPECT_TRUE(hasStep(steps, step)) << step << "\n" << outcome.out;
    // Each run settles a home country first; it is stored, so later runs in
    // other regions keep it: start each case afresh.
    EXPECT_EQ(e2e::zelvora(root, {"settings", "unset", "countryCode"}).status, 0);
    EXPECT_EQ(e2e::zelvora(root, {"settings", "unset", "trunkPrefixx"}).status, 0);
  }
}

// Guards against the home country said for every number instead of once, or
// not at all, and against a home that no region gives going unexplained.
TEST(LookupExplain, TheHomeCountryComesFirstOnce) {
  testing_support::TempDevice device;
  e2e::Outcome outcome = e2e::zelvora(device.root(), {"--region", "GB", "lookup", "--explain", "-"},
                                      "020 7946 0000\n+44 161 496 0000\n");
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_TRUE(outcome.out.starts_with(
      "home: calling code 44, trunk prefix 0, region GB (the device region)\n020 7946 0000\n"))
      << outcome.out;
  EXPECT_EQ(outcome.out.find("home:", 1), std::string::npos) << outcome.out;

  testing_support::TempDevice bare;
  ::unsetenv("ZELVORA_REGION");
  ::setenv("LANG", "C.UTF-8", 1);
  outcome = e2e::zelvora(bare.root(), {"lookup", "--explain", "020 7946 0000"});
  EXPECT_TRUE(outcome.out.starts_with("home: none")) << outcome.out;
  EXPECT_TRUE(hasStep(stepsOf(outcome.out, "020 7946 0000"), "no home country")) << outcome.out;
}

// The preferences file holding `entries` (keys and values of a plist dict).
std::string preferences(const std::string& entries) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries +
         "</dict></plist>\n";
}

// The device prepared for a case: preferences written, a folder in place of
// the device's 44.txt, the English set installed by the tool (and its 44.txt
// then written over by the user), or a device 33.txt that is not UTF-8.
enum class Prepared { nothing, folder44, installed, installedThenOwn44, notUtf8For33 };

void prepare(const testing_support::TempDevice& device, const std::string& entries,
             Prepared prepared) {
  if (!entries.empty()) device.writeFile(e2e::kPreferences, preferences(entries));
  if (prepared == Prepared::folder44) {
    std::filesystem::create_directories(device.path(dataFile("44.txt")));
  } else if (prepared == Prepared::notUtf8For33) {
    device.writeFile(dataFile("33.txt"), "331|Paris\xff\n");
  } else if (prepared != Prepared::nothing) {
    ASSERT_EQ(e2e::zelvora(device.root(), {"data", "install"}).status, 0);
    if (prepared == Prepared::installedThenOwn44)
      device.writeFile(dataFile("44.txt"), "4420|Mine\n");
  }
}

// Guards every line --explain says that the cases above do not meet, word for
// word: a home whose calling code no country has, a trunk prefix of the wrong
// kind, a home region that is not the device's, a NUL, an empty line, a
// number that is only a calling code, and a device file that is a folder or
// was installed by the tool.
TEST(LookupExplain, EachHomeAndEachFileWordForWord) {
  struct Case {
    const char* name;
    std::string entries;  // stored preferences, or none
    Prepared prepared;
    const char* region;
    std::string input;  // one number a line, on standard input
    std::string out;
  };
  using namespace std::string_literals;
  const std::string london =
      "+44 20 7946 0000\n"
      "  written in international form, with \"+\"\n"
      "  calling code 44, national number 2079460000\n";
  const std::string gb = "home: calling code 44, trunk prefix 0, region GB (the device region)\n";
  const Case cases[] = {
      {"a home calling code of no country", "<key>countryCode</key><string>77</string>",
       Prepared::nothing, "KZ", "727 312 83 00\n+44\n",
       "home: calling code 77, no trunk prefix, no region: 77 is no calling code of a country "
       "the tables know\n"
       "727 312 83 00\n"
       "  written as a national number: the home calling code 77\n"
       "  calling code 77, national number 7273128300\n"
       "  calling code 77 is no calling code that the tables know\n"
       "  no readable 77.txt on the device or in the bundle\n"
       "  area: none\n"
       "+44\n"
       "  written in international form, with \"+\"\n"
       "  calling code 44, and no national number\n"
       "  no key of the bundled 44.txt (language en) begins an empty national number\n"
       "  area: none\n"},
      {"a trunk prefix that is no text",
       "<key>countryCode</key><string>44</string><key>trunkPrefixx</key><integer>0</integer>",
       Prepared::nothing, "DE", "+44 20 7946 0000\n",
       "home: calling code 44, trunk prefix of the wrong kind (not a text), region GB (the main "
       "country of 44)\n" +
           london + "  key 4420 in the bundled 44.txt (language en)\n  area: London\n"},
      {"a NUL and an empty line", "", Prepared::nothing, "GB", "0161\0 496\n\n"s,
       gb + "0161\0 496\n"s +
           "  holds a NUL character, which no telephone number holds: refused\n"
           "  area: none\n"
           "\n"
           "  no number\n"},
      {"the device's file a folder", "", Prepared::folder44, "GB", "+44 20 7946 0000\n",
       gb + london +
           "  the device's 44.txt is not a file that can be read, so the bundled copy is read\n"
           "  key 4420 in the bundled 44.txt (language en)\n"
           "  area: London\n"},
      {"the set installed by the tool", "", Prepared::installed, "GB",
       "+44 20 7946 0000\n+33 1 42 68 53 00\n",
       gb + london +
           "  key 4420 in the device's 44.txt (language en, installed)\n"
           "  area: London\n"
           "+33 1 42 68 53 00\n"
           "  written in international form, with \"+\"\n"
           "  calling code 33, national number 142685300\n"
           "  key 33 in the device's 33.txt (language en, installed): the country line of FR, as "
           "no key names an area\n"
           "  area: France\n"},
      {"a file of the installed set written over by the user", "", Prepared::installedThenOwn44,
       "GB", "+44 20 7946 0000\n",
       gb + london + "  key 4420 in the device's 44.txt (your own file)\n  area: Mine\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testing_support::TempDevice device;
    prepare(device, c.entries, c.prepared);
    e2e::Outcome outcome =
        e2e::zelvora(device.root(), {"--region", c.region, "lookup", "--explain", "-"}, c.input);
    EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
    EXPECT_EQ(outcome.out, c.out);
  }
}

// Guards the JSON Lines: one object a line that a JSON parser takes, with the
// fields of the reading, null where there is nothing, and escaping done right
// for a number with quotes and invalid UTF-8 in it.
TEST(LookupJson, OneObjectALineWithTheFacts) {
  testing_support::TempDevice device;
  e2e::Outcome outcome = e2e::zelvora(device.root(), {"--region", "DE", "lookup", "--json", "-"},
                                      "0044 20 7946 0000\n+999 1\n\"0\xff\"\n+1 876 555 1234\n");
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  std::vector<nlohmann::json> objects;
  std::istringstream in(outcome.out);
  for (std::string line; std::getline(in, line);) {
    ASSERT_NO_THROW(objects.push_back(nlohmann::json::parse(line))) << line;
  }
  ASSERT_EQ(objects.size(), 4u);
  const nlohmann::json& london = objects[0];
  EXPECT_EQ(london["number"], "0044 20 7946 0000");
  EXPECT_EQ(london["area"], "London");
  EXPECT_EQ(london["callingCode"], "44");
  EXPECT_EQ(london["nationalNumber"], "2079460000");
  EXPECT_EQ(london["reading"], "internationalPrefix");
  EXPECT_EQ(london["internationalPrefix"], "00");
  EXPECT_EQ(london["key"], "4420");
  EXPECT_EQ(london["source"], "bundled");
  EXPECT_EQ(london["language"], "en");
  EXPECT_TRUE(london["file"].get<std::string>().ends_with("/codes/44.txt"));
  EXPECT_EQ(london["home"]["region"], "DE");

  const nlohmann::json& unknown = objects[1];
  EXPECT_EQ(unknown["reading"], "plus");
  for (const char* field : {"area", "callingCode", "key", "file", "source", "language"}) {
    EXPECT_TRUE(unknown[field].is_null()) << field;
  }
  EXPECT_EQ(objects[2]["number"], "\"0\xef\xbf\xbd\"");
  EXPECT_EQ(objects[2]["reading"], "national");
  EXPECT_EQ(objects[3]["countryLine"], "JM");
}

// Guards the JSON fields that tell where the area came from and what the home
// country is, for each file and each home that --explain words differently:
// a field of one kind of answer given as that of another shows here.
TEST(LookupJson, TheFieldsOfEachFileAndHome) {
  using namespace std::string_literals;
  struct Case {
    std::string entries;  // stored preferences, or none
    Prepared prepared;
    const char* region;  // none: the device gives no region either
    std::string number;
    const char* fields;  // a JSON object: each of its fields as the answer must have it
  };
  const std::string unknownHome = "<key>countryCode</key><string>77</string>";
  const std::string integerTrunk =
      "<key>countryCode</key><string>44</string><key>trunkPrefixx</key><integer>0</integer>";
  const Case cases[] = {
      {"", Prepared::nothing, "DE", "0\0 1"s,
       R"({"reading": "none", "callingCode": null, "nationalNumber": null, "deviceFile": null,
           "file": null, "home": {"callingCode": "49", "trunkPrefix": "0", "region": "DE"}})"},
      {"", Prepared::nothing, "DE", "",
       R"({"reading": "none", "area": null, "callingCode": null, "deviceFile": null})"},
      {"", Prepared::folder44, "DE", "+44 20 7946 0000",
       R"({"area": "London", "source": "bundled", "language": "en", "deviceFile": "unusable"})"},
      {"", Prepared::installed, "DE", "+44 20 7946 0000",
       R"({"area": "London", "source": "device", "language": "en", "deviceFile": "used",
           "key": "4420"})"},
      {integerTrunk, Prepared::nothing, "DE", "+44 20 7946 0000",
       R"({"area": "London", "deviceFile": "missing",
           "home": {"callingCode": "44", "trunkPrefix": null, "region": "GB"}})"},
      {unknownHome, Prepared::nothing, "DE", "727 312 83 00",
       R"({"reading": "national", "area": null, "callingCode": "77", "file": null,
           "source": null, "home": {"callingCode": "77", "trunkPrefix": "", "region": null}})"},
      {"", Prepared::installedThenOwn44, "DE", "+44 20 7946 0000",
       R"({"area": "Mine", "source": "device", "language": null, "deviceFile": "used"})"},
      {"", Prepared::notUtf8For33, "DE", "+33 1 42 68 53 00",
       R"({"area": "France", "source": "bundled", "countryLine": "FR", "deviceFile": "notUtf8"})"},
      {"", Prepared::nothing, nullptr, "020 7946 0000",
       R"({"reading": "national", "callingCode": null,
           "home": {"callingCode": null, "trunkPrefix": "", "region": null}})"},
  };
  ::unsetenv("ZELVORA_REGION");
  ::unsetenv("LC_ALL");
  ::unsetenv("LC_MESSAGES");
  ::setenv("LANG", "C.UTF-8", 1);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    testing_support::TempDevice device;
    prepare(device, c.entries, c.prepared);
    Texts arguments = {"lookup", "--json", "-"};
    if (c.region) arguments.insert(arguments.begin(), {"--region", c.region});
    e2e::Outcome outcome = e2e::zelvora(device.root(), arguments, c.number + "\n");
    ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
    nlohmann::json answer;
    ASSERT_NO_THROW(answer = nlohmann::json::parse(outcome.out)) << outcome.out;
    const nlohmann::json wanted = nlohmann::json::parse(c.fields);
    for (const auto& [field, value] : wanted.items()) {
      EXPECT_EQ(answer[field], value) << field << " in " << outcome.out;
    }
  }
}

}  // namespace
