// One launcher per installation: the lock against the system's own facility.
#include "platform/instance_lock.h"

#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "support/temp_dir.h"

#if !defined(_WIN32)
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#endif

namespace {

// Asked from another thread: a Windows mutex is its owner thread's to take
// again, but no other thread's, as a file lock is no other holder's.
bool heldElsewhere(const std::string& installPath) {
  bool held = false;
  std::thread other([&] { held = platform::InstanceLock::acquire(installPath.c_str(), 0).isHeld(); });
  other.join();
  return held;
}

TEST(InstanceLock, OneHolderPerInstallationUntilReleased) {
  testsupport::TempDir first;
  testsupport::TempDir second;
  platform::InstanceLock lock = platform::InstanceLock::acquire(first.str().c_str(), 0);
  ASSERT_TRUE(lock.isHeld());
  EXPECT_FALSE(heldElsewhere(first.str()));
  EXPECT_FALSE(heldElsewhere(first.str() + "/")) << "the same folder, spelt with its separator";
  // The same folder however else it is spelt: the file calls take each of
  // these for it, and so does a second launcher given it by the registry.
  const std::string leaf = first.path().filename().string();
  for (const std::string& same : {first.str() + "/./", first.str() + "//", first.str() + "/../" + leaf}) {
    EXPECT_FALSE(heldElsewhere(same)) << same;
  }
  EXPECT_TRUE(heldElsewhere(second.str())) << "another installation has a lock of its own";

  platform::InstanceLock moved = std::move(lock);
  EXPECT_FALSE(lock.isHeld());
  EXPECT_FALSE(heldElsewhere(first.str()));
  moved.release();
  moved.release();
  EXPECT_TRUE(heldElsewhere(first.str()));
}

TEST(InstanceLock, KeptByAnotherIsToldApartFromNotToBeHad) {
  testsupport::TempDir dir;
  platform::InstanceLock lock = platform::InstanceLock::acquire(dir.str().c_str(), 0);
  ASSERT_TRUE(lock.isHeld());
  EXPECT_FALSE(lock.heldElsewhere());
  platform::InstanceLock second;
  std::thread other([&] { second = platform::InstanceLock::acquire(dir.str().c_str(), 40); });
  other.join();
  EXPECT_FALSE(second.isHeld());
  EXPECT_TRUE(second.heldElsewhere());
#if !defined(_WIN32)
  // No folder to make the lock in: not held, and by no one else either.
  platform::InstanceLock none = platform::InstanceLock::acquire((dir.str() + "/missing").c_str(), 0);
  EXPECT_FALSE(none.isHeld());
  EXPECT_FALSE(none.heldElsewhere());
#endif
}

#if !defined(_WIN32)
// Whatever an older launcher, another program or an attacker put in the
// lock's place is neither a lasting refusal nor followed.
TEST(InstanceLock, WhatStandsInTheLocksPlaceIsSetAsideNeverFollowed) {
  namespace fs = std::filesystem;
  testsupport::TempDir dir;
  const fs::path lockPath = dir / "Launcher.lock";
  const fs::path outside = dir / "outside.txt";
  const std::vector<std::pair<const char*, std::function<void()>>> cases = {
      {"a symlink to a file", [&] { fs::create_symlink(outside, lockPath); }},
      {"a dangling symlink", [&] { fs::create_symlink(dir / "nowhere", lockPath); }},
      {"a symlink to a folder", [&] { fs::create_directory_symlink(dir.path(), lockPath); }},
      {"an empty folder", [&] { fs::create_directory(lockPath); }},
      {"a folder with a file in it",
       [&] {
         fs::create_directory(lockPath);
         testsupport::writeFile(lockPath / "kept.txt", "kept");
       }},
      {"a pipe", [&] { ASSERT_EQ(::mkfifo(lockPath.c_str(), 0644), 0); }},
  };
  for (const auto& [what, make] : cases) {
    SCOPED_TRACE(what);
    testsupport::writeFile(outside, "not the lock");
    make();
    platform::InstanceLock lock = platform::InstanceLock::acquire(dir.str().c_str(), 0);
    EXPECT_TRUE(lock.isHeld());
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(lockPath)));
    EXPECT_EQ(testsupport::readFile(outside), "not the lock");
    EXPECT_FALSE(fs::exists(dir / "nowhere"));
    EXPECT_FALSE(heldElsewhere(dir.str()));
    lock.release();
    fs::remove(lockPath);
  }
  // The folder with something in it was renamed aside, whole.
  std::size_t asideFiles = 0;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    if (entry.path().filename().string().starts_with("Launcher.lock.")) {
      EXPECT_EQ(testsupport::readFile(entry.path() / "kept.txt"), "kept");
      ++asideFiles;
    }
  }
  EXPECT_EQ(asideFiles, 1u);
}
#endif

}  // namespace
