// The two settings the game's installer leaves in the current user's
// registry: the installation folder and the player's language.
#pragma once

#include <string>

#include "platform/registry.h"

namespace settings {

// HKEY_CURRENT_USER\Software\Quarvo\Glimmerhold, and its two values.
constexpr const char* kSettingsKey = "Software\\Quarvo\\Glimmerhold";
constexpr const char* kInstallPathValue = "InstallPath";
constexpr const char* kLanguageValue = "Lenguaje_h144357406";
constexpr const char* kDefaultLanguage = "en-US";

// The player's language tag; empty until loadLanguage runs.
extern std::string currentLanguage;

// Reads a REG_SZ (backslashes become "/") or REG_EXPAND_SZ (expanded) value
// as text. On false `text` is left as it was.
[[nodiscard]] bool readRegistryText(const platform::RegistryKey& key, const char* name, std::string& text);

// True when the key opens and "InstallPath" reads as a non-empty text, which
// is then in `path`. An empty value empties `path` and gives false.
[[nodiscard]] bool readInstallPath(std::string& path);

// Sets currentLanguage from the registry, or to "en-US".
void loadLanguage();

}  // namespace settings
