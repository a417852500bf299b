// The plan and the list parse over an installation of 100,000 files: both
// run inside one timer tick of the launcher, so they must stay well under a
// second.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "update/download_plan.h"
#include "update/entry_names.h"
#include "update/version_list.h"

using update::decodeEntryName;
using update::parseVersionList;
using update::planDownloads;
using update::VersionEntry;
using update::VersionList;

namespace {

namespace fs = std::filesystem;

constexpr int kEntries = 100000;
const char* const kFolders[] = {"data/maps/", "data/textures/", "data/sounds/%20fx/", "bin/", ""};

std::string entryName(int i) {
  return std::string(kFolders[i % 5]) + "asset_" + std::to_string(i) + (i % 7 == 0 ? "%f1o.pak" : ".pak");
}

// The server's list as text: every tenth file has a newer version.
std::string serverListText() {
  std::string text;
  for (int i = 0; i < kEntries; ++i) {
    text += entryName(i) + " " + (i % 10 == 0 ? "r2" : "r1") + " " + std::to_string(1000 + i * 37) + "k\r\n";
  }
  return text;
}

// An installation in a scratch folder: the local list names every file at
// version "r1", and one file in twenty is missing from the disk.
class Installation {
 public:
  Installation() : saved_(fs::current_path()) {
    std::random_device seed;
    root_ = fs::temp_directory_path() / ("glimmerhold-bench-" + std::to_string(seed()));
    fs::create_directories(root_);
    fs::current_path(root_);
    for (int i = 0; i < kEntries; ++i) {
      VersionEntry entry{entryName(i), "r1", static_cast<std::uint32_t>(1000 + i * 37)};
      if (i % 20 != 3) {
        fs::path file = decodeEntryName(entry.name);
        if (file.has_parent_path()) fs::create_directories(file.parent_path());
        std::ofstream{file};
        // Of the recorded size, as an installed file is (sparse: no data written).
        fs::resize_file(file, entry.size);
      }
      local.append(std::move(entry));
    }
    const std::string text = serverListText();
    parseVersionList(text.data(), text.data() + text.size(), remote);
  }
  ~Installation() {
    fs::current_path(saved_);
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  Installation(const Installation&) = delete;
  Installation& operator=(const Installation&) = delete;

  VersionList remote;
  VersionList local;

 private:
  fs::path saved_;
  fs::path root_;
};

void BM_PlanDownloads(benchmark::State& state) {
  Installation installation;
  VersionList downloadList;
  std::uint32_t totalKiB = 0;
  for (auto _ : state) {
    planDownloads(installation.remote, installation.local, downloadList, totalKiB);
    benchmark::DoNotOptimize(downloadList.size());
  }
  state.counters["planned"] = static_cast<double>(downloadList.size());
  state.counters["totalKiB"] = totalKiB;
}
BENCHMARK(BM_PlanDownloads)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_ParseVersionList(benchmark::State& state) {
  const std::string text = serverListText();
  for (auto _ : state) {
    VersionList list;
    parseVersionList(text.data(), text.data() + text.size(), list);
    benchmark::DoNotOptimize(list.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ParseVersionList)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
