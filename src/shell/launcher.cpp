// The process entry: refuses to run without an installation, settles the
// launcher's self-replacement, then runs the dialog. Every path ends with
// exit code 0.
#include "shell/launcher.h"

#include "platform/browser.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "settings/installation_settings.h"
#include "shell/self_replace.h"
#include "shell/updater.h"
#include "web/message_catalogue.h"

namespace {

constexpr std::uint32_t kRestartDelayMs = 1000;

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
  // A left-over that differs from the installed launcher means the
  // replacement never completed (the new launcher did not start, or could
  // not copy itself): forget the launcher's version so it is fetched again.
  if (platform::accessCheck(leftover.c_str()) == 0 &&
      !sameFileContents(leftover, installPath + "\\Launcher.exe")) {
    forgetLauncherVersion(installPath);
  }
  platform::deleteFile(leftover.c_str());
}

}  // namespace

int launcherMain(const std::u16string& commandLine) {
  std::string installPath;
  if (!readInstallPath(installPath)) {
    showStartupBox(kMsgNotInstalled);
    return 0;
  }
  loadLanguage();
  if (commandLine == u"/pause") {
    finishSelfReplacement(installPath);
  } else {
    removeLeftoverLauncher(installPath);
  }

  platform::atlAxWinInit();
  {
    Updater updater;
    updater.doModal(platform::activeWindow(), 0);
    platform::atlAxWinTerm();
  }
  return 0;
}
