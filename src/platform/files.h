// Files and folders, shaped after CreateFileA / ReadFile / WriteFile /
// FlushFileBuffers / CloseHandle, DeleteFileA, MoveFileExA, CreateDirectoryA,
// SetCurrentDirectoryA, GetModuleFileNameA, _access and Sleep.
//
// Paths are narrow texts in the system code page. On POSIX every "\" in a
// path is a folder separator, as on Windows, so "installPath\Launcher.exe"
// names a file inside the installation folder.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// An open file, closed (CloseHandle) when destroyed.
class File {
 public:
  enum class Access {
    // GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL.
    ReadExisting,
    // GENERIC_WRITE, no sharing, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL.
    CreateAlways,
  };

  File() = default;
  ~File() { close(); }
  File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = -1; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      other.handle_ = -1;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // CreateFileA. The result is closed when the file cannot be opened.
  static File open(const char* path, Access access);

  bool isOpen() const;
  // ReadFile: false on failure; *got is 0 at the end of the file.
  bool read(void* buffer, std::uint32_t size, std::uint32_t* got);
  // WriteFile: false unless every byte was written.
  bool write(const void* buffer, std::uint32_t size);
  // FlushFileBuffers: the data reaches the disk before this returns.
  bool flush();
  // CloseHandle. Safe to call twice.
  bool close();

 private:
  std::intptr_t handle_ = -1;
};

// DeleteFileA.
bool deleteFile(const char* path);

// MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH):
// replaces `to` with `from` in one step, so a reader sees either the old file
// or the new one.
bool replaceFile(const char* from, const char* to);

// _access_s(path, 0): 0 when the path exists, otherwise the C library's
// error number (ENOENT, 2, when there is no such file).
int accessCheck(const char* path);

// CreateDirectoryA with default security.
bool createDirectory(const char* path);

// SetCurrentDirectoryA.
bool setCurrentDirectory(const char* path);

// GetModuleFileNameA(nullptr, buffer, size): the length copied, or the
// truncated length (== size) when the buffer is too small, or 0 on failure.
std::uint32_t moduleFileName(char* buffer, std::uint32_t size);

// Sleep.
void sleepMilliseconds(std::uint32_t milliseconds);

}  // namespace platform
