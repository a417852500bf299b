// Files and folders through the kernel's wide file calls: paths arrive in
// UTF-8 and go to Windows in UTF-16, whatever the system's code page, in the
// extended-length form ("\\?\C:\..."), so a game file deeper than MAX_PATH
// installs on a Windows whose long-path policy is off. "\" and "/" are
// both folder separators. The current folder is the exception: Windows
// takes no extended form there, and a process started in one longer than
// MAX_PATH fails, so it gets the path as it is.
#include "platform/files.h"

#include <windows.h>

#include <cerrno>

#include "platform/win32/wide_text.h"

namespace platform {

namespace {

HANDLE native(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::wstring currentFolder() {
  std::wstring folder(MAX_PATH, L'\0');
  // Bounded: the folder can change between the calls, never grow forever.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = ::GetCurrentDirectoryW(static_cast<DWORD>(folder.size()), folder.data());
    if (length == 0) return {};
    if (length < folder.size()) {
      folder.resize(length);
      return folder;
    }
    folder.resize(length);
  }
  return {};
}

// The path a wide file call gets: empty when the UTF-8 is not well formed.
std::wstring systemPath(const char* path) {
  const std::wstring wide = wideText(path);
  if (wide.empty()) return wide;
  return extendedPath(wide, currentFolder());
}

}  // namespace

File File::open(const char* path, Access access) {
  File file;
  if (path == nullptr) return file;
  const std::wstring wide = systemPath(path);
  if (wide.empty()) return file;
  HANDLE handle = INVALID_HANDLE_VALUE;
  if (access == Access::ReadExisting || access == Access::ReadOwn) {
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (access == Access::ReadOwn ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, flags, nullptr);
  } else if (access == Access::Append) {
    handle = ::CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  } else {
    // FILE_FLAG_OPEN_REPARSE_POINT: a new file is made in place of nothing,
    // never at the end of a link.
    const DWORD disposition = access == Access::CreateNew ? CREATE_NEW : CREATE_ALWAYS;
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (access == Access::CreateNew ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    handle = ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, disposition, flags, nullptr);
  }
  // A pipe, a console or another device is not a file to read or write.
  if (handle != INVALID_HANDLE_VALUE && ::GetFileType(handle) != FILE_TYPE_DISK) {
    ::CloseHandle(handle);
    handle = INVALID_HANDLE_VALUE;
  }
  // INVALID_HANDLE_VALUE is -1, the closed value of handle_.
  file.handle_ = reinterpret_cast<std::intptr_t>(handle);
  return file;
}

bool File::size(std::uint64_t* bytes) const {
  LARGE_INTEGER size{};
  if (!isOpen() || !::GetFileSizeEx(native(handle_), &size)) return false;
  *bytes = static_cast<std::uint64_t>(size.QuadPart);
  return true;
}

bool File::isOpen() const { return native(handle_) != INVALID_HANDLE_VALUE; }

bool File::read(void* buffer, std::uint32_t size, std::uint32_t* got) {
  *got = 0;
  if (!isOpen()) return false;
  DWORD n = 0;
  if (!::ReadFile(native(handle_), buffer, size, &n, nullptr)) return false;
  *got = n;
  return true;
}

bool File::write(const void* buffer, std::uint32_t size) {
  if (!isOpen()) return false;
  const char* bytes = static_cast<const char*>(buffer);
  std::uint32_t left = size;
  while (left > 0) {
    DWORD n = 0;
    if (!::WriteFile(native(handle_), bytes, left, &n, nullptr) || n == 0) return false;
    bytes += n;
    left -= n;
  }
  return true;
}

bool File::flush() { return isOpen() && ::FlushFileBuffers(native(handle_)) != 0; }

bool File::close() {
  if (!isOpen()) return true;
  HANDLE handle = native(handle_);
  handle_ = -1;
  return ::CloseHandle(handle) != 0;
}

bool deleteFile(const char* path) {
  if (path == nullptr) return false;
  const std::wstring wide = systemPath(path);
  return !wide.empty() && ::DeleteFileW(wide.c_str()) != 0;
}

bool replaceFile(const char* from, const char* to) {
  if (from == nullptr || to == nullptr) return false;
  const std::wstring source = systemPath(from);
  const std::wstring target = systemPath(to);
  if (source.empty() || target.empty()) return false;
  return ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

int accessCheck(const char* path) {
  if (path == nullptr) return EINVAL;
  const std::wstring wide = systemPath(path);
  if (wide.empty()) return EINVAL;
  if (::GetFileAttributesW(wide.c_str()) != INVALID_FILE_ATTRIBUTES) return 0;
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
}

int fileSizeCheck(const char* path, std::uint64_t* bytes) {
  if (path == nullptr) return EINVAL;
  const std::wstring wide = wideText(path);
  if (wide.empty()) return EINVAL;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (::GetFileAttributesExW(wide.c_str(), GetFileExInfoStandard, &data) == 0) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
  }
  *bytes = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
               ? 0
               : (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return 0;
}

bool createDirectory(const char* path) {
  if (path == nullptr) return false;
  const std::wstring wide = systemPath(path);
  return !wide.empty() && ::CreateDirectoryW(wide.c_str(), nullptr) != 0;
}

bool removeDirectory(const char* path) {
  if (path == nullptr) return false;
  const std::wstring wide = wideText(path);
  return !wide.empty() && ::RemoveDirectoryW(wide.c_str()) != 0;
}

bool setCurrentDirectory(const char* path) {
  if (path == nullptr) return false;
  const std::wstring wide = wideText(path);
  return !wide.empty() && ::SetCurrentDirectoryW(wide.c_str()) != 0;
}

std::uint32_t moduleFileName(char* buffer, std::uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  std::wstring wide(32768, L'\0');
  DWORD length = ::GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
  if (length == 0 || length >= wide.size()) return 0;
  const std::string path = utf8Text(std::wstring_view(wide.data(), length));
  // As GetModuleFileName: a text that does not fit is cut, terminated, and
  // the buffer's size reported.
  if (path.size() >= size) {
    path.copy(buffer, size - 1);
    buffer[size - 1] = '\0';
    return size;
  }
  path.copy(buffer, path.size());
  buffer[path.size()] = '\0';
  return static_cast<std::uint32_t>(path.size());
}

void sleepMilliseconds(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

}  // namespace platform
