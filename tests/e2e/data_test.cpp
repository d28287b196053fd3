// Installed area-code sets end to end: `zelvora data install` puts a language
// (with carriers) into the device's data folder, each file with its prebuilt
// index, lookups answer from it, `zelvora data remove` takes away only what it
// put there (indexes included), and the bundled English set answers again.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "lookup/area_file.h"
#include "lookup/area_index_writer.h"
#include "support/temp_device.h"

namespace {

using e2e::Texts;

struct Lookup {
  std::string number, area;
};

// The area the tool finds for each number, checked one by one.
void expectAreas(const std::string& root, const std::vector<Lookup>& lookups) {
  std::string input;
  std::string expected;
  for (const auto& lookup : lookups) {
    input += lookup.number + "\n";
    expected += lookup.number + "\t" + lookup.area + "\n";
  }
  e2e::Outcome outcome = e2e::zelvora(root, {"--region", "GB", "lookup", "-"}, input);
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(outcome.out, expected);
}

std::string dataFile(const std::string& name) {
  return std::string(kAreaCodeFolder) + name;
}

// Guards the composition of a language over English, the atomic replacement
// by another language, the manifest that tells the tool's files from the
// user's, and the bundled set answering after removal.
TEST(DataCommand, InstallLanguageAnswersInItAndRemoveLeavesTheUsersFiles) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  device.writeFile(dataFile("36.txt"), "36|Mine\n");  // the user's own file

  for (const char* language : {"fr", "de"}) {
    e2e::Outcome outcome = e2e::zelvora(root, {"data", "install", "--language", language});
    ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  }
  EXPECT_EQ(device.readFile(dataFile("36.txt")), "36|Mine\n");
  // Every file installed has an index beside it that lookups will use; the
  // user's own file has none.
  size_t indexed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(device.path(kAreaCodeFolder))) {
    if (entry.path().extension() != ".txt") continue;
    const bool own = entry.path().filename() == "36.txt";
    EXPECT_EQ(areaIndexBesideIsCurrent(entry.path().string()), !own) << entry.path();
    indexed += !own;
  }
  EXPECT_GT(indexed, 200u);
  expectAreas(root, {
                        {"+49 30 1234567", "Berlin"},         // German name, same as English
                        {"+49 89 1234567", "München"},        // German name
                        {"+49 151 23456789", "Deutschland"},  // the country, in German
                        {"+1 876 555 1234", "Jamaika"},       // shared code: by leading digits
                        {"+44 20 7946 0000", "London"},       // English where German has none
                        {"+36 1 234 5678", "Mine"},           // the user's file is kept
                        {"+33 1 42 68 53 00", "Paris"},       // nothing left of French
                        {"+376 312 345", "Andorra"},          // a code without areas
                    });
  e2e::Outcome status = e2e::zelvora(root, {"data"});
  EXPECT_NE(status.out.find("language de, carriers no"), std::string::npos) << status.out;
  EXPECT_NE(status.out.find("your own files: 36.txt"), std::string::npos) << status.out;

  device.writeFile(dataFile("33.txt"), "33|Changed\n");  // the user edits an installed file
  e2e::Outcome removed = e2e::zelvora(root, {"data", "remove"});
  ASSERT_EQ(removed.status, 0) << e2e::describe(removed);
  EXPECT_NE(removed.out.find("left alone, changed since the install: 33.txt"), std::string::npos)
      << removed.out;
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(device.path(kAreaCodeFolder)))
    left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (Texts{"33.txt", "36.txt"}));
  expectAreas(root, {{"+49 89 1234567", "Munich"},
                     {"+49 151 23456789", "Germany"},
                     {"+33 1 42 68 53 00", "Changed"}});
  EXPECT_EQ(e2e::zelvora(root, {"data"}).out.find("installed: nothing"), 0u);
}

// Guards the languages without English fallback and the carrier composition:
// each number gets its own area and its own carrier, in Chinese where the
// data has it.
TEST(DataCommand, ChineseWithCarriersHasNoEnglishNames) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  e2e::Outcome outcome = e2e::zelvora(root, {"data", "install", "--language", "zh", "--carrier"});
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  expectAreas(root, {
                        {"+86 139 1234 5678", "江苏省常州市 (中国移动)"},
                        {"+86 10 6552 9988", "北京市"},           // fixed line: no carrier
                        {"+49 151 23456789", "德国 (T-Mobile)"},  // carrier only in English
                        {"+44 20 7946 0000", "英国"},             // London has no Chinese name
                        {"+1 876 555 1234", "牙买加"},
                    });
}

// Guards the usage errors: an unknown language or option changes nothing.
TEST(DataCommand, UsageErrorsInstallNothing) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  const std::vector<Texts> calls = {{"data", "install", "--language", "xx"},
                                    {"data", "install", "--language"},
                                    {"data", "install", "de"},
                                    {"data", "frobnicate"}};
  for (const Texts& call : calls) {
    SCOPED_TRACE(call.back());
    e2e::Outcome outcome = e2e::zelvora(root, call);
    EXPECT_EQ(outcome.status, 2) << e2e::describe(outcome);
    EXPECT_TRUE(e2e::oneLine(outcome.err)) << outcome.err;
  }
  EXPECT_NE(e2e::zelvora(root, calls[0]).err.find("unknown language \"xx\""), std::string::npos);
  EXPECT_EQ(e2e::zelvora(root, {"lookup", "--carrier"}).status, 2);
  EXPECT_FALSE(device.readFile(dataFile(".zelvora-data-manifest")));
  expectAreas(root, {{"+49 89 1234567", "Munich"}});
}

}  // namespace
