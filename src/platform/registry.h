// The current user's registry, read-only, shaped after RegOpenKeyExW /
// RegQueryValueExW / RegCloseKey and the environment expansion
// ExpandEnvironmentStringsW, with every text in UTF-8: key and value names,
// text values (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) and expansions. Sizes
// are those of the UTF-8 forms.
//
// On Windows this is the real registry. On POSIX the current user's registry
// is a text file in the ".reg" export format (see registry_file.cpp).
#pragma once

#include <cstdint>

namespace platform {

// Win32 error codes, as the registry calls return them.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorMoreData = 234;

constexpr std::uint32_t kKeyRead = 0x20019;

// Value types.
constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;
constexpr std::uint32_t kRegQword = 11;

// An open key below HKEY_CURRENT_USER; closed (RegCloseKey) when destroyed.
class RegistryKey {
 public:
  RegistryKey() = default;
  ~RegistryKey() { close(); }
  RegistryKey(RegistryKey&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  RegistryKey& operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
      close();
      handle_ = other.handle_;
      other.handle_ = nullptr;
    }
    return *this;
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // RegOpenKeyExW(HKEY_CURRENT_USER, subKey, 0, access, &key).
  // Returns kErrorSuccess and fills `key`, or an error code.
  static long openCurrentUser(const char* subKey, std::uint32_t access, RegistryKey& key);

  // RegQueryValueExW(key, name, nullptr, type, data, size). On entry *size is
  // the buffer's size in bytes; on return it is the value's size (for the
  // text types including the terminating 0). A buffer too small gives
  // kErrorMoreData with the needed size; a missing value kErrorFileNotFound.
  long queryValue(const char* name, std::uint32_t* type, unsigned char* data, std::uint32_t* size) const;

  bool isOpen() const { return handle_ != nullptr; }

 private:
  void close();
  void* handle_ = nullptr;
};

// ExpandEnvironmentStringsW: expands %NAME% references (an unknown name stays
// as written). Returns the size needed in characters, terminating 0 included,
// or 0 on failure. When that exceeds destSize, dest is left unspecified.
std::uint32_t expandEnvironmentStrings(const char* source, char* dest, std::uint32_t destSize);

}  // namespace platform
