#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

struct Shared {
  platform::CriticalSection lock;
  long counter = 0;  // guarded by lock only
};

void addMany(void* raw) {
  auto* shared = static_cast<Shared*>(raw);
  for (int i = 0; i < 20000; ++i) {
    platform::CriticalSectionLock hold(shared->lock);
    // Entered again by the holder, as a critical section allows.
    platform::CriticalSectionLock again(shared->lock);
    ++shared->counter;
  }
}

TEST(Threads, CriticalSectionExcludesOtherThreadsButNotItsHolder) {
  Shared shared;
  platform::ThreadHandle threads[4];
  for (auto& thread : threads) {
    std::uint32_t error = 0;
    thread = platform::createThread(addMany, &shared, &error);
    ASSERT_NE(thread, nullptr) << error;
  }
  for (auto& thread : threads) platform::joinThread(thread);
  // Joined, so every increment is visible without the lock.
  EXPECT_EQ(shared.counter, 4 * 20000);
}

TEST(Threads, ReleasedThreadRunsOnByItself) {
  static std::atomic<bool> ran{false};
  std::uint32_t error = 0;
  platform::ThreadHandle thread = platform::createThread([](void*) { ran.store(true); }, nullptr, &error);
  ASSERT_NE(thread, nullptr);
  platform::releaseThread(thread);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!ran.load() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  EXPECT_TRUE(ran.load());
  platform::joinThread(nullptr);  // no thread: returns at once
}

}  // namespace
