// The current user's registry through the wide registry calls: names go to
// Windows in UTF-16, and text values come back in UTF-8, whatever the
// system's code page.
#include "platform/registry.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/win32/wide_text.h"

namespace platform {

namespace {

HKEY native(void* handle) { return static_cast<HKEY>(handle); }

bool isText(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

// Copies `bytes` to the caller's buffer as RegQueryValueEx would: the size
// needed always, the data only when it fits.
long deliver(const void* bytes, std::uint32_t length, unsigned char* data, std::uint32_t* size) {
  if (size == nullptr) return ERROR_SUCCESS;
  const std::uint32_t room = *size;
  *size = length;
  if (data == nullptr) return ERROR_SUCCESS;
  if (length > room) return ERROR_MORE_DATA;
  std::memcpy(data, bytes, length);
  return ERROR_SUCCESS;
}

}  // namespace

void RegistryKey::close() {
  if (handle_ != nullptr) ::RegCloseKey(native(handle_));
  handle_ = nullptr;
}

long RegistryKey::openCurrentUser(const char* subKey, std::uint32_t access, RegistryKey& key) {
  HKEY opened = nullptr;
  const std::wstring wide = subKey != nullptr ? wideText(subKey) : std::wstring();
  LONG result = ::RegOpenKeyExW(HKEY_CURRENT_USER, wide.c_str(), 0, static_cast<REGSAM>(access), &opened);
  if (result != ERROR_SUCCESS) return result;
  key.close();
  key.handle_ = opened;
  return kErrorSuccess;
}

long RegistryKey::queryValue(const char* name, std::uint32_t* type, unsigned char* data, std::uint32_t* size) const {
  if (handle_ == nullptr) return ERROR_INVALID_HANDLE;
  const std::wstring wideName = name != nullptr ? wideText(name) : std::wstring();
  // The value is read whole at its own size, then handed over in the
  // caller's form: UTF-8 for the text types, as it is for the others.
  DWORD nativeType = 0;
  DWORD nativeSize = 0;
  LONG result = ::RegQueryValueExW(native(handle_), wideName.c_str(), nullptr, &nativeType, nullptr, &nativeSize);
  std::vector<unsigned char> raw;
  for (int attempt = 0; result == ERROR_SUCCESS && attempt < 4; ++attempt) {
    raw.assign(nativeSize + sizeof(wchar_t), 0);
    DWORD got = nativeSize;
    result = ::RegQueryValueExW(native(handle_), wideName.c_str(), nullptr, &nativeType, raw.data(), &got);
    if (result == ERROR_MORE_DATA) {
      nativeSize = got;
      result = ERROR_SUCCESS;
      continue;
    }
    nativeSize = got;
    break;
  }
  if (result != ERROR_SUCCESS) return result;
  if (type != nullptr) *type = nativeType;
  if (!isText(nativeType)) return deliver(raw.data(), nativeSize, data, size);

  std::wstring_view text(reinterpret_cast<const wchar_t*>(raw.data()), nativeSize / sizeof(wchar_t));
  // Stored with its terminator or without; handed over with one.
  if (!text.empty() && text.back() == L'\0') text.remove_suffix(1);
  std::string utf8 = utf8Text(text);
  utf8 += '\0';
  return deliver(utf8.data(), static_cast<std::uint32_t>(utf8.size()), data, size);
}

std::uint32_t expandEnvironmentStrings(const char* source, char* dest, std::uint32_t destSize) {
  if (source == nullptr) return 0;
  const std::wstring wide = wideText(source);
  if (wide.empty() && *source != '\0') return 0;
  DWORD needed = ::ExpandEnvironmentStringsW(wide.c_str(), nullptr, 0);
  if (needed == 0) return 0;
  std::wstring expanded(needed, L'\0');
  needed = ::ExpandEnvironmentStringsW(wide.c_str(), expanded.data(), needed);
  if (needed == 0 || needed > expanded.size()) return 0;
  std::string utf8 = utf8Text(std::wstring_view(expanded.data(), needed - 1));
  utf8 += '\0';
  const auto length = static_cast<std::uint32_t>(utf8.size());
  if (dest != nullptr && length <= destSize) std::memcpy(dest, utf8.data(), length);
  return length;
}

}  // namespace platform
