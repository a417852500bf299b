// The studio's signing key: making a key pair, deciding what a served
// folder's next signature says (product, channel, epoch, release number,
// expiry) from what the folder and the release's Launcher.exe hold, and
// signing the list (see update/list_signature.h for the file the launcher
// reads).
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"
#include "update/list_signature.h"

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
  // The public half, X||Y, as a launcher has it compiled in.
  const platform::P256PublicKey& publicKey() const { return publicKey_; }

  struct Key;

 private:
  SigningKey(std::unique_ptr<Key> key, const platform::P256PublicKey& publicKey);
  std::unique_ptr<Key> key_;
  platform::P256PublicKey publicKey_;
};

// The update keys a launcher program carries (update/update_key.h): the
// first key's epoch and the keys; nothing when the program has no key table
// or an empty one.
struct KeyTable {
  std::uint32_t firstEpoch = 0;
  std::vector<platform::P256PublicKey> keys;
};
std::optional<KeyTable> findKeyTable(std::string_view program);

// What the studio asked to sign.
struct SignRequest {
  std::string product;
  std::string channel;
  // 0: the epoch the release's Launcher.exe gives the key, else 1.
  std::uint32_t epoch = 0;
  // Seconds since 1970; 0: the signature never expires.
  std::int64_t expires = 0;
  // Re-sign the release the folder holds (a new expiry) instead of the next.
  bool sameRelease = false;
};

// Decides the fields of the next signature, all but the signature itself:
//  - the epoch: the one the release's `launcher` (empty: none in the
//    release) carries the key under; a launcher that carries neither the key
//    nor only keys of later epochs is refused, as is one without keys;
//  - the release number from the signature at `previousSignature` (over the
//    list at `previousList`): none there gives 1; one of an earlier epoch
//    gives 1 (a new epoch starts its own numbers); one of the same epoch must
//    verify under the key before its number is taken (then one more, or the
//    same with sameRelease); one of a later epoch, or of another product or
//    channel, is refused.
// False with the reason when the studio must look first.
bool planSignature(const SigningKey& key, const SignRequest& request, const std::filesystem::path& launcher,
                   const std::filesystem::path& previousSignature, const std::filesystem::path& previousList,
                   update::ListSignature& planned, std::string& error);

// Signs the list at `listPath` with the fields of `planned` and writes the
// signature file at `signaturePath`, replacing it in one rename.
bool writeListSignature(const SigningKey& key, const std::filesystem::path& listPath,
                        const update::ListSignature& planned, const std::filesystem::path& signaturePath,
                        std::string& error);

}  // namespace publish
