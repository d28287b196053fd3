// Composing the area-code set of a language from a bundle: English from one
// file per calling code, a language's overlay laid over its base, carrier
// names joined to the areas, and a damaged bundle reported rather than
// installed in part.
#include "data_sets.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_device.h"

namespace {

using Files = std::map<std::string, std::string>;  // path in the bundle -> contents

// A small bundle: +44 and +247 with English files, +33 known only from the
// list, French over English, Chinese on its own, and two languages each the
// other's base.
const Files kBundle = {
    {"calling-codes.txt", "44\n247\n33\n"},
    {"codes/44.txt", "4420|London\n44161|Manchester\n"},
    {"codes/247.txt", "24764|Two Boats\n"},
    {"lang/index.txt", "fr|en\nzh|\nxx|yy\nyy|xx\nde|en\n"},
    {"lang/fr.txt", "4420|Londres\n331|Paris\n"},
    {"lang/zh.txt", "44|英国\n"},
    {"lang/xx.txt", ""},
    {"lang/yy.txt", ""},
    {"carriers/en.txt", "447700|Vodafone\n4420|\n"},
    {"carriers/fr.txt", "447700|Vodafone France\n"},
};

// The bundle with `changes` (an empty text: the file taken away), written
// under `device`.
std::string makeBundle(const testing_support::TempDevice& device, const Files& changes) {
  Files files = kBundle;
  for (const auto& [path, contents] : changes) files[path] = contents;
  for (const auto& [path, contents] : files) {
    if (!contents.empty() || !changes.contains(path)) device.writeFile("/bundle/" + path, contents);
  }
  std::filesystem::create_directories(device.path("/bundle/codes"));
  return device.path("/bundle");
}

// Each calling code's file text, "code: text" a line, or the error.
std::string composed(const std::string& dir, const std::string& language, bool carriers) {
  zelvora::AreaSetResult result = zelvora::composeAreaSet(dir, language, carriers);
  if (!result.error.empty()) return "error: " + result.error;
  std::string text;
  for (const auto& [code, records] : result.set) {
    text += code + ": " + zelvora::formatRecords(records) + (records.empty() ? "\n" : "");
  }
  return text;
}

// Guards the composition of each kind of language, and the reporting of
// every way a bundle can be damaged: no codes, an unknown language, bases
// in a circle, an overlay key of no calling code, an overlay or carrier file
// that cannot be read.
TEST(DataSets, ComposesEachLanguageAndReportsADamagedBundle) {
  struct Case {
    const char* language;
    bool carriers;
    Files changes;
    std::string expected;  // {DIR} is the bundle
  };
  const Case cases[] = {
      {"en", false, {}, "247: 24764|Two Boats\n33: \n44: 44161|Manchester\n4420|London\n"},
      {"fr",
       false,
       {},
       "247: 24764|Two Boats\n33: 331|Paris\n44: 44161|Manchester\n4420|Londres\n"},
      {"zh", false, {}, "247: \n33: \n44: 44|英国\n"},
      {"en",
       true,
       {},
       "247: 24764|Two Boats\n33: \n44: 44161|Manchester\n4420|London\n447700|Vodafone\n"},
      {"fr",
       true,
       {{"lang/fr.txt", "44|Royaume-Uni\n"}},
       "247: 24764|Two Boats\n33: \n44: 44|Royaume-Uni\n44161|Manchester\n4420|London\n"
       "447700|Royaume-Uni (Vodafone France)\n"},
      {"en",
       false,
       {{"codes/44.txt", ""}, {"codes/247.txt", ""}, {"calling-codes.txt", ""}},
       "error: no area-code files in {DIR}/codes"},
      {"qq", false, {}, "error: the bundle has no language qq"},
      {"xx", false, {}, "error: lang/index.txt: the bases of yy run in a circle"},
      {"fr",
       false,
       {{"lang/fr.txt", "4420|Londres\n99|Nowhere\n"}},
       "error: {DIR}/lang/fr.txt: key 99 has no file"},
      {"de", false, {}, "error: cannot read {DIR}/lang/de.txt"},
      {"en", true, {{"carriers/en.txt", ""}}, "error: cannot read {DIR}/carriers/en.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.language) + (c.carriers ? " with carriers" : ""));
    testing_support::TempDevice device;
    const std::string dir = makeBundle(device, c.changes);
    std::string expected = c.expected;
    if (size_t at = expected.find("{DIR}"); at != std::string::npos) expected.replace(at, 5, dir);
    EXPECT_EQ(composed(dir, c.language, c.carriers), expected);
  }
}

// Guards the languages offered: English first, then the index's in order;
// none without area-code files.
TEST(DataSets, BundledLanguagesAreEnglishThenTheIndexs) {
  testing_support::TempDevice device;
  EXPECT_EQ(zelvora::bundledLanguages(makeBundle(device, {})),
            (std::vector<std::string>{"en", "fr", "zh", "xx", "yy", "de"}));
  testing_support::TempDevice empty;
  EXPECT_TRUE(zelvora::bundledLanguages(makeBundle(empty, {{"codes/44.txt", ""},
                                                           {"codes/247.txt", ""},
                                                           {"calling-codes.txt", ""}}))
                  .empty());
}

}  // namespace
