#include "signing.h"

#include <fcntl.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>

#include "platform/files.h"
#include "update/list_signature.h"

using update::formatListSignature;
using update::kMaxSignatureBytes;
using update::ListSignature;
using update::parseListSignature;
using update::signedListMessage;

namespace publish {

namespace fs = std::filesystem;

namespace {

template <typename T, void (*Free)(T*)>
struct Deleter {
  void operator()(T* object) const { Free(object); }
};
using PrivateKey = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using DigestContext = std::unique_ptr<EVP_MD_CTX, Deleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using Signature = std::unique_ptr<ECDSA_SIG, Deleter<ECDSA_SIG, ECDSA_SIG_free>>;

struct FileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using CFile = std::unique_ptr<std::FILE, FileClose>;

std::string opensslError() {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return "unknown error";
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

bool isP256(EVP_PKEY* key) {
  char group[64] = {};
  std::size_t length = 0;
  return EVP_PKEY_is_a(key, "EC") == 1 && EVP_PKEY_get_group_name(key, group, sizeof group, &length) == 1 &&
         std::strcmp(group, "prime256v1") == 0;
}

// A new file only, with these permissions: never follows or replaces what
// is there.
CFile createNew(const fs::path& path, mode_t mode, std::string& error) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (fd < 0) {
    error = "cannot create \"" + path.string() + "\": " + std::strerror(errno);
    return nullptr;
  }
  CFile file(::fdopen(fd, "w"));
  if (!file) ::close(fd);
  return file;
}

bool finishFile(CFile file, const fs::path& path, std::string& error) {
  bool good = std::fflush(file.get()) == 0 && ::fsync(::fileno(file.get())) == 0;
  good = std::fclose(file.release()) == 0 && good;
  if (!good) error = "cannot write \"" + path.string() + "\": " + std::strerror(errno);
  return good;
}

}  // namespace

struct SigningKey::Key {
  PrivateKey pkey;
};

SigningKey::SigningKey(std::unique_ptr<Key> key) : key_(std::move(key)) {}
SigningKey::~SigningKey() = default;

bool makeKeyPair(const fs::path& name, std::string& error) {
  const fs::path privatePath = name.string() + ".pem";
  const fs::path publicPath = name.string() + ".pub.pem";
  std::error_code code;
  if (fs::exists(privatePath, code) || fs::exists(publicPath, code)) {
    error = "\"" + privatePath.string() + "\" or \"" + publicPath.string() +
            "\" exists already; keys are never overwritten";
    return false;
  }
  PrivateKey key(EVP_EC_gen("P-256"));
  if (!key) {
    error = "cannot make a key: " + opensslError();
    return false;
  }
  CFile privateFile = createNew(privatePath, 0600, error);
  if (!privateFile) return false;
  if (PEM_write_PrivateKey(privateFile.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    error = "cannot write the private key: " + opensslError();
    return false;
  }
  if (!finishFile(std::move(privateFile), privatePath, error)) return false;
  CFile publicFile = createNew(publicPath, 0644, error);
  if (!publicFile) return false;
  if (PEM_write_PUBKEY(publicFile.get(), key.get()) != 1) {
    error = "cannot write the public key: " + opensslError();
    return false;
  }
  return finishFile(std::move(publicFile), publicPath, error);
}

std::unique_ptr<SigningKey> SigningKey::load(const fs::path& pem, std::string& error) {
  CFile file(std::fopen(pem.c_str(), "r"));
  if (!file) {
    error = "cannot read the signing key \"" + pem.string() + "\": " + std::strerror(errno);
    return nullptr;
  }
  PrivateKey key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  if (!key) {
    error = "\"" + pem.string() + "\" is not a PEM private key: " + opensslError();
    return nullptr;
  }
  if (!isP256(key.get())) {
    error = "\"" + pem.string() + "\" is not an ECDSA P-256 key (make one with --new-key)";
    return nullptr;
  }
  auto held = std::make_unique<Key>();
  held->pkey = std::move(key);
  return std::unique_ptr<SigningKey>(new SigningKey(std::move(held)));
}

bool SigningKey::sign(std::string_view message, platform::P256Signature& signature, std::string& error) const {
  DigestContext context(EVP_MD_CTX_new());
  std::size_t length = 0;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key_->pkey.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &length, reinterpret_cast<const unsigned char*>(message.data()),
                     message.size()) != 1) {
    error = "cannot sign: " + opensslError();
    return false;
  }
  std::basic_string<unsigned char> der(length, 0);
  if (EVP_DigestSign(context.get(), der.data(), &length, reinterpret_cast<const unsigned char*>(message.data()),
                     message.size()) != 1) {
    error = "cannot sign: " + opensslError();
    return false;
  }
  const unsigned char* in = der.data();
  Signature parsed(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(length)));
  const BIGNUM* r = nullptr;
  const BIGNUM* s = nullptr;
  if (parsed) ECDSA_SIG_get0(parsed.get(), &r, &s);
  if (r == nullptr || s == nullptr || BN_bn2binpad(r, signature.data(), 32) != 32 ||
      BN_bn2binpad(s, signature.data() + 32, 32) != 32) {
    error = "cannot read the signature back: " + opensslError();
    return false;
  }
  return true;
}

std::optional<std::uint32_t> previousRelease(const fs::path& path, std::string& error) {
  std::error_code code;
  if (!fs::exists(path, code)) return 0;
  const std::optional<std::string> text = platform::readWholeFile(path.c_str(), kMaxSignatureBytes);
  std::optional<ListSignature> signature = text ? parseListSignature(*text) : std::nullopt;
  if (!signature) {
    error = "\"" + path.string() + "\" is not a signature this tool wrote; the next release number cannot be known";
    return std::nullopt;
  }
  return signature->release;
}

bool writeListSignature(const SigningKey& key, const fs::path& listPath, std::uint32_t release,
                        const fs::path& signaturePath, std::string& error) {
  const std::optional<std::string> list =
      platform::readWholeFile(listPath.c_str(), std::numeric_limits<std::size_t>::max());
  if (!list) {
    error = "cannot read \"" + listPath.string() + "\" to sign it";
    return false;
  }
  ListSignature signature;
  signature.release = release;
  if (!key.sign(signedListMessage(release, *list), signature.signature, error)) return false;
  const fs::path side = signaturePath.string() + ".tmp";
  std::error_code code;
  fs::remove(side, code);
  CFile file = createNew(side, 0644, error);
  if (!file) return false;
  const std::string text = formatListSignature(signature);
  bool written = std::fwrite(text.data(), 1, text.size(), file.get()) == text.size();
  if (!finishFile(std::move(file), side, error) || !written) {
    fs::remove(side, code);
    if (error.empty()) error = "cannot write \"" + side.string() + "\"";
    return false;
  }
  fs::rename(side, signaturePath, code);
  if (code) {
    fs::remove(side, code);
    error = "cannot put \"" + signaturePath.string() + "\" in place: " + code.message();
    return false;
  }
  return true;
}

}  // namespace publish
