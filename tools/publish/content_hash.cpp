#include "content_hash.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <vector>

#include "file_descriptor.h"
#include "update/version_list.h"

using update::kMaxEntryVersion;

namespace publish {

namespace {

constexpr std::size_t kChunk = 1 << 20;

struct DigestFree {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
using Digest = std::unique_ptr<EVP_MD_CTX, DigestFree>;

Digest startDigest() {
  Digest digest(EVP_MD_CTX_new());
  if (digest && EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1) digest.reset();
  return digest;
}

std::string finishDigest(EVP_MD_CTX* digest) {
  unsigned char bytes[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(digest, bytes, &length) != 1) return {};
  static constexpr char kHex[] = "0123456789abcdef";
  std::string token;
  for (unsigned int i = 0; i < length && token.size() < kMaxEntryVersion; ++i) {
    token += kHex[bytes[i] >> 4];
    token += kHex[bytes[i] & 0x0F];
  }
  return token;
}

}  // namespace

ContentHash hashFile(const std::filesystem::path& path) {
  ContentHash result;
  FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (file.get() < 0) {
    result.error = std::generic_category().message(errno);
    return result;
  }
  Digest digest = startDigest();
  if (!digest) {
    result.error = "the hash could not be started";
    return result;
  }
  std::vector<unsigned char> chunk(kChunk);
  for (;;) {
    ssize_t got = ::read(file.get(), chunk.data(), chunk.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      result.error = std::generic_category().message(errno);
      return result;
    }
    if (got == 0) break;
    if (EVP_DigestUpdate(digest.get(), chunk.data(), static_cast<std::size_t>(got)) != 1) {
      result.error = "the hash could not be computed";
      return result;
    }
    result.size += static_cast<std::uint64_t>(got);
  }
  result.token = finishDigest(digest.get());
  if (result.token.empty()) result.error = "the hash could not be finished";
  return result;
}

std::string hashBytes(std::string_view bytes) {
  Digest digest = startDigest();
  if (!digest) return {};
  if (EVP_DigestUpdate(digest.get(), bytes.data(), bytes.size()) != 1) return {};
  return finishDigest(digest.get());
}

}  // namespace publish
