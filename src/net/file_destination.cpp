#include "net/file_destination.h"

#include <algorithm>
#include <cstring>

namespace net {

DownloadStatus FileDestination::open(std::uint32_t) {
  platform::CriticalSectionLock hold(job_.lock);
  startDigest();
  sidePath_ = partialFilePath(job_.localPath);
  // A side file of this name can only be one an earlier, killed download
  // left. The new one is made afresh: never written through a link, nor into
  // a file another process still holds.
  platform::deleteFile(sidePath_.c_str());
  file_ = platform::File::open(sidePath_.c_str(), platform::File::Access::CreateNew);
  if (!file_.isOpen()) return DownloadStatus::DestinationFailed;
  sideFileExists_ = true;
  return DownloadStatus::None;
}

DownloadStatus FileDestination::append(const char* bytes, std::uint32_t count) {
  platform::CriticalSectionLock hold(job_.lock);
  std::uint32_t received = job_.received.load(std::memory_order_relaxed);
  if (!file_.isOpen()) return DownloadStatus::DestinationFailed;
  for (std::uint32_t left = count; left > 0;) {
    std::uint32_t part = std::min<std::uint32_t>(left, static_cast<std::uint32_t>(pending_.size()) - pendingBytes_);
    std::memcpy(pending_.data() + pendingBytes_, bytes, part);
    pendingBytes_ += part;
    bytes += part;
    left -= part;
    if (pendingBytes_ == pending_.size() && !writePending()) return DownloadStatus::DestinationFailed;
  }
  job_.received.store(received + count, std::memory_order_release);
  return DownloadStatus::None;
}

bool FileDestination::writePending() {
  // Hashed in the write's blocks rather than per receive: one call per
  // 64 KiB costs less than 32 calls of 2 KiB.
  if (digest_) digest_->update(pending_.data(), pendingBytes_);
  bool written = file_.write(pending_.data(), pendingBytes_);
  pendingBytes_ = 0;
  return written;
}

DownloadStatus FileDestination::finish() {
  platform::CriticalSectionLock hold(job_.lock);
  if (!file_.isOpen()) return DownloadStatus::DestinationFailed;
  // On disk before the rename, or a crash could leave a replaced file that
  // is empty or short.
  bool stored = writePending() && file_.flush();
  stored = file_.close() && stored;
  if (!stored) return DownloadStatus::DestinationFailed;
  // Checked before the file takes anything's place: a changed file never
  // replaces the installed one (abandon removes it).
  if (!digestMatches()) return DownloadStatus::DigestMismatch;
  if (!platform::replaceFile(sidePath_.c_str(), job_.localPath.c_str())) return DownloadStatus::DestinationFailed;
  sideFileExists_ = false;
  return DownloadStatus::None;
}

void FileDestination::abandon() {
  if (!sideFileExists_) return;
  platform::CriticalSectionLock hold(job_.lock);
  file_.close();
  platform::deleteFile(sidePath_.c_str());
  sideFileExists_ = false;
}

}  // namespace net
