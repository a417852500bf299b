// The signature file beside the server's list: any bytes the server sends.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "check.h"
#include "update/list_signature.h"

using update::formatListSignature;
using update::formatUtcTime;
using update::isValidChannel;
using update::isValidProduct;
using update::kMaxEpoch;
using update::kMaxRelease;
using update::kMaxSignatureBytes;
using update::ListSignature;
using update::parseListSignature;
using update::parseUtcTime;
using update::signedListMessage;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::optional<ListSignature> parsed = parseListSignature(text);
  if (!parsed) return 0;
  FUZZ_CHECK(size <= kMaxSignatureBytes);
  FUZZ_CHECK(parsed->release >= 1 && parsed->release <= kMaxRelease);
  FUZZ_CHECK(parsed->epoch >= 1 && parsed->epoch <= kMaxEpoch);
  FUZZ_CHECK(isValidProduct(parsed->product) && isValidChannel(parsed->channel));
  // No field can carry a line end into the signed message.
  FUZZ_CHECK(parsed->product.find('\n') == std::string::npos && parsed->channel.find('\n') == std::string::npos);
  if (parsed->expires != 0) FUZZ_CHECK(parseUtcTime(formatUtcTime(parsed->expires)) == parsed->expires);
  // Only the exact format: written again it is the input, byte for byte.
  const std::string written = formatListSignature(*parsed);
  FUZZ_CHECK(written == text);
  // The signed message is the file's lines before the signature's, between
  // a prefix of its own and the line that ends the fields before the list:
  // what the file says is what was signed, and nothing of it can pass for
  // the list.
  const std::string message = signedListMessage(*parsed, "");
  const std::string_view prefix = "glimmerhold signed list\n";
  const std::string_view listLine = "list\n";
  FUZZ_CHECK(message.starts_with(prefix) && message.ends_with(listLine));
  const std::string_view fields =
      std::string_view(message).substr(prefix.size(), message.size() - prefix.size() - listLine.size());
  FUZZ_CHECK(text.starts_with(fields) && text.substr(fields.size()).starts_with("ecdsa-p256-sha256 "));
  return 0;
}
