// SHA-256 and ECDSA P-256 verification through the system's CNG
// (bcrypt.dll).
#include "platform/crypto.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
// clang-format on

#include <cstring>
#include <vector>

namespace platform {

namespace {

bool succeeded(NTSTATUS status) { return status >= 0; }

class Algorithm {
 public:
  explicit Algorithm(const wchar_t* id) {
    if (!succeeded(BCryptOpenAlgorithmProvider(&handle_, id, nullptr, 0))) handle_ = nullptr;
  }
  ~Algorithm() {
    if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
  }
  Algorithm(const Algorithm&) = delete;
  Algorithm& operator=(const Algorithm&) = delete;
  BCRYPT_ALG_HANDLE get() const { return handle_; }

 private:
  BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class KeyHandle {
 public:
  KeyHandle() = default;
  ~KeyHandle() {
    if (handle_ != nullptr) BCryptDestroyKey(handle_);
  }
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;
  BCRYPT_KEY_HANDLE* out() { return &handle_; }
  BCRYPT_KEY_HANDLE get() const { return handle_; }

 private:
  BCRYPT_KEY_HANDLE handle_ = nullptr;
};

}  // namespace

struct Sha256::State {
  Algorithm algorithm{BCRYPT_SHA256_ALGORITHM};
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool good = false;

  State() {
    good = algorithm.get() != nullptr && succeeded(BCryptCreateHash(algorithm.get(), &hash, nullptr, 0, nullptr, 0, 0));
  }
  ~State() {
    if (hash != nullptr) BCryptDestroyHash(hash);
  }
  State(const State&) = delete;
  State& operator=(const State&) = delete;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(const void* bytes, std::size_t count) {
  // BCryptHashData takes a 32-bit length and a non-const pointer it does not
  // write through.
  auto* next = static_cast<UCHAR*>(const_cast<void*>(bytes));
  while (state_ && state_->good && count > 0) {
    ULONG part = count > 0x40000000 ? 0x40000000 : static_cast<ULONG>(count);
    state_->good = succeeded(BCryptHashData(state_->hash, next, part, 0));
    next += part;
    count -= part;
  }
}

bool Sha256::finish(Sha256Digest& digest) {
  if (!state_ || !state_->good) return false;
  bool finished = succeeded(BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
  state_.reset();
  return finished;
}

bool verifyP256Sha256(const P256PublicKey& key, const void* message, std::size_t length,
                      const P256Signature& signature) {
  Sha256 hash;
  hash.update(message, length);
  Sha256Digest digest;
  if (!hash.finish(digest)) return false;

  Algorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  if (ecdsa.get() == nullptr) return false;
  std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + key.size());
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  std::memcpy(blob.data(), &header, sizeof header);
  std::memcpy(blob.data() + sizeof header, key.data(), key.size());
  KeyHandle imported;
  if (!succeeded(BCryptImportKeyPair(ecdsa.get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, imported.out(), blob.data(),
                                     static_cast<ULONG>(blob.size()), 0))) {
    return false;
  }
  P256Signature copy = signature;
  return BCryptVerifySignature(imported.get(), nullptr, digest.data(), static_cast<ULONG>(digest.size()), copy.data(),
                               static_cast<ULONG>(copy.size()), 0) == 0;
}

}  // namespace platform
