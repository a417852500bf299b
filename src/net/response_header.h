// Reading the header block of an HTTP/1.0 response: where it ends, whether
// the status is "200 OK", and the body length it announces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace net {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// The first position at which `pattern` occurs in `text`, comparing ASCII
// letters without regard to case; kNotFound when it does not occur. An empty
// pattern is found at 0.
std::size_t findNoCase(std::string_view text, std::string_view pattern);

// The length of the header block (status line, header lines and the blank
// line) at the start of `received`, or kNotFound when its blank line has not
// arrived yet.
std::size_t headerBlockLength(std::string_view received);

// Gathers a response's header block across receives: the block may arrive
// in pieces, and the bytes after it in the receive that completes it are the
// body's first bytes.
class HeaderCollector {
 public:
  enum class Progress {
    NeedMore,  // the blank line has not arrived yet
    Complete,  // block() and bodyBytes() are known
    TooLong,   // no blank line within `maxBlockBytes`
  };

  // Room for the longest block plus one receive is set aside at once, so
  // that adding a receive never reallocates.
  HeaderCollector(std::size_t maxBlockBytes, std::size_t maxChunkBytes);

  // Adds one receive's bytes. Once the outcome is Complete or TooLong it
  // stays so and further bytes are not taken.
  Progress add(std::string_view chunk);

  Progress progress() const { return progress_; }
  // When Complete: the header block, blank line included, and the bytes that
  // came after it.
  std::string_view block() const;
  std::string_view bodyBytes() const;

 private:
  std::string received_;
  std::size_t maxBlockBytes_;
  std::size_t blockEnd_ = 0;
  Progress progress_ = Progress::NeedMore;
};

// The six bytes at offsets 9 to 14 of the block read "200 OK", case-blind.
// A block shorter than that fails.
bool statusIsOk(std::string_view headerBlock);

struct ContentLength {
  enum class Kind {
    // No "Content-Length: " in the block, or no number after it: the body
    // must be exactly 32768 bytes.
    Unannounced,
    // A number; it may be negative (one below the 32-bit range reads as the
    // lowest 32-bit value).
    Announced,
    // A positive number beyond the signed 32-bit range.
    OutOfRange,
  };
  Kind kind = Kind::Unannounced;
  std::int32_t value = 0;
};

// The first header line of the block that starts with "Content-Length: "
// (case-blind, the blank included), its number read the way "%d" reads one:
// white space, an optional sign, decimal digits.
ContentLength contentLength(std::string_view headerBlock);

}  // namespace net
