// The simulated device's paths (device.h) and the moves of files between
// names (file_move.h), case by case.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "host/foundation/device.h"
#include "host/foundation/file_move.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;

namespace {

// Puts the process-wide settings back as they were.
struct Settings {
  ~Settings() {
    host::setDeviceRoot(root);
    host::setMainBundleResourcePath(resources);
  }
  std::string root = host::deviceRoot();
  std::string resources = host::mainBundleResourcePath();
};

TEST(DeviceCases, DevicePathsJoinTheRootWithOneSlash) {
  Settings saved;
  struct Case {
    const char* root;
    const char* devicePath;
    const char* path;
  };
  const Case cases[] = {
      {"", "/a", ""},  // no root: no file
      {"/r", "/a", "/r/a"}, {"/r//", "/a", "/r/a"}, {"/r", "a", "/r/a"},
      {"/r", "", "/r/"},    {"/", "/a", "//a"},     {"r/", "/a/b", "r/a/b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.root) + " + " + c.devicePath);
    host::setDeviceRoot(c.root);
    EXPECT_EQ(host::devicePath(c.devicePath), c.path);
  }
}

std::string contentsOf(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST(DeviceCases, BundleResourcesAreExistingRegularFiles) {
  Settings saved;
  testing_support::TempDevice device;
  const std::string base = device.root();
  fs::create_directories(base + "/data/dir.txt");
  std::ofstream(base + "/data/44.txt") << "x";
  std::ofstream(base + "/plain") << "x";
  struct Case {
    const char* name;
    const char* type;
    const char* folder;
    std::string found;  // empty: none
  };
  const Case cases[] = {
      {"44", "txt", "data", base + "/data/44.txt"},
      {"plain", "", "", base + "/plain"},
      {"44", "txt", "", ""},
      {"44", "", "data", ""},
      {"dir", "txt", "data", ""},  // a folder is no resource
  };
  host::setMainBundleResourcePath(base);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.folder) + "/" + c.name + "." + c.type);
    EXPECT_EQ(NSBundlePathForResource(c.name, c.type, c.folder).value_or(""), c.found);
  }
  host::setMainBundleResourcePath("");
  EXPECT_FALSE(NSBundlePathForResource("plain", "", ""));
}

// Guards against a move that replaces what stands at the new name, or that
// loses the old one when it fails, and against an exchange that is no swap.
TEST(DeviceCases, MovesNeverReplaceAndExchangesSwap) {
  testing_support::TempDevice device;
  const std::string a = device.root() + "/a", b = device.root() + "/b", c = device.root() + "/c";
  std::ofstream(a) << "A";
  std::ofstream(b) << "B";
  EXPECT_EQ(host::moveWithoutReplacing(a, b), EEXIST);
  EXPECT_EQ(contentsOf(a), "A");
  EXPECT_EQ(contentsOf(b), "B");
  EXPECT_EQ(host::moveWithoutReplacing(a, c), 0);
  EXPECT_FALSE(fs::exists(a));
  EXPECT_EQ(contentsOf(c), "A");
  EXPECT_EQ(host::moveWithoutReplacing(a, device.root() + "/d"), ENOENT);

  EXPECT_EQ(host::exchangeFiles(b, c), 0);
  EXPECT_EQ(contentsOf(b), "A");
  EXPECT_EQ(contentsOf(c), "B");
  EXPECT_EQ(host::exchangeFiles(b, a), ENOENT);
  EXPECT_EQ(contentsOf(b), "A");
}

}  // namespace
