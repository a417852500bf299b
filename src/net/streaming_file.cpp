#include "net/streaming_file.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "net/http_get.h"
#include "platform/sockets.h"

namespace net {

namespace {

void workerMain(void* job) { net::runHttpGet(*static_cast<cStreamingFile*>(job)); }

}  // namespace

cStreamingFile::cStreamingFile(std::string fetchUrl, std::string destinationPath, std::string digest,
                               std::optional<std::uint32_t> size, std::uint32_t memoryBound,
                               std::function<void()> ended)
    : url(std::move(fetchUrl)),
      localPath(std::move(destinationPath)),
      expectedDigest(std::move(digest)),
      listedSize(size),
      memoryLimit(std::min(memoryBound, kMaxMemoryBody)),
      onEnded(std::move(ended)),
      inMemory(localPath.empty()) {
  platform::socketStartup();
  std::uint32_t error = 0;
  worker = platform::createThread(workerMain, this, &error);
  if (worker == nullptr) {
    // The job stays where it is, never done; this line is the only trace.
    std::printf("SCM:Error in Creating thread %d\n", static_cast<int>(error));
    std::fflush(stdout);
  }
}

cStreamingFile::~cStreamingFile() {
  platform::joinThread(worker);
  // The memory destination takes the body's memory with malloc, so that
  // running out of it is a status (9), not an exception.
  std::free(bufferStart);  // NOLINT(cppcoreguidelines-no-malloc)
  platform::socketCleanup();
}

bool cStreamingFile::isComplete() const {
  // `done` is read first and with acquire: once it is seen, every write the
  // worker made before setting it is visible too.
  if (!done.load(std::memory_order_acquire)) return false;
  return received.load(std::memory_order_acquire) ==
         static_cast<std::uint32_t>(expectedLength.load(std::memory_order_acquire));
}

std::string partialFilePath(std::string_view localPath) {
  // FNV-1a, 64 bits: two files of one folder in flight at once are all but
  // sure to get two names.
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (char c : localPath) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  constexpr char kDigits[] = "0123456789abcdef";
  std::string name(16, '0');
  for (std::size_t i = name.size(); i-- > 0; hash >>= 4) name[i] = kDigits[hash & 0xF];
  const std::size_t slash = localPath.find_last_of("/\\");
  const std::string_view folder = slash == std::string_view::npos ? std::string_view() : localPath.substr(0, slash + 1);
  return std::string(folder) + name + kPartialSuffix;
}

}  // namespace net
