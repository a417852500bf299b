// Reading the header block of an HTTP/1.0 response: where it ends, whether
// the status is "200 OK", and the body length it announces.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The six bytes at offsets 9 to 14 of the block read "200 OK", case-blind.
// A block shorter than that fails.
bool statusIsOk(std::string_view headerBlock);

struct ContentLength {
  enum class Kind {
    // No "Content-Length: " in the block, or no number after it: the body
    // runs until the server closes the connection.
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
