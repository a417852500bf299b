// Waiting for a download job from a test.
#pragma once

#include <chrono>
#include <thread>

#include "net/streaming_file.h"

namespace testsupport {

// Waits until the job has failed or finished. The job has no event to wait
// on, so this polls, bounded in time; false when the limit passed first.
inline bool jobEnded(const net::cStreamingFile& job, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (job.status.load() == 0 && !job.done.load(std::memory_order_acquire)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Waits until the job has stored at least `bytes` body bytes.
inline bool jobReceived(const net::cStreamingFile& job, std::uint32_t bytes,
                        std::chrono::milliseconds limit = std::chrono::seconds(20)) {
  auto deadline = std::chrono::steady_clock::now() + limit;
  while (job.received.load() < bytes) {
    if (std::chrono::steady_clock::now() >= deadline || job.status.load() != 0) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace testsupport
