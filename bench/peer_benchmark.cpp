// The lookup side by side with Google's libphonenumber (Debian's
// libphonenumber-dev), in one process:
//   - a warm lookup under 86, 1 and 44: initVals with its stats and preference
//     synchronisation against the peer's parse and offline geocoder, whose
//     data stays in memory; ours once with only the application's bundled
//     files (a fresh install: the missing data-folder file and the bundled
//     one are both checked, three stats in all) and once with the files
//     installed in the data folder (two stats);
//   - `zelvora lookup -` against the peer program phonenumber_lookup, each
//     answering 50,000 mixed numbers from standard input line by line.
// At the end it prints the ratios against their targets: of processor time
// for the warm lookups, of wall time for the programs.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench_device.h"
#include "host/foundation/device.h"
#include "host/foundation/values.h"
#include "lookup/lookup.h"
#include "phonenumber_peer.h"
#include "state/state.h"

namespace fs = std::filesystem;

namespace {

const std::string kDataDir = ZELVORA_SOURCE_DATA_DIR;
const std::string kBinDir = ZELVORA_BIN_DIR;
constexpr size_t kBulkNumbers = 50000;

struct Case {
  const char* code;
  const char* number;
};
const Case kCases[] = {
    {"86", "+86 10 6552 9988"},
    {"1", "+1 212 555 0100"},
    {"44", "+44 161 496 0000"},
};

// A device whose data folder is empty, so the bundled files are read as the
// application's resources. Home region GB for both sides.
bench::BenchDevice& device() {
  static bench::BenchDevice instance("peer", "GB");
  return instance;
}

// Copies the cases' files into the data folder, or removes it.
void installFiles(bool installed) {
  std::vector<std::string> codes;
  for (const Case& c : kCases) codes.push_back(c.code);
  device().installFiles(installed, codes);
}

void BM_WarmOurs(benchmark::State& state) {
  installFiles(state.range(1) != 0);
  phoneNumber = NSString::fromUtf8(kCases[state.range(0)].number);
  initVals();
  for (auto _ : state) {
    area = nil;
    initVals();
    benchmark::DoNotOptimize(area);
  }
  if (!objectAs<NSString>(area)) state.SkipWithError("no area found");
  installFiles(false);
}

void BM_WarmPeer(benchmark::State& state) {
  const std::string number = kCases[state.range(0)].number;
  std::string found = bench::peerArea(number, "GB");
  for (auto _ : state) {
    found = bench::peerArea(number, "GB");
    benchmark::DoNotOptimize(found);
  }
  if (found.empty()) state.SkipWithError("no area found");
}

// Each case for both sides, one after the other.
const bool registered = [] {
  for (int i = 0; i < 3; ++i) {
    const std::string code = kCases[i].code;
    benchmark::RegisterBenchmark(("BM_WarmOurs/" + code).c_str(), BM_WarmOurs)
        ->Args({i, 0})
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_WarmOursInstalled/" + code).c_str(), BM_WarmOurs)
        ->Args({i, 1})
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("BM_WarmPeer/" + code).c_str(), BM_WarmPeer)
        ->Arg(i)
        ->Unit(benchmark::kMicrosecond);
  }
  return true;
}();

// ---- bulk, from standard input ----------------------------------------------

// 50,000 numbers of ten countries, most of them international, British ones
// also in national form; each begins with a prefix of the area-code file and
// has its country's length, so that the peer finds it valid.
const std::string& bulkNumbers() {
  static const std::string path = [] {
    const std::vector<std::pair<std::string, std::string>> countries = {
        {"86", "CN"}, {"1", "US"},  {"44", "GB"}, {"49", "DE"}, {"33", "FR"},
        {"61", "AU"}, {"55", "BR"}, {"91", "IN"}, {"39", "IT"}, {"34", "ES"}};
    std::mt19937 random(50000);
    std::map<std::string, std::vector<std::string>> prefixes;
    for (const auto& [code, region] : countries) {
      std::ifstream in(kDataDir + "/codes/" + code + ".txt");
      for (std::string line; std::getline(in, line);) {
        std::string key = line.substr(0, line.find('|'));
        if (key.size() > code.size()) prefixes[code].push_back(key.substr(code.size()));
      }
    }
    std::string file = device().root() + "/bulk-numbers.txt";
    std::ofstream out(file);
    for (size_t i = 0; i < kBulkNumbers; ++i) {
      const auto& [code, region] = countries[random() % countries.size()];
      const auto& candidates = prefixes[code];
      const std::string national = bench::peerNationalNumberLike(
          region, candidates[random() % candidates.size()], static_cast<unsigned>(random()));
      if (code == "44" && random() % 2) {
        out << "0" << national << "\n";
      } else {
        out << "+" << code << " " << national << "\n";
      }
    }
    return file;
  }();
  return path;
}

// Runs a program with the numbers as standard input and its output in a file;
// the wall time from start to end.
double runWithNumbers(std::vector<std::string> arguments, const std::string& output) {
  std::vector<char*> argv;
  for (auto& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t child = ::fork();
  if (child == 0) {
    const int in = ::open(bulkNumbers().c_str(), O_RDONLY);
    const int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(in, STDIN_FILENO);
    ::dup2(out, STDOUT_FILENO);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  const auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double>(end - start).count();
}

size_t linesAnswered(const std::string& output, size_t& withArea) {
  std::ifstream in(output);
  size_t lines = 0;
  withArea = 0;
  for (std::string line; std::getline(in, line); ++lines) {
    if (!line.ends_with('\t')) ++withArea;
  }
  return lines;
}

void bulk(benchmark::State& state, std::vector<std::string> arguments) {
  bulkNumbers();
  const std::string output = device().root() + "/bulk-answers.txt";
  for (auto _ : state) {
    const double seconds = runWithNumbers(arguments, output);
    if (seconds < 0) {
      state.SkipWithError("the program failed");
      return;
    }
    state.SetIterationTime(seconds);
  }
  size_t withArea = 0;
  if (linesAnswered(output, withArea) != kBulkNumbers) state.SkipWithError("lines missing");
  state.counters["with_area"] = static_cast<double>(withArea);
}

void BM_BulkOurs(benchmark::State& state) {
  fs::create_directories(device().root() + "/bulk-device");
  bulk(state, {kBinDir + "/zelvora", "--root", device().root() + "/bulk-device", "--region", "GB",
               "lookup", "-"});
}
BENCHMARK(BM_BulkOurs)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_BulkPeer(benchmark::State& state) {
  bulk(state, {kBinDir + "/phonenumber_lookup", "GB"});
}
BENCHMARK(BM_BulkPeer)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

class FigureReporter : public benchmark::ConsoleReporter {
 public:
  FigureReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      // Processor time for the lookups in this process; wall time for the
      // programs run from it, whose time is measured by hand.
      const double time = run.run_name.time_type == "manual_time" ? run.GetAdjustedRealTime()
                                                                  : run.GetAdjustedCPUTime();
      seconds[run.run_name.function_name] = time / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds;
};

}  // namespace

int main(int argc, char** argv) {
  (void)registered;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto figure = [&](const std::string& name) {
    auto found = reporter.seconds.find(name);
    return found == reporter.seconds.end() ? -1.0 : found->second;
  };
  for (const char* where : {"bundled", "installed"}) {
    for (const Case& c : kCases) {
      const std::string name =
          where == std::string("bundled") ? "BM_WarmOurs/" : "BM_WarmOursInstalled/";
      const double ours = figure(name + c.code);
      const double peer = figure(std::string("BM_WarmPeer/") + c.code);
      if (ours > 0 && peer > 0) {
        std::printf(
            "warm lookup %-3s %-9s ours %6.2f us, libphonenumber %6.2f us: %5.1fx faster "
            "(target >= 3x, ours <= 5 us)\n",
            c.code, where, ours * 1e6, peer * 1e6, peer / ours);
      }
    }
  }
  const double ours = figure("BM_BulkOurs");
  const double peer = figure("BM_BulkPeer");
  if (ours > 0 && peer > 0) {
    std::printf(
        "bulk lookup - of %zu numbers: ours %.0f/s, libphonenumber %.0f/s: %.1fx faster "
        "(target >= 2.5x)\n",
        kBulkNumbers, kBulkNumbers / ours, kBulkNumbers / peer, peer / ours);
  }
  benchmark::Shutdown();
  return 0;
}
