// The signature file beside the server's list: any bytes the server sends.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "update/list_signature.h"

using update::formatListSignature;
using update::kMaxRelease;
using update::ListSignature;
using update::parseListSignature;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<ListSignature> parsed = parseListSignature(text);
  if (!parsed) return 0;
  FUZZ_CHECK(parsed->release >= 1 && parsed->release <= kMaxRelease);
  // Only the exact format: the same length as written again, which reads
  // back the same.
  const std::string written = formatListSignature(*parsed);
  FUZZ_CHECK(written.size() == size);
  std::optional<ListSignature> again = parseListSignature(written);
  FUZZ_CHECK(again && again->release == parsed->release && again->signature == parsed->signature);
  return 0;
}
