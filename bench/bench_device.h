// A throw-away device root for the benchmarks: created under the temporary
// folder when constructed, set as this process's device root with the given
// region and the build's bundled data (each area-code file with its prebuilt
// index) as the application's resources, and removed with everything in it
// when destroyed.
#pragma once

#include <string>
#include <vector>

namespace bench {

class BenchDevice {
 public:
  // `name` tells the benchmark programs' folders apart ("index", "peer").
  BenchDevice(const std::string& name, const std::string& region);
  ~BenchDevice();
  BenchDevice(const BenchDevice&) = delete;
  BenchDevice& operator=(const BenchDevice&) = delete;

  // Copies the bundled files of `codes` into the device's data folder, or,
  // when `installed` is false, removes that folder so the bundled copies
  // answer. Waits until the copies are old enough to count as settled.
  void installFiles(bool installed, const std::vector<std::string>& codes);

  // The application's resources: the build's bundled data with its prebuilt
  // indexes, or (false) the source tree's data folder, which has none, so
  // that every bundled file is read and indexed as without them.
  void usePrebuiltIndexes(bool prebuilt);

  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace bench
