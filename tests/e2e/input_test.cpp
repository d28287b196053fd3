// Input that is not what a program expects: a standard input that is a
// folder or closed, home-screen commands with blanks around them, a number
// holding a NUL, and a relative XDG_DATA_HOME.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;

namespace {

using e2e::Texts;
using namespace std::string_literals;

const std::string kLondon = "+44 20 7946 0000";

// Guards against a standard input that cannot be read being taken for an
// empty one: the reader says why, and the status is 1.
TEST(StandardInput, AFolderOrAClosedInputIsAnError) {
  testing_support::TempDevice device;
  e2e::installLibrary(device);
  struct {
    std::string program;
    Texts arguments;
    std::string prefix;
  } const readers[] = {
      {"zelvora", {"lookup", "-"}, "zelvora: "},
      {"zelvora", {"springboard"}, "SpringBoard: "},
      {"SpringBoard", {}, "SpringBoard: "},
  };
  const std::pair<e2e::Input, std::string> inputs[] = {
      {e2e::Input::folder, "standard input is a folder\n"},
      {e2e::Input::closed, "standard input is closed\n"},
  };
  for (const auto& reader : readers) {
    for (const auto& [input, message] : inputs) {
      SCOPED_TRACE(reader.program + " " + message);
      Texts arguments{e2e::program(reader.program), "--root", device.root(), "--region", "GB"};
      arguments.insert(arguments.end(), reader.arguments.begin(), reader.arguments.end());
      e2e::Outcome outcome = e2e::runWithInput(input, arguments);
      EXPECT_EQ(outcome.status, 1) << e2e::describe(outcome);
      EXPECT_EQ(outcome.err, reader.prefix + message);
    }
  }
  // Numbers given as arguments need no standard input.
  e2e::Outcome outcome = e2e::runWithInput(
      e2e::Input::closed,
      {e2e::program("zelvora"), "--root", device.root(), "--region", "GB", "lookup", kLondon});
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.out, kLondon + "\tLondon\n");
}

// Guards the home screen's reading of a command line: blanks and tabs around
// it, and more than one between its word and its number, are not part of
// either.
TEST(HomeScreenCommands, BlanksAroundACommandAreIgnored) {
  testing_support::TempDevice device;
  const std::string input =
      "   call " + kLondon + "  \n\tanswer\t\r\n  call  \t" + kLondon + "\r\n end\n   \n quit \n";
  e2e::Outcome outcome =
      e2e::zelvora(device.root(), {"--region", "GB", "springboard", "--verbose"}, input);
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.out.find("unknown command"), std::string::npos) << outcome.out;
  const e2e::Areas areas = {{"call " + kLondon, {"London"}},
                            {"answer", {}},
                            {"call  \t" + kLondon, {"London"}},
                            {"end", {}}};
  EXPECT_EQ(e2e::areasOf(outcome.out), areas) << outcome.out;
}

// Guards one answer for a number holding a NUL on every way in: it is
// refused, so it finds no area, whether it is looked up or rings in.
TEST(NulInNumber, RefusedOnEveryPath) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  const std::string numbers[] = {"+44 20\0 7946 0000"s, "+44\0 20 7946 0000"s, "020 7946 0000\0"s};
  for (const std::string& number : numbers) {
    SCOPED_TRACE(number.find('\0'));
    e2e::Outcome lookup = e2e::zelvora(root, {"--region", "GB", "lookup", "-"}, number + "\n");
    EXPECT_EQ(lookup.status, 0) << e2e::describe(lookup);
    EXPECT_EQ(lookup.out, number + "\t\n");
    e2e::Outcome call = e2e::zelvora(root, {"--region", "GB", "springboard", "--verbose"},
                                     "call " + number + "\nquit\n");
    EXPECT_EQ(call.status, 0) << e2e::describe(call);
    const e2e::Areas areas = {{"call " + number, {"Area Unknown "}}};
    EXPECT_EQ(e2e::areasOf(call.out), areas) << call.out;
  }
}

// Guards the reading of numbers from standard input: a CR LF ending is no
// part of the number, an empty line is answered as an empty number, and a last
// line without an ending is answered all the same.
TEST(LookupInput, LineEndingsAndALastLineWithoutOne) {
  testing_support::TempDevice device;
  e2e::Outcome outcome = e2e::zelvora(device.root(), {"--region", "GB", "lookup", "-"},
                                      "0161 496 0000\r\n\n" + kLondon);
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.out, "0161 496 0000\tManchester\n\t\n" + kLondon + "\tLondon\n");
}

// Guards the XDG rule: a relative XDG_DATA_HOME is ignored, so the device is
// made under the home folder, not under whatever folder the tool runs in.
TEST(DeviceRoot, ARelativeXdgDataHomeIsIgnored) {
  testing_support::TempDevice scratch;
  const fs::path work = scratch.path("/work");
  const fs::path home = scratch.path("/home");
  fs::create_directories(work);
  const fs::path before = fs::current_path();
  fs::current_path(work);
  ::unsetenv("ZELVORA_ROOT");
  const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_DATA_HOME", "relative/data", 1);
  e2e::Outcome outcome = e2e::run({e2e::program("zelvora"), "--region", "GB", "home"});
  ::setenv("XDG_DATA_HOME", (home / "absolute").c_str(), 1);
  e2e::Outcome absolute = e2e::run({e2e::program("zelvora"), "--region", "FR", "home"});
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", oldHome.c_str(), 1);
  fs::current_path(before);
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_FALSE(fs::exists(work / "relative"));
  EXPECT_TRUE(fs::exists(home / ".local/share/zelvora/device" / e2e::kPreferences.substr(1)));
  EXPECT_EQ(absolute.out, "33\t0\n") << e2e::describe(absolute);
  EXPECT_TRUE(fs::exists(home / "absolute/zelvora/device" / e2e::kPreferences.substr(1)));
}

}  // namespace
