// Files and folders on POSIX. Every path is taken as Windows would take it:
// "\" separates folders like "/". The executable's own path and the writeback
// hint are the kernel's (platform/linux/).
#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/posix/writeback.h"

namespace platform {

namespace {

std::string nativePath(const char* path) {
  std::string native = path != nullptr ? path : "";
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return native;
}

// Dirty pages of a file being written are handed to the disk in windows of
// this size as the file grows, the way Windows' lazy writer trickles them
// out. A later flush() then waits only for the last window, rather than for
// the whole file at once, which for a large download would be a long stall
// after its last byte arrived.
constexpr off_t kWritebackWindow = 8 * 1024 * 1024;

// After a write of `size` bytes that ended at the file's position: when it
// completed a window, starts (without waiting for) the writeback of that
// window. Only a hint; a failure changes nothing.
void writeBackCompletedWindow(int fd, std::uint32_t size) {
  off_t end = ::lseek(fd, 0, SEEK_CUR);
  if (end < 0 || end / kWritebackWindow == (end - static_cast<off_t>(size)) / kWritebackWindow) return;
  off_t windowEnd = end / kWritebackWindow * kWritebackWindow;
  startWriteback(fd, windowEnd - kWritebackWindow, kWritebackWindow);
}

}  // namespace

File File::open(const char* path, Access access) {
  File file;
  std::string native = nativePath(path);
  int flags = O_RDONLY;
  if (access == Access::ReadOwn) flags = O_RDONLY | O_NOFOLLOW;
  if (access == Access::CreateAlways) flags = O_WRONLY | O_CREAT | O_TRUNC;
  if (access == Access::CreateNew) flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW;
  if (access == Access::Append) flags = O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW;
  // Without O_NONBLOCK, opening a pipe waits for its other end for ever.
  int fd;
  do {
    fd = ::open(native.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return file;
  struct stat info {};
  // CreateFileW on a disk opens files only; a folder, a pipe or a device is
  // not a file to read or write.
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    ::close(fd);
    return file;
  }
  file.handle_ = fd;
  return file;
}

bool File::isOpen() const { return handle_ >= 0; }

bool File::size(std::uint64_t* bytes) const {
  struct stat info {};
  if (handle_ < 0 || ::fstat(static_cast<int>(handle_), &info) != 0) return false;
  *bytes = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool File::read(void* buffer, std::uint32_t size, std::uint32_t* got) {
  *got = 0;
  if (handle_ < 0) return false;
  ssize_t n;
  do {
    n = ::read(static_cast<int>(handle_), buffer, size);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return false;
  *got = static_cast<std::uint32_t>(n);
  return true;
}

bool File::write(const void* buffer, std::uint32_t size) {
  if (handle_ < 0) return false;
  const int fd = static_cast<int>(handle_);
  const char* bytes = static_cast<const char*>(buffer);
  std::uint32_t left = size;
  while (left > 0) {
    ssize_t n = ::write(fd, bytes, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    left -= static_cast<std::uint32_t>(n);
  }
  writeBackCompletedWindow(fd, size);
  return true;
}

bool File::flush() { return handle_ >= 0 && ::fsync(static_cast<int>(handle_)) == 0; }

bool File::close() {
  if (handle_ < 0) return true;
  int fd = static_cast<int>(handle_);
  handle_ = -1;
  return ::close(fd) == 0;
}

bool deleteFile(const char* path) {
  std::string native = nativePath(path);
  struct stat info {};
  if (::lstat(native.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) return false;
  return ::unlink(native.c_str()) == 0;
}

bool replaceFile(const char* from, const char* to) {
  std::string source = nativePath(from);
  std::string target = nativePath(to);
  // The new file takes the place of the old one with its permissions, as
  // Windows keeps a replaced file's attributes: an updated program stays
  // executable.
  struct stat replaced {};
  if (::stat(target.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
    ::chmod(source.c_str(), replaced.st_mode & 07777);
  }
  if (::rename(source.c_str(), target.c_str()) != 0) return false;
  // MOVEFILE_WRITE_THROUGH: the rename itself is on disk before we go on.
  std::string folder = target.substr(0, target.find_last_of('/') == std::string::npos ? 0 : target.find_last_of('/'));
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
  return true;
}

int accessCheck(const char* path) {
  std::string native = nativePath(path);
  return ::access(native.c_str(), F_OK) == 0 ? 0 : errno;
}

int fileSizeCheck(const char* path, std::uint64_t* bytes) {
  std::string native = nativePath(path);
  struct stat info {};
  if (::stat(native.c_str(), &info) != 0) return errno;
  *bytes = S_ISDIR(info.st_mode) ? 0 : static_cast<std::uint64_t>(info.st_size);
  return 0;
}

bool createDirectory(const char* path) {
  std::string native = nativePath(path);
  return ::mkdir(native.c_str(), 0755) == 0;
}

bool removeDirectory(const char* path) {
  std::string native = nativePath(path);
  return ::rmdir(native.c_str()) == 0;
}

bool setCurrentDirectory(const char* path) {
  std::string native = nativePath(path);
  return ::chdir(native.c_str()) == 0;
}

void sleepMilliseconds(std::uint32_t milliseconds) {
  timespec remaining{static_cast<time_t>(milliseconds / 1000), static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
}

}  // namespace platform
