#include "net/body_destination.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace net {

BodyDestination::BodyDestination(cStreamingFile& job) : job_(job) {}

BodyDestination::~BodyDestination() { abandon(); }

DownloadStatus BodyDestination::open(std::uint32_t length) {
  platform::CriticalSectionLock hold(job_.lock);
  if (job_.inMemory) {
    if (length > kMaxMemoryBody) return BodyTooLarge;
    job_.bufferStart = static_cast<char*>(std::malloc(std::size_t{length} + 1));
    if (job_.bufferStart == nullptr) return OutOfMemory;
    job_.writePos = job_.bufferStart;
    capacity_ = length;
    return None;
  }
  sidePath_ = partialFilePath(job_.localPath);
  // A side file of this name can only be one an earlier, killed download
  // left. The new one is made afresh: never written through a link, nor into
  // a file another process still holds.
  platform::deleteFile(sidePath_.c_str());
  file_ = platform::File::open(sidePath_.c_str(), platform::File::Access::CreateNew);
  if (!file_.isOpen()) return DestinationFailed;
  sideFileExists_ = true;
  return None;
}

DownloadStatus BodyDestination::append(const char* bytes, std::uint32_t count) {
  platform::CriticalSectionLock hold(job_.lock);
  std::uint32_t received = job_.received.load(std::memory_order_relaxed);
  if (job_.inMemory) {
    // The caller keeps the body within its expected length; this guards the
    // buffer all the same.
    if (count > capacity_ - received) return BodyOverlong;
    std::memcpy(job_.writePos, bytes, count);
    job_.writePos += count;
  } else {
    if (!file_.isOpen()) return DestinationFailed;
    for (std::uint32_t left = count; left > 0;) {
      std::uint32_t part = std::min<std::uint32_t>(left, static_cast<std::uint32_t>(pending_.size()) - pendingBytes_);
      std::memcpy(pending_.data() + pendingBytes_, bytes, part);
      pendingBytes_ += part;
      bytes += part;
      left -= part;
      if (pendingBytes_ == pending_.size() && !writePending()) return DestinationFailed;
    }
  }
  job_.received.store(received + count, std::memory_order_release);
  return None;
}

bool BodyDestination::writePending() {
  bool written = file_.write(pending_.data(), pendingBytes_);
  pendingBytes_ = 0;
  return written;
}

DownloadStatus BodyDestination::finish() {
  platform::CriticalSectionLock hold(job_.lock);
  if (job_.inMemory) {
    if (job_.bufferStart == nullptr) return OutOfMemory;
    *job_.writePos = '\0';
    return None;
  }
  if (!file_.isOpen()) return DestinationFailed;
  // On disk before the rename, or a crash could leave a replaced file that
  // is empty or short.
  bool stored = writePending() && file_.flush();
  stored = file_.close() && stored;
  if (!stored || !platform::replaceFile(sidePath_.c_str(), job_.localPath.c_str())) return DestinationFailed;
  sideFileExists_ = false;
  return None;
}

void BodyDestination::abandon() {
  if (job_.inMemory || !sideFileExists_) return;
  platform::CriticalSectionLock hold(job_.lock);
  file_.close();
  platform::deleteFile(sidePath_.c_str());
  sideFileExists_ = false;
}

}  // namespace net
