// One signature made outside the launcher, with the openssl command line
// (openssl dgst -sha256 -sign, DER converted to r||s), for checking both
// verification backends and the list signature against a signer that is
// not ours.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/crypto.h"

namespace testsupport {

// The signing key's public half, X||Y.
platform::P256PublicKey vectorKey();
// Another P-256 key, which did not sign anything here.
platform::P256PublicKey otherKey();
// The list that was signed as release 3, and the message that was signed.
inline constexpr std::string_view kVectorList = "Glimmerhold.exe 0123456789abcdef0123456789abcdef 10\n";
inline constexpr std::string_view kVectorMessage =
    "glimmerhold release 3\nGlimmerhold.exe 0123456789abcdef0123456789abcdef 10\n";
// The signature as r||s hex, and the message's SHA-256.
inline constexpr std::string_view kVectorSignatureHex =
    "9941c1156191523c4e603c2139ce3d5f2174268141cdecb15aea5838a3e984f5"
    "cef6a1e714a6b44ac298e2ef2894877b473a153e24f9a22aade94fd93c8e45d8";
inline constexpr std::string_view kVectorMessageSha256 =
    "ed00e9592b5f88b124883103d6f859253ddb4594344ead1465ac184ddbffb980";

template <std::size_t N>
std::array<std::uint8_t, N> fromHex(std::string_view hex) {
  std::array<std::uint8_t, N> bytes{};
  for (std::size_t i = 0; i < N && 2 * i + 1 < hex.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
  }
  return bytes;
}

}  // namespace testsupport
