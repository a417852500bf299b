// Starting the game and a fetched launcher: real programs (shell scripts)
// started without waiting; the tests alone wait for them to end.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>

#include "support/scoped_env.h"
#include "support/temp_dir.h"
#include "update/program_start.h"

using update::runProgram;

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

constexpr int kWaitMilliseconds = 20000;

// Waits (bounded) for the started process to end and reaps it. Returns its
// exit status, or nullopt when it did not end in time.
std::optional<int> waitForExit(platform::ProcessHandle handle) {
  const auto pid = static_cast<pid_t>(handle);
  int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (pidfd < 0) return std::nullopt;
  pollfd ready{pidfd, POLLIN, 0};
  int polled;
  do {
    polled = ::poll(&ready, 1, kWaitMilliseconds);
  } while (polled < 0 && errno == EINTR);
  ::close(pidfd);
  int status = 0;
  if (polled != 1 || ::waitpid(pid, &status, 0) != pid) return std::nullopt;
  return status;
}

// Starts the command line, waits for it, and tells whether it ran to a clean end.
bool runToEnd(const char* commandLine, const char* workingFolder = nullptr) {
  platform::ProcessHandle handle = runProgram(commandLine, workingFolder);
  if (handle == 0) return false;
  std::optional<int> status = waitForExit(handle);
  return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
}

// A shell script, written as a download leaves it: no execute permission.
void writeScript(const fs::path& path, const std::string& body) {
  writeFile(path, "#!/bin/sh\n" + body + "\n");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// The ids of the processes this thread has started and not yet reaped.
std::string childrenOfThisThread() { return readFile("/proc/thread-self/children"); }

std::string canonicalText(const fs::path& path) { return fs::canonical(path).string(); }

}  // namespace

TEST(ProgramStart, GameStartsInTheLaunchersCurrentFolder) {
  TempDir install;
  writeScript(install / "Glimmerhold.exe", "pwd > started.txt");
  CurrentDirGuard guard;
  ASSERT_NE(canonicalText(fs::current_path()), canonicalText(install.path()));
  fs::current_path(install.path());

  ASSERT_TRUE(runToEnd("Glimmerhold.exe"));
  EXPECT_EQ(readFile(install / "started.txt"), canonicalText(install.path()) + "\n");
  // Only the owner is given the right to run it.
  fs::perms perms = fs::status(install / "Glimmerhold.exe").permissions();
  EXPECT_NE(perms & fs::perms::owner_exec, fs::perms::none);
  EXPECT_EQ(perms & (fs::perms::group_exec | fs::perms::others_exec), fs::perms::none);
}

TEST(ProgramStart, FetchedLauncherStartsWithItsArguments) {
  TempDir install;
  writeScript(install / "Launcher.exe.tmp", "for a in \"$@\"; do echo \"[$a]\"; done > args.txt");
  CurrentDirGuard guard;
  fs::current_path(install.path());

  ASSERT_TRUE(runToEnd("Launcher.exe.tmp /pause"));
  EXPECT_EQ(readFile(install / "args.txt"), "[/pause]\n");

  ASSERT_TRUE(runToEnd("  Launcher.exe.tmp   one\ttwo  \"three four\" "));
  EXPECT_EQ(readFile(install / "args.txt"), "[one]\n[two]\n[three four]\n");
}

TEST(ProgramStart, WhatCannotStartGivesZeroAndLeavesNoTrace) {
  TempDir install;
  writeFile(install / "data.bin", std::string("\x7f\x01\x02garbage", 10));
  fs::create_directory(install / "Folder.exe");
  writeScript(install / "Glimmerhold.exe", "pwd > started.txt");
  CurrentDirGuard guard;
  fs::current_path(install.path());

  // No child may be left behind by any of the failed starts.
  const std::string childrenBefore = childrenOfThisThread();
  EXPECT_EQ(runProgram("NoSuchGame.exe", nullptr), 0);
  EXPECT_EQ(runProgram("", nullptr), 0);
  EXPECT_EQ(runProgram("   ", nullptr), 0);
  EXPECT_EQ(runProgram(nullptr, nullptr), 0);
  EXPECT_EQ(runProgram("data.bin", nullptr), 0);
  EXPECT_EQ(runProgram("Folder.exe", nullptr), 0);
  EXPECT_EQ(runProgram("Glimmerhold.exe", (install / "no-such-folder").c_str()), 0);

  std::size_t entries = 0;
  for (const auto& entry : fs::directory_iterator(install.path())) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 3u);
  EXPECT_EQ(childrenOfThisThread(), childrenBefore);
}

TEST(ProgramStart, GivenWorkingFolderIsUsedAndTheProgramStillFound) {
  TempDir install;
  TempDir elsewhere;
  writeScript(install / "Glimmerhold.exe", "pwd > \"$0.where\"");
  CurrentDirGuard guard;
  fs::current_path(install.path());

  // The folder may use Windows separators.
  std::string folder = elsewhere.str();
  std::replace(folder.begin(), folder.end(), '/', '\\');
  ASSERT_TRUE(runToEnd("Glimmerhold.exe", folder.c_str()));
  EXPECT_EQ(readFile(install / "Glimmerhold.exe.where"), canonicalText(elsewhere.path()) + "\n");
}

TEST(ProgramStart, ProgramIsSearchedInTheCurrentFolderThenPath) {
  TempDir dir;
  writeScript(dir / "bin/gh-tool.tmp", "echo path > \"$1\"");
  writeScript(dir / "sub/gh-tool.tmp", "echo sub > \"$1\"");
  fs::create_directories(dir / "empty");
  const char* oldPath = std::getenv("PATH");
  ScopedEnv path("PATH", (dir / "bin").string() + ":" + (oldPath != nullptr ? oldPath : ""));
  CurrentDirGuard guard;
  const std::string out = (dir / "out.txt").string();

  fs::current_path(dir / "empty");
  ASSERT_TRUE(runToEnd(("gh-tool.tmp " + out).c_str()));
  EXPECT_EQ(readFile(out), "path\n");

  fs::current_path(dir / "sub");
  ASSERT_TRUE(runToEnd(("gh-tool.tmp " + out).c_str()));
  EXPECT_EQ(readFile(out), "sub\n");

  // A name with a folder in it is a path from the current folder.
  fs::current_path(dir.path());
  ASSERT_TRUE(runToEnd(("sub\\gh-tool.tmp " + out).c_str()));
  EXPECT_EQ(readFile(out), "sub\n");
  EXPECT_EQ(runProgram("empty/gh-tool.tmp", nullptr), 0);
}

TEST(ProgramStart, ChildInheritsNoDescriptorsButTheStandardOnes) {
  TempDir install;
  int pipeEnds[2];
  ASSERT_EQ(::pipe(pipeEnds), 0);  // deliberately without O_CLOEXEC
  const std::string fd = std::to_string(pipeEnds[1]);
  writeScript(install / "probe.tmp", "if [ -e /proc/$$/fd/" + fd +
                                         " ]; then echo open; else echo closed; fi > fd.txt; "
                                         "[ -e /proc/$$/fd/2 ] && echo std >> fd.txt");
  CurrentDirGuard guard;
  fs::current_path(install.path());

  bool ran = runToEnd("probe.tmp");
  ::close(pipeEnds[0]);
  ::close(pipeEnds[1]);
  ASSERT_TRUE(ran);
  EXPECT_EQ(readFile(install / "fd.txt"), "closed\nstd\n");
}
