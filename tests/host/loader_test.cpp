#include "host/loader/loader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host/foundation/device.h"
#include "support/temp_device.h"

namespace {

namespace fs = std::filesystem;
using testing_support::TempDevice;
using Lines = std::vector<std::string>;

constexpr const char* kFolder = "/Library/MobileSubstrate/DynamicLibraries/";
constexpr const char* kBundle = "com.apple.mobilephone";

std::string filterFor(const Lines& bundles) {
  std::string xml =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
      "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n<dict>\n  <key>Filter</key>\n  <dict>\n"
      "    <key>Bundles</key>\n    <array>\n";
  for (const std::string& bundle : bundles) xml += "      <string>" + bundle + "</string>\n";
  return xml + "    </array>\n  </dict>\n</dict>\n</plist>\n";
}

// {Filter = {Bundles = ("com.example.other", "com.apple.mobilephone")}} as a
// binary property list.
const std::string kBinaryFilter(
    "\x62\x70\x6c\x69\x73\x74\x30\x30\xd1\x01\x02\x56\x46\x69\x6c\x74\x65\x72\xd1\x03\x04\x57\x42"
    "\x75\x6e\x64\x6c\x65\x73\xa2\x05\x06\x5f\x10\x11\x63\x6f\x6d\x2e\x65\x78\x61\x6d\x70\x6c\x65"
    "\x2e\x6f\x74\x68\x65\x72\x5f\x10\x15\x63\x6f\x6d\x2e\x61\x70\x70\x6c\x65\x2e\x6d\x6f\x62\x69"
    "\x6c\x65\x70\x68\x6f\x6e\x65\x08\x0b\x12\x15\x1d\x20\x34\x00\x00\x00\x00\x00\x00\x01\x01\x00"
    "\x00\x00\x00\x00\x00\x00\x07\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x4c",
    115);

// A device root with an extensions folder. The probe library's initialiser
// writes a line to the device's probe log each time loading runs it.
class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef ZELVORA_LOADER_PROBE
    probe_ = ZELVORA_LOADER_PROBE;
#endif
    ASSERT_TRUE(fs::is_regular_file(probe_))
        << "the probe extension is not built; loader_test needs ZELVORA_LOADER_PROBE";
    fs::create_directories(device_.path(kFolder));
    ::setenv("ZELVORA_PROBE_LOG", device_.path("/probe.log").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("ZELVORA_PROBE_LOG");
  }

  // Installs the probe as `name` ("<stem>.dylib"); each copy is a new file,
  // so loading it runs its initialiser again.
  void installProbe(const std::string& name) {
    fs::copy_file(probe_, device_.path(std::string(kFolder) + name),
                  fs::copy_options::overwrite_existing);
  }
  void writeFilter(const std::string& name, const std::string& contents) {
    device_.writeFile(std::string(kFolder) + name, contents);
  }
  int timesRun() const {
    std::string log = device_.readFile("/probe.log").value_or("");
    int lines = 0;
    for (char c : log) lines += c == '\n';
    return lines;
  }

  TempDevice device_;
  std::string probe_;
};

TEST_F(LoaderTest, MatchingFiltersLoadAndRunTheLibraries) {
  installProbe("ZelvoraPro.dylib");
  writeFilter("ZelvoraPro.plist", filterFor({"com.apple.springboard", kBundle}));
  installProbe("Binary.dylib");
  writeFilter("Binary.plist", kBinaryFilter);

  host::LoadReport report = host::loadExtensions(kBundle);
  EXPECT_EQ(report.loaded, (Lines{"Binary.dylib", "ZelvoraPro.dylib"}));
  EXPECT_EQ(report.problems, Lines{});
  EXPECT_EQ(timesRun(), 2);
}

TEST_F(LoaderTest, FiltersForOtherBundlesSkipQuietly) {
  installProbe("ZelvoraPro.dylib");
  writeFilter("ZelvoraPro.plist", filterFor({"com.apple.springboard"}));
  installProbe("Empty.dylib");
  writeFilter("Empty.plist", filterFor({}));
  installProbe("NoBundles.dylib");
  std::string noBundles = filterFor({kBundle});
  noBundles.replace(noBundles.find("Bundles"), 7, "Classes");
  writeFilter("NoBundles.plist", noBundles);
  installProbe("Prefix.dylib");
  writeFilter("Prefix.plist", filterFor({"com.apple.mobilephon", "com.apple.mobilephone2"}));

  host::LoadReport report = host::loadExtensions(kBundle);
  EXPECT_EQ(report.loaded, Lines{});
  EXPECT_EQ(report.problems, Lines{});
  EXPECT_EQ(timesRun(), 0);

  report = host::loadExtensions("com.apple.springboard");
  EXPECT_EQ(report.loaded, Lines{"ZelvoraPro.dylib"});
  EXPECT_EQ(timesRun(), 1);
}

TEST_F(LoaderTest, EachBrokenExtensionGivesOneProblemAndTheRestStillLoad) {
  installProbe("A-NoFilter.dylib");
  installProbe("B-Garbage.dylib");
  writeFilter("B-Garbage.plist", "Filter = nothing useful");
  installProbe("C-Empty.dylib");
  writeFilter("C-Empty.plist", "");
  installProbe("D-Truncated.dylib");
  writeFilter("D-Truncated.plist", filterFor({kBundle}).substr(0, 150));
  writeFilter("E-Corrupt.dylib", "not a shared object at all");
  writeFilter("E-Corrupt.plist", filterFor({kBundle}));
  installProbe("F-Good.dylib");
  writeFilter("F-Good.plist", filterFor({kBundle}));

  host::LoadReport report = host::loadExtensions(kBundle);
  EXPECT_EQ(report.loaded, Lines{"F-Good.dylib"});
  EXPECT_EQ(timesRun(), 1);
  ASSERT_EQ(report.problems.size(), 5u);
  EXPECT_EQ(report.problems[0], "A-NoFilter.dylib: not loaded: no filter A-NoFilter.plist");
  EXPECT_EQ(report.problems[1], "B-Garbage.dylib: not loaded: filter is not a property list");
  EXPECT_EQ(report.problems[2], "C-Empty.dylib: not loaded: filter is not a property list");
  EXPECT_EQ(report.problems[3], "D-Truncated.dylib: not loaded: filter is not a property list");
  const std::string corrupt = "E-Corrupt.dylib: not loaded: ";
  ASSERT_GT(report.problems[4].size(), corrupt.size());
  EXPECT_EQ(report.problems[4].substr(0, corrupt.size()), corrupt);
}

TEST_F(LoaderTest, OnlyLibraryFilesAreConsidered) {
  installProbe("Probe.so");
  writeFilter("Probe.plist", filterFor({kBundle}));
  installProbe(".dylib");
  writeFilter(".plist", filterFor({kBundle}));
  fs::create_directories(device_.path(std::string(kFolder) + "Folder.dylib"));
  writeFilter("Folder.plist", filterFor({kBundle}));
  writeFilter("Notes.txt", "readme");

  host::LoadReport report = host::loadExtensions(kBundle);
  EXPECT_EQ(report.loaded, Lines{});
  // The filters meant for this program are reported as lacking their library.
  EXPECT_EQ(report.problems,
            (Lines{"Folder.dylib: not loaded: missing beside its filter Folder.plist",
                   "Probe.dylib: not loaded: missing beside its filter Probe.plist"}));
  EXPECT_EQ(timesRun(), 0);
}

TEST_F(LoaderTest, MissingFolderOrRootGivesAnEmptyReport) {
  EXPECT_EQ(host::extensionsFolder(), device_.path(kFolder));
  fs::remove_all(device_.path("/Library"));
  host::LoadReport report = host::loadExtensions(kBundle);
  EXPECT_TRUE(report.loaded.empty());
  EXPECT_TRUE(report.problems.empty());

  host::setDeviceRoot({});
  EXPECT_EQ(host::extensionsFolder(), "");
  report = host::loadExtensions(kBundle);
  EXPECT_TRUE(report.loaded.empty());
  EXPECT_TRUE(report.problems.empty());
}

}  // namespace
