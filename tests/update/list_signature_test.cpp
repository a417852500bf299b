// The signature file beside the server's list, and the record that keeps an
// older release from being replayed and a retired key retired.
#include "update/list_signature.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/signing_vector.h"
#include "support/temp_dir.h"
#include "update/installer_list.h"
#include "update/release_record.h"

using update::formatListSignature;
using update::formatReleaseRecord;
using update::kMaxSignatureBytes;
using update::kReleaseRecordName;
using update::ListSignature;
using update::parseListSignature;
using update::parseUtcTime;
using update::readInstalledRelease;
using update::recordInstalledRelease;
using update::ReleaseMark;
using update::UpdateRefusal;
using update::UpdateTrust;
using update::verifyListSignature;

namespace {

// Signed outside the launcher (openssl dgst -sha256 -sign, DER converted to
// r||s) over "glimmerhold signed list\n", the fields, "list\n" and kVectorList: the
// format is pinned by a signer that shares no code with it.
const auto kEpoch1Key = testsupport::fromHex<64>(
    "c8daf8680612d7923f0e408b9acb74661e1535531d4247cbb7ca57952d46cb6ed17cb61f3987465cab622f63f19f5795e8eccc610cbcebf3"
    "8ae6d66762882faa");
const auto kEpoch2Key = testsupport::fromHex<64>(
    "fe2b9875baaf2a6f2eb87926894a3e28c5eedd43f27d47ea049aa9d88af31cd0d4512a739c3ef4150fbd2ac8841fb300f815ef649dbf643a"
    "b2cb9b964db279fe");
const std::string kStable3 = "product Glimmerhold\nchannel stable\nepoch 1\nrelease 3\n";
const std::string kStable3Signature =
    "9aa7b7d33c1e3154f26021533c395ea6433252c7e3b431a1e0c96f1609afe68738072b99e2488d34fb0e93625d6a70aa60c82568286abe04"
    "cdb7407dea12a033";
const std::string kBeta3 = "product Glimmerhold\nchannel beta\nepoch 1\nrelease 3\n";
const std::string kBeta3Signature =
    "06d82ac78ed79926e5904d1c235af2b0b3d54b3041daeef16e074d554e81eb993e723db6af417b9831fee1a72e267dd4c860aa59d913db99"
    "930413470ff687b6";
const std::string kOtherGame3 = "product Other Game\nchannel stable\nepoch 1\nrelease 3\n";
const std::string kOtherGame3Signature =
    "cd2ac70e7e51a102fd7b5bff9e58f6ba933bf275f07df43838abbdec8bdac73753dde08fad4355524ec8f01e9ce7f7ab7847878a2f00edf7"
    "2935c2fddd02522f";
const std::string kEpoch2Release1 = "product Glimmerhold\nchannel stable\nepoch 2\nrelease 1\n";
const std::string kEpoch2Release1Signature =
    "041963a6c990ae8f821238ea492dc0d02bcfec248ff0b854970a8b495503e616042befc44a5a82fcfc9f8cda8c7a9ee94c273c42c833a4ea"
    "7f67217111a9c6ab";
const std::string kExpiring4 =
    "product Glimmerhold\nchannel stable\nepoch 1\nrelease 4\nexpires 2030-01-01T00:00:00Z\n";
const std::string kExpiring4Signature =
    "90b3aefa8ae8d39b92876dad9f6e795d036c444da271a93bfd8c8977c10b75080ff36b13dbfac17305c82411154a02212a625dbbf3ecf15e"
    "93bdf0195d91e942";
constexpr std::int64_t kExpiry = 1893456000;  // 2030-01-01T00:00:00Z
constexpr std::int64_t kBefore = kExpiry - 1;

std::string signatureFile(const std::string& fields, const std::string& hex) {
  return fields + "ecdsa-p256-sha256 " + hex + "\n";
}

UpdateTrust trust(std::vector<platform::P256PublicKey> keys = {kEpoch1Key, kEpoch2Key}, std::uint32_t firstEpoch = 1) {
  return UpdateTrust{std::move(keys), firstEpoch, "Glimmerhold", "stable"};
}

TEST(ListSignatureTest, ReadsOnlyTheExactFormat) {
  const std::string whole = signatureFile(kStable3, kStable3Signature);
  std::optional<ListSignature> good = parseListSignature(whole);
  ASSERT_TRUE(good);
  EXPECT_EQ(good->product, "Glimmerhold");
  EXPECT_EQ(good->channel, "stable");
  EXPECT_EQ(good->epoch, 1u);
  EXPECT_EQ(good->release, 3u);
  EXPECT_EQ(good->expires, 0);
  EXPECT_EQ(formatListSignature(*good), whole);
  const std::string expiring = signatureFile(kExpiring4, kExpiring4Signature);
  ASSERT_TRUE(parseListSignature(expiring));
  EXPECT_EQ(parseListSignature(expiring)->expires, kExpiry);
  EXPECT_EQ(formatListSignature(*parseListSignature(expiring)), expiring);
  std::string upper = whole;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_FALSE(parseListSignature(upper)) << "field names are lower case";

  const auto with = [&whole](const std::string& from, const std::string& to) {
    std::string text = whole;
    return text.replace(text.find(from), from.size(), to);
  };
  const std::string refused[] = {
      "",
      whole.substr(0, whole.size() - 1),    // truncated: no final line end
      whole.substr(0, whole.size() - 10),   // truncated inside the signature
      kStable3,                             // no signature
      whole.substr(whole.find("channel")),  // no product
      with("channel stable\n", ""),
      with("epoch 1\n", ""),
      with("release 3\n", ""),
      with("release 3\n", "release 3\nexpires never\n"),
      with("release 3\n", "release 3\nexpires 2030-02-30T00:00:00Z\n"),
      with("release 3\n", "release 3\nexpires 1999-12-31T23:59:59Z\n"),
      with("release 3\n", "release 3\nexpires 2030-01-01 00:00:00Z\n"),
      with("release 3\n", "expires 2030-01-01T00:00:00Z\nrelease 3\n"),  // out of order
      with("epoch 1\nrelease 3\n", "release 3\nepoch 1\n"),
      with("release 3", "release "),
      with("release 3", "release 0"),
      with("release 3", "release 03"),
      with("release 3", "release -3"),
      with("release 3", "release +3"),
      with("release 3", "release 1000000000"),
      with("release 3", "release 99999999999999999999"),
      with("release 3", "release 3 "),
      with("epoch 1", "epoch 0"),
      with("epoch 1", "epoch 65536"),
      with("product Glimmerhold", "product "),
      with("product Glimmerhold", "product  Glimmerhold"),
      with("product Glimmerhold", "product Glimmer\thold"),
      with("product Glimmerhold", "product " + std::string(65, 'G')),
      with("channel stable", "channel Stable"),
      with("channel stable", "channel st able"),
      with("channel stable", "channel " + std::string(33, 's')),
      with("\n", "\r\n"),
      whole + "\n",  // anything after the last line
      whole + std::string(kMaxSignatureBytes, ' '),
      with("ecdsa-p256-sha256 9a", "ecdsa-p256-sha256 zz"),
      with("ecdsa-p256-sha256 9aa7b7", "ecdsa-p256-sha256 9AA7B7"),  // one spelling: lower case
      with(kStable3Signature, kStable3Signature + "00"),
      with("ecdsa-p256-sha256", "rsa-sha256"),
      // The format before products, channels and epochs.
      "release 3\necdsa-p256-sha256 " + kStable3Signature + "\n",
  };
  for (const std::string& text : refused) EXPECT_FALSE(parseListSignature(text)) << text;
}

TEST(ListSignatureTest, UtcTimesReadAndWriteBack) {
  EXPECT_EQ(parseUtcTime("2030-01-01T00:00:00Z"), kExpiry);
  EXPECT_EQ(parseUtcTime("2000-02-29T12:34:56Z"), 951827696);
  EXPECT_EQ(update::formatUtcTime(951827696), "2000-02-29T12:34:56Z");
  // The launcher's log stamps its lines so too, before 1970 and after 2038.
  EXPECT_EQ(update::formatUtcTime(0), "1970-01-01T00:00:00Z");
  EXPECT_EQ(update::formatUtcTime(-1), "1969-12-31T23:59:59Z");
  EXPECT_EQ(update::formatUtcTime(1796726700), "2026-12-08T10:45:00Z");
  EXPECT_EQ(update::formatUtcTime(4102444799), "2099-12-31T23:59:59Z");
  for (const char* bad : {"2001-02-29T00:00:00Z", "2030-13-01T00:00:00Z", "2030-01-01T24:00:00Z",
                          "2030-01-01T00:60:00Z", "2030-01-01T00:00:00", "2030-1-01T00:00:00Z"}) {
    EXPECT_FALSE(parseUtcTime(bad)) << bad;
  }
}

// Every way a list can be refused, each with its own status, and the
// epochs: a later epoch's list is accepted over any release of an earlier
// one, which is then refused.
TEST(ListSignatureTest, VerifiesTheFieldsTheListAndTheInstallationsStanding) {
  const std::string list(testsupport::kVectorList);
  ReleaseMark accepted;
  const std::string stable3 = signatureFile(kStable3, kStable3Signature);
  EXPECT_EQ(verifyListSignature(trust(), list, stable3, {}, kBefore, &accepted), 0);
  EXPECT_EQ(accepted, (ReleaseMark{1, 3}));
  EXPECT_EQ(verifyListSignature(trust(), list, stable3, {1, 3}, kBefore, &accepted), 0) << "the same release again";
  const std::string epoch2 = signatureFile(kEpoch2Release1, kEpoch2Release1Signature);
  EXPECT_EQ(verifyListSignature(trust(), list, epoch2, {1, 999999999}, kBefore, &accepted), 0)
      << "a leaked key's 999999999";
  EXPECT_EQ(accepted, (ReleaseMark{2, 1}));
  // A launcher built after the rotation: epoch 2 first.
  EXPECT_EQ(verifyListSignature(trust({kEpoch2Key}, 2), list, epoch2, {}, kBefore, &accepted), 0);
  const std::string expiring = signatureFile(kExpiring4, kExpiring4Signature);
  EXPECT_EQ(verifyListSignature(trust(), list, expiring, {1, 3}, kBefore, &accepted), 0);

  struct Row {
    const char* what;
    std::string list;
    std::string signature;
    ReleaseMark installed;
    UpdateTrust trust;
    std::int64_t now;
    UpdateRefusal refusal;
  };
  std::string forged = stable3;
  forged.replace(forged.find("release 3"), 9, "release 4");
  const Row rows[] = {
      {"a file added to the list",
       list + "Evil.exe 0123456789abcdef0123456789abcdef 1\n",
       stable3,
       {},
       trust(),
       kBefore,
       UpdateRefusal::SignatureInvalid},
      {"a higher number on the same list", list, forged, {}, trust(), kBefore, UpdateRefusal::SignatureInvalid},
      {"another key", list, stable3, {}, trust({testsupport::kOtherKey}), kBefore, UpdateRefusal::SignatureInvalid},
      {"epoch 1's list checked with epoch 2's key",
       list,
       stable3,
       {},
       trust({kEpoch2Key, kEpoch1Key}),
       kBefore,
       UpdateRefusal::SignatureInvalid},
      {"an epoch past the launcher's keys",
       list,
       epoch2,
       {},
       trust({kEpoch1Key}),
       kBefore,
       UpdateRefusal::SignatureInvalid},
      {"an older release", list, stable3, {1, 4}, trust(), kBefore, UpdateRefusal::ReleaseRolledBack},
      {"another channel",
       list,
       signatureFile(kBeta3, kBeta3Signature),
       {},
       trust(),
       kBefore,
       UpdateRefusal::OtherProductOrChannel},
      {"another product",
       list,
       signatureFile(kOtherGame3, kOtherGame3Signature),
       {},
       trust(),
       kBefore,
       UpdateRefusal::OtherProductOrChannel},
      {"the leaked key after the rotation", list, stable3, {2, 1}, trust(), kBefore, UpdateRefusal::KeyRetired},
      {"a key the launcher was built without",
       list,
       stable3,
       {},
       trust({kEpoch2Key}, 2),
       kBefore,
       UpdateRefusal::KeyRetired},
      {"expired", list, expiring, {}, trust(), kExpiry, UpdateRefusal::SignatureExpired},
      {"empty", list, "", {}, trust(), kBefore, UpdateRefusal::SignatureMalformed},
      {"the expiry moved out of the signature into the list",
       "expires 2030-01-01T00:00:00Z\n" + list,
       signatureFile("product Glimmerhold\nchannel stable\nepoch 1\nrelease 4\n", kExpiring4Signature),
       {},
       trust(),
       kExpiry,
       UpdateRefusal::SignatureInvalid},
  };
  for (const Row& row : rows) {
    accepted = {};
    EXPECT_EQ(verifyListSignature(row.trust, row.list, row.signature, row.installed, row.now, &accepted),
              statusCode(row.refusal))
        << row.what;
    EXPECT_EQ(accepted, ReleaseMark{}) << row.what;
  }
}

// The record the game's installer leaves for the signed release it carries:
// a fresh installation refuses older releases from its first start, and an
// installation newer than the installer keeps its own record.
TEST(ListSignatureTest, TheInstallerRecordsTheReleaseItCarriesOnlyForward) {
  testsupport::TempDir dir;
  testsupport::CurrentDirGuard folder;
  std::filesystem::current_path(dir.path());
  const std::string list(testsupport::kVectorList);
  const std::string stable3 = signatureFile(kStable3, kStable3Signature);
  using update::CarriedRelease;
  using update::recordCarriedRelease;
  EXPECT_EQ(recordCarriedRelease(UpdateTrust{}, list, stable3), CarriedRelease::Unsigned);
  EXPECT_FALSE(std::filesystem::exists(kReleaseRecordName));
  EXPECT_EQ(recordCarriedRelease(trust(), list + " ", stable3), CarriedRelease::NotVerified);
  EXPECT_FALSE(std::filesystem::exists(kReleaseRecordName));
  EXPECT_EQ(recordCarriedRelease(trust(), list, stable3), CarriedRelease::Recorded);
  EXPECT_EQ(readInstalledRelease(kReleaseRecordName), (ReleaseMark{1, 3}));
  ASSERT_TRUE(recordInstalledRelease(kReleaseRecordName, {1, 7}));
  EXPECT_EQ(recordCarriedRelease(trust(), list, stable3), CarriedRelease::AlreadyLater);
  EXPECT_EQ(readInstalledRelease(kReleaseRecordName), (ReleaseMark{1, 7}));
}

TEST(ListSignatureTest, TheReleaseRecordReadsBackAndIsReplacedWhole) {
  testsupport::TempDir dir;
  const std::string path = (dir.path() / kReleaseRecordName).string();
  EXPECT_EQ(readInstalledRelease(path.c_str()), ReleaseMark{}) << "no record";
  ASSERT_TRUE(recordInstalledRelease(path.c_str(), {1, 41}) && recordInstalledRelease(path.c_str(), {1, 42}));
  EXPECT_EQ(readInstalledRelease(path.c_str()), (ReleaseMark{1, 42}));
  // Epoch 1 keeps the form launchers without epochs read and wrote.
  EXPECT_EQ(testsupport::readFile(path), "42\n");
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  ASSERT_TRUE(recordInstalledRelease(path.c_str(), {2, 1}));
  EXPECT_EQ(testsupport::readFile(path), "1 epoch 2\n");
  EXPECT_EQ(readInstalledRelease(path.c_str()), (ReleaseMark{2, 1}));
  EXPECT_EQ(formatReleaseRecord({65535, 999999999}), "999999999 epoch 65535\n");
  // What an editor or a sync tool does to the line still reads as the record.
  for (const char* touched : {"42", "42\r\n", "42\n\n", "42 \r\n\r\n"}) {
    testsupport::writeFile(path, touched);
    EXPECT_EQ(readInstalledRelease(path.c_str()), (ReleaseMark{1, 42})) << touched;
  }
  testsupport::writeFile(path, "1 epoch 2\r\n");
  EXPECT_EQ(readInstalledRelease(path.c_str()), (ReleaseMark{2, 1}));
  for (const char* damaged : {"", "\r\n", "4x2\n", "1000000000\n", "123456789012345\n", "042\n", "1 epoch 1\n",
                              "1 epoch 0\n", "1 epoch 65536\n", "epoch 2\n", "0 epoch 2\n"}) {
    testsupport::writeFile(path, damaged);
    EXPECT_EQ(readInstalledRelease(path.c_str()), ReleaseMark{}) << damaged;
  }
}

}  // namespace
