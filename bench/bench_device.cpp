#include "bench_device.h"

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <system_error>
#include <thread>

#include "host/foundation/device.h"

namespace fs = std::filesystem;

namespace bench {

namespace {
const std::string kDataDir = ZELVORA_BUNDLE_DIR;
}

BenchDevice::BenchDevice(const std::string& name, const std::string& region) {
  root_ = (fs::temp_directory_path() / ("zelvora-" + name + "-bench-" + std::to_string(::getpid())))
              .string();
  fs::create_directories(root_);
  // A phone has its run-time folders from the start: without this one, the
  // first process to register for notifications (the extension, as it loads)
  // would pay for creating it.
  fs::create_directories(root_ + "/var/run/notify");
  host::setDeviceRoot(root_);
  host::setDeviceRegion(region);
  host::setMainBundleResourcePath(kDataDir);
}

BenchDevice::~BenchDevice() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void BenchDevice::usePrebuiltIndexes(bool prebuilt) {
  host::setMainBundleResourcePath(prebuilt ? kDataDir : ZELVORA_SOURCE_DATA_DIR);
}

void BenchDevice::installFiles(bool installed, const std::vector<std::string>& codes) {
  const std::string folder = root_ + "/Library/Application Support/ZelvoraPro";
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  if (!installed) return;
  fs::create_directories(folder);
  for (const std::string& code : codes) {
    fs::copy_file(kDataDir + "/codes/" + code + ".txt", folder + "/" + code + ".txt");
  }
  // Files written just now are read again at every lookup until they are
  // safely older than the reads; an installed file is long settled.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

}  // namespace bench
