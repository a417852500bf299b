// The launcher copying itself over Launcher.exe, on Windows files.
#include "shell/self_replace.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

#include "platform/files.h"
#include "support/temp_dir.h"
#include "win32/win32_support.h"

using shell::copyFile;
using shell::modulePath;

namespace {

namespace fs = std::filesystem;
using testsupport::readFile;
using testsupport::writeFile;

std::string randomBytes(std::size_t size) {
  std::mt19937 generator(7);
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(generator());
  return bytes;
}

TEST(Win32SelfReplace, CopiesWholeFilesInPiecesOverTheOldOne) {
  testsupport::TempDir dir;
  const std::string base = win32test::backslashed(dir.path());
  // 4 MiB pieces: two whole ones and a short last one.
  const std::string big = randomBytes(2 * 4194304 + 12345);
  writeFile(dir / "Launcher.exe.tmp", big);
  writeFile(dir / "Launcher.exe", "launcher v1");
  EXPECT_TRUE(copyFile(base + "\\Launcher.exe.tmp", base + "\\Launcher.exe"));
  EXPECT_TRUE(readFile(dir / "Launcher.exe") == big);
  EXPECT_FALSE(fs::exists(dir / "Launcher.exe.new")) << "no side file is left";

  writeFile(dir / "empty", "");
  EXPECT_TRUE(copyFile(base + "\\empty", base + "\\Launcher.exe"));
  EXPECT_TRUE(fs::exists(dir / "Launcher.exe"));
  EXPECT_EQ(fs::file_size(dir / "Launcher.exe"), 0u);
}

TEST(Win32SelfReplace, AHeldOrMissingFileLeavesTheOldLauncher) {
  testsupport::TempDir dir;
  const std::string base = win32test::backslashed(dir.path());
  writeFile(dir / "Launcher.exe", "launcher v1");
  writeFile(dir / "Launcher.exe.tmp", "launcher v2");
  EXPECT_FALSE(copyFile(base + "\\missing.tmp", base + "\\Launcher.exe"));
  EXPECT_EQ(readFile(dir / "Launcher.exe"), "launcher v1");

  // While the old launcher still runs, Windows holds its file without
  // delete sharing; an open handle of our own does the same here.
  {
    platform::File held = platform::File::open((base + "\\Launcher.exe").c_str(), platform::File::Access::ReadExisting);
    ASSERT_TRUE(held.isOpen());
    EXPECT_FALSE(copyFile(base + "\\Launcher.exe.tmp", base + "\\Launcher.exe"));
  }
  EXPECT_EQ(readFile(dir / "Launcher.exe"), "launcher v1");
  EXPECT_FALSE(fs::exists(dir / "Launcher.exe.new")) << "the failed side file is removed";
  // Once it is let go, the same copy goes through.
  EXPECT_TRUE(copyFile(base + "\\Launcher.exe.tmp", base + "\\Launcher.exe"));
  EXPECT_EQ(readFile(dir / "Launcher.exe"), "launcher v2");
}

TEST(Win32SelfReplace, ModulePathIsTheRunningExecutable) {
  std::string path = modulePath();
  EXPECT_EQ(fs::path(path), win32test::binaryFolder() / "win32_tests.exe");
  EXPECT_EQ(path.find('/'), std::string::npos) << "Windows gives backslashes";
}

}  // namespace
