// One launcher per installation: the lock against the system's own facility.
#include "platform/instance_lock.h"

#include <gtest/gtest.h>

#include <thread>

#include "support/temp_dir.h"

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

}  // namespace
