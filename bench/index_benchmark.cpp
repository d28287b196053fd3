// The indexed lookup as its callers see it:
//   - a warm lookup (nothing changed) under 86, 1 and 44, through initVals
//     with its stats and preference synchronisation, with the files installed
//     in the device's data folder (one stat; the index built from the text)
//     and with only the application's bundled copy (a fresh install: the data
//     folder's file is missing, so two stats; its prebuilt index read), next
//     to the preference part alone and the file part alone;
//   - the first lookup under 86, its prebuilt index read, next to the same
//     with the text read and indexed (the bundled copy taken from the source
//     tree's data folder, which has no indexes), and next to reading and
//     scanning the file once, the way every lookup went before;
//   - 20 Recents rows of Chinese numbers through the phone application's
//     hooks: the first pass with the caches cleared (no index, no preference
//     view) and later passes;
//   - the first lookup and the first Recents pass in a new process, which
//     this program starts for each (--fresh-process-probe recents|lookup
//     prebuilt|text|cold): that counts the first touch of every page the pass
//     writes (the program binds its calls into the platform when it starts,
//     as the host programs' loader binds an extension's, so those are not
//     counted). "cold" drops the page cache's copy of the 86 files first;
//   - loading the built ZelvoraPro.dylib in a new process as the host
//     programs' loader does (dlopen, RTLD_NOW, after the platform is set up:
//     --fresh-process-probe load prebuilt), which a phone application pays
//     for when it starts, before its first frame;
//   - `zelvora recents` with 20 Chinese numbers, as a whole process: the
//     median of 7 runs with every row annotated minus the median of 7 with
//     none (the lookups, and the first lookup's reading, alone).
// At the end it prints the figures against their targets (with
// --benchmark_repetitions, the least of the repetitions), the heap bytes
// held between lookups with the 86 file indexed, and the size of the prebuilt
// indexes of the bundled set against the texts'. Times are processor time
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

#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

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
const std::string kBundleDir = ZELVORA_BUNDLE_DIR;

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
// does; installFiles() copies the three files into the data folder. Its
// preferences hold what the first lookup on a device derives and stores (the
// home calling code and trunk prefix of its region), as every process after
// that first one finds them.
bench::BenchDevice& device() {
  static bench::BenchDevice instance("index", "CN");
  static const bool prepared = [] {
    CFPreferencesSetAppValue(kRecentsKey, NSNumber::integer(20), kPrefsDomain);
    CFPreferencesSetAppValue(kCountryCodeKey, NSString::fromUtf8("86"), kPrefsDomain);
    CFPreferencesSetAppValue(kTrunkPrefixKey, NSString::fromUtf8("0"), kPrefsDomain);
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

// The first lookup under 86: its prebuilt index read, or the file read and
// indexed.
void BM_FirstLookup86(benchmark::State& state) {
  const bool prebuilt = state.range(0) != 0;
  device().usePrebuiltIndexes(prebuilt);
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
  device().usePrebuiltIndexes(true);
}
BENCHMARK(BM_FirstLookup86)->Arg(1)->Arg(0)->ArgName("prebuilt")->Unit(benchmark::kMillisecond);

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

// How a probe finds the 86 file: its prebuilt index read with the page cache
// warm, the same with the pages of the index and the text dropped first, or
// the text read and indexed.
const char* const kProbeModes[] = {"prebuilt", "cold", "text"};

void BM_RecentsFirstPassFreshProcess(benchmark::State& state) {
  freshProcessPass(state, (std::string("recents ") + kProbeModes[state.range(0)]).c_str());
}
BENCHMARK(BM_RecentsFirstPassFreshProcess)
    ->Arg(0)
    ->Arg(2)
    ->ArgName("mode")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

void BM_FirstLookup86FreshProcess(benchmark::State& state) {
  freshProcessPass(state, (std::string("lookup ") + kProbeModes[state.range(0)]).c_str());
}
BENCHMARK(BM_FirstLookup86FreshProcess)
    ->DenseRange(0, 2)
    ->ArgName("mode")
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

// The same under 44, whose index is 14 KB: what every first lookup in a new
// process pays besides reading its index (the preferences, the folder watch,
// the first run of the code).
void BM_FirstLookup44FreshProcess(benchmark::State& state) {
  freshProcessPass(state, "lookup44 prebuilt");
}
BENCHMARK(BM_FirstLookup44FreshProcess)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

// Loading the extension: its relocations, its bindings into the platform and
// its initialisers.
void BM_ExtensionLoadFreshProcess(benchmark::State& state) {
  freshProcessPass(state, "load prebuilt");
}
BENCHMARK(BM_ExtensionLoadFreshProcess)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(10);

// ---- zelvora recents as a whole process -------------------------------------

// Runs the built zelvora tool with `arguments` on the benchmark's own device
// root, its output thrown away: the wall time it took and the processor time
// (user and system) of it and the host program it ran, or negative times when
// it failed.
struct ToolTimes {
  double wall = -1;
  double processor = -1;
};
ToolTimes runTool(const std::vector<std::string>& arguments) {
  static const std::string tool = std::string(ZELVORA_BIN_DIR) + "/zelvora";
  static const std::string root = device().root() + "/tool";
  std::vector<std::string> words = {tool, "--root", root, "--region", "CN"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int spawned = posix_spawn(&child, tool.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  struct rusage usage {};
  if (spawned != 0 || ::wait4(child, &status, 0, &usage) != child) return {};
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return {took.count(), seconds(usage.ru_utime) + seconds(usage.ru_stime)};
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The median of 7 runs of `zelvora recents` with the twenty numbers and every
// row annotated, minus the median of 7 with none (recents 0): what the
// lookups add to the whole process, the first lookup's reading included, in
// wall time and in processor time (which waiting for a busy machine's
// processors does not count). The two kinds of run take turns, so that a
// disturbance falls on both alike.
void BM_RecentsToolWholeProcess(benchmark::State& state) {
  std::vector<std::string> recents = {"recents"};
  recents.insert(recents.end(), std::begin(kRecentNumbers), std::end(kRecentNumbers));
  for (auto _ : state) {
    std::vector<double> annotated[2];
    std::vector<double> none[2];
    // One run first, to prepare the device root.
    bool failed = runTool(recents).wall < 0;
    for (int run = 0; run < 7 && !failed; ++run) {
      for (const char* rows : {"20", "0"}) {
        failed = failed || runTool({"settings", "set", "recents", rows}).wall < 0;
        const ToolTimes took = runTool(recents);
        failed = failed || took.wall < 0;
        std::vector<double>* kept = rows[0] == '0' ? none : annotated;
        kept[0].push_back(took.wall);
        kept[1].push_back(took.processor);
      }
    }
    if (failed) {
      state.SkipWithError("the zelvora tool failed");
      return;
    }
    // The time is the annotated runs'; the differences, which noise can make
    // negative, are counters.
    state.SetIterationTime(median(annotated[0]));
    state.counters["none_ms"] = median(none[0]) * 1e3;
    state.counters["difference_ms"] = (median(annotated[0]) - median(none[0])) * 1e3;
    state.counters["cpu_difference_ms"] = (median(annotated[1]) - median(none[1])) * 1e3;
  }
}
BENCHMARK(BM_RecentsToolWholeProcess)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

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
      for (const char* counter : {"difference_ms", "cpu_difference_ms"}) {
        if (auto value = run.counters.find(counter); value != run.counters.end()) {
          differences[counter].push_back(value->second.value);
        }
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> seconds;
  // The whole-process differences, in ms, one per repetition: a difference of
  // two noisy times, so its median is reported rather than its least.
  std::map<std::string, std::vector<double>> differences;
};

// The bytes the C library's allocator has handed out and not got back.
size_t heapInUse() {
  const struct mallinfo2 info = ::mallinfo2();
  return info.uordblks + info.hblkhd;
}

int syscallProbe(long lookups, const std::string& mode) {
  installFiles(mode != "bundled");
  // The first lookup reads, the second watches the paths, the third finds
  // them watched and unchanged.
  for (int i = 0; i < 3; ++i) lookUp(kCases[0].number);
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

// Asks the kernel to drop its cached pages of the file at `path`.
void dropCachedPages(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
  ::close(fd);
}

// Sets up as the benchmarks do, then times one first pass of the Recents list
// ("recents") or one first lookup under 86 ("lookup") or 44 ("lookup44") and
// prints its seconds; `mode` is one of kProbeModes.
int freshProcessProbe(const std::string& what, const std::string& mode) {
  device().usePrebuiltIndexes(mode != "text");
  const id controller = recentsController();
  std::vector<Row> rows = makeRows();
  phoneNumber = NSString::fromUtf8(kCases[what == "lookup44" ? 2 : 0].number);
  host::resetPreferenceViews();
  // The settings were written by this process just now; a process that
  // starts later finds them settled, rather than read again at every lookup
  // as a file written in the last tick of its clock is.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (mode == "cold") {
    dropCachedPages(kBundleDir + "/codes/86.idx");
    dropCachedPages(kBundleDir + "/codes/86.txt");
  }
  struct rusage usage {};
  ::getrusage(RUSAGE_SELF, &usage);
  const long faultsBefore = usage.ru_minflt;
  const auto start = std::chrono::steady_clock::now();
  void* extension = nullptr;
  if (what == "recents") {
    showRecents(controller, rows);
  } else if (what == "load") {
    extension = ::dlopen(ZELVORA_BIN_DIR "/ZelvoraPro.dylib", RTLD_NOW | RTLD_LOCAL);
  } else {
    area = nil;
    initVals();
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (what == "load" ? !extension : what != "recents" && !objectAs<NSString>(area)) return 1;
  ::getrusage(RUSAGE_SELF, &usage);
  std::printf("%.9f %ld\n", took.count(), usage.ru_minflt - faultsBefore);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--syscall-probe") == 0) {
    return syscallProbe(std::atol(argv[2]), argc == 4 ? argv[3] : "installed");
  }
  if (argc == 4 && std::strcmp(argv[1], "--fresh-process-probe") == 0) {
    return freshProcessProbe(argv[2], argv[3]);
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
      show(what.c_str(), warm, 1e6, "us", "<= 1.5 us");
      if (warm > 0 && sync >= 0) {
        std::printf("%-46s %8.0f %%\n", "  of which initVals without a number", 100 * sync / warm);
      }
    }
  }
  show("first lookup, 86: prebuilt index", figure("BM_FirstLookup86/prebuilt:1"), 1e3, "ms",
       "<= 0.5 ms");
  show("first lookup, 86: text read + indexed", figure("BM_FirstLookup86/prebuilt:0"), 1e3, "ms",
       "none: for comparison");
  show("20 Recents rows, first pass (caches cleared)", figure("BM_RecentsFirstPass"), 1e3, "ms",
       "<= 2 ms");
  const std::string fresh = "/iterations:10/manual_time";
  show("20 Recents rows, first pass, new process",
       figure("BM_RecentsFirstPassFreshProcess/mode:0" + fresh), 1e3, "ms", "<= 2 ms");
  show("  the same, text read + indexed", figure("BM_RecentsFirstPassFreshProcess/mode:2" + fresh),
       1e3, "ms", "none: for comparison");
  show("first lookup, 86, new process", figure("BM_FirstLookup86FreshProcess/mode:0" + fresh), 1e3,
       "ms", "<= 0.5 ms");
  show("  the same, page cache dropped first",
       figure("BM_FirstLookup86FreshProcess/mode:1" + fresh), 1e3, "ms", "<= 2 ms");
  show("  the same, text read + indexed", figure("BM_FirstLookup86FreshProcess/mode:2" + fresh),
       1e3, "ms", "none: for comparison");
  show("first lookup, 44 (14 KB index), new process",
       figure("BM_FirstLookup44FreshProcess" + fresh), 1e3, "ms",
       "none: the part besides the index");
  show("loading the extension, new process", figure("BM_ExtensionLoadFreshProcess" + fresh), 1e3,
       "ms", "none: before the first frame");
  show("20 Recents rows, later pass", figure("BM_RecentsLaterPass"), 1e3, "ms", "<= 0.5 ms");
  for (const auto& [counter, label] :
       {std::pair{"difference_ms", "zelvora recents, 20 annotated minus none"},
        std::pair{"cpu_difference_ms", "  the same in processor time"}}) {
    const std::vector<double>& values = reporter.differences[counter];
    if (values.empty()) continue;
    const auto [least, most] = std::minmax_element(values.begin(), values.end());
    std::printf("%-46s %8.2f ms  (target <= 3 ms; medians of 7; %zu repetitions, %.2f to %.2f)\n",
                label, median(values), values.size(), *least, *most);
  }

  // The heap bytes that stay allocated after the first lookup under 86 has
  // returned, its text read and indexed: the index, and nothing else.
  // Counted by the C library's allocator, through which operator new and the
  // index's arrays allocate. A prebuilt index read instead is held in memory
  // of its own, its file's size.
  device().usePrebuiltIndexes(false);
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
  device().usePrebuiltIndexes(true);
  clearAreaCache();
  lookUp(kCases[0].number);
  std::printf("%-46s %8.2f MB\n", "held between lookups, 86 prebuilt index read",
              areaCacheBytes() / 1e6);

  // The prebuilt indexes of the bundled set against the texts.
  uintmax_t indexBytes = 0;
  uintmax_t textBytes = 0;
  size_t indexes = 0;
  for (const auto& entry : fs::directory_iterator(kBundleDir + "/codes")) {
    if (entry.path().extension() == ".idx") {
      indexBytes += entry.file_size();
      ++indexes;
    } else if (entry.path().extension() == ".txt") {
      textBytes += entry.file_size();
    }
  }
  std::printf("%-46s %8.2f MB  (target below the texts' %.2f MB; %zu indexes; 86: %.2f MB)\n",
              "prebuilt indexes of the bundled set", indexBytes / 1e6, textBytes / 1e6, indexes,
              fs::file_size(kBundleDir + "/codes/86.idx") / 1e6);
  benchmark::Shutdown();
  return 0;
}
