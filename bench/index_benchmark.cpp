// The indexed lookup as its callers see it:
//   - a warm lookup (nothing changed) under 86, 1 and 44, through initVals
//     with its stats and preference synchronisation, with the files installed
//     in the device's data folder (one stat) and with only the application's
//     bundled copy (a fresh install: the data folder's file is missing, so two
//     stats), next to the preference part alone and the file part alone;
//   - the first lookup under 86 (read and index), next to reading and scanning
//     the file once, the way every lookup went before;
//   - 20 Recents rows of Chinese numbers through the phone application's
//     hooks: the first pass with the caches cleared (no index, no preference
//     view) and later passes;
//   - the first lookup and the first Recents pass in a new process, which
//     this program starts for each (--fresh-process-probe recents|lookup):
//     that counts the first touch of every page the pass writes.
// At the end it prints the figures against their targets (with
// --benchmark_repetitions, the least of the repetitions), and the heap bytes
// held between lookups with the 86 file indexed. Times are processor time
// (user and system) per iteration, which counts the kernel's part of stats and
// reads and is steadier than wall time on a busy machine; the new-process
// figures are wall time, as the probe measures it.
//
// `index_benchmark --syscall-probe N [installed|bundled|sync]` instead sets up
// the same device (with the files installed, or only bundled), warms up, runs
// N warm lookups under 86 (sync: initVals without a number, the preference
// part alone) and exits, for counting system calls with strace
// (tools/count_lookup_syscalls.sh).
#include <benchmark/benchmark.h>

#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "bench_device.h"
#include "host/foundation/device.h"
#include "host/foundation/files.h"
#include "host/foundation/messages.h"
#include "host/foundation/preferences.h"
#include "host/foundation/values.h"
#include "host/runtime/objc.h"
#include "host/runtime/substrate.h"
#include "host/ui/uikit.h"
#include "lookup/area_cache.h"
#include "lookup/area_scan.h"
#include "lookup/lookup.h"
#include "lookup/preference_keys.h"
#include "presentation/recents.h"
#include "state/state.h"

namespace fs = std::filesystem;

namespace {

const std::string kDataDir = ZELVORA_SOURCE_DATA_DIR;

struct Case {
  const char* code;
  const char* number;
};
const Case kCases[] = {
    {"86", "+86 10 6552 9988"},
    {"1", "+1 212 555 0100"},
    {"44", "+44 161 496 0000"},
};

// Twenty Chinese numbers of different areas, as the Recents list shows them.
const char* const kRecentNumbers[20] = {
    "+86 10 6552 9988",  "+86 21 6321 5566",  "+86 20 8333 1234",  "+86 755 8201 2345",
    "+86 28 8612 3456",  "+86 571 8702 1234", "+86 27 8561 2345",  "+86 25 8441 2345",
    "+86 23 6381 2345",  "+86 29 8761 2345",  "+86 531 8612 3456", "+86 532 8281 2345",
    "+86 351 4012 345",  "+86 371 6512 3456", "+86 411 8261 2345", "+86 22 2331 2345",
    "+86 591 8761 2345", "+86 731 8412 3456", "+86 871 6312 345",  "+86 130 0000 1234",
};

// A device whose data folder is empty at first, so the lookup reads the
// bundled files as the application's resources, exactly as a fresh install
// does; installFiles() copies the three files into the data folder.
bench::BenchDevice& device() {
  static bench::BenchDevice instance("index", "CN");
  static const bool prepared = [] {
    CFPreferencesSetAppValue(kRecentsKey, NSNumber::integer(20), kPrefsDomain);
    return CFPreferencesAppSynchronize(kPrefsDomain);
  }();
  (void)prepared;
  return instance;
}

// Copies the cases' files into the data folder, or removes it.
void installFiles(bool installed) {
  std::vector<std::string> codes;
  for (const Case& c : kCases) codes.push_back(c.code);
  device().installFiles(installed, codes);
}

void lookUp(const char* number) {
  phoneNumber = NSString::fromUtf8(number);
  area = nil;
  initVals();
}

void BM_WarmLookup(benchmark::State& state) {
  const bool installed = state.range(1) != 0;
  installFiles(installed);
  const Case& c = kCases[state.range(0)];
  lookUp(c.number);
  lookUp(c.number);
  for (auto _ : state) {
    area = nil;
    initVals();
    benchmark::DoNotOptimize(area);
  }
  if (!objectAs<NSString>(area)) state.SkipWithError("no area found");
  state.SetLabel(std::string(c.code) + (installed ? ".txt in the data folder" : ".txt bundled"));
  installFiles(false);
}
BENCHMARK(BM_WarmLookup)
    ->ArgsProduct({{0, 1, 2}, {1, 0}})
    ->ArgNames({"file", "installed"})
    ->Unit(benchmark::kMicrosecond);

// initVals without a number: only the preference synchronisation, the
// settling of the home country and the folder watch's one question, which a
// lookup's file check then shares.
void BM_PreferenceSyncOnly(benchmark::State& state) {
  device();
  phoneNumber = nil;
  for (auto _ : state) {
    initVals();
    benchmark::DoNotOptimize(callingCodePrefs);
  }
}
BENCHMARK(BM_PreferenceSyncOnly)->Unit(benchmark::kMicrosecond);

// The file part alone: stats, the index and the area text.
void BM_FilePartOnly(benchmark::State& state) {
  const bool installed = state.range(1) != 0;
  installFiles(installed);
  const Case& c = kCases[state.range(0)];
  lookUp(c.number);
  const std::u16string code = toUtf16(c.code);
  std::u16string national = toUtf16(c.number);
  std::erase_if(national, [](char16_t u) { return u == u' ' || u == u'+'; });
  national.erase(0, code.size());
  lookUpArea(code, national);
  for (auto _ : state) {
    auto found = lookUpArea(code, national);
    benchmark::DoNotOptimize(found);
  }
  state.SetLabel(std::string(c.code) + (installed ? ".txt in the data folder" : ".txt bundled"));
  installFiles(false);
}
BENCHMARK(BM_FilePartOnly)
    ->ArgsProduct({{0, 1, 2}, {1, 0}})
    ->ArgNames({"file", "installed"})
    ->Unit(benchmark::kMicrosecond);

// The first lookup under 86: the file is read and indexed.
void BM_FirstLookup86(benchmark::State& state) {
  device();
  lookUp(kCases[0].number);
  for (auto _ : state) {
    state.PauseTiming();
    clearAreaCache();
    state.ResumeTiming();
    area = nil;
    initVals();
    benchmark::DoNotOptimize(area);
  }
  if (!objectAs<NSString>(area)) state.SkipWithError("no area found");
}
BENCHMARK(BM_FirstLookup86)->Unit(benchmark::kMillisecond);

// What every lookup did before the index: read the whole file and scan it.
void BM_ReadAndScan86(benchmark::State& state) {
  const std::string path = kDataDir + "/codes/86.txt";
  for (auto _ : state) {
    std::optional<host::FileBytes> text = host::readFileBytes(path);
    AreaScan scan = scanAreaCodes(text->view(), 2, u"1065529988");
    benchmark::DoNotOptimize(scan);
  }
}
BENCHMARK(BM_ReadAndScan86)->Unit(benchmark::kMillisecond);

// ---- Recents rows through the phone application's hooks ---------------------

void hostViewDidAppear(id, SEL, BOOL) {}
void hostWillDisplayCell(id, SEL, id, id, id) {}

id makeView(const char* className) {
  return msg<id(CGRect)>(msg<id()>(objc_getClass(className), "alloc"),
                         "initWithFrame:", CGRectMake(0, 0, 320, 44));
}

// A PHRecentsViewController with the host's two methods, hooked as the
// library hooks them at load time.
id recentsController() {
  static const id controller = [] {
    host::registerUIKitClasses();
    Class recents = objc_registerClass("PHRecentsViewController", NSObjectClass());
    class_addMethod(recents, sel_registerName("viewDidAppear:"), &hostViewDidAppear);
    class_addMethod(recents, sel_registerName("tableView:willDisplayCell:forRowAtIndexPath:"),
                    &hostWillDisplayCell);
    Class cell = objc_registerClass("PHRecentCallCell", objc_getClass("UIView"));
    class_addIvar(cell, "_callerNameLabel");
    class_addIvar(cell, "_callerLabelLabel");
    MSHookMessageEx(recents, sel_registerName("viewDidAppear:"), &hook_Recents_viewDidAppear,
                    &orig_viewDidAppear);
    MSHookMessageEx(recents, sel_registerName("tableView:willDisplayCell:forRowAtIndexPath:"),
                    &hook_Recents_willDisplayCell, &orig_willDisplayCell);
    return msg<id()>(objc_getClass("PHRecentsViewController"), "alloc");
  }();
  return controller;
}

struct Row {
  id cell;
  id indexPath;
};

std::vector<Row> makeRows() {
  std::vector<Row> rows;
  for (NSInteger i = 0; i < 20; ++i) {
    id cell = makeView("PHRecentCallCell");
    id name = makeView("UILabel");
    id kind = makeView("UILabel");
    msg<void(id)>(name, "setText:", NSString::fromUtf8(kRecentNumbers[i]));
    msg<void(id)>(kind, "setText:", NSString::fromUtf8("mobile"));
    Class cellClass = object_getClass(cell);
    object_setIvar(cell, class_getInstanceVariable(cellClass, "_callerNameLabel"), name);
    object_setIvar(cell, class_getInstanceVariable(cellClass, "_callerLabelLabel"), kind);
    rows.push_back({cell, msg<id(NSInteger, NSInteger)>(objc_getClass("NSIndexPath"),
                                                        "indexPathForRow:inSection:", i, 0)});
  }
  return rows;
}

// The list comes on screen and its twenty rows are displayed.
void showRecents(const id& controller, const std::vector<Row>& rows) {
  msg<void(BOOL)>(controller, "viewDidAppear:", BOOL{1});
  const id tableView = nil;
  for (const Row& row : rows) {
    msg<void(id, id, id)>(controller, "tableView:willDisplayCell:forRowAtIndexPath:", tableView,
                          row.cell, row.indexPath);
  }
}

void recentsPass(benchmark::State& state, bool fresh) {
  device();
  const id controller = recentsController();
  showRecents(controller, makeRows());
  size_t annotated = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<Row> rows = makeRows();
    if (fresh) {
      // As a process that starts now: no index and no preference view yet.
      clearAreaCache();
      host::resetPreferenceViews();
    }
    state.ResumeTiming();
    showRecents(controller, rows);
    state.PauseTiming();
    annotated = 0;
    for (const Row& row : rows) {
      id kind = object_getIvar(
          row.cell, class_getInstanceVariable(object_getClass(row.cell), "_callerLabelLabel"));
      annotated += ns::length(msg<id()>(kind, "text")) > std::strlen("mobile");
    }
    state.ResumeTiming();
  }
  if (annotated != 20) state.SkipWithError("not every row was annotated");
}

// The first pass as a process that has just started meets it: this program
// runs itself with --fresh-process-probe, which sets up, shows the list once
// (or looks up one number under 86) and prints how long that took. Unlike
// the in-process figure, this counts the first touch of every page the pass
// writes, which on some machines costs more than the work itself.
void freshProcessPass(benchmark::State& state, const char* what) {
  std::error_code failed;
  const std::string self = fs::read_symlink("/proc/self/exe", failed).string();
  const std::string command = "'" + self + "' --fresh-process-probe " + what;
  for (auto _ : state) {
    FILE* child = ::popen(command.c_str(), "r");
    double seconds = -1;
    if (!child || std::fscanf(child, "%lf", &seconds) != 1) seconds = -1;
    if (child && ::pclose(child) != 0) seconds = -1;
    if (seconds < 0) {
      state.SkipWithError("the probe process failed");
      return;
    }
    state.SetIterationTime(seconds);
  }
}

void BM_RecentsFirstPassFreshProcess(benchmark::State& state) {
  freshProcessPass(state, "recents");
}
BENCHMARK(BM_RecentsFirstPassFreshProcess)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

void BM_FirstLookup86FreshProcess(benchmark::State& state) {
  freshProcessPass(state, "lookup");
}
BENCHMARK(BM_FirstLookup86FreshProcess)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

void BM_RecentsFirstPass(benchmark::State& state) {
  recentsPass(state, true);
}
BENCHMARK(BM_RecentsFirstPass)->Unit(benchmark::kMillisecond);

void BM_RecentsLaterPass(benchmark::State& state) {
  recentsPass(state, false);
}
BENCHMARK(BM_RecentsLaterPass)->Unit(benchmark::kMillisecond);

// Keeps each benchmark's processor time per iteration, by benchmark name: with
// --benchmark_repetitions the least of its runs, the one least disturbed by
// whatever else the machine was doing.
class FigureReporter : public benchmark::ConsoleReporter {
 public:
  FigureReporter() : ConsoleReporter(OO_Tabular) {}
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred || run.run_type != Run::RT_Iteration) continue;
      // Times measured in another process are given as manual (wall) time.
      const bool manual = run.benchmark_name().find("/manual_time") != std::string::npos;
      const double time = (manual ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime()) /
                          benchmark::GetTimeUnitMultiplier(run.time_unit);
      auto [kept, added] = seconds.emplace(run.benchmark_name(), time);
      if (!added) kept->second = std::min(kept->second, time);
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds;
};

// The bytes the C library's allocator has handed out and not got back.
size_t heapInUse() {
  const struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

int syscallProbe(long lookups, const std::string& mode) {
  installFiles(mode != "bundled");
  lookUp(kCases[0].number);
  lookUp(kCases[0].number);
  // The first lookup stored the derived home values; like the files, the
  // preferences of a device are long settled, so the re-reads of a file
  // still racily clean are not counted as a warm lookup's.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  // "sync": initVals without a number, the preference part alone.
  if (mode == "sync") phoneNumber = nil;
  // Marks the start of the counted lookups in a trace.
  std::fprintf(stderr, "probe: %ld lookups\n", lookups);
  for (long i = 0; i < lookups; ++i) {
    area = nil;
    initVals();
  }
  return objectAs<NSString>(area) || lookups == 0 || mode == "sync" ? 0 : 1;
}

// Sets up as the benchmarks do, then times one first pass of the Recents list
// ("recents") or one first lookup under 86 ("lookup") and prints its seconds.
int freshProcessProbe(const std::string& what) {
  device();
  const id controller = recentsController();
  std::vector<Row> rows = makeRows();
  phoneNumber = NSString::fromUtf8(kCases[0].number);
  host::resetPreferenceViews();
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  const long faultsBefore = usage.ru_minflt;
  const auto start = std::chrono::steady_clock::now();
  if (what == "recents") {
    showRecents(controller, rows);
  } else {
    area = nil;
    initVals();
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (what != "recents" && !objectAs<NSString>(area)) return 1;
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%.9f %ld\n", took.count(), usage.ru_minflt - faultsBefore);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--syscall-probe") == 0) {
    return syscallProbe(std::atol(argv[2]), argc == 4 ? argv[3] : "installed");
  }
  if (argc == 3 && std::strcmp(argv[1], "--fresh-process-probe") == 0) {
    return freshProcessProbe(argv[2]);
  }
  // The in-process figures count the work on memory this process already
  // has: freed memory is kept rather than given back to the system between
  // iterations, as a long-running application's heap keeps it. The first
  // touch of new pages, which on some machines costs more than the work, is
  // what the new-process figures add.
  ::mallopt(M_MMAP_THRESHOLD, 64 << 20);
  ::mallopt(M_TRIM_THRESHOLD, 256 << 20);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  FigureReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  auto figure = [&](const std::string& name) {
    auto found = reporter.seconds.find(name);
    return found == reporter.seconds.end() ? -1.0 : found->second;
  };
  auto show = [](const char* what, double seconds, double scale, const char* unit,
                 const char* target) {
    if (seconds >= 0)
      std::printf("%-46s %8.2f %s  (target %s)\n", what, seconds * scale, unit, target);
  };
  const double sync = figure("BM_PreferenceSyncOnly");
  for (int installed : {1, 0}) {
    for (int i = 0; i < 3; ++i) {
      const double warm = figure("BM_WarmLookup/file:" + std::to_string(i) +
                                 "/installed:" + std::to_string(installed));
      const std::string what = std::string("warm lookup, ") + kCases[i].code +
                               (installed ? ".txt in the data folder" : ".txt bundled");
      show(what.c_str(), warm, 1e6, "us", "<= 5 us");
      if (warm > 0 && sync >= 0) {
        std::printf("%-46s %8.0f %%\n", "  of which initVals without a number", 100 * sync / warm);
      }
    }
  }
  show("first lookup, 86.txt (read + index)", figure("BM_FirstLookup86"), 1e3, "ms", "<= 4 ms");
  show("20 Recents rows, first pass (caches cleared)", figure("BM_RecentsFirstPass"), 1e3, "ms",
       "<= 8.3 ms");
  show("20 Recents rows, first pass, new process",
       figure("BM_RecentsFirstPassFreshProcess/iterations:10/manual_time"), 1e3, "ms", "<= 8.3 ms");
  show("first lookup, 86.txt, new process",
       figure("BM_FirstLookup86FreshProcess/iterations:10/manual_time"), 1e3, "ms", "<= 4 ms");
  show("20 Recents rows, later pass", figure("BM_RecentsLaterPass"), 1e3, "ms", "<= 0.5 ms");

  // The heap bytes that stay allocated after the first lookup under 86 has
  // returned: the index, and nothing else. Counted by the C library's
  // allocator, through which operator new and the index's arrays allocate.
  device();
  clearAreaCache();
  lookUp(kCases[1].number);  // preference view and the rest of the process warmed up
  clearAreaCache();
  const size_t before = heapInUse();
  lookUp(kCases[0].number);
  area = nil;
  phoneNumber = nil;
  const double held = static_cast<double>(heapInUse()) - static_cast<double>(before);
  std::printf("%-46s %8.2f MB  (target <= 3.5 MB; index %.2f MB; file %.2f MB)\n",
              "heap held between lookups, 86.txt indexed", held / 1e6, areaCacheBytes() / 1e6,
              fs::file_size(kDataDir + "/codes/86.txt") / 1e6);
  benchmark::Shutdown();
  return 0;
}
