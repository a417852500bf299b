// The current user's registry on POSIX: a registry export file (see
// reg_export.h), read-only, found at
//   $GLIMMERHOLD_REGISTRY_FILE, when set and not empty, else
//   $XDG_CONFIG_HOME/Quarvo/Glimmerhold.reg, with $HOME/.config standing in
//   for an unset or empty XDG_CONFIG_HOME.
// The game's installer (or the player) writes it, for example with
//   [HKEY_CURRENT_USER\Software\Quarvo\Glimmerhold]
//   "InstallPath"="/home/player/Games/Glimmerhold"
// A missing, unreadable or malformed file is a missing key.
//
// Opening a key reads the file afresh and keeps a snapshot of the key's
// values, so a key reads consistently for as long as it is open.
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/posix/reg_export.h"
#include "platform/registry.h"

namespace platform {

namespace {

constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorInvalidParameter = 87;

// A settings file this size is not a settings file; refusing it keeps a stray
// huge file from exhausting memory.
constexpr std::size_t kMaxFileSize = 64u << 20;

// What a key is read for is all this registry grants (KEY_WOW64_64KEY and
// KEY_WOW64_32KEY only choose a view and are allowed with it).
constexpr std::uint32_t kAllowedAccess = kKeyRead | 0x0100 | 0x0200;

struct OpenKey {
  std::vector<regfile::Value> values;
};

std::string nonEmptyEnv(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string registryFilePath() {
  std::string path = nonEmptyEnv("GLIMMERHOLD_REGISTRY_FILE");
  if (!path.empty()) return path;
  std::string config = nonEmptyEnv("XDG_CONFIG_HOME");
  if (config.empty()) {
    std::string home = nonEmptyEnv("HOME");
    if (home.empty()) return "";
    config = home + "/.config";
  }
  return config + "/Quarvo/Glimmerhold.reg";
}

}  // namespace

void RegistryKey::close() {
  // The opaque handle owns its OpenKey; adopting it here frees it.
  std::unique_ptr<OpenKey> owned(static_cast<OpenKey*>(handle_));
  handle_ = nullptr;
}

long RegistryKey::openCurrentUser(const char* subKey, std::uint32_t access, RegistryKey& key) {
  if ((access & ~kAllowedAccess) != 0) return kErrorAccessDenied;
  std::string keyPath = "HKEY_CURRENT_USER";
  if (subKey != nullptr && *subKey != '\0') keyPath += std::string("\\") + subKey;

  std::optional<std::string> bytes = readWholeFile(registryFilePath().c_str(), kMaxFileSize);
  if (!bytes) return kErrorFileNotFound;
  std::optional<std::vector<regfile::Value>> values = regfile::readKey(*bytes, keyPath);
  if (!values) return kErrorFileNotFound;

  auto opened = std::make_unique<OpenKey>();
  opened->values = std::move(*values);
  key.close();
  key.handle_ = opened.release();
  return kErrorSuccess;
}

long RegistryKey::queryValue(const char* name, std::uint32_t* type, unsigned char* data, std::uint32_t* size) const {
  if (handle_ == nullptr) return kErrorInvalidHandle;
  // As RegQueryValueExA: a buffer needs its size, a size alone asks for it.
  if (data != nullptr && size == nullptr) return kErrorInvalidParameter;
  const std::string wanted = name != nullptr ? name : "";
  const auto& values = static_cast<const OpenKey*>(handle_)->values;
  for (const regfile::Value& value : values) {
    if (!regfile::sameName(value.name, wanted)) continue;
    if (type != nullptr) *type = value.type;
    if (size == nullptr) return kErrorSuccess;
    const auto needed = static_cast<std::uint32_t>(value.data.size());
    if (data != nullptr) {
      if (*size < needed) {
        *size = needed;
        return kErrorMoreData;
      }
      if (needed > 0) std::memcpy(data, value.data.data(), needed);
    }
    *size = needed;
    return kErrorSuccess;
  }
  return kErrorFileNotFound;
}

// Windows rules: "%NAME%" with NAME in the environment becomes its value;
// any other "%NAME%" stays as written, both signs included, and the scan goes
// on after its closing sign; a "%" without a closing one stays. Names are
// looked up with their case, as the POSIX environment keeps it.
std::uint32_t expandEnvironmentStrings(const char* source, char* dest, std::uint32_t destSize) {
  if (source == nullptr) return 0;
  std::string out;
  const char* p = source;
  while (*p != '\0') {
    const char* close = *p == '%' ? std::strchr(p + 1, '%') : nullptr;
    if (close == nullptr) {
      out.push_back(*p++);
      continue;
    }
    std::string name(p + 1, close);
    const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
    if (value != nullptr) {
      out += value;
    } else {
      out.append(p, close + 1);
    }
    p = close + 1;
  }
  if (out.size() >= 0xFFFFFFFFu) return 0;
  const auto needed = static_cast<std::uint32_t>(out.size() + 1);
  if (dest != nullptr && needed <= destSize) std::memcpy(dest, out.c_str(), needed);
  return needed;
}

}  // namespace platform
