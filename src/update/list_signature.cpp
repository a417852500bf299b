#include "update/list_signature.h"

namespace update {

namespace {

constexpr std::string_view kReleaseField = "release ";
constexpr std::string_view kSignatureField = "ecdsa-p256-sha256 ";
constexpr std::string_view kMessagePrefix = "glimmerhold release ";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Takes `field` and the line it starts off the front of `text`: the value
// between them and the "\n", which must be there.
std::optional<std::string_view> takeLine(std::string_view& text, std::string_view field) {
  if (!text.starts_with(field)) return std::nullopt;
  std::size_t end = text.find('\n');
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view value = text.substr(field.size(), end - field.size());
  text.remove_prefix(end + 1);
  return value;
}

// 1 to kMaxRelease in plain decimal: no sign, blank or leading zero.
std::optional<std::uint32_t> parseRelease(std::string_view digits) {
  if (digits.empty() || digits.size() > 9 || digits[0] == '0') return std::nullopt;
  std::uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value > kMaxRelease) return std::nullopt;
  return value;
}

void appendHex(std::string& text, const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < count; ++i) {
    text += kHex[bytes[i] >> 4];
    text += kHex[bytes[i] & 0x0F];
  }
}

}  // namespace

std::optional<ListSignature> parseListSignature(std::string_view text) {
  if (text.size() > kMaxSignatureBytes) return std::nullopt;
  std::optional<std::string_view> release = takeLine(text, kReleaseField);
  if (!release) return std::nullopt;
  std::optional<std::string_view> hex = takeLine(text, kSignatureField);
  if (!hex || !text.empty()) return std::nullopt;
  ListSignature parsed;
  std::optional<std::uint32_t> number = parseRelease(*release);
  if (!number || hex->size() != parsed.signature.size() * 2) return std::nullopt;
  parsed.release = *number;
  for (std::size_t i = 0; i < parsed.signature.size(); ++i) {
    int high = hexValue((*hex)[2 * i]);
    int low = hexValue((*hex)[2 * i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    parsed.signature[i] = static_cast<std::uint8_t>(high * 16 + low);
  }
  return parsed;
}

std::string formatListSignature(const ListSignature& signature) {
  std::string text = std::string(kReleaseField) + std::to_string(signature.release) + "\n";
  text += kSignatureField;
  appendHex(text, signature.signature.data(), signature.signature.size());
  return text + "\n";
}

std::string signedListMessage(std::uint32_t release, std::string_view list) {
  std::string message = std::string(kMessagePrefix) + std::to_string(release) + "\n";
  message.append(list);
  return message;
}

std::int32_t verifyListSignature(const std::vector<platform::P256PublicKey>& keys, std::string_view list,
                                 std::string_view signatureFile, std::uint32_t installedRelease,
                                 std::uint32_t* release) {
  std::optional<ListSignature> signature = parseListSignature(signatureFile);
  if (!signature) return statusCode(UpdateRefusal::SignatureMalformed);
  const std::string message = signedListMessage(signature->release, list);
  bool verified = false;
  for (const platform::P256PublicKey& key : keys) {
    verified = verified || platform::verifyP256Sha256(key, message.data(), message.size(), signature->signature);
  }
  if (!verified) return statusCode(UpdateRefusal::SignatureInvalid);
  // Judged only once the number is known to be the studio's.
  if (signature->release < installedRelease) return statusCode(UpdateRefusal::ReleaseRolledBack);
  *release = signature->release;
  return 0;
}

}  // namespace update
