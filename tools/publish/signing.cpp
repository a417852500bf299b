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
#include <system_error>

#include "platform/files.h"
#include "update/list_signature.h"
#include "update/update_key.h"

using update::formatListSignature;
using update::kKeyTableHeaderBytes;
using update::kMaxRelease;
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
    error = "cannot create \"" + path.string() + "\": " + std::generic_category().message(errno);
    return nullptr;
  }
  CFile file(::fdopen(fd, "w"));
  if (!file) ::close(fd);
  return file;
}

// Workaround for GCC 12's false -Wrestrict: the quoted name is built by
// appending, since at -O3 it reports one inside libstdc++ for a literal put
// in front of a string ("\"" + path.string()). Can go once the builds' GCC
// no longer reports it in the Release build.
std::string quoted(const fs::path& path) {
  std::string text("\"");
  return text.append(path.string()).append("\"");
}

bool finishFile(CFile file, const fs::path& path, std::string& error) {
  bool good = std::fflush(file.get()) == 0 && ::fsync(::fileno(file.get())) == 0;
  good = std::fclose(file.release()) == 0 && good;
  if (!good) error = "cannot write \"" + path.string() + "\": " + std::generic_category().message(errno);
  return good;
}

}  // namespace

struct SigningKey::Key {
  PrivateKey pkey;
};

SigningKey::SigningKey(std::unique_ptr<Key> key, const platform::P256PublicKey& publicKey)
    : key_(std::move(key)), publicKey_(publicKey) {}
SigningKey::~SigningKey() = default;

bool makeKeyPair(const fs::path& name, std::string& error) {
  const fs::path privatePath = name.string() + ".pem";
  const fs::path publicPath = name.string() + ".pub.pem";
  std::error_code code;
  if (fs::exists(privatePath, code) || fs::exists(publicPath, code)) {
    error = quoted(privatePath) + " or " + quoted(publicPath) + " exists already; keys are never overwritten";
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
    error = "cannot read the signing key \"" + pem.string() + "\": " + std::generic_category().message(errno);
    return nullptr;
  }
  PrivateKey key(PEM_read_PrivateKey(file.get(), nullptr, nullptr, nullptr));
  if (!key) {
    error = quoted(pem) + " is not a PEM private key: " + opensslError();
    return nullptr;
  }
  if (!isP256(key.get())) {
    error = quoted(pem) + " is not an ECDSA P-256 key (make one with --new-key)";
    return nullptr;
  }
  // The public key's DER ends with the point's X||Y, as the launcher's build
  // takes it (cmake/update_key.cmake).
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key.get(), &der);
  platform::P256PublicKey publicKey{};
  const bool readable = length == 91 && der != nullptr;
  if (readable) std::memcpy(publicKey.data(), der + 27, publicKey.size());
  OPENSSL_free(der);
  if (!readable) {
    error = "cannot read the public half of \"" + pem.string() + "\": " + opensslError();
    return nullptr;
  }
  auto held = std::make_unique<Key>();
  held->pkey = std::move(key);
  return std::unique_ptr<SigningKey>(new SigningKey(std::move(held), publicKey));
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

std::optional<KeyTable> findKeyTable(std::string_view program) {
  // As update/update_key.cpp lays out the table.
  constexpr std::string_view kKeyTableMarker = "GlimmerholdKeys1";
  for (std::size_t at = program.find(kKeyTableMarker); at != std::string_view::npos;
       at = program.find(kKeyTableMarker, at + 1)) {
    const std::string_view rest = program.substr(at);
    if (rest.size() < kKeyTableHeaderBytes) break;
    const auto byte = [&rest](std::size_t i) {
      return static_cast<std::uint32_t>(static_cast<unsigned char>(rest[i]));
    };
    const std::uint32_t firstEpoch = byte(16) << 8 | byte(17);
    const std::uint32_t count = byte(18) << 8 | byte(19);
    if (firstEpoch == 0 || count == 0 || count > 255 || rest.size() < kKeyTableHeaderBytes + std::size_t{count} * 64)
      continue;
    KeyTable table;
    table.firstEpoch = firstEpoch;
    table.keys.resize(count);
    for (std::uint32_t k = 0; k < count; ++k) {
      std::memcpy(table.keys[k].data(), rest.data() + kKeyTableHeaderBytes + std::size_t{k} * 64, 64);
    }
    return table;
  }
  return std::nullopt;
}

namespace {

std::string epochText(std::uint32_t epoch) { return "epoch " + std::to_string(epoch); }

// The epoch the release's launcher gives the key, or the reason it cannot
// carry the release.
bool epochFromLauncher(const SigningKey& key, const SignRequest& request, const fs::path& launcher,
                       std::uint32_t& epoch, std::string& error) {
  epoch = request.epoch != 0 ? request.epoch : 1;
  if (launcher.empty()) return true;
  const std::optional<std::string> program =
      platform::readWholeFile(launcher.c_str(), std::numeric_limits<std::size_t>::max());
  if (!program) {
    error = "cannot read \"" + launcher.string() + "\" to see which keys it carries";
    return false;
  }
  const std::optional<KeyTable> table = findKeyTable(*program);
  const std::string builtWith = " (build it with -DGLIMMERHOLD_UPDATE_KEY naming the public key)";
  if (!table) {
    error =
        "the release's Launcher.exe carries no update key: players who install it would accept unsigned "
        "updates from then on" +
        builtWith;
    return false;
  }
  for (std::size_t i = 0; i < table->keys.size(); ++i) {
    if (table->keys[i] != key.publicKey()) continue;
    const std::uint32_t carried = table->firstEpoch + static_cast<std::uint32_t>(i);
    if (request.epoch != 0 && request.epoch != carried) {
      error = "--epoch " + std::to_string(request.epoch) +
              " given, but the release's Launcher.exe carries the key as " + epochText(carried);
      return false;
    }
    epoch = carried;
    return true;
  }
  // A launcher of the epochs after this key's may be carried by its last
  // release.
  if (request.epoch != 0 && table->firstEpoch > request.epoch) return true;
  error = "the release's Launcher.exe does not carry the signing key (its keys are " + epochText(table->firstEpoch) +
          " to " + std::to_string(table->firstEpoch + table->keys.size() - 1) +
          "): players who install it would refuse every later release" + builtWith;
  return false;
}

}  // namespace

bool planSignature(const SigningKey& key, const SignRequest& request, const fs::path& launcher,
                   const fs::path& previousSignature, const fs::path& previousList, ListSignature& planned,
                   std::string& error) {
  planned = ListSignature{};
  planned.product = request.product;
  planned.channel = request.channel;
  planned.expires = request.expires;
  if (!epochFromLauncher(key, request, launcher, planned.epoch, error)) return false;
  std::error_code code;
  if (!fs::exists(previousSignature, code)) {
    if (request.sameRelease) {
      error = quoted(previousSignature) + " does not exist: there is no signed release to sign again";
      return false;
    }
    planned.release = 1;
    return true;
  }
  const std::optional<std::string> text = platform::readWholeFile(previousSignature.c_str(), kMaxSignatureBytes);
  std::optional<ListSignature> previous = text ? parseListSignature(*text) : std::nullopt;
  if (!previous) {
    error = quoted(previousSignature) + " is not a signature this tool wrote; the next release number cannot be known";
    return false;
  }
  if (previous->product != planned.product || previous->channel != planned.channel) {
    error = quoted(previousSignature) + " is signed for " + previous->product + ", channel " + previous->channel +
            "; this signature would be for " + planned.product + ", channel " + planned.channel +
            ": publish each product and channel into a folder of its own";
    return false;
  }
  if (previous->epoch > planned.epoch) {
    error = quoted(previousSignature) + " is signed in " + epochText(previous->epoch) +
            ", and launchers that accepted it refuse every key of an earlier epoch, as this one is (" +
            epochText(planned.epoch) + ")";
    return false;
  }
  if (previous->epoch < planned.epoch) {
    // A new epoch counts from 1: nothing the earlier key signed is trusted.
    planned.release = 1;
    return true;
  }
  const std::optional<std::string> list =
      platform::readWholeFile(previousList.c_str(), std::numeric_limits<std::size_t>::max());
  const std::string message = list ? signedListMessage(*previous, *list) : std::string();
  if (!list || !platform::verifyP256Sha256(key.publicKey(), message.data(), message.size(), previous->signature)) {
    error = quoted(previousSignature) + " does not verify with the signing key over " + quoted(previousList) +
            ": its release number cannot be trusted; restore the folder from your copy of the last publish";
    return false;
  }
  if (request.sameRelease) {
    planned.release = previous->release;
    return true;
  }
  if (previous->release >= kMaxRelease) {
    error = "the release number cannot grow past " + std::to_string(kMaxRelease) + " in " + epochText(planned.epoch) +
            "; sign with the next epoch's key";
    return false;
  }
  planned.release = previous->release + 1;
  return true;
}

bool writeListSignature(const SigningKey& key, const fs::path& listPath, const ListSignature& planned,
                        const fs::path& signaturePath, std::string& error) {
  const std::optional<std::string> list =
      platform::readWholeFile(listPath.c_str(), std::numeric_limits<std::size_t>::max());
  if (!list) {
    error = "cannot read \"" + listPath.string() + "\" to sign it";
    return false;
  }
  ListSignature signature = planned;
  if (!key.sign(signedListMessage(signature, *list), signature.signature, error)) return false;
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
