// Starting programs through CreateProcessW: the game by its bare name in the
// installation folder, a fetched launcher by its ".tmp" name.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"
#include "update/program_start.h"
#include "win32/win32_support.h"

using update::runProgram;

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;

class ProgramStart : public ::testing::Test {
 protected:
  void SetUp() override { fs::copy_file(win32test::binaryFolder() / "win32_probe.exe", install / "Glimmerhold.exe"); }

  // Waits for the started probe (by its id: the launcher keeps no handle)
  // and gives what it wrote. A probe that has already ended cannot be
  // opened, but its report is written before it ends.
  std::string probeReport(platform::ProcessHandle process, const fs::path& folder) {
    HANDLE handle = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(process));
    if (handle != nullptr) {
      DWORD waited = ::WaitForSingleObject(handle, 30000);
      DWORD code = 1;
      ::GetExitCodeProcess(handle, &code);
      ::CloseHandle(handle);
      EXPECT_EQ(waited, WAIT_OBJECT_0);
      EXPECT_EQ(code, 0u);
    }
    return readFile(folder / "probe.txt");
  }

  testsupport::TempDir scratch;
  fs::path install = scratch.path();
  testsupport::CurrentDirGuard dirGuard;
};

TEST_F(ProgramStart, TheGameRunsInTheCurrentFolderByItsBareName) {
  // The test binary's own folder (searched first) holds no game; the
  // current folder, as the launcher makes it, does.
  fs::current_path(install);
  platform::ProcessHandle game = runProgram("Glimmerhold.exe", nullptr);
  ASSERT_NE(game, 0);
  std::string report = probeReport(game, install);
  EXPECT_EQ(report.substr(0, report.find('\n')), win32test::backslashed(install));
  EXPECT_FALSE(fs::exists(win32test::binaryFolder() / "probe.txt"));
}

TEST_F(ProgramStart, AGivenWorkingFolderIsTheChildsCurrentFolder) {
  testsupport::TempDir work;
  std::string program = win32test::backslashed(install / "Glimmerhold.exe");
  std::string folder = win32test::backslashed(work.path());
  platform::ProcessHandle game = runProgram(program.c_str(), folder.c_str());
  ASSERT_NE(game, 0);
  std::string report = probeReport(game, work.path());
  EXPECT_EQ(report.substr(0, report.find('\n')), folder);
}

TEST_F(ProgramStart, AProgramNamedTmpStartsWithItsArgument) {
  fs::copy_file(install / "Glimmerhold.exe", install / "Launcher.exe.tmp");
  fs::current_path(install);
  platform::ProcessHandle launcher = runProgram("Launcher.exe.tmp /pause", nullptr);
  ASSERT_NE(launcher, 0);
  std::string report = probeReport(launcher, install);
  EXPECT_NE(report.find("Launcher.exe.tmp /pause"), std::string::npos) << report;
}

TEST_F(ProgramStart, AMissingProgramGivesZeroAndLeavesNoTrace) {
  fs::current_path(install);
  EXPECT_EQ(runProgram("NoSuchGame.exe", nullptr), 0);
  EXPECT_EQ(runProgram("", nullptr), 0);
  EXPECT_EQ(runProgram("Glimmerhold.exe", "Z:\\no\\such\\folder"), 0);
  EXPECT_FALSE(fs::exists(install / "probe.txt"));
}

}  // namespace
