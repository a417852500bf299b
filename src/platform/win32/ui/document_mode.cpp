#include "platform/win32/ui/document_mode.h"

#include <windows.h>

#include <string>

namespace platform::win32 {

namespace {

class Key {
 public:
  Key() = default;
  ~Key() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  HKEY* put() { return &key_; }
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

std::wstring executableName() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return {};
    if (length < path.size()) {
      path.resize(length);
      break;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
  return path.substr(path.find_last_of(L"\\/") + 1);
}

}  // namespace

bool useCurrentDocumentMode() {
  const std::wstring name = executableName();
  if (name.empty()) return false;
  Key key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kBrowserEmulationKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  DWORD mode = 0;
  DWORD size = sizeof(mode);
  DWORD type = 0;
  if (RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&mode), &size) ==
          ERROR_SUCCESS &&
      type == REG_DWORD && mode == kEdgeDocumentMode) {
    return true;
  }
  mode = kEdgeDocumentMode;
  return RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&mode), sizeof(mode)) ==
         ERROR_SUCCESS;
}

}  // namespace platform::win32
