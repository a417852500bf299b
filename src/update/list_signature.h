// The signature that vouches for a server's "version_list.txt": a small text
// file beside it, "version_list.sig", made by the studio's publishing tool:
//
//   release 7
//   ecdsa-p256-sha256 <128 hex digits: r then s>
//
// each line ended by "\n" and nothing after. The signed message binds the
// release number and the list's exact bytes together (signedListMessage), so
// neither can be swapped for another's.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"

namespace update {

constexpr const char* kSignatureName = "version_list.sig";
// Far above the format's 165 bytes; anything longer is not a signature.
constexpr std::size_t kMaxSignatureBytes = 4096;
// Release numbers run from 1 to this; a larger one is refused as absurd.
constexpr std::uint32_t kMaxRelease = 999999999;

// Why a signed update is refused. The run shows them with their number
// through message 15 ("Download error code %i"); they sit above the
// transfer's own statuses (1 to 19) and below the installation's (30 to 39).
enum class UpdateRefusal : std::int32_t {
  // 20, DigestMismatch, is the download job's (net/streaming_file.h).
  // The server has no signature for its list (it answered, but not 200 OK).
  SignatureMissing = 21,
  // The signature file is empty, over kMaxSignatureBytes, truncated or not
  // the format, or its release number is missing, 0 or absurd.
  SignatureMalformed = 22,
  // The signature does not verify under the launcher's key: the list, the
  // release number or the signature was changed, or another key signed it.
  SignatureInvalid = 23,
  // A valid signature for an older release than the one installed.
  ReleaseRolledBack = 24,
  // The accepted release number could not be recorded in the installation.
  ReleaseNotRecorded = 25,
};

constexpr std::int32_t statusCode(UpdateRefusal refusal) { return static_cast<std::int32_t>(refusal); }

struct ListSignature {
  std::uint32_t release = 0;
  platform::P256Signature signature{};
};

// The file's contents, or nothing when they are not exactly the format.
std::optional<ListSignature> parseListSignature(std::string_view text);

// The file as the publishing tool writes it.
std::string formatListSignature(const ListSignature& signature);

// What is signed: "glimmerhold release N\n" followed by the list's bytes.
std::string signedListMessage(std::uint32_t release, std::string_view list);

// Checks a fetched list against its fetched signature file: 0 when one of
// `keys` signed exactly these bytes as a release no lower than
// `installedRelease` (then *release is set), otherwise the UpdateRefusal.
[[nodiscard]] std::int32_t verifyListSignature(const std::vector<platform::P256PublicKey>& keys, std::string_view list,
                                               std::string_view signatureFile, std::uint32_t installedRelease,
                                               std::uint32_t* release);

}  // namespace update
