#include "net/body_destination.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace net {

namespace {

// Without an announced length a memory body starts with the room the
// default length asks for and doubles from there.
constexpr std::uint32_t kFirstGrowableBuffer = 32768 + 1;

}  // namespace

BodyDestination::BodyDestination(cStreamingFile& job) : job_(job) {}

BodyDestination::~BodyDestination() { abandon(); }

DownloadStatus BodyDestination::open(bool announced, std::uint32_t length) {
  platform::CriticalSectionLock hold(job_.lock);
  if (job_.inMemory) {
    growable_ = !announced;
    return reserveMemory(announced ? length : kFirstGrowableBuffer - 1);
  }
  sidePath_ = job_.localPath + kPartialSuffix;
  file_ = platform::File::open(sidePath_.c_str(), platform::File::Access::CreateAlways);
  if (!file_.isOpen()) return DestinationFailed;
  sideFileExists_ = true;
  return None;
}

// Room for `bodyBytes` and the 0 byte after them. The buffer is allocated
// once when the length is known; it grows only for a body of unknown length.
DownloadStatus BodyDestination::reserveMemory(std::uint32_t bodyBytes) {
  if (bodyBytes > kMaxMemoryBody) return BodyTooLarge;
  std::uint32_t needed = bodyBytes + 1;
  if (needed <= capacity_) return None;
  if (job_.bufferStart != nullptr && !growable_) return BodyOverlong;
  std::uint32_t size = needed;
  if (job_.bufferStart != nullptr) {
    size = std::max(needed, static_cast<std::uint32_t>(std::min<std::uint64_t>(std::uint64_t{capacity_} * 2, kMaxMemoryBody + 1)));
  }
  std::size_t held = static_cast<std::size_t>(job_.writePos - job_.bufferStart);
  // realloc keeps the old buffer, still the job's, when it fails.
  char* buffer = static_cast<char*>(std::realloc(job_.bufferStart, size));
  if (buffer == nullptr) return OutOfMemory;
  job_.bufferStart = buffer;
  job_.writePos = buffer + held;
  capacity_ = size;
  return None;
}

DownloadStatus BodyDestination::append(const char* bytes, std::uint32_t count) {
  platform::CriticalSectionLock hold(job_.lock);
  std::uint32_t received = job_.received.load(std::memory_order_relaxed);
  if (job_.inMemory) {
    // received never passes kMaxMemoryBody and count is one receive, so the
    // sum cannot wrap.
    DownloadStatus room = reserveMemory(received + count);
    if (room != None) return room;
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
    // An empty body still gets its buffer, so the result is "" rather than
    // nothing at all.
    if (job_.bufferStart == nullptr) {
      DownloadStatus room = reserveMemory(0);
      if (room != None) return room;
    }
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
