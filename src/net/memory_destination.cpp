#include "net/memory_destination.h"

#include <cstdlib>
#include <cstring>

namespace net {

DownloadStatus MemoryDestination::open(std::uint32_t length) {
  platform::CriticalSectionLock hold(job_.lock);
  startDigest();
  if (length > kMaxMemoryBody) return DownloadStatus::BodyTooLarge;
  // The job frees the buffer (std::free) when it goes.
  job_.bufferStart = static_cast<char*>(std::malloc(std::size_t{length} + 1));  // NOLINT(cppcoreguidelines-no-malloc)
  if (job_.bufferStart == nullptr) return DownloadStatus::OutOfMemory;
  job_.writePos = job_.bufferStart;
  capacity_ = length;
  return DownloadStatus::None;
}

DownloadStatus MemoryDestination::append(const char* bytes, std::uint32_t count) {
  platform::CriticalSectionLock hold(job_.lock);
  std::uint32_t received = job_.received.load(std::memory_order_relaxed);
  if (digest_) digest_->update(bytes, count);
  // The caller keeps the body within its expected length; this guards the
  // buffer all the same.
  if (count > capacity_ - received) return DownloadStatus::BodyOverlong;
  std::memcpy(job_.writePos, bytes, count);
  job_.writePos += count;
  job_.received.store(received + count, std::memory_order_release);
  return DownloadStatus::None;
}

DownloadStatus MemoryDestination::finish() {
  platform::CriticalSectionLock hold(job_.lock);
  if (job_.bufferStart == nullptr) return DownloadStatus::OutOfMemory;
  *job_.writePos = '\0';
  return digestMatches() ? DownloadStatus::None : DownloadStatus::DigestMismatch;
}

}  // namespace net
