#include "settings/installation_settings.h"

#include <algorithm>
#include <cstdint>
#include <vector>

namespace settings {

std::string currentLanguage;

namespace {

// Big enough for any path the installer writes (MAX_PATH); longer values take
// a second query at their own size.
constexpr std::uint32_t kFirstQuerySize = 260;
constexpr std::uint32_t kFirstExpansionSize = 261;

// The text in the first `size` bytes of `data`: up to its first 0 byte, or
// all of them when there is none.
std::string textOf(const std::vector<unsigned char>& data, std::uint32_t size) {
  auto end = data.begin() + std::min<std::size_t>(size, data.size());
  return std::string(data.begin(), std::find(data.begin(), end, '\0'));
}

bool expandText(const std::string& stored, std::string& text) {
  std::vector<char> buffer(kFirstExpansionSize, '\0');
  auto capacity = static_cast<std::uint32_t>(buffer.size());
  std::uint32_t needed = platform::expandEnvironmentStrings(stored.c_str(), buffer.data(), capacity);
  if (needed > capacity) {
    buffer.assign(needed, '\0');
    capacity = needed;
    needed = platform::expandEnvironmentStrings(stored.c_str(), buffer.data(), capacity);
  }
  // The environment may have grown between the two calls; then the text did
  // not fit this time either.
  if (needed == 0 || needed > capacity) return false;
  auto end = std::find(buffer.begin(), buffer.begin() + needed, '\0');
  text.assign(buffer.begin(), end);
  return true;
}

// Opens the settings key and reads one of its values as text. The key closes
// when `key` goes out of scope, whatever the outcome.
bool readSetting(const char* name, std::string& text) {
  platform::RegistryKey key;
  if (platform::RegistryKey::openCurrentUser(kSettingsKey, platform::kKeyRead, key) != platform::kErrorSuccess) {
    return false;
  }
  return readRegistryText(key, name, text);
}

}  // namespace

bool readRegistryText(const platform::RegistryKey& key, const char* name, std::string& text) {
  std::vector<unsigned char> data(kFirstQuerySize, 0);
  std::uint32_t type = 0;
  auto size = static_cast<std::uint32_t>(data.size());
  long status = key.queryValue(name, &type, data.data(), &size);
  if (status == platform::kErrorMoreData) {
    data.resize(std::max<std::size_t>(size, data.size()), 0);
    size = static_cast<std::uint32_t>(data.size());
    status = key.queryValue(name, &type, data.data(), &size);
  }
  if (status != platform::kErrorSuccess) return false;

  if (type == platform::kRegSz) {
    std::string read = textOf(data, size);
    std::replace(read.begin(), read.end(), '\\', '/');
    text = std::move(read);
    return true;
  }
  if (type == platform::kRegExpandSz) {
    // The stored text is taken up to its 0 byte or the end of the data, so a
    // value stored without its terminator cannot lead the expansion past it.
    std::string expanded;
    if (!expandText(textOf(data, size), expanded)) return false;
    text = std::move(expanded);
    return true;
  }
  return false;
}

bool readInstallPath(std::string& path) {
  std::string read;
  if (!readSetting(kInstallPathValue, read)) return false;
  path = std::move(read);
  return !path.empty();
}

void loadLanguage() {
  std::string read;
  if (!readSetting(kLanguageValue, read) || read.empty()) read = kDefaultLanguage;
  currentLanguage = std::move(read);
}

}  // namespace settings
