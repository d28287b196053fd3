// Working out the device region for a command-line host.
#include "host/foundation/region.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>

namespace {

// Guards against taking the language, a region that is not two letters (the
// signs next to the letters included), or a modifier for the region of a
// locale name.
TEST(Region, LocaleNames) {
  for (auto [name, region] : {std::pair{"en_GB.UTF-8", "GB"},
                              {"de_AT@euro", "AT"},
                              {"pt_br", "BR"},
                              {"C.UTF-8", ""},
                              {"POSIX", ""},
                              {"es_419.UTF-8", ""},
                              {"en_G1", ""},
                              {"en_g{", ""},
                              {"en_[B", ""},
                              {"", ""}}) {
    EXPECT_EQ(host::regionOfLocaleName(name).value_or(""), region) << name;
  }
}

// Guards against accepting an explicit region that is not two letters (the
// signs next to the letters included), and against an error that does not
// name where the value came from.
TEST(Region, GivenValuesMustBeTwoLetters) {
  EXPECT_EQ(host::parseRegion("gb", "--region").region, "GB");
  for (const char* bad : {"GBR", "G", "", "4X", "É1", "G4", "G{", "[B", "`B"}) {
    host::RegionChoice choice = host::parseRegion(bad, "--region");
    EXPECT_FALSE(choice.region) << bad;
    EXPECT_NE(choice.error.find("--region"), std::string::npos) << bad;
  }
}

// Guards against the wrong precedence: option > ZELVORA_REGION > LC_ALL >
// LC_MESSAGES > LANG, the first locale variable set deciding on its own.
TEST(Region, OptionThenVariableThenLocale) {
  // Left changed afterwards: nothing else in this program reads them.
  for (const char* name : {"ZELVORA_REGION", "LC_ALL", "LC_MESSAGES", "LANG"}) unsetenv(name);
  auto chosen = [] { return host::chooseRegion(std::nullopt).region.value_or("none"); };
  EXPECT_EQ(chosen(), "none");
  setenv("LANG", "fr_FR.UTF-8", 1);
  EXPECT_EQ(chosen(), "FR");
  setenv("LC_MESSAGES", "it_IT.UTF-8", 1);
  EXPECT_EQ(chosen(), "IT");
  setenv("LC_ALL", "C", 1);
  EXPECT_EQ(chosen(), "none");
  setenv("ZELVORA_REGION", "de", 1);
  EXPECT_EQ(chosen(), "DE");
  EXPECT_EQ(host::chooseRegion(std::string("us")).region, "US");
  setenv("ZELVORA_REGION", "Deutschland", 1);
  EXPECT_FALSE(host::chooseRegion(std::nullopt).error.empty());
}

}  // namespace
