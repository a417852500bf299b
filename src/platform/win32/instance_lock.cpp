// The installation's lock on Windows: a mutex in the session's namespace
// whose name is a hash of the installation folder as Windows compares paths
// (its full path as the system resolves it, letter case folded, no trailing
// separator), so that every spelling of one folder names one lock, as the
// file calls take them all for that folder. An abandoned mutex, one whose
// owner ended without releasing it, is taken as free.
#include "platform/instance_lock.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/win32/wide_text.h"

namespace platform {

namespace {

// The full path of `path` as the system resolves it ("/" as "\", "." and
// ".." resolved, against the current folder when relative); the path as it
// is when the system cannot.
std::wstring fullPath(const std::wstring& path) {
  std::wstring full(MAX_PATH, L'\0');
  // Bounded: the current folder can change between the calls, never grow
  // forever.
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = ::GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (length == 0) return path;
    if (length < full.size()) {
      full.resize(length);
      return full;
    }
    full.resize(length);
  }
  return path;
}

std::wstring mutexName(const char* installPath) {
  std::wstring path = wideText(installPath != nullptr ? installPath : "");
  if (!path.empty()) path = fullPath(path);
  for (wchar_t& c : path) {
    if (c == L'/') c = L'\\';
  }
  while (path.size() > 1 && path.back() == L'\\') path.pop_back();
  if (!path.empty()) ::CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
  std::uint64_t hash = 0xcbf29ce484222325ull;
  for (wchar_t c : path) {
    hash ^= static_cast<std::uint16_t>(c);
    hash *= 0x100000001b3ull;
  }
  wchar_t name[64];
  std::swprintf(name, 64, L"Local\\Glimmerhold.Launcher.%016llx", static_cast<unsigned long long>(hash));
  return name;
}

}  // namespace

InstanceLock InstanceLock::acquire(const char* installPath, std::uint32_t waitMilliseconds) {
  InstanceLock lock;
  HANDLE mutex = ::CreateMutexW(nullptr, FALSE, mutexName(installPath).c_str());
  if (mutex == nullptr) return lock;
  const DWORD waited = ::WaitForSingleObject(mutex, waitMilliseconds);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    lock.heldElsewhere_ = waited == WAIT_TIMEOUT;
    ::CloseHandle(mutex);
    return lock;
  }
  lock.handle_ = reinterpret_cast<std::intptr_t>(mutex);
  return lock;
}

void InstanceLock::release() {
  if (handle_ == -1) return;
  HANDLE mutex = reinterpret_cast<HANDLE>(handle_);
  handle_ = -1;
  ::ReleaseMutex(mutex);
  ::CloseHandle(mutex);
}

}  // namespace platform
