// A headless launcher for tests and measurements that need a process of its
// own to kill, starve or time: the real update run and download jobs behind
// the scripted page, ticked at full speed or at a fixed period. Built
// link-paced (GLIMMERHOLD_LINK_PACED), it hands the dialog the wakes of the
// download workers between ticks as they come, as the window system would.
//
//   update_driver [--base HOST/PATH/] [--tick-ms N] [--limit-s N] [--key HEX]
//                 [--kill-in-transfer N | --kill-before-record N | --kill-after-record N]
//
// --key gives the update keys the launcher would have compiled in, in epoch
// order from epoch 1 (128 hex digits each, X||Y, separated by ","): the run
// then installs only what they signed, for the build's product and channel.
// --kill-in-transfer ends the process with SIGKILL once the N-th file this
// run fetches has begun to arrive (0: the last file planned), before it is
// recorded; --kill-before-record once the N-th file this run fetches is in
// place, before the tick that records it; --kill-after-record once the run
// has recorded N files. All are judged on the run's own state, so the moment is the same however busy the
// machine is.
//
// The installation comes from the registry file named by
// GLIMMERHOLD_REGISTRY_FILE, as in the launcher. On every way out -- the run
// finished, a failure box answered, the time limit -- it writes what became
// of the run to standard output:
//   planned=<files planned> started=<file downloads started> state=<UpdateState>
//   box=<caption>|<text>        (one line per message box)
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "net/streaming_file.h"
#include "shell/page_calls.h"
#include "shell/updater.h"
#include "support/fake_ui.h"
#include "support/signing_vector.h"
#include "update/messages.h"

using net::cStreamingFile;
using shell::Updater;
using update::englishDefault;
using update::kMsgCaption;
using update::kMsgDownloading;
using update::kMsgUpdateBase;
using update::UpdateRun;
using update::UpdateState;

namespace {

using Clock = std::chrono::steady_clock;
using testsupport::fakePage;
using testsupport::narrow;

struct Options {
  std::string base = "127.0.0.1/up/";
  int tickMs = 0;
  int limitSeconds = 120;
  std::string key;
  // At most one of them is set; -1 when not.
  long killInTransfer = -1;
  long killBeforeRecord = -1;
  long killAfterRecord = -1;
};

bool parseKeys(const std::string& list, std::vector<platform::P256PublicKey>& keys) {
  for (std::size_t at = 0; at <= list.size(); at += 129) {
    const std::string hex = list.substr(at, 128);
    if (hex.size() != 128 || hex.find_first_not_of("0123456789abcdef") != std::string::npos) return false;
    if (at + 128 < list.size() && list[at + 128] != ',') return false;
    keys.push_back(testsupport::fromHex<64>(hex));
  }
  return true;
}

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const char* value = argv[i + 1];
    if (name == "--base") {
      options.base = value;
    } else if (name == "--tick-ms") {
      options.tickMs = std::atoi(value);
    } else if (name == "--limit-s") {
      options.limitSeconds = std::atoi(value);
    } else if (name == "--key") {
      options.key = value;
    } else if (name == "--kill-in-transfer") {
      options.killInTransfer = std::atol(value);
    } else if (name == "--kill-before-record") {
      options.killBeforeRecord = std::atol(value);
    } else if (name == "--kill-after-record") {
      options.killAfterRecord = std::atol(value);
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && options.tickMs >= 0 && options.limitSeconds > 0 &&
         (options.killInTransfer < 0) + (options.killBeforeRecord < 0) + (options.killAfterRecord < 0) >= 2;
}

// Whether the run has come to the moment --kill-in-transfer,
// --kill-before-record or --kill-after-record names. A file is recorded in the tick that sees its
// job complete, before `current` moves on, so while the job of file
// `current` exists, exactly `current` files of this run are recorded.
bool killMomentCame(const Options& options, const UpdateRun& run) {
  if (run.state != UpdateState::Downloading) return false;
  if (options.killAfterRecord > 0) return run.current >= static_cast<std::size_t>(options.killAfterRecord);
  if (options.killBeforeRecord > 0) {
    return run.job != nullptr && run.current + 1 == static_cast<std::size_t>(options.killBeforeRecord) &&
           run.job->isComplete();
  }
  if (options.killInTransfer < 0 || run.job == nullptr) return false;
  const std::size_t file =
      options.killInTransfer == 0 ? run.downloadList.size() : static_cast<std::size_t>(options.killInTransfer);
  return run.current + 1 == file && run.job->received.load() > 0;
}

void killIfMomentCame(const Options& options, const UpdateRun& run) {
  if (!killMomentCame(options, run)) return;
  std::fflush(stdout);
#ifdef SIGKILL
  std::raise(SIGKILL);
#endif
  std::_Exit(137);
}

// The run being driven, for the report written when the process ends from
// inside a tick (a failure box, a started launcher): exit() does not unwind.
const UpdateRun* liveRun = nullptr;

void report() {
  if (liveRun == nullptr) return;
  std::size_t started = 0;
  const std::u16string downloading = englishDefault(kMsgDownloading);
  for (const testsupport::PageValue& text : fakePage().argumentsOf(u"setVariableText")) {
    const auto* shown = std::get_if<std::u16string>(&text);
    if (shown != nullptr && shown->starts_with(downloading)) ++started;
  }
  std::printf("planned=%zu started=%zu state=%d\n", liveRun->downloadList.size(), started,
              static_cast<int>(liveRun->state));
  for (const testsupport::ShownBox& box : testsupport::shownBoxes()) {
    std::printf("box=%s|%s\n", narrow(box.caption).c_str(), narrow(box.text).c_str());
  }
  std::fflush(stdout);
  liveRun = nullptr;
}

// The launcher's dialog with a window of the fake backend's, so that the
// download workers' wakes (link-paced builds) reach this process's loop.
class DrivenUpdater : public Updater {
 public:
  DrivenUpdater() { window_ = reinterpret_cast<platform::WindowHandle>(std::uintptr_t{0x2000}); }
};

// Hands the dialog every wake that comes before `until` (link-paced builds;
// in the others no wake is ever posted and this waits for `until`).
void deliverWakes(const Options& options, Updater& updater, Clock::time_point until) {
  while (updater.updateRun.state != UpdateState::Finished) {
    const std::optional<std::uintptr_t> wake = testsupport::takeWake(until);
    if (!wake) return;
    killIfMomentCame(options, updater.updateRun);
    updater.processMessage(platform::DialogMessage::Wake, *wake);
    killIfMomentCame(options, updater.updateRun);
  }
}

// Waits until the job in flight has ended or the deadline passed: at full
// speed a tick is only worth making when there is something to see.
void awaitJob(const Options& options, const UpdateRun& run, Clock::time_point deadline) {
  const cStreamingFile& job = *run.job;
  while (job.status.load() == 0 && !job.done.load(std::memory_order_acquire) && Clock::now() < deadline) {
    killIfMomentCame(options, run);
    std::this_thread::sleep_for(std::chrono::microseconds(100));
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: update_driver [--base HOST/PATH/] [--tick-ms N] [--limit-s N] [--key HEX]\n"
                 "                     [--kill-in-transfer N | --kill-before-record N | --kill-after-record N]\n");
    return 2;
  }
  testsupport::resetFakes();
  std::map<std::int32_t, std::u16string> texts;
  for (std::int32_t id = kMsgCaption; id <= kMsgDownloading; ++id) texts[id] = englishDefault(id);
  texts[kMsgUpdateBase] = std::u16string(options.base.begin(), options.base.end());
  fakePage().defineLauncherFunctions(texts);
  std::atexit(report);

  const auto deadline = Clock::now() + std::chrono::seconds(options.limitSeconds);
  const auto period = std::chrono::milliseconds(options.tickMs);
  int result = 0;
  {
    DrivenUpdater updater;
    testsupport::setWakeTarget(updater.window());
    liveRun = &updater.updateRun;
    if (!options.key.empty()) {
      std::vector<platform::P256PublicKey> keys;
      if (!parseKeys(options.key, keys)) {
        std::fprintf(stderr, "update_driver: --key needs keys of 128 hex digits, separated by \",\"\n");
        return 2;
      }
      updater.updateRun.trust.keys = keys;
      updater.updateRun.trust.firstEpoch = 1;
    }
    updater.onInitDialog();
    auto nextTick = Clock::now();
    while (updater.updateRun.state != UpdateState::Finished) {
      if (Clock::now() >= deadline) {
        std::printf("time limit passed\n");
        result = 3;
        break;
      }
      if (options.tickMs > 0) {
        // A timer's schedule: ticks keep their period whatever a tick took,
        // and wakes are handled between them as they come.
        nextTick += period;
        deliverWakes(options, updater, nextTick);
        std::this_thread::sleep_until(nextTick);
      } else {
        deliverWakes(options, updater, Clock::now());
        if (updater.updateRun.job != nullptr) awaitJob(options, updater.updateRun, deadline);
      }
      killIfMomentCame(options, updater.updateRun);
      updater.onTimer();
      killIfMomentCame(options, updater.updateRun);
    }
    testsupport::setWakeTarget(nullptr);
    report();
    // A job that never ended is left to the process's end, as the launcher
    // leaves it.
  }
  return result;
}
