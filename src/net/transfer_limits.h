// How long a download job waits on a silent or starving server: for the
// connection to be answered, for each receive to bring a byte, and for each
// window of time to bring a least amount of bytes. The limits are per step
// and per window, never per transfer, so a slow download that keeps moving
// at the pace of any real link never ends early.
#pragma once

#include <chrono>
#include <cstdint>

namespace net {

struct TransferLimits {
  std::uint32_t connectMs;
  std::uint32_t receiveMs;
  // A server that answers every receive in time but sends next to nothing
  // holds the player as long as a silent one: each window of this length
  // must bring at least `windowBytes` (headers included).
  std::uint32_t windowMs = 60 * 1000;
  std::uint32_t windowBytes = 4 * 1024;
};

// What the launcher uses: long enough for a slow link or a busy server,
// short enough that a dropped connection is reported within a minute. The
// window asks for 4 KiB a minute, some seventy bytes a second: a 56 kbit/s
// modem brings a hundred times that.
constexpr TransferLimits kTransferLimits{20 * 1000, 30 * 1000, 60 * 1000, 4 * 1024};

// Counts the bytes of one transfer against its windows.
class ProgressWindow {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ProgressWindow(const TransferLimits& limits, Clock::time_point start = Clock::now());

  // Notes `count` bytes arrived at `now`; false when a window that has
  // passed brought fewer bytes than it must.
  [[nodiscard]] bool arrived(std::uint32_t count, Clock::time_point now = Clock::now());

 private:
  std::chrono::milliseconds length_;
  std::uint64_t least_;
  Clock::time_point windowStart_;
  std::uint64_t bytes_ = 0;
};

// The limits a job reads when it starts.
TransferLimits transferLimits();

// For tests, which cannot wait tens of seconds: shorter limits for the jobs
// started while it lives, the launcher's own restored afterwards.
class ScopedTransferLimits {
 public:
  explicit ScopedTransferLimits(TransferLimits limits);
  ~ScopedTransferLimits();
  ScopedTransferLimits(const ScopedTransferLimits&) = delete;
  ScopedTransferLimits& operator=(const ScopedTransferLimits&) = delete;

 private:
  TransferLimits previous_;
};

}  // namespace net
