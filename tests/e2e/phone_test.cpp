// The simulated phone end to end: the zelvora tool prepares a device root, the
// home screen and the phone application load the real library through the
// extension loader, and their printed windows and lists show the areas.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "e2e/e2e_process.h"
#include "support/temp_device.h"

namespace {

using e2e::Texts;

const std::string kLondon = "+44 20 7946 0000";
const std::string kBerlin = "+49 30 1234567";

// Guards the tool's call command (ringing and, with --outgoing, placing a
// call): the area appears while the call rings and is gone once answered.
TEST(CallAlert, ToolShowsTheAreaUntilTheCallIsAnswered) {
  const std::pair<Texts, e2e::Areas> cases[] = {
      {{"--region", "GB", "call", kLondon, "--verbose"},
       {{"call " + kLondon, {"London"}}, {"answer", {}}}},
      {{"call", kBerlin, "--outgoing", "--verbose", "--region", "GB"},
       {{"outgoing " + kBerlin, {"Berlin"}}, {"answer", {}}}},
  };
  for (const auto& [arguments, areas] : cases) {
    SCOPED_TRACE(areas[0].first);
    testing_support::TempDevice device;
    e2e::Outcome outcome = e2e::zelvora(device.root(), arguments);
    ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(e2e::areasOf(outcome.out), areas) << outcome.out;
  }
}

// Guards the state kept between calls of a running home screen: each call
// shows its own area (never the previous one), a number without an area shows
// "Area Unknown " with its trailing blank, showing the alert again keeps a
// single label, and answering or ending takes it away; the label's frame,
// colours and alignment.
TEST(CallAlert, RunningHomeScreenShowsEachCallsOwnArea) {
  testing_support::TempDevice device;
  const e2e::Areas expected = {
      {"call " + kLondon, {"London"}},
      {"refresh", {"London"}},
      {"end", {}},
      {"call 0161 496 0000", {"Manchester"}},  // national, home 44 from region GB
      {"answer", {}},
      {"call +44 7700 900123", {"Area Unknown "}},  // a mobile range
      {"end", {}},
      {"outgoing +999 123456", {"Area Unknown "}},  // no such calling code
      {"end", {}},
      {"call 12", {"United Kingdom"}},  // national 2: only British numbers begin so
      {"refresh", {"United Kingdom"}},
      {"answer", {}},
  };
  std::string script;
  for (const auto& [command, areas] : expected) script += command + "\n";
  e2e::Outcome outcome = e2e::zelvora(device.root(), {"--region", "GB", "springboard", "--verbose"},
                                      script + "quit\n");
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.err, "");
  EXPECT_EQ(e2e::areasOf(outcome.out), expected) << outcome.out;
  EXPECT_NE(outcome.out.find("UILabel frame (0, 458, 320, 22) textColor white backgroundColor "
                             "clear alignment 1 (centred) text \"London\"\n"),
            std::string::npos);
}

// Guards the Recents count: exactly the first "recents" rows get ": " and
// their area (none when unset, zero or negative), a row without an area is
// left alone without stopping the next one, and a second showing of the same
// rows does not annotate them twice.
TEST(Recents, AnnotatesExactlyTheFirstRowsOnce) {
  struct Case {
    std::string recents;  // empty: not set
    Texts numbers;
    Texts kinds;
  };
  const Texts three = {kLondon, "0161 496 0000", kBerlin};
  const Case cases[] = {
      {"", three, {"mobile", "home", "work"}},
      {"0", three, {"mobile", "home", "work"}},
      {"-1", three, {"mobile", "home", "work"}},
      {"2", three, {"mobile: London", "home: Manchester", "work"}},
      {"5", three, {"mobile: London", "home: Manchester", "work: Berlin"}},
      {"4",
       {"+1 212 555 0100", "12", "", kBerlin},
       {"mobile: New York, NY", "home: United Kingdom", "work", "iPhone: Berlin"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("recents \"" + c.recents + "\" with " + c.numbers.front());
    testing_support::TempDevice device;
    if (c.recents.starts_with("-")) {
      // The tool refuses it; another settings editor may still store it.
      device.writeFile(e2e::kPreferences,
                       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">"
                       "<dict><key>recents</key><integer>" +
                           c.recents + "</integer></dict></plist>\n");
    } else if (!c.recents.empty()) {
      ASSERT_TRUE(e2e::storeSetting(device.root(), "recents", c.recents));
    }
    Texts arguments = {"--region", "GB", "recents", "--again"};
    arguments.insert(arguments.end(), c.numbers.begin(), c.numbers.end());
    e2e::Outcome outcome = e2e::zelvora(device.root(), arguments);
    ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
    EXPECT_EQ(outcome.err, "");
    EXPECT_EQ(e2e::recentsKinds(outcome.out, "Recents"), c.kinds) << outcome.out;
    EXPECT_EQ(e2e::recentsKinds(outcome.out, "Recents, shown again"), c.kinds) << outcome.out;
  }
}

}  // namespace
