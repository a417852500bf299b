#include "support/launcher_fixture.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "net/streaming_file.h"

#include "settings/installation_settings.h"

namespace testsupport {

bool waitForJob(const cStreamingFile& job, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!job.done.load() && job.status.load() == 0) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

bool settleJob(UpdateRun& run, int seconds) {
  if (run.job == nullptr) return true;
  if (!waitForJob(*run.job, seconds)) return false;
  delete run.job;
  run.job = nullptr;
  return true;
}

void LauncherTest::SetUp() {
  resetFakes();
  std::filesystem::create_directories(install());
  currentLanguage.clear();
}

void LauncherTest::registerInstallation(const std::string& installPath,
                                        const std::optional<std::string>& language) {
  writeInstallationSettings(scratch_.path() / "user.reg", installPath, language.value_or(""));
}

}  // namespace testsupport
