// The current user's registry through the narrow-character registry calls.
#include "platform/registry.h"

#include <windows.h>

namespace platform {

namespace {

HKEY native(void* handle) { return static_cast<HKEY>(handle); }

}  // namespace

void RegistryKey::close() {
  if (handle_ != nullptr) ::RegCloseKey(native(handle_));
  handle_ = nullptr;
}

long RegistryKey::openCurrentUser(const char* subKey, std::uint32_t access, RegistryKey& key) {
  HKEY opened = nullptr;
  LONG result = ::RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, static_cast<REGSAM>(access), &opened);
  if (result != ERROR_SUCCESS) return result;
  key.close();
  key.handle_ = opened;
  return kErrorSuccess;
}

long RegistryKey::queryValue(const char* name, std::uint32_t* type, unsigned char* data,
                             std::uint32_t* size) const {
  if (handle_ == nullptr) return ERROR_INVALID_HANDLE;
  DWORD nativeType = 0;
  DWORD nativeSize = size != nullptr ? *size : 0;
  LONG result = ::RegQueryValueExA(native(handle_), name, nullptr, &nativeType, data,
                                   size != nullptr ? &nativeSize : nullptr);
  if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
    if (type != nullptr) *type = nativeType;
    if (size != nullptr) *size = nativeSize;
  }
  return result;
}

std::uint32_t expandEnvironmentStrings(const char* source, char* dest, std::uint32_t destSize) {
  if (source == nullptr) return 0;
  // A zero-sized destination only asks for the size; Windows wants no buffer then.
  return ::ExpandEnvironmentStringsA(source, destSize != 0 ? dest : nullptr, destSize);
}

}  // namespace platform
