// The signature file beside the server's list, and the record that keeps an
// older release from being replayed.
#include "update/list_signature.h"

#include <gtest/gtest.h>

#include "support/signing_vector.h"
#include "support/temp_dir.h"
#include "update/release_record.h"

using update::formatListSignature;
using update::kMaxSignatureBytes;
using update::kReleaseRecordName;
using update::ListSignature;
using update::parseListSignature;
using update::readInstalledRelease;
using update::recordInstalledRelease;
using update::UpdateRefusal;
using update::verifyListSignature;

namespace {

const std::string kSignatureHex(testsupport::kVectorSignatureHex);

std::string signatureFile(const std::string& release) {
  return "release " + release + "\necdsa-p256-sha256 " + kSignatureHex + "\n";
}

TEST(ListSignatureTest, ReadsOnlyTheExactFormat) {
  std::optional<ListSignature> good = parseListSignature(signatureFile("3"));
  ASSERT_TRUE(good);
  EXPECT_EQ(good->release, 3u);
  EXPECT_EQ(formatListSignature(*good), signatureFile("3"));
  std::string upper = signatureFile("999999999");
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  EXPECT_FALSE(parseListSignature(upper)) << "field names are lower case";

  const std::string whole = signatureFile("3");
  const std::string refused[] = {
      "",
      whole.substr(0, whole.size() - 1),            // truncated: no final line end
      whole.substr(0, whole.size() - 10),           // truncated inside the signature
      "release 3\n",                                // no signature
      "ecdsa-p256-sha256 " + kSignatureHex + "\n",  // no release
      signatureFile(""),
      signatureFile("0"),
      signatureFile("03"),
      signatureFile("-3"),
      signatureFile("+3"),
      signatureFile("1000000000"),
      signatureFile("99999999999999999999"),
      signatureFile("3 "),
      "release 3\r\necdsa-p256-sha256 " + kSignatureHex + "\r\n",
      whole + "\n",  // anything after the second line
      whole + std::string(kMaxSignatureBytes, ' '),
      "release 3\necdsa-p256-sha256 " + kSignatureHex.substr(2) + "zz\n",
      "release 3\necdsa-p256-sha256 " + kSignatureHex + "00\n",
      "release 3\nrsa-sha256 " + kSignatureHex + "\n",
  };
  for (const std::string& text : refused) EXPECT_FALSE(parseListSignature(text)) << text;
}

TEST(ListSignatureTest, VerifiesTheListAndItsReleaseTogether) {
  const std::vector<platform::P256PublicKey> key{testsupport::kVectorKey};
  const std::string list(testsupport::kVectorList);
  std::uint32_t release = 0;
  EXPECT_EQ(verifyListSignature(key, list, signatureFile("3"), 0, &release), 0);
  EXPECT_EQ(release, 3u);
  EXPECT_EQ(verifyListSignature(key, list, signatureFile("3"), 3, &release), 0) << "the same release again";
  // Either of two keys, as while a key is rotated.
  EXPECT_EQ(verifyListSignature({testsupport::kOtherKey, key[0]}, list, signatureFile("3"), 0, &release), 0);

  struct Row {
    std::string list;
    std::string signature;
    std::uint32_t installed;
    std::vector<platform::P256PublicKey> keys;
    std::int32_t refusal;
  };
  const Row rows[] = {
      {list + "Evil.exe 0123456789abcdef0123456789abcdef 1\n", signatureFile("3"), 0, key,
       statusCode(UpdateRefusal::SignatureInvalid)},
      {list, signatureFile("4"), 0, key,
       statusCode(UpdateRefusal::SignatureInvalid)},  // a higher number on the same list
      {list, signatureFile("3"), 0, {testsupport::kOtherKey}, statusCode(UpdateRefusal::SignatureInvalid)},
      {list, signatureFile("3"), 4, key, statusCode(UpdateRefusal::ReleaseRolledBack)},
      {list, "", 0, key, statusCode(UpdateRefusal::SignatureMalformed)},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(verifyListSignature(row.keys, row.list, row.signature, row.installed, &release), row.refusal)
        << row.signature;
  }
}

TEST(ListSignatureTest, TheReleaseRecordReadsBackAndIsReplacedWhole) {
  testsupport::TempDir dir;
  const std::string path = (dir.path() / kReleaseRecordName).string();
  EXPECT_EQ(readInstalledRelease(path.c_str()), 0u) << "no record";
  ASSERT_TRUE(recordInstalledRelease(path.c_str(), 41) && recordInstalledRelease(path.c_str(), 42));
  EXPECT_EQ(readInstalledRelease(path.c_str()), 42u);
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
  for (const char* damaged : {"", "42", "4x2\n", "1000000000\n", "123456789012345\n"}) {
    testsupport::writeFile(path, damaged);
    EXPECT_EQ(readInstalledRelease(path.c_str()), 0u) << damaged;
  }
}

}  // namespace
