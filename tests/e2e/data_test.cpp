// Installed area-code sets end to end: `zelvora data install` puts a language
// (with carriers) into the device's data folder, each file with its prebuilt
// index, lookups answer from it, `zelvora data remove` takes away only what it
// put there (indexes included), and the bundled English set answers again.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "e2e/e2e_process.h"
#include "file_placement.h"
#include "host/foundation/file_lock.h"
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

// Every name in the data folder, hidden ones included, sorted.
Texts dataFolderNames(const testing_support::TempDevice& device) {
  Texts names;
  for (const auto& entry : std::filesystem::directory_iterator(device.path(kAreaCodeFolder)))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Waits until `install` has begun to put its files in place (its manifest
// is marked unfinished), however long its preparation takes; false when it
// ended first.
bool placingBegun(const testing_support::TempDevice& device, e2e::Child& install) {
  const auto unfinished = [&] {
    return device.readFile(dataFile(".zelvora-data-manifest")).value_or("").find("unfinished") !=
           std::string::npos;
  };
  while (!unfinished()) {
    if (!install.running()) return unfinished();
    ::usleep(10000);
  }
  return true;
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
                        {"+33 1 42 68 53 00", "Frankreich"},  // nothing left of French
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

// Guards the empty files that keep English out of a language without a base:
// Chinese has no records for +247 and +383, so its install must still write
// their files, empty, or the bundled English names answer through.
TEST(DataCommand, ALanguageWithoutBaseHidesTheEnglishOfCodesItLacks) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  expectAreas(root, {{"+247 6412", "Two Boats"}, {"+383 38 123 456", "Prishtina"}});
  e2e::Outcome outcome = e2e::zelvora(root, {"data", "install", "--language", "zh"});
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  for (const char* name : {"247.txt", "383.txt"}) {
    EXPECT_EQ(device.readFile(dataFile(name)), "") << name;
  }
  expectAreas(root, {{"+247 6412", ""}, {"+383 38 123 456", ""}, {"+44 20 7946 0000", "英国"}});
}

// Guards against an install writing over an installed file in place: a file
// is replaced by another, so whoever holds the old one (here a hard link to
// it) keeps the old bytes.
TEST(DataCommand, AReinstallReplacesFilesAndLeavesTheOldOnesToTheirHolders) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  ASSERT_EQ(e2e::zelvora(root, {"data", "install"}).status, 0);
  const std::optional<std::string> english = device.readFile(dataFile("49.txt"));
  ASSERT_TRUE(english);
  std::filesystem::create_hard_link(device.path(dataFile("49.txt")), device.path("/held-49.txt"));
  e2e::Outcome outcome = e2e::zelvora(root, {"data", "install", "--language", "de"});
  ASSERT_EQ(outcome.status, 0) << e2e::describe(outcome);
  EXPECT_EQ(device.readFile("/held-49.txt"), english);
  const std::optional<std::string> german = device.readFile(dataFile("49.txt"));
  EXPECT_NE(german, english);
  EXPECT_NE(german.value_or("").find("|München\n"), std::string::npos);
  expectAreas(root, {{"+49 89 1234567", "München"}});
}

// Guards the status's count of installed files changed or taken away since,
// and a removal with nothing installed (no folder, or no manifest in it)
// being no error.
TEST(DataCommand, StatusCountsChangedAndMissingFilesAndRemovingNothingIsDone) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  for (bool folder : {false, true}) {
    if (folder) std::filesystem::create_directories(device.path(kAreaCodeFolder));
    e2e::Outcome removed = e2e::zelvora(root, {"data", "remove"});
    EXPECT_EQ(removed.status, 0) << e2e::describe(removed);
    EXPECT_EQ(removed.out, "nothing installed\n");
  }
  ASSERT_EQ(e2e::zelvora(root, {"data", "install", "--language", "de"}).status, 0);
  device.writeFile(dataFile("49.txt"), "49|Changed\n");
  std::filesystem::remove(device.path(dataFile("33.txt")));
  e2e::Outcome status = e2e::zelvora(root, {"data"});
  EXPECT_NE(status.out.find(" files (1 changed since) (1 missing)\n"), std::string::npos)
      << status.out;
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

// Guards the lock between installs: two at once, in different languages,
// and then a removal leave exactly the user's files, and the bundled English
// set answers again; no install leaves another's files behind as the user's.
TEST(DataCommand, ConcurrentInstallsAndARemovalLeaveOnlyTheUsersFiles) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  device.writeFile(dataFile("36.txt"), "36|Mine\n");
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    e2e::Child german(
        {e2e::program("zelvora"), "--root", root, "data", "install", "--language", "de"});
    e2e::Child french({e2e::program("zelvora"), "--root", root, "data", "install", "--language",
                       "fr", "--carrier"});
    for (e2e::Child* install : {&german, &french}) {
      e2e::Outcome outcome = install->finish();
      EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
      EXPECT_NE(outcome.out.find("left your own files alone: 36.txt\n"), std::string::npos)
          << outcome.out;
    }
    e2e::Outcome status = e2e::zelvora(root, {"data"});
    EXPECT_NE(status.out.find("\nyour own files: 36.txt\nfolder: "), std::string::npos)
        << status.out;
    EXPECT_EQ(status.out.find("changed since"), std::string::npos) << status.out;
    EXPECT_EQ(status.out.find("missing"), std::string::npos) << status.out;
  }
  e2e::Outcome removed = e2e::zelvora(root, {"data", "remove"});
  EXPECT_EQ(removed.status, 0) << e2e::describe(removed);
  EXPECT_EQ(dataFolderNames(device), (Texts{"36.txt"}));
  expectAreas(
      root,
      {{"+33 1 23 45 67 89", "France"}, {"+49 89 1234567", "Munich"}, {"+36 1 234 5678", "Mine"}});
}

// Guards against replacing a file the user puts in place while an install
// runs, whether the install meant to create that name or to replace its own
// earlier file there: the user's file stays, is reported, and outlives a
// removal.
TEST(DataCommand, AFileTheUserPutsInPlaceDuringAnInstallIsNeverReplaced) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  for (int round = 0; round < 2; ++round) {
    const bool overOwnFile = round == 1;  // an install of ours is there already
    SCOPED_TRACE(overOwnFile ? "over the installer's own file" : "a name the installer creates");
    ASSERT_EQ(e2e::zelvora(root, {"data", "remove"}).status, 0);
    std::filesystem::remove(device.path(dataFile("44.txt")));
    if (overOwnFile) {
      ASSERT_EQ(e2e::zelvora(root, {"data", "install"}).status, 0);
    }
    const std::string mine = "4420|Mine " + std::to_string(round) + "\n";
    device.writeFile("/staging/44.txt", mine);
    e2e::Child install({e2e::program("zelvora"), "--root", root, "data", "install", "--language",
                        round == 0 ? "de" : "fr"});
    ASSERT_TRUE(placingBegun(device, install));
    std::filesystem::rename(device.path("/staging/44.txt"), device.path(dataFile("44.txt")));
    e2e::Outcome outcome = install.finish();
    EXPECT_EQ(outcome.status, 0) << e2e::describe(outcome);
    EXPECT_EQ(device.readFile(dataFile("44.txt")), mine);
    expectAreas(root, {{"+44 20 7946 0000", mine.substr(5, mine.size() - 6)}});
    EXPECT_EQ(e2e::zelvora(root, {"data", "remove"}).status, 0);
    EXPECT_EQ(device.readFile(dataFile("44.txt")), mine);
  }
}

// Guards against debris of a killed install living for ever: what it left
// is reported by `data` and cleared by the next install or removal, and an
// install killed while it puts its files in place is removed whole.
TEST(DataCommand, WhatAKilledInstallLeftIsReportedAndCleared) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  device.writeFile(dataFile("36.txt"), "36|Mine\n");
  device.writeFile(dataFile(".44.txt.99999.tmp"), std::string(2048, 'x'));
  device.writeFile(dataFile(".zelvora-data-manifest.4242.tmp"), "language d");
  e2e::Outcome status = e2e::zelvora(root, {"data"});
  EXPECT_NE(status.out.find("an install or removal was interrupted, leaving 2 temporary files "
                            "(2058 bytes); the next zelvora data install or remove clears it up"),
            std::string::npos)
      << status.out;
  e2e::Outcome installed = e2e::zelvora(root, {"data", "install", "--language", "de"});
  EXPECT_EQ(installed.status, 0) << e2e::describe(installed);
  EXPECT_EQ(installed.out.find("removed 2 temporary files (2058 bytes) that an interrupted "
                               "install left\n"),
            0u)
      << installed.out;

  e2e::Child killed({e2e::program("zelvora"), "--root", root, "data", "install", "--language", "fr",
                     "--carrier"});
  ASSERT_TRUE(placingBegun(device, killed));
  ::usleep(20000);
  ASSERT_EQ(killed.kill().status, -SIGKILL);
  status = e2e::zelvora(root, {"data"});
  EXPECT_EQ(status.status, 0) << e2e::describe(status);
  e2e::Outcome removed = e2e::zelvora(root, {"data", "remove"});
  EXPECT_EQ(removed.status, 0) << e2e::describe(removed);
  EXPECT_EQ(dataFolderNames(device), (Texts{"36.txt"}));
  EXPECT_EQ(e2e::zelvora(root, {"data"}).out.find("installed: nothing"), 0u);
}

// Guards the manifest's reach: only plain names of the data folder are taken
// from it, so a damaged one removes no file in a folder below, no hidden file
// and not the folder itself.
TEST(DataCommand, ARemovalTakesOnlyPlainNamesFromTheManifest) {
  testing_support::TempDevice device;
  const std::string text = "49|Ours\n";
  const std::string sum = " " + zelvora::contentChecksum(text) + "\n";
  for (const char* name : {"49.txt", "sub/44.txt", ".44.txt"})
    device.writeFile(dataFile(name), text);
  device.writeFile(dataFile(".zelvora-data-manifest"),
                   "language de\ncarriers no\nfile\nfile sub/44.txt" + sum + "file .44.txt" + sum +
                       "file 49.txt" + sum);
  e2e::Outcome removed = e2e::zelvora(device.root(), {"data", "remove"});
  EXPECT_EQ(removed.status, 0) << e2e::describe(removed);
  EXPECT_EQ(removed.out, "removed 1 files; the bundled English set answers again\n");
  EXPECT_EQ(dataFolderNames(device), (Texts{".44.txt", "sub"}));
}

// Guards the reporting of failures: a manifest or index that cannot be
// written and an earlier file that cannot be looked at stop the command with
// the reason; an unfinished manifest stays for the next one, and an index
// without its text goes while the user's own indexes stay.
TEST(DataCommand, FilesThatCannotBeWrittenOrRemovedAreReported) {
  const std::string tooLong(300, 'x');
  struct {
    const char* what;
    Texts folders, files, call;
    std::string error;  // "@" for the data folder
    Texts gone, kept;
    bool unfinished;
  } const cases[] = {
      {"a folder where the manifest goes",
       {".zelvora-data-manifest/x"},
       {},
       {"data", "install"},
       "cannot write @.zelvora-data-manifest: Is a directory",
       {"44.txt"},
       {},
       false},
      {"folders where indexes go",
       {"44.idx/x", "49.idx/x"},
       {"99.idx", ".99.idx", "36.txt", "36.idx"},
       {"data", "install", "--language", "de"},
       "cannot write @44.idx: Is a directory (lookups read the file instead)\n"
       "cannot write @49.idx: Is a directory (lookups read the file instead)",
       {"99.idx"},
       {".99.idx", "36.idx", "44.idx/x", "49.txt"},
       false},
      {"a removal over a name too long",
       {},
       {".zelvora-data-manifest"},
       {"data", "remove"},
       "cannot remove @" + tooLong + ": File name too long",
       {},
       {".zelvora-data-manifest"},
       true},
      {"an install over a name too long",
       {},
       {".zelvora-data-manifest"},
       {"data", "install"},
       "cannot remove @" + tooLong + ": File name too long",
       {},
       {"44.txt"},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::TempDevice device;
    const std::string folder = device.path(kAreaCodeFolder);
    for (const std::string& name : c.folders) std::filesystem::create_directories(folder + name);
    for (const std::string& name : c.files) {
      device.writeFile(dataFile(name), name == ".zelvora-data-manifest"
                                           ? "language de\nfile " + tooLong + " 0-0\n"
                                           : "36|Mine\n");
    }
    e2e::Outcome outcome = e2e::zelvora(device.root(), c.call);
    EXPECT_EQ(outcome.status, 1) << e2e::describe(outcome);
    std::string error = "zelvora: " + c.error + "\n";
    for (size_t at; (at = error.find('@')) != std::string::npos;) error.replace(at, 1, folder);
    EXPECT_EQ(outcome.err, error);
    for (const std::string& name : c.gone)
      EXPECT_FALSE(std::filesystem::exists(folder + name)) << name;
    for (const std::string& name : c.kept)
      EXPECT_TRUE(std::filesystem::exists(folder + name)) << name;
    const std::string status = e2e::zelvora(device.root(), {"data"}).out;
    EXPECT_EQ(status.find("\nan install or removal was interrupted; the next") != std::string::npos,
              c.unfinished)
        << status;
  }
}

// Guards the data folder's lock: while another process holds it, `data` says
// an install or removal runs, and an install or removal gives up with the
// reason and changes nothing.
TEST(DataCommand, AHeldLockStopsInstallsAndRemovals) {
  testing_support::TempDevice device;
  const std::string root = device.root();
  ASSERT_EQ(e2e::zelvora(root, {"data", "install"}).status, 0);
  const std::string folder = device.path(kAreaCodeFolder);
  const Texts before = dataFolderNames(device);
  host::FileLock lock(folder, host::LockWait{});
  ASSERT_TRUE(lock.held());
  EXPECT_NE(e2e::zelvora(root, {"data"}).out.find("\nan install or removal is running now\n"),
            std::string::npos);
  for (std::string action : {"install", "remove"}) {
    e2e::Outcome outcome = e2e::zelvora(root, {"--wait", "0", "data", action});
    EXPECT_EQ(outcome.status, 1) << e2e::describe(outcome);
    EXPECT_EQ(outcome.err, "zelvora: cannot " + action + ": the lock " + folder +
                               " is held by another process\n");
  }
  EXPECT_EQ(dataFolderNames(device), before);
}

}  // namespace
