// Files and folders, shaped after CreateFileW / GetFileSizeEx / ReadFile /
// WriteFile / FlushFileBuffers / CloseHandle, DeleteFileW, MoveFileExW,
// CreateDirectoryW, RemoveDirectoryW, SetCurrentDirectoryW, GetModuleFileNameW,
// GetFileAttributesW, GetFileAttributesExW and Sleep.
//
// Paths are UTF-8 texts: the Windows backend hands them to the wide calls as
// UTF-16, the POSIX one to the kernel as they are. On POSIX every "\" in a
// path is a folder separator, as on Windows, so "installPath\Launcher.exe"
// names a file inside the installation folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace platform {

// An open file, closed (CloseHandle) when destroyed.
class File {
 public:
  enum class Access {
    // GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL.
    ReadExisting,
    // ReadExisting with FILE_FLAG_OPEN_REPARSE_POINT: one of the launcher's
    // own files, read only as it stands in its place. A link there is not
    // followed: on POSIX it does not open, on Windows the link itself opens
    // (and holds no data).
    ReadOwn,
    // GENERIC_WRITE, no sharing, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL.
    CreateAlways,
    // GENERIC_WRITE, no sharing, CREATE_NEW: a new file or nothing. Fails
    // when anything has the name already -- a file, a folder, a link (never
    // followed) -- so what is written goes to no file another process has
    // open.
    CreateNew,
    // FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_ALWAYS: every write goes to
    // the end; the file is made when there is none, and a link in its place
    // is not followed.
    Append,
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

  // CreateFileW. The result is closed when the file cannot be opened, and
  // when the path names anything but a regular file (a folder, a pipe, a
  // device): opening one never waits.
  static File open(const char* path, Access access);

  bool isOpen() const;
  // GetFileSizeEx: false when the size cannot be read.
  bool size(std::uint64_t* bytes) const;
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

// The whole content of the file at `path`, read through File (ReadExisting)
// to its end; nullopt when it cannot be opened or read, or holds more than
// `maxBytes` bytes. One implementation over File serves every backend.
[[nodiscard]] std::optional<std::string> readWholeFile(const char* path, std::size_t maxBytes);

// Replaces the file at `path` so that no crash leaves half a file: what
// `writeContents` writes goes into the side file `path` + `sideSuffix`, made
// afresh (CreateNew: never written through a link, nor into a file another
// process holds), flushed to disk and then renamed over `path` (replaceFile).
// False, with the old file as it was and no side file left, when any step
// fails or `writeContents` returns false. One implementation over File
// serves every backend.
[[nodiscard]] bool replaceFileAtomically(const char* path, const char* sideSuffix,
                                         const std::function<bool(File&)>& writeContents);

// DeleteFileW.
bool deleteFile(const char* path);

// MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH):
// replaces `to` with `from` in one step, so a reader sees either the old file
// or the new one.
bool replaceFile(const char* from, const char* to);

// _waccess_s(path, 0): 0 when the path exists, otherwise the C library's
// error number (ENOENT, 2, when there is no such file).
int accessCheck(const char* path);

// GetFileAttributesExW: 0 when the path exists, with the size of what it
// names in *bytes (0 for a folder), otherwise the error number accessCheck
// gives (ENOENT, 2, when there is no such file).
int fileSizeCheck(const char* path, std::uint64_t* bytes);

// CreateDirectoryW with default security.
bool createDirectory(const char* path);

// RemoveDirectoryW: removes an empty folder; false for anything else (a
// file, a link, a folder with something in it). A link is never followed.
bool removeDirectory(const char* path);

// SetCurrentDirectoryW.
bool setCurrentDirectory(const char* path);

// GetModuleFileNameW(nullptr, ...) in UTF-8: the length copied, or the
// truncated length (== size) when the buffer is too small, or 0 on failure.
std::uint32_t moduleFileName(char* buffer, std::uint32_t size);

// Sleep.
void sleepMilliseconds(std::uint32_t milliseconds);

}  // namespace platform
