#include "net/body_destination.h"

namespace net {

namespace {

// A digest shorter than this proves nothing: it is refused, not compared.
constexpr std::size_t kMinDigestDigits = 32;

// True when `expected` is the leading lower-case hex digits of `digest`.
bool digestStartsWith(const platform::Sha256Digest& digest, const std::string& expected) {
  static constexpr char kHex[] = "0123456789abcdef";
  if (expected.size() < kMinDigestDigits || expected.size() > digest.size() * 2) return false;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    std::uint8_t byte = digest[i / 2];
    if (expected[i] != kHex[i % 2 == 0 ? byte >> 4 : byte & 0x0F]) return false;
  }
  return true;
}

}  // namespace

void BodyDestination::startDigest() {
  if (!job_.expectedDigest.empty()) digest_.emplace();
}

bool BodyDestination::digestMatches() {
  if (!digest_) return true;
  platform::Sha256Digest digest;
  bool hashed = digest_->finish(digest);
  digest_.reset();
  return hashed && digestStartsWith(digest, job_.expectedDigest);
}

}  // namespace net
