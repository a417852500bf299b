// The update run: brings the installation up to date with the update server,
// one step per timer tick, one file at a time, recording every finished file
// at once (in the local list's journal, folded into the list at the end).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/streaming_file.h"
#include "platform/crypto.h"
#include "update/download_job.h"
#include "update/download_plan.h"
#include "update/error_text.h"
#include "update/list_journal.h"
#include "update/list_signature.h"
#include "update/run_display.h"
#include "update/update_key.h"
#include "update/version_list.h"

namespace update {

// The system clock in seconds since 1970 (UTC).
std::int64_t systemClockSeconds();

enum class UpdateState : std::int32_t {
  FetchingList = 0,
  Planned = 1,
  Downloading = 2,
  // Signed updates only: the list has arrived, its signature is awaited.
  FetchingSignature = 3,
  // The list has arrived (and verified): it is read, then planned, a
  // bounded piece per tick.
  ReadingList = 4,
  PlanningFiles = 6,
  Finishing = 5,
  Finished = 10,
  // A new launcher was started to take this one's place; the process ends.
  HandedOver = 11,
  Failed = 100,
};

// The run's own failures. They are reported as a failed job's status is,
// through message 15 with the number, so they stay clear of the job's codes
// (1 to 11, 14, 15, 20), of the signed updates' refusals (21 to 28) and of
// the socket layer's numbers.
enum class RunStatus : std::int32_t {
  // A fetched file could not be recorded (its record in the list's journal
  // could not be written and flushed, or a journal left by an earlier run
  // could not be folded into "version_list.txt" before files were to be
  // fetched): nothing of that file is recorded, so the next start fetches it
  // again.
  ListSaveFailed = 12,
  // The server's list holds more than kMaxListEntries entries.
  ListTooLarge = 13,
  // Something stands where the launcher keeps one of its own files (a
  // folder with something in it, a file it may not open; see
  // clearWorkingFilePlaces), and files are to be fetched: nothing is.
  WorkingFileBlocked = 30,
};

constexpr std::int32_t statusCode(RunStatus status) { return static_cast<std::int32_t>(status); }

class UpdateRun {
 public:
  // Everything the run shows goes to `display`, which outlives the run. A
  // job still in flight when the run is destroyed is abandoned (JobDisposal);
  // what the run recorded until then is folded into the list (the player
  // closed the window mid-run), so that only a killed run leaves a journal.
  explicit UpdateRun(RunDisplay& display) : display_(display) {}
  ~UpdateRun();
  UpdateRun(const UpdateRun&) = delete;
  UpdateRun& operator=(const UpdateRun&) = delete;
  UpdateRun(UpdateRun&&) = delete;
  UpdateRun& operator=(UpdateRun&&) = delete;

  // Reads the installation folder, makes it current and loads its list.
  // False, and the run Failed (no step does anything), when there is no
  // installation folder to enter.
  [[nodiscard]] bool loadLocalList();
  // Starts fetching the server's version list into memory.
  void startListFetch();
  // One step of the run; called on every timer tick once the page's document
  // is known.
  void tick();
  // A job has ended and said so through jobEnded: a file that arrived whole
  // is recorded and the next one started at once, the work of the next two
  // ticks. Anything else -- no file in flight, a job still running or
  // failed, a run that failed, finished or handed over -- is the ticks'
  // business, and the wake does nothing.
  void wake();
  // Fills downloadList and totalKiB from the two lists.
  void planDownloads();
  // Takes the bytes of a list that has arrived (and, signed, verified): the
  // ticks from the next on read it and plan it, a piece per tick. The bytes
  // must stay in place until the plan is made (the list job's buffer, or a
  // verified copy the run holds).
  void acceptList(const char* begin, const char* end);

  // How long one tick may read or plan the server's list before it leaves
  // the rest to the next tick; the window answers between ticks.
  static constexpr int kTickBudgetMs = 40;

  std::string installPath;
  UpdateState state = UpdateState::FetchingList;
  std::uint32_t totalKiB = 0;
  std::uint32_t doneKiB = 0;
  DownloadJob job;
  VersionList remoteList;
  VersionList localList;
  VersionList downloadList;
  std::size_t current = 0;
  // The keys (in epoch order) one of which must have signed a list, and the
  // product and channel it must be signed for; no keys for unsigned updates
  // (the protocol as it always was). What was compiled in unless a test sets
  // another.
  UpdateTrust trust = compiledUpdateTrust();
  // The clock that judges a signature's expiry: seconds since 1970 (UTC).
  std::int64_t (*clock)() = systemClockSeconds;
  // The epoch and release of the verified list being installed; {0, 0} while
  // none is (and always for unsigned updates).
  ReleaseMark signedRelease;
  // The entries of the server's list the run does not install for their
  // names: all counted, the first ones kept with the reason (nameRefusalText)
  // in list order. The run goes on with the others, and the launcher reports
  // these.
  SkippedEntries skippedEntries;
  // Whether this launcher may write the installation: false when it could
  // not take the installation's lock (a folder the player cannot write).
  // The run then writes nothing: an installation that is up to date plays,
  // and one with anything to fetch ends with status 10 before any request
  // for a file.
  bool mayWrite = true;
  // How the installation's file system compares names: loadLocalList asks
  // it (installationNameCase); the plan and the record look up local
  // entries so.
  NameCase nameCase = NameCase::Exact;
  // Given to every job the run starts, which calls it on its worker thread
  // once it has ended; empty (the default launcher), the ticks alone look
  // at the jobs. It must only tell the run's thread to call wake().
  std::function<void()> jobEnded;

 private:
  void failIfJobFailed();
  // Shows the failure's text and ends the process.
  void fail(std::int32_t status);
  void finishListFetch();
  void finishSignatureFetch();
  void readListPiece();
  void planPiece();
  void startDownloads();
  void startCurrentFile();
  void pollCurrentFile();
  void finish();
  // Rewrites "version_list.txt" from localList and removes the journal: at
  // the end of the run (finished or failed), and before a new launcher takes
  // over.
  void foldJournal();
  // Starts a job on the update server.
  void startJob(const std::string& name, const std::string& localPath, const std::string& expectedDigest,
                std::optional<std::uint32_t> listedSize = std::nullopt,
                std::uint32_t memoryLimit = net::kMaxMemoryBody);

  RunDisplay& display_;
  // The list's bytes while its signature is fetched, and while a verified
  // list is read.
  std::string signedList_;
  // What of the list is still to be read, and its size.
  std::size_t listBytes_ = 0;
  const char* listBegin_ = nullptr;
  const char* listAt_ = nullptr;
  const char* listEnd_ = nullptr;
  std::unique_ptr<PlanBuilder> planner_;
  // The local list's index from the plan on.
  std::unique_ptr<LocalFileIndex> localIndex_;
  // A working file's place is taken by something the launcher could not
  // remove (see clearWorkingFilePlaces).
  bool workingPlaceBlocked_ = false;
  // A journal of an earlier run could not be folded into the list file.
  bool journalKept_ = false;
  // Where each fetched file is recorded the moment it is in place; folded
  // into "version_list.txt" when the run ends.
  ListJournal journal_{kListJournalName};
  // What the last job fetched, and when it started, for the log.
  std::string fetching_;
  std::chrono::steady_clock::time_point jobStarted_;
};

// The update base (message 0), narrowed to bytes.
std::string updateBase(RunDisplay& display);

// The download-error text for a failed job's status: the catalogue's message
// for it, formatted by formatErrorText (the status is its value only for
// message 15, "Download error code %i").
std::u16string downloadErrorText(RunDisplay& display, std::int32_t status);

// The overall percentage for the progress bar, computed wide enough that no
// installation size makes it wrap; 0 when nothing of measurable size is
// planned.
std::uint16_t progressPercent(std::uint32_t doneKiB, std::uint32_t receivedBytes, std::uint32_t totalKiB);

}  // namespace update
