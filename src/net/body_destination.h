// Where a job's body goes while it arrives: the job's own memory buffer, or a
// side file beside localPath that takes localPath's place once complete.
// Every step holds the job's lock, as the one step of storing it stands for.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "net/streaming_file.h"
#include "platform/crypto.h"
#include "platform/files.h"

namespace net {

class BodyDestination {
 public:
  explicit BodyDestination(cStreamingFile& job);
  // An unfinished side file is closed and removed: the previous file at
  // localPath stays as it was.
  ~BodyDestination();
  BodyDestination(const BodyDestination&) = delete;
  BodyDestination& operator=(const BodyDestination&) = delete;

  // Makes room for a body of `length` bytes. Memory: the buffer of length +
  // 1 bytes, allocated once. File: the side file, created or truncated.
  DownloadStatus open(std::uint32_t length);
  // Stores the bytes and adds them to the job's `received`.
  DownloadStatus append(const char* bytes, std::uint32_t count);
  // Memory: the 0 byte after the body. File: the buffered rest written, the
  // file flushed to disk, closed, its digest checked when the job names one,
  // and moved over localPath.
  DownloadStatus finish();
  // Gives up: a side file is closed and removed; a memory buffer keeps what
  // arrived (it is the job's).
  void abandon();

 private:
  bool writePending();
  bool digestMatches();

  cStreamingFile& job_;
  std::uint32_t capacity_ = 0;
  std::string sidePath_;
  platform::File file_;
  bool sideFileExists_ = false;
  // File mode writes in blocks of this size rather than one write per
  // receive.
  std::array<char, 64 * 1024> pending_;
  std::uint32_t pendingBytes_ = 0;
  // The body's SHA-256, fed in the same pass as the store, when the job
  // expects a digest.
  std::optional<platform::Sha256> digest_;
};

}  // namespace net
