// Digests and signature checks from the system's own cryptography, shaped
// after CNG: BCryptCreateHash / BCryptHashData / BCryptFinishHash with
// BCRYPT_SHA256_ALGORITHM, and BCryptImportKeyPair (BCRYPT_ECCPUBLIC_BLOB,
// BCRYPT_ECDSA_PUBLIC_P256_MAGIC) / BCryptVerifySignature with
// BCRYPT_ECDSA_P256_ALGORITHM. None of it is implemented here: the POSIX
// backend calls OpenSSL's libcrypto, the Windows one bcrypt.dll.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace platform {

using Sha256Digest = std::array<std::uint8_t, 32>;
// An uncompressed P-256 point without its 0x04 prefix: X then Y, each 32
// bytes big-endian (the key part of a BCRYPT_ECCPUBLIC_BLOB).
using P256PublicKey = std::array<std::uint8_t, 64>;
// r then s, each 32 bytes big-endian (what BCryptVerifySignature takes).
using P256Signature = std::array<std::uint8_t, 64>;

// An incremental SHA-256: bytes in as they come, the digest at the end. A
// hash that could not be started, or whose update failed, finishes false.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(Sha256&&) noexcept;
  Sha256& operator=(Sha256&&) noexcept;
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void update(const void* bytes, std::size_t count);
  // The digest of everything given; the hash cannot be used afterwards.
  bool finish(Sha256Digest& digest);

  struct State;

 private:
  std::unique_ptr<State> state_;
};

// True only when `signature` is a valid ECDSA P-256 signature of the
// SHA-256 of `message` under `key`. A key that is not a point of the curve
// verifies nothing.
bool verifyP256Sha256(const P256PublicKey& key, const void* message, std::size_t length,
                      const P256Signature& signature);

}  // namespace platform
