#include "net/transfer_limits.h"

#include <atomic>

namespace net {

namespace {

std::atomic<std::uint32_t> connectMs{kTransferLimits.connectMs};
std::atomic<std::uint32_t> receiveMs{kTransferLimits.receiveMs};
std::atomic<std::uint32_t> windowMs{kTransferLimits.windowMs};
std::atomic<std::uint32_t> windowBytes{kTransferLimits.windowBytes};

void setLimits(TransferLimits limits) {
  connectMs.store(limits.connectMs, std::memory_order_relaxed);
  receiveMs.store(limits.receiveMs, std::memory_order_relaxed);
  windowMs.store(limits.windowMs, std::memory_order_relaxed);
  windowBytes.store(limits.windowBytes, std::memory_order_relaxed);
}

}  // namespace

TransferLimits transferLimits() {
  return {connectMs.load(std::memory_order_relaxed), receiveMs.load(std::memory_order_relaxed),
          windowMs.load(std::memory_order_relaxed), windowBytes.load(std::memory_order_relaxed)};
}

ProgressWindow::ProgressWindow(const TransferLimits& limits, Clock::time_point start)
    : length_(limits.windowMs), least_(limits.windowBytes), windowStart_(start) {}

// The windows follow one another from the start, each judged when the first
// bytes after its end arrive (those belong to a later window): a window that
// ended while nothing arrived brought nothing. Starting the next window at
// that arrival instead would let a server stretch each window by up to a
// receive limit and stay below the least rate. A server that sends its bytes
// one every receive limit is judged within a window and a receive.
bool ProgressWindow::arrived(std::uint32_t count, Clock::time_point now) {
  while (now - windowStart_ >= length_) {
    if (bytes_ < least_) return false;
    windowStart_ += length_;
    bytes_ = 0;
  }
  bytes_ += count;
  return true;
}

ScopedTransferLimits::ScopedTransferLimits(TransferLimits limits) : previous_(transferLimits()) { setLimits(limits); }

ScopedTransferLimits::~ScopedTransferLimits() { setLimits(previous_); }

}  // namespace net
