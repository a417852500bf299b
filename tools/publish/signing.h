// The studio's signing key: making a key pair, and signing a served folder's
// version list with the next release number (see update/list_signature.h for
// the file the launcher reads).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/crypto.h"

namespace publish {

// Writes NAME.pem, the private key (mode 0600), and NAME.pub.pem, the public
// key the launcher is built with (GLIMMERHOLD_UPDATE_KEY). Refuses to
// overwrite either.
bool makeKeyPair(const std::filesystem::path& name, std::string& error);

class SigningKey {
 public:
  // Reads a PEM private key; only an ECDSA P-256 key is accepted.
  static std::unique_ptr<SigningKey> load(const std::filesystem::path& pem, std::string& error);
  ~SigningKey();
  SigningKey(const SigningKey&) = delete;
  SigningKey& operator=(const SigningKey&) = delete;

  // ECDSA over SHA-256 of `message`, as r||s.
  bool sign(std::string_view message, platform::P256Signature& signature, std::string& error) const;

  struct Key;

 private:
  explicit SigningKey(std::unique_ptr<Key> key);
  std::unique_ptr<Key> key_;
};

// The release number of the signature file at `path`: 0 when there is none,
// nothing (with the reason) when it exists but cannot be read as one.
std::optional<std::uint32_t> previousRelease(const std::filesystem::path& path, std::string& error);

// Signs the list at `listPath` as `release` and writes the signature file at
// `signaturePath`, replacing it in one rename.
bool writeListSignature(const SigningKey& key, const std::filesystem::path& listPath, std::uint32_t release,
                        const std::filesystem::path& signaturePath, std::string& error);

}  // namespace publish
