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
  if (const char* saved = std::getenv("GLIMMERHOLD_REGISTRY_FILE")) savedRegistryFile_ = saved;
  ::setenv("GLIMMERHOLD_REGISTRY_FILE", (scratch_.path() / "user.reg").c_str(), 1);
  std::filesystem::create_directories(install());
  currentLanguage.clear();
}

void LauncherTest::TearDown() {
  if (savedRegistryFile_) {
    ::setenv("GLIMMERHOLD_REGISTRY_FILE", savedRegistryFile_->c_str(), 1);
  } else {
    ::unsetenv("GLIMMERHOLD_REGISTRY_FILE");
  }
}

namespace {

std::string regEscape(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\' || c == '"') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

}  // namespace

void LauncherTest::registerInstallation(const std::string& installPath,
                                        const std::optional<std::string>& language) {
  std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Quarvo\\Glimmerhold]\n";
  text += "\"InstallPath\"=\"" + regEscape(installPath) + "\"\n";
  if (language) text += "\"Lenguaje_h144357406\"=\"" + regEscape(*language) + "\"\n";
  writeFile(scratch_.path() / "user.reg", text);
}

}  // namespace testsupport
