// A body kept in the job's own buffer, `bufferStart` to `writePos`: the
// version list and its signature.
#pragma once

#include <cstdint>

#include "net/body_destination.h"

namespace net {

class MemoryDestination final : public BodyDestination {
 public:
  using BodyDestination::BodyDestination;

  // The buffer of length + 1 bytes, allocated once; the job frees it.
  [[nodiscard]] DownloadStatus open(std::uint32_t length) override;
  [[nodiscard]] DownloadStatus append(const char* bytes, std::uint32_t count) override;
  // The 0 byte after the body.
  [[nodiscard]] DownloadStatus finish() override;
  // The buffer keeps what arrived: it is the job's.
  void abandon() override {}

 private:
  std::uint32_t capacity_ = 0;
};

}  // namespace net
