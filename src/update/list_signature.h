// The signature that vouches for a server's "version_list.txt": a small text
// file beside it, "version_list.sig", made by the studio's publishing tool:
//
//   product Glimmerhold
//   channel stable
//   epoch 1
//   release 7
//   expires 2027-01-31T00:00:00Z          (optional)
//   ecdsa-p256-sha256 <128 hex digits: r then s>
//
// each line ended by "\n", in this order, and nothing after. The signed
// message is "glimmerhold signed list\n", every line before the signature
// line, "list\n" and the list's exact bytes (signedListMessage): none of
// them can be swapped for another's, nor a line moved between them.
//
// The epoch names the key: the launcher's keys are ordered, the first of
// them being epoch kFirstEpoch of the build. A list signed in a later epoch
// is accepted whatever release number an earlier epoch recorded, and from
// then on every earlier epoch's key is refused, so a leaked key is retired
// by signing one release with the next key.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/crypto.h"

namespace update {

constexpr const char* kSignatureName = "version_list.sig";
// Far above the format's 300 or so bytes; anything longer is not a
// signature.
constexpr std::size_t kMaxSignatureBytes = 4096;
// Release numbers run from 1 to this; a larger one is refused as absurd.
constexpr std::uint32_t kMaxRelease = 999999999;
// Epochs run from 1 to this.
constexpr std::uint32_t kMaxEpoch = 65535;
constexpr std::size_t kMaxProductBytes = 64;
constexpr std::size_t kMaxChannelBytes = 32;

// Why a signed update is refused. The run shows them with their number
// through message 15 ("Download error code %i"); they sit above the
// transfer's own statuses (1 to 19) and below the installation's (30 to 39).
enum class UpdateRefusal : std::int32_t {
  // 20, DigestMismatch, is the download job's (net/streaming_file.h).
  // The server has no signature for its list (it answered, but not 200 OK).
  SignatureMissing = 21,
  // The signature file is empty, over kMaxSignatureBytes, truncated or not
  // the format, or one of its fields is missing or out of its range.
  SignatureMalformed = 22,
  // The signature does not verify under the launcher's key of its epoch: the
  // list or a field was changed, another key signed it, or the epoch is
  // later than any key the launcher has.
  SignatureInvalid = 23,
  // A valid signature for an older release of the epoch installed.
  ReleaseRolledBack = 24,
  // The accepted release could not be recorded in the installation.
  ReleaseNotRecorded = 25,
  // A valid signature, but for another product or another channel than the
  // launcher's.
  OtherProductOrChannel = 26,
  // Signed in an epoch the installation has left behind (a later epoch's
  // list was accepted), or earlier than any key the launcher has.
  KeyRetired = 27,
  // A valid signature whose expiry has passed by the player's clock.
  SignatureExpired = 28,
};

constexpr std::int32_t statusCode(UpdateRefusal refusal) { return static_cast<std::int32_t>(refusal); }

// Where an installation stands: the epoch and release of the last list it
// accepted; {0, 0} when it has accepted none.
struct ReleaseMark {
  std::uint32_t epoch = 0;
  std::uint32_t release = 0;
  friend bool operator==(const ReleaseMark&, const ReleaseMark&) = default;
};

// True when `mark` is later than `than`: a later epoch, or the same epoch and
// a higher release.
bool isLater(const ReleaseMark& mark, const ReleaseMark& than);

struct ListSignature {
  std::string product;
  std::string channel;
  std::uint32_t epoch = 0;
  std::uint32_t release = 0;
  // Seconds since 1970-01-01 00:00:00 UTC; 0 when the list never expires.
  std::int64_t expires = 0;
  platform::P256Signature signature{};
};

// What a launcher trusts: its keys in epoch order, the first one's epoch, and
// the product and channel it updates.
struct UpdateTrust {
  std::vector<platform::P256PublicKey> keys;
  std::uint32_t firstEpoch = 1;
  std::string product;
  std::string channel;
};

// The file's contents, or nothing when they are not exactly the format.
std::optional<ListSignature> parseListSignature(std::string_view text);

// The file as the publishing tool writes it.
std::string formatListSignature(const ListSignature& signature);

// What is signed: "glimmerhold signed list\n", the file's lines before the
// signature's, "list\n", and the list's bytes.
std::string signedListMessage(const ListSignature& signature, std::string_view list);

// Field checks the file's reader and the publishing tool share.
bool isValidProduct(std::string_view product);
bool isValidChannel(std::string_view channel);

// "YYYY-MM-DDTHH:MM:SSZ" (years 2000 to 9999) to seconds since 1970 and
// back; nothing when the text is not exactly such a time.
std::optional<std::int64_t> parseUtcTime(std::string_view text);
std::string formatUtcTime(std::int64_t seconds);

// Checks a fetched list against its fetched signature file, at the time
// `now` (seconds since 1970): 0 when the key of the signature's epoch signed
// exactly these bytes, for the trusted product and channel, unexpired, and
// not earlier than `installed` (then *accepted is set), otherwise the
// UpdateRefusal.
[[nodiscard]] std::int32_t verifyListSignature(const UpdateTrust& trust, std::string_view list,
                                               std::string_view signatureFile, const ReleaseMark& installed,
                                               std::int64_t now, ReleaseMark* accepted);

}  // namespace update
