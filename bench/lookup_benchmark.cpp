// How fast the one-pass scan finds an area in the largest bundled area-code
// file (86.txt) when the file is read for the lookup (as for a file too large
// to index, and as the reference the index is checked against), set against
// the cost of merely reading that file and counting its lines, and against the
// plain way of building the whole key-to-area table first.
//
// At the end the program prints the ratios and what one warm lookup through
// initVals allocates, for the number written in each form the lookup reads
// (the indexed lookup itself is measured by index_benchmark).
#include <benchmark/benchmark.h>

#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>

#include <unordered_map>
#include <vector>

#include "allocation_counter.h"
#include "host/foundation/device.h"
#include "host/foundation/files.h"
#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "lookup/area_scan.h"
#include "lookup/lookup.h"
#include "lookup/preference_keys.h"
#include "state/state.h"

namespace fs = std::filesystem;

namespace {

const std::string kLargestFile = std::string(ZELVORA_SOURCE_DATA_DIR) + "/codes/86.txt";
// A Beijing number: its key sits near the top of the file, so the scan cannot
// stop early; nothing does, as every line is read whatever the number.
const char* const kNumber = "+86 10 6552 9988";

// A device whose data folder is empty, so the lookup reads the bundled file as
// the application's resource, exactly as a fresh install does.
struct BenchDevice {
  BenchDevice() {
    root = (fs::temp_directory_path() / ("zelvora-bench-" + std::to_string(::getpid()))).string();
    fs::create_directories(root);
    host::setDeviceRoot(root);
    host::setDeviceRegion("CN");
    host::setMainBundleResourcePath(ZELVORA_SOURCE_DATA_DIR);
  }
  ~BenchDevice() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  std::string root;
};

BenchDevice& device() {
  static BenchDevice instance;
  return instance;
}

// The floor: read the same file into memory and count its lines.
void BM_ReadFileAndCountLines(benchmark::State& state) {
  size_t size = 0;
  for (auto _ : state) {
    std::optional<host::FileBytes> text = host::readFileBytes(kLargestFile);
    std::string_view bytes = text->view();
    // Counted the way wc -l does, with memchr from one line end to the next.
    size_t lines = 0;
    for (const char* p = bytes.data();
         (p = static_cast<const char*>(std::memchr(p, '\n', bytes.size() - (p - bytes.data()))));
         ++p) {
      ++lines;
    }
    benchmark::DoNotOptimize(lines);
    size = bytes.size();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}
BENCHMARK(BM_ReadFileAndCountLines)->Unit(benchmark::kMicrosecond);

// Reading alone, for reference.
void BM_ReadFileOnly(benchmark::State& state) {
  for (auto _ : state) {
    std::optional<host::FileBytes> text = host::readFileBytes(kLargestFile);
    benchmark::DoNotOptimize(text->view().data());
  }
}
BENCHMARK(BM_ReadFileOnly)->Unit(benchmark::kMicrosecond);

// The file read whole and scanned for the number, as for every lookup of a
// file too large to index.
void BM_ReadAndScanLargestFile(benchmark::State& state) {
  AreaScan result;
  for (auto _ : state) {
    std::optional<host::FileBytes> text = host::readFileBytes(kLargestFile);
    result = scanAreaCodes(text->view(), 2, u"1065529988");
    benchmark::DoNotOptimize(result);
  }
  if (result.result != AreaScan::Result::match) state.SkipWithError("no area found");
}
BENCHMARK(BM_ReadAndScanLargestFile)->Unit(benchmark::kMicrosecond);

// The scan alone, on text already in memory.
void BM_ScanOnly(benchmark::State& state) {
  std::string text;
  host::readWholeFile(kLargestFile, text);
  for (auto _ : state) {
    AreaScan result = scanAreaCodes(text, 2, u"1065529988");
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ScanOnly)->Unit(benchmark::kMicrosecond);

// The plain way, for comparison: decode the file, cut it into lines and
// fields, build the whole key-to-area table, then try every key.
std::u16string tableThenMatch(const std::string& path, const std::u16string& callingCode,
                              const std::u16string& national) {
  std::string bytes;
  host::readWholeFile(path, bytes);
  std::u16string text = toUtf16(bytes);
  std::unordered_map<std::u16string, std::u16string> table;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of(u"\n\r\u0085\u2028\u2029", start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string line = text.substr(start, end - start);
    std::vector<std::u16string> fields;
    size_t from = 0;
    for (size_t bar; (bar = line.find(u'|', from)) != std::u16string::npos; from = bar + 1) {
      fields.push_back(line.substr(from, bar - from));
    }
    fields.push_back(line.substr(from));
    table[fields.front()] = fields.back();
    start = end + 1;
    if (end < text.size() && text[end] == u'\r' && start < text.size() && text[start] == u'\n') {
      ++start;
    }
  }
  std::u16string best;
  size_t bestLength = 0;
  for (const auto& [key, areaText] : table) {
    if (key.size() < callingCode.size()) continue;
    std::u16string prefix = key.substr(callingCode.size());
    if (national.starts_with(prefix) && key.size() > bestLength) {
      best = areaText;
      bestLength = key.size();
    }
  }
  return best;
}

void BM_TableThenMatch(benchmark::State& state) {
  for (auto _ : state) {
    std::u16string found = tableThenMatch(kLargestFile, u"86", u"1065529988");
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(BM_TableThenMatch)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's processor time per iteration (the mean, when the
// runs are repeated) so the ratios can be printed. Processor time counts the
// kernel's work of reading the file too, and is steadier than wall time on a
// busy machine.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  RatioReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool mean = run.run_type == Run::RT_Aggregate && run.aggregate_name == "mean";
      if (run.run_type == Run::RT_Iteration || mean) {
        const double seconds =
            run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
        if (mean || !means.count(run.run_name.function_name)) {
          perIteration[run.run_name.function_name] = seconds;
        }
        if (mean) means.insert(run.run_name.function_name);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> perIteration;
  std::set<std::string> means;
};
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  auto time = [&](const char* name) {
    auto found = reporter.perIteration.find(name);
    return found == reporter.perIteration.end() ? 0.0 : found->second;
  };
  const double floor = time("BM_ReadFileAndCountLines");
  const double lookup = time("BM_ReadAndScanLargestFile");
  const double plain = time("BM_TableThenMatch");
  const double reading = time("BM_ReadFileOnly");
  if (floor > 0 && lookup > 0) {
    std::printf("read and scan 86.txt / read and count lines: %.2f (target at most 1.5)\n",
                lookup / floor);
  }
  if (reading > 0 && lookup > 0) {
    std::printf("read and scan 86.txt / read the file only: %.2f\n", lookup / reading);
  }
  if (lookup > 0 && plain > 0) {
    std::printf("table-then-match / read and scan: %.1f times faster (target at least 50)\n",
                plain / lookup);
  }

  // What one warm lookup allocates, measured around a single run.
  device();
  phoneNumber = NSString::fromUtf8(kNumber);
  area = nil;
  initVals();  // warm up the preference view and index the file
  area = nil;
  bench::resetAllocationCount();
  initVals();
  bench::AllocationCount count = bench::allocationCount();
  std::printf("one warm lookup: %zu allocations, peak %zu bytes held (file %ju bytes)\n",
              count.allocations, count.peakBytes,
              static_cast<uintmax_t>(fs::file_size(kLargestFile)));

  // However the number is written, a warm lookup allocates the same: reading
  // its layout, an international call prefix or a bracketed trunk prefix adds
  // nothing of its own.
  for (const char* written :
       {"+86 10 6552 9988", "00 86 10 6552 9988", "+86 (0)10 6552 9988",
        "\u202a+86\u00a010\u00a06552\u00a09988\u202c", "010.6552.9988", "010/6552\u20139988"}) {
    phoneNumber = NSString::fromUtf8(written);
    area = nil;
    initVals();
    area = nil;
    bench::resetAllocationCount();
    initVals();
    std::printf("one warm lookup of \"%s\": %zu allocations\n", written,
                bench::allocationCount().allocations);
  }
  benchmark::Shutdown();
  return 0;
}
