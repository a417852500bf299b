#include "net/transfer_limits.h"

#include <atomic>

namespace net {

namespace {

std::atomic<std::uint32_t> connectMs{kTransferLimits.connectMs};
std::atomic<std::uint32_t> receiveMs{kTransferLimits.receiveMs};

void setLimits(TransferLimits limits) {
  connectMs.store(limits.connectMs, std::memory_order_relaxed);
  receiveMs.store(limits.receiveMs, std::memory_order_relaxed);
}

}  // namespace

TransferLimits transferLimits() {
  return {connectMs.load(std::memory_order_relaxed), receiveMs.load(std::memory_order_relaxed)};
}

ScopedTransferLimits::ScopedTransferLimits(TransferLimits limits) : previous_(transferLimits()) { setLimits(limits); }

ScopedTransferLimits::~ScopedTransferLimits() { setLimits(previous_); }

}  // namespace net
