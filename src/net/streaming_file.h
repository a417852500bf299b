// A download job: one HTTP/1.0 GET on a worker thread of its own, into a file
// or into memory, polled by its owner on the UI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/threads.h"

// Failure codes left in cStreamingFile::status. Any other non-zero value is
// the Windows Sockets error number of a failed receive.
enum DownloadStatus : std::int32_t {
  None = 0,
  SocketFailed = 1,
  HostNotFound = 2,
  ConnectFailed = 3,
  BadResponse = 4,
};

class cStreamingFile {
 public:
  // Copies both texts and starts the worker at once. `url` is host + "/" +
  // path with no scheme; an empty `localPath` keeps the body in memory.
  cStreamingFile(const std::string& url, const std::string& localPath);
  virtual ~cStreamingFile();
  cStreamingFile(const cStreamingFile&) = delete;
  cStreamingFile& operator=(const cStreamingFile&) = delete;

  // True once the whole body is stored and the destination finished.
  bool isComplete() const;

  std::string url;
  std::string localPath;
  std::atomic<std::int32_t> expectedLength{0};
  platform::ThreadHandle worker = nullptr;
  std::atomic<std::int32_t> status{0};
  char* bufferStart = nullptr;
  char* writePos = nullptr;
  bool inMemory = false;
  std::atomic<std::uint32_t> received{0};
  std::atomic<bool> done{false};
  platform::CriticalSection lock;
};
