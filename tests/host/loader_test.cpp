// The extension loader: which libraries its filters let it load, and one
// problem line for each broken extension.
#include "host/loader/loader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
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
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
      "<key>Filter</key><dict><key>Bundles</key><array>\n";
  for (const std::string& bundle : bundles) xml += "<string>" + bundle + "</string>\n";
  return xml + "</array></dict>\n</dict>\n</plist>\n";
}

// A device root with an extensions folder. The probe library's initialiser
// writes a line to the device's probe log each time loading runs it.
class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef ZELVORA_LOADER_PROBE
    probe_ = ZELVORA_LOADER_PROBE;
#endif
    ASSERT_TRUE(fs::is_regular_file(probe_)) << "loader_test needs ZELVORA_LOADER_PROBE";
    fs::create_directories(device_.path(kFolder));
    ::setenv("ZELVORA_PROBE_LOG", device_.path("/probe.log").c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("ZELVORA_PROBE_LOG");
  }

  // Installs the probe as `name`, cut to `size` bytes if given; each copy is a
  // new file, so loading it runs its initialiser again.
  void installProbe(const std::string& name, std::uintmax_t size = 0) {
    std::string path = device_.path(std::string(kFolder) + name);
    fs::copy_file(probe_, path, fs::copy_options::overwrite_existing);
    if (size) fs::resize_file(path, size);
  }
  void writeFile(const std::string& name, const std::string& contents) {
    device_.writeFile(std::string(kFolder) + name, contents);
  }
  int timesRun() const {
    std::string log = device_.readFile("/probe.log").value_or("");
    return static_cast<int>(std::count(log.begin(), log.end(), '\n'));
  }

  TempDevice device_;
  std::string probe_;
};

// Guards against a matching filter (the bundle anywhere in its list) not loading its library or not
// running its initialiser, and against loading a library whose filter names other bundles (near
// misses included) or none.
TEST_F(LoaderTest, LoadsExactlyTheLibrariesWhoseFilterNamesTheBundle) {
  installProbe("ZelvoraPro.dylib");
  writeFile("ZelvoraPro.plist", filterFor({"com.apple.springboard", kBundle}));
  installProbe("Other.dylib");
  writeFile("Other.plist", filterFor({"com.apple.springboard"}));
  installProbe("Empty.dylib");
  writeFile("Empty.plist", filterFor({}));
  installProbe("Prefix.dylib");
  writeFile("Prefix.plist", filterFor({"com.apple.mobilephon", "com.apple.mobilephone2"}));

  host::LoadReport report = host::loadExtensions(kBundle);
  EXPECT_EQ(report.loaded, Lines{"ZelvoraPro.dylib"});
  EXPECT_EQ(report.problems, Lines{});
  EXPECT_EQ(timesRun(), 1);
}

// Guards against a broken extension stopping the host, loading anyway, going
// unreported or being reported more than once, and against it keeping the
// good ones from loading.
TEST_F(LoaderTest, EachBrokenExtensionGivesOneProblemAndTheRestStillLoad) {
  installProbe("A-NoFilter.dylib");
  installProbe("B-Garbage.dylib");
  writeFile("B-Garbage.plist", "Filter = nothing useful");
  writeFile("C-Corrupt.dylib", "not a shared object at all");
  writeFile("C-Corrupt.plist", filterFor({kBundle}));
  installProbe("D-Cut.dylib", fs::file_size(probe_) / 2);
  writeFile("D-Cut.plist", filterFor({kBundle}));
  installProbe("E-Good.dylib");
  writeFile("E-Good.plist", filterFor({kBundle}));
  installProbe("F-Alone.so");
  writeFile("F-Alone.plist", filterFor({kBundle}));
  writeFile("G-Other.plist", filterFor({"com.apple.springboard"}));  // not for this program

  host::LoadReport report = host::loadExtensions(kBundle);
  EXPECT_EQ(report.loaded, Lines{"E-Good.dylib"});
  EXPECT_EQ(timesRun(), 1);
  const Lines expected = {
      "A-NoFilter.dylib: not loaded: no filter A-NoFilter.plist",
      "B-Garbage.dylib: not loaded: filter is not a property list",
      "C-Corrupt.dylib: not loaded: not an ELF shared object",
      "D-Cut.dylib: not loaded: file is cut off",
      "F-Alone.dylib: not loaded: missing beside its filter F-Alone.plist",
  };
  ASSERT_EQ(report.problems.size(), expected.size()) << ::testing::PrintToString(report.problems);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(report.problems[i].substr(0, expected[i].size()), expected[i]);
  }
}

// Guards against a FIFO or folder in place of a filter or library hanging the
// host or being passed over in silence, an oversized filter being read, and a
// property list of the wrong shape being taken for a filter naming no bundle.
// A hang ends the test program by the alarm instead of holding up the run.
TEST_F(LoaderTest, SpecialFilesAndWrongShapesAreReportedWithoutBlocking) {
  ::alarm(30);
  auto fifo = [&](const std::string& name) {
    ASSERT_EQ(::mkfifo(device_.path(std::string(kFolder) + name).c_str(), 0644), 0);
  };
  auto folder = [&](const std::string& name) {
    fs::create_directories(device_.path(std::string(kFolder) + name));
  };
  auto repeat = [](const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i) all += text;
    return all;
  };
  auto plist = [](const std::string& body) {
    return "<?xml version=\"1.0\"?>\n<plist version=\"1.0\">" + body + "</plist>\n";
  };
  for (const char* name : {"A-Fifo", "B-Folder", "C-Huge", "D-Array", "D-Deep", "E-String",
                           "F-NoBundles", "G-Number", "J-Good"}) {
    installProbe(std::string(name) + ".dylib");
  }
  fifo("A-Fifo.plist");
  folder("B-Folder.plist");
  writeFile("C-Huge.plist", filterFor({kBundle}));
  fs::resize_file(device_.path(std::string(kFolder) + "C-Huge.plist"), (4 << 20) + 1);
  writeFile("D-Array.plist", plist("<array><string>" + std::string(kBundle) + "</string></array>"));
  // Naming the bundle, but nested deeper than the shared property-list reader takes.
  writeFile("D-Deep.plist", plist("<dict><key>Filter</key><dict><key>Bundles</key><array><string>" +
                                  std::string(kBundle) + "</string>" + repeat("<array>", 300) +
                                  repeat("</array>", 300) + "</array></dict></dict>"));
  writeFile("E-String.plist", plist("<dict><key>Filter</key><string>x</string></dict>"));
  writeFile("F-NoBundles.plist",
            plist("<dict><key>Filter</key><dict><key>Executables</key><array><string>"
                  "MobilePhone</string></array></dict></dict>"));
  writeFile("G-Number.plist",
            plist("<dict><key>Filter</key><dict><key>Bundles</key><array><integer>1</integer>"
                  "<string>" +
                  std::string(kBundle) + "</string></array></dict></dict>"));
  fifo("H-FifoLibrary.dylib");
  writeFile("H-FifoLibrary.plist", filterFor({kBundle}));
  folder("I-FolderLibrary.dylib");
  writeFile("I-FolderLibrary.plist", filterFor({kBundle}));
  writeFile("J-Good.plist", filterFor({kBundle}));
  fifo("K-FifoAlone.plist");  // without a library: passed over

  host::LoadReport report = host::loadExtensions(kBundle);
  ::alarm(0);
  EXPECT_EQ(report.loaded, Lines{"J-Good.dylib"});
  EXPECT_EQ(timesRun(), 1);
  const std::string notLoaded = ".dylib: not loaded: ";
  const Lines expected = {
      "A-Fifo" + notLoaded + "filter is a FIFO",
      "B-Folder" + notLoaded + "filter is a folder",
      "C-Huge" + notLoaded + "filter is larger than 4 MiB",
      "D-Array" + notLoaded + "filter is not a property list with a dictionary at its root",
      "D-Deep" + notLoaded + "filter is nested too deeply",
      "E-String" + notLoaded + "filter has no \"Filter\" dictionary",
      "F-NoBundles" + notLoaded + "filter has no \"Bundles\" array in its \"Filter\"",
      "G-Number" + notLoaded + "filter lists something other than texts in its \"Bundles\"",
      "H-FifoLibrary" + notLoaded + "the library is a FIFO",
      "I-FolderLibrary" + notLoaded + "the library is a folder",
  };
  ASSERT_EQ(report.problems.size(), expected.size()) << ::testing::PrintToString(report.problems);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_TRUE(report.problems[i].starts_with(expected[i])) << report.problems[i];
  }
}

// Guards against a missing folder or device root being taken for an error.
TEST_F(LoaderTest, MissingFolderOrRootGivesAnEmptyReport) {
  fs::remove_all(device_.path("/Library"));
  EXPECT_EQ(host::loadExtensions(kBundle).problems, Lines{});
  host::setDeviceRoot({});
  EXPECT_EQ(host::loadExtensions(kBundle).problems, Lines{});
}

}  // namespace
