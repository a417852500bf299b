#include "net/response_header.h"

#include <algorithm>
#include <limits>

namespace net {

namespace {

// ASCII only: the bytes are protocol text, whatever the user's locale says.
char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
  }
  return true;
}

// The white space "%d" skips.
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

std::size_t findNoCase(std::string_view text, std::string_view pattern) {
  if (pattern.size() > text.size()) return kNotFound;
  for (std::size_t start = 0; start + pattern.size() <= text.size(); ++start) {
    if (equalNoCase(text.substr(start, pattern.size()), pattern)) return start;
  }
  return kNotFound;
}

std::size_t headerBlockLength(std::string_view received) {
  std::size_t end = received.find("\r\n\r\n");
  return end == std::string_view::npos ? kNotFound : end + 4;
}

HeaderCollector::HeaderCollector(std::size_t maxBlockBytes, std::size_t maxChunkBytes) : maxBlockBytes_(maxBlockBytes) {
  received_.reserve(maxBlockBytes + maxChunkBytes);
}

HeaderCollector::Progress HeaderCollector::add(std::string_view chunk) {
  if (progress_ != Progress::NeedMore) return progress_;
  // The blank line may have begun in the bytes already held: look again from
  // three bytes before the new ones, not from the start.
  std::size_t searchFrom = received_.size() < 3 ? 0 : received_.size() - 3;
  received_.append(chunk);
  std::size_t end = headerBlockLength(std::string_view(received_).substr(searchFrom));
  if (end == kNotFound) {
    if (received_.size() >= maxBlockBytes_) progress_ = Progress::TooLong;
    return progress_;
  }
  end += searchFrom;
  if (end > maxBlockBytes_) {
    progress_ = Progress::TooLong;
  } else {
    blockEnd_ = end;
    progress_ = Progress::Complete;
  }
  return progress_;
}

std::string_view HeaderCollector::block() const {
  if (progress_ != Progress::Complete) return {};
  return std::string_view(received_).substr(0, blockEnd_);
}

std::string_view HeaderCollector::bodyBytes() const {
  if (progress_ != Progress::Complete) return {};
  return std::string_view(received_).substr(blockEnd_);
}

bool statusIsOk(std::string_view headerBlock) {
  return headerBlock.size() >= 15 && equalNoCase(headerBlock.substr(9, 6), "200 OK");
}

ContentLength contentLength(std::string_view headerBlock) {
  // A header's name starts its line: "X-Original-Content-Length: " is some
  // other header and must not set the body's length.
  constexpr std::string_view kName = "\r\nContent-Length: ";
  ContentLength result;
  std::size_t at = findNoCase(headerBlock, kName);
  if (at == kNotFound) return result;
  std::string_view rest = headerBlock.substr(at + kName.size());
  std::size_t i = 0;
  while (i < rest.size() && isSpace(rest[i])) ++i;
  bool negative = false;
  if (i < rest.size() && (rest[i] == '+' || rest[i] == '-')) negative = rest[i++] == '-';
  if (i >= rest.size() || rest[i] < '0' || rest[i] > '9') return result;
  // Digits beyond 2^31 change nothing: any negative length is refused alike,
  // so a huge one reads as the lowest, and a huge positive one has no value.
  constexpr std::int64_t kMagnitudeLimit = std::int64_t{1} << 31;
  std::int64_t magnitude = 0;
  for (; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
    magnitude = std::min(magnitude * 10 + (rest[i] - '0'), kMagnitudeLimit);
  }
  if (!negative && magnitude > std::numeric_limits<std::int32_t>::max()) {
    result.kind = ContentLength::Kind::OutOfRange;
    return result;
  }
  result.kind = ContentLength::Kind::Announced;
  result.value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
  return result;
}

}  // namespace net
