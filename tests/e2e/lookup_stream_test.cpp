// zelvora lookup - driven as another program drives it: one number in, one
// answer out, before the next number is sent, with data files edited between
// numbers.
#include <gtest/gtest.h>

#include <string>

#include "e2e/e2e_process.h"
#include "support/temp_device.h"

namespace {

TEST(LookupStream, AnswersEachLineAsItComesAndSeesEditedFiles) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  const std::string codes = "/Library/Application Support/ZelvoraPro/44.txt";
  device.writeFile(codes, "4420|London\n");
  e2e::Child lookup({e2e::program("zelvora"), "--root", root, "--region", "GB", "lookup", "-"});

  const struct {
    const char* number;
    const char* contents;  // the file as it is before the number is sent
    const char* answer;
  } steps[] = {
      {"020 7946 0000", nullptr, "020 7946 0000\tLondon\n"},
      {"+44 20 1", "4420|Greater London\n", "+44 20 1\tGreater London\n"},
      {"0161 496 0000", "44161|Manchester\r\n", "0161 496 0000\tManchester\n"},
      {"020 1", "", "020 1\t\n"},
  };
  std::string expected;
  for (const auto& step : steps) {
    if (step.contents) device.writeFile(codes, step.contents);
    ASSERT_TRUE(lookup.send(std::string(step.number) + "\n"));
    expected += step.answer;
    // The answer shows while standard input is still open.
    ASSERT_TRUE(lookup.waitFor(expected)) << step.number << "\n" << lookup.finish().out;
  }
  e2e::Outcome outcome = lookup.finish();
  EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.out, expected);
}

}  // namespace
