#include "support/win32_registry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace testsupport {

namespace {

constexpr const char* kVendorKey = "Software\\Quarvo";
constexpr const char* kCurrentUser = "HKEY_CURRENT_USER\\";

bool scratchRegistry() {
  const char* mark = std::getenv("GLIMMERHOLD_SCRATCH_REGISTRY");
  if (mark != nullptr && std::strcmp(mark, "1") == 0) return true;
  ADD_FAILURE() << "the registry tests change HKEY_CURRENT_USER\\" << kVendorKey
                << "; run them in a scratch Wine prefix (scripts/test-windows.sh)";
  return false;
}

void storeEntry(const RegFileWriter::Entry& entry) {
  if (entry.keyPath.rfind(kCurrentUser, 0) != 0) {
    ADD_FAILURE() << "only keys below HKEY_CURRENT_USER are written: " << entry.keyPath;
    return;
  }
  std::string subKey = entry.keyPath.substr(std::strlen(kCurrentUser));
  HKEY key = nullptr;
  LONG created =
      ::RegCreateKeyExA(HKEY_CURRENT_USER, subKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  ASSERT_EQ(created, ERROR_SUCCESS) << subKey;
  const auto* data = reinterpret_cast<const BYTE*>(entry.data.data());
  auto size = static_cast<DWORD>(entry.data.size());
  LONG stored;
  if (entry.wide) {
    // UTF-16 data as a Unicode export file holds it: stored as it stands.
    std::wstring name(entry.name.begin(), entry.name.end());
    stored = ::RegSetValueExW(key, name.c_str(), 0, entry.type, data, size);
  } else {
    stored = ::RegSetValueExA(key, entry.name.c_str(), 0, entry.type, data, size);
  }
  ::RegCloseKey(key);
  EXPECT_EQ(stored, ERROR_SUCCESS) << entry.name;
}

}  // namespace

void clearSettingsRegistry() {
  if (!scratchRegistry()) return;
  LONG result = ::RegDeleteTreeA(HKEY_CURRENT_USER, kVendorKey);
  if (result == ERROR_SUCCESS) result = ::RegDeleteKeyA(HKEY_CURRENT_USER, kVendorKey);
  EXPECT_TRUE(result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) << "registry error " << result;
}

void replaceSettingsInRegistry(const std::vector<RegFileWriter::Entry>& entries) {
  if (!scratchRegistry()) return;
  clearSettingsRegistry();
  for (const RegFileWriter::Entry& entry : entries) storeEntry(entry);
}

RegistryFileEnv::RegistryFileEnv(const std::filesystem::path&) { clearSettingsRegistry(); }

RegistryFileEnv::~RegistryFileEnv() { clearSettingsRegistry(); }

}  // namespace testsupport
