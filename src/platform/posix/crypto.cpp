// SHA-256 and ECDSA P-256 verification through OpenSSL's libcrypto.
#include "platform/crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <string>

namespace platform {

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* object) const { Free(object); }
};
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using KeyContext = std::unique_ptr<EVP_PKEY_CTX, Deleter<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using Key = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using Signature = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;

// The key as OpenSSL takes it: the curve's name and the encoded point.
Key importKey(const P256PublicKey& raw) {
  unsigned char point[65];
  point[0] = 0x04;  // uncompressed
  std::copy(raw.begin(), raw.end(), point + 1);
  char group[] = "prime256v1";
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point),
      OSSL_PARAM_construct_end(),
  };
  KeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* key = nullptr;
  if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
    return nullptr;
  }
  // fromdata takes the point as given; make sure it lies on the curve.
  Key imported(key);
  KeyContext check(EVP_PKEY_CTX_new_from_pkey(nullptr, imported.get(), nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return imported;
}

// r||s as the DER structure OpenSSL verifies.
std::basic_string<unsigned char> derSignature(const P256Signature& raw) {
  Signature signature(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(raw.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(raw.data() + 32, 32, nullptr);
  if (!signature || r == nullptr || s == nullptr || ECDSA_SIG_set0(signature.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return {};
  }
  int length = i2d_ECDSA_SIG(signature.get(), nullptr);
  if (length <= 0) return {};
  std::basic_string<unsigned char> der(static_cast<std::size_t>(length), 0);
  unsigned char* out = der.data();
  if (i2d_ECDSA_SIG(signature.get(), &out) != length) return {};
  return der;
}

}  // namespace

struct Sha256::State {
  DigestContext context{EVP_MD_CTX_new()};
  bool good = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
  state_->good = state_->context && EVP_DigestInit_ex(state_->context.get(), EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(const void* bytes, std::size_t count) {
  if (!state_ || !state_->good) return;
  state_->good = EVP_DigestUpdate(state_->context.get(), bytes, count) == 1;
}

bool Sha256::finish(Sha256Digest& digest) {
  if (!state_ || !state_->good) return false;
  unsigned int length = 0;
  bool finished = EVP_DigestFinal_ex(state_->context.get(), digest.data(), &length) == 1 && length == digest.size();
  state_.reset();
  return finished;
}

bool verifyP256Sha256(const P256PublicKey& key, const void* message, std::size_t length,
                      const P256Signature& signature) {
  Key imported = importKey(key);
  std::basic_string<unsigned char> der = derSignature(signature);
  if (!imported || der.empty()) return false;
  DigestContext context(EVP_MD_CTX_new());
  if (!context || EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, imported.get()) != 1) {
    return false;
  }
  return EVP_DigestVerify(context.get(), der.data(), der.size(), static_cast<const unsigned char*>(message), length) ==
         1;
}

}  // namespace platform
