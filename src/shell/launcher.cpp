// The process entry: refuses to run without an installation, runs only one
// launcher per installation, settles the launcher's self-replacement, then
// runs the dialog. Every path ends with exit code 0.
#include "shell/launcher.h"

#include "platform/browser.h"
#include "platform/files.h"
#include "platform/instance_lock.h"
#include "platform/message_box.h"
#include "settings/installation_settings.h"
#include "shell/page_calls.h"
#include "shell/self_replace.h"
#include "shell/updater.h"
#include "text/encoding.h"
#include "update/messages.h"
#include "update/run_log.h"

namespace shell {

using settings::loadLanguage;
using settings::readInstallPath;
using update::kMsgCaption;
using update::kMsgNewLauncher;
using update::kMsgNotInstalled;
using update::runLog;

namespace {

constexpr std::uint32_t kRestartDelayMs = 1000;
// How long a new launcher started by the self-update waits for the old one,
// which ends right after starting it, to let go of the installation.
constexpr std::uint32_t kHandOverWaitMs = 30000;
// Shown before any page is loaded, so not one of the page's numbered
// messages.
constexpr char16_t kAlreadyRunningText[] = u"The launcher is already running.";

void showStartupBox(std::int32_t textId) {
  platform::messageBox(nullptr, messageText(textId), messageText(kMsgCaption), platform::kMbOk);
}

// Started with "/pause" from Launcher.exe.tmp: the launcher that started us
// is ending; take its place.
void finishSelfReplacement(std::string& installPath) {
  platform::sleepMilliseconds(kRestartDelayMs);
  showStartupBox(kMsgNewLauncher);
  if (!readInstallPath(installPath)) return;
  const std::string target = installPath + "\\Launcher.exe";
  const std::string running = modulePath();
  if (running.empty() || running == target) return;
  // The list already names the new launcher; if it could not be put in
  // place, the next run must fetch it again.
  if (!copyFile(running, target)) forgetLauncherVersion(installPath);
}

// An ordinary start: remove what a self-replacement left behind.
void removeLeftoverLauncher(const std::string& installPath) {
  const std::string leftover = installPath + "\\Launcher.exe.tmp";
  // An empty folder in its place, left by an older launcher's fault, goes
  // too; one with something in it is the update run's to report.
  static_cast<void>(platform::removeDirectory(leftover.c_str()));
  // A left-over that differs from the installed launcher means the
  // replacement never completed (the new launcher did not start, or could
  // not copy itself): forget the launcher's version so it is fetched again.
  if (platform::accessCheck(leftover.c_str()) == 0 && !sameFileContents(leftover, installPath + "\\Launcher.exe")) {
    forgetLauncherVersion(installPath);
  }
  platform::deleteFile(leftover.c_str());
}

}  // namespace

int launcherMain(const std::u16string& commandLine) {
  std::string installPath;
  // A folder that cannot be entered, or is not a folder, is no installation:
  // nothing may be written, here or in whatever folder is current.
  if (!readInstallPath(installPath) || !platform::setCurrentDirectory(installPath.c_str())) {
    showStartupBox(kMsgNotInstalled);
    return 0;
  }
  loadLanguage();
  const bool handOver = commandLine == u"/pause";
  // Held until the process ends. Another launcher running on this
  // installation owns its files: this one neither fetches nor writes.
  platform::InstanceLock lock = platform::InstanceLock::acquire(installPath.c_str(), handOver ? kHandOverWaitMs : 0);
  if (lock.heldElsewhere()) {
    platform::messageBox(nullptr, kAlreadyRunningText, messageText(kMsgCaption), platform::kMbOk);
    return 0;
  }
  // No lock to be had at all: an installation the player cannot write (a
  // read-only mount, another user's folder). Nothing is written then, so no
  // other launcher's files are touched either: the game still plays when it
  // is up to date, and the run says it cannot write when it is not.
  const bool mayWrite = lock.isHeld();
  // Only the launcher that holds the installation writes its log.
  if (mayWrite) {
    runLog().open(installPath);
    runLog().write(std::string("start: version ") + GLIMMERHOLD_VERSION + ", arguments \"" +
                   text::utf8FromUtf16(commandLine) + "\", installation " + installPath);
  }
  if (mayWrite && handOver) {
    finishSelfReplacement(installPath);
  } else if (mayWrite) {
    removeLeftoverLauncher(installPath);
  }

  platform::atlAxWinInit();
  {
    Updater updater;
    updater.updateRun.mayWrite = mayWrite;
    updater.doModal(platform::activeWindow(), 0);
    platform::atlAxWinTerm();
  }
  runLog().write("end");
  runLog().close();
  return 0;
}

}  // namespace shell
