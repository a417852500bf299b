// A response header arriving in pieces: the input is the stream and the
// places where the receives cut it. However it is cut, the block, the body's
// first bytes, the status test and the announced length come out as they
// would from the whole stream at once.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "check.h"
#include "net/response_header.h"

namespace {

using net::ContentLength;
using net::HeaderCollector;

constexpr std::size_t kReceiveSize = 2048;

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = lower(c);
  return out;
}

// The length as the C library reads "%d" after the header's name, through
// strtol on a copy.
ContentLength lengthByLibrary(std::string_view block) {
  ContentLength result;
  std::string folded = lowered(block);
  std::size_t at = folded.find("\r\ncontent-length: ");
  if (at == std::string::npos) return result;
  std::string rest(block.substr(at + 18));
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(rest.c_str(), &end, 10);
  if (end == rest.c_str()) return result;
  if (value > INT32_MAX) {
    result.kind = ContentLength::Kind::OutOfRange;
    return result;
  }
  result.kind = ContentLength::Kind::Announced;
  result.value = value < INT32_MIN ? INT32_MIN : static_cast<std::int32_t>(value);
  return result;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  // Small limits too, so that refusing a long block is reached.
  const std::size_t maxBlock = input.ConsumeBool() ? 64 * 1024 : input.ConsumeIntegralInRange<std::size_t>(1, 512);
  std::vector<std::string> chunks;
  while (input.remaining_bytes() > 0) {
    std::size_t length = input.ConsumeIntegralInRange<std::size_t>(1, kReceiveSize);
    std::string chunk = input.ConsumeBytesAsString(length);
    if (chunk.empty()) break;
    chunks.push_back(std::move(chunk));
  }

  HeaderCollector collector(maxBlock, kReceiveSize);
  std::string fed;
  HeaderCollector::Progress progress = HeaderCollector::Progress::NeedMore;
  for (const std::string& chunk : chunks) {
    progress = collector.add(chunk);
    fed += chunk;
    if (progress != HeaderCollector::Progress::NeedMore) break;
  }
  FUZZ_CHECK(collector.progress() == progress);

  std::string whole;
  for (const std::string& chunk : chunks) whole += chunk;
  const std::size_t blankLine = whole.find("\r\n\r\n");
  if (blankLine != std::string::npos && blankLine + 4 <= maxBlock) {
    FUZZ_CHECK(progress == HeaderCollector::Progress::Complete);
    FUZZ_CHECK(collector.block() == std::string_view(whole).substr(0, blankLine + 4));
    FUZZ_CHECK(collector.bodyBytes() == std::string_view(fed).substr(blankLine + 4));
    // Once complete, later receives belong to the body, not the collector.
    FUZZ_CHECK(collector.add("\r\n\r\nmore") == HeaderCollector::Progress::Complete);
    FUZZ_CHECK(collector.block().size() == blankLine + 4);
  } else if (blankLine != std::string::npos || whole.size() >= maxBlock) {
    FUZZ_CHECK(progress == HeaderCollector::Progress::TooLong);
    FUZZ_CHECK(collector.block().empty() && collector.bodyBytes().empty());
  } else {
    FUZZ_CHECK(progress == HeaderCollector::Progress::NeedMore);
    FUZZ_CHECK(collector.block().empty() && collector.bodyBytes().empty());
  }

  // The block's reading, against the C library's, on whatever block the
  // stream holds.
  std::string_view block = whole;
  if (blankLine != std::string::npos) block = block.substr(0, blankLine + 4);
  FUZZ_CHECK(net::statusIsOk(block) == (block.size() >= 15 && lowered(block.substr(9, 6)) == "200 ok"));
  ContentLength length = net::contentLength(block);
  ContentLength expected = lengthByLibrary(block);
  FUZZ_CHECK(length.kind == expected.kind);
  if (length.kind == ContentLength::Kind::Announced) FUZZ_CHECK(length.value == expected.value);
  return 0;
}
