// The largest server list the launcher accepts (kMaxListEntries lines filling
// kMaxListBytes): the tick that parses and plans it, and the memory it takes
// at its peak. The 32-bit launcher has 2 GiB of address space, so the peak
// must stay far below that.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "update/download_plan.h"
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

}  // namespace

BENCHMARK_MAIN();
