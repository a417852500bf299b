// The digest and signature seam against known answers and a signature made
// by the openssl command line: the same test runs on OpenSSL here and on CNG
// under Wine.
#include "platform/crypto.h"

#include <gtest/gtest.h>

#include "support/signing_vector.h"

namespace {

using testsupport::fromHex;

platform::Sha256Digest digestOf(std::initializer_list<std::string_view> pieces) {
  platform::Sha256 hash;
  for (std::string_view piece : pieces) hash.update(piece.data(), piece.size());
  platform::Sha256Digest digest{};
  EXPECT_TRUE(hash.finish(digest));
  return digest;
}

TEST(CryptoTest, Sha256GivesTheStandardDigestsHoweverTheBytesAreCut) {
  EXPECT_EQ(digestOf({}), fromHex<32>("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
  EXPECT_EQ(digestOf({"a", "", "bc"}), fromHex<32>("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
  std::string_view message = testsupport::kVectorMessage;
  EXPECT_EQ(digestOf({message.substr(0, 7), message.substr(7)}), fromHex<32>(testsupport::kVectorMessageSha256));
}

TEST(CryptoTest, VerifiesOnlyTheExactMessageSignatureAndKey) {
  const platform::P256PublicKey key = testsupport::kVectorKey;
  const std::string message(testsupport::kVectorMessage);
  const platform::P256Signature signature = fromHex<64>(testsupport::kVectorSignatureHex);
  EXPECT_TRUE(platform::verifyP256Sha256(key, message.data(), message.size(), signature));

  std::string changed = message;
  changed[20] = '4';  // release 4
  EXPECT_FALSE(platform::verifyP256Sha256(key, changed.data(), changed.size(), signature));
  EXPECT_FALSE(platform::verifyP256Sha256(key, message.data(), message.size() - 1, signature));
  platform::P256Signature flipped = signature;
  flipped[40] ^= 0x01;
  EXPECT_FALSE(platform::verifyP256Sha256(key, message.data(), message.size(), flipped));
  EXPECT_FALSE(platform::verifyP256Sha256(testsupport::kOtherKey, message.data(), message.size(), signature));
  // Degenerate inputs: a point off the curve, r = s = 0, r and s past the
  // group order.
  platform::P256PublicKey offCurve = key;
  offCurve[63] ^= 0x01;
  EXPECT_FALSE(platform::verifyP256Sha256(offCurve, message.data(), message.size(), signature));
  EXPECT_FALSE(platform::verifyP256Sha256(key, message.data(), message.size(), platform::P256Signature{}));
  platform::P256Signature allOnes;
  allOnes.fill(0xFF);
  EXPECT_FALSE(platform::verifyP256Sha256(key, message.data(), message.size(), allOnes));
}

}  // namespace
