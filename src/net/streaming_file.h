// A download job: one HTTP/1.0 GET on a worker thread of its own, into a file
// or into memory, polled by its owner on the UI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/threads.h"

namespace net {

// Failure codes left in cStreamingFile::status. Any other non-zero value is
// the Windows Sockets error number of a failed receive (10004 and up).
enum class DownloadStatus : std::int32_t {
  None = 0,
  SocketFailed = 1,
  HostNotFound = 2,
  ConnectFailed = 3,
  // Not "200 OK", or no complete header block within kMaxHeaderBytes (the
  // connection closed first, or the block is longer).
  BadResponse = 4,
  // The body's own failures. The owner reports them like a socket error, with
  // the number, so they stay clear of 1 to 4 and of the socket range.
  // The connection closed before the announced length had arrived.
  BodyTruncated = 5,
  // More body bytes arrived than announced.
  BodyOverlong = 6,
  // The announced length is negative.
  LengthInvalid = 7,
  // The body does not fit its destination: in memory beyond kMaxMemoryBody,
  // in a file beyond 2^31 - 1 bytes (the largest length the counters hold).
  BodyTooLarge = 8,
  // The memory buffer could not be allocated or grown.
  OutOfMemory = 9,
  // The file could not be created, written, flushed or put in place.
  DestinationFailed = 10,
  // The response has no "Content-Length: " header and its body is not
  // exactly 32768 bytes, the only length such a body may have.
  LengthMissing = 11,
  // The body that arrived is not the size the list gives the file (a login
  // page answered in its place, a body cut short without a length). The
  // file is not put in place.
  SizeMismatch = 15,
  // The url holds a control character (below 0x20, or 0x7F), which no
  // request line carries, or its host a blank or a byte of 0x80 and above;
  // nothing was sent. (Blanks and bytes of 0x80 and above in the path are
  // percent-encoded and sent.)
  UrlRefused = 14,
  // The file's content digest is not the one the signed list gives: it was
  // changed on its way. The file is not put in place.
  DigestMismatch = 20,
};

// The number a status travels as: in cStreamingFile::status, beside the
// socket layer's error numbers, and in "Download error code N".
constexpr std::int32_t statusCode(DownloadStatus status) { return static_cast<std::int32_t>(status); }

// A response header block longer than this is refused.
constexpr std::uint32_t kMaxHeaderBytes = 64 * 1024;
// The largest body held in memory, the largest server version list: room for
// a list of a million files with long names, small enough that a wrong length
// cannot take a 32-bit launcher's memory.
constexpr std::uint32_t kMaxMemoryBody = 128 * 1024 * 1024;
// A file is fetched into a side file that ends with this suffix and is moved
// over localPath only once complete, so a broken download never replaces a
// good file.
constexpr const char* kPartialSuffix = ".ghpart";

// The side file of a download to `localPath`: in the same folder, so that the
// final rename is one step of one file system, and named by a hash of the
// whole path (16 hexadecimal digits, then kPartialSuffix), so that its name
// is short and valid whatever the length of localPath's own name.
std::string partialFilePath(std::string_view localPath);

class cStreamingFile {
 public:
  // Takes the texts as `url`, `localPath` and `expectedDigest` and starts the
  // worker at once. `url` is host + "/" + path with no scheme; an empty
  // `localPath` keeps the body in memory.
  // When no thread can be started, the job says so on standard output and
  // stays as it is, never done.
  // `expectedDigest`, when not empty, is the leading hex digits (lower case)
  // of the body's SHA-256: the body is hashed as it arrives and takes
  // localPath's place only if they match. `size`, when given, is the size
  // the list gives the file: a body of any other length never takes
  // localPath's place. With a digest too (a signed list's entry) the size is
  // a promise kept while the body arrives: another announced length is
  // refused before the body, and a body without one stops at that size.
  // `memoryBound` bounds a body kept in memory. `ended`, when given, is
  // called on the worker thread once the job has ended, done or failed,
  // after the outcome is visible to the owner: it may tell the owner's
  // thread to look, and must touch nothing the owner may have freed.
  cStreamingFile(std::string fetchUrl, std::string destinationPath, std::string digest = {},
                 std::optional<std::uint32_t> size = std::nullopt, std::uint32_t memoryBound = kMaxMemoryBody,
                 std::function<void()> ended = {});
  // Waits for the worker, if there is one, then frees the buffer.
  virtual ~cStreamingFile();
  cStreamingFile(const cStreamingFile&) = delete;
  cStreamingFile& operator=(const cStreamingFile&) = delete;

  // True once the whole body is stored and the destination finished. An
  // empty body is a complete job too.
  bool isComplete() const;

  std::string url;
  std::string localPath;
  std::string expectedDigest;
  std::optional<std::uint32_t> listedSize;
  std::uint32_t memoryLimit = kMaxMemoryBody;
  std::function<void()> onEnded;
  // 0 until the header is read; then the announced length, or 32768 when
  // none is announced (and the body must then be exactly that long). Once
  // complete, the number of body bytes stored.
  std::atomic<std::int32_t> expectedLength{0};
  platform::ThreadHandle worker = nullptr;
  std::atomic<std::int32_t> status{0};
  // Memory mode: the body, 0-terminated once complete (an empty body too).
  // Read only after isComplete() is true.
  char* bufferStart = nullptr;
  char* writePos = nullptr;
  bool inMemory = false;
  // Body bytes stored so far, for progress.
  std::atomic<std::uint32_t> received{0};
  // Set last, with release ordering, when the result is in place.
  std::atomic<bool> done{false};
  // Held by the worker around each change of the destination and counters,
  // never across a network call.
  platform::CriticalSection lock;
};

}  // namespace net
