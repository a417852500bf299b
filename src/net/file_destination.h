// A body written to a side file beside localPath (partialFilePath), made
// afresh, that takes localPath's place only once complete.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "net/body_destination.h"
#include "platform/files.h"

namespace net {

class FileDestination final : public BodyDestination {
 public:
  using BodyDestination::BodyDestination;
  // An unfinished side file is closed and removed: the previous file at
  // localPath stays as it was.
  ~FileDestination() override { abandon(); }
  FileDestination(const FileDestination&) = delete;
  FileDestination& operator=(const FileDestination&) = delete;
  FileDestination(FileDestination&&) = delete;
  FileDestination& operator=(FileDestination&&) = delete;

  // The side file, created new (CreateNew) after removing any left by an
  // earlier, killed download.
  [[nodiscard]] DownloadStatus open(std::uint32_t length) override;
  [[nodiscard]] DownloadStatus append(const char* bytes, std::uint32_t count) override;
  // The buffered rest written, the file flushed to disk, closed, its digest
  // checked when the job names one, and moved over localPath.
  [[nodiscard]] DownloadStatus finish() override;
  // The side file closed and removed.
  void abandon() override;

 private:
  [[nodiscard]] bool writePending();

  std::string sidePath_;
  platform::File file_;
  bool sideFileExists_ = false;
  // Written in blocks of this size rather than one write per receive.
  std::array<char, std::size_t{64} * 1024> pending_{};
  std::uint32_t pendingBytes_ = 0;
};

}  // namespace net
