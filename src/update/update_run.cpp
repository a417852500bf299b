// The update run's steps. Each tick does one thing: look at the list job,
// start a file, report a file's progress, record a finished file, or finish.
#include "update/update_run.h"

#include <algorithm>
#include <chrono>

#include "net/streaming_file.h"
#include "platform/files.h"
#include "platform/sockets.h"
#include "text/encoding.h"
#include "update/download_note.h"
#include "update/download_plan.h"
#include "update/entry_names.h"
#include "update/failure_statuses.h"
#include "update/list_journal.h"
#include "update/list_signature.h"
#include "update/messages.h"
#include "update/program_start.h"
#include "update/release_record.h"
#include "update/run_log.h"

namespace update {

using net::cStreamingFile;
using net::DownloadStatus;
using net::partialFilePath;

namespace {

// Logs the entries the plan passed over for their names, with the reason
// (at most the first kMaxLoggedSkips of them, so a hostile list cannot fill
// the log), and how many more there were.
void logEntriesSkippedForTheirNames(const SkippedEntries& skipped) {
  constexpr std::size_t kMaxLoggedSkips = 100;
  if (!runLog().isOpen()) return;
  std::size_t logged = 0;
  for (const SkippedEntry& entry : skipped.kept) {
    if (logged == kMaxLoggedSkips) break;
    logSkippedEntry(entry.name, nameRefusalText(entry.reason));
    ++logged;
  }
  if (skipped.count > logged) {
    runLog().write("skipped " + std::to_string(skipped.count - logged) + " more entries for their names");
  }
}

}  // namespace

std::int64_t systemClockSeconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
}

std::string updateBase(RunDisplay& display) { return text::latin1FromUtf16(display.messageText(kMsgUpdateBase)); }

std::u16string downloadErrorText(RunDisplay& display, std::int32_t status) {
  const std::int32_t id = messageForStatus(status);
  return formatErrorText(display.messageText(id), id == kMsgDownloadErrorCode ? &status : nullptr);
}

std::uint16_t progressPercent(std::uint32_t doneKiB, std::uint32_t receivedBytes, std::uint32_t totalKiB) {
  if (totalKiB == 0) return 0;
  std::uint64_t fetchedKiB = std::uint64_t{doneKiB} + receivedBytes / 1024;
  return static_cast<std::uint16_t>(fetchedKiB * 100 / totalKiB);
}

namespace {

using Clock = std::chrono::steady_clock;

// Read per slice, and planned per slice, between looks at the clock: a
// small list is read and planned in one tick whatever the machine's load.
constexpr std::size_t kListSliceBytes = std::size_t{64} * 1024;
constexpr std::size_t kPlanSliceEntries = 256;

// Where a slice of the list that starts at `begin` may end: after a line's
// end at or beyond `begin + size`, or at `end`.
const char* sliceEnd(const char* begin, const char* end, std::size_t size) {
  if (static_cast<std::size_t>(end - begin) <= size) return end;
  for (const char* at = begin + size; at < end; ++at) {
    if (*at == '\n') return at + 1;
    // A lone CR ends a line too; the LF of a CR LF stays with its CR.
    if (*at == '\r' && at + 1 < end && at[1] != '\n') return at + 1;
  }
  return end;
}

bool budgetLeft(Clock::time_point started) {
  return Clock::now() - started < std::chrono::milliseconds(UpdateRun::kTickBudgetMs);
}

}  // namespace

bool UpdateRun::loadLocalList() {
  const LocalListLoad load = update::loadLocalList(installPath, localList, mayWrite);
  if (load != LocalListLoad::NoInstallation) {
    journalKept_ = load == LocalListLoad::JournalKept;
    if (journalKept_) runLog().write("the journal of the local list could not be folded into it");
    workingPlaceBlocked_ = mayWrite && !clearWorkingFilePlaces();
    nameCase = installationNameCase();
    runLog().write("local list: " + std::to_string(localList.size()) + " entries");
    return true;
  }
  state = UpdateState::Failed;
  return false;
}

void UpdateRun::planDownloads() {
  skippedEntries.clear();
  update::planDownloads(remoteList, localList, downloadList, totalKiB, &skippedEntries, nameCase);
}

void UpdateRun::startListFetch() { startJob(kVersionListName, "", ""); }

void UpdateRun::startJob(const std::string& name, const std::string& localPath, const std::string& expectedDigest,
                         std::optional<std::uint32_t> listedSize, std::uint32_t memoryLimit) {
  fetching_ = name;
  jobStarted_ = std::chrono::steady_clock::now();
  // "\\" separates folders as "/" does, on the server too, where only "/" is
  // one.
  std::string path = name;
  std::replace(path.begin(), path.end(), '\\', '/');
  job.reset(
      new cStreamingFile(updateBase(display_) + path, localPath, expectedDigest, listedSize, memoryLimit, jobEnded));
}

void UpdateRun::tick() {
  if (job != nullptr && job->status.load() != 0) {
    failIfJobFailed();
    return;
  }
  switch (state) {
    case UpdateState::FetchingList: finishListFetch(); break;
    case UpdateState::FetchingSignature: finishSignatureFetch(); break;
    case UpdateState::ReadingList: readListPiece(); break;
    case UpdateState::PlanningFiles: planPiece(); break;
    case UpdateState::Planned:
      current = 0;
      state = UpdateState::Downloading;
      break;
    case UpdateState::Downloading:
      if (job == nullptr) {
        startCurrentFile();
      } else {
        pollCurrentFile();
      }
      break;
    case UpdateState::Finishing: finish(); break;
    default: break;
  }
}

void UpdateRun::wake() {
  if (state != UpdateState::Downloading || job == nullptr || job->status.load() != 0 || !job->isComplete()) return;
  pollCurrentFile();
  if (state == UpdateState::Downloading && job == nullptr && current < downloadList.size()) startCurrentFile();
}

void UpdateRun::failIfJobFailed() {
  std::int32_t status = job->status.load();
  // The server answered, but has no signature to give.
  if (state == UpdateState::FetchingSignature && status == statusCode(DownloadStatus::BadResponse)) {
    status = statusCode(UpdateRefusal::SignatureMissing);
  }
  // An answer longer than any signature is none.
  if (state == UpdateState::FetchingSignature && status == statusCode(DownloadStatus::BodyTooLarge)) {
    status = statusCode(UpdateRefusal::SignatureMalformed);
  }
  job.reset();
  fail(status);
}

void UpdateRun::fail(std::int32_t status) {
  std::u16string text = downloadErrorText(display_, status);
  runLog().write("failed" + (fetching_.empty() ? std::string() : " fetching " + fetching_) + ": status " +
                 std::to_string(status) + ": " + text::utf8FromUtf16(text));
  // Ticks keep coming while the box is open; they must find nothing to do.
  state = UpdateState::Failed;
  // The failed job removed its side file before it reported: the note names
  // nothing that is left.
  if (mayWrite) platform::deleteFile(kDownloadNoteName);
  // The run ends here too: what it recorded goes into the list (but not
  // after a record that could not be written, whose file stays unrecorded).
  if (mayWrite && journal_.hasRecords() && status != statusCode(RunStatus::ListSaveFailed)) foldJournal();
  display_.showError(text);
  display_.endProcess();
}

void UpdateRun::finishListFetch() {
  if (job == nullptr || !job->isComplete()) return;
  const char* body = job->bufferStart;
  const std::size_t length = body != nullptr ? static_cast<std::size_t>(job->expectedLength.load()) : 0;
  if (!trust.keys.empty()) {
    // Nothing is planned from a list before its signature is checked over
    // the very bytes that arrived.
    signedList_.assign(body != nullptr ? body : "", length);
    // Read to kMaxSignatureBytes at most: a hostile answer costs no more.
    startJob(kSignatureName, "", "", std::nullopt, kMaxSignatureBytes);
    state = UpdateState::FetchingSignature;
    return;
  }
  acceptList(body, body + length);
}

void UpdateRun::finishSignatureFetch() {
  if (job == nullptr || !job->isComplete()) return;
  const std::string signatureFile(job->bufferStart != nullptr ? job->bufferStart : "",
                                  static_cast<std::size_t>(job->expectedLength.load()));
  job.reset();
  const ReleaseMark installed = readInstalledRelease(kReleaseRecordName);
  ReleaseMark release;
  std::int32_t refusal = verifyListSignature(trust, signedList_, signatureFile, installed, clock(), &release);
  // Recorded before any file of it is installed: once a release has begun to
  // replace files, no older one can take its place, even if this run is cut
  // short.
  if (refusal == 0 && isLater(release, installed) && mayWrite && !recordInstalledRelease(kReleaseRecordName, release)) {
    refusal = statusCode(UpdateRefusal::ReleaseNotRecorded);
  }
  if (refusal != 0) {
    runLog().write("signature refused: status " + std::to_string(refusal));
    fail(refusal);
    return;
  }
  runLog().write("signature verified: release " + std::to_string(release.release) + " of epoch " +
                 std::to_string(release.epoch) + " (installed before: release " + std::to_string(installed.release) +
                 " of epoch " + std::to_string(installed.epoch) + ")");
  signedRelease = release;
  acceptList(signedList_.data(), signedList_.data() + signedList_.size());
}

// Reads and plans a list whose job is over (and, when signed, whose
// signature is verified), a piece per tick from the next tick on. The bytes
// stay where they are (the list job's buffer, or signedList_) until read.
void UpdateRun::acceptList(const char* begin, const char* end) {
  // The names and versions take at most the list's bytes: room for them at
  // once (address space until filled), so that no tick copies what the
  // earlier ones read.
  listBytes_ = begin == nullptr ? 0 : static_cast<std::size_t>(end - begin);
  if (begin != nullptr) remoteList.reserve(0, listBytes_);
  // A byte-order mark before the first line is no part of any name.
  listAt_ = begin == nullptr ? nullptr : afterByteOrderMark(begin, end);
  listBegin_ = listAt_;
  listEnd_ = begin == nullptr ? nullptr : end;
  state = UpdateState::ReadingList;
}

void UpdateRun::readListPiece() {
  const Clock::time_point started = Clock::now();
  bool withinBounds = true;
  while (withinBounds && listAt_ != listEnd_) {
    const char* to = sliceEnd(listAt_, listEnd_, kListSliceBytes);
    withinBounds = parseVersionList(listAt_, to, remoteList, kMaxListEntries - remoteList.size());
    listAt_ = to;
    if (!budgetLeft(started)) break;
  }
  if (withinBounds && listAt_ != listEnd_) return;
  // Text in which no line is an entry is no version list: a login page of a
  // hotel or café network answered in its place. Taken as an empty list it
  // would show "End" over an installation nothing has checked. (An empty
  // list, or one of blank lines only, is a release of no files.)
  const bool holdsText = std::any_of(listBegin_, listEnd_, [](char c) {
    return c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\v' && c != '\f';
  });
  const bool noList = withinBounds && remoteList.empty() && holdsText;
  job.reset();
  signedList_.clear();
  signedList_.shrink_to_fit();
  listBegin_ = listAt_ = listEnd_ = nullptr;
  if (noList) {
    fail(statusCode(DownloadStatus::BadResponse));
    return;
  }
  if (!withinBounds) {
    fail(statusCode(RunStatus::ListTooLarge));
    return;
  }
  state = UpdateState::PlanningFiles;
}

void UpdateRun::planPiece() {
  if (planner_ == nullptr) {
    // A tick of its own, after the reading's.
    localIndex_ = std::make_unique<LocalFileIndex>(nameCase, localList.size() + remoteList.size());
    skippedEntries.clear();
    planner_ =
        std::make_unique<PlanBuilder>(remoteList, localList, *localIndex_, downloadList, totalKiB, &skippedEntries);
    return;
  }
  const Clock::time_point started = Clock::now();
  bool planned = false;
  do {
    planned = planner_->step(kPlanSliceEntries);
  } while (!planned && budgetLeft(started));
  if (planned) startDownloads();
}

void UpdateRun::startDownloads() {
  planner_.reset();
  runLog().write("list " + std::string(kVersionListName) + ": " + std::to_string(listBytes_) + " bytes, " +
                 std::to_string(remoteList.size()) + " entries; " + std::to_string(downloadList.size()) +
                 " to fetch, " + std::to_string(totalKiB) + " KiB" + (trust.keys.empty() ? " (unsigned updates)" : ""));
  logEntriesSkippedForTheirNames(skippedEntries);
  // Judged by the files, not by their sizes: a plan of small files (all
  // under 1 KiB, a total of 0 KiB) still has work to do.
  if (downloadList.empty()) {
    state = UpdateState::Finishing;
    return;
  }
  // Nothing is asked of the server that could not be put in place.
  if (!mayWrite) {
    fail(statusCode(DownloadStatus::DestinationFailed));
  } else if (workingPlaceBlocked_) {
    fail(statusCode(RunStatus::WorkingFileBlocked));
  } else if (journalKept_) {
    // Records of this run would follow whatever the old journal holds.
    fail(statusCode(RunStatus::ListSaveFailed));
  } else {
    state = UpdateState::Planned;
  }
}

void UpdateRun::startCurrentFile() {
  const VersionEntryRef entry = downloadList[current];
  std::string localName = decodeEntryName(entry.name);
  // The step that writes judges the name too, whatever filled the list.
  if (NameRefusal refusal = entryNameRefusal(localName); refusal != NameRefusal::None) {
    skippedEntries.add(entry.name, refusal);
    logSkippedEntry(entry.name, nameRefusalText(refusal));
    if (++current >= downloadList.size()) state = UpdateState::Finishing;
    return;
  }
  display_.showStatusText(display_.messageText(kMsgDownloading) + text::utf16FromUtf8(localName));
  if (entry.name == kLauncherEntryName) localName += ".tmp";
  // The file's folders are made as its download starts, not all at once
  // by the plan. A folder that cannot be made fails the download (10).
  // "\\" separates folders as "/" does.
  std::string folders = localName;
  std::replace(folders.begin(), folders.end(), '\\', '/');
  if (const std::size_t slash = folders.rfind('/'); slash != std::string::npos) {
    static_cast<void>(makeDirectories(folders.substr(0, slash + 1)));
  }
  noteDownloadInFlight(partialFilePath(localName));
  // With a verified list the version token is the file's content digest,
  // checked before the file takes anything's place. Launcher.exe.tmp is
  // started only once its own job has passed that check. In every build the
  // file takes its place only at the size the list gives it, so what is
  // recorded below is what the list names.
  startJob(std::string(entry.name), localName, signedRelease.release != 0 ? std::string(entry.version) : std::string(),
           entry.size);
}

void UpdateRun::pollCurrentFile() {
  display_.showProgress(progressPercent(doneKiB, job->received.load(), totalKiB));
  if (!job->isComplete()) return;

  const VersionEntryRef entry = downloadList[current];
  const auto fetched = static_cast<std::uint32_t>(job->expectedLength.load());
  doneKiB += fetched / 1024;
  const auto took =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - jobStarted_).count();
  runLog().write("fetched " + std::string(entry.name) + ": " + std::to_string(fetched) + " bytes in " +
                 std::to_string(took) + " ms");

  // Recorded at once, so an interrupted run loses at most the file in flight:
  // the file is in place, its record is on disk before the next step.
  const bool isLauncher = entry.name == kLauncherEntryName;
  VersionList beforeLauncher;
  if (isLauncher) beforeLauncher = localList;
  localIndex_->recordFile(localList, entry.name, entry.version, fetched);
  const bool saved = journal_.append(entry.name, entry.version, fetched);
  job.reset();
  // Going on would fetch files that are never recorded, and show "End" over
  // an installation whose list says otherwise.
  if (!saved) {
    fail(statusCode(RunStatus::ListSaveFailed));
    return;
  }

  if (isLauncher) {
    // This run ends here: its journal is folded into the list before the new
    // launcher starts (which folds it itself if that fails).
    foldJournal();
    if (runProgram("Launcher.exe.tmp /pause", nullptr) != 0) {
      // The new launcher takes over from here.
      runLog().write("new launcher started: it takes over");
      state = UpdateState::HandedOver;
      display_.endProcess();
      return;
    }
    // The new launcher did not start, so the installed one is still the old
    // one: the list must not claim otherwise, or no later run fetches it.
    // The journal that claims it goes first: a kill before the list is
    // rewritten then costs the files it recorded a second fetch, never a
    // launcher recorded that is not installed.
    localList = std::move(beforeLauncher);
    if (!journal_.remove() || !saveLocalList(kVersionListName, localList)) {
      fail(statusCode(RunStatus::ListSaveFailed));
      return;
    }
  }

  if (++current >= downloadList.size()) state = UpdateState::Finishing;
}

void UpdateRun::foldJournal() {
  // The records stay on disk until the list holds them: a failure here
  // leaves the journal to the next start, which folds it.
  journal_.close();
  if (!saveLocalList(kVersionListName, localList) || !journal_.remove()) {
    runLog().write("the journal of the local list could not be folded into it; the next start does");
  }
}

UpdateRun::~UpdateRun() {
  // A failed run folded its journal already, or must not (a record that
  // could not be written); a finished or handed-over one has none left.
  if (mayWrite && state == UpdateState::Downloading && journal_.hasRecords()) foldJournal();
}

void UpdateRun::finish() {
  // Every side file has taken its file's place: the note names none.
  if (mayWrite) removeDownloadLeftovers();
  if (mayWrite && journal_.hasRecords()) foldJournal();
  runLog().write("up to date");
  display_.enablePlay();
  display_.showStatusText(display_.messageText(kMsgEnd));
  state = UpdateState::Finished;
}

}  // namespace update
