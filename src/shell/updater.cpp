#include "shell/updater.h"

#include "update/program_start.h"
#include "update/run_log.h"

namespace shell {

using update::runProgram;

Updater* activeUpdater = nullptr;

Updater::Updater() = default;

Updater::~Updater() {
  // Nothing may reach a destroyed dialog through the process-wide pointer.
  if (activeUpdater == this) activeUpdater = nullptr;
}

bool pageReady() { return activeUpdater != nullptr && !activeUpdater->pageLoading; }

std::intptr_t Updater::processMessage(platform::DialogMessage message, std::uintptr_t) {
  switch (message) {
    case platform::DialogMessage::InitDialog: return onInitDialog();
    case platform::DialogMessage::Close: return onClose();
    case platform::DialogMessage::Destroy: return onDestroy();
    // Every timer message is a page tick, whatever its id.
    case platform::DialogMessage::Timer: return onTimer();
    case platform::DialogMessage::Wake: return onWake();
  }
  return 0;
}

std::intptr_t Updater::onWake() {
  if (halted || busyDepth > 0 || pageLoading || !document) return 0;
  BusyScope busy(busyDepth);
  updateRun.wake();
  return 0;
}

std::intptr_t Updater::onClose() {
  endDialog(kDialogEndValue);
  return 0;
}

std::intptr_t Updater::onDestroy() {
  platform::killTimer(window(), PageTimer);
  return 0;
}

void playGame(VARIANT*, void*) {
  if (activeUpdater == nullptr) return;
  activeUpdater->endDialog(kDialogEndValue);
  // The launcher's current folder is the installation folder, which the
  // game inherits.
  const bool started = runProgram("Glimmerhold.exe", nullptr) != 0;
  update::runLog().write(started ? "play: Glimmerhold.exe started" : "play: Glimmerhold.exe could not be started");
}

void closeLauncher(VARIANT*, void*) {
  if (activeUpdater == nullptr) return;
  update::runLog().write("closed by the player");
  activeUpdater->endDialog(kDialogEndValue);
}

}  // namespace shell
