// Shared set-up for the tests of the launcher's dialog: fakes reset, an
// installation folder registered in a scratch registry file, and the current
// folder restored afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "support/fake_ui.h"
#include "support/registry_fixture.h"
#include "support/temp_dir.h"
#include "update/update_run.h"

namespace testsupport {

// Waits (at most `seconds`) until the run's job has ended, successfully or
// not, then deletes it, so later ticks find no job. False on time-out.
bool settleJob(update::UpdateRun& run, int seconds = 20);

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override;

  // Writes the registry file: InstallPath (REG_SZ) and, if given, the language.
  void registerInstallation(const std::string& installPath, const std::optional<std::string>& language = {});
  std::filesystem::path install() const { return scratch_.path() / "Glimmerhold"; }
  const TempDir& scratch() const { return scratch_; }

 private:
  TempDir scratch_;
  CurrentDirGuard dirGuard_;
  RegistryFileEnv registry_{scratch_.path() / "user.reg"};
};

}  // namespace testsupport
