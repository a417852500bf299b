// How long a download job waits on a silent server: for the connection to be
// answered, and for each receive to bring a byte. The limits are per step,
// never per transfer, so a slow download that keeps moving never ends early.
#pragma once

#include <cstdint>

namespace net {

struct TransferLimits {
  std::uint32_t connectMs;
  std::uint32_t receiveMs;
};

// What the launcher uses: long enough for a slow link or a busy server,
// short enough that a dropped connection is reported within a minute.
constexpr TransferLimits kTransferLimits{20 * 1000, 30 * 1000};

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
