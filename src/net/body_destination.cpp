#include "net/body_destination.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace net {

namespace {

// A digest shorter than this proves nothing: it is refused, not compared.
constexpr std::size_t kMinDigestDigits = 32;

// True when `expected` is the leading lower-case hex digits of `digest`.
bool digestStartsWith(const platform::Sha256Digest& digest, const std::string& expected) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (expected.size() < kMinDigestDigits || expected.size() > digest.size() * 2) return false;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    std::uint8_t byte = digest[i / 2];
    if (expected[i] != kHex[i % 2 == 0 ? byte >> 4 : byte & 0x0F]) return false;
  }
  return true;
}

}  // namespace

BodyDestination::BodyDestination(cStreamingFile& job) : job_(job) {}

BodyDestination::~BodyDestination() { abandon(); }

DownloadStatus BodyDestination::open(std::uint32_t length) {
  platform::CriticalSectionLock hold(job_.lock);
  if (!job_.expectedDigest.empty()) digest_.emplace();
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
    if (digest_) digest_->update(bytes, count);
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
  // Hashed in the write's blocks rather than per receive: one call per
  // 64 KiB costs less than 32 calls of 2 KiB.
  if (digest_) digest_->update(pending_.data(), pendingBytes_);
  bool written = file_.write(pending_.data(), pendingBytes_);
  pendingBytes_ = 0;
  return written;
}

DownloadStatus BodyDestination::finish() {
  platform::CriticalSectionLock hold(job_.lock);
  if (job_.inMemory) {
    if (job_.bufferStart == nullptr) return OutOfMemory;
    *job_.writePos = '\0';
    return digestMatches() ? None : DigestMismatch;
  }
  if (!file_.isOpen()) return DestinationFailed;
  // On disk before the rename, or a crash could leave a replaced file that
  // is empty or short.
  bool stored = writePending() && file_.flush();
  stored = file_.close() && stored;
  if (!stored) return DestinationFailed;
  // Checked before the file takes anything's place: a changed file never
  // replaces the installed one (abandon removes it).
  if (!digestMatches()) return DigestMismatch;
  if (!platform::replaceFile(sidePath_.c_str(), job_.localPath.c_str())) return DestinationFailed;
  sideFileExists_ = false;
  return None;
}

bool BodyDestination::digestMatches() {
  if (!digest_) return true;
  platform::Sha256Digest digest;
  bool hashed = digest_->finish(digest);
  digest_.reset();
  return hashed && digestStartsWith(digest, job_.expectedDigest);
}

void BodyDestination::abandon() {
  if (job_.inMemory || !sideFileExists_) return;
  platform::CriticalSectionLock hold(job_.lock);
  file_.close();
  platform::deleteFile(sidePath_.c_str());
  sideFileExists_ = false;
}

}  // namespace net
