// Working out the device region for a command-line host.
#include "host/foundation/region.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace {

// Sets or clears the environment variables the region rule reads, and puts
// them back afterwards.
class RegionEnvironment : public ::testing::Test {
 protected:
  static constexpr const char* kNames[] = {"ZELVORA_REGION", "LC_ALL", "LC_MESSAGES", "LANG"};
  RegionEnvironment() {
    for (const char* name : kNames) {
      const char* value = getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
      unsetenv(name);
    }
  }
  ~RegionEnvironment() override {
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(Region, LocaleNames) {
  EXPECT_EQ(host::regionOfLocaleName("en_GB.UTF-8"), "GB");
  EXPECT_EQ(host::regionOfLocaleName("de_AT@euro"), "AT");
  EXPECT_EQ(host::regionOfLocaleName("pt_br"), "BR");
  EXPECT_EQ(host::regionOfLocaleName("C.UTF-8"), std::nullopt);
  EXPECT_EQ(host::regionOfLocaleName("POSIX"), std::nullopt);
  EXPECT_EQ(host::regionOfLocaleName("es_419.UTF-8"), std::nullopt);  // not two letters
  EXPECT_EQ(host::regionOfLocaleName(""), std::nullopt);
}

TEST(Region, GivenValuesMustBeTwoLetters) {
  EXPECT_EQ(host::parseRegion("gb", "--region").region, "GB");
  for (const char* bad : {"GBR", "G", "", "4X", "É1", "G "}) {
    host::RegionChoice choice = host::parseRegion(bad, "--region");
    EXPECT_FALSE(choice.region) << bad;
    EXPECT_NE(choice.error.find("--region"), std::string::npos) << bad;
  }
}

TEST_F(RegionEnvironment, OptionThenVariableThenLocale) {
  EXPECT_EQ(host::chooseRegion(std::nullopt).region, std::nullopt);  // nothing set
  setenv("LANG", "fr_FR.UTF-8", 1);
  EXPECT_EQ(host::chooseRegion(std::nullopt).region, "FR");
  setenv("LC_MESSAGES", "it_IT.UTF-8", 1);
  EXPECT_EQ(host::chooseRegion(std::nullopt).region, "IT");
  setenv("LC_ALL", "C", 1);  // the first one set decides, even without a region
  EXPECT_EQ(host::chooseRegion(std::nullopt).region, std::nullopt);
  setenv("ZELVORA_REGION", "de", 1);
  EXPECT_EQ(host::chooseRegion(std::nullopt).region, "DE");
  EXPECT_EQ(host::chooseRegion(std::string("us")).region, "US");
  setenv("ZELVORA_REGION", "Deutschland", 1);
  EXPECT_FALSE(host::chooseRegion(std::nullopt).error.empty());
}

}  // namespace
