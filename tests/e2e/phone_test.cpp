// The simulated phone end to end: the zelvora tool prepares a device root,
// the home screen and the phone application load the real library through the
// extension loader, and their printed windows and lists show the areas.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "support/temp_device.h"

namespace {

using e2e::areaTexts;
using e2e::cleanExit;
using e2e::describe;
using e2e::kindsOf;
using e2e::Outcome;
using e2e::recentsRows;
using e2e::windowFor;
using e2e::windowsOf;
using Texts = std::vector<std::string>;

const std::string kLondon = "+44 20 7946 0000";
const std::string kManchester = "0161 496 0000";  // national, home 44
const std::string kBerlin = "+49 30 1234567";

// ---- the call alert

TEST(CallAlert, RingingCallShowsTheAreaUntilAnswered) {
  testing_support::TempDevice device;
  Outcome outcome = e2e::zelvora(device.root(), {"--region", "GB", "call", kLondon});
  ASSERT_TRUE(cleanExit(outcome)) << describe(outcome);
  EXPECT_EQ(outcome.err, "");
  EXPECT_TRUE(outcome.out.starts_with("SpringBoard: home screen up, ZelvoraPro.dylib loaded\n"))
      << outcome.out;

  auto windows = windowsOf(outcome.out);
  e2e::Window ringing = windowFor(windows, "call " + kLondon);
  auto labels = e2e::labelsAt(ringing.drawing, "(0, 458, 320, 22)");
  ASSERT_EQ(labels.size(), 1u) << ringing.drawing;
  EXPECT_EQ(labels[0].description,
            "frame (0, 458, 320, 22) textColor white backgroundColor clear alignment 1 (centred) "
            "text \"London\"");
  // The drawing shows it on the window's bottom row too.
  EXPECT_NE(ringing.drawing.find("London                 |\n+---"), std::string::npos)
      << ringing.drawing;

  e2e::Window answered = windowFor(windows, "answer");
  ASSERT_FALSE(answered.drawing.empty()) << outcome.out;
  EXPECT_EQ(areaTexts(answered), Texts{}) << answered.drawing;
  EXPECT_EQ(answered.drawing.find("London"), std::string::npos) << answered.drawing;
}

TEST(CallAlert, OutgoingCallShowsTheAreaUntilAnswered) {
  testing_support::TempDevice device;
  Outcome outcome = e2e::zelvora(device.root(), {"--region", "GB", "call", kBerlin, "--outgoing"});
  ASSERT_TRUE(cleanExit(outcome)) << describe(outcome);
  auto windows = windowsOf(outcome.out);
  e2e::Window placing = windowFor(windows, "outgoing " + kBerlin);
  EXPECT_NE(placing.drawing.find("\"Calling\""), std::string::npos) << outcome.out;
  EXPECT_EQ(areaTexts(placing), Texts{"Berlin"}) << outcome.out;
  EXPECT_EQ(areaTexts(windowFor(windows, "answer")), Texts{}) << outcome.out;
}

TEST(CallAlert, NumberWithoutAnAreaShowsAreaUnknown) {
  testing_support::TempDevice device;
  // A mobile range, an unassigned calling code, and a number too short for any area.
  for (const std::string number : {"+44 7700 900123", "+999 123456", "12"}) {
    SCOPED_TRACE(number);
    Outcome outcome = e2e::zelvora(device.root(), {"--region", "GB", "call", number});
    ASSERT_TRUE(cleanExit(outcome)) << describe(outcome);
    auto windows = windowsOf(outcome.out);
    EXPECT_EQ(areaTexts(windowFor(windows, "call " + number)), Texts{"Area Unknown "})
        << outcome.out;
    EXPECT_EQ(areaTexts(windowFor(windows, "answer")), Texts{}) << outcome.out;
  }
}

TEST(CallAlert, EachCallOfARunningHomeScreenShowsItsOwnArea) {
  testing_support::TempDevice device;
  const std::string script = "call " + kLondon +
                             "\n"
                             "refresh\n"
                             "end\n"
                             "call " +
                             kManchester +
                             "\n"
                             "answer\n"
                             "call 12\n"
                             "end\n"
                             "outgoing " +
                             kBerlin +
                             "\n"
                             "end\n"
                             "quit\n";
  Outcome outcome = e2e::zelvora(device.root(), {"--region", "GB", "springboard"}, script);
  ASSERT_TRUE(cleanExit(outcome)) << describe(outcome);
  EXPECT_EQ(outcome.err, "");

  std::vector<std::pair<std::string, Texts>> seen;
  for (const auto& window : windowsOf(outcome.out))
    seen.emplace_back(window.command, areaTexts(window));
  const std::vector<std::pair<std::string, Texts>> expected = {
      {"call " + kLondon, {"London"}},
      // Showing the alert again keeps one area label, not a second one.
      {"refresh", {"London"}},
      {"end", {}},
      {"call " + kManchester, {"Manchester"}},
      {"answer", {}},
      // Nothing of the earlier call's area is left over.
      {"call 12", {"Area Unknown "}},
      {"end", {}},
      {"outgoing " + kBerlin, {"Berlin"}},
      {"end", {}},
  };
  EXPECT_EQ(seen, expected) << outcome.out;
}

// ---- the Recents list

struct RecentsCase {
  std::string recents;  // the setting, or empty to leave it unset
  Texts numbers;
  Texts kinds;  // the second labels as shown
};

TEST(Recents, AnnotatesExactlyTheFirstRows) {
  const std::vector<RecentsCase> cases = {
      {"", {kLondon, kManchester, kBerlin}, {"mobile", "home", "work"}},
      {"2", {kLondon, kManchester, kBerlin}, {"mobile: London", "home: Manchester", "work"}},
      {"0", {kLondon, kManchester, kBerlin}, {"mobile", "home", "work"}},
      {"-1", {kLondon, kManchester}, {"mobile", "home"}},
      {"5",
       {kLondon, kManchester, kBerlin},
       {"mobile: London", "home: Manchester", "work: Berlin"}},
      // A row without an area is left as it is, and the next row gets its own area.
      {"3", {kLondon, "12", kBerlin}, {"mobile: London", "home", "work: Berlin"}},
      {"3",
       {"+1 212 555 0100", "+999 123456", "", kLondon},
       {"mobile: New York, NY", "home", "work", "iPhone"}},
  };
  for (const auto& c : cases) {
    testing_support::TempDevice device;
    SCOPED_TRACE("recents \"" + c.recents + "\", first number " + c.numbers.front());
    if (!c.recents.empty()) {
      ASSERT_NO_FATAL_FAILURE(e2e::storeSetting(device.root(), "recents", c.recents));
    }
    Texts arguments = {"--region", "GB", "recents"};
    arguments.insert(arguments.end(), c.numbers.begin(), c.numbers.end());
    Outcome outcome = e2e::zelvora(device.root(), arguments);
    ASSERT_TRUE(cleanExit(outcome)) << describe(outcome);
    EXPECT_EQ(outcome.err, "");
    auto rows = recentsRows(outcome.out, "Recents");
    EXPECT_EQ(kindsOf(rows), c.kinds) << outcome.out;
    ASSERT_EQ(rows.size(), c.numbers.size()) << outcome.out;
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].name, c.numbers[i]);
    EXPECT_NE(outcome.out.find("Recents (ZelvoraPro.dylib loaded)\n"), std::string::npos)
        << outcome.out;
  }
}

TEST(Recents, ShowingTheListAgainDoesNotAnnotateTwice) {
  testing_support::TempDevice device;
  ASSERT_NO_FATAL_FAILURE(e2e::storeSetting(device.root(), "recents", "2"));
  Outcome outcome = e2e::zelvora(
      device.root(), {"--region", "GB", "recents", kLondon, kManchester, kBerlin, "--again"});
  ASSERT_TRUE(cleanExit(outcome)) << describe(outcome);
  const Texts expected = {"mobile: London", "home: Manchester", "work"};
  EXPECT_EQ(kindsOf(recentsRows(outcome.out, "Recents")), expected) << outcome.out;
  EXPECT_EQ(kindsOf(recentsRows(outcome.out, "Recents, shown again")), expected) << outcome.out;
}

TEST(Recents, ASettingChangedBetweenShowingsTakesEffect) {
  testing_support::TempDevice device;
  const Texts numbers = {"--region", "GB", "recents", kLondon, kManchester, kBerlin};
  ASSERT_NO_FATAL_FAILURE(e2e::storeSetting(device.root(), "recents", "1"));
  Outcome first = e2e::zelvora(device.root(), numbers);
  ASSERT_TRUE(cleanExit(first)) << describe(first);
  EXPECT_EQ(kindsOf(recentsRows(first.out, "Recents")), (Texts{"mobile: London", "home", "work"}));

  ASSERT_NO_FATAL_FAILURE(e2e::storeSetting(device.root(), "recents", "3"));
  Outcome second = e2e::zelvora(device.root(), numbers);
  ASSERT_TRUE(cleanExit(second)) << describe(second);
  EXPECT_EQ(kindsOf(recentsRows(second.out, "Recents")),
            (Texts{"mobile: London", "home: Manchester", "work: Berlin"}));
}

}  // namespace
