// One signature made outside the launcher, with the openssl command line
// (openssl dgst -sha256 -sign, DER converted to r||s), to check both
// verification backends and the list signature against a signer not ours.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

template <std::size_t N>
std::array<std::uint8_t, N> fromHex(std::string_view hex) {
  std::array<std::uint8_t, N> bytes{};
  for (std::size_t i = 0; i < N && 2 * i + 1 < hex.size(); ++i) {
    bytes[i] = static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(2 * i, 2)), nullptr, 16));
  }
  return bytes;
}

// The signer's public key (X||Y), and another P-256 key that signed nothing.
inline const auto kVectorKey = fromHex<64>(
    "71f6c03fc9432c6549fffa821da96911d121622711f34c3d645ad770cfc8261940b19992b4cfec66a9c9d194059251abbdbe6b78bdb7d060bd"
    "73418ff6147d3f");
inline const auto kOtherKey = fromHex<64>(
    "679e7cbc1a274d764cd9bdb22ebba05963d631f4db40b89ae8e4adecccf0bf779a4f290eb4ef62ce5bfc1295b18225a919b0ccc2844868dcf3"
    "7cdbee060403a1");
// A list, a message holding it (in the signature format of before epochs:
// the backends' tests need only bytes), its SHA-256, and r||s. The list
// signature's own vectors are in tests/update/list_signature_test.cpp.
inline constexpr std::string_view kVectorList = "Glimmerhold.exe 0123456789abcdef0123456789abcdef 10\n";
inline constexpr std::string_view kVectorMessage =
    "glimmerhold release 3\nGlimmerhold.exe 0123456789abcdef0123456789abcdef 10\n";
inline constexpr std::string_view kVectorMessageSha256 =
    "ed00e9592b5f88b124883103d6f859253ddb4594344ead1465ac184ddbffb980";
inline constexpr std::string_view kVectorSignatureHex =
    "9941c1156191523c4e603c2139ce3d5f2174268141cdecb15aea5838a3e984f5"
    "cef6a1e714a6b44ac298e2ef2894877b473a153e24f9a22aade94fd93c8e45d8";

// A launcher program as the build lays out its update keys
// (update/update_key.h), after `prefix`: what the publishing tool looks for.
template <typename Key>
std::string programCarrying(const std::string& prefix, const std::vector<Key>& keys, std::uint32_t firstEpoch = 1) {
  std::string program = prefix + "GlimmerholdKeys1";
  for (std::uint32_t value : {firstEpoch, static_cast<std::uint32_t>(keys.size())}) {
    program += static_cast<char>(value >> 8);
    program += static_cast<char>(value & 0xFF);
  }
  for (const Key& key : keys) program.append(reinterpret_cast<const char*>(key.data()), key.size());
  return program;
}

}  // namespace testsupport
