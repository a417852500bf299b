// The update run's steps. Each tick does one thing: look at the list job,
// start a file, report a file's progress, record a finished file, or finish.
#include "update/update_run.h"

#include <algorithm>

#include "net/streaming_file.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "shell/updater.h"
#include "update/download_note.h"
#include "update/download_plan.h"
#include "update/entry_names.h"
#include "update/program_start.h"
#include "web/message_catalogue.h"
#include "web/page_bridge.h"
#include "web/utf8_text.h"

namespace {

std::int32_t messageForStatus(std::int32_t status) {
  switch (status) {
    case SocketFailed: return kMsgInvalidSocket;
    case HostNotFound: return kMsgServerUnavailable;
    case ConnectFailed: return kMsgConnectionError;
    case BadResponse: return kMsgInvalidResponse;
    default: return kMsgDownloadErrorCode;
  }
}

}  // namespace

std::string updateBase() {
  std::u16string base = messageText(kMsgUpdateBase);
  std::string narrow;
  narrow.reserve(base.size());
  for (char16_t c : base) narrow += static_cast<char>(c & 0xFF);
  return narrow;
}

std::u16string downloadErrorText(std::int32_t status) {
  const std::int32_t id = messageForStatus(status);
  return formatErrorText(messageText(id), id == kMsgDownloadErrorCode ? &status : nullptr);
}

std::uint16_t progressPercent(std::uint32_t doneKiB, std::uint32_t receivedBytes, std::uint32_t totalKiB) {
  if (totalKiB == 0) return 0;
  std::uint64_t fetchedKiB = std::uint64_t{doneKiB} + receivedBytes / 1024;
  return static_cast<std::uint16_t>(fetchedKiB * 100 / totalKiB);
}

UpdateRun::~UpdateRun() {
  if (job != nullptr && (job->done.load() || job->status.load() != 0)) delete job;
}

bool UpdateRun::loadLocalList() {
  if (::loadLocalList(installPath, localList)) return true;
  state = Failed;
  return false;
}

void UpdateRun::planDownloads() { ::planDownloads(remoteList, localList, downloadList, totalKiB); }

void UpdateRun::startListFetch() { job = new cStreamingFile(updateBase() + kVersionListName, ""); }

void UpdateRun::tick() {
  if (job != nullptr && job->status.load() != 0) {
    failIfJobFailed();
    return;
  }
  switch (state) {
    case FetchingList: finishListFetch(); break;
    case Planned:
      current = 0;
      state = Downloading;
      break;
    case Downloading:
      if (job == nullptr) {
        startCurrentFile();
      } else {
        pollCurrentFile();
      }
      break;
    case Finishing: finish(); break;
    default: break;
  }
}

void UpdateRun::failIfJobFailed() {
  // The failed job is left to the process's end.
  const std::int32_t status = job->status.load();
  job = nullptr;
  fail(status);
}

void UpdateRun::fail(std::int32_t status) {
  std::u16string text = downloadErrorText(status);
  // Ticks keep coming while the box is open; they must find nothing to do.
  state = Failed;
  // The failed job removed its side file before it reported: the note names
  // nothing that is left.
  platform::deleteFile(kDownloadNoteName);
  platform::messageBox(nullptr, text, u"Error", platform::kMbIconInformation);
  platform::exitProcess(0);
}

void UpdateRun::finishListFetch() {
  if (job == nullptr || !job->isComplete()) return;
  const char* body = job->bufferStart;
  bool withinBounds = body == nullptr || parseVersionList(body, body + job->expectedLength.load(), remoteList);
  delete job;
  job = nullptr;
  if (!withinBounds) {
    fail(ListTooLarge);
    return;
  }
  planDownloads();
  // Judged by the files, not by their sizes: a plan of small files (all
  // under 1 KiB, a total of 0 KiB) still has work to do.
  state = downloadList.empty() ? Finishing : Planned;
}

void UpdateRun::startCurrentFile() {
  const VersionEntryRef entry = downloadList[current];
  std::string localName = decodeEntryName(entry.name);
  // The step that writes judges the name too, whatever filled the list.
  if (!isInstallableEntryName(localName)) {
    if (++current >= downloadList.size()) state = Finishing;
    return;
  }
  showStatusText(messageText(kMsgDownloading) + utf16FromUtf8(localName));
  if (entry.name == kLauncherEntryName) localName += ".tmp";
  noteDownloadInFlight(partialFilePath(localName));
  job = new cStreamingFile(updateBase().append(entry.name), localName);
}

void UpdateRun::pollCurrentFile() {
  showProgress(progressPercent(doneKiB, job->received.load(), totalKiB));
  if (!job->isComplete()) return;

  const VersionEntryRef entry = downloadList[current];
  const std::uint32_t fetched = static_cast<std::uint32_t>(job->expectedLength.load());
  doneKiB += fetched / 1024;

  // Recorded at once, so an interrupted run loses at most the file in flight.
  const bool isLauncher = entry.name == kLauncherEntryName;
  VersionList beforeLauncher;
  if (isLauncher) beforeLauncher = localList;
  if (std::size_t local = localList.indexOf(entry.name); local != VersionList::npos) {
    localList.update(local, entry.version, fetched);
  } else {
    localList.append(entry.name, entry.version, fetched);
  }
  const bool saved = saveLocalList(kVersionListName, localList);
  delete job;
  job = nullptr;
  // Going on would fetch files that are never recorded, and show "End" over
  // an installation whose list says otherwise.
  if (!saved) {
    fail(ListSaveFailed);
    return;
  }

  if (isLauncher) {
    if (runProgram("Launcher.exe.tmp /pause", nullptr) != 0) platform::exitProcess(0);
    // The new launcher did not start, so the installed one is still the old
    // one: the list must not claim otherwise, or no later run fetches it.
    localList = std::move(beforeLauncher);
    if (!saveLocalList(kVersionListName, localList)) {
      fail(ListSaveFailed);
      return;
    }
  }

  if (++current >= downloadList.size()) state = Finishing;
}

void UpdateRun::finish() {
  // Every side file has taken its file's place: the note names none.
  removeDownloadLeftovers();
  if (pageReady()) {
    activeUpdater->setProgressBar(100);
    activeUpdater->disablePlayButton(false);
  }
  showStatusText(messageText(kMsgEnd));
  state = Finished;
}
