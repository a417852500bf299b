// Where a job's body goes while it arrives: the job's own memory buffer
// (MemoryDestination) or a side file beside localPath that takes localPath's
// place once complete (FileDestination). The worker picks one when the job
// starts. Every step holds the job's lock, as the one step of storing it
// stands for.
#pragma once

#include <cstdint>
#include <optional>

#include "net/streaming_file.h"
#include "platform/crypto.h"

namespace net {

class BodyDestination {
 public:
  explicit BodyDestination(cStreamingFile& job) : job_(job) {}
  virtual ~BodyDestination() = default;
  BodyDestination(const BodyDestination&) = delete;
  BodyDestination& operator=(const BodyDestination&) = delete;

  // Makes room for a body of `length` bytes.
  [[nodiscard]] virtual DownloadStatus open(std::uint32_t length) = 0;
  // Stores the bytes and adds them to the job's `received`.
  [[nodiscard]] virtual DownloadStatus append(const char* bytes, std::uint32_t count) = 0;
  // The body complete: made final, its digest checked when the job names one.
  [[nodiscard]] virtual DownloadStatus finish() = 0;
  // Gives up: nothing unfinished takes the place of what was there.
  virtual void abandon() = 0;

 protected:
  // Starts the body's SHA-256 when the job expects a digest; the caller holds
  // the lock.
  void startDigest();
  // True when the job expects no digest, or when the body's is the one it
  // names. Ends the digest.
  [[nodiscard]] bool digestMatches();

  cStreamingFile& job_;
  // Fed in the same pass as the store, when the job expects a digest.
  std::optional<platform::Sha256> digest_;
};

}  // namespace net
