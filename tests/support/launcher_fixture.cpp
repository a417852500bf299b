#include "support/launcher_fixture.h"

#include <chrono>
#include <filesystem>
#include <thread>

#include "net/streaming_file.h"
#include "support/job_wait.h"

#include "settings/installation_settings.h"

using settings::currentLanguage;
using update::UpdateRun;

namespace testsupport {

bool settleJob(UpdateRun& run, int seconds) {
  if (run.job == nullptr) return true;
  if (!jobEnded(*run.job, std::chrono::seconds(seconds))) return false;
  run.job.reset();
  return true;
}

void LauncherTest::SetUp() {
  resetFakes();
  std::filesystem::create_directories(install());
  currentLanguage.clear();
}

void LauncherTest::registerInstallation(const std::string& installPath, const std::optional<std::string>& language) {
  writeInstallationSettings(scratch_.path() / "user.reg", installPath, language.value_or(""));
}

}  // namespace testsupport
