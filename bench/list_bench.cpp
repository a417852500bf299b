// The largest server list the launcher accepts (kMaxListEntries lines filling
// kMaxListBytes): the tick that parses and plans it, and the memory it takes
// at its peak. The 32-bit launcher has 2 GiB of address space, so the peak
// must stay far below that.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include <algorithm>
#include <chrono>

#include "update/download_plan.h"
#include "update/run_display.h"
#include "update/update_run.h"
#include "update/version_list.h"

using update::kMaxListBytes;
using update::kMaxListEntries;
using update::parseVersionList;
using update::planDownloads;
using update::VersionEntryRef;
using update::VersionList;

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kLineBytes = kMaxListBytes / kMaxListEntries;  // 128

// One line of exactly kLineBytes: an 86-byte name in one of 1024 folders, a
// 32-digit version (as glimmerhold-publish writes it) and a 7-digit size.
void writeLine(char* at, std::size_t i) {
  char name[96];
  std::snprintf(name, sizeof name, "data/d%04zu/asset-%07zu-", i % 1024, i);
  std::string padded(name);
  padded.append(86 - 4 - padded.size(), 'x').append(".pak");
  std::snprintf(at, kLineBytes + 1, "%s %032zx %07zu\n", padded.c_str(), i * 2654435761u, 1000000 + i);
}

// The list as the download job holds it: one buffer of its length + 1.
char* serverListBuffer() {
  char* buffer = static_cast<char*>(std::malloc(kMaxListBytes + 1));
  for (std::size_t i = 0; i < kMaxListEntries; ++i) writeLine(buffer + i * kLineBytes, i);
  return buffer;
}

// A /proc/self/status figure ("VmRSS", "VmHWM") in bytes (Linux).
std::size_t statusBytes(const std::string& key) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::stoull(line.substr(key.size() + 1)) * 1024;
  }
  return 0;
}

// The peak resident memory of what runs after start(), above what was
// resident before it.
class PeakMeter {
 public:
  void start() {
    before_ = statusBytes("VmRSS");
    std::ofstream("/proc/self/clear_refs") << "5";  // resets VmHWM
  }
  double mebibytes() const { return static_cast<double>(statusBytes("VmHWM") - before_) / (1024 * 1024); }

 private:
  std::size_t before_ = 0;
};

// The tick that takes the list: parse the job's buffer, free it, plan.
bool listTick(char* job, const VersionList& local, VersionList& remote, VersionList& downloadList) {
  std::uint32_t totalKiB = 0;
  bool accepted = parseVersionList(job, job + kMaxListBytes, remote);
  std::free(job);
  planDownloads(remote, local, downloadList, totalKiB);
  return accepted;
}

class ScratchFolder {
 public:
  ScratchFolder() : saved_(fs::current_path()) {
    std::random_device seed;
    root_ = fs::temp_directory_path() / ("glimmerhold-list-bench-" + std::to_string(seed()));
    fs::create_directories(root_);
    fs::current_path(root_);
  }
  ~ScratchFolder() {
    fs::current_path(saved_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

 private:
  fs::path saved_;
  fs::path root_;
};

// A first run: no local list. Timed: the tick that parses the job's buffer
// and plans (every file planned). Then, untimed, the state at the run's end,
// when the local list records every file; the peak covers all of it.
void BM_WorstListFirstRun(benchmark::State& state) {
  ScratchFolder scratch;
  PeakMeter peak;
  for (auto _ : state) {
    state.PauseTiming();
    peak.start();
    char* job = serverListBuffer();
    state.ResumeTiming();

    VersionList remote;
    VersionList local;
    VersionList downloadList;
    bool accepted = listTick(job, local, remote, downloadList);

    state.PauseTiming();
    if (!accepted || downloadList.size() != kMaxListEntries) state.SkipWithError("the list was not taken whole");
    for (const VersionEntryRef entry : downloadList) local.append(entry.name, entry.version, entry.size);
    benchmark::DoNotOptimize(local.indexOf("data/d0000/none"));
    state.counters["peakMiB"] = peak.mebibytes();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_WorstListFirstRun)->Unit(benchmark::kMillisecond)->Iterations(3);

// A later run: the local list records every file at the served version, but
// the files are gone, so the plan looks up every name and tests every file
// on disk. Timed: parse and plan.
void BM_WorstListLaterRun(benchmark::State& state) {
  ScratchFolder scratch;
  VersionList local;
  {
    char* job = serverListBuffer();
    parseVersionList(job, job + kMaxListBytes, local);
    std::free(job);
  }
  PeakMeter peak;
  for (auto _ : state) {
    state.PauseTiming();
    peak.start();
    char* job = serverListBuffer();
    state.ResumeTiming();

    VersionList remote;
    VersionList downloadList;
    listTick(job, local, remote, downloadList);

    state.PauseTiming();
    state.counters["peakMiB"] = peak.mebibytes();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_WorstListLaterRun)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same bound of entries with deep names: a first folder of its own per
// entry and 56 more below it (120 bytes), so that a plan that made every
// folder at once would make about 60 million. Version "1", size 1000.
std::string deepListText() {
  std::string text;
  text.reserve(kMaxListEntries * 128);
  std::string below;
  for (int level = 0; level < 56; ++level) below += "a/";
  char first[16];
  for (std::size_t i = 0; i < kMaxListEntries; ++i) {
    std::snprintf(first, sizeof first, "%06zx/", i);
    text.append(first).append(below).append("f 1 1000\n");
  }
  return text;
}

class SilentDisplay : public update::RunDisplay {
 public:
  std::u16string messageText(std::int32_t /*id*/) override { return u""; }
  void showStatusText(const std::u16string& /*text*/) override {}
  void showProgress(std::uint16_t /*percent*/) override {}
  void enablePlay() override {}
  void showError(const std::u16string& /*text*/) override {}
  void endProcess() override {}
};

// The update run itself, ticked as the timer ticks it, from the tick after
// the list has arrived until the plan is made: every tick must leave the
// window to answer well within 100 ms. `local` names every entry at the
// served version for a later run (the files are gone, so each is looked up
// and tested on disk), or is empty for a first run.
void deepListTicks(benchmark::State& state, bool laterRun) {
  ScratchFolder scratch;
  const std::string text = deepListText();
  VersionList local;
  if (laterRun) parseVersionList(text.data(), text.data() + text.size(), local);
  double longestMs = 0;
  double longestCpuMs = 0;
  double ticks = 0;
  for (auto _ : state) {
    SilentDisplay display;
    update::UpdateRun run{display};
    run.localList = local;
    run.acceptList(text.data(), text.data() + text.size());
    ticks = 0;
    longestMs = 0;
    longestCpuMs = 0;
    while (run.state == update::UpdateState::ReadingList || run.state == update::UpdateState::PlanningFiles) {
      const auto started = std::chrono::steady_clock::now();
      const std::clock_t startedCpu = std::clock();
      run.tick();
      const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - started;
      longestMs = std::max(longestMs, took.count());
      longestCpuMs = std::max(longestCpuMs, static_cast<double>(std::clock() - startedCpu) * 1000.0 / CLOCKS_PER_SEC);
      ++ticks;
    }
    if (run.downloadList.size() != kMaxListEntries) state.SkipWithError("not every entry was planned");
    if (std::filesystem::exists("000000")) state.SkipWithError("the plan made a folder");
  }
  state.counters["ticks"] = ticks;
  // Wall time, which on a machine shared with other work includes the
  // time the process waited for a core, and the CPU time the tick took.
  state.counters["longestTickMs"] = longestMs;
  state.counters["longestTickCpuMs"] = longestCpuMs;
}

void BM_DeepListTicksFirstRun(benchmark::State& state) { deepListTicks(state, false); }
BENCHMARK(BM_DeepListTicksFirstRun)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_DeepListTicksLaterRun(benchmark::State& state) { deepListTicks(state, true); }
BENCHMARK(BM_DeepListTicksLaterRun)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
